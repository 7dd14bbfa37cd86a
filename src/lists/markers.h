#pragma once

#include <QString>

namespace tavrolin {

class ListItem;
class ListView;
struct Screen;

// Change markers: the hidden third column of every vendor row. The plain form is the row text
// as a six-digit picture ("000123"); a row standing in the other list than the one it was
// loaded into carries the plain form followed by the target's letter.
namespace markers {

// The column that holds the marker: sub-item 2 of a row, and sort key 2 of a list.
inline constexpr int kColumn = 2;

inline constexpr QChar kNewLink = u'N';      // arrived in lstSelectedVendors
inline constexpr QChar kRemovedLink = u'D';  // arrived in lstVendors

QString plainForm(const QString& rowText);
// A marker is plain when the whole of it reads as a decimal number.
bool isPlain(const QString& marker);
// What a commit will do with a row of this marker, for the user to see before committing:
// "Will be linked when you commit", "Will be unlinked when you commit", or nothing.
QString pendingChangeNote(const QString& marker);

}  // namespace markers

// Builds the row that arrives in target from the source row's text, name and old marker:
// a row leaving the list it was loaded into is flagged with the letter, one returning to it
// gets its plain marker back.
ListItem buildArrivingRow(ListView& target, const QString& text, const QString& name,
                          const QString& oldMarker, QChar letter);

QString vendorCountCaption(qint64 count);    // "Non Selected Active Vendors (n):"
QString selectedCountCaption(qint64 count);  // "Selected Vendors (n):"

// After a move the labels show the lists' row counts, the selected list's label first.
void refreshCountLabels(Screen& ui);

}  // namespace tavrolin
