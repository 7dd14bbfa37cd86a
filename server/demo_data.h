#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "vendor_import.h"

namespace tavrolin::server {

// A fixed sample for an empty database: a few hundred vendors, some inactive, and a few
// employees with links (employee 42 among them). Every engine seeds the same rows, in this
// order, and only into a database without vendors, so a real database is never touched.
struct DemoSample {
    std::vector<ImportedVendor> vendors;
    std::vector<std::pair<std::int64_t, std::int64_t>> links;  // EmployeeID, VendorID
};

const DemoSample& demoSample();

}  // namespace tavrolin::server
