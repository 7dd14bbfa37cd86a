#include "lists/markers.h"

#include "common/text_services.h"
#include "control/list_view/list_view.h"
#include "control/screen.h"

#include <QLabel>

namespace tavrolin {

QString markers::plainForm(const QString& rowText) { return text::sixDigitPicture(rowText); }

// Nearly every marker is a plain six-digit picture: those are settled without parsing, which
// matters when every row of a long list is looked at.
bool markers::isPlain(const QString& marker) {
    return text::isWholeNumberText(marker) || text::isNumeric(marker);
}

QString markers::pendingChangeNote(const QString& marker) {
    if (marker.isEmpty() || isPlain(marker)) return {};
    if (marker.endsWith(kNewLink)) return QStringLiteral("Will be linked when you commit");
    if (marker.endsWith(kRemovedLink)) return QStringLiteral("Will be unlinked when you commit");
    return {};
}

ListItem buildArrivingRow(ListView& target, const QString& text, const QString& name,
                          const QString& oldMarker, QChar letter) {
    ListItem row = target.add(text);
    row.setSubItem(1, name);
    row.setSubItem(markers::kColumn, markers::plainForm(text));
    if (markers::isPlain(oldMarker))
        row.setSubItem(markers::kColumn, row.subItem(markers::kColumn) + letter);
    return row;
}

QString vendorCountCaption(qint64 count) {
    return QStringLiteral("Non Selected Active Vendors (") + text::decimal(count) +
           QStringLiteral("):");
}

QString selectedCountCaption(qint64 count) {
    return QStringLiteral("Selected Vendors (") + text::decimal(count) + QStringLiteral("):");
}

void refreshCountLabels(Screen& ui) {
    setCountCaption(ui.lblSelVendors, ui.lstSelectedVendors,
                    selectedCountCaption(ui.lstSelectedVendors->count()));
    setCountCaption(ui.lblAllVendors, ui.lstVendors, vendorCountCaption(ui.lstVendors->count()));
}

}  // namespace tavrolin
