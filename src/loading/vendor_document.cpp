#include "loading/vendor_document.h"

#include "common/text_services.h"
#include "control/control.h"
#include "control/list_view/progress_bar.h"
#include "lists/markers.h"

#include "common/errors.h"

#include <QDomDocument>
#include <QLabel>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string_view>

namespace tavrolin {
namespace vendor_document {
namespace {

const QString kSource = QStringLiteral("Tavrolin.ReadCounts");

// Code units of a reply, read in one width and byte order. Every character the depth scan looks
// for is ASCII, and no code unit of another character equals one of them in these encodings.
template <int Width, bool BigEndian>
struct Units {
    const uchar* data;
    qsizetype count;

    char32_t operator()(qsizetype i) const {
        const uchar* unit = data + i * Width;
        char32_t value = 0;
        for (int b = 0; b < Width; ++b)
            value |= char32_t(unit[BigEndian ? b : Width - 1 - b]) << (8 * (Width - 1 - b));
        return value;
    }
    // The position of the next unit c at or after from; count when there is none.
    qsizetype find(qsizetype from, char c) const {
        if (from >= count) return count;  // an empty reply has no data to search at all
        if constexpr (Width == 1) {
            const void* hit = std::memchr(data + from, c, size_t(count - from));
            return hit ? static_cast<const uchar*>(hit) - data : count;
        } else {
            while (from < count && (*this)(from) != char32_t(c)) ++from;
            return from;
        }
    }
    bool startsWith(qsizetype at, std::string_view text) const {
        if (count - at < qsizetype(text.size())) return false;
        for (size_t k = 0; k < text.size(); ++k)
            if ((*this)(at + qsizetype(k)) != char32_t(text[k])) return false;
        return true;
    }
    // The position just past the next occurrence of text; count when there is none.
    qsizetype skipPast(qsizetype from, std::string_view text) const {
        for (from = find(from, text[0]); from < count; from = find(from + 1, text[0]))
            if (startsWith(from, text)) return from + qsizetype(text.size());
        return count;
    }
    // The position just past the '>' that closes a tag, quoted values skipped; empty tells
    // whether it closed as "/>".
    qsizetype skipTag(qsizetype from, bool& empty) const {
        char32_t previous = 0;
        for (; from < count; ++from) {
            const char32_t unit = (*this)(from);
            if (unit == u'"' || unit == u'\'') {
                from = find(from + 1, char(unit));
                if (from == count) break;
            } else if (unit == u'>') {
                empty = previous == u'/';
                return from + 1;
            }
            previous = unit;
        }
        empty = false;
        return count;
    }
    // The position just past a declaration such as the document type, with the comments,
    // instructions and declarations of its internal subset, whose quotes need not pair up.
    qsizetype skipDeclaration(qsizetype from) const {
        bool empty = false;
        for (; from < count; ++from) {
            const char32_t unit = (*this)(from);
            if (unit == u'"' || unit == u'\'') {
                from = find(from + 1, char(unit));
                if (from == count) break;
            } else if (unit == u'>') {
                return from + 1;
            } else if (unit == u'[') {
                for (++from; from < count && (*this)(from) != u']';) {
                    if (startsWith(from, "<!--"))
                        from = skipPast(from + 4, "-->");
                    else if (startsWith(from, "<?"))
                        from = skipPast(from + 2, "?>");
                    else if (startsWith(from, "<"))
                        from = skipTag(from + 1, empty);
                    else
                        ++from;
                }
                if (from == count) break;
            }
        }
        return count;
    }
};

template <int Width, bool BigEndian>
bool nestsAtMostIn(const uchar* data, qsizetype size, int maxDepth) {
    const Units<Width, BigEndian> units{data, size / Width};
    int depth = 0;
    bool empty = false;
    for (qsizetype i = units.find(0, '<'); i < units.count; i = units.find(i, '<')) {
        if (units.startsWith(i, "<!--")) {
            i = units.skipPast(i + 4, "-->");
        } else if (units.startsWith(i, "<![CDATA[")) {
            i = units.skipPast(i + 9, "]]>");
        } else if (units.startsWith(i, "<?")) {
            i = units.skipPast(i + 2, "?>");
        } else if (units.startsWith(i, "<!")) {
            i = units.skipDeclaration(i + 2);
        } else if (units.startsWith(i, "</")) {
            i = units.skipTag(i + 2, empty);
            // A stray end tag must not make room for deeper nesting further on.
            if (depth > 0) --depth;
        } else {
            i = units.skipTag(i + 1, empty);
            if (depth >= maxDepth) return false;
            if (!empty) ++depth;
        }
    }
    return true;
}

// The text of a node and its descendants as the document's readers take it: a text, CDATA,
// comment or instruction node gives its own value; below it, comments and instructions give
// nothing. Walked in document order through parent links, in constant stack.
QString textContent(const QDomNode& top) {
    if (top.isText() || top.isCDATASection() || top.isComment() || top.isProcessingInstruction())
        return top.nodeValue();
    QString joined;
    QDomNode node = top.firstChild();
    while (!node.isNull()) {
        if (node.isText() || node.isCDATASection()) {
            joined += node.nodeValue();
        } else if (!node.isComment() && !node.isProcessingInstruction() &&
                   !node.firstChild().isNull()) {
            node = node.firstChild();
            continue;
        }
        while (node.nextSibling().isNull()) {
            node = node.parentNode();
            if (node.isNull() || node == top) return joined;
        }
        node = node.nextSibling();
    }
    return joined;
}

}  // namespace

QDomNode childAt(const QDomNode& parent, int position) {
    if (parent.isNull() || position < 0) errors::raise(errors::ObjectNotSet, kSource);
    QDomNode child = parent.firstChild();
    for (int i = 0; i < position && !child.isNull(); ++i) child = child.nextSibling();
    if (child.isNull()) errors::raise(errors::ObjectNotSet, kSource);
    return child;
}

QString countText(const QDomNode& element) {
    if (element.isNull()) errors::raise(errors::ObjectNotSet, kSource);
    return textContent(element).trimmed();
}

QString fieldText(const QDomNode& field) {
    return textContent(childAt(field, 0));
}

bool nestsAtMost(QByteArrayView reply, int maxDepth) {
    const auto* data = reinterpret_cast<const uchar*>(reply.data());
    const qsizetype size = reply.size();
    auto begins = [&](std::initializer_list<uchar> bytes) {
        return size >= qsizetype(bytes.size()) && std::equal(bytes.begin(), bytes.end(), data);
    };
    // The reply's width and byte order from its byte order mark or its first '<'.
    if (begins({0, 0, 0xFE, 0xFF}) || begins({0, 0, 0, '<'}))
        return nestsAtMostIn<4, true>(data, size, maxDepth);
    if (begins({0xFF, 0xFE, 0, 0}) || begins({'<', 0, 0, 0}))
        return nestsAtMostIn<4, false>(data, size, maxDepth);
    if (begins({0xFE, 0xFF}) || begins({0, '<'}))
        return nestsAtMostIn<2, true>(data, size, maxDepth);
    if (begins({0xFF, 0xFE}) || begins({'<', 0}))
        return nestsAtMostIn<2, false>(data, size, maxDepth);
    return nestsAtMostIn<1, false>(data, size, maxDepth);
}

bool parseReply(QDomDocument& document, const QByteArray& reply) {
    // The reader keeps what it had built when it met the fault; that tree is not the document.
    if (nestsAtMost(reply) && document.setContent(reply)) return true;
    document.clear();
    return false;
}

QDomNode root(const QDomDocument& document) {
    QDomElement element = document.documentElement();
    if (element.isNull()) errors::raise(errors::ObjectNotSet, kSource);
    return element;
}

}  // namespace vendor_document

void readCounts(Control& control) {
    using namespace vendor_document;
    if (!control.mXmlDoc)
        errors::raise(errors::ObjectNotSet, QStringLiteral("Tavrolin.ReadCounts"));
    const QDomNode counts = childAt(childAt(root(*control.mXmlDoc), kHeader), kCountGroup);
    control.mVendorCount = text::toInt16(countText(childAt(counts, kVendorCount)));
    control.mSelectedCount = text::toInt16(countText(childAt(counts, kSelectedCount)));
    control.ui.prbLoad->setMax(text::add16(control.mVendorCount, control.mSelectedCount));
    setCountCaption(control.ui.lblAllVendors, control.ui.lstVendors,
                    vendorCountCaption(control.mVendorCount));
    setCountCaption(control.ui.lblSelVendors, control.ui.lstSelectedVendors,
                    selectedCountCaption(control.mSelectedCount));
    control.mProgress = 0;
}

}  // namespace tavrolin
