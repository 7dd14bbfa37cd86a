#pragma once

// The shared engine: a PostgreSQL database that several servers may use at once, behind a pool
// of libpq connections that reconnect by themselves after a restart or failover.

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "connection_pool.h"
#include "postgres_connection.h"
#include "storage.h"

namespace tavrolin::server {

class PostgresStorage final : public LinkStorage {
  public:
    // `uri` is a libpq connection URI; creates the tables when missing.
    PostgresStorage(const std::string& uri, int connections);

    std::int64_t changeVersion() override;
    VersionedDocument loadVendorDocument(std::int64_t employeeId) override;
    ApplyResult applyLinkStatements(const std::vector<LinkStatement>& statements,
                                    const ChangeAuthor& author) override;
    std::size_t importVendors(const std::vector<ImportedVendor>& vendors,
                              const ChangeAuthor& author) override;
    void readAuditTrail(const AuditFilter& filter,
                        const std::function<void(const AuditEntry&)>& row) override;
    bool seedDemoData() override;
    std::string description() const override { return mDescription; }

  private:
    // Runs `work` on a leased connection. A connection that turns out to be lost is
    // reconnected and the work run once more, provided nothing of it can have taken effect:
    // it only reads, or it failed on its first command.
    template <class Work>
    auto run(bool readOnly, Work work);

    std::int64_t readChangeVersion();

    std::string mDescription;
    ConnectionPool<PgConnection> mPool;

    // Concurrent cache checks share one read of the counter, but only a read that started
    // after they arrived: reads are numbered, and a request waits for one numbered above the
    // last that had started when it came.
    std::mutex mVersionMutex;
    std::condition_variable mVersionRead;
    std::uint64_t mReadsStarted = 0;
    std::uint64_t mReadsDone = 0;
    bool mReading = false;
    std::int64_t mLastVersion = 0;
};

}  // namespace tavrolin::server
