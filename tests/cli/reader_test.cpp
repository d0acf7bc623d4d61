// SPDX-License-Identifier: MIT
// The G-code reader: words, comments and refusals of the tokenizer; the modal interpreter's
// positions, arcs and compensation phases; the tool table.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gcode_reader.h"

namespace cutcomp::cli {
namespace {

// A FILE over a copy of a string, closed at scope exit.
struct MemoryFile {
  explicit MemoryFile(const std::string& text) : data(text) {
    file = std::tmpfile();
    std::fwrite(data.data(), 1, data.size(), file);
    std::rewind(file);
  }
  ~MemoryFile() { std::fclose(file); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  std::string data;
  std::FILE* file;
};

std::vector<Block> Read(const std::string& program, ReaderOptions options = {}) {
  MemoryFile input(program);
  GcodeReader reader(input.file, options);
  std::vector<Block> blocks;
  Block block;
  while (reader.Next(block)) {
    blocks.push_back(block);
  }
  return blocks;
}

// The error reading `program` gives, as "line:col: message".
std::string ErrorOf(const std::string& program, ReaderOptions options = {}) {
  try {
    Read(program, options);
  } catch (const InputError& error) {
    return std::to_string(error.Line()) + ":" + std::to_string(error.Col()) + ": " + error.what();
  }
  return "no error";
}

ReaderOptions Radius(double r) {
  ReaderOptions options;
  options.radius = r;
  return options;
}

std::vector<Phase> Phases(const std::vector<Block>& blocks) {
  std::vector<Phase> phases;
  for (const Block& b : blocks) {
    if (b.planeMotion) {
      phases.push_back(b.phase);
    }
  }
  return phases;
}

constexpr Phase N = Phase::NONE;
constexpr Phase E = Phase::ESTABLISH;
constexpr Phase D = Phase::DOING;
constexpr Phase R = Phase::RETRACT;

TEST(Tokenizer, WordsCommentsAndSpelling) {
  bool blockDelete = false;
  const std::vector<Item> items =
      Tokenize("/n10 g1x.5 Y - 1 2.25 (a comment) f 100 ;rest (here", 7, blockDelete);
  ASSERT_EQ(items.size(), 7u);
  EXPECT_TRUE(blockDelete);
  EXPECT_EQ(items[0].text, "N10");
  EXPECT_EQ(items[1].text, "G1");
  EXPECT_EQ(items[2].letter, 'X');
  EXPECT_DOUBLE_EQ(items[2].value, 0.5);
  EXPECT_DOUBLE_EQ(items[3].value, -12.25);
  EXPECT_EQ(items[3].text, "Y-12.25");
  EXPECT_EQ(items[3].col, 12u);
  EXPECT_EQ(items[4].kind, Item::COMMENT);
  EXPECT_EQ(items[4].text, "(a comment)");
  EXPECT_EQ(items[5].text, "F100");
  EXPECT_EQ(items[6].text, ";rest (here");

  EXPECT_EQ(Tokenize("  %  ", 1, blockDelete).at(0).text, "%");
  EXPECT_TRUE(Tokenize("", 1, blockDelete).empty());
  EXPECT_DOUBLE_EQ(Tokenize("X5.", 1, blockDelete).at(0).value, 5.0);
  EXPECT_DOUBLE_EQ(Tokenize("X+3", 1, blockDelete).at(0).value, 3.0);
}

TEST(Tokenizer, RefusalsNameTheConstructAndItsColumn) {
  const struct {
    const char* line;
    const char* error;
  } cases[] = {
      {"G1 X#1", "1:5: parameters ('#') are not supported"},
      {"#1=5", "1:1: parameters ('#') are not supported"},
      {"G1 X[1+2]", "1:5: expressions ('[...]') are not supported"},
      {"O100 sub", "1:1: O-words (subroutines and control flow) are not supported"},
      {"G1 X1 (open", "1:7: comment is not closed: ')' missing"},
      {"(a (b) c)", "1:4: comments cannot be nested"},
      {"G1 X", "1:4: word X has no number"},
      {"G1 X1.2.3", "1:8: unexpected character '.'"},
      {"G1 X1 $", "1:7: unexpected character '$'"},
      {"G1 \x01X1", "1:4: unexpected character '\\x01'"},
      {"G1 X1 % ", "1:7: unexpected character '%'"},
      {"X99999999999999999999999999999999999999999999999999999999999999999999999999999999999"
       "99999999999999999999999999999999999999999999999999999999999999999999999999999999999"
       "99999999999999999999999999999999999999999999999999999999999999999999999999999999999"
       "9999999999999999999999999999999999999999999999999999999999999999999999999999999",
       "1:1: number of word X is out of range"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ErrorOf(c.line), c.error) << c.line;
  }
  // A NUL byte (binary garbage) on the second line.
  EXPECT_EQ(ErrorOf(std::string("G0 X0\nG1\0X1\n", 12)), "2:3: unexpected character '\\x00'");
}

TEST(LineReader, EndingsAndTheLengthCap) {
  const std::vector<Block> blocks = Read("G0 X1 Y2\r\nG0 X3 Y4");
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].text, "G0 X1 Y2");
  EXPECT_EQ(blocks[1].line, 2u);
  EXPECT_DOUBLE_EQ(blocks[1].end.y, 4.0);

  const std::string longComment = "(" + std::string(MAX_LINE_LENGTH, 'x') + ")";
  EXPECT_EQ(ErrorOf("G0 X0\n" + longComment + "\nG0 X1\n"),
            "2:" + std::to_string(MAX_LINE_LENGTH + 1) + ": line is longer than " +
                std::to_string(MAX_LINE_LENGTH) + " characters");
  // Exactly at the cap is still a line.
  const std::string atCap = "(" + std::string(MAX_LINE_LENGTH - 2, 'x') + ")";
  EXPECT_EQ(ErrorOf(atCap + "\n"), "no error");
}

TEST(Interpreter, PositionsFollowDistanceModes) {
  const std::vector<Block> blocks =
      Read("G90 G0 X10 Y5\nG91 X1 Y-1\nX1\nG90 Y0\nG92 X0 Y0\nG1 X1\n");
  ASSERT_EQ(blocks.size(), 6u);
  EXPECT_FALSE(blocks[0].startKnown) << "nothing is known before the first X and Y";
  EXPECT_FALSE(blocks[0].planeMotion);
  EXPECT_TRUE(blocks[1].planeMotion);
  EXPECT_TRUE(blocks[1].incremental);
  EXPECT_DOUBLE_EQ(blocks[1].end.x, 11.0);
  EXPECT_DOUBLE_EQ(blocks[2].end.x, 12.0);
  EXPECT_EQ(blocks[2].motion, 0) << "G0 stays in force";
  EXPECT_DOUBLE_EQ(blocks[3].end.y, 0.0);
  EXPECT_DOUBLE_EQ(blocks[4].end.x, 0.0) << "G92 renames the current point";
  EXPECT_DOUBLE_EQ(blocks[5].start.x, 0.0);
  EXPECT_DOUBLE_EQ(blocks[5].end.x, 1.0);

  const std::vector<Block> lost = Read("G0 X1 Y1\nG55\nG0 X2\n");
  EXPECT_FALSE(lost[2].startKnown) << "a new coordinate system leaves the position unknown";
  EXPECT_FALSE(lost[2].planeMotion);

  const std::vector<Block> zOnly = Read("G0 X1 Y1\nG1 Z-1 F100\nG1 X1 Y1 Z-2\n");
  EXPECT_FALSE(zOnly[1].planeMotion);
  EXPECT_TRUE(zOnly[1].otherAxes);
  EXPECT_FALSE(zOnly[2].planeMotion) << "a move to the same XY point is no plane motion";
  EXPECT_EQ(zOnly[2].motion, 1);
}

TEST(Interpreter, ArcsByCentreAndByRadius) {
  // Quarter circle about the origin, radius 10, from (10,0) to (0,10).
  const Block ij = Read("G0 X10 Y0\nG3 X0 Y10 I-10 J0\n")[1];
  EXPECT_TRUE(ij.planeMotion);
  EXPECT_EQ(ij.motion, 3);
  EXPECT_NEAR(ij.center.x, 0.0, 1e-12);
  EXPECT_NEAR(ij.radius, 10.0, 1e-12);
  EXPECT_FALSE(ij.fullCircle);

  const Block absolute = Read("G90.1\nG0 X10 Y0\nG3 X0 Y10 I0 J0\n")[2];
  EXPECT_NEAR(absolute.center.x, 0.0, 1e-12);
  EXPECT_NEAR(absolute.center.y, 0.0, 1e-12);
  EXPECT_TRUE(absolute.arcAbsolute);

  // R > 0 takes the short arc, R < 0 the long one; the centre of the counterclockwise short arc
  // from (10,0) to (0,10) is the origin, that of the long one is (10,10).
  const Block shortArc = Read("G0 X10 Y0\nG3 X0 Y10 R10\n")[1];
  EXPECT_NEAR(shortArc.center.x, 0.0, 1e-9);
  EXPECT_NEAR(shortArc.center.y, 0.0, 1e-9);
  const Block longArc = Read("G0 X10 Y0\nG3 X0 Y10 R-10\n")[1];
  EXPECT_NEAR(longArc.center.x, 10.0, 1e-9);
  EXPECT_NEAR(longArc.center.y, 10.0, 1e-9);
  const Block clockwise = Read("G0 X10 Y0\nG2 X0 Y10 R10\n")[1];
  EXPECT_NEAR(clockwise.center.x, 10.0, 1e-9);
  EXPECT_NEAR(clockwise.center.y, 10.0, 1e-9);
  // A half circle whose R is rounded slightly below half the chord still has its centre on it.
  const Block half = Read("G0 X0 Y0\nG2 X10 Y0 R4.9995\n")[1];
  EXPECT_NEAR(half.center.x, 5.0, 1e-9);
  EXPECT_NEAR(half.center.y, 0.0, 1e-9);

  const Block full = Read("G0 X10 Y0\nG2 I-10 J0 Z-1\n")[1];
  EXPECT_TRUE(full.planeMotion);
  EXPECT_TRUE(full.fullCircle);
  EXPECT_DOUBLE_EQ(full.end.x, 10.0);
}

TEST(Interpreter, ArcRefusals) {
  // Radii 10 and 10.0021 differ by more than the stated 0.002 mm; 10.0019 is accepted.
  EXPECT_EQ(ErrorOf("G0 X10 Y0\nG3 X0 Y10.0021 I-10 J0\n"),
            "2:16: arc centre is not equidistant from its ends: 10 to the start, 10.0021 to the "
            "end (tolerance 0.002)");
  EXPECT_EQ(ErrorOf("G0 X10 Y0\nG3 X0 Y10.0019 I-10 J0\n"), "no error");
  EXPECT_EQ(ErrorOf("G20\nG0 X1 Y0\nG3 X0 Y1.0002 I-1 J0\n"),
            "3:15: arc centre is not equidistant from its ends: 1 to the start, 1.0002 to the "
            "end (tolerance 0.0001)");
  EXPECT_EQ(ErrorOf("G0 X0 Y0\nG2 X10 Y0\n"), "2:1: arc without centre: give I and J, or R");
  EXPECT_EQ(ErrorOf("G0 X0 Y0\nG2 X10 Y0 I5 R5\n"), "2:14: an arc takes either I J or R, not both");
  EXPECT_EQ(ErrorOf("G0 X0 Y0\nG2 X10 Y0 R4\n"),
            "2:11: arc radius 4 is smaller than half the distance between its ends");
  EXPECT_EQ(ErrorOf("G0 X0 Y0\nG2 X0 Y0 R4\n"),
            "2:10: an R arc cannot be a full circle (start = end): use I and J");
  EXPECT_EQ(ErrorOf("G0 X0 Y0\nG2 X1 Y0 I0 J0\n"),
            "2:10: arc centre coincides with its start point");
  EXPECT_EQ(ErrorOf("G0 X0 Y0\nG2 X1 Y0 K1 I.5\n"),
            "2:10: K is not an arc centre word in the XY plane (G17)");
  EXPECT_EQ(ErrorOf("G0 X0 Y0\nG2 X1 Y0 I.5 P2\n"),
            "2:14: arcs of several turns (P) are not supported");
  EXPECT_EQ(ErrorOf("G0 X0 Y0\nG1 X1 I1\n"), "2:7: I and J give an arc centre: they need G2 or G3");
}

TEST(Interpreter, CodeRefusals) {
  const struct {
    const char* program;
    const char* error;
  } cases[] = {
      {"G18\n", "1:1: G18: only the XY plane (G17) is supported"},
      {"G19 G0 X1\n", "1:1: G19: only the XY plane (G17) is supported"},
      {"G12.5\n", "1:1: unsupported G code G12.5"},
      {"G1.25\n", "1:1: unsupported G code G1.25"},
      {"G7\n", "1:1: G7: lathe diameter/radius modes are not supported"},
      {"G5.1 X1\n", "1:1: G5.1: splines are not supported"},
      {"G0 G1 X1\n", "1:4: G0 and G1 belong to the same modal group and cannot share a block"},
      {"G0 X1 X2\n", "1:7: word X appears twice in the block"},
      {"X1 Y1\n", "1:1: coordinates without a motion mode: add G0, G1, G2 or G3"},
      {"G80 X1\n", "1:5: coordinates without a motion mode: add G0, G1, G2 or G3"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ErrorOf(c.program), c.error) << c.program;
  }
  // Codes kept as written: dwell, tool length, path control, feed modes, return levels.
  EXPECT_EQ(ErrorOf("G4 P1\nG43 H1\nG64 P0.01\nG94\nG98\nG49\nG61.1\nG17 G21 G90 G91.1\n"),
            "no error");
  // A drilling cycle outside compensation ends above its hole.
  const std::vector<Block> drill = Read("G0 X0 Y0\nG81 X5 Y6 Z-1 R1\nX7\nG80\nG1 X0\n");
  EXPECT_DOUBLE_EQ(drill[4].start.x, 7.0);
  EXPECT_DOUBLE_EQ(drill[4].start.y, 6.0);
}

TEST(Compensation, PhasesOfOneRun) {
  ToolTable tools;
  tools.Add(1, 6.0);
  ReaderOptions options;
  options.tools = &tools;
  const std::vector<Block> blocks = Read(
      "G0 X-10 Y-10\nG1 Z-1\nG41 D1\nG1 X0 Y0\nX10\nZ-2\nY10\nG40\nG1 X-10 Y-10\nX-20\n", options);
  EXPECT_EQ(Phases(blocks), (std::vector<Phase>{E, D, D, R, N}));
  EXPECT_EQ(blocks[3].side, Side::LEFT);
  EXPECT_DOUBLE_EQ(blocks[3].compRadius, 3.0);
  EXPECT_EQ(blocks[2].items[0].role, Item::COMP);
  EXPECT_EQ(blocks[2].items[1].role, Item::COMP) << "the D of G41 goes with it";
  EXPECT_FALSE(blocks[5].planeMotion) << "Z inside compensation never reaches the engine";
}

TEST(Compensation, RadiusSources) {
  ToolTable tools;
  tools.Add(1, 6.0);
  tools.Add(2, -4.0);
  tools.Add(3, 0.0);
  ReaderOptions options;
  options.tools = &tools;
  auto radiusOf = [&options](const std::string& words) {
    for (const Block& b : Read("G0 X0 Y0\n" + words + "\nG1 X5\n", options)) {
      if (b.planeMotion) {
        return b.phase == Phase::NONE ? 0.0 : b.compRadius;
      }
    }
    return -999.0;
  };
  EXPECT_DOUBLE_EQ(radiusOf("G42 D1"), 3.0);
  EXPECT_DOUBLE_EQ(radiusOf("G41 D2"), -2.0) << "a negative diameter is kept: the engine swaps";
  EXPECT_DOUBLE_EQ(radiusOf("G41 D3"), 0.0);
  EXPECT_DOUBLE_EQ(radiusOf("G41 D0"), 0.0) << "D0: no offset, no table needed";
  EXPECT_DOUBLE_EQ(radiusOf("G41.1 D2.5"), 1.25);
  EXPECT_DOUBLE_EQ(radiusOf("T1 M6\nG41"), 3.0) << "without D: the loaded tool";
  // Zero radius: the run is not offset at all.
  EXPECT_EQ(Phases(Read("G0 X0 Y0\nG41 D0\nG1 X5\nX6\nG40 X7\n", options)),
            (std::vector<Phase>{N, N, N}));

  options.radius = 1.5;
  EXPECT_DOUBLE_EQ(radiusOf("G42 D7"), 1.5) << "--radius overrides D, even a missing entry";
  EXPECT_DOUBLE_EQ(radiusOf("G42.1 D9"), 1.5);

  ReaderOptions plain;
  plain.tools = &tools;
  EXPECT_EQ(ErrorOf("G41 D7\n", plain), "1:5: tool 7 (D7) is not in the tool table");
  EXPECT_EQ(ErrorOf("G41 D1.5\n", plain), "1:5: D must be a tool number (a non-negative integer)");
  EXPECT_EQ(ErrorOf("G41\n", plain),
            "1:1: G41 without D and no tool loaded (T.. M6): give D or --radius");
  EXPECT_EQ(ErrorOf("G42.1\n", plain), "1:1: G42.1 needs D, the tool diameter");
  EXPECT_EQ(ErrorOf("G41 D1\n"), "1:5: tool 1 needs a tool table (--tool-table FILE) or --radius");
}

TEST(Compensation, SideChangesRunsAndEnds) {
  // A side change inside a run keeps it running; a second run after G40; a program end.
  const std::vector<Block> blocks =
      Read("G0 X0 Y0\nG41 G1 X1\nX2\nG42 X3\nG40 X4\nG42 X5\nX6\nM30\nG1 X7\n", Radius(1));
  EXPECT_EQ(Phases(blocks), (std::vector<Phase>{E, D, D, R, E, D, N}));
  EXPECT_EQ(blocks[3].side, Side::RIGHT);
  EXPECT_EQ(blocks[2].side, Side::LEFT);
  EXPECT_TRUE(blocks[7].programEnd);

  // Switched off and on again before any move: the next move starts a new run.
  EXPECT_EQ(Phases(Read("G0 X0 Y0\nG41 G1 X1\nX2\nG40\nG41\nX3\nX4\n", Radius(1))),
            (std::vector<Phase>{E, D, E, D}));
  // G41 and G40 with no move between: nothing to compensate.
  EXPECT_EQ(Phases(Read("G0 X0 Y0\nG41\nG40\nG1 X3\n", Radius(1))), (std::vector<Phase>{N}));
}

TEST(Compensation, RefusedWhileCompensating) {
  ToolTable tools;
  tools.Add(1, 2.0);
  tools.Add(2, 4.0);
  ReaderOptions options;
  options.tools = &tools;
  const std::string on = "G0 X0 Y0\nG41 D1 G1 X1\n";
  const struct {
    const char* block;
    const char* error;
  } cases[] = {
      {"G41 D2 X2",
       "3:1: the compensation radius cannot change while compensation is on: "
       "cancel with G40 first"},
      {"G20",
       "3:1: units cannot change while compensation is on (the radius is in the old unit): "
       "cancel with G40 first"},
      {"G53 G0 X0", "3:1: G53 is not allowed while compensation is on: cancel with G40 first"},
      {"G92 X0", "3:1: G92 is not allowed while compensation is on: cancel with G40 first"},
      {"G55", "3:1: G55 is not allowed while compensation is on: cancel with G40 first"},
      {"G28", "3:1: G28 is not allowed while compensation is on: cancel with G40 first"},
      {"G81 X1 Y1 Z-1 R1",
       "3:1: canned cycles are not allowed while compensation is on: cancel with G40 first"},
      {"G38.2 Z-5", "3:1: G38.2 is not allowed while compensation is on: cancel with G40 first"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ErrorOf(on + c.block + "\n", options), c.error) << c.block;
  }
  EXPECT_EQ(ErrorOf(on + "G41 D1 X2\nG42 D1 X3\n", options), "no error") << "same radius";
  EXPECT_EQ(ErrorOf("G41 D1\nG1 X1 Y1\n", options),
            "2:4: compensation needs a known position: program X and Y before G41/G42");
}

TEST(ToolTableFile, LinesCommentsAndErrors) {
  MemoryFile good(
      "; tools\nT1 P1 D6.0 Z0 ;6 mm end mill\n\n(T9 in a comment)\nt2 p5 d3.175\nT3 P3\n");
  ToolTable table;
  table.Load(good.file);
  ASSERT_NE(table.Find(1), nullptr);
  EXPECT_DOUBLE_EQ(*table.Find(1), 6.0);
  EXPECT_DOUBLE_EQ(*table.Find(2), 3.175);
  EXPECT_DOUBLE_EQ(*table.Find(3), 0.0) << "no D: no diameter";
  EXPECT_EQ(table.Find(9), nullptr);

  auto errorOf = [](const std::string& text) {
    MemoryFile file(text);
    ToolTable t;
    try {
      t.Load(file.file);
    } catch (const InputError& error) {
      return std::to_string(error.Line()) + ":" + std::to_string(error.Col()) + ": " + error.what();
    }
    return std::string("no error");
  };
  EXPECT_EQ(errorOf("T1 D2\nP2 D3\n"), "2:1: tool table line has no T word");
  EXPECT_EQ(errorOf("T1 D2\nT1 D3\n"), "2:1: tool 1 is listed twice");
  EXPECT_EQ(errorOf("T-1 D2\n"), "1:1: tool number must be a non-negative integer");
  EXPECT_EQ(errorOf("T1 D#2\n"), "1:5: parameters ('#') are not supported");
}

}  // namespace
}  // namespace cutcomp::cli
