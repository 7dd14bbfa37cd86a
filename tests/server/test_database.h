#pragma once

// A database file of its own for one test, removed afterwards, and a way to look at all of it.

#include <string>

namespace tavrolin::server::test {

class TestDatabase {
  public:
    TestDatabase();
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    const std::string& path() const { return mPath; }
    // Runs SQL on a connection of its own (schema created first).
    void execute(const std::string& sql) const;
    // Every row of both tables, including RecordLastUpdated, as text.
    std::string dump() const;
    // "EmployeeID:VendorID" of every link, in order.
    std::string links() const;

  private:
    std::string mDirectory;
    std::string mPath;
};

}  // namespace tavrolin::server::test
