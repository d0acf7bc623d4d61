// SPDX-License-Identifier: MIT
// Runs every whole-contour fixture through the list-backed host and compares the tool-centre
// path, the notices or the failure with the fixture; draws an SVG of every case that fails.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "scenario_fixture.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using cutcomp::HostNotice;
using cutcomp::scenario::Describe;
using cutcomp::scenario::PathPiece;
using cutcomp::scenario::Scenario;
using cutcomp::test::PointNear;

// The fixture folder, or the folder (or single file) named by CUTCOMP_SCENARIO_FIXTURES, so that
// a contour printed by another test can be replayed without rebuilding.
std::vector<std::string> FixtureFiles() {
  const char* overridden = std::getenv("CUTCOMP_SCENARIO_FIXTURES");
  const fs::path root = overridden != nullptr ? fs::path(overridden) : fs::path(CUTCOMP_FIXTURES);
  std::vector<std::string> files;
  std::error_code error;
  if (fs::is_regular_file(root, error)) {
    files.push_back(root.string());
  } else if (fs::is_directory(root, error)) {
    for (const auto& entry : fs::directory_iterator(root, error)) {
      if (entry.path().extension() == ".json")
        files.push_back(entry.path().string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string TestName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = fs::path(info.param).stem().string();
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)))
      c = '_';
  }
  return name;
}

const char* NoticeName(HostNotice::Kind kind) {
  switch (kind) {
  case HostNotice::INSERT_BEFORE:
    return "before";
  case HostNotice::INSERT_AFTER:
    return "after";
  case HostNotice::SET_END_POINT:
    return "end";
  case HostNotice::FINISH:
    return "finish";
  }
  return "?";
}

void ComparePiece(const PathPiece& expected, const PathPiece& actual, double tolerance,
                  std::size_t index) {
  SCOPED_TRACE("piece " + std::to_string(index) + ": expected " + Describe(expected) + ", got " +
               Describe(actual));
  ASSERT_EQ(actual.dropped, expected.dropped);
  if (expected.dropped)
    return;
  EXPECT_EQ(actual.arc, expected.arc);
  EXPECT_EQ(actual.inserted, expected.inserted);
  EXPECT_THAT(actual.from, PointNear(expected.from, tolerance));
  EXPECT_THAT(actual.to, PointNear(expected.to, tolerance));
  if (expected.centre && actual.centre) {
    EXPECT_THAT(*actual.centre, PointNear(*expected.centre, tolerance));
  }
  if (expected.radius) {
    ASSERT_TRUE(actual.radius.has_value());
    EXPECT_NEAR(*actual.radius, *expected.radius, tolerance);
  }
  if (expected.ccw) {
    ASSERT_TRUE(actual.ccw.has_value());
    EXPECT_EQ(*actual.ccw, *expected.ccw);
  }
  if (expected.phase) {
    EXPECT_EQ(actual.phase, expected.phase);
  }
  if (expected.side) {
    EXPECT_EQ(actual.side, expected.side);
  }
}

void ComparePath(const Scenario& scenario, const std::vector<PathPiece>& actual) {
  std::string listing;
  for (const PathPiece& piece : actual)
    listing += "\n  " + Describe(piece);
  ASSERT_EQ(actual.size(), scenario.path.size()) << "tool path:" << listing;
  for (std::size_t i = 0; i < actual.size(); ++i) {
    ComparePiece(scenario.path[i], actual[i], scenario.tolerance, i);
  }
}

void CompareNotices(const Scenario& scenario, const std::vector<HostNotice>& actual) {
  std::string listing;
  for (const HostNotice& n : actual) {
    listing += std::string("\n  ") + NoticeName(n.kind) + " " + std::to_string(n.anchorId) + " " +
               std::to_string(n.x) + " " + std::to_string(n.y);
  }
  ASSERT_EQ(actual.size(), scenario.notices.size()) << "notices:" << listing;
  for (std::size_t i = 0; i < actual.size(); ++i) {
    SCOPED_TRACE("notice " + std::to_string(i));
    EXPECT_EQ(NoticeName(actual[i].kind), std::string(NoticeName(scenario.notices[i].kind)));
    if (scenario.notices[i].kind == HostNotice::SET_END_POINT) {
      EXPECT_THAT(cutcomp::scenario::Point(actual[i].x, actual[i].y),
                  PointNear(scenario.notices[i].point, scenario.tolerance));
    } else if (scenario.notices[i].kind != HostNotice::FINISH) {
      EXPECT_EQ(actual[i].anchorId, scenario.notices[i].anchor);
    }
  }
}

class ScenarioTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ScenarioTest, ToolPathMatchesFixture) {
  Scenario scenario;
  try {
    scenario = cutcomp::scenario::LoadScenario(GetParam());
  } catch (const std::exception& error) {
    FAIL() << "malformed fixture: " << error.what();
  }
  SCOPED_TRACE(scenario.name + ": " + scenario.comment.substr(0, 200));

  crc::CCutterCompensator engine = cutcomp::scenario::BuildEngine(scenario);
  cutcomp::HostRun run = cutcomp::RunProgram(engine, cutcomp::scenario::BuildProgram(scenario));
  const std::vector<PathPiece> actual = cutcomp::scenario::ReadPath(run.segments);

  if (scenario.expectFailure) {
    EXPECT_FALSE(run.ok) << "the engine accepted a contour the fixture expects it to refuse";
    EXPECT_EQ(run.failure.code, scenario.failureMessage) << run.failure.message;
    EXPECT_EQ(run.failure.id, scenario.failureSegment);
    EXPECT_EQ(run.failure.inserted, scenario.failureInserted);
    if (scenario.hasPath)
      ComparePath(scenario, actual);
    if (scenario.hasNotices)
      CompareNotices(scenario, run.notices);
  } else {
    EXPECT_TRUE(run.ok) << "refused at segment " << run.failure.id << " with message "
                        << run.failure.code << " (" << run.failure.message << ")";
    ComparePath(scenario, actual);
    CompareNotices(scenario, run.notices);
    // Whatever the fixture says, a completed path has no gaps and every segment is final.
    for (std::size_t at :
         cutcomp::scenario::FindBreaks(actual, std::max(1e-6, scenario.tolerance))) {
      ADD_FAILURE() << "tool path breaks after piece " << at << ": " << Describe(actual[at]);
    }
    for (const cutcomp::HostSegment& segment : run.segments) {
      EXPECT_TRUE(segment.node->HasBeenCrc()) << "segment " << segment.id << " not final";
    }
  }

  if (HasFailure()) {
    std::vector<PathPiece> expected = scenario.path;
    for (std::size_t i = 0; i < expected.size() && i < actual.size(); ++i) {
      if (!expected[i].ccw)
        expected[i].ccw = actual[i].ccw;
      if (!expected[i].centre)
        expected[i].centre = actual[i].centre;
    }
    Scenario drawn = scenario;
    drawn.path = expected;
    std::error_code error;
    fs::create_directories(CUTCOMP_SVG_DIR, error);
    const fs::path file = fs::path(CUTCOMP_SVG_DIR) / (scenario.name + ".svg");
    std::ofstream(file) << cutcomp::scenario::DrawSvg(drawn, actual);
    std::cout << "drawing of the failing case: " << file.string() << "\n";
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ScenarioTest, ::testing::ValuesIn(FixtureFiles()), TestName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ScenarioTest);

// The runner itself: the expression language and the continuity check must be right, or every
// fixture result is meaningless.
TEST(ScenarioFormat, ExpressionsEvaluateClosedForms) {
  using cutcomp::scenario::EvalExpression;
  EXPECT_DOUBLE_EQ(EvalExpression("10 + sqrt(2)/2"), 10.0 + std::sqrt(2.0) / 2.0);
  EXPECT_DOUBLE_EQ(EvalExpression("-(1 - 2) * 3"), 3.0);
  EXPECT_DOUBLE_EQ(EvalExpression("2*pi"), 2.0 * 3.141592653589793);
  EXPECT_DOUBLE_EQ(EvalExpression("cos(pi/3)"), 0.5);
  EXPECT_DOUBLE_EQ(EvalExpression("1e-3"), 0.001);
  EXPECT_THROW(EvalExpression("1 +"), std::runtime_error);
  EXPECT_THROW(EvalExpression("foo(1)"), std::runtime_error);
  EXPECT_THROW(EvalExpression("(1"), std::runtime_error);
}

TEST(ScenarioFormat, BreaksSkipDroppedPiecesAndReportGaps) {
  PathPiece a;
  a.from = {0, 0};
  a.to = {1, 0};
  PathPiece dropped;
  dropped.dropped = true;
  PathPiece b;
  b.from = {1, 0};
  b.to = {1, 1};
  PathPiece c;
  c.from = {1, 1.001};
  c.to = {2, 2};
  EXPECT_TRUE(cutcomp::scenario::FindBreaks({a, dropped, b}, 1e-6).empty());
  EXPECT_EQ(cutcomp::scenario::FindBreaks({a, b, c}, 1e-6), std::vector<std::size_t>{1});
}

TEST(ScenarioFormat, MalformedFixturesAreRejected) {
  const auto bad = nlohmann::json::parse(
      R"({"settings": {"radius": 1}, "segments": [{"line": [[0,0],[1,0]], "phase": "X",
          "side": "L"}], "expect": {"path": [], "notices": []}})");
  EXPECT_THROW(cutcomp::scenario::ParseScenario(bad, "bad"), std::runtime_error);
  const auto noExpectation = nlohmann::json::parse(
      R"({"settings": {"radius": 1}, "segments": [], "expect": {"path": []}})");
  EXPECT_THROW(cutcomp::scenario::ParseScenario(noExpectation, "bad"), std::runtime_error);
}

// Every fixture in the folder runs (the configure-time count guards against a glob that misses
// files or a folder that went missing).
TEST(ScenarioFormat, FixtureFolderHoldsCases) {
  if (std::getenv("CUTCOMP_SCENARIO_FIXTURES") != nullptr) {
    GTEST_SKIP() << "replaying fixtures from CUTCOMP_SCENARIO_FIXTURES";
  }
  EXPECT_EQ(FixtureFiles().size(), static_cast<std::size_t>(CUTCOMP_FIXTURE_COUNT))
      << "fixture set " << CUTCOMP_FIXTURE_SET;
}

}  // namespace
