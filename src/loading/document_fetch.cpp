#include "loading/document_fetch.h"

#include "common/sign_in.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace tavrolin {

QByteArray fetchDocument(const QString& url, std::chrono::milliseconds timeout) {
    QByteArray body;
    // The request runs on a thread of its own with its own event loop; the caller simply waits.
    std::unique_ptr<QThread> worker(QThread::create([&body, &url, timeout] {
        QNetworkAccessManager network;
        QNetworkRequest request{QUrl(url)};
        request.setTransferTimeout(int(timeout.count()));
        const QUrl origin = request.url().adjusted(QUrl::RemoveUserInfo);
        const bool signedIn = signRequest(request);
        // Credentials go along only to the address they were given for: a signed-in fetch
        // follows a redirect only within the same scheme, host and port.
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             signedIn ? QNetworkRequest::UserVerifiedRedirectPolicy
                                      : QNetworkRequest::NoLessSafeRedirectPolicy);
        std::unique_ptr<QNetworkReply> reply(network.get(request));
        if (signedIn)
            QObject::connect(reply.get(), &QNetworkReply::redirected, reply.get(),
                             [&reply, &origin](const QUrl& target) {
                                 const QUrl resolved = origin.resolved(target);
                                 if (resolved.scheme() == origin.scheme() &&
                                     resolved.host() == origin.host() &&
                                     resolved.port() == origin.port())
                                     emit reply->redirectAllowed();
                                 else
                                     reply->abort();
                             });
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        // A server that trickles bytes never trips the transfer timeout; bound the whole fetch.
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, reply.get(), &QNetworkReply::abort);
        deadline.start(timeout);
        if (!reply->isFinished()) loop.exec();
        if (reply->error() != QNetworkReply::OperationCanceledError &&
            reply->error() != QNetworkReply::TimeoutError)
            body = reply->readAll();
    }));
    worker->start();
    worker->wait();
    return body;
}

}  // namespace tavrolin
