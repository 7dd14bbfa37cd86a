#pragma once

// gzip for replies: whether a request takes it, and the compression itself (zlib).

#include <string>
#include <string_view>

namespace tavrolin::server {

// True when an Accept-Encoding value accepts gzip: "gzip" (or "x-gzip") listed with a
// q-value above 0, or "*" above 0 when gzip is not listed itself. An element whose q-value is
// malformed accepts nothing.
bool acceptsGzip(std::string_view acceptEncoding);

// `data` as one gzip member. Throws std::runtime_error when zlib fails (out of memory).
std::string gzipCompress(std::string_view data);

}  // namespace tavrolin::server
