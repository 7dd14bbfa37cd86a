// Sign-in by the user info of the server address, for the load and the save: what the control
// sends, and the real server with --users end to end.

#include "control/list_view/list_view.h"
#include "saving/internet_transfer.h"
#include "support/control_driver.h"
#include "support/document_server.h"
#include "support/linked_vendors.h"
#include "support/loaded_control.h"
#include "support/server_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTemporaryDir>

using namespace test_support;
using namespace std::chrono_literals;

using ::testing::HasSubstr;

namespace {

// Typed into the address with its '@', ':' and space percent-encoded.
const std::string kPassword = "p@ss:w rd";
const QString kEncodedPassword = "p%40ss%3Aw%20rd";
const std::string kBasicAlice = "Basic " + QByteArray("alice:p@ss:w rd").toBase64().toStdString();

QString withUser(const std::string& baseUrl, const QString& user, const QString& password) {
    QString url = QString::fromStdString(baseUrl);
    return url.insert(url.indexOf("//") + 2, user + ":" + password + "@");
}

// Adds a user to a users file with the server's own add-user command.
void addUser(const QString& file, const std::string& name, const std::string& password) {
    ASSERT_EQ(tavrolin::test::addUser(file.toStdString(), name, password), 0) << name;
}

// The real server with --users on a database file and its log in a file of the directory.
struct SignedInServer {
    QTemporaryDir dir;
    QString users = dir.filePath("users");
    QString log = dir.filePath("server.log");
    std::unique_ptr<tavrolin::test::ServerProcess> server;

    explicit SignedInServer() { addUser(users, "alice", kPassword); }

    void start(const std::string& listen = "127.0.0.1:0") {
        server = tavrolin::test::startLoggingTo(
            log.toStdString(),
            {"--db", dir.filePath("links.db").toStdString(), "--demo", "--users",
             users.toStdString(), "--listen", listen},
            true);
    }
    QString signedInUrl() const { return withUser(server->baseUrl(), "alice", kEncodedPassword); }
};

}  // namespace

TEST(SignIn, TheLoadSendsTheCredentialsWithTheFirstRequestAndAcceptsGzip) {
    LoadedControl f;
    f.server.setDocument(vendorDocument("1", "1", {{"5", "Five"}}, {{"6", "Six"}}));
    f.control.setEmployeeID("42");
    f.control.setServerName(withUser(f.server.baseUrl(), "alice", kEncodedPassword));

    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"5"}));
    EXPECT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"6"}));
    // One request, signed from the start: no round trip for a challenge.
    const auto requests = f.server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/Tavrolin.asp?EmployeeID=42");
    EXPECT_EQ(requests[0].header("Authorization"), kBasicAlice);
    EXPECT_THAT(requests[0].header("Accept-Encoding"), HasSubstr("gzip"));

    // Without user info nothing is sent.
    f.server.clearRequests();
    f.control.setServerName(f.url());
    ASSERT_EQ(f.server.requests().size(), 1u);
    EXPECT_FALSE(f.server.requests()[0].hasHeader("Authorization"));
}

TEST(SignIn, CredentialsAreNotCarriedToAnotherServerByARedirect) {
    LoadedControl f;
    DocumentServer elsewhere;
    elsewhere.setDocument(vendorDocument("1", "0", {{"8", "Eight"}}, {}));
    f.server.redirectTo(elsewhere.baseUrl() + "/Tavrolin.asp?EmployeeID=42");
    f.control.setEmployeeID("42");
    f.control.setServerName(withUser(f.server.baseUrl(), "alice", kEncodedPassword));

    ASSERT_EQ(f.server.requests().size(), 1u);
    EXPECT_EQ(f.server.requests()[0].header("Authorization"), kBasicAlice);
    EXPECT_TRUE(elsewhere.requests().empty());
    EXPECT_TRUE(f.ui.rows("lstVendors").isEmpty());
}

TEST(SignIn, TheSaveSendsTheCredentialsAndNoOrigin) {
    LoadedControl f;
    f.server.setDocument(vendorDocument("1", "0", {{"5", "Five"}}, {}));
    f.server.setReplyFor("POST", {200, "", "text/plain"});
    f.control.setEmployeeID("42");
    f.control.setServerName(withUser(f.server.baseUrl(), "alice", kEncodedPassword));
    ASSERT_EQ(f.ui.rows("lstVendors"), (QStringList{"5"}));
    f.ui.clickRow("lstVendors", 1);
    f.ui.click("cmdAdd");
    ASSERT_TRUE(f.ui.button("cmdCommit")->isEnabled());
    f.server.clearRequests();

    MessageBoxCatcher boxes;
    f.ui.click("cmdCommit");

    EXPECT_TRUE(boxes.seen().isEmpty());
    const auto requests = f.server.requests();
    ASSERT_EQ(requests.size(), 2u);  // the save, then the reload
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/Tavrolin.asp");
    EXPECT_EQ(requests[0].header("Authorization"), kBasicAlice);
    EXPECT_FALSE(requests[0].hasHeader("Origin"));
    EXPECT_FALSE(requests[0].hasHeader("Sec-Fetch-Site"));
    EXPECT_THAT(requests[0].body, HasSubstr("SQL=INSERT"));
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_EQ(requests[1].header("Authorization"), kBasicAlice);
}

TEST(SignIn, ATransferThatCannotStartDoesNotRepeatThePassword) {
    tavrolin::InternetTransfer transfer;
    try {
        transfer.Execute("ftp://alice:" + kEncodedPassword + "@127.0.0.1/Tavrolin.asp", "Post",
                         "SQL=x&", "");
        ADD_FAILURE() << "an ftp address started a transfer";
    } catch (const tavrolin::RunTimeError& error) {
        EXPECT_TRUE(error.description().contains("alice@127.0.0.1"))
            << error.description().toStdString();
        EXPECT_FALSE(error.description().contains("p%40ss")) << error.description().toStdString();
        EXPECT_FALSE(error.description().contains("p@ss")) << error.description().toStdString();
    }
}

TEST(SignInEndToEnd, TheControlLoadsAndCommitsAsAUserOfTheServer) {
    SignedInServer f;
    f.start();
    const QString url = f.signedInUrl();
    ASSERT_NO_FATAL_FAILURE(commitOneMove(url, url));

    f.server->stop();
    const QString log = QString::fromStdString(tavrolin::test::readFile(f.log.toStdString()));
    // The control's requests were answered as alice, the document compressed (a few KB of
    // some 28 KB), and the password is nowhere in the log.
    EXPECT_TRUE(log.contains(QRegularExpression(
        R"(\"GET /Tavrolin.asp\?EmployeeID=42\" 200 [0-9]{3,4} user \"alice\")")))
        << log.toStdString();
    EXPECT_TRUE(log.contains("\"POST /Tavrolin.asp\" 200 0 user \"alice\"")) << log.toStdString();
    EXPECT_FALSE(log.contains("p@ss")) << log.toStdString();
    EXPECT_FALSE(log.contains(" 401 ")) << log.toStdString();
}

TEST(SignInEndToEnd, WrongCredentialsLoadNothingQuietlyAndASaveShowsTheRefusal) {
    SignedInServer f;
    f.start();
    const int port = f.server->port();
    Tavrolin control;
    ControlDriver ui(control);
    control.resize(control.sizeHint());
    control.show();
    control.setEmployeeID("42");
    {
        MessageBoxCatcher boxes;
        control.setServerName(withUser(f.server->baseUrl(), "alice", "wrong"));
        EXPECT_TRUE(boxes.seen().isEmpty());
        EXPECT_TRUE(ui.rows("lstVendors").isEmpty());
        EXPECT_TRUE(ui.rows("lstSelectedVendors").isEmpty());
        control.setServerName(QString::fromStdString(f.server->baseUrl()));
        EXPECT_TRUE(ui.rows("lstVendors").isEmpty());
        EXPECT_TRUE(boxes.seen().isEmpty());
    }

    // Signed in, a change is made; then the password changes on the server before the save.
    control.setServerName(f.signedInUrl());
    const QStringList before = sorted(ui.rows("lstSelectedVendors"));
    ASSERT_FALSE(before.isEmpty());
    ui.clickRow("lstSelectedVendors", 1);
    ui.click("cmdDelete");
    ASSERT_TRUE(ui.button("cmdCommit")->isEnabled());
    const QStringList moved = sorted(ui.rows("lstSelectedVendors"));
    ASSERT_EQ(moved.size(), before.size() - 1);
    f.server->stop();
    addUser(f.users, "alice", "another password");
    f.start("127.0.0.1:" + std::to_string(port));
    ASSERT_EQ(f.server->port(), port);

    MessageBoxCatcher boxes;
    ui.click("cmdCommit");

    EXPECT_EQ(boxes.seen(), (QList<MessageBoxCatcher::Seen>{
                                {"The change was refused because it did not carry a valid user "
                                 "name and password. Nothing was saved.",
                                 "Tavrolin Cross Reference", QMessageBox::Information}}));
    // The refused save keeps the user's move for a retry; read back with the new password, the
    // links are as before.
    EXPECT_EQ(sorted(ui.rows("lstSelectedVendors")), moved);
    EXPECT_TRUE(ui.button("cmdCommit")->isEnabled());
    EXPECT_EQ(linkedIds(withUser(f.server->baseUrl(), "alice", "another%20password"), 42), before);
}
