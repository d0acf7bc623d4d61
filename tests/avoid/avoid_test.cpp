// SPDX-License-Identifier: MIT
// The gouge-free path: every fixture under fixtures/ (a run, and the path and material left
// derived by hand) through crc::CGougeFreePath, and the scenario fixtures the engine compensates
// cleanly, which must come back as the engine's path bit for bit. Every path the extension
// writes is also checked here, independently of the audit: it is continuous, runs from the
// run's first point to its last, and keeps radius - tolerance from every wall by the host
// model's own closed-form distances (crc/host/tool_path.h).
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <crc/host/list_host.h>
#include <crc/host/tool_path.h>

#include "fixture.h"

namespace cutcomp::test {
namespace {

struct Settings {
  Value radius;
  crc::crc_t strategy = crc::CRC_TYPE_NORMAL;
  bool evade = false;
  int preRetract = 0;
  Value tolerance{0.005};
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Settings, radius, strategy, evade, preRetract,
                                                tolerance)

// Coordinates of expected pieces and depths are closed forms: they agree to rounding.
constexpr double EXACT = 1e-9;

std::vector<crc::ContourSegment> ContourOf(const Json& segments, double radius) {
  std::vector<crc::ContourSegment> contour;
  std::int64_t id = 0;
  for (const Json& item : segments) {
    const auto node = MakeSegment(item);
    const Curve c = ProgrammedCurve(*node);
    crc::ContourSegment s;
    s.curve = c;
    s.id = id++;
    s.phase = node->GetStatusType();
    s.locate = item.value("locate", false);
    const crc::crc_dir_t dir = node->GetCrcDirType();
    s.side = radius >= 0.0 || dir == crc::CRC_DIR_NONE ? dir
             : dir == crc::CRC_DIR_LEFT                ? crc::CRC_DIR_RIGHT
                                                       : crc::CRC_DIR_LEFT;
    s.radius = std::fabs(radius);
    contour.push_back(s);
  }
  return contour;
}

crc::GougeFreeSettings SettingsOf(const Settings& s) {
  crc::GougeFreeSettings settings;
  settings.tolerance = s.tolerance.value;
  settings.strategy = s.strategy;
  settings.evade = s.evade;
  settings.preRetractOption = s.preRetract;
  return settings;
}

Curve HostCurve(const crc::Curve& c) {
  Curve curve;
  static_cast<crc::Curve&>(curve) = c;
  curve.radius = c.arc ? (c.from - c.centre).GetLength() : 0.0;
  return curve;
}

std::string Listing(const std::vector<crc::GougeFreePiece>& path) {
  std::string text;
  for (const crc::GougeFreePiece& piece : path) {
    text += "\n  block " + std::to_string(piece.id) + " kind " + std::to_string(piece.kind) + " " +
            Describe(HostCurve(piece.tool));
  }
  return text;
}

// The checks every written path passes, whatever the fixture expects: continuous, from the run's
// first point to its last, and no closer than radius - tolerance to any wall (every segment in
// progress that is not a positioning line), measured by the host model, not by the audit.
void ExpectGougeFree(const std::vector<crc::ContourSegment>& contour,
                     const std::vector<crc::GougeFreePiece>& path, double radius,
                     double tolerance) {
  ASSERT_FALSE(path.empty());
  const double scale = 1e-9 * (1.0 + radius);
  EXPECT_LT((path.front().tool.from - contour.front().curve.from).GetLength(), scale);
  const crc::ContourSegment& last = contour.back();
  if (last.phase == crc::CRC_STATUS_RETRACT) {
    EXPECT_LT((path.back().tool.to - last.curve.to).GetLength(), scale);
  }
  for (std::size_t i = 0; i + 1 < path.size(); ++i) {
    EXPECT_LT((path[i].tool.to - path[i + 1].tool.from).GetLength(), scale)
        << "the path breaks after piece " << i << Listing(path);
  }
  for (const crc::GougeFreePiece& piece : path) {
    const Curve tool = HostCurve(piece.tool);
    for (const crc::ContourSegment& wall : contour) {
      if (wall.phase != crc::CRC_STATUS_DOING || wall.locate) {
        continue;
      }
      const double clearance = Distance(tool, HostCurve(wall.curve));
      EXPECT_GE(clearance, radius - tolerance)
          << "block " << piece.id << " " << Describe(tool) << " comes within " << clearance
          << " of block " << wall.id;
    }
  }
}

void ComparePiece(const Json& expected, const crc::GougeFreePiece& actual) {
  SCOPED_TRACE("expected " + expected.dump() + ", got " + Describe(HostCurve(actual.tool)));
  const bool arc = expected.contains("arc");
  EXPECT_EQ(actual.tool.arc, arc);
  const Json& ends = expected.at(arc ? "arc" : "line");
  ExpectPoint(actual.tool.from, ends.at(0).get<Point>(), EXACT, "start");
  ExpectPoint(actual.tool.to, ends.at(1).get<Point>(), EXACT, "end");
  if (arc) {
    ExpectPoint(actual.tool.centre, expected.at("centre").get<Point>(), EXACT, "centre");
    EXPECT_EQ(actual.tool.ccw, expected.at("sense") == "ccw");
  }
  static const char* const KINDS[] = {"engine", "trimmed", "corner", "line"};
  EXPECT_EQ(KINDS[actual.kind], expected.value("kind", "engine"));
  if (expected.contains("block")) {
    EXPECT_EQ(actual.id, expected["block"].get<std::int64_t>());
  }
}

void CompareLeft(const Json& expected, const crc::MaterialLeft& actual, double tolerance) {
  SCOPED_TRACE("expected " + expected.dump());
  EXPECT_EQ(actual.firstId, expected.at("blocks").at(0).get<std::int64_t>());
  EXPECT_EQ(actual.lastId, expected.at("blocks").at(1).get<std::int64_t>());
  EXPECT_NEAR(actual.depth, Number(expected.at("depth")), EXACT);
  if (expected.contains("at")) {
    ExpectPoint(actual.wallPoint, expected["at"].get<Point>(), 1e-6, "deepest point");
  }
  // The extent is summed over samples one tolerance apart, interpolated between them.
  EXPECT_NEAR(actual.extent, Number(expected.at("extent")), tolerance);
  static const char* const CAUSES[] = {"narrow", "small arc", "unreached"};
  EXPECT_EQ(CAUSES[actual.cause], expected.at("cause").get<std::string>());
}

std::vector<Row> Fixtures(const char* variable, const std::string& root) {
  const char* overridden = std::getenv(variable);
  const std::string folder = overridden != nullptr ? overridden : root;
  return std::filesystem::is_directory(folder) ? LoadFolder(folder) : LoadRows(folder);
}

class GougeFree : public ::testing::TestWithParam<Row> {};

TEST_P(GougeFree, PathAndMaterialAsDerived) {
  const Json& fixture = GetParam().data;
  SCOPED_TRACE(fixture.value("comment", "").substr(0, 400));
  const auto settings = fixture.at("settings").get<Settings>();
  const double radius = settings.radius.value;
  const double tolerance = settings.tolerance.value;
  const auto contour = ContourOf(fixture.at("segments"), radius);
  const Json& expect = fixture.at("expect");
  crc::CGougeFreePath avoid(SettingsOf(settings));
  crc::GougeFreeResult result;
  const bool ok = avoid.Compute(contour, 0, contour.size(), result);
  if (expect.contains("failure")) {
    ASSERT_FALSE(ok) << "a path was written:" << Listing(result.path);
    EXPECT_NE(avoid.GetLatestError().find(expect["failure"].get<std::string>()), std::string::npos)
        << avoid.GetLatestError();
    EXPECT_TRUE(result.path.empty());
    return;
  }
  ASSERT_TRUE(ok) << avoid.GetLatestError();
  EXPECT_EQ(result.engineClean, expect.value("clean", false));
  EXPECT_EQ(result.engineCode, expect.value("message", 0));
  ExpectGougeFree(contour, result.path, std::fabs(radius), tolerance);
  const Json& path = expect.at("path");
  ASSERT_EQ(result.path.size(), path.size()) << Listing(result.path);
  for (std::size_t i = 0; i < path.size(); ++i) {
    SCOPED_TRACE("piece " + std::to_string(i));
    ComparePiece(path[i], result.path[i]);
  }
  const Json left = expect.value("left", Json::array());
  std::string places;
  for (const crc::MaterialLeft& m : result.left) {
    places += "\n  blocks " + std::to_string(m.firstId) + "-" + std::to_string(m.lastId) +
              " depth " + std::to_string(m.depth) + " extent " + std::to_string(m.extent);
  }
  ASSERT_EQ(result.left.size(), left.size()) << "material left:" << places;
  for (std::size_t i = 0; i < left.size(); ++i) {
    CompareLeft(left[i], result.left[i], tolerance);
    EXPECT_LT(result.left[i].before, result.left[i].after);
    EXPECT_LT(result.left[i].after, result.path.size());
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, GougeFree,
                         ::testing::ValuesIn(Fixtures("CUTCOMP_AVOID_FIXTURES", CUTCOMP_FIXTURES)),
                         RowName);

// A run the engine compensates cleanly comes back as the engine's path, bit for bit: the
// engine's own scenarios, wherever they start up, complete and pass the audit.
class PassThrough : public ::testing::TestWithParam<Row> {};

TEST_P(PassThrough, CleanEnginePathUnchanged) {
  const Json& fixture = GetParam().data;
  const Json& s = fixture.at("settings");
  const double radius = Number(s.at("radius"));
  const Json& segments = fixture.at("segments");
  if (segments.empty() || segments[0].value("phase", "D") != "S" || s.value("established", false) ||
      !s.value("strategy", Json("normal")).is_string()) {
    GTEST_SKIP() << "not a run from its start-up";
  }
  Settings settings;
  settings.radius.value = radius;
  settings.strategy = s.value("strategy", Json("normal")).get<crc::crc_t>();
  settings.evade = s.value("evade", false);
  settings.preRetract = s.value("preRetract", 0);
  settings.tolerance.value = 0.005;
  crc::CCutterCompensator engine(radius, nullptr, s.value("lookBehind", 3u), settings.strategy);
  engine.SetInterveneEvade(settings.evade);
  engine.SetCrcPreRetractOption(settings.preRetract);
  std::vector<std::unique_ptr<crc::CCrcNode>> program;
  for (const Json& item : segments) {
    program.push_back(MakeSegment(item));
  }
  const HostRun run = RunProgram(engine, std::move(program));
  const auto contour = ContourOf(segments, radius);
  crc::GougeFreeSettings options = SettingsOf(settings);
  options.lookBehind = s.value("lookBehind", 3u);
  crc::CGougeFreePath avoid(options);
  crc::GougeFreeResult result;
  const bool ok = avoid.Compute(contour, 0, contour.size(), result);
  if (!run.ok) {
    EXPECT_FALSE(ok && result.engineClean) << "the engine refused the run";
    GTEST_SKIP() << "the engine refuses it";
  }
  if (!result.engineClean) {
    EXPECT_TRUE(result.engineGouges > 0 || !ok) << avoid.GetLatestError();
    GTEST_SKIP() << "the engine's path gouges";
  }
  ASSERT_TRUE(ok) << avoid.GetLatestError();
  std::vector<PathPiece> path;
  for (const PathPiece& piece : ReadPath(run.segments)) {
    if (!piece.dropped && !(piece.offsetUnset && !piece.inserted)) {
      path.push_back(piece);
    }
  }
  ASSERT_EQ(path.size(), result.path.size()) << Listing(result.path);
  for (std::size_t i = 0; i < path.size(); ++i) {
    const crc::Curve& a = path[i].tool;
    const crc::Curve& b = result.path[i].tool;
    // exact: the engine's own numbers, handed on
    EXPECT_TRUE(
        a.arc == b.arc && a.from == b.from && a.to == b.to &&
        (!a.arc || (a.centre == b.centre && a.ccw == b.ccw && a.fullCircle == b.fullCircle)))
        << "piece " << i << ": " << Describe(path[i].tool) << " became " << Describe(HostCurve(b));
    EXPECT_EQ(result.path[i].id, path[i].id);
    EXPECT_EQ(result.path[i].kind, crc::PIECE_ENGINE);
  }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, PassThrough,
                         ::testing::ValuesIn(Fixtures("CUTCOMP_AVOID_SCENARIOS",
                                                      CUTCOMP_SCENARIOS)),
                         RowName);

}  // namespace
}  // namespace cutcomp::test
