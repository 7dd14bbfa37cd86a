// A commit of 32,767 flagged rows against the real tavrolin-server, once as 32,767 INSERT
// statements (every vendor linked) and once as one DELETE of all of them: the body build, the
// post with the server's transaction, the reload, and the whole commit through the button.
// Floors from the same run: the same body posted to a sink that only reads it, and the bare
// fetch of the reloaded document.
#include "bench_server.h"
#include "bench_util.h"
#include "control/control.h"
#include "control/list_view/list_view.h"
#include "lists/markers.h"
#include "loading/document_fetch.h"
#include "loading/load_sequence.h"
#include "saving/commit.h"
#include "saving/internet_transfer.h"
#include "saving/statements.h"

#include <tavrolin/tavrolin.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace tavrolin;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kVendors = 32767;
constexpr qint32 kEmployee = 7;
constexpr int kRuns = 5;
const QString kFormHeader = QStringLiteral("Content-Type: application/x-www-form-urlencoded");

// Moves every row of one list into the other as the moves build them: every arriving row is
// flagged.
void flagAll(ListView& from, ListView& to, QChar letter) {
    for (int p = from.count(); p >= 1; --p) {
        const ListItem row = from.item(p);
        const QString text = row.text(), name = row.subItem(1), marker = row.subItem(2);
        from.remove(p);
        buildArrivingRow(to, text, name, marker, letter);
    }
}

// Reads each request whole and answers it with an empty 200: the cost of moving the body.
class Sink : public QTcpServer {
public:
    Sink() {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* peer = nextPendingConnection();
            struct Request {
                QByteArray head;
                qint64 remaining = -1;  // body bytes still to come, -1 while in the head
            };
            auto request = std::make_shared<Request>();
            connect(peer, &QTcpSocket::readyRead, peer, [peer, request] {
                const QByteArray data = peer->readAll();
                if (request->remaining < 0) {
                    request->head += data;
                    const qsizetype end = request->head.indexOf("\r\n\r\n");
                    if (end < 0) return;
                    const QByteArray head = request->head.left(end).toLower();
                    const qsizetype at = head.indexOf("content-length:") + 15;
                    const qint64 length =
                        head.mid(at, head.indexOf('\r', at) - at).trimmed().toLongLong();
                    request->remaining = length - (request->head.size() - end - 4);
                } else {
                    request->remaining -= data.size();
                }
                if (request->remaining > 0) return;
                *request = Request();
                peer->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
            });
        });
    }
    QString url() const {
        return saveRequestUrl(QStringLiteral("http://127.0.0.1:%1").arg(serverPort()));
    }
};

void post(InternetTransfer& transfer, const QString& url, const QString& body) {
    transfer.Execute(url, QStringLiteral("Post"), body, kFormHeader);
    while (transfer.StillExecuting())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

double msSince(Clock::time_point& start) {
    const auto now = Clock::now();
    const double ms = std::chrono::duration<double, std::milli>(now - start).count();
    start = now;
    return ms;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Direction {
    const char* name;
    const char* from;
    const char* to;
    QChar letter;
};
const Direction kDirections[2] = {
    {"insert", "lstVendors", "lstSelectedVendors", markers::kNewLink},
    {"delete", "lstSelectedVendors", "lstVendors", markers::kRemovedLink}};

ListView& listOf(QObject& owner, const char* name) {
    return *owner.findChild<ListView*>(QString::fromLatin1(name));
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bench::BenchServer server(kVendors);
    const QString url = server.url();

    // Anything the server answers is acknowledged at once, as a user would.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->done(QMessageBox::Ok);
    });
    closer.start(5);
    Sink sink;

    // The parts, one at a time, on a control's own fields.
    QWidget host;
    Control control;
    control.ui = buildScreen(&host);
    connectSaving(control);
    loadData(control, kEmployee, url);
    if (control.ui.lstVendors->count() != kVendors || control.ui.lstSelectedVendors->count() != 0) {
        std::fprintf(stderr, "unexpected start: %d + %d rows\n", control.ui.lstVendors->count(),
                     control.ui.lstSelectedVendors->count());
        return 1;
    }
    for (const Direction& d : kDirections) {
        std::vector<double> build, sinkPost, serverPost, fetch, reload;
        qsizetype bodySize = 0;
        for (int run = 0; run < kRuns; ++run) {
            flagAll(listOf(host, d.from), listOf(host, d.to), d.letter);
            auto start = Clock::now();
            const QString body = buildBody(buildStatements(
                kEmployee, readChangeSet(*control.ui.lstSelectedVendors, *control.ui.lstVendors)));
            build.push_back(msSince(start));
            bodySize = body.size();
            post(*control.ui.Inet1, sink.url(), body);
            sinkPost.push_back(msSince(start));
            post(*control.ui.Inet1, saveRequestUrl(url), body);
            serverPost.push_back(msSince(start));
            (void)fetchDocument(vendorDocumentUrl(url, kEmployee), std::chrono::seconds(30));
            fetch.push_back(msSince(start));
            loadData(control, kEmployee, QString());
            (void)listOf(host, d.to).item(1);  // the reloaded list in its sorted order
            reload.push_back(msSince(start));
            if (listOf(host, d.to).count() != kVendors) {
                std::fprintf(stderr, "%s was not stored: %d + %d rows after the reload\n", d.name,
                             control.ui.lstVendors->count(),
                             control.ui.lstSelectedVendors->count());
                return 1;
            }
            // Back to the start for the next run, without timing it.
            flagAll(listOf(host, d.to), listOf(host, d.from),
                    d.letter == markers::kNewLink ? markers::kRemovedLink : markers::kNewLink);
            control.ui.Inet1->Execute(
                saveRequestUrl(url), "Post",
                buildBody(buildStatements(kEmployee, readChangeSet(*control.ui.lstSelectedVendors,
                                                                   *control.ui.lstVendors))),
                kFormHeader);
            while (control.ui.Inet1->StillExecuting()) QCoreApplication::processEvents();
            loadData(control, kEmployee, QString());
        }
        const std::string name = std::string(" (") + d.name + ")";
        bench::report("body build" + name, kVendors, median(build));
        std::printf("body size (%s): %lld characters\n", d.name, static_cast<long long>(bodySize));
        bench::report("post and server transaction" + name, kVendors, median(serverPost),
                      median(sinkPost));
        bench::report("reload" + name, kVendors, median(reload), median(fetch));
    }

    // The whole commit as the user starts it.
    Tavrolin widget;
    widget.show();
    widget.setEmployeeID(QString::number(kEmployee));
    widget.setServerName(url);
    auto* commit = widget.findChild<QPushButton*>(QStringLiteral("cmdCommit"));
    std::vector<double> whole[2];
    for (int run = 0; run < kRuns; ++run) {
        for (int which = 0; which < 2; ++which) {
            const Direction& d = kDirections[which];
            flagAll(listOf(widget, d.from), listOf(widget, d.to), d.letter);
            commit->setEnabled(true);  // as the moves leave it
            auto start = Clock::now();
            commit->click();
            QCoreApplication::processEvents();  // the reloaded rows reach the views
            whole[which].push_back(msSince(start));
        }
    }
    for (int which = 0; which < 2; ++which)
        bench::report(std::string("whole commit by cmdCommit (") + kDirections[which].name + ")",
                      kVendors, median(whole[which]));
    return 0;
}
