#pragma once

// The server's log on stderr. Anything a client sent goes through escapeLogText first, so a
// request can never forge a line or drive the terminal that shows the log.

#include <string>
#include <string_view>

namespace tavrolin::server {

// Writes one line to stderr; lines from several threads never interleave.
void logLine(const std::string& line);

// While one lives, the lines this thread logs are held and go out together, in one write,
// when it ends: for the replies of one round of I/O, which then cost one system call.
class LogBatch {
  public:
    LogBatch();
    ~LogBatch();
    LogBatch(const LogBatch&) = delete;
    LogBatch& operator=(const LogBatch&) = delete;

  private:
    bool mOwner;
    std::string mLines;
};

// `text` with every control byte (below 0x20 and 0x7f) and every byte from 0x80 up written as
// \xNN, and a quote or backslash preceded by a backslash; printable ASCII stays as it is.
std::string escapeLogText(std::string_view text);

}  // namespace tavrolin::server
