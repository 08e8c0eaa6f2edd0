#include "metadata/rational.h"

#include <gtest/gtest.h>

namespace {

void ExpectRational(Rational r, uint32_t numerator, uint32_t denominator) {
  EXPECT_EQ(r.numerator, numerator);
  EXPECT_EQ(r.denominator, denominator);
}

TEST(RationalTest, GreatestCommonDivisorInEitherOrder) {
  EXPECT_EQ(GreatestCommonDivisor(uint32_t(12), uint32_t(18)), 6u);
  EXPECT_EQ(GreatestCommonDivisor(uint32_t(18), uint32_t(12)), 6u);
  EXPECT_EQ(GreatestCommonDivisor(uint32_t(17), uint32_t(5)), 1u);
  EXPECT_EQ(GreatestCommonDivisor(uint64_t(3) << 40, uint64_t(5) << 40), uint64_t(1) << 40);
}

TEST(RationalTest, ReduceBothForms) {
  Rational r{2160000, 700};
  ReduceRational(&r);
  ExpectRational(r, 21600, 7);

  WideRational wide{uint64_t(3) << 40, uint64_t(5) << 40};
  ReduceRational(&wide);
  EXPECT_EQ(wide.numerator, 3u);
  EXPECT_EQ(wide.denominator, 5u);

  // Zero terms have no common divisor: nothing changes.
  Rational zeroTop{0, 5};
  ReduceRational(&zeroTop);
  ExpectRational(zeroTop, 0, 5);
  Rational zeroBottom{6, 0};
  ReduceRational(&zeroBottom);
  ExpectRational(zeroBottom, 6, 0);
}

TEST(RationalTest, FitHalvesBothTermsUntilBelowTheBound) {
  // 2^30 + 3 over 6 shares no factor; one halving gives 536870913/3,
  // which the second reduction takes to 178956971/1.
  WideRational r{1073741827, 6};
  FitRational(&r, 30);
  EXPECT_EQ(r.numerator, 178956971u);
  EXPECT_EQ(r.denominator, 1u);

  WideRational below{1073741823, 4};  // 2^30 - 1 is odd: nothing to do
  FitRational(&below, 30);
  EXPECT_EQ(below.numerator, 1073741823u);
  EXPECT_EQ(below.denominator, 4u);

  // A large denominator wipes out a small numerator.
  WideRational wiped{3, uint64_t(1) << 31};
  FitRational(&wiped, 30);
  EXPECT_EQ(wiped.numerator, 0u);
  EXPECT_EQ(wiped.denominator, uint64_t(1) << 29);
}

TEST(RationalTest, ScaleReducesAndFits) {
  ExpectRational(ScaleRational({2160000, 700}, {799, 1599}), 5752800, 3731);
  ExpectRational(ScaleRational({2160000, 700}, {599, 1199}), 12938400, 8393);
  // 1199700000000/13993 needs eleven halvings.
  ExpectRational(ScaleRational({300000000, 7}, {3999, 1999}), 585791015, 6);
  // Operands are reduced before the product: 4/6 × 9/12 = 2/3 × 3/4 = 1/2.
  ExpectRational(ScaleRational({4, 6}, {9, 12}), 1, 2);
  // The largest terms multiply without overflow; halving wipes out the
  // denominator, which the result shows as a zero term.
  Rational huge = ScaleRational({0xFFFFFFFF, 1}, {0xFFFFFFFF, 1});
  ExpectRational(huge, 0x3FFFFFFF, 0);
  EXPECT_TRUE(HasZeroTerm(huge));
}

}  // namespace
