#include "sign_in_gate.h"

#include <exception>
#include <utility>

#include "access_log.h"
#include "users.h"

namespace tavrolin::server {

SignInGate::SignInGate(const Authenticator& users, Settings settings)
    : mUsers(users),
      mSettings(settings),
      mThrottle(settings.throttle),
      mThreads(std::make_unique<WorkerPool>(settings.threads, settings.queueLimit)),
      mPauser([this] { answerPaused(); }) {}

SignInGate::~SignInGate() {
    finish();
}

void SignInGate::finish() {
    std::unique_ptr<WorkerPool> threads;
    {
        std::lock_guard lock(mMutex);
        threads = std::move(mThreads);
    }
    // Runs what is queued, whose answers take the lock, so outside it.
    threads.reset();
    {
        std::lock_guard lock(mPausedMutex);
        mFinishing = true;
    }
    mPausedWake.notify_all();
    if (mPauser.joinable()) mPauser.join();
}

void SignInGate::answerLater(Outcome outcome, Done done) {
    {
        std::lock_guard lock(mPausedMutex);
        if (!mFinishing && mPaused.size() < mSettings.maxPaused) {
            mPaused.emplace(std::chrono::steady_clock::now() + mSettings.throttledPause,
                            std::pair(std::move(done), std::move(outcome)));
            if (mPaused.size() == 1) mPausedWake.notify_all();
            return;
        }
    }
    done(std::move(outcome));
}

void SignInGate::answerPaused() {
    std::unique_lock lock(mPausedMutex);
    for (;;) {
        if (mPaused.empty() && mFinishing) return;
        if (mPaused.empty()) {
            mPausedWake.wait(lock);
            continue;
        }
        const auto due = mPaused.begin()->first;
        if (!mFinishing && std::chrono::steady_clock::now() < due) {
            mPausedWake.wait_until(lock, due);
            continue;
        }
        auto [done, outcome] = std::move(mPaused.begin()->second);
        mPaused.erase(mPaused.begin());
        lock.unlock();
        try {
            done(std::move(outcome));
        } catch (const std::exception& error) {
            logLine(std::string("sign-in answer failed: ") + error.what());
        } catch (...) {
            logLine("sign-in answer failed: an unknown exception");
        }
        done = nullptr;
        lock.lock();
    }
}

void SignInGate::release(const std::string& client) {
    std::lock_guard lock(mMutex);
    const auto found = mPending.find(client);
    if (found != mPending.end() && --found->second == 0) mPending.erase(found);
}

void SignInGate::check(std::string_view address, std::optional<std::string_view> authorization,
                       Done done) {
    using Verdict = Outcome::Verdict;
    Outcome outcome;
    const auto quick = mUsers.checkRemembered(authorization);
    outcome.user = quick.user;
    // No Basic credentials at all: the challenge, which is no failed guess.
    if (!quick.signedIn && !quick.needsHash) return done(std::move(outcome));
    // Before the remembered sign-in too, or a throttled guesser could go on trying at the
    // speed of the digest, which matches only the right password.
    if (const auto wait = mThrottle.refusedFor(address)) {
        outcome.verdict = Verdict::Throttled;
        outcome.retryAfter = wait;
        return answerLater(std::move(outcome), std::move(done));
    }
    if (quick.signedIn) {
        outcome.verdict = Verdict::SignedIn;
        return done(std::move(outcome));
    }

    auto client = SignInThrottle::clientKey(address);
    bool queued = false;
    bool overShare = false;
    try {
        std::lock_guard lock(mMutex);
        auto& pending = mPending[client];
        if (mThreads && pending < mSettings.perClient) {
            ++pending;
            // The header is gone once admission returns, so the job keeps copies.
            queued = mThreads->trySubmit([this, client, address = std::string(address),
                                          authorization = std::string(*authorization),
                                          user = quick.user, done]() mutable {
                Outcome outcome;
                outcome.user = std::move(user);
                try {
                    if (const auto wait = mThrottle.refusedFor(address)) {
                        outcome.verdict = Verdict::Throttled;
                        outcome.retryAfter = wait;
                    } else {
                        const auto result = mUsers.check(authorization);
                        outcome.verdict = result.signedIn ? Verdict::SignedIn : Verdict::Refused;
                        if (!result.signedIn) mThrottle.failed(address);
                    }
                } catch (const std::exception& error) {
                    logLine(std::string("sign-in check failed: ") + error.what());
                    outcome.verdict = Verdict::Busy;
                    outcome.retryAfter = 1;
                }
                std::fill(authorization.begin(), authorization.end(), '\0');
                release(client);
                if (outcome.verdict == Verdict::Throttled)
                    answerLater(std::move(outcome), std::move(done));
                else
                    done(std::move(outcome));
            });
            if (!queued && --pending == 0) mPending.erase(client);
        } else {
            overShare = mThreads != nullptr;
            if (pending == 0) mPending.erase(client);
        }
    } catch (const std::exception& error) {
        logLine(std::string("sign-in check not queued: ") + error.what());
    }
    if (queued) return;
    outcome.verdict = Verdict::Busy;
    outcome.retryAfter = 1;
    // An address over its share is flooding: answered after the pause, as when throttled. A
    // full queue is answered at once, since it may be no fault of this client.
    if (overShare) return answerLater(std::move(outcome), std::move(done));
    done(std::move(outcome));
}

}  // namespace tavrolin::server
