// tavrolin-server: serves the vendor document page and takes the control's change posts.

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "http_service.h"
#include "request_handler.h"
#include "storage.h"
#include "vendor_import.h"

using namespace tavrolin::server;

namespace {

constexpr const char* kUsage =
    R"(usage: tavrolin-server [--db FILE|:memory:] [--demo] [--listen HOST:PORT] [--workers N]
                       [--tls-cert FILE --tls-key FILE] [transport limits below]
       tavrolin-server import-vendors [--db FILE] FILE.csv
       tavrolin-server --help

Serves GET /Tavrolin.asp?EmployeeID=n (the vendor document), POST /Tavrolin.asp (link changes)
and GET /health.

  --db FILE         SQLite database, created with its tables when missing (default tavrolin.db);
                    :memory: keeps everything in memory for this run only
  --demo            seed sample vendors and employees when the database has no vendors
  --listen HOST:PORT  address to listen on (default 127.0.0.1:8080); port 0 picks a free port.
                    The first line of output is "listening on http://HOST:PORT".
  --workers N       request threads, each with its own database connection (default 8)

Transport:
  --tls-cert FILE --tls-key FILE
                    serve https with this certificate chain and private key (PEM); the first
                    line of output then reads "listening on https://HOST:PORT"
  --header-timeout SECONDS
                    the whole request header must arrive within this time (default 10)
  --idle-timeout SECONDS
                    a kept-alive connection without a request is closed after this (default 5)
  --min-body-rate BYTES
                    after a grace of the header timeout, a request body must arrive, and a
                    reply be taken up, at this many bytes per second on average (default 1024)
  --max-connections N
                    open connections at most; more are closed at once (default 4096)
  --queue-limit N   requests that may wait for a busy worker; beyond them the reply is
                    503 with Retry-After (default 64)

import-vendors adds or updates vendors from a CSV file with the header id,name,active; a file
with any bad line changes nothing.
)";

struct Options {
    std::string database = "tavrolin.db";
    bool demo = false;
    std::string host = "127.0.0.1";
    int port = 8080;
    int workers = 8;
    std::string importFile;
    bool import = false;
    TransportLimits limits;
    std::string tlsCertificate;
    std::string tlsKey;
};

bool parsePort(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(text);
    return port <= 65535;
}

bool parseListen(const std::string& text, Options& options) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    options.host = host;
    return parsePort(text.substr(colon + 1), options.port);
}

bool parseSeconds(const std::string& text, std::chrono::milliseconds& out) {
    double seconds = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !(seconds > 0) ||
        seconds > 86400)
        return false;
    out = std::chrono::milliseconds(std::max<long long>(1, std::llround(seconds * 1000)));
    return true;
}

bool parseCount(const std::string& text, std::size_t& out, std::size_t low, std::size_t high) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size() && out >= low &&
           out <= high;
}

// The transport's options: 1 when `arg` is one of them but its value is bad, 0 when taken,
// -1 when `arg` is not one of them.
template <class Value>
int parseTransportOption(const std::string& arg, Value value, Options& options) {
    std::string text;
    auto& limits = options.limits;
    auto fail = [&](const char* what) {
        std::cerr << "tavrolin-server: " << arg << " takes " << what << "\n";
        return 1;
    };
    if (arg == "--tls-cert") return value(options.tlsCertificate) ? 0 : fail("a file");
    if (arg == "--tls-key") return value(options.tlsKey) ? 0 : fail("a file");
    if (arg == "--header-timeout")
        return value(text) && parseSeconds(text, limits.headerTimeout) ? 0 : fail("seconds");
    if (arg == "--idle-timeout")
        return value(text) && parseSeconds(text, limits.idleTimeout) ? 0 : fail("seconds");
    if (arg == "--min-body-rate")
        return value(text) && parseCount(text, limits.minBodyRate, 1, std::size_t(1) << 40)
                   ? 0
                   : fail("bytes per second, at least 1");
    if (arg == "--max-connections")
        return value(text) && parseCount(text, limits.maxConnections, 1, 1000000)
                   ? 0
                   : fail("a number from 1 to 1000000");
    if (arg == "--queue-limit")
        return value(text) && parseCount(text, limits.queueLimit, 0, 100000)
                   ? 0
                   : fail("a number from 0 to 100000");
    return -1;
}

// Returns 0 to go on, otherwise the exit status (1 for bad usage, -1 for --help).
int parseArguments(int argc, char** argv, Options& options) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto& arg = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string text;
        if (const int transport = parseTransportOption(arg, value, options); transport >= 0) {
            if (transport > 0) return transport;
        } else if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return -1;
        } else if (arg == "--db") {
            if (!value(options.database)) return 1;
        } else if (arg == "--demo") {
            options.demo = true;
        } else if (arg == "--listen") {
            if (!value(text) || !parseListen(text, options)) {
                std::cerr << "tavrolin-server: --listen takes HOST:PORT\n";
                return 1;
            }
        } else if (arg == "--workers") {
            if (!value(text) || !parsePort(text, options.workers) || options.workers < 1 ||
                options.workers > 256) {
                std::cerr << "tavrolin-server: --workers takes a number from 1 to 256\n";
                return 1;
            }
        } else if (arg == "import-vendors" && !options.import) {
            options.import = true;
        } else if (options.import && options.importFile.empty() && !arg.starts_with("-")) {
            options.importFile = arg;
        } else {
            std::cerr << "tavrolin-server: unknown argument " << arg << "\n";
            return 1;
        }
    }
    if (options.tlsCertificate.empty() != options.tlsKey.empty()) {
        std::cerr << "tavrolin-server: --tls-cert and --tls-key go together\n";
        return 1;
    }
    return 0;
}

int runImport(const Options& options) {
    if (options.importFile.empty()) {
        std::cerr << "tavrolin-server: import-vendors needs a CSV file\n" << kUsage;
        return 1;
    }
    std::ifstream file(options.importFile, std::ios::binary);
    if (!file) {
        std::cerr << "tavrolin-server: cannot read " << options.importFile << "\n";
        return 1;
    }
    std::stringstream content;
    content << file.rdbuf();
    const auto csv = parseVendorCsv(content.str());
    if (!csv.errors.empty()) {
        for (const auto& error : csv.errors)
            std::cerr << options.importFile << ": " << error << "\n";
        std::cerr << "tavrolin-server: nothing was imported\n";
        return 1;
    }
    const auto storage = openStorage(options.database, 1);
    const auto count = storage->importVendors(csv.vendors);
    std::cout << "imported " << count << " vendors into " << storage->description() << "\n";
    return 0;
}

int runServer(const Options& options) {
    // Block the stop signals in every thread; one thread below waits for them, so a signal can
    // never interrupt a worker in the middle of a transaction.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const auto storage = openStorage(options.database, options.workers);
    if (options.demo && storage->seedDemoData()) std::cerr << "seeded demo data\n";

    RequestHandler handler(*storage);
    raiseOpenFileLimit(options.limits.maxConnections);
    HttpService service(handler, options.workers, options.limits);
    if (!options.tlsCertificate.empty()) {
        const auto error = service.useTls(options.tlsCertificate, options.tlsKey);
        if (!error.empty()) {
            std::cerr << "tavrolin-server: cannot use " << options.tlsCertificate << " and "
                      << options.tlsKey << " for TLS: " << error << "\n";
            return 1;
        }
    }
    const int port = service.bind(options.host, options.port);
    if (port < 0) {
        std::cerr << "tavrolin-server: cannot listen on " << options.host << ":" << options.port
                  << "\n";
        return 1;
    }
    const bool ipv6 = options.host.find(':') != std::string::npos;
    std::cout << (service.usesTls() ? "listening on https://" : "listening on http://")
              << (ipv6 ? "[" + options.host + "]" : options.host) << ":" << port << std::endl;

    std::atomic<bool> serving{true};
    std::thread signalWaiter([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        if (!serving) return;
        std::cerr << "stopping\n";
        // A signal that arrives before the accept loop runs would otherwise be lost.
        while (serving && !service.isRunning())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        service.stop();
    });
    const bool served = service.serve();
    serving = false;
    pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    return served ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int status = parseArguments(argc, argv, options);
    if (status == -1) return 0;
    if (status != 0) {
        std::cerr << kUsage;
        return status;
    }
    try {
        return options.import ? runImport(options) : runServer(options);
    } catch (const StorageError& error) {
        std::cerr << "tavrolin-server: " << error.what() << "\n";
        return 1;
    }
}
