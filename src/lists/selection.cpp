#include "lists/selection.h"

#include "control/list_view/list_view.h"
#include "control/screen.h"

#include <tavrolin/run_time_error.h>

#include <QPushButton>

namespace tavrolin {
namespace {

void disableMoveButtons(Screen& ui) {
    ui.cmdAdd->setEnabled(false);
    ui.cmdAddAll->setEnabled(false);
    ui.cmdDelete->setEnabled(false);
    ui.cmdRemoveAll->setEnabled(false);
}

void clearHighlights(ListView& list) {
    const ListView::Batch batch(list);
    for (int p = 1; p <= list.count() && list.highlightedCount() > 0; ++p) {
        ListItem row = list.item(p);
        if (row.selected()) row.setSelected(false);
    }
}

bool severalHighlighted(const ListView& list) {
    return list.highlightedCount() >= 2;
}

}  // namespace

void vendorsClicked(Screen& ui) {
    if (ui.lstVendors->count() == 0) {
        disableMoveButtons(ui);
        return;
    }
    ui.cmdDelete->setEnabled(false);
    ui.cmdRemoveAll->setEnabled(false);
    ui.lstVendors->setMultiSelect(true);
    ui.lstSelectedVendors->setMultiSelect(false);
    clearHighlights(*ui.lstSelectedVendors);
    const bool several = severalHighlighted(*ui.lstVendors);
    ui.cmdAddAll->setEnabled(several);
    ui.cmdAdd->setEnabled(!several);
}

void selectedVendorsClicked(Screen& ui) {
    try {
        if (ui.lstSelectedVendors->count() == 0) {
            disableMoveButtons(ui);
            return;
        }
        ui.lstSelectedVendors->setMultiSelect(true);
        ui.lstVendors->setMultiSelect(false);
        clearHighlights(*ui.lstVendors);
        ui.cmdAdd->setEnabled(false);
        ui.cmdAddAll->setEnabled(false);
        const bool several = severalHighlighted(*ui.lstSelectedVendors);
        ui.cmdRemoveAll->setEnabled(several);
        ui.cmdDelete->setEnabled(!several);
    } catch (const RunTimeError&) {
        // The click ends quietly where it failed; what it already changed stays.
    }
}

}  // namespace tavrolin
