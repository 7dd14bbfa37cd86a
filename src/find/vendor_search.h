#pragma once

#include "control/list_view/list_view.h"

#include <QString>

namespace tavrolin {

// The first row, in the list's current order, whose name contains the text anywhere,
// regardless of letter case. The text is taken as typed: an empty text matches the first row.
ListItem findByName(const ListView& list, const QString& text);

// The first row whose ID text is exactly the text: "123" finds the row 123, never "000123"
// (the zero-padded marker is not searched).
ListItem findById(const ListView& list, const QString& text);

}  // namespace tavrolin
