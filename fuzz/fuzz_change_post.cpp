// A whole change post against an in-memory database: it either applies every statement, leaving
// exactly the links its statements imply and a trail of exactly what changed, or it is refused
// and leaves the database and the trail as they were. Applying an accepted post a second time
// changes nothing.

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sqlite_connection.h"
#include "form_decoding.h"
#include "fuzz_check.h"
#include "request_handler.h"
#include "sqlite_storage.h"
#include "statement_parser.h"

using namespace tavrolin::server;

namespace {

using Link = std::pair<std::int64_t, std::int64_t>;  // employee, vendor

// Vendors 1 to 12 are active, 13 to 16 inactive; the links include one to an inactive vendor.
constexpr std::int64_t kLastActive = 12;
constexpr std::int64_t kLastVendor = 16;
const std::set<Link> kStartLinks = {{42, 1}, {42, 2}, {42, 3}, {7, 5}, {7, 13}, {-3, 12}};

// One in-memory database shared by the storage the post goes through and the connection that
// sets up and reads the links.
constexpr const char* kDatabase = "file:fuzz_change_post?mode=memory&cache=shared";

LinkStorage& storage() {
    static SqliteStorage* instance = new SqliteStorage(kDatabase, 1);
    return *instance;
}

SqliteConnection& connection() {
    static SqliteConnection* instance = [] {
        storage();  // creates the tables
        auto* created = new SqliteConnection(kDatabase);
        for (std::int64_t id = 1; id <= kLastVendor; ++id)
            created
                ->prepare("INSERT INTO Vendor (VendorID, VendorName, Active) VALUES (?1, ?2, ?3)")
                .bind(1, id)
                .bind(2, "Vendor " + std::to_string(id))
                .bind(3, std::int64_t(id <= kLastActive))
                .step();
        return created;
    }();
    return *instance;
}

void resetLinks() {
    connection().execute("DELETE FROM VendorEmployeeCrossReference; DELETE FROM ChangeAudit");
    for (const auto& [employee, vendor] : kStartLinks)
        connection()
            .prepare(
                "INSERT INTO VendorEmployeeCrossReference (EmployeeID, VendorID) VALUES (?1, ?2)")
            .bind(1, employee)
            .bind(2, vendor)
            .step();
}

std::set<Link> links() {
    auto rows =
        connection().prepare("SELECT EmployeeID, VendorID FROM VendorEmployeeCrossReference");
    std::set<Link> out;
    while (rows.step()) out.insert({rows.columnInt(0), rows.columnInt(1)});
    return out;
}

// Whether the trail holds exactly the net change from the start links to `after`: a row for
// each link added or removed, and for a link in both only a removal paired with an addition.
bool trailMatches(const std::set<Link>& after) {
    auto rows = connection().prepare("SELECT EmployeeID, VendorID, Action FROM ChangeAudit");
    std::map<Link, std::pair<int, int>> counts;  // linked, unlinked
    while (rows.step()) {
        auto& [linked, unlinked] = counts[{rows.columnInt(0), rows.columnInt(1)}];
        ++(rows.columnText(2) == "linked" ? linked : unlinked);
    }
    for (const auto& [link, count] : counts) {
        const int change = int(after.contains(link)) - int(kStartLinks.contains(link));
        if (count.first > 1 || count.second > 1 || count.first - count.second != change)
            return false;
    }
    for (const auto& link : after)
        if (!kStartLinks.contains(link) && !counts.contains(link)) return false;
    for (const auto& link : kStartLinks)
        if (!after.contains(link) && !counts.contains(link)) return false;
    return true;
}

// What the post should do, worked out from its statements: the links afterwards, or nothing
// when any field is not an acceptable statement or any insert names a missing or inactive vendor.
bool expectedOutcome(std::string_view body, std::set<Link>& result) {
    const auto form = decodeFormBody(body);
    if (!form.ok) return false;
    result = kStartLinks;
    for (const auto& field : form.fields) {
        if (field.name != "SQL") return false;
        const auto parsed = parseLinkStatement(field.value);
        if (!parsed.ok) return false;
        if (const auto* insert = std::get_if<LinkInsert>(&parsed.statement)) {
            if (insert->vendorId < 1 || insert->vendorId > kLastActive) return false;
            result.insert({insert->employeeId, insert->vendorId});
        } else {
            const auto& remove = std::get<LinkDelete>(parsed.statement);
            for (const auto vendor : remove.vendorIds) result.erase({remove.employeeId, vendor});
        }
    }
    return true;
}

bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    constexpr std::string_view kForm = "application/x-www-form-urlencoded; charset=windows-1252";
    resetLinks();
    FUZZ_CHECK(links() == kStartLinks);

    std::set<Link> expected;
    const bool shouldApply = expectedOutcome(body, expected);
    const PostReply reply = handleChangePost(storage(), {}, kForm, body);

    // The database itself never fails here, whatever the post says.
    FUZZ_CHECK(reply.status == 200 || reply.status == 400 || reply.status == 413 ||
               reply.status == 422);
    if (reply.status != 200) {
        FUZZ_CHECK(!shouldApply);
        FUZZ_CHECK(endsWith(reply.text, "Nothing was saved."));
        FUZZ_CHECK(links() == kStartLinks);
        FUZZ_CHECK(trailMatches(kStartLinks));
        return 0;
    }
    FUZZ_CHECK(shouldApply);
    FUZZ_CHECK(reply.text.empty());
    FUZZ_CHECK(links() == expected);
    FUZZ_CHECK(trailMatches(expected));

    // Changing nothing, the post again leaves nothing in the trail either.
    const PostReply again = handleChangePost(storage(), {}, kForm, body);
    FUZZ_CHECK(again.status == 200);
    FUZZ_CHECK(links() == expected);
    FUZZ_CHECK(trailMatches(expected));
    return 0;
}
