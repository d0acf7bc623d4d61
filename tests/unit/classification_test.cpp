// SPDX-License-Identifier: MIT
// Corner classification: the smooth-joint threshold, the right-angle boundary, turn direction
// tolerance, the reversal table on both sides, degenerate tangents, and the host's corner
// query with a negative radius.
#include "test_support.h"
#include "unit_builders.h"

namespace {

using cutcomp::test::Arc;
using cutcomp::test::ArcAt;
using cutcomp::test::kPi;
using cutcomp::test::Line;
using cutcomp::test::OpenCompensator;
using cutcomp::test::Point;
using cutcomp::test::PointEq;
using cutcomp::test::PointNear;
using cutcomp::test::Unset;
using NodePtr = std::unique_ptr<crc::CCrcNode>;

constexpr crc::crc_dir_t kLeft = crc::CRC_DIR_LEFT;
constexpr crc::crc_dir_t kRight = crc::CRC_DIR_RIGHT;
constexpr crc::connect_t kExtend = crc::CONNECT_EXTEND;
constexpr crc::connect_t kShorten = crc::CONNECT_SHORTEN;
constexpr crc::connect_t kInsert = crc::CONNECT_INSERT;
constexpr crc::connect_t kTangent = crc::CONNECT_TANGENT;

// The unit vector whose dot product with (1,0) is `dot`, turning left (up) or right (down).
Point WithCosine(double dot, bool left) {
  const double sine = std::sqrt(1 - dot * dot);
  return Point(dot, left ? sine : -sine);
}

struct RawCase {
  const char* name;
  Point second;  // the first tangent is (1,0)
  crc::connect_t left;
  crc::connect_t right;
};

void PrintTo(const RawCase& c, std::ostream* os) { *os << c.name; }

class RawClassification : public ::testing::TestWithParam<RawCase> {};

TEST_P(RawClassification, DependsOnTurnSideAndAngle) {
  OpenCompensator engine(1.0, nullptr);
  const RawCase& c = GetParam();
  EXPECT_EQ(engine.GetConnectRawType(Point(1, 0), c.second, kLeft), c.left);
  EXPECT_EQ(engine.GetConnectRawType(Point(1, 0), c.second, kRight), c.right);
  // Any side other than left is taken as right.
  EXPECT_EQ(engine.GetConnectRawType(Point(1, 0), c.second, crc::CRC_DIR_NONE), c.right);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RawClassification,
    ::testing::Values(
        RawCase{"Straight", Point(1, 0), kTangent, kTangent},
        // The smooth-joint threshold is 0.0019 on the cosine, either way round.
        RawCase{"JustSmoothLeft", WithCosine(1 - 0.00189, true), kTangent, kTangent},
        RawCase{"JustCornerLeft", WithCosine(1 - 0.00191, true), kShorten, kExtend},
        // Right angles: dot exactly 0 is still "at most a right angle".
        RawCase{"LeftRightAngle", Point(0, 1), kShorten, kExtend},
        // The switch to insert happens once dot reaches -1e-6.
        RawCase{"JustUnderRightAngle", WithCosine(-0.99e-6, true), kShorten, kExtend},
        RawCase{"AtMinusEpsilon", WithCosine(-1e-6, true), kShorten, kInsert},
        RawCase{"JustOverRightAngle", WithCosine(-2e-6, false), kInsert, kShorten},
        // A collinear reversal counts as a left turn; a cross product of -2e-6 does not.
        RawCase{"Reversal", Point(-1, 0), kShorten, kInsert},
        RawCase{"ReversalCrossOutsideTolerance", Point(-1, -2e-6), kInsert, kShorten},
        // No direction at all: a left turn of zero degrees that is not smooth.
        RawCase{"ZeroTangent", Point(0, 0), kShorten, kExtend}),
    cutcomp::test::CaseName());

NodePtr L(Point from, Point to, crc::crc_dir_t side) {
  return Line(from, to, crc::CRC_STATUS_DOING, side);
}

struct JointCase {
  const char* name;
  std::function<NodePtr(crc::crc_dir_t)> prev;
  std::function<NodePtr(crc::crc_dir_t)> next;
  crc::connect_t left;
  crc::connect_t right;
};

void PrintTo(const JointCase& c, std::ostream* os) { *os << c.name; }

class JointClassification : public ::testing::TestWithParam<JointCase> {};

TEST_P(JointClassification, OnBothSides) {
  OpenCompensator engine(1.0, nullptr);
  const JointCase& c = GetParam();
  for (crc::crc_dir_t side : {kLeft, kRight}) {
    NodePtr prev = c.prev(side);
    NodePtr next = c.next(side);
    EXPECT_EQ(engine.GetConnectType(prev.get(), next.get()), side == kLeft ? c.left : c.right)
        << (side == kLeft ? "left" : "right");
    // Classification only reads.
    EXPECT_EQ(prev->GetCrcDirType(), side);
    EXPECT_THAT(next->GetIntersectPoint(), PointEq(Unset()));
  }
}

// Lines and arcs through the joint at the origin. Prev ends there heading east; next starts
// there in the named direction.
NodePtr LineInEast(crc::crc_dir_t s) { return L(Point(-10, 0), Point(0, 0), s); }
NodePtr LineOut(Point to, crc::crc_dir_t s) { return L(Point(0, 0), to, s); }
NodePtr ZeroLine(crc::crc_dir_t s) { return L(Point(0, 0), Point(0, 0), s); }

// Arcs ending at the origin heading east: clockwise about (0,-r), counterclockwise about (0,r).
NodePtr ArcInCw(double r, crc::crc_dir_t s) {
  return ArcAt(Point(0, -r), r, kPi / 2 + 1, 1, false, s);
}
NodePtr ArcInCcw(double r, crc::crc_dir_t s) {
  return ArcAt(Point(0, r), r, 3 * kPi / 2 - 1, 1, true, s);
}
// Arcs starting at the origin heading west: clockwise about (0,r), counterclockwise about (0,-r).
NodePtr ArcOutWestCw(double r, crc::crc_dir_t s) {
  return ArcAt(Point(0, r), r, 3 * kPi / 2, 1, false, s);
}
NodePtr ArcOutWestCcw(double r, crc::crc_dir_t s) {
  return ArcAt(Point(0, -r), r, kPi / 2, 1, true, s);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, JointClassification,
    ::testing::Values(
        JointCase{"SlightTurn", [](auto s) { return L(Point(0, 0), Point(10, 0), s); },
                  [](auto s) { return L(Point(10, 0), Point(20, 0.1), s); }, kTangent, kTangent},
        JointCase{"LeftRightAngle", LineInEast, [](auto s) { return LineOut(Point(0, 10), s); },
                  kShorten, kExtend},
        JointCase{"Left135", LineInEast, [](auto s) { return LineOut(Point(-10, 10), s); },
                  kShorten, kInsert},
        // The first segment's end tangent is used: a quarter arc ending westward then a line
        // west is smooth; a line north after it is a right turn.
        JointCase{"ArcEndTangentSmooth",
                  [](auto s) {
                    return Arc(Point(0, 0), Point(10, 0), Point(0, 10), true, crc::CRC_STATUS_DOING,
                               s);
                  },
                  [](auto s) { return L(Point(0, 10), Point(-10, 10), s); }, kTangent, kTangent},
        JointCase{"ArcEndTangentCorner",
                  [](auto s) {
                    return Arc(Point(0, 0), Point(10, 0), Point(0, 10), true, crc::CRC_STATUS_DOING,
                               s);
                  },
                  [](auto s) { return L(Point(0, 10), Point(0, 20), s); }, kExtend, kShorten},
        // The second segment's start tangent is used: an arc starting north after a line east.
        JointCase{"ArcStartTangent", LineInEast,
                  [](auto s) {
                    return Arc(Point(-5, 0), Point(0, 0), Point(-10, 0), true,
                               crc::CRC_STATUS_DOING, s);
                  },
                  kShorten, kExtend}),
    cutcomp::test::CaseName());

// Every row of the reversal table, on both sides. Prev ends at the origin heading east, next
// leaves it heading west.
INSTANTIATE_TEST_SUITE_P(
    Reversals, JointClassification,
    ::testing::Values(
        JointCase{"LineLine", LineInEast, [](auto s) { return LineOut(Point(-10, 0), s); }, kInsert,
                  kInsert},
        JointCase{"LineArcCw", LineInEast, [](auto s) { return ArcOutWestCw(5, s); }, kShorten,
                  kInsert},
        JointCase{"LineArcCcw", LineInEast, [](auto s) { return ArcOutWestCcw(5, s); }, kInsert,
                  kShorten},
        JointCase{"ArcCwLine", [](auto s) { return ArcInCw(5, s); },
                  [](auto s) { return LineOut(Point(-10, 0), s); }, kShorten, kInsert},
        JointCase{"ArcCcwLine", [](auto s) { return ArcInCcw(5, s); },
                  [](auto s) { return LineOut(Point(-10, 0), s); }, kInsert, kShorten},
        JointCase{"ArcCwArcCw", [](auto s) { return ArcInCw(5, s); },
                  [](auto s) { return ArcOutWestCw(7, s); }, kShorten, kInsert},
        JointCase{"ArcCcwArcCcw", [](auto s) { return ArcInCcw(5, s); },
                  [](auto s) { return ArcOutWestCcw(7, s); }, kInsert, kShorten},
        // Opposite senses: shorten only when the arc the tool runs outside is the smaller.
        JointCase{"ArcCwArcCcwSmallerFirst", [](auto s) { return ArcInCw(5, s); },
                  [](auto s) { return ArcOutWestCcw(10, s); }, kShorten, kInsert},
        JointCase{"ArcCwArcCcwLargerFirst", [](auto s) { return ArcInCw(10, s); },
                  [](auto s) { return ArcOutWestCcw(5, s); }, kInsert, kShorten},
        JointCase{"ArcCwArcCcwEqual", [](auto s) { return ArcInCw(5, s); },
                  [](auto s) { return ArcOutWestCcw(5, s); }, kInsert, kInsert},
        // Radii equal within EPSILON count as equal.
        JointCase{"ArcCwArcCcwWithinEpsilon", [](auto s) { return ArcInCw(5, s); },
                  [](auto s) { return ArcOutWestCcw(5 + 5e-7, s); }, kInsert, kInsert},
        JointCase{"ArcCcwArcCwLargerFirst", [](auto s) { return ArcInCcw(10, s); },
                  [](auto s) { return ArcOutWestCw(5, s); }, kShorten, kInsert},
        JointCase{"ArcCcwArcCwSmallerFirst", [](auto s) { return ArcInCcw(5, s); },
                  [](auto s) { return ArcOutWestCw(10, s); }, kInsert, kShorten},
        JointCase{"ArcCcwArcCwEqual", [](auto s) { return ArcInCcw(5, s); },
                  [](auto s) { return ArcOutWestCw(5, s); }, kInsert, kInsert}),
    cutcomp::test::CaseName());

// A zero-length line has no tangent: tangent on the left, extend on the right, whatever the
// other segment is.
INSTANTIATE_TEST_SUITE_P(
    DegenerateTangents, JointClassification,
    ::testing::Values(JointCase{"ZeroThenLine", ZeroLine,
                                [](auto s) { return LineOut(Point(0, 10), s); }, kTangent, kExtend},
                      JointCase{"LineThenZero", LineInEast, ZeroLine, kTangent, kExtend},
                      JointCase{"ArcThenZero", [](auto s) { return ArcInCcw(5, s); }, ZeroLine,
                                kTangent, kExtend}),
    cutcomp::test::CaseName());

TEST(JointClassification, SideIsThatOfTheFirstSegment) {
  OpenCompensator engine(1.0, nullptr);
  auto prev = LineInEast(kLeft);
  auto next = LineOut(Point(0, 10), kRight);
  EXPECT_EQ(engine.GetConnectType(prev.get(), next.get()), kShorten);
  auto prevRight = LineInEast(kRight);
  auto nextLeft = LineOut(Point(0, 10), kLeft);
  EXPECT_EQ(engine.GetConnectType(prevRight.get(), nextLeft.get()), kExtend);
}

// ---- The host's corner query ----------------------------------------------------------------

struct QueryCase {
  const char* name;
  std::function<NodePtr(crc::crc_dir_t)> prev;
  std::function<NodePtr(crc::crc_dir_t)> next;
};

void PrintTo(const QueryCase& c, std::ostream* os) { *os << c.name; }

class CornerQuery : public ::testing::TestWithParam<QueryCase> {};

// A negative radius on one side answers like the positive radius on the other, and the
// segments' sides and the engine's radius read as before afterwards.
TEST_P(CornerQuery, NegativeRadiusEqualsPositiveRadiusOnTheOppositeSide) {
  const QueryCase& c = GetParam();
  for (crc::crc_dir_t side : {kLeft, kRight}) {
    const crc::crc_dir_t opposite = side == kLeft ? kRight : kLeft;
    OpenCompensator negative(-1.0, nullptr);
    OpenCompensator positive(1.0, nullptr);
    NodePtr prev = c.prev(side);
    NodePtr next = c.next(side);
    NodePtr prevFlipped = c.prev(opposite);
    NodePtr nextFlipped = c.next(opposite);
    Point n1(55, 55), n2(55, 55), p1(55, 55), p2(55, 55);
    const bool okNegative = negative.GetCrcNodeIntersection(prev.get(), next.get(), n1, n2);
    const bool okPositive =
        positive.GetCrcNodeIntersection(prevFlipped.get(), nextFlipped.get(), p1, p2);
    EXPECT_EQ(okNegative, okPositive);
    EXPECT_TRUE(okNegative);
    EXPECT_THAT(n1, PointNear(p1, 1e-9));
    EXPECT_THAT(n2, PointNear(p2, 1e-9));
    EXPECT_EQ(prev->GetCrcDirType(), side);
    EXPECT_EQ(next->GetCrcDirType(), side);
    EXPECT_EQ(negative.GetCrcRadius(), -1.0);
    EXPECT_THAT(prev->GetStartPointMoved(), PointEq(Unset()));
    EXPECT_THAT(next->GetIntersectPoint(), PointEq(Unset()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CornerQuery,
    ::testing::Values(
        QueryCase{"RightAngle", LineInEast, [](auto s) { return LineOut(Point(0, 10), s); }},
        QueryCase{"LineArc", LineInEast,
                  [](auto s) {
                    return Arc(Point(3, 4), Point(0, 0), Point(8, 4), false, crc::CRC_STATUS_DOING,
                               s);
                  }},
        // Programmed circles touching at a reversal; sweeps long enough for the crossing.
        QueryCase{"ArcArcReversal",
                  [](auto s) { return ArcAt(Point(0, -5), 5, kPi, kPi / 2, false, s); },
                  [](auto s) { return ArcAt(Point(0, -10), 10, kPi / 2, kPi / 2, true, s); }}),
    cutcomp::test::CaseName());

TEST(CornerQuery, RightAngleGivesTheHandPoints) {
  auto prev = L(Point(0, 0), Point(10, 0), kLeft);
  auto next = L(Point(10, 0), Point(10, 10), kLeft);
  Point p1 = Unset();
  Point p2 = Unset();
  // Left side, radius 1: inside corner at (9, 1).
  OpenCompensator positive(1.0, nullptr);
  ASSERT_TRUE(positive.GetCrcNodeIntersection(prev.get(), next.get(), p1, p2));
  EXPECT_THAT(p1, PointNear(Point(9, 1), 1e-9));
  // Radius -1 with the same sides: the tool runs outside, extended to (11, -1).
  OpenCompensator negative(-1.0, nullptr);
  ASSERT_TRUE(negative.GetCrcNodeIntersection(prev.get(), next.get(), p1, p2));
  EXPECT_THAT(p1, PointNear(Point(11, -1), 1e-9));
  EXPECT_EQ(prev->GetCrcDirType(), kLeft);
  EXPECT_EQ(negative.GetCrcRadius(), -1.0);
}

TEST(CornerQuery, SmoothJointLeavesThePointsAndFailureReportsNoMessage) {
  OpenCompensator engine(-1.0, nullptr);
  auto prev = L(Point(0, 0), Point(10, 0), kLeft);
  auto next = L(Point(10, 0), Point(20, 0), kLeft);
  Point p1(3, 3);
  Point p2(4, 4);
  EXPECT_TRUE(engine.GetCrcNodeIntersection(prev.get(), next.get(), p1, p2));
  EXPECT_THAT(p1, PointEq(Point(3, 3)));
  EXPECT_THAT(p2, PointEq(Point(4, 4)));

  // A zero-length line on the right (radius -1 on the left) is an extend corner that cannot be
  // computed: false, no message, sides and radius restored.
  auto zero = L(Point(10, 0), Point(10, 0), kLeft);
  EXPECT_FALSE(engine.GetCrcNodeIntersection(prev.get(), zero.get(), p1, p2));
  EXPECT_THAT(p1, PointEq(Point(3, 3)));
  EXPECT_EQ(engine.GetLatestErrorCode(), 0);
  EXPECT_EQ(zero->GetCrcDirType(), kLeft);
  EXPECT_EQ(engine.GetCrcRadius(), -1.0);
}

}  // namespace
