#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace test_support {

// A small HTTP server on 127.0.0.1 that answers every request with a crafted reply and records
// what it was asked. It runs on its own thread, so a control that blocks its caller while it
// loads still gets its answer.
class DocumentServer {
public:
    struct Reply {
        int status = 200;
        std::string body;
        std::string contentType = "text/xml; charset=utf-8";
        // Kept back until release(), so that a client's timeout or a look at what the client
        // does while it waits comes first, however slow the machine.
        bool held = false;
    };
    struct Request {
        std::string method;
        std::string target;  // path and query as sent
        std::string body;
        std::string contentType;
        std::vector<std::pair<std::string, std::string>> headers;  // as received

        // The first header of that name (any case); empty when there is none.
        std::string header(const std::string& name) const;
        bool hasHeader(const std::string& name) const;
    };

    // A server certificate and key (PEM files) for https.
    struct Tls {
        std::string certificateFile;
        std::string keyFile;
    };

    DocumentServer();
    explicit DocumentServer(const Tls& tls);
    ~DocumentServer();

    // "http://127.0.0.1:PORT" or "https://127.0.0.1:PORT", no trailing slash
    std::string baseUrl() const;
    int port() const { return mPort; }

    void setReply(Reply reply);
    // A reply for one method ("GET", "POST") only, ahead of the common one.
    void setReplyFor(const std::string& method, Reply reply);
    void setDocument(const std::string& xml) { setReply({200, xml}); }
    // Answers every request with a redirect (302) to this address.
    void redirectTo(const std::string& location);
    std::vector<Request> requests() const;
    void clearRequests();
    // Sends the held replies, and from now on every reply at once.
    void release();
    // Stops listening, as a server that has gone away; its port is free again.
    void stop();

  private:
    std::unique_ptr<httplib::Server> mServer;
    std::unique_ptr<std::thread> mThread;
    int mPort = 0;
    bool mTls = false;
    mutable std::mutex mMutex;
    std::condition_variable mReleased;
    bool mReleasing = false;
    Reply mReply;
    std::map<std::string, Reply> mMethodReplies;
    std::string mRedirect;
    std::vector<Request> mRequests;
};

// Makes a certificate authority and a server certificate for 127.0.0.1 signed by it, with the
// openssl command, in directory: ca.pem, server.pem and server.key.
DocumentServer::Tls makeTestCertificates(const std::string& directory);

// A loopback port that nothing listens on.
int closedPort();

// Builds a vendor document in the shape the server sends (positions, not names, matter).
struct Vendor {
    std::string id, name;
};
std::string vendorDocument(const std::string& vendorCount, const std::string& selectedCount,
                           const std::vector<Vendor>& nonSelected,
                           const std::vector<Vendor>& selected);

}  // namespace test_support
