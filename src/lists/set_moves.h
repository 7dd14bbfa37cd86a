#pragma once

namespace tavrolin {

struct Screen;

// ">>": every highlighted row of lstVendors moves into lstSelectedVendors, where exactly the
// arrived rows end up highlighted. No check for an ID already present.
void addAllVendors(Screen& ui);
// "<<": the same from lstSelectedVendors into lstVendors.
void removeAllVendors(Screen& ui);

}  // namespace tavrolin
