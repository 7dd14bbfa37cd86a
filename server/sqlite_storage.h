#pragma once

// The embedded engine: an SQLite file (or an in-memory database) behind a pool of connections.

#include <mutex>

#include "connection_pool.h"
#include "sqlite_connection.h"
#include "storage.h"

namespace tavrolin::server {

class SqliteStorage final : public LinkStorage {
  public:
    SqliteStorage(const std::string& location, int connections);

    std::int64_t changeVersion() override;
    std::optional<std::int64_t> changeVersionAtOnce() override;
    VersionedDocument loadVendorDocument(std::int64_t employeeId) override;
    ApplyResult applyLinkStatements(const std::vector<LinkStatement>& statements,
                                    const ChangeAuthor& author) override;
    std::size_t importVendors(const std::vector<ImportedVendor>& vendors,
                              const ChangeAuthor& author) override;
    void readAuditTrail(const AuditFilter& filter,
                        const std::function<void(const AuditEntry&)>& row) override;
    bool seedDemoData() override;
    std::string description() const override { return mLocation; }

  private:
    std::unique_lock<std::timed_mutex> lockForWriting();

    std::string mLocation;
    ConnectionPool<SqliteConnection> mPool;
    // Writers of this process queue here rather than in SQLite's busy handler, which polls with
    // growing sleeps and under many writers can pass one by until its timeout runs out.
    std::timed_mutex mWriter;
};

}  // namespace tavrolin::server
