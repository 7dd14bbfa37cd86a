#include "document_cache.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace tavrolin::server;

namespace {
std::shared_ptr<const CachedDocument> document(std::string text) {
    return std::make_shared<const CachedDocument>(std::move(text));
}
}  // namespace

TEST(ServerDocumentCache, ServesAnEntryOnlyAtTheVersionItWasBuiltAt) {
    DocumentCache cache;
    cache.store(42, 7, document("seven"));
    ASSERT_TRUE(cache.find(42, 7));
    EXPECT_EQ(cache.find(42, 7)->plain(), "seven");
    EXPECT_FALSE(cache.find(42, 8));
    EXPECT_FALSE(cache.find(43, 7));
}

TEST(ServerDocumentCache, AnOlderDocumentNeverReplacesANewerOne) {
    DocumentCache cache;
    cache.store(42, 9, document("nine"));
    // A slow reader that started before the last change finishes late.
    cache.store(42, 8, document("eight"));
    ASSERT_TRUE(cache.find(42, 9));
    EXPECT_EQ(cache.find(42, 9)->plain(), "nine");
    EXPECT_FALSE(cache.find(42, 8));
}

TEST(ServerDocumentCache, StaysWithinItsSize) {
    DocumentCache cache(2);
    cache.store(1, 1, document("a"));
    cache.store(2, 1, document("b"));
    cache.store(3, 1, document("c"));
    EXPECT_TRUE(cache.find(3, 1));
    EXPECT_FALSE(cache.find(1, 1) && cache.find(2, 1));
}

TEST(ServerDocumentCache, CompressesADocumentOnceForAllThreads) {
    DocumentCache cache;
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "<Vendor><VendorID>" + std::to_string(i) + "</VendorID>";
    cache.store(42, 1, document(text));
    const auto cached = cache.find(42, 1);
    ASSERT_TRUE(cached);

    std::vector<const std::string*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < seen.size(); ++t)
        threads.emplace_back([&, t] { seen[t] = &cache.find(42, 1)->gzip(); });
    for (auto& thread : threads) thread.join();
    for (const auto* gzip : seen) EXPECT_EQ(gzip, seen[0]);
    // gzip magic, and far smaller than the repetitive text.
    ASSERT_GE(seen[0]->size(), 2u);
    EXPECT_EQ(std::uint8_t((*seen[0])[0]), 0x1f);
    EXPECT_EQ(std::uint8_t((*seen[0])[1]), 0x8b);
    EXPECT_LT(seen[0]->size(), text.size() / 5);
    EXPECT_EQ(cached->plain(), text);
}
