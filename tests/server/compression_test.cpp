#include "compression.h"

#include <gtest/gtest.h>

#include <random>

#include "gunzip.h"

using namespace tavrolin::server;
using tavrolin::test::gunzip;

TEST(ServerCompression, AcceptEncodingIsReadWithItsQValues) {
    struct Case {
        const char* header;
        bool gzip;
    };
    const Case cases[] = {
        {"gzip", true},
        {"GZip", true},
        {"x-gzip", true},
        {"gzip, deflate, br", true},
        {"deflate, gzip;q=0.5", true},
        {" br ,  gzip ; q=1.000", true},
        {"gzip;q=0.001", true},
        {"*", true},
        {"br, *;q=0.1", true},
        {"", false},
        {"identity", false},
        {"deflate, br", false},
        {"gzip;q=0", false},
        {"gzip; q=0.000", false},
        {"gzip;q=0, *", false},  // listed gzip wins over the wildcard
        {"*;q=0", false},
        {"*, gzip;q=0", false},
        {"gzip;q=1.5", false},  // malformed q-values accept nothing
        {"gzip;q=abc", false},
        {"gzip;q=0.0001", false},
        {"gzip;level", false},
        {"gzipped", false},
        {"gzip;q=0, gzip", false},  // a refusal is not taken back
    };
    for (const auto& c : cases) EXPECT_EQ(acceptsGzip(c.header), c.gzip) << '"' << c.header << '"';
}

TEST(ServerCompression, GzipRoundTripsAnyBytes) {
    std::mt19937 random(7);
    std::string noise(100000, '\0');
    for (auto& c : noise) c = char(random());
    std::string document = "<?xml version=\"1.0\"?><VendorDocument>";
    for (int i = 0; i < 32767; ++i)
        document += "<Vendor><VendorID>" + std::to_string(i) + "</VendorID><VendorName>Vendor " +
                    std::to_string(i * 7919 % 100003) + "</VendorName></Vendor>";
    document += "</VendorDocument>";

    for (const std::string& input : {std::string(), std::string("a"), noise, document}) {
        const auto compressed = gzipCompress(input);
        ASSERT_GE(compressed.size(), 18u);  // header and trailer at least
        EXPECT_EQ(std::uint8_t(compressed[0]), 0x1f);
        EXPECT_EQ(std::uint8_t(compressed[1]), 0x8b);
        EXPECT_EQ(gunzip(compressed), input) << input.size();
    }
    EXPECT_LT(gzipCompress(document).size(), document.size() / 5);
}
