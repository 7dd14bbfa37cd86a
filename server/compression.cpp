#include "compression.h"

#include <zlib.h>

#include <stdexcept>

namespace tavrolin::server {

namespace {

// Level 1 compresses the vendor document to about the same size as the default level in a
// fraction of the time, which matters because every change to the links invalidates it.
constexpr int kLevel = 1;
constexpr int kGzipWindowBits = 15 + 16;  // 16 asks zlib for the gzip wrapper

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// 1 when the q-value among a coding's parameters is above 0 or absent, 0 when it is 0, -1 when
// it is malformed: only zero or not matters here, not the order of preference.
int qualityOf(std::string_view parameters) {
    bool positive = true;
    while (!parameters.empty()) {
        const auto semicolon = parameters.find(';');
        const auto parameter = trim(parameters.substr(0, semicolon));
        parameters = semicolon == std::string_view::npos ? std::string_view()
                                                         : parameters.substr(semicolon + 1);
        const auto equals = parameter.find('=');
        if (equals == std::string_view::npos) return -1;
        if (!equalsIgnoringCase(trim(parameter.substr(0, equals)), "q")) continue;
        const auto value = trim(parameter.substr(equals + 1));
        // qvalue = ( "0" [ "." 0*3DIGIT ] ) / ( "1" [ "." 0*3("0") ] )
        if (value.empty() || (value[0] != '0' && value[0] != '1')) return -1;
        if (value.size() > 1 && (value[1] != '.' || value.size() > 5)) return -1;
        bool nonZeroDigit = false;
        for (std::size_t i = 2; i < value.size(); ++i) {
            if (value[i] < '0' || value[i] > '9') return -1;
            if (value[i] != '0') nonZeroDigit = true;
        }
        if (value[0] == '1' && nonZeroDigit) return -1;
        positive = value[0] == '1' || nonZeroDigit;
    }
    return positive ? 1 : 0;
}

}  // namespace

bool acceptsGzip(std::string_view acceptEncoding) {
    int gzip = -1;  // not listed
    int any = -1;
    while (!acceptEncoding.empty()) {
        const auto comma = acceptEncoding.find(',');
        const auto element = trim(acceptEncoding.substr(0, comma));
        acceptEncoding =
            comma == std::string_view::npos ? std::string_view() : acceptEncoding.substr(comma + 1);
        if (element.empty()) continue;
        const auto semicolon = element.find(';');
        const auto coding = trim(element.substr(0, semicolon));
        const int quality =
            semicolon == std::string_view::npos ? 1 : qualityOf(element.substr(semicolon + 1));
        // A malformed element counts as a refusal, so a garbled header never gets gzip.
        const int accepted = quality == 1 ? 1 : 0;
        if (equalsIgnoringCase(coding, "gzip") || equalsIgnoringCase(coding, "x-gzip"))
            gzip = gzip == 0 ? 0 : accepted;
        else if (coding == "*")
            any = any == 0 ? 0 : accepted;
    }
    if (gzip != -1) return gzip == 1;
    return any == 1;
}

std::string gzipCompress(std::string_view data) {
    z_stream stream{};
    if (deflateInit2(&stream, kLevel, Z_DEFLATED, kGzipWindowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("zlib could not start compressing");
    std::string out(deflateBound(&stream, uLong(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, Z_FINISH);
    const auto written = stream.total_out;
    deflateEnd(&stream);
    if (result != Z_STREAM_END) throw std::runtime_error("zlib could not compress");
    out.resize(written);
    return out;
}

}  // namespace tavrolin::server
