#include "control/list_view/list_view.h"

#include "common/errors.h"
#include "common/twips.h"
#include "control/list_view/list_model.h"

#include <QAccessible>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QScopedValueRollback>
#include <QStyledItemDelegate>

#include <algorithm>

namespace tavrolin {

namespace {
const QString kSource = QStringLiteral("ListView");

// Above this many pairs of old and new ranges, Qt's comparison of a changed selection with the
// one before costs more than emptying the selection first; see ListView::handOverHighlight.
constexpr qsizetype kPairwiseRangeLimit = 1 << 12;
// Above this many selected ranges a re-sort hands the highlight over afresh.
constexpr qsizetype kRehandRangeLimit = 64;

// Without full-row highlight only the first column shows the selection; the selection model
// still holds whole rows, as hosts and assistive technology count rows.
class FirstColumnHighlight : public QStyledItemDelegate {
  public:
    explicit FirstColumnHighlight(ListView* list) : QStyledItemDelegate(list), mList(list) {}

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!mList->fullRowSelect() && index.column() > 0) option->state &= ~QStyle::State_Selected;
    }

  private:
    ListView* mList;
};

}  // namespace

// ---- ListItem -------------------------------------------------------------------------------

ListRow& ListItem::row(const char* operation) const {
    if (!mRow) errors::raise(errors::ObjectNotSet, QString::fromLatin1(operation));
    return *mRow;
}

QString ListItem::text() const {
    return row("ListItem.Text").texts[0];
}

QString ListItem::subItem(int index) const {
    ListRow& r = row("ListItem.SubItems");
    if (index < 1 || index > 2) errors::raise(errors::IndexOutOfBounds, kSource);
    return r.texts[index];
}

void ListItem::setSubItem(int index, const QString& value) {
    ListRow& r = row("ListItem.SubItems");
    if (index < 1 || index > 2) errors::raise(errors::IndexOutOfBounds, kSource);
    setRowText(r, index, value);
    if (r.owner) r.owner->rowTextChanged(r, index);
}

bool ListItem::selected() const {
    return row("ListItem.Selected").selected;
}

void ListItem::setSelected(bool selected) {
    ListRow& r = row("ListItem.Selected");
    if (r.owner)
        r.owner->writeHighlight(mRow, selected);
    else
        r.selected = selected;
}

void ListItem::ensureVisible() {
    ListRow& r = row("ListItem.EnsureVisible");
    if (!r.owner) return;
    ListView* list = r.owner;
    list->announce();
    list->scrollTo(list->indexOf(r));
}

int ListItem::position() const {
    const ListRow& r = row("ListItem.Index");
    return r.owner ? r.owner->positionOf(r) : 0;
}

// ---- ListView -------------------------------------------------------------------------------

ListView::Batch::Batch(ListView& list) : mLists{&list, nullptr} {
    ++list.mBatchDepth;
}

ListView::Batch::Batch(ListView& first, ListView& second) : mLists{&first, &second} {
    ++first.mBatchDepth;
    ++second.mBatchDepth;
}

ListView::Batch::~Batch() {
    bool ended[2] = {};
    for (int i = 0; i < 2; ++i) {
        ListView* list = mLists[i];
        if (!list || --list->mBatchDepth > 0) continue;
        ended[i] = true;
        list->announce();
        // The tree view lays its rows out when it next needs them; the accessible table built
        // on that layout must show the rows as the operation leaves them.
        list->executeDelayedItemsLayout();
    }
    // Only once both lists are in place: a move is told as a whole, never half done.
    for (int i = 0; i < 2; ++i)
        if (ended[i]) mLists[i]->tellRowsChanged();
}

ListView::ListView(QWidget* parent) : QTreeView(parent), mModel(new ListModel(this, this)) {
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
    // The header would ask the list's selection model whether a whole column is selected,
    // walking every selected range each time it paints; its own empty one answers at once.
    // Header clicks sort and never select.
    header()->setSelectionModel(new QItemSelectionModel(mModel, header()));
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(true);
    header()->setMinimumSectionSize(0);
    connect(header(), &QHeaderView::sectionClicked, this,
            [this](int logical) { emit columnClick(logical + 1); });
}

ListView::~ListView() {
    for (auto& r : mModel->rows()) r->owner = nullptr;
}

int ListView::count() const {
    return mModel->count();
}

void ListView::checkPosition(int position, const char* operation) const {
    if (position < 1 || position > count())
        errors::raise(errors::IndexOutOfBounds, QString::fromLatin1(operation));
}

// Rows above the first one marked removed stand at their positions, so a walk that removes
// downwards reads on without the removals being announced.
const std::shared_ptr<ListRow>& ListView::rowAtPosition(int position) const {
    if (mModel->orderWaits() || position - 1 >= mModel->firstRemoved()) announce();
    return mModel->rows()[size_t(position - 1)];
}

QModelIndex ListView::indexOf(const ListRow& row) const {
    return mModel->index(row.index, 0);
}

int ListView::positionOf(const ListRow& row) const {
    announce();
    return row.removed ? 0 : row.index + 1;
}

ListItem ListView::item(int position) const {
    checkPosition(position, "ListItems.Item");
    return ListItem(rowAtPosition(position));
}

ListItem ListView::add(const QString& text) {
    const bool wasEmpty = count() == 0;
    auto row = std::make_shared<ListRow>();
    setRowText(*row, 0, text);
    row->owner = this;
    mModel->append(row);
    noteRowsChanged();
    if (wasEmpty) {
        // A list that receives its first row makes it current and highlighted.
        setHighlightBit(*row, true);
        mCurrentWaits = true;
        mWaitingCurrent = row;
    }
    announceUnlessBatched();
    return ListItem(row);
}

void ListView::remove(int position) {
    checkPosition(position, "ListItems.Remove");
    const std::shared_ptr<ListRow> row = rowAtPosition(position);
    setHighlightBit(*row, false);
    const bool current = mCurrentWaits ? mWaitingCurrent == row
                                       : selectionModel()->currentIndex().row() == row->index;
    if (current) {
        mCurrentWaits = true;
        mWaitingCurrent.reset();
    }
    mModel->markRemoved(*row);
    noteRowsChanged();
    announceUnlessBatched();
}

void ListView::clear() {
    const QScopedValueRollback own(mOwnChange, mOwnChange + 1);
    mModel->clearRows();
    mHighlighted = 0;
    mHighlightWaits = false;
    mCurrentWaits = false;
    mWaitingCurrent.reset();
    mAnchor = QPersistentModelIndex();
    executeDelayedItemsLayout();
    noteRowsChanged();
    if (mBatchDepth == 0) tellRowsChanged();
}

ListItem ListView::selectedItem() const {
    if (mCurrentWaits) return ListItem(mWaitingCurrent);
    const QModelIndex current = selectionModel()->currentIndex();
    const ListRow* r = current.isValid() ? mModel->rowAt(current.row()) : nullptr;
    if (!r || r->removed) return {};
    return ListItem(mModel->sharedRowAt(current.row()));
}

void ListView::setMultiSelect(bool multiSelect) {
    mMultiSelect = multiSelect;
    // Keys and assistive technology select rows by the view's mode: one row, or several.
    setSelectionMode(multiSelect ? QAbstractItemView::ExtendedSelection
                                 : QAbstractItemView::SingleSelection);
}

ListItem ListView::findItem(const QString& text) const {
    announce();
    for (const auto& r : mModel->rows())
        if (r->texts[0] == text) return ListItem(r);
    return {};
}

ListItem ListView::findContaining(int column, const QString& text) const {
    if (column < 0 || column > 2) errors::raise(errors::IndexOutOfBounds, kSource);
    announce();
    const QString key = foldedKey(text);
    for (const auto& r : mModel->rows())
        if (r->keys[column].contains(key, Qt::CaseSensitive)) return ListItem(r);
    return {};
}

bool ListView::anyText(int column, bool (*test)(const QString& text)) const {
    if (column < 0 || column > 2) errors::raise(errors::IndexOutOfBounds, kSource);
    return std::any_of(mModel->rows().begin(), mModel->rows().end(),
                       [column, test](const auto& r) { return !r->removed && test(r->texts[column]); });
}

int ListView::sortKey() const {
    return mModel->order().key;
}

Qt::SortOrder ListView::sortOrder() const {
    return mModel->order().descending ? Qt::DescendingOrder : Qt::AscendingOrder;
}

void ListView::setSortKey(int column) {
    if (column < 0 || column > 2) errors::raise(errors::InvalidPropertyValue, "ListView.SortKey");
    setSortOrderAndKey(column, sortOrder());
}

void ListView::setSortOrder(Qt::SortOrder order) {
    setSortOrderAndKey(sortKey(), order);
}

void ListView::setSortOrderAndKey(int key, Qt::SortOrder order) {
    mModel->setOrder({key, order == Qt::DescendingOrder});
    header()->setSortIndicator(key == 2 ? 0 : key, order);
    announceUnlessBatched();
}

void ListView::addColumnHeader(const QString& text, int widthTwips) {
    mHeaders.emplace_back(text, widthTwips);
    mModel->addHeader(text);
    const int section = int(mHeaders.size()) - 1;
    if (section >= ListModel::kShownColumns) return;
    if (widthTwips <= 0)
        header()->hideSection(section);
    else
        header()->resizeSection(section, twipsToPixels(widthTwips));
}

int ListView::columnHeaderCount() const {
    return int(mHeaders.size());
}

QString ListView::columnHeaderText(int index) const {
    if (index < 1 || size_t(index) > mHeaders.size())
        errors::raise(errors::IndexOutOfBounds, "ColumnHeaders.Item");
    return mHeaders[size_t(index - 1)].first;
}

int ListView::columnHeaderWidth(int index) const {
    if (index < 1 || size_t(index) > mHeaders.size())
        errors::raise(errors::IndexOutOfBounds, "ColumnHeaders.Item");
    const int section = index - 1;
    if (section >= ListModel::kShownColumns || header()->isSectionHidden(section)) return 0;
    return pixelsToTwips(header()->sectionSize(section));
}

int ListView::widthTwips() const {
    return pixelsToTwips(width());
}

void ListView::setFullRowSelect(bool on) {
    mFullRowSelect = on;
    viewport()->update();
}

void ListView::setRowNote(RowNote note) {
    mRowNote = std::move(note);
    if (mRowNote)
        mModel->note = [this](const std::shared_ptr<ListRow>& row) {
            return row->removed ? QString() : mRowNote(ListItem(row));
        };
    else
        mModel->note = nullptr;
    viewport()->update();
}

QRect ListView::rowRect(int position) {
    checkPosition(position, "ListView.rowRect");
    const QRect cell = visualRect(indexOf(*rowAtPosition(position)));
    return QRect(0, cell.top(), viewport()->width(), cell.height());
}

void ListView::rowTextChanged(ListRow& row, int column) {
    mModel->textChanged(row, column);
    noteRowsChanged();
    announceUnlessBatched();
}

// ---- highlight ------------------------------------------------------------------------------

void ListView::setHighlightBit(ListRow& row, bool selected) {
    if (row.selected == selected) return;
    row.selected = selected;
    mHighlighted += selected ? 1 : -1;
    mHighlightWaits = true;
}

void ListView::clearHighlightBits(const ListRow* keep) {
    if (mHighlighted == 0 || (mHighlighted == 1 && keep && keep->selected)) return;
    for (const auto& r : mModel->rows())
        if (r.get() != keep) setHighlightBit(*r, false);
}

void ListView::writeHighlight(const std::shared_ptr<ListRow>& row, bool selected) {
    if (selected && !mMultiSelect) clearHighlightBits(row.get());
    setHighlightBit(*row, selected);
    if (selected) {
        mCurrentWaits = true;
        mWaitingCurrent = row;
    }
    announceUnlessBatched();
}

void ListView::announceUnlessBatched() {
    if (mBatchDepth > 0) return;
    announce();
    tellRowsChanged();
}

void ListView::noteRowsChanged() {
    mRowsChanged = true;
}

void ListView::tellRowsChanged() {
    if (!mRowsChanged) return;
    mRowsChanged = false;
    emit rowsChanged();
}

void ListView::announce() const {
    if (!mModel->waiting() && !mHighlightWaits && !mCurrentWaits) return;
    const QScopedValueRollback own(mOwnChange, mOwnChange + 1);
    // Rows leaving unselected leave cheaply: Qt cuts every selected range they touch.
    if (mHighlightWaits && mModel->removalsWait()) handOverHighlight();
    // Qt carries a selection through a re-sort by holding each selected row as a persistent
    // index and merging them back afterwards; a highlight of thousands of separate runs is
    // handed over again after the re-sort in a fraction of that time.
    if (mModel->orderWaits() && selectionModel()->selection().size() > kRehandRangeLimit) {
        std::vector<ListRow*> highlighted;
        highlighted.reserve(size_t(mHighlighted));
        for (const auto& r : mModel->rows())
            if (r->selected) highlighted.push_back(r.get());
        selectionModel()->clearSelection();
        for (ListRow* r : highlighted) const_cast<ListView*>(this)->setHighlightBit(*r, true);
    }
    mModel->announce();
    if (mHighlightWaits) handOverHighlight();
    mHighlightWaits = false;
    if (mCurrentWaits) {
        mCurrentWaits = false;
        const QModelIndex current = mWaitingCurrent && !mWaitingCurrent->removed
                                        ? indexOf(*mWaitingCurrent)
                                        : QModelIndex();
        mWaitingCurrent.reset();
        if (selectionModel()->currentIndex() != current)
            selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
    }
}

// Gives the selection model the highlight of the announced rows in one call: one range per
// run of adjacent highlighted rows.
void ListView::handOverHighlight() const {
    const int columns = mModel->columnCount();
    if (columns == 0) return;
    QItemSelection selection;
    const RowVector& rows = mModel->rows();
    int runStart = -1;
    for (int i = 0; i <= mModel->announced(); ++i) {
        const bool on = i < mModel->announced() && rows[size_t(i)]->selected;
        if (on && runStart < 0) runStart = i;
        if (!on && runStart >= 0) {
            selection.append(
                QItemSelectionRange(mModel->index(runStart, 0), mModel->index(i - 1, columns - 1)));
            runStart = -1;
        }
    }
    QItemSelectionModel* model = selectionModel();
    const QScopedValueRollback handingOver(mHandingOver, true);
    // Qt finds what changed by looking up each old range among the new ones, removing the
    // pairs it matches from the middle of both lists. With thousands of ranges on both sides
    // that takes a third of a second; emptying the selection first keeps it linear.
    if (model->selection().size() * selection.size() > kPairwiseRangeLimit) model->clearSelection();
    model->select(selection, QItemSelectionModel::ClearAndSelect);
}

void ListView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    if (!mHandingOver) takeSelectionChange(selected, deselected);
    // Working out the region of a long selection costs a look-up per range; repainting the few
    // rows on screen costs nothing. Assistive technology is told which rows changed.
    if (QAccessible::isActive())
        QTreeView::selectionChanged(selected, deselected);
    else
        viewport()->update();
    if (mOwnChange == 0) userSelectionChanged(selected);
}

// The rows' highlight follows the selection model, whoever changed it.
void ListView::takeSelectionChange(const QItemSelection& selected,
                                   const QItemSelection& deselected) {
    for (const QItemSelectionRange& range : deselected)
        for (int i = range.top(); i <= range.bottom(); ++i)
            if (ListRow* r = mModel->rowAt(i); r && r->selected) {
                r->selected = false;
                --mHighlighted;
            }
    for (const QItemSelectionRange& range : selected)
        for (int i = range.top(); i <= range.bottom(); ++i)
            if (ListRow* r = mModel->rowAt(i); r && !r->selected && !r->removed) {
                r->selected = true;
                ++mHighlighted;
            }
}

// A change made by someone else than the list: a key, assistive technology or host code.
// The highlight is kept in whole rows, one row in single-row mode, and a row that becomes
// highlighted becomes current, as when the program highlights it.
void ListView::userSelectionChanged(const QItemSelection& selected) {
    {
        const QScopedValueRollback own(mOwnChange, mOwnChange + 1);
        QItemSelectionModel* model = selectionModel();
        const int lastColumn = mModel->columnCount() - 1;
        QItemSelection partRows;
        for (const QItemSelectionRange& range : selected)
            if (range.left() > 0 || range.right() < lastColumn)
                partRows.append(QItemSelectionRange(mModel->index(range.top(), 0),
                                                    mModel->index(range.bottom(), lastColumn)));
        if (!partRows.isEmpty()) model->select(partRows, QItemSelectionModel::Select);
        if (!selected.isEmpty()) {
            const QModelIndex last = mModel->index(selected.last().bottom(), 0);
            if (!mMultiSelect && mHighlighted > 1)
                model->select(last,
                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            // Qt's keys make the row current themselves, and Ctrl+A leaves it where it is.
            const QModelIndex current = model->currentIndex();
            const bool currentArrived = current.isValid() && selected.contains(current);
            if (!mInKeyPress && !currentArrived)
                model->setCurrentIndex(last, QItemSelectionModel::NoUpdate);
        }
    }
    if (mInKeyPress)
        mKeyChangedHighlight = true;
    else
        emit highlightChangedWithoutClick();
}

void ListView::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
    // A removed current row leaves no current row; Qt's view would move it, and in single-row
    // mode the highlight with it, to a neighbour.
    const QModelIndex current = selectionModel()->currentIndex();
    if (!parent.isValid() && current.isValid() && current.row() >= start && current.row() <= end) {
        const QScopedValueRollback own(mOwnChange, mOwnChange + 1);
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    }
    QTreeView::rowsAboutToBeRemoved(parent, start, end);
}

void ListView::focusInEvent(QFocusEvent* event) {
    // The view makes its first row current when focus arrives without one; the list's
    // current row is its own.
    const QModelIndex before = selectionModel()->currentIndex();
    const QScopedValueRollback own(mOwnChange, mOwnChange + 1);
    QTreeView::focusInEvent(event);
    if (selectionModel()->currentIndex() != before)
        selectionModel()->setCurrentIndex(before, QItemSelectionModel::NoUpdate);
}

}  // namespace tavrolin
