#include "link_store.h"

namespace tavrolin::server {

ApplyResult applyLinkStatements(Connection& connection,
                                const std::vector<LinkStatement>& statements) {
    Transaction transaction(connection, Transaction::Kind::Write);
    auto vendorState = connection.prepare("SELECT Active FROM Vendor WHERE VendorID = ?1");
    // RecordLastUpdated is left to the column default: the database clock, never the client.
    auto insert = connection.prepare(
        "INSERT INTO VendorEmployeeCrossReference (EmployeeID, VendorID) VALUES (?1, ?2) "
        "ON CONFLICT (EmployeeID, VendorID) DO NOTHING");
    auto remove = connection.prepare(
        "DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID = ?1 AND VendorID = ?2");

    for (std::size_t index = 0; index < statements.size(); ++index) {
        if (const auto* add = std::get_if<LinkInsert>(&statements[index])) {
            vendorState.reset();
            vendorState.bind(1, add->vendorId);
            if (!vendorState.step())
                return {ApplyResult::Outcome::UnknownVendor, add->vendorId, index};
            if (vendorState.columnInt(0) != 1)
                return {ApplyResult::Outcome::InactiveVendor, add->vendorId, index};
            insert.reset();
            insert.bind(1, std::int64_t(add->employeeId)).bind(2, add->vendorId);
            insert.step();
        } else {
            const auto& drop = std::get<LinkDelete>(statements[index]);
            for (const auto vendorId : drop.vendorIds) {
                remove.reset();
                remove.bind(1, std::int64_t(drop.employeeId)).bind(2, vendorId);
                remove.step();
            }
        }
    }
    transaction.commit();
    return {};
}

}  // namespace tavrolin::server
