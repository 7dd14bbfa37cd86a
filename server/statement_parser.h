#pragma once

// Recognises the two statements the vendor control sends and turns them into parameters. The
// received text is never executed: anything that is not exactly one of these two shapes, apart
// from spacing and letter case, is refused.
//
//   INSERT INTO VendorEmployeeCrossReference (EmployeeID,VendorID,RecordLastUpdated)
//       VALUES (<employee>,<vendor>,GETDATE() )
//   DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID=<employee>
//       AND VendorID IN(<vendor>,<vendor>,...)

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tavrolin::server {

struct LinkInsert {
    std::int32_t employeeId;
    std::int64_t vendorId;
    bool operator==(const LinkInsert&) const = default;
};

struct LinkDelete {
    std::int32_t employeeId;
    std::vector<std::int64_t> vendorIds;
    bool operator==(const LinkDelete&) const = default;
};

using LinkStatement = std::variant<LinkInsert, LinkDelete>;

struct ParseResult {
    bool ok = false;
    LinkStatement statement;
    // Why the text was refused, for the server log; empty when `ok`.
    std::string reason;
};

ParseResult parseLinkStatement(std::string_view text);

}  // namespace tavrolin::server
