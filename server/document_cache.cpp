#include "document_cache.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include "compression.h"

namespace tavrolin::server {

namespace {

// An in-memory file holding `bytes`, or -1.
int memoryFile(const std::string& bytes) {
    const int file = ::memfd_create("tavrolin-document", MFD_CLOEXEC);
    if (file < 0) return -1;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto n = ::write(file, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(file);
            return -1;
        }
        done += std::size_t(n);
    }
    return file;
}

}  // namespace

CachedDocument::CachedDocument(std::string plain) : mPlain(std::move(plain)) {}

CachedDocument::~CachedDocument() {
    if (mPlainFile >= 0) ::close(mPlainFile);
    if (mGzipFile >= 0) ::close(mGzipFile);
}

int CachedDocument::plainFile() const {
    std::call_once(mPlainFileMade, [this] { mPlainFile = memoryFile(mPlain); });
    return mPlainFile;
}

const std::string& CachedDocument::gzip() const {
    std::call_once(mCompressed, [this] {
        mGzip = gzipCompress(mPlain);
        mGzipFile = memoryFile(mGzip);
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
