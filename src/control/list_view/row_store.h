#pragma once

#include <QString>

#include <memory>
#include <vector>

namespace tavrolin {

class ListView;

// One row of a list: the row text (column 0), the name (1) and the change marker (2).
struct ListRow {
    QString texts[3];
    // The texts case-folded when set, so that sorting and searching regardless of letter case
    // compare plain code units. A text with nothing to fold shares its storage.
    QString keys[3];
    // The highlight as the list's selection model holds it; inside a batch of changes, the
    // highlight that the batch's end hands to the selection model.
    bool selected = false;
    bool removed = false;
    // Position in the list's row vector, valid for rows the model has announced.
    int index = -1;
    ListView* owner = nullptr;
};

using RowVector = std::vector<std::shared_ptr<ListRow>>;

void setRowText(ListRow& row, int column, const QString& text);
// The key a text is compared and searched by: ASCII letters lowered, anything else fully
// case-folded.
QString foldedKey(const QString& text);

// How a list orders its rows: by the folded text of one column, in one direction. Rows with
// equal keys keep their order.
struct RowOrder {
    int key = 0;
    bool descending = false;
    bool less(const ListRow& a, const ListRow& b) const {
        const int c = QString::compare(a.keys[key], b.keys[key], Qt::CaseSensitive);
        return descending ? c > 0 : c < 0;
    }
};

// Sorts rows[from, to); rows with equal keys keep their order.
void sortRows(RowVector& rows, size_t from, size_t to, const RowOrder& order);
// The same in two steps: where each row of the sorted range comes from (empty when every row
// already stands where the sort puts it), then the rows moved there.
std::vector<size_t> sortedOrder(const RowVector& rows, size_t from, size_t to,
                                const RowOrder& order);
void applyOrder(RowVector& rows, size_t from, const std::vector<size_t>& positions);

}  // namespace tavrolin
