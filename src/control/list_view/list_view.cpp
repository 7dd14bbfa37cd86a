#include "control/list_view/list_view.h"

#include "common/errors.h"
#include "common/twips.h"

#include <QAbstractTableModel>
#include <QAccessible>
#include <QApplication>
#include <QFont>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QStyledItemDelegate>

#include <algorithm>

namespace tavrolin {

struct ListRow {
    QString texts[3];
    // The texts case-folded, made when a text is set, so that sorting and searching regardless
    // of letter case compare plain code units. A text with nothing to fold shares its storage.
    QString keys[3];
    bool selected = false;
    bool removed = false;
    bool inTail = true;  // appended since the list was last sorted
    ListView* owner = nullptr;
};

namespace {
const QString kSource = QStringLiteral("ListView");

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

void setText(ListRow& row, int column, const QString& text) {
    row.texts[column] = text;
    row.keys[column] = foldedKey(text);
}

// A row as the full sort sees it. The first four code units of the key after the prefix that
// every key of the column shares are packed into one integer, which settles most comparisons
// without reading the rows or their texts; a tie compares the whole keys.
struct SortEntry {
    quint64 head;
    const QChar* chars;
    qsizetype size;
    size_t index;  // position before the sort
};

void sortRows(std::vector<std::shared_ptr<ListRow>>& rows, int key, bool descending) {
    const size_t n = rows.size();
    if (n < 2) return;
    const QStringView first = rows[0]->keys[key];
    qsizetype common = first.size();
    for (size_t i = 1; i < n && common > 0; ++i) {
        const QStringView k = rows[i]->keys[key];
        const qsizetype limit = std::min(common, k.size());
        qsizetype j = 0;
        while (j < limit && k[j] == first[j]) ++j;
        common = j;
    }
    std::vector<SortEntry> entries(n);
    for (size_t i = 0; i < n; ++i) {
        const QString& k = rows[i]->keys[key];
        quint64 head = 0;
        for (qsizetype p = common; p < common + 4; ++p)
            head = (head << 16) | (p < k.size() ? k[p].unicode() : 0u);
        entries[i] = {head, k.constData(), k.size(), i};
    }
    std::stable_sort(
        entries.begin(), entries.end(), [descending](const SortEntry& a, const SortEntry& b) {
            if (a.head != b.head) return descending ? a.head > b.head : a.head < b.head;
            const int c = QStringView(a.chars, a.size)
                              .compare(QStringView(b.chars, b.size), Qt::CaseSensitive);
            return descending ? c > 0 : c < 0;
        });
    std::vector<std::shared_ptr<ListRow>> sorted;
    sorted.reserve(n);
    for (const SortEntry& e : entries) sorted.push_back(std::move(rows[e.index]));
    rows.swap(sorted);
}

// Above this many pairs of old and new ranges, Qt's comparison of a changed selection with the
// one before costs more than emptying the selection first; see ListView::handOverSelection.
constexpr qsizetype kPairwiseRangeLimit = 1 << 12;
}  // namespace

// The item model the Qt view reads. It shows the rows as of the last sync; between syncs the
// list may hold more or fewer rows, so every read is range-checked.
class ListModel : public QAbstractTableModel {
public:
    explicit ListModel(ListView* list) : QAbstractTableModel(list), mList(list) {}

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : mShownRows;
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(mList->mHeaders.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        const auto row = size_t(index.row());
        if (!index.isValid() || row >= mList->mRows.size() || index.column() > 2) return {};
        const auto& r = mList->mRows[row];
        switch (role) {
            case Qt::DisplayRole: return r->texts[index.column()];
            case Qt::FontRole: {
                if (note(r).isEmpty()) return {};
                QFont font = mList->font();
                font.setItalic(true);
                return font;
            }
            case Qt::ToolTipRole:
            case Qt::AccessibleDescriptionRole: {
                const QString text = note(r);
                return text.isEmpty() ? QVariant() : QVariant(text);
            }
            default: return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
            size_t(section) < mList->mHeaders.size())
            return mList->mHeaders[size_t(section)].first;
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    void showRows(int rows) {
        if (rows > mShownRows) {
            beginInsertRows({}, mShownRows, rows - 1);
            mShownRows = rows;
            endInsertRows();
        } else if (rows < mShownRows) {
            beginRemoveRows({}, rows, mShownRows - 1);
            mShownRows = rows;
            endRemoveRows();
        }
        // Only the rows on screen can show stale texts or highlights. A notice over every row
        // makes the tree view search its whole layout for the last one on each sync, which at
        // 32,767 rows costs more than a click may take.
        if (mShownRows > 0 && columnCount() > 0) {
            const QModelIndex top = mList->indexAt(QPoint(1, 0));
            const QModelIndex bottom = mList->indexAt(QPoint(1, mList->viewport()->height() - 1));
            const int first = top.isValid() ? top.row() : 0;
            const int last = bottom.isValid() ? bottom.row() : mShownRows - 1;
            if (first <= last)
                emit dataChanged(index(first, 0), index(last, columnCount() - 1));
        }
    }

    void insertHeader() {
        const int column = columnCount() - 1;
        beginInsertColumns({}, column, column);
        endInsertColumns();
    }

private:
    QString note(const std::shared_ptr<ListRow>& row) const {
        if (!mList->mRowNote || row->removed) return {};
        return mList->mRowNote(ListItem(row));
    }

    ListView* mList;
    int mShownRows = 0;
};

// Without full-row highlight only the first column shows the selection; the selection model
// still holds whole rows, as hosts and assistive technology count rows.
class FirstColumnHighlight : public QStyledItemDelegate {
public:
    FirstColumnHighlight(ListView* list) : QStyledItemDelegate(list), mList(list) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!mList->fullRowSelect() && index.column() > 0) option->state &= ~QStyle::State_Selected;
    }

private:
    ListView* mList;
};

// ---- ListItem -------------------------------------------------------------------------------

ListRow& ListItem::row(const char* operation) const {
    if (!mRow) errors::raise(errors::ObjectNotSet, QString::fromLatin1(operation));
    return *mRow;
}

QString ListItem::text() const { return row("ListItem.Text").texts[0]; }

QString ListItem::subItem(int index) const {
    ListRow& r = row("ListItem.SubItems");
    if (index < 1 || index > 2) errors::raise(errors::IndexOutOfBounds, kSource);
    return r.texts[index];
}

void ListItem::setSubItem(int index, const QString& value) {
    ListRow& r = row("ListItem.SubItems");
    if (index < 1 || index > 2) errors::raise(errors::IndexOutOfBounds, kSource);
    setText(r, index, value);
    if (r.owner) r.owner->rowKeyChanged(r, index);
}

bool ListItem::selected() const { return row("ListItem.Selected").selected; }

void ListItem::setSelected(bool selected) {
    ListRow& r = row("ListItem.Selected");
    if (r.owner)
        r.owner->highlightChanged(mRow, selected);
    else
        r.selected = selected;
}

void ListItem::ensureVisible() {
    ListRow& r = row("ListItem.EnsureVisible");
    if (!r.owner) return;
    ListView* list = r.owner;
    const int position = list->positionOf(r);
    list->syncView();
    list->scrollTo(list->model()->index(position - 1, 0));
}

int ListItem::position() const {
    const ListRow& r = row("ListItem.Index");
    return r.owner ? r.owner->positionOf(r) : 0;
}

// ---- ListView -------------------------------------------------------------------------------

ListView::ListView(QWidget* parent) : QTreeView(parent), mModel(new ListModel(this)) {
    setModel(mModel);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setItemDelegate(new FirstColumnHighlight(this));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setAllColumnsShowFocus(true);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(true);
    header()->setMinimumSectionSize(0);
    connect(header(), &QHeaderView::sectionClicked, this,
            [this](int logical) { emit columnClick(logical + 1); });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection& deselected) {
                // During a sync, a change Qt makes on its own (as rows leave the model) leaves
                // the selection model holding something else than was last handed to it.
                if (mSyncingSelection)
                    mHandedKnown = false;
                else
                    takeSelection(selected, deselected);
            });
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (!mSyncingSelection) takeCurrent(current);
            });
}

ListView::~ListView() {
    for (auto& r : mRows) r->owner = nullptr;
}

int ListView::count() const { return int(mRows.size() - size_t(mTombstones)); }

void ListView::checkPosition(int position, const char* operation) const {
    if (position < 1 || position > count())
        errors::raise(errors::IndexOutOfBounds, QString::fromLatin1(operation));
}

void ListView::ensureOrdered() const {
    const bool tail = size_t(mSortedCount) < mRows.size();
    if (!mNeedsFullSort && !tail) return;
    if (mTombstones) compact();
    const int key = std::clamp(mSortKey, 0, 2);
    const bool descending = mSortOrder == Qt::DescendingOrder;
    auto less = [key, descending](const std::shared_ptr<ListRow>& a,
                                  const std::shared_ptr<ListRow>& b) {
        const int c = QString::compare(a->keys[key], b->keys[key], Qt::CaseSensitive);
        return descending ? c > 0 : c < 0;
    };
    if (mNeedsFullSort) {
        sortRows(mRows, key, descending);
        for (auto& r : mRows) r->inTail = false;
    } else {
        for (auto it = mRows.begin() + mSortedCount; it != mRows.end(); ++it) (*it)->inTail = false;
        const auto middle = mRows.begin() + mSortedCount;
        std::stable_sort(middle, mRows.end(), less);
        std::inplace_merge(mRows.begin(), middle, mRows.end(), less);
    }
    mSortedCount = qsizetype(mRows.size());
    mNeedsFullSort = false;
}

void ListView::compact() const {
    if (!mTombstones) return;
    qsizetype sortedKept = 0;
    size_t out = 0;
    for (size_t in = 0; in < mRows.size(); ++in) {
        if (mRows[in]->removed) continue;
        if (qsizetype(in) < mSortedCount) ++sortedKept;
        if (out != in) mRows[out] = std::move(mRows[in]);
        ++out;
    }
    mRows.resize(out);
    mSortedCount = sortedKept;
    mTombstones = 0;
    mFirstTombstone = qsizetype(mRows.size());
}

// Makes index valid as a display position. Removals walked downwards leave their tombstones
// above every index still to be visited, so they are compacted only when something reaches
// past them.
void ListView::prepareIndex(qsizetype index) const {
    if (mNeedsFullSort || size_t(mSortedCount) < mRows.size())
        ensureOrdered();
    else if (mTombstones && index >= mFirstTombstone)
        compact();
}

ListItem ListView::item(int position) const {
    checkPosition(position, "ListItems.Item");
    prepareIndex(position - 1);
    return ListItem(mRows[size_t(position - 1)]);
}

ListItem ListView::add(const QString& text) {
    const bool wasEmpty = count() == 0;
    auto row = std::make_shared<ListRow>();
    setText(*row, 0, text);
    row->owner = this;
    mRows.push_back(row);
    if (wasEmpty) {
        // A list that receives its first row makes it current and highlighted.
        row->selected = true;
        mHighlighted = 1;
        mCurrent = row;
    }
    scheduleSync();
    return ListItem(row);
}

void ListView::remove(int position) {
    checkPosition(position, "ListItems.Remove");
    prepareIndex(position - 1);
    const auto& row = mRows[size_t(position - 1)];
    if (row->selected) --mHighlighted;
    row->removed = true;
    row->owner = nullptr;
    if (mCurrent == row) mCurrent.reset();
    if (mAnchor == row) mAnchor.reset();
    ++mTombstones;
    mFirstTombstone = position - 1;
    scheduleSync();
}

void ListView::clear() {
    for (auto& r : mRows) {
        r->owner = nullptr;
        r->removed = true;
    }
    mRows.clear();
    mSortedCount = 0;
    mNeedsFullSort = false;
    mTombstones = 0;
    mFirstTombstone = 0;
    mCurrent.reset();
    mAnchor.reset();
    mHighlighted = 0;
    scheduleSync();
}

ListItem ListView::selectedItem() const { return ListItem(mCurrent); }

void ListView::setMultiSelect(bool multiSelect) {
    mMultiSelect = multiSelect;
    // Assistive technology selects rows by the view's mode: one row, or several as with Ctrl.
    setSelectionMode(multiSelect ? QAbstractItemView::ExtendedSelection
                                 : QAbstractItemView::SingleSelection);
}

ListItem ListView::findItem(const QString& text) const {
    ensureOrdered();
    for (const auto& r : mRows)
        if (!r->removed && r->texts[0] == text) return ListItem(r);
    return {};
}

ListItem ListView::findContaining(int column, const QString& text) const {
    if (column < 0 || column > 2) errors::raise(errors::IndexOutOfBounds, kSource);
    ensureOrdered();
    const QString key = foldedKey(text);
    for (const auto& r : mRows)
        if (!r->removed && r->keys[column].contains(key, Qt::CaseSensitive)) return ListItem(r);
    return {};
}

void ListView::setSortKey(int column) {
    if (column < 0 || column > 2) errors::raise(errors::InvalidPropertyValue, "ListView.SortKey");
    mSortKey = column;
    mNeedsFullSort = true;
    header()->setSortIndicator(column == 2 ? 0 : column, mSortOrder);
    scheduleSync();
}

void ListView::setSortOrder(Qt::SortOrder order) {
    mSortOrder = order;
    mNeedsFullSort = true;
    header()->setSortIndicator(mSortKey == 2 ? 0 : mSortKey, order);
    scheduleSync();
}

void ListView::addColumnHeader(const QString& text, int widthTwips) {
    mHeaders.emplace_back(text, widthTwips);
    mModel->insertHeader();
    const int section = int(mHeaders.size()) - 1;
    if (widthTwips <= 0) {
        header()->hideSection(section);
    } else {
        header()->resizeSection(section, twipsToPixels(widthTwips));
    }
}

int ListView::columnHeaderCount() const { return int(mHeaders.size()); }

QString ListView::columnHeaderText(int index) const {
    if (index < 1 || size_t(index) > mHeaders.size())
        errors::raise(errors::IndexOutOfBounds, "ColumnHeaders.Item");
    return mHeaders[size_t(index - 1)].first;
}

int ListView::columnHeaderWidth(int index) const {
    if (index < 1 || size_t(index) > mHeaders.size())
        errors::raise(errors::IndexOutOfBounds, "ColumnHeaders.Item");
    const int section = index - 1;
    if (header()->isSectionHidden(section)) return 0;
    return pixelsToTwips(header()->sectionSize(section));
}

int ListView::widthTwips() const { return pixelsToTwips(width()); }

void ListView::setFullRowSelect(bool on) {
    mFullRowSelect = on;
    viewport()->update();
}

void ListView::rowKeyChanged(ListRow& row, int column) {
    // A row still in the unsorted tail is placed by the next merge; one already in place may
    // now stand wrong, so the list is re-sorted as a whole when next needed.
    if (!row.inTail && column == std::clamp(mSortKey, 0, 2)) mNeedsFullSort = true;
    scheduleSync();
}

void ListView::highlightChanged(const std::shared_ptr<ListRow>& row, bool selected) {
    if (selected) {
        if (!mMultiSelect) clearHighlightsExcept(row.get());
        mCurrent = row;
    }
    if (row->selected != selected) {
        row->selected = selected;
        mHighlighted += selected ? 1 : -1;
    }
    scheduleSync();
}

void ListView::clearHighlightsExcept(const ListRow* keep) {
    if (mHighlighted == 0) return;
    if (mHighlighted == 1 && keep && keep->selected) return;
    int remaining = 0;
    for (const auto& r : mRows) {
        if (r->removed || !r->selected) continue;
        if (r.get() == keep) {
            ++remaining;
        } else {
            r->selected = false;
        }
    }
    mHighlighted = remaining;
    scheduleSync();
}

int ListView::positionOf(const ListRow& row) const {
    ensureOrdered();
    compact();
    for (size_t i = 0; i < mRows.size(); ++i)
        if (mRows[i].get() == &row) return int(i) + 1;
    return 0;
}

void ListView::setRowNote(RowNote note) {
    mRowNote = std::move(note);
    viewport()->update();
}

void ListView::scheduleSync() {
    mSelectionDirty = true;
    if (mSyncPending) return;
    mSyncPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (mSyncPending) syncView();
        },
        Qt::QueuedConnection);
}

void ListView::syncView() {
    mSyncPending = false;
    ensureOrdered();
    compact();
    const QScopedValueRollback guard(mSyncingSelection, true);
    // Removing rows from the model makes Qt move the current index (and in single-row mode
    // select it); the hand-over below puts both back to what the rows say.
    const bool rowsChanged = mModel->rowCount() != count();
    // Rows leaving the model make Qt cut every selected range that reaches into them, range by
    // range, and compare the result with the selection before; with a long highlight that
    // costs more than emptying the selection and handing it over again.
    if (count() < mModel->rowCount() && mHandedRuns.size() > 1) {
        selectionModel()->clearSelection();
        mHandedRuns.clear();
        mHandedKnown = true;
    }
    mModel->showRows(count());
    if (mSelectionDirty || rowsChanged) handOverSelection();
    viewport()->update();
}

// Gives the selection model the whole highlight in one call: one range per run of adjacent
// highlighted rows, so a contiguous highlight of any length is one range.
void ListView::handOverSelection() {
    mSelectionDirty = false;
    std::vector<std::pair<int, int>> runs;
    int currentRow = -1;
    const int rows = int(mRows.size());
    int highlightsLeft = mHighlighted;
    bool currentLeft = bool(mCurrent);
    int runStart = -1;
    for (int i = 0; i < rows && (highlightsLeft > 0 || currentLeft || runStart >= 0); ++i) {
        const ListRow* r = mRows[size_t(i)].get();
        if (r == mCurrent.get()) {
            currentRow = i;
            currentLeft = false;
        }
        if (r->selected) {
            --highlightsLeft;
            if (runStart < 0) runStart = i;
        } else if (runStart >= 0) {
            runs.emplace_back(runStart, i - 1);
            runStart = -1;
        }
    }
    if (runStart >= 0) runs.emplace_back(runStart, rows - 1);

    QItemSelectionModel* model = selectionModel();
    const int columns = mModel->columnCount();
    const bool sameColumns = mHandedColumns == columns;
    if (!(mHandedKnown && sameColumns && runs == mHandedRuns) && columns > 0) {
        // Qt finds what changed by looking up each old range among the new ones, removing
        // the pairs it matches from the middle of both lists. With thousands of ranges on both
        // sides that takes a third of a second; emptying the selection first keeps it linear.
        if (qsizetype(mHandedRuns.size()) * qsizetype(runs.size()) > kPairwiseRangeLimit)
            model->clearSelection();
        const int lastColumn = columns - 1;
        QItemSelection selection;
        selection.reserve(qsizetype(runs.size()));
        for (const auto& [first, last] : runs)
            selection.append(
                QItemSelectionRange(mModel->index(first, 0), mModel->index(last, lastColumn)));
        model->select(selection, QItemSelectionModel::ClearAndSelect);
        mHandedRuns = std::move(runs);
        mHandedColumns = lastColumn + 1;
        mHandedKnown = true;
    }
    const QModelIndex current = currentRow >= 0 ? mModel->index(currentRow, 0) : QModelIndex();
    if (model->currentIndex() != current)
        model->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
}

void ListView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    // Working out the region of a long selection costs a look-up per range; repainting the few
    // rows on screen costs nothing. Assistive technology is told which rows changed.
    if (QAccessible::isActive())
        QTreeView::selectionChanged(selected, deselected);
    else
        viewport()->update();
}

ListRow* ListView::shownRow(int modelRow) const {
    if (modelRow < 0 || modelRow >= mModel->rowCount() || size_t(modelRow) >= mRows.size())
        return nullptr;
    ListRow* r = mRows[size_t(modelRow)].get();
    return r->removed ? nullptr : r;
}

// A selection made through the selection model, by row as the view shows them: deselected
// rows lose their highlight, selected rows are highlighted as setSelected does it (each
// becomes the current row; in single-row mode it clears the others). The next batch hands
// the normalised highlight back, whole rows, one row in single-row mode.
void ListView::takeSelection(const QItemSelection& selected, const QItemSelection& deselected) {
    for (const QItemSelectionRange& range : deselected) {
        for (int i = range.top(); i <= range.bottom(); ++i) {
            ListRow* r = shownRow(i);
            if (r && r->selected) {
                r->selected = false;
                --mHighlighted;
            }
        }
    }
    for (const QItemSelectionRange& range : selected) {
        for (int i = range.top(); i <= range.bottom(); ++i)
            if (shownRow(i)) highlightChanged(mRows[size_t(i)], true);
    }
    scheduleSync();
}

void ListView::takeCurrent(const QModelIndex& current) {
    ListRow* r = current.isValid() ? shownRow(current.row()) : nullptr;
    if (r)
        mCurrent = mRows[size_t(current.row())];
    else
        mCurrent.reset();
}

void ListView::focusInEvent(QFocusEvent* event) {
    // The view makes its first row current when focus arrives without one; the list's
    // current row is its own.
    const QModelIndex before = selectionModel()->currentIndex();
    {
        const QScopedValueRollback guard(mSyncingSelection, true);
        QTreeView::focusInEvent(event);
    }
    if (selectionModel()->currentIndex() != before) scheduleSync();
}

QRect ListView::rowRect(int position) {
    syncView();
    checkPosition(position, "ListView.rowRect");
    const QRect cell = visualRect(mModel->index(position - 1, 0));
    return QRect(0, cell.top(), viewport()->width(), cell.height());
}

// ---- user input -----------------------------------------------------------------------------

void ListView::applyClick(int position, Qt::KeyboardModifiers modifiers, Qt::MouseButton button) {
    const bool ctrl = modifiers & Qt::ControlModifier;
    const bool shift = modifiers & Qt::ShiftModifier;
    if (button == Qt::RightButton) {
        // A right click highlights the row under the pointer unless it already is.
        if (position == 0) return;
        ListItem row = item(position);
        if (!row.selected()) {
            clearHighlightsExcept(nullptr);
            row.setSelected(true);
        } else {
            mCurrent = row.mRow;
            scheduleSync();
        }
        mAnchor = row.mRow;
        return;
    }
    if (button != Qt::LeftButton) return;
    if (position == 0) {
        // A click on the empty area takes the highlight away and leaves the current row.
        if (!(mMultiSelect && ctrl)) clearHighlightsExcept(nullptr);
        return;
    }
    ListItem row = item(position);
    if (!mMultiSelect || (!ctrl && !shift)) {
        clearHighlightsExcept(nullptr);
        row.setSelected(true);
        mAnchor = row.mRow;
        return;
    }
    if (shift) {
        const int anchor = mAnchor && mAnchor->owner == this ? positionOf(*mAnchor) : position;
        if (!ctrl) clearHighlightsExcept(nullptr);
        ensureOrdered();
        compact();
        const int from = std::min(anchor, position), to = std::max(anchor, position);
        for (int p = from; p <= to; ++p) {
            ListRow& r = *mRows[size_t(p - 1)];
            if (!r.selected) {
                r.selected = true;
                ++mHighlighted;
            }
        }
        mCurrent = row.mRow;
        scheduleSync();
        return;
    }
    // Ctrl toggles one row of a several-row highlight.
    row.setSelected(!row.selected());
    mCurrent = row.mRow;
    mAnchor = row.mRow;
}

void ListView::mousePressEvent(QMouseEvent* event) {
    syncView();
    setFocus(Qt::MouseFocusReason);
    const QModelIndex index = indexAt(event->position().toPoint());
    applyClick(index.isValid() ? index.row() + 1 : 0, event->modifiers(), event->button());
    mPressed = true;
    event->accept();
}

void ListView::mouseDoubleClickEvent(QMouseEvent* event) {
    syncView();
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index.isValid() &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)))
        applyClick(index.row() + 1, event->modifiers(), event->button());
    mPressed = false;
    event->accept();
    if (event->button() == Qt::LeftButton) emit dblClick();
}

void ListView::mouseMoveEvent(QMouseEvent* event) { event->accept(); }

void ListView::mouseReleaseEvent(QMouseEvent* event) {
    const bool clicked = mPressed && event->button() == Qt::LeftButton;
    mPressed = false;
    event->accept();
    emit mouseUp(event->button(), event->modifiers(),
                 viewport()->mapTo(this, event->position().toPoint()));
    if (clicked) emit click();
}

void ListView::moveCurrent(int position, Qt::KeyboardModifiers modifiers) {
    const int n = count();
    if (n == 0) return;
    position = std::clamp(position, 1, n);
    ListItem row = item(position);
    if (mMultiSelect && (modifiers & Qt::ControlModifier)) {
        mCurrent = row.mRow;
        scheduleSync();
    } else {
        applyClick(position, modifiers & Qt::ShiftModifier, Qt::LeftButton);
    }
    row.ensureVisible();
}

void ListView::keyPressEvent(QKeyEvent* event) {
    const int current = mCurrent && mCurrent->owner == this ? positionOf(*mCurrent) : 0;
    const int page = std::max(1, viewport()->height() / std::max(1, sizeHintForRow(0)) - 1);
    switch (event->key()) {
        case Qt::Key_Down: moveCurrent(current + 1, event->modifiers()); break;
        case Qt::Key_Up: moveCurrent(std::max(1, current - 1), event->modifiers()); break;
        case Qt::Key_PageDown: moveCurrent(current + page, event->modifiers()); break;
        case Qt::Key_PageUp: moveCurrent(current - page, event->modifiers()); break;
        case Qt::Key_Home: moveCurrent(1, event->modifiers()); break;
        case Qt::Key_End: moveCurrent(count(), event->modifiers()); break;
        case Qt::Key_Space:
            if (current > 0 && mMultiSelect && (event->modifiers() & Qt::ControlModifier)) {
                ListItem row = item(current);
                row.setSelected(!row.selected());
            }
            break;
        case Qt::Key_A:
            if (mMultiSelect && (event->modifiers() & Qt::ControlModifier)) {
                for (const auto& r : mRows)
                    if (!r->removed && !r->selected) {
                        r->selected = true;
                        ++mHighlighted;
                    }
                scheduleSync();
                break;
            }
            [[fallthrough]];
        default: event->ignore(); return;
    }
    event->accept();
}

}  // namespace tavrolin
