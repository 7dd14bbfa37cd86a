#pragma once

// Where a request comes from: this machine, or a web page of another site. A browser always
// names the page's origin in an Origin header on a cross-site post (and marks it
// "Sec-Fetch-Site: cross-site"); the control sends neither, so such a post is refused unless the
// administrator allowed that origin.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http_message.h"

namespace tavrolin::server {

// "scheme://host[:port]" in lower case without the scheme's default port, from an origin or a
// URL with nothing after the host but an optional "/"; nullopt for anything else.
std::optional<std::string> normalizeOrigin(std::string_view url);

// True when a post with these headers came from a web page whose origin is not allowed.
bool isForeignPost(const HeaderList& headers, const std::vector<std::string>& allowedOrigins);

// True for "localhost" and addresses in 127.0.0.0/8, ::1 and ::ffff:127.0.0.0/104.
bool isLoopbackAddress(const std::string& host);

// True when the request was sent from this machine and not passed on by a proxy: a proxy on
// the same machine connects from a loopback address on behalf of clients anywhere.
bool isLocalRequest(const HttpRequest& request);

}  // namespace tavrolin::server
