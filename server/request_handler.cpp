#include "request_handler.h"

#include <algorithm>
#include <charconv>
#include <chrono>

#include "common/page_path.h"
#include "compression.h"
#include "cross_site.h"
#include "form_decoding.h"
#include "metrics.h"
#include "sign_in_gate.h"
#include "statement_parser.h"
#include "users.h"

namespace tavrolin::server {

namespace {

constexpr const char* kPlainText = "text/plain; charset=utf-8";
constexpr const char* kNothingSaved = " Nothing was saved.";
constexpr const char* kCommitOutcomeUnknown =
    "The connection to the database was lost while the changes were being committed, so they "
    "may or may not have been saved. Committing again is safe.";
constexpr const char* kBasicChallenge = "Basic realm=\"Tavrolin\"";
constexpr const char* kMetricsPath = "/metrics";
constexpr const char* kViewerRefused =
    "You may view these vendor links but not change them. Nothing was saved.";

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

// Runs `work` and adds its duration to `histogram`, whatever it returns.
template <class Work>
auto timed(DurationHistogram& histogram, Work work) {
    struct Stopwatch {
        DurationHistogram& histogram;
        std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
        ~Stopwatch() { histogram.observe(std::chrono::steady_clock::now() - start); }
    } stopwatch{histogram};
    return work();
}

void countApplied(const std::vector<LinkStatement>& statements, const ApplyResult& result) {
    std::uint64_t inserts = 0, deletes = 0;
    for (const auto& statement : statements) {
        if (std::holds_alternative<LinkInsert>(statement))
            ++inserts;
        else
            deletes += std::get<LinkDelete>(statement).vendorIds.size();
    }
    metrics().postsApplied.add();
    metrics().linkInserts.add(inserts);
    metrics().linkDeletes.add(deletes);
    metrics().linksCreated.add(result.linksCreated);
    metrics().linksRemoved.add(result.linksRemoved);
}

// Requests for the page and reads of the metrics, which need sign-in when there are users;
// /health and unknown paths are answered without.
bool isPageRequest(const HttpRequest& request, bool& read) {
    read = request.method == "GET" || request.method == "HEAD";
    if (!read && request.method != "POST") return false;
    const std::string_view target = request.target;
    const auto path = target.substr(0, target.find('?'));
    return path == tavrolin::kPagePath || (read && path == kMetricsPath);
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

// The first EmployeeID of a page request's query, when it is a whole number.
bool queryEmployeeId(const std::vector<std::pair<std::string, std::string>>& query,
                     std::int64_t& employeeId) {
    const auto field = std::find_if(query.begin(), query.end(),
                                    [](const auto& pair) { return pair.first == "EmployeeID"; });
    return field != query.end() && parseEmployeeId(field->second, employeeId);
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

PostReply handleChangePost(LinkStorage& storage, const ChangeAuthor& author,
                           std::string_view contentType, std::string_view body) {
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
        const auto result = storage.applyLinkStatements(statements, author);
        const auto vendor = std::to_string(result.vendorId);
        switch (result.outcome) {
            case ApplyResult::Outcome::Applied:
                countApplied(statements, result);
                return {200, ""};
            case ApplyResult::Outcome::UnknownVendor:
                return refuse(422, "vendor " + vendor + " does not exist");
            case ApplyResult::Outcome::InactiveVendor:
                return refuse(422, "vendor " + vendor + " is inactive");
        }
    } catch (const CommitOutcomeUnknown& error) {
        metrics().databaseErrors.add();
        logLine(std::string("database error: ") + error.what());
        return {503, kCommitOutcomeUnknown};
    } catch (const StorageError& error) {
        metrics().databaseErrors.add();
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
    const bool metricsPage = path == kMetricsPath && read;
    if (!metricsPage && (path != tavrolin::kPagePath || (!read && request.method != "POST")))
        return textResponse(404, "Not found.");

    // A page of another site must not post through a browser's stored sign-in either, so
    // this comes first.
    if (!read && isForeignPost(request.headers, mSettings.allowedOrigins))
        return foreignPostRefusal();
    // Without sign-in nobody can be told apart, so only this machine may look.
    if (metricsPage && !mSettings.users && !isLocalRequest(request))
        return textResponse(403, "The metrics may be read only on the server's own machine.");

    // Without sign-in, whoever reaches the server may do all it offers them.
    std::string user;
    Role role = Role::Admin;
    if (mSettings.users) {
        // Admission hashed these credentials and remembered them, so this costs a digest. It
        // refuses only when the user's password changed in between, and never hashes here:
        // a worker must not wait on a password.
        const auto signIn =
            mSettings.users->checkRemembered(findHeader(request.headers, "Authorization"));
        if (!signIn.signedIn) {
            auto response = signInRefusal(read, signIn.user);
            if (metricsPage)
                response.body = std::make_shared<const std::string>(
                    "The metrics need a valid user name and password.");
            return response;
        }
        user = signIn.user;
        role = signIn.role;
    }

    HttpResponse response;
    if (metricsPage) {
        if (role == Role::Admin) {
            response.contentType = kMetricsContentType;
            response.body = std::make_shared<const std::string>(metrics().exposition());
        } else {
            response = textResponse(403, "The metrics are for admin users only.");
        }
    } else if (read) {
        std::int64_t employeeId = 0;
        if (!queryOk || !queryEmployeeId(query, employeeId))
            response = textResponse(400, "EmployeeID must be given as a whole number.");
        else
            response = timed(metrics().documentDuration,
                             [&] { return vendorDocument(request, employeeId); });
    } else if (role == Role::Viewer) {
        response = textResponse(403, kViewerRefused);
    } else {
        const auto contentType = findHeader(request.headers, "Content-Type");
        response = timed(metrics().postDuration, [&] {
            return fromPostReply(handleChangePost(mStorage, {user, request.remoteAddress},
                                                  contentType.value_or(""), request.body));
        });
    }
    response.user = std::move(user);
    return response;
}

HttpResponse RequestHandler::vendorDocument(const HttpRequest& request, std::int64_t employeeId) {
    std::shared_ptr<const CachedDocument> document;
    bool justLoaded = false;
    try {
        const auto version = mStorage.changeVersion();
        document = mCache.find(employeeId, version);
        (document ? metrics().cacheHits : metrics().cacheMisses).add();
        if (!document) {
            auto loaded = mStorage.loadVendorDocument(employeeId);
            document = std::make_shared<const CachedDocument>(std::move(loaded.body));
            mCache.store(employeeId, loaded.version, document);
            justLoaded = true;
        }
    } catch (const StorageError& error) {
        metrics().databaseErrors.add();
        logLine(std::string("database error: ") + error.what());
        return textResponse(error.transient() ? 503 : 500,
                            "The vendor list could not be read from the database.");
    }
    return documentResponse(request, std::move(document), justLoaded);
}

bool RequestHandler::wantsGzip(const HttpRequest& request) const {
    const auto acceptEncoding = findHeader(request.headers, "Accept-Encoding");
    return mSettings.compress && acceptEncoding && acceptsGzip(*acceptEncoding);
}

std::optional<HttpResponse> RequestHandler::answerAtOnce(const HttpRequest& request,
                                                         AtOnceRound& round) {
    // Sign-in takes a password check, which is never done on the I/O thread.
    if (mSettings.users || (request.method != "GET" && request.method != "HEAD"))
        return std::nullopt;
    std::string path;
    std::vector<std::pair<std::string, std::string>> query;
    if (!splitTarget(request.target, path, query) || path != tavrolin::kPagePath)
        return std::nullopt;
    std::int64_t employeeId = 0;
    if (!queryEmployeeId(query, employeeId)) return std::nullopt;
    const auto start = std::chrono::steady_clock::now();
    try {
        // Every request of the round had arrived before this read, so one serves them all.
        if (!round.versionRead) {
            round.versionRead = true;
            round.version = mStorage.changeVersionAtOnce();
        }
        if (!round.version) {
            round.wantsReadLater = !round.readLater;
            return std::nullopt;
        }
        auto document = mCache.find(employeeId, *round.version);
        // Compressing a large document would hold up every connection of this thread.
        if (!document || (wantsGzip(request) && !document->gzipReady())) return std::nullopt;
        // Only an answer counts here; the worker counts the requests it is left.
        metrics().cacheHits.add();
        auto response = documentResponse(request, std::move(document));
        metrics().documentDuration.observe(std::chrono::steady_clock::now() - start);
        return response;
    } catch (const StorageError&) {
        return std::nullopt;  // the worker's path reports it
    }
}

AtOnceRound RequestHandler::readRound() {
    try {
        return AtOnceRound::lookTaken(mStorage.changeVersion());
    } catch (const StorageError&) {
        // Each request then goes to a worker, whose own read reports the failure.
        return AtOnceRound::lookTaken(std::nullopt);
    }
}

HttpResponse RequestHandler::documentResponse(const HttpRequest& request,
                                              std::shared_ptr<const CachedDocument> document,
                                              bool justLoaded) const {
    HttpResponse response;
    response.contentType = "text/xml; charset=utf-8";
    // Caches between here and the client must keep the two forms apart.
    response.headers.emplace_back("Vary", "Accept-Encoding");
    // The body points into the cached document, which it keeps alive while it is sent.
    if (wantsGzip(request)) {
        try {
            response.body = std::shared_ptr<const std::string>(document, &document->gzip());
            response.bodyFile = document->gzipFile();
            response.headers.emplace_back("Content-Encoding", "gzip");
            return response;
        } catch (const std::exception& error) {
            logLine(std::string("sending the vendor list uncompressed: ") + error.what());
        }
    }
    response.body = std::shared_ptr<const std::string>(document, &document->plain());
    if (!justLoaded) response.bodyFile = document->plainFile();
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

Route routeOf(const HttpRequest& request) {
    const std::string_view target = request.target;
    const auto path = target.substr(0, target.find('?'));
    const bool read = request.method == "GET" || request.method == "HEAD";
    if (path == tavrolin::kPagePath) {
        if (read) return Route::Document;
        if (request.method == "POST") return Route::Post;
    }
    if (path == "/health" && read) return Route::Health;
    if (path == kMetricsPath && read) return Route::Metrics;
    return Route::Other;
}

void RequestHandler::logAccess(const HttpRequest& request, const HttpResponse& response) const {
    // Every request passes here once, whether handled, refused by the transport or cut off.
    metrics().countRequest(routeOf(request), response.status);
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
