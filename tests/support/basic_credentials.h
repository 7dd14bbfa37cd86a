#pragma once

// Authorization header values written by hand, independent of the server's own decoding.

#include <cstdint>
#include <string>

namespace tavrolin::test {

inline std::string base64(const std::string& text) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 3) {
        unsigned bits = unsigned(std::uint8_t(text[i])) << 16;
        if (i + 1 < text.size()) bits |= unsigned(std::uint8_t(text[i + 1])) << 8;
        if (i + 2 < text.size()) bits |= unsigned(std::uint8_t(text[i + 2]));
        out += kAlphabet[bits >> 18 & 63];
        out += kAlphabet[bits >> 12 & 63];
        out += i + 1 < text.size() ? kAlphabet[bits >> 6 & 63] : '=';
        out += i + 2 < text.size() ? kAlphabet[bits & 63] : '=';
    }
    return out;
}

// "Basic " and the base64 of `credentials`, which are "user:password".
inline std::string basicCredentials(const std::string& credentials) {
    return "Basic " + base64(credentials);
}

}  // namespace tavrolin::test
