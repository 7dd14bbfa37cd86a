#include "lists/column_sort.h"

#include "control/list_view/list_view.h"

#include <tavrolin/run_time_error.h>

namespace tavrolin {

void sortByHeader(ListView& list, int headerIndex) {
    try {
        const ListView::Batch batch(list);
        const int column = headerIndex == 1 ? 3 : headerIndex;  // counted from 1
        if (list.sortKey() == column - 1) {
            list.setSortOrder(list.sortOrder() == Qt::AscendingOrder ? Qt::DescendingOrder
                                                                     : Qt::AscendingOrder);
        } else {
            // The list keeps its direction under the new column.
            list.setSortKey(column - 1);
        }
    } catch (const RunTimeError&) {
        // A header the list cannot sort by leaves both settings as they were.
    }
}

}  // namespace tavrolin
