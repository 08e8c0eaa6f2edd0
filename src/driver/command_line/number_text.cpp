#include "driver/command_line/number_text.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

size_t SkipBlanks(std::string_view text, size_t i) {
  while (i < text.size() && IsBlank(text[i])) ++i;
  return i;
}

size_t SkipDigits(std::string_view text, size_t i) {
  while (i < text.size() && IsDigit(text[i])) ++i;
  return i;
}

// The length of the leading decimal number (blanks included), 0 for none.
size_t DecimalPrefixLength(std::string_view text) {
  size_t i = SkipBlanks(text, 0);
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  const size_t intStart = i;
  i = SkipDigits(text, i);
  size_t digits = i - intStart;
  if (i < text.size() && text[i] == '.') {
    const size_t fracStart = i + 1;
    const size_t fracEnd = SkipDigits(text, fracStart);
    digits += fracEnd - fracStart;
    if (digits > 0) i = fracEnd;
  }
  if (digits == 0) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t e = i + 1;
    if (e < text.size() && (text[e] == '+' || text[e] == '-')) ++e;
    const size_t expEnd = SkipDigits(text, e);
    if (expEnd > e) i = expEnd;  // an exponent needs digits, else "e" ends the number
  }
  return i;
}

constexpr double kTwoTo32 = 4294967296.0;

}  // namespace

int32_t ReadInteger(std::string_view text) {
  constexpr int64_t kBeyond = int64_t(std::numeric_limits<int32_t>::max()) + 1;
  size_t i = SkipBlanks(text, 0);
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t magnitude = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    // Past 2^31 the value saturates whatever digits follow.
    if (magnitude <= kBeyond) magnitude = magnitude * 10 + (text[i] - '0');
  }
  int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return int32_t(value);
}

double ReadDecimal(std::string_view text) {
  const size_t length = DecimalPrefixLength(text);
  if (length == 0) return 0.0;
  // strtod reads only the prefix checked above, so no hexadecimal, "inf" or
  // "nan" forms slip through; the program never changes the "C" locale.
  const std::string number(text.substr(0, length));
  return std::strtod(number.c_str(), nullptr);
}

float NarrowToFloat(double value) {
  // Halfway between the largest float and 2^128: from there on, rounding
  // gives an infinity, which the cast is not promised to produce.
  constexpr double kOverflow = 0x1.ffffffp127;
  if (value >= kOverflow) return std::numeric_limits<float>::infinity();
  if (value <= -kOverflow) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

int32_t TruncateKeeping32(double value) {
  if (!std::isfinite(value)) return 0;
  // fmod is exact, so this is the truncated integer modulo 2^32 for any size.
  double low = std::fmod(std::trunc(value), kTwoTo32);
  if (low < 0) low += kTwoTo32;
  return int32_t(uint32_t(low));
}

int32_t TruncateSaturating(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return int32_t(value);
}

bool ReadPositive(std::string_view text, int32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < 1 || v > INT32_MAX) return false;
  *value = int32_t(v);
  return true;
}

int32_t QualityFromPercent(std::string_view text) {
  return TruncateSaturating(ReadDecimal(text) * 10.23);
}
