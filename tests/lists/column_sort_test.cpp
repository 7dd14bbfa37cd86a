#include "support/loaded_control.h"

#include <gtest/gtest.h>

using namespace test_support;

namespace {

// IDs that are not padded, so that text order and ID order differ; names in a third order.
const std::vector<Vendor> kVendors = {{"10", "Bravo"}, {"9", "Charlie"}, {"100", "Alpha"}};

struct Sorted : LoadedControl {
    Sorted() { load(kVendors, {{"2", "Zulu"}, {"1", "Yankee"}}); }
    QStringList ids() { return ui.rows("lstVendors"); }
    QStringList names() { return ui.rows("lstVendors", 1); }
    tavrolin::ListView* list() { return ui.list("lstVendors"); }
};

}  // namespace

TEST(ColumnSort, FirstClickOnIdReversesTheLoadedMarkerOrder) {
    Sorted f;
    ASSERT_EQ(f.ids(), (QStringList{"9", "10", "100"}));
    f.ui.clickHeader("lstVendors", 1);
    EXPECT_EQ(f.ids(), (QStringList{"100", "10", "9"}));
    EXPECT_EQ(f.list()->sortKey(), 2);
    EXPECT_EQ(f.list()->sortOrder(), Qt::DescendingOrder);
    f.ui.clickHeader("lstVendors", 1);
    EXPECT_EQ(f.ids(), (QStringList{"9", "10", "100"}));
    EXPECT_EQ(f.list()->sortOrder(), Qt::AscendingOrder);
    // Each list sorts itself only.
    EXPECT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"1", "2"}));
}

TEST(ColumnSort, NameThenNameAgainReversesTheNames) {
    Sorted f;
    f.ui.clickHeader("lstVendors", 2);
    EXPECT_EQ(f.names(), (QStringList{"Alpha", "Bravo", "Charlie"}));
    EXPECT_EQ(f.list()->sortKey(), 1);
    EXPECT_EQ(f.list()->sortOrder(), Qt::AscendingOrder);
    f.ui.clickHeader("lstVendors", 2);
    EXPECT_EQ(f.names(), (QStringList{"Charlie", "Bravo", "Alpha"}));
    EXPECT_EQ(f.list()->sortOrder(), Qt::DescendingOrder);
}

TEST(ColumnSort, ANewColumnKeepsTheDirection) {
    Sorted f;
    f.ui.clickHeader("lstVendors", 1);  // descending marker order
    f.ui.clickHeader("lstVendors", 2);
    EXPECT_EQ(f.names(), (QStringList{"Charlie", "Bravo", "Alpha"}));
    f.ui.clickHeader("lstVendors", 1);
    EXPECT_EQ(f.ids(), (QStringList{"100", "10", "9"}));
    EXPECT_EQ(f.list()->sortKey(), 2);
    EXPECT_EQ(f.list()->sortOrder(), Qt::DescendingOrder);

    f.ui.clickHeader("lstSelectedVendors", 2);
    EXPECT_EQ(f.ui.rows("lstSelectedVendors", 1), (QStringList{"Yankee", "Zulu"}));
}

TEST(ColumnSort, HiddenMarkerHeaderActsAsIdAndOneBeyondTheColumnsChangesNothing) {
    Sorted f;
    f.ui.clickHeader("lstVendors", 2);
    emit f.list()->columnClick(4);
    EXPECT_EQ(f.list()->sortKey(), 1);
    EXPECT_EQ(f.list()->sortOrder(), Qt::AscendingOrder);
    EXPECT_EQ(f.names(), (QStringList{"Alpha", "Bravo", "Charlie"}));
    emit f.list()->columnClick(3);  // the header of width 0, should a user reach it
    EXPECT_EQ(f.list()->sortKey(), 2);
    EXPECT_EQ(f.ids(), (QStringList{"9", "10", "100"}));
    emit f.list()->columnClick(3);
    EXPECT_EQ(f.ids(), (QStringList{"100", "10", "9"}));
}

TEST(ColumnSort, FlaggedRowSortsAmongPlainRowsByItsNumber) {
    Sorted f;
    f.ui.clickRow("lstSelectedVendors", 1);
    f.ui.click("cmdDelete");  // "1" arrives as 000001D
    EXPECT_EQ(f.ids(), (QStringList{"1", "9", "10", "100"}));
    f.ui.clickHeader("lstVendors", 1);
    EXPECT_EQ(f.ids(), (QStringList{"100", "10", "9", "1"}));
}
