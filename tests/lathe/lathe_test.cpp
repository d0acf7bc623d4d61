// SPDX-License-Identifier: MIT
// The lathe module as data: one small runner per row file (tip vectors and controlled paths,
// lathe words, the offset list, the profile cycles). Rows say what they test and how their
// expectations were worked out; the runners only read and compare.
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include <gtest/gtest.h>

#include "lathe_words.h"
#include "offset_list.h"
#include "profile_cycles.h"
#include "tip.h"

namespace cutcomp::lathe {
namespace {

// Expectations are written with ten decimals at most.
constexpr double CLOSE = 1e-9;

std::string Trim(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t");
  const auto end = text.find_last_not_of(" \t");
  return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

// Every row of a file: comments and blank lines dropped, continuation lines (leading spaces)
// joined to their row.
std::vector<std::string> Rows(const char* name) {
  std::ifstream in(std::string(CUTCOMP_LATHE_ROWS) + "/" + name);
  EXPECT_TRUE(in) << name;
  std::vector<std::string> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (Trim(line).empty() || line[0] == '#') {
      continue;
    }
    if ((line[0] == ' ' || line[0] == '\t') && !rows.empty()) {
      rows.back() += " " + Trim(line);
    } else {
      rows.push_back(Trim(line));
    }
  }
  return rows;
}

// The next number of `in`; strtod reads "nan" and "inf", which operator>> does not.
double Next(std::istream& in) {
  std::string word;
  in >> word;
  return std::strtod(word.c_str(), nullptr);
}

std::vector<std::string> Split(const std::string& text, const std::string& by) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find(by, from)) != std::string::npos; from = at + by.size()) {
    parts.push_back(Trim(text.substr(from, at - from)));
  }
  parts.push_back(Trim(text.substr(from)));
  return parts;
}

// "expected => " split in two; the expectation "error TEXT" gives TEXT in `error`.
struct Row {
  std::string input;
  std::string expect;
  std::string error;
};
Row Parse(const std::string& row) {
  const auto at = row.find("=>");
  Row parsed{Trim(row.substr(0, at)), at == std::string::npos ? "" : Trim(row.substr(at + 2)), {}};
  if (parsed.expect.rfind("error ", 0) == 0) {
    parsed.error = parsed.expect.substr(6);
  }
  return parsed;
}

void ExpectNear(const Point& got, const Point& want, const std::string& what) {
  EXPECT_NEAR(got.x, want.x, CLOSE) << what;
  EXPECT_NEAR(got.y, want.y, CLOSE) << what;
}

// "L Z X Z X" or "A Z X Z X CZ CX ccw|cw".
Curve ReadCurve(std::istream& in) {
  Curve c;
  std::string kind;
  std::string sense;
  in >> kind >> c.from.x >> c.from.y >> c.to.x >> c.to.y;
  c.arc = kind == "A";
  if (c.arc) {
    in >> c.centre.x >> c.centre.y >> sense;
    c.ccw = sense == "ccw";
  }
  return c;
}

void ExpectCurve(const Curve& got, const Curve& want) {
  EXPECT_EQ(got.arc, want.arc);
  ExpectNear(got.from, want.from, "from");
  ExpectNear(got.to, want.to, "to");
  if (want.arc) {
    ExpectNear(got.centre, want.centre, "centre");
    EXPECT_EQ(got.ccw, want.ccw);
  }
}

TEST(Lathe, TipRows) {
  for (const std::string& text : Rows("tip_rows.txt")) {
    SCOPED_TRACE(text);
    const Row row = Parse(text);
    std::istringstream in(row.input);
    std::string kind;
    std::string chart;
    std::string radius;
    int direction = 0;
    in >> kind >> chart >> direction >> radius;
    const TipVector tip = TipOf(direction, std::strtod(radius.c_str(), nullptr),
                                chart == "up" ? TipChart::X_UP : TipChart::X_DOWN);
    if (!row.error.empty()) {
      EXPECT_FALSE(tip.ok);
      EXPECT_NE(tip.error.find(row.error), std::string::npos) << tip.error;
      continue;
    }
    ASSERT_TRUE(tip.ok) << tip.error;
    if (kind == "tip") {
      std::istringstream want(row.expect);
      Point offset;
      want >> offset.x >> offset.y;
      ExpectNear(tip.offset, offset, "tip");
      continue;
    }
    // The one profile's nose-centre path, moved; and back again, as the audit reads it.
    std::istringstream nose(
        "L 2 10.5 -10 10.5 L -10 10.5 -14 14.5 A -14 14.5 -17 17.5 -17 14.5 ccw");
    const std::vector<std::string> wanted = Split(row.expect, ";");
    for (const std::string& w : wanted) {
      std::istringstream want(w);
      const Curve expected = ReadCurve(want);
      const Curve centre = ReadCurve(nose);
      ExpectCurve(ControlledCurve(centre, tip.offset), expected);
      ExpectCurve(NoseCentreCurve(expected, tip.offset), centre);
      PathPiece piece;
      piece.tool = centre;
      piece.programmed = expected;
      const PathPiece moved = ControlledPiece(piece, tip.offset);
      ExpectCurve(moved.tool, expected);
      ExpectCurve(moved.programmed, expected);
      piece.dropped = true;
      ExpectCurve(ControlledPiece(piece, tip.offset).tool, centre);
    }
  }
}

// A block's words: (letter, value, text) for the evidence, G codes apart for the modal state.
std::vector<std::pair<char, std::string>> Words(const std::string& block) {
  std::vector<std::pair<char, std::string>> words;
  std::istringstream in(block);
  std::string word;
  while (in >> word) {
    words.emplace_back(char(std::toupper(word[0])), word.substr(1));
  }
  return words;
}

struct Program {
  LatheFrame frame;
  std::optional<bool> arc;  // G0/G1: none, G2: false, G3: true
  bool rapid = false;
};

// Runs one block on `program`; its move, or the refusal.
LatheMove Block(Program& program, const std::string& block) {
  LatheWords words;
  for (const auto& [letter, text] : Words(block)) {
    const double value = std::strtod(text.c_str(), nullptr);
    if (letter == 'G') {
      const long code = std::lround(value * 10);
      program.rapid = code == 0                                ? true
                      : code == 10 || code == 20 || code == 30 ? false
                                                               : program.rapid;
      program.arc = code == 0 || code == 10 ? std::nullopt
                    : code == 20            ? std::optional<bool>(false)
                    : code == 30            ? std::optional<bool>(true)
                                            : program.arc;
      program.frame.incremental = code == 900   ? false
                                  : code == 910 ? true
                                                : program.frame.incremental;
      program.frame.centreAbsolute = code == 901   ? true
                                     : code == 911 ? false
                                                   : program.frame.centreAbsolute;
      continue;
    }
    std::optional<double>* slot = letter == 'X'   ? &words.x
                                  : letter == 'Z' ? &words.z
                                  : letter == 'U' ? &words.u
                                  : letter == 'W' ? &words.w
                                  : letter == 'I' ? &words.i
                                  : letter == 'K' ? &words.k
                                  : letter == 'R' ? &words.r
                                  : letter == 'C' ? &words.c
                                                  : nullptr;
    EXPECT_NE(slot, nullptr) << block;
    if (slot != nullptr) {
      *slot = value;
    }
  }
  const LatheMove move = ResolveLatheMove(words, program.frame, program.arc, 0.001);
  if (move.ok) {
    program.frame.at = move.end;
  }
  return move;
}

TEST(Lathe, WordRows) {
  Program program;
  for (const std::string& text : Rows("word_rows.txt")) {
    SCOPED_TRACE(text);
    const Row row = Parse(text);
    std::istringstream in(row.input);
    std::string kind;
    in >> kind;
    if (kind == "program") {
      program = Program();
      std::string word;
      while (in >> word && word != "at") {
        program.frame.xMode = word == "diameter" ? XMode::DIAMETER : program.frame.xMode;
        program.frame.uwIncremental = program.frame.uwIncremental || word == "uw";
      }
      in >> program.frame.at.x >> program.frame.at.y;
      continue;
    }
    std::string got;
    if (kind == "tool") {
      std::string digits;
      in >> digits;
      const ToolSelect select = SplitLatheToolWord(digits);
      got = select.ok ? std::to_string(select.tool) + " " + std::to_string(select.offset)
                      : "error " + select.error;
    } else if (kind == "evidence") {
      std::vector<WordView> views;
      std::vector<std::string> texts;
      const std::string rest = row.input.substr(kind.size());
      for (std::istringstream words(rest); words >> texts.emplace_back();) {
      }
      texts.pop_back();
      for (const std::string& word : texts) {
        views.push_back(
            {char(std::toupper(word[0])), std::strtod(word.c_str() + 1, nullptr), word});
      }
      got = LatheEvidence(views);
      EXPECT_EQ(row.expect == "none", got.empty()) << got;
      EXPECT_NE(row.expect == "none" ? 0 : got.find(row.expect), std::string::npos) << got;
      continue;
    } else {
      const LatheMove move = Block(program, row.input);
      if (!row.error.empty()) {
        EXPECT_FALSE(move.ok);
        EXPECT_NE(move.error.find(row.error), std::string::npos) << move.error;
        continue;
      }
      ASSERT_TRUE(move.ok) << move.error;
      std::istringstream want(row.expect);
      Point end;
      Point centre;
      std::string word;
      want >> end.x >> end.y;
      ExpectNear(move.end, end, "end");
      EXPECT_EQ(bool(want >> word), move.hasCentre);
      if (move.hasCentre) {
        want >> centre.x >> centre.y;
        ExpectNear(move.centre, centre, "centre");
      }
      continue;
    }
    if (!row.error.empty()) {
      EXPECT_NE(got.find(row.error), std::string::npos) << got;
    } else {
      EXPECT_EQ(got, row.expect);
    }
  }
}

TEST(Lathe, OffsetRows) {
  for (const std::string& text : Rows("offset_rows.txt")) {
    SCOPED_TRACE(text);
    const Row row = Parse(text);
    std::string file;
    for (const std::string& line : Split(row.input.substr(std::string("offsets").size()), "|")) {
      file += line + "\n";
    }
    std::istringstream in(file);
    const OffsetList list = ReadOffsetList(in);
    if (!row.error.empty()) {
      std::istringstream want(row.error);
      std::size_t line = 0;
      std::string message;
      want >> line;
      std::getline(want, message);
      EXPECT_FALSE(list.ok);
      EXPECT_EQ(list.errorLine, line);
      EXPECT_NE(list.error.find(Trim(message)), std::string::npos) << list.error;
      continue;
    }
    ASSERT_TRUE(list.ok) << list.errorLine << ": " << list.error;
    std::string got;
    for (const auto& [number, offset] : list.offsets) {
      std::ostringstream one;
      one << number << " " << offset.noseRadius << " " << offset.tip;
      got += (got.empty() ? "" : ", ") + one.str();
    }
    EXPECT_EQ(got, row.expect);
  }
}

// "R Z X", "F Z X", "A Z X c CZ CX ccw" with an optional "@ID".
std::string Describe(const CycleMove& move) {
  std::ostringstream out;
  const auto number = [&out](double v) {
    // Ten decimals, trailing zeros dropped: the rows' own way of writing a coordinate.
    char text[64];
    std::snprintf(text, sizeof text, "%.10f", std::fabs(v) < CLOSE ? 0.0 : v);
    std::string s = text;
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.') {
      s.pop_back();
    }
    out << " " << s;
  };
  out << (move.curve.arc ? "A" : move.rapid ? "R" : "F");
  number(move.curve.to.x);
  number(move.curve.to.y);
  if (move.curve.arc) {
    out << " c";
    number(move.curve.centre.x);
    number(move.curve.centre.y);
    out << (move.curve.ccw ? " ccw" : " cw");
  }
  if (move.id >= 0) {
    out << " @" << move.id;
  }
  return out.str();
}

TEST(Lathe, CycleRows) {
  for (const std::string& text : Rows("cycle_rows.txt")) {
    SCOPED_TRACE(text);
    const Row row = Parse(text);
    const std::vector<std::string> blocks = Split(row.input, "|");
    std::istringstream head(blocks[0]);
    std::string kind;
    std::string word;
    RoughingCycle cycle;
    Point start;
    head >> kind;
    while (head >> word) {
      if (word == "at") {
        start.x = Next(head);
        start.y = Next(head);
      } else if (word == "depth") {
        cycle.depth = Next(head);
      } else if (word == "retract") {
        cycle.retract = Next(head);
      } else if (word == "allow") {
        cycle.allowance.x = Next(head);
        cycle.allowance.y = Next(head);
      }
    }
    Program program;
    program.frame.at = start;
    std::vector<CycleMove> profile;
    for (std::size_t i = 1; i < blocks.size(); ++i) {
      // "jump Z X": the next move starts there (a profile with a gap).
      if (blocks[i].rfind("jump", 0) == 0) {
        std::istringstream jump(blocks[i].substr(4));
        program.frame.at.x = Next(jump);
        program.frame.at.y = Next(jump);
        continue;
      }
      CycleMove m;
      if (blocks[i].rfind("line", 0) == 0) {
        std::istringstream line(blocks[i].substr(4));
        m.curve.from = Point(Next(line), Next(line));
        m.curve.to = Point(Next(line), Next(line));
        m.id = std::int64_t(profile.size());
        profile.push_back(m);
        continue;
      }
      const Point from = program.frame.at;
      const LatheMove move = Block(program, blocks[i]);
      ASSERT_TRUE(move.ok) << move.error;
      m.curve.from = from;
      m.curve.to = move.end;
      m.curve.arc = program.arc.has_value();
      m.curve.ccw = program.arc.value_or(true);
      m.curve.centre = move.centre;
      m.curve.radius = std::hypot(from.x - move.centre.x, from.y - move.centre.y);
      m.rapid = program.rapid;
      m.id = std::int64_t(profile.size());
      profile.push_back(m);
    }
    cycle.along = kind == "g72" ? RoughingAxis::X : RoughingAxis::Z;
    const CycleResult result = kind == "g70" ? ExpandFinishing(start, profile, 1e-6)
                                             : ExpandRoughing(start, profile, cycle, 1e-6);
    if (!row.error.empty()) {
      EXPECT_FALSE(result.ok);
      const auto at = row.error.find(" @");
      EXPECT_NE(result.error.find(row.error.substr(0, at)), std::string::npos) << result.error;
      EXPECT_EQ(result.errorId,
                at == std::string::npos ? -1 : std::atoll(row.error.c_str() + at + 2));
      continue;
    }
    ASSERT_TRUE(result.ok) << result.error;
    // The moves chain: each starts where the last ended, the first at the start point.
    Point at = start;
    std::string got;
    for (const CycleMove& move : result.moves) {
      ExpectNear(move.curve.from, at, "chain");
      at = move.curve.to;
      got += (got.empty() ? "" : ", ") + Describe(move);
    }
    std::string want;
    for (const std::string& move : Split(row.expect, ",")) {
      want += (want.empty() ? "" : ", ") + move;
    }
    EXPECT_EQ(got, want);
  }
}

}  // namespace
}  // namespace cutcomp::lathe
