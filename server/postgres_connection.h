#pragma once

// A thin layer over libpq for the PostgreSQL engine: connections that find and repair a lost
// link themselves, results that free themselves, errors that never carry the password, and a
// pool that hands one connection to each worker.

#include <libpq-fe.h>

#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "storage_error.h"

namespace tavrolin::server {

// Whether `location` is a PostgreSQL connection URI rather than an SQLite file name.
bool isPostgresUri(std::string_view location);

// The URI with its password (in the user part or as a password= parameter) replaced by "***".
std::string redactedUri(std::string_view uri);

class PgResult {
  public:
    explicit PgResult(PGresult* result) : mResult(result) {}
    ~PgResult() { PQclear(mResult); }
    PgResult(PgResult&& other) noexcept : mResult(other.mResult) { other.mResult = nullptr; }
    PgResult(const PgResult&) = delete;
    PgResult& operator=(const PgResult&) = delete;
    PgResult& operator=(PgResult&&) = delete;

    int rows() const { return PQntuples(mResult); }
    int columns() const { return PQnfields(mResult); }
    bool isNull(int row, int column) const { return PQgetisnull(mResult, row, column); }
    std::string_view text(int row, int column) const {
        return {PQgetvalue(mResult, row, column), std::size_t(PQgetlength(mResult, row, column))};
    }
    std::int64_t integer(int row, int column) const;
    // Rows an INSERT, UPDATE or DELETE touched.
    std::size_t affectedRows() const {
        const char* count = PQcmdTuples(mResult);
        return count && *count ? std::size_t(std::strtoull(count, nullptr, 10)) : 0;
    }

  private:
    PGresult* mResult;
};

class PgConnection {
  public:
    // Connects to `uri`; throws StorageError (transient: the server may be starting or failing
    // over) when it cannot.
    explicit PgConnection(const std::string& uri);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // Runs one or more statements without parameters.
    PgResult execute(const char* sql);
    // Runs one statement with text parameters as an unnamed statement, in one round trip.
    // Nothing is prepared by name: behind a pooler in transaction mode the next transaction
    // may run on another backend, which would not know the name.
    PgResult execute(const char* sql, std::initializer_list<std::string_view> parameters);

    // Reconnects when the link is known to be gone; throws a transient StorageError if the
    // server cannot be reached.
    void ensureConnected();
    bool broken() const { return PQstatus(mConn) != CONNECTION_OK; }
    // Commands sent since the last call; lets a caller see whether a failure came first.
    int takeCommandCount() { return std::exchange(mCommands, 0); }

  private:
    PgResult check(PGresult* result, std::string_view what);
    [[noreturn]] void fail(std::string_view what, const char* sqlState);

    std::string mUri;
    PGconn* mConn = nullptr;
    int mCommands = 0;
};

}  // namespace tavrolin::server
