#include "sqlite_storage.h"

#include <algorithm>
#include <chrono>

#include "demo_data.h"

namespace tavrolin::server {

namespace {

// Every change to the tables bumps one counter, whoever makes it (this server, the import
// command, a maintenance shell), so cached documents can be checked against it cheaply.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS Vendor (
    VendorID INTEGER PRIMARY KEY,
    VendorName TEXT NOT NULL CHECK (length(trim(VendorName)) > 0),
    Active INTEGER NOT NULL DEFAULT 1 CHECK (Active IN (0, 1))
);
CREATE TABLE IF NOT EXISTS VendorEmployeeCrossReference (
    EmployeeID INTEGER NOT NULL,
    VendorID INTEGER NOT NULL REFERENCES Vendor (VendorID),
    RecordLastUpdated TEXT NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%f', 'now')),
    PRIMARY KEY (EmployeeID, VendorID)
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS ChangeCounter (
    Singleton INTEGER PRIMARY KEY CHECK (Singleton = 1),
    Version INTEGER NOT NULL
);
INSERT OR IGNORE INTO ChangeCounter (Singleton, Version) VALUES (1, 0);
CREATE TABLE IF NOT EXISTS SchemaVersion (
    Singleton INTEGER PRIMARY KEY CHECK (Singleton = 1),
    Version INTEGER NOT NULL
);
CREATE TRIGGER IF NOT EXISTS VendorInserted AFTER INSERT ON Vendor
    BEGIN UPDATE ChangeCounter SET Version = Version + 1; END;
CREATE TRIGGER IF NOT EXISTS VendorUpdated AFTER UPDATE ON Vendor
    BEGIN UPDATE ChangeCounter SET Version = Version + 1; END;
CREATE TRIGGER IF NOT EXISTS VendorDeleted AFTER DELETE ON Vendor
    BEGIN UPDATE ChangeCounter SET Version = Version + 1; END;
CREATE TRIGGER IF NOT EXISTS LinkInserted AFTER INSERT ON VendorEmployeeCrossReference
    BEGIN UPDATE ChangeCounter SET Version = Version + 1; END;
CREATE TRIGGER IF NOT EXISTS LinkUpdated AFTER UPDATE ON VendorEmployeeCrossReference
    BEGIN UPDATE ChangeCounter SET Version = Version + 1; END;
CREATE TRIGGER IF NOT EXISTS LinkDeleted AFTER DELETE ON VendorEmployeeCrossReference
    BEGIN UPDATE ChangeCounter SET Version = Version + 1; END;
)sql";

// Creates the tables when missing; safe on every start.
void createSchema(SqliteConnection& connection) {
    connection.execute(kSchema);
    auto record = connection.prepare(
        "INSERT OR IGNORE INTO SchemaVersion (Singleton, Version) VALUES (1, ?1)");
    record.bind(1, kSchemaVersion);
    record.step();
    auto statement = connection.prepare("SELECT Version FROM SchemaVersion WHERE Singleton = 1");
    const auto version = statement.step() ? statement.columnInt(0) : 0;
    if (version > kSchemaVersion) throw StorageError(newerSchemaMessage(version), false);
}

// The counter that every change to Vendor or VendorEmployeeCrossReference increases. A database
// without it would make every cached document look current forever, so that is an error.
std::int64_t changeVersion(SqliteConnection& connection) {
    auto& statement = connection.cached("SELECT Version FROM ChangeCounter WHERE Singleton = 1");
    statement.reset();
    if (!statement.step()) {
        statement.reset();
        throw StorageError("the change counter is missing from ChangeCounter", true);
    }
    const auto version = statement.columnInt(0);
    // Done with it: a statement left open would hold its read snapshot.
    statement.reset();
    return version;
}

std::int64_t vendorCount(SqliteConnection& connection) {
    auto statement = connection.prepare("SELECT count(*) FROM Vendor");
    statement.step();
    return statement.columnInt(0);
}

// An in-memory database gets a single shared connection: separate connections to ":memory:"
// would each see their own empty database.
std::vector<std::unique_ptr<SqliteConnection>> openConnections(const std::string& location,
                                                               int size) {
    const int count = location == ":memory:" ? 1 : std::max(size, 1);
    std::vector<std::unique_ptr<SqliteConnection>> connections;
    for (int i = 0; i < count; ++i)
        connections.push_back(std::make_unique<SqliteConnection>(location));
    createSchema(*connections.front());
    return connections;
}

VersionedDocument readVendorDocument(SqliteConnection& connection, std::int64_t employeeId) {
    auto readList = [&](std::string_view sql) {
        std::vector<VendorRecord> records;
        auto statement = connection.prepare(sql);
        statement.bind(1, employeeId);
        while (statement.step())
            records.push_back({statement.columnInt(0), std::string(statement.columnText(1))});
        return records;
    };
    // One read transaction, so that the two lists and the version agree with each other.
    SqliteTransaction transaction(connection, SqliteTransaction::Kind::Read);
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
ApplyResult applyStatements(SqliteConnection& connection, const std::vector<LinkStatement>& statements) {
    SqliteTransaction transaction(connection, SqliteTransaction::Kind::Write);
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
    : mLocation(location), mPool(openConnections(location, connections)) {}

std::int64_t SqliteStorage::changeVersion() {
    auto connection = mPool.acquire();
    return server::changeVersion(*connection);
}

// In WAL mode a reader never waits for a writer, so the counter is read on the calling thread
// whenever a connection is free.
std::optional<std::int64_t> SqliteStorage::changeVersionAtOnce() {
    auto connection = mPool.tryAcquire();
    if (!connection) return std::nullopt;
    return server::changeVersion(**connection);
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
    SqliteTransaction transaction(*connection, SqliteTransaction::Kind::Write);
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
    SqliteTransaction transaction(*connection, SqliteTransaction::Kind::Write);
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
