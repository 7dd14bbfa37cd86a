#include "saving/commit.h"
#include "control/list_view/list_view.h"
#include "control/list_view/progress_bar.h"
#include "lists/markers.h"
#include "support/loaded_control.h"
#include "support/typical_moves.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>
#include <string>

using namespace test_support;
using namespace std::chrono_literals;

namespace {

const std::string kLoaded =
    vendorDocument("4", "3", {{"123", "Acme"}, {"77", "Beta"}, {"8", "Eight"}, {"9", "Nine"}},
                   {{"456", "Delta"}, {"900", "Omega"}, {"5", "Five"}});
// What the server holds once an employee's typical moves (two vendors in, two out) are saved.
const std::string kAfterSave =
    vendorDocument("4", "3", {{"8", "Eight"}, {"9", "Nine"}, {"456", "Delta"}, {"900", "Omega"}},
                   {{"123", "Acme"}, {"77", "Beta"}, {"5", "Five"}});

// A loaded control on a recording server that answers GET with a vendor document and POST with
// the text the test gives it.
struct Committing : LoadedControl {
    Committing() {
        answerPost("");
        loadDocument(kLoaded);
    }

    // A held answer waits for server.release().
    void answerPost(const std::string& text, int status = 200, bool held = false) {
        server.setReplyFor("POST", {status, text, "text/plain; charset=utf-8", held});
    }

    // Moves a vendor to the other list as the move operations build it, and makes the commit
    // available as a move does.
    void move(const char* from, const char* to, const QString& id) {
        tavrolin::ListView* source = ui.list(from);
        const tavrolin::ListItem row = source->findItem(id);
        const QString text = row.text(), name = row.subItem(1), marker = row.subItem(2);
        source->remove(row.position());
        const QChar letter = QString(to) == "lstSelectedVendors" ? tavrolin::markers::kNewLink
                                                                 : tavrolin::markers::kRemovedLink;
        tavrolin::buildArrivingRow(*ui.list(to), text, name, marker, letter);
        ui.button("cmdCommit")->setEnabled(true);
    }

    void makeTypicalMoves() {
        // The added vendors stand in name order, 123 (Acme) before 77 (Beta).
        ui.list("lstSelectedVendors")->setSortKey(1);
        move("lstVendors", "lstSelectedVendors", "123");
        move("lstVendors", "lstSelectedVendors", "77");
        move("lstSelectedVendors", "lstVendors", "456");
        move("lstSelectedVendors", "lstVendors", "900");
    }
};

// The box that shows the server's own text.
QList<MessageBoxCatcher::Seen> informationBox(const std::string& text) {
    return {{QString::fromStdString(text), "Tavrolin Cross Reference", QMessageBox::Information}};
}

const QString kRetryOnly = onlyOn("cmdCommit");

// Records the order in which buttons turn disabled.
class DisableRecorder : public QObject {
  public:
    QStringList order;
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (event->type() == QEvent::EnabledChange && widget && !widget->isEnabled())
            order << watched->objectName();
        return false;
    }
};

}  // namespace

TEST(Commit, PostsTypicalMovesAndReloadsWhatTheServerNowHolds) {
    Committing f;
    f.makeTypicalMoves();
    EXPECT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"123", "77", "5"}));
    f.server.setReplyFor("GET", {200, kAfterSave});
    MessageBoxCatcher boxes;

    f.ui.click("cmdCommit");

    const auto posts = f.requests("POST");
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].target, "/Tavrolin.asp");
    EXPECT_EQ(posts[0].contentType, "application/x-www-form-urlencoded");
    EXPECT_EQ(posts[0].body, kTypicalMovesBody);

    const auto all = f.server.requests();
    ASSERT_EQ(all.size(), 3u);  // load, save, reload
    EXPECT_EQ(all[2].method, "GET");
    EXPECT_EQ(all[2].target, "/Tavrolin.asp?EmployeeID=42");
    EXPECT_EQ(f.ui.work(),
              "lstVendors: 8/Eight/000008 9/Nine/000009 456/Delta/000456 900/Omega/000900 "
              "highlighted \nlstSelectedVendors: 5/Five/000005 77/Beta/000077 "
              "123/Acme/000123 highlighted ");
    EXPECT_EQ(f.ui.buttonStates(), kAllOff);
    EXPECT_EQ(f.bar()->value(), 0);
    EXPECT_EQ(f.control.cursor().shape(), Qt::ArrowCursor);
    EXPECT_TRUE(boxes.seen().isEmpty());  // the server had nothing to say
}

TEST(Commit, DisablesTheFiveButtonsInOrderAndShowsTheBusyPointerWhileSaving) {
    Committing f;
    f.move("lstVendors", "lstSelectedVendors", "8");
    DisableRecorder recorder;
    for (const char* name : {"cmdAdd", "cmdAddAll", "cmdDelete", "cmdRemoveAll", "cmdCommit"}) {
        f.ui.button(name)->setEnabled(true);
        f.ui.button(name)->installEventFilter(&recorder);
    }
    f.answerPost("", 200, true);
    QString statesWhileSaving;
    Qt::CursorShape pointerWhileSaving = Qt::ArrowCursor;
    QTimer::singleShot(0, [&] {
        statesWhileSaving = f.ui.buttonStates();
        pointerWhileSaving = f.control.cursor().shape();
        f.server.release();
    });

    f.ui.click("cmdCommit");

    EXPECT_EQ(recorder.order,
              (QStringList{"cmdAdd", "cmdAddAll", "cmdDelete", "cmdRemoveAll", "cmdCommit"}));
    EXPECT_EQ(statesWhileSaving, kAllOff);
    EXPECT_EQ(pointerWhileSaving, Qt::WaitCursor);
    EXPECT_EQ(f.ui.buttonStates(), kAllOff);
    EXPECT_EQ(f.control.cursor().shape(), Qt::ArrowCursor);
}

TEST(Commit, NothingChangedSendsNothingShowsNothingAndStillReloads) {
    Committing f;
    // Moved across and back: plain again, nothing to save.
    f.move("lstVendors", "lstSelectedVendors", "8");
    f.move("lstSelectedVendors", "lstVendors", "8");
    f.server.setReplyFor("GET", {200, kAfterSave});
    MessageBoxCatcher boxes;

    f.ui.click("cmdCommit");

    EXPECT_TRUE(f.requests("POST").empty());
    EXPECT_EQ(f.requests("GET").size(), 2u);
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"8", "9", "456", "900"}));
    EXPECT_TRUE(boxes.seen().isEmpty());
    EXPECT_EQ(f.control.cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(f.ui.buttonStates(), kAllOff);
}

TEST(Commit, ErrorStatusShowsTheServersTextKeepsTheMovesAndARetryThatWorksReloads) {
    Committing f;
    f.move("lstSelectedVendors", "lstVendors", "5");
    f.move("lstVendors", "lstSelectedVendors", "9");
    const QString before = f.ui.work();
    for (int status : {400, 404, 422, 500, 503}) {
        SCOPED_TRACE(status);
        const std::string refusal = "Not saved (" + std::to_string(status) + "): try again.";
        f.answerPost(refusal, status);
        MessageBoxCatcher boxes;

        ASSERT_TRUE(f.ui.button("cmdCommit")->isEnabled());
        f.ui.click("cmdCommit");

        EXPECT_EQ(boxes.seen(), informationBox(refusal));
        EXPECT_EQ(f.ui.work(), before);
        EXPECT_EQ(f.ui.buttonStates(), kRetryOnly);
    }
    EXPECT_EQ(f.requests("POST").size(), 5u);
    EXPECT_EQ(f.requests("GET").size(), 1u);
    // Every try sent the same moves.
    for (const auto& post : f.requests("POST")) EXPECT_EQ(post.body, f.requests("POST")[0].body);

    f.answerPost("Saved.", 200);
    f.server.setReplyFor("GET", {200, kAfterSave});
    MessageBoxCatcher boxes;
    ASSERT_TRUE(f.ui.button("cmdCommit")->isEnabled());
    f.ui.click("cmdCommit");

    EXPECT_EQ(boxes.texts(), QStringList{"Saved."});
    EXPECT_EQ(f.requests("GET").size(), 2u);
    EXPECT_EQ(f.ui.rows("lstVendors", 2), (QStringList{"000008", "000009", "000456", "000900"}));
    EXPECT_EQ(f.ui.buttonStates(), kAllOff);
}

TEST(Commit, DroppedConnectionKeepsTheMoves) {
    // Dropped before any answer, and dropped half way through a reply with a success status.
    for (const QByteArray& postStart :
         {QByteArray(), QByteArray("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
                                   "Content-Length: 100\r\n\r\nSaved, and")}) {
        SCOPED_TRACE(postStart.toStdString());
        Committing f;
        f.move("lstVendors", "lstSelectedVendors", "8");
        const QString before = f.ui.work();
        // In the server's place, a listener that reads each request whole, sends postStart and
        // hangs up. The save waits in an event loop, so it can answer from this thread.
        const quint16 port = quint16(f.server.port());
        f.server.stop();
        QTcpServer dropper;
        ASSERT_TRUE(dropper.listen(QHostAddress::LocalHost, port));
        QStringList methods;
        QObject::connect(&dropper, &QTcpServer::newConnection, [&] {
            QTcpSocket* peer = dropper.nextPendingConnection();
            auto request = std::make_shared<QByteArray>();
            QObject::connect(peer, &QTcpSocket::readyRead, peer, [&, peer, request] {
                *request += peer->readAll();
                const qsizetype head = request->indexOf("\r\n\r\n");
                const auto length = QRegularExpression("Content-Length: (\\d+)").match(*request);
                if (head < 0 || request->size() < head + 4 + length.captured(1).toInt()) return;
                methods << QString::fromLatin1(request->left(request->indexOf(' ')));
                peer->write(postStart);
                peer->disconnectFromHost();
            });
        });
        MessageBoxCatcher boxes;

        ASSERT_TRUE(f.ui.button("cmdCommit")->isEnabled());
        f.ui.click("cmdCommit");

        ASSERT_FALSE(methods.isEmpty());
        EXPECT_EQ(methods.count("POST"), methods.size());  // and no reload
        EXPECT_EQ(boxes.texts(), QStringList{"Error During saving to Database"});
        EXPECT_EQ(f.ui.work(), before);
        EXPECT_EQ(f.ui.buttonStates(), kRetryOnly);
    }
}

TEST(Commit, ReplyThatLooksLikeMarkupIsShownAsPlainText) {
    Committing f;
    f.move("lstVendors", "lstSelectedVendors", "9");
    const QString page =
        "<html><head><title>502 Bad Gateway</title></head><body><h1>Bad "
        "Gateway</h1><p>The proxy got no answer &amp; gave up.</p></body></html>";
    ASSERT_TRUE(Qt::mightBeRichText(page));
    f.answerPost(page.toStdString(), 502);
    struct Seen {
        QString text;
        Qt::TextFormat box, label;
    };
    QList<Seen> seen;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        const auto* label = box->findChild<QLabel*>("qt_msgbox_label");
        seen.push_back({label ? label->text() : QString(), box->textFormat(),
                        label ? label->textFormat() : Qt::AutoText});
        box->done(QMessageBox::Ok);
    });
    closer.start(5);

    f.ui.click("cmdCommit");

    ASSERT_EQ(seen.size(), 1);
    EXPECT_EQ(seen[0].text, page);
    EXPECT_EQ(seen[0].box, Qt::PlainText);
    EXPECT_EQ(seen[0].label, Qt::PlainText);
    EXPECT_EQ(f.ui.buttonStates(), kRetryOnly);
}

TEST(SaveToDatabase, BlankRepliesShowNothingAnyOtherReplyIsShownUntrimmed) {
    Committing f;
    f.move("lstVendors", "lstSelectedVendors", "9");
    struct Case {
        std::string reply;
        bool shown;
    };
    // A long reply is shown whole in one box.
    std::string longReply;
    for (int i = 0; longReply.size() < 3000; ++i)
        longReply += "Line " + std::to_string(i) + " saved.\n";
    longReply.resize(3000);
    for (const Case& c : {Case{"", false}, Case{"     ", false}, Case{"\r\n\r\n", true},
                          Case{"\t", true}, Case{"  Saved.  ", true}, Case{longReply, true}}) {
        f.answerPost(c.reply);
        MessageBoxCatcher boxes;
        f.control.SaveToDatabase();
        EXPECT_EQ(boxes.seen(),
                  c.shown ? informationBox(c.reply) : QList<MessageBoxCatcher::Seen>{})
            << '"' << c.reply << '"';
    }
    EXPECT_EQ(f.requests("POST").size(), 6u);
}

TEST(SaveToDatabase, HostCallsKeepButtonsListsAndMarkersAndDoNotReloadWhateverTheReply) {
    Committing f;
    f.move("lstVendors", "lstSelectedVendors", "8");
    f.move("lstSelectedVendors", "lstVendors", "900");
    f.ui.button("cmdAdd")->setEnabled(true);
    const QString buttonsBefore = f.ui.buttonStates();
    const QString before = f.ui.work();
    ASSERT_TRUE(before.contains("8/Eight/000008N"));
    ASSERT_TRUE(before.contains("900/Omega/000900D"));
    f.answerPost("", 200, true);
    Qt::CursorShape pointerWhileSaving = Qt::ArrowCursor;
    QTimer::singleShot(0, [&] {
        pointerWhileSaving = f.control.cursor().shape();
        f.server.release();
    });

    f.control.SaveToDatabase();

    EXPECT_EQ(pointerWhileSaving, Qt::WaitCursor);
    EXPECT_EQ(f.control.cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(f.ui.buttonStates(), buttonsBefore);
    EXPECT_EQ(f.ui.work(), before);

    // A refusal shows the server's text and, unlike the button, changes no button either.
    f.answerPost("Refused.", 422);
    MessageBoxCatcher boxes;
    f.control.SaveToDatabase();

    EXPECT_EQ(boxes.texts(), QStringList{"Refused."});
    EXPECT_EQ(f.ui.buttonStates(), buttonsBefore);
    EXPECT_EQ(f.ui.work(), before);
    EXPECT_EQ(f.requests("GET").size(), 1u);
    // The markers stayed, so each call sent the same moves.
    const auto posts = f.requests("POST");
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts[0].body, posts[1].body);
    EXPECT_EQ(posts[0].body,
              "SQL=INSERT+INTO+VendorEmployeeCrossReference+%28EmployeeID%2CVendorID%2C"
              "RecordLastUpdated%29+VALUES+%2842%2C8%2CGETDATE%28%29+%29+&"
              "SQL=DELETE+FROM+VendorEmployeeCrossReference+WHERE+EmployeeID%3D42+AND+VendorID+"
              "IN%28900%29&");
}

TEST(SaveToDatabase, TransferTimeoutReportsTheFailure) {
    Committing f;
    f.move("lstVendors", "lstSelectedVendors", "8");
    f.control.setSaveTimeout(200ms);
    f.answerPost("too late", 200, true);
    MessageBoxCatcher boxes;

    f.control.SaveToDatabase();

    EXPECT_EQ(boxes.texts(), QStringList{"Error During saving to Database"});
    EXPECT_EQ(f.control.cursor().shape(), Qt::ArrowCursor);
}

TEST(SaveToDatabase, TrailingSlashInServerNameIsNotCorrected) {
    EXPECT_EQ(tavrolin::saveRequestUrl("http://127.0.0.1:8080/"),
              "http://127.0.0.1:8080//Tavrolin.asp");
    EXPECT_EQ(tavrolin::saveRequestUrl("http://127.0.0.1:8080"),
              "http://127.0.0.1:8080/Tavrolin.asp");

    // Qt's HTTP layer sends the empty path segment as a single slash; the page still gets it.
    Committing f;
    f.control.setServerName(QString::fromStdString(f.server.baseUrl()) + "/");
    f.move("lstVendors", "lstSelectedVendors", "8");
    f.control.SaveToDatabase();
    EXPECT_EQ(f.requests("POST").size(), 1u);
}

TEST(SaveToDatabase, RequestThatCannotStartShowsErrorOccouredAndKeepsTheMoves) {
    Committing f;
    // No scheme: the load fails quietly and leaves the lists empty; put a change back by hand.
    f.control.setServerName(QString::fromStdString(f.server.baseUrl()).mid(7));
    tavrolin::ListItem row = f.ui.list("lstSelectedVendors")->add("8");
    row.setSubItem(1, "Eight");
    row.setSubItem(2, "000008N");
    f.ui.button("cmdCommit")->setEnabled(true);
    const QString before = f.ui.work();
    MessageBoxCatcher boxes;

    f.control.SaveToDatabase();

    const MessageBoxCatcher::Seen errorOccoured{"Error Occoured", "Information",
                                                QMessageBox::Critical};
    EXPECT_EQ(boxes.seen(), QList{errorOccoured});
    EXPECT_EQ(f.control.cursor().shape(), Qt::ArrowCursor);

    // The same through the button: the moves stay for a retry.
    f.ui.click("cmdCommit");

    EXPECT_EQ(boxes.seen(), (QList{errorOccoured, errorOccoured}));
    EXPECT_EQ(f.ui.work(), before);
    EXPECT_EQ(f.ui.buttonStates(), kRetryOnly);
    EXPECT_EQ(f.server.requests().size(), 1u);  // the first load only
}

TEST(SaveToDatabase, MoreStatementsThanTheCounterHoldsShowsErrorOccouredAndSendsNothing) {
    Committing f;
    tavrolin::ListView* selected = f.ui.list("lstSelectedVendors");
    selected->clear();
    for (int id = 1; id <= 32767; ++id) {
        tavrolin::ListItem row = selected->add(QString::number(id));
        row.setSubItem(1, "Vendor");
        row.setSubItem(2, tavrolin::markers::plainForm(QString::number(id)) + "N");
    }
    MessageBoxCatcher boxes;
    f.control.SaveToDatabase();  // 32,767 inserts: the most that fits
    EXPECT_TRUE(boxes.seen().isEmpty());
    ASSERT_EQ(f.requests("POST").size(), 1u);

    // A vendor taken out of the selected list as well: one statement too many.
    f.ui.list("lstVendors")->findItem("8").setSubItem(2, "000008D");
    f.control.SaveToDatabase();

    EXPECT_EQ(boxes.texts(), QStringList{"Error Occoured"});
    EXPECT_EQ(f.requests("POST").size(), 1u);
}
