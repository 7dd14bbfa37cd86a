#pragma once

// The server's log on stderr. Anything a client sent goes through escapeLogText first, so a
// request can never forge a line or drive the terminal that shows the log.

#include <string>
#include <string_view>

namespace tavrolin::server {

// Writes one line to stderr; lines from several threads never interleave.
void logLine(const std::string& line);

// `text` with every control byte (below 0x20 and 0x7f) and every byte from 0x80 up written as
// \xNN, and a quote or backslash preceded by a backslash; printable ASCII stays as it is.
std::string escapeLogText(std::string_view text);

}  // namespace tavrolin::server
