// Numbers read from command-line words and the conversions of the size
// arithmetic, all defined for every input (no overflow, no NaN surprises).
#pragma once

#include <cstdint>
#include <string_view>

// Leading blanks, an optional sign, decimal digits up to the first other
// character; no digits give 0. Values beyond 32 bits saturate at the
// nearest 32-bit limit.
int32_t ReadInteger(std::string_view text);

// A whole decimal number from 1 to 2^31 - 1, digits alone; false for
// anything else, *value untouched.
bool ReadPositive(std::string_view text, int32_t* value);

// Leading blanks, an optional sign, digits with an optional decimal point and
// an optional exponent, up to the first other character; no number gives 0.
// Overflow gives an infinity, underflow a zero.
double ReadDecimal(std::string_view text);

// The double narrowed to single precision; values beyond its range become
// infinities of their sign, as the hardware rounds them.
float NarrowToFloat(double value);

// Cuts toward zero and keeps the low 32 bits of the integer so obtained (the
// exact integer, however large). NaN and infinities give 0.
int32_t TruncateKeeping32(double value);

// Cuts toward zero, saturating at the 32-bit limits; NaN gives 0.
int32_t TruncateSaturating(double value);

// "/q": a percent as the exporters' quality, 1023 for 100.
int32_t QualityFromPercent(std::string_view text);
