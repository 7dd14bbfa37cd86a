#include "saving/commit.h"

#include "common/page_path.h"
#include "control/control.h"
#include "control/list_view/list_view.h"
#include "control/list_view/progress_bar.h"
#include "control/message_box.h"
#include "loading/load_sequence.h"
#include "saving/internet_transfer.h"
#include "saving/statements.h"

#include <tavrolin/run_time_error.h>

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

namespace tavrolin {

namespace {
const QString kPostOperation = QStringLiteral("Post");
const QString kFormHeader = QStringLiteral("Content-Type: application/x-www-form-urlencoded");

const QString kErrorOccoured = QStringLiteral("Error Occoured");
const QString kErrorTitle = QStringLiteral("Information");
const QString kTransferFailed = QStringLiteral("Error During saving to Database");
const QString kReplyTitle = QStringLiteral("Tavrolin Cross Reference");

constexpr int kChunkSize = 1024;
constexpr int kTextChunk = 0;

// Reads the complete reply in pieces, letting pending events run after each; only an empty
// piece ends it, a short one does not.
QString readReply(InternetTransfer& transfer) {
    QString reply;
    QString piece = transfer.GetChunk(kChunkSize, kTextChunk);
    QCoreApplication::processEvents();
    do {
        reply += piece;
        piece = transfer.GetChunk(kChunkSize, kTextChunk);
        QCoreApplication::processEvents();
    } while (!piece.isEmpty());
    return reply;
}
}  // namespace

QString saveRequestUrl(const QString& serverName) {
    return serverName + QLatin1String(kPagePath);
}

bool isSuccessStatus(int status) {
    return status >= 200 && status <= 299;
}

bool isBlankReply(QStringView reply) {
    return std::all_of(reply.begin(), reply.end(), [](QChar c) { return c == u' '; });
}

bool saveToDatabase(Control& control) {
    Screen& ui = control.ui;
    bool saved = true;
    try {
        ui.control->setCursor(Qt::WaitCursor);
        const ChangeSet changes = readChangeSet(*ui.lstSelectedVendors, *ui.lstVendors);
        const QString body = buildBody(buildStatements(control.mEmployeeID, changes));
        if (!body.isEmpty()) {
            ui.Inet1->Execute(saveRequestUrl(control.mServerName), kPostOperation, body,
                              kFormHeader);
            // The transfer's notifications arrive here. Waiting for more events sleeps until
            // something happens instead of spinning; the transfer's own timeout ends it.
            while (ui.Inet1->StillExecuting())
                QCoreApplication::processEvents(QEventLoop::AllEvents |
                                                QEventLoop::WaitForMoreEvents);
            // A failed transfer leaves no status at all.
            saved = isSuccessStatus(ui.Inet1->responseCode());
        }
        ui.control->unsetCursor();
    } catch (const RunTimeError&) {
        // A request already started is left to finish; its notification still arrives.
        saved = false;
        ui.control->unsetCursor();
        showMessage(ui.control, QMessageBox::Critical, kErrorTitle, kErrorOccoured);
    }
    return saved;
}

void commitChanges(Control& control) {
    Screen& ui = control.ui;
    // The save lets events run; nothing may start a second save or move rows by button.
    for (QPushButton* button :
         {ui.cmdAdd, ui.cmdAddAll, ui.cmdDelete, ui.cmdRemoveAll, ui.cmdCommit})
        button->setEnabled(false);
    const bool saved = saveToDatabase(control);
    ui.prbLoad->setValue(0);
    if (saved) {
        loadData(control, control.mEmployeeID, QString());
    } else {
        // The lists are the only record of the user's moves. The server applies a post whole
        // or not at all, and sending it again is harmless, so keep them for a retry.
        ui.cmdCommit->setEnabled(true);
    }
    if (control.commitFinished) control.commitFinished(saved);
}

void transferStateChanged(Control& control, InternetTransfer::State state) {
    if (state == InternetTransfer::State::Error) {
        showMessage(control.ui.control, QMessageBox::NoIcon, defaultMessageTitle(), kTransferFailed);
    } else if (state == InternetTransfer::State::ResponseCompleted) {
        const QString reply = readReply(*control.ui.Inet1);
        if (!isBlankReply(reply))
            showMessage(control.ui.control, QMessageBox::Information, kReplyTitle, reply);
    }
}

void connectSaving(Control& control) {
    QObject::connect(control.ui.cmdCommit, &QPushButton::clicked, control.ui.control,
                     [&control] { commitChanges(control); });
    QObject::connect(
        control.ui.Inet1, &InternetTransfer::StateChanged, control.ui.control,
        [&control](InternetTransfer::State state) { transferStateChanged(control, state); });
}

}  // namespace tavrolin
