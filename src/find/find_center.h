#pragma once

namespace tavrolin {

struct Control;

// Connects the find center's options, text boxes and Find button.
void connectFindCenter(Control& control);

}  // namespace tavrolin
