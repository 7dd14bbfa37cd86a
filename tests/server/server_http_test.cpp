// End-to-end tests: the real tavrolin-server over HTTP on 127.0.0.1 with a real database, an
// SQLite file or a PostgreSQL database in the scratch cluster; every case runs on both engines.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "http_client.h"
#include "link_posts.h"
#include "postgres_connection.h"
#include "server_process.h"
#include "sqlite_connection.h"
#include "test_database.h"
#include "typical_moves.h"

using tavrolin::server::test::Engine;
using tavrolin::server::test::engineName;
using tavrolin::server::test::PostgresCluster;
using tavrolin::server::test::TestDatabase;
using tavrolin::test::deleteSql;
using tavrolin::test::formBody;
using tavrolin::test::insertSql;
using tavrolin::test::kForm;
using tavrolin::test::postForm;
using tavrolin::test::runServer;
using tavrolin::test::said;
using tavrolin::test::ServerProcess;
using test_support::kTypicalMovesBody;

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

// The vendor IDs in the document's `list` ("Vendors" or "SelectedVendors"), in order.
std::vector<long> ids(const std::string& xml, const std::string& list = "SelectedVendors") {
    static const std::regex id("<VendorID>(\\d+)</VendorID>");
    const auto begin = xml.find("<" + list + ">"), end = xml.find("</" + list + ">");
    std::vector<long> out;
    if (begin == std::string::npos || end == std::string::npos) return out;
    for (std::sregex_iterator at(xml.begin() + long(begin), xml.begin() + long(end), id), none;
         at != none; ++at)
        out.push_back(std::stol((*at)[1]));
    return out;
}

constexpr const char* kTrailHeader = "change,time_utc,action,employee,vendor,user,client,detail";

class ServerHttp : public ::testing::TestWithParam<Engine> {
  protected:
    // Vendors with awkward names, one inactive vendor linked and one not.
    void seed() {
        db.execute(
            "INSERT INTO Vendor (VendorID, VendorName, Active) VALUES "
            "(77, 'Acme', 1), (123, 'Caf\xC3\xA9 & \"Co\" <Paris>', 1), (200, 'Inactive', 0),"
            "(300, 'Retired but linked', 0), (456, 'Smith''s', 1), (900, 'Pe\xC3\xB1"
            "a', 1),"
            "(950, 'Other', 1);"
            "INSERT INTO VendorEmployeeCrossReference (EmployeeID, VendorID) VALUES "
            "(42, 456), (42, 900), (42, 300), (7, 77);");
    }

    // Active vendors 1..count; returns their IDs.
    std::vector<long> seedActiveVendors(long count) {
        std::string sql = "INSERT INTO Vendor (VendorID, VendorName) VALUES ";
        std::vector<long> vendors;
        for (long id = 1; id <= count; ++id) {
            sql += (id > 1 ? ",(" : "(") + std::to_string(id) + ",'V')";
            vendors.push_back(id);
        }
        db.execute(sql);
        return vendors;
    }

    void start() {
        server = std::make_unique<ServerProcess>(
            std::vector<std::string>{"--db", db.location(), "--listen", "127.0.0.1:0"});
        client = std::make_unique<httplib::Client>(server->baseUrl());
    }

    // The demo: an in-memory SQLite database, or the empty PostgreSQL one, seeded at start.
    void startDemo() {
        server = GetParam() == Engine::Sqlite
                     ? std::make_unique<ServerProcess>()
                     : std::make_unique<ServerProcess>(std::vector<std::string>{
                           "--db", db.location(), "--demo", "--listen", "127.0.0.1:0"});
        client = std::make_unique<httplib::Client>(server->baseUrl());
    }

    std::string document(long employee) {
        auto res = client->Get("/Tavrolin.asp?EmployeeID=" + std::to_string(employee));
        EXPECT_TRUE(res);
        if (!res) return {};
        EXPECT_EQ(res->status, 200);
        EXPECT_EQ(res->get_header_value("Content-Type"), "text/xml; charset=utf-8");
        return res->body;
    }

    httplib::Result post(const std::string& body, const char* contentType = kForm) {
        return client->Post("/Tavrolin.asp", body, contentType);
    }

    // Several clients post at once, spread over the servers at `baseUrls`.
    void postConcurrentlyAndCheck(const std::vector<long>& vendors, int threadCount,
                                  const std::vector<std::string>& baseUrls);

    // The audit command's CSV rows, newest first, without change and time; the change IDs go to
    // `changeIds`.
    std::vector<std::string> trailRows(std::vector<std::string>* changeIds = nullptr) {
        const auto [status, csv] = runServer("audit --format csv --db '" + db.location() + "'");
        EXPECT_EQ(status, 0) << csv;
        std::vector<std::string> rows;
        std::istringstream lines(csv);
        std::string line;
        std::getline(lines, line);
        EXPECT_EQ(line, kTrailHeader);
        while (std::getline(lines, line)) {
            const auto change = line.find(',');
            const auto time = line.find(',', change + 1);
            EXPECT_EQ(line.substr(change + 1, 2), "20") << line;
            if (changeIds) changeIds->push_back(line.substr(0, change));
            rows.push_back(line.substr(time + 1));
        }
        return rows;
    }

    TestDatabase db{GetParam()};
    std::unique_ptr<ServerProcess> server;
    std::unique_ptr<httplib::Client> client;
};

}  // namespace

TEST_P(ServerHttp, DocumentListsBothSidesWithCountsAndEscapedNames) {
    seed();
    start();
    const auto xml = document(42);
    EXPECT_EQ(xml,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><VendorDocument><Header><Counts>"
              "<VendorCount>3</VendorCount><SelectedCount>3</SelectedCount></Counts></Header>"
              "<Vendors><Vendor><VendorID>77</VendorID><VendorName>Acme</VendorName></Vendor>"
              "<Vendor><VendorID>123</VendorID><VendorName>Caf\xC3\xA9 &amp; &quot;Co&quot; "
              "&lt;Paris&gt;</VendorName></Vendor><Vendor><VendorID>950</VendorID><VendorName>"
              "Other</VendorName></Vendor></Vendors><SelectedVendors><Vendor><VendorID>300"
              "</VendorID><VendorName>Retired but linked</VendorName></Vendor><Vendor><VendorID>"
              "456</VendorID><VendorName>Smith&apos;s</VendorName></Vendor><Vendor><VendorID>900"
              "</VendorID><VendorName>Pe\xC3\xB1"
              "a</VendorName></Vendor></SelectedVendors>"
              "</VendorDocument>");
}

TEST_P(ServerHttp, MissingOrNonNumericEmployeeIsBadRequest) {
    start();
    for (const std::string target :
         {"/Tavrolin.asp", "/Tavrolin.asp?EmployeeID=", "/Tavrolin.asp?EmployeeID=4x2",
          "/Tavrolin.asp?EmployeeID=99999999999", "/Tavrolin.asp?EmployeeID=%2042"}) {
        auto res = client->Get(target);
        ASSERT_TRUE(res) << target;
        EXPECT_EQ(res->status, 400) << target;
        EXPECT_FALSE(res->body.empty());
    }
    auto health = client->Get("/health");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->body, "ok");
}

TEST_P(ServerHttp, TypicalMovesAreAppliedAndVisibleInTheNextDocument) {
    seed();
    start();
    EXPECT_EQ(said(post(kTypicalMovesBody)), "200 ");

    const auto xml = document(42);
    EXPECT_EQ(ids(xml), (std::vector<long>{77, 123, 300}));
    EXPECT_EQ(ids(xml, "Vendors"), (std::vector<long>{456, 900, 950}));
    EXPECT_THAT(xml, HasSubstr("<VendorCount>3</VendorCount><SelectedCount>3</SelectedCount>"));
    EXPECT_EQ(db.links(), "7:77 42:77 42:123 42:300");
    // The database clock stamps the new links.
    EXPECT_THAT(db.dump(), HasSubstr("L 42 123 20"));
}

TEST_P(ServerHttp, RefusedPostsLeaveTheDatabaseUntouched) {
    seed();
    start();
    const auto before = db.dump();
    const std::string good = insertSql(42, "123");
    struct Case {
        const char* what;
        std::string body;
        int status;
        const char* contentType = kForm;
    };
    // Which statements the parser refuses is its own test's matter; here a refusal of any kind
    // keeps the whole post out.
    const std::vector<Case> cases = {
        {"drop", formBody({"DROP TABLE Vendor"}), 422},
        {"second statement", formBody({good + "; DELETE FROM Vendor"}), 422},
        {"bad among good", formBody({good, "DELETE FROM Vendor", deleteSql(42, "456")}), 422},
        {"unknown vendor", formBody({good, insertSql(42, "999999")}), 422},
        {"inactive vendor", formBody({good, insertSql(42, "200")}), 422},
        {"foreign field", formBody({good}) + "Comment=hello&", 400},
        {"malformed escape", "SQL=INSERT%2", 400},
        {"raw non-ASCII", "SQL=caf\xE9", 400},
        {"not a form", formBody({good}), 400, "text/plain"},
    };
    for (const auto& c : cases) {
        auto res = post(c.body, c.contentType);
        ASSERT_TRUE(res) << c.what;
        EXPECT_EQ(res->status, c.status) << c.what;
        EXPECT_THAT(res->body, HasSubstr("Nothing was saved.")) << c.what << res->body;
        EXPECT_LT(res->body.size(), 200u) << c.what;
        EXPECT_EQ(db.dump(), before) << c.what;
    }
    // The server is still fine and the good statement alone still goes through.
    EXPECT_EQ(said(post(formBody({good}))), "200 ");
    EXPECT_EQ(db.links(), "7:77 42:123 42:300 42:456 42:900");
}

// Every thread adds overlapping vendors to the shared employee 500 and vendors of its own to
// employee 600 + t. `vendors` needs 60 + 15 active IDs per thread.
void ServerHttp::postConcurrentlyAndCheck(const std::vector<long>& vendors, int kThreads,
                                          const std::vector<std::string>& baseUrls) {
    constexpr int kPostsPerThread = 15;
    constexpr int kShared = 60;
    ASSERT_GE(vendors.size(), std::size_t(kShared + kThreads * kPostsPerThread));
    const auto vendor = [&](int index) { return vendors[std::size_t(index)]; };
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            httplib::Client own(baseUrls[std::size_t(t) % baseUrls.size()]);
            for (int p = 0; p < kPostsPerThread; ++p) {
                std::vector<std::string> statements;
                for (int k = 0; k < 4; ++k)
                    statements.push_back(
                        insertSql(500, std::to_string(vendor((p * 4 + k + t) % kShared))));
                statements.push_back(
                    insertSql(600 + t, std::to_string(vendor(kShared + t * kPostsPerThread + p))));
                if (said(postForm(own, formBody(statements))) != "200 ") ++failures[t];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;

    std::vector<long> expectedShared(vendors.begin(), vendors.begin() + kShared);
    EXPECT_EQ(ids(document(500)), expectedShared);
    for (int t = 0; t < kThreads; ++t) {
        const auto first = vendors.begin() + kShared + t * kPostsPerThread;
        EXPECT_EQ(ids(document(600 + t)), std::vector<long>(first, first + kPostsPerThread))
            << "employee " << 600 + t;
    }
}

TEST_P(ServerHttp, DemoLinksEmployee42AndLosesNoConcurrentPost) {
    startDemo();
    // The control's demo opens on employee 42, who has links.
    EXPECT_FALSE(ids(document(42)).empty());
    // Every active demo vendor, in ID order: an employee without links has them all unselected.
    postConcurrentlyAndCheck(ids(document(31337), "Vendors"), 6, {server->baseUrl()});
}

TEST_P(ServerHttp, ImportsGoodFilesAndRejectsBadOnesWhole) {
    const auto csv = ::testing::TempDir() + "import-" + std::to_string(getpid()) + ".csv";
    const auto run = [&](const std::string& content) {
        std::ofstream(csv) << content;
        return runServer("import-vendors --db '" + db.location() + "' '" + csv + "'");
    };
    auto [okStatus, okText] = run("id,name,active\n1,Alpha,1\n2,\"Beta, Inc.\",0\n");
    EXPECT_EQ(okStatus, 0) << okText;
    EXPECT_EQ(okText.rfind("imported 2 vendors into ", 0), 0u) << okText;
    EXPECT_EQ(db.dump(), "V 1 Alpha 1\nV 2 Beta, Inc. 0\n");

    auto [badStatus, badText] = run("id,name,active\n1,Alpha Renamed,1\n3,,1\n4,Delta,2\n");
    EXPECT_EQ(badStatus, 1);
    EXPECT_THAT(badText, HasSubstr("line 3"));
    EXPECT_THAT(badText, HasSubstr("line 4"));
    EXPECT_THAT(badText, Not(HasSubstr("line 2")));
    EXPECT_EQ(db.dump(), "V 1 Alpha 1\nV 2 Beta, Inc. 0\n");

    // The trail names the operating-system user; an unchanged vendor leaves no row.
    ASSERT_EQ(run("id,name,active\n1,Alpha,0\n2,Beta,0\n").first, 0);
    const std::string user = getpwuid(getuid())->pw_name;
    const std::vector<std::string> expected = {
        "renamed,,2," + user + ",,\"Beta, Inc. -> Beta\"", "deactivated,,1," + user + ",,Alpha",
        "added,,2," + user + ",,\"Beta, Inc.\"", "added,,1," + user + ",,Alpha"};
    EXPECT_EQ(trailRows(), expected);
}

// A post by a signed-in user: the trail holds each link it created or removed, by net effect,
// under one change; a post that changes nothing and refused posts add nothing.
TEST_P(ServerHttp, TrailHoldsWhatAPostChangedAndNothingElse) {
    seed();
    const auto users = ::testing::TempDir() + "trail-users-" + std::to_string(getpid());
    ASSERT_EQ(tavrolin::test::addUser(users, "alice", "pass word"), 0);
    server = std::make_unique<ServerProcess>(std::vector<std::string>{
        "--db", db.location(), "--listen", "127.0.0.1:0", "--users", users});
    client = std::make_unique<httplib::Client>(server->baseUrl());
    client->set_basic_auth("alice", "pass word");
    ASSERT_TRUE(trailRows().empty());

    auto res = post(formBody({insertSql(42, "77"), insertSql(42, "456"), deleteSql(42, "900,950"),
                              insertSql(42, "123"), deleteSql(42, "123"), deleteSql(7, "77"),
                              insertSql(7, "77")}));
    ASSERT_EQ(said(res), "200 ");
    const std::vector<std::string> expected = {
        "linked,42,77,alice,127.0.0.1,", "linked,7,77,alice,127.0.0.1,",
        "unlinked,42,900,alice,127.0.0.1,", "unlinked,7,77,alice,127.0.0.1,"};
    std::vector<std::string> changeIds;
    ASSERT_EQ(trailRows(&changeIds), expected);
    EXPECT_EQ(std::set<std::string>(changeIds.begin(), changeIds.end()).size(), 1u);

    ASSERT_EQ(said(post(formBody({insertSql(42, "456"), deleteSql(42, "950")}))), "200 ");
    ASSERT_EQ(post(formBody({insertSql(42, "950"), insertSql(42, "999999")}))->status, 422);
    httplib::Client stranger(server->baseUrl());
    ASSERT_EQ(stranger.Post("/Tavrolin.asp", formBody({deleteSql(42, "77")}), kForm)->status, 401);
    EXPECT_EQ(trailRows(), expected);

    // Selections and the other two formats.
    const auto audit = [&](const std::string& options) {
        return runServer("audit --db '" + db.location() + "' " + options);
    };
    auto [status, json] = audit("--employee 7 --format json");
    EXPECT_EQ(status, 0);
    const auto second = json.find('\n') + 1;
    ASSERT_EQ(json.rfind("{\"change\":" + changeIds[0] + ",\"time\":\"20", 0), 0u) << json;
    EXPECT_EQ(json.substr(json.find(",\"action\"")).substr(0, second - json.find(",\"action\"")),
              ",\"action\":\"linked\",\"employee\":7,\"vendor\":77,\"user\":\"alice\","
              "\"client\":\"127.0.0.1\",\"detail\":\"\"}\n");
    EXPECT_NE(json.find("\"unlinked\",\"employee\":7", second), std::string::npos) << json;
    const auto text = audit("--vendor 900 --until 2999-01-01 --user alice").second;
    EXPECT_THAT(text,
                HasSubstr(" UTC  #" + changeIds[0] +
                          "  unlinked    employee 42  vendor 900  by \"alice\" from 127.0.0.1\n"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
    EXPECT_EQ(audit("--since 2999-01-01T00:00Z").second, "");
    EXPECT_EQ(audit("--user bob --format csv").second, std::string(kTrailHeader) + "\n");
    EXPECT_EQ(audit("--since yesterday").first, 1);
}

TEST_P(ServerHttp, TwoServersOnOneDatabaseBehaveAsOne) {
    const auto vendors = seedActiveVendors(400);
    start();
    ServerProcess other({"--db", db.location(), "--listen", "127.0.0.1:0"});
    httplib::Client otherClient(other.baseUrl());
    const auto otherDocument = [&] {
        auto res = otherClient.Get("/Tavrolin.asp?EmployeeID=42");
        EXPECT_TRUE(res && res->status == 200);
        return ids(res ? res->body : "");
    };

    // Each server has the document cached before the other one changes it.
    ASSERT_TRUE(otherDocument().empty());
    ASSERT_TRUE(ids(document(42)).empty());
    ASSERT_EQ(said(post(formBody({insertSql(42, "5"), insertSql(42, "7")}))), "200 ");
    EXPECT_EQ(otherDocument(), (std::vector<long>{5, 7}));
    ASSERT_EQ(said(postForm(otherClient, formBody({deleteSql(42, "5")}))), "200 ");
    EXPECT_EQ(ids(document(42)), (std::vector<long>{7}));

    // Under a steady load of readers on the other server, each commit is there at once.
    std::atomic<bool> reading{true};
    std::vector<std::thread> readers;
    for (int r = 0; r < 4; ++r)
        readers.emplace_back([&] {
            httplib::Client own(other.baseUrl());
            while (reading) own.Get("/Tavrolin.asp?EmployeeID=43");
        });
    std::vector<long> expected;
    for (long vendor = 10; vendor < 30; ++vendor) {
        ASSERT_EQ(said(post(formBody({insertSql(43, std::to_string(vendor))}))), "200 ");
        expected.push_back(vendor);
        auto seen = otherClient.Get("/Tavrolin.asp?EmployeeID=43");
        ASSERT_TRUE(seen && seen->status == 200);
        EXPECT_EQ(ids(seen->body), expected) << "after vendor " << vendor;
    }
    reading = false;
    for (auto& reader : readers) reader.join();

    postConcurrentlyAndCheck(vendors, 16, {server->baseUrl(), other.baseUrl()});
}

// Another writer keeps its transaction open: the post waits a while, then is refused whole.
TEST_P(ServerHttp, PostBehindAWriterThatHoldsOnAnswers503) {
    seed();
    start();
    client->set_read_timeout(30, 0);
    const auto before = db.dump();
    const char* hold = "UPDATE Vendor SET VendorName = 'Acme Corp' WHERE VendorID = 77";
    std::unique_ptr<tavrolin::server::SqliteConnection> sqlite;
    std::unique_ptr<tavrolin::server::PgConnection> postgres;
    if (GetParam() == Engine::Sqlite) {
        sqlite = std::make_unique<tavrolin::server::SqliteConnection>(db.location());
        sqlite->execute(std::string("BEGIN IMMEDIATE; ") + hold);
    } else {
        postgres = std::make_unique<tavrolin::server::PgConnection>(db.location());
        postgres->execute((std::string("BEGIN; ") + hold).c_str());
    }
    EXPECT_THAT(said(post(formBody({insertSql(42, "123")}))),
                AllOf(StartsWith("503 "), HasSubstr("Nothing was saved.")));
    sqlite.reset();
    postgres.reset();  // both roll back on closing
    EXPECT_EQ(db.dump(), before);

    EXPECT_EQ(said(post(formBody({insertSql(42, "123")}))), "200 ");
    EXPECT_EQ(db.links(), "7:77 42:123 42:300 42:456 42:900");
}

INSTANTIATE_TEST_SUITE_P(Engines, ServerHttp, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const auto& info) { return engineName(info.param); });

// The database goes away under a running server and comes back: the server neither saves
// half a post nor needs a restart.
TEST(ServerPostgresOutage, PostsAnswer503MeanwhileAndSucceedAfterwards) {
    PostgresCluster cluster;
    TestDatabase db(cluster.query());
    db.execute(
        "INSERT INTO Vendor (VendorID, VendorName) VALUES (1, 'One'), (2, 'Two'), "
        "(3, 'Three'), (4, 'Four')");
    ServerProcess server({"--db", db.location(), "--listen", "127.0.0.1:0", "--workers", "3"});
    httplib::Client client(server.baseUrl());
    ASSERT_EQ(said(postForm(client, formBody({insertSql(42, "1")}))), "200 ");

    cluster.halt();
    for (const auto* vendor : {"2", "3", "4", "2"}) {
        EXPECT_THAT(said(postForm(client, formBody({insertSql(42, vendor), deleteSql(42, "1")}))),
                    AllOf(StartsWith("503 "), HasSubstr("Nothing was saved.")));
    }
    EXPECT_THAT(said(client.Get("/Tavrolin.asp?EmployeeID=42")), StartsWith("503 "));

    cluster.resume();
    EXPECT_EQ(db.links(), "42:1");
    // Every pooled connection was cut; each post must find its way back on the first try.
    for (const auto* vendor : {"2", "3", "4"}) {
        EXPECT_EQ(said(postForm(client, formBody({insertSql(42, vendor)}))), "200 ");
    }
    EXPECT_EQ(db.links(), "42:1 42:2 42:3 42:4");
    const auto res = client.Get("/Tavrolin.asp?EmployeeID=42");
    ASSERT_TRUE(res);
    EXPECT_EQ(ids(res->body), (std::vector<long>{1, 2, 3, 4}));
}

// The password of a connection URI shows in no output: not on a failed start, not in the
// import's report, not in --help.
TEST(ServerPostgresPassword, NeverShowsInOutput) {
    TestDatabase db(Engine::Postgres);
    auto [failStatus, failText] = runServer(
        "--db 'postgresql://tavrolin:Xyzzy%zzPw@/nodb?host=/nonexistent' --listen 127.0.0.1:0");
    EXPECT_EQ(failStatus, 1);
    EXPECT_THAT(failText, HasSubstr("tavrolin-server: "));
    EXPECT_THAT(failText, Not(HasSubstr("Xyzzy")));

    // The scratch cluster trusts local connections, so a password given is simply not needed.
    const auto csv = ::testing::TempDir() + "password-" + std::to_string(getpid()) + ".csv";
    std::ofstream(csv) << "id,name,active\n1,Alpha,1\n";
    auto [importStatus, importText] =
        runServer("import-vendors --db '" + db.location() + "&password=XyzzyPw' '" + csv + "'");
    EXPECT_EQ(importStatus, 0) << importText;
    EXPECT_THAT(importText, HasSubstr("imported 1 vendors into postgresql://"));
    EXPECT_THAT(importText, HasSubstr("password=***"));
    EXPECT_THAT(importText, Not(HasSubstr("Xyzzy")));
    EXPECT_EQ(db.dump(), "V 1 Alpha 1\n");

    auto [helpStatus, helpText] = runServer("--help");
    EXPECT_EQ(helpStatus, 0);
    EXPECT_THAT(helpText, HasSubstr("postgresql://"));
}
