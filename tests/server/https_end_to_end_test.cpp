// The control loads and commits over https against the real tavrolin-server, with a private
// certificate authority that the host trusts.

#include "loading/document_fetch.h"
#include "loading/vendor_document.h"
#include "support/control_driver.h"
#include "support/document_server.h"
#include "support/server_process.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDomDocument>
#include <QSslConfiguration>
#include <QTemporaryDir>

#include <cstdlib>
#include <fstream>
#include <sys/wait.h>

using namespace test_support;
using namespace std::chrono_literals;

namespace {

// The vendor IDs an employee is linked to, read back through the server's own page.
QStringList linkedIds(const std::string& baseUrl, int employee) {
    QDomDocument document;
    document.setContent(tavrolin::fetchDocument(
        QString::fromStdString(baseUrl) + "/Tavrolin.asp?EmployeeID=" + QString::number(employee),
        10s));
    using namespace tavrolin::vendor_document;
    QStringList ids;
    const QDomNode records = childAt(root(document), kSelectedList);
    for (QDomNode r = records.firstChild(); !r.isNull(); r = r.nextSibling())
        ids << fieldText(childAt(r, kIdField));
    ids.sort();
    return ids;
}

std::vector<std::string> arguments(const DocumentServer::Tls& tls, std::vector<std::string> extra) {
    std::vector<std::string> all{
        "--db",       ":memory:",          "--demo",    "--listen", "127.0.0.1:0",
        "--tls-cert", tls.certificateFile, "--tls-key", tls.keyFile};
    all.insert(all.end(), extra.begin(), extra.end());
    return all;
}

// A raw connection to the loopback port.
int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

struct SecureServer {
    QTemporaryDir dir;
    DocumentServer::Tls tls = makeTestCertificates(dir.path().toStdString());
    tavrolin::test::ServerProcess server;

    explicit SecureServer(std::vector<std::string> extra = {})
        : server(arguments(tls, std::move(extra))) {
        // The host trusts the authority that signed the server's certificate.
        QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
        trusting.addCaCertificates(dir.filePath("ca.pem"));
        QSslConfiguration::setDefaultConfiguration(trusting);
    }
};

// Moves vendor 77 to employee 42's selected list through the control at `serverName` and
// commits; the server at `readUrl` must then hold the link, as must the reloaded list.
void commitOneMove(const std::string& readUrl, const QString& serverName) {
    const QStringList before = linkedIds(readUrl, 42);
    ASSERT_FALSE(before.isEmpty());
    ASSERT_FALSE(before.contains("77"));

    Tavrolin control;
    ControlDriver ui(control);
    control.resize(control.sizeHint());
    control.show();
    control.setEmployeeID("42");
    control.setServerName(serverName);
    ASSERT_EQ(sorted(ui.rows("lstSelectedVendors")), before);
    const auto row = ui.list("lstVendors")->findItem("77");
    ASSERT_FALSE(row.isNull());

    ui.clickRow("lstVendors", row.position());
    ui.click("cmdAdd");
    ASSERT_TRUE(ui.button("cmdCommit")->isEnabled());
    MessageBoxCatcher boxes;
    ui.click("cmdCommit");
    for (const auto& seen : boxes.seen()) ADD_FAILURE() << "message: " << seen.text.toStdString();

    QStringList expected = before;
    expected << "77";
    expected.sort();
    EXPECT_EQ(linkedIds(readUrl, 42), expected);
    EXPECT_EQ(sorted(ui.rows("lstSelectedVendors")), expected);
}

}  // namespace

TEST(HttpsEndToEnd, ControlLoadsAndCommitsOverHttps) {
    SecureServer secure;
    ASSERT_EQ(secure.server.baseUrl().rfind("https://127.0.0.1:", 0), 0u)
        << secure.server.baseUrl();
    commitOneMove(secure.server.baseUrl(), QString::fromStdString(secure.server.baseUrl()));
}

TEST(HttpsEndToEnd, ControlSignsInOverHttps) {
    QTemporaryDir users;
    const QString usersFile = users.filePath("users");
    {
        const QString input = users.filePath("password");
        std::ofstream(input.toStdString()) << "s3cret pass\n";
        const std::string command = std::string(TAVROLIN_SERVER_PATH) + " add-user --users '" +
                                    usersFile.toStdString() + "' alice <'" +
                                    input.toStdString() + "' >/dev/null";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    }
    SecureServer secure({"--users", usersFile.toStdString()});
    const std::string base = secure.server.baseUrl();
    ASSERT_EQ(base.rfind("https://", 0), 0u) << base;

    // Without credentials the page refuses the document, so the load below really signs in.
    EXPECT_FALSE(tavrolin::fetchDocument(QString::fromStdString(base) +
                                             "/Tavrolin.asp?EmployeeID=42",
                                         10s)
                     .contains("<VendorDocument>"));
    const std::string signedIn = "https://alice:s3cret%20pass@" + base.substr(8);
    commitOneMove(signedIn, QString::fromStdString(signedIn));
}

TEST(HttpsEndToEnd, PlainHttpToTheTlsPortGetsNoAnswer) {
    SecureServer secure;
    const int fd = connectTo(secure.server.port());
    ASSERT_GE(fd, 0);
    const std::string request = "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), ssize_t(request.size()));
    // The server closes the connection without a byte: no http reply, no TLS alert.
    pollfd poller{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&poller, 1, 5000), 1) << "the server neither answered nor closed";
    char buffer[256];
    EXPECT_LE(::recv(fd, buffer, sizeof buffer, 0), 0);
    ::close(fd);

    // The same port answers https.
    EXPECT_FALSE(linkedIds(secure.server.baseUrl(), 42).isEmpty());
}

TEST(HttpsEndToEnd, HandshakeThatNeverComesIsCutOffByTheHeaderTimeout) {
    SecureServer secure({"--header-timeout", "0.5"});
    const int fd = connectTo(secure.server.port());
    ASSERT_GE(fd, 0);
    const auto started = std::chrono::steady_clock::now();
    pollfd poller{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&poller, 1, 5000), 1) << "the silent connection was never closed";
    char buffer[16];
    EXPECT_EQ(::recv(fd, buffer, sizeof buffer, 0), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 400ms);
    ::close(fd);
}
