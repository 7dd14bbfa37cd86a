#include "saving/internet_transfer.h"

#include <tavrolin/run_time_error.h>

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace tavrolin {

namespace {
const QString kSource = QStringLiteral("Inet1");
constexpr int kStillExecuting = 35764;
constexpr int kCannotStart = 35750;
}  // namespace

InternetTransfer::InternetTransfer(QObject* parent) : QObject(parent) {}

InternetTransfer::~InternetTransfer() {
    if (mReply) {
        mReply->disconnect(this);
        mReply->abort();
    }
}

bool InternetTransfer::StillExecuting() const { return bool(mReply); }

void InternetTransfer::Execute(const QString& url, const QString& operation, const QString& data,
                               const QString& headers) {
    if (StillExecuting())
        throw RunTimeError(kStillExecuting, kSource, QStringLiteral("Still executing last request"));
    const QUrl target(url, QUrl::StrictMode);
    const QString scheme = target.scheme().toLower();
    if (!target.isValid() || target.host().isEmpty() || (scheme != u"http" && scheme != u"https"))
        throw RunTimeError(kCannotStart, kSource, QStringLiteral("Unable to connect to ") + url);
    if (!mNetwork) mNetwork = std::make_unique<QNetworkAccessManager>();

    QNetworkRequest request(target);
    request.setTransferTimeout(int(mTimeout.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    for (const QString& line : headers.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
        const qsizetype colon = line.indexOf(u':');
        if (colon <= 0) continue;
        request.setRawHeader(line.left(colon).trimmed().toLatin1(),
                             line.mid(colon + 1).trimmed().toLatin1());
    }

    mResponse.clear();
    mRead = 0;
    mResponseCode = 0;
    QNetworkReply* reply = nullptr;
    if (operation.compare(QStringLiteral("Post"), Qt::CaseInsensitive) == 0)
        reply = mNetwork->post(request, data.toLatin1());
    else if (operation.compare(QStringLiteral("Get"), Qt::CaseInsensitive) == 0)
        reply = mNetwork->get(request);
    else
        throw RunTimeError(kCannotStart, kSource, QStringLiteral("Unknown operation ") + operation);
    mReply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finished(reply); });
}

void InternetTransfer::finished(QNetworkReply* reply) {
    reply->deleteLater();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool answered =
        status.isValid() && reply->error() != QNetworkReply::OperationCanceledError &&
        reply->error() != QNetworkReply::TimeoutError &&
        reply->error() != QNetworkReply::RemoteHostClosedError;
    if (answered) {
        mResponseCode = status.toInt();
        mResponse = QString::fromUtf8(reply->readAll());
    }
    mReply = nullptr;
    emit StateChanged(answered ? kStateResponseCompleted : kStateError);
}

QString InternetTransfer::GetChunk(int size, int dataType) {
    if (dataType != 0 || size < 0) errors::raise(errors::InvalidPropertyValue, kSource);
    const QString piece = mResponse.mid(mRead, size);
    mRead += piece.size();
    return piece;
}

}  // namespace tavrolin
