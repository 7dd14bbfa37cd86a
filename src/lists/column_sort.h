#pragma once

namespace tavrolin {

class ListView;

// A click on a header of a list (1-based position). "ID" and the hidden third header sort by
// the change marker, whose zero-padded digits give numeric ID order; "Name" by name. A click
// on the column the list already sorts by reverses the direction.
void sortByHeader(ListView& list, int headerIndex);

}  // namespace tavrolin
