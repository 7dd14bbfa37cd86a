#pragma once

// A client of the real server over a raw socket on 127.0.0.1, for tests and benchmarks that need
// every byte and every pause on the wire to be their own.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "link_posts.h"
#include "server_process.h"

namespace tavrolin::test {

// The default server arguments followed by `extra`.
inline std::vector<std::string> serverArguments(std::vector<std::string> extra) {
    auto arguments = ServerProcess::defaultArguments();
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

// The length of the first whole reply with a Content-Length at the start of `data`, or
// std::string::npos while it is not all there.
inline std::size_t wholeReplySize(const std::string& data) {
    const auto end = data.find("\r\n\r\n");
    if (end == std::string::npos) return std::string::npos;
    const auto at = data.find("Content-Length: ");
    const std::size_t length = at < end ? std::stoul(data.substr(at + 16)) : 0;
    return data.size() >= end + 4 + length ? end + 4 + length : std::string::npos;
}

// The status of a reply, or -1 when it does not start with one.
inline int statusOf(const std::string& reply) {
    if (reply.rfind("HTTP/1.1 ", 0) != 0 || reply.size() < 12) return -1;
    return std::stoi(reply.substr(9, 3));
}

// A form body of `statements` inserts linking vendor 77 to employees from `firstEmployee` on.
inline std::string insertBody(int statements, int firstEmployee) {
    std::string body;
    for (int i = 0; i < statements; ++i) body += formField(insertSql(firstEmployee + i, "77"));
    return body;
}

// A GET of `target` with `lines` (each ending in "\r\n") added to its header.
inline std::string getRequest(const std::string& target, const std::string& lines = {}) {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + lines + "\r\n";
}

// The header of a form post to the page; `lines` say how long its body is, and anything else.
inline std::string postHead(const std::string& lines) {
    return "POST /Tavrolin.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\n" +
           lines + "\r\n";
}

// A whole form post of `body`, with `lines` added to its header.
inline std::string formPost(const std::string& body, const std::string& lines = {}) {
    return postHead(lines + "Content-Length: " + std::to_string(body.size()) + "\r\n") + body;
}

// A client socket that reads and writes with deadlines, so that nothing waits forever.
class RawConnection {
  public:
    using Clock = std::chrono::steady_clock;

    // `noDelay` turns Nagle's algorithm off on the client side; left on, the client sends as
    // most clients do. `from` is the loopback address to connect from, such as 127.0.0.2 for a
    // second client; by default the system picks it.
    explicit RawConnection(int port, bool noDelay = true, const char* from = nullptr) {
        mFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (from) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            ::inet_pton(AF_INET, from, &local.sin_addr);
            ::bind(mFd, reinterpret_cast<sockaddr*>(&local), sizeof local);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(std::uint16_t(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        mConnected = ::connect(mFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (noDelay) {
            const int one = 1;
            ::setsockopt(mFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        }
    }
    ~RawConnection() {
        if (mFd >= 0) ::close(mFd);
    }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool connected() const { return mConnected; }
    // For a test that reads the socket itself, down to how the peer ended the connection.
    int fd() const { return mFd; }

    bool send(const std::string& data) {
        std::size_t sent = 0;
        while (sent < data.size()) {
            const auto n = ::send(mFd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += std::size_t(n);
        }
        return true;
    }

    // Readable within `timeout`, or the peer closed.
    bool readable(std::chrono::milliseconds timeout) const {
        pollfd poller{mFd, POLLIN, 0};
        return ::poll(&poller, 1, int(timeout.count())) > 0;
    }

    // Reads what arrives until the peer closes or `timeout` passes; `closed` tells which. With
    // `until`, reading also stops once the data ends with it.
    std::string readUntilClosed(std::chrono::milliseconds timeout, bool& closed,
                                std::string_view until = {}) {
        return readUntil(
            [&](const std::string& data) { return !until.empty() && data.ends_with(until); },
            timeout, closed);
    }

    // Whether the peer closes within `timeout` without sending anything (more).
    bool closesSilently(std::chrono::milliseconds timeout) {
        bool closed = false;
        return readUntilClosed(timeout, closed).empty() && closed;
    }

    // One whole reply with a Content-Length, or what came before `timeout`.
    std::string readReply(std::chrono::milliseconds timeout) {
        bool closed = false;
        return readUntil(
            [](const std::string& data) { return wholeReplySize(data) != std::string::npos; },
            timeout, closed);
    }

  private:
    template <typename Done>
    std::string readUntil(const Done& done, std::chrono::milliseconds timeout, bool& closed) {
        std::string data;
        closed = false;
        const auto deadline = Clock::now() + timeout;
        while (!done(data) && Clock::now() < deadline) {
            if (!readable(left(deadline))) continue;
            char chunk[65536];
            const auto n = ::recv(mFd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                closed = true;
                break;
            }
            data.append(chunk, std::size_t(n));
        }
        return data;
    }

    static std::chrono::milliseconds left(Clock::time_point deadline) {
        using namespace std::chrono_literals;
        return std::max(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()), 1ms);
    }

    int mFd = -1;
    bool mConnected = false;
};

// A reply as a client sees it.
struct Reply {
    int status = 0;                              // 0: no reply
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    bool closed = false;  // the server closed the connection after it

    std::string header(const std::string& name) const {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string("<none>") : it->second;
    }
};

// Sends `request` on a new connection (from the loopback address `from`, when given) and reads
// one reply; when that says "Connection: close", also whether the server then closes.
inline Reply exchange(int port, const std::string& request, const char* from = nullptr) {
    using namespace std::chrono_literals;
    Reply reply;
    RawConnection connection(port, true, from);
    if (!connection.connected() || !connection.send(request)) return reply;
    const auto data = connection.readReply(60s);
    const auto end = data.find("\r\n\r\n");
    reply.status = statusOf(data);
    if (reply.status < 0 || end == std::string::npos) return Reply{};
    for (auto at = data.find("\r\n"); at < end; at = data.find("\r\n", at + 2)) {
        const auto line = data.substr(at + 2, data.find("\r\n", at + 2) - at - 2);
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        auto name = line.substr(0, colon);
        for (auto& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
        reply.headers[name] =
            line.substr(std::min(line.find_first_not_of(' ', colon + 1), line.size()));
    }
    reply.body = data.substr(end + 4);
    if (reply.header("connection") == "close") connection.readUntilClosed(10s, reply.closed);
    return reply;
}

}  // namespace tavrolin::test
