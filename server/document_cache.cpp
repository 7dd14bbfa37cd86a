#include "document_cache.h"

#include "compression.h"

namespace tavrolin::server {

const std::string& CachedDocument::gzip() const {
    std::call_once(mCompressed, [this] {
        mGzip = gzipCompress(mPlain);
        mGzipReady.store(true, std::memory_order_release);
    });
    return mGzip;
}

std::shared_ptr<const CachedDocument> DocumentCache::find(std::int64_t employeeId,
                                                          std::int64_t version) {
    std::lock_guard lock(mMutex);
    const auto it = mEntries.find(employeeId);
    if (it == mEntries.end() || it->second.version != version) return nullptr;
    return it->second.document;
}

void DocumentCache::store(std::int64_t employeeId, std::int64_t version,
                          std::shared_ptr<const CachedDocument> document) {
    std::lock_guard lock(mMutex);
    // Entries of older versions are useless once the counter moved; dropping everything when
    // full keeps memory bounded without bookkeeping for the rare case of many employees.
    if (mEntries.size() >= mMaxEntries && !mEntries.contains(employeeId)) mEntries.clear();
    auto& entry = mEntries[employeeId];
    if (entry.document && entry.version > version) return;
    entry = {version, std::move(document)};
}

}  // namespace tavrolin::server
