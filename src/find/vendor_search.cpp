#include "find/vendor_search.h"

namespace tavrolin {

ListItem findByName(const ListView& list, const QString& text) {
    for (int p = 1; p <= list.count(); ++p) {
        ListItem row = list.item(p);
        if (row.subItem(1).contains(text, Qt::CaseInsensitive)) return row;
    }
    return {};
}

ListItem findById(const ListView& list, const QString& text) {
    return list.findItem(text);
}

}  // namespace tavrolin
