// SPDX-License-Identifier: MIT
// The driver: two passes over the program. The first only reads it, so that every input error
// is reported before anything is written; the second streams it through the engine. Blocks
// outside compensation are written as they come; inside a compensation run the blocks wait in
// a queue until the engine has made the segments before them final.
#include "driver.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

#include "gcode_reader.h"
#include "gcode_writer.h"
#include "list_host.h"
#include "report_writers.h"

namespace cutcomp::cli {

namespace {

// How far the engine's tool path may start from where the written program has left the tool
// before a warning is given, in program units. The engine joins consecutive offset paths
// exactly; a gap means the previous run ended away from the contour (compensation closed
// without a cancel move, option --end retract or none).
constexpr double CONTINUITY_TOLERANCE = 1e-3;
constexpr int MAX_WARNINGS = 20;

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != nullptr && file != stdout) {
      std::fclose(file);
    }
  }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

crc::__point2<double> P(const Vec2& v) { return {v.x, v.y}; }
Vec2 V(const crc::__point2<double>& p) { return {p.x, p.y}; }
bool IsUnset(const crc::__point2<double>& p) {
  // exact: the engine marks an unset coordinate with this very value
  return p.x == crc::INVALID_VALUE || p.y == crc::INVALID_VALUE;
}

crc::crc_status_t Status(Phase phase) {
  switch (phase) {
  case Phase::ESTABLISH:
    return crc::CRC_STATUS_ESTABLISH;
  case Phase::DOING:
    return crc::CRC_STATUS_DOING;
  case Phase::RETRACT:
    return crc::CRC_STATUS_RETRACT;
  case Phase::NONE:
    break;
  }
  return crc::CRC_STATUS_NONE;
}

Phase PhaseOf(crc::crc_status_t status) {
  switch (status) {
  case crc::CRC_STATUS_ESTABLISH:
    return Phase::ESTABLISH;
  case crc::CRC_STATUS_DOING:
    return Phase::DOING;
  case crc::CRC_STATUS_RETRACT:
    return Phase::RETRACT;
  default:
    return Phase::NONE;
  }
}

crc::crc_dir_t Dir(Side side) {
  switch (side) {
  case Side::LEFT:
    return crc::CRC_DIR_LEFT;
  case Side::RIGHT:
    return crc::CRC_DIR_RIGHT;
  case Side::NONE:
    break;
  }
  return crc::CRC_DIR_NONE;
}

Side SideOf(crc::crc_dir_t dir) {
  switch (dir) {
  case crc::CRC_DIR_LEFT:
    return Side::LEFT;
  case crc::CRC_DIR_RIGHT:
    return Side::RIGHT;
  default:
    return Side::NONE;
  }
}

double Distance(const Vec2& a, const Vec2& b) { return std::hypot(a.x - b.x, a.y - b.y); }

SegmentRecord Programmed(const Block& b) {
  SegmentRecord r;
  r.line = b.line;
  r.motion = b.motion;
  r.phase = b.phase;
  r.side = b.side;
  r.compRadius = b.compRadius;
  r.start = b.start;
  r.end = b.end;
  r.arc = b.motion >= 2;
  r.ccw = b.motion == 3;
  r.center = b.center;
  r.radius = b.radius;
  r.fullCircle = b.fullCircle;
  r.toolStart = b.start;
  r.toolEnd = b.end;
  r.toolArc = r.arc;
  r.toolRadius = b.radius;
  r.toolFullCircle = b.fullCircle;
  return r;
}

class Driver {
public:
  Driver(const Options& options, std::FILE* diagnostics)
      : m_Options(options), m_Diagnostics(diagnostics) {}
  int Run();

private:
  struct Entry {
    std::int64_t id;
    Block block;
    bool segment;  // handed to the engine
  };
  struct Deferred {
    Block context;
    SegmentRecord record;
  };

  bool NextBlock(Block& block);
  void Passthrough(const Block& block);
  int Compensate(Block first);
  std::unique_ptr<crc::CCrcNode> MakeNode(const Block& block) const;
  void WriteSegment(const Block& block, HostSegment& segment);
  SegmentRecord InsertedRecord(const Block& anchor, crc::CCrcNode& node) const;
  void WriteInserted(const Block& anchor, const SegmentRecord& record);
  void Record(const SegmentRecord& record);
  void CheckContinuity(const Block& block, const Vec2& start);
  void InputErrorMessage(const std::string& file, const InputError& error);
  int Fail(const ErrorRecord& error);

  Options m_Options;
  std::FILE* m_Diagnostics;
  ToolTable m_Tools;
  std::unique_ptr<GcodeReader> m_Reader;
  std::optional<Block> m_Pushback;
  std::optional<InputError> m_SourceError;
  File m_Output;
  File m_JsonFile;
  File m_SvgFile;
  std::unique_ptr<GcodeWriter> m_Gcode;
  std::unique_ptr<JsonWriter> m_Json;
  std::unique_ptr<SvgWriter> m_Svg;
  int m_Warnings = 0;
};

bool Driver::NextBlock(Block& block) {
  if (m_Pushback) {
    block = std::move(*m_Pushback);
    m_Pushback.reset();
    return true;
  }
  return m_Reader->Next(block);
}

void Driver::InputErrorMessage(const std::string& file, const InputError& error) {
  if (error.Col() != 0) {
    std::fprintf(m_Diagnostics, "%s:%zu:%zu: error: %s\n", file.c_str(), error.Line(), error.Col(),
                 error.what());
  } else {
    std::fprintf(m_Diagnostics, "%s:%zu: error: %s\n", file.c_str(), error.Line(), error.what());
  }
}

void Driver::Record(const SegmentRecord& record) {
  if (m_Json) {
    m_Json->Segment(record);
  }
  if (m_Svg) {
    m_Svg->Segment(record);
  }
}

void Driver::Passthrough(const Block& block) {
  m_Gcode->Passthrough(block);
  if (block.planeMotion) {
    Record(Programmed(block));
  }
}

void Driver::CheckContinuity(const Block& block, const Vec2& start) {
  if (!m_Gcode->PositionKnown() || Distance(m_Gcode->Position(), start) <= CONTINUITY_TOLERANCE) {
    return;
  }
  if (++m_Warnings <= MAX_WARNINGS) {
    std::fprintf(m_Diagnostics,
                 "%s:%zu: warning: the tool-centre path jumps by %.6g to the start of this block\n",
                 m_Options.input.c_str(), block.line, Distance(m_Gcode->Position(), start));
  } else if (m_Warnings == MAX_WARNINGS + 1) {
    std::fprintf(m_Diagnostics, "%s: warning: further warnings suppressed\n",
                 m_Options.input.c_str());
  }
}

std::unique_ptr<crc::CCrcNode> Driver::MakeNode(const Block& b) const {
  const crc::crc_status_t status = Status(b.phase);
  const crc::crc_dir_t dir = Dir(b.side);
  if (b.motion >= 2) {
    const bool ccw = b.motion == 3;
    if (b.fullCircle) {
      // Start and end coincide: only the centre-and-angles form can say "a whole turn".
      double startAngle = std::atan2(b.start.y - b.center.y, b.start.x - b.center.x);
      if (startAngle < 0) {
        startAngle += crc::PI + crc::PI;
      }
      return std::make_unique<crc::CCrcArc>(P(b.center), startAngle, crc::PI + crc::PI, b.radius,
                                            ccw, status, dir);
    }
    return std::make_unique<crc::CCrcArc>(P(b.center), P(b.start), P(b.end), b.radius, ccw, status,
                                          dir);
  }
  const bool locate = m_Options.locateRapids && b.motion == 0;
  return std::make_unique<crc::CCrcLine>(P(b.start), P(b.end), status, dir, locate);
}

void Driver::WriteSegment(const Block& b, HostSegment& segment) {
  crc::CCrcNode& node = *segment.node;
  SegmentRecord r = Programmed(b);
  r.phase = PhaseOf(node.GetStatusType());
  r.side = SideOf(node.GetCrcDirType());
  r.runStart = b.phase == Phase::ESTABLISH;
  r.locate = node.GetNodeType() == crc::NODE_LINE && static_cast<crc::CCrcLine&>(node).IsLocate();
  if (!node.IsValidNode()) {
    // Interference evasion found the segment too short for the cutter: its neighbours' offset
    // paths were joined past it, so the tool never travels it.
    r.dropped = true;
    m_Gcode->Stripped(b, "cutcomp: segment dropped from the tool path, too short for the cutter");
    Record(r);
    return;
  }
  if (IsUnset(node.GetStartPointMoved()) || IsUnset(node.GetEndPointMoved())) {
    // Never left so by a successful run; keep the programmed path rather than write garbage.
    std::fprintf(m_Diagnostics,
                 "%s:%zu: warning: no tool-centre path for this block; kept as programmed\n",
                 m_Options.input.c_str(), b.line);
  } else {
    r.toolStart = V(node.GetStartPointMoved());
    r.toolEnd = V(node.GetEndPointMoved());
  }
  CheckContinuity(b, r.toolStart);
  ToolMove move;
  move.motion = b.motion;
  move.start = r.toolStart;
  move.end = r.toolEnd;
  if (r.arc) {
    const auto& arc = static_cast<const crc::CCrcArc&>(node);
    move.center = V(arc.GetCenterPoint());
    r.center = move.center;
    r.toolRadius = arc.GetRadiusMoved();
    const int decimals = m_Options.precision ? *m_Options.precision
                                             : (b.units == Units::INCH ? DEFAULT_PRECISION_INCH
                                                                       : DEFAULT_PRECISION_MM);
    const bool meet =
        FormatNumber(r.toolStart.x, decimals) == FormatNumber(r.toolEnd.x, decimals) &&
        FormatNumber(r.toolStart.y, decimals) == FormatNumber(r.toolEnd.y, decimals);
    r.toolFullCircle = b.fullCircle && meet;
    if (meet && !b.fullCircle) {
      // An arc whose tool-centre ends coincide as written would be read as a whole circle:
      // it has shrunk to a point, so it is written as a straight move.
      r.toolArc = false;
      move.motion = 1;
    }
  }
  m_Gcode->Replaced(b, move);
  Record(r);
}

SegmentRecord Driver::InsertedRecord(const Block& anchor, crc::CCrcNode& node) const {
  SegmentRecord r;
  r.line = anchor.line;
  r.motion = 1;
  r.phase = PhaseOf(node.GetStatusType());
  r.side = SideOf(node.GetCrcDirType());
  r.compRadius = anchor.compRadius;
  r.inserted = true;
  r.start = r.toolStart = V(node.GetStartPoint());
  r.end = r.toolEnd = V(node.GetEndPoint());
  return r;
}

void Driver::WriteInserted(const Block& anchor, const SegmentRecord& record) {
  CheckContinuity(anchor, record.toolStart);
  m_Gcode->Inserted(anchor, record.toolEnd);
  Record(record);
}

int Driver::Fail(const ErrorRecord& error) {
  if (m_Json) {
    m_Json->Finish(&error);
  }
  if (m_Svg) {
    m_Svg->Finish(&error);
  }
  return error.compensation ? EXIT_COMPENSATION_FAILED : EXIT_BAD_INPUT;
}

int Driver::Compensate(Block first) {
  std::deque<Entry> queue;  // blocks of the run not written yet, in program order
  std::vector<Deferred> deferred;
  std::int64_t nextId = 0;
  bool ended = false;
  bool firstGiven = false;

  // Pulls blocks until the next plane motion of this run, queueing the blocks in between.
  auto source = [&](std::unique_ptr<crc::CCrcNode>& node, std::int64_t& id) -> bool {
    if (ended) {
      return false;
    }
    for (;;) {
      Block block;
      if (!firstGiven) {
        block = std::move(first);
        firstGiven = true;
      } else {
        try {
          if (!NextBlock(block)) {
            ended = true;
            return false;
          }
        } catch (const InputError& error) {
          m_SourceError = error;
          ended = true;
          return false;
        }
        // The run ends before a block that starts a new run, a plane motion outside
        // compensation (none can follow a run without its cancel move, but a run must never
        // swallow one) and a program end without motion.
        if (block.phase == Phase::ESTABLISH || (block.planeMotion && block.phase == Phase::NONE) ||
            (block.programEnd && !block.planeMotion)) {
          m_Pushback = std::move(block);
          ended = true;
          return false;
        }
        if (!block.planeMotion) {
          queue.push_back({nextId++, std::move(block), false});
          continue;
        }
      }
      node = MakeNode(block);
      id = nextId++;
      ended = block.phase == Phase::RETRACT || block.programEnd;
      queue.push_back({id, std::move(block), true});
      return true;
    }
  };

  // Writes the queued blocks that come before `id` (they have no plane motion).
  auto flushBefore = [&](std::int64_t id) {
    while (!queue.empty() && queue.front().id < id) {
      if (!queue.front().segment) {
        m_Gcode->Stripped(queue.front().block, nullptr);
      }
      queue.pop_front();
    }
  };
  auto findEntry = [&](std::int64_t id) -> Entry* {
    for (Entry& entry : queue) {
      if (entry.id == id) {
        return &entry;
      }
    }
    return nullptr;
  };

  std::optional<Block> lastAnchor;  // the last segment written, for lines inserted after it
  auto sink = [&](HostSegment& segment) {
    if (segment.inserted) {
      Entry* anchor = findEntry(segment.id);
      if (anchor != nullptr) {
        // Inserted before a segment not yet written: it goes where that segment starts.
        flushBefore(segment.id);
        WriteInserted(anchor->block, InsertedRecord(anchor->block, *segment.node));
        return;
      }
      if (!lastAnchor) {
        return;  // an anchor the host does not know: the host drops such lines as well
      }
      const Block& context = *lastAnchor;
      SegmentRecord record = InsertedRecord(context, *segment.node);
      if (record.phase == Phase::RETRACT && context.phase != Phase::RETRACT) {
        // The closing line of a run that ends without a cancel move: the tool leaves the
        // contour where compensation ends, after the blocks that follow the last segment (a
        // retract in Z, typically), not while it is still at cutting depth.
        Block ctx;
        ctx.line = context.line;
        ctx.units = context.units;
        ctx.incremental = context.incremental;
        deferred.push_back({ctx, record});
        return;
      }
      WriteInserted(context, record);
      return;
    }
    flushBefore(segment.id);
    if (queue.empty() || queue.front().id != segment.id) {
      return;  // not ours; cannot happen with this source
    }
    WriteSegment(queue.front().block, segment);
    Block& done = queue.front().block;
    Block context;
    context.line = done.line;
    context.phase = done.phase;
    context.units = done.units;
    context.incremental = done.incremental;
    context.compRadius = done.compRadius;
    lastAnchor = std::move(context);
    queue.pop_front();
  };

  crc::CCutterCompensator engine(first.compRadius, nullptr, m_Options.lookBehind, m_Options.start);
  engine.SetInterveneEvade(m_Options.evade);
  engine.SetCrcPreRetractOption(m_Options.end);
  ListHost host(source);
  HostFailure failure;
  const bool ok = host.Run(engine, sink, &failure);

  if (m_SourceError) {
    flushBefore(nextId);
    InputErrorMessage(m_Options.input, *m_SourceError);
    ErrorRecord error;
    error.line = m_SourceError->Line();
    error.col = m_SourceError->Col();
    error.message = m_SourceError->what();
    return Fail(error);
  }
  if (!ok) {
    flushBefore(failure.id);
    ErrorRecord error;
    error.compensation = true;
    error.code = failure.code;
    error.engineMessage = failure.message;
    const char* gloss = crc::GetErrorGloss(failure.code);
    error.message = gloss != nullptr && *gloss != '\0' ? gloss : "compensation failed";
    // The engine checks a segment and its successor together: a radius the cutter cannot
    // follow is refused while the segment before the arc is adjusted. Point at the arc.
    std::int64_t blamed = failure.id;
    if (failure.code == crc::CRC_ERROR_RADIUS_UNREASONABLE) {
      int looked = 0;
      for (const HostSegment& pending : host.Pending()) {
        if (pending.inserted) {
          continue;
        }
        if (++looked > 2) {
          break;
        }
        std::unique_ptr<crc::CCrcNode> probe(pending.node->Clone());
        if (probe && !probe->CheckCanBeCrcMove(first.compRadius)) {
          blamed = pending.id;
          break;
        }
      }
    }
    if (const Entry* entry = findEntry(blamed)) {
      error.line = entry->block.line;
      error.hasGeometry = entry->block.planeMotion;
      error.segment = Programmed(entry->block);
    }
    if (error.engineMessage.empty()) {
      std::fprintf(m_Diagnostics, "%s:%zu: error: %s\n", m_Options.input.c_str(), error.line,
                   error.message.c_str());
    } else {
      std::fprintf(m_Diagnostics, "%s:%zu: error: %s (%s)\n", m_Options.input.c_str(), error.line,
                   error.message.c_str(), error.engineMessage.c_str());
    }
    if (blamed != failure.id) {
      if (const Entry* entry = findEntry(failure.id)) {
        std::fprintf(m_Diagnostics,
                     "%s:%zu: note: found while joining this block to line %zu: the cutter "
                     "(radius %g) does not fit that arc\n",
                     m_Options.input.c_str(), entry->block.line, error.line,
                     std::fabs(first.compRadius));
      }
    }
    return Fail(error);
  }
  flushBefore(nextId);
  for (const Deferred& line : deferred) {
    WriteInserted(line.context, line.record);
  }
  return EXIT_OK;
}

int Driver::Run() {
  ReaderOptions readerOptions;
  readerOptions.radius = m_Options.radius;
  if (!m_Options.toolTable.empty()) {
    File table(std::fopen(m_Options.toolTable.c_str(), "rb"));
    if (!table) {
      std::fprintf(m_Diagnostics, "%s: error: cannot open the tool table: %s\n",
                   m_Options.toolTable.c_str(), std::strerror(errno));
      return EXIT_BAD_INPUT;
    }
    try {
      m_Tools.Load(table.get());
    } catch (const InputError& error) {
      InputErrorMessage(m_Options.toolTable, error);
      return EXIT_BAD_INPUT;
    }
    readerOptions.tools = &m_Tools;
  }

  // First pass: read only, so that a program with an input error produces no output at all.
  {
    File input(std::fopen(m_Options.input.c_str(), "rb"));
    if (!input) {
      std::fprintf(m_Diagnostics, "%s: error: cannot open: %s\n", m_Options.input.c_str(),
                   std::strerror(errno));
      return EXIT_BAD_INPUT;
    }
    GcodeReader reader(input.get(), readerOptions);
    Block block;
    try {
      while (reader.Next(block)) {
      }
    } catch (const InputError& error) {
      InputErrorMessage(m_Options.input, error);
      return EXIT_BAD_INPUT;
    }
  }

  File input(std::fopen(m_Options.input.c_str(), "rb"));
  if (!input) {
    std::fprintf(m_Diagnostics, "%s: error: cannot open: %s\n", m_Options.input.c_str(),
                 std::strerror(errno));
    return EXIT_BAD_INPUT;
  }
  auto open = [this](const std::string& path, File& file) {
    file.reset(std::fopen(path.c_str(), "wb"));
    if (!file) {
      std::fprintf(m_Diagnostics, "%s: error: cannot write: %s\n", path.c_str(),
                   std::strerror(errno));
      return false;
    }
    return true;
  };
  if (m_Options.output.empty() || m_Options.output == "-") {
    m_Output.reset(stdout);
  } else if (!open(m_Options.output, m_Output)) {
    return EXIT_BAD_INPUT;
  }
  if (!m_Options.json.empty()) {
    if (!open(m_Options.json, m_JsonFile)) {
      return EXIT_BAD_INPUT;
    }
    m_Json = std::make_unique<JsonWriter>(m_JsonFile.get(), m_Options.input);
  }
  if (!m_Options.svg.empty()) {
    if (!open(m_Options.svg, m_SvgFile)) {
      return EXIT_BAD_INPUT;
    }
    m_Svg = std::make_unique<SvgWriter>(m_SvgFile.get(), "cutcomp: " + m_Options.input);
  }
  m_Gcode = std::make_unique<GcodeWriter>(m_Output.get(), m_Options.precision);
  m_Reader = std::make_unique<GcodeReader>(input.get(), readerOptions);

  Block block;
  try {
    while (NextBlock(block)) {
      if (block.phase == Phase::ESTABLISH) {
        const int code = Compensate(std::move(block));
        if (code != EXIT_OK) {
          std::fflush(m_Output.get());
          return code;
        }
        continue;
      }
      Passthrough(block);
    }
  } catch (const InputError& error) {
    // Only when the file changed between the passes.
    InputErrorMessage(m_Options.input, error);
    ErrorRecord record;
    record.line = error.Line();
    record.col = error.Col();
    record.message = error.what();
    return Fail(record);
  }
  if (m_Json) {
    m_Json->Finish(nullptr);
  }
  if (m_Svg) {
    m_Svg->Finish(nullptr);
  }
  if (std::fflush(m_Output.get()) != 0 || std::ferror(m_Output.get())) {
    std::fprintf(m_Diagnostics, "cutcomp: error: writing the output failed\n");
    return EXIT_BAD_INPUT;
  }
  return EXIT_OK;
}

}  // namespace

int RunCutcomp(const Options& options, std::FILE* diagnostics) {
  Driver driver(options, diagnostics);
  return driver.Run();
}

}  // namespace cutcomp::cli
