// SPDX-License-Identifier: MIT
// Absolute-tolerance comparisons: strict equality, inclusive less/greater boundaries, the
// integer overload, NaN, the exact sentinel test and the point refusal rule.
#include "geometry/tolerance.h"

#include <limits>

#include "test_support.h"

namespace {

using cutcomp::test::Point;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct ComparisonCase {
  double a;
  double b;
  double eps;
  bool less;
  bool equal;
  bool greater;
};

void PrintTo(const ComparisonCase& c, std::ostream* os) {
  *os << c.a << " vs " << c.b << " within " << c.eps;
}

class ToleranceComparison : public ::testing::TestWithParam<ComparisonCase> {};

TEST_P(ToleranceComparison, ClassifiesAgainstTheBoundary) {
  const ComparisonCase& c = GetParam();
  EXPECT_EQ(crc::IsLess(c.a, c.b, c.eps), c.less);
  EXPECT_EQ(crc::IsEqual(c.a, c.b, c.eps), c.equal);
  EXPECT_EQ(crc::IsGreater(c.a, c.b, c.eps), c.greater);
  EXPECT_EQ(crc::IsLessOrEqual(c.a, c.b, c.eps), c.less || c.equal);
  EXPECT_EQ(crc::IsGreaterOrEqual(c.a, c.b, c.eps), c.greater || c.equal);
}

// Binary-exact values so the boundaries are hit exactly.
INSTANTIATE_TEST_SUITE_P(
    Boundaries, ToleranceComparison,
    ::testing::Values(
        // Exactly eps apart: not equal (strict), but less resp. greater (inclusive).
        ComparisonCase{0.0, 0.5, 0.5, true, false, false},
        ComparisonCase{0.5, 0.0, 0.5, false, false, true},
        // Just inside the tolerance: equal only.
        ComparisonCase{0.25, 0.5, 0.5, false, true, false},
        ComparisonCase{0.75, 0.5, 0.5, false, true, false},
        // The default tolerance around zero: 5e-7 is zero, 2e-6 is not.
        ComparisonCase{5e-7, 0.0, crc::EPSILON, false, true, false},
        ComparisonCase{2e-6, 0.0, crc::EPSILON, false, false, true},
        ComparisonCase{-2e-6, 0.0, crc::EPSILON, true, false, false},
        // A NaN operand is none of the three.
        ComparisonCase{kNaN, 0.0, crc::EPSILON, false, false, false},
        ComparisonCase{0.0, kNaN, crc::EPSILON, false, false, false}));

TEST(Tolerance, NonNegativeAndNegativeMeetAtMinusEpsilon) {
  // v counts as non-negative while v > -eps and as negative from v <= -eps on; the corner
  // classification relies on -1e-6 itself being negative.
  EXPECT_TRUE(crc::IsLess(-crc::EPSILON, 0, crc::EPSILON));
  EXPECT_FALSE(crc::IsGreaterOrEqual(-crc::EPSILON, 0, crc::EPSILON));
  EXPECT_TRUE(crc::IsGreaterOrEqual(-0.99e-6, 0, crc::EPSILON));
}

TEST(Tolerance, IntegerOverloadComparesWithTheConvertedInteger) {
  const int zero = 0;
  const int one = 1;
  EXPECT_TRUE(crc::IsEqual(5e-7, zero, crc::EPSILON));
  // The cosine test of the smooth-joint rule: |dot - 1| < 0.0019.
  EXPECT_TRUE(crc::IsEqual(1.0 - 0.0018, one, 0.0019));
  EXPECT_FALSE(crc::IsEqual(1.0 - 0.002, one, 0.0019));
  EXPECT_FALSE(crc::IsEqual(0.5, one, 0.5));  // strict at the boundary
}

TEST(Tolerance, SentinelIsRecognisedOnlyByExactEquality) {
  EXPECT_TRUE(crc::IsInvalidValue(1.2345678987654321e-123));
  EXPECT_FALSE(crc::IsInvalidValue(0.0));
  EXPECT_FALSE(crc::IsInvalidValue(1.2345678987654322e-123));
  EXPECT_FALSE(crc::IsInvalidValue(std::nextafter(crc::INVALID_VALUE, 1.0)));
  EXPECT_FALSE(crc::IsInvalidValue(kNaN));
  // Every tolerance test takes the sentinel for zero: that is why it is never tested that way.
  EXPECT_TRUE(crc::IsEqual(crc::INVALID_VALUE, 0, crc::EPSILON));
}

}  // namespace
