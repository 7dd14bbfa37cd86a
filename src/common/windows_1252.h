#pragma once

// The Windows-1252 code page: the single-byte codes in which form fields travel between the
// control and the server. Plain C++ so that the server, which has no Qt, shares the same table.

#include <array>
#include <cstdint>

namespace tavrolin::cp1252 {

// Unicode code points of the bytes 0x80..0x9F; the five bytes that Windows-1252 leaves
// undefined map to the C1 control of the same number, as Windows itself round-trips them.
inline constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

inline constexpr char32_t toUnicode(std::uint8_t byte) {
    return (byte >= 0x80 && byte <= 0x9F) ? kHighControls[byte - 0x80] : char32_t(byte);
}

// The byte for a code point, or -1 where the code page has none.
inline constexpr int fromUnicode(char32_t codePoint) {
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) return int(codePoint);
    for (int i = 0; i < 32; ++i)
        if (kHighControls[i] == codePoint) return 0x80 + i;
    return -1;
}

inline constexpr int kReplacement = '?';

}  // namespace tavrolin::cp1252
