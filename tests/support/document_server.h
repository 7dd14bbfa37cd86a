#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <string>
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
        int delayMs = 0;
    };
    struct Request {
        std::string method;
        std::string target;  // path and query as sent
        std::string body;
        std::string contentType;
    };

    DocumentServer();
    ~DocumentServer();

    std::string baseUrl() const;  // "http://127.0.0.1:PORT", no trailing slash
    int port() const { return mPort; }

    void setReply(Reply reply);
    // A reply for one method ("GET", "POST") only, ahead of the common one.
    void setReplyFor(const std::string& method, Reply reply);
    void setDocument(const std::string& xml) { setReply({200, xml}); }
    std::vector<Request> requests() const;
    void clearRequests();

private:
    std::unique_ptr<httplib::Server> mServer;
    std::unique_ptr<std::thread> mThread;
    int mPort = 0;
    mutable std::mutex mMutex;
    Reply mReply;
    std::map<std::string, Reply> mMethodReplies;
    std::vector<Request> mRequests;
};

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
