#include "test_database.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "sqlite_connection.h"
#include "postgres_connection.h"
#include "storage.h"

#ifndef TAVROLIN_POSTGRES_CLUSTER_SCRIPT
#error "TAVROLIN_POSTGRES_CLUSTER_SCRIPT must name postgres_cluster.sh"
#endif
#ifndef TAVROLIN_POSTGRES_CLUSTER_INFO
#error "TAVROLIN_POSTGRES_CLUSTER_INFO must name the shared cluster's info file"
#endif

namespace tavrolin::server::test {

namespace {

std::atomic<int> gCounter{0};

std::string uniqueName() {
    return "tavrolin_" + std::to_string(getpid()) + "_" + std::to_string(gCounter++);
}

std::string firstLine(const std::string& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

void runClusterScript(const std::string& command, const std::string& info,
                      const std::string& mode = "") {
    const std::string line =
        std::string(TAVROLIN_POSTGRES_CLUSTER_SCRIPT) + " " + command + " '" + info + "' " + mode;
    if (std::system(line.c_str()) != 0)
        throw std::runtime_error("postgres_cluster.sh " + command + " failed");
}

}  // namespace

std::string engineName(Engine engine) {
    return engine == Engine::Sqlite ? "SQLite" : "PostgreSQL";
}

PostgresCluster::PostgresCluster() {
    mInfo = ::testing::TempDir() + uniqueName() + ".info";
    runClusterScript("start", mInfo, "fast");
    mQuery = firstLine(mInfo);
}

PostgresCluster::~PostgresCluster() {
    try {
        runClusterScript("stop", mInfo);
    } catch (const std::exception&) {
    }
}

void PostgresCluster::halt() {
    runClusterScript("halt", mInfo);
}

void PostgresCluster::resume() {
    runClusterScript("resume", mInfo);
}

std::string sharedClusterQuery() {
    const auto query = firstLine(TAVROLIN_POSTGRES_CLUSTER_INFO);
    if (query.empty())
        throw std::runtime_error(
            "the scratch PostgreSQL cluster is not running: run the tests through ctest, whose "
            "PostgresCluster.Start test starts it (" TAVROLIN_POSTGRES_CLUSTER_INFO ")");
    return query;
}

TestDatabase::TestDatabase(Engine engine) : mEngine(engine) {
    if (engine == Engine::Postgres) {
        createPostgres(sharedClusterQuery());
        return;
    }
    mLocation = mDirectory.emplace() / "vendors.db";
    openStorage(mLocation, 1);
}

TestDatabase::TestDatabase(const std::string& clusterQuery) : mEngine(Engine::Postgres) {
    createPostgres(clusterQuery);
}

void TestDatabase::createPostgres(const std::string& clusterQuery) {
    mName = uniqueName();
    mAdminUri = "postgresql:///postgres?" + clusterQuery;
    mLocation = "postgresql:///" + mName + "?" + clusterQuery;
    PgConnection admin(mAdminUri);
    admin.execute(("CREATE DATABASE " + mName).c_str());
    openStorage(mLocation, 1);
}

TestDatabase::~TestDatabase() {
    if (mEngine != Engine::Postgres) return;  // an SQLite file goes with its directory
    try {
        PgConnection admin(mAdminUri);
        admin.execute(("DROP DATABASE IF EXISTS " + mName + " WITH (FORCE)").c_str());
    } catch (const StorageError&) {
        // The cluster is gone with everything in it.
    }
}

void TestDatabase::execute(const std::string& sql) const {
    if (mEngine == Engine::Postgres) {
        PgConnection connection(mLocation);
        connection.execute(sql.c_str());
        return;
    }
    SqliteConnection connection(mLocation);
    connection.execute(sql);
}

std::vector<std::vector<std::string>> TestDatabase::rows(const std::string& sql) const {
    std::vector<std::vector<std::string>> out;
    if (mEngine == Engine::Postgres) {
        PgConnection connection(mLocation);
        const auto result = connection.execute(sql.c_str());
        for (int row = 0; row < result.rows(); ++row) {
            auto& cells = out.emplace_back();
            for (int column = 0; column < result.columns(); ++column)
                cells.emplace_back(result.text(row, column));
        }
        return out;
    }
    SqliteConnection connection(mLocation);
    auto statement = connection.prepare(sql);
    while (statement.step()) {
        auto& cells = out.emplace_back();
        for (int column = 0; column < statement.columnCount(); ++column)
            cells.emplace_back(statement.columnText(column));
    }
    return out;
}

std::string TestDatabase::dump() const {
    std::string out;
    for (const auto& row :
         rows("SELECT VendorID, VendorName, Active FROM Vendor ORDER BY VendorID"))
        out += "V " + row[0] + " " + row[1] + " " + row[2] + "\n";
    // Both engines' clocks in the same text form, to the millisecond.
    const std::string stamp = mEngine == Engine::Postgres
                                  ? "to_char(RecordLastUpdated, 'YYYY-MM-DD HH24:MI:SS.MS')"
                                  : "RecordLastUpdated";
    for (const auto& row : rows("SELECT EmployeeID, VendorID, " + stamp +
                                " FROM VendorEmployeeCrossReference ORDER BY EmployeeID, VendorID"))
        out += "L " + row[0] + " " + row[1] + " " + row[2] + "\n";
    return out;
}

std::string TestDatabase::links() const {
    std::string out;
    for (const auto& row :
         rows("SELECT EmployeeID, VendorID FROM VendorEmployeeCrossReference ORDER BY 1, 2")) {
        if (!out.empty()) out += ' ';
        out += row[0] + ":" + row[1];
    }
    return out;
}

}  // namespace tavrolin::server::test
