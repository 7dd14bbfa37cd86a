#pragma once

#include "control/list_view/row_store.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <functional>

class QWidget;

namespace tavrolin {

// The rows of one list as a Qt item model. The rows live here, in display order; the model
// announces every change as Qt expects: rows inserted where they land, rows removed where they
// stood, and a re-sort as a layout change that moves the persistent indexes with their rows.
//
// A list may collect changes before announcing them: appended rows wait after the announced
// ones, removed rows stay in place marked removed, and a changed sort waits, until announce()
// brings the announced rows up to date in one pass. Until then Qt sees the rows exactly as
// last announced.
class ListModel : public QAbstractTableModel {
  public:
    // The row text and the name; the change marker stays the list's own, unseen by views and
    // assistive technology.
    static constexpr int kShownColumns = 2;

    ListModel(QObject* parent, const QWidget* fontSource);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void addHeader(const QString& text);

    // Rows of the list: the announced ones not marked removed, and the waiting ones.
    int count() const { return int(mRows.size()) - mRemoved; }
    const RowVector& rows() const { return mRows; }
    int announced() const { return mAnnounced; }
    // The announced row at a model row, or null.
    ListRow* rowAt(int modelRow) const;
    const std::shared_ptr<ListRow>& sharedRowAt(int modelRow) const {
        return mRows[size_t(modelRow)];
    }
    bool waiting() const { return mRemoved > 0 || mNeedsSort || size_t(mAnnounced) < mRows.size(); }
    // The lowest vector index of a row marked removed; rows above it stand at their positions.
    int firstRemoved() const { return mFirstRemoved; }
    bool orderWaits() const { return mNeedsSort || size_t(mAnnounced) < mRows.size(); }
    bool removalsWait() const { return mRemoved > 0; }

    void append(std::shared_ptr<ListRow> row);
    void markRemoved(ListRow& row);
    void clearRows();
    void textChanged(ListRow& row, int column);
    RowOrder order() const { return mOrder; }
    void setOrder(RowOrder order);
    void announce();

    // A note on a row: a non-empty note sets the row's texts in italics and becomes their
    // tooltip and accessible description.
    std::function<QString(const std::shared_ptr<ListRow>&)> note;

  private:
    void announceRemovals();
    void announceWaitingRows();
    void sortAnnounced();
    void reposition(const ListRow& row);
    void renumber(int from);
    template <typename Reorder>
    void changeLayout(Reorder reorder);

    const QWidget* mFontSource;
    QStringList mHeaders;
    RowVector mRows;
    int mAnnounced = 0;
    int mRemoved = 0;
    int mFirstRemoved = 0;
    bool mNeedsSort = false;
    RowOrder mOrder;
};

}  // namespace tavrolin
