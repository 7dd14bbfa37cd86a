#include "test_database.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

#include "database.h"

namespace tavrolin::server::test {

namespace {
std::atomic<int> gCounter{0};
}

TestDatabase::TestDatabase() {
    mDirectory = ::testing::TempDir() + "tavrolin-server-" + std::to_string(getpid()) + "-" +
                 std::to_string(gCounter++);
    std::filesystem::create_directories(mDirectory);
    mPath = mDirectory + "/vendors.db";
    Connection connection(mPath);
    createSchema(connection);
}

TestDatabase::~TestDatabase() {
    std::error_code ignored;
    std::filesystem::remove_all(mDirectory, ignored);
}

void TestDatabase::execute(const std::string& sql) const {
    Connection connection(mPath);
    connection.execute(sql);
}

std::string TestDatabase::dump() const {
    Connection connection(mPath);
    std::string out;
    auto vendors =
        connection.prepare("SELECT VendorID, VendorName, Active FROM Vendor ORDER BY VendorID");
    while (vendors.step())
        out += "V " + std::to_string(vendors.columnInt(0)) + " " +
               std::string(vendors.columnText(1)) + " " + std::to_string(vendors.columnInt(2)) +
               "\n";
    auto links = connection.prepare(
        "SELECT EmployeeID, VendorID, RecordLastUpdated FROM VendorEmployeeCrossReference "
        "ORDER BY EmployeeID, VendorID");
    while (links.step())
        out += "L " + std::to_string(links.columnInt(0)) + " " +
               std::to_string(links.columnInt(1)) + " " + std::string(links.columnText(2)) + "\n";
    return out;
}

std::string TestDatabase::links() const {
    Connection connection(mPath);
    std::string out;
    auto links = connection.prepare(
        "SELECT EmployeeID, VendorID FROM VendorEmployeeCrossReference ORDER BY 1, 2");
    while (links.step()) {
        if (!out.empty()) out += ' ';
        out += std::to_string(links.columnInt(0)) + ":" + std::to_string(links.columnInt(1));
    }
    return out;
}

}  // namespace tavrolin::server::test
