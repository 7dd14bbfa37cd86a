#include "access_log.h"

#include <cstdio>
#include <mutex>

namespace tavrolin::server {

namespace {
std::mutex gLogMutex;
}  // namespace

void logLine(const std::string& line) {
    std::lock_guard lock(gLogMutex);
    std::fputs(line.c_str(), stderr);
    std::fputc('\n', stderr);
}

std::string escapeLogText(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        // Bytes from 0x80 up are escaped too: a terminal may take them as C1 controls.
        if (byte < 0x20 || byte >= 0x7f) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xf];
        } else {
            if (c == '"' || c == '\\') out += '\\';
            out += c;
        }
    }
    return out;
}

}  // namespace tavrolin::server
