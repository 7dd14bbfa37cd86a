#pragma once

// SQLite connections for the server: opening with the pragmas the service relies on and small
// RAII wrappers around the C API.

#include <sqlite3.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <memory>
#include <unordered_map>

#include "storage_error.h"

namespace tavrolin::server {

// A failure of the database layer; `code()` is SQLite's extended result code.
class SqliteError : public StorageError {
  public:
    SqliteError(int code, const std::string& message)
        : StorageError(message, isBusy(code)), mCode(code) {}
    int code() const { return mCode; }
    bool isBusy() const { return isBusy(mCode); }
    static bool isBusy(int code) {
        return (code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED;
    }

  private:
    int mCode;
};

class SqliteStatement;

class SqliteConnection {
  public:
    // `location` is a file name or an SQLite URI ("file:...").
    explicit SqliteConnection(const std::string& location);
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    void execute(std::string_view sql);
    SqliteStatement prepare(std::string_view sql);
    // A statement prepared once per connection and kept, for queries run on every request.
    SqliteStatement& cached(const char* sql);
    sqlite3* handle() const { return mDb; }
    // Rows the last finished INSERT, UPDATE or DELETE changed, not counting its triggers'.
    std::int64_t changes() const { return sqlite3_changes64(mDb); }

  private:
    sqlite3* mDb = nullptr;
    std::unordered_map<const char*, std::unique_ptr<SqliteStatement>> mCached;
};

class SqliteStatement {
  public:
    SqliteStatement(SqliteConnection& connection, std::string_view sql);
    ~SqliteStatement();
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;
    SqliteStatement& operator=(SqliteStatement&&) = delete;

    SqliteStatement& bind(int index, std::int64_t value);
    SqliteStatement& bind(int index, std::string_view value);
    // True while a row is available; false when the statement is done.
    bool step();
    void reset();
    // Makes the statement ready to run again with the values bound so far.
    void rewind() { sqlite3_reset(mStmt); }
    int columnCount() const { return sqlite3_column_count(mStmt); }
    std::int64_t columnInt(int column) const;
    std::string_view columnText(int column) const;

  private:
    sqlite3* mDb;
    sqlite3_stmt* mStmt = nullptr;
};

// Runs BEGIN (or BEGIN IMMEDIATE for writers) and rolls back unless committed, so a failure
// anywhere inside leaves the database as it was.
class SqliteTransaction {
  public:
    enum class Kind { Read, Write };
    SqliteTransaction(SqliteConnection& connection, Kind kind);
    ~SqliteTransaction();
    SqliteTransaction(const SqliteTransaction&) = delete;
    SqliteTransaction& operator=(const SqliteTransaction&) = delete;
    void commit();

  private:
    SqliteConnection& mConnection;
    bool mOpen = true;
};

}  // namespace tavrolin::server
