#pragma once

// Reading vendors from CSV ("id,name,active" header) and writing them all or not at all.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavrolin::server {

struct ImportedVendor {
    std::int64_t id;
    std::string name;
    bool active;
    bool operator==(const ImportedVendor&) const = default;
};

struct VendorCsv {
    std::vector<ImportedVendor> vendors;
    // One message per bad line, each naming the line by its 1-based number.
    std::vector<std::string> errors;
};

// Fields may be quoted with doubled quotes inside; a record is one line. `active` takes
// 1/0, true/false or yes/no. Blank lines are skipped.
VendorCsv parseVendorCsv(std::string_view text);

}  // namespace tavrolin::server
