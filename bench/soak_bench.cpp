// Soak: many clients post link inserts and deletes (some refused) to one tavrolin-server for a
// set time; then the database must hold exactly what the acknowledged posts imply. Reports posts
// per second, latency percentiles and the server's memory before, after and after a rest.
//
// usage: soak_bench [--seconds N] [--clients N]

#include <httplib.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sqlite_connection.h"
#include "link_posts.h"
#include "server_process.h"

using tavrolin::test::ServerProcess;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::int64_t kActiveVendors = 500;
constexpr std::int64_t kInactiveVendors = 20;
constexpr std::int64_t kFirstEmployee = 5000;
constexpr const char* kForm = "application/x-www-form-urlencoded";

enum class LinkState { Absent, Present, Unknown };

struct Statement {
    bool insert;
    std::vector<std::int64_t> vendors;
};

std::string body(std::int64_t employee, const std::vector<Statement>& statements) {
    std::string out;
    for (const auto& s : statements) {
        std::string vendors;
        for (std::size_t i = 0; i < s.vendors.size(); ++i)
            vendors += (i ? "," : "") + std::to_string(s.vendors[i]);
        out += tavrolin::test::formField(s.insert ? tavrolin::test::insertSql(employee, vendors)
                                                  : tavrolin::test::deleteSql(employee, vendors));
    }
    return out;
}

struct ClientResult {
    std::map<std::int64_t, LinkState> links;  // absent unless listed
    std::vector<double> latenciesMs;
    long applied = 0;
    long refused = 0;
    long unanswered = 0;
    long busy = 0;  // 503: the database stayed locked too long; nothing was saved
    long wrongAnswers = 0;
};

void runClient(int port, int index, Clock::time_point end, ClientResult& result) {
    const std::int64_t employee = kFirstEmployee + index;
    std::mt19937 random(unsigned(index) * 7919u + 17u);
    std::uniform_int_distribution<std::int64_t> activeVendor(1, kActiveVendors);
    std::uniform_int_distribution<std::int64_t> inactiveVendor(kActiveVendors + 1,
                                                               kActiveVendors + kInactiveVendors);
    std::uniform_int_distribution<int> statementCount(1, 40);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> inListSize(1, 5);

    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(10);
    client.set_read_timeout(60);
    client.set_write_timeout(60);
    while (Clock::now() < end) {
        std::vector<Statement> statements;
        const int count = statementCount(random);
        for (int i = 0; i < count; ++i) {
            if (percent(random) < 60) {
                statements.push_back({true, {activeVendor(random)}});
            } else {
                Statement remove{false, {}};
                for (int k = inListSize(random); k > 0; --k)
                    remove.vendors.push_back(activeVendor(random));
                statements.push_back(remove);
            }
        }
        // One post in ten names an inactive vendor, so the server refuses all of it.
        const bool refusable = percent(random) < 10;
        if (refusable)
            statements.insert(statements.begin() + random() % (statements.size() + 1),
                              Statement{true, {inactiveVendor(random)}});

        const auto start = Clock::now();
        const auto reply = client.Post("/Tavrolin.asp", body(employee, statements), kForm);
        result.latenciesMs.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - start).count());

        if (!reply) {
            // Sent, perhaps applied: every link it touches may be either way now.
            ++result.unanswered;
            std::fprintf(stderr, "soak_bench: client %d, post %zu: no answer (%s)\n", index,
                         result.latenciesMs.size(), httplib::to_string(reply.error()).c_str());
            for (const auto& s : statements)
                for (const auto vendor : s.vendors) result.links[vendor] = LinkState::Unknown;
        } else if (reply->status == 200) {
            ++result.applied;
            if (refusable) ++result.wrongAnswers;
            for (const auto& s : statements)
                for (const auto vendor : s.vendors)
                    result.links[vendor] = s.insert ? LinkState::Present : LinkState::Absent;
        } else if (reply->status == 503) {
            ++result.busy;
        } else {
            ++result.refused;
            if (!refusable || reply->status != 422) ++result.wrongAnswers;
        }
    }
}

long rssKb(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
    return -1;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 30;
    int clients = 32;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--clients" && i + 1 < argc) {
            clients = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: soak_bench [--seconds N] [--clients N]\n");
            return 2;
        }
    }
    signal(SIGPIPE, SIG_IGN);

    char directoryTemplate[] = "/tmp/tavrolin-soak-XXXXXX";
    if (!mkdtemp(directoryTemplate)) return 1;
    const std::string directory = directoryTemplate;
    const std::string database = directory + "/soak.db";
    {
        std::ofstream csv(directory + "/vendors.csv");
        csv << "id,name,active\n";
        for (std::int64_t id = 1; id <= kActiveVendors + kInactiveVendors; ++id)
            csv << id << ",Vendor " << id << "," << (id <= kActiveVendors ? 1 : 0) << "\n";
    }
    const std::string import = std::string(TAVROLIN_SERVER_PATH) + " import-vendors --db " +
                               database + " " + directory + "/vendors.csv >/dev/null";
    if (std::system(import.c_str()) != 0) {
        std::fprintf(stderr, "soak_bench: import-vendors failed\n");
        return 1;
    }

    std::vector<ClientResult> results(static_cast<std::size_t>(clients));
    long rssBefore = 0, rssAfter = 0, rssRested = 0, rssPeak = 0;
    double elapsedS = 0;
    {
        ServerProcess server({"--db", database, "--listen", "127.0.0.1:0"});
        rssBefore = rssKb(server.pid(), "VmRSS:");
        const auto start = Clock::now();
        const auto end = start + std::chrono::seconds(seconds);
        std::vector<std::thread> threads;
        for (int i = 0; i < clients; ++i)
            threads.emplace_back(runClient, server.port(), i, end, std::ref(results[i]));
        for (auto& thread : threads) thread.join();
        elapsedS = std::chrono::duration<double>(Clock::now() - start).count();
        rssAfter = rssKb(server.pid(), "VmRSS:");
        rssPeak = rssKb(server.pid(), "VmHWM:");
        std::this_thread::sleep_for(std::chrono::seconds(5));
        rssRested = rssKb(server.pid(), "VmRSS:");
        if (server.stop() != 0)
            std::fprintf(stderr, "soak_bench: the server did not stop cleanly\n");
    }

    // What the acknowledged posts imply, link by link, against what the database holds.
    long known = 0, unknown = 0, mismatches = 0;
    {
        tavrolin::server::SqliteConnection connection(database);
        for (int i = 0; i < clients; ++i) {
            std::map<std::int64_t, bool> stored;
            auto rows = connection.prepare(
                "SELECT VendorID FROM VendorEmployeeCrossReference WHERE EmployeeID = ?1");
            rows.bind(1, kFirstEmployee + i);
            while (rows.step()) stored[rows.columnInt(0)] = true;
            for (std::int64_t vendor = 1; vendor <= kActiveVendors + kInactiveVendors; ++vendor) {
                const auto it = results[i].links.find(vendor);
                const LinkState state =
                    it == results[i].links.end() ? LinkState::Absent : it->second;
                if (state == LinkState::Unknown) {
                    ++unknown;
                    continue;
                }
                ++known;
                if ((state == LinkState::Present) != stored.count(vendor)) ++mismatches;
            }
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);

    std::vector<double> latencies;
    long applied = 0, refused = 0, unanswered = 0, busy = 0, wrong = 0;
    for (const auto& r : results) {
        latencies.insert(latencies.end(), r.latenciesMs.begin(), r.latenciesMs.end());
        applied += r.applied;
        refused += r.refused;
        unanswered += r.unanswered;
        busy += r.busy;
        wrong += r.wrongAnswers;
    }
    const long posts = long(latencies.size());
    std::printf(
        "%-30s clients=%d seconds=%.1f posts=%ld applied=%ld refused=%ld busy=%ld unanswered=%ld\n",
        "soak posts", clients, elapsedS, posts, applied, refused, busy, unanswered);
    std::printf("%-30s %.1f posts/s\n", "soak throughput", double(posts) / elapsedS);
    std::printf("%-30s median=%.2f ms p99=%.2f ms max=%.2f ms\n", "soak latency",
                percentile(latencies, 0.5), percentile(latencies, 0.99),
                percentile(latencies, 1.0));
    std::printf("%-30s before=%.1f MB after=%.1f MB peak=%.1f MB after 5 s rest=%.1f MB\n",
                "soak server memory (RSS)", rssBefore / 1024.0, rssAfter / 1024.0, rssPeak / 1024.0,
                rssRested / 1024.0);
    std::printf("%-30s links known=%ld unknown=%ld mismatches=%ld wrong answers=%ld\n",
                "soak database check", known, unknown, mismatches, wrong);
    return mismatches == 0 && wrong == 0 ? 0 : 1;
}
