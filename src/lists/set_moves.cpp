#include "lists/set_moves.h"

#include "control/list_view/list_view.h"
#include "control/screen.h"
#include "lists/markers.h"

#include <QPushButton>
#include <QRadioButton>

namespace tavrolin {
namespace {

// The first arrival clears the target's old highlight (single-row mode); every later one adds
// to it, so exactly the arrived rows end up highlighted.
void copyHighlighted(const ListView& source, ListView& target, QChar letter) {
    target.setMultiSelect(false);
    for (int p = 1; p <= source.count(); ++p) {
        ListItem row = source.item(p);
        if (!row.selected()) continue;
        buildArrivingRow(target, row.text(), row.subItem(1), row.subItem(markers::kColumn), letter)
            .setSelected(true);
        target.setMultiSelect(true);
    }
}

// Walking downwards keeps the positions still to be visited where they were.
void removeHighlighted(ListView& source) {
    for (int p = source.count(); p >= 1; --p)
        if (source.item(p).selected()) source.remove(p);
}

void moveHighlighted(Screen& ui, ListView& source, ListView& target, QChar letter) {
    const ListView::Batch batch(source, target);
    copyHighlighted(source, target, letter);
    removeHighlighted(source);
    target.setFocus();
    // With no row arrived and none current before, there is nothing to scroll to.
    if (ListItem current = target.selectedItem()) current.ensureVisible();
    target.setSortKey(markers::kColumn);
    refreshCountLabels(ui);
}

}  // namespace

void addAllVendors(Screen& ui) {
    if (ui.lstVendors->count() == 0) return;
    moveHighlighted(ui, *ui.lstVendors, *ui.lstSelectedVendors, markers::kNewLink);
    ui.cmdAddAll->setEnabled(false);
    ui.cmdRemoveAll->setEnabled(true);
    ui.cmdCommit->setEnabled(true);
    ui.optList[1]->setChecked(true);
    if (ui.lstVendors->count() == 0) {
        ui.optList[0]->setEnabled(false);
        ui.optList[1]->setEnabled(true);
    }
}

void removeAllVendors(Screen& ui) {
    if (ui.lstSelectedVendors->count() == 0) return;
    moveHighlighted(ui, *ui.lstSelectedVendors, *ui.lstVendors, markers::kRemovedLink);
    ui.cmdRemoveAll->setEnabled(false);
    ui.cmdAddAll->setEnabled(true);
    ui.cmdCommit->setEnabled(true);
    ui.optList[0]->setChecked(true);
    if (ui.lstSelectedVendors->count() == 0) {
        ui.optList[1]->setEnabled(false);
        ui.optList[0]->setEnabled(true);
    }
}

}  // namespace tavrolin
