// SPDX-License-Identifier: MIT
// Blocks and pieces into written lines: where each piece starts from the written program's
// position, the lines the tool adds, and the record of every piece drawn.
#include "written_path.h"

#include <cmath>
#include <optional>

#include "failure.h"  // ProgrammedOf
#include "gcode_writer.h"
#include "number_format.h"

namespace cutcomp::cli {

namespace {

// How far a piece of the tool path may start from where the written program has left the tool
// before it is a jump worth a warning, in program units: well above the rounding of written
// coordinates, well below any real gap. The engine joins consecutive offset paths exactly; a gap
// means a run ended away from the contour (no cancel move) or the engine left one.
constexpr double CONTINUITY_TOLERANCE = 1e-3;

bool IsUnset(const Point& p) {
  // exact: the engine marks an unset coordinate with this very value
  return p.x == crc::INVALID_VALUE || p.y == crc::INVALID_VALUE;
}

std::string Short(double value) { return FormatNumber(value, 6); }

}  // namespace

void WarnAbout(Messages& messages, const Reading& reading, const Block& block,
               const std::string& message) {
  WarningRecord warning;
  warning.file = block.source.where.file;
  warning.line = block.Line();
  warning.message = message;
  messages.Warning(warning, [&] { return reading.Place(block.source); });
}

void WrittenPath::Write(WrittenBlock& line, const cutcomp::PathPiece* drawn, bool runStart,
                        const std::vector<const Block*>* chords) {
  if (drawn == nullptr) {
    m_Outputs.Write(line);
    return;
  }
  const Block& block = line.block;
  const cutcomp::PathPiece& piece = *drawn;
  if (m_Audit) {
    m_Audit->Piece(block, piece);
  }
  if (!m_Outputs.Records()) {
    m_Outputs.Write(line);
    return;
  }
  PieceRecord record;
  record.piece = piece;
  record.file = block.source.where.file;
  record.line = block.Line();
  record.text = block.source.text;
  if (chords != nullptr && !chords->empty()) {
    // A fitted piece: the programmed points it stands for.
    record.lastLine = chords->back()->Line();
    record.chords.reserve(chords->size() + 2);
    record.chords.push_back(block.start);
    record.chords.push_back(block.end);
    for (const Block* chord : *chords) {
      record.chords.push_back(chord->end);
    }
  }
  record.motion = !piece.inserted   ? block.motion
                  : !piece.tool.arc ? Motion::LINE
                  : piece.tool.ccw  ? Motion::ARC_CCW
                                    : Motion::ARC_CW;
  record.plane = block.modal.plane;
  record.compRadius = piece.phase == crc::CRC_STATUS_NONE ? 0.0 : block.compRadius;
  record.runStart = runStart;
  line.record = &record;
  m_Outputs.Write(line);
}

void WrittenPath::WriteInserted(const Block& anchor, const cutcomp::Curve& curve, double feed,
                                const cutcomp::PathPiece* piece) {
  WrittenBlock line(WrittenBlock::INSERTED, anchor);
  line.curve = &curve;
  line.modal = &m_Machine.State();
  line.feed = feed;
  Write(line, piece);
}

void WrittenPath::Passthrough(const Block& block) {
  m_Machine.NoteFrame(block);
  for (const std::string& warning : block.warnings) {
    Warn(block, warning);
  }
  m_Machine.Follow(block);
  cutcomp::PathPiece piece;
  piece.programmed = ProgrammedOf(block);
  piece.tool = piece.programmed;
  // A move to where the program already is moves the written program's tool all the same
  // when a run left it beside the contour.
  bool moves = block.planeMotion;
  if (m_Machine.Known() && !piece.tool.arc) {
    piece.tool.from = m_Machine.Position();
    moves = moves || (block.zeroMove && (piece.tool.to - piece.tool.from).GetLength() > 0.0);
  }
  const WrittenMachine::Passage passage = m_Machine.PlanPassthrough(block);
  if (passage.kind == WrittenMachine::Passage::REWRITTEN) {
    // Both plane axes written in the distance mode in force, so that it ends at its
    // programmed point.
    const WrittenPiece written = m_Machine.Replace(block, passage.line);
    WrittenBlock line(WrittenBlock::REPLACED, block);
    line.curve = &written.curve;
    line.fromKnown = written.fromKnown;
    line.feed = FeedPerMinute(block, ProgrammedOf(block));
    Write(line, moves ? &piece : nullptr);
  } else {
    if (passage.kind == WrittenMachine::Passage::AFTER_LINE) {
      // From beside the contour the tool first goes straight to the arc's start.
      const cutcomp::Curve toStart = m_Machine.Insert(block.start);
      WriteInserted(block, toStart, FeedPerMinute(block, ProgrammedOf(block)), nullptr);
    }
    WrittenBlock line(WrittenBlock::PASSED, block);
    Write(line, moves ? &piece : nullptr);
    m_Machine.Pass(block);
  }
  m_Machine.NoteHeight(block);
}

// A piece that does not start where the written program has left the tool: said once, and for
// an arc a straight line to its start is written first (the arc's I and J are only right from
// there). A line is written from where the tool is.
void WrittenPath::Bridge(const Block& context, cutcomp::PathPiece& piece, double feed) {
  m_Machine.Follow(context);
  if (!m_Machine.Known()) {
    return;
  }
  const Point at = m_Machine.Position();
  const double dx = at.x - piece.tool.from.x;
  const double dy = at.y - piece.tool.from.y;
  if (dx * dx + dy * dy < 0.25 * CONTINUITY_TOLERANCE * CONTINUITY_TOLERANCE) {
    return;  // well within the tolerance, the usual case: spare the exact length
  }
  const double gap = std::hypot(dx, dy);
  if (!(gap > CONTINUITY_TOLERANCE)) {
    return;
  }
  Warn(context, "the tool-centre path jumps by " + Short(gap) + " to the start of this block" +
                    (piece.tool.arc ? ": a straight line to the arc's start is written"
                                    : ": the move is written from where the tool is"));
  if (piece.tool.arc) {
    cutcomp::PathPiece toStart = piece;
    toStart.inserted = true;
    toStart.tool = m_Machine.Insert(piece.tool.from);
    toStart.programmed = toStart.tool;
    WriteInserted(context, toStart.tool, feed, &toStart);
  }
}

void WrittenPath::PlainBlock(const Block& block) {
  m_Machine.Strip(block);
  const Point at = m_Machine.Position();
  WrittenBlock line(WrittenBlock::STRIPPED, block);
  line.position = m_Machine.Known() ? &at : nullptr;
  Write(line);
  m_Machine.NoteHeight(block);
}

void WrittenPath::Segment(const Block& block, cutcomp::PathPiece& piece,
                          const std::vector<const Block*>& chords) {
  const bool runStart = block.phase == crc::CRC_STATUS_ESTABLISH;
  if (piece.dropped) {
    // Interference evasion found the segment too short for the cutter: its neighbours' offset
    // paths were joined past it, so the tool never travels it.
    m_Machine.Strip(block);
    const Point at = m_Machine.Position();
    WrittenBlock line(WrittenBlock::STRIPPED, block);
    line.position = m_Machine.Known() ? &at : nullptr;
    line.comment = m_DropComment;
    Write(line, &piece, runStart, &chords);
    m_Machine.NoteHeight(block);
    return;
  }
  if (IsUnset(piece.tool.from) || IsUnset(piece.tool.to)) {
    // Never left so by a successful run; keep the programmed path rather than write garbage.
    Warn(block, "no tool-centre path for this block; kept as programmed");
    piece.tool = piece.programmed;
  }
  // The programmed curve's length only matters under inverse time.
  const double feed = block.modal.feedMode == FeedMode::INVERSE_TIME
                          ? FeedPerMinute(block, ProgrammedOf(block))
                          : block.modal.feed;
  Bridge(block, piece, feed);
  const WrittenPiece written = m_Machine.Replace(block, piece.tool);
  piece.tool = written.curve;
  WrittenBlock line(WrittenBlock::REPLACED, block);
  line.curve = &piece.tool;
  line.fromKnown = written.fromKnown;
  line.feed = feed;
  Write(line, &piece, runStart, &chords);
  m_Machine.NoteHeight(block);
}

void WrittenPath::Inserted(const Block& anchor, cutcomp::PathPiece& piece) {
  const double feed = FeedPerMinute(anchor, ProgrammedOf(anchor));
  Bridge(anchor, piece, feed);
  const cutcomp::Curve added = m_Machine.Insert(piece.tool.to);
  if (piece.tool.arc) {
    // An arc about a corner of the walls (--avoid): Bridge has brought the tool to its start.
    piece.tool.from = added.from;
  } else {
    piece.tool = added;
  }
  piece.programmed = piece.tool;
  WriteInserted(anchor, piece.tool, feed, &piece);
}

void WrittenPath::Closing(const Block& anchor, cutcomp::PathPiece& piece) {
  // A closing line is a move the program did not have: it may never run below the height
  // where the tool last moved at rapid, or it would cut through the finished wall.
  if (m_Machine.HeightProgrammed()) {
    const char normal = AxesOf(anchor.modal.plane).normal;
    const std::optional<double> height = m_Machine.Height();
    const std::optional<double> rapid = m_Machine.RapidHeight();
    std::string why;
    if (!height) {
      why = std::string("the tool's ") + normal + " is not known";
    } else if (!rapid) {
      why = std::string("no rapid move in ") + normal + " shows a height above the part";
    } else if (*height < *rapid - crc::EPSILON) {
      why = std::string("the tool is at ") + normal + Short(*height) + ", below " + normal +
            Short(*rapid) + " where it last moved at rapid";
    }
    if (!why.empty()) {
      Warn(anchor, "the closing line back to the programmed end is not written: " + why);
      return;
    }
  }
  Inserted(anchor, piece);
}

}  // namespace cutcomp::cli
