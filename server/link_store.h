#pragma once

// What applying the link changes of one post means, for every engine: each statement in order,
// all in one transaction or none. Inserting a link that exists and deleting one that does not
// are no-ops, so a repeated post changes nothing; a link may be added only for an existing,
// active vendor. RecordLastUpdated comes from the database clock, never from the client.

#include <cstdint>
#include <utility>
#include <vector>

#include "statement_parser.h"

namespace tavrolin::server {

struct ApplyResult {
    enum class Outcome { Applied, UnknownVendor, InactiveVendor };
    Outcome outcome = Outcome::Applied;
    std::int64_t vendorId = 0;  // the vendor that was refused
};

using LinkKey = std::pair<std::int64_t, std::int64_t>;  // EmployeeID, VendorID

// The same changes as set operations, for engines where a round trip per statement costs more
// than the work: a link's final state depends only on the last statement that names it, and a
// link deleted before its last insert is inserted afresh (with a new RecordLastUpdated), just as
// running the statements one by one would leave it.
struct LinkChangePlan {
    // Vendors of the inserts in statement order, first occurrence only: the first of them that
    // is unknown or inactive refuses the post.
    std::vector<std::int64_t> insertedVendors;
    std::vector<LinkKey> deletes;  // run first
    std::vector<LinkKey> inserts;  // then these, each a no-op where the link exists
};

LinkChangePlan planLinkChanges(const std::vector<LinkStatement>& statements);

}  // namespace tavrolin::server
