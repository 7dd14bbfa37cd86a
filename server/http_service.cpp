#include "http_service.h"

#include <charconv>

namespace tavrolin::server {

namespace {

// The declared body size; 0 when absent or unreadable, in which case reading enforces the limit.
std::uint64_t contentLength(const httplib::Request& req) {
    const auto text = req.get_header_value("Content-Length");
    std::uint64_t length = 0;
    std::from_chars(text.data(), text.data() + text.size(), length);
    return length;
}

HttpRequest toRequest(const httplib::Request& req) {
    HttpRequest request;
    request.method = req.method;
    request.target = req.target;
    request.remoteAddress = req.remote_addr;
    request.headers.assign(req.headers.begin(), req.headers.end());
    return request;
}

void send(const HttpResponse& response, httplib::Response& res) {
    res.status = response.status;
    for (const auto& [name, value] : response.headers) res.set_header(name, value);
    if (response.closeConnection) res.set_header("Connection", "close");
    if (!response.body) return;
    // The body may be a cached document shared between requests; hand it out without copying.
    const auto body = response.body;
    res.set_content_provider(
        body->size(), response.contentType.c_str(),
        [body](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            return sink.write(body->data() + offset, length);
        });
}

}  // namespace

HttpService::HttpService(RequestHandler& handler, int workers) : mHandler(handler) {
    // The server takes ownership of the queue it creates; the API allows no other form.
    mServer.new_task_queue = [workers] { return new httplib::ThreadPool(std::size_t(workers)); };
    mServer.set_payload_max_length(kMaxPostBytes * 2);
    mServer.set_read_timeout(10);
    mServer.set_write_timeout(10);
    mServer.set_keep_alive_timeout(2);
    mServer.set_keep_alive_max_count(1000);
    routes();
}

HttpService::~HttpService() = default;

void HttpService::routes() {
    const auto get = [this](const httplib::Request& req, httplib::Response& res) {
        const auto request = toRequest(req);
        const auto response = mHandler.handle(request);
        mHandler.logAccess(request, response);
        send(response, res);
    };
    mServer.Get(".*", get);
    mServer.Post(".*", [this](const httplib::Request& req, httplib::Response& res,
                              const httplib::ContentReader& reader) {
        auto request = toRequest(req);
        // A body over the limit is still read, up to the transport's own limit, and thrown
        // away: a client that is cut off while sending never sees the reply saying why.
        bool tooLarge = false;
        const bool complete = reader([&](const char* data, std::size_t length) {
            if (tooLarge || request.body.size() + length > kMaxPostBytes) {
                tooLarge = true;
                request.body.clear();
            } else {
                request.body.append(data, length);
            }
            return true;
        });
        HttpResponse response;
        if (tooLarge || !complete) {
            response = tooLarge || contentLength(req) > kMaxPostBytes ? mHandler.tooLarge()
                                                                      : mHandler.unreadableBody();
            response.closeConnection = !complete;
        } else {
            response = mHandler.handle(request);
        }
        mHandler.logAccess(request, response);
        send(response, res);
    });

    mServer.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty() || res.content_length_ > 0) return;
        const auto text = res.status == 404   ? "Not found."
                          : res.status == 413 ? "The request is too large. Nothing was saved."
                                              : "The request was refused.";
        res.set_content(text, "text/plain; charset=utf-8");
        logLine(escapeLogText(req.remote_addr) + " \"" + escapeLogText(req.method) + " " +
                escapeLogText(req.target) + "\" " +
                std::to_string(res.status) + " " + std::to_string(res.body.size()));
    });
}

int HttpService::bind(const std::string& host, int port) {
    if (port == 0) return mServer.bind_to_any_port(host);
    return mServer.bind_to_port(host, port) ? port : -1;
}

bool HttpService::serve() {
    return mServer.listen_after_bind();
}

void HttpService::stop() {
    mServer.stop();
}

bool HttpService::isRunning() const {
    return mServer.is_running();
}

}  // namespace tavrolin::server
