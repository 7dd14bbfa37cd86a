// What the mouse and the keys do to a list. Clicks follow the product's rules (a click on the
// empty area takes the highlight away, the right button highlights the row under it, Ctrl adds
// only in several-row mode) and report themselves as clicks; keys move the highlight as Qt's
// item views do and report the change as one made without a click.
#include "control/list_view/list_model.h"
#include "control/list_view/list_view.h"

#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScopedValueRollback>

namespace tavrolin {

void ListView::setAnchor(const QModelIndex& index) {
    mAnchor = index;
    // Qt's own Shift+arrow extends from the row its last current-index change without a
    // selection left; with selection off for the moment, setting the current row sets that.
    const SelectionMode mode = selectionMode();
    setSelectionMode(QAbstractItemView::NoSelection);
    setCurrentIndex(index);
    setSelectionMode(mode);
}

void ListView::applyClick(const QModelIndex& index, Qt::KeyboardModifiers modifiers,
                          Qt::MouseButton button) {
    const QScopedValueRollback own(mOwnChange, mOwnChange + 1);
    QItemSelectionModel* model = selectionModel();
    const auto rows = QItemSelectionModel::Rows;
    const bool ctrl = modifiers & Qt::ControlModifier;
    const bool shift = modifiers & Qt::ShiftModifier;
    if (button == Qt::RightButton) {
        // A right click highlights the row under the pointer unless it already is.
        if (!index.isValid()) return;
        if (!mModel->rowAt(index.row())->selected)
            model->select(index, QItemSelectionModel::ClearAndSelect | rows);
        setAnchor(index);
        return;
    }
    if (button != Qt::LeftButton) return;
    if (!index.isValid()) {
        // A click on the empty area takes the highlight away and leaves the current row.
        if (!(mMultiSelect && ctrl)) model->clearSelection();
        return;
    }
    if (!mMultiSelect || (!ctrl && !shift)) {
        model->select(index, QItemSelectionModel::ClearAndSelect | rows);
        setAnchor(index);
        return;
    }
    if (shift) {
        const int anchor = mAnchor.isValid() ? mAnchor.row() : index.row();
        const int lastColumn = mModel->columnCount() - 1;
        const QItemSelection range(mModel->index(std::min(anchor, index.row()), 0),
                                   mModel->index(std::max(anchor, index.row()), lastColumn));
        model->select(range,
                      ctrl ? QItemSelectionModel::Select : QItemSelectionModel::ClearAndSelect);
        model->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        return;
    }
    // Ctrl toggles one row of a several-row highlight.
    model->select(index, QItemSelectionModel::Toggle | rows);
    setAnchor(index);
}

void ListView::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    const QModelIndex index = indexAt(event->position().toPoint());
    applyClick(index.isValid() ? mModel->index(index.row(), 0) : QModelIndex(), event->modifiers(),
               event->button());
    mPressed = true;
    event->accept();
}

void ListView::mouseDoubleClickEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index.isValid() &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)))
        applyClick(mModel->index(index.row(), 0), event->modifiers(), event->button());
    mPressed = false;
    event->accept();
    if (event->button() == Qt::LeftButton) emit dblClick();
}

// Dragging selects nothing: a click is a press and a release on the same list.
void ListView::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}

void ListView::mouseReleaseEvent(QMouseEvent* event) {
    const bool clicked = mPressed && event->button() == Qt::LeftButton;
    mPressed = false;
    event->accept();
    emit mouseUp(event->button(), event->modifiers(),
                 viewport()->mapTo(this, event->position().toPoint()));
    if (clicked) emit click();
}

// Keys that stand for what the mouse does on a row: Enter for the double-click, Delete and
// the menu keys for the right button's menu.
bool ListView::handleCommandKey(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (modifiers != Qt::NoModifier) return false;
            emit enterPressed();
            break;
        case Qt::Key_Delete:
            if (modifiers != Qt::NoModifier) return false;
            emit deletePressed();
            break;
        case Qt::Key_F10:
            if (modifiers != Qt::ShiftModifier) return false;
            [[fallthrough]];
        case Qt::Key_Menu: {
            const QModelIndex current = selectionModel()->currentIndex();
            QPoint at(0, 0);
            if (current.isValid()) {
                scrollTo(current);
                const QRect cell = visualRect(current);
                at = viewport()->mapTo(this, QPoint(cell.left() + cell.height(), cell.bottom()));
            }
            emit menuKeyPressed(at);
            break;
        }
        default:
            return false;
    }
    event->accept();
    return true;
}

void ListView::keyPressEvent(QKeyEvent* event) {
    if (handleCommandKey(event)) return;
    mKeyChangedHighlight = false;
    {
        const QScopedValueRollback inKey(mInKeyPress, true);
        QTreeView::keyPressEvent(event);
    }
    // Where a Shift-click extends from after the keys moved without Shift.
    if (!(event->modifiers() & Qt::ShiftModifier) && mKeyChangedHighlight)
        mAnchor = selectionModel()->currentIndex();
    if (mKeyChangedHighlight) emit highlightChangedWithoutClick();
}

}  // namespace tavrolin
