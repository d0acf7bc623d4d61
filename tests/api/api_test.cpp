// SPDX-License-Identifier: MIT
// The one-call API and the C interface: every whole-contour fixture gives, through them, exactly
// the pieces a host driving the engine itself gets; rows of paths with hand-derived tool paths
// and refusals (cases.json); chord fitting, streaming lag and the audit of foreign tool paths;
// and the defaults shared with the command-line tool.
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <crc/crc_c.h>
#include <crc/path.h>

#include "fixture.h"
#include "list_host.h"
#include "tool_path.h"

#ifdef CUTCOMP_API_TEST_CLI
#include "fit_stage.h"
#include "gouge_check.h"
#include "pipeline.h"
#endif

namespace cutcomp::test {
namespace {

// Caller ids unlike the ordinals, so that a mix-up of the two shows.
std::int64_t CallerId(std::int64_t index) { return 1000 + 7 * index; }

bool Same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
bool Same(const Point& a, const Point& b) { return Same(a.x, b.x) && Same(a.y, b.y); }
bool Same(const Curve& a, const Curve& b) {
  return a.arc == b.arc && Same(a.from, b.from) && Same(a.to, b.to) &&
         (!a.arc || (Same(a.centre, b.centre) && Same(a.radius, b.radius) && a.ccw == b.ccw &&
                     a.fullCircle == b.fullCircle));
}
bool Same(const cutcomp_curve& a, const Curve& b) {
  Curve c;
  c.arc = a.arc != 0;
  c.from = Point(a.from.x, a.from.y);
  c.to = Point(a.to.x, a.to.y);
  c.centre = Point(a.centre.x, a.centre.y);
  c.radius = a.radius;
  c.ccw = a.ccw != 0;
  c.fullCircle = a.full_circle != 0;
  return Same(c, b);
}

// `piece` is the engine's own piece with ordinal ids.
void ExpectSamePiece(const PathPiece& got, const PathPiece& piece) {
  SCOPED_TRACE("expected " + Describe(piece) + ", got " + Describe(got));
  EXPECT_EQ(got.dropped, piece.dropped);
  EXPECT_EQ(got.inserted, piece.inserted);
  EXPECT_EQ(got.id, CallerId(piece.id));
  EXPECT_EQ(got.lastId, CallerId(piece.id));
  EXPECT_EQ(got.phase, piece.phase);
  EXPECT_EQ(got.side, piece.side);
  EXPECT_EQ(got.locate, piece.locate);
  EXPECT_EQ(got.offsetUnset, piece.offsetUnset);
  EXPECT_TRUE(Same(got.programmed, piece.programmed));
  EXPECT_TRUE(piece.dropped || Same(got.tool, piece.tool));
}

void ExpectSamePiece(const cutcomp_piece& got, const PathPiece& piece) {
  SCOPED_TRACE("expected " + Describe(piece));
  EXPECT_EQ(got.dropped != 0, piece.dropped);
  EXPECT_EQ(got.inserted != 0, piece.inserted);
  EXPECT_EQ(got.id, CallerId(piece.id));
  EXPECT_EQ(got.phase, piece.phase);
  EXPECT_EQ(got.side, piece.side);
  EXPECT_EQ(got.locate != 0, piece.locate);
  EXPECT_TRUE(Same(got.programmed, piece.programmed));
  EXPECT_TRUE(piece.dropped || Same(got.tool, piece.tool));
}

// A fixture's programmed segment as a path segment: the geometry the node holds.
crc::PathSegment FromNode(const crc::CCrcNode& node, std::int64_t id) {
  crc::PathSegment segment;
  segment.curve = ProgrammedCurve(node);
  segment.phase = node.GetStatusType();
  segment.side = node.GetCrcDirType();
  segment.locate =
      node.GetNodeType() == crc::NODE_LINE && static_cast<const crc::CCrcLine&>(node).IsLocate();
  segment.id = id;
  return segment;
}

class Fixture : public ::testing::TestWithParam<Row> {};

// The fixtures are the engine's own settings: no fitting, the plain interference test, the
// extensions a fixture turns on.
TEST_P(Fixture, CppAndCInterfacesGiveTheEngineRunBitForBit) {
  const Json& fixture = GetParam().data;
  const Json& settings = fixture.at("settings");
  if (settings.value("established", false)) {
    GTEST_SKIP() << "a run an earlier one established: not a whole path";
  }
  const double radius = Number(settings.at("radius"));
  const auto strategy = settings.value("strategy", Json("normal")).get<crc::crc_t>();
  const unsigned int lookBehind = settings.value("lookBehind", 3u);
  const bool evade = settings.value("evade", false);
  const int endOption = settings.value("preRetract", 0);
  // The engine's extensions as the fixture sets them (off unless it says so).
  const bool closure = settings.value("closureTolerance", false);
  const bool inPlace = settings.value("startInPlace", false);
  const bool arcStartup = settings.value("arcStartup", false);

  crc::CompensateOptions options(radius);
  options.start = strategy;
  options.lookBehind = lookBehind;
  options.evade = evade;
  options.end = static_cast<crc::crc_end_t>(endOption);
  options.fit = false;
  options.camTolerance = false;
  options.closureTolerance = closure;
  options.startInPlace = inPlace;
  options.arcStartup = arcStartup;
  crc::Path path;
  std::vector<std::unique_ptr<crc::CCrcNode>> program;
  for (const Json& item : fixture.at("segments")) {
    program.push_back(MakeSegment(item));
    path.push_back(FromNode(*program.back(), CallerId(static_cast<std::int64_t>(path.size()))));
  }
  const crc::CompensateResult result = crc::Compensate(path, options);
  if (strategy < crc::CRC_TYPE_NORMAL || strategy > crc::CRC_TYPE_INSERT) {
    // The engine fails such a run silently; the API says why before it starts.
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.failure.input);
    EXPECT_EQ(result.failure.index, -1);
    return;
  }

  // The engine's own run of each compensation run, as the tool makes them: a run ends after
  // its cancel segment and before a start-up segment that is not its first, and each has an
  // engine of its own (a fixture of two runs in one sequence lets the first run's last clone
  // refuse the second).
  HostRun run;
  run.ok = true;
  for (std::size_t begin = 0; begin < program.size() && run.ok;) {
    std::size_t end = begin + 1;
    while (end < program.size() && program[end - 1]->GetStatusType() != crc::CRC_STATUS_RETRACT &&
           program[end]->GetStatusType() != crc::CRC_STATUS_ESTABLISH) {
      ++end;
    }
    std::vector<std::unique_ptr<crc::CCrcNode>> part;
    for (std::size_t i = begin; i < end; ++i) {
      part.push_back(std::move(program[i]));
    }
    crc::CCutterCompensator engine(radius, nullptr, lookBehind, strategy);
    engine.SetInterveneEvade(evade);
    engine.SetCrcPreRetractOption(endOption);
    engine.SetClosureTolerance(closure);
    engine.SetStartInPlace(inPlace);
    engine.SetArcStartup(arcStartup);
    HostRun partRun = RunProgram(engine, std::move(part));
    for (HostSegment& segment : partRun.segments) {
      segment.id += static_cast<std::int64_t>(begin);
      run.segments.push_back(std::move(segment));
    }
    run.ok = partRun.ok;
    run.failure = partRun.failure;
    run.failure.id += static_cast<std::int64_t>(begin);
    begin = end;
  }
  const std::vector<PathPiece> expected = ReadPath(run.segments);

  ASSERT_EQ(result.ok, run.ok) << result.failure.gloss;
  ASSERT_EQ(result.path.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("piece " + std::to_string(i));
    ExpectSamePiece(result.path[i], expected[i]);
  }
  if (!run.ok) {
    EXPECT_FALSE(result.failure.input);
    EXPECT_EQ(result.failure.index, run.failure.id);
    EXPECT_EQ(result.failure.id, CallerId(run.failure.id));
    EXPECT_EQ(result.failure.inserted, run.failure.inserted);
    EXPECT_EQ(result.failure.code, run.failure.code);
    EXPECT_EQ(result.failure.message, run.failure.message);
  }

  // The same through the C interface.
  cutcomp_path* cpath = cutcomp_path_new();
  cutcomp_options* coptions = cutcomp_options_new(radius);
  ASSERT_TRUE(cpath != nullptr && coptions != nullptr);
  for (const crc::PathSegment& s : path) {
    const cutcomp_segment segment{{s.curve.arc ? 1 : 0,
                                   {s.curve.from.x, s.curve.from.y},
                                   {s.curve.to.x, s.curve.to.y},
                                   {s.curve.centre.x, s.curve.centre.y},
                                   0.0,
                                   s.curve.ccw ? 1 : 0,
                                   s.curve.fullCircle ? 1 : 0},
                                  s.phase,
                                  s.side,
                                  s.id,
                                  s.locate ? 1 : 0};
    ASSERT_EQ(cutcomp_path_add_segment(cpath, &segment), CUTCOMP_OK);
  }
  cutcomp_options_set_start(coptions, strategy);
  cutcomp_options_set_look_behind(coptions, lookBehind);
  cutcomp_options_set_evade(coptions, evade ? 1 : 0);
  cutcomp_options_set_end(coptions, endOption);
  cutcomp_options_set_fit(coptions, 0, 0.0);
  cutcomp_options_set_cam_tolerance(coptions, 0);
  cutcomp_options_set_closure_tolerance(coptions, closure ? 1 : 0);
  cutcomp_options_set_start_in_place(coptions, inPlace ? 1 : 0);
  cutcomp_options_set_arc_startup(coptions, arcStartup ? 1 : 0);
  cutcomp_result* cresult = nullptr;
  const int status = cutcomp_compensate(cpath, coptions, &cresult);
  ASSERT_NE(cresult, nullptr);
  EXPECT_EQ(status, run.ok ? CUTCOMP_OK : CUTCOMP_REFUSED);
  ASSERT_EQ(cutcomp_result_size(cresult), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("C piece " + std::to_string(i));
    cutcomp_piece piece;
    ASSERT_EQ(cutcomp_result_piece(cresult, i, &piece), CUTCOMP_OK);
    ExpectSamePiece(piece, expected[i]);
  }
  cutcomp_failure failure;
  ASSERT_EQ(cutcomp_result_failure(cresult, &failure), CUTCOMP_OK);
  EXPECT_EQ(failure.code, run.ok ? 0 : run.failure.code);
  EXPECT_EQ(failure.index, run.ok ? -1 : run.failure.id);
  EXPECT_EQ(std::string(cutcomp_result_engine_message(cresult)), run.ok ? "" : run.failure.message);
  cutcomp_result_free(cresult);
  cutcomp_options_free(coptions);
  cutcomp_path_free(cpath);
}

INSTANTIATE_TEST_SUITE_P(Scenario, Fixture, ::testing::ValuesIn(LoadFolder(CUTCOMP_FIXTURES)),
                         RowName);

// A path segment of a row: {"line": [from, to]} or {"arc": {"from", "to", "centre", "sense",
// "full"}}, with "phase" (S, D, R or a number; default D), "side" (default L), "id" (default
// the index) and "locate".
crc::PathSegment ReadSegment(const Json& item, std::int64_t index) {
  crc::PathSegment segment;
  if (item.contains("line")) {
    segment.curve.from = item["line"].at(0).get<Point>();
    segment.curve.to = item["line"].at(1).get<Point>();
  } else {
    const Json& arc = item.at("arc");
    segment.curve.arc = true;
    segment.curve.from = arc.at("from").get<Point>();
    segment.curve.to = arc.at("to").get<Point>();
    segment.curve.centre = arc.at("centre").get<Point>();
    segment.curve.ccw = arc.at("sense") == "ccw";
    segment.curve.fullCircle = arc.value("full", false);
  }
  segment.phase = item.value("phase", Json("D")).get<crc::crc_status_t>();
  segment.side = item.value("side", Json("L")).get<crc::crc_dir_t>();
  segment.id = item.value("id", index);
  segment.locate = item.value("locate", false);
  return segment;
}

crc::CompensateOptions ReadOptions(const Json& o) {
  crc::CompensateOptions options(Number(o.at("radius")));
  options.start = o.value("start", Json("normal")).get<crc::crc_t>();
  options.lookBehind = o.value("lookBehind", 3u);
  options.evade = o.value("evade", false);
  options.camTolerance = o.value("camTolerance", true);
  options.closureTolerance = o.value("closureTolerance", true);
  options.startInPlace = o.value("startInPlace", true);
  options.arcStartup = o.value("arcStartup", true);
  options.end = static_cast<crc::crc_end_t>(o.value("end", 1));
  options.fit = o.value("fit", true);
  options.units = static_cast<crc::crc_unit_t>(o.value("units", 0));
  if (o.contains("fitTolerance")) {
    options.fitTolerance = Number(o["fitTolerance"]);
  }
  if (o.contains("arcTolerance")) {
    options.arcTolerance = Number(o["arcTolerance"]);
  }
  options.avoid = o.value("avoid", false);
  if (o.contains("avoidTolerance")) {
    options.avoidTolerance = Number(o["avoidTolerance"]);
  }
  return options;
}

// Compares the fields an expected piece names: "line" or "arc" (tool ends), "centre" (tool),
// "programmedCentre", "id", "lastId", "phase", "inserted", "dropped".
void ExpectPiece(const Json& expected, const PathPiece& piece, double tolerance) {
  SCOPED_TRACE("expected " + expected.dump() + ", got " + Describe(piece));
  for (const char* kind : {"line", "arc"}) {
    if (expected.contains(kind)) {
      EXPECT_EQ(piece.tool.arc, std::string(kind) == "arc");
      ExpectPoint(piece.tool.from, expected[kind].at(0).get<Point>(), tolerance, "start");
      ExpectPoint(piece.tool.to, expected[kind].at(1).get<Point>(), tolerance, "end");
    }
  }
  if (expected.contains("centre")) {
    ExpectPoint(piece.tool.centre, expected["centre"].get<Point>(), tolerance, "centre");
  }
  if (expected.contains("programmedCentre")) {
    ExpectPoint(piece.programmed.centre, expected["programmedCentre"].get<Point>(), tolerance,
                "programmed centre");
  }
  EXPECT_EQ(piece.id, expected.value("id", piece.id));
  EXPECT_EQ(piece.lastId, expected.value("lastId", piece.id));
  if (expected.contains("phase")) {
    EXPECT_EQ(piece.phase, expected["phase"].get<crc::crc_status_t>());
  }
  EXPECT_EQ(piece.inserted, expected.value("inserted", false));
  EXPECT_EQ(piece.dropped, expected.value("dropped", false));
}

class Case : public ::testing::TestWithParam<Row> {};

TEST_P(Case, PathGivesWhatTheRowSays) {
  const Json& row = GetParam().data;
  SCOPED_TRACE(row.value("comment", ""));
  crc::Path path;
  for (const Json& item : row.at("path")) {
    path.push_back(ReadSegment(item, static_cast<std::int64_t>(path.size())));
  }
  const crc::CompensateResult result = crc::Compensate(path, ReadOptions(row.at("options")));
  const Json& expect = row.at("expect");
  if (expect.contains("failure")) {
    const Json& failure = expect["failure"];
    ASSERT_FALSE(result.ok);
    EXPECT_EQ(result.failure.input, failure.value("input", false));
    EXPECT_EQ(result.failure.index, failure.at("index").get<std::int64_t>());
    EXPECT_EQ(result.failure.id, failure.value("id", result.failure.index));
    EXPECT_EQ(result.failure.code, failure.value("code", 0));
    EXPECT_NE(result.failure.gloss.find(failure.at("gloss").get<std::string>()), std::string::npos)
        << result.failure.gloss;
    EXPECT_EQ(result.failure.message.empty(), result.failure.input);
  } else {
    ASSERT_TRUE(result.ok) << result.failure.gloss;
  }
  if (expect.contains("pieces")) {
    ASSERT_EQ(result.path.size(), expect["pieces"].size());
    for (std::size_t i = 0; i < result.path.size(); ++i) {
      SCOPED_TRACE("piece " + std::to_string(i));
      ExpectPiece(expect["pieces"][i], result.path[i], 1e-9);
    }
  }
  // With avoid: the runs taken up ("avoided": ids, the engine's message, whether written and
  // its pieces) and the places where material is left ("left": ids, depth within `depthWithin`
  // (default 1e-9), the pieces either side).
  const auto& avoided = result.avoided;
  ASSERT_EQ(avoided.size(), expect.value("avoided", Json::array()).size());
  for (std::size_t i = 0; i < avoided.size(); ++i) {
    const Json& run = expect["avoided"][i];
    SCOPED_TRACE("avoided run " + std::to_string(i) + ": " + avoided[i].error);
    EXPECT_EQ(avoided[i].firstId, run.at("firstId").get<std::int64_t>());
    EXPECT_EQ(avoided[i].lastId, run.at("lastId").get<std::int64_t>());
    EXPECT_EQ(avoided[i].engineCode, run.value("code", 0));
    EXPECT_EQ(avoided[i].engineGouges > 0, run.value("gouges", false));
    EXPECT_EQ(avoided[i].written, run.at("pieces").is_array());
    if (avoided[i].written) {
      EXPECT_EQ(avoided[i].firstPiece, run["pieces"].at(0).get<std::size_t>());
      EXPECT_EQ(avoided[i].endPiece, run["pieces"].at(1).get<std::size_t>());
    }
  }
  ASSERT_EQ(result.left.size(), expect.value("left", Json::array()).size());
  for (std::size_t i = 0; i < result.left.size(); ++i) {
    const Json& place = expect["left"][i];
    EXPECT_EQ(result.left[i].firstId, place.at("firstId").get<std::int64_t>());
    EXPECT_EQ(result.left[i].lastId, place.at("lastId").get<std::int64_t>());
    EXPECT_NEAR(result.left[i].depth, Number(place.at("depth")),
                Number(place.value("depthWithin", Json(1e-9))));
    EXPECT_EQ(result.left[i].before, place.at("pieces").at(0).get<std::size_t>());
    EXPECT_EQ(result.left[i].after, place.at("pieces").at(1).get<std::size_t>());
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, Case, ::testing::ValuesIn(LoadRows(CUTCOMP_API_CASES)), RowName);

// The gouge-free paths need the whole path (every segment is a wall): streaming refuses them at
// once rather than compensate without them.
TEST(Streaming, RefusesTheGougeFreePaths) {
  crc::CompensateOptions options(1.0);
  options.avoid = true;
  crc::CPathCompensator compensator(options);
  std::vector<PathPiece> out;
  EXPECT_FALSE(compensator.Add(
      crc::PathSegment::Line({0, 5}, {0, 0}, crc::CRC_STATUS_ESTABLISH, crc::CRC_DIR_LEFT, 1),
      out));
  EXPECT_TRUE(compensator.GetFailure().input);
  EXPECT_NE(compensator.GetFailure().gloss.find("whole path"), std::string::npos);
  EXPECT_TRUE(out.empty());
}

// A lead-in along -y onto (0, 0), a quarter circle of `radius` about (0, radius) as `chords`
// chords (counterclockwise, the tool inside on the left), a line on from the arc's end, and a
// lead-out.
crc::Path ChordedQuarter(double radius, int chords) {
  crc::Path path;
  const auto add = [&path](Point from, Point to, crc::crc_status_t phase) {
    path.push_back(crc::PathSegment::Line(from, to, phase, crc::CRC_DIR_LEFT,
                                          CallerId(static_cast<std::int64_t>(path.size()))));
  };
  const Point centre(0.0, radius);
  const auto at = [&](int k) {
    const double angle = -crc::PI / 2 + (crc::PI / 2) * k / chords;
    return Point(centre.x + radius * std::cos(angle), centre.y + radius * std::sin(angle));
  };
  add(Point(-10.0, 0.0), Point(0.0, 0.0), crc::CRC_STATUS_ESTABLISH);
  for (int k = 0; k < chords; ++k) {
    add(at(k), at(k + 1), crc::CRC_STATUS_DOING);
  }
  add(at(chords), at(chords) + Point(0.0, 10.0), crc::CRC_STATUS_DOING);
  add(at(chords) + Point(0.0, 10.0), at(chords) + Point(-10.0, 10.0), crc::CRC_STATUS_RETRACT);
  return path;
}

// 0.26 mm chords of a 10 mm arc, posted: fitted by one arc that stands for all of them, the
// path continuous, and no farther from the chords than the fitting tolerance allows.
TEST(Fitting, ChordsOfAnArcBecomeOnePieceThatStandsForThemAll) {
  const crc::Path path = ChordedQuarter(10.0, 60);
  crc::CompensateOptions options(2.0);
  const crc::CompensateResult fitted = crc::Compensate(path, options);
  ASSERT_TRUE(fitted.ok) << fitted.failure.gloss;
  ASSERT_EQ(fitted.path.size(), 4u);
  EXPECT_TRUE(fitted.path[1].tool.arc);
  EXPECT_EQ(fitted.path[1].id, CallerId(1));
  EXPECT_EQ(fitted.path[1].lastId, CallerId(60));
  EXPECT_EQ(fitted.path[2].id, CallerId(61));
  EXPECT_NEAR(fitted.path[1].tool.radius, 8.0, crc::FIT_TOLERANCE_MM);
  EXPECT_FALSE(FirstBreak(fitted.path, 1e-9).has_value());
  // Against the chords themselves the fitted path keeps the radius less the fitting tolerance.
  const crc::AuditResult audit =
      crc::Audit(path, fitted.path, options.radius, 2 * crc::FIT_TOLERANCE_MM);
  ASSERT_TRUE(audit.ok) << audit.error;
  EXPECT_EQ(audit.gouges.size(), 0u);
  EXPECT_EQ(audit.summary.pieces, 4u);

  options.fit = false;
  const crc::CompensateResult chords = crc::Compensate(path, options);
  ASSERT_TRUE(chords.ok) << chords.failure.gloss;
  EXPECT_EQ(chords.path.size(), path.size());
}

// A run of chords ends where its side changes: each side's chords are fitted apart.
TEST(Fitting, ASideChangeEndsTheRun) {
  crc::Path path = ChordedQuarter(10.0, 60);
  for (std::size_t i = 31; i < path.size(); ++i) {
    path[i].side = crc::CRC_DIR_RIGHT;
  }
  const crc::CompensateResult result = crc::Compensate(path, crc::CompensateOptions(0.5));
  ASSERT_TRUE(result.ok) << result.failure.gloss;
  std::vector<std::pair<std::int64_t, std::int64_t>> spans;
  for (const PathPiece& piece : result.path) {
    if (!piece.inserted) {
      spans.emplace_back(piece.id, piece.lastId);
    }
  }
  ASSERT_GE(spans.size(), 5u);
  EXPECT_EQ(spans[1], std::make_pair(CallerId(1), CallerId(30)));
  EXPECT_EQ(spans[2].first, CallerId(31));
}

// Pieces come out as the segments go in: a long path held a few segments at a time.
TEST(Streaming, PiecesFollowTheSegmentsAFewBehind) {
  crc::CompensateOptions options(0.1);
  options.fit = false;
  crc::CPathCompensator compensator(options);
  std::vector<PathPiece> out;
  std::size_t programmed = 0;
  std::size_t most = 0;
  const int steps = 20000;
  for (int k = 0; k <= steps; ++k) {
    const Point from(k / 2, (k + 1) / 2);
    const Point to((k + 1) / 2, (k + 2) / 2);
    const crc::crc_status_t phase = k == 0       ? crc::CRC_STATUS_ESTABLISH
                                    : k == steps ? crc::CRC_STATUS_RETRACT
                                                 : crc::CRC_STATUS_DOING;
    ASSERT_TRUE(compensator.Add(crc::PathSegment::Line(from, to, phase, crc::CRC_DIR_LEFT, k), out))
        << compensator.GetFailure().gloss;
    for (const PathPiece& piece : out) {
      programmed += piece.inserted ? 0 : 1;
    }
    most = std::max(most, static_cast<std::size_t>(k + 1) - programmed);
    out.clear();
  }
  ASSERT_TRUE(compensator.Finish(out));
  EXPECT_EQ(programmed, static_cast<std::size_t>(steps + 1));
  EXPECT_LE(most, 4u);
}

// A tool path made elsewhere, given as segments: a lead-in along the wall's line, a pass that
// dips to 0.7 from the wall for a cutter of radius 1 (0.3 deep, in two pieces meeting there),
// and the lead-out; a rapid before it is no cut.
TEST(Audit, FindsTheGougeOfAForeignToolPathAndNumbersItByItsPieces) {
  const crc::Path contour = {
      crc::PathSegment::Line({-5, 0}, {0, 0}, crc::CRC_STATUS_ESTABLISH, crc::CRC_DIR_LEFT, 10),
      crc::PathSegment::Line({0, 0}, {10, 0}, crc::CRC_STATUS_DOING, crc::CRC_DIR_LEFT, 11),
      crc::PathSegment::Line({10, 0}, {10, 5}, crc::CRC_STATUS_RETRACT, crc::CRC_DIR_LEFT, 12)};
  crc::Path tool = {
      crc::PathSegment::Line({-20, -5}, {-5, 0}, crc::CRC_STATUS_NONE, crc::CRC_DIR_LEFT, 9),
      crc::PathSegment::Line({-5, 0}, {0, 1}, crc::CRC_STATUS_ESTABLISH, crc::CRC_DIR_LEFT, 10),
      crc::PathSegment::Line({0, 1}, {5, 0.7}, crc::CRC_STATUS_DOING, crc::CRC_DIR_LEFT, 11),
      crc::PathSegment::Line({5, 0.7}, {10, 1}, crc::CRC_STATUS_DOING, crc::CRC_DIR_LEFT, 11),
      crc::PathSegment::Line({10, 1}, {10, 5}, crc::CRC_STATUS_RETRACT, crc::CRC_DIR_LEFT, 12)};
  const crc::AuditResult audit = crc::Audit(contour, tool, 1.0, crc::AUDIT_TOLERANCE_MM);
  ASSERT_TRUE(audit.ok) << audit.error;
  ASSERT_EQ(audit.gouges.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(audit.gouges[i].piece, 2 + i);
    EXPECT_EQ(audit.gouges[i].segmentId, 11);
    EXPECT_NEAR(audit.gouges[i].depth, 0.3, 1e-12);
    EXPECT_NEAR(audit.gouges[i].wallPoint.x, 5.0, 1e-12);
  }
  EXPECT_EQ(audit.summary.pieces, 4u);
  EXPECT_EQ(audit.summary.deepest.piece, 2u);

  // Compensate's own path of the same contour clears it.
  const crc::CompensateResult result = crc::Compensate(contour, crc::CompensateOptions(1.0));
  ASSERT_TRUE(result.ok);
  const crc::AuditResult clean = crc::Audit(contour, result.path, -1.0, 1e-9);
  ASSERT_TRUE(clean.ok) << clean.error;
  EXPECT_EQ(clean.gouges.size(), 0u);

  const crc::Path backwards = {contour[1], contour[0]};
  EXPECT_FALSE(crc::Audit(backwards, tool, 1.0, 0.005).ok);
  const crc::AuditResult noRadius = crc::Audit(contour, tool, 0.0, 0.005);
  EXPECT_FALSE(noRadius.ok);
  EXPECT_NE(noRadius.error.find("radius"), std::string::npos);
  EXPECT_FALSE(crc::Audit(contour, tool, 1.0, -1.0).ok);
  tool[2].curve.to.x = NAN;
  const crc::AuditResult nan = crc::Audit(contour, tool, 1.0, 0.005);
  EXPECT_FALSE(nan.ok);
  EXPECT_NE(nan.error.find("piece 2"), std::string::npos) << nan.error;
  EXPECT_TRUE(nan.gouges.empty());
}

#ifdef CUTCOMP_API_TEST_CLI
// The one-call API's defaults are the command-line tool's: a library user and a machinist get
// the same path from the same contour.
TEST(Defaults, AreTheCommandLineTools) {
  const crc::CompensateOptions api(1.0);
  const cli::Options tool;
  EXPECT_EQ(api.start, tool.start);
  EXPECT_EQ(api.lookBehind, tool.lookBehind);
  EXPECT_EQ(api.evade, tool.evade);
  EXPECT_EQ(api.camTolerance, tool.camTolerance);
  EXPECT_EQ(api.closureTolerance, tool.closureTolerance);
  EXPECT_EQ(api.startInPlace, tool.startInPlace);
  EXPECT_EQ(api.arcStartup, tool.arcStartup);
  EXPECT_EQ(static_cast<int>(api.end), static_cast<int>(tool.end));
  EXPECT_EQ(api.fit, tool.fit);
  EXPECT_EQ(api.fitTolerance.has_value(), tool.fitTolerance.has_value());
  EXPECT_EQ(api.arcTolerance.has_value(), tool.arcTolerance.has_value());
  static_assert(crc::FIT_TOLERANCE_MM == cli::DEFAULT_FIT_TOLERANCE_MM &&
                crc::FIT_TOLERANCE_INCH == cli::DEFAULT_FIT_TOLERANCE_INCH);
  static_assert(crc::AUDIT_TOLERANCE_MM == cli::DEFAULT_GOUGE_TOLERANCE_MM &&
                crc::AUDIT_TOLERANCE_INCH == cli::DEFAULT_GOUGE_TOLERANCE_INCH);
}
#endif

}  // namespace
}  // namespace cutcomp::test
