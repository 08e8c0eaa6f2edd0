// Unsigned rationals for rescaling resolutions.
#pragma once

#include <cstdint>

struct Rational {
  uint32_t numerator = 0;
  uint32_t denominator = 1;
};

// The intermediate of a product of two rationals.
struct WideRational {
  uint64_t numerator = 0;
  uint64_t denominator = 1;
};

constexpr uint32_t kRationalFitBits = 30;

// Greatest common divisor of two non-zero terms (Euclid).
uint32_t GreatestCommonDivisor(uint32_t a, uint32_t b);
uint64_t GreatestCommonDivisor(uint64_t a, uint64_t b);

// Divides both terms by their greatest common divisor. A rational with a
// zero term has no such divisor and is left as it is.
void ReduceRational(Rational* r);
void ReduceRational(WideRational* r);

// Reduces, then halves both terms together (truncating) until both are below
// 2^bits, then reduces once more. The halving can bring a small term to 0.
void FitRational(WideRational* r, uint32_t bits);

// value × factor, reduced and fitted below 2^30. The result has a zero term
// when an operand has one or when fitting wiped a term out.
Rational ScaleRational(Rational value, Rational factor);

constexpr bool HasZeroTerm(Rational r) {
  return r.numerator == 0 || r.denominator == 0;
}
