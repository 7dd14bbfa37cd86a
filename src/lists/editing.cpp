#include "lists/editing.h"

#include "control/control.h"
#include "control/list_view/list_view.h"
#include "lists/column_sort.h"
#include "lists/markers.h"
#include "lists/moves.h"
#include "lists/selection.h"
#include "lists/set_moves.h"

#include <QAction>
#include <QMenu>
#include <QPushButton>

namespace tavrolin {
void connectListEditing(Control& control) {
    Screen& ui = control.ui;
    ListView* vendors = ui.lstVendors;
    ListView* selected = ui.lstSelectedVendors;

    // A highlight changed by a key, assistive technology or host code counts as a click there:
    // otherwise the move buttons would never follow anyone who works without a mouse.
    for (auto signal : {&ListView::click, &ListView::highlightChangedWithoutClick}) {
        QObject::connect(vendors, signal, vendors, [&ui] { vendorsClicked(ui); });
        QObject::connect(selected, signal, selected, [&ui] { selectedVendorsClicked(ui); });
    }

    QObject::connect(ui.cmdAdd, &QPushButton::clicked, ui.cmdAdd, [&ui] { addVendor(ui); });
    for (auto signal : {&ListView::dblClick, &ListView::enterPressed})
        QObject::connect(vendors, signal, vendors, [&ui] { addVendor(ui); });
    QObject::connect(ui.cmdDelete, &QPushButton::clicked, ui.cmdDelete,
                     [&ui] { removeVendor(ui); });
    for (auto signal : {&ListView::dblClick, &ListView::enterPressed, &ListView::deletePressed})
        QObject::connect(selected, signal, selected, [&ui] { removeVendor(ui); });
    QObject::connect(ui.mnuRemoveItems, &QAction::triggered, ui.mnuRemove,
                     [&ui] { removeVendor(ui); });
    QObject::connect(selected, &ListView::mouseUp, selected,
                     [&ui](Qt::MouseButton button, Qt::KeyboardModifiers, QPoint position) {
                         showRemoveMenu(ui, button, position);
                     });
    QObject::connect(selected, &ListView::menuKeyPressed, selected, [&ui](QPoint position) {
        showRemoveMenu(ui, Qt::RightButton, position);
    });

    QObject::connect(ui.cmdAddAll, &QPushButton::clicked, ui.cmdAddAll,
                     [&ui] { addAllVendors(ui); });
    QObject::connect(ui.cmdRemoveAll, &QPushButton::clicked, ui.cmdRemoveAll,
                     [&ui] { removeAllVendors(ui); });

    // Rows a commit will link or unlink stand out until the commit's reload brings plain rows.
    for (ListView* list : {vendors, selected})
        list->setRowNote([](const ListItem& row) {
            return markers::pendingChangeNote(row.subItem(markers::kColumn));
        });

    QObject::connect(vendors, &ListView::columnClick, vendors,
                     [vendors](int index) { sortByHeader(*vendors, index); });
    QObject::connect(selected, &ListView::columnClick, selected,
                     [selected](int index) { sortByHeader(*selected, index); });
}

}  // namespace tavrolin
