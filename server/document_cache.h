#pragma once

// Vendor documents kept per employee together with the database change counter they were read
// at; an entry is used only while the counter has not moved, so it never serves stale data.
// Each document keeps its gzip form beside the plain one once a client has asked for it.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace tavrolin::server {

class CachedDocument {
  public:
    explicit CachedDocument(std::string plain);
    ~CachedDocument();
    CachedDocument(const CachedDocument&) = delete;
    CachedDocument& operator=(const CachedDocument&) = delete;

    const std::string& plain() const { return mPlain; }
    // Compressed on the first call only; later calls, from any thread, share that result.
    const std::string& gzip() const;
    // Whether gzip() returns at once, without compressing.
    bool gzipReady() const { return mGzipReady.load(std::memory_order_acquire); }

    // The same bytes in unnamed files, which a socket can be sent from without copying them
    // (as long as the document lives); -1 when no such file could be made. The plain one is
    // made on the first call, from any thread; the gzip one with gzip().
    int plainFile() const;
    int gzipFile() const { return mGzipFile; }

  private:
    std::string mPlain;
    mutable std::once_flag mPlainFileMade;
    mutable int mPlainFile = -1;
    mutable std::once_flag mCompressed;
    mutable std::string mGzip;
    mutable int mGzipFile = -1;
    mutable std::atomic<bool> mGzipReady{false};
};

class DocumentCache {
  public:
    explicit DocumentCache(std::size_t maxEntries = 16) : mMaxEntries(maxEntries) {}

    std::shared_ptr<const CachedDocument> find(std::int64_t employeeId, std::int64_t version);
    void store(std::int64_t employeeId, std::int64_t version,
               std::shared_ptr<const CachedDocument> document);

  private:
    struct Entry {
        std::int64_t version;
        std::shared_ptr<const CachedDocument> document;
    };
    std::size_t mMaxEntries;
    std::mutex mMutex;
    std::unordered_map<std::int64_t, Entry> mEntries;
};

}  // namespace tavrolin::server
