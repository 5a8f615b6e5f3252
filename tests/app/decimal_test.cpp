#include "app/decimal.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(ParseDecimal, PlainDigits) {
    EXPECT_EQ(0, ParseDecimal("0"));
    EXPECT_EQ(10, ParseDecimal("10"));
    EXPECT_EQ(5, ParseDecimal("0005"));
    EXPECT_EQ(2147483647, ParseDecimal("2147483647"));
}

TEST(ParseDecimal, NoDigitsGivesZero) {
    EXPECT_EQ(0, ParseDecimal(""));
    EXPECT_EQ(0, ParseDecimal("abc"));
    EXPECT_EQ(0, ParseDecimal("   "));
    EXPECT_EQ(0, ParseDecimal("+"));
    EXPECT_EQ(0, ParseDecimal("-"));
}

TEST(ParseDecimal, LeadingWhiteSpaceAndOneSign) {
    EXPECT_EQ(12, ParseDecimal(" \t\n\v\f\r12"));
    EXPECT_EQ(7, ParseDecimal("+7"));
    EXPECT_EQ(-3, ParseDecimal("-3"));
    EXPECT_EQ(-42, ParseDecimal("  -42"));
    EXPECT_EQ(0, ParseDecimal("+-5")) << "only one sign is accepted";
    EXPECT_EQ(0, ParseDecimal("- 5")) << "no space between sign and digits";
}

TEST(ParseDecimal, StopsAtTheFirstNonDigit) {
    EXPECT_EQ(12, ParseDecimal("12abc"));
    EXPECT_EQ(3, ParseDecimal("3.75"));
    EXPECT_EQ(1, ParseDecimal("1 2"));
}

TEST(ParseDecimal, WrapsInThirtyTwoBits) {
    EXPECT_EQ(INT_MIN, ParseDecimal("2147483648"));
    EXPECT_EQ(-1, ParseDecimal("4294967295"));
    EXPECT_EQ(0, ParseDecimal("4294967296"));
    EXPECT_EQ(1, ParseDecimal("4294967297"));
    EXPECT_EQ(INT_MIN, ParseDecimal("-2147483648"));
    EXPECT_EQ(-1, ParseDecimal("-4294967297"));
    // 10^20 mod 2^32 = 1661992960
    EXPECT_EQ(1661992960, ParseDecimal("100000000000000000000"));
}

} // namespace
