// The server's transport under hostile and busy clients, on 127.0.0.1. One line per
// measurement: name, size, median and the other figures of the run.
//  - GET /health and a 1,000-insert post while 1,000 idle kept-alive connections, 64 connections
//    sending a header byte every 2 s and 16 trickling an endless chunked body are open;
//  - small replies on one kept-alive connection (delayed-acknowledgement stalls show as ~40 ms);
//  - how soon excess work gets 503 while a long post holds the only worker;
//  - the server's resident memory before, at the peak of and after floods of oversized headers
//    and bodies;
//  - 256 bodies sent almost whole (7,999,000 of 8,000,000 bytes) and then stalled: memory, 503s
//    and how soon they are cut off;
//  - one address holding more than its share of slots: /health from another address;
//  - 1,000 TLS connections that never start their handshake: memory;
//  - a closing reply over TLS: how soon the client sees the end.
// usage: transport_bench [NAME...]   (slow_clients keepalive overload floods front_loaded
//                                     slot_hogging tls_pending tls_close; all by default)

#include <openssl/ssl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "raw_connection.h"
#include "server_process.h"

using namespace tavrolin::test;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// The shared raw connection with Nagle's algorithm left on, as most clients have it, and a reply
// read as its status. A connection that failed once stays failed, so that it is not counted as
// open.
class Connection {
  public:
    explicit Connection(int port) : mRaw(port, false), mOk(mRaw.connected()) {}

    bool ok() const { return mOk; }
    bool send(const std::string& data) { return mOk = mOk && mRaw.send(data); }
    bool readable(int ms) const { return mRaw.readable(std::chrono::milliseconds(ms)); }
    // One reply with a Content-Length; its status, or -1.
    int readReply(std::chrono::milliseconds timeout, std::string* text = nullptr) {
        const auto reply = mRaw.readReply(timeout);
        if (wholeReplySize(reply) == std::string::npos) {
            mOk = false;
            return -1;
        }
        if (text) *text = reply;
        return statusOf(reply);
    }

  private:
    RawConnection mRaw;
    bool mOk;
};

constexpr const char* kHealth = "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

std::string postRequest(const std::string& body) {
    return "POST /Tavrolin.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
           "application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Stats {
    double median, p99, max;
};

Stats stats(std::vector<double> values) {
    if (values.empty()) return {-1, -1, -1};
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2],
            values[std::min(values.size() - 1, values.size() * 99 / 100)], values.back()};
}

// Resident and peak resident memory of a process in MB.
std::pair<double, double> memoryMb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    double rss = -1, peak = -1;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) rss = std::stod(line.substr(6)) / 1024;
        if (line.rfind("VmHWM:", 0) == 0) peak = std::stod(line.substr(6)) / 1024;
    }
    return {rss, peak};
}

struct SlowRun {
    std::size_t probes;
    Stats health;
    int postStatus;
    double postMs;
    int idleOpen;
};

SlowRun slowClientsOnce() {
    // The same load as before the per-client limit: one address may hold all of it here.
    ServerProcess server(serverArguments({"--max-connections-per-client", "4096"}));
    std::vector<std::unique_ptr<Connection>> idle, slow, trickle;
    for (int i = 0; i < 1000; ++i) {
        idle.push_back(std::make_unique<Connection>(server.port()));
        idle.back()->send(kHealth);
        idle.back()->readReply(5s);
    }
    const std::string chunkedPost =
        "POST /Tavrolin.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
        "application/x-www-form-urlencoded\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 64; ++i) {
        slow.push_back(std::make_unique<Connection>(server.port()));
        slow.back()->send("GET /health HTTP/1.1\r\n");
    }
    for (int i = 0; i < 16; ++i) {
        trickle.push_back(std::make_unique<Connection>(server.port()));
        trickle.back()->send(chunkedPost);
    }
    std::atomic<bool> done{false};
    std::thread attacker([&] {
        while (!done) {
            for (auto& c : slow) c->send("X");
            for (auto& c : trickle) c->send("1\r\nA\r\n");
            for (int i = 0; i < 20 && !done; ++i) std::this_thread::sleep_for(100ms);
        }
    });
    std::vector<double> health;
    double postMs = -1;
    int postStatus = -1;
    Connection probe(server.port());
    // Less than the idle timeout, so that the idle connections are all still open at the end.
    const auto end = Clock::now() + 4s;
    for (int i = 0; Clock::now() < end; ++i) {
        const auto start = Clock::now();
        probe.send(kHealth);
        if (probe.readReply(5s) == 200) health.push_back(ms(Clock::now() - start));
        if (i == 10) {
            Connection poster(server.port());
            const auto request = postRequest(insertBody(1000, 50000));
            const auto postStart = Clock::now();
            poster.send(request);
            postStatus = poster.readReply(30s);
            postMs = ms(Clock::now() - postStart);
        }
        std::this_thread::sleep_for(50ms);
    }
    done = true;
    attacker.join();
    int open = 0;
    for (auto& c : idle) open += c->ok() && !c->readable(0);
    return {health.size(), stats(health), postStatus, postMs, open};
}

// Three runs; the medians of their figures, as one busy moment of a shared machine shows up as
// the maximum of a single run.
void slowClients() {
    std::vector<SlowRun> runs;
    for (int i = 0; i < 3; ++i) runs.push_back(slowClientsOnce());
    const auto median = [&](auto field) {
        std::vector<double> values;
        for (const auto& run : runs) values.push_back(double(field(run)));
        return stats(values).median;
    };
    std::printf(
        "health_under_slow_clients idle=1000 slow_headers=64 trickling_bodies=16 runs=3 "
        "probes_per_run=%.0f median_ms=%.2f median_p99_ms=%.2f median_max_ms=%.2f goal_ms=50 "
        "idle_still_open=%.0f\n",
        median([](const SlowRun& r) { return r.probes; }),
        median([](const SlowRun& r) { return r.health.median; }),
        median([](const SlowRun& r) { return r.health.p99; }),
        median([](const SlowRun& r) { return r.health.max; }),
        median([](const SlowRun& r) { return r.idleOpen; }));
    int worstStatus = 200;
    for (const auto& run : runs)
        if (run.postStatus != 200) worstStatus = run.postStatus;
    std::printf("post_under_slow_clients statements=1000 runs=3 status=%d median_ms=%.1f\n",
                worstStatus, median([](const SlowRun& r) { return r.postMs; }));
}

void keptAliveSmallReplies() {
    ServerProcess server;
    Connection connection(server.port());
    std::vector<double> gets, posts;
    for (int i = 0; i < 2000; ++i) {
        const auto start = Clock::now();
        connection.send(kHealth);
        if (connection.readReply(5s) != 200) break;
        gets.push_back(ms(Clock::now() - start));
    }
    // A post whose header and body go out in two writes, as many clients send them: the reply
    // must not wait for the acknowledgement of either.
    const auto body = insertBody(1, 42);
    const auto request = postRequest(body);
    const auto head = request.substr(0, request.size() - body.size());
    for (int i = 0; i < 500; ++i) {
        const auto start = Clock::now();
        connection.send(head);
        connection.send(body);
        if (connection.readReply(5s) != 200) break;
        posts.push_back(ms(Clock::now() - start));
    }
    const auto g = stats(gets), p = stats(posts);
    std::printf("keepalive_health requests=%zu median_ms=%.3f p99_ms=%.3f max_ms=%.3f goal_ms=10\n",
                gets.size(), g.median, g.p99, g.max);
    std::printf(
        "keepalive_small_post requests=%zu median_ms=%.3f p99_ms=%.3f max_ms=%.3f goal_ms=10\n",
        posts.size(), p.median, p.p99, p.max);
}

void overload() {
    ServerProcess server(serverArguments({"--workers", "1", "--queue-limit", "0"}));
    Connection poster(server.port());
    poster.send(postRequest(insertBody(30000, 60000)));
    std::this_thread::sleep_for(50ms);
    std::vector<double> busy;
    while (!poster.readable(0) && busy.size() < 200) {
        Connection probe(server.port());
        const auto start = Clock::now();
        probe.send(kHealth);
        if (probe.readReply(5s) == 503) busy.push_back(ms(Clock::now() - start));
    }
    const int postStatus = poster.readReply(60s);
    const auto s = stats(busy);
    std::printf(
        "overload_503 workers=1 queue=0 replies=%zu median_ms=%.3f max_ms=%.3f post_status=%d\n",
        busy.size(), s.median, s.max, postStatus);
}

void floods() {
    ServerProcess server;
    Connection warm(server.port());
    warm.send(kHealth);
    warm.readReply(5s);
    std::this_thread::sleep_for(200ms);
    const auto [start, startPeak] = memoryMb(server.pid());

    // Eight requests of 5,000 header lines of 8 KB each, sent until the server refuses them.
    std::vector<std::thread> threads;
    std::atomic<int> refused431{0};
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            Connection c(server.port());
            c.send("GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n");
            const std::string line = "X-Filler: " + std::string(8192, 'a') + "\r\n";
            for (int i = 0; i < 5000 && c.send(line) && !c.readable(0); ++i) {
            }
            if (c.readReply(5s) == 431) ++refused431;
        });
    for (auto& thread : threads) thread.join();
    threads.clear();
    // Sixteen bodies just under the limit at once, then sixteen endless chunked ones.
    std::atomic<int> answered{0}, refused413{0};
    const std::string junk(8 * 1024 * 1024 - 4096, 'A');
    for (int t = 0; t < 16; ++t)
        threads.emplace_back([&] {
            Connection c(server.port());
            c.send(postRequest("SQL=" + junk));
            if (c.readReply(30s) > 0) ++answered;
        });
    for (auto& thread : threads) thread.join();
    threads.clear();
    for (int t = 0; t < 16; ++t)
        threads.emplace_back([&] {
            Connection c(server.port());
            c.send(
                "POST /Tavrolin.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                "application/x-www-form-urlencoded\r\nTransfer-Encoding: chunked\r\n\r\n");
            const std::string chunk = "10000\r\n" + std::string(0x10000, 'A') + "\r\n";
            for (int i = 0; i < 1024 && c.send(chunk) && !c.readable(0); ++i) {
            }
            if (c.readReply(30s) == 413) ++refused413;
        });
    for (auto& thread : threads) thread.join();
    const auto peak = memoryMb(server.pid()).second;
    // Freed memory goes back to the system on the server's next trim.
    std::this_thread::sleep_for(6s);
    const auto after = memoryMb(server.pid()).first;
    std::printf(
        "memory_after_floods header_floods=8(431:%d) bodies_8mb=16(answered:%d) "
        "chunked_floods=16(413:%d) start_mb=%.1f peak_mb=%.1f after_mb=%.1f growth_mb=%.1f "
        "goal_growth_mb=64\n",
        refused431.load(), answered.load(), refused413.load(), start, peak, after, after - start);
    (void)startPeak;
}

void frontLoaded() {
    ServerProcess server;
    const auto [start, startPeak] = memoryMb(server.pid());
    constexpr int kConnections = 256;
    const std::string head =
        "POST /Tavrolin.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
        "application/x-www-form-urlencoded\r\nContent-Length: 8000000\r\n\r\nSQL=";
    const std::string most(7999000 - 4, 'A');
    std::vector<std::unique_ptr<RawConnection>> connections(kConnections);
    std::vector<Clock::time_point> sentAt(kConnections);
    std::vector<std::atomic<bool>> sent(kConnections);
    std::atomic<int> next{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t)
        threads.emplace_back([&] {
            for (int i = next++; i < kConnections; i = next++) {
                connections[i] = std::make_unique<RawConnection>(server.port());
                connections[i]->send(head + most);
                sentAt[i] = Clock::now();
                sent[i] = true;
            }
        });
    double held = memoryMb(server.pid()).first;
    // Each connection ends with a 503 (refused at once) or without a reply (cut off).
    std::vector<double> cutOffAfter;
    std::vector<std::string> replies(kConnections);
    std::vector<bool> done(kConnections, false);
    int refused = 0, open = kConnections;
    const auto deadline = Clock::now() + 120s;
    while (open > 0 && Clock::now() < deadline) {
        held = std::max(held, memoryMb(server.pid()).first);
        for (int i = 0; i < kConnections; ++i) {
            if (done[i] || !sent[i]) continue;
            char chunk[4096];
            ssize_t n = 0;
            while ((n = ::recv(connections[i]->fd(), chunk, sizeof chunk, MSG_DONTWAIT)) > 0)
                replies[i].append(chunk, std::size_t(n));
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
            done[i] = true;
            --open;
            if (statusOf(replies[i]) == 503)
                ++refused;
            else
                cutOffAfter.push_back(ms(Clock::now() - sentAt[i]) / 1000);
        }
        std::this_thread::sleep_for(20ms);
    }
    for (auto& thread : threads) thread.join();
    const auto peak = memoryMb(server.pid()).second;
    std::this_thread::sleep_for(6s);
    const auto after = memoryMb(server.pid()).first;
    const auto s = stats(cutOffAfter);
    std::printf(
        "front_loaded_bodies connections=256 sent=7999000/8000000 refused_503=%d cut_off=%zu "
        "still_open=%d cut_off_after_s_median=%.1f max=%.1f start_mb=%.1f held_mb=%.1f "
        "peak_mb=%.1f after_mb=%.1f before_fix_mb=2000\n",
        refused, cutOffAfter.size(), open, s.median, s.max, start, held, peak, after);
    (void)startPeak;
}

void slotHogging() {
    ServerProcess server(serverArguments({"--max-connections", "256"}));
    std::vector<std::unique_ptr<Connection>> hog;
    std::atomic<bool> done{false};
    std::atomic<int> refusedHog{0};
    std::thread attacker([&] {
        while (!done) {
            // Reopened as they close: 300 at all times, all from 127.0.0.1.
            std::erase_if(hog, [](const auto& c) { return !c->ok() || c->readable(0); });
            while (hog.size() < 300) {
                hog.push_back(std::make_unique<Connection>(server.port()));
                ++refusedHog;
            }
            std::this_thread::sleep_for(20ms);
        }
    });
    std::this_thread::sleep_for(500ms);
    int attempts = 0, answered = 0;
    std::vector<double> times;
    const auto end = Clock::now() + 4s;
    while (Clock::now() < end) {
        ++attempts;
        RawConnection probe(server.port(), false, "127.0.0.2");
        const auto start = Clock::now();
        probe.send(kHealth);
        if (statusOf(probe.readReply(5s)) == 200) {
            ++answered;
            times.push_back(ms(Clock::now() - start));
        }
        std::this_thread::sleep_for(20ms);
    }
    done = true;
    attacker.join();
    const auto s = stats(times);
    std::printf(
        "slot_hogging max_connections=256 per_client=128 hog_connections=300 opened=%d "
        "health_from_other_address=%d/%d median_ms=%.2f p99_ms=%.2f before_fix=0/376\n",
        refusedHog.load(), answered, attempts, s.median, s.p99);
}

// A TLS server with a fresh self-signed certificate; the folder goes with it.
struct TlsServer {
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("tavrolin-bench-" + std::to_string(getpid()));
    std::unique_ptr<ServerProcess> server;
    explicit TlsServer(std::vector<std::string> extra) {
        std::filesystem::create_directories(folder);
        const auto command =
            "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout '" +
            (folder / "key.pem").string() + "' -out '" + (folder / "cert.pem").string() +
            "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) std::fprintf(stderr, "openssl failed\n");
        extra.insert(extra.end(), {"--tls-cert", (folder / "cert.pem").string(), "--tls-key",
                                   (folder / "key.pem").string()});
        server = std::make_unique<ServerProcess>(serverArguments(extra));
    }
    ~TlsServer() {
        server.reset();
        std::filesystem::remove_all(folder);
    }
};

void tlsPending() {
    TlsServer tls({"--max-connections-per-client", "4096", "--header-timeout", "60"});
    const pid_t pid = tls.server->pid();
    std::this_thread::sleep_for(200ms);
    const auto before = memoryMb(pid).first;
    std::vector<std::unique_ptr<RawConnection>> waiting;
    for (int i = 0; i < 1000; ++i)
        waiting.push_back(std::make_unique<RawConnection>(tls.server->port()));
    std::this_thread::sleep_for(1s);
    int open = 0;
    for (auto& c : waiting) open += c->connected() && !c->readable(0ms);
    const auto [rss, peak] = memoryMb(pid);
    std::printf(
        "tls_pending_handshakes connections=1000 open=%d before_mb=%.1f rss_mb=%.1f peak_mb=%.1f "
        "per_connection_kb=%.1f goal_rss_mb=64 before_fix_peak_mb=391\n",
        open, before, rss, peak, (rss - before) * 1024 / 1000);
}

void tlsClose() {
    TlsServer tls({});
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    std::vector<double> times;
    bool allCloseNotify = true;
    for (int i = 0; i < 50; ++i) {
        RawConnection raw(tls.server->port());
        SSL* ssl = SSL_new(context);
        SSL_set_fd(ssl, raw.fd());
        if (SSL_connect(ssl) != 1) {
            SSL_free(ssl);
            continue;
        }
        const std::string request =
            "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        const auto start = Clock::now();
        SSL_write(ssl, request.data(), int(request.size()));
        char buffer[4096];
        int n = 0;
        while ((n = SSL_read(ssl, buffer, sizeof buffer)) > 0) {
        }
        allCloseNotify = allCloseNotify && SSL_get_error(ssl, n) == SSL_ERROR_ZERO_RETURN;
        // Then the FIN.
        while (::recv(raw.fd(), buffer, sizeof buffer, 0) > 0) {
        }
        times.push_back(ms(Clock::now() - start));
        SSL_free(ssl);
    }
    SSL_CTX_free(context);
    const auto s = stats(times);
    std::printf(
        "tls_closing_reply requests=%zu close_notify=%s median_ms_to_eof=%.2f p99_ms=%.2f "
        "before_fix_ms=2000\n",
        times.size(), allCloseNotify ? "all" : "not_all", s.median, s.p99);
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    const std::vector<std::pair<std::string, void (*)()>> all{
        {"slow_clients", slowClients}, {"keepalive", keptAliveSmallReplies},
        {"overload", overload},        {"floods", floods},
        {"front_loaded", frontLoaded}, {"slot_hogging", slotHogging},
        {"tls_pending", tlsPending},   {"tls_close", tlsClose}};
    const std::vector<std::string> chosen(argv + 1, argv + argc);
    for (const auto& [name, run] : all)
        if (chosen.empty() || std::find(chosen.begin(), chosen.end(), name) != chosen.end()) run();
}
