// The server's own threads: a stop signal during load ends it without waiting for any deadline
// and without losing an acknowledged post, and an exception at a thread boundary costs at most
// the request it hit.

#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "http_client.h"
#include "http_service.h"
#include "link_posts.h"
#include "raw_connection.h"
#include "request_handler.h"
#include "scratch_directory.h"
#include "server_process.h"
#include "sqlite_connection.h"
#include "storage.h"
#include "test_database.h"

using namespace tavrolin::test;
using tavrolin::server::test::TestDatabase;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr int kVendors = 200;
constexpr int kPosters = 4;

// Waits for the process to end, for at most `bound`; its exit status, or -1 when it did not
// end normally in time (it is killed then).
int waitForExit(pid_t pid, std::chrono::seconds bound, Clock::duration& took) {
    const auto started = Clock::now();
    const int handle = int(syscall(SYS_pidfd_open, pid, 0));
    pollfd ended{handle, POLLIN, 0};
    const bool done = handle >= 0 && poll(&ended, 1, int(bound.count() * 1000)) == 1;
    if (handle >= 0) close(handle);
    took = Clock::now() - started;
    if (!done) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    return done && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Acknowledged {
    std::mutex mutex;
    std::condition_variable grew;
    std::set<std::pair<int, int>> links;  // employee, vendor
};

// Posts one new link after another until the server stops answering; records those it
// acknowledged.
void post(const std::string& baseUrl, int employee, Acknowledged& acknowledged,
          const std::atomic<bool>& stopped) {
    httplib::Client client(baseUrl);
    client.enable_server_certificate_verification(false);
    for (int vendor = 1; vendor <= kVendors && !stopped; ++vendor) {
        const auto body = formBody({insertSql(employee, std::to_string(vendor))});
        const auto reply = postForm(client, body);
        if (!reply) {
            if (stopped) return;
            continue;
        }
        if (reply->status != 200) continue;
        std::lock_guard lock(acknowledged.mutex);
        acknowledged.links.insert({employee, vendor});
        acknowledged.grew.notify_all();
    }
}

}  // namespace

// Deadlines are set far beyond the wait below, so a stop that waited for idle connections, slow
// headers or handshakes to time out fails here however fast the machine.
TEST(ServerStop, SignalDuringLoadStopsWithoutWaitingForDeadlinesAndKeepsAcknowledgedPosts) {
    const char* roundsSetting = std::getenv("TAVROLIN_STOP_ROUNDS");
    const int rounds = roundsSetting ? std::atoi(roundsSetting) : 4;
    const ScratchDirectory certificates;
    ASSERT_TRUE(makeCertificate(certificates.path, "127.0.0.1"));
    Clock::duration longest{};

    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const bool tls = round % 2 == 1;
        TestDatabase db;
        std::string vendors = "INSERT INTO Vendor (VendorID, VendorName, Active) VALUES ";
        for (int v = 1; v <= kVendors; ++v)
            vendors += (v > 1 ? "," : "") + std::string("(") + std::to_string(v) + ",'V" +
                       std::to_string(v) + "',1)";
        db.execute(vendors);
        std::vector<std::string> arguments{"--db", db.location(), "--listen", "127.0.0.1:0",
                                           "--header-timeout", "120", "--idle-timeout", "120"};
        if (tls) {
            arguments.insert(arguments.end(), {"--tls-cert", certificates / "127.0.0.1.pem",
                                               "--tls-key", certificates / "127.0.0.1.key"});
        }
        ServerProcess server(arguments);

        // Connections that only a deadline would end: idle ones, half a header, and (on https)
        // handshakes that have not been answered.
        std::vector<std::unique_ptr<RawConnection>> waiting;
        for (int i = 0; i < 24; ++i) {
            auto connection = std::make_unique<RawConnection>(server.port());
            ASSERT_TRUE(connection->connected());
            if (!tls && i % 2 == 0) connection->send("GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n");
            waiting.push_back(std::move(connection));
        }

        Acknowledged acknowledged;
        std::atomic<bool> stopped{false};
        std::vector<std::thread> posters;
        for (int p = 0; p < kPosters; ++p)
            posters.emplace_back(post, server.baseUrl(), 1000 * round + p + 1,
                                 std::ref(acknowledged), std::cref(stopped));
        {
            std::unique_lock lock(acknowledged.mutex);
            acknowledged.grew.wait(lock, [&] { return acknowledged.links.size() >= 20; });
        }

        const pid_t pid = server.pid();
        ASSERT_EQ(kill(pid, SIGTERM), 0);
        Clock::duration took{};
        const int status = waitForExit(pid, 60s, took);
        stopped = true;
        for (auto& poster : posters) poster.join();
        EXPECT_EQ(status, 0) << "the server did not stop by itself";
        longest = std::max(longest, took);

        tavrolin::server::SqliteConnection connection(db.location());
        auto stored = connection.prepare(
            "SELECT EmployeeID, VendorID FROM VendorEmployeeCrossReference");
        std::set<std::pair<int, int>> links;
        while (stored.step()) links.insert({int(stored.columnInt(0)), int(stored.columnInt(1))});
        for (const auto& link : acknowledged.links)
            EXPECT_TRUE(links.count(link)) << link.first << ":" << link.second << " was lost";
    }
    std::printf("longest stop: %.1f ms over %d rounds\n",
                std::chrono::duration<double, std::milli>(longest).count(), rounds);
}

TEST(ServerFaults, ExceptionAtAThreadBoundaryCostsOnlyItsRequest) {
    std::signal(SIGPIPE, SIG_IGN);
    auto storage = tavrolin::server::openStorage(":memory:", 1);
    tavrolin::server::RequestHandler handler(*storage);
    tavrolin::server::HttpService service(handler, 2);
    std::mutex mutex;
    std::string armed;
    service.setFaultHook([&](const char* where) {
        std::lock_guard lock(mutex);
        if (armed != where) return;
        armed.clear();
        throw std::bad_alloc();
    });
    const int port = service.bind("127.0.0.1", 0);
    ASSERT_GT(port, 0);
    std::thread serving([&] { service.serve(); });

    auto exchange = [&](const std::string& where) {
        {
            std::lock_guard lock(mutex);
            armed = where;
        }
        RawConnection connection(port);
        EXPECT_TRUE(connection.send(getRequest("/health", "Connection: close\r\n")));
        bool closed = false;
        return connection.readUntilClosed(30s, closed);
    };
    // A throw in the handler's thread is answered; one on the I/O side or while handing the
    // reply back ends that connection, and nothing else.
    EXPECT_EQ(statusOf(exchange("worker")), 500);
    EXPECT_EQ(exchange("io"), "");
    EXPECT_EQ(exchange("reply"), "");
    for (int i = 0; i < 3; ++i) {
        RawConnection connection(port);
        ASSERT_TRUE(connection.send(getRequest("/health")));
        EXPECT_EQ(statusOf(connection.readReply(30s)), 200) << "request " << i << " after";
    }
    service.stop();
    serving.join();
}
