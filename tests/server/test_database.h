#pragma once

// A database of its own for one test, removed afterwards, and a way to look at all of it: an
// SQLite file, or a database of its own in the scratch PostgreSQL cluster that the test run
// starts (see postgres_cluster.sh).

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "scratch_directory.h"

namespace tavrolin::server::test {

enum class Engine { Sqlite, Postgres };

// "SQLite" or "PostgreSQL", for parameterised test names.
std::string engineName(Engine engine);
inline void PrintTo(Engine engine, std::ostream* out) {
    *out << engineName(engine);
}

// A scratch PostgreSQL cluster of the test's own, for tests that stop and start the server.
class PostgresCluster {
  public:
    PostgresCluster();
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    // Connection parameters in URI query form ("host=...&port=...&user=...").
    const std::string& query() const { return mQuery; }
    void halt();
    void resume();

  private:
    std::string mInfo;
    std::string mQuery;
};

// The cluster the whole test run shares; throws (failing the test) when it is not running.
std::string sharedClusterQuery();

class TestDatabase {
  public:
    explicit TestDatabase(Engine engine = Engine::Sqlite);
    // A PostgreSQL database in the cluster that `clusterQuery` names.
    explicit TestDatabase(const std::string& clusterQuery);
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    Engine engine() const { return mEngine; }
    // What --db takes: the SQLite file name or the PostgreSQL URI.
    const std::string& location() const { return mLocation; }
    // Runs SQL on a connection of its own (schema created first).
    void execute(const std::string& sql) const;
    // The rows of a query, each column as text, on a connection of its own.
    std::vector<std::vector<std::string>> rows(const std::string& sql) const;
    // Every row of both tables, including RecordLastUpdated, as text.
    std::string dump() const;
    // "EmployeeID:VendorID" of every link, in order.
    std::string links() const;

  private:
    void createPostgres(const std::string& clusterQuery);

    Engine mEngine;
    std::optional<tavrolin::test::ScratchDirectory> mDirectory;  // SQLite's
    std::string mLocation;
    std::string mAdminUri;
    std::string mName;
};

}  // namespace tavrolin::server::test
