#include "sqlite_connection.h"

#include <utility>

namespace tavrolin::server {

namespace {

[[noreturn]] void fail(sqlite3* db, int code, std::string_view what) {
    std::string message(what);
    if (db) {
        message += ": ";
        message += sqlite3_errmsg(db);
    }
    throw SqliteError(db ? sqlite3_extended_errcode(db) : code, message);
}


}  // namespace

SqliteConnection::SqliteConnection(const std::string& location) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI;
    const int rc = sqlite3_open_v2(location.c_str(), &mDb, flags, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = "cannot open database " + location;
        if (mDb) {
            message += ": ";
            message += sqlite3_errmsg(mDb);
            sqlite3_close(mDb);
        }
        throw SqliteError(rc, message);
    }
    sqlite3_extended_result_codes(mDb, 1);
    sqlite3_busy_timeout(mDb, 5000);
    execute("PRAGMA foreign_keys = ON");
    execute("PRAGMA journal_mode = WAL");
}

SqliteConnection::~SqliteConnection() {
    mCached.clear();
    sqlite3_close_v2(mDb);
}

void SqliteConnection::execute(std::string_view sql) {
    const std::string text(sql);
    char* error = nullptr;
    const int rc = sqlite3_exec(mDb, text.c_str(), nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        std::string message = error ? error : sqlite3_errstr(rc);
        sqlite3_free(error);
        throw SqliteError(sqlite3_extended_errcode(mDb), message);
    }
}

SqliteStatement SqliteConnection::prepare(std::string_view sql) {
    return SqliteStatement(*this, sql);
}

SqliteStatement& SqliteConnection::cached(const char* sql) {
    auto& statement = mCached[sql];
    if (!statement) statement = std::make_unique<SqliteStatement>(*this, sql);
    return *statement;
}

SqliteStatement::SqliteStatement(SqliteConnection& connection, std::string_view sql) : mDb(connection.handle()) {
    const int rc = sqlite3_prepare_v2(mDb, sql.data(), int(sql.size()), &mStmt, nullptr);
    if (rc != SQLITE_OK) fail(mDb, rc, "cannot prepare statement");
}

SqliteStatement::~SqliteStatement() {
    sqlite3_finalize(mStmt);
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : mDb(other.mDb), mStmt(std::exchange(other.mStmt, nullptr)) {}

SqliteStatement& SqliteStatement::bind(int index, std::int64_t value) {
    const int rc = sqlite3_bind_int64(mStmt, index, value);
    if (rc != SQLITE_OK) fail(mDb, rc, "cannot bind value");
    return *this;
}

SqliteStatement& SqliteStatement::bind(int index, std::string_view value) {
    const int rc = sqlite3_bind_text64(mStmt, index, value.data(), value.size(), SQLITE_TRANSIENT,
                                       SQLITE_UTF8);
    if (rc != SQLITE_OK) fail(mDb, rc, "cannot bind value");
    return *this;
}

bool SqliteStatement::step() {
    const int rc = sqlite3_step(mStmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    fail(mDb, rc, "statement failed");
}

void SqliteStatement::reset() {
    sqlite3_reset(mStmt);
    sqlite3_clear_bindings(mStmt);
}

std::int64_t SqliteStatement::columnInt(int column) const {
    return sqlite3_column_int64(mStmt, column);
}

std::string_view SqliteStatement::columnText(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(mStmt, column));
    if (!text) return {};
    return {text, std::size_t(sqlite3_column_bytes(mStmt, column))};
}

SqliteTransaction::SqliteTransaction(SqliteConnection& connection, Kind kind) : mConnection(connection) {
    // Writers take the write lock up front: upgrading a read transaction later can fail with
    // SQLITE_BUSY without waiting, whereas BEGIN IMMEDIATE honours the busy timeout.
    mConnection.execute(kind == Kind::Write ? "BEGIN IMMEDIATE" : "BEGIN");
}

SqliteTransaction::~SqliteTransaction() {
    if (!mOpen) return;
    try {
        mConnection.execute("ROLLBACK");
    } catch (const SqliteError&) {
        // The transaction is already gone (SQLite rolls back by itself on some errors).
    }
}

void SqliteTransaction::commit() {
    mConnection.execute("COMMIT");
    mOpen = false;
}

}  // namespace tavrolin::server
