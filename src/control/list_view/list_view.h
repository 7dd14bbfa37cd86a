#pragma once

#include <QString>
#include <QTreeView>

#include <functional>
#include <memory>
#include <vector>

class QItemSelection;

namespace tavrolin {

class ListView;
struct ListRow;

// A handle on one row of a ListView. It stays usable after the list re-orders; after the row
// was removed it still reads its texts but no longer belongs to a list. A null handle is the
// "none" of SelectedItem and FindItem: reading or writing through it is error 91.
class ListItem {
public:
    ListItem() = default;

    bool isNull() const noexcept { return !mRow; }
    explicit operator bool() const noexcept { return bool(mRow); }
    bool operator==(const ListItem& other) const noexcept { return mRow == other.mRow; }

    QString text() const;
    // Sub-items 1 (name) and 2 (change marker).
    QString subItem(int index) const;
    void setSubItem(int index, const QString& value);
    bool selected() const;
    // Highlighting a row makes it the current row; in single-row mode it clears the others.
    void setSelected(bool selected);
    void ensureVisible();
    // The row's 1-based position in display order, 0 once it has been removed.
    int position() const;

private:
    friend class ListView;
    friend class ListModel;
    explicit ListItem(std::shared_ptr<ListRow> row) : mRow(std::move(row)) {}
    ListRow& row(const char* operation) const;

    std::shared_ptr<ListRow> mRow;
};

// A report-style list with three text columns that keeps its rows sorted at all times, with
// 1-based positions, highlight and current row kept in the rows themselves. The view is told
// about changes in whole batches at the next event-loop turn (or when something needs screen
// geometry), so per-row operations cost no per-row work in Qt's item views: a list of
// 32,767 rows fills, sorts, highlights and empties in milliseconds.
//
// The view's selection model mirrors the highlight: each batch hands it the highlighted rows
// (one range per run of adjacent rows) and the current row. A change made through the
// selection model by someone else (host code, assistive technology) changes the highlight and
// the current row as the keyboard does, without a click.
class ListView : public QTreeView {
    Q_OBJECT

public:
    explicit ListView(QWidget* parent = nullptr);
    ~ListView() override;

    // Rows (ListItems)
    int count() const;
    ListItem item(int position) const;  // 1..count, else error 35600
    ListItem add(const QString& text);  // placed by the sort at once
    void remove(int position);          // the rows after it move up
    void clear();

    // The current row, or a null handle.
    ListItem selectedItem() const;
    bool multiSelect() const { return mMultiSelect; }
    void setMultiSelect(bool multiSelect);
    // First row, from the top, whose text equals the given text (whole word, exact).
    ListItem findItem(const QString& text) const;
    // First row, from the top, whose text in the column (0 to 2) contains the given text
    // regardless of letter case; an empty text matches the first row.
    ListItem findContaining(int column, const QString& text) const;

    int sortKey() const { return mSortKey; }
    void setSortKey(int column);
    Qt::SortOrder sortOrder() const { return mSortOrder; }
    void setSortOrder(Qt::SortOrder order);

    // Column headers, widths in twips (15 to a pixel); a width of 0 hides the column.
    void addColumnHeader(const QString& text, int widthTwips);
    int columnHeaderCount() const;
    QString columnHeaderText(int index) const;  // 1-based
    int columnHeaderWidth(int index) const;     // 1-based, twips
    int widthTwips() const;

    // Highlight spans the whole row (the list's Boolean full-row display option).
    void setFullRowSelect(bool on);
    bool fullRowSelect() const { return mFullRowSelect; }

    // Number of highlighted rows, kept as rows change (no walk).
    int highlightedCount() const { return mHighlighted; }

    // A note on a row that is shown without touching its texts: a non-empty note sets the
    // row's visible texts in italics and becomes their tooltip and accessible description.
    using RowNote = std::function<QString(const ListItem& row)>;
    void setRowNote(RowNote note);

    // Screen geometry of the row at a position, in viewport coordinates, for tools and tests.
    QRect rowRect(int position);
    // Brings the view up to date with the rows now (normally done at the next event-loop turn).
    void syncView();

signals:
    void click();
    void dblClick();
    void columnClick(int index);  // 1-based header position
    // A mouse button let go over the list, at a point in the list's own coordinates.
    void mouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

private:
    friend class ListItem;
    friend class ListModel;

    void ensureOrdered() const;
    void compact() const;
    void prepareIndex(qsizetype index) const;
    void rowKeyChanged(ListRow& row, int column);
    void highlightChanged(const std::shared_ptr<ListRow>& row, bool selected);
    void clearHighlightsExcept(const ListRow* keep);
    void scheduleSync();
    int positionOf(const ListRow& row) const;
    void applyClick(int position, Qt::KeyboardModifiers modifiers, Qt::MouseButton button);
    void moveCurrent(int position, Qt::KeyboardModifiers modifiers);
    void checkPosition(int position, const char* operation) const;
    void handOverSelection();
    void takeSelection(const QItemSelection& selected, const QItemSelection& deselected);
    void takeCurrent(const QModelIndex& current);
    ListRow* shownRow(int modelRow) const;

    class ListModel* mModel = nullptr;
    // Display order. Rows appended since the last sort wait in a tail from mSortedCount on;
    // removed rows stay as tombstones at or above mFirstTombstone until compacted.
    mutable std::vector<std::shared_ptr<ListRow>> mRows;
    mutable qsizetype mSortedCount = 0;
    mutable bool mNeedsFullSort = false;
    mutable qsizetype mTombstones = 0;
    mutable qsizetype mFirstTombstone = 0;
    std::shared_ptr<ListRow> mCurrent;
    std::shared_ptr<ListRow> mAnchor;
    int mHighlighted = 0;
    bool mMultiSelect = false;
    bool mFullRowSelect = false;
    int mSortKey = 0;
    Qt::SortOrder mSortOrder = Qt::AscendingOrder;
    std::vector<std::pair<QString, int>> mHeaders;  // text, width in twips
    bool mSyncPending = false;
    // The rows' highlight or order changed since the selection model was last told.
    bool mSelectionDirty = false;
    // Set while the list itself changes the model or the selection model, so that the
    // selection model's signals are not taken for a change from outside.
    bool mSyncingSelection = false;
    // The rows (first, last) last handed to the selection model, and whether it still holds
    // exactly those.
    std::vector<std::pair<int, int>> mHandedRuns;
    int mHandedColumns = 0;
    bool mHandedKnown = true;
    RowNote mRowNote;
    bool mPressed = false;
};

}  // namespace tavrolin
