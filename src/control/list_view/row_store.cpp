#include "control/list_view/row_store.h"

#include <algorithm>

namespace tavrolin {

// Qt's full case folding walks a table per character; the texts of a list are nearly always
// ASCII, where folding is A-Z to a-z, and IDs and markers have nothing to fold at all.
QString foldedKey(const QString& text) {
    const auto* chars = reinterpret_cast<const char16_t*>(text.utf16());
    const qsizetype size = text.size();
    qsizetype i = 0;
    for (; i < size; ++i) {
        if (chars[i] >= 0x80) return text.toCaseFolded();
        if (chars[i] >= u'A' && chars[i] <= u'Z') break;
    }
    if (i == size) return text;
    QString folded(text.constData(), size);
    char16_t* out = reinterpret_cast<char16_t*>(folded.data());
    for (; i < size; ++i) {
        if (out[i] >= 0x80) return text.toCaseFolded();
        if (out[i] >= u'A' && out[i] <= u'Z') out[i] = char16_t(out[i] + (u'a' - u'A'));
    }
    return folded;
}

void setRowText(ListRow& row, int column, const QString& text) {
    row.texts[column] = text;
    row.keys[column] = foldedKey(text);
}

namespace {

// A row as the full sort sees it. The first four code units of the key after the prefix that
// every key of the column shares are packed into one integer, which settles most comparisons
// without reading the rows or their texts; a tie compares the whole keys.
struct SortEntry {
    quint64 head;
    const QChar* chars;
    qsizetype size;
    size_t index;  // position before the sort
};

}  // namespace

std::vector<size_t> sortedOrder(const RowVector& rows, size_t from, size_t to,
                                const RowOrder& order) {
    if (to - from < 2) return {};
    const int key = order.key;
    const QStringView first = rows[from]->keys[key];
    qsizetype common = first.size();
    for (size_t i = from + 1; i < to && common > 0; ++i) {
        const QStringView k = rows[i]->keys[key];
        const qsizetype limit = std::min(common, k.size());
        qsizetype j = 0;
        while (j < limit && k[j] == first[j]) ++j;
        common = j;
    }
    std::vector<SortEntry> entries(to - from);
    for (size_t i = from; i < to; ++i) {
        const QString& k = rows[i]->keys[key];
        quint64 head = 0;
        for (qsizetype p = common; p < common + 4; ++p)
            head = (head << 16) | (p < k.size() ? k[p].unicode() : 0u);
        entries[i - from] = {head, k.constData(), k.size(), i};
    }
    const bool descending = order.descending;
    std::stable_sort(
        entries.begin(), entries.end(), [descending](const SortEntry& a, const SortEntry& b) {
            if (a.head != b.head) return descending ? a.head > b.head : a.head < b.head;
            const int c = QStringView(a.chars, a.size)
                              .compare(QStringView(b.chars, b.size), Qt::CaseSensitive);
            return descending ? c > 0 : c < 0;
        });
    std::vector<size_t> positions;
    bool moved = false;
    for (size_t i = 0; i < entries.size() && !moved; ++i) moved = entries[i].index != from + i;
    if (!moved) return {};
    positions.reserve(entries.size());
    for (const SortEntry& e : entries) positions.push_back(e.index);
    return positions;
}

void applyOrder(RowVector& rows, size_t from, const std::vector<size_t>& positions) {
    RowVector sorted;
    sorted.reserve(positions.size());
    for (size_t position : positions) sorted.push_back(std::move(rows[position]));
    std::move(sorted.begin(), sorted.end(), rows.begin() + qsizetype(from));
}

void sortRows(RowVector& rows, size_t from, size_t to, const RowOrder& order) {
    const std::vector<size_t> positions = sortedOrder(rows, from, to, order);
    if (!positions.empty()) applyOrder(rows, from, positions);
}

}  // namespace tavrolin
