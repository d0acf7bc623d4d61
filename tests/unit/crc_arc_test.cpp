// SPDX-License-Identifier: MIT
// The arc segment: both constructors, angle bookkeeping and setters, end tangents, the
// offset-radius table on both sides and turning senses, refusals and non-finite input.
#include <crc/nodes/crc_arc.h>

#include <limits>

#include "test_support.h"
#include "unit_builders.h"

namespace {

using cutcomp::test::Arc;
using cutcomp::test::ArcAt;
using cutcomp::test::kPi;
using cutcomp::test::Point;
using cutcomp::test::PointEq;
using cutcomp::test::PointNear;

constexpr double kTol = 1e-12;

// Quarter circle of radius 10 about the origin from (10,0) to (0,10).
std::unique_ptr<crc::CCrcArc> Quarter(bool ccw, crc::crc_dir_t side = crc::CRC_DIR_LEFT) {
  return Arc(Point(0, 0), Point(10, 0), Point(0, 10), ccw, crc::CRC_STATUS_DOING, side);
}

TEST(CrcArcFromPoints, CounterclockwiseQuarterHasItsAnglesLengthAndTangents) {
  auto arc = Quarter(true);
  EXPECT_EQ(arc->GetNodeType(), crc::NODE_ARC);
  EXPECT_NEAR(arc->GetStartAngle(), 0.0, kTol);
  EXPECT_NEAR(arc->GetEndAngle(), kPi / 2, kTol);
  EXPECT_NEAR(arc->GetCentralAngle(), kPi / 2, kTol);
  EXPECT_NEAR(arc->GetLength(), 5 * kPi, 1e-11);
  EXPECT_THAT(arc->GetStartTangent(), PointNear(Point(0, 1), kTol));
  EXPECT_THAT(arc->GetEndTangent(), PointNear(Point(-1, 0), kTol));
  EXPECT_EQ(arc->GetRadiusMoved(), crc::INVALID_VALUE);
}

TEST(CrcArcFromPoints, ClockwiseBetweenTheSamePointsTakesTheLongWay) {
  auto arc = Quarter(false);
  EXPECT_NEAR(arc->GetCentralAngle(), 3 * kPi / 2, kTol);
  EXPECT_NEAR(arc->GetLength(), 15 * kPi, 1e-11);
  EXPECT_THAT(arc->GetStartTangent(), PointNear(Point(0, -1), kTol));
  EXPECT_THAT(arc->GetEndTangent(), PointNear(Point(1, 0), kTol));
}

TEST(CrcArcFromPoints, CoincidingEndsGiveAZeroArcNotAFullCircle) {
  auto arc = Arc(Point(0, 0), Point(0, -4), Point(0, -4), true);
  EXPECT_EQ(arc->GetCentralAngle(), 0.0);
  EXPECT_EQ(arc->GetLength(), 0.0);
}

TEST(CrcArcFromAngles, PlacesStartAndEndOnTheCircle) {
  // Centre (1,1), start angle pi, a quarter turn clockwise, radius 2.
  auto arc =
      ArcAt(Point(1, 1), 2.0, kPi, kPi / 2, false, crc::CRC_DIR_RIGHT, crc::CRC_STATUS_RETRACT);
  EXPECT_THAT(arc->GetStartPoint(), PointNear(Point(-1, 1), kTol));
  EXPECT_NEAR(arc->GetEndAngle(), kPi / 2, kTol);
  EXPECT_THAT(arc->GetEndPoint(), PointNear(Point(1, 3), kTol));
  EXPECT_NEAR(arc->GetCentralAngle(), kPi / 2, kTol);
}

TEST(CrcArcFromAngles, FullTurnEndsWhereItStarts) {
  auto arc = ArcAt(Point(2, 3), 4.0, kPi / 3, 2 * kPi, true);
  EXPECT_NEAR(arc->GetLength(), 8 * kPi, 1e-11);
  EXPECT_THAT(arc->GetEndPoint(), PointNear(arc->GetStartPoint(), 1e-12));
}

struct ArcOffsetCase {
  const char* name;
  bool ccw;
  crc::crc_dir_t side;
  double cutter;
  double movedRadius;
};

void PrintTo(const ArcOffsetCase& c, std::ostream* os) { *os << c.name; }

class CrcArcOffset : public ::testing::TestWithParam<ArcOffsetCase> {};

// The quarter arc about the origin with radius 10: a tool inside shrinks the radius, outside
// grows it, and the offset ends lie on the rays through the programmed ends.
TEST_P(CrcArcOffset, ConcentricArcOnTheToolSide) {
  const ArcOffsetCase& c = GetParam();
  auto arc = Quarter(c.ccw, c.side);
  EXPECT_TRUE(arc->CheckCanBeCrcMove(c.cutter));
  ASSERT_TRUE(arc->CrcMove(c.cutter));
  EXPECT_NEAR(arc->GetRadiusMoved(), c.movedRadius, kTol);
  EXPECT_THAT(arc->GetStartPointMoved(), PointNear(Point(c.movedRadius, 0), kTol));
  EXPECT_THAT(arc->GetEndPointMoved(), PointNear(Point(0, c.movedRadius), kTol));
  // Programmed geometry untouched.
  EXPECT_EQ(arc->GetRadius(), 10.0);
  EXPECT_THAT(arc->GetStartPoint(), PointEq(Point(10, 0)));
}

INSTANTIATE_TEST_SUITE_P(
    SidesAndSenses, CrcArcOffset,
    ::testing::Values(ArcOffsetCase{"CcwLeftInside", true, crc::CRC_DIR_LEFT, 2, 8},
                      ArcOffsetCase{"CcwRightOutside", true, crc::CRC_DIR_RIGHT, 2, 12},
                      ArcOffsetCase{"CwLeftOutside", false, crc::CRC_DIR_LEFT, 2, 12},
                      // A negative cutter radius swaps inside and outside.
                      ArcOffsetCase{"CcwLeftNegative", true, crc::CRC_DIR_LEFT, -2, 12},
                      // Just more than EPSILON left inside.
                      ArcOffsetCase{"CcwLeftNearlyClosed", true, crc::CRC_DIR_LEFT, 10 - 2e-6,
                                    2e-6}),
    cutcomp::test::CaseName());

struct ArcRefusalCase {
  const char* name;
  bool ccw;
  crc::crc_dir_t side;
  double cutter;
};

void PrintTo(const ArcRefusalCase& c, std::ostream* os) { *os << c.name; }

class CrcArcRefusal : public ::testing::TestWithParam<ArcRefusalCase> {};

TEST_P(CrcArcRefusal, CannotBeOffsetAndLeavesTheOffsetPointsAlone) {
  const ArcRefusalCase& c = GetParam();
  auto arc = Quarter(c.ccw, c.side);
  arc->SetStartPointMoved(Point(-7, -7));
  arc->SetEndPointMoved(Point(-8, -8));
  EXPECT_FALSE(arc->CheckCanBeCrcMove(c.cutter));
  EXPECT_FALSE(arc->CrcMove(c.cutter));
  EXPECT_THAT(arc->GetStartPointMoved(), PointEq(Point(-7, -7)));
  EXPECT_THAT(arc->GetEndPointMoved(), PointEq(Point(-8, -8)));
}

INSTANTIATE_TEST_SUITE_P(Cases, CrcArcRefusal,
                         ::testing::Values(
                             // The cutter fills the arc exactly, or does not fit at all.
                             ArcRefusalCase{"CcwLeftEqual", true, crc::CRC_DIR_LEFT, 10},
                             // Less than EPSILON left inside counts as nothing left.
                             ArcRefusalCase{"CcwLeftWithinEpsilon", true, crc::CRC_DIR_LEFT,
                                            10 - 5e-7},
                             // A cutter radius within EPSILON of zero is no offset.
                             ArcRefusalCase{"TinyRadius", true, crc::CRC_DIR_RIGHT, 5e-7},
                             // Without a side there is no offset radius.
                             ArcRefusalCase{"NoSide", true, crc::CRC_DIR_NONE, 2}),
                         cutcomp::test::CaseName());

TEST(CrcArc, RefusedOffsetRadiusReadsZeroExceptForAZeroCutter) {
  auto inside = Quarter(true, crc::CRC_DIR_LEFT);
  EXPECT_FALSE(inside->CrcMove(10.0));
  EXPECT_EQ(inside->GetRadiusMoved(), 0.0);

  auto sideless = Quarter(true, crc::CRC_DIR_NONE);
  EXPECT_FALSE(sideless->CrcMove(2.0));
  EXPECT_EQ(sideless->GetRadiusMoved(), 0.0);

  // A zero cutter radius writes nothing at all.
  auto zero = Quarter(true, crc::CRC_DIR_RIGHT);
  ASSERT_TRUE(zero->CrcMove(2.0));
  EXPECT_FALSE(zero->CrcMove(5e-7));
  EXPECT_EQ(zero->GetRadiusMoved(), 12.0);
}

TEST(CrcArc, OffsetEndsFollowThePointsNotTheStoredAngles) {
  auto arc = Quarter(true, crc::CRC_DIR_RIGHT);
  arc->SetStartAngle(kPi / 4);  // the start point stays at (10, 0)
  ASSERT_TRUE(arc->CrcMove(2.0));
  EXPECT_THAT(arc->GetStartPointMoved(), PointNear(Point(12, 0), kTol));
  // Programmed radius and point distance may differ: the offset point lies on the ray.
  crc::CCrcArc loose(Point(0, 0), Point(0, -20), Point(20, 0), 10.0, true, crc::CRC_STATUS_DOING,
                     crc::CRC_DIR_RIGHT);
  ASSERT_TRUE(loose.CrcMove(1.0));
  EXPECT_THAT(loose.GetStartPointMoved(), PointNear(Point(0, -11), kTol));
  EXPECT_THAT(loose.GetEndPointMoved(), PointNear(Point(11, 0), kTol));
}

TEST(CrcArc, TangentsFollowTheStoredAnglesNotThePoints) {
  auto arc = Quarter(true);
  arc->SetStartAngle(kPi);
  arc->SetEndAngle(3 * kPi / 2);
  // Counterclockwise at polar angle a the tangent is (-sin a, cos a).
  EXPECT_THAT(arc->GetStartTangent(), PointNear(Point(0, -1), kTol));
  EXPECT_THAT(arc->GetEndTangent(), PointNear(Point(1, 0), kTol));
  arc->SetDirect(false);
  // Clockwise it is (sin a, -cos a).
  EXPECT_THAT(arc->GetStartTangent(), PointNear(Point(0, 1), kTol));
  EXPECT_THAT(arc->GetEndTangent(), PointNear(Point(-1, 0), kTol));
}

TEST(CrcArc, AngleSettersRecomputeTheCentralAngleOnly) {
  auto arc = Quarter(true);
  arc->SetStartAngle(-kPi / 2);
  EXPECT_NEAR(arc->GetCentralAngle(), kPi, kTol);
  EXPECT_THAT(arc->GetStartPoint(), PointEq(Point(10, 0)));

  arc->SetEndAngle(0.0);
  EXPECT_NEAR(arc->GetCentralAngle(), kPi / 2, kTol);
  EXPECT_THAT(arc->GetEndPoint(), PointEq(Point(0, 10)));

  // Clockwise the sweep is measured the other way round.
  auto cw = Quarter(false);
  cw->SetStartAngle(kPi);
  EXPECT_NEAR(cw->GetCentralAngle(), kPi / 2, kTol);
  cw->SetEndAngle(0.0);
  EXPECT_NEAR(cw->GetCentralAngle(), kPi, kTol);

  // Setting the turning sense recomputes nothing.
  auto flipped = Quarter(true);
  flipped->SetDirect(false);
  EXPECT_NEAR(flipped->GetCentralAngle(), kPi / 2, kTol);
}

TEST(CrcArc, SettersRefuseUnusableRadiusAndHalfUnsetCentre) {
  auto arc = Quarter(true);
  for (double bad : {-1.0, 5e-7, crc::INVALID_VALUE}) {
    EXPECT_FALSE(arc->SetRadius(bad)) << bad;
    EXPECT_EQ(arc->GetRadius(), 10.0);
  }
  EXPECT_TRUE(arc->SetRadius(2e-6));
  EXPECT_EQ(arc->GetRadius(), 2e-6);
  EXPECT_TRUE(arc->SetRadius(7.0));
  EXPECT_THAT(arc->GetStartPoint(), PointEq(Point(10, 0)));  // nothing recomputed

  EXPECT_FALSE(arc->SetCenterPoint(Point(crc::INVALID_VALUE, 1)));
  EXPECT_THAT(arc->GetCenterPoint(), PointEq(Point(0, 0)));
  EXPECT_TRUE(arc->SetCenterPoint(Point(1, crc::INVALID_VALUE)));
  EXPECT_TRUE(arc->SetCenterPoint(Point(3, 4)));
  EXPECT_THAT(arc->GetCenterPoint(), PointEq(Point(3, 4)));
  EXPECT_THAT(arc->GetStartPoint(), PointEq(Point(10, 0)));
}

TEST(CrcArc, NonFiniteInputsReturnFromConstructorsAndOffsetting) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::nan("");
  // Angles: an infinite or NaN angle must not make the end-angle fold loop.
  for (double angle : {inf, nan}) {
    crc::CCrcArc bySweep(Point(0, 0), 0.0, angle, 1.0, true, crc::CRC_STATUS_DOING,
                         crc::CRC_DIR_LEFT);
    const double end = bySweep.GetEndAngle();
    EXPECT_TRUE(std::isnan(end) || (end >= 0.0 && end <= 2 * kPi)) << angle;
    crc::CCrcArc byStart(Point(0, 0), angle, 1.0, 1.0, false, crc::CRC_STATUS_DOING,
                         crc::CRC_DIR_LEFT);
    EXPECT_EQ(byStart.GetRadius(), 1.0);
  }
  // Points: non-finite coordinates give non-finite or folded angles, never a hang.
  for (const Point& p : {Point(inf, 0), Point(nan, nan)}) {
    crc::CCrcArc arc(Point(0, 0), p, Point(0, 1), 1.0, true, crc::CRC_STATUS_DOING,
                     crc::CRC_DIR_RIGHT);
    const double central = arc.GetCentralAngle();
    EXPECT_TRUE(std::isnan(central) || (central >= 0.0 && central <= 2 * kPi));
    arc.CrcMove(1.0);
    arc.GetStartTangent();
  }
  // Cutter radius.
  for (double cutter : {inf, nan}) {
    auto arc = Quarter(true, crc::CRC_DIR_RIGHT);
    arc->CheckCanBeCrcMove(cutter);
    arc->CrcMove(cutter);
    EXPECT_THAT(arc->GetStartPoint(), PointEq(Point(10, 0)));
    EXPECT_EQ(arc->GetRadius(), 10.0);
  }
}

}  // namespace
