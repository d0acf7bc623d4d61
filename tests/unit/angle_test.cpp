// SPDX-License-Identifier: MIT
// Angle folding into [0, 2 pi], sweeps in either turning sense, polar angles with the y
// tolerance, the cross product, and bounded work on huge and non-finite angles.
#include "geometry/angle.h"

#include <limits>

#include "test_support.h"
#include "unit_builders.h"

namespace {

using cutcomp::test::kPi;
using cutcomp::test::Point;

constexpr double kTurn = 2.0 * kPi;
constexpr double kInf = std::numeric_limits<double>::infinity();

double Folded(double angle) {
  crc::NormalizeAngle(angle);
  return angle;
}

struct FoldCase {
  double input;
  double expected;
};

void PrintTo(const FoldCase& c, std::ostream* os) { *os << c.input; }

class AngleFold : public ::testing::TestWithParam<FoldCase> {};

TEST_P(AngleFold, FoldsIntoOneClosedTurn) {
  EXPECT_NEAR(Folded(GetParam().input), GetParam().expected, 1e-12) << GetParam().input;
}

INSTANTIATE_TEST_SUITE_P(Cases, AngleFold,
                         ::testing::Values(FoldCase{-kPi / 2, 3 * kPi / 2}, FoldCase{5 * kPi, kPi},
                                           FoldCase{kPi / 3, kPi / 3},
                                           FoldCase{-kTurn - 1.0, kTurn - 1.0}));

TEST(AngleFold, BothEndsOfTheTurnBelongToTheRange) {
  // 2 pi is not folded to 0, and 0 is not raised to 2 pi.
  EXPECT_EQ(Folded(kTurn), kTurn);
  EXPECT_EQ(Folded(0.0), 0.0);
  EXPECT_EQ(Folded(crc::PI + crc::PI), crc::PI + crc::PI);
}

TEST(AngleFold, HugeAnglesTerminateOnTheSamePointOfTheCircle) {
  for (double angle : {1024.5 * kTurn, -5000.25 * kTurn, 1e9, -3.7e12, 1e300, -1e300}) {
    const double folded = Folded(angle);
    ASSERT_TRUE(folded >= 0.0 && folded <= kTurn) << angle << " -> " << folded;
    // Same direction on the circle as the original angle, within the rounding of the
    // reduction (it grows with the magnitude).
    if (std::fabs(angle) < 2e9) {
      EXPECT_NEAR(std::cos(folded), std::cos(angle), 1e-6) << angle;
      EXPECT_NEAR(std::sin(folded), std::sin(angle), 1e-6) << angle;
    }
  }
}

TEST(AngleFold, NonFiniteAnglesTerminate) {
  EXPECT_TRUE(std::isnan(Folded(std::nan(""))));
  // An infinite angle has no place on the circle; it becomes NaN rather than looping.
  EXPECT_TRUE(std::isnan(Folded(kInf)));
  EXPECT_TRUE(std::isnan(Folded(-kInf)));
}

struct SweepCase {
  double from;
  double to;
  bool ccw;
  double expected;
};

void PrintTo(const SweepCase& c, std::ostream* os) {
  *os << c.from << (c.ccw ? " ccw " : " cw ") << c.to;
}

class AngleSweep : public ::testing::TestWithParam<SweepCase> {};

TEST_P(AngleSweep, MeasuresTheTurnInTheGivenSense) {
  const SweepCase& c = GetParam();
  EXPECT_NEAR(crc::GetSweepAngle(c.from, c.to, c.ccw), c.expected, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Cases, AngleSweep,
                         ::testing::Values(SweepCase{0, kPi / 2, true, kPi / 2},
                                           SweepCase{0, kPi / 2, false, 3 * kPi / 2},
                                           // Across the zero direction.
                                           SweepCase{3 * kPi / 2, kPi / 4, true, 3 * kPi / 4},
                                           SweepCase{kPi / 4, 7 * kPi / 4, false, kPi / 2},
                                           // Equal angles sweep nothing, in either sense.
                                           SweepCase{1.25, 1.25, true, 0.0},
                                           SweepCase{1.25, 1.25, false, 0.0},
                                           // A difference of a whole turn stays a whole turn.
                                           SweepCase{0, kTurn, true, kTurn}));

struct PolarCase {
  Point v;
  double expected;
};

void PrintTo(const PolarCase& c, std::ostream* os) { *os << "(" << c.v.x << ", " << c.v.y << ")"; }

class AngleOfVector : public ::testing::TestWithParam<PolarCase> {};

TEST_P(AngleOfVector, IsThePolarAngleInOneHalfOpenTurn) {
  // acos near +-1 amplifies rounding, hence 1e-9 rather than a few ulps.
  EXPECT_NEAR(crc::GetVectorAngle(GetParam().v), GetParam().expected, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AngleOfVector,
    ::testing::Values(PolarCase{Point(1, 0), 0.0}, PolarCase{Point(0, 1), kPi / 2},
                      PolarCase{Point(-1, 0), kPi}, PolarCase{Point(-3, -3), 5 * kPi / 4},
                      // y within EPSILON of zero counts as the upper half, whatever the length.
                      PolarCase{Point(1, -5e-7), 5e-7}, PolarCase{Point(-1, -5e-7), kPi - 5e-7},
                      // Just outside the tolerance: the lower half.
                      PolarCase{Point(1, -2e-6), kTurn - 2e-6},
                      // No direction.
                      PolarCase{Point(0, 0), 0.0}, PolarCase{Point(5e-7, 5e-7), 0.0}));

}  // namespace
