#pragma once

// The HTTP face of the server: the vendor document page, the change post, /health and the
// access log, on top of cpp-httplib.

#include <httplib.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "database.h"
#include "document_cache.h"

namespace tavrolin::server {

// Fits the largest change set the control can send: 32,767 encoded INSERT statements of about
// 160 bytes each.
inline constexpr std::size_t kMaxPostBytes = 8 * 1024 * 1024;

struct PostReply {
    int status;
    std::string text;  // shown to the user by the control as it stands
};

// Checks, decodes, parses and applies one change post. Everything is refused before anything is
// written, or written in one transaction.
PostReply handleChangePost(ConnectionPool& pool, std::string_view contentType,
                           std::string_view body);

class HttpService {
  public:
    HttpService(ConnectionPool& pool, int workers);
    ~HttpService();
    HttpService(const HttpService&) = delete;
    HttpService& operator=(const HttpService&) = delete;

    // Binds to `host`:`port` (0 picks a free port); returns the port, or -1.
    int bind(const std::string& host, int port);
    // Serves until `stop()`; returns after the running requests have finished.
    bool serve();
    void stop();
    bool isRunning() const;

  private:
    void routes();

    ConnectionPool& mPool;
    DocumentCache mCache;
    httplib::Server mServer;
};

}  // namespace tavrolin::server
