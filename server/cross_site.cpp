#include "cross_site.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>

namespace tavrolin::server {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

}  // namespace

std::optional<std::string> normalizeOrigin(std::string_view url) {
    const auto separator = url.find("://");
    if (separator == std::string_view::npos) return std::nullopt;
    const auto scheme = lower(url.substr(0, separator));
    if (scheme != "http" && scheme != "https") return std::nullopt;
    std::string_view authority = url.substr(separator + 3);
    if (authority.ends_with('/')) authority.remove_suffix(1);
    if (authority.empty() || authority.find_first_of("/?#@ \t\\") != std::string_view::npos)
        return std::nullopt;
    std::string host = lower(authority);
    // An IPv6 literal has colons of its own inside its brackets.
    const auto close = host.rfind(']');
    const auto colon = host.rfind(':');
    if (colon != std::string::npos && (close == std::string::npos || colon > close)) {
        const auto port = host.substr(colon + 1);
        if (port.empty() || port.size() > 5 ||
            port.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        if ((scheme == "http" && port == "80") || (scheme == "https" && port == "443"))
            host.resize(colon);
    }
    if (host.empty() || host.front() == ':') return std::nullopt;
    return scheme + "://" + host;
}

bool isForeignPost(const HeaderList& headers, const std::vector<std::string>& allowedOrigins) {
    const auto origin = findHeader(headers, "Origin");
    const auto site = findHeader(headers, "Sec-Fetch-Site");
    const bool crossSite = site && lower(*site) == "cross-site";
    if (!origin && !crossSite) return false;
    // "null" (a sandboxed page or a local file) and anything unreadable match no allowed origin.
    const auto normalized = origin ? normalizeOrigin(*origin) : std::nullopt;
    return !normalized || std::find(allowedOrigins.begin(), allowedOrigins.end(), *normalized) ==
                              allowedOrigins.end();
}

bool isLoopbackAddress(const std::string& host) {
    if (host == "localhost") return true;
    in_addr v4{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (::inet_pton(AF_INET6, host.c_str(), &v6) != 1) return false;
    if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
    return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
}

bool isLocalRequest(const HttpRequest& request) {
    if (!isLoopbackAddress(request.remoteAddress)) return false;
    for (const char* proxied : {"Forwarded", "X-Forwarded-For", "X-Real-IP"})
        if (findHeader(request.headers, proxied)) return false;
    return true;
}

}  // namespace tavrolin::server
