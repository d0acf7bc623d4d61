// SPDX-License-Identifier: MIT
// The G-code reader: line reading with a length cap, tokenizing, and the modal interpreter that
// assigns every plane motion its geometry and its compensation phase and side. It decides what
// a program means; how the tool-centre path is computed and written is left to the driver.
#include "gcode_reader.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <crc/geometry/point2.h>

namespace cutcomp::cli {

namespace {

// How far the two distances from an arc's centre to its ends may differ before the arc is
// refused (and how far an R may fall short of half the chord): 0.002 mm, or 0.0001 in under
// G20. CAM output rounds coordinates to three or four decimals, which moves an end point off
// the circle by up to about 0.0007 mm (0.00007 in); a real error, a wrong I or J, is far larger.
constexpr double ARC_RADIUS_TOLERANCE_MM = 0.002;
constexpr double ARC_RADIUS_TOLERANCE_INCH = 0.0001;

// G and M numbers carry at most one decimal (G41.1, G90.1); a value is such a number when ten
// times it is within this of an integer.
constexpr double CODE_DECIMAL_TOLERANCE = 1e-6;

std::string Printable(unsigned char c) {
  if (c >= 0x20 && c < 0x7f) {
    return std::string("'") + static_cast<char>(c) + "'";
  }
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "'\\x%02x'", c);
  return buffer;
}

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

double Distance(const Vec2& a, const Vec2& b) { return std::hypot(a.x - b.x, a.y - b.y); }

// G codes by their number times ten, with the modal group (NGC numbering, 100 for the lathe
// modes) and what the reader does with them.
enum class GKind {
  PASS,            // no effect on the plane path: kept in the output as written
  MOTION,          // G0..G3
  MOTION_CANCEL,   // G80
  CANNED,          // drilling cycles: they end at their X Y
  PROBE,           // G38.x: ends wherever the probe tripped
  PLANE,           // G17
  UNITS,           // G20/G21
  DISTANCE,        // G90/G91
  ARC_DISTANCE,    // G90.1/G91.1
  COMP,            // G40/G41/G42/G41.1/G42.1
  MACHINE_MOVE,    // G53: moves in machine coordinates
  LOSES_POSITION,  // coordinate system changes and homing: the position in program
                   // coordinates is unknown afterwards
  SETS_POSITION,   // G92: the current point gets the given coordinates
  REFUSED,         // never supported
};

struct GInfo {
  int group;
  GKind kind;
  const char* why;  // REFUSED: the reason given to the user
};

struct GEntry {
  int code;  // the G number times ten
  GInfo info;
};

// Every G code the reader knows. Group numbers follow NGC's modal groups (100: the lathe modes).
// clang-format off
const GEntry G_CODES[] = {
    {0, {1, GKind::MOTION, nullptr}},   {10, {1, GKind::MOTION, nullptr}},
    {20, {1, GKind::MOTION, nullptr}},  {30, {1, GKind::MOTION, nullptr}},
    {800, {1, GKind::MOTION_CANCEL, nullptr}},
    {730, {1, GKind::CANNED, nullptr}}, {810, {1, GKind::CANNED, nullptr}},
    {820, {1, GKind::CANNED, nullptr}}, {830, {1, GKind::CANNED, nullptr}},
    {840, {1, GKind::CANNED, nullptr}}, {850, {1, GKind::CANNED, nullptr}},
    {860, {1, GKind::CANNED, nullptr}}, {870, {1, GKind::CANNED, nullptr}},
    {880, {1, GKind::CANNED, nullptr}}, {890, {1, GKind::CANNED, nullptr}},
    {382, {1, GKind::PROBE, nullptr}},  {383, {1, GKind::PROBE, nullptr}},
    {384, {1, GKind::PROBE, nullptr}},  {385, {1, GKind::PROBE, nullptr}},
    {50, {1, GKind::REFUSED, "splines are not supported"}},
    {51, {1, GKind::REFUSED, "splines are not supported"}},
    {52, {1, GKind::REFUSED, "splines are not supported"}},
    {53, {1, GKind::REFUSED, "splines are not supported"}},
    {330, {1, GKind::REFUSED, "threading cycles are not supported"}},
    {331, {1, GKind::REFUSED, "threading cycles are not supported"}},
    {760, {1, GKind::REFUSED, "threading cycles are not supported"}},
    {170, {2, GKind::PLANE, nullptr}},
    {180, {2, GKind::REFUSED, "only the XY plane (G17) is supported"}},
    {190, {2, GKind::REFUSED, "only the XY plane (G17) is supported"}},
    {171, {2, GKind::REFUSED, "only the XY plane (G17) is supported"}},
    {181, {2, GKind::REFUSED, "only the XY plane (G17) is supported"}},
    {191, {2, GKind::REFUSED, "only the XY plane (G17) is supported"}},
    {900, {3, GKind::DISTANCE, nullptr}},     {910, {3, GKind::DISTANCE, nullptr}},
    {901, {4, GKind::ARC_DISTANCE, nullptr}}, {911, {4, GKind::ARC_DISTANCE, nullptr}},
    {930, {5, GKind::PASS, nullptr}},   {940, {5, GKind::PASS, nullptr}},
    {950, {5, GKind::PASS, nullptr}},
    {200, {6, GKind::UNITS, nullptr}},  {210, {6, GKind::UNITS, nullptr}},
    {400, {7, GKind::COMP, nullptr}},   {410, {7, GKind::COMP, nullptr}},
    {420, {7, GKind::COMP, nullptr}},   {411, {7, GKind::COMP, nullptr}},
    {421, {7, GKind::COMP, nullptr}},
    {430, {8, GKind::PASS, nullptr}},   {431, {8, GKind::PASS, nullptr}},
    {432, {8, GKind::PASS, nullptr}},   {490, {8, GKind::PASS, nullptr}},
    {980, {10, GKind::PASS, nullptr}},  {990, {10, GKind::PASS, nullptr}},
    {540, {12, GKind::LOSES_POSITION, nullptr}}, {550, {12, GKind::LOSES_POSITION, nullptr}},
    {560, {12, GKind::LOSES_POSITION, nullptr}}, {570, {12, GKind::LOSES_POSITION, nullptr}},
    {580, {12, GKind::LOSES_POSITION, nullptr}}, {590, {12, GKind::LOSES_POSITION, nullptr}},
    {591, {12, GKind::LOSES_POSITION, nullptr}}, {592, {12, GKind::LOSES_POSITION, nullptr}},
    {593, {12, GKind::LOSES_POSITION, nullptr}},
    {610, {13, GKind::PASS, nullptr}},  {611, {13, GKind::PASS, nullptr}},
    {640, {13, GKind::PASS, nullptr}},
    {960, {14, GKind::PASS, nullptr}},  {970, {14, GKind::PASS, nullptr}},
    {70, {100, GKind::REFUSED, "lathe diameter/radius modes are not supported"}},
    {80, {100, GKind::REFUSED, "lathe diameter/radius modes are not supported"}},
    {40, {0, GKind::PASS, nullptr}},    {281, {0, GKind::PASS, nullptr}},
    {301, {0, GKind::PASS, nullptr}},
    {100, {0, GKind::LOSES_POSITION, nullptr}}, {280, {0, GKind::LOSES_POSITION, nullptr}},
    {300, {0, GKind::LOSES_POSITION, nullptr}}, {520, {0, GKind::LOSES_POSITION, nullptr}},
    {921, {0, GKind::LOSES_POSITION, nullptr}}, {922, {0, GKind::LOSES_POSITION, nullptr}},
    {923, {0, GKind::LOSES_POSITION, nullptr}},
    {530, {0, GKind::MACHINE_MOVE, nullptr}},
    {920, {0, GKind::SETS_POSITION, nullptr}},
};
// clang-format on

bool LookUpG(int code, GInfo& info) {
  for (const GEntry& entry : G_CODES) {
    if (entry.code == code) {
      info = entry.info;
      return true;
    }
  }
  return false;
}

std::string GName(int code) {
  char buffer[32];
  if (code % 10 == 0) {
    std::snprintf(buffer, sizeof buffer, "G%d", code / 10);
  } else {
    std::snprintf(buffer, sizeof buffer, "G%d.%d", code / 10, code % 10);
  }
  return buffer;
}

bool IsAxisLetter(char c) {
  return c == 'X' || c == 'Y' || c == 'Z' || c == 'A' || c == 'B' || c == 'C' || c == 'U' ||
         c == 'V' || c == 'W';
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// LineReader

bool LineReader::Fill() {
  m_Pos = 0;
  m_End = std::fread(m_Buffer, 1, sizeof m_Buffer, m_File);
  return m_End > 0;
}

bool LineReader::Next(std::string& line) {
  line.clear();
  bool any = false;
  for (;;) {
    if (m_Pos == m_End && !Fill()) {
      if (!any) {
        return false;
      }
      break;  // last line without a terminator
    }
    any = true;
    const char* begin = m_Buffer + m_Pos;
    const void* newline = std::memchr(begin, '\n', m_End - m_Pos);
    const std::size_t take =
        newline != nullptr ? static_cast<std::size_t>(static_cast<const char*>(newline) - begin)
                           : m_End - m_Pos;
    if (line.size() + take > MAX_LINE_LENGTH) {
      throw InputError(m_Line + 1, MAX_LINE_LENGTH + 1,
                       "line is longer than " + std::to_string(MAX_LINE_LENGTH) + " characters");
    }
    line.append(begin, take);
    m_Pos += take;
    if (newline != nullptr) {
      ++m_Pos;
      break;
    }
  }
  ++m_Line;
  if (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Tokenizer

std::vector<Item> Tokenize(const std::string& line, std::size_t lineNumber, bool& blockDelete) {
  std::vector<Item> items;
  blockDelete = false;
  std::size_t pos = 0;
  const std::size_t n = line.size();
  auto fail = [lineNumber](std::size_t at, const std::string& message) {
    throw InputError(lineNumber, at + 1, message);
  };
  while (pos < n && IsSpace(line[pos])) {
    ++pos;
  }
  if (pos < n && line[pos] == '/') {
    blockDelete = true;
    ++pos;
  }
  // A line holding only '%' delimits the program; keep it as it is.
  {
    std::size_t p = pos;
    while (p < n && IsSpace(line[p])) {
      ++p;
    }
    if (p < n && line[p] == '%') {
      std::size_t q = p + 1;
      while (q < n && IsSpace(line[q])) {
        ++q;
      }
      if (q != n || blockDelete) {
        fail(p, "'%' must stand alone on its line");
      }
      Item item;
      item.kind = Item::COMMENT;
      item.text = "%";
      item.col = p + 1;
      items.push_back(item);
      return items;
    }
  }
  while (pos < n) {
    const unsigned char c = static_cast<unsigned char>(line[pos]);
    if (IsSpace(static_cast<char>(c))) {
      ++pos;
      continue;
    }
    if (c == '(') {
      std::size_t close = pos + 1;
      while (close < n && line[close] != ')') {
        const unsigned char d = static_cast<unsigned char>(line[close]);
        if (d == '(') {
          fail(close, "comments cannot be nested");
        }
        if (d < 0x20 && d != '\t') {
          fail(close, "unexpected character " + Printable(d) + " in a comment");
        }
        ++close;
      }
      if (close == n) {
        fail(pos, "comment is not closed: ')' missing");
      }
      Item item;
      item.kind = Item::COMMENT;
      item.text = line.substr(pos, close - pos + 1);
      item.col = pos + 1;
      items.push_back(item);
      pos = close + 1;
      continue;
    }
    if (c == ';') {
      for (std::size_t k = pos + 1; k < n; ++k) {
        const unsigned char d = static_cast<unsigned char>(line[k]);
        if (d < 0x20 && d != '\t') {
          fail(k, "unexpected character " + Printable(d) + " in a comment");
        }
      }
      Item item;
      item.kind = Item::COMMENT;
      item.text = line.substr(pos);
      item.col = pos + 1;
      items.push_back(item);
      break;
    }
    if (c == '#') {
      fail(pos, "parameters ('#') are not supported");
    }
    if (c == '[') {
      fail(pos, "expressions ('[...]') are not supported");
    }
    if (!std::isalpha(c)) {
      fail(pos, "unexpected character " + Printable(c));
    }
    const char letter = static_cast<char>(std::toupper(c));
    if (letter == 'O') {
      fail(pos, "O-words (subroutines and control flow) are not supported");
    }
    Item item;
    item.letter = letter;
    item.col = pos + 1;
    ++pos;
    // The number: spaces may stand anywhere inside it; a sign, digits and one decimal point.
    std::string number;
    bool digits = false;
    bool point = false;
    while (pos < n) {
      const char d = line[pos];
      if (IsSpace(d)) {
        ++pos;
        continue;
      }
      if ((d == '+' || d == '-') && number.empty()) {
        number += d;
      } else if (d >= '0' && d <= '9') {
        number += d;
        digits = true;
      } else if (d == '.' && !point) {
        number += d;
        point = true;
      } else {
        break;
      }
      ++pos;
    }
    if (!digits) {
      if (pos < n && line[pos] == '#') {
        fail(pos, "parameters ('#') are not supported");
      }
      if (pos < n && line[pos] == '[') {
        fail(pos, "expressions ('[...]') are not supported");
      }
      fail(item.col - 1, std::string("word ") + letter + " has no number");
    }
    errno = 0;
    char* endPtr = nullptr;
    item.value = std::strtod(number.c_str(), &endPtr);
    if (errno == ERANGE || !std::isfinite(item.value)) {
      fail(item.col - 1, std::string("number of word ") + letter + " is out of range");
    }
    item.text = std::string(1, letter) + number;
    items.push_back(item);
  }
  return items;
}

// ---------------------------------------------------------------------------------------------
// Tool table

void ToolTable::Load(std::FILE* file) {
  LineReader lines(file);
  std::string line;
  while (lines.Next(line)) {
    bool blockDelete = false;
    const std::vector<Item> items = Tokenize(line, lines.LineNumber(), blockDelete);
    const Item* t = nullptr;
    const Item* d = nullptr;
    for (const Item& item : items) {
      if (item.kind != Item::WORD) {
        continue;
      }
      if (item.letter == 'T') {
        t = &item;
      } else if (item.letter == 'D') {
        d = &item;
      }
    }
    if (t == nullptr) {
      if (!items.empty() && items.front().kind == Item::WORD) {
        throw InputError(lines.LineNumber(), items.front().col, "tool table line has no T word");
      }
      continue;  // blank or comment-only line
    }
    if (t->value < 0 || t->value != std::floor(t->value) || t->value > 1e9) {
      throw InputError(lines.LineNumber(), t->col, "tool number must be a non-negative integer");
    }
    const int tool = static_cast<int>(t->value);
    if (Find(tool) != nullptr) {
      throw InputError(lines.LineNumber(), t->col,
                       "tool " + std::to_string(tool) + " is listed twice");
    }
    // A tool without D has no diameter: it compensates by nothing.
    m_Diameters[tool] = d != nullptr ? d->value : 0.0;
  }
}

const double* ToolTable::Find(int tool) const {
  const auto it = m_Diameters.find(tool);
  return it == m_Diameters.end() ? nullptr : &it->second;
}

// ---------------------------------------------------------------------------------------------
// Interpreter

GcodeReader::GcodeReader(std::FILE* file, ReaderOptions options)
    : m_Lines(file), m_Options(options) {}

bool GcodeReader::Next(Block& block) {
  if (!m_Lines.Next(m_Line)) {
    return false;
  }
  block = Block();
  block.line = m_Lines.LineNumber();
  block.text = m_Line;
  block.items = Tokenize(m_Line, block.line, block.blockDelete);
  Interpret(block);
  return true;
}

double GcodeReader::ResolveRadius(const Block& block, int compCode, const Item* d,
                                  std::size_t col) {
  if (m_Options.radius) {
    return *m_Options.radius;
  }
  if (compCode == 411 || compCode == 421) {
    if (d == nullptr) {
      throw InputError(block.line, col, GName(compCode) + " needs D, the tool diameter");
    }
    return d->value / 2.0;
  }
  int tool = -1;
  if (d != nullptr) {
    if (d->value < 0 || d->value != std::floor(d->value) || d->value > 1e9) {
      throw InputError(block.line, d->col, "D must be a tool number (a non-negative integer)");
    }
    tool = static_cast<int>(d->value);
  } else if (m_LoadedTool >= 0) {
    tool = m_LoadedTool;
  } else {
    throw InputError(
        block.line, col,
        GName(compCode) + " without D and no tool loaded (T.. M6): give D or --radius");
  }
  if (tool == 0) {
    return 0.0;  // D0: compensation by nothing
  }
  const double* diameter = m_Options.tools != nullptr ? m_Options.tools->Find(tool) : nullptr;
  if (diameter == nullptr) {
    const std::size_t at = d != nullptr ? d->col : col;
    if (m_Options.tools == nullptr || m_Options.tools->Empty()) {
      throw InputError(
          block.line, at,
          "tool " + std::to_string(tool) + " needs a tool table (--tool-table FILE) or --radius");
    }
    throw InputError(block.line, at,
                     "tool " + std::to_string(tool) + " (D" + std::to_string(tool) +
                         ") is not in the tool table");
  }
  return *diameter / 2.0;
}

void GcodeReader::Interpret(Block& b) {
  const std::size_t line = b.line;
  Item* words[26] = {};
  struct G {
    int code;
    GInfo info;
    Item* item;
  };
  std::vector<G> gs;
  bool m6 = false;
  bool programEnd = false;
  const Item* m61 = nullptr;
  for (Item& item : b.items) {
    if (item.kind != Item::WORD) {
      continue;
    }
    if (item.letter == 'G') {
      const double scaled = item.value * 10.0;
      const double rounded = std::round(scaled);
      GInfo info{};
      if (item.value < 0 || std::fabs(scaled - rounded) > CODE_DECIMAL_TOLERANCE ||
          rounded > 10000 || !LookUpG(static_cast<int>(rounded), info)) {
        throw InputError(line, item.col, "unsupported G code " + item.text);
      }
      const int code = static_cast<int>(rounded);
      if (info.kind == GKind::REFUSED) {
        throw InputError(line, item.col, GName(code) + ": " + info.why);
      }
      for (const G& other : gs) {
        if (other.info.group == info.group) {
          throw InputError(line, item.col,
                           GName(other.code) + " and " + GName(code) +
                               " belong to the same modal group and cannot share a block");
        }
      }
      gs.push_back({code, info, &item});
      continue;
    }
    if (item.letter == 'M') {
      if (item.value == 6) {
        m6 = true;
      } else if (item.value == 2 || item.value == 30) {
        programEnd = true;
      } else if (item.value == 61) {
        m61 = &item;
      }
      continue;
    }
    Item*& slot = words[item.letter - 'A'];
    if (slot != nullptr) {
      throw InputError(line, item.col,
                       std::string("word ") + item.letter + " appears twice in the block");
    }
    slot = &item;
  }
  auto word = [&words](char letter) { return words[letter - 'A']; };

  // Tool selection and change come first in a block's order of execution.
  if (Item* t = word('T')) {
    m_SelectedTool = t->value >= 0 && t->value == std::floor(t->value) && t->value < 1e9
                         ? static_cast<int>(t->value)
                         : -1;
  }
  if (m6) {
    m_LoadedTool = m_SelectedTool;
  }
  if (m61 != nullptr) {
    const Item* q = word('Q');
    m_LoadedTool =
        q != nullptr && q->value >= 0 && q->value < 1e9 ? static_cast<int>(q->value) : -1;
  }

  // Modal settings, then compensation, then motion: the order a controller executes them in.
  const G* motionWord = nullptr;
  const G* comp = nullptr;
  const G* owner = nullptr;  // a non-modal code that takes the axis words for itself
  bool losesPosition = false;
  const bool wasCompensating = m_Run != Run::NONE;
  for (const G& g : gs) {
    switch (g.info.kind) {
    case GKind::UNITS: {
      const Units units = g.code == 200 ? Units::INCH : Units::MM;
      if (units != m_Units && wasCompensating) {
        throw InputError(line, g.item->col,
                         "units cannot change while compensation is on (the radius is in the "
                         "old unit): cancel with G40 first");
      }
      m_Units = units;
      break;
    }
    case GKind::DISTANCE:
      m_Incremental = g.code == 910;
      break;
    case GKind::ARC_DISTANCE:
      m_ArcAbsolute = g.code == 901;
      break;
    case GKind::COMP:
      comp = &g;
      break;
    case GKind::MOTION:
    case GKind::MOTION_CANCEL:
    case GKind::CANNED:
    case GKind::PROBE:
      motionWord = &g;
      break;
    case GKind::MACHINE_MOVE:
      losesPosition = true;
      break;
    case GKind::LOSES_POSITION:
    case GKind::SETS_POSITION:
      if (g.info.group == 0) {
        owner = &g;
      }
      losesPosition = losesPosition || g.info.kind == GKind::LOSES_POSITION;
      break;
    case GKind::PASS:
    case GKind::PLANE:
    case GKind::REFUSED:
      break;
    }
  }
  b.units = m_Units;
  b.incremental = m_Incremental;
  b.arcAbsolute = m_ArcAbsolute;

  // Compensation words.
  if (comp != nullptr) {
    comp->item->role = Item::COMP;
    const int code = comp->code;
    if (code == 400) {
      if (m_Run == Run::ESTABLISH_PENDING) {
        m_Run = Run::NONE;  // switched on and off again without a move: nothing to cancel
      } else if (m_Run == Run::DOING) {
        m_Run = Run::CANCEL_PENDING;
      }
    } else {
      Item* d = word('D');
      if (d != nullptr) {
        d->role = Item::COMP;
      }
      const double radius = ResolveRadius(b, code, d, comp->item->col);
      if (!std::isfinite(radius)) {
        throw InputError(line, comp->item->col, "compensation radius is out of range");
      }
      const Side side = code == 410 || code == 411 ? Side::LEFT : Side::RIGHT;
      if (m_Run == Run::DOING) {
        // exact: the same D in force again is no change; any other radius is
        if (radius != m_CompRadius) {
          throw InputError(line, comp->item->col,
                           "the compensation radius cannot change while compensation is on: "
                           "cancel with G40 first");
        }
      } else {
        // Off, just switched on, or cancelled without a move yet: a (new) run starts with the
        // next plane move.
        m_Run = Run::ESTABLISH_PENDING;
        m_CompRadius = radius;
      }
      m_Side = side;
    }
  }
  const bool compensating = m_Run != Run::NONE;

  if (compensating && (owner != nullptr || losesPosition)) {
    const Item* at = owner != nullptr ? owner->item : nullptr;
    for (const G& g : gs) {
      if (g.info.kind == GKind::MACHINE_MOVE || g.info.kind == GKind::LOSES_POSITION ||
          g.info.kind == GKind::SETS_POSITION) {
        at = g.item;
      }
    }
    throw InputError(line, at != nullptr ? at->col : 0,
                     (at != nullptr ? at->text : std::string("this code")) +
                         " is not allowed while compensation is on: cancel with G40 first");
  }

  // Motion mode in force for this block.
  if (motionWord != nullptr) {
    if (motionWord->info.kind == GKind::MOTION_CANCEL) {
      m_Motion = -1;
    } else if (motionWord->info.kind == GKind::PROBE) {
      // A probe move is non-modal in effect: it ends wherever the probe tripped.
    } else {
      m_Motion = motionWord->code;
    }
  }

  bool axisWords = false;
  for (char letter : {'X', 'Y', 'Z', 'A', 'B', 'C', 'U', 'V', 'W'}) {
    axisWords = axisWords || word(letter) != nullptr;
  }
  for (char letter : {'Z', 'A', 'B', 'C', 'U', 'V', 'W'}) {
    b.otherAxes = b.otherAxes || word(letter) != nullptr;
  }
  Item* x = word('X');
  Item* y = word('Y');
  Item* i = word('I');
  Item* j = word('J');
  Item* r = word('R');
  // Where to point at for an error about the motion as a whole: its first plane coordinate,
  // else its first axis word.
  auto axisCol = [&]() -> std::size_t {
    if (x != nullptr || y != nullptr) {
      return (x != nullptr ? x : y)->col;
    }
    for (const Item& item : b.items) {
      if (item.kind == Item::WORD && IsAxisLetter(item.letter)) {
        return item.col;
      }
    }
    return 1;
  };

  b.start = m_Pos;
  b.startKnown = m_KnownX && m_KnownY;
  b.end = m_Pos;
  b.endKnown = b.startKnown;

  const int activeMotion =
      motionWord != nullptr && motionWord->info.kind == GKind::PROBE ? motionWord->code : m_Motion;
  const bool arcMode = activeMotion == 20 || activeMotion == 30;
  const bool cannedMode = activeMotion >= 730 && activeMotion != 800 &&
                          !(activeMotion >= 382 && activeMotion <= 385) && activeMotion < 900;
  if (motionWord != nullptr && motionWord->code <= 30) {
    b.explicitMotionWord = true;
    motionWord->item->role = Item::MOTION;
  }

  if (owner != nullptr) {
    // The axis words belong to G10/G28/G30/G52/G92: no motion in program coordinates we can
    // follow, except G92, which names the current point.
    if (owner->info.kind == GKind::SETS_POSITION) {
      if (x != nullptr) {
        m_Pos.x = x->value;
        m_KnownX = true;
      }
      if (y != nullptr) {
        m_Pos.y = y->value;
        m_KnownY = true;
      }
    } else {
      m_KnownX = m_KnownY = false;
    }
  } else if (losesPosition) {
    m_KnownX = m_KnownY = false;  // G53 or a coordinate system switch
  } else if (axisWords || (arcMode && (i != nullptr || j != nullptr || r != nullptr))) {
    // An arc with a centre but no axis words ends where it starts: a full circle.
    if (activeMotion < 0) {
      throw InputError(line, axisCol(), "coordinates without a motion mode: add G0, G1, G2 or G3");
    }
    if (activeMotion >= 382 && activeMotion <= 385) {
      if (compensating) {
        throw InputError(line, motionWord->item->col,
                         motionWord->item->text +
                             " is not allowed while compensation is on: cancel with G40 first");
      }
      m_KnownX = m_KnownY = false;
    } else if (cannedMode) {
      if (compensating) {
        throw InputError(line, motionWord != nullptr ? motionWord->item->col : axisCol(),
                         "canned cycles are not allowed while compensation is on: cancel with "
                         "G40 first");
      }
      // A drilling cycle ends above its last hole.
      if (m_Incremental) {
        if (x != nullptr || y != nullptr) {
          m_KnownX = m_KnownY = false;
        }
      } else {
        if (x != nullptr) {
          m_Pos.x = x->value;
          m_KnownX = true;
        }
        if (y != nullptr) {
          m_Pos.y = y->value;
          m_KnownY = true;
        }
      }
    } else {
      b.motion = activeMotion / 10;
      Vec2 target = m_Pos;
      bool knownX = m_KnownX;
      bool knownY = m_KnownY;
      if (x != nullptr) {
        x->role = Item::PLANE_AXIS;
        target.x = m_Incremental ? m_Pos.x + x->value : x->value;
        knownX = m_Incremental ? m_KnownX : true;
      }
      if (y != nullptr) {
        y->role = Item::PLANE_AXIS;
        target.y = m_Incremental ? m_Pos.y + y->value : y->value;
        knownY = m_Incremental ? m_KnownY : true;
      }
      b.end = target;
      b.endKnown = knownX && knownY;
      if (compensating && (!b.startKnown || !b.endKnown) &&
          (x != nullptr || y != nullptr || arcMode)) {
        throw InputError(line, axisCol(),
                         "compensation needs a known position: program X and Y before G41/G42");
      }
      if (arcMode) {
        if (i != nullptr) {
          i->role = Item::ARC_CENTER;
        }
        if (j != nullptr) {
          j->role = Item::ARC_CENTER;
        }
        if (r != nullptr) {
          r->role = Item::ARC_CENTER;
        }
        const std::size_t arcCol = motionWord != nullptr ? motionWord->item->col : axisCol();
        if (Item* k = word('K')) {
          throw InputError(line, k->col, "K is not an arc centre word in the XY plane (G17)");
        }
        if (Item* p = word('P')) {
          if (p->value != 1) {
            throw InputError(line, p->col, "arcs of several turns (P) are not supported");
          }
        }
        if (r != nullptr && (i != nullptr || j != nullptr)) {
          throw InputError(line, r->col, "an arc takes either I J or R, not both");
        }
        if (r == nullptr && i == nullptr && j == nullptr) {
          throw InputError(line, arcCol, "arc without centre: give I and J, or R");
        }
        if (b.startKnown && b.endKnown) {
          const bool ccw = b.motion == 3;
          const double tolerance =
              m_Units == Units::INCH ? ARC_RADIUS_TOLERANCE_INCH : ARC_RADIUS_TOLERANCE_MM;
          const double chord = Distance(b.start, b.end);
          if (r != nullptr) {
            if (chord < crc::EPSILON) {
              throw InputError(line, r->col,
                               "an R arc cannot be a full circle (start = end): use I and J");
            }
            const double radius = std::fabs(r->value);
            const double half = chord / 2.0;
            if (radius < half - tolerance) {
              throw InputError(line, r->col,
                               "arc radius " + r->text.substr(1) +
                                   " is smaller than half the distance between its ends");
            }
            // Centre on the perpendicular bisector of the chord; for a counterclockwise arc of
            // at most half a turn (R > 0) it lies left of the chord, a negative R or a
            // clockwise arc puts it on the other side.
            const double h = std::sqrt(std::max(0.0, radius * radius - half * half));
            const Vec2 mid{(b.start.x + b.end.x) / 2.0, (b.start.y + b.end.y) / 2.0};
            const Vec2 left{-(b.end.y - b.start.y) / chord, (b.end.x - b.start.x) / chord};
            const double sign = (ccw ? 1.0 : -1.0) * (r->value < 0 ? -1.0 : 1.0);
            b.center = {mid.x + sign * h * left.x, mid.y + sign * h * left.y};
            b.radius = std::max(radius, half);
          } else {
            const double di = i != nullptr ? i->value : 0.0;
            const double dj = j != nullptr ? j->value : 0.0;
            b.center = m_ArcAbsolute ? Vec2{di, dj} : Vec2{b.start.x + di, b.start.y + dj};
            b.radius = Distance(b.start, b.center);
            if (b.radius < crc::EPSILON) {
              throw InputError(line, (i != nullptr ? i : j)->col,
                               "arc centre coincides with its start point");
            }
            const double endRadius = Distance(b.end, b.center);
            const double allowed = tolerance;
            if (std::fabs(endRadius - b.radius) > allowed) {
              char buffer[200];
              std::snprintf(buffer, sizeof buffer,
                            "arc centre is not equidistant from its ends: %.6g to the start, "
                            "%.6g to the end (tolerance %g)",
                            b.radius, endRadius, allowed);
              throw InputError(line, (i != nullptr ? i : j)->col, buffer);
            }
            // exact-ish: CAM writes a full circle with the end repeating the start
            b.fullCircle = chord < crc::EPSILON;
            if (b.fullCircle) {
              b.end = b.start;
            }
          }
          b.planeMotion = true;
        }
      } else {
        if (i != nullptr || j != nullptr) {
          throw InputError(line, (i != nullptr ? i : j)->col,
                           "I and J give an arc centre: they need G2 or G3");
        }
        b.planeMotion = b.startKnown && b.endKnown && Distance(b.start, b.end) >= crc::EPSILON;
      }
      m_Pos = target;
      m_KnownX = knownX;
      m_KnownY = knownY;
    }
  } else if (i != nullptr || j != nullptr) {
    throw InputError(line, (i != nullptr ? i : j)->col,
                     "I and J give an arc centre: they need G2 or G3");
  }
  b.modalMotion = m_Motion >= 0 && m_Motion <= 30 ? m_Motion / 10 : -1;
  if (!b.planeMotion) {
    b.end = m_Pos;  // also after G92, G28, G53 and the like
    b.endKnown = m_KnownX && m_KnownY;
  }

  // Phase of the plane motion.
  if (b.planeMotion) {
    const bool offset = std::fabs(m_CompRadius) >= crc::EPSILON;
    switch (m_Run) {
    case Run::NONE:
      b.phase = Phase::NONE;
      break;
    case Run::ESTABLISH_PENDING:
      b.phase = offset ? Phase::ESTABLISH : Phase::NONE;
      m_Run = Run::DOING;
      break;
    case Run::DOING:
      b.phase = offset ? Phase::DOING : Phase::NONE;
      break;
    case Run::CANCEL_PENDING:
      b.phase = offset ? Phase::RETRACT : Phase::NONE;
      m_Run = Run::NONE;
      break;
    }
    if (b.phase != Phase::NONE) {
      b.side = m_Side;
      b.compRadius = m_CompRadius;
    }
  }
  if (programEnd) {
    b.programEnd = true;
    m_Run = Run::NONE;  // program end switches compensation off
  }
}

}  // namespace cutcomp::cli
