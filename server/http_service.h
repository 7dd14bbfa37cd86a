#pragma once

// The transport: connections, the worker pool and the HTTP framing, on top of cpp-httplib.
// Every request goes to the RequestHandler as it stands; nothing here knows the routes.

#include <httplib.h>

#include <string>

#include "request_handler.h"

namespace tavrolin::server {

class HttpService {
  public:
    HttpService(RequestHandler& handler, int workers);
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

    RequestHandler& mHandler;
    httplib::Server mServer;
};

}  // namespace tavrolin::server
