// The control's click rules for the two lists, and the lists' selection models and accessible
// tables as a host and assistive technology see the highlight after each step.
#include "support/loaded_control.h"
#include "support/selection_in_step.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleTableInterface>
#include <QItemSelectionModel>

using namespace test_support;

namespace {

const std::vector<Vendor> kFive = {
    {"1", "One"}, {"2", "Two"}, {"3", "Three"}, {"4", "Four"}, {"5", "Five"}};
const std::vector<Vendor> kThree = {{"11", "Eleven"}, {"12", "Twelve"}, {"13", "Thirteen"}};

const QString kAddOnly = onlyOn("cmdAdd"), kAddAllOnly = onlyOn("cmdAddAll"),
              kDeleteOnly = onlyOn("cmdDelete"), kRemoveAllOnly = onlyOn("cmdRemoveAll");

struct Watched : LoadedControl {
    // Both lists: the selection model, the accessible table and the current index agree with
    // the highlight and the current row as soon as the step returns.
    void expectInStep(const char* step) {
        SCOPED_TRACE(step);
        for (const char* name : {"lstVendors", "lstSelectedVendors"})
            test_support::expectInStep(ui.list(name));
    }
    QModelIndex index(const char* name, int position) {
        return ui.list(name)->model()->index(position - 1, 0);
    }
};

}  // namespace

TEST(Selection, ClickInVendorsOffersSingleMoveAndSeveralRowMode) {
    LoadedControl f;
    f.load(kFive, kThree);
    EXPECT_EQ(f.ui.buttonStates(), kAllOff);
    f.ui.clickRow("lstVendors", 2);
    EXPECT_EQ(f.ui.highlights(), "2 |  | " + kAddOnly);
    EXPECT_TRUE(f.ui.list("lstVendors")->multiSelect());
    EXPECT_FALSE(f.ui.list("lstSelectedVendors")->multiSelect());
    // Several-row mode lets Ctrl extend the highlight; the second row switches to ">>".
    f.ui.clickRow("lstVendors", 4, Qt::ControlModifier);
    EXPECT_EQ(f.ui.highlights(), "2,4 |  | " + kAddAllOnly);
    f.ui.clickRow("lstVendors", 5, Qt::ControlModifier);
    EXPECT_EQ(f.ui.highlights(), "2,4,5 |  | " + kAddAllOnly);
    // Back down to one highlighted row: ">" again.
    f.ui.clickRow("lstVendors", 4, Qt::ControlModifier);
    f.ui.clickRow("lstVendors", 5, Qt::ControlModifier);
    EXPECT_EQ(f.ui.highlights(), "2 |  | " + kAddOnly);
}

TEST(Selection, ClickOnEmptyAreaCountsAsClickWithNothingHighlighted) {
    LoadedControl f;
    f.load(kFive, kThree);
    f.ui.clickRow("lstVendors", 1);
    f.ui.clickRow("lstVendors", 3, Qt::ControlModifier);
    ASSERT_EQ(f.ui.buttonStates(), kAddAllOnly);
    f.ui.clickEmptyArea("lstVendors");
    EXPECT_EQ(f.ui.highlights(), " |  | " + kAddOnly);

    f.ui.clickRow("lstSelectedVendors", 1);
    f.ui.clickRow("lstSelectedVendors", 2, Qt::ControlModifier);
    ASSERT_EQ(f.ui.buttonStates(), kRemoveAllOnly);
    f.ui.clickEmptyArea("lstSelectedVendors");
    EXPECT_EQ(f.ui.highlights(), " |  | " + kDeleteOnly);
}

TEST(Selection, ClickInOneListClearsTheOtherListsHighlight) {
    LoadedControl f;
    f.load(kFive, kThree);
    f.ui.clickRow("lstSelectedVendors", 1);
    EXPECT_EQ(f.ui.buttonStates(), kDeleteOnly);
    EXPECT_TRUE(f.ui.list("lstSelectedVendors")->multiSelect());
    f.ui.clickRow("lstSelectedVendors", 3, Qt::ControlModifier);
    EXPECT_EQ(f.ui.highlights(), " | 1,3 | " + kRemoveAllOnly);

    f.ui.clickRow("lstVendors", 5);
    EXPECT_EQ(f.ui.highlights(), "5 |  | " + kAddOnly);
    EXPECT_FALSE(f.ui.list("lstSelectedVendors")->multiSelect());

    f.ui.clickRow("lstVendors", 1, Qt::ControlModifier);
    f.ui.clickRow("lstSelectedVendors", 2);
    EXPECT_EQ(f.ui.highlights(), " | 2 | " + kDeleteOnly);
    EXPECT_FALSE(f.ui.list("lstVendors")->multiSelect());
    EXPECT_TRUE(f.ui.list("lstSelectedVendors")->multiSelect());
}

TEST(Selection, ClickInAnEmptyListDisablesEveryMoveButtonAndLeavesCommit) {
    LoadedControl f;
    f.load({{"7", "Seven"}}, {});
    f.ui.clickRow("lstVendors", 1);  // a click with the other list empty still offers ">"
    ASSERT_EQ(f.ui.buttonStates(), kAddOnly);
    f.ui.click("cmdAdd");  // lstVendors is empty now; "<" and commit are on
    ASSERT_EQ(f.ui.buttonStates(), onlyOn("cmdDelete", "cmdCommit"));
    f.ui.clickEmptyArea("lstVendors");
    // The other list keeps its highlight: the click ended before the clearing walk.
    EXPECT_EQ(f.ui.highlights(), " | 1 | " + onlyOn("cmdCommit"));

    f.load({}, {});
    f.ui.clickEmptyArea("lstVendors");
    EXPECT_EQ(f.ui.buttonStates(), kAllOff);
    f.ui.clickEmptyArea("lstSelectedVendors");
    EXPECT_EQ(f.ui.buttonStates(), kAllOff);
}

TEST(Selection, KeyboardHighlightCountsAsAClickButTheRightButtonDoesNot) {
    LoadedControl f;
    f.load(kFive, kThree);
    f.ui.clickRow("lstSelectedVendors", 1);
    ASSERT_TRUE(f.ui.button("cmdDelete")->isEnabled());
    // Keys in lstVendors: the other list's highlight goes, the buttons follow the rows.
    f.ui.list("lstVendors")->setFocus();
    QTest::keyClick(f.ui.list("lstVendors"), Qt::Key_Down);
    EXPECT_EQ(f.ui.highlights(), "2 |  | " + kAddOnly);
    QTest::keyClick(f.ui.list("lstVendors"), Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(f.ui.highlights(), "2,3 |  | " + kAddAllOnly);
    // A right-button press highlights a row but is no click.
    f.ui.rightClickRow("lstVendors", 4);
    EXPECT_EQ(f.ui.highlights(), "4 |  | " + kAddAllOnly);
}

TEST(SelectionModel, FollowsEveryActionOfTheControl) {
    Watched f;
    MessageBoxCatcher boxes;
    f.load(kFive, kThree);
    ASSERT_EQ(f.ui.rows("lstVendors").size(), 5);
    f.expectInStep("load");
    f.ui.clickRow("lstVendors", 2);
    ASSERT_EQ(f.ui.highlighted("lstVendors"), (QList<int>{2}));
    f.expectInStep("click");
    f.ui.clickRow("lstVendors", 4, Qt::ControlModifier);
    ASSERT_EQ(f.ui.highlighted("lstVendors"), (QList<int>{2, 4}));
    f.expectInStep("ctrl-click");
    f.ui.clickRow("lstVendors", 5, Qt::ShiftModifier);
    ASSERT_EQ(f.ui.highlighted("lstVendors"), (QList<int>{4, 5}));
    f.expectInStep("shift-click");
    QTest::keyClick(f.ui.list("lstVendors"), Qt::Key_Up, Qt::ShiftModifier);
    f.expectInStep("shift+up");
    QTest::keyClick(f.ui.list("lstVendors"), Qt::Key_Home);
    ASSERT_EQ(f.ui.highlighted("lstVendors"), (QList<int>{1}));
    f.expectInStep("home");

    f.ui.clickRow("lstVendors", 1);
    f.ui.clickRow("lstVendors", 3, Qt::ControlModifier);
    ASSERT_TRUE(f.ui.button("cmdAddAll")->isEnabled());
    f.ui.click("cmdAddAll");
    ASSERT_EQ(f.ui.rows("lstSelectedVendors").size(), 5);
    ASSERT_EQ(f.ui.highlighted("lstSelectedVendors"), (QList<int>{1, 2}));
    f.expectInStep("\">>\"");

    f.ui.clickRow("lstSelectedVendors", 4);
    ASSERT_TRUE(f.ui.button("cmdDelete")->isEnabled());
    f.ui.click("cmdDelete");
    ASSERT_EQ(f.ui.rows("lstVendors").size(), 4);
    f.expectInStep("\"<\"");
    f.ui.clickRow("lstVendors", 2);
    ASSERT_TRUE(f.ui.button("cmdAdd")->isEnabled());
    f.ui.click("cmdAdd");
    f.expectInStep("\">\"");

    f.ui.clickHeader("lstSelectedVendors", 2);  // by name
    ASSERT_EQ(f.ui.rows("lstSelectedVendors", 1).front(), "Eleven");
    f.expectInStep("header click");

    f.choose("optFind_0");
    f.choose("optList_1");
    f.ui.type("txtVendorName", "eleven");
    ASSERT_TRUE(f.ui.button("cmdFind")->isEnabled());
    f.ui.click("cmdFind");
    ASSERT_TRUE(boxes.seen().isEmpty());
    ASSERT_EQ(f.ui.highlighted("lstSelectedVendors").size(), 1);
    f.expectInStep("find");

    f.load(kThree, kFive);
    ASSERT_EQ(f.ui.rows("lstSelectedVendors").size(), 5);
    f.expectInStep("reload");
}

TEST(SelectionModel, ChangeThroughTheModelCountsAsAClickInThatList) {
    Watched f;
    f.load(kFive, kThree);
    f.ui.clickRow("lstSelectedVendors", 1);
    ASSERT_TRUE(f.ui.button("cmdDelete")->isEnabled());
    // Host code selects rows of lstVendors: the click handling of lstVendors runs on it.
    QItemSelectionModel* model = f.ui.list("lstVendors")->selectionModel();
    model->select(f.index("lstVendors", 3),
                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    EXPECT_EQ(f.ui.highlights(), "3 |  | " + kAddOnly);
    EXPECT_TRUE(f.ui.list("lstVendors")->multiSelect());
    model->select(f.index("lstVendors", 5),
                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(f.ui.highlights(), "3,5 |  | " + kAddAllOnly);
    f.expectInStep("host selects");
    model->select(f.index("lstVendors", 3),
                  QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    EXPECT_EQ(f.ui.buttonStates(), kAddOnly);
    EXPECT_EQ(f.ui.list("lstVendors")->selectedItem().text(), "5");
    f.ui.click("cmdAdd");
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"1", "2", "3", "4"}));
    f.expectInStep("\">\"");
    // The control's own changes run no click handling: Find leaves the buttons off.
    f.choose("optList_0");
    f.ui.type("txtVendorID", "2");
    f.ui.click("cmdFind");
    EXPECT_EQ(f.ui.highlighted("lstVendors"), (QList<int>{2}));
    EXPECT_EQ(f.ui.buttonStates(), onlyOn("cmdCommit"));
}

TEST(SelectionModel, RowsSelectedByAssistiveTechnologyAreWhatTheNextSetMoveTakes) {
    Watched f;
    f.load(kFive, kThree);
    f.ui.clickRow("lstSelectedVendors", 1);
    f.ui.clickRow("lstSelectedVendors", 2, Qt::ControlModifier);
    ASSERT_TRUE(f.ui.button("cmdRemoveAll")->isEnabled());
    QAccessibleInterface* face =
        QAccessible::queryAccessibleInterface(f.ui.list("lstSelectedVendors"));
    ASSERT_TRUE(face && face->tableInterface());
    QAccessibleTableInterface* table = face->tableInterface();
    EXPECT_TRUE(table->unselectRow(0));
    EXPECT_TRUE(table->selectRow(2));
    EXPECT_EQ(f.ui.highlighted("lstSelectedVendors"), (QList<int>{2, 3}));
    f.expectInStep("accessible selection");
    EXPECT_EQ(table->selectedRowCount(), 2);
    f.ui.click("cmdRemoveAll");
    EXPECT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"11"}));
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"1", "2", "3", "4", "5", "12", "13"}));
    f.expectInStep("\"<<\"");
}
