// The PostgreSQL engine where links break and poolers stand between: two servers behind
// PgBouncer in either pooling mode under concurrent posts, with the pooler paused, reconnected
// and restarted; and a COMMIT whose link is cut before its reply.

#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link_posts.h"
#include "postgres_connection.h"
#include "server_process.h"
#include "test_database.h"

#ifndef TAVROLIN_PGBOUNCER_SCRIPT
#error "TAVROLIN_PGBOUNCER_SCRIPT must name pgbouncer.sh"
#endif
#ifndef TAVROLIN_PGBOUNCER_INFO
#error "TAVROLIN_PGBOUNCER_INFO must name the shared PgBouncer's info file"
#endif

using tavrolin::server::PgConnection;
using tavrolin::server::test::Engine;
using tavrolin::server::test::TestDatabase;
using tavrolin::test::formBody;
using tavrolin::test::insertSql;
using tavrolin::test::ServerProcess;

namespace {

constexpr const char* kForm = "application/x-www-form-urlencoded";
constexpr const char* kNothingSaved = "Nothing was saved.";

std::string firstLine(const std::string& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The PgBouncer in transaction pooling that ctest starts for the run, or one of the test's own
// in front of the same cluster.
class PgBouncer {
  public:
    PgBouncer() : mInfo(TAVROLIN_PGBOUNCER_INFO), mQuery(firstLine(mInfo)) {
        if (mQuery.empty())
            throw std::runtime_error("PgBouncer is not running: run the tests through ctest");
    }
    explicit PgBouncer(const std::string& mode)
        : mInfo(::testing::TempDir() + "pgbouncer-" + std::to_string(getpid()) + ".info"),
          mOwn(true) {
        script("start", std::string(TAVROLIN_POSTGRES_CLUSTER_INFO) + "' '" + mode);
        mQuery = firstLine(mInfo);
    }
    ~PgBouncer() {
        if (mOwn)
            std::system((std::string(TAVROLIN_PGBOUNCER_SCRIPT) + " stop '" + mInfo + "'").c_str());
    }
    PgBouncer(const PgBouncer&) = delete;
    PgBouncer& operator=(const PgBouncer&) = delete;

    // The database of `db`, reached through the pooler.
    std::string uri(const TestDatabase& db) const {
        const auto& direct = db.location();
        return direct.substr(0, direct.find('?') + 1) + mQuery;
    }
    // A command of the admin console; PAUSE returns once every backend is released.
    void admin(const char* command) const {
        PgConnection console("postgresql:///pgbouncer?" + mQuery);
        console.execute(command);
    }
    void halt() { script("halt"); }
    void resume() { script("resume"); }

  private:
    void script(const std::string& command, const std::string& more = "") {
        const auto line = std::string(TAVROLIN_PGBOUNCER_SCRIPT) + " " + command + " '" + mInfo +
                          "'" + (more.empty() ? "" : " '" + more + "'");
        if (std::system(line.c_str()) != 0)
            throw std::runtime_error("pgbouncer.sh " + command + " failed");
    }

    std::string mInfo;
    std::string mQuery;
    bool mOwn = false;
};

httplib::Result postLinks(httplib::Client& client, long employee, long firstVendor, int count) {
    std::vector<std::string> statements;
    for (long vendor = firstVendor; vendor < firstVendor + count; ++vendor)
        statements.push_back(insertSql(employee, std::to_string(vendor)));
    return client.Post("/Tavrolin.asp", formBody(statements), kForm);
}

bool documentSelects(httplib::Client& client, long employee, long vendor) {
    auto res = client.Get("/Tavrolin.asp?EmployeeID=" + std::to_string(employee));
    const auto selected = "<SelectedVendors>";
    if (!res || res->status != 200) return false;
    const auto list = res->body.find(selected);
    return list != std::string::npos &&
           res->body.find("<VendorID>" + std::to_string(vendor) + "</VendorID>", list) !=
               std::string::npos;
}

class ServerPgBouncer : public ::testing::TestWithParam<std::string> {};

}  // namespace

TEST_P(ServerPgBouncer, TwoServersUnderLoadLoseNothingAndStoreNothingElse) {
    const bool transactionPooling = GetParam() == "transaction";
    std::optional<PgBouncer> ownBouncer;
    std::optional<PgBouncer> sharedBouncer;
    if (transactionPooling)
        sharedBouncer.emplace();
    else
        ownBouncer.emplace(GetParam());
    PgBouncer& bouncer = transactionPooling ? *sharedBouncer : *ownBouncer;

    TestDatabase db(Engine::Postgres);
    db.execute(
        "INSERT INTO Vendor (VendorID, VendorName) "
        "SELECT g, 'Vendor ' || g FROM generate_series(1, 100) g");
    const auto log = ::testing::TempDir() + "pgbouncer-server-" + std::to_string(getpid()) + ".log";
    auto first = tavrolin::test::startLoggingTo(
        log, {"--db", bouncer.uri(db), "--listen", "127.0.0.1:0", "--workers", "4"}, false);
    ServerProcess second({"--db", bouncer.uri(db), "--listen", "127.0.0.1:0", "--workers", "4"});
    httplib::Client one(first->baseUrl());
    httplib::Client two(second.baseUrl());
    for (auto* client : {&one, &two}) client->set_read_timeout(60, 0);

    // Whichever backend each statement lands on, a commit through one server is in the next
    // document of the other, both ways.
    for (long vendor = 1; vendor <= 6; ++vendor) {
        auto& writer = vendor % 2 ? one : two;
        auto& reader = vendor % 2 ? two : one;
        auto res = postLinks(writer, 43, vendor, 1);
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 200) << res->body;
        EXPECT_TRUE(documentSelects(reader, 43, vendor)) << "vendor " << vendor;
    }

    // 16 clients post distinct links through both servers; a third of the way the pooler is
    // paused and resumed (in transaction pooling; in session pooling PAUSE would wait for the
    // servers to disconnect), two thirds of the way it drops every backend.
    constexpr int kClients = 16;
    constexpr int kPosts = 12;
    constexpr int kLinksPerPost = 4;
    constexpr int kTotal = kClients * kPosts;
    // What each post's answer says of it: saved, not saved, or either.
    enum class Answer { Saved, NothingSaved, Open, Other };
    std::vector<Answer> answer(kTotal, Answer::Other);
    std::vector<int> status(kTotal, 0);
    std::mutex mutex;
    std::condition_variable answered;
    int done = 0;
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c)
        clients.emplace_back([&, c] {
            httplib::Client own(c % 2 ? first->baseUrl() : second.baseUrl());
            own.set_read_timeout(60, 0);
            for (int p = 0; p < kPosts; ++p) {
                auto res = postLinks(own, 1000 + c, 1 + p * kLinksPerPost, kLinksPerPost);
                const auto a = !res                 ? Answer::Other
                               : res->status == 200 ? Answer::Saved
                               : res->status != 503 ? Answer::Other
                               : res->body.find(kNothingSaved) != std::string::npos
                                   ? Answer::NothingSaved
                                   : Answer::Open;
                std::lock_guard lock(mutex);
                answer[std::size_t(c * kPosts + p)] = a;
                status[std::size_t(c * kPosts + p)] = res ? res->status : -1;
                ++done;
                answered.notify_all();
            }
        });
    const auto waitFor = [&](int count) {
        std::unique_lock lock(mutex);
        answered.wait(lock, [&] { return done >= count; });
    };
    waitFor(kTotal / 3);
    if (transactionPooling) {
        bouncer.admin("PAUSE");
        bouncer.admin("RESUME");
    }
    waitFor(2 * kTotal / 3);
    bouncer.admin("RECONNECT");
    for (auto& client : clients) client.join();

    // A post may be refused with 503 while the pooler cannot reach the database (a PAUSE that
    // cuts a backend's login makes PgBouncer refuse clients for server_login_retry), but no post
    // fails otherwise, and most go through.
    std::map<int, int> statuses;
    for (const int s : status) ++statuses[s];
    EXPECT_EQ(std::count(answer.begin(), answer.end(), Answer::Other), 0)
        << "500: " << statuses[500] << ", no answer: " << statuses[-1];
    EXPECT_GT(statuses[200], kTotal / 2) << "503: " << statuses[503];

    // Every acknowledged post is whole, every refused one absent, one whose outcome was left
    // open whole or absent, and nothing else there.
    std::map<std::pair<long, long>, int> stored;
    for (const auto& row : db.rows("SELECT EmployeeID, VendorID FROM VendorEmployeeCrossReference "
                                   "WHERE EmployeeID >= 1000"))
        ++stored[{std::stol(row[0]), std::stol(row[1])}];
    std::size_t expected = 0;
    for (int c = 0; c < kClients; ++c)
        for (int p = 0; p < kPosts; ++p) {
            int present = 0;
            for (int k = 1; k <= kLinksPerPost; ++k)
                present += stored.count({1000 + c, p * kLinksPerPost + k}) ? 1 : 0;
            const auto a = answer[std::size_t(c * kPosts + p)];
            EXPECT_TRUE(a == Answer::Saved          ? present == kLinksPerPost
                        : a == Answer::NothingSaved ? present == 0
                                                    : present == 0 || present == kLinksPerPost)
                << "client " << c << " post " << p << " status "
                << status[std::size_t(c * kPosts + p)] << " links " << present;
            expected += std::size_t(present);
        }
    EXPECT_EQ(stored.size(), expected);
    for (const auto& [link, copies] : stored) EXPECT_EQ(copies, 1);

    // The lock timeout holds behind the pooler: a post behind a writer that holds on is refused
    // whole, and once the writer is gone it goes through.
    {
        PgConnection holder(db.location());
        holder.execute("BEGIN; UPDATE ChangeCounter SET Version = Version");
        auto res = postLinks(one, 44, 1, 2);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 503) << res->body;
        EXPECT_NE(res->body.find(kNothingSaved), std::string::npos) << res->body;
        holder.execute("ROLLBACK");
    }
    EXPECT_EQ(db.rows("SELECT count(*) FROM VendorEmployeeCrossReference WHERE EmployeeID = 44"),
              (std::vector<std::vector<std::string>>{{"0"}}));
    auto res = postLinks(one, 44, 1, 2);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << res->body;

    if (!transactionPooling) {
        // The pooler goes away and comes back: 503 meanwhile, nothing half saved, no restart.
        bouncer.halt();
        res = postLinks(one, 45, 1, 2);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 503) << res->body;
        EXPECT_NE(res->body.find(kNothingSaved), std::string::npos) << res->body;
        bouncer.resume();
        res = postLinks(one, 45, 3, 2);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200) << res->body;
        EXPECT_TRUE(documentSelects(two, 45, 4));
        EXPECT_EQ(db.rows("SELECT string_agg(VendorID::text, ' ' ORDER BY VendorID) FROM "
                          "VendorEmployeeCrossReference WHERE EmployeeID = 45"),
                  (std::vector<std::vector<std::string>>{{"3 4"}}));
    }

    // Whatever libpq said, each log entry is one line: a request or a database error.
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
// server has been sent COMMIT and before it answers, so the server cannot know the outcome.
TEST(ServerPostgresCommit, LinkLostDuringCommitSaysTheOutcomeIsOpen) {
    TestDatabase db(Engine::Postgres);
    db.execute(
        "INSERT INTO Vendor (VendorID, VendorName) VALUES (1, 'One'), (2, 'Two'), (3, 'Three')");
    db.execute(R"sql(
        CREATE FUNCTION EndOwnBackend() RETURNS trigger LANGUAGE plpgsql AS $$
        BEGIN
            PERFORM pg_terminate_backend(pg_backend_pid());
            RETURN NULL;
        END
        $$;
        CREATE CONSTRAINT TRIGGER EndsAtCommit AFTER INSERT ON VendorEmployeeCrossReference
            DEFERRABLE INITIALLY DEFERRED FOR EACH ROW WHEN (NEW.VendorID = 3)
            EXECUTE FUNCTION EndOwnBackend();
    )sql");
    ServerProcess server({"--db", db.location(), "--listen", "127.0.0.1:0", "--workers", "1"});
    httplib::Client client(server.baseUrl());
    auto res = postLinks(client, 42, 1, 1);
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;

    res = postLinks(client, 42, 2, 2);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 503);
    EXPECT_EQ(res->body,
              "The connection to the database was lost while the changes were being committed, "
              "so they may or may not have been saved. Committing again is safe.");

    // This time the backend ended before committing; the next post finds its way back.
    EXPECT_EQ(db.links(), "42:1");
    res = postLinks(client, 42, 2, 1);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << res->body;
    EXPECT_EQ(db.links(), "42:1 42:2");
}

// libpq's message for a server that is not there spans two lines; the server's report does not.
TEST(ServerPostgresLog, LibpqMessagesStayOnOneLine) {
    const auto file = ::testing::TempDir() + "pglog-" + std::to_string(getpid()) + ".out";
    const auto command = std::string(TAVROLIN_SERVER_PATH) +
                         " --db 'postgresql:///nodb?host=/nonexistent' --listen 127.0.0.1:0 >'" +
                         file + "' 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    const auto output = text.str();
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
    EXPECT_NE(output.find("failed: No such file or directory\\n\\tIs the server running"),
              std::string::npos)
        << output;
}
