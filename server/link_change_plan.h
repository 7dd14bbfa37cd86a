#pragma once

// The link changes of one post as set operations, for the PostgreSQL engine, where a round
// trip per statement costs more than the work.

#include <cstdint>
#include <utility>
#include <vector>

#include "statement_parser.h"

namespace tavrolin::server {

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
