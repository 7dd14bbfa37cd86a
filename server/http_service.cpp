#include "http_service.h"

#include <charconv>
#include <cstdio>
#include <mutex>

#include "common/page_path.h"
#include "form_decoding.h"
#include "link_store.h"
#include "statement_parser.h"
#include "vendor_document.h"

namespace tavrolin::server {

namespace {

constexpr const char* kPlainText = "text/plain; charset=utf-8";
constexpr const char* kNothingSaved = " Nothing was saved.";

std::mutex gLogMutex;

void logLine(const std::string& line) {
    std::lock_guard lock(gLogMutex);
    std::fputs(line.c_str(), stderr);
    std::fputc('\n', stderr);
}

PostReply refuse(int status, std::string reason) {
    return {status, "The change was refused because " + std::move(reason) + "." + kNothingSaved};
}

PostReply refuseTooLarge() {
    return refuse(413, "it is larger than the " + std::to_string(kMaxPostBytes / 1024 / 1024) +
                           " MB this page accepts");
}

// The declared body size; 0 when absent or unreadable, in which case reading enforces the limit.
std::uint64_t contentLength(const httplib::Request& req) {
    const auto text = req.get_header_value("Content-Length");
    std::uint64_t length = 0;
    std::from_chars(text.data(), text.data() + text.size(), length);
    return length;
}

bool parseEmployeeId(const std::string& text, std::int64_t& employeeId) {
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) return false;
    employeeId = value;
    return true;
}

}  // namespace

PostReply handleChangePost(ConnectionPool& pool, std::string_view contentType,
                           std::string_view body) {
    if (!isFormContentType(contentType))
        return refuse(400, "it was not sent as a form (application/x-www-form-urlencoded)");
    if (body.size() > kMaxPostBytes) return refuseTooLarge();

    const auto form = decodeFormBody(body);
    if (!form.ok) return refuse(400, "the form is malformed (" + form.error + ")");

    std::vector<LinkStatement> statements;
    statements.reserve(form.fields.size());
    for (std::size_t i = 0; i < form.fields.size(); ++i) {
        if (form.fields[i].name != "SQL")
            return refuse(400, "the form holds a field other than SQL");
        auto parsed = parseLinkStatement(form.fields[i].value);
        if (!parsed.ok)
            return refuse(422, "statement " + std::to_string(i + 1) +
                                   " is not a vendor link insert or delete that this page runs");
        statements.push_back(std::move(parsed.statement));
    }
    if (statements.empty()) return {200, ""};

    try {
        auto connection = pool.acquire();
        const auto result = applyLinkStatements(*connection, statements);
        const auto vendor = std::to_string(result.vendorId);
        switch (result.outcome) {
            case ApplyResult::Outcome::Applied:
                return {200, ""};
            case ApplyResult::Outcome::UnknownVendor:
                return refuse(422, "vendor " + vendor + " does not exist");
            case ApplyResult::Outcome::InactiveVendor:
                return refuse(422, "vendor " + vendor + " is inactive");
        }
    } catch (const DatabaseError& error) {
        logLine(std::string("database error: ") + error.what());
        if (error.isBusy())
            return {503, "The database is busy, so the change was not saved. Please try again."};
    }
    return {500, "The change could not be saved because of a database error. Nothing was saved."};
}

HttpService::HttpService(ConnectionPool& pool, int workers) : mPool(pool) {
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
    mServer.Get("/health", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("ok", kPlainText);
    });

    mServer.Get(kPagePath, [this](const httplib::Request& req, httplib::Response& res) {
        std::int64_t employeeId = 0;
        if (!req.has_param("EmployeeID") ||
            !parseEmployeeId(req.get_param_value("EmployeeID"), employeeId)) {
            res.status = 400;
            res.set_content("EmployeeID must be given as a whole number.", kPlainText);
            return;
        }
        std::shared_ptr<const std::string> document;
        try {
            auto connection = mPool.acquire();
            const auto version = changeVersion(*connection);
            document = mCache.find(employeeId, version);
            if (!document) {
                auto loaded = loadVendorDocument(*connection, employeeId);
                document = std::make_shared<const std::string>(std::move(loaded.body));
                mCache.store(employeeId, loaded.version, document);
            }
        } catch (const DatabaseError& error) {
            logLine(std::string("database error: ") + error.what());
            res.status = error.isBusy() ? 503 : 500;
            res.set_content("The vendor list could not be read from the database.", kPlainText);
            return;
        }
        // The cached text is shared between requests; hand it out without copying.
        res.set_content_provider(
            document->size(), "text/xml; charset=utf-8",
            [document](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                return sink.write(document->data() + offset, length);
            });
    });

    mServer.Post(kPagePath, [this](const httplib::Request& req, httplib::Response& res,
                                   const httplib::ContentReader& reader) {
        const auto contentType = req.get_header_value("Content-Type");
        // A body over the limit is still read, up to the transport's own limit, and thrown
        // away: a client that is cut off while sending never sees the reply saying why.
        std::string body;
        bool tooLarge = false;
        const bool complete = reader([&](const char* data, std::size_t length) {
            if (tooLarge || body.size() + length > kMaxPostBytes) {
                tooLarge = true;
                body.clear();
            } else {
                body.append(data, length);
            }
            return true;
        });
        PostReply reply;
        if (tooLarge || !complete) {
            reply = tooLarge || contentLength(req) > kMaxPostBytes
                        ? refuseTooLarge()
                        : refuse(400, "its body could not be read");
            if (!complete) res.set_header("Connection", "close");
        } else {
            reply = handleChangePost(mPool, contentType, body);
        }
        res.status = reply.status;
        if (!reply.text.empty()) res.set_content(reply.text, kPlainText);
    });

    mServer.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty() || res.content_length_ > 0) return;
        const auto text = res.status == 404   ? "Not found."
                          : res.status == 413 ? "The request is too large. Nothing was saved."
                                              : "The request was refused.";
        res.set_content(text, kPlainText);
    });

    mServer.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        const auto size = res.body.empty() ? res.content_length_ : res.body.size();
        logLine(req.remote_addr + " \"" + req.method + " " + req.target + "\" " +
                std::to_string(res.status) + " " + std::to_string(size));
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
