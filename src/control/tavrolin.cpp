#include <tavrolin/tavrolin.h>

#include "common/text_services.h"
#include "control/control.h"
#include "control/list_view/list_view.h"
#include "find/find_center.h"
#include "lists/editing.h"
#include "lists/markers.h"
#include "loading/load_sequence.h"
#include "saving/commit.h"
#include "saving/internet_transfer.h"
#include "saving/url_encode.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>

#include <iterator>

namespace {
const QString kEmployeeIdSource = QStringLiteral("Tavrolin.EmployeeID");

// A row whose marker is not plain stands for a move that a commit would send.
bool holdsMove(const tavrolin::ListView& list) {
    return list.anyText(tavrolin::markers::kColumn,
                        [](const QString& marker) { return !tavrolin::markers::isPlain(marker); });
}

// Tab follows reading order: the left list, the move buttons between the lists as they stand,
// the right list, the find center line by line, then Commit. Every child that takes focus
// comes after lstVendors, so entering the control reaches it first.
void setReadingOrder(const tavrolin::Screen& s) {
    QWidget* const order[] = {s.lstVendors,  s.cmdAdd,        s.cmdAddAll,   s.cmdRemoveAll,
                              s.cmdDelete,   s.lstSelectedVendors, s.optFind[1], s.txtVendorID,
                              s.optFind[0],  s.txtVendorName, s.optList[0], s.optList[1],
                              s.cmdFind,     s.cmdCommit};
    for (size_t i = 1; i < std::size(order); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}
}  // namespace

struct Tavrolin::Private {
    tavrolin::Control control;
    // As the host was last told.
    bool pendingChanges = false;

    void notePendingChanges(Tavrolin& q) {
        const bool pending = q.hasPendingChanges();
        if (pending == pendingChanges) return;
        pendingChanges = pending;
        emit q.pendingChangesChanged(pending);
    }
};

Tavrolin::Tavrolin(QWidget* parent) : QWidget(parent), d(std::make_unique<Private>()) {
    setObjectName(QStringLiteral("Tavrolin"));
    setFont(tavrolin::screenFont(font()));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    d->control.ui = tavrolin::buildScreen(this);
    setReadingOrder(d->control.ui);
    tavrolin::connectListEditing(d->control);
    tavrolin::connectFindCenter(d->control);
    tavrolin::connectSaving(d->control);

    d->control.loadFinished = [this](bool ok) {
        d->notePendingChanges(*this);
        emit loadFinished(ok);
    };
    d->control.commitFinished = [this](bool saved) { emit commitFinished(saved); };

    // Every road that moves a row (buttons, double-click, keys, the popup, assistive
    // technology) ends its batch of list changes before its handler returns; the host is told
    // there. A load is told once, when it has finished.
    const tavrolin::Screen& ui = d->control.ui;
    for (tavrolin::ListView* list : {ui.lstVendors, ui.lstSelectedVendors})
        connect(list, &tavrolin::ListView::rowsChanged, this, [this] {
            if (!d->control.loading) d->notePendingChanges(*this);
        });
}

Tavrolin::~Tavrolin() = default;

QSize Tavrolin::sizeHint() const { return tavrolin::screenSizeHint(d->control.ui); }

QSize Tavrolin::minimumSizeHint() const {
    return sizeHint();
}

void Tavrolin::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (d->control.ui.fraMain) tavrolin::layoutScreen(d->control.ui, event->size());
}

bool Tavrolin::hasPendingChanges() const {
    const tavrolin::Screen& ui = d->control.ui;
    return holdsMove(*ui.lstSelectedVendors) || holdsMove(*ui.lstVendors);
}

void Tavrolin::setEmployeeID(const QString& employeeId) {
    d->control.mEmployeeID = tavrolin::text::toInt32(employeeId, kEmployeeIdSource);
}

void Tavrolin::setServerName(const QString& serverName) {
    d->control.mServerName = serverName;
    tavrolin::loadData(d->control, d->control.mEmployeeID, d->control.mServerName);
}

void Tavrolin::SaveToDatabase() {
    emit commitFinished(tavrolin::saveToDatabase(d->control));
}

QString Tavrolin::urlEncode(const QString& text) const { return tavrolin::urlEncode(text); }

void Tavrolin::setLoadTimeout(std::chrono::milliseconds timeout) {
    d->control.loadTimeout = timeout;
}

void Tavrolin::setSaveTimeout(std::chrono::milliseconds timeout) {
    d->control.ui.Inet1->setTimeout(timeout);
}
