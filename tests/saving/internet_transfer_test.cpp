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

// A transfer, what it reports, and a recording server to post to.
struct Posting {
    DocumentServer server;
    InternetTransfer transfer;
    QSignalSpy spy{&transfer, &InternetTransfer::StateChanged};

    // Posts `body` to `url`, the server's page unless given, and waits for the end.
    void post(const QString& body = "SQL=x&", const QString& url = {}) {
        transfer.Execute(url.isEmpty() ? pageOf(server) : url, "Post", body, kForm);
        waitForEnd(transfer);
    }
    QList<State> states() const {
        QList<State> out;
        for (const QList<QVariant>& args : spy) out << args.at(0).value<State>();
        return out;
    }
};

}  // namespace

TEST(InternetTransfer, PostsDataWithHeaderAndReportsCompleteResponse) {
    Posting f;
    f.server.setReply({200, "Saved 2 links", "text/plain; charset=utf-8"});

    f.transfer.Execute(pageOf(f.server), "Post", "SQL=a+b&SQL=c&", kForm);
    // Notified only once events run.
    EXPECT_TRUE(f.transfer.StillExecuting());
    EXPECT_TRUE(f.spy.isEmpty());
    waitForEnd(f.transfer);

    EXPECT_FALSE(f.transfer.StillExecuting());
    EXPECT_EQ(f.states(), QList<State>{State::ResponseCompleted});
    EXPECT_EQ(f.transfer.responseCode(), 200);
    EXPECT_EQ(allChunks(f.transfer, 1024), (QStringList{"Saved 2 links", ""}));
    const auto requests = f.server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/Tavrolin.asp");
    EXPECT_EQ(requests[0].body, "SQL=a+b&SQL=c&");
    EXPECT_EQ(requests[0].contentType, "application/x-www-form-urlencoded");
}

TEST(InternetTransfer, HttpErrorStatusIsACompleteResponseWithTheServersText) {
    for (int status : {400, 404, 500}) {
        Posting f;
        f.server.setReply({status, "The statement was refused.", "text/plain"});
        f.post();
        EXPECT_EQ(f.states(), QList<State>{State::ResponseCompleted}) << status;
        EXPECT_EQ(f.transfer.responseCode(), status);
        EXPECT_EQ(f.transfer.GetChunk(1024, 0), "The statement was refused.") << status;
    }
}

TEST(InternetTransfer, UnreachableServerFails) {
    Posting f;
    f.post("SQL=x&", "http://127.0.0.1:" + QString::number(closedPort()) + "/Tavrolin.asp");
    EXPECT_EQ(f.states(), QList<State>{State::Error});
    EXPECT_FALSE(f.transfer.StillExecuting());
    EXPECT_EQ(f.transfer.GetChunk(1024, 0), QString());
}

TEST(InternetTransfer, SilentServerTimesOutAsFailure) {
    Posting f;
    f.server.setReply({200, "too late", "text/plain", true});
    f.transfer.setTimeout(200ms);
    f.post();
    EXPECT_EQ(f.states(), QList<State>{State::Error});
    EXPECT_EQ(f.transfer.GetChunk(1024, 0), QString());
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

    Posting f;
    f.transfer.setTimeout(500ms);
    f.post("SQL=x&",
           "http://127.0.0.1:" + QString::number(listener.serverPort()) + "/Tavrolin.asp");
    EXPECT_EQ(f.states(), QList<State>{State::Error});
    EXPECT_EQ(f.transfer.GetChunk(1024, 0), QString());
}

TEST(InternetTransfer, BodyIsReadInPiecesUntilAnEmptyOne) {
    Posting f;
    std::string body;
    for (int i = 0; i < 3000; ++i) body += char('a' + i % 26);
    f.server.setReply({200, body, "text/plain; charset=utf-8"});
    f.post();

    const QStringList pieces = allChunks(f.transfer, 1024);
    ASSERT_EQ(pieces.size(), 4);
    EXPECT_EQ(pieces[0].size(), 1024);
    EXPECT_EQ(pieces[1].size(), 1024);
    EXPECT_EQ(pieces[2].size(), 952);
    EXPECT_EQ(pieces[3], QString());
    EXPECT_EQ(pieces.join(QString()), QString::fromStdString(body));
    EXPECT_EQ(f.transfer.GetChunk(1024, 0), QString());  // stays exhausted
}

TEST(InternetTransfer, ReplyTextFollowsItsCharacterSet) {
    Posting f;
    for (const auto& [text, type] : {std::pair{"caf\xC3\xA9 \xE2\x82\xAC", "utf-8"},
                                     std::pair{"caf\xE9 \x80", "windows-1252"}}) {
        f.server.setReply({200, text, std::string("text/plain; charset=") + type});
        f.post();
        EXPECT_EQ(f.transfer.GetChunk(1024, 0), QString::fromUtf8("caf\xC3\xA9 \xE2\x82\xAC"))
            << type;
    }
}

TEST(InternetTransfer, ExecuteWhileStillExecutingIsRefusedAndTheFirstGoesOn) {
    Posting f;
    f.server.setReply({200, "first", "text/plain", true});
    f.transfer.Execute(pageOf(f.server), "Post", "SQL=1&", kForm);
    EXPECT_EQ(errorNumberOf([&] { f.transfer.Execute(pageOf(f.server), "Post", "SQL=2&", kForm); }),
              35764);
    EXPECT_TRUE(f.transfer.StillExecuting());
    f.server.release();
    waitForEnd(f.transfer);
    EXPECT_EQ(f.states(), QList<State>{State::ResponseCompleted});
    EXPECT_EQ(f.transfer.GetChunk(1024, 0), "first");
    ASSERT_EQ(f.server.requests().size(), 1u);
    EXPECT_EQ(f.server.requests()[0].body, "SQL=1&");

    // Once ended, the next request starts afresh.
    f.server.setReply({200, "second", "text/plain"});
    f.post("SQL=2&");
    EXPECT_EQ(f.transfer.GetChunk(1024, 0), "second");
}

TEST(InternetTransfer, AddressWithoutServerCannotStart) {
    Posting f;
    for (const QString& url : {QString("/Tavrolin.asp"), QString("127.0.0.1/Tavrolin.asp"),
                               QString("ftp://127.0.0.1/Tavrolin.asp"), QString()}) {
        EXPECT_EQ(errorNumberOf([&] { f.transfer.Execute(url, "Post", "SQL=x&", kForm); }), 35750)
            << url.toStdString();
        EXPECT_FALSE(f.transfer.StillExecuting());
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(f.spy.isEmpty());
}
