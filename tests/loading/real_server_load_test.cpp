#include "support/control_driver.h"
#include "support/server_process.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QTemporaryDir>

using namespace test_support;

namespace {

// Reads a two-column query straight from the server's SQLite file.
std::vector<std::pair<QString, QString>> query(const QString& file, const char* sql) {
    sqlite3* db = nullptr;
    std::vector<std::pair<QString, QString>> rows;
    if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK)
        return rows;
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    while (sqlite3_step(statement) == SQLITE_ROW)
        rows.emplace_back(
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))),
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 1))));
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

}  // namespace

TEST(LoadFromServer, DemoEmployeeShowsWhatTheDatabaseHolds) {
    QTemporaryDir dir;
    const QString db = dir.filePath("demo.sqlite");
    tavrolin::test::ServerProcess server(
        {"--db", db.toStdString(), "--demo", "--listen", "127.0.0.1:0"});
    Tavrolin control;
    ControlDriver ui(control);
    control.show();
    control.setEmployeeID("42");
    control.setServerName(QString::fromStdString(server.baseUrl()));

    const auto linked = query(db,
                              "SELECT v.VendorID, v.VendorName FROM Vendor v JOIN "
                              "VendorEmployeeCrossReference x ON x.VendorID = v.VendorID "
                              "WHERE x.EmployeeID = 42 ORDER BY v.VendorID");
    const auto notLinked = query(db,
                                 "SELECT VendorID, VendorName FROM Vendor WHERE Active <> 0 AND "
                                 "VendorID NOT IN (SELECT VendorID FROM "
                                 "VendorEmployeeCrossReference WHERE EmployeeID = 42) "
                                 "ORDER BY VendorID");
    ASSERT_GT(linked.size(), 5u);
    ASSERT_GT(notLinked.size(), 100u);

    auto expect = [&](const char* list, const std::vector<std::pair<QString, QString>>& rows) {
        QStringList ids, names;
        for (const auto& [id, name] : rows) {
            ids << id;
            names << name;
        }
        EXPECT_EQ(ui.rows(list), ids) << list;
        EXPECT_EQ(ui.rows(list, 1), names) << list;
    };
    expect("lstVendors", notLinked);
    expect("lstSelectedVendors", linked);
    EXPECT_EQ(ui.label("lblAllVendors")->text(),
              QString("Non Selected Active Vendors (%1):").arg(notLinked.size()));
    EXPECT_EQ(ui.label("lblSelVendors")->text(),
              QString("Selected Vendors (%1):").arg(linked.size()));
    // Names with letters of the code page and markup characters arrive intact.
    bool accented = false, markup = false;
    for (const QString& name : ui.rows("lstVendors", 1) + ui.rows("lstSelectedVendors", 1)) {
        accented = accented || name.contains(QChar(0xE9)) || name.contains(QChar(0xFC));
        markup = markup || name.contains('&') || name.contains('<');
    }
    EXPECT_TRUE(accented);
    EXPECT_TRUE(markup);
}
