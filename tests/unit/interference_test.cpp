// SPDX-License-Identifier: MIT
// The interference check: a finished offset path against the look-behind list (lines, arcs,
// common points at the stored ends, overlap), the reversal test, and what switches it off.
#include <cmath>
#include <memory>
#include <vector>

#include "test_support.h"

namespace {

using cutcomp::test::OpenCompensator;
using cutcomp::test::Point;

constexpr double PI = 3.141592653589793;
constexpr double CUTTER = 2.0;

// A line whose offset path runs from movedFrom to movedTo. Its programmed chord is the same
// vector (shifted aside), so the reversal test never fires unless a case asks for it.
std::unique_ptr<crc::CCrcLine> OffsetLine(Point movedFrom, Point movedTo, bool locate = false) {
  auto line =
      std::make_unique<crc::CCrcLine>(movedFrom - Point(0, CUTTER), movedTo - Point(0, CUTTER),
                                      crc::CRC_STATUS_DOING, crc::CRC_DIR_LEFT, locate);
  line->SetStartPointMoved(movedFrom);
  line->SetEndPointMoved(movedTo);
  return line;
}

// A counterclockwise arc on the left of programmed radius offsetRadius + CUTTER, offset by the
// cutter: its tool path is the arc of radius offsetRadius about `centre` from startAngle
// through centralAngle.
std::unique_ptr<crc::CCrcArc> OffsetArc(Point centre, double offsetRadius, double startAngle,
                                        double centralAngle, bool ccw = true) {
  // Left of a counterclockwise arc is inside (R - r); left of a clockwise one outside (R + r).
  const double programmed = ccw ? offsetRadius + CUTTER : offsetRadius - CUTTER;
  auto arc = std::make_unique<crc::CCrcArc>(centre, startAngle, centralAngle, programmed, ccw,
                                            crc::CRC_STATUS_DOING, crc::CRC_DIR_LEFT);
  EXPECT_TRUE(arc->CrcMove(CUTTER));
  EXPECT_DOUBLE_EQ(arc->GetRadiusMoved(), offsetRadius);
  return arc;
}

// A compensator holding clones of `stored` in its look-behind list.
std::unique_ptr<OpenCompensator> WithList(const std::vector<const crc::CCrcNode*>& stored,
                                          unsigned int capacity = 3) {
  auto engine = std::make_unique<OpenCompensator>(CUTTER, nullptr, capacity);
  for (const crc::CCrcNode* node : stored) {
    engine->AddToList(node);
  }
  return engine;
}

// --- What switches the check off ----------------------------------------------------------

TEST(CheckIntervener, CapacityZeroAndEmptyListSwitchItOffEvenForAReversal) {
  const auto stored = OffsetLine({0, 2}, {10, 2});
  const auto crossing = OffsetLine({5, -3}, {5, 7});
  // Programmed east, offset running west: offsetting has reversed it.
  crc::CCrcLine reversed({0, 0}, {10, 0}, crc::CRC_STATUS_DOING, crc::CRC_DIR_LEFT, false);
  reversed.SetStartPointMoved({8, 2});
  reversed.SetEndPointMoved({6, 2});

  const auto off = WithList({stored.get()}, 0);
  EXPECT_EQ(off->GetListCount(), 0U);
  EXPECT_FALSE(off->CheckIntervener(crossing.get()));
  EXPECT_FALSE(off->CheckIntervener(&reversed));

  const auto empty = WithList({});
  EXPECT_FALSE(empty->CheckIntervener(&reversed));

  // The same segments once the list holds something.
  const auto on = WithList({stored.get()});
  EXPECT_TRUE(on->CheckIntervener(crossing.get()));
  EXPECT_TRUE(on->CheckIntervener(&reversed));
}

TEST(CheckIntervener, LocateLinesAreExempt) {
  const auto stored = OffsetLine({0, 2}, {10, 2});
  const auto engine = WithList({stored.get()});
  EXPECT_FALSE(engine->CheckIntervener(OffsetLine({5, -3}, {5, 7}, true).get()));
  EXPECT_TRUE(engine->CheckIntervener(OffsetLine({5, -3}, {5, 7}, false).get()));
  // The exemption comes before the reversal test.
  crc::CCrcLine reversedLocate({0, 0}, {10, 0}, crc::CRC_STATUS_DOING, crc::CRC_DIR_LEFT, true);
  reversedLocate.SetStartPointMoved({8, 2});
  reversedLocate.SetEndPointMoved({6, 2});
  EXPECT_FALSE(engine->CheckIntervener(&reversedLocate));
}

TEST(CheckIntervener, OnlyTheLastCapacityEntriesAreCompared) {
  const auto crossed = OffsetLine({0, 2}, {10, 2});
  const auto farAway = OffsetLine({100, 100}, {110, 100});
  const auto crossing = OffsetLine({5, -3}, {5, 7});
  EXPECT_FALSE(WithList({crossed.get(), farAway.get()}, 1)->CheckIntervener(crossing.get()));
  EXPECT_TRUE(WithList({crossed.get(), farAway.get()}, 2)->CheckIntervener(crossing.get()));
  // The list keeps clones: changing the host's segment afterwards changes nothing.
  auto changed = OffsetLine({0, 2}, {10, 2});
  const auto engine = WithList({changed.get()});
  changed->SetStartPointMoved({100, 2});
  changed->SetEndPointMoved({110, 2});
  EXPECT_TRUE(engine->CheckIntervener(crossing.get()));
}

// --- Reversal test --------------------------------------------------------------------------

TEST(CheckIntervener, ReversalOfTheOffsetChord) {
  const auto farAway = OffsetLine({100, 100}, {110, 100});
  const auto engine = WithList({farAway.get()});
  struct Case {
    const char* name;
    Point movedFrom, movedTo;
    bool interferes;
  };
  // Programmed from (0,0) to (10,0); the corners have trimmed the offset to these points.
  const std::vector<Case> cases = {
      {"trimmed but still eastward", {6, 2}, {8, 2}, false},
      {"trimmed past itself: runs west", {8, 2}, {6, 2}, true},
      {"shrunk to a point", {7, 2}, {7, 2}, false},
      {"westward but tilted (not parallel)", {8, 2}, {6, 3}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    crc::CCrcLine line({0, 0}, {10, 0}, crc::CRC_STATUS_DOING, crc::CRC_DIR_LEFT, false);
    line.SetStartPointMoved(c.movedFrom);
    line.SetEndPointMoved(c.movedTo);
    EXPECT_EQ(engine->CheckIntervener(&line), c.interferes);
  }
  // For an arc the chords are compared: programmed (5,0) -> (0,5), offset (0,3) -> (3,0).
  auto arc = OffsetArc({0, 0}, 3, 0, PI / 2);
  arc->SetStartPointMoved({0, 3});
  arc->SetEndPointMoved({3, 0});
  EXPECT_TRUE(engine->CheckIntervener(arc.get()));
}

// --- Line against stored line ---------------------------------------------------------------

TEST(CheckIntervener, NewLineAgainstStoredLine) {
  // The stored offset path runs from (0,2) to (10,2).
  const auto stored = OffsetLine({0, 2}, {10, 2});
  const auto engine = WithList({stored.get()});
  struct Case {
    const char* name;
    Point from, to;
    bool interferes;
  };
  const std::vector<Case> cases = {
      {"leaves from the stored end (the usual joint)", {10, 2}, {10, 12}, false},
      {"continues it collinearly from its end", {10, 2}, {15, 2}, false},
      {"ends exactly on the stored start", {0, -8}, {0, 2}, false},
      {"crosses it in the middle", {5, -3}, {5, 7}, true},
      {"ends on its middle", {5, -3}, {5, 2}, true},
      {"runs back over it from its end", {10, 2}, {5, 2}, true},
      {"crosses its line beyond its end", {12, -3}, {12, 7}, false},
      // collinear pieces that share no end-to-start joint are not seen by the bounded test
      {"collinear inside it, no shared end", {2, 2}, {8, 2}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(engine->CheckIntervener(OffsetLine(c.from, c.to).get()), c.interferes);
  }
}

// --- Line against stored arc, arc against stored line ---------------------------------------

TEST(CheckIntervener, NewLineAgainstStoredArc) {
  // Quarter: the offset arc about (10,5) of radius 3 from (10,2) to (13,5).
  const auto quarter = OffsetArc({10, 5}, 3, -PI / 2, PI / 2);
  // Half: about (10,5) of radius 3 from (10,2) through (13,5) to (10,8).
  const auto half = OffsetArc({10, 5}, 3, -PI / 2, PI);
  struct Case {
    const char* name;
    const crc::CCrcArc* stored;
    Point from, to;
    bool interferes;
  };
  const std::vector<Case> cases = {
      {"leaves tangentially from the stored end", quarter.get(), {13, 5}, {13, 10}, false},
      {"arrives tangentially at the stored start", quarter.get(), {0, 2}, {10, 2}, false},
      // y = 3.5 meets the circle at x = 10 +- sqrt(6.75); only the right point is on the arc
      {"crosses the stored arc once in its middle", quarter.get(), {8, 3.5}, {16, 3.5}, true},
      // x = 12 cuts the half circle at y = 5 -+ sqrt(5), both inside the arc
      {"cuts the stored arc twice", half.get(), {12, 0}, {12, 10}, true},
      // the chord joining the two ends of the stored arc meets it only at its ends
      {"chord between both stored ends", half.get(), {10, 0}, {10, 10}, false},
      // from the stored start to the stored arc's middle: the second common point counts
      {"chord from the stored start to its middle", half.get(), {10, 2}, {13, 5}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto engine = WithList({c.stored});
    EXPECT_EQ(engine->CheckIntervener(OffsetLine(c.from, c.to).get()), c.interferes);
  }
}

// The tool path of an arc: centre, offset radius, start angle, central angle, turning sense.
struct ArcPath {
  Point centre;
  double radius, start, sweep;
  bool ccw = true;
};

std::unique_ptr<crc::CCrcArc> Make(const ArcPath& a) {
  return OffsetArc(a.centre, a.radius, a.start, a.sweep, a.ccw);
}

TEST(CheckIntervener, NewArcAgainstStoredLine) {
  // The stored offset path runs from (0,2) to (10,2).
  const auto stored = OffsetLine({0, 2}, {10, 2});
  const auto engine = WithList({stored.get()});
  struct Case {
    const char* name;
    ArcPath arc;
    bool interferes;
  } const cases[] = {
      // tangent to y = 2 at (10,2) and at (0,2)
      {"leaves tangentially from the stored end", {{10, 5}, 3, -PI / 2, PI / 2}, false},
      {"arrives tangentially at the stored start", {{0, 5}, 3, PI, PI / 2}, false},
      // radius 1 about (5,2), right half from (5,1) to (5,3): crosses y = 2 at (6,2)
      {"crosses the stored line in its middle", {{5, 2}, 1, -PI / 2, PI}, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(engine->CheckIntervener(Make(c.arc).get()), c.interferes) << c.name;
  }
}

TEST(CheckIntervener, NewArcAgainstStoredArc) {
  // Stored offset arcs of radius 3 about the origin: a quarter from (3,0) to (0,3), a right
  // half from (0,-3) through (3,0) to (0,3), and an upper half from (3,0) to (-3,0).
  const auto quarter = OffsetArc({0, 0}, 3, 0, PI / 2);
  const auto rightHalf = OffsetArc({0, 0}, 3, -PI / 2, PI);
  const auto upperHalf = OffsetArc({0, 0}, 3, 0, PI);
  struct Case {
    const char* name;
    const crc::CCrcArc* stored;
    ArcPath arc;
    bool interferes;
  } const cases[] = {
      // one circle
      {"same circle, chained at the stored end", quarter.get(), {{0, 0}, 3, PI / 2, PI / 2}, false},
      {"same circle, overlapping", quarter.get(), {{0, 0}, 3, PI / 4, PI / 2}, true},
      {"same circle, running back", quarter.get(), {{0, 0}, 3, PI / 2, PI / 4, false}, true},
      {"same circle, apart", quarter.get(), {{0, 0}, 3, PI, PI / 4}, false},
      // two halves closing the circle meet only at the stored ends
      {"same circle, closing it", upperHalf.get(), {{0, 0}, 3, PI, PI}, false},
      // circles of radius 3 with centres 4 apart cross at (2, +-sqrt 5)
      {"crossing twice", rightHalf.get(), {{4, 0}, 3, PI / 2, PI}, true},
      // circles about (0,0) and (6,0) touch at (3,0): the quarter's start, the half's middle
      {"touching at the stored start", quarter.get(), {{6, 0}, 3, PI / 2, PI / 2}, false},
      {"touching the stored middle", rightHalf.get(), {{6, 0}, 3, PI / 2, PI / 2}, true},
  };
  for (const Case& c : cases) {
    const auto engine = WithList({c.stored});
    EXPECT_EQ(engine->CheckIntervener(Make(c.arc).get()), c.interferes) << c.name;
  }
}

}  // namespace
