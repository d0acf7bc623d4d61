// SPDX-License-Identifier: MIT
// The look-ahead connection: crossing connection vectors, joint types and points, applying a
// joint, and dropping a segment too short for the cutter by trim or merge.
#include "compensator/lookahead.h"

#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

using cutcomp::test::OpenCompensator;
using cutcomp::test::Point;
using cutcomp::test::PointEq;
using cutcomp::test::PointNear;
using cutcomp::test::RecordingTranslator;
using cutcomp::test::Unset;

constexpr auto LEFT = crc::CRC_DIR_LEFT;
constexpr auto RIGHT = crc::CRC_DIR_RIGHT;
constexpr auto DOING = crc::CRC_STATUS_DOING;
const double ROOT2 = std::sqrt(2.0);
const Point MARKER(42, 42);  // an output the step must leave alone

TEST(IsConnectVectorsCross, OnlyProperCrossingsCount) {
  struct Case {
    const char* name;
    crc::ConnectVector first, second;
    bool cross;
  } const cases[] = {
      {"X", {{0, 0}, {2, 2}}, {{0, 2}, {2, 0}}, true},
      {"T", {{0, 0}, {2, 0}}, {{1, 0}, {1, 2}}, false},
      {"shared end", {{0, 0}, {1, 1}}, {{1, 1}, {2, 0}}, false},
      {"collinear overlap", {{0, 0}, {2, 0}}, {{1, 0}, {3, 0}}, false},
      {"crosses the line only", {{0, 0}, {1, 0}}, {{2, 1}, {2, -1}}, false},
      {"by 1e-12: no tolerance", {{0, 0}, {2, 0}}, {{1, -1e-12}, {1, 1}}, true},
      {"zero length", {{1, 0}, {1, 0}}, {{0, -1}, {2, 1}}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(crc::IsConnectVectorsCross(c.first, c.second), c.cross) << c.name;
  }
}

// Segments in host order behind a recording translator, and an engine of cutter radius 1.
struct Program {
  RecordingTranslator translator;
  OpenCompensator engine{1.0, &translator};
  std::vector<std::unique_ptr<crc::CCrcNode>> owned;

  template <typename Node>
  Node* Add(std::unique_ptr<Node> node) {
    Node* raw = node.get();
    translator.sequence.push_back(raw);
    owned.push_back(std::move(node));
    return raw;
  }
  crc::CCrcLine* AddLine(Point from, Point to, crc::crc_dir_t side = LEFT,
                         crc::crc_status_t status = DOING) {
    return Add(cutcomp::test::Line(from, to, status, side));
  }
  // The segment being finished: it starts on its plain offset start, as if the joint before it
  // had set its intersect point. Every such segment below runs east with the tool on the left.
  crc::CCrcLine* AddPrev(Point from, Point to) {
    crc::CCrcLine* prev = AddLine(from, to);
    prev->SetIntersectPoint(from + Point(0, 1));
    return prev;
  }
};

TEST(CalculateOffVector, TypeAndPointsPerJoint) {
  struct Case {
    const char* name;
    Point to;  // the first line runs (0,0) -> (10,0), the second from (10,0) to here
    crc::crc_dir_t side;
    crc::connect_t type;
    Point p1, p2;
  } const cases[] = {
      // east then north, tool outside: y = -1 and x = 11 meet at (11,-1); p2 comes back unset
      {"extend", {10, 10}, RIGHT, crc::CONNECT_EXTEND, {11, -1}, Unset()},
      // tool inside: y = 1 and x = 9
      {"shorten", {10, 10}, LEFT, crc::CONNECT_SHORTEN, {9, 1}, MARKER},
      // east then north-west, tool outside: a radius on along east and to the right of it;
      // a radius back along (-1,1)/sqrt2 and on along its right normal (1,1)/sqrt2
      {"insert", {0, 10}, RIGHT, crc::CONNECT_INSERT, {11, -1}, {10 + ROOT2, 0}},
      // a bend of 0.57 degrees: the first line's plain offset end
      {"tangent", {20, 0.1}, LEFT, crc::CONNECT_TANGENT, {10, 1}, MARKER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Program program;
    auto* prev = program.AddLine({0, 0}, {10, 0}, c.side);
    auto* next = program.AddLine({10, 0}, c.to, c.side);
    crc::connect_t type = crc::CONNECT_NONE;
    Point p1 = MARKER;
    Point p2 = MARKER;
    ASSERT_TRUE(program.engine.CalculateOffVector(prev, next, type, p1, p2));
    EXPECT_EQ(type, c.type);
    EXPECT_THAT(p1, PointNear(c.p1, 1e-9));
    EXPECT_THAT(p2, PointNear(c.p2, 1e-9));
    // Only a tangent joint offsets the first segment; nothing else is written.
    const Point prevStart = c.type == crc::CONNECT_TANGENT ? Point(0, 1) : Unset();
    EXPECT_THAT(prev->GetStartPointMoved(), PointEq(prevStart));
    EXPECT_THAT(next->GetStartPointMoved(), PointEq(Unset()));
    EXPECT_THAT(next->GetIntersectPoint(), PointEq(Unset()));
  }
}

TEST(CalculateOffVector, FailuresAreReportedAsInterference) {
  {
    // A first line shorter than EPSILON before an outside corner has no direction.
    Program program;
    auto* prev = program.AddLine({0, 0}, {5e-7, 0}, RIGHT);
    auto* next = program.AddLine({5e-7, 0}, {5e-7, 10}, RIGHT);
    crc::connect_t type = crc::CONNECT_NONE;
    Point p1 = MARKER;
    Point p2 = MARKER;
    EXPECT_FALSE(program.engine.CalculateOffVector(prev, next, type, p1, p2));
    EXPECT_EQ(program.engine.GetLatestErrorCode(), crc::CRC_ERROR_INTERFERENCE);
    EXPECT_EQ(type, crc::CONNECT_NONE);
    EXPECT_THAT(p1, PointEq(MARKER));
    EXPECT_THAT(p2, PointEq(MARKER));
  }
  {
    // A tangent joint after a counterclockwise arc of radius 1 with the tool inside: the arc
    // cannot be offset. The type is written before the offset fails.
    Program program;
    auto* prev = program.Add(cutcomp::test::Arc({0, 0}, {0, -1}, {1, 0}, true));
    auto* next = program.AddLine({1, 0}, {1, 5});
    crc::connect_t type = crc::CONNECT_NONE;
    Point p1 = MARKER;
    Point p2 = MARKER;
    EXPECT_FALSE(program.engine.CalculateOffVector(prev, next, type, p1, p2));
    EXPECT_EQ(program.engine.GetLatestErrorCode(), crc::CRC_ERROR_INTERFERENCE);
    EXPECT_EQ(type, crc::CONNECT_TANGENT);
    EXPECT_THAT(p1, PointEq(MARKER));
  }
}

TEST(ProcessNoIntervine, AppliesOneJointPerType) {
  using Lines = std::vector<std::pair<Point, Point>>;
  const Point bridge(10 + ROOT2, 0);
  const Point bridgeEnd(10 + ROOT2 / 2, ROOT2 / 2);  // (10,0) plus the right normal of (-1,1)
  const double n = std::sqrt(100.01);
  const Point bend(10 - 0.1 / n, 10 / n);  // (10,0) plus the left normal of (10,0.1)
  const Point unset = Unset();
  // The first line runs (0,0) -> (10,0); the second from (10,0) to `to`, or it is the
  // counterclockwise arc about (5,0) from (10,0) to (5,5), whose offset start outside is (11,0).
  // An inside corner offsets neither segment: only the crossing is written.
  struct Case {
    const char* name;
    crc::crc_dir_t side;
    bool arc;
    Point to;
    crc::connect_t type;
    Point p1, p2, prevStart, prevEnd, nextIntersect;
    Lines inserted;
  } const cases[] = {
      // clang-format off
      {"extend, lines", RIGHT, false, {10, 10}, crc::CONNECT_EXTEND, {11, -1}, unset,
       {0, -1}, {11, -1}, {11, -1}, {}},
      {"extend into an arc", RIGHT, true, {}, crc::CONNECT_EXTEND, {11, -1}, unset,
       {0, -1}, {11, -1}, {11, 0}, {{{11, -1}, {11, 0}}}},
      {"insert", RIGHT, false, {0, 10}, crc::CONNECT_INSERT, {11, -1}, bridge,
       {0, -1}, {10, -1}, bridgeEnd, {{{10, -1}, {11, -1}}, {{11, -1}, bridge}, {bridge, bridgeEnd}}},
      {"shorten", LEFT, false, {10, 10}, crc::CONNECT_SHORTEN, {9, 1}, MARKER,
       unset, {9, 1}, {9, 1}, {}},
      {"tangent", LEFT, false, {20, 0.1}, crc::CONNECT_TANGENT, MARKER, MARKER,
       {0, 1}, bend, bend, {}},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Program program;
    auto* prev = program.AddLine({0, 0}, {10, 0}, c.side);
    crc::CCrcNode* next = c.arc ? static_cast<crc::CCrcNode*>(program.Add(cutcomp::test::Arc(
                                      {5, 0}, {10, 0}, {5, 5}, true, DOING, c.side)))
                                : program.AddLine({10, 0}, c.to, c.side);
    ASSERT_TRUE(program.engine.ProcessNoIntervine(prev, next, c.type, c.p1, c.p2));
    EXPECT_THAT(prev->GetStartPointMoved(), PointNear(c.prevStart, 1e-12));
    EXPECT_THAT(prev->GetEndPointMoved(), PointNear(c.prevEnd, 1e-12));
    EXPECT_THAT(next->GetIntersectPoint(), PointNear(c.nextIntersect, 1e-12));
    ASSERT_EQ(program.translator.inserted.size(), c.inserted.size());
    for (std::size_t i = 0; i < c.inserted.size(); ++i) {
      const crc::CCrcLine& line = *program.translator.inserted[i];
      EXPECT_THAT(line.GetStartPoint(), PointNear(c.inserted[i].first, 1e-12)) << i;
      EXPECT_THAT(line.GetEndPoint(), PointNear(c.inserted[i].second, 1e-12)) << i;
      EXPECT_TRUE(line.HasBeenCrc() && program.translator.insertedBefore[i]) << i;
      EXPECT_EQ(line.GetCrcDirType(), c.side);
    }
  }
}

TEST(ProcessNoIntervine, Failures) {
  {
    // A point with x unset and y set is refused by every point setter.
    Program program;
    auto* prev = program.AddLine({0, 0}, {10, 0});
    auto* next = program.AddLine({10, 0}, {10, 10});
    const Point halfUnset(crc::INVALID_VALUE, 5);
    EXPECT_FALSE(
        program.engine.ProcessNoIntervine(prev, next, crc::CONNECT_SHORTEN, halfUnset, MARKER));
    EXPECT_EQ(program.engine.GetLatestErrorCode(), crc::CRC_ERROR_INVALID_END_MOVED);
    EXPECT_THAT(next->GetIntersectPoint(), PointEq(Unset()));
  }
  // A counterclockwise arc of radius 1 with the tool inside cannot be offset by 1.
  for (crc::connect_t type : {crc::CONNECT_EXTEND, crc::CONNECT_INSERT, crc::CONNECT_TANGENT}) {
    Program program;
    auto* prev = program.AddLine({0, -1}, {0, 0});
    auto* next = program.Add(cutcomp::test::Arc({1, 0}, {0, 0}, {2, 0}, true));
    EXPECT_FALSE(program.engine.ProcessNoIntervine(prev, next, type, {1, 1}, {2, 2})) << type;
    EXPECT_EQ(program.engine.GetLatestErrorCode(), crc::CRC_ERROR_RADIUS_UNREASONABLE) << type;
    EXPECT_TRUE(program.translator.inserted.empty()) << type;
  }
}

TEST(CalculateConnectionExt1, TrimDropsASegmentTooShortForTheCutter) {
  // Two inside corners whose connection vectors (10,0)->(11-sqrt2, 1) and
  // (10.5,0.5)->(9.5, sqrt2-0.5) cross. The offsets y = 1 and x = 9.5 of the outer lines meet
  // at (9.5,1).
  Program program;
  auto* prev = program.AddPrev({0, 0}, {10, 0});
  auto* next = program.AddLine({10, 0}, {10.5, 0.5});
  auto* next2 = program.AddLine({10.5, 0.5}, {10.5, 10});
  ASSERT_TRUE(program.engine.CalculateConnectionExt1(prev, next));
  EXPECT_THAT(prev->GetStartPointMoved(), PointEq(Point(0, 1)));
  EXPECT_THAT(prev->GetEndPointMoved(), PointNear(Point(9.5, 1), 1e-12));
  EXPECT_TRUE(next->HasBeenCrc());
  EXPECT_FALSE(next->IsValidNode());
  EXPECT_THAT(next2->GetIntersectPoint(), PointNear(Point(9.5, 1), 1e-12));
  EXPECT_TRUE(next2->IsValidNode());
  EXPECT_FALSE(next2->HasBeenCrc());
  EXPECT_TRUE(program.translator.inserted.empty());
}

TEST(CalculateConnectionExt1, VectorsThatDoNotCrossOrOnlyTouchKeepTheSegment) {
  struct Case {
    const char* name;
    Point corner2, end;  // next runs (10,0) -> corner2, next2 corner2 -> end
    Point joint;         // offset end of prev, intersect point of next
  } const cases[] = {
      // (10,0)->(11-sqrt2, 1) and (12,2)->(11, 1+sqrt2) stay apart
      {"longer middle line", {12, 2}, {12, 10}, {11 - ROOT2, 1}},
      // a pocket exactly one cutter diameter wide: (10,0)->(9,1) and (10,2)->(9,1) share
      // their end point
      {"vectors share their end", {10, 2}, {0, 2}, {9, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Program program;
    auto* prev = program.AddPrev({0, 0}, {10, 0});
    auto* next = program.AddLine({10, 0}, c.corner2);
    program.AddLine(c.corner2, c.end);
    ASSERT_TRUE(program.engine.CalculateConnectionExt1(prev, next));
    EXPECT_THAT(prev->GetEndPointMoved(), PointNear(c.joint, 1e-12));
    EXPECT_THAT(next->GetIntersectPoint(), PointNear(c.joint, 1e-12));
    EXPECT_TRUE(next->IsValidNode());
    EXPECT_FALSE(next->HasBeenCrc());
  }
}

TEST(CalculateConnectionExt1, MergeAbsorbsTheSegmentIntoItsPredecessor) {
  // An inside corner, then a sharp outside corner: the inside corner's vector
  // (10,0)->(9-sqrt2, 1) and the bridge's vector (9.5,0.5)->(9.5-sqrt2, 0.5) cross. prev's
  // programmed end moves to (9.5,0.5), so prev now runs north-east from (9,0) and meets the
  // eastward third line at an outside corner of 45 degrees: its offset y = x - 9 + sqrt2
  // meets y = 1.5 at x = 10.5 - sqrt2.
  Program program;
  auto* prev = program.AddPrev({9, 0}, {10, 0});
  auto* next = program.AddLine({10, 0}, {9.5, 0.5});
  auto* next2 = program.AddLine({9.5, 0.5}, {15, 0.5});
  ASSERT_TRUE(program.engine.CalculateConnectionExt1(prev, next));
  const Point meet(10.5 - ROOT2, 1.5);
  EXPECT_THAT(prev->GetStartPoint(), PointEq(Point(9, 0)));
  EXPECT_THAT(prev->GetEndPoint(), PointEq(Point(9.5, 0.5)));
  EXPECT_THAT(prev->GetStartPointMoved(), PointEq(Point(9, 1)));
  EXPECT_THAT(prev->GetEndPointMoved(), PointNear(meet, 1e-12));
  EXPECT_TRUE(next->HasBeenCrc());
  EXPECT_FALSE(next->IsValidNode());
  EXPECT_THAT(next2->GetStartPointMoved(), PointNear(meet, 1e-12));
  EXPECT_THAT(next2->GetIntersectPoint(), PointNear(meet, 1e-12));
  EXPECT_TRUE(next2->IsValidNode());
  EXPECT_TRUE(program.translator.inserted.empty());
}

TEST(CalculateConnectionExt1, MergeAfterABridge) {
  // The merge case travelled backwards with the tool on the right: a sharp outside corner at
  // (9.5,0.5), then an inside corner at (10,0). The bridge's second corner (9.5-sqrt2, 0.5),
  // next to the middle line, ends the first vector, which crosses (10,0)->(9-sqrt2, 1).
  // prev then runs from (15,0.5) to (10,0), on the line y = (x - 10) / 10, and its offset
  // meets the offset y = 1 of the last line where (1 - (x - 10) / 10) / sqrt(1.01) = 1.
  Program program;
  auto* prev = program.AddLine({15, 0.5}, {9.5, 0.5}, RIGHT);
  prev->SetIntersectPoint({15, 1.5});
  auto* next = program.AddLine({9.5, 0.5}, {10, 0}, RIGHT);
  auto* next2 = program.AddLine({10, 0}, {9, 0}, RIGHT);
  ASSERT_TRUE(program.engine.CalculateConnectionExt1(prev, next));
  const Point meet(20 - 10 * std::sqrt(1.01), 1);
  EXPECT_THAT(prev->GetEndPoint(), PointEq(Point(10, 0)));
  EXPECT_THAT(prev->GetStartPointMoved(), PointEq(Point(15, 1.5)));
  EXPECT_THAT(prev->GetEndPointMoved(), PointNear(meet, 1e-12));
  EXPECT_FALSE(next->IsValidNode());
  EXPECT_THAT(next2->GetIntersectPoint(), PointNear(meet, 1e-12));
  EXPECT_TRUE(program.translator.inserted.empty());
}

TEST(CalculateConnectionExt1, SecondSuccessorThatCannotBeOffset) {
  // After the middle line comes a counterclockwise arc of radius 0.5 with the tool inside: the
  // connection fails before deciding anything. A locate line as prev needs no look-ahead, so
  // the same arc does not matter there.
  for (bool locate : {false, true}) {
    SCOPED_TRACE(locate ? "locate prev" : "plain prev");
    Program program;
    auto* prev = locate ? program.Add(cutcomp::test::Line({0, 0}, {10, 0}, DOING, LEFT, true))
                        : program.AddPrev({0, 0}, {10, 0});
    auto* next = program.AddLine({10, 0}, {10, 5});
    program.Add(cutcomp::test::Arc({9.5, 5}, {10, 5}, {9, 5}, true));
    if (locate) {
      // The locate line runs on its programmed path into the offset start of the next line.
      ASSERT_TRUE(program.engine.CalculateConnectionExt1(prev, next));
      EXPECT_THAT(prev->GetStartPointMoved(), PointEq(Point(0, 0)));
      EXPECT_THAT(prev->GetEndPointMoved(), PointEq(Point(9, 0)));
      EXPECT_THAT(next->GetIntersectPoint(), PointEq(Point(9, 0)));
    } else {
      EXPECT_FALSE(program.engine.CalculateConnectionExt1(prev, next));
      EXPECT_EQ(program.engine.GetLatestErrorCode(), crc::CRC_ERROR_RADIUS_UNREASONABLE);
      EXPECT_THAT(prev->GetEndPointMoved(), PointEq(Unset()));
      EXPECT_THAT(next->GetIntersectPoint(), PointEq(Unset()));
    }
  }
}

}  // namespace
