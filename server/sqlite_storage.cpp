#include "sqlite_storage.h"

#include <chrono>

#include "demo_data.h"

namespace tavrolin::server {

namespace {

VersionedDocument readVendorDocument(Connection& connection, std::int64_t employeeId) {
    auto readList = [&](std::string_view sql) {
        std::vector<VendorRecord> records;
        auto statement = connection.prepare(sql);
        statement.bind(1, employeeId);
        while (statement.step())
            records.push_back({statement.columnInt(0), std::string(statement.columnText(1))});
        return records;
    };
    // One read transaction, so that the two lists and the version agree with each other.
    Transaction transaction(connection, Transaction::Kind::Read);
    const std::int64_t version = server::changeVersion(connection);
    const auto nonSelected = readList(
        "SELECT v.VendorID, v.VendorName FROM Vendor v WHERE v.Active = 1 AND NOT EXISTS "
        "(SELECT 1 FROM VendorEmployeeCrossReference x "
        "WHERE x.EmployeeID = ?1 AND x.VendorID = v.VendorID) ORDER BY v.VendorID");
    const auto selected = readList(
        "SELECT v.VendorID, v.VendorName FROM VendorEmployeeCrossReference x "
        "JOIN Vendor v ON v.VendorID = x.VendorID WHERE x.EmployeeID = ?1 ORDER BY v.VendorID");
    transaction.commit();
    return {version, buildVendorDocument(nonSelected, selected)};
}

// Statement by statement: on SQLite a statement costs microseconds, less than planning sets.
ApplyResult applyStatements(Connection& connection, const std::vector<LinkStatement>& statements) {
    Transaction transaction(connection, Transaction::Kind::Write);
    auto vendorState = connection.prepare("SELECT Active FROM Vendor WHERE VendorID = ?1");
    // RecordLastUpdated is left to the column default: the database clock, never the client.
    auto insert = connection.prepare(
        "INSERT INTO VendorEmployeeCrossReference (EmployeeID, VendorID) VALUES (?1, ?2) "
        "ON CONFLICT (EmployeeID, VendorID) DO NOTHING");
    auto remove = connection.prepare(
        "DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID = ?1 AND VendorID = ?2");

    for (const auto& statement : statements) {
        if (const auto* add = std::get_if<LinkInsert>(&statement)) {
            vendorState.reset();
            vendorState.bind(1, add->vendorId);
            if (!vendorState.step()) return {ApplyResult::Outcome::UnknownVendor, add->vendorId};
            if (vendorState.columnInt(0) != 1)
                return {ApplyResult::Outcome::InactiveVendor, add->vendorId};
            insert.reset();
            insert.bind(1, std::int64_t(add->employeeId)).bind(2, add->vendorId);
            insert.step();
        } else {
            const auto& drop = std::get<LinkDelete>(statement);
            for (const auto vendorId : drop.vendorIds) {
                remove.reset();
                remove.bind(1, std::int64_t(drop.employeeId)).bind(2, vendorId);
                remove.step();
            }
        }
    }
    transaction.commit();
    return {};
}

}  // namespace

SqliteStorage::SqliteStorage(const std::string& location, int connections)
    : mLocation(location), mPool(location, connections) {}

std::int64_t SqliteStorage::changeVersion() {
    auto connection = mPool.acquire();
    return server::changeVersion(*connection);
}

VersionedDocument SqliteStorage::loadVendorDocument(std::int64_t employeeId) {
    auto connection = mPool.acquire();
    return readVendorDocument(*connection, employeeId);
}

std::unique_lock<std::timed_mutex> SqliteStorage::lockForWriting() {
    // As long as SQLite's own busy timeout: a writer that waits longer is refused as busy.
    std::unique_lock lock(mWriter, std::chrono::seconds(5));
    if (!lock.owns_lock()) throw StorageError("the database is busy with other writers", true);
    return lock;
}

ApplyResult SqliteStorage::applyLinkStatements(const std::vector<LinkStatement>& statements) {
    const auto writing = lockForWriting();
    auto connection = mPool.acquire();
    return applyStatements(*connection, statements);
}

std::size_t SqliteStorage::importVendors(const std::vector<ImportedVendor>& vendors) {
    const auto writing = lockForWriting();
    auto connection = mPool.acquire();
    Transaction transaction(*connection, Transaction::Kind::Write);
    auto upsert = connection->prepare(
        "INSERT INTO Vendor (VendorID, VendorName, Active) VALUES (?1, ?2, ?3) "
        "ON CONFLICT (VendorID) DO UPDATE SET VendorName = excluded.VendorName, "
        "Active = excluded.Active");
    for (const auto& vendor : vendors) {
        upsert.reset();
        upsert.bind(1, vendor.id).bind(2, vendor.name).bind(3, std::int64_t(vendor.active));
        upsert.step();
    }
    transaction.commit();
    return vendors.size();
}

bool SqliteStorage::seedDemoData() {
    auto connection = mPool.acquire();
    Transaction transaction(*connection, Transaction::Kind::Write);
    if (vendorCount(*connection) > 0) return false;
    const auto& sample = demoSample();
    auto insertVendor = connection->prepare(
        "INSERT INTO Vendor (VendorID, VendorName, Active) VALUES (?1, ?2, ?3)");
    for (const auto& vendor : sample.vendors) {
        insertVendor.reset();
        insertVendor.bind(1, vendor.id).bind(2, vendor.name).bind(3, std::int64_t(vendor.active));
        insertVendor.step();
    }
    auto link = connection->prepare(
        "INSERT INTO VendorEmployeeCrossReference (EmployeeID, VendorID) VALUES (?1, ?2)");
    for (const auto& [employeeId, vendorId] : sample.links) {
        link.reset();
        link.bind(1, employeeId).bind(2, vendorId);
        link.step();
    }
    transaction.commit();
    return true;
}

}  // namespace tavrolin::server
