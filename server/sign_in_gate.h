#pragma once

// Where a request's credentials are checked before its body is read. A sign-in that was
// accepted before is answered at once from memory; one that needs the slow password hash waits
// on a few threads of its own, never on a request worker, in a small queue that refuses at once
// when it is full. One address may have only a few hashes waiting, so it cannot fill the queue
// for everyone else, and an address whose sign-ins keep failing is throttled. A throttled
// request is answered only after a pause, so that a client which asks again at once costs the
// server a request per connection and pause rather than as many as it can send.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>

#include "sign_in_throttle.h"
#include "worker_pool.h"

namespace tavrolin::server {

class Authenticator;

class SignInGate {
  public:
    struct Settings {
        std::size_t threads = 2;      // each hash takes a core and 16 MB while it runs
        std::size_t queueLimit = 16;  // hashes that may wait beyond those running
        std::size_t perClient = 4;    // hashes waiting or running for one address
        SignInThrottle::Settings throttle;
        // How long a throttled request waits for its refusal, and how many may wait; beyond
        // them the refusal is sent at once.
        std::chrono::milliseconds throttledPause{1000};
        std::size_t maxPaused = 4096;
    };

    struct Outcome {
        enum class Verdict { SignedIn, Refused, Throttled, Busy } verdict = Verdict::Refused;
        std::string user;             // the name given, signed in or not
        std::int64_t retryAfter = 0;  // seconds, for Throttled and Busy
    };
    using Done = std::function<void(Outcome)>;

    SignInGate(const Authenticator& users, Settings settings);
    ~SignInGate();
    SignInGate(const SignInGate&) = delete;
    SignInGate& operator=(const SignInGate&) = delete;

    // Checks the Authorization header value of a request from `address` and calls `done`
    // exactly once: at once, or later on one of the gate's threads.
    void check(std::string_view address, std::optional<std::string_view> authorization, Done done);

    // Answers the checks still queued and stops the threads; later checks are answered Busy.
    void finish();

    const SignInThrottle& throttle() const { return mThrottle; }

  private:
    void release(const std::string& client);
    // Answers a throttled request after the pause.
    void answerLater(Outcome outcome, Done done);
    void answerPaused();

    const Authenticator& mUsers;
    const Settings mSettings;
    SignInThrottle mThrottle;
    std::mutex mMutex;
    std::unordered_map<std::string, std::size_t> mPending;  // by client key
    std::unique_ptr<WorkerPool> mThreads;                   // null once finished

    std::mutex mPausedMutex;
    std::condition_variable mPausedWake;
    std::multimap<std::chrono::steady_clock::time_point, std::pair<Done, Outcome>> mPaused;
    bool mFinishing = false;
    std::thread mPauser;
};

}  // namespace tavrolin::server
