#include "document_cache.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "compression.h"

namespace tavrolin::server {

namespace {

// An unnamed file holding `bytes`, or -1. It goes in the temporary directory where it can:
// sendfile takes the pages of a disk file system's cache in large batches, and an in-memory
// file's one at a time, which cost some 3 % of the rate at which a 3 MB document goes out. Having
// no name, the file is gone with its last descriptor; an in-memory one stands in where the
// directory cannot hold such files.
int documentFile(const std::string& bytes) {
    const char* directory = std::getenv("TMPDIR");
    if (!directory || !*directory) directory = "/tmp";
    int file = ::open(directory, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (file < 0) file = ::memfd_create("tavrolin-document", MFD_CLOEXEC);
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
    std::call_once(mPlainFileMade, [this] { mPlainFile = documentFile(mPlain); });
    return mPlainFile;
}

const std::string& CachedDocument::gzip() const {
    std::call_once(mCompressed, [this] {
        mGzip = gzipCompress(mPlain);
        mGzipFile = documentFile(mGzip);
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
