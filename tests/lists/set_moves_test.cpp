#include "support/loaded_control.h"

#include <gtest/gtest.h>

using namespace test_support;

namespace {

const std::vector<Vendor> kFive = {
    {"1", "One"}, {"2", "Two"}, {"3", "Three"}, {"4", "Four"}, {"5", "Five"}};

void highlight(ControlDriver& ui, const char* list, std::initializer_list<int> positions) {
    bool first = true;
    for (int p : positions) {
        ui.clickRow(list, p, first ? Qt::KeyboardModifiers{} : Qt::ControlModifier);
        first = false;
    }
}

}  // namespace

TEST(SetMove, MovesTheHighlightedRowsAndOnlyThem) {
    LoadedControl f;
    f.load(kFive, {{"42", "Answer"}});
    highlight(f.ui, "lstVendors", {2, 4, 5});
    ASSERT_TRUE(f.ui.button("cmdAddAll")->isEnabled());
    f.ui.click("cmdAddAll");
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"1", "3"}));
    EXPECT_TRUE(f.ui.highlighted("lstVendors").isEmpty());
    EXPECT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"2", "4", "5", "42"}));
    EXPECT_EQ(f.ui.rows("lstSelectedVendors", 1), (QStringList{"Two", "Four", "Five", "Answer"}));
    EXPECT_EQ(f.ui.rows("lstSelectedVendors", 2),
              (QStringList{"000002N", "000004N", "000005N", "000042"}));
    EXPECT_EQ(f.ui.highlighted("lstSelectedVendors"), (QList<int>{1, 2, 3}));
    EXPECT_TRUE(f.ui.list("lstSelectedVendors")->multiSelect());
    EXPECT_EQ(f.focused(), f.ui.list("lstSelectedVendors"));
    EXPECT_EQ(f.ui.label("lblSelVendors")->text(), "Selected Vendors (4):");
    EXPECT_EQ(f.ui.label("lblAllVendors")->text(), "Non Selected Active Vendors (2):");
    // ">" and "<" keep the state the click gave them.
    EXPECT_EQ(f.ui.buttonStates(),
              "cmdAdd=off cmdAddAll=off cmdDelete=off cmdRemoveAll=on cmdCommit=on");
    EXPECT_TRUE(f.ui.option("optList_1")->isChecked());
    EXPECT_TRUE(f.ui.option("optList_0")->isEnabled());

    // "<<" takes the same three back: they return plain, and "42" stays.
    f.ui.click("cmdRemoveAll");
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"1", "2", "3", "4", "5"}));
    EXPECT_EQ(f.ui.rows("lstVendors", 2),
              (QStringList{"000001", "000002", "000003", "000004", "000005"}));
    EXPECT_EQ(f.ui.highlighted("lstVendors"), (QList<int>{2, 4, 5}));
    EXPECT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"42"}));
    EXPECT_EQ(f.ui.buttonStates(),
              "cmdAdd=off cmdAddAll=on cmdDelete=off cmdRemoveAll=off cmdCommit=on");
    EXPECT_TRUE(f.ui.option("optList_0")->isChecked());
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
    EXPECT_EQ(f.ui.buttonStates(),
              "cmdAdd=off cmdAddAll=off cmdDelete=off cmdRemoveAll=on cmdCommit=on");
    EXPECT_TRUE(f.ui.option("optList_1")->isChecked());
    EXPECT_FALSE(f.ui.list("lstSelectedVendors")->multiSelect());
}

TEST(SetMove, EmptyingAListLeavesOnlyTheOtherFindOption) {
    LoadedControl f;
    f.load({{"1", "One"}, {"2", "Two"}}, {});
    highlight(f.ui, "lstVendors", {1, 2});
    f.ui.click("cmdAddAll");
    EXPECT_TRUE(f.ui.rows("lstVendors").isEmpty());
    EXPECT_FALSE(f.ui.option("optList_0")->isEnabled());
    EXPECT_TRUE(f.ui.option("optList_1")->isEnabled());
    EXPECT_TRUE(f.ui.option("optList_1")->isChecked());
    EXPECT_EQ(f.ui.label("lblAllVendors")->text(), "Non Selected Active Vendors (0):");

    f.ui.click("cmdRemoveAll");  // both arrived rows are still highlighted
    EXPECT_TRUE(f.ui.rows("lstSelectedVendors").isEmpty());
    EXPECT_EQ(f.ui.rows("lstVendors", 2), (QStringList{"000001", "000002"}));
    EXPECT_FALSE(f.ui.option("optList_1")->isEnabled());
    EXPECT_TRUE(f.ui.option("optList_0")->isEnabled());
    EXPECT_TRUE(f.ui.option("optList_0")->isChecked());
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
