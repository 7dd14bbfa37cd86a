#include "sqlite_storage.h"

#include "demo_data.h"

namespace tavrolin::server {

SqliteStorage::SqliteStorage(const std::string& location, int connections)
    : mLocation(location), mPool(location, connections) {}

std::int64_t SqliteStorage::changeVersion() {
    auto connection = mPool.acquire();
    return server::changeVersion(*connection);
}

VersionedDocument SqliteStorage::loadVendorDocument(std::int64_t employeeId) {
    auto connection = mPool.acquire();
    return server::loadVendorDocument(*connection, employeeId);
}

ApplyResult SqliteStorage::applyLinkStatements(const std::vector<LinkStatement>& statements) {
    auto connection = mPool.acquire();
    return server::applyLinkStatements(*connection, statements);
}

std::size_t SqliteStorage::importVendors(const std::vector<ImportedVendor>& vendors) {
    auto connection = mPool.acquire();
    return server::importVendors(*connection, vendors);
}

bool SqliteStorage::seedDemoData() {
    auto connection = mPool.acquire();
    return server::seedDemoData(*connection);
}

std::unique_ptr<LinkStorage> openStorage(const std::string& location, int connections) {
    return std::make_unique<SqliteStorage>(location, connections);
}

}  // namespace tavrolin::server
