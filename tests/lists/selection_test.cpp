#include "support/loaded_control.h"

#include <gtest/gtest.h>

using namespace test_support;

namespace {

const std::vector<Vendor> kFive = {
    {"1", "One"}, {"2", "Two"}, {"3", "Three"}, {"4", "Four"}, {"5", "Five"}};
const std::vector<Vendor> kThree = {{"11", "Eleven"}, {"12", "Twelve"}, {"13", "Thirteen"}};

const QString kAddOnly = "cmdAdd=on cmdAddAll=off cmdDelete=off cmdRemoveAll=off cmdCommit=off";
const QString kAddAllOnly = "cmdAdd=off cmdAddAll=on cmdDelete=off cmdRemoveAll=off cmdCommit=off";
const QString kDeleteOnly = "cmdAdd=off cmdAddAll=off cmdDelete=on cmdRemoveAll=off cmdCommit=off";
const QString kRemoveAllOnly =
    "cmdAdd=off cmdAddAll=off cmdDelete=off cmdRemoveAll=on cmdCommit=off";
const QString kNone = "cmdAdd=off cmdAddAll=off cmdDelete=off cmdRemoveAll=off cmdCommit=off";

}  // namespace

TEST(Selection, ClickInVendorsOffersSingleMoveAndSeveralRowMode) {
    LoadedControl f;
    f.load(kFive, kThree);
    EXPECT_EQ(f.ui.buttonStates(), kNone);
    f.ui.clickRow("lstVendors", 2);
    EXPECT_EQ(f.ui.highlighted("lstVendors"), (QList<int>{2}));
    EXPECT_EQ(f.ui.buttonStates(), kAddOnly);
    EXPECT_TRUE(f.ui.list("lstVendors")->multiSelect());
    EXPECT_FALSE(f.ui.list("lstSelectedVendors")->multiSelect());
    // Several-row mode lets Ctrl extend the highlight; the second row switches to ">>".
    f.ui.clickRow("lstVendors", 4, Qt::ControlModifier);
    EXPECT_EQ(f.ui.highlighted("lstVendors"), (QList<int>{2, 4}));
    EXPECT_EQ(f.ui.buttonStates(), kAddAllOnly);
    f.ui.clickRow("lstVendors", 5, Qt::ControlModifier);
    EXPECT_EQ(f.ui.highlighted("lstVendors"), (QList<int>{2, 4, 5}));
    EXPECT_EQ(f.ui.buttonStates(), kAddAllOnly);
    // Back down to one highlighted row: ">" again.
    f.ui.clickRow("lstVendors", 4, Qt::ControlModifier);
    f.ui.clickRow("lstVendors", 5, Qt::ControlModifier);
    EXPECT_EQ(f.ui.highlighted("lstVendors"), (QList<int>{2}));
    EXPECT_EQ(f.ui.buttonStates(), kAddOnly);
}

TEST(Selection, ClickOnEmptyAreaCountsAsClickWithNothingHighlighted) {
    LoadedControl f;
    f.load(kFive, kThree);
    f.ui.clickRow("lstVendors", 1);
    f.ui.clickRow("lstVendors", 3, Qt::ControlModifier);
    ASSERT_EQ(f.ui.buttonStates(), kAddAllOnly);
    f.ui.clickEmptyArea("lstVendors");
    EXPECT_TRUE(f.ui.highlighted("lstVendors").isEmpty());
    EXPECT_EQ(f.ui.buttonStates(), kAddOnly);

    f.ui.clickRow("lstSelectedVendors", 1);
    f.ui.clickRow("lstSelectedVendors", 2, Qt::ControlModifier);
    ASSERT_EQ(f.ui.buttonStates(), kRemoveAllOnly);
    f.ui.clickEmptyArea("lstSelectedVendors");
    EXPECT_TRUE(f.ui.highlighted("lstSelectedVendors").isEmpty());
    EXPECT_EQ(f.ui.buttonStates(), kDeleteOnly);
}

TEST(Selection, ClickInOneListClearsTheOtherListsHighlight) {
    LoadedControl f;
    f.load(kFive, kThree);
    f.ui.clickRow("lstSelectedVendors", 1);
    EXPECT_EQ(f.ui.buttonStates(), kDeleteOnly);
    EXPECT_TRUE(f.ui.list("lstSelectedVendors")->multiSelect());
    f.ui.clickRow("lstSelectedVendors", 3, Qt::ControlModifier);
    EXPECT_EQ(f.ui.highlighted("lstSelectedVendors"), (QList<int>{1, 3}));
    EXPECT_EQ(f.ui.buttonStates(), kRemoveAllOnly);

    f.ui.clickRow("lstVendors", 5);
    EXPECT_TRUE(f.ui.highlighted("lstSelectedVendors").isEmpty());
    EXPECT_EQ(f.ui.highlighted("lstVendors"), (QList<int>{5}));
    EXPECT_EQ(f.ui.buttonStates(), kAddOnly);
    EXPECT_FALSE(f.ui.list("lstSelectedVendors")->multiSelect());

    f.ui.clickRow("lstVendors", 1, Qt::ControlModifier);
    f.ui.clickRow("lstSelectedVendors", 2);
    EXPECT_TRUE(f.ui.highlighted("lstVendors").isEmpty());
    EXPECT_EQ(f.ui.highlighted("lstSelectedVendors"), (QList<int>{2}));
    EXPECT_EQ(f.ui.buttonStates(), kDeleteOnly);
    EXPECT_FALSE(f.ui.list("lstVendors")->multiSelect());
    EXPECT_TRUE(f.ui.list("lstSelectedVendors")->multiSelect());
}

TEST(Selection, ClickInAnEmptyListDisablesEveryMoveButtonAndLeavesCommit) {
    LoadedControl f;
    f.load({{"7", "Seven"}}, {});
    f.ui.clickRow("lstVendors", 1);
    f.ui.click("cmdAdd");  // lstVendors is empty now; "<" and commit are on
    ASSERT_EQ(f.ui.buttonStates(),
              "cmdAdd=off cmdAddAll=off cmdDelete=on cmdRemoveAll=off cmdCommit=on");
    f.ui.clickEmptyArea("lstVendors");
    EXPECT_EQ(f.ui.buttonStates(),
              "cmdAdd=off cmdAddAll=off cmdDelete=off cmdRemoveAll=off cmdCommit=on");
    // The other list keeps its highlight: the click ended before the clearing walk.
    EXPECT_EQ(f.ui.highlighted("lstSelectedVendors"), (QList<int>{1}));

    f.load({}, {});
    f.ui.clickEmptyArea("lstVendors");
    EXPECT_EQ(f.ui.buttonStates(), kNone);
    f.ui.clickEmptyArea("lstSelectedVendors");
    EXPECT_EQ(f.ui.buttonStates(), kNone);
}

TEST(Selection, ClickWithTheOtherListEmptyStillWorks) {
    LoadedControl f;
    f.load(kThree, {});
    f.ui.clickRow("lstVendors", 2);
    EXPECT_EQ(f.ui.buttonStates(), kAddOnly);
}

TEST(Selection, KeyboardHighlightCountsAsAClickButTheRightButtonDoesNot) {
    LoadedControl f;
    f.load(kFive, kThree);
    f.ui.clickRow("lstSelectedVendors", 1);
    ASSERT_TRUE(f.ui.button("cmdDelete")->isEnabled());
    // Keys in lstVendors: the other list's highlight goes, the buttons follow the rows.
    f.ui.list("lstVendors")->setFocus();
    QTest::keyClick(f.ui.list("lstVendors"), Qt::Key_Down);
    EXPECT_EQ(f.ui.highlighted("lstVendors"), (QList<int>{2}));
    EXPECT_TRUE(f.ui.highlighted("lstSelectedVendors").isEmpty());
    EXPECT_EQ(f.ui.buttonStates(), kAddOnly);
    QTest::keyClick(f.ui.list("lstVendors"), Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(f.ui.highlighted("lstVendors"), (QList<int>{2, 3}));
    EXPECT_EQ(f.ui.buttonStates(), kAddAllOnly);
    // A right-button press highlights a row but is no click.
    f.ui.rightClickRow("lstVendors", 4);
    EXPECT_EQ(f.ui.highlighted("lstVendors"), (QList<int>{4}));
    EXPECT_EQ(f.ui.buttonStates(), kAddAllOnly);
}
