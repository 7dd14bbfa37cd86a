#include "loading/vendor_document.h"

#include "control/control.h"
#include "control/list_view/progress_bar.h"

#include "support/document_server.h"
#include "support/run_time_errors.h"

#include <gtest/gtest.h>
#include <tavrolin/run_time_error.h>

#include <QDomDocument>
#include <QLabel>
#include <QStringEncoder>
#include <QThread>

#include <functional>

#include <memory>
#include <string>

using test_support::errorNumberOf;
using test_support::vendorDocument;
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

constexpr int kDeep = 100000;

std::string nested(int depth, const std::string& text) {
    std::string out;
    out.reserve(size_t(depth) * 7 + text.size());
    for (int i = 0; i < depth; ++i) out += "<x>";
    out += text;
    for (int i = 0; i < depth; ++i) out += "</x>";
    return out;
}

// The deepest element of a parsed document, walked without recursion.
int depthOf(const QDomDocument& document) {
    int depth = 0, deepest = 0;
    QDomNode node = document.documentElement();
    while (!node.isNull()) {
        if (node.isElement()) deepest = std::max(deepest, ++depth);
        if (node.isElement() && !node.firstChild().isNull()) {
            node = node.firstChild();
            continue;
        }
        if (node.isElement()) --depth;
        while (!node.isNull() && node.nextSibling().isNull()) {
            node = node.parentNode();
            if (node.isElement()) --depth;
        }
        if (!node.isNull()) node = node.nextSibling();
    }
    return deepest;
}

// An element holding a chain of depth elements around a text. Built from the inside out and
// taken apart from the top: the DOM walks to the top of the tree when a node is appended deep
// inside it, and frees a tree one stack frame per level.
class DeepElement {
  public:
    DeepElement(QDomDocument& document, const QString& name, int depth, const QString& text)
        : mElement(document.createElement(name)) {
        QDomNode top = document.createTextNode(text);
        for (int i = 0; i < depth; ++i) {
            QDomElement level = document.createElement("x");
            level.appendChild(top);
            top = level;
        }
        mElement.appendChild(top);
    }
    ~DeepElement() {
        QDomNode level = mElement.removeChild(mElement.firstChild());
        while (!level.isNull()) {
            QDomNode below = level.firstChild();
            if (!below.isNull()) level.removeChild(below);
            level = below;
        }
    }
    QDomElement& element() { return mElement; }

  private:
    QDomElement mElement;
};

// Runs work on a thread with a small stack: a reader that took a frame per level would
// overflow it long before the bottom.
void onSmallStack(const std::function<void()>& work) {
    std::unique_ptr<QThread> thread(QThread::create(work));
    thread->setStackSize(128 * 1024);
    thread->start();
    thread->wait();
}

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

TEST(VendorDocument, CountAndNameNestedAHundredThousandLevelsAreReadInConstantStack) {
    QDomDocument doc;
    QDomElement root = doc.createElement("d");
    doc.appendChild(root);
    QDomElement header = doc.createElement("h"), counts = doc.createElement("c");
    DeepElement vendorCount(doc, "a", kDeep, " 3 ");
    QDomElement selectedCount = doc.createElement("b");
    selectedCount.appendChild(doc.createTextNode("1"));
    counts.appendChild(vendorCount.element());
    counts.appendChild(selectedCount);
    header.appendChild(counts);
    root.appendChild(header);
    QDomElement list = doc.createElement("l"), record = doc.createElement("r");
    QDomElement id = doc.createElement("i");
    id.appendChild(doc.createTextNode("5"));
    DeepElement name(doc, "n", kDeep, "Acme & Sons");
    record.appendChild(id);
    record.appendChild(name.element());
    list.appendChild(record);
    root.appendChild(list);

    QString count, vendorName;
    onSmallStack([&] {
        const QDomNode c = vd::childAt(vd::childAt(vd::root(doc), vd::kHeader), vd::kCountGroup);
        count = vd::countText(vd::childAt(c, vd::kVendorCount));
        const QDomNode r = vd::childAt(vd::childAt(vd::root(doc), vd::kNonSelectedList), 0);
        vendorName = vd::fieldText(vd::childAt(r, vd::kNameField));
    });
    EXPECT_EQ(count, "3");
    EXPECT_EQ(vendorName, "Acme & Sons");
}

TEST(VendorDocument, TextOfDescendantsIsJoinedInDocumentOrder) {
    const QDomDocument doc = parse(
        "<r><c>1<a>2<b>3<!--no--></b><?pi no?>4</a><![CDATA[5]]><e/><f><g><h>6</h></g></f>7</c>"
        "<n><x><y>deep</y>er</x>ignored</n></r>");
    const QDomNode r = vd::root(doc);
    EXPECT_EQ(vd::countText(vd::childAt(r, 0)), "1234567");
    EXPECT_EQ(vd::fieldText(vd::childAt(r, 1)), "deeper");
}

TEST(VendorDocument, DepthScanAgreesWithTheParser) {
    for (const char* xml : {
             "<a/>",
             "<a><b/><c/></a>",
             "<a><b><c/></b><d><e><f></f></e></d></a>",
             "<?xml version='1.0'?><a x='>' y=\"/>\"><b  ><c z = '&lt;/' /></b ></a>",
             "<a><!-- <b><c><d> --><b/></a>",
             "<a><![CDATA[<b><c><d>]]></a>",
             "<?p <b><c>?><a><?q <b><c> ?><b/></a>",
             "<!DOCTYPE a [<!-- ' --><!ELEMENT a ANY><!ENTITY e 'x>y<z>'>]><a><b><c/></b></a>",
             "<a>&lt;b&gt;<b>&amp;</b></a>",
         }) {
        QDomDocument doc;
        ASSERT_TRUE(doc.setContent(QByteArray(xml))) << xml;
        const int depth = depthOf(doc);
        ASSERT_GT(depth, 0) << xml;
        EXPECT_TRUE(vd::nestsAtMost(xml, depth)) << xml;
        EXPECT_FALSE(vd::nestsAtMost(xml, depth - 1)) << xml;
    }
}

TEST(VendorDocument, DepthScanIsNotFooledByStrayEndTagsOrOpenQuotes) {
    EXPECT_FALSE(vd::nestsAtMost("</x></x></x><a><b><c/></b></a>", 2));
    EXPECT_TRUE(vd::nestsAtMost("</x></x></x><a><b><c/></b></a>", 3));
    // Quotes count only inside tags: an apostrophe in text hides nothing.
    EXPECT_FALSE(vd::nestsAtMost("<a>it's <b><c/></b> o'clock</a>", 2));
    EXPECT_TRUE(vd::nestsAtMost(QByteArrayView(), 0));
    EXPECT_TRUE(vd::nestsAtMost(QByteArray(), 0));
}

TEST(VendorDocument, DepthScanReadsWideEncodingsByCodeUnit) {
    // U+3C3C holds the byte of '<' twice; the emoji is a surrogate pair.
    const QString xml = QString::fromUtf8("<a><b>\u00e9\u3c3c\U0001F600<c/></b></a>");
    for (auto encoding : {QStringConverter::Utf16LE, QStringConverter::Utf16BE,
                          QStringConverter::Utf32LE, QStringConverter::Utf32BE}) {
        for (bool bom : {true, false}) {
            QStringEncoder encoder(
                encoding, bom ? QStringConverter::Flag::WriteBom : QStringConverter::Flag::Default);
            const QByteArray bytes = encoder.encode(xml);
            EXPECT_TRUE(vd::nestsAtMost(bytes, 3)) << int(encoding) << bom;
            EXPECT_FALSE(vd::nestsAtMost(bytes, 2)) << int(encoding) << bom;
        }
    }
}

TEST(ParseReply, ADocumentNestedDeeperThanTheLimitIsNoDocument) {
    using Reply = std::function<QByteArray(int)>;
    const Reply countNested = [](int depth) {
        return QByteArray::fromStdString(vendorDocument(nested(depth, "3"), "0", {}, {}));
    };
    const Reply nameNested = [](int depth) {
        return QByteArray::fromStdString(
            vendorDocument("1", "0", {{"5", nested(depth, "Acme")}}, {}));
    };
    for (const Reply& reply : {countNested, nameNested}) {
        QDomDocument doc;
        // The vendor document itself is four levels deep.
        EXPECT_TRUE(vd::parseReply(doc, reply(vd::kMaxDepth - 4)));
        EXPECT_FALSE(doc.documentElement().isNull());
        EXPECT_FALSE(vd::parseReply(doc, reply(vd::kMaxDepth - 3)));
        EXPECT_TRUE(doc.documentElement().isNull());

        // Handed to the parser, this reply would take minutes, past the run's time limit;
        // load_bench times the refusal.
        EXPECT_FALSE(vd::parseReply(doc, reply(kDeep)));
        EXPECT_TRUE(doc.documentElement().isNull());
        EXPECT_EQ(errorNumberOf([&] { vd::root(doc); }), errors::ObjectNotSet);
    }
}

TEST(ParseReply, ADocumentCutOffHalfWayIsNoDocument) {
    const QByteArray whole = QByteArray::fromStdString(
        vendorDocument("3", "1", {{"1", "One"}, {"2", "Two"}, {"3", "Three"}}, {{"4", "Four"}}));
    const QByteArray half = whole.left(whole.size() / 2);
    QDomDocument doc;
    // Left to itself, the parser keeps the tree it had built up to the cut.
    EXPECT_FALSE(doc.setContent(half));
    ASSERT_FALSE(doc.documentElement().isNull());

    EXPECT_FALSE(vd::parseReply(doc, half));
    EXPECT_TRUE(doc.documentElement().isNull());
    EXPECT_TRUE(vd::parseReply(doc, whole));
    EXPECT_EQ(vd::countText(vd::childAt(vd::childAt(vd::childAt(vd::root(doc), 0), 0), 0)), "3");
    EXPECT_FALSE(vd::parseReply(doc, "<html><body>Bad gateway</body>"));
    EXPECT_TRUE(doc.documentElement().isNull());
    EXPECT_FALSE(vd::parseReply(doc, ""));
}
