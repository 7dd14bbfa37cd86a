#pragma once

namespace tavrolin {

struct Control;

// Fill lstVendors from the document's non-selected list, then lstSelectedVendors from the
// selected list: one row per record with a plain marker, the progress bar advancing per row,
// each list sorted on its marker column and the find options for it enabled. Errors pass to
// the load; rows appended before the failing record stay.
void fillVendors(Control& control);
void fillSelectedVendors(Control& control);

}  // namespace tavrolin
