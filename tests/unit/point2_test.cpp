// SPDX-License-Identifier: MIT
// The plane point/vector value: exact equality, arithmetic, indexing, length and the unit
// normalisation that leaves direction-less vectors alone.
#include "test_support.h"
#include "unit_builders.h"

namespace {

using cutcomp::test::Point;
using cutcomp::test::PointEq;
using cutcomp::test::Unset;

TEST(Point2, EqualityIsExactWithoutTolerance) {
  EXPECT_FALSE(Point(1, 2) == Point(1, 2 + 1e-12));
  EXPECT_TRUE(Point(1, 2) != Point(1, 2 + 1e-12));
  EXPECT_TRUE(Point(1, 2) == Point(1, 2));
}

struct UnifyCase {
  const char* name;
  Point input;
  Point expected;
};

void PrintTo(const UnifyCase& c, std::ostream* os) { *os << c.name; }

class Point2Unify : public ::testing::TestWithParam<UnifyCase> {};

TEST_P(Point2Unify, BringsToUnitLengthOrLeavesShortVectorsUnchanged) {
  Point p = GetParam().input;
  p.Unify();
  EXPECT_THAT(p, cutcomp::test::PointNear(GetParam().expected, 1e-15));
}

INSTANTIATE_TEST_SUITE_P(Cases, Point2Unify,
                         ::testing::Values(UnifyCase{"ThreeFour", Point(3, 4), Point(0.6, 0.8)},
                                           UnifyCase{"Zero", Point(0, 0), Point(0, 0)},
                                           // Shorter than EPSILON: no direction, left as it is.
                                           UnifyCase{"BelowEpsilon", Point(5e-7, 0),
                                                     Point(5e-7, 0)},
                                           // Just above EPSILON: a real direction.
                                           UnifyCase{"AboveEpsilon", Point(0, -2e-6), Point(0, -1)},
                                           UnifyCase{"Unset", Unset(), Unset()}),
                         cutcomp::test::CaseName());

TEST(Point2, UnifyOfNonFiniteVectorsReturns) {
  // No direction can be made of these; the only requirement is that nothing traps or loops.
  Point nan(std::nan(""), 1.0);
  nan.Unify();
  EXPECT_TRUE(std::isnan(nan.x));
  Point inf(HUGE_VAL, 0.0);
  inf.Unify();
  EXPECT_FALSE(cutcomp::test::IsFinitePoint(inf));
}

}  // namespace
