#pragma once

// Vendor documents kept per employee together with the database change counter they were read
// at; an entry is used only while the counter has not moved, so it never serves stale data.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace tavrolin::server {

class DocumentCache {
  public:
    explicit DocumentCache(std::size_t maxEntries = 16) : mMaxEntries(maxEntries) {}

    std::shared_ptr<const std::string> find(std::int64_t employeeId, std::int64_t version);
    void store(std::int64_t employeeId, std::int64_t version,
               std::shared_ptr<const std::string> document);

  private:
    struct Entry {
        std::int64_t version;
        std::shared_ptr<const std::string> document;
    };
    std::size_t mMaxEntries;
    std::mutex mMutex;
    std::unordered_map<std::int64_t, Entry> mEntries;
};

}  // namespace tavrolin::server
