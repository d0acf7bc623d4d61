// SPDX-License-Identifier: MIT
// Bounded proximity tests at their boundaries: reversed chords, distance to a line, points on a
// segment, line/circle, segment/segment, segment/arc, arcs of one circle and arc/arc.
#include "geometry/proximity.h"

#include <cmath>
#include <vector>

#include "test_support.h"

namespace {

using cutcomp::test::Point;
using cutcomp::test::PointNear;
using cutcomp::test::Unset;

constexpr double PI = 3.141592653589793;
constexpr int INVALID = crc::INTERSECT_INVALID;
constexpr int NONE = crc::INTERSECT_NONE;
constexpr int ONE = crc::INTERSECT_ONE;
constexpr int TWO = crc::INTERSECT_TWO;
constexpr int OVERLAP = crc::INTERSECT_OVERLAP;

crc::CCrcLine Seg(Point from, Point to) {
  return crc::CCrcLine(from, to, crc::CRC_STATUS_DOING, crc::CRC_DIR_LEFT, false);
}

// From centre, start angle and central angle, so the ends sit exactly where the angles say.
crc::CCrcArc ArcAt(Point centre, double radius, double start, double sweep, bool ccw = true) {
  return crc::CCrcArc(centre, start, sweep, radius, ccw, crc::CRC_STATUS_DOING, crc::CRC_DIR_LEFT);
}

// From centre and end points, with an explicit radius.
crc::CCrcArc Through(Point centre, Point from, Point to, double radius, bool ccw) {
  return crc::CCrcArc(centre, from, to, radius, ccw, crc::CRC_STATUS_DOING, crc::CRC_DIR_LEFT);
}

// A counting result: its code and the points it writes. Points a code does not write must
// keep the sentinel they started with.
struct Outcome {
  int code;
  Point p1 = Unset();
  Point p2 = Unset();
};

void Expect(int n, const Point& p1, const Point& p2, const Outcome& expected) {
  EXPECT_EQ(n, expected.code);
  EXPECT_THAT(p1, PointNear(expected.p1, 1e-9));
  EXPECT_THAT(p2, PointNear(expected.p2, 1e-9));
}

TEST(IsOppositeVector, ParallelOppositeAndNotTooShort) {
  struct Case {
    const char* name;
    Point v, w;
    bool opposite;
  } const cases[] = {
      {"opposite along x", {1, 0}, {-2, 0}, true},
      {"same direction", {1, 0}, {2, 0}, false},
      {"perpendicular", {1, 0}, {0, 1}, false},
      {"zero vector", {0, 0}, {-1, 0}, false},
      {"shorter than EPSILON", {5e-7, 0}, {-1, 0}, false},
      {"cross product 5e-7", {1, 0}, {-1, 5e-7}, true},
      {"cross product 2e-6", {1, 0}, {-1, 2e-6}, false},
      // the tolerances apply to raw products: they tighten for long vectors and let short
      // opposite vectors through unnoticed (product -2.5e-7 is not below -EPSILON)
      {"long, skew 2e-9", {1000, 0}, {-1000, 2e-9}, false},
      {"short opposite", {5e-4, 0}, {-5e-4, 0}, false},
      {"a little longer", {2e-3, 0}, {-2e-3, 0}, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(crc::IsOppositeVector(c.v, c.w), c.opposite) << c.name;
  }
}

TEST(GetDistanceToLine, InfiniteLineOrStartOfAPoint) {
  struct Case {
    Point from, to, p;
    double distance;
  } const cases[] = {
      {{0, 0}, {10, 0}, {5, 3}, 3.0},
      {{0, 0}, {10, 0}, {15, -4}, 4.0},      // beyond the end: the line is infinite
      {{0, 0}, {3, 4}, {4, -3}, 5.0},        // perpendicular to (3,4) at length 5
      {{2, 2}, {2, 2}, {5, 6}, 5.0},         // zero length: distance to the start
      {{2, 2}, {2 + 5e-7, 2}, {5, 6}, 5.0},  // shorter than EPSILON
  };
  for (const Case& c : cases) {
    const crc::CCrcLine line = Seg(c.from, c.to);
    EXPECT_NEAR(crc::GetDistanceToLine(c.p, &line), c.distance, 1e-12);
  }
}

TEST(IsPointOnLine, EndTolerancesAndTheDistanceSumTest) {
  const crc::CCrcLine line = Seg({0, 0}, {10, 0});
  struct Case {
    const char* name;
    Point p;
    bool on;
  } const cases[] = {
      {"middle", {5, 0}, true},
      {"beyond the end by 5e-7", {10 + 5e-7, 0}, true},
      {"beyond the end by 2e-6", {10 + 2e-6, 0}, false},
      {"beside the start within EPSILON", {-5e-7, 3e-7}, true},
      // the distance sum exceeds 10 by 2e-7 at 1e-3 beside the middle, by 1.8e-6 at 3e-3
      {"1e-3 beside the middle", {5, 0.001}, true},
      {"3e-3 beside the middle", {5, 0.003}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(crc::IsPointOnLine(c.p, &line), c.on) << c.name;
  }
}

TEST(IntersectLineCircle, InfiniteLineAgainstFullCircle) {
  // Circles about (5,3); the x axis lies 3 below the centre, radius 5 meets it at 5 -+ 4.
  const double h = std::sqrt((3 + 2e-6) * (3 + 2e-6) - 9.0);
  struct Case {
    const char* name;
    Point from, to;
    double radius;
    Outcome expected;
  } const cases[] = {
      {"two crossings", {0, 0}, {10, 0}, 5, {TWO, {1, 0}, {9, 0}}},
      {"first toward the start", {10, 0}, {0, 0}, 5, {TWO, {9, 0}, {1, 0}}},
      {"short line, still infinite", {0, 0}, {1, 0}, 5, {TWO, {1, 0}, {9, 0}}},
      {"tangent", {0, 0}, {10, 0}, 3, {ONE, {5, 0}}},
      {"tangent within EPSILON", {0, 0}, {10, 0}, 3 - 5e-7, {ONE, {5, 0}}},
      {"just past tangency", {0, 0}, {10, 0}, 3 + 2e-6, {TWO, {5 - h, 0}, {5 + h, 0}}},
      {"apart", {0, 0}, {10, 0}, 2, {NONE}},
      {"zero-length line", {3, 3}, {3, 3}, 5, {INVALID}},
      {"radius within EPSILON of zero", {0, 0}, {10, 0}, 5e-7, {INVALID}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const crc::CCrcLine line = Seg(c.from, c.to);
    const crc::CCrcArc arc = Through({5, 3}, {5 + c.radius, 3}, {5, 3 + c.radius}, c.radius, true);
    Point p1 = Unset();
    Point p2 = Unset();
    Expect(crc::IntersectLineCircle(&line, &arc, p1, p2), p1, p2, c.expected);
  }
}

TEST(IntersectLineSegments, SegmentAgainstSegment) {
  struct Case {
    const char* name;
    Point aFrom, aTo, bFrom, bTo;
    Outcome expected;
  } const cases[] = {
      {"crossing", {0, 0}, {10, 0}, {5, -5}, {5, 5}, {ONE, {5, 0}}},
      {"b stops short", {0, 0}, {10, 0}, {5, 1}, {5, 5}, {NONE}},
      {"b ends on a", {0, 0}, {10, 0}, {5, 5}, {5, 0}, {ONE, {5, 0}}},
      {"crossing beyond a", {0, 0}, {10, 0}, {15, -5}, {15, 5}, {NONE}},
      {"parallel apart", {0, 0}, {10, 0}, {0, 1}, {10, 1}, {NONE}},
      {"b continues a", {0, 0}, {10, 0}, {10, 0}, {20, 0}, {ONE, {10, 0}}},
      {"b leads into a", {0, 0}, {10, 0}, {-5, 0}, {0, 0}, {ONE, {0, 0}}},
      {"b runs back from a's end", {0, 0}, {10, 0}, {10, 0}, {5, 0}, {OVERLAP}},
      {"collinear inside, no joint", {0, 0}, {10, 0}, {2, 0}, {8, 0}, {NONE}},
      {"collinear, shared start", {0, 0}, {10, 0}, {0, 0}, {5, 0}, {NONE}},
      {"cross 5e-7 is parallel", {0, 0}, {10, 0}, {10, 0}, {20, 5e-8}, {ONE, {10, 0}}},
      // at t = 0 or 1 a's end is reported without checking b
      {"lines meet at a's start", {0, 0}, {10, 0}, {0, 3}, {0, 5}, {ONE, {0, 0}}},
      {"swapped: before a's start", {0, 3}, {0, 5}, {0, 0}, {10, 0}, {NONE}},
      // t is a fraction of a: 5e-6 along 10 is t = 5e-7, snapped to a's start
      {"5e-6 from a's start", {0, 0}, {10, 0}, {5e-6, -5}, {5e-6, 5}, {ONE, {0, 0}}},
      {"2e-5 from a's start", {0, 0}, {10, 0}, {2e-5, -5}, {2e-5, 5}, {ONE, {2e-5, 0}}},
      {"zero-length b", {0, 0}, {10, 0}, {5, 0}, {5, 0}, {INVALID}},
      {"zero-length a", {1, 1}, {1, 1}, {0, 0}, {10, 0}, {INVALID}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const crc::CCrcLine a = Seg(c.aFrom, c.aTo);
    const crc::CCrcLine b = Seg(c.bFrom, c.bTo);
    Point p = Unset();
    Expect(crc::IntersectLineSegments(&a, &b, p), p, Unset(), c.expected);
  }
}

TEST(IntersectLineArcSegments, KeepsOnlyCrossingsOnBothPieces) {
  // The circle about (5,3) of radius 5 meets the x axis at (1,0) and (9,0).
  const Point o(5, 3);
  struct Case {
    const char* name;
    Point from, to;
    crc::CCrcArc arc;
    Outcome expected;
  } const cases[] = {
      {"lower half: both",
       {0, 0},
       {10, 0},
       Through(o, {0, 3}, {10, 3}, 5, true),
       {TWO, {1, 0}, {9, 0}}},
      {"upper half: neither", {0, 0}, {10, 0}, Through(o, {0, 3}, {10, 3}, 5, false), {NONE}},
      // only the second crossing lies on the arc; it comes back in the first output
      {"only the second", {0, 0}, {10, 0}, Through(o, {5, -2}, {10, 3}, 5, true), {ONE, {9, 0}}},
      {"line too short", {0, 0}, {5, 0}, Through(o, {0, 3}, {10, 3}, 5, true), {ONE, {1, 0}}},
      {"line ends on it", {0, 0}, {9, 0}, Through(o, {5, -2}, {10, 3}, 5, true), {ONE, {9, 0}}},
      {"line stops 1e-3 short", {0, 0}, {8.999, 0}, Through(o, {5, -2}, {10, 3}, 5, true), {NONE}},
      {"tangent on the arc", {0, 0}, {10, 0}, Through(o, {2, 3}, {8, 3}, 3, true), {ONE, {5, 0}}},
      {"tangent off the arc", {0, 0}, {10, 0}, Through(o, {2, 3}, {8, 3}, 3, false), {NONE}},
      {"zero-length line", {1, 0}, {1, 0}, Through(o, {0, 3}, {10, 3}, 5, true), {INVALID}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const crc::CCrcLine line = Seg(c.from, c.to);
    Point p1 = Unset();
    Point p2 = Unset();
    Expect(crc::IntersectLineArcSegments(&line, &c.arc, p1, p2), p1, p2, c.expected);
  }
}

TEST(IntersectConcentricArcs, ArcsOfTheUnitCircle) {
  const Point o(0, 0);
  const double q = PI / 4;  // a quarter of a half turn
  struct Case {
    const char* name;
    crc::CCrcArc a, b;
    Outcome expected;
  } const cases[] = {
      // chained end to start
      {"chained", ArcAt(o, 1, 0, 2 * q), ArcAt(o, 1, 2 * q, 2 * q), {ONE, {0, 1}}},
      {"chained within EPSILON",
       ArcAt(o, 1, 0, 2 * q),
       ArcAt(o, 1, 2 * q + 5e-7, q),
       {ONE, {0, 1}}},
      {"b runs back", ArcAt(o, 1, 0, 2 * q), ArcAt(o, 1, 2 * q, 2 * q, false), {OVERLAP}},
      {"closing the circle", ArcAt(o, 1, 0, PI), ArcAt(o, 1, PI, PI), {TWO, {1, 0}, {-1, 0}}},
      {"more than a turn", ArcAt(o, 1, 0, 6 * q), ArcAt(o, 1, 6 * q, 6 * q), {OVERLAP}},
      // a shared start or end
      {"shared start, closing",
       ArcAt(o, 1, 0, PI),
       ArcAt(o, 1, 0, PI, false),
       {TWO, {1, 0}, {-1, 0}}},
      {"shared start, opposite", ArcAt(o, 1, 0, 2 * q), ArcAt(o, 1, 0, q, false), {ONE, {1, 0}}},
      {"shared end, opposite", ArcAt(o, 1, 0, 2 * q), ArcAt(o, 1, PI, 2 * q, false), {ONE, {0, 1}}},
      {"shared start, same sense", ArcAt(o, 1, 0, 2 * q), ArcAt(o, 1, 0, q), {OVERLAP}},
      {"shared end, same sense", ArcAt(o, 1, 0, 2 * q), ArcAt(o, 1, q, q), {OVERLAP}},
      {"shared start, over a turn", ArcAt(o, 1, 0, 6 * q), ArcAt(o, 1, 0, PI, false), {OVERLAP}},
      // no shared ends: only b's ends are tested against a's range
      {"b starts inside a", ArcAt(o, 1, 0, 2 * q), ArcAt(o, 1, q, 2 * q), {OVERLAP}},
      {"b ends inside a", ArcAt(o, 1, q, 2 * q), ArcAt(o, 1, 0, 2 * q), {OVERLAP}},
      {"apart", ArcAt(o, 1, 0, q), ArcAt(o, 1, 2 * q, 2 * q), {NONE}},
      {"b contains a: not seen", ArcAt(o, 1, q, q), ArcAt(o, 1, 0, PI), {NONE}},
      // a counterclockwise through angle 0, from 3 pi/2 to pi/2
      {"a through 0, b above 0", ArcAt(o, 1, 6 * q, PI), ArcAt(o, 1, q / 2, q / 2), {OVERLAP}},
      {"a through 0, b outside", ArcAt(o, 1, 6 * q, PI), ArcAt(o, 1, 3 * q, q), {NONE}},
      {"a through 0, b starts at 0", ArcAt(o, 1, 6 * q, PI), ArcAt(o, 1, 0, PI), {OVERLAP}},
      // a clockwise, from pi/2 down to 0, and through 0 from pi/4 to 7 pi/4
      {"a clockwise, b inside",
       ArcAt(o, 1, 2 * q, 2 * q, false),
       ArcAt(o, 1, q / 2, q / 2),
       {OVERLAP}},
      {"a clockwise, b outside",
       ArcAt(o, 1, 2 * q, 2 * q, false),
       ArcAt(o, 1, 3 * q, q / 2),
       {NONE}},
      {"a cw through 0, b above 0",
       ArcAt(o, 1, q, 2 * q, false),
       ArcAt(o, 1, q / 2, q / 4),
       {OVERLAP}},
      {"a cw through 0, b starts at 0",
       ArcAt(o, 1, q, 2 * q, false),
       ArcAt(o, 1, 0, 2 * q),
       {OVERLAP}},
      {"a cw through 0, b outside",
       ArcAt(o, 1, q, 2 * q, false),
       ArcAt(o, 1, 2 * q, 2 * q),
       {NONE}},
      // degenerate pairs
      {"radii differ", ArcAt(o, 1, 0, 2 * q), ArcAt(o, 2, 2 * q, 2 * q), {INVALID}},
      {"centres differ by 1e-12",
       ArcAt(o, 1, 0, 2 * q),
       ArcAt({1e-12, 0}, 1, 2 * q, 2 * q),
       {INVALID}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Point p1 = Unset();
    Point p2 = Unset();
    Expect(crc::IntersectConcentricArcs(&c.a, &c.b, p1, p2), p1, p2, c.expected);
  }
}

TEST(IntersectArcSegments, OneCircleOrTwoCircles) {
  // Circles of radius 5 about (0,0) and (8,0) cross at (4,3), left of the line from a's centre
  // to b's and so reported first, and at (4,-3).
  const Point o(0, 0);
  const Point cb(8, 0);
  const Point up(4, 3);
  const Point down(4, -3);
  const crc::CCrcArc right = Through(o, {0, -5}, {0, 5}, 5, true);
  struct Case {
    const char* name;
    crc::CCrcArc a, b;
    Outcome expected;
  } const cases[] = {
      // centres and radii within EPSILON: the one-circle test
      {"one circle, chained", ArcAt(o, 1, 0, PI / 2), ArcAt(o, 1, PI / 2, 1), {ONE, {0, 1}}},
      {"radii 5e-7 apart", ArcAt(o, 1, 0, PI / 2), ArcAt(o, 1 + 5e-7, PI / 2, 1), {ONE, {0, 1}}},
      // it wants the centres exactly equal
      {"centres 5e-7 apart", ArcAt(o, 1, 0, PI / 2), ArcAt({5e-7, 0}, 1, 1, 1), {INVALID}},
      // two circles
      {"one centre, radii 1 and 2", ArcAt(o, 1, 0, PI), ArcAt(o, 2, 0, PI), {NONE}},
      {"both crossings", right, Through(cb, {8, 5}, {8, -5}, 5, true), {TWO, up, down}},
      {"only the upper", right, Through(cb, {8, 5}, {3, 0}, 5, true), {ONE, up}},
      {"only the lower, first", right, Through(cb, {3, 0}, {8, -5}, 5, true), {ONE, down}},
      {"neither", right, Through(cb, {8, -5}, {8, 5}, 5, true), {NONE}},
      {"lens sharing both ends",
       Through(o, down, up, 5, true),
       Through(cb, up, down, 5, true),
       {TWO, up, down}},
      // unit circles about (0,0) and (2,0) touch at (1,0), here a shared end
      {"touching at a shared end",
       ArcAt(o, 1, 1.5 * PI, PI / 2),
       ArcAt({2, 0}, 1, PI, 1, false),
       {ONE, {1, 0}}},
      // taken as touching within 0.0001141, but the touching point is 5e-5 off b
      {"nearly touching", ArcAt(o, 1, 1.5 * PI, PI / 2), ArcAt({2 + 5e-5, 0}, 1, 2, 2), {NONE}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Point p1 = Unset();
    Point p2 = Unset();
    Expect(crc::IntersectArcSegments(&c.a, &c.b, p1, p2), p1, p2, c.expected);
  }
}

}  // namespace
