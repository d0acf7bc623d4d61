// SPDX-License-Identifier: MIT
// Every way start-up, corner connection and cancel refuse a contour: the message stored (or none),
// what stays written in the segments, and that the host's sequence stays whole (run under LSan).
#include <functional>
#include <optional>

#include "compensator/messages.h"
#include "list_host.h"
#include "test_support.h"

namespace {

using crc::CRC_DIR_LEFT;
using crc::CRC_DIR_NONE;
using crc::CRC_STATUS_DOING;
using crc::CRC_STATUS_ESTABLISH;
using crc::CRC_STATUS_RETRACT;
using cutcomp::HostNotice;
using cutcomp::HostRun;
using cutcomp::test::Arc;
using cutcomp::test::Line;
using cutcomp::test::PointEq;
using cutcomp::test::PointNear;
using cutcomp::test::RecordingTranslator;
using Point = crc::__point2<double>;
using Program = std::vector<std::unique_ptr<crc::CCrcNode>>;

constexpr auto S = CRC_STATUS_ESTABLISH;
constexpr auto D = CRC_STATUS_DOING;
constexpr auto R = CRC_STATUS_RETRACT;
constexpr auto LEFT = CRC_DIR_LEFT;

// A point whose x is unset while its y is set: the one value the point setters refuse.
Point HalfUnset(double y) { return Point(crc::INVALID_VALUE, y); }

// A line that carries values no well-behaved host produces: a half-unset intersect point, or
// offset points that its CrcMove overwrites after computing them. The fields are written
// directly, past the setters, as a corrupted host segment would hold them.
class PlantedLine : public crc::CCrcLine {
public:
  using CCrcLine::CCrcLine;
  std::optional<Point> startMoved;
  std::optional<Point> endMoved;

  void PlantIntersect(const Point& p) { m_IntersectPoint = p; }
  bool CrcMove(const double& radius) override {
    const bool ok = CCrcLine::CrcMove(radius);
    if (startMoved)
      m_StartPointMoved = *startMoved;
    if (endMoved)
      m_EndPointMoved = *endMoved;
    return ok;
  }
  crc::CCrcNode* Clone() const override { return new PlantedLine(*this); }
};

// The compensator with the strategy routines opened as well.
class Steps : public cutcomp::test::OpenCompensator {
public:
  using CCutterCompensator::CrcEstablish_Insert;
  using CCutterCompensator::CrcEstablish_Intersect;
  using CCutterCompensator::CrcEstablish_Normal;
  using CCutterCompensator::CrcPreRetract_Insert;
  using CCutterCompensator::CrcPreRetract_Intersect;
  using CCutterCompensator::CrcPreRetract_Normal;
  using OpenCompensator::OpenCompensator;
};

template <typename... T>
Program MakeProgram(std::unique_ptr<T>... nodes) {
  Program program;
  (program.push_back(std::move(nodes)), ...);
  return program;
}

void ExpectMessage(const crc::CCutterCompensator& engine, int code) {
  EXPECT_EQ(engine.GetLatestErrorCode(), code);
  if (code == 0) {
    EXPECT_EQ(engine.GetLatestError(), "");
  } else {
    ASSERT_NE(crc::FindMessage(code), nullptr);
    EXPECT_EQ(engine.GetLatestError(), crc::FindMessage(code)->text);
  }
}

// The refused segment: the first pending one, past any lines inserted in front of it.
const cutcomp::HostSegment* Refused(const HostRun& run) {
  for (const auto& s : run.pending) {
    if (s.inserted == run.failure.inserted && s.id == run.failure.id)
      return &s;
    if (!s.inserted)
      return nullptr;
  }
  return nullptr;
}

// After a refusal the host still holds one well-formed sequence: the programmed segments it has
// pulled appear once each and in program order (the final ones, then the refused one and those
// after it), every inserted copy sits next to the segment it was inserted for, and every final
// programmed segment is compensated.
void ExpectSequenceWhole(const HostRun& run) {
  std::vector<const cutcomp::HostSegment*> all;
  for (const auto& s : run.segments)
    all.push_back(&s);
  for (const auto& s : run.pending)
    all.push_back(&s);
  std::int64_t expectedId = 0;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i]->inserted) {
      // Walk over the copies made for the same anchor; the anchor must follow or precede.
      std::size_t j = i;
      while (j < all.size() && all[j]->inserted && all[j]->id == all[i]->id)
        ++j;
      std::size_t k = i;
      while (k > 0 && all[k - 1]->inserted && all[k - 1]->id == all[i]->id)
        --k;
      const bool anchorAfter = j < all.size() && !all[j]->inserted && all[j]->id == all[i]->id;
      const bool anchorBefore = k > 0 && !all[k - 1]->inserted && all[k - 1]->id == all[i]->id;
      EXPECT_TRUE(anchorAfter || anchorBefore)
          << "inserted copy " << i << " is away from " << all[i]->id;
      continue;
    }
    EXPECT_EQ(all[i]->id, expectedId) << "programmed segments out of order at " << i;
    expectedId = all[i]->id + 1;
  }
  for (const auto& s : run.segments) {
    EXPECT_TRUE(s.node->HasBeenCrc()) << "final segment " << s.id << " not compensated";
  }
  if (!run.ok) {
    // Lines the refused call inserted before its segment may sit ahead of it.
    const cutcomp::HostSegment* refused = Refused(run);
    ASSERT_NE(refused, nullptr);
    EXPECT_EQ(refused->id, run.failure.id);
  }
}

// Whole programs refused through AdjustNode, as a host meets them.
struct HostCase {
  const char* name;
  crc::crc_t strategy;
  unsigned int lookBehind;
  bool evade;
  bool established;  // the compensator was established by an earlier run
  std::function<Program()> build;
  int code;                   // message number, 0 for a silent failure
  std::int64_t failedId;      // the segment AdjustNode refused
  bool failedCompensated;     // whether that segment carries the compensated flag afterwards
  unsigned int listCount;     // clones in the look-behind list afterwards
  std::size_t insertNotices;  // lines inserted before the failure
};

// S north into the contour at (0,0), D1 east; the first two segments of most cases.
Program StartAndEast() {
  return MakeProgram(Line({0, -5}, {0, 0}, S, LEFT), Line({0, 0}, {10, 0}, D, LEFT));
}
template <typename... T>
Program StartAndEastThen(std::unique_ptr<T>... rest) {
  Program program = StartAndEast();
  (program.push_back(std::move(rest)), ...);
  return program;
}
// D3's offset crosses D1's offset y=1 at x ~ 8.05; the cancel segment comes straight after D3.
Program CrossingThenCancel() {
  return StartAndEastThen(Line({10, 0}, {10, 6}), Line({10, 6}, {5, -2}),
                          Line({0, -2}, {0, -5}, R, LEFT));
}

std::vector<HostCase> HostCases() {
  using crc::CRC_TYPE_INSERT;
  using crc::CRC_TYPE_NORMAL;
  const auto outOfRange = static_cast<crc::crc_t>(7);
  return {
      // Start-up.
      {"StartupStrategyOutOfRange", outOfRange, 3, false, false,
       [] {
         return StartAndEastThen(Line({10, 0}, {10, 10}, R, LEFT));
       },
       0, 0, true, 0, 0},
      {"NormalStartupStartRefused", CRC_TYPE_NORMAL, 3, false, false,
       [] {
         return MakeProgram(Line(HalfUnset(-5), {0, 0}, S, LEFT), Line({0, 0}, {10, 0}),
                            Line({10, 0}, {10, 10}, R, LEFT));
       },
       3, 0, true, 0, 0},
      // D1's offset start (0,1) is where the start-up line already begins.
      {"NormalStartupZeroLength", CRC_TYPE_NORMAL, 3, false, false,
       [] {
         return MakeProgram(Line({0, 1}, {0, 0}, S, LEFT), Line({0, 0}, {10, 0}),
                            Line({10, 0}, {10, 10}, R, LEFT));
       },
       3, 0, true, 0, 0},
      // Without a side the start-up line has no offset, so its approach line has no length.
      {"InsertStartupApproachZeroLength", CRC_TYPE_INSERT, 3, false, false,
       [] {
         return MakeProgram(Line({1, -5}, {0, 0}, S, CRC_DIR_NONE), Line({0, 0}, {10, 0}),
                            Line({10, 0}, {10, 10}, R, LEFT));
       },
       10, 0, true, 0, 0},
      // The inserting start-up finishes S through the corner connection, which fails against an
      // arc far from S's end (see CornerIntersectionFails); the approach line is already in.
      {"InsertStartupConnectionFails", CRC_TYPE_INSERT, 3, false, false,
       [] {
         return MakeProgram(Line({0, 0}, {10, 0}, S, LEFT),
                            Arc({50, 50}, {45, 50}, {50, 55}, false),
                            Line({50, 55}, {60, 60}, R, LEFT));
       },
       12, 0, true, 0, 1},
      // Corner connection. An arc far from D1's end that starts northward: an inside corner by
      // its tangents, but D1's offset y=1 never reaches the offset circle.
      {"CornerIntersectionFails", CRC_TYPE_NORMAL, 3, false, false,
       [] {
         return StartAndEastThen(Arc({50, 50}, {45, 50}, {50, 55}, false),
                                 Line({50, 55}, {60, 60}, R, LEFT));
       },
       12, 1, false, 0, 0},
      // A slot exactly as wide as the tool: both trims of its floor meet at (1,1).
      {"CornerOffsetLineZeroLength", CRC_TYPE_NORMAL, 3, false, false,
       [] {
         return MakeProgram(Line({-5, 15}, {0, 10}, S, LEFT), Line({0, 10}, {0, 0}),
                            Line({0, 0}, {2, 0}), Line({2, 0}, {2, 10}),
                            Line({2, 10}, {5, 15}, R, LEFT));
       },
       8, 2, false, 1, 0},
      // Cancel.
      {"CancelStrategyOutOfRange", outOfRange, 3, false, true,
       [] {
         return MakeProgram(Line({0, 0}, {10, 0}), Line({10, 0}, {10, 10}, R, LEFT));
       },
       0, 0, true, 1, 0},
      {"CancelArcNormal", CRC_TYPE_NORMAL, 3, false, false,
       [] {
         return StartAndEastThen(Arc({10, 5}, {10, 0}, {15, 5}, true, R, LEFT));
       },
       9, 1, true, 1, 0},
      {"EndOfSequenceClosingLineZeroLength", CRC_TYPE_NORMAL, 3, false, true,
       [] {
         return MakeProgram(Line({0, 0}, {10, 0}, D, CRC_DIR_NONE));
       },
       10, 0, false, 0, 0},
      {"PreRetractInterference", CRC_TYPE_NORMAL, 3, false, false, CrossingThenCancel, 12, 3, true,
       2, 0},
      {"CancelEndRefused", CRC_TYPE_NORMAL, 3, false, false,
       [] {
         return StartAndEastThen(Line({10, 0}, HalfUnset(-5), R, LEFT));
       },
       15, 2, false, 1, 0},
      // The inserting cancel connects D1 to R first; a failed strategy routine still leaves D1
      // compensated and listed. (S is listed too: the inserting start-up finishes it.)
      {"InsertCancelConnectionFails", CRC_TYPE_INSERT, 3, false, false,
       [] {
         return StartAndEastThen(Arc({50, 50}, {45, 50}, {50, 55}, false, R, LEFT));
       },
       12, 1, true, 2, 1},
      // A cancel arc too small on its inner side is already refused by validation while D1 is
      // adjusted, before any cancel routine runs.
      {"InsertCancelArcTooSmall", CRC_TYPE_INSERT, 3, false, false,
       [] {
         return StartAndEastThen(Arc({10.5, 0}, {10, 0}, {11, 0}, true, R, LEFT));
       },
       5, 1, false, 1, 1},
  };
}

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const HostCase& c, std::ostream* os) { *os << c.name; }

class HostRefusal : public ::testing::TestWithParam<HostCase> {};

TEST_P(HostRefusal, StoresItsMessageAndKeepsTheSequenceWhole) {
  const HostCase& c = GetParam();
  crc::CCutterCompensator engine(1.0, nullptr, c.lookBehind, c.strategy);
  engine.SetInterveneEvade(c.evade);
  engine.SetEstablish(c.established);
  const HostRun run = cutcomp::RunProgram(engine, c.build());

  EXPECT_FALSE(run.ok);
  ExpectMessage(engine, c.code);
  EXPECT_EQ(run.failure.code, c.code);
  EXPECT_EQ(run.failure.id, c.failedId);
  ExpectSequenceWhole(run);
  const cutcomp::HostSegment* refused = Refused(run);
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(refused->node->HasBeenCrc(), c.failedCompensated);
  EXPECT_EQ(engine.GetListCount(), c.listCount);
  std::size_t inserts = 0;
  for (const HostNotice& n : run.notices) {
    if (n.kind == HostNotice::INSERT_BEFORE || n.kind == HostNotice::INSERT_AFTER)
      ++inserts;
    EXPECT_NE(n.kind, HostNotice::FINISH);
  }
  // The inserting start-up's approach line (or nothing at all) is the only insertion before
  // these failures.
  EXPECT_EQ(inserts, c.insertNotices);
}

std::string CaseName(const ::testing::TestParamInfo<HostCase>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(Paths, HostRefusal, ::testing::ValuesIn(HostCases()), CaseName);

// A refused start-up still marks the segment and the compensator: a later pass over the same
// segment comes back true at once, and segments in progress are accepted.
TEST(StartupFailure, StillMarksSegmentAndEstablishes) {
  RecordingTranslator host;
  Steps engine(1.0, &host, 3, crc::CRC_TYPE_NORMAL);
  auto start = Line({0, -5}, {0, 0}, S);
  // Right of a clockwise arc is its inner side: offset radius 0.5 - 1.
  auto tooSmall = Arc({0.5, 0}, {0, 0}, {0.5, 0.5}, false, D, crc::CRC_DIR_RIGHT);
  EXPECT_FALSE(engine.CrcEstablish(start.get(), tooSmall.get()));
  ExpectMessage(engine, 3);
  EXPECT_TRUE(start->HasBeenCrc());
  EXPECT_TRUE(engine.GetEstablish());
  host.sequence = {start.get(), tooSmall.get()};
  EXPECT_TRUE(engine.AdjustNode(start.get()));
}

TEST(StartupFailure, EachStrategyRoutineStoresStartupFailed) {
  RecordingTranslator host;
  {
    // Normal: the successor's offset start is half unset, so the start-up line cannot end there.
    Steps engine(1.0, &host, 3, crc::CRC_TYPE_NORMAL);
    auto start = Line({0, -5}, {0, 0}, S);
    PlantedLine next({0, 0}, {10, 0}, D, LEFT, false);
    next.startMoved = HalfUnset(1);
    EXPECT_FALSE(engine.CrcEstablish_Normal(start.get(), &next));
    ExpectMessage(engine, 3);
  }
  {
    // Intersecting, with no successor to intersect with.
    Steps engine(1.0, &host, 3, crc::CRC_TYPE_INTERSECT);
    auto start = Line({0, -5}, {0, 0}, S);
    EXPECT_FALSE(engine.CrcEstablish(start.get(), nullptr));
    ExpectMessage(engine, 3);
  }
  {
    // Inserting, with a start-up arc the cutter cannot follow on its inner side: nothing is
    // inserted.
    Steps engine(1.0, &host, 3, crc::CRC_TYPE_INSERT);
    auto start = Arc({0, 0.5}, {0, 0}, {0.5, 0.5}, true, S, LEFT);
    auto next = Line({0.5, 0.5}, {10, 0.5});
    EXPECT_FALSE(engine.CrcEstablish(start.get(), next.get()));
    ExpectMessage(engine, 3);
    EXPECT_TRUE(host.inserted.empty());
  }
}

// The corner connection's own refusals, driven on the step itself.
TEST(CornerFailure, RefusedPointsNameTheirPoint) {
  RecordingTranslator host;
  {
    // Tangent joint whose successor starts half unset: the first segment cannot end there.
    Steps engine(1.0, &host, 3, crc::CRC_TYPE_NORMAL);
    auto prev = Line({0, 0}, {10, 0});
    PlantedLine next({10, 0}, {20, 0}, D, LEFT, false);
    next.startMoved = HalfUnset(1);
    EXPECT_FALSE(engine.CalculateConnection(prev.get(), &next));
    ExpectMessage(engine, 15);
  }
  {
    // A line 0.003 long trimmed behind its start hands its plain offset start on as the
    // successor's intersect point; here that point is half unset.
    Steps engine(1.0, &host, 3, crc::CRC_TYPE_NORMAL);
    PlantedLine prev({0, 0}, {0.003, 0}, D, LEFT, false);
    prev.startMoved = HalfUnset(1);
    auto next = Line({0.003, 0}, {0.003, 10});
    EXPECT_FALSE(engine.CalculateConnection(&prev, next.get()));
    ExpectMessage(engine, 7);
    EXPECT_THAT(prev.GetEndPointMoved(), PointNear(Point(-0.997, 1), 1e-12));  // not rolled back
  }
  {
    // The first segment's intersect point is half unset: its offset cannot start there.
    Steps engine(1.0, &host, 3, crc::CRC_TYPE_NORMAL);
    PlantedLine prev({0, 0}, {10, 0}, D, LEFT, false);
    prev.PlantIntersect(HalfUnset(1));
    auto next = Line({10, 0}, {10, 10});
    EXPECT_FALSE(engine.CalculateConnection(&prev, next.get()));
    ExpectMessage(engine, 14);
    EXPECT_THAT(next->GetIntersectPoint(), PointEq(Point(9, 1)));
  }
}

// The trim guard's 0.004 boundary, through a whole program with the interference check off:
// a 0.005 line is refused, a 0.003 line passes, its trimmed end kept and its plain offset start
// handed on to the successor.
TEST(CornerFailure, TrimGuardBoundaryAtFourThousandths) {
  for (const double length : {0.005, 0.003}) {
    SCOPED_TRACE(length);
    crc::CCutterCompensator engine(1.0, nullptr, 0, crc::CRC_TYPE_NORMAL);
    const HostRun run = cutcomp::RunProgram(
        engine, StartAndEastThen(Line({10, 0}, {10, length}), Line({10, length}, {0, length}),
                                 Line({0, length}, {0, 5}, R, LEFT)));
    ExpectSequenceWhole(run);
    if (length > 0.004) {
      EXPECT_FALSE(run.ok);
      EXPECT_EQ(run.failure.id, 2);
      ExpectMessage(engine, 12);
      continue;
    }
    ASSERT_TRUE(run.ok) << run.failure.message;
    ASSERT_EQ(run.segments.size(), 5U);
    const crc::CCrcNode& shortLine = *run.segments[2].node;
    EXPECT_THAT(shortLine.GetStartPointMoved(), PointNear(Point(9, 1), 1e-12));
    EXPECT_THAT(shortLine.GetEndPointMoved(), PointNear(Point(9, length - 1), 1e-12));
    EXPECT_THAT(run.segments[3].node->GetStartPointMoved(), PointNear(Point(9, 0), 1e-12));
  }
}

TEST(CornerFailure, InsertLineBeforeRefusals) {
  const Point bad = HalfUnset(3);
  const Point unset(crc::INVALID_VALUE, crc::INVALID_VALUE);
  {
    // A line extended to a refused point: nothing inserted.
    RecordingTranslator host;
    Steps engine(1.0, &host, 3, crc::CRC_TYPE_NORMAL);
    auto prev = Line({0, 0}, {10, 0});
    auto next = Line({10, 0}, {10, -10});
    prev->CrcMove(1.0);
    next->CrcMove(1.0);
    EXPECT_FALSE(engine.InsertLineBefore(prev.get(), next.get(), bad, unset, crc::CONNECT_EXTEND));
    ExpectMessage(engine, 15);
    EXPECT_TRUE(host.inserted.empty());
  }
  {
    // An arc before a line: the arc's bridge is inserted first, then the line cannot start at
    // the refused point; the inserted line stays (nothing is rolled back).
    RecordingTranslator host;
    Steps engine(1.0, &host, 3, crc::CRC_TYPE_NORMAL);
    auto prev = Arc({10, 5}, {10, 0}, {15, 5}, true);
    auto next = Line({15, 5}, {25, 5});
    prev->CrcMove(1.0);
    next->CrcMove(1.0);
    EXPECT_FALSE(engine.InsertLineBefore(prev.get(), next.get(), bad, unset, crc::CONNECT_EXTEND));
    ExpectMessage(engine, 14);
    EXPECT_EQ(host.inserted.size(), 1U);
  }
  for (const crc::connect_t type :
       {crc::CONNECT_SHORTEN, crc::CONNECT_TANGENT, crc::CONNECT_NONE}) {
    RecordingTranslator host;
    Steps engine(1.0, &host, 3, crc::CRC_TYPE_NORMAL);
    auto prev = Line({0, 0}, {10, 0});
    auto next = Line({10, 0}, {10, 10});
    EXPECT_FALSE(engine.InsertLineBefore(prev.get(), next.get(), Point(9, 1), Point(9, 1), type));
    ExpectMessage(engine, 11);
    EXPECT_TRUE(host.inserted.empty());
  }
}

// A refused extension inside the corner connection is stored but does not stop it: the
// connection goes on and succeeds, leaving message 15 as the latest error.
TEST(CornerFailure, RefusedExtensionIsStoredButIgnoredByTheConnection) {
  // East-north-east (0.8, 0.6) into east-south-east (0.8, -0.6), tool left: an outside corner
  // of 73.7 deg whose meeting point lies straight above the corner (the two normals' x parts
  // cancel). With the corner's x unset, so is the meeting point's.
  RecordingTranslator host;
  Steps engine(1.0, &host, 3, crc::CRC_TYPE_NORMAL);
  auto prev = Line({-8, -6}, Point(crc::INVALID_VALUE, 0));
  auto next = Line({0, 0}, {8, -6});
  EXPECT_TRUE(engine.CalculateConnection(prev.get(), next.get()));
  ExpectMessage(engine, 15);
}

// Corner and cancel routines refuse missing segments without a message.
TEST(StepFailure, NullSegmentsFailSilently) {
  Steps engine(1.0, nullptr, 3, crc::CRC_TYPE_NORMAL);
  auto line = Line({0, 0}, {10, 0});
  auto cancel = Line({10, 0}, {10, 10}, R);
  EXPECT_FALSE(engine.CalculateConnection(nullptr, line.get()));
  EXPECT_FALSE(engine.CalculateConnection(line.get(), nullptr));
  EXPECT_FALSE(engine.CrcPreRetract(nullptr, cancel.get()));
  EXPECT_FALSE(engine.CrcPreRetract_Normal(line.get(), nullptr));
  EXPECT_FALSE(engine.CrcPreRetract_Normal(nullptr, cancel.get()));
  EXPECT_FALSE(engine.CrcPreRetract_Intersect(line.get(), nullptr));
  EXPECT_FALSE(engine.CrcPreRetract_Intersect(nullptr, cancel.get()));
  EXPECT_FALSE(engine.CrcPreRetract_Insert(line.get(), nullptr));
  EXPECT_FALSE(engine.CrcPreRetract_Insert(nullptr, cancel.get()));
  ExpectMessage(engine, 0);
  EXPECT_FALSE(line->HasBeenCrc());
}

// Cancel.
TEST(CancelFailure, NormalCancelLastSegmentCannotBeOffset) {
  RecordingTranslator host;
  {
    Steps engine(1.0, &host, 3, crc::CRC_TYPE_NORMAL);
    auto last = Arc({0, 0.5}, {0, 0}, {0.5, 0.5}, true);  // inside, radius 0.5 < 1
    auto cancel = Line({0.5, 0.5}, {5, 5}, R);
    EXPECT_FALSE(engine.CrcPreRetract_Normal(last.get(), cancel.get()));
    ExpectMessage(engine, 8);
  }
  {
    Steps engine(1.0, &host, 3, crc::CRC_TYPE_NORMAL);
    PlantedLine last({0, 0}, {10, 0}, D, LEFT, false);
    last.PlantIntersect(HalfUnset(1));
    auto cancel = Line({10, 0}, {10, -5}, R);
    EXPECT_FALSE(engine.CrcPreRetract_Normal(&last, cancel.get()));
    ExpectMessage(engine, 8);
    // The cancel path's start was fixed before the refusal and stays.
    EXPECT_THAT(cancel->GetIntersectPoint(), PointNear(Point(10, 1), 1e-12));
  }
}

// Called on its own, the inserting cancel meets an arc it cannot offset inside the corner
// connection, which offsets the cancel segment first and reports the unreasonable radius.
TEST(CancelFailure, InsertCancelArcCannotBeOffset) {
  RecordingTranslator host;
  Steps engine(1.0, &host, 3, crc::CRC_TYPE_INSERT);
  auto last = Line({0, 0}, {10, 0});
  auto cancel = Arc({10.5, 0}, {10, 0}, {11, 0}, true, R, LEFT);
  EXPECT_FALSE(engine.CrcPreRetract_Insert(last.get(), cancel.get()));
  ExpectMessage(engine, 5);
  EXPECT_TRUE(host.inserted.empty());
}

TEST(CancelFailure, InsertCancelClosingLineZeroLength) {
  RecordingTranslator host;
  Steps engine(1.0, &host, 3, crc::CRC_TYPE_INSERT);
  auto last = Line({0, 0}, {10, 0});
  PlantedLine cancel({10, 0}, {10, -10}, R, LEFT, false);
  cancel.endMoved = Point(10, -10);  // its offset ends on its programmed end
  host.sequence = {last.get(), &cancel};
  EXPECT_FALSE(engine.CrcPreRetract_Insert(last.get(), &cancel));
  ExpectMessage(engine, 10);
  for (bool before : host.insertedBefore)
    EXPECT_TRUE(before);  // no closing line after
  EXPECT_FALSE(cancel.HasBeenCrc());
}

TEST(CancelFailure, RetractRefusesHalfUnsetStart) {
  Steps engine(1.0, nullptr, 3, crc::CRC_TYPE_NORMAL);
  engine.AddToList(Line({0, 0}, {10, 0}).get());
  PlantedLine cancel({10, 0}, {10, -10}, R, LEFT, false);
  cancel.PlantIntersect(HalfUnset(1));
  EXPECT_FALSE(engine.CrcRetract(&cancel));
  ExpectMessage(engine, 14);
  EXPECT_FALSE(cancel.HasBeenCrc());
  EXPECT_EQ(engine.GetListCount(), 1U);  // emptied only on success
}

// A failure never clears an earlier message by itself storing nothing, and a later success
// never clears a stored one.
TEST(FailureMessages, SilentFailureAndSuccessKeepTheLatestMessage) {
  crc::CCutterCompensator engine(1.0, nullptr, 3, crc::CRC_TYPE_NORMAL);
  HostRun run = cutcomp::RunProgram(
      engine, MakeProgram(Line({0, -5}, {0, 0}, S, LEFT), Line({0, 0}, {5, 5}, R, LEFT)));
  EXPECT_FALSE(run.ok);
  ExpectMessage(engine, 13);
  engine.SetCrcType(static_cast<crc::crc_t>(7));
  run = cutcomp::RunProgram(engine, StartAndEastThen(Line({10, 0}, {10, 10}, R, LEFT)));
  EXPECT_FALSE(run.ok);
  ExpectMessage(engine, 13);
  engine.SetCrcType(crc::CRC_TYPE_NORMAL);
  run = cutcomp::RunProgram(engine, StartAndEastThen(Line({10, 0}, {10, 10}, R, LEFT)));
  EXPECT_TRUE(run.ok);
  ExpectMessage(engine, 13);
}

}  // namespace
