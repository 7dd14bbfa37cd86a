#include "loading/document_fetch.h"

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
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::NoLessSafeRedirectPolicy);
        std::unique_ptr<QNetworkReply> reply(network.get(request));
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
