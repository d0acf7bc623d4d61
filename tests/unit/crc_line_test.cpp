// SPDX-License-Identifier: MIT
// The straight segment: offsetting on both sides (and by a negative radius), the refusal of a
// zero radius, degenerate, side-less and non-finite lines, and cloning.
#include <crc/nodes/crc_line.h>

#include <limits>

#include "test_support.h"
#include "unit_builders.h"

namespace {

using cutcomp::test::Line;
using cutcomp::test::Point;
using cutcomp::test::PointEq;
using cutcomp::test::PointNear;
using cutcomp::test::Unset;

struct OffsetCase {
  const char* name;
  Point start;
  Point end;
  crc::crc_dir_t side;
  double radius;
  Point movedStart;
  Point movedEnd;
};

void PrintTo(const OffsetCase& c, std::ostream* os) { *os << c.name; }

class CrcLineOffset : public ::testing::TestWithParam<OffsetCase> {};

TEST_P(CrcLineOffset, MovesBothEndsAlongTheNormalOnItsSide) {
  const OffsetCase& c = GetParam();
  auto line = Line(c.start, c.end, crc::CRC_STATUS_DOING, c.side);
  ASSERT_TRUE(line->CrcMove(c.radius));
  EXPECT_THAT(line->GetStartPointMoved(), PointNear(c.movedStart, 1e-12));
  EXPECT_THAT(line->GetEndPointMoved(), PointNear(c.movedEnd, 1e-12));
  // Offsetting writes nothing else.
  EXPECT_THAT(line->GetStartPoint(), PointEq(c.start));
  EXPECT_THAT(line->GetEndPoint(), PointEq(c.end));
  EXPECT_THAT(line->GetIntersectPoint(), PointEq(Unset()));
  EXPECT_FALSE(line->HasBeenCrc());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CrcLineOffset,
    ::testing::Values(OffsetCase{"EastLeft", Point(0, 0), Point(10, 0), crc::CRC_DIR_LEFT, 2,
                                 Point(0, 2), Point(10, 2)},
                      OffsetCase{"NorthLeft", Point(0, 0), Point(0, 10), crc::CRC_DIR_LEFT, 1,
                                 Point(-1, 0), Point(-1, 10)},
                      // A negative radius lands on the opposite side.
                      OffsetCase{"NorthLeftNegative", Point(0, 0), Point(0, 10), crc::CRC_DIR_LEFT,
                                 -1, Point(1, 0), Point(1, 10)},
                      // A slanted line: direction (3,4)/5, left normal (-4,3)/5.
                      OffsetCase{"SlantedLeft", Point(1, 1), Point(4, 5), crc::CRC_DIR_LEFT, 5,
                                 Point(-3, 4), Point(0, 8)},
                      OffsetCase{"SlantedRight", Point(1, 1), Point(4, 5), crc::CRC_DIR_RIGHT, 5,
                                 Point(5, -2), Point(8, 2)}),
    cutcomp::test::CaseName());

TEST(CrcLine, RadiusWithinEpsilonOfZeroIsNoOffset) {
  for (double radius : {0.0, 5e-7, -5e-7}) {
    auto line = Line(Point(0, 0), Point(10, 0));
    EXPECT_FALSE(line->CrcMove(radius)) << radius;
    EXPECT_THAT(line->GetStartPointMoved(), PointEq(Unset()));
    EXPECT_THAT(line->GetEndPointMoved(), PointEq(Unset()));
  }
  // Earlier offset points are not overwritten by a refused offset.
  auto line = Line(Point(0, 0), Point(10, 0));
  ASSERT_TRUE(line->CrcMove(1.0));
  EXPECT_FALSE(line->CrcMove(0.0));
  EXPECT_THAT(line->GetStartPointMoved(), PointNear(Point(0, 1), 1e-12));
}

TEST(CrcLine, ZeroLengthLineHasNoNormalAndStaysInPlace) {
  auto line = Line(Point(3, 4), Point(3, 4));
  EXPECT_TRUE(line->CrcMove(2.0));
  EXPECT_THAT(line->GetStartPointMoved(), PointEq(Point(3, 4)));
  EXPECT_THAT(line->GetEndPointMoved(), PointEq(Point(3, 4)));
}

TEST(CrcLine, SideLessLineStaysOnItsProgrammedPath) {
  // The normal is the unset point; what is added is of the order of the sentinel.
  auto line = Line(Point(0, 0), Point(10, 0), crc::CRC_STATUS_DOING, crc::CRC_DIR_NONE);
  EXPECT_TRUE(line->CrcMove(2.0));
  EXPECT_THAT(line->GetStartPointMoved(), PointNear(Point(0, 0), 1e-100));
  EXPECT_THAT(line->GetEndPointMoved(), PointNear(Point(10, 0), 1e-100));
}

TEST(CrcLine, NonFiniteInputsReturnWithoutTouchingTheProgrammedPath) {
  const double inf = std::numeric_limits<double>::infinity();
  for (double radius : {std::nan(""), inf}) {
    auto line = Line(Point(0, 0), Point(10, 0));
    line->CrcMove(radius);  // any result; it must only come back
    EXPECT_THAT(line->GetStartPoint(), PointEq(Point(0, 0)));
    EXPECT_THAT(line->GetEndPoint(), PointEq(Point(10, 0)));
  }
  for (const Point& end : {Point(inf, 0), Point(std::nan(""), 1)}) {
    auto line = Line(Point(0, 0), end);
    line->CrcMove(1.0);
    EXPECT_THAT(line->GetStartPoint(), PointEq(Point(0, 0)));
  }
}

TEST(CrcLine, CloneIsAnIndependentLineWithTheSameState) {
  auto line = Line(Point(1, 2), Point(5, 2), crc::CRC_STATUS_ESTABLISH, crc::CRC_DIR_RIGHT, true);
  line->SetIntersectPoint(Point(7, 7));
  std::unique_ptr<crc::CCrcNode> clone(line->Clone());
  ASSERT_NE(clone, nullptr);
  ASSERT_NE(clone.get(), line.get());
  auto* copy = dynamic_cast<crc::CCrcLine*>(clone.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(copy->IsLocate());
  EXPECT_EQ(copy->GetCrcDirType(), crc::CRC_DIR_RIGHT);
  EXPECT_THAT(copy->GetIntersectPoint(), PointEq(Point(7, 7)));

  // Changing the original leaves the clone alone, and the other way round.
  line->SetStartPoint(Point(-1, -1));
  line->SetLocate(false);
  copy->SetEndPoint(Point(50, 50));
  EXPECT_THAT(copy->GetStartPoint(), PointEq(Point(1, 2)));
  EXPECT_TRUE(copy->IsLocate());
  EXPECT_THAT(line->GetEndPoint(), PointEq(Point(5, 2)));
}

}  // namespace
