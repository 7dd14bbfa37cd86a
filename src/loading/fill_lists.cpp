#include "loading/fill_lists.h"

#include "common/text_services.h"
#include "control/control.h"
#include "control/list_view/list_view.h"
#include "control/list_view/progress_bar.h"
#include "lists/markers.h"
#include "loading/vendor_document.h"

#include "common/errors.h"

#include <QLineEdit>
#include <QRadioButton>

namespace tavrolin {
namespace {

const QString kSource = QStringLiteral("Tavrolin.Fill");

void appendRecords(Control& control, ListView& list, int listPosition) {
    using namespace vendor_document;
    const QDomNode records = childAt(root(*control.mXmlDoc), listPosition);
    // Walk siblings: a node list's at(i) walks from the start every time.
    for (QDomNode record = records.firstChild(); !record.isNull(); record = record.nextSibling()) {
        const QString id = fieldText(childAt(record, kIdField));
        // An ID that is not a plain whole number would count as a change from the start and
        // travel unquoted into the next commit's SQL: stop here, before the row exists.
        if (!text::isWholeNumberText(id)) errors::raise(errors::TypeMismatch, kSource);
        ListItem row = list.add(id);
        try {
            row.setSubItem(1, fieldText(childAt(record, kNameField)));
        } catch (const RunTimeError&) {
            // A row without name and marker would be committed as a change: take it out again.
            list.remove(row.position());
            throw;
        }
        row.setSubItem(markers::kColumn, markers::plainForm(row.text()));
        control.ui.prbLoad->setValue(control.mProgress);
        control.mProgress = text::add16(control.mProgress, 1, kSource);
    }
}

void enableSearchOf(Control& control, int listOption) {
    control.ui.optList[listOption]->setEnabled(true);
    control.ui.optFind[0]->setEnabled(true);
    control.ui.optFind[1]->setEnabled(true);
    control.ui.txtVendorID->setEnabled(true);
    setTextBoxActive(control.ui.txtVendorID, true);
}

void clearCurrentHighlight(ListView& list) {
    if (list.count() >= 1) list.selectedItem().setSelected(false);
}

}  // namespace

void fillVendors(Control& control) {
    ListView& list = *control.ui.lstVendors;
    const ListView::Batch batch(list);
    appendRecords(control, list, vendor_document::kNonSelectedList);
    list.setSortKey(markers::kColumn);
    enableSearchOf(control, 0);
    clearCurrentHighlight(list);
}

void fillSelectedVendors(Control& control) {
    ListView& list = *control.ui.lstSelectedVendors;
    const ListView::Batch batch(list);
    appendRecords(control, list, vendor_document::kSelectedList);
    control.mXmlDoc.reset();
    list.setSortKey(markers::kColumn);
    enableSearchOf(control, 1);
    control.ui.prbLoad->setValue(control.ui.prbLoad->max());
    clearCurrentHighlight(list);
}

}  // namespace tavrolin
