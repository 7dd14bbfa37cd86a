#pragma once

// Failed sign-ins counted per client address. An address that fails too often within a minute
// is refused for a while without any password hash being computed, and for twice as long each
// time it starts again, so a password guesser gets a handful of tries per period and costs the
// server next to nothing in between. Each burst is logged once, not each request.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tavrolin::server {

class SignInThrottle {
  public:
    using Clock = std::chrono::steady_clock;

    struct Settings {
        // Failures within `window` from one address before it is refused.
        unsigned failures = 5;
        std::chrono::seconds window{60};
        // The first refusal lasts this long, each one after it twice the one before, up to
        // `longestBlock`; an address that has not failed for `longestBlock` starts afresh.
        std::chrono::seconds firstBlock{60};
        std::chrono::seconds longestBlock{15 * 60};
        // Addresses remembered at most; beyond them the quietest are forgotten first.
        std::size_t maxAddresses = 65536;
    };

    SignInThrottle() : SignInThrottle(Settings{}) {}
    explicit SignInThrottle(Settings settings);

    // The whole seconds `address` must wait before it may sign in again; 0 when it may now.
    // Counts the refusal when it may not.
    std::int64_t refusedFor(std::string_view address, Clock::time_point now = Clock::now());
    // A sign-in from `address` failed (its password was checked and was wrong).
    void failed(std::string_view address, Clock::time_point now = Clock::now());

    // For the server's figures: failed sign-ins, times an address began to be refused, and
    // requests refused. `failed` and `refusedFor` are the only places that count them.
    std::uint64_t failureCount() const { return mFailureCount.load(); }
    std::uint64_t blockCount() const { return mBlockCount.load(); }
    std::uint64_t refusalCount() const { return mRefusalCount.load(); }

    // The key for an address: IPv6 clients are counted by their /64 network, since one
    // machine is usually given a whole one; an IPv4 address mapped into IPv6 counts as itself.
    static std::string clientKey(std::string_view address);

  private:
    struct Record {
        unsigned failures = 0;
        Clock::time_point windowStart{};
        Clock::time_point lastFailure{};
        Clock::time_point blockedUntil{};
        std::chrono::seconds nextBlock{0};
        std::uint64_t refused = 0;  // since the last line about this address
    };
    void forgetQuietest(Clock::time_point now);

    const Settings mSettings;
    std::mutex mMutex;
    std::unordered_map<std::string, Record> mRecords;
    std::atomic<std::uint64_t> mFailureCount{0};
    std::atomic<std::uint64_t> mBlockCount{0};
    std::atomic<std::uint64_t> mRefusalCount{0};
};

}  // namespace tavrolin::server
