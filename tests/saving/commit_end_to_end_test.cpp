#include "control/list_view/list_view.h"
#include "control/list_view/progress_bar.h"
#include "support/control_driver.h"
#include "support/linked_vendors.h"
#include "support/selection_in_step.h"
#include "support/server_process.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QGuiApplication>
#include <QTemporaryDir>

using namespace test_support;

namespace {

StoredLinks storedLinks(const std::string& baseUrl, int employee) {
    return test_support::storedLinks(QString::fromStdString(baseUrl), employee);
}

// Runs one statement on the server's SQLite file, as an admin's tool would meanwhile.
void execute(const QString& file, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.toUtf8().constData(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 10000);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

const QString kRetryOnly = onlyOn("cmdCommit");

struct OnTheDemoServer {
    QTemporaryDir directory;
    const QString database = directory.filePath("demo.sqlite");
    tavrolin::test::ServerProcess server{
        {"--db", database.toStdString(), "--demo", "--listen", "127.0.0.1:0"}};
    Tavrolin control;
    ControlDriver ui{control};

    OnTheDemoServer() {
        control.resize(control.sizeHint());
        control.show();
        control.setEmployeeID("42");
        control.setServerName(QString::fromStdString(server.baseUrl()));
    }
};

}  // namespace

TEST(CommitEndToEnd, MovesBothWaysAreStoredAndTheListsReloadFromTheDatabase) {
    OnTheDemoServer f;
    const StoredLinks before = storedLinks(f.server.baseUrl(), 42);
    ASSERT_TRUE(before.notLinked.contains("77") && before.notLinked.contains("123"));
    ASSERT_TRUE(before.linked.contains("456") && before.linked.contains("900"));
    EXPECT_EQ(sorted(f.ui.rows("lstSelectedVendors")), before.linked);

    f.ui.clickRow("lstVendors", f.ui.list("lstVendors")->findItem("123").position());
    f.ui.clickRow("lstVendors", f.ui.list("lstVendors")->findItem("77").position(),
                  Qt::ControlModifier);
    ASSERT_TRUE(f.ui.click("cmdAddAll"));
    ASSERT_EQ(f.ui.highlighted("lstSelectedVendors").size(), 2);
    f.ui.move("lstSelectedVendors", "456", "cmdDelete");
    // Across and back: nothing to save for it.
    f.ui.move("lstSelectedVendors", "900", "cmdDelete");
    f.ui.move("lstVendors", "900", "cmdAdd");
    const QStringList selectedMarkers = f.ui.rows("lstSelectedVendors", 2);
    EXPECT_TRUE(selectedMarkers.contains("000123N"));
    EXPECT_TRUE(selectedMarkers.contains("000077N"));
    EXPECT_TRUE(selectedMarkers.contains("000900"));
    EXPECT_TRUE(f.ui.rows("lstVendors", 2).contains("000456D"));
    ASSERT_TRUE(f.ui.button("cmdCommit")->isEnabled());

    const StoredLinks otherEmployee = storedLinks(f.server.baseUrl(), 7);
    MessageBoxCatcher boxes;
    f.ui.click("cmdCommit");

    // Whatever the page has to say is shown as its reply, never as an error.
    for (const auto& seen : boxes.seen()) {
        EXPECT_EQ(seen.title, "Tavrolin Cross Reference") << seen.text.toStdString();
        EXPECT_EQ(seen.icon, QMessageBox::Information);
    }
    const StoredLinks after = storedLinks(f.server.baseUrl(), 42);
    QStringList expectedLinked = before.linked;
    expectedLinked.removeAll("456");
    expectedLinked << "77"
                   << "123";
    EXPECT_EQ(after.linked, sorted(expectedLinked));
    EXPECT_TRUE(after.notLinked.contains("456"));
    EXPECT_FALSE(after.notLinked.contains("77"));

    EXPECT_EQ(sorted(f.ui.rows("lstSelectedVendors")), after.linked);
    EXPECT_EQ(sorted(f.ui.rows("lstVendors")), after.notLinked);
    for (const char* list : {"lstSelectedVendors", "lstVendors"})
        for (const QString& marker : f.ui.rows(list, 2))
            EXPECT_TRUE(marker.front().isDigit() && marker.back().isDigit())
                << marker.toStdString();
    EXPECT_EQ(f.ui.buttonStates(), kAllOff);
    EXPECT_EQ(f.ui.label("lblSelVendors")->text(),
              QString("Selected Vendors (%1):").arg(after.linked.size()));
    // The reload leaves the selection models and the accessible tables with the lists.
    for (const char* list : {"lstVendors", "lstSelectedVendors"}) expectInStep(f.ui.list(list));

    const StoredLinks otherAfter = storedLinks(f.server.baseUrl(), 7);
    EXPECT_EQ(otherAfter.linked, otherEmployee.linked);
    EXPECT_FALSE(otherEmployee.linked.isEmpty());
}

TEST(CommitEndToEnd, RefusedPostKeepsTheMovesChangesNothingAndARetrySaves) {
    OnTheDemoServer f;
    const StoredLinks before = storedLinks(f.server.baseUrl(), 42);
    ASSERT_TRUE(before.notLinked.contains("77") && before.notLinked.contains("123"));
    f.ui.move("lstVendors", "77", "cmdAdd");
    f.ui.move("lstVendors", "123", "cmdAdd");
    const QString moved = f.ui.work();
    ASSERT_TRUE(f.ui.rows("lstSelectedVendors", 2).contains("000123N"));
    // Meanwhile the vendor is made inactive: the server refuses the whole post.
    execute(f.database, "UPDATE Vendor SET Active = 0 WHERE VendorID = 123");
    MessageBoxCatcher boxes;

    ASSERT_TRUE(f.ui.button("cmdCommit")->isEnabled());
    f.ui.click("cmdCommit");

    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_TRUE(boxes.seen()[0].text.contains("vendor 123 is inactive"))
        << boxes.seen()[0].text.toStdString();
    EXPECT_EQ(boxes.seen()[0].title, "Tavrolin Cross Reference");
    const StoredLinks refused = storedLinks(f.server.baseUrl(), 42);
    EXPECT_EQ(refused.linked, before.linked);  // 77 was not linked either
    EXPECT_EQ(f.ui.work(), moved);
    EXPECT_EQ(f.ui.buttonStates(), kRetryOnly);

    execute(f.database, "UPDATE Vendor SET Active = 1 WHERE VendorID = 123");
    MessageBoxCatcher again;
    ASSERT_TRUE(f.ui.button("cmdCommit")->isEnabled());
    f.ui.click("cmdCommit");

    EXPECT_TRUE(again.seen().isEmpty());
    const StoredLinks saved = storedLinks(f.server.baseUrl(), 42);
    EXPECT_EQ(saved.linked, sorted(before.linked + QStringList{"77", "123"}));
    EXPECT_EQ(sorted(f.ui.rows("lstSelectedVendors")), saved.linked);
    EXPECT_FALSE(f.ui.rows("lstSelectedVendors", 2).contains("000123N"));
    EXPECT_EQ(f.ui.buttonStates(), kAllOff);
}

TEST(CommitEndToEnd, ServerGoneKeepsTheMovesAndARetrySavesOnceItIsBack) {
    OnTheDemoServer f;
    f.ui.move("lstVendors", "123", "cmdAdd");
    f.ui.move("lstSelectedVendors", "456", "cmdDelete");
    auto* bar = f.control.findChild<tavrolin::ProgressBar*>("prbLoad");
    bar->setValue(3);
    const QString moved = f.ui.work();
    const int port = f.server.port();
    f.server.stop();
    MessageBoxCatcher boxes;

    ASSERT_TRUE(f.ui.button("cmdCommit")->isEnabled());
    f.ui.click("cmdCommit");

    // No title of its own: the program's name, as for "Not found".
    ASSERT_FALSE(QGuiApplication::applicationDisplayName().isEmpty());
    EXPECT_EQ(boxes.seen(), (QList<MessageBoxCatcher::Seen>{
                                {"Error During saving to Database",
                                 QGuiApplication::applicationDisplayName(), QMessageBox::NoIcon}}));
    EXPECT_EQ(f.ui.work(), moved);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(f.control.cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(f.ui.buttonStates(), kRetryOnly);
    // The move buttons come back with the next click in a list, as after any commit.
    f.ui.clickRow("lstVendors", 1);
    EXPECT_TRUE(f.ui.button("cmdAdd")->isEnabled());

    // The server comes back at the same address on the same database.
    tavrolin::test::ServerProcess back(
        {"--db", f.database.toStdString(), "--listen", "127.0.0.1:" + std::to_string(port)});
    ASSERT_EQ(back.port(), port);
    MessageBoxCatcher again;
    ASSERT_TRUE(f.ui.button("cmdCommit")->isEnabled());
    f.ui.click("cmdCommit");

    EXPECT_TRUE(again.seen().isEmpty());
    const StoredLinks saved = storedLinks(back.baseUrl(), 42);
    EXPECT_TRUE(saved.linked.contains("123"));
    EXPECT_FALSE(saved.linked.contains("456"));
    EXPECT_EQ(sorted(f.ui.rows("lstSelectedVendors")), saved.linked);
    EXPECT_EQ(sorted(f.ui.rows("lstVendors")), saved.notLinked);
}
