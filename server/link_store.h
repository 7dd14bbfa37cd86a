#pragma once

// Applies the link changes of one post to VendorEmployeeCrossReference with the server's own
// parameterised statements, all in one transaction.

#include <cstdint>
#include <string>
#include <vector>

#include "database.h"
#include "statement_parser.h"

namespace tavrolin::server {

struct ApplyResult {
    enum class Outcome { Applied, UnknownVendor, InactiveVendor };
    Outcome outcome = Outcome::Applied;
    std::int64_t vendorId = 0;       // the vendor that was refused
    std::size_t statementIndex = 0;  // 0-based position of the refused statement
};

// Runs every statement in order or none of them. Inserting a link that exists and deleting one
// that does not are no-ops, so a repeated post changes nothing. A link may be added only for an
// existing, active vendor. Throws DatabaseError when the database itself fails.
ApplyResult applyLinkStatements(Connection& connection,
                                const std::vector<LinkStatement>& statements);

}  // namespace tavrolin::server
