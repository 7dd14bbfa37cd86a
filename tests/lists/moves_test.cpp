#include "support/loaded_control.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QFont>
#include <QMenu>

using namespace test_support;

namespace {

const std::vector<Vendor> kVendors = {{"1", "Alpha"}, {"2", "Beta"}, {"3", "Gamma"}};
const std::vector<Vendor> kSelected = {{"10", "Kappa"}};
const std::vector<Vendor> kFive = {
    {"1", "One"}, {"2", "Two"}, {"3", "Three"}, {"4", "Four"}, {"5", "Five"}};

// Clicks the first position, Ctrl-clicks the others.
void highlight(ControlDriver& ui, const char* list, std::initializer_list<int> positions) {
    bool first = true;
    for (int p : positions) {
        ui.clickRow(list, p, first ? Qt::KeyboardModifiers{} : Qt::ControlModifier);
        first = false;
    }
}

QMenu* removeMenu(LoadedControl& f) {
    return f.control.findChild<QMenu*>("mnuRemove");
}

void chooseRemove(LoadedControl& f) {
    QMenu* menu = removeMenu(f);
    QAction* item = f.control.findChild<QAction*>("mnuRemoveItems");
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
}

}  // namespace

TEST(SingleMove, AddFlagsNewLinkAndRemoveRestoresPlainMarker) {
    LoadedControl f;
    f.load(kVendors, kSelected);
    f.ui.clickRow("lstVendors", 2);
    f.ui.click("cmdAdd");
    EXPECT_EQ(f.ui.screenState(),
              "lstVendors: 1/Alpha/000001 3/Gamma/000003 highlighted \n"
              "lstSelectedVendors: 2/Beta/000002N 10/Kappa/000010 highlighted 1 | "
              "Non Selected Active Vendors (2): | Selected Vendors (2): | "
              "cmdAdd=off cmdAddAll=off cmdDelete=on cmdRemoveAll=off cmdCommit=on | "
              "optList_0 1 0 | optList_1 1 1");
    EXPECT_EQ(f.focused(), f.ui.list("lstSelectedVendors"));
    EXPECT_FALSE(f.ui.list("lstSelectedVendors")->multiSelect());

    // "<" is the button that takes the highlighted row back.
    f.ui.click("cmdDelete");
    EXPECT_EQ(f.ui.screenState(),
              "lstVendors: 1/Alpha/000001 2/Beta/000002 3/Gamma/000003 highlighted 2\n"
              "lstSelectedVendors: 10/Kappa/000010 highlighted  | "
              "Non Selected Active Vendors (3): | Selected Vendors (1): | "
              "cmdAdd=on cmdAddAll=off cmdDelete=off cmdRemoveAll=off cmdCommit=on | "
              "optList_0 1 1 | optList_1 1 0");
    EXPECT_EQ(f.focused(), f.ui.list("lstVendors"));

    f.ui.click("cmdAdd");
    EXPECT_EQ(f.ui.rows("lstSelectedVendors", 2), (QStringList{"000002N", "000010"}));
}

TEST(SingleMove, RemovedLinkIsFlaggedAndComesBackPlain) {
    LoadedControl f;
    f.load(kVendors, kSelected);
    f.ui.clickRow("lstSelectedVendors", 1);
    f.ui.click("cmdDelete");
    // The last row out of lstSelectedVendors takes its find option away.
    EXPECT_EQ(f.ui.screenState(),
              "lstVendors: 1/Alpha/000001 2/Beta/000002 3/Gamma/000003 10/Kappa/000010D "
              "highlighted 4\nlstSelectedVendors:  highlighted  | "
              "Non Selected Active Vendors (4): | Selected Vendors (0): | "
              "cmdAdd=on cmdAddAll=off cmdDelete=off cmdRemoveAll=off cmdCommit=on | "
              "optList_0 1 1 | optList_1 0 0");

    f.ui.click("cmdAdd");  // the moved row is still current and highlighted
    EXPECT_EQ(f.ui.rows("lstSelectedVendors", 2), (QStringList{"000010"}));
    EXPECT_TRUE(f.ui.option("optList_1")->isEnabled());
    EXPECT_TRUE(f.ui.option("optList_1")->isChecked());
}

TEST(SingleMove, LastRowOutOfVendorsDisablesItsFindOption) {
    LoadedControl f;
    f.load({{"1", "Alpha"}}, kSelected);
    f.ui.clickRow("lstVendors", 1);
    f.ui.click("cmdAdd");
    EXPECT_EQ(f.ui.screenState(),
              "lstVendors:  highlighted \n"
              "lstSelectedVendors: 1/Alpha/000001N 10/Kappa/000010 highlighted 1 | "
              "Non Selected Active Vendors (0): | Selected Vendors (2): | "
              "cmdAdd=off cmdAddAll=off cmdDelete=on cmdRemoveAll=off cmdCommit=on | "
              "optList_0 0 0 | optList_1 1 1");
}

TEST(SingleMove, AddOfAnIdAlreadySelectedChangesNothingAtAll) {
    LoadedControl f;
    f.load({{"5", "Five"}, {"6", "Six"}}, {{"5", "Five again"}}, "9", "9");
    f.ui.clickRow("lstVendors", 1);
    const QString before = f.ui.screenState();
    f.ui.click("cmdAdd");
    EXPECT_EQ(f.ui.screenState(), before);
    EXPECT_EQ(f.ui.label("lblAllVendors")->text(), "Non Selected Active Vendors (9):");
}

TEST(SingleMove, RemoveIntoAListHoldingTheSameIdAddsASecondRow) {
    LoadedControl f;
    f.load({{"5", "Five"}}, {{"5", "Five again"}});
    f.ui.clickRow("lstSelectedVendors", 1);
    f.ui.click("cmdDelete");
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"5", "5"}));
    EXPECT_EQ(f.ui.rows("lstVendors", 2), (QStringList{"000005", "000005D"}));
    // The row found again by its text is the first from the top, not the one that arrived.
    EXPECT_EQ(f.ui.highlighted("lstVendors"), (QList<int>{1}));
    EXPECT_EQ(f.ui.list("lstVendors")->selectedItem().subItem(1), "Five");
}

TEST(SingleMove, EmptyListOrEmptyRowTextDoNothing) {
    LoadedControl f;
    f.load({}, kSelected);
    const QString before = f.ui.screenState();
    // A double-click reaches the move even on an empty list; the move then stops at once.
    QTest::mouseDClick(f.ui.list("lstVendors")->viewport(), Qt::LeftButton, {}, QPoint(20, 60));
    EXPECT_EQ(f.ui.screenState(), before);

    // A row without an ID cannot come from the server; put one in to check the guard.
    tavrolin::ListView* vendors = f.ui.list("lstVendors");
    vendors->add(QString());
    f.ui.clickRow("lstVendors", 1);
    ASSERT_EQ(vendors->selectedItem().text(), "");
    ASSERT_TRUE(f.ui.button("cmdAdd")->isEnabled());
    const QString withEmptyRow = f.ui.screenState();
    f.ui.click("cmdAdd");
    EXPECT_EQ(f.ui.screenState(), withEmptyRow);
}

TEST(SingleMove, DoubleClicksMoveEvenWhileTheButtonsAreDisabled) {
    LoadedControl f;
    f.load(kVendors, kSelected);
    ASSERT_FALSE(f.ui.button("cmdAdd")->isEnabled());
    f.ui.doubleClickRow("lstVendors", 3);
    EXPECT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"3", "10"}));
    EXPECT_EQ(f.ui.rows("lstSelectedVendors", 2), (QStringList{"000003N", "000010"}));
    f.ui.doubleClickRow("lstSelectedVendors", 2);
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"1", "2", "10"}));
    EXPECT_EQ(f.ui.rows("lstVendors", 2).last(), "000010D");
}

TEST(SingleMove, RemovePopupOpensOnlyOnRightButtonOverSelectedVendors) {
    LoadedControl f;
    f.load(kVendors, {{"10", "Kappa"}, {"11", "Lambda"}});
    QMenu* menu = removeMenu(f);
    tavrolin::ListView* selected = f.ui.list("lstSelectedVendors");

    f.ui.clickRow("lstSelectedVendors", 2);
    EXPECT_FALSE(menu->isVisible());
    f.ui.rightClickRow("lstVendors", 1);
    EXPECT_FALSE(menu->isVisible());

    const QPoint at = selected->rowRect(2).center();
    QTest::mouseClick(selected->viewport(), Qt::RightButton, {}, at);
    ASSERT_TRUE(menu->isVisible());
    EXPECT_EQ(menu->pos(), selected->viewport()->mapToGlobal(at));
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().first()->text(), "Remove");
    chooseRemove(f);
    EXPECT_FALSE(menu->isVisible());
    EXPECT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"10"}));
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"1", "2", "3", "11"}));
    EXPECT_EQ(f.ui.rows("lstVendors", 2).last(), "000011D");

    f.ui.doubleClickRow("lstSelectedVendors", 1);
    ASSERT_TRUE(f.ui.rows("lstSelectedVendors").isEmpty());
    QTest::mouseClick(selected->viewport(), Qt::RightButton, {}, QPoint(20, 20));
    EXPECT_FALSE(menu->isVisible());
}

// A single move takes out the row it read and no other, whatever else is highlighted.
TEST(SingleMove, MovesExactlyTheCurrentRowWhenNothingIsHighlighted) {
    LoadedControl f;
    f.load(kVendors, kSelected);
    f.ui.clickRow("lstVendors", 2);
    f.ui.clickEmptyArea("lstVendors");
    ASSERT_TRUE(f.ui.highlighted("lstVendors").isEmpty());
    ASSERT_TRUE(f.ui.button("cmdAdd")->isEnabled());
    f.ui.click("cmdAdd");
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"1", "3"}));
    EXPECT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"2", "10"}));
    EXPECT_EQ(f.ui.label("lblAllVendors")->text(), "Non Selected Active Vendors (2):");
}

TEST(SingleMove, DoubleClickDuringSeveralRowHighlightLeavesTheOtherRows) {
    LoadedControl f;
    f.load({{"1", "A"}, {"2", "B"}, {"3", "C"}, {"4", "D"}, {"5", "E"}}, kSelected);
    f.ui.clickRow("lstVendors", 1);
    f.ui.clickRow("lstVendors", 3, Qt::ControlModifier);
    tavrolin::ListView* vendors = f.ui.list("lstVendors");
    const QPoint at = vendors->rowRect(4).center();
    QTest::mouseClick(vendors->viewport(), Qt::LeftButton, Qt::ControlModifier, at);
    ASSERT_FALSE(f.ui.button("cmdAdd")->isEnabled());
    QTest::mouseDClick(vendors->viewport(), Qt::LeftButton, Qt::ControlModifier, at);
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"1", "2", "3", "5"}));
    EXPECT_EQ(f.ui.highlighted("lstVendors"), (QList<int>{1, 3}));
    EXPECT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"4", "10"}));
    EXPECT_EQ(f.ui.label("lblAllVendors")->text(), "Non Selected Active Vendors (4):");
}

TEST(SingleMove, PopupRemoveDuringSeveralRowHighlightLeavesTheOtherRows) {
    LoadedControl f;
    f.load(kVendors, {{"10", "K"}, {"11", "L"}, {"12", "M"}});
    f.ui.clickRow("lstSelectedVendors", 1);
    f.ui.clickRow("lstSelectedVendors", 3, Qt::ControlModifier);
    f.ui.rightClickRow("lstSelectedVendors", 3);
    ASSERT_TRUE(removeMenu(f)->isVisible());
    chooseRemove(f);
    EXPECT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"10", "11"}));
    EXPECT_EQ(f.ui.highlighted("lstSelectedVendors"), (QList<int>{1}));
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"1", "2", "3", "12"}));
}

TEST(SingleMove, NoCurrentRowEndsTheMoveQuietly) {
    LoadedControl f;
    f.load(kVendors, {{"10", "Kappa"}, {"11", "Lambda"}});
    f.ui.clickRow("lstVendors", 2);
    f.ui.click("cmdAdd");  // the moved row was the current row of lstVendors
    ASSERT_TRUE(f.ui.list("lstVendors")->selectedItem().isNull());
    const QString before = f.ui.screenState();
    QTest::mouseDClick(f.ui.list("lstVendors")->viewport(), Qt::LeftButton, {}, QPoint(20, 150));
    EXPECT_EQ(f.ui.screenState(), before);

    f.ui.click("cmdDelete");  // "2" goes back; lstSelectedVendors has no current row now
    ASSERT_TRUE(f.ui.list("lstSelectedVendors")->selectedItem().isNull());
    const QString afterDelete = f.ui.screenState();
    tavrolin::ListView* selected = f.ui.list("lstSelectedVendors");
    QTest::mouseClick(selected->viewport(), Qt::RightButton, {}, QPoint(20, 150));
    EXPECT_FALSE(removeMenu(f)->isVisible());
    QTest::mouseDClick(selected->viewport(), Qt::LeftButton, {}, QPoint(20, 150));
    EXPECT_EQ(f.ui.screenState(), afterDelete);
}

TEST(PendingChanges, MovedRowsShowWhatTheCommitWillDoUntilTheReload) {
    LoadedControl f;
    f.load(kVendors, kSelected);
    f.ui.clickRow("lstVendors", 2);
    ASSERT_TRUE(f.ui.button("cmdAdd")->isEnabled());
    f.ui.click("cmdAdd");  // "2" goes across
    f.ui.clickRow("lstSelectedVendors", 2);
    ASSERT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"2", "10"}));
    ASSERT_TRUE(f.ui.button("cmdDelete")->isEnabled());
    f.ui.click("cmdDelete");  // "10" comes back
    ASSERT_EQ(f.ui.rows("lstVendors"), (QStringList{"1", "3", "10"}));
    ASSERT_EQ(f.ui.rows("lstVendors", 2), (QStringList{"000001", "000003", "000010D"}));

    // The note of a row as the view shows it: the tooltip on the ID, italics, the same texts.
    auto note = [&f](const char* list, int position, int column = 0) {
        const QModelIndex index = f.ui.list(list)->model()->index(position - 1, column);
        const QVariant font = index.data(Qt::FontRole);
        const QString tip = index.data(Qt::ToolTipRole).toString();
        if (font.isValid() != !tip.isEmpty() || (font.isValid() && !font.value<QFont>().italic()))
            return QStringLiteral("inconsistent");
        return tip;
    };
    EXPECT_EQ(note("lstSelectedVendors", 1), "Will be linked when you commit");
    EXPECT_EQ(note("lstSelectedVendors", 1, 1), "Will be linked when you commit");
    EXPECT_EQ(note("lstVendors", 3), "Will be unlinked when you commit");
    for (int p : {1, 2}) EXPECT_EQ(note("lstVendors", p), "");
    const QModelIndex moved = f.ui.list("lstSelectedVendors")->model()->index(0, 0);
    EXPECT_EQ(moved.data().toString(), "2");
    EXPECT_EQ(f.ui.list("lstSelectedVendors")->columnHeaderWidth(1), 795);

    // Back where it was loaded: plain again.
    f.ui.clickRow("lstSelectedVendors", 1);
    f.ui.click("cmdDelete");
    ASSERT_EQ(f.ui.rows("lstVendors"), (QStringList{"1", "2", "3", "10"}));
    EXPECT_EQ(note("lstVendors", 2), "");
    EXPECT_EQ(note("lstVendors", 4), "Will be unlinked when you commit");

    // A reload brings plain rows.
    f.load(kVendors, kSelected);
    ASSERT_EQ(f.ui.rows("lstVendors"), (QStringList{"1", "2", "3"}));
    for (int p : {1, 2, 3}) EXPECT_EQ(note("lstVendors", p), "");
    EXPECT_EQ(note("lstSelectedVendors", 1), "");
}

TEST(SetMove, MovesTheHighlightedRowsAndOnlyThem) {
    LoadedControl f;
    f.load(kFive, {{"42", "Answer"}});
    highlight(f.ui, "lstVendors", {2, 4, 5});
    ASSERT_TRUE(f.ui.button("cmdAddAll")->isEnabled());
    f.ui.click("cmdAddAll");
    // ">" and "<" keep the state the click gave them.
    EXPECT_EQ(f.ui.screenState(),
              "lstVendors: 1/One/000001 3/Three/000003 highlighted \nlstSelectedVendors: "
              "2/Two/000002N 4/Four/000004N 5/Five/000005N 42/Answer/000042 highlighted 1,2,3 | "
              "Non Selected Active Vendors (2): | Selected Vendors (4): | "
              "cmdAdd=off cmdAddAll=off cmdDelete=off cmdRemoveAll=on cmdCommit=on | "
              "optList_0 1 0 | optList_1 1 1");
    EXPECT_TRUE(f.ui.list("lstSelectedVendors")->multiSelect());
    EXPECT_EQ(f.focused(), f.ui.list("lstSelectedVendors"));

    // "<<" takes the same three back: they return plain, and "42" stays.
    f.ui.click("cmdRemoveAll");
    EXPECT_EQ(f.ui.screenState(),
              "lstVendors: 1/One/000001 2/Two/000002 3/Three/000003 4/Four/000004 5/Five/000005 "
              "highlighted 2,4,5\nlstSelectedVendors: 42/Answer/000042 highlighted  | "
              "Non Selected Active Vendors (5): | Selected Vendors (1): | "
              "cmdAdd=off cmdAddAll=on cmdDelete=off cmdRemoveAll=off cmdCommit=on | "
              "optList_0 1 1 | optList_1 1 0");
}

TEST(SetMove, LoadedSelectedRowsLeaveFlaggedForRemoval) {
    LoadedControl f;
    f.load({{"7", "Seven"}}, {{"42", "Answer"}, {"43", "Next"}, {"44", "Last"}});
    highlight(f.ui, "lstSelectedVendors", {1, 3});
    f.ui.click("cmdRemoveAll");
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"7", "42", "44"}));
    EXPECT_EQ(f.ui.rows("lstVendors", 2), (QStringList{"000007", "000042D", "000044D"}));
    // The first arrival cleared the old highlight of the target.
    EXPECT_EQ(f.ui.highlighted("lstVendors"), (QList<int>{2, 3}));
    EXPECT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"43"}));
}

TEST(SetMove, NothingHighlightedStillRewritesLabelsAndButtons) {
    LoadedControl f;
    f.load(kFive, {{"42", "Answer"}}, "7", "9");
    ASSERT_EQ(f.ui.label("lblAllVendors")->text(), "Non Selected Active Vendors (7):");
    highlight(f.ui, "lstVendors", {1, 2});
    // Take both highlights away through the list itself, as the control's own steps do: no
    // click handling runs, so ">>" stays as the click set it.
    tavrolin::ListView* vendors = f.ui.list("lstVendors");
    vendors->item(1).setSelected(false);
    vendors->item(2).setSelected(false);
    ASSERT_TRUE(f.ui.highlighted("lstVendors").isEmpty());
    ASSERT_TRUE(f.ui.button("cmdAddAll")->isEnabled());
    f.ui.click("cmdAddAll");
    EXPECT_EQ(f.ui.rows("lstVendors").size(), 5);
    EXPECT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"42"}));
    EXPECT_EQ(f.ui.label("lblAllVendors")->text(), "Non Selected Active Vendors (5):");
    EXPECT_EQ(f.ui.label("lblSelVendors")->text(), "Selected Vendors (1):");
    EXPECT_EQ(f.ui.buttonStates(), onlyOn("cmdRemoveAll", "cmdCommit"));
    EXPECT_TRUE(f.ui.option("optList_1")->isChecked());
    EXPECT_FALSE(f.ui.list("lstSelectedVendors")->multiSelect());
}

TEST(SetMove, EmptyingAListLeavesOnlyTheOtherFindOption) {
    LoadedControl f;
    f.load({{"1", "One"}, {"2", "Two"}}, {});
    highlight(f.ui, "lstVendors", {1, 2});
    f.ui.click("cmdAddAll");
    EXPECT_EQ(f.ui.screenState(),
              "lstVendors:  highlighted \n"
              "lstSelectedVendors: 1/One/000001N 2/Two/000002N highlighted 1,2 | "
              "Non Selected Active Vendors (0): | Selected Vendors (2): | "
              "cmdAdd=off cmdAddAll=off cmdDelete=off cmdRemoveAll=on cmdCommit=on | "
              "optList_0 0 0 | optList_1 1 1");

    f.ui.click("cmdRemoveAll");  // both arrived rows are still highlighted
    EXPECT_EQ(f.ui.screenState(),
              "lstVendors: 1/One/000001 2/Two/000002 highlighted 1,2\n"
              "lstSelectedVendors:  highlighted  | "
              "Non Selected Active Vendors (2): | Selected Vendors (0): | "
              "cmdAdd=off cmdAddAll=on cmdDelete=off cmdRemoveAll=off cmdCommit=on | "
              "optList_0 1 1 | optList_1 0 0");
}

TEST(SetMove, NoDuplicateCheckOnTheWayIn) {
    LoadedControl f;
    f.load({{"5", "Five"}, {"6", "Six"}}, {{"5", "Five"}});
    highlight(f.ui, "lstVendors", {1, 2});
    f.ui.click("cmdAddAll");
    EXPECT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"5", "5", "6"}));
    EXPECT_EQ(f.ui.rows("lstSelectedVendors", 2), (QStringList{"000005", "000005N", "000006N"}));
}

TEST(SetMove, TargetSortsByMarkerInTheDirectionItHad) {
    LoadedControl f;
    f.load(kFive, {{"42", "Answer"}, {"43", "Zebra"}});
    f.ui.clickHeader("lstSelectedVendors", 2);
    f.ui.clickHeader("lstSelectedVendors", 2);  // names, descending
    ASSERT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"43", "42"}));
    highlight(f.ui, "lstVendors", {1, 3});
    f.ui.click("cmdAddAll");
    tavrolin::ListView* selected = f.ui.list("lstSelectedVendors");
    EXPECT_EQ(selected->sortKey(), 2);
    EXPECT_EQ(selected->sortOrder(), Qt::DescendingOrder);
    EXPECT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"43", "42", "3", "1"}));
}
