#include "command_line.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <optional>

#include "cross_site.h"

namespace tavrolin::server {

const char* const kUsage =
    R"(usage: tavrolin-server [--db FILE|:memory:|URI] [--demo] [--listen HOST:PORT] [--workers N]
                       [--users FILE] [--allow-origin URL]... [--no-gzip]
                       [--tls-cert FILE --tls-key FILE] [transport limits below]
       tavrolin-server import-vendors [--db FILE|URI] FILE.csv
       tavrolin-server audit [--db FILE|URI] [--employee N] [--vendor N] [--user NAME]
                       [--since TIME] [--until TIME] [--format text|csv|json]
       tavrolin-server add-user --users FILE [--role viewer|editor|admin] NAME
       tavrolin-server remove-user --users FILE NAME
       tavrolin-server set-role --users FILE NAME viewer|editor|admin
       tavrolin-server --help

Serves GET /Tavrolin.asp?EmployeeID=n (the vendor document), POST /Tavrolin.asp (link changes),
GET /health and GET /metrics (Prometheus text format; from this machine only, or to admin users
with --users).

  --db FILE|URI     SQLite database, created with its tables when missing (default tavrolin.db);
                    :memory: keeps everything in memory for this run only. A PostgreSQL
                    connection URI (postgresql://USER@HOST/DATABASE?PARAMETERS, or
                    postgres://...) uses that database instead, creating the tables when
                    missing; several servers may share it. Prefer a password file or
                    PGPASSWORD to a password in the URI, which shows in the process list.
  --demo            seed sample vendors and employees when the database has no vendors
  --listen HOST:PORT  address to listen on (default 127.0.0.1:8080); port 0 picks a free port.
                    The first line of output is "listening on http://HOST:PORT".
  --workers N       request threads, each with its own database connection (default 8)
  --users FILE      require sign-in (HTTP Basic) as one of the users in FILE for the vendor
                    document, for posts and for /metrics; /health stays open. A viewer may only
                    load documents, an editor may also post, an admin may also read /metrics.
                    Without TLS the server then listens only on a loopback address, since
                    passwords would cross the network in clear. Changes to the file apply
                    within a second.
  --allow-origin URL  let web pages of this origin (scheme://host[:port]) post changes; posts
                    that carry an Origin header or "Sec-Fetch-Site: cross-site" are refused
                    with 403 otherwise. May be given more than once.
  --no-gzip         send the vendor document uncompressed even to clients that accept gzip
                    (for instance behind a proxy that compresses)

Transport:
  --tls-cert FILE --tls-key FILE
                    serve https with this certificate chain and private key (PEM); the first
                    line of output then reads "listening on https://HOST:PORT". Renewed
                    files are taken for new connections within a few seconds, and at once
                    on SIGHUP; a pair that does not load is logged and the old one kept.
  --header-timeout SECONDS
                    the whole request header must arrive within this time (default 10)
  --idle-timeout SECONDS
                    a kept-alive connection without a request is closed after this (default 5)
  --min-body-rate BYTES
                    after a grace of the header timeout, a request body must arrive at this
                    many bytes per second in every 3 seconds, and a reply be taken up at this
                    rate on average (default 1024)
  --max-body-memory MB
                    request bodies being received or waiting for a worker hold this much
                    memory at most together; a body beyond it gets 503 with Retry-After
                    (default 256)
  --max-connections N
                    open connections at most; more are closed at once (default 4096)
  --max-connections-per-client N
                    open connections from one client address (IPv6: one /64) at most; more
                    are closed at once (default 128). Behind a reverse proxy on this machine
                    every connection comes from it: raise this to --max-connections there.
  --allow-host NAME answer only requests whose Host is NAME (with or without a port), others
                    get 421; may be given more than once. Without it a loopback listener
                    answers only to localhost, 127.0.0.1, [::1] and its own address (so that
                    no web page can reach it through a name of its own), any other listener
                    to any name.
  --queue-limit N   requests that may wait for a busy worker; beyond them the reply is
                    503 with Retry-After (default 64)

import-vendors adds or updates vendors from a CSV file with the header id,name,active; a file
with any bad line changes nothing. The vendors it adds, renames, activates or deactivates go to
the audit trail in the name of the operating-system user that runs it.
audit prints the audit trail, newest first: every link a post created or removed, with the
signed-in user (empty without --users) and the client's address, and every vendor an import
changed. --employee, --vendor and --user select rows; --since TIME and --until TIME keep those
at or after and before TIME, given as YYYY-MM-DD[ HH:MM[:SS[.mmm]]] in UTC. --format csv writes
a header line and one record per row, --format json one JSON object per line. It may run while
servers use the database. Any command or server of this release adds the trail to a database
of the earlier layout when it opens it.
add-user reads NAME's password from standard input (without echo on a terminal) and adds the
user to FILE or replaces the user's password; a new user is an editor unless --role says
otherwise, a user already in FILE keeps their role. remove-user takes the user out, set-role
changes the role. FILE is written with mode 0600.
)";

namespace {

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
    if (arg == "--max-connections-per-client")
        return value(text) && parseCount(text, limits.maxConnectionsPerClient, 1, 1000000)
                   ? 0
                   : fail("a number from 1 to 1000000");
    if (arg == "--max-body-memory") {
        std::size_t megabytes = 0;
        if (!value(text) || !parseCount(text, megabytes, 1, 1000000))
            return fail("megabytes, from 1 to 1000000");
        limits.maxBodyMemory = megabytes * 1024 * 1024;
        return 0;
    }
    if (arg == "--allow-host") {
        const bool valid =
            value(text) && !text.empty() && std::none_of(text.begin(), text.end(), [](char c) {
                return static_cast<unsigned char>(c) <= ' ' || c == 0x7f || c == '/' || c == ',';
            });
        if (!valid) return fail("a host name such as tavrolin.example.com");
        limits.allowedHosts.push_back(text);
        return 0;
    }
    if (arg == "--queue-limit")
        return value(text) && parseCount(text, limits.queueLimit, 0, 100000)
                   ? 0
                   : fail("a number from 0 to 100000");
    return -1;
}

// The audit command's options, as parseTransportOption does it.
template <class Value>
int parseAuditOption(const std::string& arg, Value value, Options& options) {
    std::string text;
    auto& filter = options.auditFilter;
    auto fail = [&](const char* what) {
        std::cerr << "tavrolin-server: " << arg << " takes " << what << "\n";
        return 1;
    };
    const auto id = [&](std::optional<std::int64_t>& out, std::int64_t low, std::int64_t high) {
        std::int64_t number = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (text.empty() || ec != std::errc() || end != text.data() + text.size() || number < low ||
            number > high)
            return false;
        out = number;
        return true;
    };
    const auto time = [&](std::string& out) {
        const auto normalized = normalizeAuditTime(text);
        if (normalized) out = *normalized;
        return normalized.has_value();
    };
    if (arg == "--employee")
        return value(text) && id(filter.employeeId, INT32_MIN, INT32_MAX) ? 0
                                                                          : fail("an employee ID");
    if (arg == "--vendor")
        return value(text) && id(filter.vendorId, INT64_MIN, INT64_MAX) ? 0 : fail("a vendor ID");
    if (arg == "--user") {
        if (!value(text)) return fail("a user name");
        filter.user = text;
        return 0;
    }
    if (arg == "--since" || arg == "--until")
        return value(text) && time(arg == "--since" ? filter.since : filter.until)
                   ? 0
                   : fail("a time YYYY-MM-DD[ HH:MM[:SS[.mmm]]] (UTC)");
    if (arg == "--format") {
        if (!value(text) || (text != "text" && text != "csv" && text != "json"))
            return fail("text, csv or json");
        options.auditFormat = text;
        return 0;
    }
    return -1;
}

}  // namespace

int parseArguments(int argc, char** argv, Options& options) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool auditOptions = false;
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
        } else if (arg == "--users") {
            if (!value(options.usersFile)) return 1;
        } else if (arg == "--no-gzip") {
            options.compress = false;
        } else if (arg == "--allow-origin") {
            const auto origin = value(text) ? normalizeOrigin(text) : std::nullopt;
            if (!origin) {
                std::cerr << "tavrolin-server: --allow-origin takes an origin such as "
                             "https://intranet.example.com\n";
                return 1;
            }
            options.allowedOrigins.push_back(*origin);
        } else if (const int audit = parseAuditOption(arg, value, options); audit >= 0) {
            if (audit > 0) return audit;
            auditOptions = true;
        } else if (arg == "audit" && !options.audit && !options.import &&
                   options.userCommand.empty()) {
            options.audit = true;
        } else if ((arg == "add-user" || arg == "remove-user" || arg == "set-role") &&
                   options.userCommand.empty() && !options.import && !options.audit) {
            options.userCommand = arg;
        } else if (!options.userCommand.empty() && options.userName.empty() &&
                   !arg.starts_with("-")) {
            options.userName = arg;
        } else if ((arg == "--role" && options.userCommand == "add-user") ||
                   (options.userCommand == "set-role" && !options.userName.empty() &&
                    !options.role && !arg.starts_with("-"))) {
            const bool given = arg != "--role" || value(text);
            options.role = parseRole(arg == "--role" ? text : arg);
            if (!given || !options.role) {
                std::cerr << "tavrolin-server: a role is viewer, editor or admin\n";
                return 1;
            }
        } else if (arg == "import-vendors" && !options.import && options.userCommand.empty() &&
                   !options.audit) {
            options.import = true;
        } else if (options.import && options.importFile.empty() && !arg.starts_with("-")) {
            options.importFile = arg;
        } else {
            std::cerr << "tavrolin-server: unknown argument " << arg << "\n";
            return 1;
        }
    }
    if (auditOptions && !options.audit) {
        std::cerr << "tavrolin-server: --employee, --vendor, --user, --since, --until and "
                     "--format go with audit\n";
        return 1;
    }
    if (options.tlsCertificate.empty() != options.tlsKey.empty()) {
        std::cerr << "tavrolin-server: --tls-cert and --tls-key go together\n";
        return 1;
    }
    return 0;
}

}  // namespace tavrolin::server
