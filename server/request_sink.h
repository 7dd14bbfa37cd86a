#pragma once

// What the transport hands whole requests to. The transport reads a request off the wire,
// offers its header to `admit` before it reads any of the body, hands the whole request to
// `handle` on a worker thread and writes the reply back; it never sees a route or a database.

#include <cstdint>
#include <functional>
#include <optional>

#include "http_message.h"

namespace tavrolin::server {

// What the answers of one round of `answerAtOnce` may share. The transport starts a round only
// once every request in it has arrived, so a look at the database taken during the round is
// no older than any of them.
struct AtOnceRound {
    bool versionRead = false;
    std::optional<std::int64_t> version;
    // Set by `readRound`: this is the round's second pass, whose look was taken on a worker.
    bool readLater = false;
    // Set by `answerAtOnce` for the request it was just given: it can be answered at once
    // after `readRound`, which the transport then runs once for every such request of the
    // round instead of handing each to `handle`. Reset by the transport before each call.
    bool wantsReadLater = false;

    // The second pass's round: the look taken later, or nothing when it failed.
    static AtOnceRound lookTaken(std::optional<std::int64_t> version) {
        AtOnceRound round;
        round.versionRead = round.readLater = true;
        round.version = version;
        return round;
    }
};

class RequestSink {
  public:
    virtual ~RequestSink() = default;

    // Called on an I/O thread once a request's header is complete (the body is empty), before
    // any body byte is read or "100 Continue" is sent. `decide` takes a reply that refuses the
    // request, whose body is then never read, or nothing to let it go on. It may be called on
    // any thread, later, but exactly once; work that may block belongs elsewhere than the
    // calling thread.
    using AdmitDecision = std::function<void(std::optional<HttpResponse> refusal)>;
    virtual void admit(const HttpRequest& header, AdmitDecision decide) {
        (void)header;
        decide(std::nullopt);
    }

    // Answers a whole request on the I/O thread when that takes no waiting (a cached document
    // known to be current), or nothing to hand it to `handle`. Must not block.
    virtual std::optional<HttpResponse> answerAtOnce(const HttpRequest& request,
                                                     AtOnceRound& round) {
        (void)request;
        (void)round;
        return std::nullopt;
    }

    // Takes, on a worker thread, the look at the database that `answerAtOnce` could not take
    // at once (a round trip to a shared database, a lock held by a writer), for the requests
    // of a round that asked for it: one round trip serves them all. Begins after every one of
    // them arrived.
    virtual AtOnceRound readRound() { return AtOnceRound::lookTaken(std::nullopt); }

    // Answers a whole request; runs on a worker thread and may wait on the database.
    virtual HttpResponse handle(const HttpRequest& request) = 0;

    // Replies for requests the transport refuses before they are whole.
    virtual HttpResponse tooLarge() const = 0;        // a body over kMaxPostBytes
    virtual HttpResponse unreadableBody() const = 0;  // a body cut off or malformed in transfer

    // One line of the access log for a request and its reply.
    virtual void logAccess(const HttpRequest& request, const HttpResponse& response) const = 0;
};

}  // namespace tavrolin::server
