#pragma once

// The transport: connections, TLS, deadlines, limits and the HTTP/1.1 framing, event-driven on
// Boost.Beast and Boost.Asio. A few I/O threads carry every connection; a complete request goes
// to the RequestHandler on a bounded worker pool, since handling may wait on the database.
// Nothing here knows the routes.

#include <chrono>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "request_sink.h"

namespace tavrolin::server {

struct TransportLimits {
    // The whole request header, from its first byte, must arrive within this time.
    std::chrono::milliseconds headerTimeout{10000};
    // A kept-alive connection with no request under way is closed after this time.
    std::chrono::milliseconds idleTimeout{5000};
    // After a grace of `headerTimeout`, a body must keep arriving at this many bytes per second
    // in every few seconds, not only on average; replies must be taken up at the same rate.
    std::size_t minBodyRate = 1024;
    // The bytes that all request bodies being received or waiting for a worker may hold
    // together; a body that would pass it gets 503 with Retry-After at once.
    std::size_t maxBodyMemory = std::size_t(256) * 1024 * 1024;
    // Connections beyond this many are closed as soon as they are accepted.
    std::size_t maxConnections = 4096;
    // Connections from one client address (an IPv6 client by its /64) beyond this many are
    // closed as soon as they are accepted, so that one client cannot take every slot.
    std::size_t maxConnectionsPerClient = 128;
    // Complete requests that may wait for a busy worker; beyond them the reply is 503.
    std::size_t queueLimit = 64;
    // A request line and headers larger than this get 431.
    std::size_t maxHeaderBytes = 64 * 1024;
    // Host names (lower case, optionally with ":port") that requests may name in Host; others
    // get 421. Empty: a loopback listener takes only its own address, "localhost",
    // "127.0.0.1" and "[::1]", any other listener any name.
    std::vector<std::string> allowedHosts;
};

class HttpService {
  public:
    HttpService(RequestSink& handler, int workers, TransportLimits limits = {});
    ~HttpService();
    HttpService(const HttpService&) = delete;
    HttpService& operator=(const HttpService&) = delete;

    // Serves https with this certificate chain and key (PEM files) instead of http; returns an
    // error text, empty when the files were taken. Call before `serve()`. While serving, a
    // replaced pair is taken for new connections within a few seconds; a pair that does not
    // load is logged once and the one before kept.
    std::string useTls(const std::string& certificateFile, const std::string& keyFile);
    bool usesTls() const;

    // Binds to `host`:`port` (0 picks a free port); returns the port, or -1.
    int bind(const std::string& host, int port);
    // Serves until `stop()`; returns after the running requests have been answered.
    bool serve();
    // May be called from any thread, also before `serve()` runs.
    void stop();
    // Stops the service when one of these signals arrives, also one that arrives before
    // `serve()` runs. Call before `serve()`.
    void stopOnSignals(std::initializer_list<int> signalNumbers);
    // Reads the certificate and key again at once when one of these signals arrives (and
    // otherwise ignores it, so it never ends the process). Call before `serve()`.
    void reloadOnSignals(std::initializer_list<int> signalNumbers);
    // For tests: called at each thread boundary ("io", "worker", "reply") with its name, so a
    // test can make it throw there.
    void setFaultHook(std::function<void(const char* where)> hook);
    bool isRunning() const;
    // For the metrics; any thread.
    std::size_t openConnections() const;
    std::size_t queuedRequests() const;

    // Defined in the source only; public so that the connection classes there may name it.
    struct Impl;

  private:
    std::unique_ptr<Impl> mImpl;
};

// Raises the soft limit on open files to the hard limit and says on stderr when that is still
// too low for `connections` connections besides the server's own files.
void raiseOpenFileLimit(std::size_t connections);

}  // namespace tavrolin::server
