#include "loading/load_sequence.h"

#include "common/page_path.h"
#include "common/text_services.h"
#include "control/control.h"
#include "control/list_view/list_view.h"
#include "control/list_view/progress_bar.h"
#include "loading/document_fetch.h"
#include "loading/fill_lists.h"
#include "loading/vendor_document.h"

#include <tavrolin/run_time_error.h>

#include <QPushButton>

namespace tavrolin {

QString vendorDocumentUrl(const QString& serverName, qint32 employee) {
    return serverName + QLatin1String(kPagePath) + QLatin1String(kEmployeeQuery) +
           text::decimal(employee);
}

void loadData(Control& control, qint32 employee, const QString& server) {
    const auto finished = [&control](bool ok) {
        if (control.loadFinished) control.loadFinished(ok);
    };
    if (control.loading) {  // a load never starts inside another
        finished(false);
        return;
    }
    control.loading = true;
    bool ok = false;
    Screen& ui = control.ui;
    try {
        ui.cmdCommit->setEnabled(false);
        ui.control->setCursor(Qt::WaitCursor);
        setLoadRunning(ui, true);
        control.mEmployeeID = employee;
        if (!server.isEmpty()) control.mServerName = server;
        ui.lstVendors->clear();
        ui.lstSelectedVendors->clear();
        control.mXmlDoc = std::make_unique<QDomDocument>();
        // An unusable reply (error page, no body, not XML, cut off, nested too deep) leaves the
        // document without a document element, which the next step reports.
        vendor_document::parseReply(
            *control.mXmlDoc,
            fetchDocument(vendorDocumentUrl(control.mServerName, control.mEmployeeID),
                          control.loadTimeout));
        readCounts(control);
        fillVendors(control);
        fillSelectedVendors(control);
        control.mXmlDoc.reset();
        ui.prbLoad->setValue(0);
        ok = true;
    } catch (const RunTimeError&) {
        // The load ends quietly; the lists keep what was filled so far.
    }
    ui.control->unsetCursor();
    setLoadRunning(ui, false);
    control.loading = false;
    finished(ok);
}

}  // namespace tavrolin
