#pragma once

// The highlight of a list as the list itself, its selection model and its accessible table
// report it, for tests that check all three agree after each step.
#include "control/list_view/list_view.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleTableInterface>
#include <QItemSelectionModel>

#include <algorithm>

namespace test_support {

// Highlighted positions (1-based) as the list reads them.
inline QList<int> listHighlight(const tavrolin::ListView* list) {
    QList<int> out;
    for (int p = 1; p <= list->count(); ++p)
        if (list->item(p).selected()) out << p;
    return out;
}

// Whole rows (1-based) the selection model holds.
inline QList<int> selectionModelRows(const tavrolin::ListView* list) {
    QList<int> out;
    for (const QModelIndex& index : list->selectionModel()->selectedRows()) out << index.row() + 1;
    std::sort(out.begin(), out.end());
    return out;
}

// Selected rows as assistive technology reads them; {-1} when the count disagrees.
inline QList<int> accessibleRows(tavrolin::ListView* list) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(list);
    if (!face || !face->tableInterface()) return {-2};
    QList<int> out;
    for (int row : face->tableInterface()->selectedRows()) out << row + 1;
    std::sort(out.begin(), out.end());
    if (out.size() != face->tableInterface()->selectedRowCount()) return {-1};
    return out;
}

// The selection model's current row (1-based), 0 for none.
inline int modelCurrentRow(const tavrolin::ListView* list) {
    const QModelIndex current = list->selectionModel()->currentIndex();
    return current.isValid() ? current.row() + 1 : 0;
}

// Right as the call returns, without the event loop: the selection model, the accessible table
// and the current index agree with the list's highlight and current row.
inline void expectInStep(tavrolin::ListView* list) {
    SCOPED_TRACE(qPrintable(list->objectName()));
    const QList<int> highlighted = listHighlight(list);
    EXPECT_EQ(selectionModelRows(list), highlighted);
    EXPECT_EQ(accessibleRows(list), highlighted);
    EXPECT_EQ(list->highlightedCount(), highlighted.size());
    const tavrolin::ListItem current = list->selectedItem();
    EXPECT_EQ(modelCurrentRow(list), current ? current.position() : 0);
}

}  // namespace test_support
