#include "saving/statements.h"
#include "control/list_view/list_view.h"

#include <tavrolin/run_time_error.h>

#include "support/run_time_errors.h"
#include "support/typical_moves.h"

#include <gtest/gtest.h>

using test_support::errorNumberOf;
using tavrolin::ChangeSet;

namespace {

void addRow(tavrolin::ListView& list, const QString& id, const QString& name,
            const QString& marker) {
    tavrolin::ListItem row = list.add(id);
    row.setSubItem(1, name);
    row.setSubItem(2, marker);
}

}  // namespace

TEST(Statements, TwoAddsAndTwoRemovalsGiveTheirBodyExactly) {
    const QStringList statements =
        tavrolin::buildStatements(42, ChangeSet{{"123", "77"}, {"456", "900"}});
    EXPECT_EQ(
        statements,
        (QStringList{"INSERT INTO VendorEmployeeCrossReference (EmployeeID,VendorID,"
                     "RecordLastUpdated) VALUES (42,123,GETDATE() ) ",
                     "INSERT INTO VendorEmployeeCrossReference (EmployeeID,VendorID,"
                     "RecordLastUpdated) VALUES (42,77,GETDATE() ) ",
                     "DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID=42 AND VendorID "
                     "IN(456,900)"}));
    EXPECT_EQ(tavrolin::buildBody(statements), QLatin1String(test_support::kTypicalMovesBody));
}

TEST(Statements, InsertsOnlyOrOneDeleteForManyRemovals) {
    const QStringList inserts = tavrolin::buildStatements(5, ChangeSet{{"1", "2", "3"}, {}});
    ASSERT_EQ(inserts.size(), 3);
    for (const QString& s : inserts) EXPECT_TRUE(s.startsWith("INSERT INTO ")) << s.toStdString();

    const QStringList removals = tavrolin::buildStatements(5, ChangeSet{{}, {"9", "8", "7", "6"}});
    EXPECT_EQ(removals, QStringList{"DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID=5 "
                                    "AND VendorID IN(9,8,7,6)"});
}

TEST(Statements, NoChangeGivesNoStatementAndEmptyBody) {
    EXPECT_TRUE(tavrolin::buildStatements(42, ChangeSet{}).isEmpty());
    EXPECT_EQ(tavrolin::buildBody({}), QString());
}

TEST(Statements, EmployeeIdIsPlainDecimalVendorIdIsTheRowTextUnchanged) {
    EXPECT_EQ(tavrolin::insertStatement(0, "000123"),
              "INSERT INTO VendorEmployeeCrossReference (EmployeeID,VendorID,RecordLastUpdated) "
              "VALUES (0,000123,GETDATE() ) ");
    EXPECT_EQ(tavrolin::deleteStatement(0, {"123"}),
              "DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID=0 AND VendorID IN(123)");
    EXPECT_TRUE(tavrolin::insertStatement(-7, "5").contains("VALUES (-7,5,"));
    EXPECT_TRUE(tavrolin::deleteStatement(-7, {"5"}).contains("EmployeeID=-7 AND"));
    EXPECT_TRUE(tavrolin::insertStatement(2147483647, "5").contains("(2147483647,5,"));
    EXPECT_TRUE(tavrolin::deleteStatement(-2147483647 - 1, {"5"}).contains("=-2147483648 "));
}

TEST(Statements, VendorIdThatIsNotAWholeNumberBuildsNothing) {
    // Such a text would reach the server's SQL unquoted.
    for (const QString& id :
         {QString("1) OR (1=1"), QString("12a"), QString(""), QString(" 7"), QString("-3")}) {
        for (const ChangeSet& changes : {ChangeSet{{id}, {}}, ChangeSet{{}, {id}}})
            EXPECT_EQ(errorNumberOf([&] { tavrolin::buildStatements(42, changes); }), 13)
                << id.toStdString();
    }
}

TEST(Statements, BodyCountsStatementsIn16Bits) {
    const QStringList most(32767, QStringLiteral("x"));
    const QString body = tavrolin::buildBody(most);
    EXPECT_EQ(body.size(), 32767 * 6);
    EXPECT_TRUE(body.startsWith("SQL=x&SQL=x&"));

    QStringList tooMany = most;
    tooMany << QStringLiteral("x");
    EXPECT_EQ(errorNumberOf([&] { tavrolin::buildBody(tooMany); }), 6);
}

TEST(ChangeSet, FlaggedRowsOfEachListInRowOrderRegardlessOfLetter) {
    tavrolin::ListView selected;
    tavrolin::ListView vendors;
    selected.setSortKey(1);  // by name: the row order is the names' order
    addRow(selected, "123", "Acme", "000123N");
    addRow(selected, "5", "Zulu", "000005");  // loaded here, never moved
    addRow(selected, "77", "Beta", "000077N");
    addRow(selected, "000031", "Gamma", "000031D");  // the list decides, not the letter
    vendors.setSortKey(1);
    addRow(vendors, "900", "Nine", "000900D");
    addRow(vendors, "456", "Four", "000456D");
    addRow(vendors, "8", "Eight", "000008");  // moved across and back: plain again

    const ChangeSet changes = tavrolin::readChangeSet(selected, vendors);
    EXPECT_EQ(changes.linksToAdd, (QStringList{"123", "77", "000031"}));
    EXPECT_EQ(changes.linksToRemove, (QStringList{"456", "900"}));

    selected.setSortOrder(Qt::DescendingOrder);
    EXPECT_EQ(tavrolin::readChangeSet(selected, vendors).linksToAdd,
              (QStringList{"000031", "77", "123"}));
}

TEST(ChangeSet, PlainMarkersEverywhereGiveNoChange) {
    tavrolin::ListView selected;
    tavrolin::ListView vendors;
    addRow(selected, "1", "One", "000001");
    addRow(vendors, "1234567", "Big", "1234567");
    const ChangeSet changes = tavrolin::readChangeSet(selected, vendors);
    EXPECT_TRUE(changes.linksToAdd.isEmpty());
    EXPECT_TRUE(changes.linksToRemove.isEmpty());
}
