#pragma once

#include <QPoint>

namespace tavrolin {

struct Screen;

// ">" and a double-click on lstVendors: moves the current row of lstVendors into
// lstSelectedVendors, unless lstSelectedVendors already holds a vendor with that ID.
void addVendor(Screen& ui);
// "<", a double-click on lstSelectedVendors and the popup item "Remove": moves the current
// row of lstSelectedVendors into lstVendors.
void removeVendor(Screen& ui);
// A mouse button released over lstSelectedVendors: the right button opens the "Remove" popup
// at the pointer (a point in the list's own coordinates) when there is a row to remove.
void showRemoveMenu(Screen& ui, Qt::MouseButton button, QPoint position);

}  // namespace tavrolin
