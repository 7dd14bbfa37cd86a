#pragma once

namespace tavrolin {

struct Screen;

// A click in a list makes it the list the user works in: the other list loses its highlight
// and goes to single-row mode, and the move buttons follow how many rows of the clicked list
// are highlighted (">"/"<" for at most one, ">>"/"<<" for two or more).
void vendorsClicked(Screen& ui);
void selectedVendorsClicked(Screen& ui);

}  // namespace tavrolin
