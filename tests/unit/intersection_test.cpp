// SPDX-License-Identifier: MIT
// Corner points of offset paths for every transition type (line/line, line/arc in both orders,
// arc/arc), the crossing choices of a line with a circle and of two circles, the end-point
// shortcuts, the circle touching tolerance, the point-on-arc test and degenerate input.
#include "geometry/intersection.h"

#include "test_support.h"
#include "unit_builders.h"

namespace {

using cutcomp::test::Arc;
using cutcomp::test::ArcAt;
using cutcomp::test::IsFinitePoint;
using cutcomp::test::kPi;
using cutcomp::test::Line;
using cutcomp::test::Point;
using cutcomp::test::PointEq;
using cutcomp::test::PointNear;
using cutcomp::test::Polar;
using cutcomp::test::Unset;
using NodePtr = std::unique_ptr<crc::CCrcNode>;

constexpr double kTol = 1e-9;
constexpr crc::crc_dir_t kLeft = crc::CRC_DIR_LEFT;
constexpr crc::crc_dir_t kRight = crc::CRC_DIR_RIGHT;
const double kRoot2 = std::sqrt(2.0);
const double kRoot11 = std::sqrt(11.0);
// Marks an output point the computation must leave alone.
const Point kUntouched(777, -777);

NodePtr L(Point from, Point to, crc::crc_dir_t side) {
  return Line(from, to, crc::CRC_STATUS_DOING, side);
}
std::unique_ptr<crc::CCrcLine> Seg(Point from, Point to) { return Line(from, to); }

struct CornerCase {
  const char* name;
  std::function<NodePtr()> a;
  std::function<NodePtr()> b;
  crc::connect_t type;
  double radius;
  bool ok;
  Point p1;  // kUntouched: must stay as it was
  Point p2;
};

void PrintTo(const CornerCase& c, std::ostream* os) { *os << c.name; }

class CornerPoints : public ::testing::TestWithParam<CornerCase> {};

TEST_P(CornerPoints, MatchTheHandGeometry) {
  const CornerCase& c = GetParam();
  NodePtr a = c.a();
  NodePtr b = c.b();
  Point p1 = kUntouched;
  Point p2 = kUntouched;
  EXPECT_EQ(crc::CalculateIntersection(a.get(), b.get(), c.type, c.radius, p1, p2), c.ok);
  EXPECT_THAT(p1, PointNear(c.p1, kTol));
  EXPECT_THAT(p2, PointNear(c.p2, kTol));
  // Only copies are offset: the segments passed in keep their unset offset points.
  EXPECT_THAT(a->GetStartPointMoved(), PointEq(Unset()));
  EXPECT_THAT(b->GetEndPointMoved(), PointEq(Unset()));
}

// Line a runs east from (0,0) to the corner (10,0).
NodePtr East(crc::crc_dir_t side) { return L(Point(0, 0), Point(10, 0), side); }

// Arcs at the corner (10,0), radius 5: ending there heading east, or starting there heading
// north or north-west.
NodePtr ArcInEast(crc::crc_dir_t side) {
  return Arc(Point(10, -5), Point(5, -5), Point(10, 0), false, crc::CRC_STATUS_DOING, side);
}
NodePtr ArcOutNorth(crc::crc_dir_t side) {
  return Arc(Point(5, 0), Point(10, 0), Point(5, 5), true, crc::CRC_STATUS_DOING, side);
}
NodePtr ArcOutNorthWest(crc::crc_dir_t side) {
  return ArcAt(Point(10, 0) - Polar(kPi / 4, 5), 5, kPi / 4, kPi / 2, true, side);
}

INSTANTIATE_TEST_SUITE_P(
    LineLine, CornerPoints,
    ::testing::Values(
        CornerCase{"ExtendRightAngle", [] { return East(kRight); },
                   [] { return L(Point(10, 0), Point(10, 10), kRight); }, crc::CONNECT_EXTEND, 1,
                   true, Point(11, -1), kUntouched},
        // Turning 45 degrees: offset lines y = -1 and x - y = 10 + sqrt 2.
        CornerCase{"Extend45", [] { return East(kRight); },
                   [] { return L(Point(10, 0), Point(20, 10), kRight); }, crc::CONNECT_EXTEND, 1,
                   true, Point(9 + kRoot2, -1), kUntouched},
        CornerCase{"ShortenRightAngle", [] { return East(kLeft); },
                   [] { return L(Point(10, 0), Point(10, 10), kLeft); }, crc::CONNECT_SHORTEN, 1,
                   true, Point(9, 1), kUntouched},
        // A gap of 1 at the corner: the offset lines y = 1 and x = 10 themselves are crossed.
        CornerCase{"ShortenAcrossAGap", [] { return East(kLeft); },
                   [] { return L(Point(11, 0), Point(11, 10), kLeft); }, crc::CONNECT_SHORTEN, 1,
                   true, Point(10, 1), kUntouched},
        CornerCase{"ShortenZeroRadiusTouching", [] { return East(kLeft); },
                   [] { return L(Point(10, 0), Point(10, 10), kLeft); }, crc::CONNECT_SHORTEN, 0,
                   true, Point(10, 0), kUntouched},
        CornerCase{"ShortenZeroRadiusGap", [] { return East(kLeft); },
                   [] { return L(Point(11, 0), Point(11, 10), kLeft); }, crc::CONNECT_SHORTEN, 0,
                   false, kUntouched, kUntouched},
        // Parallel offset lines across a gap never cross.
        CornerCase{"ShortenParallelGap", [] { return East(kLeft); },
                   [] { return L(Point(11, 0), Point(20, 0), kLeft); }, crc::CONNECT_SHORTEN, 1,
                   false, kUntouched, kUntouched},
        CornerCase{"InsertObtuse", [] { return East(kRight); },
                   [] { return L(Point(10, 0), Point(0, 10), kRight); }, crc::CONNECT_INSERT, 1,
                   true, Point(11, -1), Point(10 + kRoot2, 0)},
        // Every type other than extend and shorten takes the bridge formula.
        CornerCase{"UnclassifiedIsBridged", [] { return East(kRight); },
                   [] { return L(Point(10, 0), Point(0, 10), kRight); }, crc::CONNECT_NONE, 1, true,
                   Point(11, -1), Point(10 + kRoot2, 0)},
        CornerCase{"TangentTouchesNothing", [] { return East(kLeft); },
                   [] { return L(Point(10, 0), Point(20, 0), kLeft); }, crc::CONNECT_TANGENT, 1,
                   true, kUntouched, kUntouched}),
    cutcomp::test::CaseName());

INSTANTIATE_TEST_SUITE_P(
    LineArc, CornerPoints,
    ::testing::Values(
        // Line east, then a clockwise arc about (13,-4) of radius 5 turning left: the tool on
        // the left is outside the arc (offset radius 6) and inside the corner. Offset circle
        // and y = 1 cross at x = 13 +- sqrt 11; the one before the circle's lowest point is
        // the corner.
        CornerCase{"LineArcShorten", [] { return East(kLeft); },
                   [] {
                     return Arc(Point(13, -4), Point(10, 0), Point(18, -4), false,
                                crc::CRC_STATUS_DOING, kLeft);
                   },
                   crc::CONNECT_SHORTEN, 1, true, Point(13 - kRoot11, 1), kUntouched},
        // Mirror image in time: a clockwise arc about (7,-4) ends at (10,0), then a line east.
        CornerCase{"ArcLineShorten",
                   [] {
                     return Arc(Point(7, -4), Point(2, -4), Point(10, 0), false,
                                crc::CRC_STATUS_DOING, kLeft);
                   },
                   [] { return L(Point(10, 0), Point(20, 0), kLeft); }, crc::CONNECT_SHORTEN, 1,
                   true, Point(7 + kRoot11, 1), kUntouched},
        // The offset line y = 1 stays above the inner offset circle (radius 4 about (10,-5)).
        CornerCase{"LineArcShortenMisses", [] { return East(kLeft); },
                   [] {
                     return Arc(Point(10, -5), Point(10, 0), Point(5, -5), true,
                                crc::CRC_STATUS_DOING, kLeft);
                   },
                   crc::CONNECT_SHORTEN, 1, false, kUntouched, kUntouched},
        CornerCase{"LineArcShortenZeroRadius", [] { return East(kLeft); },
                   [] {
                     return Arc(Point(13, -4), Point(10, 0), Point(18, -4), false,
                                crc::CRC_STATUS_DOING, kLeft);
                   },
                   crc::CONNECT_SHORTEN, 0, false, kUntouched, kUntouched},
        CornerCase{"LineArcExtend", [] { return East(kRight); }, [] { return ArcOutNorth(kRight); },
                   crc::CONNECT_EXTEND, 1, true, Point(11, -1), kUntouched},
        CornerCase{"LineArcInsert", [] { return East(kRight); },
                   [] { return ArcOutNorthWest(kRight); }, crc::CONNECT_INSERT, 1, true,
                   Point(11, -1), Point(10 + kRoot2, 0)},
        CornerCase{"ArcLineExtend", [] { return ArcInEast(kRight); },
                   [] { return L(Point(10, 0), Point(10, 10), kRight); }, crc::CONNECT_EXTEND, 1,
                   true, Point(11, -1), kUntouched},
        // With the arc first its tangent line carries the side, not the line after it.
        CornerCase{"ArcLineInsert", [] { return ArcInEast(kRight); },
                   [] { return L(Point(10, 0), Point(0, 10), kRight); }, crc::CONNECT_INSERT, 1,
                   true, Point(11, -1), Point(10 + kRoot2, 0)},
        CornerCase{"ArcFirstUsesTheArcsSide", [] { return ArcInEast(kLeft); },
                   [] { return L(Point(10, 0), Point(10, 10), kRight); }, crc::CONNECT_EXTEND, 1,
                   true, Point(9, 1), kUntouched},
        CornerCase{"LineArcUnclassifiedFails", [] { return East(kRight); },
                   [] { return ArcOutNorth(kRight); }, crc::CONNECT_NONE, 1, false, kUntouched,
                   kUntouched}),
    cutcomp::test::CaseName());

// Two arcs meeting at the origin, the first heading east, the second north: a clockwise arc
// about (0,-10) and a counterclockwise arc about (-10,0), both of radius 10. On the left the
// tool runs outside the first (offset radius 11) and inside the second (9); the offset
// circles cross where y = x + 2, at x = -6 +- 7 sqrt(2)/2.
const double kArcCornerX = -6 + 7 * kRoot2 / 2;
const double kArcCornerY = -4 + 7 * kRoot2 / 2;

NodePtr ArcToOriginCw(double sweep) {
  return ArcAt(Point(0, -10), 10, kPi / 2 + sweep, sweep, false, kLeft);
}

INSTANTIATE_TEST_SUITE_P(
    ArcArc, CornerPoints,
    ::testing::Values(
        CornerCase{"ShortenLeft", [] { return ArcToOriginCw(0.5); },
                   [] { return ArcAt(Point(-10, 0), 10, 0, 0.5, true, kLeft); },
                   crc::CONNECT_SHORTEN, 1, true, Point(kArcCornerX, kArcCornerY), kUntouched},
        // The first arc sweeps only 0.05 rad: the crossing (at 0.0956 rad) is not on it. The
        // chosen crossing is still reported.
        CornerCase{"ShortenCrossingOffTheArc", [] { return ArcToOriginCw(0.05); },
                   [] { return ArcAt(Point(-10, 0), 10, 0, 0.5, true, kLeft); },
                   crc::CONNECT_SHORTEN, 1, false, Point(kArcCornerX, kArcCornerY), kUntouched},
        // The programmed circles touch at the joint (a reversal): clockwise radius 5 about
        // (0,-5), then counterclockwise radius 10 about (0,-10). Offset radii 6 and 9 cross at
        // (+-4 sqrt 2, -3); the first offset arc's end tangent (east) picks the western one.
        CornerCase{"ShortenTouchingCircles",
                   [] { return ArcAt(Point(0, -5), 5, kPi, kPi / 2, false, kLeft); },
                   [] { return ArcAt(Point(0, -10), 10, kPi / 2, kPi / 2, true, kLeft); },
                   crc::CONNECT_SHORTEN, 1, true, Point(-4 * kRoot2, -3), kUntouched},
        CornerCase{"ShortenCirclesApart", [] { return ArcToOriginCw(0.5); },
                   [] { return ArcAt(Point(-30, 0), 1, 0, 0.5, true, kRight); },
                   crc::CONNECT_SHORTEN, 1, false, kUntouched, kUntouched},
        CornerCase{"Extend", [] { return ArcInEast(kRight); }, [] { return ArcOutNorth(kRight); },
                   crc::CONNECT_EXTEND, 1, true, Point(11, -1), kUntouched},
        CornerCase{"Insert", [] { return ArcInEast(kRight); },
                   [] { return ArcOutNorthWest(kRight); }, crc::CONNECT_INSERT, 1, true,
                   Point(11, -1), Point(10 + kRoot2, 0)},
        CornerCase{"Unclassified", [] { return ArcInEast(kRight); },
                   [] { return ArcOutNorth(kRight); }, crc::CONNECT_NONE, 1, false, kUntouched,
                   kUntouched}),
    cutcomp::test::CaseName());

TEST(CornerPoints, LineShorterThanEpsilonFailsForEveryRealCorner) {
  for (crc::connect_t type : {crc::CONNECT_EXTEND, crc::CONNECT_SHORTEN, crc::CONNECT_INSERT}) {
    auto shortA = L(Point(10, 0), Point(10 + 5e-7, 0), kLeft);
    auto b = L(Point(10 + 5e-7, 0), Point(10, 10), kLeft);
    Point p1 = kUntouched;
    Point p2 = kUntouched;
    EXPECT_FALSE(crc::CalculateIntersection(shortA.get(), b.get(), type, 1, p1, p2)) << type;
    EXPECT_FALSE(crc::CalculateIntersection(b.get(), shortA.get(), type, 1, p1, p2)) << type;
    EXPECT_THAT(p1, PointEq(kUntouched));
    EXPECT_THAT(p2, PointEq(kUntouched));
  }
  auto shortA = L(Point(10, 0), Point(10 + 5e-7, 0), kLeft);
  Point p1 = kUntouched;
  Point p2 = kUntouched;
  EXPECT_TRUE(
      crc::CalculateIntersection(shortA.get(), shortA.get(), crc::CONNECT_TANGENT, 1, p1, p2));
}

TEST(CornerPoints, SegmentsOfNoKindFailExceptAtATangentJoint) {
  auto a = East(kLeft);
  auto b = L(Point(10, 0), Point(10, 10), kLeft);
  b->SetNodeType(crc::NODE_NONE);
  Point p1 = kUntouched;
  Point p2 = kUntouched;
  EXPECT_FALSE(crc::CalculateIntersection(a.get(), b.get(), crc::CONNECT_EXTEND, 1, p1, p2));
  EXPECT_FALSE(crc::CalculateIntersection(b.get(), a.get(), crc::CONNECT_SHORTEN, 1, p1, p2));
  EXPECT_TRUE(crc::CalculateIntersection(a.get(), b.get(), crc::CONNECT_TANGENT, 1, p1, p2));
  EXPECT_THAT(p1, PointEq(kUntouched));
}

TEST(CornerPoints, ReversalOfTwoTouchingLinesNeverYieldsNonFinitePoints) {
  // The closed formula divides by 1 + cos(turn), which is 0 here.
  auto a = East(kLeft);
  auto b = L(Point(10, 0), Point(0, 0), kLeft);
  for (crc::connect_t type : {crc::CONNECT_EXTEND, crc::CONNECT_SHORTEN}) {
    Point p1 = kUntouched;
    Point p2 = kUntouched;
    const bool ok = crc::CalculateIntersection(a.get(), b.get(), type, 1, p1, p2);
    EXPECT_TRUE(IsFinitePoint(p1)) << type;
    if (!ok) {
      EXPECT_THAT(p1, PointEq(kUntouched));
    }
  }
}

// ---- Offset copies --------------------------------------------------------------------------

TEST(OffsetCopy, ArcCopyCarriesTheOffsetRadiusAndKeepsCentreAndAngles) {
  auto arc = Arc(Point(0, 0), Point(10, 0), Point(0, 10), true, crc::CRC_STATUS_DOING, kRight);
  std::unique_ptr<crc::CCrcArc> copy(crc::CreateOffsetArc(arc.get(), 2.0));
  ASSERT_NE(copy, nullptr);
  EXPECT_THAT(copy->GetStartPoint(), PointNear(Point(12, 0), kTol));
  EXPECT_THAT(copy->GetEndPoint(), PointNear(Point(0, 12), kTol));
  EXPECT_EQ(copy->GetRadius(), 12.0);
  EXPECT_THAT(copy->GetCenterPoint(), PointEq(Point(0, 0)));
  EXPECT_NEAR(copy->GetStartAngle(), 0.0, kTol);
  EXPECT_NEAR(copy->GetCentralAngle(), kPi / 2, kTol);
  EXPECT_TRUE(copy->GetDirection());
  EXPECT_EQ(arc->GetRadius(), 10.0);
  EXPECT_EQ(arc->GetRadiusMoved(), crc::INVALID_VALUE);

  // The cutter does not fit inside: no copy (and nothing leaks, checked by LSan).
  auto inside = Arc(Point(0, 0), Point(10, 0), Point(0, 10), true, crc::CRC_STATUS_DOING, kLeft);
  EXPECT_EQ(crc::CreateOffsetArc(inside.get(), 10.0), nullptr);
  EXPECT_EQ(crc::CreateOffsetArc(arc.get(), 0.0), nullptr);
  EXPECT_EQ(crc::CreateOffsetArc(L(Point(0, 0), Point(1, 0), kLeft).get(), 1.0), nullptr);
}

// ---- Infinite lines -------------------------------------------------------------------------

TEST(IntersectLines, CrossesTheInfiniteLinesAndRefusesParallelOnes) {
  Point out = kUntouched;
  auto horizontal = Seg(Point(0, 1), Point(12, 1));
  auto vertical = Seg(Point(10, -5), Point(10, -3));  // crossing beyond its end
  ASSERT_TRUE(crc::IntersectLines(horizontal.get(), vertical.get(), out));
  EXPECT_THAT(out, PointNear(Point(10, 1), kTol));

  out = kUntouched;
  auto parallel = Seg(Point(0, 5), Point(12, 5));
  EXPECT_FALSE(crc::IntersectLines(horizontal.get(), parallel.get(), out));
  EXPECT_FALSE(crc::IntersectLines(horizontal.get(), horizontal.get(), out));
  EXPECT_THAT(out, PointEq(kUntouched));
}

// ---- Line and circle ------------------------------------------------------------------------

struct CrossCase {
  const char* name;
  Point lineStart;
  Point lineEnd;
  bool arcFirst;
  bool found;
  Point expected;
};

void PrintTo(const CrossCase& c, std::ostream* os) { *os << c.name; }

class LineCircleCross : public ::testing::TestWithParam<CrossCase> {};

// Circle about (10,4) of radius 5 through the arc start (10,-1); arc end (15,4), away from the
// lines. The line y = 1 crosses it at (6,1) and (14,1); the foot from the centre is (10,1).
TEST_P(LineCircleCross, PicksTheCrossingOnTheSideOfTheCornerEnd) {
  const CrossCase& c = GetParam();
  Point out = kUntouched;
  Point* result = crc::GetLineCircleCrossPoint(c.lineStart, c.lineEnd, Point(10, -1), Point(15, 4),
                                               Point(10, 4), c.arcFirst, &out);
  if (!c.found) {
    EXPECT_EQ(result, nullptr);
    EXPECT_THAT(out, PointEq(kUntouched));
    return;
  }
  ASSERT_EQ(result, &out);
  EXPECT_THAT(out, PointNear(c.expected, kTol));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineCircleCross,
    ::testing::Values(
        // Line first: its end touches the corner.
        CrossCase{"EndBeyondFoot", Point(0, 1), Point(12, 1), false, true, Point(14, 1)},
        CrossCase{"EndBeforeFoot", Point(0, 1), Point(8, 1), false, true, Point(6, 1)},
        // Arc first: the line's start touches the corner.
        CrossCase{"StartBeforeFoot", Point(8, 1), Point(20, 1), true, true, Point(6, 1)},
        // The corner end sits at the foot: the crossing nearer the line's other end.
        CrossCase{"EndAtFoot", Point(0, 1), Point(10, 1), false, true, Point(6, 1)},
        CrossCase{"StartAtFoot", Point(10, 1), Point(20, 1), true, true, Point(14, 1)},
        // A line touching the circle at its lowest point.
        CrossCase{"Touching", Point(0, -1), Point(5, -1), false, true, Point(10, -1)},
        CrossCase{"Misses", Point(0, 10), Point(5, 10), false, false, Point()},
        // A zero-length line has no direction to cross with.
        CrossCase{"ZeroLength", Point(3, 1), Point(3, 1), false, false, Point()}),
    cutcomp::test::CaseName());

TEST(LineCircleCross, MeetingEndPointsAreReturnedWithoutSolving) {
  Point out = kUntouched;
  // The line ends within EPSILON of the arc start: that end point itself, even with the arc
  // first.
  const Point nearArcStart(10, -1 + 5e-7);
  for (bool arcFirst : {false, true}) {
    ASSERT_NE(crc::GetLineCircleCrossPoint(Point(0, 1), nearArcStart, Point(10, -1), Point(15, 4),
                                           Point(10, 4), arcFirst, &out),
              nullptr);
    EXPECT_EQ(out, nearArcStart);
  }
  // The arc ends within EPSILON of the line start: the arc end. Solving would give a point
  // 5e-7 away.
  const Point nearArcEnd(15, 4 + 5e-7);
  for (bool arcFirst : {false, true}) {
    ASSERT_NE(crc::GetLineCircleCrossPoint(nearArcEnd, Point(30, 4), Point(10, -1), Point(15, 4),
                                           Point(10, 4), arcFirst, &out),
              nullptr);
    EXPECT_EQ(out, Point(15, 4));
  }
  // Both apply: the line end wins.
  ASSERT_NE(crc::GetLineCircleCrossPoint(Point(15, 4), Point(10, -1), Point(10, -1), Point(15, 4),
                                         Point(10, 4), false, &out),
            nullptr);
  EXPECT_EQ(out, Point(10, -1));
}

TEST(SolveQuadratic, GivesThePlusRootFirstAndRefusesNoRealRoot) {
  double x1 = -99;
  double x2 = -99;
  ASSERT_TRUE(crc::SolveQuadratic(1, -3, 2, &x1, &x2));  // (x - 1)(x - 2)
  EXPECT_DOUBLE_EQ(x1, 2.0);
  EXPECT_DOUBLE_EQ(x2, 1.0);
  ASSERT_TRUE(crc::SolveQuadratic(-2, 0, 8, &x1, &x2));  // -2 (x - 2)(x + 2): a < 0
  EXPECT_DOUBLE_EQ(x1, -2.0);
  EXPECT_DOUBLE_EQ(x2, 2.0);
  ASSERT_TRUE(crc::SolveQuadratic(1, -2, 1, &x1, &x2));  // double root
  EXPECT_DOUBLE_EQ(x1, 1.0);
  EXPECT_DOUBLE_EQ(x2, 1.0);
  x1 = x2 = -99;
  EXPECT_FALSE(crc::SolveQuadratic(1, 0, 1, &x1, &x2));
  EXPECT_FALSE(crc::SolveQuadratic(0, 2, 1, &x1, &x2));
  EXPECT_FALSE(crc::SolveQuadratic(0, 0, 0, &x1, &x2));
  EXPECT_EQ(x1, -99);
  EXPECT_EQ(x2, -99);
}

TEST(ProjectionSign, DeadZoneIsOnTheDotProductNotOnADistance) {
  // (A - B) = (-1, 0).
  EXPECT_EQ(crc::GetProjectionSign(Point(0, 0), Point(1, 0), Point(0, 0), Point(5e-7, 0)), 0);
  EXPECT_EQ(crc::GetProjectionSign(Point(0, 0), Point(1, 0), Point(0, 0), Point(2e-6, 0)), 1);
  EXPECT_EQ(crc::GetProjectionSign(Point(0, 0), Point(1, 0), Point(0, 0), Point(-2e-6, 0)), -1);
  // Perpendicular: zero whatever the lengths.
  EXPECT_EQ(crc::GetProjectionSign(Point(0, 0), Point(100, 0), Point(0, 0), Point(0, 50)), 0);
  // A long line: a point 1e-8 from the foot still gives a dot product of 1e-5.
  EXPECT_EQ(crc::GetProjectionSign(Point(0, 0), Point(1000, 0), Point(0, 0), Point(1e-8, 0)), 1);
}

// ---- Two circles ----------------------------------------------------------------------------

struct CirclesCase {
  const char* name;
  Point c1;
  double r1;
  Point c2;
  double r2;
  int result;
  Point p1;  // kUntouched when not written
  Point p2;
};

void PrintTo(const CirclesCase& c, std::ostream* os) { *os << c.name; }

class CircleCrossing : public ::testing::TestWithParam<CirclesCase> {};

TEST_P(CircleCrossing, CountsAndPlacesTheCommonPoints) {
  const CirclesCase& c = GetParam();
  auto a = ArcAt(c.c1, c.r1, 0, 1, true);
  auto b = ArcAt(c.c2, c.r2, 0, 1, true);
  Point p1 = kUntouched;
  Point p2 = kUntouched;
  EXPECT_EQ(crc::IntersectCircles(a.get(), b.get(), p1, p2), c.result);
  EXPECT_THAT(p1, PointNear(c.p1, 1e-6));
  EXPECT_THAT(p2, PointNear(c.p2, 1e-6));
  EXPECT_TRUE(IsFinitePoint(p1) && IsFinitePoint(p2));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CircleCrossing,
    ::testing::Values(
        // p1 left of the directed line of centres, p2 right.
        CirclesCase{"Two", Point(0, 0), 5, Point(8, 0), 5, crc::INTERSECT_TWO, Point(4, 3),
                    Point(4, -3)},
        CirclesCase{"TwoReversedCentres", Point(8, 0), 5, Point(0, 0), 5, crc::INTERSECT_TWO,
                    Point(4, -3), Point(4, 3)},
        CirclesCase{"OutsideSlightlyApart", Point(0, 0), 1, Point(2.0001, 0), 1, crc::INTERSECT_ONE,
                    Point(1, 0), kUntouched},
        CirclesCase{"OutsideApart", Point(0, 0), 1, Point(2.00012, 0), 1, crc::INTERSECT_NONE,
                    kUntouched, kUntouched},
        CirclesCase{"OutsideSlightlyOverlapping", Point(0, 0), 1, Point(1.9999, 0), 1,
                    crc::INTERSECT_ONE, Point(1, 0), kUntouched},
        CirclesCase{"OutsideOverlapping", Point(0, 0), 1, Point(1.99988, 0), 1, crc::INTERSECT_TWO,
                    Point(0.99994, std::sqrt(1 - 0.99994 * 0.99994)),
                    Point(0.99994, -std::sqrt(1 - 0.99994 * 0.99994))},
        // Touching from inside: the touching point lies on the larger circle's far side.
        CirclesCase{"InsideSecondSmaller", Point(0, 0), 5, Point(2, 0), 3, crc::INTERSECT_ONE,
                    Point(5, 0), kUntouched},
        CirclesCase{"InsideFirstSmaller", Point(0, 0), 3, Point(2, 0), 5, crc::INTERSECT_ONE,
                    Point(-3, 0), kUntouched},
        CirclesCase{"InsideSlightlyIn", Point(0, 0), 5, Point(1.9999, 0), 3, crc::INTERSECT_ONE,
                    Point(5, 0), kUntouched},
        CirclesCase{"InsideIn", Point(0, 0), 5, Point(1.99988, 0), 3, crc::INTERSECT_NONE,
                    kUntouched, kUntouched},
        CirclesCase{"Concentric", Point(1, 1), 5, Point(1, 1), 3, crc::INTERSECT_NONE, kUntouched,
                    kUntouched},
        // Degenerate: the same circle, a radius that is not positive, nearly concentric
        // circles of nearly equal radii.
        CirclesCase{"SameCircle", Point(1, 1), 5, Point(1, 1), 5, crc::INTERSECT_INVALID,
                    kUntouched, kUntouched},
        CirclesCase{"ZeroRadius", Point(0, 0), 0, Point(1, 0), 1, crc::INTERSECT_INVALID,
                    kUntouched, kUntouched},
        CirclesCase{"NearlyConcentric", Point(0, 0), 5, Point(0.0001, 0), 5.00005,
                    crc::INTERSECT_INVALID, kUntouched, kUntouched},
        CirclesCase{"NearlyCoincident", Point(0, 0), 5, Point(5e-7, 0), 5 + 5e-7,
                    crc::INTERSECT_INVALID, kUntouched, kUntouched}),
    cutcomp::test::CaseName());

// ---- Point on arc ---------------------------------------------------------------------------

struct OnArcCase {
  const char* name;
  bool ccw;
  Point p;
  bool on;
};

void PrintTo(const OnArcCase& c, std::ostream* os) { *os << c.name; }

class PointOnArc : public ::testing::TestWithParam<OnArcCase> {};

// Quarter arc of radius 1 about the origin starting at angle 0: counterclockwise to (0,1),
// clockwise to (0,-1).
TEST_P(PointOnArc, NeedsTheRadiusAndTheSweep) {
  auto arc = ArcAt(Point(0, 0), 1, 0, kPi / 2, GetParam().ccw);
  EXPECT_EQ(crc::IsPointOnArc(GetParam().p, arc.get()), GetParam().on);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PointOnArc,
    ::testing::Values(OnArcCase{"End", true, Point(0, 1), true},
                      OnArcCase{"OutsideTheSweep", true, Point(0, -1), false},
                      // Radius tolerance.
                      OnArcCase{"SlightlyOutside", true, Polar(kPi / 4, 1 + 5e-7), true},
                      OnArcCase{"Outside", true, Polar(kPi / 4, 1 + 2e-6), false},
                      // Just before the start: the start-point shortcut accepts it although its
                      // sweep is almost a full turn.
                      OnArcCase{"JustBeforeStart", true, Polar(-4e-7), true},
                      OnArcCase{"BeforeStart", true, Polar(-3e-6), false},
                      OnArcCase{"JustBeyondEnd", true, Polar(kPi / 2 + 5e-7), true},
                      OnArcCase{"BeyondEnd", true, Polar(kPi / 2 + 3e-6), false},
                      OnArcCase{"ClockwiseEnd", false, Point(0, -1), true},
                      OnArcCase{"ClockwiseOtherQuarter", false, Point(0, 1), false}),
    cutcomp::test::CaseName());

// ---- Feet and directions --------------------------------------------------------------------

TEST(PerpendicularFoot, ProjectsOntoTheInfiniteLine) {
  Point foot = kUntouched;
  auto axis = Seg(Point(0, 0), Point(10, 0));
  crc::GetPerpendicularFoot(Point(3, 5), axis.get(), foot);
  EXPECT_THAT(foot, PointNear(Point(3, 0), kTol));
  crc::GetPerpendicularFoot(Point(-4, -2), axis.get(), foot);  // beyond the start
  EXPECT_THAT(foot, PointNear(Point(-4, 0), kTol));
  auto diagonal = Seg(Point(0, 0), Point(2, 2));
  crc::GetPerpendicularFoot(Point(0, 4), diagonal.get(), foot);
  EXPECT_THAT(foot, PointNear(Point(2, 2), kTol));
  // A zero-length line is a point: the foot is that point, never a NaN.
  auto dot = Seg(Point(1, 1), Point(1, 1));
  crc::GetPerpendicularFoot(Point(5, 5), dot.get(), foot);
  EXPECT_THAT(foot, PointEq(Point(1, 1)));
}

TEST(DirectionToLine, IsTheUnitVectorTowardsTheFootOrZeroOnTheLine) {
  auto axis = Seg(Point(0, 0), Point(10, 0));
  EXPECT_THAT(crc::GetDirectionToLine(Point(3, 5), axis.get()), PointNear(Point(0, -1), kTol));
  EXPECT_THAT(crc::GetDirectionToLine(Point(30, -0.5), axis.get()), PointNear(Point(0, 1), kTol));
  EXPECT_THAT(crc::GetDirectionToLine(Point(7, 0), axis.get()), PointEq(Point(0, 0)));
  auto diagonal = Seg(Point(0, 0), Point(2, 2));
  EXPECT_THAT(crc::GetDirectionToLine(Point(0, 4), diagonal.get()),
              PointNear(Point(1 / kRoot2, -1 / kRoot2), kTol));
}

}  // namespace
