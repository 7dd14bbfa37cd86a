#include "form_decoding.h"

#include <algorithm>
#include <cstdint>

#include "common/windows_1252.h"

namespace tavrolin::server {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

}  // namespace

bool decodeFormComponent(std::string_view encoded, std::string& decoded) {
    decoded.clear();
    decoded.reserve(encoded.size());
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const auto c = static_cast<unsigned char>(encoded[i]);
        if (c == '+') {
            decoded += ' ';
        } else if (c == '%') {
            if (i + 2 >= encoded.size()) return false;
            const int high = hexValue(encoded[i + 1]);
            const int low = hexValue(encoded[i + 2]);
            if (high < 0 || low < 0) return false;
            appendUtf8(decoded, cp1252::toUnicode(std::uint8_t(high * 16 + low)));
            i += 2;
        } else if (c <= 0x20 || c >= 0x7F) {
            // Such bytes never appear in a properly encoded body.
            return false;
        } else {
            decoded += char(c);
        }
    }
    return true;
}

FormDecodeResult decodeFormBody(std::string_view body) {
    FormDecodeResult result;
    std::size_t start = 0;
    while (start <= body.size()) {
        const auto end = std::min(body.find('&', start), body.size());
        const auto pair = body.substr(start, end - start);
        start = end + 1;
        if (pair.empty()) continue;
        const auto equals = pair.find('=');
        if (equals == std::string_view::npos) {
            result.error = "a form field without \"=\"";
            return result;
        }
        FormField field;
        if (!decodeFormComponent(pair.substr(0, equals), field.name) ||
            !decodeFormComponent(pair.substr(equals + 1), field.value)) {
            result.error = "a badly encoded form field";
            return result;
        }
        result.fields.push_back(std::move(field));
    }
    result.ok = true;
    return result;
}

bool isFormContentType(std::string_view contentType) {
    constexpr std::string_view kForm = "application/x-www-form-urlencoded";
    auto mediaType = contentType.substr(0, contentType.find(';'));
    while (!mediaType.empty() && (mediaType.back() == ' ' || mediaType.back() == '\t'))
        mediaType.remove_suffix(1);
    while (!mediaType.empty() && (mediaType.front() == ' ' || mediaType.front() == '\t'))
        mediaType.remove_prefix(1);
    if (mediaType.size() != kForm.size()) return false;
    for (std::size_t i = 0; i < kForm.size(); ++i) {
        char c = mediaType[i];
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (c != kForm[i]) return false;
    }
    return true;
}

}  // namespace tavrolin::server
