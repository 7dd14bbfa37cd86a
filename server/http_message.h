#pragma once

// The plain HTTP messages that pass between the transport and request handling, and the limits
// both sides agree on. Nothing here knows a socket, a route or a database.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavrolin::server {

// Fits the largest change set the control can send: 32,767 encoded INSERT statements of about
// 160 bytes each.
inline constexpr std::size_t kMaxPostBytes = 8 * 1024 * 1024;

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// The value of the first header named `name` (compared without regard to case).
std::optional<std::string_view> findHeader(const HeaderList& headers, std::string_view name);

struct HttpRequest {
    std::string method;  // "GET", "POST", ...
    std::string target;  // as received: path and query
    HeaderList headers;
    std::string body;
    std::string remoteAddress;  // for the log
};

struct HttpResponse {
    int status = 200;
    std::string contentType;
    // Shared so that a cached document goes out without a copy; null for an empty body.
    std::shared_ptr<const std::string> body;
    // A file holding exactly the bytes of `body`, open while `body` is held, which the
    // transport may send from without copying; -1 for none.
    int bodyFile = -1;
    HeaderList headers;
    // The transport closes the connection after sending this reply.
    bool closeConnection = false;
    // The user name the request signed in with, or tried to; for the log only, never sent.
    std::string user;

    std::size_t bodySize() const { return body ? body->size() : 0; }
};

}  // namespace tavrolin::server
