#pragma once

// The embedded engine: an SQLite file (or an in-memory database) behind a pool of connections.

#include "database.h"
#include "storage.h"

namespace tavrolin::server {

class SqliteStorage final : public LinkStorage {
  public:
    SqliteStorage(const std::string& location, int connections);

    std::int64_t changeVersion() override;
    VersionedDocument loadVendorDocument(std::int64_t employeeId) override;
    ApplyResult applyLinkStatements(const std::vector<LinkStatement>& statements) override;
    std::size_t importVendors(const std::vector<ImportedVendor>& vendors) override;
    bool seedDemoData() override;
    std::string description() const override { return mLocation; }

  private:
    std::string mLocation;
    ConnectionPool mPool;
};

}  // namespace tavrolin::server
