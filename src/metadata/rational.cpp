#include "metadata/rational.h"

#include <utility>

namespace {

template <typename T>
T Euclid(T a, T b) {
  if (a < b) std::swap(a, b);
  while (b != 0) {
    T remainder = a % b;
    a = b;
    b = remainder;
  }
  return a;
}

template <typename R>
void Reduce(R* r) {
  if (r->numerator == 0 || r->denominator == 0) return;
  auto divisor = GreatestCommonDivisor(r->numerator, r->denominator);
  if (divisor > 1) {
    r->numerator /= divisor;
    r->denominator /= divisor;
  }
}

}  // namespace

uint32_t GreatestCommonDivisor(uint32_t a, uint32_t b) {
  return Euclid(a, b);
}
uint64_t GreatestCommonDivisor(uint64_t a, uint64_t b) {
  return Euclid(a, b);
}

void ReduceRational(Rational* r) {
  Reduce(r);
}
void ReduceRational(WideRational* r) {
  Reduce(r);
}

void FitRational(WideRational* r, uint32_t bits) {
  ReduceRational(r);
  if (bits >= 64) return;  // every 64-bit term already fits
  const uint64_t limit = uint64_t(1) << bits;
  while (r->numerator >= limit || r->denominator >= limit) {
    r->numerator >>= 1;
    r->denominator >>= 1;
  }
  ReduceRational(r);
}

Rational ScaleRational(Rational value, Rational factor) {
  ReduceRational(&value);
  ReduceRational(&factor);
  WideRational product{uint64_t(value.numerator) * factor.numerator,
                       uint64_t(value.denominator) * factor.denominator};
  FitRational(&product, kRationalFitBits);
  return {uint32_t(product.numerator), uint32_t(product.denominator)};
}
