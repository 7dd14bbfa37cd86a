// The transport of the real tavrolin-server under slow, oversized and excessive clients, over
// raw sockets on 127.0.0.1. Deadlines are shortened through the server's options.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "raw_connection.h"
#include "scratch_directory.h"

using namespace tavrolin::test;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

int healthStatus(int port) {
    return tavrolin::test::exchange(port, getRequest("/health")).status;
}

// Asks again until `condition` holds, for at most `limit`; whether it came to hold.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 20s) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Another writer's open transaction on the server's SQLite file, or null: a post waits in its
// worker, within the server's busy timeout, until the writer is closed and so rolls back.
using Writer = std::unique_ptr<sqlite3, decltype(&sqlite3_close)>;
Writer writerHoldingOn(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    Writer writer(db, &sqlite3_close);
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) writer.reset();
    return writer;
}

// Sends `request`, a post, and waits until it holds the only worker of a server without a queue:
// a probe is turned away while the post stays unanswered. A probe that had the worker when the
// post came turns the post away instead; then the post goes again. `busyReply` is the probe's.
std::unique_ptr<RawConnection> holdTheWorker(int port, const std::string& request,
                                             std::string& busyReply) {
    auto poster = std::make_unique<RawConnection>(port);
    poster->send(request);
    const bool held = eventually([&] {
        if (poster->readable(0ms)) {
            poster = std::make_unique<RawConnection>(port);
            poster->send(request);
            return false;
        }
        RawConnection probe(port);
        busyReply = probe.send(getRequest("/health")) ? probe.readReply(10s) : "";
        return statusOf(busyReply) == 503 && !poster->readable(0ms);
    });
    return held ? std::move(poster) : nullptr;
}

class Transport : public ::testing::Test {
  protected:
    // A server with one worker and no queue on a demo database in a file of its own, so that a
    // test can hold the worker through the file.
    std::unique_ptr<ServerProcess> startWithOneWorker() {
        return std::make_unique<ServerProcess>(
            std::vector<std::string>{"--db", mDbPath, "--demo", "--listen", "127.0.0.1:0",
                                     "--workers", "1", "--queue-limit", "0"});
    }

    ScratchDirectory mDirectory;
    const std::string mDbPath = mDirectory / "demo.db";
};

// Replaces `to` with a copy of `from` the way a renewal does: written beside it, renamed over.
void replaceFile(const std::string& from, const std::string& to) {
    std::filesystem::copy_file(from, to + ".new",
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::rename(to + ".new", to);
}

// A TLS client that trusts any certificate: only what the server presents and how it ends
// the session are under test.
class TlsClient {
  public:
    explicit TlsClient(int port) : mRaw(port) {
        // Reads end after a while even when the server sends nothing.
        timeval bound{10, 0};
        ::setsockopt(mRaw.fd(), SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
        SSL_set_fd(mSsl.get(), mRaw.fd());
        mConnected = mRaw.connected() && SSL_connect(mSsl.get()) == 1;
    }

    bool connected() const { return mConnected; }
    std::string commonName() const {
        X509* certificate = SSL_get_peer_certificate(mSsl.get());
        char name[256] = "";
        if (certificate)
            X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, name,
                                      sizeof name);
        X509_free(certificate);
        return name;
    }
    bool send(const std::string& data) {
        return SSL_write(mSsl.get(), data.data(), int(data.size())) == int(data.size());
    }
    // One whole reply, or what came before the session ended.
    std::string readReply() {
        std::string data;
        char chunk[16384];
        while (wholeReplySize(data) == std::string::npos) {
            const int n = SSL_read(mSsl.get(), chunk, sizeof chunk);
            if (n <= 0) break;
            data.append(chunk, std::size_t(n));
        }
        return data;
    }
    // Reads until the session ends; true when the server ended it with close_notify.
    bool readUntilCloseNotify(std::string& data) {
        char chunk[16384];
        for (;;) {
            const int n = SSL_read(mSsl.get(), chunk, sizeof chunk);
            if (n <= 0) return SSL_get_error(mSsl.get(), n) == SSL_ERROR_ZERO_RETURN;
            data.append(chunk, std::size_t(n));
        }
    }

  private:
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> mContext{SSL_CTX_new(TLS_client_method()),
                                                               SSL_CTX_free};
    std::unique_ptr<SSL, decltype(&SSL_free)> mSsl{SSL_new(mContext.get()), SSL_free};
    RawConnection mRaw;
    bool mConnected = false;
};

// A server on https with the certificate "first", whose files the test may replace.
struct TlsServer {
    ScratchDirectory directory;
    const std::string certificate = directory / "cert.pem", key = directory / "key.pem",
                      log = directory / "server.log";
    std::unique_ptr<ServerProcess> server;

    TlsServer() {
        for (const char* name : {"first", "second", "third"})
            if (!makeCertificate(directory.path, name)) throw std::runtime_error("openssl failed");
        use("first");
        server = startLoggingTo(log, serverArguments({"--tls-cert", certificate, "--tls-key", key}),
                                false);
    }
    void use(const std::string& name) {
        replaceFile(directory / (name + ".pem"), certificate);
        replaceFile(directory / (name + ".key"), key);
    }
    std::size_t logCount(const std::string& text) const { return countOf(readFile(log), text); }
    // How often `text` is in the log once that is no longer `before`, or after a bounded wait.
    std::size_t awaitLogCount(const std::string& text, std::size_t before) const {
        eventually([&] { return logCount(text) != before; }, 10s);
        return logCount(text);
    }
};

// The name of the certificate new connections get, once it is `expected` (or what it was at
// the last of a bounded number of tries).
std::string awaitCertificate(int port, const std::string& expected) {
    std::string name;
    eventually([&] { return (name = TlsClient(port).commonName()) == expected; }, 10s);
    return name;
}

}  // namespace

// Each piece comes well within any deadline for one read; only the deadline for the whole
// header, or the body's minimum rate, ends the connection. Both count from when the server has
// the first bytes, so however slow the machine, the cut cannot come sooner after they were sent.
TEST_F(Transport, HeaderThatTricklesAndBodyBelowTheMinimumRateAreCutOff) {
    struct Case {
        std::vector<std::string> options;
        std::string first, each;
        std::chrono::milliseconds pause, deadline;
        bool silent;  // cut off without a reply
    };
    const Case cases[] = {
        {{"--header-timeout", "1"}, "GET /health HTTP/1.1\r\n", "X", 200ms, 1s, true},
        // A thousand bytes a second, far below the minimum; the header deadline is its grace.
        {{"--header-timeout", "0.5", "--min-body-rate", "100000"},
         postHead("Content-Length: 1000000\r\n") + "SQL=",
         std::string(100, 'A'),
         100ms,
         500ms,
         false},
    };
    for (const auto& c : cases) {
        ServerProcess server(serverArguments(c.options));
        RawConnection slow(server.port());
        const auto started = Clock::now();
        ASSERT_TRUE(slow.send(c.first));
        // 300 rounds would be 30 s or more.
        bool cutOff = false;
        for (int i = 0; i < 300 && !cutOff; ++i) {
            if (slow.readable(c.pause)) {
                const auto reply = slow.readUntilClosed(10s, cutOff);
                EXPECT_TRUE(!c.silent || reply.empty()) << reply;
                break;
            }
            slow.send(c.each);
        }
        EXPECT_TRUE(cutOff) << c.first;
        EXPECT_GE(Clock::now() - started, c.deadline) << c.first;

        // A whole request within the deadline is answered as usual.
        EXPECT_EQ(healthStatus(server.port()), 200);
    }
}

TEST_F(Transport, IdleKeptAliveConnectionIsClosedAfterTheIdleTimeout) {
    ServerProcess server(serverArguments({"--idle-timeout", "0.6"}));
    RawConnection connection(server.port());
    ASSERT_TRUE(connection.send(getRequest("/health")));
    EXPECT_EQ(statusOf(connection.readReply(10s)), 200);
    // The same connection takes the next request. The idle time starts once that is answered,
    // which is after it was sent: the close cannot come sooner than the idle time after this.
    const auto idleFrom = Clock::now();
    ASSERT_TRUE(connection.send(getRequest("/health")));
    const auto second = connection.readReply(10s);
    EXPECT_EQ(statusOf(second), 200) << second;
    EXPECT_THAT(second, Not(HasSubstr("Connection: close")));

    EXPECT_TRUE(connection.closesSilently(20s));
    EXPECT_GE(Clock::now() - idleFrom, 600ms);
}

TEST_F(Transport, HeaderBlockOver64KbGets431AndTheConnectionCloses) {
    ServerProcess server;
    // Just under the limit still goes through.
    const auto filler = "X-Filler: " + std::string(60 * 1024, 'a') + "\r\n";
    EXPECT_EQ(tavrolin::test::exchange(server.port(), getRequest("/health", filler)).status, 200);
    RawConnection connection(server.port());
    std::string fillers;
    for (int i = 0; i < 10; ++i)
        fillers += "X-Filler-" + std::to_string(i) + ": " + std::string(8000, 'a') + "\r\n";
    const auto header = getRequest("/health", fillers);
    ASSERT_GT(header.size(), 64u * 1024);
    connection.send(header);
    bool closed = false;
    const auto reply = connection.readUntilClosed(5s, closed);
    EXPECT_EQ(statusOf(reply), 431) << reply.substr(0, 200);
    EXPECT_THAT(reply, HasSubstr("Connection: close"));
    EXPECT_TRUE(closed);
}

TEST_F(Transport, OversizedBodiesGet413WithoutBeingReadWhole) {
    ServerProcess server;
    httplib::Client client(server.baseUrl());
    const auto before = client.Get("/Tavrolin.asp?EmployeeID=5000");
    ASSERT_TRUE(before);
    ASSERT_EQ(before->status, 200);

    {
        // A declared length over the limit is refused on the header alone.
        RawConnection connection(server.port());
        ASSERT_TRUE(connection.send(postHead("Content-Length: 1000000000\r\n")));
        const auto reply = connection.readReply(5s);
        EXPECT_EQ(statusOf(reply), 413) << reply;
        EXPECT_THAT(reply, HasSubstr("Nothing was saved."));
    }
    // A chunked body that would never end is refused once it passes the limit: the reply comes
    // while the client is still sending, long before the 64 MB it would send.
    RawConnection connection(server.port());
    ASSERT_TRUE(connection.send(postHead("Transfer-Encoding: chunked\r\n")));
    const std::string statement = insertBody(1, 5000);
    std::string chunkData = statement;
    while (chunkData.size() < 64 * 1024) chunkData += statement;
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", chunkData.size());
    const std::string chunk = std::string(size) + chunkData + "\r\n";
    std::size_t sent = 0;
    while (sent < 64u * 1024 * 1024 && !connection.readable(0ms)) {
        if (!connection.send(chunk)) break;
        sent += chunk.size();
    }
    const auto reply = connection.readReply(5s);
    EXPECT_EQ(statusOf(reply), 413) << reply;
    EXPECT_THAT(reply, HasSubstr("Nothing was saved."));
    EXPECT_LT(sent, 40u * 1024 * 1024);

    const auto after = client.Get("/Tavrolin.asp?EmployeeID=5000");
    ASSERT_TRUE(after);
    EXPECT_EQ(after->body, before->body);
}

TEST_F(Transport, WorkBeyondTheWorkersAndQueueGets503WithRetryAfterAtOnce) {
    const auto server = startWithOneWorker();
    auto writer = writerHoldingOn(mDbPath);
    ASSERT_TRUE(writer);
    // Once the post has the only worker, the next request is turned away at once.
    std::string busyReply;
    const auto poster = holdTheWorker(server->port(), formPost(insertBody(1, 10000)), busyReply);
    ASSERT_TRUE(poster) << busyReply;
    EXPECT_THAT(busyReply, HasSubstr("Retry-After: 1\r\n"));

    writer.reset();
    const auto reply = poster->readReply(20s);
    EXPECT_EQ(statusOf(reply), 200) << reply;
    // The worker is free again once it has returned from the post.
    EXPECT_TRUE(eventually([&] { return healthStatus(server->port()) == 200; }));
}

// Idle, slow-header and trickling connections all at once leave the server answering: they
// wait in the transport, and none of them takes a worker.
TEST_F(Transport, SlowAndIdleConnectionsLeaveTheServiceAnswering) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    ASSERT_GE(limit.rlim_cur, 1200u) << "the test needs 1,100 sockets";

    // All from one address here: the per-client limit has a test of its own.
    ServerProcess server(serverArguments({"--max-connections-per-client", "4096"}));
    std::vector<std::unique_ptr<RawConnection>> idle, slowHeaders, trickles;
    for (int i = 0; i < 1000; ++i) {
        idle.push_back(std::make_unique<RawConnection>(server.port()));
        ASSERT_TRUE(idle.back()->connected());
        // Kept alive after a first request.
        if (i % 10 == 0) {
            ASSERT_TRUE(idle.back()->send(getRequest("/health")));
        }
    }
    for (int i = 0; i < 64; ++i) {
        slowHeaders.push_back(std::make_unique<RawConnection>(server.port()));
        ASSERT_TRUE(slowHeaders.back()->send("GET /health HTTP/1.1\r\n"));
    }
    for (int i = 0; i < 16; ++i) {
        trickles.push_back(std::make_unique<RawConnection>(server.port()));
        ASSERT_TRUE(trickles.back()->send(postHead("Transfer-Encoding: chunked\r\n")));
    }
    httplib::Client client(server.baseUrl());
    for (int round = 0; round < 3; ++round) {
        for (auto& slow : slowHeaders) slow->send("X-A: b\r\n");
        for (auto& trickle : trickles) trickle->send("1\r\nA\r\n");
        const auto health = client.Get("/health");
        ASSERT_TRUE(health) << "round " << round;
        EXPECT_EQ(health->status, 200);
    }
    const auto post =
        client.Post("/Tavrolin.asp", insertBody(1000, 20000), "application/x-www-form-urlencoded");
    ASSERT_TRUE(post);
    EXPECT_EQ(post->status, 200) << post->body;
    const auto document = client.Get("/Tavrolin.asp?EmployeeID=20999");
    ASSERT_TRUE(document);
    EXPECT_THAT(document->body, HasSubstr("<VendorID>77</VendorID>"));
}

TEST_F(Transport, HeadAnswersWithTheLengthOfTheGetBodyButNoBody) {
    ServerProcess server;
    RawConnection connection(server.port());
    ASSERT_TRUE(
        connection.send("HEAD /Tavrolin.asp?EmployeeID=42 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" +
                        getRequest("/health")));
    // The HEAD reply carries no body, so the next reply follows its header directly.
    bool closed = false;
    const auto replies = connection.readUntilClosed(20s, closed, "\r\n\r\nok");
    ASSERT_EQ(statusOf(replies), 200) << replies;
    const auto end = replies.find("\r\n\r\n");
    ASSERT_NE(end, std::string::npos);
    EXPECT_NE(replies.find("Content-Length: ", 0), std::string::npos);
    EXPECT_EQ(replies.compare(end + 4, 17, "HTTP/1.1 200 OK\r\n"), 0) << replies;
    EXPECT_TRUE(replies.ends_with("\r\n\r\nok"));
    httplib::Client client(server.baseUrl());
    const auto get = client.Get("/Tavrolin.asp?EmployeeID=42");
    ASSERT_TRUE(get);
    EXPECT_THAT(replies, HasSubstr("Content-Length: " + std::to_string(get->body.size()) + "\r\n"));
}

TEST_F(Transport, StopsCleanlyAfterTheRunningRequestIsAnswered) {
    const auto server = startWithOneWorker();
    const int port = server->port();
    auto writer = writerHoldingOn(mDbPath);
    ASSERT_TRUE(writer);
    std::string busyReply;
    const auto poster = holdTheWorker(port, formPost(insertBody(1, 40000)), busyReply);
    ASSERT_TRUE(poster) << busyReply;
    // An idle connection does not hold the stop up.
    RawConnection idle(port);
    ASSERT_TRUE(idle.connected());

    // The stop comes while the post waits in the worker: the server no longer takes
    // connections, and finishes the post once the writer lets go.
    std::thread stopper([&] { EXPECT_EQ(server->stop(), 0); });
    EXPECT_TRUE(eventually([&] { return !RawConnection(port).connected(); }));
    ASSERT_FALSE(poster->readable(0ms)) << "the post was answered while the writer held on";
    writer.reset();
    const auto reply = poster->readReply(20s);
    stopper.join();
    EXPECT_EQ(statusOf(reply), 200) << reply;
    EXPECT_THAT(reply, HasSubstr("Connection: close"));
    bool closed = false;
    idle.readUntilClosed(10s, closed);
    EXPECT_TRUE(closed);
}

// Beyond the server's limit, or beyond one client's share of it, a connection is closed at once.
TEST_F(Transport, ConnectionsBeyondTheLimitsAreClosedAtOnce) {
    ServerProcess server(
        serverArguments({"--max-connections", "4", "--max-connections-per-client", "3"}));
    std::vector<std::unique_ptr<RawConnection>> held;
    const auto hold = [&](const char* from) {
        held.push_back(std::make_unique<RawConnection>(server.port(), true, from));
        return held.back()->send(getRequest("/health")) &&
               statusOf(held.back()->readReply(5s)) == 200;
    };
    const auto closedAtOnce = [&](const char* from) {
        RawConnection excess(server.port(), true, from);
        excess.send(getRequest("/health"));
        return excess.closesSilently(5s);
    };
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(hold("127.0.0.1")) << i;
    EXPECT_TRUE(closedAtOnce("127.0.0.1"));
    // 127.0.0.2 is loopback too, and another client: it has the last slot.
    ASSERT_TRUE(hold("127.0.0.2"));
    EXPECT_TRUE(closedAtOnce("127.0.0.3"));

    // Room again once the server has seen one go.
    held.erase(held.begin());
    EXPECT_TRUE(eventually([&] { return healthStatus(server.port()) == 200; }));
}

TEST_F(Transport, RaisesTheOpenFileLimitAndSaysWhenItIsStillTooLow) {
    // The server's stderr, with its open-file limits set by the shell before it starts.
    const auto run = [](const std::string& limits, const std::string& connections) {
        const std::string command =
            "sh -c '" + limits + " && exec timeout -k 3 -s TERM 1 " + TAVROLIN_SERVER_PATH +
            " --db :memory: --listen 127.0.0.1:0 --max-connections " + connections + "' 2>&1";
        std::string output;
        if (FILE* pipe = ::popen(command.c_str(), "r")) {
            char buffer[512];
            while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
            ::pclose(pipe);
        }
        return output;
    };
    // A low soft limit under a high hard one is raised: no complaint.
    const auto raised = run("ulimit -S -n 100 && ulimit -H -n 4000", "1000");
    EXPECT_THAT(raised, HasSubstr("listening on http://127.0.0.1:"));
    EXPECT_THAT(raised, Not(HasSubstr("open-file limit")));
    // A hard limit below what the connections need is reported.
    const auto low = run("ulimit -S -n 100 && ulimit -H -n 200", "1000");
    EXPECT_THAT(low, HasSubstr("listening on http://127.0.0.1:"));
    EXPECT_THAT(low,
                HasSubstr("the open-file limit is 200, below the 1064 that 1000 connections need"));
}

TEST_F(Transport, BodySentAlmostWholeAndThenStalledIsCutOff) {
    ServerProcess server(serverArguments({"--header-timeout", "0.5"}));
    RawConnection connection(server.port());
    ASSERT_TRUE(connection.send(postHead("Content-Length: 1000000\r\n") +
                                "SQL=" + std::string(999000, 'A')));
    // Averaged since its start, the body's rate would allow it some 16 minutes more.
    EXPECT_TRUE(connection.closesSilently(60s));
}

TEST_F(Transport, BodiesBeyondTheMemoryLimitGet503AtOnce) {
    ServerProcess server(serverArguments({"--max-body-memory", "1"}));
    const auto head = postHead("Content-Length: 600000\r\n");
    const auto body = "SQL=" + std::string(600000 - 4, 'A');
    // "100 Continue" comes once the first body has its memory.
    RawConnection first(server.port());
    ASSERT_TRUE(first.send(postHead("Content-Length: 600000\r\nExpect: 100-continue\r\n")));
    bool closed = false;
    ASSERT_EQ(first.readUntilClosed(5s, closed, "\r\n\r\n"), "HTTP/1.1 100 Continue\r\n\r\n");
    ASSERT_TRUE(first.send(body.substr(0, 1000)));

    RawConnection second(server.port());
    ASSERT_TRUE(second.send(head));
    const auto refused = second.readUntilClosed(10s, closed);
    EXPECT_EQ(statusOf(refused), 503) << refused;
    EXPECT_THAT(refused, HasSubstr("Retry-After: "));
    EXPECT_TRUE(closed);

    // Once the first body is whole and answered, its memory is free for the next.
    ASSERT_TRUE(first.send(body.substr(1000)));
    EXPECT_GT(statusOf(first.readReply(10s)), 0);
    RawConnection third(server.port());
    ASSERT_TRUE(third.send(head + body));
    const auto reply = third.readReply(10s);
    EXPECT_GT(statusOf(reply), 0) << reply;
    EXPECT_NE(statusOf(reply), 503) << reply;
}

TEST_F(Transport, TransferEncodingNotEndingInChunkedGets400AndCloses) {
    ServerProcess server;
    // What follows the header would be a second request to a reader that takes it as no body.
    const std::string hidden = "GET /smuggled HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    for (const std::string& framing : std::vector<std::string>{
             "Transfer-Encoding: xchunked", "Transfer-Encoding: gzip",
             "Transfer-Encoding: identity", "Transfer-Encoding: chunked, identity",
             "Transfer-Encoding: identity\r\nContent-Length: " + std::to_string(hidden.size())}) {
        RawConnection connection(server.port());
        ASSERT_TRUE(connection.send("POST /Tavrolin.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n" + framing +
                                    "\r\n\r\n" + hidden));
        bool closed = false;
        const auto reply = connection.readUntilClosed(5s, closed);
        EXPECT_EQ(statusOf(reply), 400) << framing << "\n" << reply;
        EXPECT_EQ(reply.find("HTTP/1.1", 1), std::string::npos) << framing << "\n" << reply;
        EXPECT_TRUE(closed) << framing;
    }
}

TEST_F(Transport, HostMustBeSingleAndANameTheServerAnswersTo) {
    const auto statusFor = [](int port, const std::string& hostLines, bool* closed = nullptr) {
        RawConnection connection(port);
        connection.send("GET /health HTTP/1.1\r\n" + hostLines + "\r\n");
        if (!closed) return statusOf(connection.readReply(5s));
        return statusOf(connection.readUntilClosed(5s, *closed));
    };
    ServerProcess server;
    const auto port = std::to_string(server.port());
    bool closed = false;
    EXPECT_EQ(statusFor(server.port(), "", &closed), 400);
    EXPECT_TRUE(closed);
    EXPECT_EQ(statusFor(server.port(), "Host: 127.0.0.1\r\nHost: 127.0.0.1\r\n", &closed), 400);
    EXPECT_TRUE(closed);
    // A loopback server answers to loopback names only: a page of another site that had its
    // name point here gets nothing.
    EXPECT_EQ(statusFor(server.port(), "Host: rebound.example:" + port + "\r\n"), 421);
    for (const std::string& host :
         std::vector<std::string>{"localhost", "LocalHost:" + port, "127.0.0.1:" + port, "[::1]"})
        EXPECT_EQ(statusFor(server.port(), "Host: " + host + "\r\n"), 200) << host;

    ServerProcess named(serverArguments({"--allow-host", "links.example.com"}));
    EXPECT_EQ(statusFor(named.port(), "Host: links.example.com:443\r\n"), 200);
    EXPECT_EQ(statusFor(named.port(), "Host: 127.0.0.1\r\n"), 421);
}

TEST_F(Transport, TlsEndsWithCloseNotifyAfterAClosingReplyAndOnStop) {
    TlsServer tls;
    {
        TlsClient client(tls.server->port());
        ASSERT_TRUE(client.connected());
        ASSERT_TRUE(client.send(getRequest("/health", "Connection: close\r\n")));
        std::string reply;
        EXPECT_TRUE(client.readUntilCloseNotify(reply));
        EXPECT_EQ(statusOf(reply), 200) << reply;
    }
    // A kept-alive session waiting for its next request is ended cleanly by a stop.
    TlsClient idle(tls.server->port());
    ASSERT_TRUE(idle.send(getRequest("/health")));
    const auto reply = idle.readReply();
    ASSERT_EQ(statusOf(reply), 200) << reply;
    std::thread stopper([&] { EXPECT_EQ(tls.server->stop(), 0); });
    std::string rest;
    EXPECT_TRUE(idle.readUntilCloseNotify(rest));
    stopper.join();
    EXPECT_EQ(rest, "");
}

TEST_F(Transport, RenewedCertificateIsTakenWithoutARestart) {
    TlsServer tls;
    const int port = tls.server->port();
    ASSERT_EQ(awaitCertificate(port, "first"), "first");
    tls.use("second");
    EXPECT_EQ(awaitCertificate(port, "second"), "second");

    // A certificate whose key has not been written yet is refused; the pair before stays.
    const std::string kept = "keeping the certificate loaded before";
    const auto refusals = tls.logCount(kept);
    replaceFile(tls.directory / "third.pem", tls.certificate);
    EXPECT_EQ(tls.awaitLogCount(kept, refusals), refusals + 1);
    EXPECT_EQ(TlsClient(port).commonName(), "second");

    // SIGHUP reads the files again at once and leaves the server running.
    replaceFile(tls.directory / "third.key", tls.key);
    EXPECT_EQ(awaitCertificate(port, "third"), "third");
    const std::string loaded = "new connections use the certificate";
    const auto loads = tls.logCount(loaded);
    ASSERT_EQ(::kill(tls.server->pid(), SIGHUP), 0);
    EXPECT_EQ(tls.awaitLogCount(loaded, loads), loads + 1);
    TlsClient client(port);
    ASSERT_TRUE(client.send(getRequest("/health", "Connection: close\r\n")));
    std::string reply;
    client.readUntilCloseNotify(reply);
    EXPECT_EQ(statusOf(reply), 200) << reply;
}
