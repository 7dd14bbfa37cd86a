#include "vendor_import.h"

#include <algorithm>
#include <charconv>

namespace tavrolin::server {

namespace {

std::string lowered(std::string_view text) {
    std::string out(text);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// Splits one line into fields; false with `error` set when quoting is broken.
bool splitLine(std::string_view line, std::vector<std::string>& fields, std::string& error) {
    fields.clear();
    std::size_t i = 0;
    while (true) {
        std::string field;
        std::size_t j = i;
        while (j < line.size() && (line[j] == ' ' || line[j] == '\t')) ++j;
        if (j < line.size() && line[j] == '"') {
            ++j;
            while (true) {
                if (j >= line.size()) {
                    error = "a quoted field is not closed";
                    return false;
                }
                if (line[j] == '"') {
                    if (j + 1 < line.size() && line[j + 1] == '"') {
                        field += '"';
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                field += line[j++];
            }
            while (j < line.size() && (line[j] == ' ' || line[j] == '\t')) ++j;
            if (j < line.size() && line[j] != ',') {
                error = "text after a quoted field";
                return false;
            }
        } else {
            const auto comma = std::min(line.find(',', i), line.size());
            field = std::string(trimmed(line.substr(i, comma - i)));
            if (field.find('"') != std::string::npos) {
                error = "a quote inside an unquoted field";
                return false;
            }
            j = comma;
        }
        fields.push_back(std::move(field));
        if (j >= line.size()) return true;
        i = j + 1;  // past the comma
    }
}

bool validUtf8WithoutControls(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) return false;
        std::size_t length = c < 0x80                 ? 1
                             : c >= 0xC2 && c <= 0xDF ? 2
                             : c >= 0xE0 && c <= 0xEF ? 3
                             : c >= 0xF0 && c <= 0xF4 ? 4
                                                      : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

}  // namespace

VendorCsv parseVendorCsv(std::string_view text) {
    VendorCsv result;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::vector<std::string> fields;
    std::string error;
    bool headerSeen = false;
    std::size_t lineNumber = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = std::min(text.find('\n', start), text.size());
        auto line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (trimmed(line).empty()) continue;
        auto bad = [&](const std::string& why) {
            result.errors.push_back("line " + std::to_string(lineNumber) + ": " + why);
        };
        if (!splitLine(line, fields, error)) {
            bad(error);
            continue;
        }
        if (!headerSeen) {
            headerSeen = true;
            if (fields.size() != 3 || lowered(fields[0]) != "id" || lowered(fields[1]) != "name" ||
                lowered(fields[2]) != "active")
                bad("the header must be id,name,active");
            continue;
        }
        if (fields.size() != 3) {
            bad("expected 3 fields, found " + std::to_string(fields.size()));
            continue;
        }
        ImportedVendor vendor{};
        const auto& id = fields[0];
        const auto [ptr, ec] = std::from_chars(id.data(), id.data() + id.size(), vendor.id);
        if (id.empty() || id.front() == '-' || ec != std::errc() || ptr != id.data() + id.size() ||
            vendor.id <= 0) {
            bad("the id \"" + id + "\" is not a positive whole number");
            continue;
        }
        vendor.name = std::string(trimmed(fields[1]));
        if (vendor.name.empty()) {
            bad("the name is blank");
            continue;
        }
        if (!validUtf8WithoutControls(vendor.name)) {
            bad("the name is not valid UTF-8 text");
            continue;
        }
        const auto active = lowered(fields[2]);
        if (active == "1" || active == "true" || active == "yes") {
            vendor.active = true;
        } else if (active == "0" || active == "false" || active == "no") {
            vendor.active = false;
        } else {
            bad("active must be 1 or 0, found \"" + fields[2] + "\"");
            continue;
        }
        result.vendors.push_back(std::move(vendor));
    }
    if (!headerSeen) result.errors.push_back("line 1: the header id,name,active is missing");
    return result;
}

}  // namespace tavrolin::server
