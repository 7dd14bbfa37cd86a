#include <tavrolin/tavrolin.h>

#include "common/text_services.h"
#include "control/control.h"
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
    d->control.ui = tavrolin::buildScreen(this);
}

Tavrolin::~Tavrolin() = default;

QSize Tavrolin::sizeHint() const { return {8745 / 15, 4935 / 15}; }

void Tavrolin::setEmployeeID(const QString& ptEmployeeID) {
    d->control.mEmployeeID = tavrolin::text::toInt32(ptEmployeeID, kEmployeeIdSource);
}

void Tavrolin::setServerName(const QString& PtServerName) {
    d->control.mServerName = PtServerName;
}

void Tavrolin::SaveToDatabase() {}

QString Tavrolin::urlEncode(const QString& theData) { return tavrolin::urlEncode(theData); }

void Tavrolin::setLoadTimeout(std::chrono::milliseconds timeout) {
    d->control.loadTimeout = timeout;
}

void Tavrolin::setSaveTimeout(std::chrono::milliseconds timeout) {
    d->control.ui.Inet1->setTimeout(timeout);
}
