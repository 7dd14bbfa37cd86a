#pragma once

#include <QDomNode>
#include <QString>

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

// The child node at a 0-based position; error 91 when there is none (or the node is null).
QDomNode childAt(const QDomNode& parent, int position);
// A count: the text of all descendants joined, surrounding white space removed.
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
