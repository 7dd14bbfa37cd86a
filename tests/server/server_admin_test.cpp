// What an admin sets up and watches, against the real server: roles on both engines, and
// GET /metrics with exact counts after many clients at once, a scrape that promtool accepts and
// who may read it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "http_client.h"
#include "link_posts.h"
#include "request_handler.h"
#include "scratch_directory.h"
#include "server_process.h"
#include "storage.h"
#include "test_database.h"
#include "users.h"

using tavrolin::server::readUserFile;
using tavrolin::server::Role;
using tavrolin::server::test::Engine;
using tavrolin::server::test::engineName;
using tavrolin::server::test::TestDatabase;
using tavrolin::test::addUser;
using tavrolin::test::deleteSql;
using tavrolin::test::formBody;
using tavrolin::test::insertSql;
using tavrolin::test::postForm;
using tavrolin::test::said;
using tavrolin::test::ServerProcess;

using ::testing::HasSubstr;

namespace {

// The value of the sample `series` ("name{labels}"), or -1 when the scrape has no such line.
double sample(const std::string& scrape, const std::string& series) {
    std::istringstream lines(scrape);
    std::string line;
    while (std::getline(lines, line))
        if (line.starts_with(series + " ")) return std::stod(line.substr(series.size() + 1));
    return -1;
}

class ServerAdmin : public ::testing::TestWithParam<Engine> {
  protected:
    TestDatabase db{GetParam()};
    tavrolin::test::ScratchDirectory directory;
    std::string usersFile = directory / "users";
};

}  // namespace

TEST_P(ServerAdmin, AViewerLoadsButCannotPostAndAnEditorCan) {
    db.execute("INSERT INTO Vendor (VendorID, VendorName, Active) VALUES (77, 'Acme', 1)");
    ASSERT_EQ(addUser(usersFile, "vera", "v pass", "viewer"), 0);
    ASSERT_EQ(addUser(usersFile, "ed", "e pass"), 0);
    ASSERT_EQ(readUserFile(usersFile).at("vera").role, Role::Viewer);
    ASSERT_EQ(readUserFile(usersFile).at("ed").role, Role::Editor);
    ServerProcess server({"--db", db.location(), "--listen", "127.0.0.1:0", "--users", usersFile});
    httplib::Client client(server.baseUrl());
    const auto body = formBody({insertSql(42, "77")});
    const auto before = db.dump();

    client.set_basic_auth("vera", "v pass");
    const auto document = client.Get("/Tavrolin.asp?EmployeeID=42");
    ASSERT_TRUE(document);
    EXPECT_EQ(document->status, 200);
    EXPECT_THAT(document->body, HasSubstr("<VendorID>77</VendorID>"));
    EXPECT_EQ(said(postForm(client, body)),
              "403 You may view these vendor links but not change them. Nothing was saved.");
    EXPECT_EQ(db.dump(), before);
    // Only an admin reads the metrics; a viewer is told so.
    EXPECT_EQ(client.Get("/metrics")->status, 403);

    client.set_basic_auth("ed", "e pass");
    EXPECT_EQ(said(postForm(client, body)), "200 ");
    EXPECT_EQ(db.links(), "42:77");

    // set-role rewrites the user's line and keeps the password.
    ASSERT_EQ(tavrolin::test::runServer("set-role --users '" + usersFile + "' ed admin").first, 0);
    const auto ed = readUserFile(usersFile).at("ed");
    EXPECT_EQ(ed.role, Role::Admin);
    EXPECT_TRUE(tavrolin::server::verifyPassword("e pass", ed.hash));
}

TEST_P(ServerAdmin, MetricsCountsAreExactAfterManyClientsAtOnce) {
    db.execute(
        "INSERT INTO Vendor (VendorID, VendorName, Active) VALUES (77, 'A', 1), "
        "(78, 'B', 1), (79, 'Gone', 0)");
    ServerProcess server({"--db", db.location(), "--listen", "127.0.0.1:0", "--workers", "4"});
    constexpr int kClients = 8, kRounds = 5;
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c)
        clients.emplace_back([&, c] {
            httplib::Client client(server.baseUrl());
            for (int round = 0; round < kRounds; ++round) {
                const long employee = 1000 + c * kRounds + round;
                postForm(client, formBody({insertSql(employee, "77"), insertSql(employee, "78"),
                                           deleteSql(employee, "78,79")}));
                client.Get("/Tavrolin.asp?EmployeeID=" + std::to_string(employee));
            }
            postForm(client, formBody({insertSql(1, "79")}));  // inactive
            client.Get("/nowhere");
        });
    for (auto& client : clients) client.join();

    httplib::Client scraper(server.baseUrl());
    const auto reply = scraper.Get("/metrics");
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->status, 200);
    EXPECT_EQ(reply->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
    const auto& scrape = reply->body;
    const double posts = kClients * kRounds;
    EXPECT_EQ(sample(scrape, R"(tavrolin_http_requests_total{route="post",code="2xx"})"), posts);
    EXPECT_EQ(sample(scrape, R"(tavrolin_http_requests_total{route="post",code="4xx"})"), kClients);
    EXPECT_EQ(sample(scrape, R"(tavrolin_http_requests_total{route="document",code="2xx"})"),
              posts);
    EXPECT_EQ(sample(scrape, R"(tavrolin_http_requests_total{route="other",code="4xx"})"),
              kClients);
    EXPECT_EQ(sample(scrape, R"(tavrolin_request_duration_seconds_count{route="post"})"),
              posts + kClients);
    EXPECT_EQ(sample(scrape, "tavrolin_posts_applied_total"), posts);
    EXPECT_EQ(sample(scrape, R"(tavrolin_link_statements_total{kind="insert"})"), 2 * posts);
    EXPECT_EQ(sample(scrape, R"(tavrolin_link_statements_total{kind="delete"})"), 2 * posts);
    // Each post links 77 for good; 78 comes and goes within it, and 79 was never linked.
    EXPECT_EQ(sample(scrape, R"(tavrolin_links_changed_total{change="created"})"), posts);
    EXPECT_EQ(sample(scrape, R"(tavrolin_links_changed_total{change="removed"})"), 0);
    EXPECT_EQ(sample(scrape, "tavrolin_document_cache_hits_total") +
                  sample(scrape, "tavrolin_document_cache_misses_total"),
              posts);
    EXPECT_GE(sample(scrape, "tavrolin_open_connections"), 1);
    EXPECT_EQ(sample(scrape, "tavrolin_queued_requests"), 0);
    EXPECT_THAT(scrape, HasSubstr("tavrolin_build_info{version=\""));

    if (::access("/usr/bin/promtool", X_OK) != 0) GTEST_SKIP() << "promtool is not installed";
    FILE* promtool = ::popen("/usr/bin/promtool check metrics", "w");
    ASSERT_NE(promtool, nullptr);
    std::fwrite(scrape.data(), 1, scrape.size(), promtool);
    EXPECT_EQ(::pclose(promtool), 0);
}

INSTANTIATE_TEST_SUITE_P(Engines, ServerAdmin, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const auto& info) { return engineName(info.param); });

// Open to this machine without sign-in, to admins only with it.
TEST(ServerMetricsAccess, OnlyThisMachineOrAnAdminMayRead) {
    TestDatabase db;
    const std::string usersFile = db.location() + ".users";
    ASSERT_EQ(addUser(usersFile, "ed", "e pass"), 0);
    ASSERT_EQ(addUser(usersFile, "ada", "a pass", "admin"), 0);
    {
        ServerProcess open({"--db", db.location(), "--listen", "127.0.0.1:0"});
        httplib::Client client(open.baseUrl());
        // The second is a cache hit, which may be answered without a worker.
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(client.Get("/Tavrolin.asp?EmployeeID=1")->status, 200);
        const auto scrape = client.Get("/metrics")->body;
        EXPECT_EQ(sample(scrape, "tavrolin_document_cache_hits_total"), 1);
        EXPECT_EQ(sample(scrape, "tavrolin_document_cache_misses_total"), 1);
        EXPECT_EQ(sample(scrape, R"(tavrolin_request_duration_seconds_count{route="document"})"),
                  2);
        // A proxy on this machine passes on requests from anywhere.
        EXPECT_EQ(client.Get("/metrics", {{"X-Forwarded-For", "192.0.2.7"}})->status, 403);
    }
    ServerProcess guarded({"--db", db.location(), "--listen", "127.0.0.1:0", "--users", usersFile});
    httplib::Client client(guarded.baseUrl());
    EXPECT_EQ(client.Get("/metrics")->status, 401);
    client.set_basic_auth("ed", "e pass");
    EXPECT_EQ(client.Get("/metrics")->status, 403);
    client.set_basic_auth("ada", "wrong");
    EXPECT_EQ(client.Get("/metrics")->status, 401);
    client.set_basic_auth("ada", "a pass");
    const auto scrape = client.Get("/metrics");
    EXPECT_EQ(scrape->status, 200);
    // The wrong password; a request without any is no failed sign-in.
    EXPECT_EQ(sample(scrape->body, "tavrolin_sign_in_failures_total"), 1);
    EXPECT_EQ(sample(scrape->body, R"(tavrolin_http_requests_total{route="metrics",code="4xx"})"),
              3);

    // A client elsewhere, as the transport would name it; the tests reach only loopback.
    const auto storage = tavrolin::server::openStorage(db.location(), 1);
    tavrolin::server::RequestHandler handler(*storage);
    tavrolin::server::HttpRequest request{"GET", "/metrics", {}, {}, "192.0.2.7"};
    EXPECT_EQ(handler.handle(request).status, 403);
    request.remoteAddress = "::ffff:127.0.0.1";
    EXPECT_EQ(handler.handle(request).status, 200);
}
