#include "access_log.h"

#include <gtest/gtest.h>

using namespace tavrolin::server;

TEST(ServerAccessLog, ControlBytesQuotesAndBackslashesAreEscapedAndNothingElse) {
    const std::pair<std::string, std::string> cases[] = {
        {"GET /Tavrolin.asp?EmployeeID=42&x=a+b%20c ~{}|`'",
         "GET /Tavrolin.asp?EmployeeID=42&x=a+b%20c ~{}|`'"},
        {"", ""},
        {"/x\r\n127.0.0.1 \"GET /forged\" 200 0",
         "/x\\x0D\\x0A127.0.0.1 \\\"GET /forged\\\" 200 0"},
        {"\x1b[31mred\x1b[0m", "\\x1B[31mred\\x1B[0m"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"\t\x7f\\", "\\x09\\x7F\\\\"},
        // C1 controls (CSI is 0x9b) and every other byte above ASCII.
        {"\x9b"
         "31m caf\xC3\xA9",
         "\\x9B31m caf\\xC3\\xA9"},
    };
    for (const auto& [text, escaped] : cases) EXPECT_EQ(escapeLogText(text), escaped) << text;
}

TEST(ServerAccessLog, NoEscapedTextHoldsAControlByteOrABareQuote) {
    std::string every;
    for (int c = 0; c < 256; ++c) every += char(c);
    const auto escaped = escapeLogText(every);
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        const auto c = static_cast<unsigned char>(escaped[i]);
        ASSERT_TRUE(c >= 0x20 && c < 0x7f) << i;
        if (c == '"') {
            // Preceded by an odd number of backslashes: the quote itself is escaped.
            std::size_t slashes = 0;
            while (slashes < i && escaped[i - 1 - slashes] == '\\') ++slashes;
            EXPECT_EQ(slashes % 2, 1u) << i;
        }
    }
}
