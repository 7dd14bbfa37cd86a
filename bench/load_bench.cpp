// A full load of 32,767 vendors (split between the two lists) from the real tavrolin-server,
// with its parts timed apart and the floor (parse plus appending the same rows into plain
// vectors) measured in the same run.
#include "bench_server.h"
#include "bench_util.h"
#include "common/text_services.h"
#include "control/control.h"
#include "control/list_view/list_view.h"
#include "loading/document_fetch.h"
#include "loading/fill_lists.h"
#include "loading/load_sequence.h"
#include "loading/vendor_document.h"
#include "saving/commit.h"
#include "saving/statements.h"

#include <tavrolin/tavrolin.h>

#include <QApplication>
#include <QDomDocument>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <cstdio>

using namespace tavrolin;

namespace {

constexpr int kVendors = 32767;
constexpr int kLinked = 16000;
constexpr qint32 kEmployee = 7;

// The reply body as sent: with Accept-Encoding set by hand Qt leaves it compressed.
QByteArray fetchRaw(const QString& url, const QByteArray& acceptEncoding) {
    QNetworkAccessManager network;
    QNetworkRequest request{QUrl(url)};
    request.setRawHeader("Accept-Encoding", acceptEncoding);
    QNetworkReply* reply = network.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

QByteArray post(const QString& url, const QByteArray& body) {
    QNetworkAccessManager network;
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    QNetworkReply* reply = network.post(request, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QByteArray answer = reply->readAll();
    reply->deleteLater();
    return answer;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bench::BenchServer server(kVendors);
    const QString url = server.url();
    // Links for every other vendor, posted as the control's own save would build them.
    ChangeSet links;
    for (int id = 1; id <= kLinked * 2; id += 2) links.linksToAdd << QString::number(id);
    const QByteArray body = buildBody(buildStatements(kEmployee, links)).toLatin1();
    const QByteArray answer = post(saveRequestUrl(url), body);
    if (!answer.isEmpty()) std::fprintf(stderr, "link post answered: %s\n", answer.constData());

    const QString address = vendorDocumentUrl(url, kEmployee);
    QByteArray document;
    const double fetchMs = bench::medianMs(
        5, [] {}, [&] { document = fetchDocument(address, std::chrono::seconds(30)); });
    bench::report("fetch the vendor document", kVendors, fetchMs);
    std::printf("document size: %lld bytes\n", static_cast<long long>(document.size()));

    bool shallow = false;
    const double scanMs = bench::medianMs(
        5, [] {}, [&] { shallow = vendor_document::nestsAtMost(document); });
    bench::report("scan its nesting depth", kVendors, scanMs);
    if (!shallow) std::fprintf(stderr, "the document was refused as nested too deep\n");

    // A reply nested 100,000 deep keeps the parser busy for minutes; refused, it costs a scan.
    constexpr int kDeep = 100000;
    const QByteArray deep =
        QByteArray("<a>").repeated(kDeep) + "3" + QByteArray("</a>").repeated(kDeep);
    QDomDocument refused;
    const double refuseMs = bench::medianMs(
        5, [] {}, [&] { vendor_document::parseReply(refused, deep); });
    bench::report("refuse a reply nested 100000 deep", kDeep, refuseMs);

    QDomDocument parsed;
    const double parseMs = bench::medianMs(
        5, [&] { parsed = QDomDocument(); }, [&] { parsed.setContent(document); });
    bench::report("parse it (QDomDocument)", kVendors, parseMs);

    // The floor: the same parse and the same rows appended to plain, unsorted vectors.
    struct Row {
        QString id, name, marker;
    };
    const double floorMs = bench::medianMs(
        5, [] {},
        [&] {
            QDomDocument doc;
            doc.setContent(document);
            std::vector<Row> lists[2];
            const QDomNode root = doc.documentElement();
            for (int which = 0; which < 2; ++which) {
                const QDomNode records = vendor_document::childAt(root, 1 + which);
                for (QDomNode r = records.firstChild(); !r.isNull(); r = r.nextSibling()) {
                    const QString id = vendor_document::fieldText(r.firstChild());
                    lists[which].push_back({id, vendor_document::fieldText(r.firstChild().nextSibling()),
                                            text::sixDigitPicture(id)});
                }
            }
        });

    std::unique_ptr<QWidget> host;
    std::unique_ptr<Control> control;
    const double fillMs = bench::medianMs(
        5,
        [&] {
            host = std::make_unique<QWidget>();
            control = std::make_unique<Control>();
            control->ui = buildScreen(host.get());
            control->mXmlDoc = std::make_unique<QDomDocument>();
            control->mXmlDoc->setContent(document);
        },
        [&] {
            readCounts(*control);
            fillVendors(*control);
            fillSelectedVendors(*control);
            (void)control->ui.lstVendors->item(1);  // both lists in their sorted order
            (void)control->ui.lstSelectedVendors->item(1);
        });
    bench::report("fill and sort both lists", kVendors, fillMs);
    std::printf("rows: %d + %d\n", control->ui.lstVendors->count(),
                control->ui.lstSelectedVendors->count());

    Tavrolin widget;
    widget.show();
    widget.setEmployeeID(QString::number(kEmployee));
    const double loadMs = bench::medianMs(5, [] {}, [&] {
        widget.setServerName(url);
        QCoreApplication::processEvents();  // the view takes the rows in one batch
    });
    bench::report("full load through setServerName, painted", kVendors, loadMs, floorMs + fetchMs);

    // Compression: the document as it travels, and the same full load from a server that sends
    // it plain, run in turns so that both see the same load on the machine.
    const QByteArray gzipped = fetchRaw(address, "gzip");
    const QByteArray plain = fetchRaw(address, "identity");
    std::printf("vendor document: plain %lld bytes, gzip %lld bytes (%.1f %%)\n",
                static_cast<long long>(plain.size()), static_cast<long long>(gzipped.size()),
                100.0 * double(gzipped.size()) / double(plain.size()));
    bench::BenchServer plainServer(kVendors, {"--no-gzip"});
    post(plainServer.url() + "/Tavrolin.asp", body);
    Tavrolin plainWidget;
    plainWidget.show();
    plainWidget.setEmployeeID(QString::number(kEmployee));
    const auto load = [](Tavrolin& control, const QString& server) {
        control.setServerName(server);
        QCoreApplication::processEvents();
    };
    // A change before each load empties the server's cache: the document is read and, on the
    // gzip server, compressed again.
    int toggle = 0;
    const auto change = [&](const QString& server) {
        ChangeSet one;
        (toggle++ % 2 ? one.linksToRemove : one.linksToAdd) << QStringLiteral("2");
        post(server + "/Tavrolin.asp", buildBody(buildStatements(kEmployee, one)).toLatin1());
    };
    constexpr int kRuns = 7;
    // The fetch alone is where the two differ: transfer against decompression.
    std::vector<double> fetched[2];
    for (int run = 0; run < 3 * kRuns; ++run)
        for (int gzip = 0; gzip < 2; ++gzip) {
            const QString from = vendorDocumentUrl(gzip ? url : plainServer.url(), kEmployee);
            fetched[gzip].push_back(bench::medianMs(
                1, [] {}, [&] { document = fetchDocument(from, std::chrono::seconds(30)); }));
        }
    std::vector<double> warm[2], cold[2];
    for (int run = 0; run < kRuns; ++run) {
        for (int gzip = 0; gzip < 2; ++gzip) {
            Tavrolin& control = gzip ? widget : plainWidget;
            const QString server = gzip ? url : plainServer.url();
            warm[gzip].push_back(bench::medianMs(
                1, [] {}, [&] { load(control, server); }));
            cold[gzip].push_back(bench::medianMs(
                1, [&] { change(server); }, [&] { load(control, server); }));
        }
    }
    const auto median = [](std::vector<double> times) {
        std::sort(times.begin(), times.end());
        return times[times.size() / 2];
    };
    bench::report("fetch, gzip (baseline: sent plain)", kVendors, median(fetched[1]),
                  median(fetched[0]));
    bench::report("full load, gzip (baseline: sent plain)", kVendors, median(warm[1]),
                  median(warm[0]));
    bench::report("load after a change, gzip (baseline: plain)", kVendors, median(cold[1]),
                  median(cold[0]));
    return 0;
}
