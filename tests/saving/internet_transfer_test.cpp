#include "saving/internet_transfer.h"
#include "support/document_server.h"

#include <tavrolin/run_time_error.h>

#include "support/run_time_errors.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

using tavrolin::InternetTransfer;
using namespace test_support;
using namespace std::chrono_literals;

namespace {

const QString kForm = QStringLiteral("Content-Type: application/x-www-form-urlencoded");

QString pageOf(const DocumentServer& server) {
    return QString::fromStdString(server.baseUrl()) + "/Tavrolin.asp";
}

// Lets events run until the transfer has ended; the guard only keeps a broken build from
// hanging the suite.
void waitForEnd(const InternetTransfer& transfer) {
    QDeadlineTimer guard(30s);
    while (transfer.StillExecuting() && !guard.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

QStringList allChunks(InternetTransfer& transfer, int size) {
    QStringList pieces;
    for (;;) {
        pieces << transfer.GetChunk(size, 0);
        if (pieces.last().isEmpty()) return pieces;
    }
}

using State = InternetTransfer::State;

QList<State> states(const QSignalSpy& spy) {
    QList<State> out;
    for (const QList<QVariant>& args : spy) out << args.at(0).value<State>();
    return out;
}

}  // namespace

TEST(InternetTransfer, PostsDataWithHeaderAndReportsCompleteResponse) {
    DocumentServer server;
    server.setReply({200, "Saved 2 links", "text/plain; charset=utf-8"});
    InternetTransfer transfer;
    QSignalSpy spy(&transfer, &InternetTransfer::StateChanged);

    transfer.Execute(pageOf(server), "Post", "SQL=a+b&SQL=c&", kForm);
    // Notified only once events run.
    EXPECT_TRUE(transfer.StillExecuting());
    EXPECT_TRUE(spy.isEmpty());
    waitForEnd(transfer);

    EXPECT_FALSE(transfer.StillExecuting());
    EXPECT_EQ(states(spy), QList<State>{State::ResponseCompleted});
    EXPECT_EQ(transfer.responseCode(), 200);
    EXPECT_EQ(allChunks(transfer, 1024), (QStringList{"Saved 2 links", ""}));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/Tavrolin.asp");
    EXPECT_EQ(requests[0].body, "SQL=a+b&SQL=c&");
    EXPECT_EQ(requests[0].contentType, "application/x-www-form-urlencoded");
}

TEST(InternetTransfer, HttpErrorStatusIsACompleteResponseWithTheServersText) {
    for (int status : {400, 404, 500}) {
        DocumentServer server;
        server.setReply({status, "The statement was refused.", "text/plain"});
        InternetTransfer transfer;
        QSignalSpy spy(&transfer, &InternetTransfer::StateChanged);
        transfer.Execute(pageOf(server), "Post", "SQL=x&", kForm);
        waitForEnd(transfer);
        EXPECT_EQ(states(spy), QList<State>{State::ResponseCompleted}) << status;
        EXPECT_EQ(transfer.responseCode(), status);
        EXPECT_EQ(transfer.GetChunk(1024, 0), "The statement was refused.") << status;
    }
}

TEST(InternetTransfer, UnreachableServerFails) {
    InternetTransfer transfer;
    QSignalSpy spy(&transfer, &InternetTransfer::StateChanged);
    transfer.Execute("http://127.0.0.1:" + QString::number(closedPort()) + "/Tavrolin.asp", "Post",
                     "SQL=x&", kForm);
    waitForEnd(transfer);
    EXPECT_EQ(states(spy), QList<State>{State::Error});
    EXPECT_FALSE(transfer.StillExecuting());
    EXPECT_EQ(transfer.GetChunk(1024, 0), QString());
}

TEST(InternetTransfer, SilentServerTimesOutAsFailure) {
    DocumentServer server;
    server.setReply({200, "too late", "text/plain", true});
    InternetTransfer transfer;
    transfer.setTimeout(200ms);
    QSignalSpy spy(&transfer, &InternetTransfer::StateChanged);
    transfer.Execute(pageOf(server), "Post", "SQL=x&", kForm);
    waitForEnd(transfer);
    EXPECT_EQ(states(spy), QList<State>{State::Error});
    EXPECT_EQ(transfer.GetChunk(1024, 0), QString());
}

TEST(InternetTransfer, TricklingServerTimesOutAsFailure) {
    // Sends the headers and then one byte at a time, never long silent: only a bound on the
    // whole transfer ends it.
    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost, 0));
    QTimer drip;
    QTcpSocket* peer = nullptr;
    QByteArray request;
    QObject::connect(&listener, &QTcpServer::newConnection, [&] {
        peer = listener.nextPendingConnection();
        QObject::connect(peer, &QTcpSocket::readyRead, peer, [&] {
            request += peer->readAll();
            if (!request.contains("\r\n\r\n") || drip.isActive()) return;
            peer->write(
                "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
                "Content-Length: 100000\r\n\r\n");
            drip.start(20);
        });
    });
    QObject::connect(&drip, &QTimer::timeout, [&] {
        if (peer && peer->state() == QAbstractSocket::ConnectedState) peer->write("x");
    });

    InternetTransfer transfer;
    transfer.setTimeout(500ms);
    QSignalSpy spy(&transfer, &InternetTransfer::StateChanged);
    transfer.Execute("http://127.0.0.1:" + QString::number(listener.serverPort()) + "/Tavrolin.asp",
                     "Post", "SQL=x&", kForm);
    waitForEnd(transfer);
    EXPECT_EQ(states(spy), QList<State>{State::Error});
    EXPECT_EQ(transfer.GetChunk(1024, 0), QString());
}

TEST(InternetTransfer, BodyIsReadInPiecesUntilAnEmptyOne) {
    DocumentServer server;
    std::string body;
    for (int i = 0; i < 3000; ++i) body += char('a' + i % 26);
    server.setReply({200, body, "text/plain; charset=utf-8"});
    InternetTransfer transfer;
    transfer.Execute(pageOf(server), "Post", "SQL=x&", kForm);
    waitForEnd(transfer);

    const QStringList pieces = allChunks(transfer, 1024);
    ASSERT_EQ(pieces.size(), 4);
    EXPECT_EQ(pieces[0].size(), 1024);
    EXPECT_EQ(pieces[1].size(), 1024);
    EXPECT_EQ(pieces[2].size(), 952);
    EXPECT_EQ(pieces[3], QString());
    EXPECT_EQ(pieces.join(QString()), QString::fromStdString(body));
    EXPECT_EQ(transfer.GetChunk(1024, 0), QString());  // stays exhausted
}

TEST(InternetTransfer, ReplyTextFollowsItsCharacterSet) {
    DocumentServer server;
    InternetTransfer transfer;
    server.setReply({200, "caf\xC3\xA9 \xE2\x82\xAC", "text/plain; charset=utf-8"});
    transfer.Execute(pageOf(server), "Post", "SQL=x&", kForm);
    waitForEnd(transfer);
    EXPECT_EQ(transfer.GetChunk(1024, 0), QString::fromUtf8("caf\xC3\xA9 \xE2\x82\xAC"));

    server.setReply({200, "caf\xE9 \x80", "text/plain; charset=windows-1252"});
    transfer.Execute(pageOf(server), "Post", "SQL=x&", kForm);
    waitForEnd(transfer);
    EXPECT_EQ(transfer.GetChunk(1024, 0), QString::fromUtf8("caf\xC3\xA9 \xE2\x82\xAC"));
}

TEST(InternetTransfer, ExecuteWhileStillExecutingIsRefusedAndTheFirstGoesOn) {
    DocumentServer server;
    server.setReply({200, "first", "text/plain", true});
    InternetTransfer transfer;
    QSignalSpy spy(&transfer, &InternetTransfer::StateChanged);
    transfer.Execute(pageOf(server), "Post", "SQL=1&", kForm);
    EXPECT_EQ(errorNumberOf([&] { transfer.Execute(pageOf(server), "Post", "SQL=2&", kForm); }),
              35764);
    EXPECT_TRUE(transfer.StillExecuting());
    server.release();
    waitForEnd(transfer);
    EXPECT_EQ(states(spy), QList<State>{State::ResponseCompleted});
    EXPECT_EQ(transfer.GetChunk(1024, 0), "first");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].body, "SQL=1&");

    // Once ended, the next request starts afresh.
    server.setReply({200, "second", "text/plain"});
    transfer.Execute(pageOf(server), "Post", "SQL=2&", kForm);
    waitForEnd(transfer);
    EXPECT_EQ(transfer.GetChunk(1024, 0), "second");
}

TEST(InternetTransfer, AddressWithoutServerCannotStart) {
    InternetTransfer transfer;
    QSignalSpy spy(&transfer, &InternetTransfer::StateChanged);
    for (const QString& url : {QString("/Tavrolin.asp"), QString("127.0.0.1/Tavrolin.asp"),
                               QString("ftp://127.0.0.1/Tavrolin.asp"), QString()}) {
        EXPECT_EQ(errorNumberOf([&] { transfer.Execute(url, "Post", "SQL=x&", kForm); }), 35750)
            << url.toStdString();
        EXPECT_FALSE(transfer.StillExecuting());
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(spy.isEmpty());
}
