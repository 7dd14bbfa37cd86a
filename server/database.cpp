#include "database.h"

#include "storage.h"

#include <algorithm>
#include <utility>

namespace tavrolin::server {

namespace {

[[noreturn]] void fail(sqlite3* db, int code, std::string_view what) {
    std::string message(what);
    if (db) {
        message += ": ";
        message += sqlite3_errmsg(db);
    }
    throw DatabaseError(db ? sqlite3_extended_errcode(db) : code, message);
}

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
INSERT OR IGNORE INTO SchemaVersion (Singleton, Version) VALUES (1, 1);
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

}  // namespace

Connection::Connection(const std::string& location) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI;
    const int rc = sqlite3_open_v2(location.c_str(), &mDb, flags, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = "cannot open database " + location;
        if (mDb) {
            message += ": ";
            message += sqlite3_errmsg(mDb);
            sqlite3_close(mDb);
        }
        throw DatabaseError(rc, message);
    }
    sqlite3_extended_result_codes(mDb, 1);
    sqlite3_busy_timeout(mDb, 5000);
    execute("PRAGMA foreign_keys = ON");
    execute("PRAGMA journal_mode = WAL");
}

Connection::~Connection() {
    sqlite3_close_v2(mDb);
}

void Connection::execute(std::string_view sql) {
    const std::string text(sql);
    char* error = nullptr;
    const int rc = sqlite3_exec(mDb, text.c_str(), nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        std::string message = error ? error : sqlite3_errstr(rc);
        sqlite3_free(error);
        throw DatabaseError(sqlite3_extended_errcode(mDb), message);
    }
}

Statement Connection::prepare(std::string_view sql) {
    return Statement(*this, sql);
}

Statement::Statement(Connection& connection, std::string_view sql) : mDb(connection.handle()) {
    const int rc = sqlite3_prepare_v2(mDb, sql.data(), int(sql.size()), &mStmt, nullptr);
    if (rc != SQLITE_OK) fail(mDb, rc, "cannot prepare statement");
}

Statement::~Statement() {
    sqlite3_finalize(mStmt);
}

Statement::Statement(Statement&& other) noexcept
    : mDb(other.mDb), mStmt(std::exchange(other.mStmt, nullptr)) {}

Statement& Statement::bind(int index, std::int64_t value) {
    const int rc = sqlite3_bind_int64(mStmt, index, value);
    if (rc != SQLITE_OK) fail(mDb, rc, "cannot bind value");
    return *this;
}

Statement& Statement::bind(int index, std::string_view value) {
    const int rc = sqlite3_bind_text64(mStmt, index, value.data(), value.size(), SQLITE_TRANSIENT,
                                       SQLITE_UTF8);
    if (rc != SQLITE_OK) fail(mDb, rc, "cannot bind value");
    return *this;
}

bool Statement::step() {
    const int rc = sqlite3_step(mStmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    fail(mDb, rc, "statement failed");
}

void Statement::reset() {
    sqlite3_reset(mStmt);
    sqlite3_clear_bindings(mStmt);
}

std::int64_t Statement::columnInt(int column) const {
    return sqlite3_column_int64(mStmt, column);
}

std::string_view Statement::columnText(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(mStmt, column));
    if (!text) return {};
    return {text, std::size_t(sqlite3_column_bytes(mStmt, column))};
}

Transaction::Transaction(Connection& connection, Kind kind) : mConnection(connection) {
    // Writers take the write lock up front: upgrading a read transaction later can fail with
    // SQLITE_BUSY without waiting, whereas BEGIN IMMEDIATE honours the busy timeout.
    mConnection.execute(kind == Kind::Write ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction() {
    if (!mOpen) return;
    try {
        mConnection.execute("ROLLBACK");
    } catch (const DatabaseError&) {
        // The transaction is already gone (SQLite rolls back by itself on some errors).
    }
}

void Transaction::commit() {
    mConnection.execute("COMMIT");
    mOpen = false;
}

void createSchema(Connection& connection) {
    connection.execute(kSchema);
    auto statement = connection.prepare("SELECT Version FROM SchemaVersion WHERE Singleton = 1");
    const auto version = statement.step() ? statement.columnInt(0) : 0;
    if (version > kSchemaVersion) throw StorageError(newerSchemaMessage(version), false);
}

std::int64_t changeVersion(Connection& connection) {
    auto statement = connection.prepare("SELECT Version FROM ChangeCounter WHERE Singleton = 1");
    return statement.step() ? statement.columnInt(0) : 0;
}

std::int64_t vendorCount(Connection& connection) {
    auto statement = connection.prepare("SELECT count(*) FROM Vendor");
    statement.step();
    return statement.columnInt(0);
}

ConnectionPool::ConnectionPool(const std::string& databasePath, int size)
    : mInMemory(databasePath == ":memory:") {
    const int count = mInMemory ? 1 : std::max(size, 1);
    for (int i = 0; i < count; ++i) mIdle.push_back(std::make_unique<Connection>(databasePath));
    createSchema(*mIdle.front());
}

ConnectionPool::~ConnectionPool() = default;

ConnectionPool::Lease ConnectionPool::acquire() {
    std::unique_lock lock(mMutex);
    mAvailable.wait(lock, [this] { return !mIdle.empty(); });
    auto connection = std::move(mIdle.back());
    mIdle.pop_back();
    return Lease(*this, std::move(connection));
}

void ConnectionPool::release(std::unique_ptr<Connection> connection) {
    {
        std::lock_guard lock(mMutex);
        mIdle.push_back(std::move(connection));
    }
    mAvailable.notify_one();
}

ConnectionPool::Lease::Lease(ConnectionPool& pool, std::unique_ptr<Connection> connection)
    : mPool(pool), mConnection(std::move(connection)) {}

ConnectionPool::Lease::~Lease() {
    mPool.release(std::move(mConnection));
}

}  // namespace tavrolin::server
