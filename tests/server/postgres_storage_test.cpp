// The PostgreSQL engine where links break and poolers stand between: two servers behind PgBouncer
// under concurrent posts while it is paused, reconnected and restarted; a COMMIT cut off.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "http_client.h"
#include "link_posts.h"
#include "postgres_connection.h"
#include "server_process.h"
#include "test_database.h"

using tavrolin::test::said;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

using tavrolin::server::test::Engine;
using tavrolin::server::test::TestDatabase;
using tavrolin::test::ServerProcess;

constexpr const char* kNothingSaved = "Nothing was saved.";

httplib::Result post(httplib::Client& client, long employee, long firstVendor, int count) {
    std::vector<std::string> statements;
    for (long vendor = firstVendor; vendor < firstVendor + count; ++vendor)
        statements.push_back(tavrolin::test::insertSql(employee, std::to_string(vendor)));
    return tavrolin::test::postForm(client, tavrolin::test::formBody(statements));
}

std::set<std::pair<long, long>> links(const TestDatabase& db) {
    std::set<std::pair<long, long>> out;
    for (const auto& row : db.rows("SELECT EmployeeID, VendorID FROM VendorEmployeeCrossReference"))
        out.emplace(std::stol(row[0]), std::stol(row[1]));
    return out;
}

class ServerPgBouncer : public ::testing::TestWithParam<std::string> {};

}  // namespace

// ctest starts a PgBouncer in each pooling mode in front of the scratch cluster.
TEST_P(ServerPgBouncer, TwoServersUnderLoadLoseNothingAndStoreNothingElse) {
    const std::string info = TAVROLIN_PGBOUNCER_INFO_PREFIX + GetParam() + ".info";
    std::string query;
    std::ifstream(info) >> query;
    ASSERT_FALSE(query.empty()) << info << " is missing: run the test through ctest";
    const auto bouncer = [&](const char* command) {
        return std::system(
            (std::string(TAVROLIN_PGBOUNCER_SCRIPT) + " " + command + " '" + info + "'").c_str());
    };
    const auto admin = [&](const char* command) {
        tavrolin::server::PgConnection("postgresql:///pgbouncer?" + query).execute(command);
    };
    TestDatabase db(Engine::Postgres);
    db.execute("INSERT INTO Vendor SELECT g, 'V' || g FROM generate_series(1, 60) g");
    const auto log = ::testing::TempDir() + "pgbouncer-" + std::to_string(getpid()) + ".log";
    const std::vector<std::string> arguments{
        "--db", db.location().substr(0, db.location().find('?') + 1) + query, "--listen",
        "127.0.0.1:0"};
    auto first = tavrolin::test::startLoggingTo(log, arguments, false);
    ServerProcess second(arguments);
    httplib::Client one(first->baseUrl()), two(second.baseUrl());

    // Whichever backend each statement lands on, a commit through one server is in the next
    // document of the other.
    for (long vendor = 1; vendor <= 4; ++vendor) {
        ASSERT_EQ(said(post(vendor % 2 ? one : two, 43, vendor, 1)), "200 ");
        const auto id = std::to_string(vendor);
        EXPECT_THAT(said((vendor % 2 ? two : one).Get("/Tavrolin.asp?EmployeeID=43")),
                    HasSubstr("<VendorID>" + id + "</VendorID><VendorName>V" + id +
                              "</VendorName></Vendor></SelectedVendors>"));
    }

    // 16 clients post distinct links through both servers; a third of the way the pooler is
    // paused and resumed (in session pooling PAUSE would wait for the servers to disconnect),
    // two thirds of the way it drops every backend.
    constexpr int kClients = 16, kPosts = 12, kLinks = 4, kTotal = kClients * kPosts;
    std::vector<std::pair<int, bool>> answers(kTotal);  // status, "Nothing was saved."
    std::mutex mutex;
    std::condition_variable answered;
    int done = 0;
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c)
        clients.emplace_back([&, c] {
            httplib::Client own(c % 2 ? first->baseUrl() : second.baseUrl());
            own.set_read_timeout(60, 0);
            for (int p = 0; p < kPosts; ++p) {
                auto res = post(own, 1000 + c, 1 + p * kLinks, kLinks);
                std::lock_guard lock(mutex);
                answers[std::size_t(c * kPosts + p)] = {
                    res ? res->status : -1,
                    res && res->body.find(kNothingSaved) != std::string::npos};
                ++done;
                answered.notify_all();
            }
        });
    const auto waitFor = [&](int count) {
        std::unique_lock lock(mutex);
        answered.wait(lock, [&] { return done >= count; });
    };
    waitFor(kTotal / 3);
    if (GetParam() == "transaction") {
        admin("PAUSE");  // returns once every backend is released
        admin("RESUME");
    }
    waitFor(2 * kTotal / 3);
    admin("RECONNECT");
    for (auto& client : clients) client.join();

    // Refusals (503) are allowed: a PAUSE that cuts a backend's login makes PgBouncer refuse
    // clients for server_login_retry. Anything else is not, and most posts go through. Each
    // acknowledged post is whole, each refused one absent, and nothing else is stored.
    const auto stored = links(db);
    std::size_t expected = 4;  // employee 43's
    int acknowledged = 0;
    for (int i = 0; i < kTotal; ++i) {
        const auto [status, nothingSaved] = answers[std::size_t(i)];
        const long employee = 1000 + i / kPosts, vendor = 1 + i % kPosts * kLinks;
        int present = 0;
        for (int k = 0; k < kLinks; ++k) present += stored.count({employee, vendor + k}) ? 1 : 0;
        acknowledged += status == 200;
        ASSERT_TRUE(status == 200 || status == 503) << status;
        const int whole = status == 200 ? kLinks : nothingSaved || !present ? 0 : kLinks;
        EXPECT_EQ(present, whole) << "employee " << employee << " vendor " << vendor << " status "
                                  << status;
        expected += std::size_t(present);
    }
    EXPECT_GT(acknowledged, kTotal / 2);
    EXPECT_EQ(stored.size(), expected);

    // The pooler goes away and comes back: 503 meanwhile, and no restart needed.
    ASSERT_EQ(bouncer("halt"), 0);
    EXPECT_THAT(said(post(one, 45, 1, 2)), AllOf(StartsWith("503 "), HasSubstr(kNothingSaved)));
    ASSERT_EQ(bouncer("resume"), 0);
    EXPECT_EQ(said(post(one, 45, 3, 2)), "200 ");
    EXPECT_EQ(links(db).size(), expected + 2);

    // Whatever libpq said (its "server not there" message spans two lines), each log entry is
    // one line.
    first->stop();
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);)
        EXPECT_TRUE(line.starts_with("127.0.0.1 ") || line.starts_with("database error: ") ||
                    line.starts_with("listening on ") || line == "stopping")
            << line;
}

INSTANTIATE_TEST_SUITE_P(PoolModes, ServerPgBouncer, ::testing::Values("transaction", "session"),
                         [](const auto& info) { return info.param; });

// A deferred trigger runs inside COMMIT; one that ends its own backend cuts the link after the
// server was sent COMMIT and before it answers, so the server cannot know the outcome.
TEST(ServerPostgresCommit, LinkLostDuringCommitSaysTheOutcomeIsOpen) {
    TestDatabase db(Engine::Postgres);
    db.execute(R"sql(
        INSERT INTO Vendor (VendorID, VendorName) VALUES (1, 'One'), (2, 'Two'), (3, 'Three');
        CREATE FUNCTION EndOwnBackend() RETURNS trigger LANGUAGE plpgsql AS $$
        BEGIN PERFORM pg_terminate_backend(pg_backend_pid()); RETURN NULL; END $$;
        CREATE CONSTRAINT TRIGGER EndsAtCommit AFTER INSERT ON VendorEmployeeCrossReference
            DEFERRABLE INITIALLY DEFERRED FOR EACH ROW WHEN (NEW.VendorID = 3)
            EXECUTE FUNCTION EndOwnBackend();
    )sql");
    ServerProcess server({"--db", db.location(), "--listen", "127.0.0.1:0", "--workers", "1"});
    httplib::Client client(server.baseUrl());
    ASSERT_EQ(said(post(client, 42, 1, 1)), "200 ");

    EXPECT_EQ(said(post(client, 42, 2, 2)),
              "503 The connection to the database was lost while the changes were being committed, "
              "so they may or may not have been saved. Committing again is safe.");

    // This time the backend ended before committing; the next post finds its way back.
    EXPECT_EQ(db.links(), "42:1");
    EXPECT_EQ(said(post(client, 42, 2, 1)), "200 ");
    EXPECT_EQ(db.links(), "42:1 42:2");
}
