// SPDX-License-Identifier: MIT
// Judging a run against the walls so far, and writing it along the gouge-free path.
#include "avoid_stage.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "audit_stage.h"
#include "gouge_check.h"

namespace cutcomp::cli {

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

void AvoidStage::BeginRun(const Block& first, std::uint64_t frame) {
  const std::tuple<int, int, std::uint64_t> where{static_cast<int>(first.modal.plane),
                                                  static_cast<int>(first.modal.units), frame};
  if (where != m_WallsFrame) {
    // Walls in another plane, unit or work frame are not this run's walls.
    m_Walls.clear();
    m_WallsFrame = where;
  }
  m_Begin = m_Walls.size();
  m_First = first;
  m_Held.clear();
}

void AvoidStage::NoteWall(const RunOrder& order, const crc::CCrcNode& node, std::int64_t id) {
  const Block* block = order.Find(id);
  m_Walls.push_back(ContourSegmentOf(node, block != nullptr ? block->compRadius : 0.0,
                                     block != nullptr ? LowOf(*block) : NAN, m_RunBase + id));
  m_Walls.back().rapid = block != nullptr && block->motion == Motion::RAPID;
}

bool AvoidStage::EndRun(RunOrder& order, bool engineOk, RunSource& source, NodePool& nodes) {
  if (!engineOk && !source.Error()) {
    // The rest of the run: its walls, and its blocks to write along the gouge-free path.
    std::unique_ptr<crc::CCrcNode> node;
    std::int64_t id = 0;
    while (source.Pull(node, id)) {
      NoteWall(order, *node, id);
      nodes.Recycle(std::move(node));
    }
  }
  const bool avoided = !source.Error() && Avoid(order, engineOk);
  if (!avoided) {
    for (cutcomp::PathPiece& piece : m_Held) {
      order.Final(piece);
    }
  }
  m_Held.clear();
  m_RunBase += order.NextId();
  return avoided;
}

bool AvoidStage::Gouges(const RunOrder& order, const crc::GougeFreeSettings& settings) const {
  crc::CGougeAudit audit(settings.tolerance);
  audit.SetWorkTop(settings.workTop);
  for (const crc::__point2<double>& feed : settings.stockFeeds) {
    audit.AddStockFeed(feed);  // before auditing: cannot fail
  }
  for (const crc::ContourSegment& wall : m_Walls) {
    if (!audit.AddSegment(wall)) {
      return false;  // not measured here: the audit at the end says why
    }
  }
  const double radius = m_Walls[m_Begin].radius;
  std::vector<crc::Gouge> gouges;
  for (const cutcomp::PathPiece& piece : m_Held) {
    if (piece.dropped || piece.phase == crc::CRC_STATUS_NONE || !(radius > 0.0)) {
      continue;
    }
    crc::ToolPiece measured;
    measured.tool = piece.tool;
    measured.radius = radius;
    measured.id = m_RunBase + piece.id;
    const Block* block = order.Find(piece.id);
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

bool AvoidStage::Avoid(RunOrder& order, bool engineOk) {
  const std::size_t begin = m_Begin;
  const Block& first = m_First;
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
  const std::optional<double> top =
      m_Options.stockTop ? m_Options.stockTop : m_Path.Machine().PlungeTop();
  settings.workTop = top ? *top : std::numeric_limits<double>::quiet_NaN();
  if (first.modal.plane == Plane::ZX && Turning(first)) {
    // As the audit judges a turned part: toward the chuck and toward the axis (Z, X radius).
    settings.stockFeeds = {{-1.0, 0.0}, {0.0, -1.0}};
  }
  const std::size_t end = m_Walls.size();
  // A completed run is judged by its own path, as the engine made it with the tool's settings.
  if (engineOk && !Gouges(order, settings)) {
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
        const Block* block = digits > at + BLOCK.size() ? order.Find(runId(id)) : nullptr;
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
      const Block* block = order.Find(runId(wall.id));
      Warn(block != nullptr ? *block : first,
           "--avoid: no gouge-free path for this run: it has a positioning move at cutting depth "
           "here");
      return false;
    }
  }
  for (const crc::MaterialLeft& left : result.left) {
    const Block* a = order.Find(runId(left.firstId));
    const Block* b = order.Find(runId(left.lastId));
    const Block& at = a != nullptr ? *a : first;
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
  m_Path.DropComment("cutcomp: segment left out of the tool path, the cutter does not fit");
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
  m_Path.DropComment(DROPPED_TOO_SHORT);
  return true;
}

}  // namespace cutcomp::cli
