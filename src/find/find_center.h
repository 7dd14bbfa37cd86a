#pragma once

#include <QString>

namespace tavrolin {

struct Control;
struct Screen;

// Connects the find center's options, text boxes and Find button.
void connectFindCenter(Control& control);

// Choosing the key (optFind index: 1 "ID", 0 "Name") empties and locks the other box and
// unlocks the chosen one, which keeps its text.
void chooseSearchKey(Screen& ui, int index);
// "Find" is available while the box whose text just changed holds text.
void searchTextChanged(Screen& ui, const QString& text);
// Finds the vendor in the chosen list by the chosen key: highlights it, scrolls to it and
// focuses the list, or tells the user "Not found".
void findVendor(Screen& ui);

}  // namespace tavrolin
