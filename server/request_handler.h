#pragma once

// Request handling: routes, form decoding, the statement parser and the replies, apart from
// any transport. A transport reads a request off the wire into an HttpRequest, hands it to
// `handle` on a worker thread and writes the HttpResponse back; it never sees the database.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "access_log.h"
#include "document_cache.h"
#include "http_message.h"
#include "metrics.h"
#include "request_sink.h"
#include "sign_in_gate.h"
#include "storage.h"

namespace tavrolin::server {

struct PostReply {
    int status;
    std::string text;  // shown to the user by the control as it stands
};

// Checks, decodes, parses and applies one change post in the name of `author`. Everything is
// refused before anything is written, or written in one transaction with its audit trail.
PostReply handleChangePost(LinkStorage& storage, const ChangeAuthor& author,
                           std::string_view contentType, std::string_view body);

// Splits a request target into its path and its decoded query parameters; false when the query
// is malformed.
bool splitTarget(std::string_view target, std::string& path,
                 std::vector<std::pair<std::string, std::string>>& query);

// What a request was for, from its method and target alone, for the request counts.
Route routeOf(const HttpRequest& request);

class Authenticator;

struct HandlerSettings {
    // When set, the vendor document and posts need Basic credentials of one of its users.
    const Authenticator* users = nullptr;
    // Origins ("scheme://host[:port]", normalized) whose web pages may post changes.
    std::vector<std::string> allowedOrigins;
    // Send the vendor document gzip-compressed to clients that accept it.
    bool compress = true;
    // The threads, queue and throttle of the password checks, with `users`.
    SignInGate::Settings signIn;
};

class RequestHandler final : public RequestSink {
  public:
    explicit RequestHandler(LinkStorage& storage, HandlerSettings settings = {});
    ~RequestHandler() override;

    // With sign-in, the credentials of a request for the page are checked here, before its body
    // is read; the password hash, when one is needed, runs on the sign-in threads.
    void admit(const HttpRequest& header, AdmitDecision decide) override;
    HttpResponse handle(const HttpRequest& request) override;
    std::optional<HttpResponse> answerAtOnce(const HttpRequest& request,
                                             AtOnceRound& round) override;
    AtOnceRound readRound() override;

    // Answers the sign-ins still being checked and stops their threads; call once the transport
    // has stopped serving, while it can still take the answers.
    void finishSignIns();
    // The password checks and their throttle, for the server's figures; null without sign-in.
    const SignInGate* signIn() const { return mSignIn.get(); }

    HttpResponse tooLarge() const override;
    HttpResponse unreadableBody() const override;

    // One line of the access log on stderr.
    void logAccess(const HttpRequest& request, const HttpResponse& response) const override;

  private:
    HttpResponse vendorDocument(const HttpRequest& request, std::int64_t employeeId);
    // `justLoaded`: the document was read for this request, which then does not wait for it to
    // be copied into a file to send from.
    HttpResponse documentResponse(const HttpRequest& request,
                                  std::shared_ptr<const CachedDocument> document,
                                  bool justLoaded = false) const;
    bool wantsGzip(const HttpRequest& request) const;

    LinkStorage& mStorage;
    HandlerSettings mSettings;
    DocumentCache mCache;
    std::unique_ptr<SignInGate> mSignIn;  // with sign-in only
};

}  // namespace tavrolin::server
