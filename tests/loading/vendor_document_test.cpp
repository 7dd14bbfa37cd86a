#include "loading/vendor_document.h"

#include <gtest/gtest.h>
#include <tavrolin/run_time_error.h>

#include <QDomDocument>

using namespace tavrolin;

TEST(VendorDocument, ReadsByPositionIgnoringNames) {
    QDomDocument doc;
    ASSERT_TRUE(doc.setContent(QByteArray("<a>\n  <b><c> 3 </c><d>x<!--note-->y</d></b>\n</a>")));
    const QDomNode b = vendor_document::childAt(vendor_document::root(doc), 0);
    EXPECT_EQ(vendor_document::countText(vendor_document::childAt(b, 0)), "3");
    EXPECT_EQ(vendor_document::countText(vendor_document::childAt(b, 1)), "xy");
    EXPECT_EQ(vendor_document::fieldText(vendor_document::childAt(b, 1)), "x");
    EXPECT_THROW(vendor_document::childAt(b, 2), RunTimeError);
}
