// The server's TLS stream against a blocking OpenSSL client, in process: data far larger than
// a record and than one write of the stream arrives whole both ways, and a read tells a
// close_notify from a connection that was cut.

#include <openssl/ssl.h>

#include <utility>  // before Asio, whose awaitable.hpp needs std::exchange

#include <gtest/gtest.h>
#include <boost/asio.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/use_future.hpp>
#include <memory>
#include <string>
#include <thread>

#include "scratch_directory.h"
#include "server_process.h"
#include "tls_stream.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
using tavrolin::server::TlsStream;
using tcp = asio::ip::tcp;

namespace {

std::string pattern(std::size_t size, unsigned seed) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) data[i] = char((i * seed + i / 7) % 251);
    return data;
}

// The client's side, blocking: sends `request`, reads `replySize` bytes and then either
// says close_notify or just closes the socket.
void runClient(int port, std::string request, std::size_t replySize, bool closeNotify,
               std::string& reply) {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_client_method()),
                                                              &SSL_CTX_free);
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(context.get()), &SSL_free);
    asio::io_context io;
    tcp::socket socket(io);
    socket.connect({asio::ip::make_address("127.0.0.1"), std::uint16_t(port)});
    SSL_set_fd(ssl.get(), socket.native_handle());
    if (SSL_connect(ssl.get()) != 1) return;
    SSL_write(ssl.get(), request.data(), int(request.size()));
    char chunk[10000];
    while (reply.size() < replySize) {
        const int n = SSL_read(ssl.get(), chunk, sizeof chunk);
        if (n <= 0) return;
        reply.append(chunk, std::size_t(n));
    }
    if (closeNotify) SSL_shutdown(ssl.get());
}

}  // namespace

TEST(TlsStream, CarriesLargeDataBothWaysAndTellsCloseNotifyFromACut) {
    tavrolin::test::ScratchDirectory directory;
    ASSERT_TRUE(tavrolin::test::makeCertificate(directory.path, "server"));
    asio::ssl::context context(asio::ssl::context::tls_server);
    context.use_certificate_chain_file(directory / "server.pem");
    context.use_private_key_file(directory / "server.key", asio::ssl::context::pem);

    asio::io_context io;
    auto running = asio::make_work_guard(io);
    std::thread ioThread([&] { io.run(); });
    tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
    const int port = acceptor.local_endpoint().port();

    for (const bool closeNotify : {true, false}) {
        SCOPED_TRACE(closeNotify ? "close_notify" : "cut");
        // Several records, and more than one write of the stream's, each way.
        const std::string request = pattern(3 * TlsStream::kWriteChunk + 123, 31);
        const std::string reply = pattern(5 * TlsStream::kWriteChunk + 4567, 17);
        std::string received;
        std::thread client(runClient, port, request, reply.size(), closeNotify, std::ref(received));

        TlsStream stream(beast::tcp_stream(acceptor.accept()), context);
        stream.async_handshake(asio::use_future).get();
        std::string got(request.size(), '\0');
        EXPECT_EQ(asio::async_read(stream, asio::buffer(got), asio::use_future).get(),
                  request.size());
        EXPECT_TRUE(got == request);
        EXPECT_EQ(asio::async_write(stream, asio::buffer(reply), asio::use_future).get(),
                  reply.size());
        char rest[16];
        try {
            stream.async_read_some(asio::buffer(rest), asio::use_future).get();
            ADD_FAILURE() << "a read after the client's end brought data";
        } catch (const boost::system::system_error& error) {
            EXPECT_EQ(error.code(), closeNotify ? boost::system::error_code(asio::error::eof)
                                                : asio::ssl::error::stream_truncated)
                << error.code().message();
        }
        client.join();
        EXPECT_EQ(received.size(), reply.size());
        EXPECT_TRUE(received == reply);
    }
    running.reset();
    ioThread.join();
}
