#include "vendor_import.h"

#include <gtest/gtest.h>

using namespace tavrolin::server;

TEST(ServerVendorCsv, ReadsPlainAndQuotedFields) {
    const auto csv = parseVendorCsv(
        "id,name,active\r\n"
        "1,Alpha Supply,1\r\n"
        "\r\n"
        "0002, \"Smith, Jones & \"\"Sons\"\"\" ,false\n"
        "3,Caf\xC3\xA9 M\xC3\xBCller,YES\n");
    ASSERT_TRUE(csv.errors.empty()) << csv.errors.front();
    ASSERT_EQ(csv.vendors.size(), 3u);
    EXPECT_EQ(csv.vendors[0], (ImportedVendor{1, "Alpha Supply", true}));
    EXPECT_EQ(csv.vendors[1], (ImportedVendor{2, "Smith, Jones & \"Sons\"", false}));
    EXPECT_EQ(csv.vendors[2], (ImportedVendor{3, "Caf\xC3\xA9 M\xC3\xBCller", true}));
}

TEST(ServerVendorCsv, NamesEveryBadLineByNumber) {
    const auto csv = parseVendorCsv(
        "id,name,active\n"
        "1,Good,1\n"
        "x,Bad id,1\n"
        "3,   ,1\n"
        "4,Bad flag,maybe\n"
        "5,\"unclosed,1\n"
        "6,Too,many,1\n"
        "-7,Negative,1\n"
        "8,Caf\xE9,1\n");
    ASSERT_EQ(csv.errors.size(), 7u);
    EXPECT_EQ(csv.errors[0].rfind("line 3: ", 0), 0u) << csv.errors[0];
    EXPECT_EQ(csv.errors[1].rfind("line 4: ", 0), 0u) << csv.errors[1];
    EXPECT_EQ(csv.errors[2].rfind("line 5: ", 0), 0u) << csv.errors[2];
    EXPECT_EQ(csv.errors[3].rfind("line 6: ", 0), 0u) << csv.errors[3];
    EXPECT_EQ(csv.errors[4].rfind("line 7: ", 0), 0u) << csv.errors[4];
    EXPECT_EQ(csv.errors[5].rfind("line 8: ", 0), 0u) << csv.errors[5];
    EXPECT_EQ(csv.errors[6].rfind("line 9: ", 0), 0u) << csv.errors[6];
}

TEST(ServerVendorCsv, RequiresTheHeader) {
    EXPECT_EQ(parseVendorCsv("1,Alpha,1\n").errors.front().rfind("line 1: ", 0), 0u);
    EXPECT_FALSE(parseVendorCsv("").errors.empty());
}
