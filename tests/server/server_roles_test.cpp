// Roles against the real server on both engines: a viewer may load but not post, an editor may
// post, and the commands that give roles write them to the users file.

#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "link_posts.h"
#include "server_process.h"
#include "test_database.h"
#include "users.h"

using tavrolin::server::readUserFile;
using tavrolin::server::Role;
using tavrolin::server::test::Engine;
using tavrolin::server::test::engineName;
using tavrolin::server::test::TestDatabase;
using tavrolin::test::addUser;
using tavrolin::test::formBody;
using tavrolin::test::insertSql;

namespace {

class ServerRoles : public ::testing::TestWithParam<Engine> {
  protected:
    void TearDown() override { std::remove(usersFile.c_str()); }

    TestDatabase db{GetParam()};
    std::string usersFile =
        ::testing::TempDir() + "tavrolin_roles_" + std::to_string(::getpid()) + ".users";
};

}  // namespace

TEST_P(ServerRoles, AViewerLoadsButCannotPostAndAnEditorCan) {
    db.execute("INSERT INTO Vendor (VendorID, VendorName, Active) VALUES (77, 'Acme', 1)");
    ASSERT_EQ(addUser(usersFile, "vera", "v pass", "viewer"), 0);
    ASSERT_EQ(addUser(usersFile, "ed", "e pass"), 0);
    ASSERT_EQ(readUserFile(usersFile).at("vera").role, Role::Viewer);
    ASSERT_EQ(readUserFile(usersFile).at("ed").role, Role::Editor);
    tavrolin::test::ServerProcess server(
        {"--db", db.location(), "--listen", "127.0.0.1:0", "--users", usersFile});
    httplib::Client client(server.baseUrl());
    const auto body = formBody({insertSql(42, "77")});
    const auto before = db.dump();

    client.set_basic_auth("vera", "v pass");
    const auto document = client.Get("/Tavrolin.asp?EmployeeID=42");
    ASSERT_TRUE(document);
    EXPECT_EQ(document->status, 200);
    EXPECT_NE(document->body.find("<VendorID>77</VendorID>"), std::string::npos);
    const auto refused = client.Post("/Tavrolin.asp", body, "application/x-www-form-urlencoded");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 403);
    EXPECT_EQ(refused->body,
              "You may view these vendor links but not change them. Nothing was saved.");
    EXPECT_EQ(db.dump(), before);
    // Only an admin reads the metrics; a viewer is told so.
    EXPECT_EQ(client.Get("/metrics")->status, 403);

    client.set_basic_auth("ed", "e pass");
    const auto saved = client.Post("/Tavrolin.asp", body, "application/x-www-form-urlencoded");
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->status, 200) << saved->body;
    EXPECT_EQ(db.links(), "42:77");

    // set-role rewrites the user's line and keeps the password.
    const std::string setRole = std::string(TAVROLIN_SERVER_PATH) + " set-role --users '" +
                                usersFile + "' ed admin >/dev/null";
    ASSERT_EQ(std::system(setRole.c_str()), 0);
    const auto ed = readUserFile(usersFile).at("ed");
    EXPECT_EQ(ed.role, Role::Admin);
    EXPECT_TRUE(tavrolin::server::verifyPassword("e pass", ed.hash));
}

INSTANTIATE_TEST_SUITE_P(Engines, ServerRoles, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const auto& info) { return engineName(info.param); });
