#include "saving/internet_transfer.h"

#include "common/sign_in.h"
#include "common/windows_1252.h"

#include "common/errors.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QTimer>
#include <QUrl>

namespace tavrolin {

namespace {
const QString kSource = QStringLiteral("Inet1");
constexpr int kStillExecuting = 35764;
constexpr int kCannotStart = 35750;

// Errors that only report the HTTP status of a reply that did arrive in full: the body is the
// server's message and the transfer itself worked. Everything else (refused, broken, timed out,
// aborted, garbled) is a failed transfer.
bool isHttpStatusError(QNetworkReply::NetworkError error) {
    const int code = int(error);
    return error == QNetworkReply::NoError ||
           (code >= QNetworkReply::ContentAccessDenied &&
            code <= QNetworkReply::UnknownContentError) ||
           error == QNetworkReply::ProtocolInvalidOperationError ||
           (code >= QNetworkReply::InternalServerError &&
            code <= QNetworkReply::UnknownServerError);
}

QString charsetOf(const QNetworkReply& reply) {
    const QString type = reply.header(QNetworkRequest::ContentTypeHeader).toString();
    for (QStringView part : QStringView(type).split(u';')) {
        part = part.trimmed();
        if (part.startsWith(u"charset=", Qt::CaseInsensitive))
            return part.mid(8).trimmed().toString().remove(u'"').toLower();
    }
    return {};
}

// The reply in the character set it names; UTF-8 when it names none or one we cannot read.
QString decodeBody(const QByteArray& body, const QString& charset) {
    if (charset == u"windows-1252" || charset == u"cp1252") {
        QString text;
        text.reserve(body.size());
        // Every character of this code page lies in the basic plane: one UTF-16 unit each.
        for (char byte : body) text += QChar(char16_t(cp1252::toUnicode(std::uint8_t(byte))));
        return text;
    }
    if (!charset.isEmpty()) {
        QStringDecoder named(charset.toLatin1().constData());
        if (named.isValid()) return QString(named.decode(body));
    }
    return QString::fromUtf8(body);
}
}  // namespace

InternetTransfer::InternetTransfer(QObject* parent) : QObject(parent) {}

InternetTransfer::~InternetTransfer() {
    if (mReply) {
        mReply->disconnect(this);
        mReply->abort();
    }
}

bool InternetTransfer::StillExecuting() const {
    return bool(mReply);
}

void InternetTransfer::Execute(const QString& url, const QString& operation, const QString& data,
                               const QString& headers) {
    if (StillExecuting())
        throw RunTimeError(kStillExecuting, kSource,
                           QStringLiteral("Still executing last request"));
    const QUrl target(url, QUrl::StrictMode);
    const QString scheme = target.scheme().toLower();
    if (!target.isValid() || target.host().isEmpty() || (scheme != u"http" && scheme != u"https"))
        throw RunTimeError(kCannotStart, kSource,
                           QStringLiteral("Unable to connect to ") + withoutPassword(url));
    const bool post = operation.compare(QStringLiteral("Post"), Qt::CaseInsensitive) == 0;
    if (!post && operation.compare(QStringLiteral("Get"), Qt::CaseInsensitive) != 0)
        throw RunTimeError(kCannotStart, kSource, QStringLiteral("Unknown operation ") + operation);
    if (!mNetwork) mNetwork = std::make_unique<QNetworkAccessManager>();

    QNetworkRequest request(target);
    request.setTransferTimeout(int(mTimeout.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    // One connection per transfer: a kept-alive connection stalls the next post by the peers'
    // delayed acknowledgement (some 40 ms a save) and may have been dropped by the server since.
    request.setRawHeader("Connection", "close");
    for (const QString& line : headers.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
        const qsizetype colon = line.indexOf(u':');
        if (colon <= 0) continue;
        request.setRawHeader(line.left(colon).trimmed().toLatin1(),
                             line.mid(colon + 1).trimmed().toLatin1());
    }

    signRequest(request);

    mResponse.clear();
    mRead = 0;
    mResponseCode = 0;
    QNetworkReply* reply = post ? mNetwork->post(request, data.toLatin1()) : mNetwork->get(request);
    mReply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finished(reply); });

    // The transfer timeout only notices silence; a server that trickles bytes would keep the
    // caller waiting for ever. Bound the whole transfer too.
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
    deadline->start(mTimeout);
}

void InternetTransfer::finished(QNetworkReply* reply) {
    reply->deleteLater();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool answered = status.isValid() && isHttpStatusError(reply->error());
    if (answered) {
        mResponseCode = status.toInt();
        mResponse = decodeBody(reply->readAll(), charsetOf(*reply));
    }
    mReply = nullptr;
    emit StateChanged(answered ? State::ResponseCompleted : State::Error);
}

QString InternetTransfer::GetChunk(int size, int dataType) {
    if (dataType != 0 || size < 0) errors::raise(errors::InvalidPropertyValue, kSource);
    const QString piece = mResponse.mid(mRead, size);
    mRead += piece.size();
    return piece;
}

}  // namespace tavrolin
