#pragma once

// What request handling needs from the database that holds the links. The HTTP layer, the
// document builder and the statement parser see only this; each engine implements it.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audit_trail.h"
#include "statement_parser.h"
#include "storage_error.h"
#include "vendor_document.h"
#include "vendor_import.h"

namespace tavrolin::server {

// The layout of the tables this release creates and expects; each engine records it in
// SchemaVersion so that a later release can tell what it has to migrate. Version 1 had the
// vendors, links and change counter; version 2 adds the audit trail (ChangeAudit), and opening
// a version-1 database adds it in place.
inline constexpr std::int64_t kSchemaVersion = 2;

inline std::string newerSchemaMessage(std::int64_t found) {
    return "the database has schema version " + std::to_string(found) +
           ", newer than the version " + std::to_string(kSchemaVersion) +
           " this server knows; use a newer tavrolin-server";
}

// What applying the link changes of one post means, for every engine: each statement in order,
// all in one transaction or none. Inserting a link that exists and deleting one that does not
// are no-ops, so a repeated post changes nothing; a link may be added only for an existing,
// active vendor. RecordLastUpdated comes from the database clock, never from the client.
struct ApplyResult {
    enum class Outcome { Applied, UnknownVendor, InactiveVendor };
    Outcome outcome = Outcome::Applied;
    std::int64_t vendorId = 0;  // the vendor that was refused
    // Links the post actually created and removed, by its net effect (as in the audit trail).
    std::size_t linksCreated = 0;
    std::size_t linksRemoved = 0;
};

class LinkStorage {
  public:
    virtual ~LinkStorage() = default;

    // The counter that every change to vendors or links increases, whoever makes it; cached
    // documents are valid only while it stands still.
    virtual std::int64_t changeVersion() = 0;
    // The same, but only when it can be read at once, without waiting on a lock, another
    // process or the network; otherwise nothing. Lets a cache hit be answered without a
    // hand-off to a worker.
    virtual std::optional<std::int64_t> changeVersionAtOnce() { return std::nullopt; }
    // Both lists of `employeeId` in vendor-ID order, read together with the counter in one
    // consistent snapshot.
    virtual VersionedDocument loadVendorDocument(std::int64_t employeeId) = 0;
    // Runs every statement in order, or none of them, and writes the links it created or
    // removed to the audit trail in the same transaction, in the name of `author`.
    virtual ApplyResult applyLinkStatements(const std::vector<LinkStatement>& statements,
                                            const ChangeAuthor& author) = 0;
    // Adds new vendors and updates existing ones in one transaction, with the trail of the
    // vendors it added, renamed, activated or deactivated; returns how many lines it took.
    virtual std::size_t importVendors(const std::vector<ImportedVendor>& vendors,
                                      const ChangeAuthor& author) = 0;
    // Hands the rows of the audit trail that `filter` selects to `row`, newest first.
    virtual void readAuditTrail(const AuditFilter& filter,
                                const std::function<void(const AuditEntry&)>& row) = 0;
    // Seeds the demo sample into a database without vendors; returns whether it did.
    virtual bool seedDemoData() = 0;
    // Names the database for log lines and messages, without any secret.
    virtual std::string description() const = 0;
};

// Opens the engine that `location` names, creating the tables when they are missing: a
// PostgreSQL connection URI ("postgresql://..." or "postgres://..."), an SQLite file name, or
// ":memory:" for an SQLite database that lives as long as this process.
// `connections` bounds how many requests use the database at once.
std::unique_ptr<LinkStorage> openStorage(const std::string& location, int connections);

}  // namespace tavrolin::server
