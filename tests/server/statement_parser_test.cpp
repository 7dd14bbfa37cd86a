#include "statement_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tavrolin::server;

namespace {

constexpr const char* kInsert123 =
    "INSERT INTO VendorEmployeeCrossReference (EmployeeID,VendorID,RecordLastUpdated) VALUES "
    "(42,123,GETDATE() ) ";
constexpr const char* kDelete =
    "DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID=42 AND VendorID IN(456,900)";

void expectRefused(const std::string& text) {
    const auto result = parseLinkStatement(text);
    EXPECT_FALSE(result.ok) << "accepted: " << text;
    EXPECT_FALSE(result.reason.empty());
}

}  // namespace

// The control's two shapes exactly, and as loosely spaced, cased and numbered as a person
// might write them.
TEST(ServerStatementParser, AcceptsTheControlsShapesWithAnySpacingCaseAndZeros) {
    const std::vector<std::pair<std::string, LinkStatement>> cases = {
        {kInsert123, LinkInsert{42, 123}},
        {kDelete, LinkDelete{42, {456, 900}}},
        {"DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID=42 AND VendorID IN(456)",
         LinkDelete{42, {456}}},
        {"  insert into vendoremployeecrossreference(employeeid , vendorid,"
         "recordlastupdated)values(42 ,\t123,getdate ( ))",
         LinkInsert{42, 123}},
        {"Delete From VendorEmployeeCrossReference\r\nWhere EmployeeID = 42 and "
         "VendorID in ( 456 , 900 ) ",
         LinkDelete{42, {456, 900}}},
        {"INSERT INTO VendorEmployeeCrossReference (EmployeeID,VendorID,"
         "RecordLastUpdated) VALUES (-7,000123,GETDATE() ) ",
         LinkInsert{-7, 123}},
        {"DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID=0 AND VendorID IN(000456,7)",
         LinkDelete{0, {456, 7}}},
    };
    for (const auto& [text, statement] : cases) {
        const auto result = parseLinkStatement(text);
        ASSERT_TRUE(result.ok) << text << ": " << result.reason;
        EXPECT_EQ(result.statement, statement) << text;
    }
}

TEST(ServerStatementParser, RefusesOtherStatementsAndTables) {
    expectRefused("DROP TABLE Vendor");
    expectRefused("UPDATE VendorEmployeeCrossReference SET VendorID=1 WHERE EmployeeID=42");
    expectRefused("SELECT * FROM Vendor");
    expectRefused(
        "INSERT INTO Vendor (EmployeeID,VendorID,RecordLastUpdated) VALUES (42,1,"
        "GETDATE() ) ");
    expectRefused("DELETE FROM Vendor WHERE EmployeeID=42 AND VendorID IN(456)");
    expectRefused("DELETE FROM VendorEmployeeCrossReference WHERE VendorID IN(456)");
    expectRefused("DELETE FROM VendorEmployeeCrossReference");
    expectRefused("");
    expectRefused("   ");
}

TEST(ServerStatementParser, RefusesAnythingSmuggledIntoTheShapes) {
    const std::string insertHead =
        "INSERT INTO VendorEmployeeCrossReference (EmployeeID,VendorID,RecordLastUpdated) VALUES (";
    // A second statement after a semicolon.
    expectRefused(std::string(kInsert123) + "; DELETE FROM Vendor");
    expectRefused(std::string(kDelete) + ";");
    // Quotes and comments inside a number.
    expectRefused(insertHead + "42,'123',GETDATE() ) ");
    expectRefused(
        "DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID=42' OR '1'='1 AND "
        "VendorID IN(456)");
    expectRefused(insertHead + "42,12/**/3,GETDATE() ) ");
    expectRefused(
        "DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID=42 AND VendorID "
        "IN(456--,900)");
    expectRefused(std::string(kDelete) + " -- trailing comment");
    // Non-numeric, signed or oversized numbers.
    expectRefused(insertHead + "42,abc,GETDATE() ) ");
    expectRefused(insertHead + "42,123abc,GETDATE() ) ");
    expectRefused(insertHead + "42,-123,GETDATE() ) ");
    expectRefused(insertHead + "+42,123,GETDATE() ) ");
    expectRefused(insertHead + "2147483648,123,GETDATE() ) ");
    expectRefused(insertHead + "42,123.5,GETDATE() ) ");
    expectRefused(insertHead + "42,0x7B,GETDATE() ) ");
    // Changed structure.
    expectRefused(insertHead + "42,123,'2020-01-01' ) ");
    expectRefused(insertHead + "42,123,GETDATE() ),(43,124,GETDATE() ) ");
    expectRefused(
        "INSERTINTO VendorEmployeeCrossReference (EmployeeID,VendorID,RecordLastUpdated)"
        " VALUES (42,123,GETDATE() ) ");
    expectRefused("DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID=42 AND VendorID IN()");
    expectRefused(
        "DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID=42 AND VendorID "
        "IN(456,)");
    expectRefused(
        "DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID=42 OR VendorID "
        "IN(456)");
    expectRefused(
        "DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID=42 AND VendorID "
        "IN(SELECT VendorID FROM Vendor)");
    // Letters outside ASCII are not spacing.
    expectRefused(std::string(kDelete) + "\xC2\xA0");
}
