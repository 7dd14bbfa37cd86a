// The control loads and commits over https against the real tavrolin-server, with a private
// certificate authority that the host trusts.

#include "support/control_driver.h"
#include "support/document_server.h"
#include "support/linked_vendors.h"
#include "support/raw_connection.h"
#include "support/server_process.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSslConfiguration>
#include <QTemporaryDir>

using namespace test_support;
using tavrolin::test::RawConnection;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> arguments(const DocumentServer::Tls& tls, std::vector<std::string> extra) {
    extra.insert(extra.begin(), {"--tls-cert", tls.certificateFile, "--tls-key", tls.keyFile});
    return tavrolin::test::serverArguments(std::move(extra));
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

}  // namespace

TEST(HttpsEndToEnd, ControlLoadsAndCommitsOverHttps) {
    SecureServer secure;
    ASSERT_EQ(secure.server.baseUrl().rfind("https://127.0.0.1:", 0), 0u)
        << secure.server.baseUrl();
    const QString base = QString::fromStdString(secure.server.baseUrl());
    commitOneMove(base, base);
}

TEST(HttpsEndToEnd, PlainHttpToTheTlsPortGetsNoAnswer) {
    SecureServer secure;
    RawConnection connection(secure.server.port());
    ASSERT_TRUE(connection.connected());
    ASSERT_TRUE(connection.send("GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    // The server closes the connection without a byte: no http reply, no TLS alert.
    ASSERT_TRUE(connection.readable(30s)) << "the server neither answered nor closed";
    char buffer[256];
    EXPECT_LE(::recv(connection.fd(), buffer, sizeof buffer, 0), 0);

    // The same port answers https.
    EXPECT_FALSE(linkedIds(QString::fromStdString(secure.server.baseUrl()), 42).isEmpty());
}

TEST(HttpsEndToEnd, HandshakeThatNeverComesIsCutOffByTheHeaderTimeout) {
    SecureServer secure({"--header-timeout", "0.5"});
    // The deadline starts when the server takes the connection, after this: however slow the
    // machine, the cut cannot come sooner than the deadline after it.
    const auto started = std::chrono::steady_clock::now();
    RawConnection connection(secure.server.port());
    ASSERT_TRUE(connection.connected());
    const int fd = connection.fd();
    pollfd poller{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&poller, 1, 30000), 1) << "the silent connection was never closed";
    char buffer[16];
    EXPECT_EQ(::recv(fd, buffer, sizeof buffer, 0), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 500ms);
}
