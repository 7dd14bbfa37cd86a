// Form decoding reads a well-formed body completely and refuses everything else as a whole; what
// it reads, encoded again byte by byte, decodes to the same fields.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "common/windows_1252.h"
#include "form_decoding.h"
#include "fuzz_check.h"

using namespace tavrolin;
using namespace tavrolin::server;

namespace {

// Reads the next UTF-8 sequence; the decoder only ever produces valid ones.
char32_t nextCodePoint(std::string_view text, std::size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    FUZZ_CHECK(lead < 0x80 || lead >= 0xC2);
    FUZZ_CHECK(i + length <= text.size());
    char32_t cp = length == 1   ? lead
                  : length == 2 ? lead & 0x1F
                  : length == 3 ? lead & 0x0F
                                : lead & 0x07;
    for (int k = 1; k < length; ++k) {
        const auto c = static_cast<unsigned char>(text[i + k]);
        FUZZ_CHECK((c & 0xC0) == 0x80);
        cp = (cp << 6) | (c & 0x3F);
    }
    i += length;
    return cp;
}

// Every character as %XX of its Windows-1252 byte: the most escaped spelling there is.
std::string encodeFully(std::string_view utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const int byte = cp1252::fromUnicode(nextCodePoint(utf8, i));
        FUZZ_CHECK(byte >= 0);  // decoding only produces characters of the code page
        char escape[4];
        std::snprintf(escape, sizeof escape, "%%%02X", byte);
        out += escape;
    }
    return out;
}

bool isWellFormedByte(unsigned char c) {
    return c > 0x20 && c < 0x7F;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const FormDecodeResult result = decodeFormBody(body);
    FUZZ_CHECK(result.ok == result.error.empty());

    bool rawBytesOk = true;
    for (const char c : body) rawBytesOk = rawBytesOk && isWellFormedByte(c);
    if (!rawBytesOk) FUZZ_CHECK(!result.ok);
    if (!result.ok) {
        FUZZ_CHECK(result.fields.empty() || !result.error.empty());
        return 0;
    }

    // One field per non-empty pair, in order, split at the pair's first "=".
    std::size_t index = 0;
    for (std::size_t start = 0; start <= body.size();) {
        const auto end = std::min(body.find('&', start), body.size());
        const auto pair = body.substr(start, end - start);
        start = end + 1;
        if (pair.empty()) continue;
        FUZZ_CHECK(index < result.fields.size());
        const auto equals = pair.find('=');
        std::string name;
        std::string value;
        FUZZ_CHECK(decodeFormComponent(pair.substr(0, equals), name));
        FUZZ_CHECK(decodeFormComponent(pair.substr(equals + 1), value));
        FUZZ_CHECK(name == result.fields[index].name && value == result.fields[index].value);
        ++index;
    }
    FUZZ_CHECK(index == result.fields.size());

    std::string reencoded;
    for (const auto& field : result.fields)
        reencoded += encodeFully(field.name) + "=" + encodeFully(field.value) + "&";
    const FormDecodeResult again = decodeFormBody(reencoded);
    FUZZ_CHECK(again.ok);
    FUZZ_CHECK(again.fields == result.fields);
    return 0;
}
