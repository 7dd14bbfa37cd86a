#include "document_cache.h"

#include <gtest/gtest.h>

using namespace tavrolin::server;

TEST(ServerDocumentCache, ServesAnEntryOnlyAtTheVersionItWasBuiltAt) {
    DocumentCache cache;
    cache.store(42, 7, std::make_shared<const std::string>("seven"));
    ASSERT_TRUE(cache.find(42, 7));
    EXPECT_EQ(*cache.find(42, 7), "seven");
    EXPECT_FALSE(cache.find(42, 8));
    EXPECT_FALSE(cache.find(43, 7));
}

TEST(ServerDocumentCache, AnOlderDocumentNeverReplacesANewerOne) {
    DocumentCache cache;
    cache.store(42, 9, std::make_shared<const std::string>("nine"));
    // A slow reader that started before the last change finishes late.
    cache.store(42, 8, std::make_shared<const std::string>("eight"));
    ASSERT_TRUE(cache.find(42, 9));
    EXPECT_EQ(*cache.find(42, 9), "nine");
    EXPECT_FALSE(cache.find(42, 8));
}

TEST(ServerDocumentCache, StaysWithinItsSize) {
    DocumentCache cache(2);
    cache.store(1, 1, std::make_shared<const std::string>("a"));
    cache.store(2, 1, std::make_shared<const std::string>("b"));
    cache.store(3, 1, std::make_shared<const std::string>("c"));
    EXPECT_TRUE(cache.find(3, 1));
    EXPECT_FALSE(cache.find(1, 1) && cache.find(2, 1));
}
