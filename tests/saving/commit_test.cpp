#include "saving/commit.h"
#include "control/list_view/list_view.h"
#include "control/list_view/progress_bar.h"
#include "lists/markers.h"
#include "support/control_driver.h"
#include "support/document_server.h"

#include <gtest/gtest.h>

#include <QGuiApplication>

#include <QEvent>
#include <QTimer>

#include <memory>

using namespace test_support;
using namespace std::chrono_literals;

namespace {

const std::string kLoaded =
    vendorDocument("4", "3", {{"123", "Acme"}, {"77", "Beta"}, {"8", "Eight"}, {"9", "Nine"}},
                   {{"456", "Delta"}, {"900", "Omega"}, {"5", "Five"}});
// What the server holds once the worked example's moves are saved.
const std::string kAfterSave =
    vendorDocument("4", "3", {{"8", "Eight"}, {"9", "Nine"}, {"456", "Delta"}, {"900", "Omega"}},
                   {{"123", "Acme"}, {"77", "Beta"}, {"5", "Five"}});

const std::string kWorkedExampleBody =
    "SQL=INSERT+INTO+VendorEmployeeCrossReference+%28EmployeeID%2CVendorID%2CRecordLastUpdated%29"
    "+VALUES+%2842%2C123%2CGETDATE%28%29+%29+&"
    "SQL=INSERT+INTO+VendorEmployeeCrossReference+%28EmployeeID%2CVendorID%2CRecordLastUpdated%29"
    "+VALUES+%2842%2C77%2CGETDATE%28%29+%29+&"
    "SQL=DELETE+FROM+VendorEmployeeCrossReference+WHERE+EmployeeID%3D42+AND+VendorID+IN%28456%2C900"
    "%29&";

const char* const kAllOff = "cmdAdd=off cmdAddAll=off cmdDelete=off cmdRemoveAll=off cmdCommit=off";

// A loaded control on a recording server that answers GET with a vendor document and POST with
// the text the test gives it.
struct Committing {
    std::unique_ptr<DocumentServer> server = std::make_unique<DocumentServer>();
    Tavrolin control;
    ControlDriver ui{control};

    Committing() {
        control.show();
        server->setReplyFor("GET", {200, kLoaded});
        server->setReplyFor("POST", {200, "", "text/plain; charset=utf-8"});
        control.setEmployeeID("42");
        control.setServerName(QString::fromStdString(server->baseUrl()));
    }

    void answerPost(const std::string& text, int status = 200, int delayMs = 0) {
        server->setReplyFor("POST", {status, text, "text/plain; charset=utf-8", delayMs});
    }

    std::vector<DocumentServer::Request> requests(const std::string& method) const {
        std::vector<DocumentServer::Request> out;
        for (const auto& r : server->requests())
            if (r.method == method) out.push_back(r);
        return out;
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

    void moveWorkedExample() {
        // The added vendors stand in name order, 123 (Acme) before 77 (Beta).
        ui.list("lstSelectedVendors")->setSortKey(1);
        move("lstVendors", "lstSelectedVendors", "123");
        move("lstVendors", "lstSelectedVendors", "77");
        move("lstSelectedVendors", "lstVendors", "456");
        move("lstSelectedVendors", "lstVendors", "900");
    }
};

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

TEST(Commit, PostsTheWorkedExampleAndReloadsWhatTheServerNowHolds) {
    Committing f;
    f.moveWorkedExample();
    EXPECT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"123", "77", "5"}));
    f.server->setReplyFor("GET", {200, kAfterSave});
    MessageBoxCatcher boxes;

    f.ui.click("cmdCommit");

    const auto posts = f.requests("POST");
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].target, "/Tavrolin.asp");
    EXPECT_EQ(posts[0].contentType, "application/x-www-form-urlencoded");
    EXPECT_EQ(posts[0].body.size(), 363u);
    EXPECT_EQ(posts[0].body, kWorkedExampleBody);

    const auto all = f.server->requests();
    ASSERT_EQ(all.size(), 3u);  // load, save, reload
    EXPECT_EQ(all[2].method, "GET");
    EXPECT_EQ(all[2].target, "/Tavrolin.asp?EmployeeID=42");
    EXPECT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"5", "77", "123"}));
    EXPECT_EQ(f.ui.rows("lstSelectedVendors", 2), (QStringList{"000005", "000077", "000123"}));
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"8", "9", "456", "900"}));
    EXPECT_EQ(f.ui.rows("lstVendors", 2), (QStringList{"000008", "000009", "000456", "000900"}));
    EXPECT_EQ(f.ui.buttonStates(), kAllOff);
    EXPECT_EQ(f.control.findChild<tavrolin::ProgressBar*>("prbLoad")->value(), 0);
    EXPECT_EQ(f.control.cursor().shape(), Qt::ArrowCursor);
    EXPECT_TRUE(boxes.seen().isEmpty());  // the server had nothing to say
}

TEST(Commit, DisablesTheFiveButtonsInOrderAndShowsTheBusyPointerWhileSaving) {
    Committing f;
    f.move("lstVendors", "lstSelectedVendors", "8");
    for (const char* name : {"cmdAdd", "cmdAddAll", "cmdDelete", "cmdRemoveAll", "cmdCommit"})
        f.ui.button(name)->setEnabled(true);
    DisableRecorder recorder;
    for (const char* name : {"cmdAdd", "cmdAddAll", "cmdDelete", "cmdRemoveAll", "cmdCommit"})
        f.ui.button(name)->installEventFilter(&recorder);
    f.answerPost("", 200, 300);
    QString statesWhileSaving;
    Qt::CursorShape pointerWhileSaving = Qt::ArrowCursor;
    QTimer::singleShot(0, [&] {
        statesWhileSaving = f.ui.buttonStates();
        pointerWhileSaving = f.control.cursor().shape();
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
    f.server->setReplyFor("GET", {200, kAfterSave});
    MessageBoxCatcher boxes;

    f.ui.click("cmdCommit");

    EXPECT_TRUE(f.requests("POST").empty());
    EXPECT_EQ(f.requests("GET").size(), 2u);
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"8", "9", "456", "900"}));
    EXPECT_TRUE(boxes.seen().isEmpty());
    EXPECT_EQ(f.control.cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(f.ui.buttonStates(), kAllOff);
}

TEST(Commit, ServerDownReportsTheFailureAndReloads) {
    Committing f;
    f.move("lstVendors", "lstSelectedVendors", "8");
    f.server.reset();
    MessageBoxCatcher boxes;

    f.ui.click("cmdCommit");

    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_EQ(boxes.seen()[0].text, "Error During saving to Database");
    // No title of its own: the program's name, as for "Not found".
    EXPECT_EQ(boxes.seen()[0].title, QGuiApplication::applicationDisplayName());
    EXPECT_FALSE(boxes.seen()[0].title.isEmpty());
    EXPECT_EQ(boxes.seen()[0].icon, QMessageBox::NoIcon);
    // The reload found no server either: both lists end empty, quietly.
    EXPECT_TRUE(f.ui.rows("lstVendors").isEmpty());
    EXPECT_TRUE(f.ui.rows("lstSelectedVendors").isEmpty());
    EXPECT_EQ(f.control.cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(f.ui.buttonStates(), kAllOff);
}

TEST(Commit, RefusedPostShowsTheServersTextThenReloads) {
    Committing f;
    f.move("lstSelectedVendors", "lstVendors", "5");
    const std::string refusal = "Statement 1 refused: vendor 5 is not linked to employee 42.";
    f.answerPost(refusal, 400);
    MessageBoxCatcher boxes;

    f.ui.click("cmdCommit");

    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_EQ(boxes.seen()[0].text, QString::fromStdString(refusal));
    EXPECT_EQ(boxes.seen()[0].title, "Tavrolin Cross Reference");
    EXPECT_EQ(boxes.seen()[0].icon, QMessageBox::Information);
    EXPECT_EQ(f.requests("GET").size(), 2u);
    EXPECT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"5", "456", "900"}));
    EXPECT_EQ(f.ui.rows("lstSelectedVendors", 2), (QStringList{"000005", "000456", "000900"}));
}

TEST(Commit, LongReplyIsShownWholeInOneBox) {
    Committing f;
    f.move("lstVendors", "lstSelectedVendors", "9");
    std::string reply;
    for (int i = 0; reply.size() < 3000; ++i) reply += "Line " + std::to_string(i) + " saved.\n";
    reply.resize(3000);
    f.answerPost(reply);
    MessageBoxCatcher boxes;

    f.ui.click("cmdCommit");

    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_EQ(boxes.seen()[0].text.size(), 3000);
    EXPECT_EQ(boxes.seen()[0].text, QString::fromStdString(reply));
}

TEST(SaveToDatabase, BlankRepliesShowNothingAnyOtherReplyIsShownUntrimmed) {
    Committing f;
    f.move("lstVendors", "lstSelectedVendors", "9");
    struct Case {
        std::string reply;
        bool shown;
    };
    for (const Case& c : {Case{"", false}, Case{"     ", false}, Case{"\r\n\r\n", true},
                          Case{"\t", true}, Case{"  Saved.  ", true}}) {
        f.answerPost(c.reply);
        MessageBoxCatcher boxes;
        f.control.SaveToDatabase();
        if (c.shown) {
            ASSERT_EQ(boxes.seen().size(), 1) << '"' << c.reply << '"';
            EXPECT_EQ(boxes.seen()[0].text, QString::fromStdString(c.reply));
            EXPECT_EQ(boxes.seen()[0].title, "Tavrolin Cross Reference");
            EXPECT_EQ(boxes.seen()[0].icon, QMessageBox::Information);
        } else {
            EXPECT_TRUE(boxes.seen().isEmpty()) << '"' << c.reply << '"';
        }
    }
    EXPECT_EQ(f.requests("POST").size(), 5u);
}

TEST(SaveToDatabase, HostCallKeepsButtonsListsAndMarkersAndDoesNotReload) {
    Committing f;
    f.move("lstVendors", "lstSelectedVendors", "8");
    f.move("lstSelectedVendors", "lstVendors", "900");
    f.ui.button("cmdAdd")->setEnabled(true);
    const QString buttonsBefore = f.ui.buttonStates();
    const QStringList selectedBefore = f.ui.rows("lstSelectedVendors", 2);
    const QStringList vendorsBefore = f.ui.rows("lstVendors", 2);
    f.answerPost("", 200, 200);
    Qt::CursorShape pointerWhileSaving = Qt::ArrowCursor;
    QTimer::singleShot(0, [&] { pointerWhileSaving = f.control.cursor().shape(); });

    f.control.SaveToDatabase();

    EXPECT_EQ(pointerWhileSaving, Qt::WaitCursor);
    EXPECT_EQ(f.control.cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(f.ui.buttonStates(), buttonsBefore);
    EXPECT_EQ(f.ui.rows("lstSelectedVendors", 2), selectedBefore);
    EXPECT_EQ(f.ui.rows("lstVendors", 2), vendorsBefore);
    EXPECT_TRUE(selectedBefore.contains("000008N"));
    EXPECT_TRUE(vendorsBefore.contains("000900D"));
    EXPECT_EQ(f.requests("GET").size(), 1u);
    EXPECT_EQ(f.requests("POST").size(), 1u);
}

TEST(SaveToDatabase, SecondCallSendsTheSameBodyAgain) {
    Committing f;
    f.move("lstVendors", "lstSelectedVendors", "8");
    f.move("lstSelectedVendors", "lstVendors", "900");

    f.control.SaveToDatabase();
    f.control.SaveToDatabase();

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
    f.answerPost("too late", 200, 1500);
    MessageBoxCatcher boxes;

    f.control.SaveToDatabase();

    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_EQ(boxes.seen()[0].text, "Error During saving to Database");
    EXPECT_EQ(f.control.cursor().shape(), Qt::ArrowCursor);
}

TEST(SaveToDatabase, TrailingSlashInServerNameIsNotCorrected) {
    EXPECT_EQ(tavrolin::saveRequestUrl("http://127.0.0.1:8080/"),
              "http://127.0.0.1:8080//Tavrolin.asp");
    EXPECT_EQ(tavrolin::saveRequestUrl("http://127.0.0.1:8080"),
              "http://127.0.0.1:8080/Tavrolin.asp");

    // Qt's HTTP layer sends the empty path segment as a single slash; the page still gets it.
    Committing f;
    f.control.setServerName(QString::fromStdString(f.server->baseUrl()) + "/");
    f.move("lstVendors", "lstSelectedVendors", "8");
    f.control.SaveToDatabase();
    EXPECT_EQ(f.requests("POST").size(), 1u);
}

TEST(SaveToDatabase, RequestThatCannotStartShowsErrorOccoured) {
    Committing f;
    f.move("lstVendors", "lstSelectedVendors", "8");
    // No scheme: the load fails quietly and leaves the lists empty; put a change back by hand.
    f.control.setServerName(QString::fromStdString(f.server->baseUrl()).mid(7));
    tavrolin::ListItem row = f.ui.list("lstSelectedVendors")->add("8");
    row.setSubItem(1, "Eight");
    row.setSubItem(2, "000008N");
    MessageBoxCatcher boxes;

    f.control.SaveToDatabase();

    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_EQ(boxes.seen()[0].text, "Error Occoured");
    EXPECT_EQ(boxes.seen()[0].title, "Information");
    EXPECT_EQ(boxes.seen()[0].icon, QMessageBox::Critical);
    EXPECT_EQ(f.control.cursor().shape(), Qt::ArrowCursor);
    EXPECT_TRUE(f.requests("POST").empty());
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

    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_EQ(boxes.seen()[0].text, "Error Occoured");
    EXPECT_EQ(f.requests("POST").size(), 1u);
}
