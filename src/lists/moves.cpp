#include "lists/moves.h"

#include "control/list_view/list_view.h"
#include "control/screen.h"
#include "lists/markers.h"

#include <tavrolin/run_time_error.h>

#include <QMenu>
#include <QPushButton>
#include <QRadioButton>

namespace tavrolin {
namespace {

// The texts a move reads off the source row before anything changes.
struct VendorRow {
    ListItem row;
    QString text, name, marker;
};

VendorRow currentRow(const ListView& source) {
    VendorRow v{source.selectedItem(), {}, {}, {}};
    v.text = v.row.text();  // no current row: error 91, and the move ends here
    return v;
}

void readNameAndMarker(VendorRow& v) {
    v.name = v.row.subItem(1);
    v.marker = v.row.subItem(markers::kColumn);
}

bool holdsText(const ListView& list, const QString& text) {
    for (int p = 1; p <= list.count(); ++p)
        if (list.item(p).text() == text) return true;
    return false;
}

// Removes exactly the row that was read: not every highlighted row, which would lose other
// highlighted vendors, nor nothing, which would leave the vendor standing in both lists when
// the current row is not highlighted.
void takeOut(ListView& source, const VendorRow& v) {
    source.remove(v.row.position());
}

// The arrived row is found again by its text, wherever the target's sort placed it.
void showArrivedRow(ListView& target, const QString& text) {
    ListItem found = target.findItem(text);
    if (found.isNull()) return;
    found.setSelected(true);
    target.setFocus();
    target.selectedItem().ensureVisible();
}

}  // namespace

void addVendor(Screen& ui) {
    ListView& source = *ui.lstVendors;
    ListView& target = *ui.lstSelectedVendors;
    try {
        const ListView::Batch batch(source, target);
        if (source.count() == 0) return;
        VendorRow v = currentRow(source);
        if (v.text.isEmpty()) return;
        if (holdsText(target, v.text)) return;
        readNameAndMarker(v);
        takeOut(source, v);
        target.setMultiSelect(false);
        buildArrivingRow(target, v.text, v.name, v.marker, markers::kNewLink);
        refreshCountLabels(ui);
        showArrivedRow(target, v.text);
        ui.cmdAdd->setEnabled(false);
        ui.cmdDelete->setEnabled(true);
        ui.cmdCommit->setEnabled(true);
        ui.optList[1]->setChecked(true);
        if (source.count() == 0) ui.optList[0]->setEnabled(false);
        ui.optList[1]->setEnabled(target.count() > 0);
    } catch (const RunTimeError&) {
        // A move ends quietly at the step that failed; the steps before it stay done.
    }
}

void removeVendor(Screen& ui) {
    ListView& source = *ui.lstSelectedVendors;
    ListView& target = *ui.lstVendors;
    try {
        const ListView::Batch batch(source, target);
        if (source.count() == 0) return;
        VendorRow v = currentRow(source);
        readNameAndMarker(v);
        if (v.text.isEmpty()) return;
        target.setMultiSelect(false);
        // No duplicate check on the way back: a second row with the same ID may arrive.
        buildArrivingRow(target, v.text, v.name, v.marker, markers::kRemovedLink);
        takeOut(source, v);
        refreshCountLabels(ui);
        showArrivedRow(target, v.text);
        ui.cmdDelete->setEnabled(false);
        ui.cmdAdd->setEnabled(true);
        ui.cmdCommit->setEnabled(true);
        if (source.count() == 0) ui.optList[1]->setEnabled(false);
        ui.optList[0]->setChecked(true);
        ui.optList[0]->setEnabled(target.count() > 0);
    } catch (const RunTimeError&) {
        // A move ends quietly at the step that failed; the steps before it stay done.
    }
}

void showRemoveMenu(Screen& ui, Qt::MouseButton button, QPoint position) {
    ListView& list = *ui.lstSelectedVendors;
    try {
        if (list.count() == 0) return;
        if (list.selectedItem().text().isEmpty()) return;
        if (button == Qt::RightButton) ui.mnuRemove->popup(list.mapToGlobal(position));
    } catch (const RunTimeError&) {
        // No current row to offer for removal: no menu.
    }
}

}  // namespace tavrolin
