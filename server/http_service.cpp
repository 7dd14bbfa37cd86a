#include "http_service.h"

#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cstdint>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "access_log.h"
#include "tls_stream.h"
#include "worker_pool.h"

namespace tavrolin::server {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using beast::error_code;

namespace {

constexpr const char* kPlainText = "text/plain; charset=utf-8";
// After a reply that closes the connection, what the client is still sending is read and
// thrown away for a while: closing with unread data would reset the connection and could take
// the reply with it before the client reads it.
constexpr std::size_t kLingerBytes = 2 * kMaxPostBytes;
constexpr auto kLingerTime = std::chrono::seconds(2);
// How long a TLS close_notify may take to go out when the service stops.
constexpr auto kCloseNotifyTime = std::chrono::seconds(1);
// After the grace, every window of this length must bring `minBodyRate` bytes per second of
// it: a rate averaged since the start would let a client that sends most of a body at once
// hold it for hours.
constexpr auto kBodyRateWindow = std::chrono::seconds(3);
// A chunked body is charged against the memory limit in steps of at least this size.
constexpr std::size_t kBodyChargeStep = 64 * 1024;
// How often the certificate and key files are looked at for a renewal.
constexpr auto kCertificateRecheck = std::chrono::seconds(1);
// Memory freed after a burst of large bodies goes back to the system at this pace.
constexpr auto kTrimInterval = std::chrono::seconds(5);
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);
constexpr std::size_t kFirstRead = 1024;
// The most plaintext one TLS record carries.
constexpr std::size_t kTlsRecord = 16 * 1024;
constexpr std::size_t kBodyReadSize = 64 * 1024;
// How much of the request line of a refused request goes to the log.
constexpr std::size_t kLoggedTarget = 2048;

HttpResponse ownResponse(int status, const char* text, bool close) {
    HttpResponse response;
    response.status = status;
    response.contentType = kPlainText;
    response.body = std::make_shared<const std::string>(text);
    response.closeConnection = close;
    return response;
}

HttpResponse failedResponse() {
    return ownResponse(500, "The request failed on the server.", false);
}

HttpResponse busyResponse(bool close = false) {
    auto response = ownResponse(503, "The server is busy. Please try again.", close);
    response.headers.emplace_back("Retry-After", "1");
    return response;
}

HttpResponse badFraming() {
    return ownResponse(400, "The request was refused.", true);
}

// Lower-case ASCII, as host names and codings compare.
std::string lowerCase(std::string_view text) {
    std::string out(text);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The body length of a request must be known for certain: where the transport and a proxy
// in front of it could read it differently, a second request could hide in the body. So a
// Transfer-Encoding must end in "chunked" (400 otherwise), and "chunked" is the only coding
// the server undoes (501 for any other).
std::optional<HttpResponse> framingRefusal(const http::request_header<>& header) {
    std::vector<std::string> codings;
    bool named = false;
    for (const auto& field : header) {
        if (field.name() != http::field::transfer_encoding) continue;
        named = true;
        const auto value = field.value();
        std::string_view rest(value.data(), value.size());
        while (!rest.empty()) {
            const auto comma = rest.find(',');
            auto element = trimmed(rest.substr(0, comma));
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            element = trimmed(element.substr(0, element.find(';')));
            if (!element.empty()) codings.push_back(lowerCase(element));
        }
    }
    if (!named) return std::nullopt;
    // An HTTP/1.0 peer cannot know chunked framing, nor a length beside it be trusted.
    if (codings.empty() || codings.back() != "chunked" || header.version() < 11 ||
        header.count(http::field::content_length) > 0)
        return badFraming();
    if (codings.size() > 1) {
        const bool twice = std::count(codings.begin(), codings.end(), "chunked") > 1;
        return twice ? badFraming()
                     : ownResponse(501, "The request's transfer coding is not supported.", true);
    }
    return std::nullopt;
}

// The host part of a Host value: "name", "1.2.3.4" or "[v6]", without ":port".
std::string_view hostPart(std::string_view value) {
    if (value.starts_with("[")) return value.substr(0, value.find(']') + 1);
    const auto colon = value.find(':');
    return colon != std::string_view::npos && value.find(':', colon + 1) == std::string_view::npos
               ? value.substr(0, colon)
               : value;
}

// A request names exactly one Host (HTTP/1.0 may name none); where the names are limited, a
// page of another site whose name was pointed at this address (DNS rebinding) gets 421.
std::optional<HttpResponse> hostRefusal(const http::request_header<>& header,
                                        const std::vector<std::string>& allowed) {
    const auto count = header.count(http::field::host);
    if (count > 1 || (count == 0 && header.version() >= 11)) return badFraming();
    if (count == 0 || allowed.empty()) return std::nullopt;
    const auto field = header[http::field::host];
    const auto value = lowerCase(trimmed(std::string_view(field.data(), field.size())));
    const auto host = hostPart(value);
    const auto port = std::string_view(value).substr(host.size());
    if (!port.empty() &&
        (port.size() < 2 || port.find_first_not_of("0123456789", 1) != std::string_view::npos))
        return badFraming();
    for (const auto& name : allowed)
        if (name == value || name == host) return std::nullopt;
    return ownResponse(421, "This server does not answer for that host name.", true);
}

// Connections are counted per client: an IPv4 address, or the /64 of an IPv6 one, which a
// single subscriber usually holds whole.
std::string clientKey(const asio::ip::address& address) {
    if (address.is_v4()) return address.to_string();
    auto v6 = address.to_v6();
    if (v6.is_v4_mapped()) return asio::ip::make_address_v4(asio::ip::v4_mapped, v6).to_string();
    auto bytes = v6.to_bytes();
    std::fill(bytes.begin() + 8, bytes.end(), 0);
    return asio::ip::address_v6(bytes).to_string() + "/64";
}

bool isLoopback(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).is_loopback();
    return address.is_loopback();
}

// What tells a replaced file from the one read before: a renewal renames a new file into
// place, or rewrites it.
struct FileStamp {
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t modifiedNs = -1;
    bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return {};
    return {std::uint64_t(status.st_dev), std::uint64_t(status.st_ino),
            std::uint64_t(status.st_size),
            std::int64_t(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

// A server context with this certificate chain and key, or null and `error` set.
std::shared_ptr<ssl::context> loadTls(const std::string& certificateFile,
                                      const std::string& keyFile, std::string& error) {
    try {
        auto context = std::make_shared<ssl::context>(ssl::context::tls_server);
        context->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                             ssl::context::no_sslv3 | ssl::context::no_tlsv1 |
                             ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
        context->use_certificate_chain_file(certificateFile);
        context->use_private_key_file(keyFile, ssl::context::pem);
        if (SSL_CTX_check_private_key(context->native_handle()) != 1) {
            error = "the key does not belong to the certificate";
            return nullptr;
        }
        return context;
    } catch (const boost::system::system_error& failure) {
        error = failure.what();
        return nullptr;
    }
}

// Header values from the handler never end a header line early.
std::string oneLine(std::string_view text) {
    std::string line(text);
    line.erase(
        std::remove_if(line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }),
        line.end());
    return line;
}

std::string headerBlock(const HttpResponse& response, bool close, bool http10) {
    std::string reason(http::obsolete_reason(http::int_to_status(unsigned(response.status))));
    if (reason.starts_with("<")) reason = "Unknown";
    std::string text = "HTTP/1.1 " + std::to_string(response.status) + " " + reason + "\r\n";
    if (!response.contentType.empty())
        text += "Content-Type: " + oneLine(response.contentType) + "\r\n";
    text += "Content-Length: " + std::to_string(response.bodySize()) + "\r\n";
    for (const auto& [name, value] : response.headers)
        text += oneLine(name) + ": " + oneLine(value) + "\r\n";
    if (close)
        text += "Connection: close\r\n";
    else if (http10)
        text += "Connection: keep-alive\r\n";
    text += "\r\n";
    return text;
}

bool isParseError(const error_code& ec) {
    static const auto& category = http::make_error_code(http::error::bad_method).category();
    return ec.category() == category && ec != http::error::end_of_stream &&
           ec != http::error::partial_message;
}

}  // namespace

class SessionBase {
  public:
    virtual ~SessionBase() = default;
    // Closes the connection unless a request on it is being answered; any thread.
    virtual void stop() = 0;
    // Answers or hands on the whole request waiting in a round; on the connection's thread.
    // True when the request waits on for the round's look taken later, on a worker.
    virtual bool answerInRound(AtOnceRound&) { return false; }
    // Closes the connection at once; on its thread.
    virtual void abandon() {}
};

struct HttpService::Impl {
    Impl(RequestSink& handler, int workers, TransportLimits limits)
        : handler(handler), limits(limits), pool(std::size_t(workers), limits.queueLimit) {
        // A fixed threshold keeps large bodies in mappings of their own, which go back to the
        // system when freed; glibc would otherwise raise it after the first such body.
        mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    }

    static std::vector<std::unique_ptr<asio::io_context>> makeContexts() {
        // Two I/O threads keep both cores of a small machine sending; more only add switching.
        const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 2u);
        std::vector<std::unique_ptr<asio::io_context>> made;
        for (unsigned i = 0; i < threads; ++i)
            made.push_back(std::make_unique<asio::io_context>(1));
        return made;
    }
    void accept();
    void onAccept(error_code ec, tcp::socket socket);
    void trimLater();
    void awaitSignal();
    void watchCertificates();
    // Loads the certificate and key again when their files changed, or in any case when
    // `always`; a pair that does not load is logged and the one before kept.
    void reloadTls(bool always);
    void shutDown();
    // Runs the I/O context until it runs out of work; an exception that escapes a handler is
    // logged and the loop goes on, so one bad handler cannot end the process.
    void runIo(asio::io_context& context);
    // Where a test makes a thread boundary throw; empty in service.
    void fault(const char* where) const {
        if (faultHook) faultHook(where);
    }

    // Whole requests wait for the round of their I/O context, which starts once the handlers
    // ready before it have run: the requests they completed share one check of what answering
    // at once depends on, made after all of them arrived.
    void joinRound(asio::io_context& context, std::shared_ptr<SessionBase> session) {
        const auto index =
            std::size_t(std::find_if(contexts.begin(), contexts.end(),
                                     [&](const auto& each) { return each.get() == &context; }) -
                        contexts.begin());
        auto& waiting = rounds[index];
        waiting.push_back(std::move(session));
        if (waiting.size() == 1) asio::post(context, [this, index] { runRound(index); });
    }
    void runRound(std::size_t index) {
        std::vector<std::shared_ptr<SessionBase>> waiting;
        waiting.swap(rounds[index]);
        const LogBatch lines;
        auto later = answerRound(waiting, AtOnceRound{});
        if (later.empty()) return;
        {
            std::lock_guard lock(lookMutex);
            for (auto& session : later) awaitingLook.emplace_back(index, std::move(session));
            if (lookUnderWay) return;
            lookUnderWay = true;
        }
        // The contexts keep running while their sessions wait for the worker.
        auto held = std::make_shared<ContextGuards>();
        for (auto& context : contexts) held->emplace_back(context->get_executor());
        if (!pool.trySubmit([this, held] { takeLook(held); })) {
            // A full queue leaves each request to find its own way to a worker.
            std::lock_guard lock(lookMutex);
            lookUnderWay = false;
            answerOnContexts(std::exchange(awaitingLook, {}), AtOnceRound::lookTaken(std::nullopt));
        }
    }
    // On a worker: takes the look at the database that the waiting requests of every context
    // need and hands each context its answers. Requests that gathered meanwhile get the next
    // look, which queues behind any other work waiting, so that a steady stream of reads
    // cannot starve the posts of a small pool. A look serves only the requests that had
    // arrived when it began.
    using ContextGuards = std::vector<asio::executor_work_guard<asio::io_context::executor_type>>;
    void takeLook(const std::shared_ptr<ContextGuards>& held) {
        for (;;) {
            std::unique_lock lock(lookMutex);
            if (awaitingLook.empty()) {
                lookUnderWay = false;
                return;
            }
            auto batch = std::exchange(awaitingLook, {});
            lock.unlock();
            auto round = AtOnceRound::lookTaken(std::nullopt);
            try {
                round = handler.readRound();
            } catch (...) {
                // Without a look each request goes on alone to a worker, which reports it.
            }
            answerOnContexts(std::move(batch), round);
            lock.lock();
            if (awaitingLook.empty()) {
                lookUnderWay = false;
                return;
            }
            lock.unlock();
            // With nothing else waiting for a worker, or the queue full, this worker goes on
            // taking looks itself: a hand-over to another would only add a wake-up.
            if (pool.queued() == 0) continue;
            if (pool.trySubmit([this, held] { takeLook(held); })) return;
        }
    }
    // Posts each session back to its own context to be answered from `round`.
    void answerOnContexts(std::vector<std::pair<std::size_t, std::shared_ptr<SessionBase>>> batch,
                          const AtOnceRound& round) {
        for (std::size_t index = 0; index < contexts.size(); ++index) {
            std::vector<std::shared_ptr<SessionBase>> sessions;
            for (auto& [where, session] : batch)
                if (where == index) sessions.push_back(std::move(session));
            if (sessions.empty()) continue;
            asio::post(*contexts[index], [this, sessions = std::move(sessions), round] {
                const LogBatch lines;
                answerRound(sessions, round);
            });
        }
    }
    // Answers or hands on each session's request; returns those that wait for a later look.
    std::vector<std::shared_ptr<SessionBase>> answerRound(
        const std::vector<std::shared_ptr<SessionBase>>& sessions, AtOnceRound round) {
        std::vector<std::shared_ptr<SessionBase>> later;
        for (const auto& session : sessions) {
            try {
                if (session->answerInRound(round)) later.push_back(session);
            } catch (const std::exception& error) {
                logLine(std::string("I/O handler failed: ") + error.what());
                session->abandon();
            } catch (...) {
                logLine("I/O handler failed: an unknown exception");
                session->abandon();
            }
        }
        return later;
    }

    void add(const std::shared_ptr<SessionBase>& session) {
        std::lock_guard lock(sessionsMutex);
        sessions.emplace(session.get(), session);
    }
    void remove(SessionBase* session) {
        std::lock_guard lock(sessionsMutex);
        sessions.erase(session);
    }
    // Takes a connection slot for `client`; false when all slots, or all of the client's, are
    // taken.
    bool takeSlot(const std::string& client) {
        std::lock_guard lock(sessionsMutex);
        if (openConnections >= limits.maxConnections) return false;
        auto& count = connectionsPerClient[client];
        if (count >= limits.maxConnectionsPerClient) {
            if (count == 0) connectionsPerClient.erase(client);
            return false;
        }
        ++count;
        ++openConnections;
        return true;
    }
    void releaseSlot(const std::string& client) {
        std::lock_guard lock(sessionsMutex);
        --openConnections;
        const auto entry = connectionsPerClient.find(client);
        if (entry != connectionsPerClient.end() && --entry->second == 0)
            connectionsPerClient.erase(entry);
    }
    std::size_t connectionCount() {
        std::lock_guard lock(sessionsMutex);
        return openConnections;
    }
    // Adds `bytes` to what request bodies hold; false, and nothing added, beyond the limit.
    bool chargeBody(std::size_t bytes) {
        auto held = bodyBytes.load();
        do {
            if (held + bytes > limits.maxBodyMemory) return false;
        } while (!bodyBytes.compare_exchange_weak(held, held + bytes));
        return true;
    }
    std::shared_ptr<ssl::context> currentTls() {
        std::lock_guard lock(tlsMutex);
        return tls;
    }

    RequestSink& handler;
    const TransportLimits limits;
    // Host names a request may name; empty for any.
    std::vector<std::string> allowedHosts;
    // Before the I/O context: handlers it destroys may end sessions, which unregister here.
    std::mutex sessionsMutex;
    std::unordered_map<SessionBase*, std::weak_ptr<SessionBase>> sessions;
    std::unordered_map<std::string, std::size_t> connectionsPerClient;
    std::size_t openConnections = 0;
    std::atomic<std::size_t> bodyBytes{0};
    std::atomic<bool> running{false};
    std::atomic<bool> stopping{false};
    // One I/O context per I/O thread, each running on its thread alone: a connection stays on
    // the context it was accepted onto, so its handlers need no strand, and the threads do not
    // contend for one scheduler's queue.
    std::vector<std::unique_ptr<asio::io_context>> contexts = makeContexts();
    asio::io_context& ioc = *contexts.front();
    // Keep the contexts without connections running until the service stops.
    std::vector<asio::executor_work_guard<asio::io_context::executor_type>> keepRunning;
    std::size_t nextContext = 0;  // on the strand
    // Sessions whose requests wait for their context's next round; each on its context only.
    std::vector<std::vector<std::shared_ptr<SessionBase>>> rounds =
        std::vector<std::vector<std::shared_ptr<SessionBase>>>(contexts.size());
    // Sessions whose requests wait for a look at the database taken on a worker, with their
    // context, and whether a worker is taking looks.
    std::mutex lookMutex;
    std::vector<std::pair<std::size_t, std::shared_ptr<SessionBase>>> awaitingLook;
    bool lookUnderWay = false;
    // The listener, its timers, the signals and the stop run on this strand only, so a stop
    // can never slip in between a timer firing and re-arming.
    asio::strand<asio::io_context::executor_type> strand{ioc.get_executor()};
    tcp::acceptor acceptor{strand};
    asio::steady_timer trimTimer{strand};
    asio::steady_timer acceptTimer{strand};
    asio::steady_timer certificateTimer{strand};
    std::optional<asio::signal_set> signals;
    std::vector<int> reloadSignals;
    std::function<void(const char*)> faultHook;
    // Replaced whole on a renewal; a connection keeps the context it started with.
    std::mutex tlsMutex;
    std::shared_ptr<ssl::context> tls;
    std::string certificateFile, keyFile;
    std::pair<FileStamp, FileStamp> tlsStamps;
    // After the I/O context: jobs still running at destruction post their replies to it.
    WorkerPool pool;
};

namespace {

// One of the connection slots, given back when the connection ends.
class ConnectionSlot {
  public:
    ConnectionSlot(HttpService::Impl& service, std::string client)
        : mService(&service), mClient(std::move(client)) {}
    ConnectionSlot(ConnectionSlot&& other) noexcept
        : mService(std::exchange(other.mService, nullptr)), mClient(std::move(other.mClient)) {}
    ConnectionSlot& operator=(ConnectionSlot&&) = delete;
    ~ConnectionSlot() {
        if (mService) mService->releaseSlot(mClient);
    }

  private:
    HttpService::Impl* mService;
    std::string mClient;
};

// Bytes of one request body counted against the limit on what all bodies hold, given back
// when the request is done with.
class BodyCharge {
  public:
    explicit BodyCharge(HttpService::Impl& service) : mService(service) {}
    BodyCharge(const BodyCharge&) = delete;
    BodyCharge& operator=(const BodyCharge&) = delete;
    ~BodyCharge() { mService.bodyBytes -= mBytes; }

    // Raises the charge to `bytes`; false when the limit does not allow it.
    bool raiseTo(std::size_t bytes) {
        if (bytes <= mBytes) return true;
        if (!mService.chargeBody(bytes - mBytes)) return false;
        mBytes = bytes;
        return true;
    }

  private:
    HttpService::Impl& mService;
    std::size_t mBytes = 0;
};

}  // namespace

namespace {

// One connection, plain or TLS. Every member runs on the connection's strand, except the
// handler's work, which runs on a worker and posts its reply back.
template <class Stream>
class Session : public SessionBase, public std::enable_shared_from_this<Session<Stream>> {
    static constexpr bool kTls = !std::is_same_v<Stream, beast::tcp_stream>;
    enum class State { Handshake, Idle, Reading, Admitting, Working, Writing, Closing };

  public:
    // `tls` is the context the stream was made with, kept while the stream lives; the TLS
    // handshake must be done by `handshakeDeadline`.
    Session(HttpService::Impl& service, Stream stream, std::string remoteAddress,
            ConnectionSlot slot, std::shared_ptr<ssl::context> tls = nullptr,
            Clock::time_point handshakeDeadline = {})
        : mService(service),
          mLimits(service.limits),
          mSlot(std::move(slot)),
          mTls(std::move(tls)),
          mStream(std::move(stream)),
          mStopTimer(mStream.get_executor()),
          mBuffer(service.limits.maxHeaderBytes + 16 * 1024),
          mRemoteAddress(std::move(remoteAddress)),
          mHandshakeDeadline(handshakeDeadline) {}

    ~Session() override { mService.remove(this); }

    void start() {
        mService.add(this->shared_from_this());
        asio::dispatch(mStream.get_executor(), [self = this->shared_from_this()] {
            if constexpr (kTls)
                self->handshake();
            else
                self->awaitRequest();
        });
    }

    // A request whose body is arriving is let finish, for at most one more header timeout;
    // one whose header is not yet in has not started. A TLS session that waits for a request
    // says close_notify once its read has been called off.
    void stop() override {
        asio::post(mStream.get_executor(), [self = this->shared_from_this()] {
            const auto state = self->mState;
            const bool bodyUnderWay =
                state == State::Reading && self->mParser && self->mParser->is_header_done();
            if (state == State::Handshake || state == State::Idle ||
                (state == State::Reading && !bodyUnderWay)) {
                if (kTls && state != State::Handshake) return self->lowest().cancel();
                return self->finish();
            }
            if (!bodyUnderWay) return;
            self->mStopTimer.expires_after(self->mLimits.headerTimeout);
            self->mStopTimer.async_wait([self](error_code ec) {
                if (!ec && self->mState == State::Reading) self->finish();
            });
        });
    }

  private:
    beast::tcp_stream& lowest() { return beast::get_lowest_layer(mStream); }
    asio::io_context& ioContext() {
        return static_cast<asio::io_context&>(
            asio::query(mStream.get_executor(), asio::execution::context));
    }

    // A client that sends a request in two writes without TCP_NODELAY holds the second back
    // until the first is acknowledged; a delayed acknowledgement would stall it by up to 40 ms.
    // The kernel forgets this after a while, so it is asked again before every read of a
    // request.
    void acknowledgeAtOnce() {
        const int on = 1;
        ::setsockopt(lowest().socket().native_handle(), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    }

    void handshake() {
        mState = State::Handshake;
        if (mService.stopping) return finish();
        lowest().expires_at(mHandshakeDeadline);
        mStream.async_handshake([self = this->shared_from_this()](error_code ec, std::size_t) {
            if (ec) return self->finish();
            self->awaitRequest();
        });
    }

    // Waits for the first bytes of the next request for as long as a kept-alive connection
    // may stay idle; the header deadline starts with them.
    void awaitRequest() {
        mState = State::Idle;
        if (mService.stopping) return endAfterRead();
        if (mBuffer.size() > 0) return readHeader();
        mBuffer.shrink_to_fit();
        lowest().expires_after(mLimits.idleTimeout);
        mStream.async_read_some(mBuffer.prepare(kFirstRead),
                                [self = this->shared_from_this()](error_code ec, std::size_t n) {
                                    if (ec) return self->endAfterRead();
                                    self->mBuffer.commit(n);
                                    self->readHeader();
                                });
    }

    void readHeader() {
        mState = State::Reading;
        if (mService.stopping) return endAfterRead();
        mParser.emplace();
        mParser->header_limit(std::uint32_t(mLimits.maxHeaderBytes));
        mParser->body_limit(std::uint64_t(kMaxPostBytes));
        lowest().expires_after(mLimits.headerTimeout);
        // A header that is here whole needs no further segment, nor the system call.
        const std::string_view received(static_cast<const char*>(mBuffer.data().data()),
                                        mBuffer.size());
        if (received.find("\r\n\r\n") == std::string_view::npos) acknowledgeAtOnce();
        http::async_read_header(
            mStream, mBuffer, *mParser,
            [self = this->shared_from_this()](error_code ec, std::size_t) { self->onHeader(ec); });
    }

    void onHeader(error_code ec) {
        if (ec) return readFailed(ec);
        mState = State::Admitting;
        const auto& message = mParser->get();
        auto refusal = framingRefusal(message);
        if (!refusal) refusal = hostRefusal(message, mService.allowedHosts);
        if (refusal) return refuse(std::move(*refusal));
        HttpRequest header;
        header.method = std::string(message.method_string());
        header.target = std::string(message.target());
        header.remoteAddress = mRemoteAddress;
        for (const auto& field : message)
            header.headers.emplace_back(std::string(field.name_string()),
                                        std::string(field.value()));
        auto executor = mStream.get_executor();
        mService.handler.admit(header, [self = this->shared_from_this(),
                                        executor](std::optional<HttpResponse> refusal) mutable {
            asio::dispatch(executor, [self, refusal = std::move(refusal)]() mutable {
                if (self->mState != State::Admitting) return;
                if (refusal) return self->refuse(std::move(*refusal));
                self->admitted();
            });
        });
    }

    void admitted() {
        mState = State::Reading;
        if (mParser->is_done()) return dispatch();
        // A declared length is taken whole, as the body's string is made that large at once.
        const auto declared = mParser->content_length();
        mCharge = std::make_shared<BodyCharge>(mService);
        if (!mCharge->raiseTo(declared ? std::size_t(*declared) : kBodyChargeStep))
            return refuse(busyResponse(true));
        const auto now = Clock::now();
        mWindowFrom = 0;
        mWindowEnd = now + mLimits.headerTimeout + kBodyRateWindow;
        mGraceEnd = now + mLimits.headerTimeout;
        // Room for reads of a useful size: the buffer left from the header may hold only the
        // first kilobyte, and a body read a kilobyte at a time keeps an I/O thread busy.
        mBuffer.reserve(std::min<std::size_t>(kBodyReadSize, mBuffer.max_size()));
        const auto expect = mParser->get()[http::field::expect];
        if (beast::iequals(expect, "100-continue")) {
            static const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
            asio::async_write(mStream, asio::buffer(kContinue),
                              [self = this->shared_from_this()](error_code ec, std::size_t) {
                                  if (ec) return self->finish();
                                  self->readBody();
                              });
            return;
        }
        readBody();
    }

    // The body may take the header deadline as a grace, and then must arrive at the minimum
    // rate on average; a trickle falls behind and is cut off.
    // The deadline of a read is the end of the current window; a window that brings its
    // bytes starts the next one, which ends a window's length later (after the grace).
    void readBody() {
        lowest().expires_at(mWindowEnd);
        acknowledgeAtOnce();
        http::async_read_some(
            mStream, mBuffer, *mParser,
            [self = this->shared_from_this()](error_code ec, std::size_t) {
                if (ec) return self->readFailed(ec);
                auto& body = self->mParser->get().body();
                if (!self->mCharge->raiseTo(body.capacity()))
                    return self->refuse(busyResponse(true));
                if (self->mParser->is_done()) return self->dispatch();
                const auto& limits = self->mLimits;
                const std::size_t needed =
                    limits.minBodyRate * std::size_t(std::chrono::seconds(kBodyRateWindow).count());
                if (body.size() - self->mWindowFrom >= needed) {
                    self->mWindowFrom = body.size();
                    self->mWindowEnd = std::max(Clock::now(), self->mGraceEnd) + kBodyRateWindow;
                }
                self->readBody();
            });
    }

    void readFailed(error_code ec) {
        const bool headerDone = mParser && mParser->is_header_done();
        if (ec == http::error::header_limit || (ec == http::error::buffer_overflow && !headerDone))
            return refuse(ownResponse(431, "The request header is too large.", true));
        if (ec == http::error::body_limit) return refuse(mService.handler.tooLarge());
        if (isParseError(ec))
            return refuse(headerDone ? mService.handler.unreadableBody()
                                     : ownResponse(400, "The request was refused.", true));
        // Cut off by a deadline, or gone: nobody is left to read a reply. A request that was
        // under way still gets its line in the log.
        if (ec == beast::error::timeout) {
            HttpResponse cutOff;
            cutOff.status = 408;
            mService.handler.logAccess(partialRequest(), cutOff);
        } else if (headerDone && ec != asio::error::operation_aborted) {
            mService.handler.logAccess(partialRequest(), mService.handler.unreadableBody());
        }
        endAfterRead();
    }

    // What is known of a request that was not read whole, for the log.
    HttpRequest partialRequest() const {
        HttpRequest request;
        request.remoteAddress = mRemoteAddress;
        // The parser keeps the request line as soon as it has it, and then consumes it.
        if (mParser && !mParser->get().method_string().empty()) {
            request.method = std::string(mParser->get().method_string());
            request.target = std::string(mParser->get().target().substr(0, kLoggedTarget));
            return request;
        }
        const std::string_view data(static_cast<const char*>(mBuffer.data().data()),
                                    std::min(mBuffer.size(), kLoggedTarget));
        const auto line = data.substr(0, data.find("\r\n"));
        const auto space = line.find(' ');
        request.method = std::string(line.substr(0, space));
        if (space != std::string_view::npos) {
            const auto rest = line.substr(space + 1);
            request.target = std::string(rest.substr(0, rest.rfind(' ')));
        }
        return request;
    }

    void refuse(HttpResponse response) {
        mService.handler.logAccess(partialRequest(), response);
        mKeepAlive = false;
        mHead = false;
        respond(std::move(response));
    }

    void dispatch() {
        mService.fault("io");
        mState = State::Working;
        auto message = mParser->release();
        mParser.reset();
        mKeepAlive = message.keep_alive();
        mHttp10 = message.version() < 11;
        mHead = message.method() == http::verb::head;

        auto request = std::make_shared<HttpRequest>();
        request->method = std::string(message.method_string());
        request->target = std::string(message.target());
        request->remoteAddress = mRemoteAddress;
        for (const auto& field : message)
            request->headers.emplace_back(std::string(field.name_string()),
                                          std::string(field.value()));
        request->body = std::move(message.body());
        mWaiting = std::move(request);
        mService.joinRound(ioContext(), this->shared_from_this());
    }

    // The request is whole and every request of its round arrived: answered here at once, or
    // handed to a worker.
    bool answerInRound(AtOnceRound& round) override {
        round.wantsReadLater = false;
        if (auto response = mService.handler.answerAtOnce(*mWaiting, round)) {
            mService.handler.logAccess(*mWaiting, *response);
            mWaiting.reset();
            mCharge.reset();
            respond(std::move(*response));
            return false;
        }
        if (round.wantsReadLater) return true;
        auto request = std::move(mWaiting);
        // The body stays counted until the worker is done with it.
        auto charge = std::move(mCharge);

        auto self = this->shared_from_this();
        // Keeps the I/O threads running while the reply is being made.
        auto work = std::make_shared<asio::executor_work_guard<asio::io_context::executor_type>>(
            ioContext().get_executor());
        const bool taken = mService.pool.trySubmit([self, request, work, charge]() mutable {
            auto& service = self->mService;
            HttpResponse response;
            try {
                service.fault("worker");
                response = service.handler.handle(*request);
            } catch (const std::exception& error) {
                logLine(std::string("request failed: ") + error.what());
                response = failedResponse();
            } catch (...) {
                logLine("request failed: an unknown exception");
                response = failedResponse();
            }
            try {
                service.handler.logAccess(*request, response);
            } catch (...) {
                // The reply matters more than its log line.
            }
            // The body's memory is free before the reply goes: a client that has its reply
            // finds room for the next body.
            std::string().swap(request->body);
            charge.reset();
            try {
                service.fault("reply");
                asio::post(self->mStream.get_executor(),
                           [self, work, response = std::move(response)]() mutable {
                               self->respond(std::move(response));
                           });
            } catch (...) {
                // Out of memory for the reply: at least do not leave the client waiting.
                logLine("request failed: its reply could not be handed back");
                asio::post(self->mStream.get_executor(), [self, work] { self->finish(); });
            }
        });
        if (!taken) {
            auto response = busyResponse();
            mService.handler.logAccess(*request, response);
            respond(std::move(response));
        }
        return false;
    }

    void respond(HttpResponse response) {
        mState = State::Writing;
        const bool close = response.closeConnection || !mKeepAlive || mService.stopping;
        mHeaderOut = headerBlock(response, close, mHttp10);
        mBodyOut = mHead ? nullptr : response.body;
        std::size_t bodyFrom = 0;
        if constexpr (kTls) {
            // TLS writes one buffer at a time, each in records and a send of its own: the header
            // goes out with the start of the body to fill the first record.
            if (mBodyOut && mHeaderOut.size() < kTlsRecord) {
                bodyFrom = std::min(mBodyOut->size(), kTlsRecord - mHeaderOut.size());
                mHeaderOut.append(*mBodyOut, 0, bodyFrom);
            }
        }
        std::size_t headerFrom = 0;
        if constexpr (!kTls) {
            if (mBodyOut && response.bodyFile >= 0)
                sendFromFile(response.bodyFile, headerFrom, bodyFrom);
        }
        // What is left, if anything, goes out as usual, under the write deadline.
        std::array<asio::const_buffer, 2> buffers{
            asio::buffer(mHeaderOut) + headerFrom,
            mBodyOut ? asio::buffer(*mBodyOut) + bodyFrom : asio::const_buffer()};
        const auto bytes = asio::buffer_size(buffers);
        lowest().expires_after(mLimits.headerTimeout +
                               std::chrono::milliseconds(bytes * 1000 / mLimits.minBodyRate));
        asio::async_write(mStream, buffers,
                          [self = this->shared_from_this(), close](error_code ec, std::size_t) {
                              self->mBodyOut.reset();
                              self->mHeaderOut = std::string();
                              if (ec) return self->finish();
                              if (close) return self->linger();
                              self->awaitRequest();
                          });
    }

    // Sends the header and then as much of the body as the socket takes now straight from
    // `file`, without copying it through this process; stops short, with the offsets of what
    // is left, where the socket would block or fails.
    void sendFromFile(int file, std::size_t& headerFrom, std::size_t& bodyFrom) {
        auto& socket = lowest().socket();
        // Only a socket in non-blocking mode, as it is after its first read, cannot hold the
        // thread here.
        if (!socket.native_non_blocking()) return;
        const int fd = socket.native_handle();
        // Held back until the body follows, so that the header does not go alone.
        const auto sent = ::send(fd, mHeaderOut.data(), mHeaderOut.size(), MSG_MORE | MSG_NOSIGNAL);
        if (sent <= 0) return;
        headerFrom = std::size_t(sent);
        if (headerFrom < mHeaderOut.size()) return;
        off_t offset = 0;
        const auto size = off_t(mBodyOut->size());
        while (offset < size) {
            const auto n = ::sendfile(fd, file, &offset, std::size_t(size - offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
        }
        bodyFrom = std::size_t(offset);
    }

    // The client learns at once that nothing more comes (close_notify on TLS, then FIN);
    // what it still sends is read below TLS and thrown away.
    void linger() {
        mState = State::Closing;
        mLingerLeft = kLingerBytes;
        mBuffer.clear();
        mCharge.reset();
        lowest().expires_after(kLingerTime);
        if constexpr (kTls) {
            sayCloseNotify([self = this->shared_from_this()] {
                self->shutDownSending();
                self->drain();
            });
        } else {
            shutDownSending();
            drain();
        }
    }

    void shutDownSending() {
        error_code ignored;
        lowest().socket().shutdown(tcp::socket::shutdown_send, ignored);
    }

    void drain() {
        lowest().async_read_some(mBuffer.prepare(16 * 1024),
                                 [self = this->shared_from_this()](error_code ec, std::size_t n) {
                                     if (ec || n >= self->mLingerLeft) return self->finish();
                                     self->mLingerLeft -= n;
                                     self->drain();
                                 });
    }

    // Sends close_notify and goes on without waiting for the client's: a client that keeps
    // the connection open must not hold it.
    template <class Then>
    void sayCloseNotify(Then then) {
        // Taken as received, the client's close_notify is not read for.
        SSL_set_shutdown(mStream.native_handle(), SSL_RECEIVED_SHUTDOWN);
        mStream.async_shutdown([then = std::move(then)](error_code, std::size_t) { then(); });
    }

    // A read that ended while the service stops (or was called off for the stop) ends a TLS
    // session with close_notify; otherwise the connection just closes.
    void endAfterRead() {
        if constexpr (kTls) {
            if (mService.stopping && mState != State::Closing && lowest().socket().is_open()) {
                mState = State::Closing;
                lowest().expires_after(kCloseNotifyTime);
                return sayCloseNotify([self = this->shared_from_this()] { self->finish(); });
            }
        }
        finish();
    }

    void abandon() override { finish(); }

    void finish() {
        mState = State::Closing;
        mStopTimer.cancel();
        error_code ignored;
        lowest().socket().close(ignored);
    }

    HttpService::Impl& mService;
    const TransportLimits& mLimits;
    ConnectionSlot mSlot;
    // Before the stream, which uses it.
    std::shared_ptr<ssl::context> mTls;
    Stream mStream;
    asio::steady_timer mStopTimer;
    beast::flat_buffer mBuffer;
    std::optional<http::request_parser<http::string_body>> mParser;
    std::string mRemoteAddress;
    State mState = State::Idle;
    Clock::time_point mHandshakeDeadline;
    std::shared_ptr<BodyCharge> mCharge;
    // The body size at the start of the current rate window, its end and the end of the grace.
    std::size_t mWindowFrom = 0;
    Clock::time_point mWindowEnd, mGraceEnd;
    bool mKeepAlive = true;
    bool mHttp10 = false;
    bool mHead = false;
    std::string mHeaderOut;
    std::shared_ptr<const std::string> mBodyOut;
    std::size_t mLingerLeft = 0;
    std::shared_ptr<HttpRequest> mWaiting;  // whole, until its round comes
};

using PlainSession = Session<beast::tcp_stream>;
using TlsSession = Session<TlsStream>;

// A TLS connection before its first byte: a socket and a timer only. The TLS session, with
// OpenSSL's state and buffers of tens of kilobytes, is made when the handshake starts, so that
// connections that never start one cost little.
class PendingHandshake : public SessionBase, public std::enable_shared_from_this<PendingHandshake> {
  public:
    PendingHandshake(HttpService::Impl& service, tcp::socket socket, std::string remoteAddress,
                     ConnectionSlot slot)
        : mService(service),
          mSlot(std::move(slot)),
          mSocket(std::move(socket)),
          mTimer(mSocket.get_executor()),
          mRemoteAddress(std::move(remoteAddress)),
          mDeadline(Clock::now() + service.limits.headerTimeout) {}

    ~PendingHandshake() override { mService.remove(this); }

    void start() {
        mService.add(shared_from_this());
        asio::dispatch(mSocket.get_executor(), [self = shared_from_this()] {
            self->mTimer.expires_at(self->mDeadline);
            self->mTimer.async_wait([self](error_code ec) {
                if (!ec) self->close();
            });
            self->mSocket.async_wait(tcp::socket::wait_read,
                                     [self](error_code ec) { self->onReadable(ec); });
        });
    }

    void stop() override {
        asio::post(mSocket.get_executor(), [self = shared_from_this()] { self->close(); });
    }

  private:
    void onReadable(error_code ec) {
        mTimer.cancel();
        if (ec || !mSocket.is_open() || mService.stopping) return close();
        auto tls = mService.currentTls();
        TlsStream stream(beast::tcp_stream(std::move(mSocket)), *tls);
        std::make_shared<TlsSession>(mService, std::move(stream), std::move(mRemoteAddress),
                                     std::move(mSlot), std::move(tls), mDeadline)
            ->start();
    }

    void close() {
        error_code ignored;
        mTimer.cancel();
        mSocket.close(ignored);
    }

    HttpService::Impl& mService;
    ConnectionSlot mSlot;
    tcp::socket mSocket;
    asio::steady_timer mTimer;
    std::string mRemoteAddress;
    Clock::time_point mDeadline;
};

}  // namespace

void HttpService::Impl::accept() {
    auto& context = *contexts[nextContext++ % contexts.size()];
    acceptor.async_accept(context,
                          asio::bind_executor(strand, [this](error_code ec, tcp::socket socket) {
                              onAccept(ec, std::move(socket));
                          }));
}

void HttpService::Impl::onAccept(error_code ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted || stopping || !acceptor.is_open()) return;
    if (ec) {
        // Out of files, most likely: give the deadlines time to close some connections.
        acceptTimer.expires_after(kAcceptRetry);
        acceptTimer.async_wait(asio::bind_executor(strand, [this](error_code ec) {
            if (!ec && !stopping) accept();
        }));
        return;
    }
    const auto peer = socket.remote_endpoint(ec);
    const auto remote = ec ? std::string("-") : peer.address().to_string();
    const auto client = ec ? remote : clientKey(peer.address());
    if (!takeSlot(client)) {
        socket.close(ec);
        return accept();
    }
    ConnectionSlot slot(*this, client);
    // Replies go out in one write; nothing is gained by holding back their last segment.
    socket.set_option(tcp::no_delay(true), ec);
    if (!certificateFile.empty())
        std::make_shared<PendingHandshake>(*this, std::move(socket), remote, std::move(slot))
            ->start();
    else
        std::make_shared<PlainSession>(*this, beast::tcp_stream(std::move(socket)), remote,
                                       std::move(slot))
            ->start();
    accept();
}

void HttpService::Impl::trimLater() {
    if (stopping) return;
    trimTimer.expires_after(kTrimInterval);
    trimTimer.async_wait(asio::bind_executor(strand, [this](error_code ec) {
        if (ec || stopping) return;
        malloc_trim(0);
        trimLater();
    }));
}

void HttpService::Impl::awaitSignal() {
    if (!signals || stopping) return;
    signals->async_wait(asio::bind_executor(strand, [this](error_code ec, int number) {
        if (ec || stopping) return;
        if (std::find(reloadSignals.begin(), reloadSignals.end(), number) != reloadSignals.end()) {
            if (!certificateFile.empty()) reloadTls(true);
            return awaitSignal();
        }
        std::cerr << "stopping\n";
        shutDown();
    }));
}

void HttpService::Impl::watchCertificates() {
    if (stopping || certificateFile.empty()) return;
    certificateTimer.expires_after(kCertificateRecheck);
    certificateTimer.async_wait(asio::bind_executor(strand, [this](error_code ec) {
        if (ec || stopping) return;
        reloadTls(false);
        watchCertificates();
    }));
}

void HttpService::Impl::reloadTls(bool always) {
    // Stamped before reading: a file that changes while it is read is read again next time.
    const std::pair stamps{stampOf(certificateFile), stampOf(keyFile)};
    if (!always && stamps == tlsStamps) return;
    tlsStamps = stamps;
    std::string error;
    auto context = loadTls(certificateFile, keyFile, error);
    if (!context) {
        logLine("keeping the certificate loaded before: " + certificateFile + " and " + keyFile +
                " do not load: " + error);
        return;
    }
    // Said before the swap, so that whoever sees the new certificate finds the line.
    logLine("new connections use the certificate in " + certificateFile);
    std::lock_guard lock(tlsMutex);
    tls = std::move(context);
}

void HttpService::Impl::runIo(asio::io_context& context) {
    for (;;) {
        try {
            context.run();
            return;
        } catch (const std::exception& error) {
            logLine(std::string("I/O handler failed: ") + error.what());
        } catch (...) {
            logLine("I/O handler failed: an unknown exception");
        }
    }
}

void HttpService::Impl::shutDown() {
    if (stopping.exchange(true)) return;
    // Each context now runs until its connections are done.
    keepRunning.clear();
    error_code ignored;
    acceptor.close(ignored);
    trimTimer.cancel();
    acceptTimer.cancel();
    certificateTimer.cancel();
    if (signals) signals->cancel(ignored);
    std::vector<std::shared_ptr<SessionBase>> open;
    {
        std::lock_guard lock(sessionsMutex);
        for (const auto& [raw, weak] : sessions)
            if (auto session = weak.lock()) open.push_back(std::move(session));
    }
    // Released outside the lock: the last reference may run a destructor that takes it.
    for (const auto& session : open) session->stop();
}

HttpService::HttpService(RequestSink& handler, int workers, TransportLimits limits)
    : mImpl(std::make_unique<Impl>(handler, workers, limits)) {}

HttpService::~HttpService() = default;

std::string HttpService::useTls(const std::string& certificateFile, const std::string& keyFile) {
    auto& impl = *mImpl;
    const std::pair stamps{stampOf(certificateFile), stampOf(keyFile)};
    std::string error;
    auto context = loadTls(certificateFile, keyFile, error);
    if (!context) return error;
    impl.tls = std::move(context);
    impl.certificateFile = certificateFile;
    impl.keyFile = keyFile;
    impl.tlsStamps = stamps;
    return {};
}

bool HttpService::usesTls() const {
    return !mImpl->certificateFile.empty();
}

int HttpService::bind(const std::string& host, int port) {
    error_code ec;
    tcp::resolver resolver(mImpl->ioc);
    const auto results = resolver.resolve(
        host, std::to_string(port), tcp::resolver::passive | tcp::resolver::numeric_service, ec);
    if (ec || results.empty()) return -1;
    const tcp::endpoint endpoint = *results.begin();
    auto& acceptor = mImpl->acceptor;
    acceptor.open(endpoint.protocol(), ec);
    if (!ec) acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) acceptor.bind(endpoint, ec);
    if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        acceptor.close(ec);
        return -1;
    }
    auto& allowed = mImpl->allowedHosts;
    allowed.clear();
    for (const auto& name : mImpl->limits.allowedHosts) allowed.push_back(lowerCase(name));
    // A name is what a browser page could have pointed at this address; a loopback service
    // answers only to loopback names unless told others.
    if (allowed.empty() && isLoopback(endpoint.address())) {
        allowed = {"localhost", "127.0.0.1", "[::1]"};
        const auto own = endpoint.address().to_string();
        allowed.push_back(endpoint.address().is_v6() ? "[" + own + "]" : own);
    }
    return acceptor.local_endpoint().port();
}

bool HttpService::serve() {
    auto& impl = *mImpl;
    if (!impl.acceptor.is_open()) return false;
    asio::dispatch(impl.strand, [&impl] {
        if (impl.stopping) return;
        impl.accept();
        impl.trimLater();
        impl.awaitSignal();
        impl.watchCertificates();
    });
    // A peer that goes away while a reply is sent from a file (sendfile has no MSG_NOSIGNAL)
    // must cost its connection only, never the process.
    struct sigaction pipe {};
    if (::sigaction(SIGPIPE, nullptr, &pipe) == 0 && pipe.sa_handler == SIG_DFL)
        ::signal(SIGPIPE, SIG_IGN);
    impl.running = true;
    std::vector<std::thread> extra;
    for (std::size_t i = 1; i < impl.contexts.size(); ++i) {
        auto& context = *impl.contexts[i];
        impl.keepRunning.push_back(asio::make_work_guard(context));
        extra.emplace_back([&impl, &context] { impl.runIo(context); });
    }
    impl.runIo(impl.ioc);
    for (auto& thread : extra) thread.join();
    impl.running = false;
    return true;
}

void HttpService::stop() {
    asio::post(mImpl->strand, [impl = mImpl.get()] { impl->shutDown(); });
}

void HttpService::stopOnSignals(std::initializer_list<int> signalNumbers) {
    auto& impl = *mImpl;
    if (!impl.signals) impl.signals.emplace(impl.strand);
    for (const int number : signalNumbers) impl.signals->add(number);
}

void HttpService::reloadOnSignals(std::initializer_list<int> signalNumbers) {
    auto& impl = *mImpl;
    if (!impl.signals) impl.signals.emplace(impl.strand);
    for (const int number : signalNumbers) {
        impl.signals->add(number);
        impl.reloadSignals.push_back(number);
    }
}

void HttpService::setFaultHook(std::function<void(const char* where)> hook) {
    mImpl->faultHook = std::move(hook);
}

std::size_t HttpService::openConnections() const {
    return mImpl->connectionCount();
}

std::size_t HttpService::queuedRequests() const {
    return mImpl->pool.queued();
}

bool HttpService::isRunning() const {
    return mImpl->running;
}

void raiseOpenFileLimit(std::size_t connections) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    // The database, the log, the listening socket and a margin besides the connections.
    const std::size_t needed = connections + 64;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < needed)
        std::cerr << "tavrolin-server: the open-file limit is " << limit.rlim_cur << ", below the "
                  << needed << " that " << connections
                  << " connections need; connections beyond it wait until others close\n";
}

}  // namespace tavrolin::server
