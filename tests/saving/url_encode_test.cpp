#include "saving/url_encode.h"

#include <gtest/gtest.h>

using tavrolin::urlEncode;

TEST(UrlEncode, TextWithReservedCharacters) {
    EXPECT_EQ(urlEncode("Tom's A/B-list 100%"), "Tom%27s+A%2FB-list+100%25");
    EXPECT_EQ(urlEncode("a b"), "a+b");
    EXPECT_EQ(urlEncode("x=1&y"), "x%3D1%26y");
    EXPECT_EQ(urlEncode("A_b.c-d*e"), "A_b.c-d*e");
    EXPECT_EQ(urlEncode(QString::fromUtf8("caf\xc3\xa9")), "caf%E9");
}

TEST(UrlEncode, EdgeCases) {
    EXPECT_EQ(urlEncode(""), "");
    EXPECT_EQ(urlEncode(" "), "+");
    EXPECT_EQ(urlEncode("+"), "%2B");
    EXPECT_EQ(urlEncode("%"), "%25");
    EXPECT_EQ(urlEncode("\t"), "%09");
    EXPECT_EQ(urlEncode("\n"), "%0A");
    EXPECT_EQ(urlEncode(QString(QChar(127))), "%7F");
    EXPECT_EQ(urlEncode("~"), "%7E");
    EXPECT_EQ(urlEncode("ABCxyz019"), "ABCxyz019");
    EXPECT_EQ(urlEncode("="), "%3D");
    EXPECT_EQ(urlEncode(QString(QChar(0))), "%00");
    EXPECT_EQ(urlEncode("!'()"), "%21%27%28%29");
}

TEST(UrlEncode, WindowsCodePage) {
    EXPECT_EQ(urlEncode(QString::fromUtf8("\xe2\x82\xac")), "%80");  // euro sign
    EXPECT_EQ(urlEncode(QString::fromUtf8("\xc3\xbc\xc3\xb1")), "%FC%F1");
    EXPECT_EQ(urlEncode(QString::fromUtf8("\xe2\x80\x9cq\xe2\x80\x9d")), "%93q%94");
    // Outside the code page: the replacement "?" once per character, astral ones included.
    EXPECT_EQ(urlEncode(QString::fromUtf8("\xe4\xb8\xad")), "%3F");
    EXPECT_EQ(urlEncode(QString::fromUtf8("\xf0\x9f\x98\x80x")), "%3Fx");
}
