#include "common/text_services.h"

#include "support/run_time_errors.h"

#include <gtest/gtest.h>
#include <tavrolin/run_time_error.h>

using test_support::errorNumberOf;
using namespace tavrolin;

TEST(Conversions, AcceptsBlanksAndSigns) {
    EXPECT_EQ(text::toInt32(u"42"), 42);
    EXPECT_EQ(text::toInt32(u"  42  "), 42);
    EXPECT_EQ(text::toInt32(u"\t-7 "), -7);
    EXPECT_EQ(text::toInt32(u"+15"), 15);
    EXPECT_EQ(text::toInt32(u"000123"), 123);
    EXPECT_EQ(text::toInt32(u"-0"), 0);
}

TEST(Conversions, FractionsRoundHalfToEven) {
    EXPECT_EQ(text::toInt32(u"2.5"), 2);
    EXPECT_EQ(text::toInt32(u"3.5"), 4);
    EXPECT_EQ(text::toInt32(u"-2.5"), -2);
    EXPECT_EQ(text::toInt32(u"-3.5"), -4);
    EXPECT_EQ(text::toInt32(u"2.5000000000000000001"), 3);
    EXPECT_EQ(text::toInt32(u"2.49999999999999999999"), 2);
    EXPECT_EQ(text::toInt32(u".5"), 0);
    EXPECT_EQ(text::toInt32(u"0.51"), 1);
    EXPECT_EQ(text::toInt32(u"7."), 7);
    EXPECT_EQ(text::toInt32(u"9.5"), 10);
    EXPECT_EQ(text::toInt16(u"99.9"), 100);
}

TEST(Conversions, NotANumberIsTypeMismatch) {
    for (const char16_t* bad :
         {u"", u"   ", u"abc", u"12a", u"1,000", u"1e3", u"- 5", u"+", u".", u"0x10", u"4 2"}) {
        EXPECT_EQ(errorNumberOf([&] { text::toInt32(bad); }), errors::TypeMismatch)
            << QString::fromUtf16(bad).toStdString();
    }
    EXPECT_FALSE(text::isNumeric(u"000123N"));
    EXPECT_FALSE(text::isNumeric(u"000123D"));
    EXPECT_TRUE(text::isNumeric(u"000123"));
    EXPECT_TRUE(text::isNumeric(u" -1.25 "));
}

TEST(Conversions, SixteenBitBounds) {
    EXPECT_EQ(text::toInt16(u"32767"), 32767);
    EXPECT_EQ(text::toInt16(u"-32768"), -32768);
    EXPECT_EQ(errorNumberOf([] { text::toInt16(u"32768"); }), errors::Overflow);
    EXPECT_EQ(errorNumberOf([] { text::toInt16(u"-32769"); }), errors::Overflow);
    EXPECT_EQ(errorNumberOf([] { text::toInt16(u"32767.5"); }), errors::Overflow);
    EXPECT_EQ(text::toInt16(u"32766.5"), 32766);
}

TEST(Conversions, ThirtyTwoBitBounds) {
    EXPECT_EQ(text::toInt32(u"2147483647"), 2147483647);
    EXPECT_EQ(text::toInt32(u"-2147483648"), -2147483647 - 1);
    EXPECT_EQ(errorNumberOf([] { text::toInt32(u"2147483648"); }), errors::Overflow);
    EXPECT_EQ(errorNumberOf([] { text::toInt32(u"-2147483649"); }), errors::Overflow);
    EXPECT_EQ(errorNumberOf([] { text::toInt32(u"99999999999999999999999999"); }),
              errors::Overflow);
}

TEST(Arithmetic, SixteenBitStepsAreChecked) {
    EXPECT_EQ(text::add16(32766, 1), 32767);
    EXPECT_EQ(errorNumberOf([] { text::add16(32767, 1); }), errors::Overflow);
    EXPECT_EQ(errorNumberOf([] { text::add16(20000, 20000); }), errors::Overflow);
    EXPECT_EQ(text::add16(-32767, -1), -32768);
    EXPECT_EQ(text::multiply16(4, 3975), 15900);
    EXPECT_EQ(errorNumberOf([] { text::multiply16(4, 8192); }), errors::Overflow);
}

TEST(Pictures, SixDigitPicture) {
    EXPECT_EQ(text::sixDigitPicture(u"123"), "000123");
    EXPECT_EQ(text::sixDigitPicture(u"000123"), "000123");
    EXPECT_EQ(text::sixDigitPicture(u"1234567"), "1234567");
    EXPECT_EQ(text::sixDigitPicture(u"0"), "000000");
    EXPECT_EQ(text::sixDigitPicture(u"999999"), "999999");
    EXPECT_EQ(text::sixDigitPicture(u"abc"), "abc");
    EXPECT_EQ(text::sixDigitPicture(u""), "");
}

TEST(Pictures, WholeNumberTextAndDecimal) {
    EXPECT_TRUE(text::isWholeNumberText(u"000123"));
    EXPECT_FALSE(text::isWholeNumberText(u""));
    EXPECT_FALSE(text::isWholeNumberText(u" 12"));
    EXPECT_FALSE(text::isWholeNumberText(u"12.0"));
    EXPECT_FALSE(text::isWholeNumberText(u"1;DROP"));
    EXPECT_EQ(text::decimal(-7), "-7");
    EXPECT_EQ(text::decimal(0), "0");
    EXPECT_EQ(text::roundHalfEven(3974.5), 3974);
    EXPECT_EQ(text::roundHalfEven(3975.5), 3976);
}
