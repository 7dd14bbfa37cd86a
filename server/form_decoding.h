#pragma once

// Strict reading of an application/x-www-form-urlencoded body whose values were encoded byte
// by byte from Windows-1252 text, as the vendor control does.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavrolin::server {

struct FormField {
    std::string name;   // UTF-8
    std::string value;  // UTF-8
    bool operator==(const FormField&) const = default;
};

struct FormDecodeResult {
    bool ok = false;
    std::vector<FormField> fields;
    // What was wrong with the body, for the server log; empty when `ok`.
    std::string error;
};

// Splits on "&" and "=", turns "+" into a space and "%XX" into the Windows-1252 character of
// byte XX. Raw control characters, spaces and non-ASCII bytes, a pair without "=" and a broken
// escape make the whole body malformed. Empty pairs (the trailing "&") are skipped.
FormDecodeResult decodeFormBody(std::string_view body);

// Decodes one encoded name or value; false if it is malformed.
bool decodeFormComponent(std::string_view encoded, std::string& decoded);

// The media type of a Content-Type header is application/x-www-form-urlencoded.
bool isFormContentType(std::string_view contentType);

}  // namespace tavrolin::server
