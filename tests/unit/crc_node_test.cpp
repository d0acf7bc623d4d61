// SPDX-License-Identifier: MIT
// The segment base: initial state, the constructor's argument order, the point setters'
// refusal rule, the offset plausibility test and the terminal invalid flag.
#include <crc/nodes/crc_node.h>

#include "test_support.h"
#include "unit_builders.h"

namespace {

using cutcomp::test::Point;
using cutcomp::test::PointEq;
using cutcomp::test::Unset;

constexpr double kU = crc::INVALID_VALUE;

// The smallest concrete segment: the base class is abstract.
class ProbeNode : public crc::CCrcNode {
public:
  using CCrcNode::CCrcNode;
  bool CrcMove(const double& /*radius*/) override { return false; }
  double GetLength() const override { return 0.0; }
  crc::CCrcNode* Clone() const override { return new ProbeNode(*this); }
};

TEST(CrcNode, ConstructorTakesPhaseBeforeSideAndLeavesOffsetPointsUnset) {
  // Phase 0 and side 1: swapped arguments would read phase 1 and side 0.
  ProbeNode node(Point(1, 2), Point(3, 4), crc::CRC_STATUS_ESTABLISH, crc::CRC_DIR_RIGHT);
  EXPECT_EQ(node.GetStatusType(), crc::CRC_STATUS_ESTABLISH);
  EXPECT_EQ(node.GetCrcDirType(), crc::CRC_DIR_RIGHT);
  EXPECT_THAT(node.GetStartPoint(), PointEq(Point(1, 2)));
  EXPECT_THAT(node.GetEndPoint(), PointEq(Point(3, 4)));
  EXPECT_THAT(node.GetStartPointMoved(), PointEq(Unset()));
  EXPECT_THAT(node.GetEndPointMoved(), PointEq(Unset()));
  EXPECT_THAT(node.GetIntersectPoint(), PointEq(Unset()));
  EXPECT_EQ(node.GetNodeType(), crc::NODE_NONE);
  EXPECT_FALSE(node.HasBeenCrc());
  EXPECT_TRUE(node.IsValidNode());
}

using Setter = bool (crc::CCrcNode::*)(const Point&);
using Getter = Point (crc::CCrcNode::*)() const;

struct PointField {
  const char* name;
  Setter set;
  Getter get;
};

void PrintTo(const PointField& c, std::ostream* os) { *os << c.name; }

class CrcNodePointSetter : public ::testing::TestWithParam<PointField> {};

TEST_P(CrcNodePointSetter, RefusesOnlyAnUnsetXBesideASetY) {
  const PointField& field = GetParam();
  ProbeNode node(Point(1, 1), Point(2, 2), crc::CRC_STATUS_DOING, crc::CRC_DIR_LEFT);
  ASSERT_TRUE((node.*field.set)(Point(9, 8)));
  EXPECT_THAT((node.*field.get)(), PointEq(Point(9, 8)));

  // Half-unset with x unset: refused, field unchanged.
  EXPECT_FALSE((node.*field.set)(Point(kU, 5)));
  EXPECT_THAT((node.*field.get)(), PointEq(Point(9, 8)));

  // x set, y unset: stored as given.
  EXPECT_TRUE((node.*field.set)(Point(5, kU)));
  EXPECT_EQ((node.*field.get)().x, 5.0);
  EXPECT_EQ((node.*field.get)().y, kU);

  // Wholly unset: stored, which resets the field.
  EXPECT_TRUE((node.*field.set)(Unset()));
  EXPECT_THAT((node.*field.get)(), PointEq(Unset()));
}

INSTANTIATE_TEST_SUITE_P(
    AllFive, CrcNodePointSetter,
    ::testing::Values(
        PointField{"Start", &crc::CCrcNode::SetStartPoint, &crc::CCrcNode::GetStartPoint},
        PointField{"End", &crc::CCrcNode::SetEndPoint, &crc::CCrcNode::GetEndPoint},
        PointField{"StartMoved", &crc::CCrcNode::SetStartPointMoved,
                   &crc::CCrcNode::GetStartPointMoved},
        PointField{"EndMoved", &crc::CCrcNode::SetEndPointMoved, &crc::CCrcNode::GetEndPointMoved},
        PointField{"Intersect", &crc::CCrcNode::SetIntersectPoint,
                   &crc::CCrcNode::GetIntersectPoint}),
    cutcomp::test::CaseName());

struct MovedCase {
  const char* name;
  Point movedStart;
  Point movedEnd;
  bool valid;
};

void PrintTo(const MovedCase& c, std::ostream* os) { *os << c.name; }

class CrcNodeMovedValid : public ::testing::TestWithParam<MovedCase> {};

// Programmed chord (0,0) -> (10,0).
TEST_P(CrcNodeMovedValid, AcceptsUnlessTheOffsetChordRunsBackwards) {
  const MovedCase& c = GetParam();
  ProbeNode node(Point(0, 0), Point(10, 0), crc::CRC_STATUS_DOING, crc::CRC_DIR_LEFT);
  node.SetStartPointMoved(c.movedStart);
  node.SetEndPointMoved(c.movedEnd);
  EXPECT_EQ(node.CheckMovedValid(), c.valid);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CrcNodeMovedValid,
    ::testing::Values(MovedCase{"Parallel", Point(0, 5), Point(10, 5), true},
                      MovedCase{"Reversed", Point(10, 5), Point(0, 5), false},
                      // Shrunk to 0.005 or less (0.005 included): no direction, accepted
                      // even backwards.
                      MovedCase{"ShrunkLimitBackward", Point(0.005, 5), Point(0, 5), true},
                      // Just above 0.005 and backwards: refused.
                      MovedCase{"ShortBackward", Point(0.006, 5), Point(0, 5), false},
                      // Perpendicular chords pass (dot exactly zero).
                      MovedCase{"Perpendicular", Point(0, 5), Point(0, 15), true},
                      // Any backward component fails.
                      MovedCase{"SlightlyBackward", Point(0, 5), Point(-0.01, 15), false},
                      MovedCase{"Unset", Unset(), Unset(), true}),
    cutcomp::test::CaseName());

TEST(CrcNode, InvalidFlagIsTerminalAndTravelsWithCopies) {
  ProbeNode node(Point(0, 0), Point(1, 0), crc::CRC_STATUS_DOING, crc::CRC_DIR_LEFT);
  node.SetAsInvalidNode();
  EXPECT_FALSE(node.IsValidNode());

  ProbeNode copy(node);
  EXPECT_FALSE(copy.IsValidNode());
  ProbeNode assigned;
  assigned = node;
  EXPECT_FALSE(assigned.IsValidNode());
  // Assigning from a valid segment is the only way back.
  ProbeNode valid;
  assigned = valid;
  EXPECT_TRUE(assigned.IsValidNode());
}

}  // namespace
