#include "postgres_connection.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "metrics.h"

namespace tavrolin::server {

namespace {

constexpr std::string_view kSchemes[] = {"postgresql://", "postgres://"};

std::string percentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned value = 0;
        if (text[i] == '%' && i + 2 < text.size() &&
            std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr ==
                text.data() + i + 3) {
            out += char(value);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Where the password sits in `uri`, as [begin, end) ranges of the raw text: in the user part
// (libpq ends it at the first '@' or '/') and in every password= parameter.
std::vector<std::pair<std::size_t, std::size_t>> passwordRanges(std::string_view uri) {
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
    std::size_t start = 0;
    for (const auto scheme : kSchemes)
        if (uri.starts_with(scheme)) start = scheme.size();
    if (start == 0) return ranges;
    const auto stop = std::min(uri.find_first_of("@/", start), uri.size());
    if (stop < uri.size() && uri[stop] == '@') {
        const auto colon = uri.find(':', start);
        if (colon < stop) ranges.emplace_back(colon + 1, stop);
    }
    const auto query = uri.find('?', start);
    for (auto pos = query; pos < uri.size();) {
        const auto end = std::min(uri.find('&', pos + 1), uri.size());
        const auto pair = uri.substr(pos + 1, end - pos - 1);
        if (pair.starts_with("password=")) ranges.emplace_back(pos + 10, end);
        pos = end;
    }
    return ranges;
}

// Every spelling of the password that a libpq message could echo.
std::vector<std::string> secretsOf(std::string_view uri) {
    std::vector<std::string> secrets;
    for (const auto& [begin, end] : passwordRanges(uri)) {
        const auto raw = uri.substr(begin, end - begin);
        if (raw.empty()) continue;
        secrets.emplace_back(raw);
        secrets.push_back(percentDecoded(raw));
    }
    // Longer spellings first, so that a shorter one inside it cannot leave a piece behind.
    std::ranges::sort(secrets, [](const auto& a, const auto& b) { return a.size() > b.size(); });
    return secrets;
}

// libpq's messages span lines (a hint on a tab-indented second line, DETAIL and CONTEXT lines)
// and may quote data; the server's log takes one line per event, so line breaks and other
// control bytes are written as escapes, and a backslash is doubled to keep them unambiguous.
std::string oneLine(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte == 0x7f) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xf];
        } else {
            out += c;
        }
    }
    return out;
}

std::string withoutSecrets(std::string message, const std::string& uri) {
    for (const auto& secret : secretsOf(uri)) {
        if (secret.empty()) continue;
        for (auto pos = message.find(secret); pos != std::string::npos;
             pos = message.find(secret, pos + 3))
            message.replace(pos, secret.size(), "***");
    }
    return oneLine(message);
}

// SQLSTATEs after which the same request may well succeed when tried again: connection
// exceptions, serialisation failures and deadlocks, exhausted resources, a server shutting down
// or starting up, a lock or statement timeout, and a unique key that another writer took at the
// same moment.
bool isTransientState(std::string_view state) {
    return state.starts_with("08") || state == "40001" || state == "40P01" || state == "23505" ||
           state.starts_with("53") || state.starts_with("57P") || state == "55P03" ||
           state == "57014";
}

}  // namespace

bool isPostgresUri(std::string_view location) {
    return std::ranges::any_of(kSchemes, [&](auto scheme) { return location.starts_with(scheme); });
}

std::string redactedUri(std::string_view uri) {
    std::string out(uri);
    auto ranges = passwordRanges(uri);
    // From the back, so earlier positions stay valid.
    std::ranges::sort(ranges, std::greater<>());
    for (const auto& [begin, end] : ranges) out.replace(begin, end - begin, "***");
    return out;
}

std::int64_t PgResult::integer(int row, int column) const {
    const auto value = text(row, column);
    std::int64_t number = 0;
    std::from_chars(value.data(), value.data() + value.size(), number);
    return number;
}

PgConnection::PgConnection(const std::string& uri) : mUri(uri) {
    // The URI may override the timeout; nobody may override the encoding, since the document
    // is UTF-8 whatever the database's locale. No other startup parameter is sent: a pooler
    // in front of the database refuses what it does not know (settings such as the lock
    // timeout go with each transaction instead).
    const char* keys[] = {"connect_timeout", "application_name", "dbname", "client_encoding",
                          nullptr};
    const char* values[] = {"5", "tavrolin-server", mUri.c_str(), "UTF8", nullptr};
    mConn = PQconnectdbParams(keys, values, 1);
    if (!mConn) throw StorageError("cannot connect to the database: out of memory", true);
    // Server notices ("trigger ... does not exist, skipping") are not for the server's log.
    PQsetNoticeProcessor(
        mConn, [](void*, const char*) {}, nullptr);
    if (broken()) {
        const std::string message = withoutSecrets(PQerrorMessage(mConn), mUri);
        PQfinish(mConn);
        throw StorageError("cannot connect to the database: " + message, true);
    }
}

PgConnection::~PgConnection() {
    PQfinish(mConn);
}

void PgConnection::ensureConnected() {
    if (!broken()) return;
    PQreset(mConn);
    if (broken()) fail("cannot reconnect to the database", nullptr);
    metrics().databaseReconnects.add();
}

PgResult PgConnection::execute(const char* sql) {
    ++mCommands;
    return check(PQexec(mConn, sql), "statement failed");
}

PgResult PgConnection::execute(const char* sql,
                               std::initializer_list<std::string_view> parameters) {
    // libpq wants text parameters terminated by a zero byte.
    std::vector<std::string> owned(parameters.begin(), parameters.end());
    std::vector<const char*> values;
    values.reserve(owned.size());
    for (const auto& value : owned) values.push_back(value.c_str());
    ++mCommands;
    return check(
        PQexecParams(mConn, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, 0),
        "statement failed");
}

PgResult PgConnection::check(PGresult* result, std::string_view what) {
    const auto status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return PgResult(result);
    PgResult owner(result);
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    fail(what, state);
}

void PgConnection::fail(std::string_view what, const char* sqlState) {
    std::string message(what);
    message += ": ";
    message += withoutSecrets(PQerrorMessage(mConn), mUri);
    const bool transient = broken() || (sqlState && isTransientState(sqlState));
    throw StorageError(message, transient);
}

}  // namespace tavrolin::server
