#include "tls_stream.h"

#include <openssl/bio.h>
#include <openssl/err.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace tavrolin::server {

namespace asio = boost::asio;
namespace beast = boost::beast;
using error_code = TlsStream::error_code;

namespace {

// Room for one whole record as it arrives.
constexpr std::size_t kReceiveChunk = 17 * 1024;
// What a record adds to its plaintext, with room to spare: header, content type, tag.
constexpr std::size_t kRecordOverhead = 64;
constexpr std::size_t kRecordPlaintext = 16 * 1024;

}  // namespace

struct TlsStream::Core {
    SSL* ssl = nullptr;
    // Records still to send.
    std::string out;
    // Bytes received and not yet read by OpenSSL.
    beast::flat_buffer in;
    // The peer closed its side of the connection.
    bool end = false;

    ~Core() {
        if (ssl) SSL_free(ssl);
    }
};

namespace {

long controlCore(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int createCore(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

int destroyCore(BIO*) {
    return 1;
}

error_code lastSslError() {
    const auto code = ERR_get_error();
    if (code == 0) return asio::ssl::error::unspecified_system_error;
    return error_code(int(code), asio::error::get_ssl_category());
}

}  // namespace

BIO_METHOD* TlsStream::coreMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* made =
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tavrolin tls buffers");
        if (!made || !BIO_meth_set_write_ex(made, writeToCore) ||
            !BIO_meth_set_read_ex(made, readFromCore) || !BIO_meth_set_ctrl(made, controlCore) ||
            !BIO_meth_set_create(made, createCore) || !BIO_meth_set_destroy(made, destroyCore))
            throw std::bad_alloc();
        return made;
    }();
    return method;
}

int TlsStream::writeToCore(BIO* bio, const char* data, std::size_t size, std::size_t* written) {
    static_cast<Core*>(BIO_get_data(bio))->out.append(data, size);
    *written = size;
    return 1;
}

int TlsStream::readFromCore(BIO* bio, char* data, std::size_t size, std::size_t* read) {
    auto* core = static_cast<Core*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    *read = std::min(size, core->in.size());
    if (*read == 0) {
        // No more bytes now, or none ever.
        if (!core->end) BIO_set_retry_read(bio);
        return 0;
    }
    std::memcpy(data, core->in.data().data(), *read);
    core->in.consume(*read);
    return 1;
}

TlsStream::TlsStream(beast::tcp_stream next, asio::ssl::context& context)
    : mNext(std::move(next)), mCore(std::make_unique<Core>()) {
    mCore->ssl = SSL_new(context.native_handle());
    if (!mCore->ssl) throw boost::system::system_error(lastSslError(), "SSL_new");
    BIO* bio = BIO_new(coreMethod());
    if (!bio) throw boost::system::system_error(lastSslError(), "BIO_new");
    BIO_set_data(bio, mCore.get());
    SSL_set_bio(mCore->ssl, bio, bio);
    // An idle connection keeps no record buffers.
    SSL_set_mode(mCore->ssl, SSL_MODE_RELEASE_BUFFERS);
    SSL_set_accept_state(mCore->ssl);
}

TlsStream::TlsStream(TlsStream&&) noexcept = default;
TlsStream::~TlsStream() = default;

SSL* TlsStream::native_handle() {
    return mCore->ssl;
}

TlsStream::Want TlsStream::step(Op op, asio::mutable_buffer buffer, std::size_t& result,
                                error_code& failure) {
    SSL* ssl = mCore->ssl;
    ERR_clear_error();
    int status = 0;
    switch (op) {
        case Op::Handshake:
            status = SSL_do_handshake(ssl);
            if (status == 1) return Want::Done;
            break;
        case Op::Shutdown:
            // 0 says close_notify went out and the peer's has not come, which is not awaited.
            status = SSL_shutdown(ssl);
            if (status >= 0) return Want::Done;
            break;
        case Op::Read: {
            if (buffer.size() == 0) return Want::Done;
            std::size_t n = 0;
            status = SSL_read_ex(ssl, buffer.data(), buffer.size(), &n);
            if (status == 1) {
                result = n;
                return Want::Done;
            }
            break;
        }
    }
    const int error = SSL_get_error(ssl, status);
    if (error == SSL_ERROR_WANT_READ && !mCore->end) return Want::Input;
    // A connection that ended without close_notify is cut, whichever way OpenSSL says so.
    const bool cut =
        mCore->end && (error != SSL_ERROR_SSL ||
                       ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING);
    if (error == SSL_ERROR_ZERO_RETURN)
        failure = asio::error::eof;
    else if (cut)
        failure = asio::ssl::error::stream_truncated;
    else
        failure = lastSslError();
    return Want::Done;
}

std::size_t TlsStream::encrypt(asio::const_buffer buffer, error_code& ec) {
    auto& out = mCore->out;
    const std::size_t size =
        std::min(buffer.size(), out.size() < kWriteChunk ? kWriteChunk - out.size() : 0);
    if (size == 0) return 0;
    // Room for the records at once; the buffer keeps the largest size a write needed.
    out.reserve(out.size() + size + (size / kRecordPlaintext + 1) * kRecordOverhead);
    ERR_clear_error();
    std::size_t written = 0;
    if (SSL_write_ex(mCore->ssl, buffer.data(), size, &written) != 1) {
        ec = lastSslError();
        return 0;
    }
    return written;
}

asio::const_buffer TlsStream::pending() const {
    return asio::buffer(mCore->out);
}

// The send buffer is kept from one write to the next: made anew for each, it would cost a
// fresh allocation and its page faults per reply.
void TlsStream::sent() {
    mCore->out.clear();
}

asio::mutable_buffer TlsStream::receiveBuffer() {
    return mCore->in.prepare(kReceiveChunk);
}

void TlsStream::received(std::size_t n, bool end) {
    mCore->in.commit(n);
    if (end) mCore->end = true;
}

}  // namespace tavrolin::server
