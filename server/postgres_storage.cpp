#include "postgres_storage.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>
#include <unordered_map>

#include "demo_data.h"
#include "link_change_plan.h"

namespace tavrolin::server {

namespace {

// The same tables as the embedded engine. Every change to vendors or links bumps the one
// counter, whoever makes it (any server instance, the import command, a maintenance shell);
// once per transaction is enough, since a reader sees all of a transaction or none of it.
//
// The vendor reference of a link is checked by statement triggers rather than a declared
// foreign key: the key's per-row check locks each vendor row, and those lock records made a
// post of 1,000 links several times slower than on SQLite. The triggers keep the same rule
// without row locks, because every writer of either table first waits for the counter row
// (CountChange) and only then looks, with a fresh snapshot, at what the others committed.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS Vendor (
    VendorID BIGINT PRIMARY KEY,
    VendorName TEXT NOT NULL CHECK (length(trim(VendorName)) > 0),
    Active INTEGER NOT NULL DEFAULT 1 CHECK (Active IN (0, 1))
);
CREATE TABLE IF NOT EXISTS VendorEmployeeCrossReference (
    EmployeeID INTEGER NOT NULL,
    VendorID BIGINT NOT NULL,
    RecordLastUpdated TIMESTAMP(3) NOT NULL DEFAULT (now() AT TIME ZONE 'UTC'),
    PRIMARY KEY (EmployeeID, VendorID)
);
CREATE TABLE IF NOT EXISTS ChangeCounter (
    Singleton INTEGER PRIMARY KEY CHECK (Singleton = 1),
    Version BIGINT NOT NULL
);
INSERT INTO ChangeCounter (Singleton, Version) VALUES (1, 0) ON CONFLICT DO NOTHING;

CREATE OR REPLACE FUNCTION CountChange() RETURNS void LANGUAGE plpgsql AS $$
BEGIN
    IF current_setting('tavrolin.change_counted', true) IS DISTINCT FROM 'yes' THEN
        UPDATE ChangeCounter SET Version = Version + 1;
        PERFORM set_config('tavrolin.change_counted', 'yes', true);
    END IF;
END
$$;
CREATE OR REPLACE FUNCTION LinksChanged() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    IF NOT EXISTS (SELECT 1 FROM changed) THEN RETURN NULL; END IF;
    PERFORM CountChange();
    IF TG_OP <> 'DELETE' AND EXISTS (SELECT 1 FROM changed c
            WHERE NOT EXISTS (SELECT 1 FROM Vendor v WHERE v.VendorID = c.VendorID)) THEN
        RAISE EXCEPTION 'a link names a vendor that does not exist'
            USING ERRCODE = 'foreign_key_violation';
    END IF;
    RETURN NULL;
END
$$;
CREATE OR REPLACE FUNCTION VendorsChanged() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    IF TG_OP = 'INSERT' THEN
        IF EXISTS (SELECT 1 FROM changed) THEN PERFORM CountChange(); END IF;
        RETURN NULL;
    END IF;
    IF NOT EXISTS (SELECT 1 FROM gone) THEN RETURN NULL; END IF;
    PERFORM CountChange();
    IF EXISTS (SELECT 1 FROM gone o JOIN VendorEmployeeCrossReference x ON x.VendorID = o.VendorID
            WHERE NOT EXISTS (SELECT 1 FROM Vendor v WHERE v.VendorID = o.VendorID)) THEN
        RAISE EXCEPTION 'a vendor that links name cannot be deleted or renumbered'
            USING ERRCODE = 'foreign_key_violation';
    END IF;
    RETURN NULL;
END
$$;
DROP TRIGGER IF EXISTS VendorInserted ON Vendor;
CREATE TRIGGER VendorInserted AFTER INSERT ON Vendor REFERENCING NEW TABLE AS changed
    FOR EACH STATEMENT EXECUTE FUNCTION VendorsChanged();
DROP TRIGGER IF EXISTS VendorUpdated ON Vendor;
CREATE TRIGGER VendorUpdated AFTER UPDATE ON Vendor REFERENCING OLD TABLE AS gone
    FOR EACH STATEMENT EXECUTE FUNCTION VendorsChanged();
DROP TRIGGER IF EXISTS VendorDeleted ON Vendor;
CREATE TRIGGER VendorDeleted AFTER DELETE ON Vendor REFERENCING OLD TABLE AS gone
    FOR EACH STATEMENT EXECUTE FUNCTION VendorsChanged();
DROP TRIGGER IF EXISTS LinkInserted ON VendorEmployeeCrossReference;
CREATE TRIGGER LinkInserted AFTER INSERT ON VendorEmployeeCrossReference
    REFERENCING NEW TABLE AS changed FOR EACH STATEMENT EXECUTE FUNCTION LinksChanged();
DROP TRIGGER IF EXISTS LinkUpdated ON VendorEmployeeCrossReference;
CREATE TRIGGER LinkUpdated AFTER UPDATE ON VendorEmployeeCrossReference
    REFERENCING NEW TABLE AS changed FOR EACH STATEMENT EXECUTE FUNCTION LinksChanged();
DROP TRIGGER IF EXISTS LinkDeleted ON VendorEmployeeCrossReference;
CREATE TRIGGER LinkDeleted AFTER DELETE ON VendorEmployeeCrossReference
    REFERENCING OLD TABLE AS changed FOR EACH STATEMENT EXECUTE FUNCTION LinksChanged();

CREATE TABLE IF NOT EXISTS SchemaVersion (
    Singleton INTEGER PRIMARY KEY CHECK (Singleton = 1),
    Version INTEGER NOT NULL
);
)sql";

// Version 2: the audit trail. Its rows change no document, so it has no counter triggers; it
// names vendors without a reference, so that the trail of a vendor outlives the vendor.
// ChangePost() numbers the changes: the first call in a transaction takes the next number and
// every later one returns it again.
constexpr const char* kAuditSchema = R"sql(
CREATE SEQUENCE IF NOT EXISTS ChangeAuditPost;
CREATE TABLE IF NOT EXISTS ChangeAudit (
    AuditID BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    ChangeID BIGINT NOT NULL,
    ChangedAt TIMESTAMP(3) NOT NULL DEFAULT (now() AT TIME ZONE 'UTC'),
    Action TEXT NOT NULL,
    EmployeeID INTEGER,
    VendorID BIGINT NOT NULL,
    UserName TEXT NOT NULL,
    ClientAddress TEXT NOT NULL,
    Detail TEXT NOT NULL DEFAULT ''
);
CREATE OR REPLACE FUNCTION ChangePost() RETURNS bigint LANGUAGE plpgsql AS $$
DECLARE
    post text := current_setting('tavrolin.change_post', true);
BEGIN
    IF post IS NULL OR post = '' THEN
        post := nextval('ChangeAuditPost')::text;
        PERFORM set_config('tavrolin.change_post', post, true);
    END IF;
    RETURN post::bigint;
END
$$;
)sql";

// Writers take the counter row first. Every writer needs it anyway (the triggers bump it), so
// taking it up front orders all writers of all instances one after the other, as SQLite's
// single writer does, instead of letting two of them deadlock over rows and the counter. It
// also makes the vendor check below safe: a vendor change cannot commit between the check and
// the insert, since its own trigger waits for this lock.
constexpr const char* kLockCounter =
    "SELECT Version FROM ChangeCounter WHERE Singleton = 1 FOR UPDATE";

// Both lists in one statement, so they and the version come from one snapshot; the version row
// is the one without a selection flag.
constexpr const char* kDocument = R"sql(
SELECT Version, NULL::text, NULL::boolean FROM ChangeCounter
UNION ALL
(SELECT v.VendorID, v.VendorName, x.VendorID IS NOT NULL FROM Vendor v
    LEFT JOIN VendorEmployeeCrossReference x ON x.EmployeeID = $1 AND x.VendorID = v.VendorID
    WHERE v.Active = 1 OR x.VendorID IS NOT NULL ORDER BY v.VendorID)
)sql";

// Every transaction here writes. One that waits for another writer's locks longer than the lock
// timeout is refused with 503, as SQLite's busy timeout does. The timeout is set per
// transaction, since that is all a pooler in transaction mode keeps and it must not outlive the
// transaction on a backend that others share; a timeout that the admin gave the role or the
// database (ALTER ROLE ... SET lock_timeout) is left as it is.
constexpr const char* kBeginWriting =
    "BEGIN; SELECT set_config('lock_timeout', '5s', true) "
    "WHERE current_setting('lock_timeout') = '0'; ";

class PgTransaction {
  public:
    // `first` runs in the same round trip as BEGIN.
    explicit PgTransaction(PgConnection& connection, const std::string& first = {})
        : mConnection(connection) {
        try {
            mConnection.execute((kBeginWriting + first).c_str());
        } catch (const StorageError&) {
            // BEGIN may have run before `first` failed; the destructor will not run.
            rollback();
            throw;
        }
    }
    ~PgTransaction() {
        if (mOpen) rollback();
    }
    PgTransaction(const PgTransaction&) = delete;
    PgTransaction& operator=(const PgTransaction&) = delete;
    void commit() {
        mOpen = false;
        const bool linked = !mConnection.broken();
        try {
            mConnection.execute("COMMIT");
        } catch (const StorageError& error) {
            // A refusal with a reply means the server rolled back, and so does a link that was
            // gone before COMMIT could leave. A link lost after it left leaves the outcome open.
            if (!linked || !mConnection.broken()) throw;
            throw CommitOutcomeUnknown(std::string("the link was lost during COMMIT: ") +
                                       error.what());
        }
    }

  private:
    void rollback() {
        if (mConnection.broken()) return;
        try {
            mConnection.execute("ROLLBACK");
        } catch (const StorageError&) {
            // The connection went away; the server has rolled back by itself.
        }
    }

    PgConnection& mConnection;
    bool mOpen = true;
};

template <class Range, class Project>
std::string integerArray(const Range& range, Project project) {
    std::string out = "{";
    char buffer[24];
    for (const auto& item : range) {
        if (out.size() > 1) out += ',';
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, project(item));
        out.append(buffer, end);
    }
    out += '}';
    return out;
}

// An array literal of text elements, each quoted so that commas, braces and quotes in vendor
// names stay inside their element.
template <class Range, class Project>
std::string textArray(const Range& range, Project project) {
    std::string out = "{";
    for (const auto& item : range) {
        if (out.size() > 1) out += ',';
        out += '"';
        for (const char c : std::string_view(project(item))) {
            if (c == '"' || c == '\\') out += '\\';
            out += c;
        }
        out += '"';
    }
    out += '}';
    return out;
}

const std::string& vendorName(const ImportedVendor& vendor) {
    return vendor.name;
}

void upsertVendors(PgConnection& connection, const std::vector<ImportedVendor>& vendors,
                   bool replace) {
    if (vendors.empty()) return;
    const auto ids = integerArray(vendors, [](const auto& v) { return v.id; });
    const auto flags = integerArray(vendors, [](const auto& v) { return int(v.active); });
    if (replace) {
        connection.execute("INSERT INTO Vendor (VendorID, VendorName, Active) "
                           "SELECT * FROM unnest($1::bigint[], $2::text[], $3::integer[]) "
                           "ON CONFLICT (VendorID) DO UPDATE SET VendorName = excluded.VendorName, "
                           "Active = excluded.Active",
                           {ids, textArray(vendors, vendorName), flags});
    } else {
        connection.execute("INSERT INTO Vendor (VendorID, VendorName, Active) "
                           "SELECT * FROM unnest($1::bigint[], $2::text[], $3::integer[])",
                           {ids, textArray(vendors, vendorName), flags});
    }
}

// With an author, the links that the statement created go to the trail in the same statement.
// Returns how many links it created.
std::size_t insertLinks(PgConnection& connection, const std::vector<LinkKey>& links,
                        const ChangeAuthor* author = nullptr) {
    if (links.empty()) return 0;
    // RecordLastUpdated is left to the column default: the database clock, never the client.
    // Links that exist are filtered out rather than left to ON CONFLICT, whose speculative
    // insertion doubles the cost of a large post. The filter is exact because writers hold the
    // counter row; a writer that bypasses it and adds the same link at the same moment makes
    // this statement fail with a unique violation, which is answered as a transient error.
    // OFFSET 0 keeps the filter one key lookup per new link: as a join, the planner would at
    // times (by the table's size and vacuum state) hash the whole table for a post of a few
    // hundred links, several times slower and growing with the table.
    const auto employees = integerArray(links, [](const auto& l) { return l.first; });
    const auto vendors = integerArray(links, [](const auto& l) { return l.second; });
    if (!author) {
        return connection.execute("INSERT INTO VendorEmployeeCrossReference (EmployeeID, VendorID) "
                           "SELECT * FROM unnest($1::integer[], $2::bigint[]) AS n (e, v) "
                           "WHERE NOT EXISTS (SELECT 1 FROM VendorEmployeeCrossReference x "
                           "WHERE x.EmployeeID = n.e AND x.VendorID = n.v OFFSET 0)",
                           {employees, vendors})
            .affectedRows();
    }
    return connection.execute("WITH added AS (INSERT INTO VendorEmployeeCrossReference (EmployeeID, VendorID) "
        "SELECT * FROM unnest($1::integer[], $2::bigint[]) AS n (e, v) "
        "WHERE NOT EXISTS (SELECT 1 FROM VendorEmployeeCrossReference x "
        "WHERE x.EmployeeID = n.e AND x.VendorID = n.v OFFSET 0) "
        "RETURNING EmployeeID, VendorID) "
        "INSERT INTO ChangeAudit (ChangeID, Action, EmployeeID, VendorID, UserName, "
        "ClientAddress) SELECT (SELECT ChangePost()), 'linked', EmployeeID, "
        "VendorID, $3, $4 FROM added ORDER BY EmployeeID, VendorID",
        {employees, vendors, author->user, author->clientAddress}).affectedRows();
}

// Returns how many links it removed.
std::size_t deleteLinks(PgConnection& connection, const std::vector<LinkKey>& links,
                        const ChangeAuthor& author) {
    if (links.empty()) return 0;
    return connection.execute("WITH gone AS (DELETE FROM VendorEmployeeCrossReference x "
                       "USING unnest($1::integer[], $2::bigint[]) AS d (EmployeeID, VendorID) "
                       "WHERE x.EmployeeID = d.EmployeeID AND x.VendorID = d.VendorID "
                       "RETURNING x.EmployeeID, x.VendorID) "
                       "INSERT INTO ChangeAudit (ChangeID, Action, EmployeeID, VendorID, UserName, "
                       "ClientAddress) SELECT (SELECT ChangePost()), 'unlinked', EmployeeID, "
                       "VendorID, $3, $4 FROM gone ORDER BY EmployeeID, VendorID",
                       {integerArray(links, [](const auto& l) { return l.first; }),
                        integerArray(links, [](const auto& l) { return l.second; }), author.user,
                        author.clientAddress}).affectedRows();
}

// Before the vendors change: which of them are new, renamed, activated or deactivated.
void writeVendorTrail(PgConnection& connection, const std::vector<ImportedVendor>& vendors,
                      const ChangeAuthor& author) {
    if (vendors.empty()) return;
    const auto rows = connection.execute("SELECT VendorID, VendorName, Active FROM Vendor WHERE VendorID = ANY($1)",
        {integerArray(vendors, [](const auto& v) { return v.id; })});
    std::map<std::int64_t, std::pair<std::string, bool>> existing;
    for (int row = 0; row < rows.rows(); ++row)
        existing.emplace(rows.integer(row, 0),
                         std::pair(std::string(rows.text(row, 1)), rows.integer(row, 2) == 1));
    const auto changes = vendorChanges(existing, vendors);
    if (changes.empty()) return;
    connection.execute("INSERT INTO ChangeAudit (ChangeID, Action, VendorID, Detail, UserName, ClientAddress) "
        "SELECT (SELECT ChangePost()), a, v, d, $4, $5 "
        "FROM unnest($1::text[], $2::bigint[], $3::text[]) AS c (a, v, d)",
        {textArray(changes, [](const auto& c) { return c.action; }),
         integerArray(changes, [](const auto& c) { return c.vendorId; }),
         textArray(changes, [](const auto& c) -> const std::string& { return c.detail; }),
         author.user, author.clientAddress});
}

// Without the counter every cached document would look current forever.
StorageError missingCounter() {
    return StorageError("the change counter is missing from ChangeCounter", true);
}

std::vector<std::unique_ptr<PgConnection>> openConnections(const std::string& uri, int size) {
    std::vector<std::unique_ptr<PgConnection>> connections;
    for (int i = 0; i < std::max(size, 1); ++i)
        connections.push_back(std::make_unique<PgConnection>(uri));
    return connections;
}

std::int64_t schemaVersion(PgConnection& connection) {
    const auto present = connection.execute("SELECT to_regclass('schemaversion') IS NOT NULL");
    if (present.text(0, 0) != "t") return 0;
    const auto version = connection.execute("SELECT Version FROM SchemaVersion");
    return version.rows() > 0 ? version.integer(0, 0) : 0;
}

// Creates the tables of a new database, or brings an older one up to this version, in one
// transaction. Servers starting together take turns on an advisory lock, and whoever comes second
// finds the work done.
void prepareSchema(PgConnection& connection) {
    auto version = schemaVersion(connection);
    if (version < kSchemaVersion) {
        PgTransaction transaction(connection, "SELECT pg_advisory_xact_lock(7356210944)");
        version = schemaVersion(connection);
        if (version == 0) connection.execute(kSchema);
        if (version < kSchemaVersion) {
            connection.execute(kAuditSchema);
            const auto record = "INSERT INTO SchemaVersion (Singleton, Version) VALUES (1, " +
                                std::to_string(kSchemaVersion) +
                                ") ON CONFLICT (Singleton) DO UPDATE SET Version = "
                                "excluded.Version";
            connection.execute(record.c_str());
        }
        transaction.commit();
    }
    if (version > kSchemaVersion) throw StorageError(newerSchemaMessage(version), false);
}

}  // namespace

PostgresStorage::PostgresStorage(const std::string& uri, int connections)
    : mDescription(redactedUri(uri)), mPool(openConnections(uri, connections)) {
    auto connection = mPool.acquire();
    prepareSchema(*connection);
}

template <class Work>
auto PostgresStorage::run(bool readOnly, Work work) {
    auto connection = mPool.acquire();
    connection->ensureConnected();
    connection->takeCommandCount();
    try {
        return work(*connection);
    } catch (const StorageError&) {
        const bool failedFirst = connection->takeCommandCount() <= 1;
        if (!connection->broken() || !(readOnly || failedFirst)) throw;
    }
    // An idle connection only learns that the server restarted when it is next used.
    connection->ensureConnected();
    return work(*connection);
}

std::int64_t PostgresStorage::changeVersion() {
    std::unique_lock lock(mVersionMutex);
    const auto needed = mReadsStarted + 1;
    while (mReadsDone < needed) {
        if (mReading) {
            mVersionRead.wait(lock);
            continue;
        }
        const auto number = ++mReadsStarted;
        mReading = true;
        lock.unlock();
        std::int64_t version = 0;
        try {
            version = readChangeVersion();
        } catch (...) {
            lock.lock();
            mReading = false;
            mVersionRead.notify_all();
            throw;
        }
        lock.lock();
        mReading = false;
        mReadsDone = number;
        mLastVersion = version;
        mVersionRead.notify_all();
    }
    return mLastVersion;
}

std::int64_t PostgresStorage::readChangeVersion() {
    return run(true, [](PgConnection& connection) {
        const auto counter =
            connection.execute("SELECT Version FROM ChangeCounter WHERE Singleton = 1");
        if (counter.rows() == 0) throw missingCounter();
        return counter.integer(0, 0);
    });
}

VersionedDocument PostgresStorage::loadVendorDocument(std::int64_t employeeId) {
    return run(true, [&](PgConnection& connection) {
        const auto rows = connection.execute(kDocument, {std::to_string(employeeId)});
        std::optional<std::int64_t> version;
        std::vector<VendorRecord> nonSelected;
        std::vector<VendorRecord> selected;
        nonSelected.reserve(std::size_t(rows.rows()));
        for (int row = 0; row < rows.rows(); ++row) {
            if (rows.isNull(row, 2)) {
                version = rows.integer(row, 0);
                continue;
            }
            auto& list = rows.text(row, 2) == "t" ? selected : nonSelected;
            list.push_back({rows.integer(row, 0), std::string(rows.text(row, 1))});
        }
        // The statement asks for vendor-ID order; keep the document right even if a plan
        // should ever hand the rows over otherwise.
        const auto byId = [](const VendorRecord& a, const VendorRecord& b) { return a.id < b.id; };
        if (!std::ranges::is_sorted(nonSelected, byId)) std::ranges::sort(nonSelected, byId);
        if (!std::ranges::is_sorted(selected, byId)) std::ranges::sort(selected, byId);
        if (!version) throw missingCounter();
        return VersionedDocument{*version, buildVendorDocument(nonSelected, selected)};
    });
}

ApplyResult PostgresStorage::applyLinkStatements(const std::vector<LinkStatement>& statements,
                                                 const ChangeAuthor& author) {
    // A few set statements instead of one round trip per statement.
    const auto plan = planLinkChanges(statements);
    return run(false, [&](PgConnection& connection) -> ApplyResult {
        PgTransaction transaction(connection, kLockCounter);
        if (!plan.insertedVendors.empty()) {
            const auto states = connection.execute(
                "SELECT VendorID, Active FROM Vendor WHERE VendorID = ANY($1)",
                {integerArray(plan.insertedVendors, [](auto id) { return id; })});
            std::unordered_map<std::int64_t, std::int64_t> active;
            for (int row = 0; row < states.rows(); ++row)
                active.emplace(states.integer(row, 0), states.integer(row, 1));
            for (const auto vendorId : plan.insertedVendors) {
                const auto found = active.find(vendorId);
                if (found == active.end()) return {ApplyResult::Outcome::UnknownVendor, vendorId};
                if (found->second != 1) return {ApplyResult::Outcome::InactiveVendor, vendorId};
            }
        }
        ApplyResult result;
        result.linksRemoved = deleteLinks(connection, plan.deletes, author);
        result.linksCreated = insertLinks(connection, plan.inserts, &author);
        transaction.commit();
        return result;
    });
}

std::size_t PostgresStorage::importVendors(const std::vector<ImportedVendor>& vendors,
                                           const ChangeAuthor& author) {
    // One row per ID, the last one winning, as writing them one after the other would leave it;
    // a single upsert statement may not touch the same row twice.
    std::map<std::int64_t, const ImportedVendor*> last;
    for (const auto& vendor : vendors) last[vendor.id] = &vendor;
    std::vector<ImportedVendor> unique;
    unique.reserve(last.size());
    for (const auto& [id, vendor] : last) unique.push_back(*vendor);
    run(false, [&](PgConnection& connection) {
        PgTransaction transaction(connection, kLockCounter);
        writeVendorTrail(connection, unique, author);
        upsertVendors(connection, unique, true);
        transaction.commit();
        return 0;
    });
    return vendors.size();
}

void PostgresStorage::readAuditTrail(const AuditFilter& filter,
                                     const std::function<void(const AuditEntry&)>& row) {
    // An empty parameter stands for a bound that is not set; the user bound has a flag of its
    // own, since the empty name is a name to look for (changes made without sign-in).
    const auto number = [](const std::optional<std::int64_t>& value) {
        return value ? std::to_string(*value) : std::string();
    };
    const auto rows = run(true, [&](PgConnection& connection) {
        return connection.execute("SELECT ChangeID, to_char(ChangedAt, 'YYYY-MM-DD HH24:MI:SS.MS'), Action, "
            "EmployeeID, VendorID, UserName, ClientAddress, Detail FROM ChangeAudit "
            "WHERE ($1 = '' OR EmployeeID = NULLIF($1, '')::integer) AND "
            "($2 = '' OR VendorID = NULLIF($2, '')::bigint) AND ($3 = '' OR UserName = $4) AND "
            "($5 = '' OR ChangedAt >= NULLIF($5, '')::timestamp) AND "
            "($6 = '' OR ChangedAt < NULLIF($6, '')::timestamp) ORDER BY AuditID DESC",
            {number(filter.employeeId), number(filter.vendorId), filter.user ? "1" : "",
             filter.user.value_or(""), filter.since, filter.until});
    });
    AuditEntry entry;
    for (int i = 0; i < rows.rows(); ++i) {
        entry.changeId = rows.integer(i, 0);
        entry.time = rows.text(i, 1);
        entry.action = rows.text(i, 2);
        entry.employeeId.reset();
        if (!rows.isNull(i, 3)) entry.employeeId = rows.integer(i, 3);
        entry.vendorId = rows.integer(i, 4);
        entry.user = rows.text(i, 5);
        entry.clientAddress = rows.text(i, 6);
        entry.detail = rows.text(i, 7);
        row(entry);
    }
}

bool PostgresStorage::seedDemoData() {
    return run(false, [](PgConnection& connection) {
        PgTransaction transaction(connection, kLockCounter);
        if (connection.execute("SELECT count(*) FROM Vendor").integer(0, 0) > 0) return false;
        const auto& sample = demoSample();
        upsertVendors(connection, sample.vendors, false);
        insertLinks(connection, sample.links);
        transaction.commit();
        return true;
    });
}

}  // namespace tavrolin::server
