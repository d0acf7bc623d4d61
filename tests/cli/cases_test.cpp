// SPDX-License-Identifier: MIT
// The data-driven cases of the command-line tool, and one geometry pass over everything that
// succeeds. Golden programs: every cases/NAME.ngc is run as `cutcomp NAME.ngc ARGS` in cases/;
// its leading comments give the arguments (`; cutcomp:`), the exit status (`; exit:`, default
// 0), the exact standard error (`; stderr:` lines, in order) and how much geometry to check
// (`; geometry: path-only` for a path the engine left a gap in or a contour that crosses
// itself), in a dialect where ';' ends a block the same in parentheses (`(cutcomp: ...)`);
// NAME.expected is the exact standard output. Refusals: each row of
// cases/refusals.tsv (exit, arguments, program, standard error; `\n` a line break, `\xHH` a byte
// of the program, CASES the cases directory) is written to in.ngc and run.
//
// The geometry pass reads the --json record into the host's tool-path model and checks it with
// the model's path checks: continuity within each run, every compensated piece at the radius
// beside its programmed segment, no piece of a run nearer any of the run's programmed segments
// than the radius, nor nearer the chords a fitted segment stands for than the radius less the
// fitting tolerance; the written program, read back, moves along the recorded path; the picture
// is well-formed XML.
#include <dirent.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <tinyxml2.h>
#include <nlohmann/json.hpp>

#include "program_reader.h"
#include "run_process.h"
#include "tool_path.h"

namespace cutcomp::test {
namespace {

using nlohmann::json;

const std::string EXE = CUTCOMP_EXE;
const std::string CASES = CUTCOMP_CASES;
const std::string EXAMPLES = CUTCOMP_EXAMPLES;

// At a smooth joint the engine moves an offset end onto the next offset start, up to
// r (1 - cos 3.53 deg) = 0.0019 r off the parallel: the allowance of the distance checks.
constexpr double SMOOTH_JOINT = 0.0019;

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  std::string part;
  while (std::getline(in, part, separator)) {
    if (!part.empty() || separator == '\t') {
      parts.push_back(part);
    }
  }
  return parts;
}

std::string Unescape(const std::string& text, bool bytes) {
  std::string out;
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (text[k] == '\\' && k + 1 < text.size() && (text[k + 1] == 'n' || text[k + 1] == 't')) {
      out += text[++k] == 'n' ? '\n' : '\t';
    } else if (bytes && text.compare(k, 2, "\\x") == 0 && k + 3 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(k + 2, 2), nullptr, 16));
      k += 3;
    } else {
      out += text[k];
    }
  }
  return out;
}

std::string InCases(std::string text) {
  for (std::size_t at = 0; (at = text.find("CASES/", at)) != std::string::npos;) {
    text.replace(at, 5, CASES);
    at += CASES.size();
  }
  return text;
}

Curve ToCurve(const json& j) {
  Curve c;
  c.from = {j.at("start").at(0).get<double>(), j.at("start").at(1).get<double>()};
  c.to = {j.at("end").at(0).get<double>(), j.at("end").at(1).get<double>()};
  if (j.contains("center")) {
    c.arc = true;
    c.centre = {j.at("center").at(0).get<double>(), j.at("center").at(1).get<double>()};
    c.radius = j.at("radius").get<double>();
    c.ccw = j.at("ccw").get<bool>();
    c.fullCircle = j.at("full_circle").get<bool>();
  }
  return c;
}

// Distance from p to the line or circle that carries `c` (an extended corner lies beyond the
// programmed segment's end, but on its offset).
double ToCarrier(const Point& p, const Curve& c) {
  if (c.arc) {
    return std::fabs((p - c.centre).GetLength() - c.radius);
  }
  const Point v = c.to - c.from;
  const Point w = p - c.from;
  return std::fabs(v.x * w.y - v.y * w.x) / v.GetLength();
}

// One run of the record: its pieces, its radius, and the programmed chords of its fitted pieces.
struct RunRecord {
  std::vector<PathPiece> pieces;
  double radius = 0.0;
  std::vector<Curve> chords;
};

std::vector<RunRecord> Runs(const json& record) {
  std::vector<RunRecord> runs;
  for (const json& j : record.at("segments")) {
    PathPiece p;
    const std::string phase = j.at("phase").get<std::string>();
    p.phase = phase == "establish" ? crc::CRC_STATUS_ESTABLISH
              : phase == "doing"   ? crc::CRC_STATUS_DOING
              : phase == "retract" ? crc::CRC_STATUS_RETRACT
                                   : crc::CRC_STATUS_NONE;
    p.id = j.at("line").get<std::int64_t>();
    p.inserted = j.at("inserted").get<bool>();
    p.dropped = j.at("dropped").get<bool>();
    p.programmed = ToCurve(j.at("programmed"));
    p.tool = p.dropped ? Curve() : ToCurve(j.at("tool"));
    if (p.phase == crc::CRC_STATUS_ESTABLISH || (runs.empty() && p.phase != crc::CRC_STATUS_NONE)) {
      runs.emplace_back();
    }
    if (p.phase != crc::CRC_STATUS_NONE) {
      runs.back().pieces.push_back(p);
      runs.back().radius = std::fabs(j.at("radius").get<double>());
      const json& points = j.at("fitted").is_null() ? json::array() : j["fitted"].at("chords");
      for (std::size_t k = 1; k < points.size(); ++k) {
        Curve chord;
        chord.from = {points[k - 1].at(0).get<double>(), points[k - 1].at(1).get<double>()};
        chord.to = {points[k].at(0).get<double>(), points[k].at(1).get<double>()};
        runs.back().chords.push_back(chord);
      }
    }
  }
  return runs;
}

// Continuity, every offset piece at the radius from what the engine compensated and no nearer
// than that to any of it, and no nearer than the radius less the fitting tolerance to the
// programmed chords a fitted piece stands for.
// `clearance` (a number): a gouge-free path (--avoid), where the pieces need not lie at the radius
// from their own segments, but none of them, its corner pieces included, may come nearer any
// programmed segment than the radius less that tolerance.
void ExpectSoundRun(const RunRecord& run, bool offsetChecked, double fitTolerance,
                    double clearance = NAN) {
  const double r = run.radius;
  const std::optional<std::size_t> gap = FirstBreak(run.pieces, 1e-9);
  EXPECT_FALSE(gap) << "after " << Describe(run.pieces[gap.value_or(0)]);
  for (const PathPiece& s : run.pieces) {
    if (!std::isnan(clearance) && s.phase == crc::CRC_STATUS_DOING && !s.dropped) {
      for (const PathPiece& wall : run.pieces) {
        EXPECT_TRUE(wall.phase != crc::CRC_STATUS_DOING || wall.inserted ||
                    Distance(s.tool, wall.programmed) >= r - clearance - 1e-9)
            << Describe(s) << " comes nearer than the radius to line " << wall.id;
      }
      continue;
    }
    if (!offsetChecked || s.phase != crc::CRC_STATUS_DOING || s.dropped) {
      continue;
    }
    for (const Point& p : {s.tool.from, s.tool.to}) {
      EXPECT_TRUE(s.inserted || std::fabs(ToCarrier(p, s.programmed) - r) <= SMOOTH_JOINT * r)
          << Describe(s) << " is not at the radius from line " << s.id;
    }
    for (const PathPiece& other : run.pieces) {
      EXPECT_TRUE(other.phase != crc::CRC_STATUS_DOING || other.inserted ||
                  Distance(s.tool, other.programmed) >= r * (1 - SMOOTH_JOINT) - 1e-9)
          << Describe(s) << " comes nearer than the radius to line " << other.id;
    }
    for (const Curve& chord : run.chords) {
      EXPECT_TRUE(s.inserted ||
                  Distance(s.tool, chord) >= r * (1 - SMOOTH_JOINT) - fitTolerance - 1e-9)
          << Describe(s) << " comes nearer than the radius to the chord " << Describe(chord);
    }
  }
}

// What a program reads beside itself, as the command line `args` run in `dir` give it: its
// subroutine files, its tool table and its offset registers (which a program can read).
struct Surroundings {
  std::vector<std::string> dirs;
  cli::ToolTable tools;
  bool expandCycles = false;  // the roughing cycles are moves of the program
  std::optional<double> cycleRetract;
};

Surroundings SurroundingsOf(const std::string& dir, const std::vector<std::string>& args) {
  Surroundings around;
  around.dirs = {dir};
  const auto in = [&dir](const std::string& path) {
    return path[0] == '/' ? path : dir + "/" + path;
  };
  const auto path = std::find(args.begin(), args.end(), "--subroutine-path");
  if (path + 1 < args.end()) {
    for (const std::string& sub : language::SplitSearchPath(*(path + 1))) {
      around.dirs.push_back(in(sub));
    }
  }
  const auto table = std::find(args.begin(), args.end(), "--tool-table");
  if (table + 1 < args.end()) {
    std::FILE* file = std::fopen(in(*(table + 1)).c_str(), "rb");
    around.tools.Load(file);
    std::fclose(file);
  }
  const auto offsets = std::find(args.begin(), args.end(), "--offsets");
  if (offsets + 1 < args.end()) {
    std::FILE* file = std::fopen(in(*(offsets + 1)).c_str(), "rb");
    around.tools.LoadRegisters(file);
    std::fclose(file);
  }
  around.expandCycles = std::find(args.begin(), args.end(), "--expand-cycles") != args.end();
  const auto retract = std::find(args.begin(), args.end(), "--cycle-retract");
  if (retract + 1 < args.end()) {
    around.cycleRetract = std::stod(*(retract + 1));
  }
  return around;
}

// The plane moves a program executes.
std::vector<cli::Block> PlaneMoves(const std::string& program,
                                   const Surroundings& around = Surroundings()) {
  std::FILE* file = std::tmpfile();
  std::fputs(program.c_str(), file);
  std::rewind(file);
  cli::ReaderOptions options;
  options.radius = 1.0;  // any: D words need no tool table
  options.tools = &around.tools;
  options.expandCycles = around.expandCycles;
  options.cycleRetract = around.cycleRetract;
  options.lathe = cli::ReaderOptions::Lathe::RECOGNISED;  // as the tool reads it by default
  language::LanguageOptions language;
  language.subroutineDirs = around.dirs;
  language.dialect = language::Dialect::AUTO;  // as the tool reads it by default
  cli::ProgramReader reader(file, options, language);
  std::vector<cli::Block> moves;
  for (cli::Block block; reader.Next(block);) {
    if (block.planeMotion) {
      moves.push_back(block);
    }
  }
  std::fclose(file);
  return moves;
}

// Every plane move of the input is in the record once: as a segment of its own or as a chord
// of a fitted one (a move to where the program already is can add a segment of no length).
void ExpectEveryMoveRecorded(const std::string& input, const Surroundings& around,
                             const json& record) {
  std::size_t recorded = 0;
  for (const json& j : record.at("segments")) {
    const Curve programmed = ToCurve(j.at("programmed"));
    if (!j.at("fitted").is_null()) {
      recorded += j["fitted"].at("chords").size() - 1;
    } else if (!j.at("inserted").get<bool>() &&
               (programmed.arc || programmed.from != programmed.to)) {  // exact: no length at all
      ++recorded;
    }
  }
  EXPECT_EQ(recorded, PlaneMoves(input, around).size());
}

// The written program, read back, moves along the recorded tool path to the precision written;
// a turning tool's along it moved by a tip vector (the record keeps the nose centre's path):
// each component 0 or one nose radius.
void ExpectProgramFollowsPath(const std::string& program, const json& record) {
  const std::vector<cli::Block> moves = PlaneMoves(program);
  std::vector<Curve> path;
  std::vector<double> noses;
  for (const json& j : record.at("segments")) {
    const Curve tool = j.at("tool").is_null() ? Curve() : ToCurve(j.at("tool"));
    if (!j.at("tool").is_null() && (Length(tool) >= 5e-4 || tool.fullCircle)) {
      path.push_back(tool);
      noses.push_back(j.at("plane") == "G18" ? std::fabs(j.at("radius").get<double>()) : 0.0);
    }
  }
  const auto off = [](const Point& written, const Point& nose, double r) {
    const auto axis = [r](double d) { return std::min(std::fabs(d), std::fabs(std::fabs(d) - r)); };
    return std::hypot(axis(written.x - nose.x), axis(written.y - nose.y));
  };
  // An arc is compared by its middle: the centre of a nearly flat arc, written to the precision
  // of its end points, moves far along their bisector while the arc itself does not.
  const auto middle = [](const Curve& c) {
    const double angle =
        std::atan2(c.from.y - c.centre.y, c.from.x - c.centre.x) + (c.ccw ? 0.5 : -0.5) * Sweep(c);
    return c.centre + Point(std::cos(angle), std::sin(angle)) * c.radius;
  };
  ASSERT_EQ(moves.size(), path.size());
  for (std::size_t k = 0; k < moves.size(); ++k) {
    EXPECT_LT(off(moves[k].end, path[k].to, noses[k]), 1e-3) << "output line " << moves[k].Line();
    EXPECT_EQ(cli::IsArc(moves[k].motion), path[k].arc) << "output line " << moves[k].Line();
    if (path[k].arc && cli::IsArc(moves[k].motion)) {
      const Curve read{{true, moves[k].start, moves[k].end, moves[k].centre,
                        moves[k].motion == cli::Motion::ARC_CCW, moves[k].fullCircle},
                       moves[k].radius};
      EXPECT_LT(off(middle(read), middle(path[k]), noses[k]), 2e-3)
          << "output line " << moves[k].Line();
    }
  }
}

// Runs `file` in `dir` with --json and --svg beside the given arguments; returns the result
// and, when it succeeded, checks the geometry of what it wrote.
ProcessResult RunChecked(const std::string& dir, const std::string& file,
                         std::vector<std::string> args, bool offsetChecked) {
  const std::string out = MakeTempDir();
  args.insert(args.begin(), file);
  args.insert(args.end(), {"--json", out + "/r.json", "--svg", out + "/r.svg"});
  const ProcessResult result = RunProcess(EXE, args, dir);
  const json record = json::parse(ReadFile(out + "/r.json"), nullptr, false);
  tinyxml2::XMLDocument svg;
  EXPECT_EQ(svg.LoadFile((out + "/r.svg").c_str()), tinyxml2::XML_SUCCESS) << svg.ErrorStr();
  std::remove((out + "/r.json").c_str());
  std::remove((out + "/r.svg").c_str());
  std::remove(out.c_str());
  // 4: written with the gouge-free path, material left.
  if (result.exitCode == 0 || result.exitCode == 4) {
    EXPECT_TRUE(!record.is_discarded() && record.at("error").is_null());
    const auto fit = std::find(args.begin(), args.end(), "--fit");
    const double fitTolerance = fit + 1 < args.end() ? std::stod(*(fit + 1)) : 0.005;
    const auto tolerance = std::find(args.begin(), args.end(), "--gouge-tolerance");
    const double clearance = result.exitCode == 0         ? NAN
                             : tolerance + 1 < args.end() ? std::stod(*(tolerance + 1))
                                                          : 0.005;
    for (const RunRecord& run : Runs(record)) {
      ExpectSoundRun(run, offsetChecked, fitTolerance, clearance);
    }
    ExpectEveryMoveRecorded(ReadFile(dir + "/" + file), SurroundingsOf(dir, args), record);
    ExpectProgramFollowsPath(result.out, record);
  }
  return result;
}

std::vector<std::string> GoldenNames() {
  std::vector<std::string> names;
  if (DIR* dir = opendir(CASES.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".ngc") == 0) {
        names.push_back(name.substr(0, name.size() - 4));
      }
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class Golden : public ::testing::TestWithParam<std::string> {};

TEST_P(Golden, WritesTheExpectedProgramAndMessagesAndASoundPath) {
  const std::string name = GetParam();
  std::vector<std::string> args;
  int exit = 0;
  std::string err;
  bool offsetChecked = true;
  for (std::string line : Split(ReadFile(CASES + "/" + name + ".ngc"), '\n')) {
    // A dialect where ';' ends a block takes the same leading comments in parentheses:
    // "(cutcomp: --radius 3)".
    if (line.rfind('(', 0) == 0 && line.size() > 1 && line.back() == ')') {
      line = "; " + line.substr(1, line.size() - 2);
    }
    if (line.rfind("; cutcomp: ", 0) == 0) {
      args = Split(line.substr(11), ' ');
    } else if (line.rfind("; exit: ", 0) == 0) {
      exit = std::stoi(line.substr(8));
    } else if (line.rfind("; stderr: ", 0) == 0) {
      err += line.substr(10) + "\n";
    }
    offsetChecked = offsetChecked && line != "; geometry: path-only";
  }
  const ProcessResult result = RunChecked(CASES, name + ".ngc", args, offsetChecked);
  EXPECT_EQ(result.exitCode, exit) << result.err;
  EXPECT_EQ(result.err, err);
  EXPECT_EQ(result.out, ReadFile(CASES + "/" + name + ".expected"));
}

INSTANTIATE_TEST_SUITE_P(Cli, Golden, ::testing::ValuesIn(GoldenNames()),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                           return param.param;
                         });

class Example : public ::testing::TestWithParam<std::string> {};

// Every example compensates without a warning, the gouge audit's included.
// A program that compensates cleanly comes out the same, byte for byte, with --avoid.
TEST_P(Example, CompensatesToASoundPath) {
  for (const std::string evade : {"--look-behind=3", "--evade"}) {
    const ProcessResult result =
        RunChecked(EXAMPLES, GetParam() + ".ngc", {"--tool-table", "tools.tbl", evade}, true);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const ProcessResult avoided = RunProcess(
        EXE, {GetParam() + ".ngc", "--tool-table", "tools.tbl", evade, "--avoid"}, EXAMPLES);
    EXPECT_EQ(avoided.exitCode, 0) << avoided.err;
    EXPECT_EQ(avoided.out, result.out);
  }
}

INSTANTIATE_TEST_SUITE_P(Cli, Example,
                         ::testing::Values("bracket", "arc_profile", "cam_profile", "spline_chords",
                                           "no_cancel", "z_plunges", "lathe_profile",
                                           "fanuc_bracket", "pocket_sub"));

struct Refusal {
  std::size_t row;
  int exit;
  std::vector<std::string> args;
  std::string program;
  std::string err;
};

void PrintTo(const Refusal& row, std::ostream* out) { *out << "refusals.tsv line " << row.row; }

std::vector<Refusal> Refusals() {
  std::vector<Refusal> rows;
  std::size_t number = 0;
  for (const std::string& line : Split(ReadFile(CASES + "/refusals.tsv"), '\n')) {
    std::vector<std::string> fields = Split(line, '\t');
    if (!line.empty() && line.back() == '\t') {
      fields.emplace_back();  // nothing on standard error
    }
    if (++number > 0 && line[0] != '#' && fields.size() == 4) {
      rows.push_back({number, std::stoi(fields[0]), Split(InCases(fields[1]), ' '),
                      Unescape(fields[2], true), InCases(Unescape(fields[3], false))});
    }
  }
  return rows;
}

class Refused : public ::testing::TestWithParam<Refusal> {};

TEST_P(Refused, WithTheMessageAndStatus) {
  const Refusal& row = GetParam();
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/in.ngc", row.program);
  std::vector<std::string> args = {"in.ngc"};
  args.insert(args.end(), row.args.begin(), row.args.end());
  const ProcessResult result = RunProcess(EXE, args, dir);
  std::remove((dir + "/in.ngc").c_str());
  std::remove(dir.c_str());
  EXPECT_EQ(result.exitCode, row.exit) << row.program;
  EXPECT_EQ(result.err, row.err) << row.program;
  // Bad input writes nothing, nor does a gouge unless it is allowed.
  const bool allowed =
      std::find(row.args.begin(), row.args.end(), "--allow-gouge") != row.args.end();
  EXPECT_EQ(result.out.empty(), row.exit == 2 || (row.exit == 3 && !allowed)) << row.program;
}

INSTANTIATE_TEST_SUITE_P(Cli, Refused, ::testing::ValuesIn(Refusals()),
                         [](const ::testing::TestParamInfo<Refusal>& param) {
                           return "row" + std::to_string(param.param.row);
                         });

}  // namespace
}  // namespace cutcomp::test
