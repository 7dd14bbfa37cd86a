#include <tavrolin/tavrolin.h>

#include "common/text_services.h"
#include "control/control.h"
#include "control/list_view/list_view.h"
#include "find/find_center.h"
#include "lists/editing.h"
#include "loading/load_sequence.h"
#include "saving/commit.h"
#include "saving/internet_transfer.h"
#include "saving/url_encode.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <iterator>

namespace {
const QString kEmployeeIdSource = QStringLiteral("Tavrolin.EmployeeID");

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
};

Tavrolin::Tavrolin(QWidget* parent) : QWidget(parent), d(std::make_unique<Private>()) {
    setObjectName(QStringLiteral("Tavrolin"));
    setFont(tavrolin::screenFont(font()));
    d->control.ui = tavrolin::buildScreen(this);
    setReadingOrder(d->control.ui);
    tavrolin::connectListEditing(d->control);
    tavrolin::connectFindCenter(d->control);
    tavrolin::connectSaving(d->control);
}

Tavrolin::~Tavrolin() = default;

QSize Tavrolin::sizeHint() const { return tavrolin::screenSizeHint(d->control.ui); }

void Tavrolin::setEmployeeID(const QString& employeeId) {
    d->control.mEmployeeID = tavrolin::text::toInt32(employeeId, kEmployeeIdSource);
}

void Tavrolin::setServerName(const QString& serverName) {
    d->control.mServerName = serverName;
    tavrolin::loadData(d->control, d->control.mEmployeeID, d->control.mServerName);
}

void Tavrolin::SaveToDatabase() { tavrolin::saveToDatabase(d->control); }

QString Tavrolin::urlEncode(const QString& text) const { return tavrolin::urlEncode(text); }

void Tavrolin::setLoadTimeout(std::chrono::milliseconds timeout) {
    d->control.loadTimeout = timeout;
}

void Tavrolin::setSaveTimeout(std::chrono::milliseconds timeout) {
    d->control.ui.Inet1->setTimeout(timeout);
}
