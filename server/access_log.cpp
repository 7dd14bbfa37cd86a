#include "access_log.h"

#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>
#include <string_view>

namespace tavrolin::server {

namespace {

std::mutex gLogMutex;
std::string gPending;   // lines not yet handed to the system
bool gWriting = false;  // a thread is writing, and takes up whatever comes meanwhile

void writeAll(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const auto n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // nowhere to log to; the server goes on regardless
        done += std::size_t(n);
    }
}

thread_local std::string* tHeld = nullptr;  // the lines of this thread's LogBatch

// Lines that come while another thread writes go out with its next write, so under load many
// lines share one system call, and none waits for a timer.
void writeLines(std::string_view lines, bool endLine) {
    std::unique_lock lock(gLogMutex);
    gPending.append(lines);
    if (endLine) gPending.push_back('\n');
    if (gWriting) return;
    gWriting = true;
    std::string batch;
    while (!gPending.empty()) {
        batch.clear();
        batch.swap(gPending);
        lock.unlock();
        writeAll(batch);
        lock.lock();
    }
    gWriting = false;
}

}  // namespace

void logLine(const std::string& line) {
    if (tHeld) {
        tHeld->append(line).push_back('\n');
        return;
    }
    writeLines(line, true);
}

LogBatch::LogBatch() : mOwner(tHeld == nullptr) {
    if (mOwner) tHeld = &mLines;
}

LogBatch::~LogBatch() {
    if (!mOwner) return;
    tHeld = nullptr;
    if (!mLines.empty()) writeLines(mLines, false);
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
