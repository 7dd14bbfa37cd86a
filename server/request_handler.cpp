#include "request_handler.h"

#include <charconv>

#include "common/page_path.h"
#include "compression.h"
#include "cross_site.h"
#include "form_decoding.h"
#include "sign_in_gate.h"
#include "statement_parser.h"
#include "users.h"

namespace tavrolin::server {

namespace {

constexpr const char* kPlainText = "text/plain; charset=utf-8";
constexpr const char* kNothingSaved = " Nothing was saved.";
constexpr const char* kBasicChallenge = "Basic realm=\"Tavrolin\"";

PostReply refuse(int status, std::string reason) {
    return {status, "The change was refused because " + std::move(reason) + "." + kNothingSaved};
}

PostReply refuseTooLarge() {
    return refuse(413, "it is larger than the " + std::to_string(kMaxPostBytes / 1024 / 1024) +
                           " MB this page accepts");
}

HttpResponse textResponse(int status, std::string text) {
    HttpResponse response;
    response.status = status;
    if (!text.empty()) {
        response.contentType = kPlainText;
        response.body = std::make_shared<const std::string>(std::move(text));
    }
    return response;
}

HttpResponse fromPostReply(PostReply reply) {
    return textResponse(reply.status, std::move(reply.text));
}

// Requests for the page, which need sign-in when there are users; /health and unknown paths
// are answered without.
bool isPageRequest(const HttpRequest& request, bool& read) {
    read = request.method == "GET" || request.method == "HEAD";
    if (!read && request.method != "POST") return false;
    const std::string_view target = request.target;
    return target.substr(0, target.find('?')) == tavrolin::kPagePath;
}

bool announcesBody(const HttpRequest& header) {
    const auto length = findHeader(header.headers, "Content-Length");
    return findHeader(header.headers, "Transfer-Encoding") || (length && *length != "0");
}

HttpResponse foreignPostRefusal() {
    return fromPostReply(refuse(403, "it was sent by a web page of another site"));
}

HttpResponse signInRefusal(bool read, std::string user) {
    auto response =
        read ? textResponse(401, "The vendor list needs a valid user name and password.")
             : fromPostReply(refuse(401, "it did not carry a valid user name and password"));
    response.headers.emplace_back("WWW-Authenticate", kBasicChallenge);
    response.user = std::move(user);
    return response;
}

HttpResponse throttledRefusal(bool read, std::string user, std::int64_t seconds) {
    const auto wait = std::to_string(seconds);
    auto response =
        read ? textResponse(429, "Too many sign-ins from this address failed; try again in " +
                                     wait + " seconds.")
             : fromPostReply(refuse(429,
                                    "too many sign-ins from this address failed; try "
                                    "again in " +
                                        wait + " seconds"));
    response.headers.emplace_back("Retry-After", wait);
    response.user = std::move(user);
    return response;
}

HttpResponse busyRefusal(bool read, std::string user, std::int64_t seconds) {
    auto response =
        read
            ? textResponse(503, "The server is busy checking passwords; please try again.")
            : fromPostReply(refuse(503, "the server is busy checking passwords; please try again"));
    response.headers.emplace_back("Retry-After", std::to_string(seconds));
    response.user = std::move(user);
    return response;
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

bool splitTarget(std::string_view target, std::string& path,
                 std::vector<std::pair<std::string, std::string>>& query) {
    const auto mark = target.find('?');
    path = std::string(target.substr(0, mark));
    query.clear();
    if (mark == std::string_view::npos) return true;
    std::string_view rest = target.substr(mark + 1);
    while (!rest.empty()) {
        const auto amp = rest.find('&');
        const auto pair = rest.substr(0, amp);
        rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
        if (pair.empty()) continue;
        const auto equals = pair.find('=');
        std::string name, value;
        if (!decodeFormComponent(pair.substr(0, equals), name)) return false;
        if (equals != std::string_view::npos &&
            !decodeFormComponent(pair.substr(equals + 1), value))
            return false;
        query.emplace_back(std::move(name), std::move(value));
    }
    return true;
}

PostReply handleChangePost(LinkStorage& storage, std::string_view contentType,
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
        const auto result = storage.applyLinkStatements(statements);
        const auto vendor = std::to_string(result.vendorId);
        switch (result.outcome) {
            case ApplyResult::Outcome::Applied:
                return {200, ""};
            case ApplyResult::Outcome::UnknownVendor:
                return refuse(422, "vendor " + vendor + " does not exist");
            case ApplyResult::Outcome::InactiveVendor:
                return refuse(422, "vendor " + vendor + " is inactive");
        }
    } catch (const StorageError& error) {
        logLine(std::string("database error: ") + error.what());
        if (error.transient())
            return refuse(503, "the database is busy or unavailable; please try again");
    }
    return {500, "The change could not be saved because of a database error. Nothing was saved."};
}

RequestHandler::RequestHandler(LinkStorage& storage, HandlerSettings settings)
    : mStorage(storage), mSettings(std::move(settings)) {
    if (mSettings.users) mSignIn = std::make_unique<SignInGate>(*mSettings.users, mSettings.signIn);
}

RequestHandler::~RequestHandler() = default;

void RequestHandler::finishSignIns() {
    if (mSignIn) mSignIn->finish();
}

void RequestHandler::admit(const HttpRequest& header, AdmitDecision decide) {
    bool read = false;
    if (!mSignIn) return decide(std::nullopt);
    if (!isPageRequest(header, read)) {
        // Only posts to the page take a body, and only from users who sign in: any other is
        // answered from its header, which needs neither the body nor the database.
        return decide(announcesBody(header) ? std::optional(handle(header)) : std::nullopt);
    }
    // Refused whoever signs in, so its body need not be read either.
    if (!read && isForeignPost(header.headers, mSettings.allowedOrigins))
        return decide(foreignPostRefusal());
    mSignIn->check(
        header.remoteAddress, findHeader(header.headers, "Authorization"),
        [read, decide = std::move(decide)](SignInGate::Outcome outcome) {
            using Verdict = SignInGate::Outcome::Verdict;
            switch (outcome.verdict) {
                case Verdict::SignedIn:
                    return decide(std::nullopt);
                case Verdict::Refused:
                    return decide(signInRefusal(read, std::move(outcome.user)));
                case Verdict::Throttled:
                    return decide(
                        throttledRefusal(read, std::move(outcome.user), outcome.retryAfter));
                case Verdict::Busy:
                    return decide(busyRefusal(read, std::move(outcome.user), outcome.retryAfter));
            }
        });
}

HttpResponse RequestHandler::handle(const HttpRequest& request) {
    std::string path;
    std::vector<std::pair<std::string, std::string>> query;
    const bool queryOk = splitTarget(request.target, path, query);

    const bool read = request.method == "GET" || request.method == "HEAD";
    if (path == "/health" && read) return textResponse(200, "ok");
    if (path != tavrolin::kPagePath || (!read && request.method != "POST"))
        return textResponse(404, "Not found.");

    // A page of another site must not post through a browser's stored sign-in either, so
    // this comes first.
    if (!read && isForeignPost(request.headers, mSettings.allowedOrigins))
        return foreignPostRefusal();

    std::string user;
    if (mSettings.users) {
        // Admission hashed these credentials and remembered them, so this costs a digest. It
        // refuses only when the user's password changed in between, and never hashes here:
        // a worker must not wait on a password.
        const auto signIn =
            mSettings.users->checkRemembered(findHeader(request.headers, "Authorization"));
        if (!signIn.signedIn) return signInRefusal(read, signIn.user);
        user = signIn.user;
    }

    HttpResponse response;
    if (read) {
        std::int64_t employeeId = 0;
        const std::string* text = nullptr;
        for (const auto& [name, value] : query)
            if (name == "EmployeeID") {
                text = &value;
                break;
            }
        if (!queryOk || !text || !parseEmployeeId(*text, employeeId))
            response = textResponse(400, "EmployeeID must be given as a whole number.");
        else
            response = vendorDocument(request, employeeId);
    } else {
        const auto contentType = findHeader(request.headers, "Content-Type");
        response =
            fromPostReply(handleChangePost(mStorage, contentType.value_or(""), request.body));
    }
    response.user = std::move(user);
    return response;
}

HttpResponse RequestHandler::vendorDocument(const HttpRequest& request, std::int64_t employeeId) {
    std::shared_ptr<const CachedDocument> document;
    try {
        const auto version = mStorage.changeVersion();
        document = mCache.find(employeeId, version);
        if (!document) {
            auto loaded = mStorage.loadVendorDocument(employeeId);
            document = std::make_shared<const CachedDocument>(std::move(loaded.body));
            mCache.store(employeeId, loaded.version, document);
        }
    } catch (const StorageError& error) {
        logLine(std::string("database error: ") + error.what());
        return textResponse(error.transient() ? 503 : 500,
                            "The vendor list could not be read from the database.");
    }
    HttpResponse response;
    response.contentType = "text/xml; charset=utf-8";
    // Caches between here and the client must keep the two forms apart.
    response.headers.emplace_back("Vary", "Accept-Encoding");
    // The body points into the cached document, which it keeps alive while it is sent.
    response.body = std::shared_ptr<const std::string>(document, &document->plain());
    const auto acceptEncoding = findHeader(request.headers, "Accept-Encoding");
    if (mSettings.compress && acceptEncoding && acceptsGzip(*acceptEncoding)) {
        try {
            response.body = std::shared_ptr<const std::string>(document, &document->gzip());
            response.headers.emplace_back("Content-Encoding", "gzip");
        } catch (const std::exception& error) {
            logLine(std::string("sending the vendor list uncompressed: ") + error.what());
        }
    }
    return response;
}

HttpResponse RequestHandler::tooLarge() const {
    auto response = fromPostReply(refuseTooLarge());
    response.closeConnection = true;
    return response;
}

HttpResponse RequestHandler::unreadableBody() const {
    auto response = fromPostReply(refuse(400, "its body could not be read"));
    response.closeConnection = true;
    return response;
}

void RequestHandler::logAccess(const HttpRequest& request, const HttpResponse& response) const {
    // Sign-ins refused by the throttle are logged once per burst, by the throttle, so that a
    // guesser cannot flood the log.
    if (response.status == 429) return;
    // Never the Authorization header: only the name, and only as escaped text.
    std::string line = escapeLogText(request.remoteAddress) + " \"" +
                       escapeLogText(request.method) + " " + escapeLogText(request.target) + "\" " +
                       std::to_string(response.status) + " " + std::to_string(response.bodySize());
    if (!response.user.empty()) line += " user \"" + escapeLogText(response.user) + "\"";
    logLine(line);
}

}  // namespace tavrolin::server
