#include "vendor_document.h"

#include <gtest/gtest.h>

using namespace tavrolin::server;

TEST(ServerVendorDocument, EmptyListsStillHaveTheirElements) {
    EXPECT_EQ(buildVendorDocument({}, {}),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><VendorDocument><Header><Counts>"
              "<VendorCount>0</VendorCount><SelectedCount>0</SelectedCount></Counts></Header>"
              "<Vendors></Vendors><SelectedVendors></SelectedVendors></VendorDocument>");
}

TEST(ServerVendorDocument, EscapesNamesForXml) {
    EXPECT_EQ(escapeXmlText("Smith & Sons <\"Best\"> O'Brien"),
              "Smith &amp; Sons &lt;&quot;Best&quot;&gt; O&apos;Brien");
    EXPECT_EQ(escapeXmlText("Caf\xC3\xA9 M\xC3\xBCller \xE2\x82\xAC"),
              "Caf\xC3\xA9 M\xC3\xBCller \xE2\x82\xAC");
    // Characters that XML cannot carry must not break the whole document.
    EXPECT_EQ(escapeXmlText(std::string("a\x01z", 3)), "a\xEF\xBF\xBDz");
    EXPECT_EQ(escapeXmlText("bad \xE9 byte"), "bad \xEF\xBF\xBD byte");
    EXPECT_EQ(escapeXmlText("line\rend"), "line&#13;end");
}
