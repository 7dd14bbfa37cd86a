#include "demo_data.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace tavrolin::server {

namespace {

// Names that exercise escaping and Windows-1252 letters in the control.
constexpr std::array<std::string_view, 16> kSpecialNames = {
    "Gómez y Núñez S.A.",      "Peña & Hijos Distribución", "L'Atelier du Pâtissier",
    "O'Brien Plumbing Supply", "The \"Best\" Print Shop",   "<Unnamed> Wholesale",
    "Zürich Präzision AG",     "Crème Brûlée Bakery",       "Señor Frío Refrigeración",
    "Björk & Söner Timber",    "Façade Restoration Co.",    "Håkon Ølberg Marine",
    "Æsir Façades & Glass",    "Noël Décor <Paris>",        "Bäckerei Günther",
    "Ångström Optics",
};

constexpr std::array<std::string_view, 24> kFirstWords = {
    "Atlas",    "Blue Ridge", "Cedar",   "Delta",   "Evergreen", "Falcon",
    "Granite",  "Harbor",     "Iron",    "Juniper", "Keystone",  "Lakeside",
    "Meridian", "Northwind",  "Oakwood", "Pioneer", "Quarry",    "Redwood",
    "Summit",   "Tidewater",  "Union",   "Valley",  "Westfield", "Yellowstone"};

constexpr std::array<std::string_view, 14> kTrades = {
    "Office Supply", "Paper Goods", "Industrial",  "Electrical", "Logistics",
    "Printing",      "Janitorial",  "Tool & Die",  "Catering",   "Freight",
    "Packaging",     "Fasteners",   "IT Services", "Lumber"};

constexpr std::array<std::string_view, 6> kForms = {"Inc.", "LLC",   "Co.",
                                                    "Ltd",  "Group", "& Partners"};

constexpr int kVendorCount = 320;

// Vendors that a first try of the control is likely to use: 77 and 123 can be added to
// employee 42, 456 and 900 removed from it.
struct FixedVendor {
    std::int64_t id;
    std::string_view name;
};
constexpr std::array<FixedVendor, 4> kFixedVendors = {{{77, "Acme Office Supply Inc."},
                                                       {123, "Café Müller GmbH"},
                                                       {456, "Smith & Sons Hardware"},
                                                       {900, "\"Quick\" Couriers Ltd"}}};
constexpr std::array<std::int64_t, 2> kUnlinkedFrom42 = {77, 123};
constexpr std::array<std::int64_t, 2> kLinkedTo42 = {456, 900};

// A fixed linear congruential sequence keeps the sample the same on every machine.
class Sequence {
  public:
    std::uint32_t next() {
        mState = mState * 1664525u + 1013904223u;
        return mState >> 8;
    }

  private:
    std::uint32_t mState = 20240607u;
};

}  // namespace

const DemoSample& demoSample() {
    static const DemoSample sample = [] {
        DemoSample out;
        Sequence random;
        // The first vendor with an ID wins, so a fixed vendor keeps its name.
        std::map<std::int64_t, std::size_t> byId;
        auto addVendor = [&](std::int64_t id, std::string name, bool active) {
            if (byId.emplace(id, out.vendors.size()).second)
                out.vendors.push_back({id, std::move(name), active});
        };
        for (const auto& vendor : kFixedVendors)
            addVendor(vendor.id, std::string(vendor.name), true);
        for (int i = 0; i < kVendorCount; ++i) {
            const std::int64_t id = 100 + i * 3 + std::int64_t(random.next() % 3);
            std::string name;
            if (i % 20 == 7) {
                name = kSpecialNames[(i / 20) % kSpecialNames.size()];
            } else {
                name = std::string(kFirstWords[random.next() % kFirstWords.size()]) + ' ' +
                       std::string(kTrades[random.next() % kTrades.size()]) + ' ' +
                       std::string(kForms[random.next() % kForms.size()]);
                if (i % 5 == 0) name += " #" + std::to_string(i);
            }
            const bool active = random.next() % 25 != 0;
            addVendor(id, std::move(name), active);
        }

        // Employees with a spread of link counts; 42 is the one the demo host opens.
        struct Employee {
            std::int64_t id;
            int everyNth;
        };
        constexpr std::array<Employee, 4> kEmployees = {{{42, 12}, {7, 40}, {314, 6}, {1001, 90}}};
        std::vector<std::int64_t> activeIds;
        for (const auto& [id, index] : byId)
            if (out.vendors[index].active) activeIds.push_back(id);
        std::set<std::pair<std::int64_t, std::int64_t>> seen;
        auto addLink = [&](std::int64_t employeeId, std::int64_t vendorId) {
            if (seen.emplace(employeeId, vendorId).second)
                out.links.emplace_back(employeeId, vendorId);
        };
        for (const auto& employee : kEmployees) {
            int position = 0;
            for (const auto vendorId : activeIds) {
                if (position++ % employee.everyNth != 0) continue;
                if (employee.id == 42 &&
                    std::ranges::find(kUnlinkedFrom42, vendorId) != kUnlinkedFrom42.end())
                    continue;
                addLink(employee.id, vendorId);
            }
        }
        for (const auto vendorId : kLinkedTo42) addLink(42, vendorId);
        return out;
    }();
    return sample;
}

}  // namespace tavrolin::server
