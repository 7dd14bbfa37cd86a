#include "control/list_view/list_view.h"
#include "control/list_view/progress_bar.h"
#include "lists/markers.h"
#include "support/loaded_control.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <tavrolin/tavrolin.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMetaMethod>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>

using tavrolin::ListView;

namespace {

struct Expected {
    const char* name;
    const char* kind;
    const char* caption;
    const char* container;
    int left, top, width, height;  // twips
    int tab;
    bool enabled;
};

// The screen as a host sees it: every child by name, kind, caption, frame, place and state.
const Expected kScreen[] = {
    {"fraMain", "QGroupBox", "", "Tavrolin", 0, -90, 8745, 5310, 0, true},
    {"lblAllVendors", "QLabel", "Non Selected Active Vendors:", "fraMain", 150, 150, 3105, 255, 20,
     true},
    {"lblSelVendors", "QLabel", "Selected Vendors:", "fraMain", 4710, 150, 2175, 255, 19, true},
    {"lstVendors", "tavrolin::ListView", nullptr, "fraMain", 105, 360, 3975, 2775, 17, true},
    {"cmdAdd", "QPushButton", ">", "fraMain", 4065, 960, 615, 375, 12, false},
    {"cmdAddAll", "QPushButton", ">>", "fraMain", 4065, 1335, 615, 375, 13, false},
    {"cmdRemoveAll", "QPushButton", "<<", "fraMain", 4065, 1710, 615, 375, 14, false},
    {"cmdDelete", "QPushButton", "<", "fraMain", 4065, 2085, 615, 375, 11, false},
    {"lstSelectedVendors", "tavrolin::ListView", nullptr, "fraMain", 4665, 360, 3975, 2775, 18,
     true},
    {"fraFind", "QGroupBox", " Find Center", "fraMain", 120, 3120, 4575, 2055, 1, true},
    {"optFind_1", "QRadioButton", "ID", "fraFind", 135, 240, 735, 255, 5, false},
    {"txtVendorID", "QLineEdit", "", "fraFind", 915, 255, 1095, 285, 4, false},
    {"optFind_0", "QRadioButton", "Name", "fraFind", 135, 600, 765, 255, 3, false},
    {"txtVendorName", "QLineEdit", "", "fraFind", 915, 615, 3330, 285, 2, true},
    {"Frame1", "QGroupBox", " List to search  ", "fraFind", 135, 915, 2490, 825, 7, true},
    {"optList_0", "QRadioButton", "Non Selected Vendors", "Frame1", 120, 225, 2040, 255, 8, false},
    {"optList_1", "QRadioButton", "Selected Vendors", "Frame1", 120, 555, 1575, 195, 9, false},
    {"cmdFind", "QPushButton", "Find", "fraFind", 2865, 1200, 975, 375, 6, false},
    {"lblVersionNumber", "QLabel", "Version Number: 3.0.2", "fraFind", 150, 1770, 2175, 255, 10,
     true},
    {"cmdCommit", "QPushButton", "Commit to Database", "fraMain", 6945, 3675, 1680, 375, 15, false},
    {"prbLoad", "tavrolin::ProgressBar", nullptr, "fraMain", 4785, 4395, 3870, 255, 16, true},
};

QString captionOf(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    return {};
}

}  // namespace

TEST(Screen, EveryChildAsDesigned) {
    Tavrolin control;
    EXPECT_EQ(control.size(), QSize(583, 329));
    for (const Expected& e : kScreen) {
        SCOPED_TRACE(e.name);
        auto* w = control.findChild<QWidget*>(e.name);
        ASSERT_NE(w, nullptr);
        EXPECT_STREQ(w->metaObject()->className(), e.kind);
        if (e.caption) {
            EXPECT_EQ(captionOf(w), QString::fromUtf8(e.caption));
        }
        ASSERT_NE(w->parentWidget(), nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), e.container);
        EXPECT_EQ(w->geometry(), QRect(e.left / 15, e.top / 15, e.width / 15, e.height / 15));
        EXPECT_EQ(w->property("TabIndex").toInt(), e.tab);
        EXPECT_EQ(w->isEnabled(), e.enabled);
    }
}

TEST(Screen, FindCenterStartState) {
    Tavrolin control;
    auto* byId = control.findChild<QRadioButton*>("optFind_1");
    auto* byName = control.findChild<QRadioButton*>("optFind_0");
    auto* nonSelected = control.findChild<QRadioButton*>("optList_0");
    auto* selected = control.findChild<QRadioButton*>("optList_1");
    EXPECT_TRUE(byId->isChecked());
    EXPECT_FALSE(byName->isChecked());
    EXPECT_TRUE(nonSelected->isChecked());
    EXPECT_FALSE(selected->isChecked());

    const QColor buttonFace = QApplication::palette().color(QPalette::Button);
    for (const char* name : {"txtVendorID", "txtVendorName"}) {
        auto* box = control.findChild<QLineEdit*>(name);
        EXPECT_TRUE(box->isReadOnly()) << name;
        EXPECT_EQ(box->palette().color(QPalette::Base), buttonFace) << name;
    }
}

TEST(Screen, ListColumnsAndVersion) {
    Tavrolin control;
    for (const char* name : {"lstVendors", "lstSelectedVendors"}) {
        SCOPED_TRACE(name);
        auto* list = control.findChild<ListView*>(name);
        ASSERT_EQ(list->columnHeaderCount(), 3);
        EXPECT_EQ(list->columnHeaderText(1), "ID");
        EXPECT_EQ(list->columnHeaderText(2), "Name");
        EXPECT_EQ(list->columnHeaderText(3), "ID");
        EXPECT_EQ(list->columnHeaderWidth(1), 795);
        EXPECT_EQ(list->columnHeaderWidth(2), 3180);
        EXPECT_EQ(list->columnHeaderWidth(3), 0);
        EXPECT_TRUE(list->fullRowSelect());
        EXPECT_EQ(list->count(), 0);
    }
    EXPECT_EQ(control.findChild<QLabel*>("lblVersionNumber")->text(), "Version Number: 3.0.2");
}

TEST(Screen, PopupMenuAndTransferComponent) {
    Tavrolin control;
    auto* menu = control.findChild<QMenu*>("mnuRemove");
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title(), "Remove");
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().first()->objectName(), "mnuRemoveItems");
    EXPECT_EQ(menu->actions().first()->text(), "Remove");
    EXPECT_NE(control.findChild<QObject*>("Inet1"), nullptr);
}

namespace {

// Where a child's style draws its caption.
QRect captionRect(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        QStyleOptionButton option;
        option.initFrom(b);
        option.text = b->text();
        const bool radio = qobject_cast<QRadioButton*>(w) != nullptr;
        return b->style()->subElementRect(
            radio ? QStyle::SE_RadioButtonContents : QStyle::SE_PushButtonContents, &option, b);
    }
    return w->contentsRect();
}

}  // namespace

TEST(Screen, EveryCaptionFitsItsControl) {
    Tavrolin control;
    ASSERT_EQ(QFontInfo(control.font()).family(), "Carlito")
        << "the screen font is missing; scripts/setup installs it";
    ASSERT_EQ(control.font().pointSizeF(), 8.0);
    // The largest counts the labels can show.
    control.findChild<QLabel*>("lblAllVendors")->setText(tavrolin::vendorCountCaption(32767));
    control.findChild<QLabel*>("lblSelVendors")->setText(tavrolin::selectedCountCaption(32767));

    int checked = 0;
    for (const Expected& e : kScreen) {
        auto* w = control.findChild<QWidget*>(e.name);
        ASSERT_NE(w, nullptr) << e.name;
        const QString caption = captionOf(w);
        if (caption.trimmed().isEmpty() || qobject_cast<QGroupBox*>(w)) continue;
        const QFontMetrics metrics(w->font());
        const QRect room = captionRect(w);
        EXPECT_LE(metrics.horizontalAdvance(caption), room.width())
            << e.name << " \"" << qPrintable(caption) << "\"";
        EXPECT_LE(metrics.height(), room.height()) << e.name;
        ++checked;
    }
    EXPECT_EQ(checked, 13);

    for (const char* name : {"fraFind", "Frame1"}) {
        auto* box = control.findChild<QGroupBox*>(name);
        EXPECT_LT(QFontMetrics(box->font()).horizontalAdvance(box->title()), box->width() - 16)
            << name;
    }
    for (const char* name : {"lstVendors", "lstSelectedVendors"}) {
        QHeaderView* header = control.findChild<ListView*>(name)->header();
        const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
        for (int section : {0, 1}) {
            const QString text = header->model()->headerData(section, Qt::Horizontal).toString();
            EXPECT_LE(QFontMetrics(header->font()).horizontalAdvance(text) + 2 * margin,
                      header->sectionSize(section))
                << name << " " << qPrintable(text);
        }
    }
}

TEST(Screen, SizeHintShowsEveryChildWhole) {
    Tavrolin control;
    const QRect shown(QPoint(0, 0), control.sizeHint());
    // The designed size cuts the find center off below the version line.
    auto* version = control.findChild<QLabel*>("lblVersionNumber");
    const QRect versionLine(version->mapTo(&control, QPoint(0, 0)), version->size());
    ASSERT_GT(versionLine.bottom(), control.height() - 1);
    for (const Expected& e : kScreen) {
        auto* w = control.findChild<QWidget*>(e.name);
        ASSERT_NE(w, nullptr) << e.name;
        const QRect place(w->mapTo(&control, QPoint(0, 0)), w->size());
        // The main frame starts above the control by design, to hide its top edge.
        EXPECT_TRUE(shown.contains(place.bottomRight())) << e.name;
    }
    EXPECT_TRUE(shown.contains(versionLine));
    EXPECT_EQ(control.sizeHint(), QSize(583, 348));
}

namespace {

QAccessibleInterface* accessible(Tavrolin& control, const char* name) {
    auto* w = control.findChild<QWidget*>(name);
    return w ? QAccessible::queryAccessibleInterface(w) : nullptr;
}

QString spokenName(Tavrolin& control, const char* name) {
    QAccessibleInterface* a = accessible(control, name);
    return a ? a->text(QAccessible::Name) : QStringLiteral("<no interface>");
}

}  // namespace

TEST(Accessibility, MoveButtonsAreNamedForWhatTheyDoAndKeepTheirCaptions) {
    Tavrolin control;
    const struct {
        const char* name;
        const char* caption;
        const char* spoken;
    } buttons[] = {{"cmdAdd", ">", "Add to selected vendors"},
                   {"cmdAddAll", ">>", "Add all highlighted"},
                   {"cmdRemoveAll", "<<", "Remove all highlighted"},
                   {"cmdDelete", "<", "Remove from selected vendors"}};
    for (const auto& b : buttons) {
        SCOPED_TRACE(b.name);
        QAccessibleInterface* a = accessible(control, b.name);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->role(), QAccessible::Button);
        EXPECT_EQ(a->text(QAccessible::Name), b.spoken);
        EXPECT_FALSE(a->text(QAccessible::Description).isEmpty());
        EXPECT_EQ(control.findChild<QPushButton*>(b.name)->text(), b.caption);
    }
}

TEST(Accessibility, EveryPartAUserWorksWithHasASpokenName) {
    Tavrolin control;
    const struct {
        const char* name;
        const char* spoken;
    } parts[] = {{"lstVendors", "Non Selected Active Vendors"},
                 {"lstSelectedVendors", "Selected Vendors"},
                 {"optFind_1", "Find by ID"},
                 {"txtVendorID", "Vendor ID to find"},
                 {"optFind_0", "Find by name"},
                 {"txtVendorName", "Vendor name to find"},
                 {"optList_0", "Search non selected vendors"},
                 {"optList_1", "Search selected vendors"},
                 {"cmdFind", "Find"},
                 {"cmdCommit", "Commit to Database"},
                 {"prbLoad", "Loading vendors"}};
    for (const auto& p : parts) {
        SCOPED_TRACE(p.name);
        QAccessibleInterface* a = accessible(control, p.name);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->text(QAccessible::Name), p.spoken);
        EXPECT_FALSE(a->text(QAccessible::Description).isEmpty());
    }
    EXPECT_EQ(accessible(control, "lstVendors")->role(), QAccessible::Tree);
    EXPECT_EQ(accessible(control, "prbLoad")->role(), QAccessible::ProgressBar);
    // Each count label tells assistive technology which list it labels.
    for (const auto& [label, list] : {std::pair{"lblAllVendors", "lstVendors"},
                                      std::pair{"lblSelVendors", "lstSelectedVendors"}}) {
        const auto labelled = accessible(control, label)->relations(QAccessible::Labelled);
        ASSERT_EQ(labelled.size(), 1) << label;
        EXPECT_EQ(labelled.first().first->object()->objectName(), list);
    }
}

TEST(Accessibility, ListNamesCarryTheCountsTheLabelsShow) {
    test_support::LoadedControl f;
    f.load({{"1", "Alpha"}, {"2", "Beta"}, {"3", "Gamma"}}, {{"10", "Kappa"}});
    ASSERT_EQ(f.ui.label("lblAllVendors")->text(), "Non Selected Active Vendors (3):");
    EXPECT_EQ(spokenName(f.control, "lstVendors"), "Non Selected Active Vendors (3)");
    EXPECT_EQ(spokenName(f.control, "lstSelectedVendors"), "Selected Vendors (1)");

    f.ui.clickRow("lstVendors", 2);
    f.ui.click("cmdAdd");
    ASSERT_EQ(f.ui.label("lblSelVendors")->text(), "Selected Vendors (2):");
    EXPECT_EQ(spokenName(f.control, "lstVendors"), "Non Selected Active Vendors (2)");
    EXPECT_EQ(spokenName(f.control, "lstSelectedVendors"), "Selected Vendors (2)");

    f.ui.clickRow("lstVendors", 1);
    f.ui.clickRow("lstVendors", 2, Qt::ControlModifier);
    f.ui.click("cmdAddAll");
    ASSERT_EQ(f.ui.rows("lstVendors"), QStringList());
    EXPECT_EQ(spokenName(f.control, "lstVendors"), "Non Selected Active Vendors (0)");
    EXPECT_EQ(spokenName(f.control, "lstSelectedVendors"), "Selected Vendors (4)");
}

TEST(PublicInterface, EmployeeIdConversionAndErrors) {
    Tavrolin control;
    control.setEmployeeID(" 42 ");
    try {
        control.setEmployeeID("forty-two");
        FAIL() << "no error";
    } catch (const tavrolin::RunTimeError& e) {
        EXPECT_EQ(e.number(), 13);
        EXPECT_FALSE(e.source().isEmpty());
        EXPECT_FALSE(e.description().isEmpty());
    }
    try {
        control.setEmployeeID("2147483648");
        FAIL() << "no error";
    } catch (const tavrolin::RunTimeError& e) {
        EXPECT_EQ(e.number(), 6);
    }
}

TEST(PublicInterface, ReachableThroughTheMetaObjectWithoutGetters) {
    Tavrolin control;
    QString encoded;
    ASSERT_TRUE(QMetaObject::invokeMethod(&control, "urlEncode", Q_RETURN_ARG(QString, encoded),
                                          Q_ARG(QString, "a b")));
    EXPECT_EQ(encoded, "a+b");
    EXPECT_TRUE(QMetaObject::invokeMethod(&control, "setEmployeeID", Q_ARG(QString, "7")));
    EXPECT_TRUE(QMetaObject::invokeMethod(&control, "SaveToDatabase"));
    const QMetaObject* meta = control.metaObject();
    EXPECT_GE(meta->indexOfMethod("setServerName(QString)"), 0);
    EXPECT_LT(meta->indexOfProperty("EmployeeID"), 0);
    EXPECT_LT(meta->indexOfProperty("ServerName"), 0);
    EXPECT_LT(meta->indexOfMethod("EmployeeID()"), 0);
}

namespace {
test_support::ControlDriver* gDriver = nullptr;
}

// A test that presses a button it cannot press has not done what it says.
TEST(ControlDriver, AClickOnADisabledButtonFailsTheTest) {
    Tavrolin control;
    test_support::ControlDriver ui(control);
    gDriver = &ui;
    ASSERT_FALSE(ui.button("cmdAdd")->isEnabled());
    EXPECT_NONFATAL_FAILURE(gDriver->click("cmdAdd"), "clicked cmdAdd");
    ui.button("cmdAdd")->setEnabled(true);  // with both lists empty it moves nothing
    EXPECT_TRUE(ui.click("cmdAdd"));
    gDriver = nullptr;
}
