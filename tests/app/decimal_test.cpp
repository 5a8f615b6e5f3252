#include "app/decimal.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(ParseDecimal, LikeAtoiWrappingInThirtyTwoBits) {
    const struct {
        const char* text;
        int value;
    } cases[] = {
        {"10", 10},
        {"0005", 5},
        {"2147483647", 2147483647},
        // No digits.
        {"", 0},
        {"   ", 0},
        {"-", 0},
        // Leading white space, one sign, stop at the first non-digit.
        {" \t\n\v\f\r12", 12},
        {"+7", 7},
        {"  -42", -42},
        {"+-5", 0},
        {"- 5", 0},
        {"12abc", 12},
        {"3.75", 3},
        {"1 2", 1},
        // Wrap.
        {"2147483648", INT_MIN},
        {"4294967295", -1},
        {"4294967297", 1},
        {"-4294967297", -1},
        {"100000000000000000000", 1661992960}, // 10^20 mod 2^32
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.value, ParseDecimal(c.text)) << "\"" << c.text << "\"";
}

} // namespace
