#include "vendor_document.h"

#include <charconv>

namespace tavrolin::server {

namespace {

void appendNumber(std::string& out, std::int64_t value) {
    char buffer[24];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, end);
}

void appendList(std::string& out, std::string_view element,
                const std::vector<VendorRecord>& records) {
    out += '<';
    out += element;
    out += '>';
    for (const auto& record : records) {
        out += "<Vendor><VendorID>";
        appendNumber(out, record.id);
        out += "</VendorID><VendorName>";
        out += escapeXmlText(record.name);
        out += "</VendorName></Vendor>";
    }
    out += "</";
    out += element;
    out += '>';
}

// Where a UTF-8 sequence at `text[i]` is well formed, its length; otherwise 0.
std::size_t utf8Length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    char32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    const bool overlong = (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000);
    const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
    const bool notXml = cp == 0xFFFE || cp == 0xFFFF || cp > 0x10FFFF;
    return (overlong || surrogate || notXml) ? 0 : length;
}

}  // namespace

std::string escapeXmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
                case '&':
                    out += "&amp;";
                    break;
                case '<':
                    out += "&lt;";
                    break;
                case '>':
                    out += "&gt;";
                    break;
                case '"':
                    out += "&quot;";
                    break;
                case '\'':
                    out += "&apos;";
                    break;
                // A raw carriage return would be normalised away by the reader's parser.
                case '\r':
                    out += "&#13;";
                    break;
                case '\t':
                case '\n':
                    out += char(c);
                    break;
                default:
                    // XML 1.0 has no way to carry the other control characters at all.
                    out += c < 0x20 ? "\xEF\xBF\xBD" : std::string(1, char(c));
            }
            ++i;
            continue;
        }
        const std::size_t length = utf8Length(text, i);
        if (length == 0) {
            // A stray byte would make the whole document unreadable; replace just that byte.
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

std::string buildVendorDocument(const std::vector<VendorRecord>& nonSelected,
                                const std::vector<VendorRecord>& selected) {
    std::string out;
    out.reserve(128 + (nonSelected.size() + selected.size()) * 64);
    out +=
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><VendorDocument><Header><Counts><VendorCount>";
    appendNumber(out, std::int64_t(nonSelected.size()));
    out += "</VendorCount><SelectedCount>";
    appendNumber(out, std::int64_t(selected.size()));
    out += "</SelectedCount></Counts></Header>";
    appendList(out, "Vendors", nonSelected);
    appendList(out, "SelectedVendors", selected);
    out += "</VendorDocument>";
    return out;
}

}  // namespace tavrolin::server
