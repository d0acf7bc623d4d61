// SPDX-License-Identifier: MIT
// The driver: one pass over the program, streaming it through the engine; the outputs are staged
// (output.h), so that an input error found half-way, or a gouge, still writes nothing.
// Blocks outside compensation are written as they come; inside a compensation run the blocks wait
// in the run's order (run_order.h) until the engine has made the segments before them final. Every
// piece is written by the G-code writer first and recorded as written, so that the program, the
// JSON record, the picture and the warnings describe one path.
#include "driver.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <utility>

#include "fit_stage.h"
#include "gcode_writer.h"
#include "gouge_check.h"
#include "html_report.h"
#include "language.h"
#include "list_host.h"
#include "node_pool.h"
#include "number_format.h"
#include "program_reader.h"
#include "reports.h"
#include "run_order.h"
#include "written_machine.h"

namespace cutcomp::cli {

namespace {

// How far a piece of the tool path may start from where the written program has left the tool
// before it is a jump worth a warning, in program units: well above the rounding of written
// coordinates, well below any real gap. The engine joins consecutive offset paths exactly; a gap
// means a run ended away from the contour (no cancel move) or the engine left one.
constexpr double CONTINUITY_TOLERANCE = 1e-3;
constexpr int MAX_WARNINGS = 20;

bool IsUnset(const Point& p) {
  // exact: the engine marks an unset coordinate with this very value
  return p.x == crc::INVALID_VALUE || p.y == crc::INVALID_VALUE;
}

cutcomp::Curve ProgrammedOf(const Block& b) {
  cutcomp::Curve c;
  c.from = b.start;
  c.to = b.end;
  if (IsArc(b.motion)) {
    c.arc = true;
    c.centre = b.centre;
    c.radius = b.radius;
    c.ccw = b.motion == Motion::ARC_CCW;
    c.fullCircle = b.fullCircle;
  }
  return c;
}

std::string Short(double value) { return FormatNumber(value, 6); }

// The lowest point of a block's move along the plane's normal; not a number when unknown.
double LowOf(const Block& b) {
  return b.heightKnown && b.heightBeforeKnown ? std::min(b.height, b.height - b.heightChange) : NAN;
}

// How a gouge's kind is named in its warning, and what may fix it.
const char* KindName(crc::gouge_kind_t kind) {
  switch (kind) {
  case crc::GOUGE_ENTRY:
    return "entry";
  case crc::GOUGE_EXIT:
    return "exit";
  case crc::GOUGE_CORNER:
    return "corner";
  case crc::GOUGE_CROSSING:
    return "crossing";
  case crc::GOUGE_LATER_CONTOUR:
    return "later contour";
  case crc::GOUGE_EARLIER_CONTOUR:
    return "earlier contour";
  }
  return "crossing";
}
std::string Hint(crc::gouge_kind_t kind, const std::string& piece, const std::string& wall) {
  switch (kind) {
  case crc::GOUGE_ENTRY:
    return "approach along the normal of block " + wall + ", or start farther out";
  case crc::GOUGE_EXIT:
    return "leave along the normal of block " + wall + ", or end farther out";
  case crc::GOUGE_CROSSING:
    return "the cutter does not fit between blocks " + piece + " and " + wall;
  case crc::GOUGE_LATER_CONTOUR:
    return "the contour of block " + piece + " cuts into the wall block " + wall + " finished";
  case crc::GOUGE_EARLIER_CONTOUR:
    return "block " + piece + " cuts into the wall a later contour finishes at block " + wall;
  case crc::GOUGE_CORNER:
    break;
  }
  return {};
}

class Driver : public RunOrder::Sink {
public:
  Driver(const Options& options, std::FILE* diagnostics)
      : m_Options(options),
        m_Diagnostics(diagnostics),
        m_Name(options.input == "-" ? "<stdin>" : options.input),
        m_Machine(options.precision) {}
  int Run();

  void PlainBlock(const cli::Block& block) override;
  void Segment(const cli::Block& block, cutcomp::PathPiece& piece,
               const std::vector<const cli::Block*>& chords) override;
  void Inserted(const cli::Block& anchor, cutcomp::PathPiece& piece) override;
  void Closing(const cli::Block& anchor, cutcomp::PathPiece& piece) override;

private:
  bool OpenInput();
  bool OpenOutputs();
  int Finish(int code, const ErrorRecord* error, const std::vector<GougeRecord>* gouges = nullptr,
             const std::vector<OpenRecord>* open = nullptr);
  int Audit(std::vector<GougeRecord>& records);
  std::int64_t AuditId(std::int64_t id, const cli::Block& block);
  bool NextBlock(cli::Block& block);
  void Passthrough(const cli::Block& block);
  int Compensate(cli::Block first);
  int EngineFailure(const HostFailure& failure, const ListHost& host, const RunOrder& order,
                    double radius);
  void Record(const cli::Block& block, const cutcomp::PathPiece& piece, bool runStart,
              const std::vector<const cli::Block*>* chords = nullptr);
  void WarnUnchecked();
  void Bridge(const cli::Block& context, cutcomp::PathPiece& piece, double feed);
  std::unique_ptr<ProgramReader> OpenProgram(std::function<void(const InputError&)> warn);
  std::string Place(const cli::Block& block) const;
  std::string LineOf(const cli::Block& block, const cli::Block& from, const char* prefix) const;
  void Warn(const cli::Block& block, const std::string& message);
  void Report(const std::string& file, std::size_t line, const std::string& message);
  void Say(const std::string& message);
  std::string Message(const InputError& error, const char* kind) const;
  ErrorRecord InputErrorRecord(const InputError& error) const;

  Options m_Options;
  std::FILE* m_Diagnostics;
  std::string m_Name;  // the input as messages name it
  ToolTable m_Tools;
  ReaderOptions m_ReaderOptions;
  std::FILE* m_Input = nullptr;
  bool m_OwnInput = false;
  std::unique_ptr<ProgramReader> m_Reader;
  std::optional<cli::Block> m_Pushback;
  NodePool m_Nodes;  // the engine's segments, one run after another
  Output m_Output;
  Output m_JsonFile;
  Output m_SvgFile;
  Output m_SvgBody;
  Output m_HtmlFile;
  std::unique_ptr<GcodeWriter> m_Gcode;
  std::unique_ptr<JsonWriter> m_Json;
  std::unique_ptr<SvgWriter> m_Svg;
  std::unique_ptr<HtmlWriter> m_Html;
  int m_Warnings = 0;
  // Where the written program has the tool, its height and the work frame.
  WrittenMachine m_Machine;
  // The gouge check (none with --no-verify). Its ids are the blocks' ids made unique over the
  // program (m_IdBase: the blocks of the runs before) in the high half, the source line in the
  // low half; m_Places holds, from each id on, the file and calls of the blocks.
  std::optional<GougeCheck> m_Check;
  std::int64_t m_IdBase = 0;
  struct PlaceFrom {
    std::int64_t id = 0;
    SourceLocation where;  // the file; the line comes from the id
    std::vector<SourceLocation> callers;
  };
  std::vector<PlaceFrom> m_Places;

public:
  ~Driver() override {
    if (m_Input != nullptr && m_OwnInput) {
      std::fclose(m_Input);
    }
  }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;
};

// The place of a block for messages: file, line and, inside a subroutine, the call chain.
std::string Driver::Place(const cli::Block& block) const {
  return language::FormatPlace(block.source.where, 0, block.source.callers, m_Name,
                               m_Reader ? &m_Reader->Language() : nullptr);
}

// How a note at `from` names another block: `prefix` and its line number in the same file
// ("line 11"), its file and line in another ("pocket.ngc:11").
std::string Driver::LineOf(const cli::Block& block, const cli::Block& from,
                           const char* prefix) const {
  if (block.source.where.file == from.source.where.file) {
    return prefix + std::to_string(block.Line());
  }
  return language::FormatPlace(block.source.where, 0, {}, m_Name);
}

// "file:line:col: in o<sub> called from file:line: error: message" (kind: "error", "warning").
std::string Driver::Message(const InputError& error, const char* kind) const {
  return language::FormatPlace(error, m_Name, m_Reader ? &m_Reader->Language() : nullptr) + ": " +
         kind + ": " + error.what() + "\n";
}

ErrorRecord Driver::InputErrorRecord(const InputError& error) const {
  ErrorRecord record;
  record.file = error.File();
  record.line = error.Line();
  record.col = error.Col();
  record.message = error.what();
  return record;
}

// Evasion leaves segments out of the path where the cutter does not fit them, and joins their
// neighbours' offsets past them: on posted curves that can cut into the part. The gouge audit
// finds that; without it the user is told the path is not checked.
void Driver::WarnUnchecked() {
  if (m_Options.evade && !m_Options.verify) {
    Report("", 0,
           "--evade with --no-verify: the tool path is not checked for gouges; segments left "
           "out can let the cutter cut into the part");
    std::fprintf(m_Diagnostics,
                 "%s: warning: --evade with --no-verify: the tool path is not checked for "
                 "gouges; segments left out can let the cutter cut into the part\n",
                 m_Name.c_str());
  }
}

// The id under which the gouge check knows the block with run id `id`. The line in the low half
// names the block in messages without a table per block; the place's file and calls are noted
// where they change.
std::int64_t Driver::AuditId(std::int64_t id, const cli::Block& block) {
  if (m_IdBase + id >= std::numeric_limits<std::int32_t>::max()) {
    m_Check->Abandon("the program has more blocks than it can number (2^31)");
    return 0;
  }
  const std::int64_t auditId =
      ((m_IdBase + id) << 32) | static_cast<std::int64_t>(std::min<std::size_t>(
                                    block.Line(), std::numeric_limits<std::uint32_t>::max()));
  const SourceBlock& source = block.source;
  if (m_Places.empty() || m_Places.back().where.file != source.where.file ||
      m_Places.back().callers.size() != source.callers.size() ||
      !std::equal(source.callers.begin(), source.callers.end(), m_Places.back().callers.begin(),
                  [](const SourceLocation& a, const SourceLocation& b) {
                    return a.line == b.line && a.file == b.file;
                  })) {
    PlaceFrom place;
    place.id = auditId;
    place.where.file = source.where.file;
    place.callers = source.callers;
    m_Places.push_back(std::move(place));
  }
  return auditId;
}

// A warning, as long as there have not been too many.
void Driver::Say(const std::string& message) {
  if (++m_Warnings <= MAX_WARNINGS) {
    std::fputs(message.c_str(), m_Diagnostics);
  } else if (m_Warnings == MAX_WARNINGS + 1) {
    std::fprintf(m_Diagnostics, "%s: warning: further warnings suppressed\n", m_Name.c_str());
  }
}

// A warning into the reports that list them (every one: only the terminal's are limited).
void Driver::Report(const std::string& file, std::size_t line, const std::string& message) {
  if (m_Html) {
    WarningRecord warning;
    warning.file = file;
    warning.line = line;
    warning.message = message;
    m_Html->Warning(warning);
  }
}

void Driver::Warn(const cli::Block& block, const std::string& message) {
  Report(block.source.where.file, block.Line(), message);
  if (m_Warnings <= MAX_WARNINGS) {
    Say(Place(block) + ": warning: " + message + "\n");
  }
}

bool Driver::NextBlock(cli::Block& block) {
  if (m_Pushback) {
    block = std::move(*m_Pushback);
    m_Pushback.reset();
    return true;
  }
  return m_Reader->Next(block);
}

void Driver::Record(const cli::Block& block, const cutcomp::PathPiece& piece, bool runStart,
                    const std::vector<const cli::Block*>* chords) {
  if (m_Check && !piece.dropped && piece.phase != crc::CRC_STATUS_NONE &&
      std::fabs(block.compRadius) >= crc::EPSILON) {
    m_Check->Piece(piece.tool, std::fabs(block.compRadius), LowOf(block), AuditId(piece.id, block));
  }
  if (!m_Json && !m_Svg && !m_Html) {
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
    for (const cli::Block* chord : *chords) {
      record.chords.push_back(chord->end);
    }
  }
  record.motion = piece.inserted ? Motion::LINE : block.motion;
  record.plane = block.modal.plane;
  record.compRadius = piece.phase == crc::CRC_STATUS_NONE ? 0.0 : block.compRadius;
  record.runStart = runStart;
  if (m_Json) {
    m_Json->Piece(record);
  }
  if (m_Svg) {
    m_Svg->Piece(record);
  }
  if (m_Html) {
    m_Html->Piece(record);
  }
}

void Driver::Passthrough(const cli::Block& block) {
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
    m_Gcode->Replaced(block, m_Machine.Replace(block, passage.line),
                      FeedPerMinute(block, ProgrammedOf(block)));
  } else {
    if (passage.kind == WrittenMachine::Passage::AFTER_LINE) {
      // From beside the contour the tool first goes straight to the arc's start.
      const cutcomp::Curve line = m_Machine.Insert(block.start);
      m_Gcode->Inserted(block, line, m_Machine.State(), FeedPerMinute(block, ProgrammedOf(block)));
    }
    m_Gcode->Passthrough(block);
    m_Machine.Pass(block);
  }
  m_Machine.NoteHeight(block);
  if (moves) {
    Record(block, piece, false);
  }
}

// A piece that does not start where the written program has left the tool: said once, and for
// an arc a straight line to its start is written first (the arc's I and J are only right from
// there). A line is written from where the tool is.
void Driver::Bridge(const cli::Block& context, cutcomp::PathPiece& piece, double feed) {
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
    cutcomp::PathPiece line = piece;
    line.inserted = true;
    line.tool = m_Machine.Insert(piece.tool.from);
    m_Gcode->Inserted(context, line.tool, m_Machine.State(), feed);
    line.programmed = line.tool;
    Record(context, line, false);
  }
}

void Driver::PlainBlock(const cli::Block& block) {
  m_Machine.Strip(block);
  const Point at = m_Machine.Position();
  m_Gcode->Stripped(block, m_Machine.Known() ? &at : nullptr, nullptr);
  m_Machine.NoteHeight(block);
}

void Driver::Segment(const cli::Block& block, cutcomp::PathPiece& piece,
                     const std::vector<const cli::Block*>& chords) {
  const bool runStart = block.phase == crc::CRC_STATUS_ESTABLISH;
  if (piece.dropped) {
    // Interference evasion found the segment too short for the cutter: its neighbours' offset
    // paths were joined past it, so the tool never travels it.
    m_Machine.Strip(block);
    const Point at = m_Machine.Position();
    m_Gcode->Stripped(block, m_Machine.Known() ? &at : nullptr,
                      "cutcomp: segment dropped from the tool path, too short for the cutter");
    m_Machine.NoteHeight(block);
    Record(block, piece, runStart, &chords);
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
  m_Gcode->Replaced(block, written, feed);
  piece.tool = written.curve;
  m_Machine.NoteHeight(block);
  Record(block, piece, runStart, &chords);
}

void Driver::Inserted(const cli::Block& anchor, cutcomp::PathPiece& piece) {
  const double feed = FeedPerMinute(anchor, ProgrammedOf(anchor));
  Bridge(anchor, piece, feed);
  piece.tool = m_Machine.Insert(piece.tool.to);
  m_Gcode->Inserted(anchor, piece.tool, m_Machine.State(), feed);
  piece.programmed = piece.tool;
  Record(anchor, piece, false);
}

void Driver::Closing(const cli::Block& anchor, cutcomp::PathPiece& piece) {
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

int Driver::EngineFailure(const HostFailure& failure, const ListHost& host, const RunOrder& order,
                          double radius) {
  ErrorRecord error;
  error.compensation = true;
  error.code = failure.code;
  error.engineMessage = failure.message;
  const char* gloss = crc::GetErrorGloss(failure.code);
  error.message = gloss != nullptr && *gloss != '\0' ? gloss : "compensation failed";
  // The engine checks a segment and its successor together: a radius the cutter cannot follow
  // and an arc as cancel move are refused while the segment before is adjusted. Point at the
  // block at fault.
  std::int64_t blamed = failure.id;
  if (failure.code == crc::CRC_ERROR_RADIUS_UNREASONABLE ||
      failure.code == crc::CRC_ERROR_ARC_RETRACT) {
    int looked = 0;
    for (const HostSegment& pending : host.Pending()) {
      if (pending.inserted || ++looked > 2) {
        continue;
      }
      const bool cancelArc = pending.node->GetNodeType() == crc::NODE_ARC &&
                             pending.node->GetStatusType() == crc::CRC_STATUS_RETRACT;
      std::unique_ptr<crc::CCrcNode> probe(pending.node->Clone());
      const bool tooTight = probe && !probe->CheckCanBeCrcMove(radius);
      if (failure.code == crc::CRC_ERROR_ARC_RETRACT ? cancelArc : tooTight) {
        blamed = pending.id;
        break;
      }
    }
  }
  if (failure.code == crc::CRC_ERROR_ARC_ESTABLISH) {
    error.message += ": start with a straight lead-in move, or use --start insert";
  } else if (failure.code == crc::CRC_ERROR_ARC_RETRACT) {
    error.message += ": end with a straight lead-out move, or use --start insert";
  }
  const cli::Block* at = order.Find(blamed);
  if (at != nullptr) {
    error.file = at->source.where.file;
    error.line = at->Line();
    error.text = at->source.text;
    error.hasGeometry = at->planeMotion;
    error.segment = ProgrammedOf(*at);
  }
  const std::string place = at != nullptr ? Place(*at) : m_Name;
  const std::int64_t lastChord = order.LastCovered(blamed);
  for (const HostSegment& pending : host.Pending()) {
    if (lastChord != blamed && pending.id == blamed && !pending.inserted) {
      error.segment = ProgrammedCurve(*pending.node);  // the piece fitted to the chords
      break;
    }
  }
  if (m_Options.verbose && !error.engineMessage.empty()) {
    std::fprintf(m_Diagnostics, "%s: error: %s (%s)\n", place.c_str(), error.message.c_str(),
                 error.engineMessage.c_str());
  } else {
    std::fprintf(m_Diagnostics, "%s: error: %s\n", place.c_str(), error.message.c_str());
  }
  if (blamed != failure.id && failure.code == crc::CRC_ERROR_RADIUS_UNREASONABLE && at != nullptr) {
    if (const cli::Block* entry = order.Find(failure.id)) {
      std::fprintf(m_Diagnostics,
                   "%s: note: found while joining this block to %s: the cutter (radius %s) does "
                   "not fit that arc\n",
                   Place(*entry).c_str(), LineOf(*at, *entry, "line ").c_str(),
                   Short(std::fabs(radius)).c_str());
    }
  }
  // The refused segment may be a line or arc fitted to several chords: say which.
  if (const cli::Block* entry = order.Find(lastChord);
      entry != nullptr && at != nullptr && lastChord != blamed) {
    const std::string piece =
        error.segment.arc ? "arc of radius " + Short(error.segment.radius) : std::string("line");
    std::fprintf(m_Diagnostics,
                 "%s: note: lines %zu to %s were compensated as one %s fitted to their chords; "
                 "--no-fit compensates them as programmed\n",
                 place.c_str(), at->Line(), LineOf(*entry, *at, "").c_str(), piece.c_str());
  }
  return Finish(EXIT_COMPENSATION_FAILED, &error);
}

int Driver::Compensate(cli::Block first) {
  m_Machine.NoteFrame(first);
  if (m_Check) {
    m_Check->BeginRun(first.modal.plane, first.modal.units, m_Machine.Frame());
  }
  RunOrder order(*this);
  bool ended = false;
  std::optional<InputError> sourceError;
  const double radius = first.compRadius;

  // The run's plane moves go through the fit stage, which hands on a segment once it knows what
  // the segment stands for: a move as programmed, or a piece fitted to a run of chords (then
  // only when the run ends, or holds as many chords as the fitter keeps).
  FitStage stage(m_Options.fit ? std::optional<FitOptions>(
                                     RunFitOptions(first.modal.units, m_Options.fitTolerance))
                               : std::nullopt,
                 m_Options.locateRapids, m_Nodes);
  // Pulls blocks until the stage has the next segment, queueing every block in the run's order.
  std::optional<cli::Block> firstBlock(std::move(first));
  auto source = [&](std::unique_ptr<crc::CCrcNode>& node, std::int64_t& id) -> bool {
    std::int64_t last = 0;
    while (!stage.Next(node, id, last)) {
      if (ended) {
        return false;
      }
      cli::Block& block = order.Prepare();
      if (firstBlock) {
        block = std::move(*firstBlock);
        firstBlock.reset();
      } else {
        try {
          ended = !NextBlock(block);
        } catch (const InputError& error) {
          sourceError = error;
          ended = true;
        }
        if (ended) {
          stage.Flush();
          continue;
        }
        // The run ends before a block that ends it without a cancel move, one that starts a
        // new run, and a plane motion outside compensation (a run must never swallow one).
        if (block.endsRun || block.phase == crc::CRC_STATUS_ESTABLISH ||
            (block.planeMotion && block.phase == crc::CRC_STATUS_NONE)) {
          m_Pushback = std::move(block);
          ended = true;
          stage.Flush();
          continue;
        }
        if (!block.planeMotion) {
          stage.Plain(block);
          order.Commit(false);
          continue;
        }
      }
      ended = block.phase == crc::CRC_STATUS_RETRACT || block.programEnd;
      stage.Move(block, order.NextId());
      order.Commit(true);
      if (ended) {
        stage.Flush();
      }
    }
    order.Covers(id, last);
    if (m_Check && node) {
      const cli::Block& at = *order.Find(id);
      m_Check->Segment(*node, at.compRadius, LowOf(at), AuditId(id, at));
    }
    return true;
  };

  crc::CCutterCompensator engine(radius, nullptr, m_Options.lookBehind, m_Options.start);
  engine.SetInterveneEvade(m_Options.evade);
  // Posted curves: short chords rounded to a few decimals have nearly parallel offsets and
  // tiny backward kinks that the plain interference test takes for overlaps. The tolerant test
  // lets them through; the gouge audit still measures the finished path.
  engine.SetCamTolerance(m_Options.camTolerance);
  // Outlines closed and run on, laps, leads inside the run: where the tool comes back to where
  // it has been, beside lead-ins and run-ons in the air, the offsets meet without interference.
  engine.SetClosureTolerance(m_Options.closureTolerance);
  engine.SetStartInPlace(m_Options.startInPlace);
  engine.SetArcStartup(m_Options.arcStartup);
  engine.SetCrcPreRetractOption(static_cast<int>(m_Options.end));
  ListHost host(source);
  host.UsePool(&m_Nodes);
  HostFailure failure;
  const bool ok = host.Run(
      engine, [&order](HostSegment& segment) { order.Final(segment); }, &failure);
  if (sourceError) {
    order.WriteBefore(order.NextId());
    std::fputs(Message(*sourceError, "error").c_str(), m_Diagnostics);
    const ErrorRecord error = InputErrorRecord(*sourceError);
    return Finish(EXIT_BAD_INPUT, &error);
  }
  if (!ok) {
    order.WriteBefore(failure.id);
    return EngineFailure(failure, host, order, radius);
  }
  order.Flush();
  m_IdBase += order.NextId();
  return EXIT_OK;
}

bool Driver::OpenInput() {
  if (m_Options.inputStream != nullptr) {
    m_Input = m_Options.inputStream;
    m_OwnInput = false;
    return true;
  }
  if (m_Options.input != "-") {
    m_Input = std::fopen(m_Options.input.c_str(), "rb");
    m_OwnInput = true;
    if (m_Input == nullptr) {
      std::fprintf(m_Diagnostics, "%s: error: cannot open: %s\n", m_Name.c_str(),
                   std::strerror(errno));
      return false;
    }
    return true;
  }
  // Standard input is spooled to a temporary file: loops and calls read their lines again.
  m_Input = std::tmpfile();
  m_OwnInput = true;
  if (m_Input == nullptr) {
    std::fprintf(m_Diagnostics, "%s: error: cannot spool standard input: %s\n", m_Name.c_str(),
                 std::strerror(errno));
    return false;
  }
  char buffer[1 << 15];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) {
    if (std::fwrite(buffer, 1, n, m_Input) != n) {
      std::fprintf(m_Diagnostics, "%s: error: cannot spool standard input: %s\n", m_Name.c_str(),
                   std::strerror(errno));
      return false;
    }
  }
  if (std::ferror(stdin) || std::fflush(m_Input) != 0) {
    std::fprintf(m_Diagnostics, "%s: error: cannot read standard input\n", m_Name.c_str());
    return false;
  }
  std::rewind(m_Input);
  return true;
}

bool Driver::OpenOutputs() {
  const auto open = [this](Output& output, const std::string& path) {
    if (!output.Open(path)) {
      std::fprintf(m_Diagnostics, "%s: error: cannot write: %s\n", path.c_str(),
                   output.Error().c_str());
      return false;
    }
    return true;
  };
  if (!open(m_Output, m_Options.output)) {
    return false;
  }
  if (!m_Options.json.empty()) {
    if (!open(m_JsonFile, m_Options.json)) {
      return false;
    }
    m_Json = std::make_unique<JsonWriter>(m_JsonFile, m_Name);
  }
  if (!m_Options.svg.empty()) {
    if (!open(m_SvgFile, m_Options.svg)) {
      return false;
    }
    if (!m_SvgBody.OpenTemporary()) {
      std::fprintf(m_Diagnostics, "%s: error: cannot write: %s\n", m_Options.svg.c_str(),
                   m_SvgBody.Error().c_str());
      return false;
    }
    m_Svg = std::make_unique<SvgWriter>(m_SvgFile, m_SvgBody, "cutcomp: " + m_Name);
  }
  if (!m_Options.html.empty()) {
    if (!open(m_HtmlFile, m_Options.html)) {
      return false;
    }
    m_Html = std::make_unique<HtmlWriter>(m_HtmlFile, m_Name);
  }
  m_Gcode = std::make_unique<GcodeWriter>(m_Output, m_Options.precision);
  return true;
}

// Measures the whole tool path against the whole contour; says every gouge (as many as warnings
// go) and a summary. EXIT_GOUGE when the path gouges or could not be measured.
int Driver::Audit(std::vector<GougeRecord>& records) {
  std::vector<GougeFinding> findings;
  std::string failure;
  const std::optional<double> top = m_Options.stockTop ? m_Options.stockTop : m_Machine.PlungeTop();
  m_Check->SetWorkTop(top ? *top : NAN);
  const bool measured = m_Check->Run(findings, failure);
  const auto placeOf = [this](std::int64_t id) -> const PlaceFrom& {
    const auto after = std::upper_bound(
        m_Places.begin(), m_Places.end(), id,
        [](std::int64_t value, const PlaceFrom& place) { return value < place.id; });
    return *(after - 1);  // every id given out was noted at or after the first place
  };
  const auto lineOf = [](std::int64_t id) { return static_cast<std::size_t>(id & 0xffffffff); };
  // One warning per block of the tool path that gouges: its deepest gouge, naming the other
  // walls it cuts into as well; and one gouge cut again in another pass (a subroutine or loop
  // run again) is said once, with the passes counted: the same blocks, kind, depth and point as
  // written.
  struct Said {
    GougeRecord record;
    std::string message;
    std::string hint;
    std::string at;
  };
  std::vector<Said> said;
  std::map<std::string, std::size_t> seen;
  const GougeFinding* least = nullptr;
  for (std::size_t i = 0; i < findings.size();) {
    // The findings of one piece of the path (they come sorted by piece), deepest first.
    std::size_t end = i;
    const GougeFinding* deepest = &findings[i];
    // Of gouges as deep, one against a wall of the piece's own run: a pass run again finds the
    // same notch in the walls of the passes before, and says it as its own.
    const auto own = [](const GougeFinding& f) {
      return f.kind != crc::GOUGE_LATER_CONTOUR && f.kind != crc::GOUGE_EARLIER_CONTOUR;
    };
    while (end < findings.size() && findings[end].pieceId == findings[i].pieceId) {
      const GougeFinding& f = findings[end];
      const double margin = 1e-12 * std::max(1.0, f.radius);
      if (f.depth > deepest->depth + margin ||
          (f.depth >= deepest->depth - margin && own(f) && !own(*deepest))) {
        deepest = &f;
      }
      least =
          least == nullptr || findings[end].clearance < least->clearance ? &findings[end] : least;
      ++end;
    }
    const GougeFinding& finding = *deepest;
    const PlaceFrom& piece = placeOf(finding.pieceId);
    const PlaceFrom& wall = placeOf(finding.wallId);
    GougeRecord record;
    record.file = piece.where.file;
    record.line = lineOf(finding.pieceId);
    record.wallFile = wall.where.file;
    record.wallLine = lineOf(finding.wallId);
    record.point = finding.wallPoint;
    record.toolPoint = finding.toolPoint;
    record.depth = finding.depth;
    record.clearance = finding.clearance;
    record.radius = finding.radius;
    record.kind = KindName(finding.kind);
    const auto name = [&](const PlaceFrom& place, std::int64_t id) {
      return place.where.file == record.file
                 ? std::to_string(lineOf(id))
                 : language::FormatPlace({place.where.file, lineOf(id)}, 0, {}, m_Name);
    };
    const std::string against = name(wall, finding.wallId);
    std::vector<std::string> others;
    for (std::size_t j = i; j < end; ++j) {
      const std::string other = name(placeOf(findings[j].wallId), findings[j].wallId);
      if (other != against && std::find(others.begin(), others.end(), other) == others.end()) {
        others.push_back(other);
        record.alsoAgainst.push_back(other);
      }
    }
    i = end;
    std::string message = record.kind + ": the tool comes " + Short(finding.depth);
    message += " inside the contour at (" + Short(finding.wallPoint.x);
    message += ", " + Short(finding.wallPoint.y) + "): block " + std::to_string(record.line);
    message += " against block " + against;
    for (std::size_t o = 0; o < others.size(); ++o) {
      message +=
          (o == 0 ? (others.size() == 1 ? " and block " : " and blocks ") : ", ") + others[o];
    }
    const std::string key = record.file + '\n' + record.wallFile + '\n' + message;
    const auto [where, fresh] = seen.emplace(key, said.size());
    if (!fresh) {
      ++said[where->second].record.passes;
      continue;
    }
    const std::string at = language::FormatPlace({record.file, record.line}, 0, piece.callers,
                                                 m_Name, &m_Reader->Language());
    said.push_back({std::move(record), std::move(message),
                    Hint(finding.kind, std::to_string(lineOf(finding.pieceId)), against), at});
  }
  for (Said& one : said) {
    std::string message = one.message;
    if (one.record.passes > 1) {
      message += " (" + std::to_string(one.record.passes) + " passes)";
    }
    if (!one.hint.empty()) {
      message += "; " + one.hint;
    }
    if (m_Html) {
      // Marked on the page from the tool centre to the point of the wall it cuts into.
      WarningRecord warning;
      warning.file = one.record.file;
      warning.line = one.record.line;
      warning.message = message;
      warning.hasGeometry = true;
      warning.segment.from = one.record.toolPoint;
      warning.segment.to = one.record.point;
      m_Html->Warning(warning);
    }
    Say(one.at + ": warning: " + message + "\n");
    records.push_back(std::move(one.record));
  }
  const char* outcome = m_Options.allowGouge
                            ? "written all the same (--allow-gouge)"
                            : "the compensated program is not written (--allow-gouge writes it)";
  if (!measured) {
    std::fprintf(m_Diagnostics,
                 "%s: warning: the tool path could not be checked for gouges: %s: %s\n",
                 m_Name.c_str(), failure.c_str(), outcome);
  }
  if (least != nullptr) {
    std::fprintf(m_Diagnostics,
                 "%s: warning: %zu gouge%s, minimum clearance %s for a cutter radius of %s: %s\n",
                 m_Name.c_str(), records.size(), records.size() == 1 ? "" : "s",
                 Short(least->clearance).c_str(), Short(least->radius).c_str(), outcome);
  }
  return measured && findings.empty() ? EXIT_OK : EXIT_GOUGE;
}

// Closes the reports and every output; a write that failed anywhere is an error. Bad input
// leaves every target as it was; a gouge leaves the program's target so, unless --allow-gouge
// (the reports show the gouges).
int Driver::Finish(int code, const ErrorRecord* error, const std::vector<GougeRecord>* gouges,
                   const std::vector<OpenRecord>* open) {
  static const std::vector<GougeRecord> none;
  static const std::vector<OpenRecord> noOpen;
  if (m_Json) {
    m_Json->Finish(error, gouges);
  }
  if (m_Svg) {
    m_Svg->Finish(error, gouges != nullptr ? *gouges : none, open != nullptr ? *open : noOpen);
  }
  if (m_Html) {
    m_Html->Finish(error);
  }
  const bool reports = code != EXIT_BAD_INPUT;
  const bool program = reports && (code != EXIT_GOUGE || m_Options.allowGouge);
  int result = code;
  for (Output* output : {&m_Output, &m_JsonFile, &m_SvgFile, &m_HtmlFile}) {
    if (!output->Finish(output == &m_Output ? program : reports)) {
      const std::string path = output->Path() == "-" ? "<stdout>" : output->Path();
      std::fprintf(m_Diagnostics, "%s: error: writing failed: %s\n", path.c_str(),
                   output->Error().c_str());
      result = result == EXIT_OK ? EXIT_BAD_INPUT : result;
    }
  }
  return result;
}

// The program's reader: the language layer looks for subroutine files beside the program
// first, then along --subroutine-path.
std::unique_ptr<ProgramReader> Driver::OpenProgram(std::function<void(const InputError&)> warn) {
  language::LanguageOptions language;
  const std::size_t slash = m_Options.input == "-" ? std::string::npos : m_Options.input.rfind('/');
  language.subroutineDirs.push_back(
      slash == std::string::npos ? std::string() : m_Options.input.substr(0, slash + 1));
  for (std::string& dir : language::SplitSearchPath(m_Options.subroutinePath)) {
    language.subroutineDirs.push_back(std::move(dir));
  }
  language.maxBlocks = m_Options.maxBlocks;
  language.warn = std::move(warn);
  return std::make_unique<ProgramReader>(m_Input, m_ReaderOptions, std::move(language));
}

int Driver::Run() {
  m_ReaderOptions.radius = m_Options.radius;
  m_ReaderOptions.toolUnits = m_Options.toolUnits;
  m_ReaderOptions.arcTolerance = m_Options.arcTolerance;
  if (!m_Options.toolTable.empty()) {
    std::FILE* table = std::fopen(m_Options.toolTable.c_str(), "rb");
    if (table == nullptr) {
      std::fprintf(m_Diagnostics, "%s: error: cannot open the tool table: %s\n",
                   m_Options.toolTable.c_str(), std::strerror(errno));
      return EXIT_BAD_INPUT;
    }
    try {
      m_Tools.Load(table);
    } catch (const InputError& error) {
      std::fclose(table);
      std::fprintf(m_Diagnostics, "%s: error: %s\n",
                   language::FormatPlace(error, m_Options.toolTable).c_str(), error.what());
      return EXIT_BAD_INPUT;
    }
    std::fclose(table);
    m_ReaderOptions.tools = &m_Tools;
  }
  if (!OpenInput()) {
    return EXIT_BAD_INPUT;
  }
  if (!OpenOutputs()) {
    return EXIT_BAD_INPUT;
  }
  WarnUnchecked();
  if (m_Options.verify) {
    m_Check.emplace(m_Options.gougeTolerance);
  }
  // One pass: the program is read, executed and compensated as it streams. An input error
  // found half-way throws the staged outputs away, so that it still writes nothing.
  m_Reader = OpenProgram([this](const InputError& warning) {
    Report(warning.File(), warning.Line(), warning.what());
    Say(Message(warning, "warning"));
  });
  if (m_Options.traceSource) {
    m_Gcode->Trace([this](const SourceBlock& source) {
      return language::FormatPlace(source.where, 0, source.callers, m_Name, &m_Reader->Language());
    });
  }
  cli::Block block;
  try {
    while (NextBlock(block)) {
      if (block.phase == crc::CRC_STATUS_ESTABLISH) {
        const int code = Compensate(std::move(block));
        if (code != EXIT_OK) {
          return code;
        }
        continue;
      }
      Passthrough(block);
    }
  } catch (const InputError& error) {
    std::fputs(Message(error, "error").c_str(), m_Diagnostics);
    const ErrorRecord record = InputErrorRecord(error);
    return Finish(EXIT_BAD_INPUT, &record);
  }
  if (!m_Check) {
    return Finish(EXIT_OK, nullptr);
  }
  std::vector<GougeRecord> gouges;
  const int code = Audit(gouges);
  // The picture shows which stretches of the contour are no walls.
  std::vector<OpenRecord> open;
  if (m_Svg) {
    std::vector<crc::OpenStretch> stretches;
    m_Check->OpenStretches(stretches);
    static const char* const WHY[] = {"lead", "roughing", "above the work"};
    for (const crc::OpenStretch& s : stretches) {
      OpenRecord record;
      record.line = static_cast<std::size_t>(s.segmentId & 0xffffffff);
      record.curve.from = s.curve.from;
      record.curve.to = s.curve.to;
      record.curve.arc = s.curve.arc;
      record.curve.centre = s.curve.centre;
      record.curve.ccw = s.curve.ccw;
      record.curve.fullCircle = s.curve.fullCircle;
      record.curve.radius = s.curve.arc ? (s.curve.from - s.curve.centre).GetLength() : 0.0;
      record.why = WHY[s.why];
      open.push_back(std::move(record));
    }
  }
  return Finish(code, nullptr, &gouges, &open);
}

}  // namespace

int RunCutcomp(const Options& options, std::FILE* diagnostics) {
  Driver driver(options, diagnostics);
  return driver.Run();
}

}  // namespace cutcomp::cli
