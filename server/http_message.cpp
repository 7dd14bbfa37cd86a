#include "http_message.h"

#include <strings.h>

namespace tavrolin::server {

std::optional<std::string_view> findHeader(const HeaderList& headers, std::string_view name) {
    for (const auto& [key, value] : headers)
        if (key.size() == name.size() && ::strncasecmp(key.data(), name.data(), name.size()) == 0)
            return value;
    return std::nullopt;
}

}  // namespace tavrolin::server
