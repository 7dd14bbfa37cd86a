#include "sign_in_throttle.h"

#include <gtest/gtest.h>

using namespace tavrolin::server;
using namespace std::chrono_literals;

TEST(SignInThrottle, FailuresWithinTheWindowBlockForLongerEachTime) {
    SignInThrottle throttle;
    auto now = SignInThrottle::Clock::now();
    // Four failures, then the window passes: they are forgotten.
    for (int i = 0; i < 4; ++i) throttle.failed("192.0.2.1", now);
    now += 61s;
    for (int i = 0; i < 4; ++i) throttle.failed("192.0.2.1", now);
    EXPECT_EQ(throttle.refusedFor("192.0.2.1", now), 0);
    throttle.failed("192.0.2.1", now);
    EXPECT_EQ(throttle.refusedFor("192.0.2.1", now), 60);
    EXPECT_EQ(throttle.refusedFor("192.0.2.1", now + 59500ms), 1);
    EXPECT_EQ(throttle.refusedFor("192.0.2.2", now), 0);
    // Checks that were running when the block began add nothing to it.
    for (int i = 0; i < 10; ++i) throttle.failed("192.0.2.1", now + 1s);
    EXPECT_EQ(throttle.refusedFor("192.0.2.1", now + 1s), 59);

    now += 60s;
    EXPECT_EQ(throttle.refusedFor("192.0.2.1", now), 0);
    for (int i = 0; i < 5; ++i) throttle.failed("192.0.2.1", now);
    EXPECT_EQ(throttle.refusedFor("192.0.2.1", now), 120);
    now += 120s;
    for (int i = 0; i < 5; ++i) throttle.failed("192.0.2.1", now);
    EXPECT_EQ(throttle.refusedFor("192.0.2.1", now), 240);
    // Quiet for the longest block: back to the first.
    now += 240s + 15min;
    for (int i = 0; i < 5; ++i) throttle.failed("192.0.2.1", now);
    EXPECT_EQ(throttle.refusedFor("192.0.2.1", now), 60);

    EXPECT_EQ(throttle.failureCount(), 4u + 4 + 1 + 10 + 5 + 5 + 5);
    EXPECT_EQ(throttle.blockCount(), 4u);
    EXPECT_EQ(throttle.refusalCount(), 6u);
}

TEST(SignInThrottle, ClientsAreCountedByAddressOrIpv6Network) {
    EXPECT_EQ(SignInThrottle::clientKey("192.0.2.7"), "192.0.2.7");
    EXPECT_EQ(SignInThrottle::clientKey("::ffff:192.0.2.7"), "192.0.2.7");
    EXPECT_EQ(SignInThrottle::clientKey("2001:db8:1:2:aaaa::1"), "2001:db8:1:2::/64");
    EXPECT_EQ(SignInThrottle::clientKey("::1"), "::/64");

    SignInThrottle throttle;
    const auto now = SignInThrottle::Clock::now();
    for (int i = 0; i < 5; ++i) throttle.failed("2001:db8:1:2::" + std::to_string(i + 1), now);
    EXPECT_GT(throttle.refusedFor("2001:db8:1:2:ffff::9", now), 0);
    EXPECT_EQ(throttle.refusedFor("2001:db8:1:3::1", now), 0);
}

TEST(SignInThrottle, TheAddressesKeptAreBoundedAndTheBlockedStay) {
    SignInThrottle::Settings settings;
    settings.maxAddresses = 3;
    SignInThrottle throttle(settings);
    const auto now = SignInThrottle::Clock::now();
    for (int i = 0; i < 5; ++i) throttle.failed("192.0.2.1", now);
    for (int a = 2; a < 50; ++a) throttle.failed("192.0.2." + std::to_string(a), now);
    EXPECT_EQ(throttle.refusedFor("192.0.2.1", now), 60);
}
