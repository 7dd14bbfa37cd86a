#pragma once

#include <QByteArrayView>
#include <QDomNode>
#include <QString>

class QDomDocument;

namespace tavrolin {

struct Control;

// The vendor document is read by position only; element names never matter.
//   document element / 0 header / 0 count group / 0 vendor count, 1 selected count
//   document element / 1 non-selected list, 2 selected list; each record: 0 ID, 1 name.
namespace vendor_document {

inline constexpr int kHeader = 0;
inline constexpr int kCountGroup = 0;
inline constexpr int kVendorCount = 0;
inline constexpr int kSelectedCount = 1;
inline constexpr int kNonSelectedList = 1;
inline constexpr int kSelectedList = 2;
inline constexpr int kIdField = 0;
inline constexpr int kNameField = 1;

// The deepest nesting of elements a vendor document may have. The document needs four levels;
// the XML reader builds a deeper tree in time that grows with the square of the depth and
// frees it again one stack frame per level, so a deeper reply is no document.
inline constexpr int kMaxDepth = 256;

// Whether no element of the reply lies deeper than maxDepth (the document element is at 1).
// One pass over the bytes, in constant memory, without parsing; comments, CDATA sections,
// processing instructions, declarations and quoted attribute values do not count. Reads
// UTF-16 and UTF-32 replies, told by their byte order mark or first characters, by code unit.
bool nestsAtMost(QByteArrayView reply, int maxDepth = kMaxDepth);
// Reads a reply into the document. A reply nested too deep or not well formed (an error page
// that is not XML, a document cut off half way) leaves the document empty, without a document
// element; returns whether the reply was a document.
bool parseReply(QDomDocument& document, const QByteArray& reply);

// The child node at a 0-based position; error 91 when there is none (or the node is null).
QDomNode childAt(const QDomNode& parent, int position);
// A count: the text of all descendants joined, surrounding white space removed. Descendants are
// walked without recursion, so any depth costs the same stack.
QString countText(const QDomNode& element);
// A record field: the text of its first child node only; error 91 when it has none.
QString fieldText(const QDomNode& field);
// The document element; error 91 when the reply was no XML.
QDomNode root(const QDomDocument& document);

}  // namespace vendor_document

// Reads the header's counts into mVendorCount and mSelectedCount, sets the progress scale to
// their 16-bit sum and the count labels, and resets mProgress. Errors pass to the caller
// unchanged; what was stored before the failing step stays.
void readCounts(Control& control);

}  // namespace tavrolin
