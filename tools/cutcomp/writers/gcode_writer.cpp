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

// What a block does to the tool's position beside its motion, from the reader's facts: the
// letters of its words, a move in machine coordinates (G53), a change of what the position is
// called (a home move G28/G30, a G92 shift) or axis words that give a stored offset (G10, G52).
struct PositionWords {
  std::uint32_t letters = 0;
  bool machine = false;
  bool renames = false;
  bool stored = false;
  bool Names(char letter) const { return (letters >> (letter - 'A') & 1U) != 0; }
};

PositionWords WordsOf(const Block& block) {
  PositionWords named;
  named.letters = block.letters;
  named.machine = block.machineCoordinates;
  named.renames = block.home || block.shift;
  named.stored = block.offsetSetting;
  return named;
}

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

// Room for a move: its motion word and four coordinate words (an arc's end and centre).
std::size_t MoveRoom(int decimals) { return 4 + 4 * (2 + NumberRoom(decimals)); }

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

// One coordinate word at `p`, after a space unless it is the first word.
inline char* Coordinate(char* p, bool first, char letter, double value, double from,
                        bool incremental, int decimals) {
  *p = ' ';
  p += first ? 0 : 1;
  *p++ = letter;
  std::int64_t units = 0;
  if (!incremental && detail::RoundQuickly(value, decimals, units)) {
    return WriteUnits(p, units, decimals);
  }
  return CoordinateValue(p, value, from, incremental, decimals);
}

}  // namespace

double FeedPerMinute(const Block& block, const cutcomp::Curve& programmed) {
  if (block.modal.feedMode == FeedMode::INVERSE_TIME) {
    return Length3(programmed, block.heightChange) * block.modal.feed;
  }
  return block.modal.feed;
}

// The motion word and plane coordinates of a move to `end`, axis letters in alphabetical order.
void GcodeWriter::Move(LineWords& out, Motion motion, const Point& end, const Modal& modal) const {
  const PlaneAxes& axes = Axes(modal.plane);
  const int decimals = Decimals(modal.units);
  const Point from = m_Known ? m_Position : end;
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
                 swap ? from.y : from.x, modal.incremental, decimals);
  p = Coordinate(p, false, swap ? axes.first : axes.second, swap ? end.x : end.y,
                 swap ? from.x : from.y, modal.incremental, decimals);
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
                 swap ? s.y : s.x, !absolute, decimals);
  p = Coordinate(p, false, swap ? axes.firstCentre : axes.secondCentre, swap ? c.x : c.y,
                 swap ? s.x : s.y, !absolute, decimals);
  line.Advance(p);
}

// Under inverse time every move carries its own F: the feed per minute of the programmed move
// spread over the length actually travelled.
void GcodeWriter::Feed(LineWords& out, double feedPerMinute, double length) const {
  if (m_Modal.feedMode != FeedMode::INVERSE_TIME || !(feedPerMinute > 0.0) ||
      !(length > crc::EPSILON)) {
    return;
  }
  out.Join("F" + FormatSignificant(feedPerMinute / length, SIGNIFICANT));
}

// One item of a block as written: a computed word in the writer's own format.
void GcodeWriter::JoinItem(LineWords& out, const Item& item, Units units, bool& changed) const {
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
    line.Advance(WriteNumber(line.Room(NumberRoom(decimals)), item.value, decimals));
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

// The position is kept in plane coordinates in the program's unit. After a change of unit it is
// said again in the new one; after a change of plane the coordinates name other axes: it is
// carried over axis by axis, with the offset from the program's position that a run ending
// without a cancel move left on the axes of the old plane.
void GcodeWriter::ChangePlane(const Block& block) {
  if (block.modal.units != m_Modal.units) {
    const double scale = block.modal.units == Units::INCH ? 1.0 / 25.4 : 25.4;
    m_Position = {m_Position.x * scale, m_Position.y * scale};
    m_Programmed = {m_Programmed.x * scale, m_Programmed.y * scale};
    m_Carried = {m_Carried.x * scale, m_Carried.y * scale};
    m_NormalCarried *= scale;
    m_Modal.units = block.modal.units;
  }
  if (block.modal.plane == m_Modal.plane) {
    return;
  }
  const PlaneAxes& before = AxesOf(m_Modal.plane);
  const PlaneAxes& now = AxesOf(block.modal.plane);
  const Point kept = Kept();
  const auto offsetOf = [&](char axis) {
    return axis == before.first ? kept.x : axis == before.second ? kept.y : m_NormalCarried;
  };
  m_Carried = {offsetOf(now.first), offsetOf(now.second)};
  m_NormalCarried = offsetOf(now.normal);
  m_Position = {block.start.x + m_Carried.x, block.start.y + m_Carried.y};
  m_Known = block.startKnown;
  m_Programmed = block.start;
  m_ProgrammedKnown = block.startKnown;
  m_Modal.plane = block.modal.plane;
}

void GcodeWriter::Passthrough(const Block& block) {
  FollowPlane(block);
  DropNormalCarried(block);
  // After a run that ended without a cancel move the tool is beside the contour, not where the
  // program has it. A straight move from there that names both plane axes in absolute mode ends
  // where programmed as written; one naming one axis would keep the offset in the other, and an
  // increment would keep it in both: such a move is written anew, both axes in the distance mode
  // in force, so that it ends at its programmed point.
  const int decimals = Decimals(block.modal.units);
  int planeWords = 0;
  for (const Item& item : block.source.items) {
    planeWords += item.role == Item::PLANE_AXIS ? 1 : 0;
  }
  if (m_Known && block.startKnown && block.endKnown &&
      (block.modal.incremental || planeWords < 2) &&
      (block.motion == Motion::LINE || block.motion == Motion::RAPID) &&
      (block.planeMotion || block.zeroMove) &&
      (ToUnits(m_Position.x, decimals) != ToUnits(block.start.x, decimals) ||
       ToUnits(m_Position.y, decimals) != ToUnits(block.start.y, decimals))) {
    cutcomp::Curve programmed;
    programmed.from = block.start;
    programmed.to = block.end;
    cutcomp::Curve line = programmed;
    line.from = m_Position;
    Replaced(block, line, FeedPerMinute(block, programmed));
    return;
  }
  // An arc is no such move: its centre words count from its start, and both its ends must lie
  // on its circle. From beside the contour the tool first goes straight to the arc's start.
  if (m_Known && block.startKnown && IsArc(block.motion) && block.planeMotion &&
      (ToUnits(m_Position.x, decimals) != ToUnits(block.start.x, decimals) ||
       ToUnits(m_Position.y, decimals) != ToUnits(block.start.y, decimals))) {
    cutcomp::Curve arc;
    arc.arc = true;
    arc.from = block.start;
    arc.to = block.end;
    arc.centre = block.centre;
    arc.radius = block.radius;
    arc.ccw = block.motion == Motion::ARC_CCW;
    arc.fullCircle = block.fullCircle;
    Inserted(block, block.start, FeedPerMinute(block, arc));
  }
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
    JoinItem(words, item, block.modal.units, changed);
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
  Emit(block, line, words, changed);
  m_Modal = block.modal;
  // The written program's tool stays where it is unless the block moves it in the plane or
  // changes what its position is called (G92, a work offset, a home move): after a run that
  // ended without a cancel move it is beside the contour, not at the programmed point.
  // exact: a block that leaves the plane position alone repeats it bit for bit
  const bool same = block.startKnown && block.endKnown && block.start.x == block.end.x &&
                    block.start.y == block.end.y;
  const PositionWords named = WordsOf(block);
  const PlaneAxes& axes = AxesOf(block.modal.plane);
  // A drilling cycle (or another motion mode the reader does not follow) goes to the plane
  // position its words name even when the program is already there: the written program's
  // tool may still stand beside the contour where a run left it.
  const bool cycleNamesPlane =
      block.modalMotion == Motion::OTHER && (named.Names(axes.first) || named.Names(axes.second));
  if (block.planeMotion || block.zeroMove || !same || cycleNamesPlane) {
    // A straight move, in program or machine coordinates (G53), leaves an axis it does not name
    // where it was, beside the contour or not, whether or not the position was known before. So
    // does a drilling cycle (or another motion mode the reader does not follow): it goes to the
    // holes its words name and ends above the last one, or leaves those axes unknown. A home
    // move (G28, G30), a change of names (G92...) or any other code with axis words ends where
    // the program has the tool; a block without any (a change of plane) changes nothing.
    const bool machine = named.machine;
    const bool renames = named.renames;
    bool axisWords = false;
    for (const char axis : std::string_view("XYZABCUVW")) {
      axisWords = axisWords || named.Names(axis);
    }
    Point kept = Kept();
    // G10 and G52 take the axis words for an offset: no cycle runs on them.
    const bool cycle = block.modalMotion == Motion::OTHER && !renames && !named.stored;
    if (block.motion == Motion::LINE || block.motion == Motion::RAPID || machine || cycle) {
      for (const Item& item : block.source.items) {
        if (item.kind == Item::WORD && (machine || !block.modal.incremental) &&
            (item.letter == axes.first || item.letter == axes.second)) {
          (item.letter == axes.first ? kept.x : kept.y) = 0.0;
        }
      }
    } else if (renames || axisWords) {
      kept = Point(0.0, 0.0);
    }
    m_Carried = kept;
    m_Position = {block.end.x + kept.x, block.end.y + kept.y};
    m_Known = block.endKnown;
  }
  m_Programmed = block.end;
  m_ProgrammedKnown = block.endKnown;
}

// The axis normal to the plane goes where the program has it when a block names it in absolute
// or machine coordinates, or renames positions (G28, G30, G92, G10, G52...): an offset a run in
// another plane left there is gone.
void GcodeWriter::DropNormalCarried(const Block& block) {
  if (m_NormalCarried == 0.0) {  // exact: nothing carried, the usual case
    return;
  }
  const PositionWords named = WordsOf(block);
  if (named.renames || named.stored ||
      (named.Names(AxesOf(block.modal.plane).normal) &&
       (named.machine || !block.modal.incremental))) {
    m_NormalCarried = 0.0;
  }
}

// The offset from the programmed position the written program's tool has on the plane axes.
Point GcodeWriter::Kept() const {
  if (!m_Known) {
    return m_Carried;
  }
  return m_ProgrammedKnown ? m_Position - m_Programmed : Point(0.0, 0.0);
}

cutcomp::Curve GcodeWriter::Replaced(const Block& block, const cutcomp::Curve& tool,
                                     double feedPerMinute) {
  FollowPlane(block);
  DropNormalCarried(block);
  const Modal& modal = block.modal;
  const int decimals = Decimals(modal.units);
  cutcomp::Curve written = tool;
  if (m_Known) {
    written.from = m_Position;
  }
  // Where two pieces meet almost tangentially, the end of the first is moved onto the start of
  // the second; an arc's end then leaves its circle, and a controller refuses an arc whose ends
  // lie at different distances from its centre. Its centre moves to the nearest point of the
  // chord's perpendicular bisector, where the arc passes through both ends.
  if (written.arc && !written.fullCircle) {
    const Point chord = written.to - written.from;
    const double length = chord.GetLength();
    const double mismatch =
        (written.to - written.centre).GetLength() - (written.from - written.centre).GetLength();
    if (std::fabs(mismatch) > crc::EPSILON && length > crc::EPSILON) {
      const Point mid = (written.from + written.to) * 0.5;
      const Point normal(-chord.y / length, chord.x / length);
      const Point off = written.centre - mid;
      written.centre = mid + normal * (off.x * normal.x + off.y * normal.y);
      written.radius = (written.from - written.centre).GetLength();
    }
  }
  // An arc whose ends coincide as written would be read as a whole circle: one that has shrunk
  // to a point is written as a straight move. So is one whose centre coincides with its start as
  // written (a circle smaller than the last written decimal): no reader takes it as an arc.
  const auto same = [decimals](const Point& a, const Point& b) {
    return ToUnits(a.x, decimals) == ToUnits(b.x, decimals) &&
           ToUnits(a.y, decimals) == ToUnits(b.y, decimals);
  };
  if (written.arc && ((!written.fullCircle && same(written.from, written.to)) ||
                      same(written.from, written.centre))) {
    written.arc = false;
    written.fullCircle = false;
  }
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
        Move(words, motion, written.to, modal);
        if (written.arc) {
          Centre(words, written, modal);
        }
        placed = true;
      }
      continue;
    }
    bool computed = false;
    JoinItem(words, item, modal.units, computed);
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
    Move(piece, motion, written.to, modal);
    if (written.arc) {
      Centre(piece, written, modal);
    }
    if (at == 0) {
      line.Put(' ');
    }
    words.MoveBack(std::min(words.Start() + at, mark), mark);
    words.DropTrailingSpace();
  }
  m_Modal = modal;
  if (inverseTime) {
    Feed(words, feedPerMinute, Length3(written, block.heightChange));
  }
  EndLine(block, line);  // never empty: the move is there
  m_Motion = motion;
  m_Position = written.to;
  m_Known = true;
  m_Programmed = block.end;
  m_ProgrammedKnown = block.endKnown;
  return written;
}

void GcodeWriter::Stripped(const Block& block, const char* comment) {
  FollowPlane(block);
  DropNormalCarried(block);
  // A block that moved along other axes keeps moving along them, as a straight move (an arc
  // without its plane words would be no arc); one that moved only in the plane loses its
  // motion word as well, unless it went nowhere in the plane: such a move stays, to where the
  // written program already is. A motion word without axis words only sets the mode: it stays.
  const bool moved = block.motion != Motion::NONE && block.motion != Motion::OTHER;
  const bool keepMove = block.zeroMove && m_Known;
  Motion motion = Motion::NONE;
  if (moved && (block.otherAxes || keepMove)) {
    motion = IsArc(block.motion) ? Motion::LINE : block.motion;
  }
  // The move that stays, where the block's plane words were.
  const auto writeMove = [&](LineWords& out) {
    if (keepMove) {
      Move(out, motion, m_Position, block.modal);
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
    JoinItem(words, item, block.modal.units, changed);
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
  m_Modal = block.modal;
  m_Programmed = block.end;
  m_ProgrammedKnown = block.endKnown;
  Emit(block, line, words, changed);
}

cutcomp::Curve GcodeWriter::Inserted(const Block& anchor, const Point& end, double feedPerMinute) {
  cutcomp::Curve written;
  written.from = m_Known ? m_Position : end;
  written.to = end;
  Output::Line line(m_Out);
  LineWords words(line, 0);
  Move(words, Motion::LINE, end, m_Modal);
  Feed(words, feedPerMinute, cutcomp::Length(written));
  EndLine(anchor, line);
  m_Motion = Motion::LINE;
  m_Position = end;
  m_Known = true;
  return written;
}

}  // namespace cutcomp::cli
