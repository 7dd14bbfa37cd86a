#pragma once

// The audit trail: one row for every link a post created or removed and for every vendor an
// import added or changed, with who made the change, from where and when. Both engines write it
// in the transaction of the change itself, so a change is in the trail whole or not at all.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vendor_import.h"

namespace tavrolin::server {

// Who makes a change: the signed-in user (empty without sign-in) and the client's address; for
// the import command, the operating-system user and no address.
struct ChangeAuthor {
    std::string user;
    std::string clientAddress;
};

// The actions as the trail stores and shows them.
inline constexpr std::string_view kLinked = "linked";
inline constexpr std::string_view kUnlinked = "unlinked";
inline constexpr std::string_view kVendorAdded = "added";
inline constexpr std::string_view kVendorRenamed = "renamed";
inline constexpr std::string_view kVendorActivated = "activated";
inline constexpr std::string_view kVendorDeactivated = "deactivated";

struct AuditEntry {
    std::int64_t changeId = 0;  // shared by all rows of one post or import
    std::string time;           // the database clock in UTC, "YYYY-MM-DD HH:MM:SS.mmm"
    std::string action;
    std::optional<std::int64_t> employeeId;  // none for a vendor's own change
    std::int64_t vendorId = 0;
    std::string user;
    std::string clientAddress;
    // For vendor rows the vendor's name after the change; a rename also names the old one.
    std::string detail;
};

// Which rows to read; every bound that is set must hold.
struct AuditFilter {
    std::optional<std::int64_t> employeeId;
    std::optional<std::int64_t> vendorId;
    std::optional<std::string> user;
    std::string since;  // at or after this time, in the stored form; empty for no bound
    std::string until;  // before this time
};

// A time as an admin types it, "YYYY-MM-DD" with optionally " HH:MM", ":SS" and ".mmm" (or "T"
// between date and time, and a final "Z"), all UTC, in the stored form; none when malformed.
std::optional<std::string> normalizeAuditTime(std::string_view text);

// The trail rows of an import: vendors that are new, renamed, activated or deactivated, in
// vendor-ID order. `before` holds the name and active flag of the imported vendors that exist;
// of several lines for one vendor the last one counts, as it does for the import itself.
struct VendorChange {
    std::int64_t vendorId;
    std::string_view action;
    std::string detail;
};
std::vector<VendorChange> vendorChanges(
    const std::map<std::int64_t, std::pair<std::string, bool>>& before,
    const std::vector<ImportedVendor>& imported);

}  // namespace tavrolin::server
