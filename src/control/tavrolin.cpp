#include <tavrolin/tavrolin.h>

#include "common/text_services.h"
#include "control/control.h"
#include "find/find_center.h"
#include "lists/editing.h"
#include "loading/load_sequence.h"
#include "saving/commit.h"
#include "saving/internet_transfer.h"
#include "saving/url_encode.h"

namespace {
const QString kEmployeeIdSource = QStringLiteral("Tavrolin.EmployeeID");
}

struct Tavrolin::Private {
    tavrolin::Control control;
};

Tavrolin::Tavrolin(QWidget* parent) : QWidget(parent), d(std::make_unique<Private>()) {
    setObjectName(QStringLiteral("Tavrolin"));
    setFont(tavrolin::screenFont(font()));
    d->control.ui = tavrolin::buildScreen(this);
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
