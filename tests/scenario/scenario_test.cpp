// SPDX-License-Identifier: MIT
// Runs every whole-contour fixture through the list-backed host and compares what a host sees:
// the tool-centre path, the notices, the refusal and its message, the look-behind count, and
// that the host's sequence stays whole. Set CUTCOMP_SCENARIO_FIXTURES to a folder or a single
// file to replay contours (a property test prints failing ones as fixtures) without rebuilding.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "compensator/messages.h"
#include "fixture.h"
#include "list_host.h"
#include "tool_path.h"

namespace cutcomp::test {

struct Settings {
  Value radius;
  crc::crc_t strategy = crc::CRC_TYPE_NORMAL;
  unsigned int lookBehind = 3;
  bool evade = false;
  int preRetract = 0;
  bool established = false;  // as left by an earlier run
  Value tolerance{1e-6};
  // The engine's extensions, all off as documented.
  bool camTolerance = false;
  bool closureTolerance = false;
  bool startInPlace = false;
  bool arcStartup = false;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Settings, radius, strategy, lookBehind, evade,
                                                preRetract, established, tolerance, camTolerance,
                                                closureTolerance, startInPlace, arcStartup)

// Where and how the engine refused the contour; `compensated` (when given) is the refused
// segment's flag afterwards.
struct Refusal {
  int message = 0;
  std::int64_t segment = -1;
  bool inserted = false;
  Json compensated;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Refusal, message, segment, inserted, compensated)

// A passing case needs the path and the notices; a refused one may give what was final before
// the refusal. `continuous` false marks the few paths the engine leaves broken by design.
struct Expectation {
  Json failure;
  Json path;
  Json notices;
  Json listCount;
  bool continuous = true;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Expectation, failure, path, notices, listCount,
                                                continuous)

namespace {

std::string NoticeText(const HostNotice& n) {
  switch (n.kind) {
  case HostNotice::INSERT_BEFORE:
    return "before " + std::to_string(n.anchorId);
  case HostNotice::INSERT_AFTER:
    return "after " + std::to_string(n.anchorId);
  case HostNotice::SET_END_POINT:
    return "end";
  case HostNotice::FINISH:
    return "finish";
  }
  return "?";
}

void ComparePiece(const Json& expected, const PathPiece& actual, double tolerance) {
  SCOPED_TRACE("expected " + expected.dump() + ", got " + Describe(actual));
  ASSERT_EQ(actual.dropped, expected.value("dropped", false));
  if (actual.dropped) {
    return;
  }
  const bool arc = expected.contains("arc");
  EXPECT_EQ(actual.tool.arc, arc);
  EXPECT_EQ(actual.inserted, expected.value("inserted", false));
  const Json& ends = expected.at(arc ? "arc" : "line");
  ExpectPoint(actual.tool.from, ends.at(0).get<Point>(), tolerance, "start");
  ExpectPoint(actual.tool.to, ends.at(1).get<Point>(), tolerance, "end");
  if (expected.contains("centre")) {
    ExpectPoint(actual.tool.centre, expected["centre"].get<Point>(), tolerance, "centre");
  }
  if (expected.contains("radius")) {
    EXPECT_NEAR(actual.tool.radius, Number(expected["radius"]), tolerance);
  }
  if (expected.contains("sense")) {
    EXPECT_EQ(actual.tool.ccw, expected["sense"] == "ccw");
  }
  if (expected.contains("phase")) {
    EXPECT_EQ(actual.phase, expected["phase"].get<crc::crc_status_t>());
  }
  if (expected.contains("side")) {
    EXPECT_EQ(actual.side, expected["side"].get<crc::crc_dir_t>());
  }
}

void ComparePath(const Json& expected, const std::vector<PathPiece>& actual, double tolerance) {
  std::string listing;
  for (const PathPiece& piece : actual) {
    listing += "\n  " + Describe(piece);
  }
  ASSERT_EQ(actual.size(), expected.size()) << "tool path:" << listing;
  for (std::size_t i = 0; i < actual.size(); ++i) {
    SCOPED_TRACE("piece " + std::to_string(i));
    ComparePiece(expected[i], actual[i], tolerance);
  }
}

void CompareNotices(const Json& expected, const std::vector<HostNotice>& actual, double tolerance) {
  std::string listing;
  for (const HostNotice& n : actual) {
    listing += " " + NoticeText(n);
  }
  ASSERT_EQ(actual.size(), expected.size()) << "notices:" << listing;
  for (std::size_t i = 0; i < actual.size(); ++i) {
    if (expected[i].is_object()) {
      EXPECT_EQ(NoticeText(actual[i]), "end");
      ExpectPoint(Point(actual[i].x, actual[i].y), expected[i].at("end").get<Point>(), tolerance,
                  "end point");
    } else {
      EXPECT_EQ(NoticeText(actual[i]), expected[i].get<std::string>()) << "notice " << i;
    }
  }
}

// The host still holds one well-formed sequence after the run: the programmed segments it
// pulled appear once each and in order (the final ones, then the refused one and those after
// it), and every inserted copy sits next to the segment it was inserted for.
void ExpectSequenceWhole(const HostRun& run) {
  std::vector<PathPiece> all = ReadPath(run.segments);
  for (PathPiece& piece : ReadPath(run.pending)) {
    all.push_back(piece);
  }
  const auto broken = FirstOutOfSequence(all);
  EXPECT_FALSE(broken.has_value()) << "the host's sequence breaks at " << Describe(all[*broken]);
  if (!all.empty() && !all.front().inserted) {
    EXPECT_EQ(all.front().id, 0);
  }
}

std::vector<Row> Fixtures() {
  const char* overridden = std::getenv("CUTCOMP_SCENARIO_FIXTURES");
  const std::string root = overridden != nullptr ? overridden : CUTCOMP_FIXTURES;
  return std::filesystem::is_directory(root) ? LoadFolder(root) : LoadRows(root);
}

class Scenario : public ::testing::TestWithParam<Row> {};

TEST_P(Scenario, HostSeesWhatTheFixtureSays) {
  const Json& fixture = GetParam().data;
  SCOPED_TRACE(fixture.value("comment", "").substr(0, 300));
  const auto settings = fixture.at("settings").get<Settings>();
  const auto expect = fixture.at("expect").get<Expectation>();
  const double tolerance = settings.tolerance.value;

  crc::CCutterCompensator engine(settings.radius.value, nullptr, settings.lookBehind,
                                 settings.strategy);
  engine.SetInterveneEvade(settings.evade);
  engine.SetCrcPreRetractOption(settings.preRetract);
  engine.SetEstablish(settings.established);
  engine.SetCamTolerance(settings.camTolerance);
  engine.SetClosureTolerance(settings.closureTolerance);
  engine.SetStartInPlace(settings.startInPlace);
  engine.SetArcStartup(settings.arcStartup);
  std::vector<std::unique_ptr<crc::CCrcNode>> program;
  for (const Json& item : fixture.at("segments")) {
    program.push_back(MakeSegment(item));
  }
  const HostRun run = RunProgram(engine, std::move(program));
  const std::vector<PathPiece> path = ReadPath(run.segments);

  ExpectSequenceWhole(run);
  if (!expect.failure.is_null()) {
    const auto refusal = expect.failure.get<Refusal>();
    EXPECT_FALSE(run.ok) << "the engine accepted a contour the fixture expects it to refuse";
    EXPECT_EQ(run.failure.code, refusal.message) << run.failure.message;
    const crc::MessageEntry* entry = crc::FindMessage(refusal.message);
    EXPECT_EQ(engine.GetLatestError(), entry != nullptr ? entry->text : "");
    EXPECT_EQ(run.failure.id, refusal.segment);
    EXPECT_EQ(run.failure.inserted, refusal.inserted);
    if (!refusal.compensated.is_null()) {
      const HostSegment* refused = nullptr;
      for (const HostSegment& s : run.pending) {
        if (s.inserted == run.failure.inserted && s.id == run.failure.id) {
          refused = &s;
          break;
        }
      }
      ASSERT_NE(refused, nullptr);
      EXPECT_EQ(refused->node->HasBeenCrc(), refusal.compensated.get<bool>());
    }
  } else {
    ASSERT_TRUE(run.ok) << "refused at segment " << run.failure.id << " with message "
                        << run.failure.code << " (" << run.failure.message << ")";
    ASSERT_FALSE(expect.path.is_null() || expect.notices.is_null())
        << "a passing case needs both \"path\" and \"notices\"";
    const auto gap = FirstBreak(path, std::max(1e-6, tolerance));
    EXPECT_EQ(gap.has_value(), !expect.continuous)
        << "tool path breaks after " << (gap ? Describe(path[*gap]) : "nothing");
    for (const HostSegment& segment : run.segments) {
      EXPECT_TRUE(segment.node->HasBeenCrc()) << "segment " << segment.id << " not final";
    }
  }
  if (!expect.path.is_null()) {
    ComparePath(expect.path, path, tolerance);
  }
  if (!expect.notices.is_null()) {
    CompareNotices(expect.notices, run.notices, tolerance);
  }
  if (!expect.listCount.is_null()) {
    EXPECT_EQ(engine.GetListCount(), expect.listCount.get<unsigned int>());
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Scenario, ::testing::ValuesIn(Fixtures()), RowName);

}  // namespace
}  // namespace cutcomp::test
