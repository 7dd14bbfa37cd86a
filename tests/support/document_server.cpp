#include "support/document_server.h"

#include <httplib.h>

#include <strings.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace test_support {

std::string DocumentServer::Request::header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (strcasecmp(key.c_str(), name.c_str()) == 0) return value;
    return {};
}

bool DocumentServer::Request::hasHeader(const std::string& name) const {
    for (const auto& header : headers)
        if (strcasecmp(header.first.c_str(), name.c_str()) == 0) return true;
    return false;
}

DocumentServer::DocumentServer() : DocumentServer(Tls{}) {}

DocumentServer::DocumentServer(const Tls& tls) : mTls(!tls.certificateFile.empty()) {
    if (mTls)
        mServer = std::make_unique<httplib::SSLServer>(tls.certificateFile.c_str(),
                                                       tls.keyFile.c_str());
    else
        mServer = std::make_unique<httplib::Server>();
    auto handler = [this](const httplib::Request& req, httplib::Response& res) {
        Reply reply;
        std::string redirect;
        {
            std::lock_guard lock(mMutex);
            std::string target = req.path;
            if (!req.params.empty()) {
                // Keep the query exactly as sent.
                const auto q = req.target.find('?');
                if (q != std::string::npos) target += req.target.substr(q);
            }
            mRequests.push_back(
                {req.method, req.target.empty() ? target : req.target, req.body,
                 req.get_header_value("Content-Type"), {req.headers.begin(), req.headers.end()}});
            const auto forMethod = mMethodReplies.find(req.method);
            reply = forMethod != mMethodReplies.end() ? forMethod->second : mReply;
            redirect = mRedirect;
        }
        if (reply.held) {
            std::unique_lock lock(mMutex);
            mReleased.wait(lock, [this] { return mReleasing; });
        }
        if (!redirect.empty()) {
            res.set_redirect(redirect);
            return;
        }
        res.status = reply.status;
        res.set_content(reply.body, reply.contentType.c_str());
    };
    mServer->Get(".*", handler);
    // Read the body through a content reader: the plain handler refuses form bodies over 8 KB.
    mServer->Post(".*", [handler](const httplib::Request& req, httplib::Response& res,
                                  const httplib::ContentReader& content) {
        httplib::Request whole = req;
        content([&whole](const char* data, size_t length) {
            whole.body.append(data, length);
            return true;
        });
        handler(whole, res);
    });
    mPort = mServer->bind_to_any_port("127.0.0.1");
    if (mPort <= 0) throw std::runtime_error("DocumentServer: cannot bind");
    mThread = std::make_unique<std::thread>([this] { mServer->listen_after_bind(); });
    while (!mServer->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

DocumentServer::~DocumentServer() {
    stop();
}

void DocumentServer::stop() {
    if (!mThread) return;
    release();
    mServer->stop();
    mThread->join();
    mThread.reset();
}

std::string DocumentServer::baseUrl() const {
    return (mTls ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(mPort);
}

void DocumentServer::setReply(Reply reply) {
    std::lock_guard lock(mMutex);
    mReply = std::move(reply);
}

void DocumentServer::redirectTo(const std::string& location) {
    std::lock_guard lock(mMutex);
    mRedirect = location;
}

void DocumentServer::setReplyFor(const std::string& method, Reply reply) {
    std::lock_guard lock(mMutex);
    mMethodReplies[method] = std::move(reply);
}

std::vector<DocumentServer::Request> DocumentServer::requests() const {
    std::lock_guard lock(mMutex);
    return mRequests;
}

void DocumentServer::clearRequests() {
    std::lock_guard lock(mMutex);
    mRequests.clear();
}

void DocumentServer::release() {
    {
        std::lock_guard lock(mMutex);
        mReleasing = true;
    }
    mReleased.notify_all();
}

DocumentServer::Tls makeTestCertificates(const std::string& directory) {
    const std::string d = "'" + directory + "'";
    const std::string script =
        "cd " + d + " && "
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=TavrolinTestCA "
        "-keyout ca.key -out ca.pem >/dev/null 2>&1 && "
        "openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout server.key "
        "-out server.csr >/dev/null 2>&1 && "
        "printf 'subjectAltName=IP:127.0.0.1\\n' > san.ext && "
        "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 "
        "-extfile san.ext -out server.pem >/dev/null 2>&1";
    if (std::system(script.c_str()) != 0)
        throw std::runtime_error("makeTestCertificates: openssl failed");
    return {directory + "/server.pem", directory + "/server.key"};
}

int closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);  // bound, never listened: the port refuses connections
    return ntohs(addr.sin_port);
}

std::string vendorDocument(const std::string& vendorCount, const std::string& selectedCount,
                           const std::vector<Vendor>& nonSelected,
                           const std::vector<Vendor>& selected) {
    auto records = [](const std::vector<Vendor>& vendors) {
        std::string out;
        for (const Vendor& v : vendors)
            out += "<Vendor><ID>" + v.id + "</ID><Name>" + v.name + "</Name></Vendor>";
        return out;
    };
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><Vendors><Header><Counts><VendorCount>" +
           vendorCount + "</VendorCount><SelectedCount>" + selectedCount +
           "</SelectedCount></Counts></Header><NonSelected>" + records(nonSelected) +
           "</NonSelected><Selected>" + records(selected) + "</Selected></Vendors>";
}

}  // namespace test_support
