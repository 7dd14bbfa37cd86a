#include "control/list_view/list_model.h"

#include <QFont>
#include <QWidget>

#include <algorithm>
#include <climits>

namespace tavrolin {
namespace {

// Up to this many separate runs of removed rows are announced run by run; beyond it one layout
// change drops them all, since every removal makes Qt walk every persistent index.
constexpr int kRemovalRunLimit = 16;
// Up to this many waiting rows are inserted one by one where they belong.
constexpr size_t kSingleInsertLimit = 4;

}  // namespace

ListModel::ListModel(QObject* parent, const QWidget* fontSource)
    : QAbstractTableModel(parent), mFontSource(fontSource), mFirstRemoved(INT_MAX) {}

int ListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : mAnnounced;
}

int ListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(std::min<qsizetype>(mHeaders.size(), kShownColumns));
}

ListRow* ListModel::rowAt(int modelRow) const {
    return modelRow >= 0 && modelRow < mAnnounced ? mRows[size_t(modelRow)].get() : nullptr;
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
    const ListRow* r = index.isValid() ? rowAt(index.row()) : nullptr;
    if (!r || index.column() >= kShownColumns) return {};
    const auto& shared = mRows[size_t(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            return r->texts[index.column()];
        case Qt::FontRole: {
            if (!note || note(shared).isEmpty()) return {};
            QFont font = mFontSource->font();
            font.setItalic(true);
            return font;
        }
        case Qt::ToolTipRole:
        case Qt::AccessibleDescriptionRole: {
            const QString text = note ? note(shared) : QString();
            return text.isEmpty() ? QVariant() : QVariant(text);
        }
        default:
            return {};
    }
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < columnCount())
        return mHeaders[section];
    return {};
}

Qt::ItemFlags ListModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void ListModel::addHeader(const QString& text) {
    const int column = int(mHeaders.size());
    if (column < kShownColumns) beginInsertColumns({}, column, column);
    mHeaders << text;
    if (column < kShownColumns) endInsertColumns();
}

void ListModel::append(std::shared_ptr<ListRow> row) {
    row->index = -1;
    mRows.push_back(std::move(row));
}

void ListModel::markRemoved(ListRow& row) {
    row.removed = true;
    row.owner = nullptr;
    ++mRemoved;
    mFirstRemoved = std::min(mFirstRemoved, row.index);
}

void ListModel::clearRows() {
    beginResetModel();
    for (auto& r : mRows) {
        r->owner = nullptr;
        r->removed = true;
        r->index = -1;
    }
    mRows.clear();
    mAnnounced = 0;
    mRemoved = 0;
    mFirstRemoved = INT_MAX;
    mNeedsSort = false;
    endResetModel();
}

void ListModel::textChanged(ListRow& row, int column) {
    if (row.index < 0 || row.removed) return;  // waiting rows are placed when announced
    emit dataChanged(index(row.index, 0), index(row.index, columnCount() - 1));
    if (column == mOrder.key && !mNeedsSort) reposition(row);
}

// A row whose sort key changed moves to where it now belongs, after the rows of equal key.
void ListModel::reposition(const ListRow& row) {
    const int from = row.index;
    const auto less = [this](const std::shared_ptr<ListRow>& a, const std::shared_ptr<ListRow>& b) {
        return mOrder.less(*a, *b);
    };
    const auto begin = mRows.begin();
    const auto& moving = mRows[size_t(from)];
    int to;  // the row it goes before, counted as the rows stand now
    if (from > 0 && less(moving, mRows[size_t(from - 1)]))
        to = int(std::upper_bound(begin, begin + from, moving, less) - begin);
    else
        to = int(std::upper_bound(begin + from + 1, begin + mAnnounced, moving, less) - begin);
    if (to == from || to == from + 1) return;
    beginMoveRows({}, from, from, {}, to);
    if (to > from)
        std::rotate(begin + from, begin + from + 1, begin + to);
    else
        std::rotate(begin + to, begin + from, begin + from + 1);
    renumber(std::min(from, to));
    endMoveRows();
}

void ListModel::setOrder(RowOrder order) {
    mOrder = order;
    mNeedsSort = true;
}

void ListModel::announce() {
    if (mRemoved > 0) announceRemovals();
    if (size_t(mAnnounced) < mRows.size())
        announceWaitingRows();
    else if (mNeedsSort)
        sortAnnounced();
    mNeedsSort = false;
}

void ListModel::renumber(int from) {
    for (int i = from; i < mAnnounced; ++i) mRows[size_t(i)]->index = i;
}

// Moves rows inside the layout-change signals and carries every persistent index to where its
// row went; indexes of rows that are gone become invalid. Each index is followed through its
// row, so the cost grows with the indexes held, not with the rows.
template <typename Reorder>
void ListModel::changeLayout(Reorder reorder) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList from = persistentIndexList();
    RowVector held;
    held.reserve(size_t(from.size()));
    for (const QModelIndex& old : from)
        held.push_back(old.row() < mAnnounced ? mRows[size_t(old.row())] : nullptr);
    reorder();
    renumber(0);
    QModelIndexList to;
    to.reserve(from.size());
    for (qsizetype i = 0; i < from.size(); ++i) {
        const ListRow* row = held[size_t(i)].get();
        to.append(row && !row->removed ? index(row->index, from[i].column()) : QModelIndex());
    }
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ListModel::announceRemovals() {
    std::vector<std::pair<int, int>> runs;  // first, last
    for (int i = std::max(0, mFirstRemoved); i < mAnnounced; ++i) {
        if (!mRows[size_t(i)]->removed) continue;
        if (!runs.empty() && runs.back().second == i - 1)
            runs.back().second = i;
        else
            runs.emplace_back(i, i);
    }
    if (int(runs.size()) <= kRemovalRunLimit) {
        // From the bottom up, so that the runs still to announce keep their rows.
        for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
            beginRemoveRows({}, run->first, run->second);
            mRows.erase(mRows.begin() + run->first, mRows.begin() + run->second + 1);
            mAnnounced -= run->second - run->first + 1;
            endRemoveRows();
        }
        renumber(runs.empty() ? mAnnounced : runs.front().first);
    } else {
        changeLayout([this] {
            const auto kept = std::stable_partition(mRows.begin(), mRows.begin() + mAnnounced,
                                                    [](const auto& r) { return !r->removed; });
            const auto gone = (mRows.begin() + mAnnounced) - kept;
            mRows.erase(kept, mRows.begin() + mAnnounced);
            mAnnounced -= int(gone);
        });
    }
    mRemoved = 0;
    mFirstRemoved = INT_MAX;
}

void ListModel::announceWaitingRows() {
    const size_t first = size_t(mAnnounced);
    // Waiting rows are not in the model yet: ordering them among themselves costs no signal.
    sortRows(mRows, first, mRows.size(), mOrder);
    const auto less = [this](const std::shared_ptr<ListRow>& a, const std::shared_ptr<ListRow>& b) {
        return mOrder.less(*a, *b);
    };
    if (!mNeedsSort && mRows.size() - first <= kSingleInsertLimit) {
        for (size_t w = first; w < mRows.size(); ++w) {
            const auto end = mRows.begin() + mAnnounced;
            const int at =
                int(std::upper_bound(mRows.begin(), end, mRows[w], less) - mRows.begin());
            beginInsertRows({}, at, at);
            std::rotate(mRows.begin() + at, mRows.begin() + qsizetype(w),
                        mRows.begin() + qsizetype(w) + 1);
            ++mAnnounced;
            renumber(at);
            endInsertRows();
        }
        return;
    }
    beginInsertRows({}, mAnnounced, int(mRows.size()) - 1);
    mAnnounced = int(mRows.size());
    renumber(int(first));
    endInsertRows();
    const bool inOrder = !mNeedsSort && (first == 0 || !less(mRows[first], mRows[first - 1]));
    if (inOrder) return;
    if (mNeedsSort) {
        sortAnnounced();
    } else {
        changeLayout([&] {
            std::inplace_merge(mRows.begin(), mRows.begin() + qsizetype(first), mRows.end(), less);
        });
    }
}

// The sort is worked out before Qt hears of it: rows already in order make no layout change.
void ListModel::sortAnnounced() {
    const std::vector<size_t> positions = sortedOrder(mRows, 0, size_t(mAnnounced), mOrder);
    if (positions.empty()) return;
    changeLayout([&] { applyOrder(mRows, 0, positions); });
}

}  // namespace tavrolin
