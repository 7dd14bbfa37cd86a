#pragma once

namespace tavrolin {

struct Control;

// Connects the list events (clicks, double-clicks, header clicks, popup menu) and the four
// move buttons to the list editing operations.
void connectListEditing(Control& control);

}  // namespace tavrolin
