#include "sqlite_storage.h"

#include <algorithm>
#include <tuple>
#include <chrono>
#include <map>

#include "demo_data.h"
#include "link_change_plan.h"

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

// Version 2: the audit trail. Its rows change no document, so it has no counter triggers; it
// names vendors without a reference, so that the trail of a vendor outlives the vendor.
constexpr const char* kAuditSchema = R"sql(
CREATE TABLE IF NOT EXISTS ChangeAudit (
    AuditID INTEGER PRIMARY KEY,
    ChangeID INTEGER NOT NULL,
    ChangedAt TEXT NOT NULL,
    Action TEXT NOT NULL,
    EmployeeID INTEGER,
    VendorID INTEGER NOT NULL,
    UserName TEXT NOT NULL,
    ClientAddress TEXT NOT NULL,
    Detail TEXT NOT NULL DEFAULT ''
);
)sql";

std::int64_t storedSchemaVersion(SqliteConnection& connection) {
    auto present = connection.prepare(
        "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'SchemaVersion'");
    if (!present.step()) return 0;
    auto statement = connection.prepare("SELECT Version FROM SchemaVersion WHERE Singleton = 1");
    return statement.step() ? statement.columnInt(0) : 0;
}

// Creates the tables of a new database, or brings an older one up to this version, in one
// transaction: servers and commands starting together on one file take turns, and a failed
// upgrade leaves the database as it was.
void prepareSchema(SqliteConnection& connection) {
    auto version = storedSchemaVersion(connection);
    if (version < kSchemaVersion) {
        SqliteTransaction transaction(connection, SqliteTransaction::Kind::Write);
        version = storedSchemaVersion(connection);
        if (version < kSchemaVersion) {
            // Every step is a no-op where its tables exist, so a new database and a version-1
            // one take the same path.
            connection.execute(kSchema);
            connection.execute(kAuditSchema);
            auto record = connection.prepare(
                "INSERT INTO SchemaVersion (Singleton, Version) VALUES (1, ?1) "
                "ON CONFLICT (Singleton) DO UPDATE SET Version = excluded.Version");
            record.bind(1, kSchemaVersion);
            record.step();
        }
        transaction.commit();
    }
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
    prepareSchema(*connections.front());
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

// The ID that the rows of one change share and the database clock's time for all of them.
// Writers take turns, so the ID after that of the newest row is unused.
std::pair<std::int64_t, std::string> newChange(SqliteConnection& connection) {
    auto statement = connection.prepare(
        "SELECT coalesce((SELECT ChangeID FROM ChangeAudit ORDER BY AuditID DESC LIMIT 1), "
        "0) + 1, strftime('%Y-%m-%d %H:%M:%f', 'now')");
    statement.step();
    return {statement.columnInt(0), std::string(statement.columnText(1))};
}

// What a post did to each link it named, by the net effect that others can see: a link added
// and removed again within the post was never there for them, while one removed and added again
// is a new row. The set-based engine sees the same, so both write the same trail.
class LinkTrail {
  public:
    void inserted(const LinkKey& link, bool changed) {
        mLinks.try_emplace(link, State{!changed}).first->second.existsNow = true;
    }
    void removed(const LinkKey& link, bool changed) {
        auto& state = mLinks.try_emplace(link, State{changed}).first->second;
        // Before the original row is gone, an insert of the link changes nothing, so a delete
        // that changes something removes the original.
        if (changed && state.existedBefore) state.originalRemoved = true;
        state.existsNow = false;
    }

    // Unlinked rows, then linked ones, each in key order; returns how many links the post
    // created and removed.
    std::pair<std::size_t, std::size_t> write(SqliteConnection& connection,
                                              const ChangeAuthor& author) const {
        std::vector<std::pair<LinkKey, std::string_view>> rows;
        for (const auto& [link, state] : mLinks)
            if (state.existedBefore && state.originalRemoved) rows.emplace_back(link, kUnlinked);
        for (const auto& [link, state] : mLinks)
            if (state.existsNow && (!state.existedBefore || state.originalRemoved))
                rows.emplace_back(link, kLinked);
        const std::size_t removed = std::size_t(
            std::count_if(rows.begin(), rows.end(), [](const auto& row) { return row.second == kUnlinked; }));
        if (rows.empty()) return {0, 0};
        const auto [change, time] = newChange(connection);
        auto insert = connection.prepare(
            "INSERT INTO ChangeAudit (ChangeID, ChangedAt, Action, EmployeeID, VendorID, "
            "UserName, ClientAddress) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
        // What all rows share is bound once: a large post writes a row per link.
        insert.bind(1, change).bind(2, time).bind(6, author.user).bind(7, author.clientAddress);
        for (const auto& [link, action] : rows) {
            insert.rewind();
            insert.bind(3, action).bind(4, link.first).bind(5, link.second);
            insert.step();
        }
        return {rows.size() - removed, removed};
    }

  private:
    struct State {
        bool existedBefore;
        bool originalRemoved = false;
        bool existsNow = false;
    };
    std::map<LinkKey, State> mLinks;
};

// Statement by statement: on SQLite a statement costs microseconds, less than planning sets.
ApplyResult applyStatements(SqliteConnection& connection,
                            const std::vector<LinkStatement>& statements,
                            const ChangeAuthor& author) {
    SqliteTransaction transaction(connection, SqliteTransaction::Kind::Write);
    auto vendorState = connection.prepare("SELECT Active FROM Vendor WHERE VendorID = ?1");
    // RecordLastUpdated is left to the column default: the database clock, never the client.
    auto insert = connection.prepare(
        "INSERT INTO VendorEmployeeCrossReference (EmployeeID, VendorID) VALUES (?1, ?2) "
        "ON CONFLICT (EmployeeID, VendorID) DO NOTHING");
    auto remove = connection.prepare(
        "DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID = ?1 AND VendorID = ?2");

    LinkTrail trail;
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
            trail.inserted({add->employeeId, add->vendorId}, connection.changes() > 0);
        } else {
            const auto& drop = std::get<LinkDelete>(statement);
            for (const auto vendorId : drop.vendorIds) {
                remove.reset();
                remove.bind(1, std::int64_t(drop.employeeId)).bind(2, vendorId);
                remove.step();
                trail.removed({drop.employeeId, vendorId}, connection.changes() > 0);
            }
        }
    }
    ApplyResult result;
    std::tie(result.linksCreated, result.linksRemoved) = trail.write(connection, author);
    transaction.commit();
    return result;
}

std::map<std::int64_t, std::pair<std::string, bool>> existingVendors(
    SqliteConnection& connection, const std::vector<ImportedVendor>& vendors) {
    std::map<std::int64_t, std::pair<std::string, bool>> existing;
    auto statement =
        connection.prepare("SELECT VendorName, Active FROM Vendor WHERE VendorID = ?1");
    for (const auto& vendor : vendors) {
        if (existing.contains(vendor.id)) continue;
        statement.reset();
        statement.bind(1, vendor.id);
        if (statement.step())
            existing.emplace(vendor.id, std::pair(std::string(statement.columnText(0)),
                                                  statement.columnInt(1) == 1));
    }
    return existing;
}

void writeVendorTrail(SqliteConnection& connection, const std::vector<VendorChange>& changes,
                      const ChangeAuthor& author) {
    if (changes.empty()) return;
    const auto [change, time] = newChange(connection);
    auto insert = connection.prepare(
        "INSERT INTO ChangeAudit (ChangeID, ChangedAt, Action, VendorID, UserName, "
        "ClientAddress, Detail) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    for (const auto& row : changes) {
        insert.reset();
        insert.bind(1, change).bind(2, time).bind(3, row.action).bind(4, row.vendorId);
        insert.bind(5, author.user).bind(6, author.clientAddress).bind(7, row.detail);
        insert.step();
    }
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

ApplyResult SqliteStorage::applyLinkStatements(const std::vector<LinkStatement>& statements,
                                               const ChangeAuthor& author) {
    const auto writing = lockForWriting();
    auto connection = mPool.acquire();
    return applyStatements(*connection, statements, author);
}

std::size_t SqliteStorage::importVendors(const std::vector<ImportedVendor>& vendors,
                                         const ChangeAuthor& author) {
    const auto writing = lockForWriting();
    auto connection = mPool.acquire();
    SqliteTransaction transaction(*connection, SqliteTransaction::Kind::Write);
    writeVendorTrail(*connection, vendorChanges(existingVendors(*connection, vendors), vendors),
                     author);
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

void SqliteStorage::readAuditTrail(const AuditFilter& filter,
                                   const std::function<void(const AuditEntry&)>& row) {
    auto connection = mPool.acquire();
    SqliteTransaction transaction(*connection, SqliteTransaction::Kind::Read);
    // Unbound parameters are NULL: a bound that is not set holds for every row.
    auto statement = connection->prepare(
        "SELECT ChangeID, ChangedAt, Action, EmployeeID, VendorID, UserName, ClientAddress, "
        "Detail FROM ChangeAudit WHERE (?1 IS NULL OR EmployeeID = ?1) AND "
        "(?2 IS NULL OR VendorID = ?2) AND (?3 IS NULL OR UserName = ?3) AND "
        "(?4 IS NULL OR ChangedAt >= ?4) AND (?5 IS NULL OR ChangedAt < ?5) "
        "ORDER BY AuditID DESC");
    if (filter.employeeId) statement.bind(1, *filter.employeeId);
    if (filter.vendorId) statement.bind(2, *filter.vendorId);
    if (filter.user) statement.bind(3, *filter.user);
    if (!filter.since.empty()) statement.bind(4, filter.since);
    if (!filter.until.empty()) statement.bind(5, filter.until);
    AuditEntry entry;
    while (statement.step()) {
        entry.changeId = statement.columnInt(0);
        entry.time = statement.columnText(1);
        entry.action = statement.columnText(2);
        entry.employeeId.reset();
        if (!statement.columnText(3).empty()) entry.employeeId = statement.columnInt(3);
        entry.vendorId = statement.columnInt(4);
        entry.user = statement.columnText(5);
        entry.clientAddress = statement.columnText(6);
        entry.detail = statement.columnText(7);
        row(entry);
    }
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
