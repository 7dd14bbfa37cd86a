#pragma once

// SQLite connections for the server: opening with the pragmas the service relies on, the schema,
// small RAII wrappers around the C API and a pool that hands one connection to each worker.

#include <sqlite3.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "storage_error.h"

namespace tavrolin::server {

// A failure of the database layer; `code()` is SQLite's extended result code.
class DatabaseError : public StorageError {
  public:
    DatabaseError(int code, const std::string& message)
        : StorageError(message, isBusy(code)), mCode(code) {}
    int code() const { return mCode; }
    bool isBusy() const { return isBusy(mCode); }
    static bool isBusy(int code) {
        return (code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED;
    }

  private:
    int mCode;
};

class Statement;

class Connection {
  public:
    // `location` is a file name or an SQLite URI ("file:...").
    explicit Connection(const std::string& location);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void execute(std::string_view sql);
    Statement prepare(std::string_view sql);
    sqlite3* handle() const { return mDb; }

  private:
    sqlite3* mDb = nullptr;
};

class Statement {
  public:
    Statement(Connection& connection, std::string_view sql);
    ~Statement();
    Statement(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement& operator=(Statement&&) = delete;

    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, std::string_view value);
    // True while a row is available; false when the statement is done.
    bool step();
    void reset();
    int columnCount() const { return sqlite3_column_count(mStmt); }
    std::int64_t columnInt(int column) const;
    std::string_view columnText(int column) const;

  private:
    sqlite3* mDb;
    sqlite3_stmt* mStmt = nullptr;
};

// Runs BEGIN (or BEGIN IMMEDIATE for writers) and rolls back unless committed, so a failure
// anywhere inside leaves the database as it was.
class Transaction {
  public:
    enum class Kind { Read, Write };
    Transaction(Connection& connection, Kind kind);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

  private:
    Connection& mConnection;
    bool mOpen = true;
};

// Creates the tables when missing. Safe to run on every start.
void createSchema(Connection& connection);

// The counter that every change to Vendor or VendorEmployeeCrossReference increases.
std::int64_t changeVersion(Connection& connection);

// The number of vendors, used to decide whether demo data may be seeded.
std::int64_t vendorCount(Connection& connection);

// A fixed set of connections to one database. Workers lease a connection for the duration of
// one request; an in-memory database gets a single shared connection because separate
// connections to ":memory:" would each see their own empty database.
class ConnectionPool {
  public:
    ConnectionPool(const std::string& databasePath, int size);
    ~ConnectionPool();

    class Lease {
      public:
        Lease(ConnectionPool& pool, std::unique_ptr<Connection> connection);
        ~Lease();
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        Connection& operator*() const { return *mConnection; }
        Connection* operator->() const { return mConnection.get(); }

      private:
        ConnectionPool& mPool;
        std::unique_ptr<Connection> mConnection;
    };

    Lease acquire();
    bool inMemory() const { return mInMemory; }

  private:
    void release(std::unique_ptr<Connection> connection);

    bool mInMemory;
    std::mutex mMutex;
    std::condition_variable mAvailable;
    std::vector<std::unique_ptr<Connection>> mIdle;
};

}  // namespace tavrolin::server
