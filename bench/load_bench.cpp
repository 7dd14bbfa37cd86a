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
    const QByteArray answer = post(url + "/Tavrolin.asp", body);
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
    return 0;
}
