#pragma once

// Request handling: routes, form decoding, the statement parser and the replies, apart from
// any transport. A transport reads a request off the wire into an HttpRequest, hands it to
// `handle` on a worker thread and writes the HttpResponse back; it never sees the database.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "access_log.h"
#include "document_cache.h"
#include "storage.h"

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
    HeaderList headers;
    // The transport closes the connection after sending this reply.
    bool closeConnection = false;
    // The user name the request signed in with, or tried to; for the log only, never sent.
    std::string user;

    std::size_t bodySize() const { return body ? body->size() : 0; }
};

struct PostReply {
    int status;
    std::string text;  // shown to the user by the control as it stands
};

// Checks, decodes, parses and applies one change post. Everything is refused before anything is
// written, or written in one transaction.
PostReply handleChangePost(LinkStorage& storage, std::string_view contentType,
                           std::string_view body);

// Splits a request target into its path and its decoded query parameters; false when the query
// is malformed.
bool splitTarget(std::string_view target, std::string& path,
                 std::vector<std::pair<std::string, std::string>>& query);

class Authenticator;

struct HandlerSettings {
    // When set, the vendor document and posts need Basic credentials of one of its users.
    const Authenticator* users = nullptr;
    // Origins ("scheme://host[:port]", normalized) whose web pages may post changes.
    std::vector<std::string> allowedOrigins;
    // Send the vendor document gzip-compressed to clients that accept it.
    bool compress = true;
};

class RequestHandler {
  public:
    explicit RequestHandler(LinkStorage& storage, HandlerSettings settings = {});

    HttpResponse handle(const HttpRequest& request);

    // Replies for requests the transport refuses before they are whole.
    HttpResponse tooLarge() const;        // a body over kMaxPostBytes
    HttpResponse unreadableBody() const;  // a body cut off or malformed in transfer

    // One line of the access log on stderr for a request and its reply.
    void logAccess(const HttpRequest& request, const HttpResponse& response) const;

  private:
    HttpResponse vendorDocument(const HttpRequest& request, std::int64_t employeeId);

    LinkStorage& mStorage;
    HandlerSettings mSettings;
    DocumentCache mCache;
};

}  // namespace tavrolin::server
