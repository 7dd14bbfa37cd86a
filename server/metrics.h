#pragma once

// The server's counters, for GET /metrics in the Prometheus text format. One registry per
// process; any layer adds to it without a lock, so counts stay exact with many workers at once.

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace tavrolin::server {

class Counter {
  public:
    void add(std::uint64_t amount = 1) { mValue.fetch_add(amount, std::memory_order_relaxed); }
    std::uint64_t value() const { return mValue.load(std::memory_order_relaxed); }

  private:
    std::atomic<std::uint64_t> mValue{0};
};

// Durations counted in fixed buckets.
class DurationHistogram {
  public:
    // Upper bounds in seconds; the document from the cache takes well under a millisecond, a
    // post of 32,767 inserts some seconds.
    static constexpr std::array<double, 14> kBounds{0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                    0.1,    0.25,  0.5,    1,     2.5,  5,     10};

    void observe(std::chrono::nanoseconds duration);
    // The "_bucket", "_sum" and "_count" lines of this histogram under `name`, with `labels`
    // ("route=\"post\"") before the bucket's own.
    void render(std::string& out, const std::string& name, const std::string& labels) const;

  private:
    std::array<std::atomic<std::uint64_t>, kBounds.size() + 1> mBuckets{};  // last: beyond all
    std::atomic<std::uint64_t> mSumNs{0};
};

// What a request was for, as the requests are counted.
enum class Route { Document, Post, Health, Metrics, Other };
inline constexpr std::size_t kRouteCount = 5;

class Metrics {
  public:
    Metrics() = default;
    Metrics(const Metrics&) = delete;
    Metrics& operator=(const Metrics&) = delete;

    // One request and the status of its reply; every request the server answers or cuts off.
    void countRequest(Route route, int status);
    std::uint64_t requests(Route route, int statusClass) const;

    DurationHistogram documentDuration;  // handling a vendor document request
    DurationHistogram postDuration;      // handling a change post, the transaction included
    Counter postsApplied;                // posts whose statements were committed
    Counter linkInserts;                 // insert statements in those posts
    Counter linkDeletes;                 // links named by their delete statements
    Counter linksCreated;                // links those posts actually created
    Counter linksRemoved;                // and removed
    Counter cacheHits;
    Counter cacheMisses;
    Counter databaseErrors;
    Counter databaseReconnects;
    Counter signInFailures;  // credentials given and not accepted
    Counter signInThrottled;

    // Read at each scrape; until set, those lines are left out. Any thread.
    void watchTransport(std::function<std::size_t()> openConnections,
                        std::function<std::size_t()> queuedRequests);

    // Everything in the text exposition format 0.0.4.
    std::string exposition() const;

  private:
    std::array<std::array<Counter, 5>, kRouteCount> mRequests;  // by route, by status class
    mutable std::mutex mWatchMutex;
    std::function<std::size_t()> mOpenConnections;
    std::function<std::size_t()> mQueuedRequests;
};

// The registry of this process.
Metrics& metrics();

// The Content-Type of the exposition.
inline constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

}  // namespace tavrolin::server
