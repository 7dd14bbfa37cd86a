// The vendor CSV import: every accepted vendor is clean (positive id, trimmed, non-blank UTF-8
// name without control characters), every error names a line of the file, the vendors written
// back as CSV read the same, and a file without errors imports exactly its vendors.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "sqlite_connection.h"
#include "fuzz_check.h"
#include "sqlite_storage.h"
#include "vendor_import.h"

using namespace tavrolin::server;

namespace {

// One in-memory database shared by the storage that imports and the connection that reads back.
constexpr const char* kDatabase = "file:fuzz_vendor_import?mode=memory&cache=shared";

LinkStorage& storage() {
    static SqliteStorage* instance = new SqliteStorage(kDatabase, 1);
    return *instance;
}

SqliteConnection& database() {
    static SqliteConnection* connection = [] {
        storage();  // creates the tables
        return new SqliteConnection(kDatabase);
    }();
    return *connection;
}

std::string toCsv(const std::vector<ImportedVendor>& vendors) {
    std::string out = "id,name,active\n";
    for (const auto& vendor : vendors) {
        out += std::to_string(vendor.id) + ",\"";
        for (const char c : vendor.name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
        out += vendor.active ? "\",1\n" : "\",0\n";
    }
    return out;
}

bool validUtf8WithoutControls(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) return false;
        const std::size_t length = c < 0x80   ? 1
                                   : c < 0xC2 ? 0
                                   : c < 0xE0 ? 2
                                   : c < 0xF0 ? 3
                                   : c < 0xF5 ? 4
                                              : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const VendorCsv csv = parseVendorCsv(text);

    std::size_t lines = 1;
    for (const char c : text) lines += c == '\n';
    for (const auto& error : csv.errors) {
        FUZZ_CHECK(error.rfind("line ", 0) == 0);
        const auto colon = error.find(": ");
        FUZZ_CHECK(colon != std::string::npos && colon > 5);
        const auto number = std::stoull(error.substr(5, colon - 5));
        FUZZ_CHECK(number >= 1 && number <= lines);
    }

    for (const auto& vendor : csv.vendors) {
        FUZZ_CHECK(vendor.id > 0);
        FUZZ_CHECK(!vendor.name.empty());
        FUZZ_CHECK(vendor.name.front() != ' ' && vendor.name.back() != ' ');
        FUZZ_CHECK(vendor.name.front() != '\t' && vendor.name.back() != '\t');
        FUZZ_CHECK(validUtf8WithoutControls(vendor.name));
    }

    const VendorCsv again = parseVendorCsv(toCsv(csv.vendors));
    FUZZ_CHECK(again.errors.empty());
    FUZZ_CHECK(again.vendors == csv.vendors);

    if (!csv.errors.empty()) return 0;
    SqliteConnection& connection = database();
    connection.execute("DELETE FROM Vendor");
    FUZZ_CHECK(storage().importVendors(csv.vendors, {}) == csv.vendors.size());
    // A vendor listed twice ends as its last line says.
    std::map<std::int64_t, std::pair<std::string, bool>> expected;
    for (const auto& vendor : csv.vendors) expected[vendor.id] = {vendor.name, vendor.active};
    std::map<std::int64_t, std::pair<std::string, bool>> stored;
    auto rows = connection.prepare("SELECT VendorID, VendorName, Active FROM Vendor");
    while (rows.step())
        stored[rows.columnInt(0)] = {std::string(rows.columnText(1)), rows.columnInt(2) == 1};
    FUZZ_CHECK(stored == expected);
    return 0;
}
