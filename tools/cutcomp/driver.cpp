// SPDX-License-Identifier: MIT
// The run: one pass over the program, streaming it through the engine; the outputs are staged
// (outputs.h), so that an input error found half-way, or a gouge, still writes nothing.
// The rooms around it: reading (reading.h), what the tool says (messages.h), the files and their
// writers (outputs.h), which block a refusal is about (failure.h), the gouge audit
// (audit_stage.h), and where the written tool stands (written_machine.h).
// Blocks outside compensation are written as they come; inside a compensation run the blocks wait
// in the run's order (run_order.h) until the engine has made the segments before them final. Every
// line written is one event handed to every writer (writer.h), the piece it draws recorded as
// written, so that the program, the JSON record, the picture and the warnings describe one path.
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <crc/avoid/gouge_free.h>

#include "audit_stage.h"
#include "failure.h"
#include "fit_stage.h"
#include "gouge_check.h"
#include "list_host.h"
#include "messages.h"
#include "node_pool.h"
#include "number_format.h"
#include "outputs.h"
#include "pipeline.h"
#include "reading.h"
#include "run_order.h"
#include "run_source.h"
#include "written_machine.h"

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

class Driver : public RunOrder::Sink {
public:
  Driver(const Program& program, const Options& options, const Capture& capture, Result& result)
      : m_Options(options),
        m_Result(result),
        m_Messages(result, capture, program.name == "-" ? "<stdin>" : program.name),
        m_Reading(program, options, m_Messages),
        m_Outputs(options, capture, m_Messages, result),
        m_Machine(options.precision) {}
  void Run();

  void PlainBlock(const cli::Block& block) override;
  void Segment(const cli::Block& block, cutcomp::PathPiece& piece,
               const std::vector<const cli::Block*>& chords) override;
  void Inserted(const cli::Block& anchor, cutcomp::PathPiece& piece) override;
  void Closing(const cli::Block& anchor, cutcomp::PathPiece& piece) override;

private:
  void Passthrough(const cli::Block& block);
  // One compensation run, from its first block to the block that ends it; false when it failed
  // (the result says why).
  bool Compensate(cli::Block first);
  void InputFailed(const InputError& error);
  // Hands `line` to the writers, with the piece it draws (`piece`; null: none): the audit notes
  // the piece, and its record is made when a writer takes records.
  void Write(WrittenBlock& line, const cutcomp::PathPiece* piece = nullptr, bool runStart = false,
             const std::vector<const cli::Block*>* chords = nullptr);
  void WarnUnchecked();
  void Bridge(const cli::Block& context, cutcomp::PathPiece& piece, double feed);
  void Warn(const cli::Block& block, const std::string& message);
  // --avoid: the run's programmed segment with run id `id` joins the walls the gouge-free path
  // keeps its distance from.
  void NoteWall(const RunOrder& order, const crc::CCrcNode& node, std::int64_t id);
  // --avoid: the run whose walls begin at m_Walls[begin] is written with the gouge-free path
  // when the engine refused it (`engineOk` false) or its path comes too close to a wall; false
  // when the engine's own path stands (or none can be made: then a warning says why).
  bool Avoid(RunOrder& order, std::size_t begin, bool engineOk, const cli::Block& first,
             const std::vector<cutcomp::PathPiece>& held);
  // --avoid: the engine's pieces of a completed run come closer than radius - tolerance to a
  // wall of the runs so far (measured as the gouge audit measures them).
  bool Gouges(const RunOrder& order, std::size_t begin, const crc::GougeFreeSettings& settings,
              const std::vector<cutcomp::PathPiece>& held) const;

  const Options& m_Options;
  Result& m_Result;
  Messages m_Messages;
  Reading m_Reading;
  Outputs m_Outputs;
  NodePool m_Nodes;  // the engine's segments, one run after another
  // Where the written program has the tool, its height and the work frame.
  WrittenMachine m_Machine;
  std::optional<AuditStage> m_Audit;  // none with --no-verify
  // --avoid: the walls of the runs so far in the current plane, units and work frame, under
  // ids made unique over the program (m_RunBase: the blocks of the runs before).
  std::vector<crc::ContourSegment> m_Walls;
  std::tuple<int, int, std::uint64_t> m_WallsFrame{-1, -1, 0};
  std::int64_t m_RunBase = 0;
  // What a segment written without its motion says in the program.
  const char* m_DropComment =
      "cutcomp: segment dropped from the tool path, too short for the cutter";
};

// Evasion leaves segments out of the path where the cutter does not fit them, and joins their
// neighbours' offsets past them: on posted curves that can cut into the part. The gouge audit
// finds that; without it the user is told the path is not checked.
void Driver::WarnUnchecked() {
  if (m_Options.evade && !m_Options.verify) {
    m_Messages.RunWarning(
        "--evade with --no-verify: the tool path is not checked for gouges; "
        "segments left out can let the cutter cut into the part",
        true);
  }
}

// A warning about a block, said at its place.
void Driver::Warn(const cli::Block& block, const std::string& message) {
  WarningRecord warning;
  warning.file = block.source.where.file;
  warning.line = block.Line();
  warning.message = message;
  m_Messages.Warning(warning, [&] { return m_Reading.Place(block.source); });
}

void Driver::Write(WrittenBlock& line, const cutcomp::PathPiece* drawn, bool runStart,
                   const std::vector<const cli::Block*>* chords) {
  if (drawn == nullptr) {
    m_Outputs.Write(line);
    return;
  }
  const cli::Block& block = line.block;
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
    for (const cli::Block* chord : *chords) {
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
      WrittenBlock line(WrittenBlock::INSERTED, block);
      line.curve = &toStart;
      line.modal = &m_Machine.State();
      line.feed = FeedPerMinute(block, ProgrammedOf(block));
      Write(line);
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
    cutcomp::PathPiece toStart = piece;
    toStart.inserted = true;
    toStart.tool = m_Machine.Insert(piece.tool.from);
    toStart.programmed = toStart.tool;
    WrittenBlock line(WrittenBlock::INSERTED, context);
    line.curve = &toStart.tool;
    line.modal = &m_Machine.State();
    line.feed = feed;
    Write(line, &toStart);
  }
}

void Driver::PlainBlock(const cli::Block& block) {
  m_Machine.Strip(block);
  const Point at = m_Machine.Position();
  WrittenBlock line(WrittenBlock::STRIPPED, block);
  line.position = m_Machine.Known() ? &at : nullptr;
  Write(line);
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

void Driver::Inserted(const cli::Block& anchor, cutcomp::PathPiece& piece) {
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
  WrittenBlock line(WrittenBlock::INSERTED, anchor);
  line.curve = &piece.tool;
  line.modal = &m_Machine.State();
  line.feed = feed;
  Write(line, &piece);
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

bool Driver::Compensate(cli::Block first) {
  m_Machine.NoteFrame(first);
  if (m_Audit) {
    m_Audit->BeginRun(first, m_Machine.Frame());
  }
  RunOrder order(*this);
  const double radius = first.compRadius;
  // The run's plane moves go through the fit stage, which hands on a segment once it knows what
  // the segment stands for: a move as programmed, or a piece fitted to a run of chords (then
  // only when the run ends, or holds as many chords as the fitter keeps).
  FitStage stage(m_Options.fit ? std::optional<FitOptions>(
                                     RunFitOptions(first.modal.units, m_Options.fitTolerance))
                               : std::nullopt,
                 m_Options.locateRapids, m_Nodes);
  const std::tuple<int, int, std::uint64_t> frame{
      static_cast<int>(first.modal.plane), static_cast<int>(first.modal.units), m_Machine.Frame()};
  if (m_Options.avoid && frame != m_WallsFrame) {
    // Walls in another plane, unit or work frame are not this run's walls.
    m_Walls.clear();
    m_WallsFrame = frame;
  }
  const std::size_t wallsBegin = m_Walls.size();
  const cli::Block runFirst = m_Options.avoid ? first : cli::Block();
  RunSource source(std::move(first), m_Reading, order, stage, m_Audit ? &*m_Audit : nullptr);

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
  ListHost host([this, &source, &order](std::unique_ptr<crc::CCrcNode>& node, std::int64_t& id) {
    if (!source.Pull(node, id)) {
      return false;
    }
    if (m_Options.avoid) {
      NoteWall(order, *node, id);
    }
    return true;
  });
  host.UsePool(&m_Nodes);
  HostFailure failure;
  // With --avoid the engine's pieces are held until the run is judged: written as they are, or
  // replaced by the gouge-free path.
  std::vector<cutcomp::PathPiece> held;
  const bool ok = host.Run(
      engine,
      [this, &order, &held](HostSegment& segment) {
        if (m_Options.avoid) {
          held.push_back(cutcomp::ReadPiece(segment));
        } else {
          order.Final(segment);
        }
      },
      &failure);
  if (m_Options.avoid && !ok && !source.Error()) {
    // The rest of the run: its walls, and its blocks to write along the gouge-free path.
    std::unique_ptr<crc::CCrcNode> node;
    std::int64_t id = 0;
    while (source.Pull(node, id)) {
      NoteWall(order, *node, id);
      m_Nodes.Recycle(std::move(node));
    }
  }
  const bool avoided =
      m_Options.avoid && !source.Error() && Avoid(order, wallsBegin, ok, runFirst, held);
  if (!avoided) {
    for (cutcomp::PathPiece& piece : held) {
      order.Final(piece);
    }
  }
  m_RunBase += order.NextId();
  if (source.Error()) {
    order.WriteBefore(order.NextId());
    InputFailed(*source.Error());
    return false;
  }
  if (!ok && !avoided) {
    order.WriteBefore(failure.id);
    m_Result.error =
        AttributeFailure(failure, host, order, radius, m_Options.verbose, m_Reading, m_Messages);
    m_Result.status = Status::COMPENSATION_FAILED;
    return false;
  }
  order.Flush();
  if (m_Audit) {
    m_Audit->EndRun(order.NextId());
  }
  return true;
}

void Driver::Run() {
  if (!m_Reading.Open(m_Result.error)) {
    m_Result.status = Status::BAD_INPUT;
    return;  // nothing opened is written
  }
  // A file's dialect is known once it is opened (standard input is spooled to one).
  const language::LanguageSource* program = m_Reading.Language();
  const bool pointWholeLengths =
      program != nullptr && program->ChosenDialect().dialect != language::Dialect::NGC;
  if (!m_Outputs.Open(m_Result.error, pointWholeLengths,
                      [this](const SourceBlock& source) { return m_Reading.Place(source); })) {
    m_Result.status = Status::BAD_INPUT;
    return;
  }
  WarnUnchecked();
  if (m_Options.verify) {
    m_Audit.emplace(m_Options, m_Messages, m_Reading);
  }
  // One pass: the program is read, executed and compensated as it streams. An input error
  // found half-way throws the staged outputs away, so that it still writes nothing.
  cli::Block block;
  try {
    while (m_Reading.Next(block)) {
      if (block.phase == crc::CRC_STATUS_ESTABLISH) {
        if (!Compensate(std::move(block))) {
          m_Outputs.Finish(m_Result);
          return;
        }
        continue;
      }
      Passthrough(block);
    }
  } catch (const InputError& error) {
    InputFailed(error);
    m_Outputs.Finish(m_Result);
    return;
  }
  if (m_Audit) {
    m_Result.status = m_Audit->Run(m_Machine.PlungeTop(), m_Outputs.WantsOpenStretches(), m_Result);
  }
  if (m_Result.status == Status::OK && !m_Result.left.empty()) {
    m_Result.status = Status::MATERIAL_LEFT;
  }
  m_Outputs.Finish(m_Result);
}

void Driver::NoteWall(const RunOrder& order, const crc::CCrcNode& node, std::int64_t id) {
  const cli::Block* block = order.Find(id);
  m_Walls.push_back(ContourSegmentOf(node, block != nullptr ? block->compRadius : 0.0,
                                     block != nullptr ? LowOf(*block) : NAN, m_RunBase + id));
}

namespace {

cutcomp::Curve ToolCurve(const crc::Curve& curve) {
  cutcomp::Curve out;
  static_cast<crc::Curve&>(out) = curve;
  out.radius = curve.arc ? (curve.from - curve.centre).GetLength() : 0.0;
  return out;
}

const char* CauseText(crc::material_cause_t cause) {
  switch (cause) {
  case crc::MATERIAL_SMALL_ARC:
    return "the arc is smaller than the cutter";
  case crc::MATERIAL_UNREACHED:
    return "the cutter cannot reach it";
  case crc::MATERIAL_NARROW:
    break;
  }
  return "the cutter does not fit between the walls";
}

const char* CauseName(crc::material_cause_t cause) {
  switch (cause) {
  case crc::MATERIAL_SMALL_ARC:
    return "small arc";
  case crc::MATERIAL_UNREACHED:
    return "unreached";
  case crc::MATERIAL_NARROW:
    break;
  }
  return "narrow";
}

}  // namespace

bool Driver::Gouges(const RunOrder& order, std::size_t begin,
                    const crc::GougeFreeSettings& settings,
                    const std::vector<cutcomp::PathPiece>& held) const {
  crc::CGougeAudit audit(settings.tolerance);
  audit.SetWorkTop(settings.workTop);
  for (const crc::ContourSegment& wall : m_Walls) {
    if (!audit.AddSegment(wall)) {
      return false;  // not measured here: the audit at the end says why
    }
  }
  const double radius = m_Walls[begin].radius;
  std::vector<crc::Gouge> gouges;
  for (const cutcomp::PathPiece& piece : held) {
    if (piece.dropped || piece.phase == crc::CRC_STATUS_NONE || !(radius > 0.0)) {
      continue;
    }
    crc::ToolPiece measured;
    measured.tool = piece.tool;
    measured.radius = radius;
    measured.id = m_RunBase + piece.id;
    const cli::Block* block = order.Find(piece.id);
    measured.low = block != nullptr ? LowOf(*block) : std::numeric_limits<double>::quiet_NaN();
    if (!audit.AuditPiece(measured, nullptr, &gouges)) {
      return false;
    }
    if (!gouges.empty()) {
      return true;
    }
  }
  return false;
}

bool Driver::Avoid(RunOrder& order, std::size_t begin, bool engineOk, const cli::Block& first,
                   const std::vector<cutcomp::PathPiece>& held) {
  const bool inch = first.modal.units == Units::INCH;
  const auto runId = [this](std::int64_t id) { return id - m_RunBase; };
  crc::GougeFreeSettings settings;
  settings.tolerance = m_Options.gougeTolerance
                           ? *m_Options.gougeTolerance
                           : (inch ? DEFAULT_GOUGE_TOLERANCE_INCH : DEFAULT_GOUGE_TOLERANCE_MM);
  settings.strategy = m_Options.start;
  settings.lookBehind = m_Options.lookBehind;
  settings.evade = m_Options.evade;
  settings.camTolerance = m_Options.camTolerance;
  settings.preRetractOption = static_cast<int>(m_Options.end);
  const std::optional<double> top = m_Options.stockTop ? m_Options.stockTop : m_Machine.PlungeTop();
  settings.workTop = top ? *top : std::numeric_limits<double>::quiet_NaN();
  const std::size_t end = m_Walls.size();
  // A completed run is judged by its own path, as the engine made it with the tool's settings.
  if (engineOk && !Gouges(order, begin, settings, held)) {
    return false;
  }
  crc::CGougeFreePath path(settings);
  crc::GougeFreeResult result;
  if (!path.Compute(m_Walls, begin, end, result)) {
    {
      // The extension names segments by the ids it was given: the user knows them by line.
      const std::string& why = path.GetLatestError();
      std::string said;
      static const std::string BLOCK = "block ";
      std::size_t from = 0;
      for (std::size_t at = why.find(BLOCK); at != std::string::npos; at = why.find(BLOCK, from)) {
        std::size_t digits = at + BLOCK.size();
        std::int64_t id = 0;
        while (digits < why.size() && why[digits] >= '0' && why[digits] <= '9' &&
               id < std::numeric_limits<std::int64_t>::max() / 10 - 10) {
          id = id * 10 + (why[digits] - '0');
          ++digits;
        }
        const cli::Block* block = digits > at + BLOCK.size() ? order.Find(runId(id)) : nullptr;
        said += why.substr(from, at + BLOCK.size() - from);
        said += block != nullptr ? std::to_string(block->Line())
                                 : why.substr(at + BLOCK.size(), digits - at - BLOCK.size());
        from = digits;
      }
      said += why.substr(from);
      Warn(first, "--avoid: no gouge-free path for this run: " + said);
    }
    return false;
  }
  // A positioning move at cutting depth crosses the part where the program knows it is clear;
  // the audit takes it for no wall, so a gouge-free path could cut across what it crosses
  // beside it. Such a run is not guessed at: it stays as the engine and the audit leave it.
  for (std::size_t k = begin; k < end; ++k) {
    const crc::ContourSegment& wall = m_Walls[k];
    if (wall.locate && !(wall.low >= settings.workTop)) {
      const cli::Block* block = order.Find(runId(wall.id));
      Warn(block != nullptr ? *block : first,
           "--avoid: no gouge-free path for this run: it has a positioning move at cutting depth "
           "here");
      return false;
    }
  }
  for (const crc::MaterialLeft& left : result.left) {
    const cli::Block* a = order.Find(runId(left.firstId));
    const cli::Block* b = order.Find(runId(left.lastId));
    const cli::Block& at = a != nullptr ? *a : first;
    MaterialRecord record;
    record.file = at.source.where.file;
    record.line = at.Line();
    record.lastLine = b != nullptr ? b->Line() : record.line;
    record.depth = left.depth;
    record.wallPoint = left.wallPoint;
    record.extent = left.extent;
    record.cause = CauseName(left.cause);
    char depth[64];
    std::snprintf(depth, sizeof depth, inch ? "%.4f in" : "%.2f mm", left.depth);
    const std::string blocks =
        record.lastLine == record.line
            ? "block " + std::to_string(record.line)
            : "blocks " + std::to_string(record.line) + "-" + std::to_string(record.lastLine);
    Warn(at, std::string(depth) + " left on " + blocks + ": " + CauseText(left.cause));
    m_Result.left.push_back(std::move(record));
  }
  // The pieces go to the run's order as the engine's would: each segment's own piece where its
  // block is, corner pieces before the segment they lead to. A segment the path leaves out is
  // written without its motion.
  m_DropComment = "cutcomp: segment left out of the tool path, the cutter does not fit";
  std::size_t next = begin;  // the first wall of the run not yet written
  const auto dropBefore = [&](std::int64_t id) {
    for (; next < end && m_Walls[next].id < id; ++next) {
      cutcomp::PathPiece dropped;
      dropped.id = runId(m_Walls[next].id);
      dropped.lastId = dropped.id;
      dropped.phase = m_Walls[next].phase;
      dropped.programmed = ToolCurve(m_Walls[next].curve);
      dropped.side = m_Walls[next].side;
      dropped.dropped = true;
      order.Final(dropped);
    }
  };
  for (const crc::GougeFreePiece& made : result.path) {
    cutcomp::PathPiece piece;
    piece.tool = ToolCurve(made.tool);
    piece.id = runId(made.id);
    piece.lastId = piece.id;
    piece.phase = made.phase;
    piece.inserted = made.inserted;
    dropBefore(made.id);
    if (!piece.inserted && next < end && m_Walls[next].id == made.id) {
      piece.programmed = ToolCurve(m_Walls[next].curve);
      piece.side = m_Walls[next].side;
      ++next;
    } else {
      // A second piece of a segment already written goes after it, as an inserted one does.
      piece.inserted = true;
      piece.programmed = piece.tool;
      piece.side = next < end ? m_Walls[next].side : m_Walls[end - 1].side;
    }
    order.Final(piece);
  }
  dropBefore(std::numeric_limits<std::int64_t>::max());
  m_DropComment = "cutcomp: segment dropped from the tool path, too short for the cutter";
  return true;
}

void Driver::InputFailed(const InputError& error) {
  m_Result.error = m_Reading.Record(error);
  m_Messages.Error(m_Result.error->place, m_Result.error->message);
  m_Result.status = Status::BAD_INPUT;
}

}  // namespace

Result Run(const Program& program, const Options& options, const Capture& capture) {
  Result result;
  Driver driver(program, options, capture, result);
  driver.Run();
  return result;
}

}  // namespace cutcomp::cli
