#include "audit_trail.h"

#include <cctype>
#include <cstdio>

namespace tavrolin::server {

namespace {

// Reads exactly `digits` digits at `pos` into `value` if they lie within [low, high].
bool number(std::string_view text, std::size_t& pos, std::size_t digits, int low, int high,
            int& value) {
    if (pos + digits > text.size()) return false;
    value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const char c = text[pos + i];
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + (c - '0');
    }
    pos += digits;
    return value >= low && value <= high;
}

bool literal(std::string_view text, std::size_t& pos, char c) {
    if (pos >= text.size() || text[pos] != c) return false;
    ++pos;
    return true;
}

}  // namespace

std::optional<std::string> normalizeAuditTime(std::string_view text) {
    if (!text.empty() && (text.back() == 'Z' || text.back() == 'z')) text.remove_suffix(1);
    std::size_t pos = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
    if (!number(text, pos, 4, 1, 9999, year) || !literal(text, pos, '-') ||
        !number(text, pos, 2, 1, 12, month) || !literal(text, pos, '-') ||
        !number(text, pos, 2, 1, 31, day))
        return std::nullopt;
    if (pos < text.size()) {
        if (text[pos] != ' ' && text[pos] != 'T' && text[pos] != 't') return std::nullopt;
        ++pos;
        if (!number(text, pos, 2, 0, 23, hour) || !literal(text, pos, ':') ||
            !number(text, pos, 2, 0, 59, minute))
            return std::nullopt;
        if (pos < text.size()) {
            if (!literal(text, pos, ':') || !number(text, pos, 2, 0, 59, second))
                return std::nullopt;
            if (pos < text.size() &&
                (!literal(text, pos, '.') || !number(text, pos, 3, 0, 999, millis)))
                return std::nullopt;
        }
    }
    if (pos != text.size()) return std::nullopt;
    char out[32];
    std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d.%03d", year, month, day, hour,
                  minute, second, millis);
    return std::string(out);
}

std::vector<VendorChange> vendorChanges(
    const std::map<std::int64_t, std::pair<std::string, bool>>& before,
    const std::vector<ImportedVendor>& imported) {
    std::map<std::int64_t, const ImportedVendor*> last;
    for (const auto& vendor : imported) last[vendor.id] = &vendor;
    std::vector<VendorChange> changes;
    for (const auto& [id, vendor] : last) {
        const auto found = before.find(id);
        if (found == before.end()) {
            changes.push_back({id, kVendorAdded, vendor->name});
            continue;
        }
        const auto& [name, active] = found->second;
        if (name != vendor->name)
            changes.push_back({id, kVendorRenamed, name + " -> " + vendor->name});
        if (active != vendor->active)
            changes.push_back(
                {id, vendor->active ? kVendorActivated : kVendorDeactivated, vendor->name});
    }
    return changes;
}

}  // namespace tavrolin::server
