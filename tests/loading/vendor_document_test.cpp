#include "loading/vendor_document.h"

#include "control/control.h"
#include "control/list_view/progress_bar.h"

#include "support/run_time_errors.h"

#include <gtest/gtest.h>
#include <tavrolin/run_time_error.h>

#include <QDomDocument>
#include <QLabel>

using test_support::errorNumberOf;
using namespace tavrolin;
namespace vd = tavrolin::vendor_document;

namespace {

QDomDocument parse(const char* xml) {
    QDomDocument doc;
    EXPECT_TRUE(doc.setContent(QByteArray(xml)));
    return doc;
}

// The control's screen and fields without the widget class around them.
struct Parts {
    QWidget widget;
    Control control;
    Parts() { control.ui = buildScreen(&widget); }
    int read(const char* xml) {
        control.mXmlDoc = std::make_unique<QDomDocument>(parse(xml));
        return errorNumberOf([&] { readCounts(control); });
    }
};

}  // namespace

TEST(VendorDocument, ReadsByPositionIgnoringNamesAndWhiteSpace) {
    const QDomDocument doc = parse("<a>\n  <b><c> 3 </c><d>x<!--note-->y</d></b>\n</a>");
    const QDomNode b = vd::childAt(vd::root(doc), 0);
    EXPECT_EQ(vd::countText(vd::childAt(b, 0)), "3");
    EXPECT_EQ(vd::countText(vd::childAt(b, 1)), "xy");
    EXPECT_EQ(vd::fieldText(vd::childAt(b, 1)), "x");
    EXPECT_EQ(errorNumberOf([&] { vd::childAt(b, 2); }), errors::ObjectNotSet);
}

TEST(VendorDocument, CommentsInstructionsAndCdataAreNodes) {
    const QDomDocument doc =
        parse("<r><!--first--><?pi data?><![CDATA[<raw>]]><e><![CDATA[a&b]]></e></r>");
    const QDomNode r = vd::root(doc);
    EXPECT_TRUE(vd::childAt(r, 0).isComment());
    EXPECT_TRUE(vd::childAt(r, 1).isProcessingInstruction());
    EXPECT_EQ(vd::fieldText(vd::childAt(r, 3)), "a&b");
    EXPECT_EQ(errorNumberOf([&] { vd::fieldText(vd::childAt(r, 0)); }), errors::ObjectNotSet);
}

TEST(VendorDocument, NoDocumentElementIsObjectNotSet) {
    QDomDocument empty;
    empty.setContent(QByteArray("not xml"));
    EXPECT_EQ(errorNumberOf([&] { vd::root(empty); }), errors::ObjectNotSet);
}

TEST(ReadCounts, SetsCountsScaleLabelsAndResetsProgress) {
    Parts p;
    p.control.mProgress = 9;
    EXPECT_EQ(p.read("<d><h><c><a>3</a><b>2</b></c></h></d>"), 0);
    EXPECT_EQ(p.control.mVendorCount, 3);
    EXPECT_EQ(p.control.mSelectedCount, 2);
    EXPECT_EQ(p.control.ui.prbLoad->max(), 5);
    EXPECT_EQ(p.control.ui.lblAllVendors->text(), "Non Selected Active Vendors (3):");
    EXPECT_EQ(p.control.ui.lblSelVendors->text(), "Selected Vendors (2):");
    EXPECT_EQ(p.control.mProgress, 0);
}

TEST(ReadCounts, KeepsWhatWasStoredBeforeTheFailingStep) {
    Parts p;
    p.control.mProgress = 9;
    EXPECT_EQ(p.read("<d><h><c><a>4</a><b>x</b></c></h></d>"), errors::TypeMismatch);
    EXPECT_EQ(p.control.mVendorCount, 4);
    EXPECT_EQ(p.control.ui.lblAllVendors->text(), "Non Selected Active Vendors:");
    EXPECT_EQ(p.control.mProgress, 9);

    EXPECT_EQ(p.read("<d><h><c><a>20000</a><b>20000</b></c></h></d>"), errors::Overflow);
    EXPECT_EQ(p.control.mVendorCount, 20000);
    EXPECT_EQ(p.control.mSelectedCount, 20000);
    EXPECT_EQ(p.control.ui.lblSelVendors->text(), "Selected Vendors:");

    EXPECT_EQ(p.read("<d><h><c><a>32768</a><b>0</b></c></h></d>"), errors::Overflow);
    EXPECT_EQ(p.read("<d><h><c><a>1</a></c></h></d>"), errors::ObjectNotSet);
    EXPECT_EQ(p.read("<d><!--x--><h><c><a>1</a><b>1</b></c></h></d>"), errors::ObjectNotSet);
}
