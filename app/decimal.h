// Decimal text to number, as the setup dialog's delay fields are read.
#pragma once

#include <cstdint>

// Skips leading white space, accepts one optional '+' or '-', then takes
// decimal digits up to the first non-digit. No digits gives 0. The value
// wraps in 32 bits instead of overflowing ("4294967297" gives 1).
int32_t ParseDecimal(const char* text);
