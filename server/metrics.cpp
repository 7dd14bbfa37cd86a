#include "metrics.h"

#include <algorithm>
#include <charconv>

#ifndef TAVROLIN_VERSION
#define TAVROLIN_VERSION "unknown"
#endif

namespace tavrolin::server {

namespace {

constexpr std::array<const char*, kRouteCount> kRouteNames{"document", "post", "health", "metrics",
                                                           "other"};
constexpr std::array<const char*, 5> kStatusClasses{"1xx", "2xx", "3xx", "4xx", "5xx"};

std::string number(double value) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    return ec == std::errc() ? std::string(text, end) : std::string("NaN");
}

void family(std::string& out, const char* name, const char* type, const char* help) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

void sample(std::string& out, const std::string& name, std::uint64_t value) {
    out += name + ' ' + std::to_string(value) + '\n';
}

void counter(std::string& out, const char* name, const char* help, const Counter& counter) {
    family(out, name, "counter", help);
    sample(out, name, counter.value());
}

}  // namespace

void DurationHistogram::observe(std::chrono::nanoseconds duration) {
    const double seconds = std::chrono::duration<double>(duration).count();
    std::size_t bucket = 0;
    while (bucket < kBounds.size() && seconds > kBounds[bucket]) ++bucket;
    mBuckets[bucket].fetch_add(1, std::memory_order_relaxed);
    mSumNs.fetch_add(std::uint64_t(std::max<std::int64_t>(0, duration.count())),
                     std::memory_order_relaxed);
}

void DurationHistogram::render(std::string& out, const std::string& name,
                               const std::string& labels) const {
    // The count is the sum of the buckets as read here, so a scrape during an observation
    // still shows a "+Inf" bucket equal to the count.
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i <= kBounds.size(); ++i) {
        cumulative += mBuckets[i].load(std::memory_order_relaxed);
        const auto bound = i < kBounds.size() ? number(kBounds[i]) : std::string("+Inf");
        sample(out, name + "_bucket{" + labels + ",le=\"" + bound + "\"}", cumulative);
    }
    const double sum = double(mSumNs.load(std::memory_order_relaxed)) / 1e9;
    out += name + "_sum{" + labels + "} " + number(sum) + '\n';
    sample(out, name + "_count{" + labels + "}", cumulative);
}

void Metrics::countRequest(Route route, int status) {
    const int statusClass = std::clamp(status / 100, 1, 5);
    mRequests[std::size_t(route)][std::size_t(statusClass - 1)].add();
}

std::uint64_t Metrics::requests(Route route, int statusClass) const {
    return mRequests[std::size_t(route)][std::size_t(std::clamp(statusClass, 1, 5) - 1)].value();
}

void Metrics::watchTransport(std::function<std::size_t()> openConnections,
                             std::function<std::size_t()> queuedRequests) {
    std::lock_guard lock(mWatchMutex);
    mOpenConnections = std::move(openConnections);
    mQueuedRequests = std::move(queuedRequests);
}

std::string Metrics::exposition() const {
    std::string out;
    out.reserve(8192);
    family(out, "tavrolin_build_info", "gauge", "The version of this server; always 1.");
    out += "tavrolin_build_info{version=\"" TAVROLIN_VERSION "\"} 1\n";

    family(out, "tavrolin_http_requests_total", "counter",
           "Requests answered or cut off, by route and status class.");
    for (std::size_t route = 0; route < kRouteCount; ++route)
        for (std::size_t status = 0; status < kStatusClasses.size(); ++status)
            sample(out,
                   std::string("tavrolin_http_requests_total{route=\"") + kRouteNames[route] +
                       "\",code=\"" + kStatusClasses[status] + "\"}",
                   mRequests[route][status].value());

    family(out, "tavrolin_request_duration_seconds", "histogram",
           "Time from a whole request to its reply, for the vendor document and change posts.");
    documentDuration.render(out, "tavrolin_request_duration_seconds", "route=\"document\"");
    postDuration.render(out, "tavrolin_request_duration_seconds", "route=\"post\"");

    counter(out, "tavrolin_posts_applied_total", "Change posts committed to the database.",
            postsApplied);
    family(out, "tavrolin_link_statements_total", "counter",
           "Links named by the statements of committed posts: inserts, and the vendors of "
           "deletes. A link that already existed or was already gone is counted too.");
    sample(out, "tavrolin_link_statements_total{kind=\"insert\"}", linkInserts.value());
    sample(out, "tavrolin_link_statements_total{kind=\"delete\"}", linkDeletes.value());
    family(out, "tavrolin_links_changed_total", "counter",
           "Links that committed posts actually created and removed, by their net effect.");
    sample(out, "tavrolin_links_changed_total{change=\"created\"}", linksCreated.value());
    sample(out, "tavrolin_links_changed_total{change=\"removed\"}", linksRemoved.value());
    counter(out, "tavrolin_document_cache_hits_total", "Vendor documents served from the cache.",
            cacheHits);
    counter(out, "tavrolin_document_cache_misses_total", "Vendor documents read from the database.",
            cacheMisses);
    counter(out, "tavrolin_database_errors_total",
            "Requests that failed on a database error (503 or 500).", databaseErrors);
    counter(out, "tavrolin_database_reconnects_total",
            "Database connections found broken and opened again.", databaseReconnects);
    counter(out, "tavrolin_sign_in_failures_total",
            "Requests whose user name and password were not accepted.", signInFailures);
    counter(out, "tavrolin_sign_in_throttled_total",
            "Sign-in attempts refused because the client tried too often.", signInThrottled);

    std::function<std::size_t()> openConnections, queuedRequests;
    {
        std::lock_guard lock(mWatchMutex);
        openConnections = mOpenConnections;
        queuedRequests = mQueuedRequests;
    }
    if (openConnections) {
        family(out, "tavrolin_open_connections", "gauge", "Client connections open now.");
        sample(out, "tavrolin_open_connections", openConnections());
    }
    if (queuedRequests) {
        family(out, "tavrolin_queued_requests", "gauge",
               "Whole requests waiting for a free worker now.");
        sample(out, "tavrolin_queued_requests", queuedRequests());
    }
    return out;
}

Metrics& metrics() {
    static Metrics registry;
    return registry;
}

}  // namespace tavrolin::server
