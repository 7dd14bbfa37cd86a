#include "http_service.h"

#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/asio/signal_set.hpp>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "access_log.h"
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
// Memory freed after a burst of large bodies goes back to the system at this pace.
constexpr auto kTrimInterval = std::chrono::seconds(5);
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);
constexpr std::size_t kFirstRead = 1024;
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

HttpResponse busyResponse() {
    auto response = ownResponse(503, "The server is busy. Please try again.", false);
    response.headers.emplace_back("Retry-After", "1");
    return response;
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
};

struct HttpService::Impl {
    Impl(RequestSink& handler, int workers, TransportLimits limits)
        : handler(handler), limits(limits), pool(std::size_t(workers), limits.queueLimit) {
        // A fixed threshold keeps large bodies in mappings of their own, which go back to the
        // system when freed; glibc would otherwise raise it after the first such body.
        mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    }

    void accept();
    void onAccept(error_code ec, tcp::socket socket);
    void trimLater();
    void awaitSignal();
    void shutDown();
    // Runs the I/O context until it runs out of work; an exception that escapes a handler is
    // logged and the loop goes on, so one bad handler cannot end the process.
    void runIo();
    // Where a test makes a thread boundary throw; empty in service.
    void fault(const char* where) const {
        if (faultHook) faultHook(where);
    }

    void add(const std::shared_ptr<SessionBase>& session) {
        std::lock_guard lock(sessionsMutex);
        sessions.emplace(session.get(), session);
    }
    void remove(SessionBase* session) {
        std::lock_guard lock(sessionsMutex);
        sessions.erase(session);
    }
    std::size_t connectionCount() {
        std::lock_guard lock(sessionsMutex);
        return sessions.size();
    }

    RequestSink& handler;
    const TransportLimits limits;
    // Before the I/O context: handlers it destroys may end sessions, which unregister here.
    std::mutex sessionsMutex;
    std::unordered_map<SessionBase*, std::weak_ptr<SessionBase>> sessions;
    std::atomic<bool> running{false};
    std::atomic<bool> stopping{false};
    asio::io_context ioc;
    // The listener, its timers, the signals and the stop run on this strand only, so a stop
    // can never slip in between a timer firing and re-arming.
    asio::strand<asio::io_context::executor_type> strand{ioc.get_executor()};
    tcp::acceptor acceptor{strand};
    asio::steady_timer trimTimer{strand};
    asio::steady_timer acceptTimer{strand};
    std::optional<asio::signal_set> signals;
    std::function<void(const char*)> faultHook;
    std::unique_ptr<ssl::context> tls;
    // After the I/O context: jobs still running at destruction post their replies to it.
    WorkerPool pool;
};

namespace {

// One connection, plain or TLS. Every member runs on the connection's strand, except the
// handler's work, which runs on a worker and posts its reply back.
template <class Stream>
class Session : public SessionBase, public std::enable_shared_from_this<Session<Stream>> {
    static constexpr bool kTls = !std::is_same_v<Stream, beast::tcp_stream>;
    enum class State { Handshake, Idle, Reading, Admitting, Working, Writing, Closing };

  public:
    Session(HttpService::Impl& service, Stream stream, std::string remoteAddress)
        : mService(service),
          mLimits(service.limits),
          mStream(std::move(stream)),
          mStopTimer(mStream.get_executor()),
          mBuffer(service.limits.maxHeaderBytes + 16 * 1024),
          mRemoteAddress(std::move(remoteAddress)) {}

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
    // one whose header is not yet in has not started.
    void stop() override {
        asio::post(mStream.get_executor(), [self = this->shared_from_this()] {
            const auto state = self->mState;
            const bool bodyUnderWay =
                state == State::Reading && self->mParser && self->mParser->is_header_done();
            if (state == State::Handshake || state == State::Idle ||
                (state == State::Reading && !bodyUnderWay))
                return self->finish();
            if (!bodyUnderWay) return;
            self->mStopTimer.expires_after(self->mLimits.headerTimeout);
            self->mStopTimer.async_wait([self](error_code ec) {
                if (!ec && self->mState == State::Reading) self->finish();
            });
        });
    }

  private:
    beast::tcp_stream& lowest() { return beast::get_lowest_layer(mStream); }

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
        lowest().expires_after(mLimits.headerTimeout);
        mStream.async_handshake(ssl::stream_base::server,
                                [self = this->shared_from_this()](error_code ec) {
                                    if (ec) return self->finish();
                                    self->awaitRequest();
                                });
    }

    // Waits for the first bytes of the next request for as long as a kept-alive connection
    // may stay idle; the header deadline starts with them.
    void awaitRequest() {
        if (mService.stopping) return finish();
        mState = State::Idle;
        if (mBuffer.size() > 0) return readHeader();
        mBuffer.shrink_to_fit();
        lowest().expires_after(mLimits.idleTimeout);
        mStream.async_read_some(mBuffer.prepare(kFirstRead),
                                [self = this->shared_from_this()](error_code ec, std::size_t n) {
                                    if (ec) return self->finish();
                                    self->mBuffer.commit(n);
                                    self->readHeader();
                                });
    }

    void readHeader() {
        mState = State::Reading;
        mParser.emplace();
        mParser->header_limit(std::uint32_t(mLimits.maxHeaderBytes));
        mParser->body_limit(std::uint64_t(kMaxPostBytes));
        lowest().expires_after(mLimits.headerTimeout);
        acknowledgeAtOnce();
        http::async_read_header(
            mStream, mBuffer, *mParser,
            [self = this->shared_from_this()](error_code ec, std::size_t) { self->onHeader(ec); });
    }

    void onHeader(error_code ec) {
        if (ec) return readFailed(ec);
        mState = State::Admitting;
        const auto& message = mParser->get();
        HttpRequest header;
        header.method = std::string(message.method_string());
        header.target = std::string(message.target());
        header.remoteAddress = mRemoteAddress;
        for (const auto& field : message)
            header.headers.emplace_back(std::string(field.name_string()),
                                        std::string(field.value()));
        auto executor = mStream.get_executor();
        mService.handler.admit(
            header, [self = this->shared_from_this(),
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
        mBodyStart = Clock::now();
        if (mParser->is_done()) return dispatch();
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
    void readBody() {
        const auto received = mParser->get().body().size();
        const auto allowance = std::chrono::milliseconds(received * 1000 / mLimits.minBodyRate);
        lowest().expires_at(mBodyStart + mLimits.headerTimeout + allowance);
        acknowledgeAtOnce();
        http::async_read_some(mStream, mBuffer, *mParser,
                              [self = this->shared_from_this()](error_code ec, std::size_t) {
                                  if (ec) return self->readFailed(ec);
                                  if (self->mParser->is_done()) return self->dispatch();
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
        finish();
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

        if (auto response = mService.handler.answerAtOnce(*request)) {
            mService.handler.logAccess(*request, *response);
            return respond(std::move(*response));
        }

        auto self = this->shared_from_this();
        // Keeps the I/O threads running while the reply is being made.
        auto work = std::make_shared<asio::executor_work_guard<asio::io_context::executor_type>>(
            mService.ioc.get_executor());
        const bool taken = mService.pool.trySubmit([self, request, work] {
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
    }

    void respond(HttpResponse response) {
        mState = State::Writing;
        const bool close = response.closeConnection || !mKeepAlive || mService.stopping;
        mHeaderOut = headerBlock(response, close, mHttp10);
        mBodyOut = mHead ? nullptr : response.body;
        std::array<asio::const_buffer, 2> buffers{
            asio::buffer(mHeaderOut), mBodyOut ? asio::buffer(*mBodyOut) : asio::const_buffer()};
        const auto bytes = mHeaderOut.size() + (mBodyOut ? mBodyOut->size() : 0);
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

    void linger() {
        mState = State::Closing;
        mLingerLeft = kLingerBytes;
        mBuffer.clear();
        if constexpr (!kTls) {
            error_code ignored;
            lowest().socket().shutdown(tcp::socket::shutdown_send, ignored);
        }
        lowest().expires_after(kLingerTime);
        drain();
    }

    void drain() {
        mStream.async_read_some(mBuffer.prepare(16 * 1024),
                                [self = this->shared_from_this()](error_code ec, std::size_t n) {
                                    if (ec || n >= self->mLingerLeft) return self->finish();
                                    self->mLingerLeft -= n;
                                    self->drain();
                                });
    }

    void finish() {
        mState = State::Closing;
        mStopTimer.cancel();
        error_code ignored;
        lowest().socket().close(ignored);
    }

    HttpService::Impl& mService;
    const TransportLimits& mLimits;
    Stream mStream;
    asio::steady_timer mStopTimer;
    beast::flat_buffer mBuffer;
    std::optional<http::request_parser<http::string_body>> mParser;
    std::string mRemoteAddress;
    State mState = State::Idle;
    Clock::time_point mBodyStart;
    bool mKeepAlive = true;
    bool mHttp10 = false;
    bool mHead = false;
    std::string mHeaderOut;
    std::shared_ptr<const std::string> mBodyOut;
    std::size_t mLingerLeft = 0;
};

using PlainSession = Session<beast::tcp_stream>;
using TlsSession = Session<ssl::stream<beast::tcp_stream>>;

}  // namespace

void HttpService::Impl::accept() {
    acceptor.async_accept(asio::make_strand(ioc),
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
    if (connectionCount() >= limits.maxConnections) {
        socket.close(ec);
        return accept();
    }
    // Replies go out in one write; nothing is gained by holding back their last segment.
    socket.set_option(tcp::no_delay(true), ec);
    auto remote = socket.remote_endpoint(ec).address().to_string();
    if (ec) remote = "-";
    if (tls)
        std::make_shared<TlsSession>(
            *this, ssl::stream<beast::tcp_stream>(beast::tcp_stream(std::move(socket)), *tls),
            std::move(remote))
            ->start();
    else
        std::make_shared<PlainSession>(*this, beast::tcp_stream(std::move(socket)),
                                       std::move(remote))
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
    signals->async_wait(asio::bind_executor(strand, [this](error_code ec, int) {
        if (ec || stopping) return;
        std::cerr << "stopping\n";
        shutDown();
    }));
}

void HttpService::Impl::runIo() {
    for (;;) {
        try {
            ioc.run();
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
    error_code ignored;
    acceptor.close(ignored);
    trimTimer.cancel();
    acceptTimer.cancel();
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
    try {
        auto context = std::make_unique<ssl::context>(ssl::context::tls_server);
        context->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                             ssl::context::no_sslv3 | ssl::context::no_tlsv1 |
                             ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
        context->use_certificate_chain_file(certificateFile);
        context->use_private_key_file(keyFile, ssl::context::pem);
        mImpl->tls = std::move(context);
        return {};
    } catch (const boost::system::system_error& error) {
        return error.what();
    }
}

bool HttpService::usesTls() const {
    return mImpl->tls != nullptr;
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
    });
    impl.running = true;
    // Two I/O threads keep both cores of a small machine sending; more only add switching.
    const unsigned ioThreads = std::clamp(std::thread::hardware_concurrency(), 1u, 2u);
    std::vector<std::thread> extra;
    for (unsigned i = 1; i < ioThreads; ++i) extra.emplace_back([&impl] { impl.runIo(); });
    impl.runIo();
    for (auto& thread : extra) thread.join();
    impl.running = false;
    return true;
}

void HttpService::stop() {
    asio::post(mImpl->strand, [impl = mImpl.get()] { impl->shutDown(); });
}

void HttpService::stopOnSignals(std::initializer_list<int> signalNumbers) {
    auto& impl = *mImpl;
    impl.signals.emplace(impl.strand);
    for (const int number : signalNumbers) impl.signals->add(number);
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
