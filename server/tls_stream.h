#pragma once

#include <openssl/ssl.h>

#include <utility>  // before Asio, whose awaitable.hpp needs std::exchange

#include <boost/asio.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/beast/core.hpp>
#include <cstddef>
#include <memory>
#include <string>

namespace tavrolin::server {

// A server's TLS session over a beast::tcp_stream, which keeps its deadlines. OpenSSL reads
// the received bytes where the socket put them and writes its records into one buffer, so all
// the records of a write go out in one send, without a copy between buffer pairs.
// One read and one write may be under way at a time, never both: what a read must answer (a
// key update) is sent before the read completes.
class TlsStream {
    struct Core;

  public:
    using executor_type = boost::beast::tcp_stream::executor_type;
    using next_layer_type = boost::beast::tcp_stream;
    using error_code = boost::system::error_code;

    // The most plaintext one write takes into its records before they go out.
    static constexpr std::size_t kWriteChunk = 64 * 1024;

    TlsStream(boost::beast::tcp_stream next, boost::asio::ssl::context& context);
    TlsStream(TlsStream&&) noexcept;
    ~TlsStream();

    executor_type get_executor() { return mNext.get_executor(); }
    next_layer_type& next_layer() { return mNext; }
    SSL* native_handle();

    template <class Handler>
    auto async_handshake(Handler&& handler) {
        return run(Op::Handshake, boost::asio::mutable_buffer(), std::forward<Handler>(handler));
    }

    // Sends close_notify; does not wait for the peer's.
    template <class Handler>
    auto async_shutdown(Handler&& handler) {
        return run(Op::Shutdown, boost::asio::mutable_buffer(), std::forward<Handler>(handler));
    }

    template <class MutableBuffers, class Handler>
    auto async_read_some(const MutableBuffers& buffers, Handler&& handler) {
        return run(Op::Read, firstBuffer(buffers), std::forward<Handler>(handler));
    }

    template <class ConstBuffers, class Handler>
    auto async_write_some(const ConstBuffers& buffers, Handler&& handler) {
        return boost::asio::async_compose<Handler, void(error_code, std::size_t)>(
            [this, buffers, started = false, taken = std::size_t(0)](auto& self, error_code ec = {},
                                                                     std::size_t = 0) mutable {
                if (!started) {
                    started = true;
                    for (auto it = boost::asio::buffer_sequence_begin(buffers);
                         it != boost::asio::buffer_sequence_end(buffers) && !ec; ++it)
                        taken += encrypt(*it, ec);
                    if (ec || taken == 0) return completeLater(self, ec, 0);
                    return boost::asio::async_write(mNext, pending(), std::move(self));
                }
                sent();
                self.complete(ec, ec ? 0 : taken);
            },
            handler, mNext);
    }

  private:
    enum class Op { Handshake, Read, Shutdown };
    // What one step of OpenSSL left to do.
    enum class Want { Input, Done };

    // A read fills one buffer, the first with room.
    template <class MutableBuffers>
    static boost::asio::mutable_buffer firstBuffer(const MutableBuffers& buffers) {
        for (auto it = boost::asio::buffer_sequence_begin(buffers);
             it != boost::asio::buffer_sequence_end(buffers); ++it)
            if (boost::asio::mutable_buffer(*it).size() > 0) return *it;
        return {};
    }

    // A handshake, read or shutdown: OpenSSL's step, then whatever it asks for (a send of
    // its records, more bytes), until it is done.
    template <class Handler>
    auto run(Op op, boost::asio::mutable_buffer buffer, Handler&& handler) {
        enum class State { Start, Receiving, Sending };
        return boost::asio::async_compose<Handler, void(error_code, std::size_t)>(
            [this, op, buffer, state = State::Start, want = Want::Done, result = std::size_t(0),
             failure = error_code()](auto& self, error_code ec = {}, std::size_t n = 0) mutable {
                const bool first = state == State::Start;
                if (state == State::Sending) {
                    sent();
                    if (ec) return self.complete(ec, 0);
                } else {
                    if (state == State::Receiving) {
                        if (ec && ec != boost::asio::error::eof) return self.complete(ec, 0);
                        received(n, ec == boost::asio::error::eof);
                    }
                    want = step(op, buffer, result, failure);
                    if (pending().size() > 0) {
                        state = State::Sending;
                        return boost::asio::async_write(mNext, pending(), std::move(self));
                    }
                }
                if (want == Want::Input) {
                    state = State::Receiving;
                    return mNext.async_read_some(receiveBuffer(), std::move(self));
                }
                if (first) return completeLater(self, failure, result);
                self.complete(failure, result);
            },
            handler, mNext);
    }

    // The initiating call must not complete the operation itself.
    template <class Self>
    void completeLater(Self& self, error_code ec, std::size_t n) {
        boost::asio::post(mNext.get_executor(),
                          [self = std::move(self), ec, n]() mutable { self.complete(ec, n); });
    }

    Want step(Op op, boost::asio::mutable_buffer buffer, std::size_t& result, error_code& failure);
    std::size_t encrypt(boost::asio::const_buffer buffer, error_code& ec);
    boost::asio::const_buffer pending() const;
    void sent();
    boost::asio::mutable_buffer receiveBuffer();
    void received(std::size_t n, bool end);

    // OpenSSL's way in and out: through the core's buffers.
    static BIO_METHOD* coreMethod();
    static int writeToCore(BIO* bio, const char* data, std::size_t size, std::size_t* written);
    static int readFromCore(BIO* bio, char* data, std::size_t size, std::size_t* read);

    boost::beast::tcp_stream mNext;
    std::unique_ptr<Core> mCore;
};

}  // namespace tavrolin::server
