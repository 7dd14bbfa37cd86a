// A whole task done without a mouse: with keys only, and through the accessibility interfaces
// a screen reader uses.
#include "support/loaded_control.h"
#include "support/selection_in_step.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleTableInterface>
#include <QMenu>

using namespace test_support;

namespace {

const std::vector<Vendor> kFive = {
    {"1", "One"}, {"2", "Two"}, {"3", "Three"}, {"4", "Four"}, {"5", "Five"}};
const std::vector<Vendor> kThree = {{"11", "Eleven"}, {"12", "Twelve"}, {"13", "Thirteen"}};

struct KeyboardUser : LoadedControl {
    QWidget* press(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QWidget* target = QApplication::focusWidget();
        if (!target) {
            ADD_FAILURE() << "no widget has the focus";
            return nullptr;
        }
        QTest::keyClick(target, key, modifiers);
        return QApplication::focusWidget();
    }
    // Tabs on until the named child has the focus; false after a round without it.
    bool tabTo(const char* name) {
        for (int i = 0; i < 20; ++i)
            if (press(Qt::Key_Tab)->objectName() == QLatin1String(name)) return true;
        return false;
    }
};

QAccessibleTableInterface* tableOf(QWidget* list) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(list);
    return face ? face->tableInterface() : nullptr;
}

// Presses a button through its accessible action, as a screen reader does; false when the
// button offers no press.
bool pressAccessibly(QWidget* button) {
    QAccessibleActionInterface* actions =
        QAccessible::queryAccessibleInterface(button)->actionInterface();
    const QString press = QAccessibleActionInterface::pressAction();
    if (!actions || !actions->actionNames().contains(press)) return false;
    actions->doAction(press);
    return true;
}

}  // namespace

TEST(WithoutMouse, KeyboardUserMovesFindsAndCommits) {
    KeyboardUser f;
    f.server.setReplyFor("POST", {200, ""});
    f.load(kFive, kThree);
    ASSERT_EQ(f.ui.rows("lstVendors").size(), 5);
    // A host hears of pending moves before the key's handling returns, with no later turn.
    QList<bool> pending;
    QObject::connect(&f.control, &Tavrolin::pendingChangesChanged,
                     [&pending](bool on) { pending << on; });

    f.ui.list("lstVendors")->setFocus(Qt::TabFocusReason);
    f.press(Qt::Key_Down);  // from the first row, current since the load, to "2"
    EXPECT_EQ(f.ui.highlights(), "2 |  | " + onlyOn("cmdAdd"));
    f.press(Qt::Key_Return);
    EXPECT_EQ(pending, QList<bool>{true});
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"1", "3", "4", "5"}));
    EXPECT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"2", "11", "12", "13"}));
    EXPECT_EQ(f.focused(), f.ui.list("lstSelectedVendors"));

    f.press(Qt::Key_Backtab);  // "<", the one enabled move button
    EXPECT_EQ(f.press(Qt::Key_Backtab), f.ui.list("lstVendors"));
    f.press(Qt::Key_Home);
    f.press(Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(f.ui.highlighted("lstVendors"), (QList<int>{1, 2}));
    expectInStep(f.ui.list("lstVendors"));
    ASSERT_EQ(f.press(Qt::Key_Tab), f.ui.button("cmdAddAll"));  // ">" is off: Tab skips it
    f.press(Qt::Key_Space);
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"4", "5"}));
    EXPECT_EQ(f.ui.rows("lstSelectedVendors", 2),
              (QStringList{"000001N", "000002N", "000003N", "000011", "000012", "000013"}));

    ASSERT_EQ(f.focused(), f.ui.list("lstSelectedVendors"));
    f.press(Qt::Key_Home);
    EXPECT_EQ(f.ui.highlighted("lstSelectedVendors"), (QList<int>{1}));
    f.press(Qt::Key_Delete);
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"1", "4", "5"}));
    EXPECT_TRUE(f.control.hasPendingChanges());
    expectInStep(f.ui.list("lstVendors"));
    expectInStep(f.ui.list("lstSelectedVendors"));

    ASSERT_TRUE(f.tabTo("txtVendorID"));
    QTest::keyClicks(f.focused(), "5");
    f.press(Qt::Key_Enter);
    EXPECT_EQ(f.ui.highlighted("lstVendors"), (QList<int>{3}));
    EXPECT_EQ(f.focused(), f.ui.list("lstVendors"));

    ASSERT_TRUE(f.tabTo("cmdCommit"));
    f.press(Qt::Key_Space);
    ASSERT_GE(f.server.requests().size(), 3u);
    const auto post = f.server.requests()[f.server.requests().size() - 2];
    EXPECT_EQ(post.method, "POST");
    // Links for "2" and "3", the two rows that stayed moved.
    EXPECT_EQ(QString::fromStdString(post.body).count("SQL="), 2);
    EXPECT_FALSE(f.ui.button("cmdCommit")->isEnabled());  // reloaded
    EXPECT_EQ(pending, (QList<bool>{true, false}));
}

TEST(WithoutMouse, MenuKeysOpenTheRemoveMenuOnTheSelectedList) {
    KeyboardUser f;
    f.load(kFive, kThree);
    auto* menu = f.control.findChild<QMenu*>("mnuRemove");
    ASSERT_TRUE(menu);
    f.ui.list("lstVendors")->setFocus(Qt::TabFocusReason);
    f.press(Qt::Key_Menu);
    EXPECT_FALSE(menu->isVisible());
    for (auto [key, modifiers] :
         {std::pair{Qt::Key_Menu, Qt::KeyboardModifiers()},
          std::pair{Qt::Key_F10, Qt::KeyboardModifiers(Qt::ShiftModifier)}}) {
        f.ui.list("lstSelectedVendors")->setFocus(Qt::TabFocusReason);
        f.press(key, modifiers);
        ASSERT_TRUE(QTest::qWaitFor([menu] { return menu->isVisible(); }));
        QTest::keyClick(menu, Qt::Key_Escape);
        ASSERT_TRUE(QTest::qWaitFor([menu] { return !menu->isVisible(); }));
    }
}

TEST(WithoutMouse, ScreenReaderUserMovesThroughAccessibleInterfaces) {
    LoadedControl f;
    f.load(kFive, kThree);
    QAccessibleTableInterface* vendors = tableOf(f.ui.list("lstVendors"));
    ASSERT_TRUE(vendors);
    EXPECT_EQ(vendors->columnCount(), 2);
    EXPECT_FALSE(pressAccessibly(f.ui.button("cmdAdd")));  // disabled: nothing to press

    ASSERT_TRUE(vendors->selectRow(3));
    expectInStep(f.ui.list("lstVendors"));
    EXPECT_EQ(f.ui.list("lstVendors")->selectedItem().text(), "4");
    QList<bool> pending, pendingAtClick;
    QObject::connect(&f.control, &Tavrolin::pendingChangesChanged,
                     [&pending](bool on) { pending << on; });
    // Connected after the control's own handling of the press: by then a host has been told.
    QObject::connect(f.ui.button("cmdAdd"), &QPushButton::clicked,
                     [&] { pendingAtClick = pending; });
    ASSERT_TRUE(pressAccessibly(f.ui.button("cmdAdd")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.ui.rows("lstSelectedVendors").size() == 4; }));
    EXPECT_EQ(pendingAtClick, QList<bool>{true});
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"1", "2", "3", "5"}));

    ASSERT_TRUE(vendors->selectRow(0));
    ASSERT_TRUE(vendors->selectRow(1));  // the list is in several-row mode since the first
    EXPECT_EQ(f.ui.highlighted("lstVendors"), (QList<int>{1, 2}));
    ASSERT_TRUE(pressAccessibly(f.ui.button("cmdAddAll")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.ui.rows("lstVendors").size() == 2; }));
    EXPECT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"1", "2", "4", "11", "12", "13"}));
    expectInStep(f.ui.list("lstSelectedVendors"));
}

TEST(WithoutMouse, TabEntersTheControlAtTheLeftListAndFollowsReadingOrder) {
    QWidget host;
    auto* before = new QLineEdit(&host);
    auto* control = new Tavrolin(&host);
    control->move(0, 30);
    host.show();
    host.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
    before->setFocus();
    QTest::keyClick(before, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "lstVendors");
    QStringList order;
    QWidget* w = QApplication::focusWidget();
    for (int i = 0; i < 100 && order.size() < 14; ++i, w = w->nextInFocusChain())
        if (w->focusPolicy() & Qt::TabFocus && control->isAncestorOf(w)) order << w->objectName();
    EXPECT_EQ(order,
              (QStringList{"lstVendors", "cmdAdd", "cmdAddAll", "cmdRemoveAll", "cmdDelete",
                           "lstSelectedVendors", "optFind_1", "txtVendorID", "optFind_0",
                           "txtVendorName", "optList_0", "optList_1", "cmdFind", "cmdCommit"}));
}
