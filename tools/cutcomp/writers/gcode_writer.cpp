// SPDX-License-Identifier: MIT
// The G-code writer: rebuilds blocks around the tool-centre coordinates and keeps the written
// program's position, motion mode and modal settings consistent with what it has written.
#include "gcode_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include "number_format.h"

namespace cutcomp::cli {

// The words of a line being written into the output, from `start` on in the line: after a
// block-delete slash, or, for a move to be put in place among the words, after them.
class LineWords {
public:
  LineWords(Output::Line& line, std::size_t start) : m_Line(line), m_Start(start) {}
  Output::Line& Line() const { return m_Line; }
  std::size_t Start() const { return m_Start; }
  bool Empty() const { return m_Line.Size() == m_Start; }
  // Words are separated by a space.
  void Separate() const {
    if (!Empty()) {
      m_Line.Put(' ');
    }
  }
  void Join(std::string_view text) const {
    if (!text.empty()) {
      Separate();
      m_Line.Put(text);
    }
  }
  // Moves the text from `mark` to the end of the line to `at` (both counted from the line's
  // start), ahead of what lay there.
  void MoveBack(std::size_t at, std::size_t mark) const {
    std::rotate(m_Line.Begin() + at, m_Line.Begin() + mark, m_Line.End());
  }
  // Drops a space that ends the line.
  void DropTrailingSpace() const {
    if (m_Line.Size() > 0 && m_Line.End()[-1] == ' ') {
      m_Line.Advance(m_Line.End() - 1);
    }
  }

private:
  Output::Line& m_Line;
  std::size_t m_Start;
};

namespace {

// True when the line is the '%' that marks the start and end of a program.
bool IsPercentLine(Output::Line& line) {
  for (const char* p = line.Begin(); p != line.End(); ++p) {
    if (*p != ' ' && *p != '\t') {
      return *p == '%';
    }
  }
  return false;
}

// Index after a leading line number, where a word that must come first is put.
std::size_t LeadingEnd(const Block& block) {
  for (const Item& item : block.source.items) {
    if (item.kind == Item::WORD) {
      return item.letter == 'N' ? item.text.size() : 0;
    }
    return 0;
  }
  return 0;
}

double Length3(const cutcomp::Curve& curve, double heightChange) {
  return std::hypot(cutcomp::Length(curve), heightChange);
}

// Letters whose values are lengths (or angles) written to the precision of the coordinates.
bool IsCoordinate(char letter) {
  switch (letter) {
  case 'X':
  case 'Y':
  case 'Z':
  case 'A':
  case 'B':
  case 'C':
  case 'U':
  case 'V':
  case 'W':
  case 'I':
  case 'J':
  case 'K':
  case 'R':
    return true;
  default:
    return false;
  }
}

// Significant digits of computed words other than coordinates and of inverse-time feeds: F10000
// for a short corner line, F0.0123 for a long slow arc, F0.3 for F[0.1 * 3].
constexpr int SIGNIFICANT = 6;

// Room for a move: its motion word and four coordinate words (an arc's end and centre), each
// with a space, its letter and perhaps a decimal point.
std::size_t MoveRoom(int decimals) { return 4 + 4 * (3 + NumberRoom(decimals)); }

// The number of a coordinate word: `value`, or its increment from `from`. Increments are
// differences of the values as written, in whole units of the last decimal, so that they add up
// to the written absolute positions exactly and rounding never accumulates along a long
// incremental program.
char* CoordinateValue(char* p, double value, double from, bool incremental, int decimals) {
  if (!incremental) {
    return WriteNumber(p, value, decimals);
  }
  const std::optional<std::int64_t> to = ToUnits(value, decimals);
  const std::optional<std::int64_t> at = ToUnits(from, decimals);
  if (to && at) {
    return WriteUnits(p, *to - *at, decimals);
  }
  return WriteNumber(p, value - from, decimals);
}

// A number written from `digits` to `end` given a decimal point if it has none ("20" -> "20."):
// a Fanuc-family control may read a length without one in its least input increment, 20 as
// 0.02 mm. WriteUnits and WriteNumber leave room for it.
inline char* WithPoint(char* digits, char* end) {
  if (std::memchr(digits, '.', static_cast<std::size_t>(end - digits)) == nullptr) {
    *end++ = '.';
  }
  return end;
}

// One coordinate word at `p`, after a space unless it is the first word; `point`: always with a
// decimal point.
inline char* Coordinate(char* p, bool first, char letter, double value, double from,
                        bool incremental, int decimals, bool point) {
  *p = ' ';
  p += first ? 0 : 1;
  *p++ = letter;
  char* const digits = p;
  std::int64_t units = 0;
  if (!incremental && detail::RoundQuickly(value, decimals, units)) {
    p = WriteUnits(p, units, decimals);
  } else {
    p = CoordinateValue(p, value, from, incremental, decimals);
  }
  return point ? WithPoint(digits, p) : p;
}

}  // namespace

double FeedPerMinute(const Block& block, const cutcomp::Curve& programmed) {
  if (block.modal.feedMode == FeedMode::INVERSE_TIME) {
    return Length3(programmed, block.heightChange) * block.modal.feed;
  }
  return block.modal.feed;
}

// The motion word and plane coordinates of a move to `end`, axis letters in alphabetical order.
// Under G7 X is written as a diameter.
void GcodeWriter::Move(LineWords& out, Motion motion, const Point& fromRadius,
                       const Point& endRadius, const Modal& modal) const {
  const PlaneAxes& axes = Axes(modal.plane);
  Point from = fromRadius;
  Point end = endRadius;
  if (modal.diameter) {
    (axes.first == 'X' ? from.x : from.y) *= 2.0;
    (axes.first == 'X' ? end.x : end.y) *= 2.0;
  }
  const int decimals = Decimals(modal.units);
  const bool swap = axes.second < axes.first;
  const std::string_view code = MotionCode(motion);
  bool first = out.Empty();
  Output::Line& line = out.Line();
  char* p = line.Room(MoveRoom(decimals));
  if (!code.empty()) {
    *p = ' ';
    p += first ? 0 : 1;
    std::memcpy(p, code.data(), code.size());
    p += code.size();
    first = false;
  }
  p = Coordinate(p, first, swap ? axes.second : axes.first, swap ? end.y : end.x,
                 swap ? from.y : from.x, modal.incremental, decimals, m_Point || modal.fanucLathe);
  p = Coordinate(p, false, swap ? axes.first : axes.second, swap ? end.x : end.y,
                 swap ? from.x : from.y, modal.incremental, decimals, m_Point || modal.fanucLathe);
  line.Advance(p);
}

// The centre words of an arc as written, after its end.
void GcodeWriter::Centre(LineWords& out, const cutcomp::Curve& written, const Modal& modal) const {
  const int decimals = Decimals(modal.units);
  const PlaneAxes& axes = Axes(modal.plane);
  const bool swap = axes.secondCentre < axes.firstCentre;
  const Point& c = written.centre;
  const Point& s = written.from;
  const bool absolute = modal.arcAbsolute;
  Output::Line& line = out.Line();
  char* p = line.Room(MoveRoom(decimals));
  p = Coordinate(p, false, swap ? axes.secondCentre : axes.firstCentre, swap ? c.y : c.x,
                 swap ? s.y : s.x, !absolute, decimals, m_Point || modal.fanucLathe);
  p = Coordinate(p, false, swap ? axes.firstCentre : axes.secondCentre, swap ? c.x : c.y,
                 swap ? s.x : s.y, !absolute, decimals, m_Point || modal.fanucLathe);
  line.Advance(p);
}

// Under inverse time every move carries its own F: the feed per minute of the programmed move
// spread over the length actually travelled.
void GcodeWriter::Feed(LineWords& out, const Modal& modal, double feedPerMinute,
                       double length) const {
  if (modal.feedMode != FeedMode::INVERSE_TIME || !(feedPerMinute > 0.0) ||
      !(length > crc::EPSILON)) {
    return;
  }
  out.Join("F" + FormatSignificant(feedPerMinute / length, SIGNIFICANT));
}

// One item of a block as written: a computed word in the writer's own format.
void GcodeWriter::JoinItem(LineWords& out, const Item& item, const Modal& modal,
                           bool& changed) const {
  const Units units = modal.units;
  // A Fanuc-family end of block (';' alone) closes the words it follows, as the program wrote it.
  if (item.kind == Item::COMMENT && item.text == ";") {
    out.DropTrailingSpace();
    out.Line().Put(';');
    return;
  }
  if (!item.computed) {
    out.Join(item.text);
    return;
  }
  changed = true;
  out.Separate();
  out.Line().Put(item.letter);
  if (IsCoordinate(item.letter)) {
    const int decimals = Decimals(units);
    Output::Line& line = out.Line();
    char* const digits = line.Room(NumberRoom(decimals) + 1);
    char* const end = WriteNumber(digits, item.value, decimals);
    line.Advance(m_Point || modal.fanucLathe ? WithPoint(digits, end) : end);
  } else {
    out.Line().Put(FormatSignificant(item.value, SIGNIFICANT));
  }
}

// The source trace that ends a line, if asked for.
void GcodeWriter::AppendTrace(const Block& block, Output::Line& line) const {
  // The '%' that marks the start and end of a program stands alone on its line: no trace there.
  if (IsPercentLine(line)) {
    return;
  }
  // The place goes into a comment, which cannot hold parentheses or control characters.
  std::string place = m_Trace(block.source);
  for (char& c : place) {
    const auto u = static_cast<unsigned char>(c);
    c = c == '(' ? '[' : c == ')' ? ']' : u < 0x20 || u == 0x7f ? '?' : c;
  }
  line.Put(line.Size() == 0 ? "(" : " (");
  line.Put(place);
  line.Put(')');
}

// Writes the line of `block`: the line as read when nothing in it changed, nothing when no word
// is left (it held only compensation words).
void GcodeWriter::Emit(const Block& block, Output::Line& line, const LineWords& words,
                       bool changed) {
  if (!changed) {
    line.Advance(line.Begin());
    line.Put(block.source.text);
  } else if (words.Empty()) {
    return;
  }
  EndLine(block, line);
}

void GcodeWriter::Passthrough(const Block& block) {
  Output::Line line(m_Out);
  if (block.source.blockDelete) {
    line.Put('/');
  }
  LineWords words(line, line.Size());
  bool changed = false;
  for (const Item& item : block.source.items) {
    if (item.role == Item::COMP) {
      changed = true;
      continue;
    }
    JoinItem(words, item, block.modal, changed);
  }
  // After lines or blocks this tool wrote itself the motion mode of the written program may
  // differ from the program's: a move relying on the modal mode then gets its word back.
  const bool moves = block.motion != Motion::NONE && block.motion != Motion::OTHER;
  if (moves && !block.explicitMotionWord && m_Motion != block.motion) {
    const std::size_t at = LeadingEnd(block);
    const std::size_t mark = line.Size();
    if (at != 0) {
      line.Put(' ');
    }
    line.Put(MotionCode(block.motion));
    if (at == 0) {
      line.Put(' ');
    }
    words.MoveBack(std::min(words.Start() + at, mark), mark);
    changed = true;
    m_Motion = block.motion;
  } else if (block.explicitMotionWord || block.modalMotion == Motion::NONE ||
             block.modalMotion == Motion::OTHER) {
    m_Motion = block.modalMotion == Motion::OTHER ? Motion::NONE : block.modalMotion;
  }
  if (block.planeMotion || block.zeroMove) {
    m_Tip = Point(0.0, 0.0);  // the program's own point, outside compensation
  }
  Emit(block, line, words, changed);
}

void GcodeWriter::Write(const WrittenBlock& line) {
  switch (line.kind) {
  case WrittenBlock::PASSED:
    Passthrough(line.block);
    return;
  case WrittenBlock::REPLACED:
    Replaced(line.block, *line.curve, line.fromKnown, line.feed);
    return;
  case WrittenBlock::INSERTED:
    Inserted(line.block, *line.curve, *line.modal, line.feed);
    return;
  case WrittenBlock::STRIPPED:
    Stripped(line.block, line.position, line.comment);
    return;
  }
}

void GcodeWriter::Replaced(const Block& block, const cutcomp::Curve& curve, bool fromKnown,
                           double feedPerMinute) {
  const Modal& modal = block.modal;
  const Point tip = TipAt(block, curve.to);
  cutcomp::Curve written = curve;
  written.from = written.from + m_Tip;
  written.to = written.to + tip;
  written.centre = written.centre + tip;
  m_Tip = tip;
  const Point from = fromKnown ? written.from : written.to;
  const Motion motion = written.arc
                            ? (written.ccw ? Motion::ARC_CCW : Motion::ARC_CW)
                            : (block.motion == Motion::RAPID ? Motion::RAPID : Motion::LINE);
  const bool inverseTime = modal.feedMode == FeedMode::INVERSE_TIME;
  Output::Line line(m_Out);
  if (block.source.blockDelete) {
    line.Put('/');
  }
  LineWords words(line, line.Size());
  bool placed = false;
  for (const Item& item : block.source.items) {
    if (item.role == Item::COMP || (inverseTime && item.kind == Item::WORD && item.letter == 'F')) {
      continue;
    }
    if (item.role == Item::MOTION || item.role == Item::PLANE_AXIS ||
        item.role == Item::ARC_CENTER) {
      if (!placed) {
        Move(words, motion, from, written.to, modal);
        if (written.arc) {
          Centre(words, written, modal);
        }
        placed = true;
      }
      continue;
    }
    bool computed = false;
    JoinItem(words, item, modal, computed);
  }
  if (!placed) {
    // No word of the block's own motion to take its place: the move goes first, after a line
    // number.
    const std::size_t at = LeadingEnd(block);
    const std::size_t mark = line.Size();
    if (at != 0) {
      line.Put(' ');
    }
    LineWords piece(line, line.Size());
    Move(piece, motion, from, written.to, modal);
    if (written.arc) {
      Centre(piece, written, modal);
    }
    if (at == 0) {
      line.Put(' ');
    }
    words.MoveBack(std::min(words.Start() + at, mark), mark);
    words.DropTrailingSpace();
  }
  if (inverseTime) {
    Feed(words, modal, feedPerMinute, Length3(written, block.heightChange));
  }
  EndLine(block, line);  // never empty: the move is there
  m_Motion = motion;
}

void GcodeWriter::Stripped(const Block& block, const Point* position, const char* comment) {
  // A block that moved along other axes keeps moving along them, as a straight move (an arc
  // without its plane words would be no arc); one that moved only in the plane loses its
  // motion word as well, unless it went nowhere in the plane: such a move stays, to where the
  // written program already is. A motion word without axis words only sets the mode: it stays.
  const bool moved = block.motion != Motion::NONE && block.motion != Motion::OTHER;
  const bool keepMove = block.zeroMove && position != nullptr;
  Motion motion = Motion::NONE;
  if (moved && (block.otherAxes || keepMove)) {
    motion = IsArc(block.motion) ? Motion::LINE : block.motion;
  }
  // The move that stays, where the block's plane words were.
  const auto writeMove = [&](LineWords& out) {
    if (keepMove) {
      const Point at = *position + m_Tip;
      Move(out, motion, at, at, block.modal);
    } else {
      out.Join(MotionCode(motion));
    }
  };
  Output::Line line(m_Out);
  if (block.source.blockDelete) {
    line.Put('/');
  }
  LineWords words(line, line.Size());
  bool changed = comment != nullptr;
  bool placed = false;
  for (const Item& item : block.source.items) {
    const bool planeWord = item.role == Item::PLANE_AXIS || item.role == Item::ARC_CENTER ||
                           (item.role == Item::MOTION && moved);
    if (item.role == Item::COMP) {
      changed = true;
      continue;
    }
    if (planeWord) {
      changed = true;
      if (motion != Motion::NONE && !placed) {
        writeMove(words);
        placed = true;
      }
      continue;
    }
    JoinItem(words, item, block.modal, changed);
  }
  if (motion != Motion::NONE && !placed && m_Motion != motion) {
    const std::size_t at = LeadingEnd(block);
    const std::size_t mark = line.Size();
    if (at == 0) {
      LineWords move(line, mark);
      writeMove(move);
      if (mark != words.Start()) {
        line.Put(' ');
      }
      words.MoveBack(words.Start(), mark);
    } else {
      line.Put(' ');
      LineWords move(line, line.Size());
      writeMove(move);
      words.MoveBack(std::min(words.Start() + at, mark), mark);
    }
    changed = true;
  }
  if (motion != Motion::NONE) {
    m_Motion = motion;
  } else if (block.explicitMotionWord && !moved) {
    m_Motion = block.modalMotion == Motion::OTHER ? Motion::NONE : block.modalMotion;
  }
  if (comment != nullptr) {
    words.Join(std::string("(") + comment + ")");
  }
  Emit(block, line, words, changed);
}

void GcodeWriter::Inserted(const Block& anchor, const cutcomp::Curve& written, const Modal& modal,
                           double feedPerMinute) {
  // A line, or an arc about a corner of the walls that a gouge-free path goes round.
  const Motion motion =
      !written.arc ? Motion::LINE : (written.ccw ? Motion::ARC_CCW : Motion::ARC_CW);
  Output::Line line(m_Out);
  LineWords words(line, 0);
  // On a lathe the written point is the tool's imaginary tip: the line or arc moved by the tip
  // vector (an arc's centre with it).
  const Point tip = TipAt(anchor, written.to);
  cutcomp::Curve moved = written;
  moved.from = written.from + m_Tip;
  moved.to = written.to + tip;
  moved.centre = written.centre + tip;
  Move(words, motion, moved.from, moved.to, modal);
  if (written.arc) {
    Centre(words, moved, modal);
  }
  m_Tip = tip;
  Feed(words, modal, feedPerMinute, cutcomp::Length(written));
  EndLine(anchor, line);
  m_Motion = motion;
}

}  // namespace cutcomp::cli
