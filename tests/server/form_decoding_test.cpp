#include "form_decoding.h"

#include <gtest/gtest.h>

#include "typical_moves.h"

using namespace tavrolin::server;

namespace {

std::string decoded(std::string_view encoded) {
    std::string out;
    EXPECT_TRUE(decodeFormComponent(encoded, out)) << encoded;
    return out;
}

}  // namespace

TEST(ServerFormDecoding, TwoAddsAndTwoRemovalsGiveTheThreeStatements) {
    const auto result = decodeFormBody(test_support::kTypicalMovesBody);
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.fields.size(), 3u);
    EXPECT_EQ(result.fields[0],
              (FormField{"SQL",
                         "INSERT INTO VendorEmployeeCrossReference (EmployeeID,VendorID,"
                         "RecordLastUpdated) VALUES (42,123,GETDATE() ) "}));
    EXPECT_EQ(result.fields[1].value,
              "INSERT INTO VendorEmployeeCrossReference (EmployeeID,VendorID,RecordLastUpdated) "
              "VALUES (42,77,GETDATE() ) ");
    EXPECT_EQ(result.fields[2].value,
              "DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID=42 AND VendorID "
              "IN(456,900)");
}

TEST(ServerFormDecoding, EscapesAreWindows1252Bytes) {
    EXPECT_EQ(decoded("caf%E9"), "caf\xC3\xA9");       // é
    EXPECT_EQ(decoded("%80"), "\xE2\x82\xAC");         // € lives at 0x80 in Windows-1252
    EXPECT_EQ(decoded("%fc%F1"), "\xC3\xBC\xC3\xB1");  // ü ñ, either case of hex digits
    EXPECT_EQ(decoded("Tom%27s+A%2FB-list+100%25"), "Tom's A/B-list 100%");
    EXPECT_EQ(decoded("%2B+"), "+ ");
    EXPECT_EQ(decoded("%09%0A"), "\t\n");
    EXPECT_EQ(decoded(""), "");
}

TEST(ServerFormDecoding, RefusesMalformedBodies) {
    std::string out;
    EXPECT_FALSE(decodeFormComponent("%4", out));
    EXPECT_FALSE(decodeFormComponent("%", out));
    EXPECT_FALSE(decodeFormComponent("%G1", out));
    EXPECT_FALSE(decodeFormComponent("a b", out));
    EXPECT_FALSE(decodeFormComponent("caf\xE9", out));
    EXPECT_FALSE(decodeFormComponent("a\nb", out));
    EXPECT_FALSE(decodeFormBody("SQL").ok);
    EXPECT_FALSE(decodeFormBody("SQL=1&junk").ok);
    EXPECT_FALSE(decodeFormBody("SQL=%zz").ok);
}

TEST(ServerFormDecoding, KeepsFieldOrderAndSkipsEmptyPairs) {
    const auto result = decodeFormBody("&SQL=a&&Other=b&SQL=&");
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.fields.size(), 3u);
    EXPECT_EQ(result.fields[0], (FormField{"SQL", "a"}));
    EXPECT_EQ(result.fields[1], (FormField{"Other", "b"}));
    EXPECT_EQ(result.fields[2], (FormField{"SQL", ""}));
    EXPECT_TRUE(decodeFormBody("").ok);
    EXPECT_TRUE(decodeFormBody("").fields.empty());
}

TEST(ServerFormDecoding, RecognisesTheFormContentType) {
    EXPECT_TRUE(isFormContentType("application/x-www-form-urlencoded"));
    EXPECT_TRUE(isFormContentType("Application/X-WWW-Form-URLEncoded; charset=windows-1252"));
    EXPECT_FALSE(isFormContentType(""));
    EXPECT_FALSE(isFormContentType("text/plain"));
    EXPECT_FALSE(isFormContentType("multipart/form-data; boundary=x"));
    EXPECT_FALSE(isFormContentType("application/x-www-form-urlencodedX"));
}
