#include "find/vendor_search.h"

namespace tavrolin {

namespace {
constexpr int kNameColumn = 1;
}  // namespace

ListItem findByName(const ListView& list, const QString& text) {
    return list.findContaining(kNameColumn, text);
}

ListItem findById(const ListView& list, const QString& text) {
    return list.findItem(text);
}

}  // namespace tavrolin
