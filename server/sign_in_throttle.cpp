#include "sign_in_throttle.h"

#include <arpa/inet.h>

#include <algorithm>

#include "access_log.h"
#include "metrics.h"

namespace tavrolin::server {

namespace {

std::int64_t wholeSecondsUntil(SignInThrottle::Clock::time_point until,
                               SignInThrottle::Clock::time_point now) {
    const auto left = std::chrono::ceil<std::chrono::seconds>(until - now).count();
    return std::max<std::int64_t>(left, 1);
}

}  // namespace

SignInThrottle::SignInThrottle(Settings settings) : mSettings(settings) {}

std::string SignInThrottle::clientKey(std::string_view address) {
    constexpr std::string_view kMapped = "::ffff:";
    const std::string text(address);
    in_addr v4{};
    if (text.size() > kMapped.size() && text.compare(0, kMapped.size(), kMapped) == 0 &&
        ::inet_pton(AF_INET, text.c_str() + kMapped.size(), &v4) == 1)
        return text.substr(kMapped.size());
    in6_addr v6{};
    if (::inet_pton(AF_INET6, text.c_str(), &v6) != 1) return text;
    std::fill(v6.s6_addr + 8, v6.s6_addr + 16, 0);
    char network[INET6_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET6, &v6, network, sizeof network)) return text;
    return std::string(network) + "/64";
}

std::int64_t SignInThrottle::refusedFor(std::string_view address, Clock::time_point now) {
    const auto key = clientKey(address);
    std::lock_guard lock(mMutex);
    const auto found = mRecords.find(key);
    if (found == mRecords.end() || now >= found->second.blockedUntil) return 0;
    ++found->second.refused;
    ++mRefusalCount;
    metrics().signInThrottled.add();
    return wholeSecondsUntil(found->second.blockedUntil, now);
}

void SignInThrottle::failed(std::string_view address, Clock::time_point now) {
    ++mFailureCount;
    metrics().signInFailures.add();
    auto key = clientKey(address);
    std::string line;
    {
        std::lock_guard lock(mMutex);
        if (mRecords.size() >= mSettings.maxAddresses && !mRecords.contains(key))
            forgetQuietest(now);
        auto& record = mRecords[key];
        // Checks that were under way when the block began end here; they add nothing.
        if (now < record.blockedUntil) return;
        if (now - record.lastFailure >= mSettings.longestBlock)
            record.nextBlock = std::chrono::seconds(0);
        if (record.failures == 0 || now - record.windowStart >= mSettings.window) {
            record.failures = 0;
            record.windowStart = now;
        }
        ++record.failures;
        record.lastFailure = now;
        if (record.failures < mSettings.failures) return;

        const auto block =
            record.nextBlock > std::chrono::seconds(0) ? record.nextBlock : mSettings.firstBlock;
        record.blockedUntil = now + block;
        ++mBlockCount;
        record.nextBlock = std::min(block * 2, mSettings.longestBlock);
        line = "sign-in: " + std::to_string(record.failures) + " failures from " +
               escapeLogText(key) + " within " + std::to_string(mSettings.window.count()) + " s";
        if (record.refused > 0)
            line += " (" + std::to_string(record.refused) + " refused since the last block)";
        line += "; refusing its sign-ins for " + std::to_string(block.count()) + " s";
        record.failures = 0;
        record.refused = 0;
    }
    logLine(line);
}

void SignInThrottle::forgetQuietest(Clock::time_point now) {
    std::erase_if(mRecords, [&](const auto& entry) {
        const auto& record = entry.second;
        return now >= record.blockedUntil && now - record.lastFailure >= mSettings.longestBlock;
    });
    if (mRecords.size() < mSettings.maxAddresses) return;
    // Still full: the address that has been quiet longest, preferring one not refused now.
    auto quietest = mRecords.begin();
    for (auto it = mRecords.begin(); it != mRecords.end(); ++it) {
        const bool blocked = now < it->second.blockedUntil;
        const bool quietestBlocked = now < quietest->second.blockedUntil;
        if (blocked != quietestBlocked ? !blocked
                                       : it->second.lastFailure < quietest->second.lastFailure)
            quietest = it;
    }
    mRecords.erase(quietest);
}

}  // namespace tavrolin::server
