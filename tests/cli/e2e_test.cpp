// SPDX-License-Identifier: MIT
// End-to-end runs of the cutcomp executable. One geometry pass: the examples and every golden
// case that succeeds are run with --json and --svg; the record is read into the tool-path model
// and checked with the model's own path checks (continuity, offset distance, no point of a run
// nearer its programmed contour than the radius), the written program is read back and must
// move along the recorded path, and the picture must be well-formed XML. Then what only a
// process shows: exit codes, standard input, outputs that cannot be written, hostile files.
#include <cmath>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <tinyxml2.h>
#include <nlohmann/json.hpp>

#include "flat_source.h"
#include "modal_reader.h"
#include "run_process.h"
#include "tool_path.h"

namespace cutcomp::test {
namespace {

using nlohmann::json;

const std::string EXE = CUTCOMP_EXE;
const std::string EXAMPLES = CUTCOMP_EXAMPLES;
const std::string CASES = CUTCOMP_CASES;

// At a smooth joint the engine moves an offset end onto the next offset start, up to
// r (1 - cos 3.53 deg) = 0.0019 r off the parallel: the allowance of the distance checks.
constexpr double SMOOTH_JOINT = 0.0019;

struct Record {
  PathPiece piece;
  std::size_t line = 0;
  double radius = 0;  // signed radius in force
};

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

std::vector<Record> Records(const json& document) {
  std::vector<Record> records;
  for (const json& j : document.at("segments")) {
    Record r;
    const std::string phase = j.at("phase").get<std::string>();
    r.piece.phase = phase == "establish" ? crc::CRC_STATUS_ESTABLISH
                    : phase == "doing"   ? crc::CRC_STATUS_DOING
                    : phase == "retract" ? crc::CRC_STATUS_RETRACT
                                         : crc::CRC_STATUS_NONE;
    r.piece.inserted = j.at("inserted").get<bool>();
    r.piece.dropped = j.at("dropped").get<bool>();
    r.piece.programmed = ToCurve(j.at("programmed"));
    if (!r.piece.dropped) {
      r.piece.tool = ToCurve(j.at("tool"));
    }
    r.line = j.at("line").get<std::size_t>();
    r.radius = j.at("radius").get<double>();
    records.push_back(r);
  }
  return records;
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

// Every compensated piece runs at the radius beside its programmed segment, and no piece of a
// run comes nearer any programmed segment of that run than the radius.
void ExpectOffsetAndClearance(const std::vector<Record>& records) {
  std::size_t begin = 0;
  while (begin < records.size()) {
    std::size_t end = begin + 1;
    while (end < records.size() && records[end].piece.phase != crc::CRC_STATUS_ESTABLISH) {
      ++end;
    }
    for (std::size_t i = begin; i < end; ++i) {
      const Record& s = records[i];
      if (s.piece.phase != crc::CRC_STATUS_DOING || s.piece.dropped) {
        continue;
      }
      const double r = std::fabs(s.radius);
      if (!s.piece.inserted) {
        for (const Point& p : {s.piece.tool.from, s.piece.tool.to}) {
          EXPECT_NEAR(ToCarrier(p, s.piece.programmed), r, SMOOTH_JOINT * r + 1e-6)
              << "line " << s.line;
        }
      }
      for (std::size_t k = begin; k < end; ++k) {
        const Record& other = records[k];
        if (other.piece.phase == crc::CRC_STATUS_DOING && !other.piece.inserted) {
          EXPECT_GE(Distance(s.piece.tool, other.piece.programmed), r * (1 - SMOOTH_JOINT) - 1e-6)
              << Describe(s.piece) << " against line " << other.line;
        }
      }
    }
    begin = end;
  }
}

// The written program, read back, moves along the recorded tool path to the precision written.
void ExpectProgramFollowsPath(const std::string& program, const std::vector<Record>& records) {
  std::FILE* file = std::tmpfile();
  std::fputs(program.c_str(), file);
  std::rewind(file);
  cli::FlatBlockSource source(file);
  cli::ModalReader reader(source, {});
  std::vector<cli::Block> moves;
  cli::Block block;
  while (reader.Next(block)) {
    if (block.planeMotion) {
      moves.push_back(block);
    }
  }
  std::fclose(file);
  std::vector<const Curve*> path;
  for (const Record& r : records) {
    if (!r.piece.dropped && (Length(r.piece.tool) >= 5e-4 || r.piece.tool.fullCircle)) {
      path.push_back(&r.piece.tool);
    }
  }
  ASSERT_EQ(moves.size(), path.size());
  for (std::size_t k = 0; k < moves.size(); ++k) {
    const Curve& tool = *path[k];
    EXPECT_LT((moves[k].end - tool.to).GetLength(), 1e-3) << "output line " << moves[k].Line();
    EXPECT_EQ(cli::IsArc(moves[k].motion), tool.arc) << "output line " << moves[k].Line();
    if (tool.arc && cli::IsArc(moves[k].motion)) {
      EXPECT_LT((moves[k].centre - tool.centre).GetLength(), 2e-3);
    }
  }
}

struct Program {
  std::string dir;
  std::string file;
  std::vector<std::string> args;
  bool offsetChecked = true;  // false: a path the engine left a gap in (only continuity holds)
};

std::vector<Program> Programs() {
  std::vector<Program> programs;
  for (const char* name : {"bracket.ngc", "arc_profile.ngc", "cam_profile.ngc", "no_cancel.ngc",
                           "z_plunges.ngc", "lathe_profile.ngc", "fanuc_bracket.ngc"}) {
    for (const char* evade : {"", "--evade"}) {
      Program p{EXAMPLES, name, {"--tool-table", "tools.tbl"}};
      if (*evade != '\0') {
        p.args.push_back(evade);
      }
      programs.push_back(p);
    }
  }
  std::istringstream list(ReadFile(CASES + "/geometry.txt"));
  std::string entry;
  while (std::getline(list, entry)) {
    std::istringstream fields(entry);
    std::string name;
    std::string flag;
    fields >> name >> flag;
    if (name.empty() || name[0] == '#') {
      continue;
    }
    Program p{CASES, name, {}, flag != "path-only"};
    std::istringstream head(ReadFile(CASES + "/" + name));
    std::string line;
    std::getline(head, line);
    std::istringstream args(line.rfind("; cutcomp: ", 0) == 0 ? line.substr(11) : "");
    std::string arg;
    while (args >> arg) {
      p.args.push_back(arg);
    }
    programs.push_back(p);
  }
  return programs;
}

class Geometry : public ::testing::TestWithParam<Program> {};

TEST_P(Geometry, RecordProgramAndPictureDescribeOneSoundPath) {
  const Program& p = GetParam();
  const std::string dir = MakeTempDir();
  std::vector<std::string> args = {
      p.file, "-o", dir + "/out.ngc", "--json", dir + "/out.json", "--svg", dir + "/out.svg"};
  args.insert(args.end(), p.args.begin(), p.args.end());
  const ProcessResult result = RunProcess(EXE, args, p.dir);
  const std::string program = ReadFile(dir + "/out.ngc");
  const json document = json::parse(ReadFile(dir + "/out.json"), nullptr, false);
  tinyxml2::XMLDocument svg;
  const tinyxml2::XMLError parsed = svg.LoadFile((dir + "/out.svg").c_str());
  for (const char* f : {"/out.ngc", "/out.json", "/out.svg"}) {
    std::remove((dir + f).c_str());
  }
  std::remove(dir.c_str());
  ASSERT_EQ(result.exitCode, 0) << result.err;
  ASSERT_FALSE(document.is_discarded());
  EXPECT_TRUE(document.at("error").is_null());
  EXPECT_EQ(parsed, tinyxml2::XML_SUCCESS) << svg.ErrorStr();
  const std::vector<Record> records = Records(document);
  // Continuity within each run: between runs a position may be lost (G28, a work offset).
  std::vector<PathPiece> run;
  for (std::size_t k = 0; k <= records.size(); ++k) {
    const bool inRun = k < records.size() && records[k].piece.phase != crc::CRC_STATUS_NONE;
    if (inRun && records[k].piece.phase != crc::CRC_STATUS_ESTABLISH) {
      run.push_back(records[k].piece);
      continue;
    }
    const std::optional<std::size_t> gap = FirstBreak(run, 1e-9);
    EXPECT_FALSE(gap) << "after " << Describe(run[gap.value_or(0)]);
    run.assign(inRun ? 1 : 0, inRun ? records[k].piece : PathPiece());
  }
  if (p.offsetChecked) {
    ExpectOffsetAndClearance(records);
  }
  ExpectProgramFollowsPath(program, records);
}

INSTANTIATE_TEST_SUITE_P(Cli, Geometry, ::testing::ValuesIn(Programs()),
                         [](const ::testing::TestParamInfo<Program>& param) {
                           std::string name =
                               param.param.file.substr(0, param.param.file.find('.'));
                           for (const std::string& arg : param.param.args) {
                             name += arg == "--evade" ? "_evade" : "";
                           }
                           return name;
                         });

TEST(Failure, RecordAndPictureMarkTheBlock) {
  const std::string dir = MakeTempDir();
  const ProcessResult run =
      RunProcess(EXE,
                 {"slot_too_narrow.ngc", "--tool-table", "tools.tbl", "-o", "/dev/null", "--json",
                  dir + "/out.json", "--svg", dir + "/out.svg"},
                 EXAMPLES);
  const json document = json::parse(ReadFile(dir + "/out.json"), nullptr, false);
  const std::string svg = ReadFile(dir + "/out.svg");
  std::remove((dir + "/out.json").c_str());
  std::remove((dir + "/out.svg").c_str());
  std::remove(dir.c_str());
  EXPECT_EQ(run.exitCode, 1);
  ASSERT_FALSE(document.is_discarded());
  EXPECT_EQ(document.at("error").at("line"), 11);
  EXPECT_EQ(document.at("error").at("code"), 5);
  EXPECT_FALSE(document.at("error").at("engine_message").get<std::string>().empty());
  EXPECT_NE(svg.find("class=\"errseg\""), std::string::npos);
}

TEST(Process, HelpVersionAndUsageErrors) {
  const ProcessResult help = RunProcess(EXE, {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* text :
       {"--output", "--svg", "--json", "--tool-table", "--tool-units", "--radius",
        "--arc-tolerance", "--start", "--look-behind", "--evade", "--end", "--locate-rapids",
        "--precision", "--verbose", "program's units"}) {
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
  }
  const ProcessResult version = RunProcess(EXE, {"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("cutcomp ", 0), 0u);
  EXPECT_EQ(RunProcess(EXE, {"x.ngc", "--no-such-option"}).exitCode, 2);
  EXPECT_EQ(RunProcess(EXE, {"x.ngc", "--precision", "12"}).exitCode, 2);
  const ProcessResult missing = RunProcess(EXE, {"/no/such/program.ngc"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_EQ(missing.err, "/no/such/program.ngc: error: cannot open: No such file or directory\n");
}

TEST(Process, ReadsStandardInputLikeAFile) {
  const std::string program = EXAMPLES + "/bracket.ngc";
  const ProcessResult file = RunProcess(EXE, {program, "--radius", "2"});
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--radius", "2"},
                                               std::vector<std::string>{"-", "--radius", "2"}}) {
    const ProcessResult piped = RunProcess(EXE, args, "", program);
    EXPECT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(piped.out, file.out);
  }
  const ProcessResult bad = RunProcess(EXE, {}, "", CASES + "/refusals.tsv");
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_EQ(bad.err.rfind("<stdin>:1:", 0), 0u) << bad.err;
}

TEST(Process, AnOutputThatCannotBeWrittenIsAnError) {
  const std::string program = EXAMPLES + "/bracket.ngc";
  for (const char* option : {"-o", "--json", "--svg"}) {
    std::vector<std::string> args = {program, "--radius", "2", option, "/dev/full"};
    if (std::string(option) != "-o") {
      args.insert(args.end(), {"-o", "/dev/null"});
    }
    const ProcessResult result = RunProcess(EXE, args);
    EXPECT_EQ(result.exitCode, 2) << option;
    EXPECT_EQ(result.err, "/dev/full: error: writing failed: No space left on device\n") << option;
  }
  EXPECT_EQ(RunProcess(EXE, {program, "--radius", "2", "--json", "/no/dir/x.json"}).exitCode, 2);
}

TEST(Process, BinaryGarbageAndAHugeLine) {
  const std::string dir = MakeTempDir();
  std::mt19937 random(12345);
  std::string garbage(1 << 16, '\0');
  for (char& c : garbage) {
    c = static_cast<char>(random() & 0xff);
  }
  WriteFile(dir + "/garbage.ngc", garbage);
  const ProcessResult binary = RunProcess(EXE, {"garbage.ngc"}, dir);
  EXPECT_EQ(binary.exitCode, 2);
  EXPECT_EQ(binary.err.rfind("garbage.ngc:", 0), 0u) << binary.err;
  EXPECT_EQ(binary.out, "");
  // A 50 MB line is refused after reading 64 KiB of it.
  {
    std::FILE* file = std::fopen((dir + "/huge.ngc").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("G0 X0 Y0\n(", file);
    const std::string chunk(1 << 20, 'x');
    for (int k = 0; k < 50; ++k) {
      std::fwrite(chunk.data(), 1, chunk.size(), file);
    }
    std::fputs(")\n", file);
    std::fclose(file);
  }
  const ProcessResult huge = RunProcess(EXE, {"huge.ngc"}, dir);
  EXPECT_EQ(huge.exitCode, 2);
  EXPECT_EQ(huge.err, "huge.ngc:2:65537: error: line is longer than 65536 characters\n");
  EXPECT_LT(huge.peakRssKiB, 40 * 1024) << "the line must not be read whole";
  std::remove((dir + "/garbage.ngc").c_str());
  std::remove((dir + "/huge.ngc").c_str());
  std::remove(dir.c_str());
}

}  // namespace
}  // namespace cutcomp::test
