// Sign-in under a password flood, on 127.0.0.1 with --users. One line per measurement: name,
// size, median, p99 and the same figure measured unloaded in the same run.
//  - GET /health, and a signed-in user's GET and post from another address (127.0.0.2), each on
//    a new connection as a browser or the control makes them, first unloaded and then while
//    `attackers` connections from 127.0.0.1 send wrong passwords as fast as they are answered;
//  - what the attackers got (401: a hash was computed; 429: throttled; 503: queue full) and
//    the server's CPU time while the flood lasted.
// usage: sign_in_bench [attackers (128)] [seconds (20)]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "basic_credentials.h"
#include "raw_connection.h"
#include "server_process.h"

using namespace tavrolin::test;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr const char* kPassword = "c0rrect h0rse";

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Stats {
    double median = -1, p99 = -1;
};

Stats stats(std::vector<double> values) {
    if (values.empty()) return {};
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2],
            values[std::min(values.size() - 1, values.size() * 99 / 100)]};
}

// One request on a new connection from `source`; the reply's status (-1 for none) once the
// reply is whole or the server has closed.
int exchange(const char* source, int port, const std::string& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &local.sin_addr);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(std::uint16_t(port));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // The port is chosen at connect, for this server, so that the many short connections of a
    // flood do not run out of ports bound for any destination.
    ::setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0 ||
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size())) {
        ::close(fd);
        return -1;
    }
    std::string data;
    const auto deadline = Clock::now() + 30s;
    while (Clock::now() < deadline && wholeReplySize(data) == std::string::npos) {
        pollfd poller{fd, POLLIN, 0};
        if (::poll(&poller, 1, 1000) <= 0) continue;
        char chunk[16384];
        const auto n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        data.append(chunk, std::size_t(n));
    }
    ::close(fd);
    return statusOf(data);
}

std::string authorization(const std::string& password) {
    return "Authorization: " + basicCredentials(std::string("alice:") + password) + "\r\n";
}

std::string get(const std::string& headers) {
    return "GET /Tavrolin.asp?EmployeeID=42 HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers +
           "Connection: close\r\n\r\n";
}

std::string post(const std::string& headers) {
    const auto body = insertBody(1, 42);
    return "POST /Tavrolin.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers +
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

const std::string kHealth = "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";

// Seconds of CPU the process has used, user and system.
double cpuSeconds(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long user = 0, system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) user = std::stoull(field);
        if (i == 15) system = std::stoull(field);
    }
    return double(user + system) / double(::sysconf(_SC_CLK_TCK));
}

struct Probes {
    std::vector<double> health, get, post;
    int failures = 0;  // replies other than 200
};

// Probes every 20 ms (so the probes themselves are no load) until `until`, at least `minimum`
// of each.
Probes probe(int port, Clock::time_point until, std::size_t minimum) {
    Probes probes;
    const auto right = authorization(kPassword);
    const auto timed = [&](std::vector<double>& into, const char* source,
                           const std::string& request) {
        const auto started = Clock::now();
        if (exchange(source, port, request) != 200) ++probes.failures;
        into.push_back(ms(Clock::now() - started));
        std::this_thread::sleep_for(20ms);
    };
    while (Clock::now() < until || probes.health.size() < minimum) {
        timed(probes.health, "127.0.0.1", kHealth);
        timed(probes.get, "127.0.0.2", get(right));
        timed(probes.post, "127.0.0.2", post(right));
    }
    return probes;
}

void printLine(const char* name, int attackers, const std::vector<double>& loaded,
               const std::vector<double>& unloaded, double goal) {
    const auto a = stats(loaded), b = stats(unloaded);
    std::printf(
        "%s attackers=%d probes=%zu median_ms=%.1f p99_ms=%.1f unloaded_median_ms=%.1f "
        "unloaded_p99_ms=%.1f goal_p99_ms=%.0f\n",
        name, attackers, loaded.size(), a.median, a.p99, b.median, b.p99, goal);
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    const int attackers = argc > 1 ? std::atoi(argv[1]) : 128;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 20;

    const auto directory = std::filesystem::temp_directory_path() /
                           ("tavrolin-sign-in-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
    const auto usersFile = (directory / "users").string();
    if (addUser(usersFile, "alice", kPassword) != 0) {
        std::fprintf(stderr, "sign_in_bench: add-user failed\n");
        return 1;
    }
    const auto server = startLoggingTo((directory / "server.log").string(),
                                       serverArguments({"--users", usersFile}), false);
    const int port = server->port();

    // Unloaded first; the good user's first sign-in (the one hash it needs) is left out.
    exchange("127.0.0.2", port, get(authorization(kPassword)));
    const auto unloaded = probe(port, Clock::now(), 50);

    std::atomic<bool> flooding{true};
    std::mutex mutex;
    std::map<int, long> statuses;
    std::vector<std::thread> threads;
    const double cpuBefore = cpuSeconds(server->pid());
    const auto floodStart = Clock::now();
    for (int t = 0; t < attackers; ++t)
        threads.emplace_back([&, t] {
            const auto wrong = post(authorization("wrong" + std::to_string(t)));
            std::map<int, long> own;
            while (flooding) ++own[exchange("127.0.0.1", port, wrong)];
            std::lock_guard lock(mutex);
            for (const auto& [status, count] : own) statuses[status] += count;
        });
    // The throttle needs its first failures; the probes then run through the rest.
    const auto loaded = probe(port, floodStart + std::chrono::seconds(seconds), 50);
    flooding = false;
    for (auto& thread : threads) thread.join();
    const double floodSeconds = std::chrono::duration<double>(Clock::now() - floodStart).count();
    const double cpu = cpuSeconds(server->pid()) - cpuBefore;

    printLine("health_under_password_flood", attackers, loaded.health, unloaded.health, 50);
    printLine("signed_in_get_under_password_flood", attackers, loaded.get, unloaded.get, 100);
    printLine("signed_in_post_under_password_flood", attackers, loaded.post, unloaded.post, 100);
    long total = 0;
    for (const auto& [status, count] : statuses) total += count;
    std::printf(
        "password_flood attackers=%d seconds=%.1f requests=%ld hashed_401=%ld throttled_429=%ld "
        "busy_503=%ld other=%ld server_cpu_s=%.1f server_cpu_share=%.2f probe_failures=%d\n",
        attackers, floodSeconds, total, statuses[401], statuses[429], statuses[503],
        total - statuses[401] - statuses[429] - statuses[503], cpu, cpu / floodSeconds,
        loaded.failures + unloaded.failures);
    server->stop();
    std::filesystem::remove_all(directory);
    return 0;
}
