#pragma once

// Decoding the server's gzip replies in tests; the test links zlib.

#include <zlib.h>

#include <string>

namespace tavrolin::test {

// The bytes a gzip stream decodes to; "<broken>" when zlib refuses it or it is cut short.
inline std::string gunzip(const std::string& data) {
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK) return "<broken>";
    std::string out;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = uInt(data.size());
    int result = Z_OK;
    while (result == Z_OK) {
        char buffer[16384];
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - stream.avail_out);
    }
    const bool whole = result == Z_STREAM_END && stream.avail_in == 0;
    inflateEnd(&stream);
    return whole ? out : "<broken>";
}

}  // namespace tavrolin::test
