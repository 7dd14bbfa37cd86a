#include "cross_site.h"

#include <gtest/gtest.h>

using namespace tavrolin::server;

TEST(ServerCrossSite, OriginsAreNormalized) {
    EXPECT_EQ(normalizeOrigin("https://Intranet.Example.com/"), "https://intranet.example.com");
    EXPECT_EQ(normalizeOrigin("HTTP://host:80"), "http://host");
    EXPECT_EQ(normalizeOrigin("https://host:443"), "https://host");
    EXPECT_EQ(normalizeOrigin("https://host:8443"), "https://host:8443");
    EXPECT_EQ(normalizeOrigin("http://[::1]:8080"), "http://[::1]:8080");
    EXPECT_EQ(normalizeOrigin("http://[::1]"), "http://[::1]");
    for (const char* bad :
         {"", "null", "host", "ftp://host", "http://", "http://host/page", "http://user@host",
          "http://host:", "http://host:80x", "http://host?x", "http://:80"})
        EXPECT_FALSE(normalizeOrigin(bad)) << bad;
}

TEST(ServerCrossSite, PostsOfWebPagesAreForeignUnlessTheirOriginIsAllowed) {
    const std::vector<std::string> allowed = {"https://intranet.example.com"};
    EXPECT_FALSE(isForeignPost({}, allowed));
    EXPECT_FALSE(isForeignPost({{"Content-Type", "application/x-www-form-urlencoded"}}, allowed));
    EXPECT_FALSE(isForeignPost({{"Sec-Fetch-Site", "none"}}, allowed));

    EXPECT_TRUE(isForeignPost({{"Origin", "http://evil.example"}}, allowed));
    EXPECT_TRUE(isForeignPost({{"origin", "null"}}, allowed));
    EXPECT_TRUE(isForeignPost({{"Origin", ""}}, allowed));
    EXPECT_TRUE(isForeignPost({{"Sec-Fetch-Site", "Cross-Site"}}, allowed));
    EXPECT_TRUE(isForeignPost({{"Origin", "http://evil.example"}}, {}));
    // The same host under another scheme or port is another origin.
    EXPECT_TRUE(isForeignPost({{"Origin", "http://intranet.example.com"}}, allowed));
    EXPECT_TRUE(isForeignPost({{"Origin", "https://intranet.example.com:8443"}}, allowed));

    EXPECT_FALSE(isForeignPost({{"Origin", "https://intranet.example.com"}}, allowed));
    EXPECT_FALSE(isForeignPost({{"Origin", "https://INTRANET.example.com:443"}}, allowed));
    EXPECT_FALSE(isForeignPost(
        {{"Origin", "https://intranet.example.com"}, {"Sec-Fetch-Site", "cross-site"}}, allowed));
}
