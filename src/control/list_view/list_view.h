#pragma once

#include "control/list_view/row_store.h"

#include <QPersistentModelIndex>
#include <QString>
#include <QTreeView>

#include <functional>
#include <memory>
#include <vector>

class QItemSelection;

namespace tavrolin {

class ListModel;

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
    explicit ListItem(std::shared_ptr<ListRow> row) : mRow(std::move(row)) {}
    ListRow& row(const char* operation) const;

    std::shared_ptr<ListRow> mRow;
};

// A report-style list with three text columns that keeps its rows sorted at all times, with
// 1-based positions. The rows live in the list's model (ListModel), which shows the row text
// and the name; the third column, the change marker, is the list's own. The highlight is the
// selection model's and the current row its current index.
//
// Every change is in the model and the selection model when the call that made it returns.
// The control's operations run in a Batch, which collects the changes to many rows and hands
// them over once, when it ends (or earlier, when a step needs the rows in place), and then
// brings the view's layout, and the accessible table built on it, up to date as well.
class ListView : public QTreeView {
    Q_OBJECT

  public:
    explicit ListView(QWidget* parent = nullptr);
    ~ListView() override;

    // Collects the changes made to the lists while it lives and hands them to the models and
    // selection models when it ends.
    class Batch {
      public:
        explicit Batch(ListView& list);
        Batch(ListView& first, ListView& second);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

      private:
        ListView* mLists[2];
    };

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
    // Whether any row's text in the column (0 to 2) passes the test.
    bool anyText(int column, bool (*test)(const QString& text)) const;

    int sortKey() const;
    void setSortKey(int column);
    Qt::SortOrder sortOrder() const;
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

    // Number of highlighted rows, kept as the highlight changes (no walk).
    int highlightedCount() const { return mHighlighted; }

    // A note on a row that is shown without touching its texts: a non-empty note sets the
    // row's visible texts in italics and becomes their tooltip and accessible description.
    using RowNote = std::function<QString(const ListItem& row)>;
    void setRowNote(RowNote note);

    // Screen geometry of the row at a position, in viewport coordinates, for tools and tests.
    QRect rowRect(int position);

  signals:
    void click();
    void dblClick();
    void columnClick(int index);  // 1-based header position
    // A mouse button let go over the list, at a point in the list's own coordinates.
    void mouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);
    // The highlight changed other than by a click: from the keyboard, through assistive
    // technology or by code working on the selection model. Once per key press or change.
    void highlightChangedWithoutClick();
    // Enter or Return on the list.
    void enterPressed();
    // The Delete key on the list.
    void deletePressed();
    // The Menu key or Shift+F10: a menu for the current row, at a point in the list's own
    // coordinates.
    void menuKeyPressed(QPoint position);
    // Rows were added, removed or had a text changed, and the model shows them: at the end of
    // the outermost Batch, or at once for a change made outside one. Once per batch.
    void rowsChanged();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

  private:
    friend class ListItem;

    // Brings the model and the selection model up to date with the changes collected.
    void announce() const;
    void announceUnlessBatched();
    void noteRowsChanged();
    void tellRowsChanged();
    const std::shared_ptr<ListRow>& rowAtPosition(int position) const;
    int positionOf(const ListRow& row) const;
    void checkPosition(int position, const char* operation) const;
    QModelIndex indexOf(const ListRow& row) const;
    void rowTextChanged(ListRow& row, int column);
    void writeHighlight(const std::shared_ptr<ListRow>& row, bool selected);
    void setHighlightBit(ListRow& row, bool selected);
    void clearHighlightBits(const ListRow* keep);
    void handOverHighlight() const;
    void takeSelectionChange(const QItemSelection& selected, const QItemSelection& deselected);
    void userSelectionChanged(const QItemSelection& selected);
    void setSortOrderAndKey(int key, Qt::SortOrder order);
    // Mouse and keys
    void applyClick(const QModelIndex& index, Qt::KeyboardModifiers modifiers,
                    Qt::MouseButton button);
    void setAnchor(const QModelIndex& index);
    bool handleCommandKey(QKeyEvent* event);

    ListModel* mModel = nullptr;
    int mBatchDepth = 0;
    // Set while the list itself changes the selection model: the change is no user's.
    mutable int mOwnChange = 0;
    // Inside a batch, the highlight bits of rows have changed since the selection model was
    // told, and the current row waits to be handed over.
    mutable bool mHighlightWaits = false;
    mutable bool mCurrentWaits = false;
    mutable std::shared_ptr<ListRow> mWaitingCurrent;
    // Set while the rows' highlight is handed to the selection model: the rows already hold
    // what the selection model is being told.
    mutable bool mHandingOver = false;
    // Rows changed since rowsChanged() was last emitted.
    bool mRowsChanged = false;
    int mHighlighted = 0;
    bool mMultiSelect = false;
    bool mFullRowSelect = false;
    std::vector<std::pair<QString, int>> mHeaders;  // text, width in twips
    QPersistentModelIndex mAnchor;                  // where a Shift-click extends from
    RowNote mRowNote;
    bool mPressed = false;
    // A key press is being handled; the highlight change it makes is reported after it.
    bool mInKeyPress = false;
    bool mKeyChangedHighlight = false;
};

}  // namespace tavrolin
