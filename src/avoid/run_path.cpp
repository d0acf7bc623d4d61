// SPDX-License-Identifier: MIT
// The engine over a host of the extension's own, and the joins the extension makes where the
// engine refuses a corner. Which parts of the raw path stay is decided in trim.cpp.
#include "avoid/run_path.h"

#include <cmath>
#include <iterator>
#include <list>
#include <memory>
#include <unordered_map>
#include <utility>

#include <crc/compensator/cutter_compensator.h>

#include "compensator/joints.h"
#include "geometry/intersection.h"
#include "geometry/tolerance.h"
#include "nodes/node_kind.h"

namespace crc::avoid {
namespace {

using Point = __point2<double>;
constexpr double PI = 3.14159265358979323846;

// Ends closer than this (host units) are one point: a corner whose offsets meet needs no piece
// between them. The same threshold the audit reads an arc's ends with.
constexpr double SAME_POINT = 1e-12;

Point Left(const Point& v) { return {-v.y, v.x}; }
double Cross(const Point& a, const Point& b) { return a.x * b.y - a.y * b.x; }

std::unique_ptr<CCrcNode> MakeNode(const ContourSegment& s) {
  const Curve& c = s.curve;
  if (!c.arc) {
    return std::make_unique<CCrcLine>(c.from, c.to, s.phase, s.side, s.locate);
  }
  const double radius = (c.from - c.centre).GetLength();
  if (c.fullCircle) {
    // Start and end coincide: only the centre-and-angles form says "a whole turn".
    double start = std::atan2(c.from.y - c.centre.y, c.from.x - c.centre.x);
    start = start < 0.0 ? start + 2.0 * PI : start;
    return std::make_unique<CCrcArc>(c.centre, start, 2.0 * PI, radius, c.ccw, s.phase, s.side);
  }
  return std::make_unique<CCrcArc>(c.centre, c.from, c.to, radius, c.ccw, s.phase, s.side);
}

// The engine's refusals that come from the geometry of the contour against the cutter, which the
// extension's own joins answer: an arc the cutter does not fit (5), corners whose offsets do not
// meet (7), an offset that collapses (8), offsets that run backwards or cross (12), and the
// refused points those leave behind (14, 15). Every other refusal is about the program itself
// (a start-up arc, a move of no length, ...) and stands.
bool Answerable(int code) {
  return code == CRC_ERROR_RADIUS_UNREASONABLE || code == CRC_ERROR_INTERSECTION_FAILED ||
         code == CRC_ERROR_OFFSET_FAILED || code == CRC_ERROR_INTERFERENCE ||
         code == CRC_ERROR_INVALID_START_MOVED || code == CRC_ERROR_INVALID_END_MOVED;
}

// The run's segments as a host's list, with the lines the engine inserts and the pieces of the
// extension's own between them.
class RunHost final : public CCrcTranslator {
public:
  struct Entry {
    std::unique_ptr<CCrcNode> node;  // null for a piece of the extension's own
    RunPiece piece;                  // segment, joint, kind; the tool path once it is known
    bool toolSet = false;            // the extension wrote the tool path (not the engine)
    unsigned call = 0;               // the AdjustNode call that inserted it
  };
  using Iter = std::list<Entry>::iterator;

  RunHost(const ContourSegment* run, std::size_t count) : m_Run(run) {
    for (std::size_t k = 0; k < count; ++k) {
      Entry entry;
      entry.node = MakeNode(run[k]);
      entry.piece.segment = k;
      m_Entries.push_back(std::move(entry));
      m_Where[m_Entries.back().node.get()] = std::prev(m_Entries.end());
    }
  }

  std::list<Entry>& Entries() { return m_Entries; }

  // The next call to AdjustNode adjusts the run's segment `k`.
  void BeginCall(std::size_t k) {
    ++m_Call;
    m_Adjusting = k;
  }
  // Takes out whatever the engine inserted during the call that failed.
  void UndoCall() {
    for (auto it = m_Entries.begin(); it != m_Entries.end();) {
      if (it->piece.inserted && it->piece.kind == PIECE_ENGINE && it->call == m_Call) {
        m_Where.erase(it->node.get());
        it = m_Entries.erase(it);
      } else {
        ++it;
      }
    }
  }

  // The next programmed segment after `at`, or none.
  Iter NextProgrammed(Iter at) {
    for (auto it = std::next(at); it != m_Entries.end(); ++it) {
      if (it->node && !it->piece.inserted) {
        return it;
      }
    }
    return m_Entries.end();
  }

  // A piece of the extension's own, before `at`.
  void InsertOwn(Iter at, const RunPiece& piece) {
    Entry entry;
    entry.piece = piece;
    entry.toolSet = true;
    m_Entries.insert(at, std::move(entry));
  }

  CCrcNode* GetNextNode(CCrcNode* node) override {
    const auto found = m_Where.find(node);
    if (found == m_Where.end()) {
      return nullptr;
    }
    for (auto it = std::next(found->second); it != m_Entries.end(); ++it) {
      if (it->node) {
        return it->node.get();
      }
    }
    return nullptr;
  }

  void InsertNode(CCrcNode* anchor, CCrcLine& line, const bool& before) override {
    const auto found = m_Where.find(anchor);
    if (found == m_Where.end()) {
      return;
    }
    Entry entry;
    entry.node.reset(line.Clone());
    entry.piece.segment = found->second->piece.segment;
    entry.piece.inserted = true;
    entry.call = m_Call;
    // A line inserted before the segment after the one being adjusted, both in progress, stands
    // at the corner between them.
    const std::size_t anchorIndex = entry.piece.segment;
    if (before && m_Adjusting != NONE && anchorIndex == m_Adjusting + 1 &&
        m_Run[m_Adjusting].phase == CRC_STATUS_DOING &&
        m_Run[anchorIndex].phase == CRC_STATUS_DOING) {
      entry.piece.joint = m_Adjusting;
    }
    const Iter at = before ? found->second : std::next(found->second);
    const Iter placed = m_Entries.insert(at, std::move(entry));
    m_Where[placed->node.get()] = placed;
  }

  void SetCrcEndPoint(double /*x*/, double /*y*/) override {}
  void CrcFinish() override {}

private:
  const ContourSegment* m_Run;
  std::list<Entry> m_Entries;
  std::unordered_map<const CCrcNode*, Iter> m_Where;
  unsigned m_Call = 0;
  std::size_t m_Adjusting = NONE;
};

// The tool path the engine left in a finished segment, as a host reads it (see ReadPiece in
// src/host/tool_path.cpp): an inserted line's programmed points; an offset's points, an arc
// about its programmed centre in its sense. False for a segment evasion dropped or one left
// without offset points.
bool ReadTool(CCrcNode& node, bool inserted, Curve& tool) {
  tool = Curve();
  if (!node.IsValidNode()) {
    return false;
  }
  if (inserted) {
    tool.from = node.GetStartPoint();
    tool.to = node.GetEndPoint();
    return true;
  }
  tool.from = node.GetStartPointMoved();
  tool.to = node.GetEndPointMoved();
  if (IsInvalidPoint(tool.from) || IsInvalidPoint(tool.to)) {
    return false;
  }
  if (const CCrcArc* arc = AsArc(&node)) {
    tool.arc = true;
    tool.centre = arc->GetCenterPoint();
    tool.ccw = arc->GetDirection();
    tool.fullCircle = arc->GetCentralAngle() > PI && (tool.to - tool.from).GetLength() < EPSILON;
  }
  return true;
}

// The path in the host's order. False when a segment the engine finished has no tool path
// (evasion's dropped segments aside): `missing` then names it.
bool Collect(RunHost& host, std::vector<RunPiece>& pieces, std::size_t& missing) {
  for (RunHost::Entry& entry : host.Entries()) {
    RunPiece piece = entry.piece;
    if (!entry.toolSet && !ReadTool(*entry.node, entry.piece.inserted, piece.tool)) {
      if (entry.node->IsValidNode()) {
        missing = entry.piece.segment;
        return false;
      }
      continue;
    }
    pieces.push_back(piece);
  }
  return true;
}

void Configure(CCutterCompensator& engine, const GougeFreeSettings& settings, bool raw) {
  engine.SetInterveneEvade(raw ? false : settings.evade);
  engine.SetCamTolerance(raw ? false : settings.camTolerance);
  engine.SetCrcPreRetractOption(settings.preRetractOption);
}

// ---- The extension's joins ----------------------------------------------------------------

// The unit direction of travel of a segment at its start or end.
Point TangentOf(const CCrcNode* node, bool atEnd) {
  if (const CCrcArc* arc = AsArc(node)) {
    const Point v = (atEnd ? node->GetEndPoint() : node->GetStartPoint()) - arc->GetCenterPoint();
    const Point t = arc->GetDirection() ? Left(v) : Left(v) * -1.0;
    return Unified(t);
  }
  return Unified(node->GetEndPoint() - node->GetStartPoint());
}

class Joiner {
public:
  Joiner(const ContourSegment* run, double radius) : m_Run(run), m_Radius(radius) {}

  bool Collapsed(std::size_t k) const { return Collapses(m_Run[k], m_Radius); }

  // Where the offset path of segment k begins or ends when nothing trims or extends it. An arc
  // smaller than the cutter on its inner side has no offset; its ends are taken on the rays
  // through its ends at radius - cutter radius, which lie beyond the centre: one cutter radius
  // from the arc's ends along its normals, as every offset end is.
  Point OffsetEnd(const CCrcNode* node, std::size_t k, bool atEnd) const {
    const Point p = atEnd ? node->GetEndPoint() : node->GetStartPoint();
    if (IsLocateLine(node)) {
      return p;  // a positioning line is not offset
    }
    if (Collapsed(k)) {
      const CCrcArc* arc = AsArc(node);
      const Point c = arc->GetCenterPoint();
      const Point u = Unified(p - c);
      return c + u * (arc->GetRadius() - m_Radius);
    }
    std::unique_ptr<CCrcNode> copy(node->Clone());
    if (!copy || !copy->CrcMove(m_Radius)) {
      return InvalidPoint();
    }
    return atEnd ? copy->GetEndPointMoved() : copy->GetStartPointMoved();
  }

  // The tool path of segment k from `start` to `end`: a line's offset, an arc about its centre
  // in its sense (or back against it when its trimmed ends have crossed over: the short way
  // back, not nearly a whole turn), the chord for an arc whose offset collapses.
  RunPiece Offset(const CCrcNode* node, std::size_t k, const Point& start, const Point& end,
                  gouge_free_piece_t kind) const {
    RunPiece piece;
    piece.segment = k;
    piece.kind = kind;
    piece.tool.from = start;
    piece.tool.to = end;
    if (Collapsed(k)) {
      piece.collapsed = true;
      return piece;
    }
    if (const CCrcArc* arc = AsArc(node)) {
      piece.tool.arc = true;
      piece.tool.centre = arc->GetCenterPoint();
      piece.tool.ccw = arc->GetDirection();
      piece.tool.fullCircle = m_Run[k].curve.fullCircle && (end - start).GetLength() < SAME_POINT;
      piece.tool.ccw =
          Reversed(piece.tool, arc->GetCentralAngle()) ? !piece.tool.ccw : piece.tool.ccw;
    }
    return piece;
  }

  // True when an offset arc, trimmed at both ends, would sweep more than its programmed arc: its
  // trimmed ends have crossed over (fixture: avoid/arc_between_crossing_trims).
  static bool Reversed(const Curve& tool, double programmedSweep) {
    if (tool.fullCircle || !(programmedSweep < 2.0 * PI)) {
      return false;
    }
    const Point a = tool.from - tool.centre;
    const Point b = tool.to - tool.centre;
    double turn = std::atan2(Cross(a, b), Dot(a, b));
    turn = tool.ccw ? turn : -turn;
    turn = turn < 0.0 ? turn + 2.0 * PI : turn;
    return turn > programmedSweep + 1e-9;
  }

  // The corner between segments k (node) and k + 1 (next), where the engine could not join them
  // or is not to: `end` is where k's path ends, `next` where k + 1's begins, `piece` what runs
  // between them (none when they meet).
  struct Corner {
    Point end;
    Point next;
    bool engine = false;  // joined as the engine joins it (trimmed or smooth)
    bool hasPiece = false;
    RunPiece piece;
  };
  Corner Join(const CCrcNode* node, const CCrcNode* next, std::size_t k, bool round) const {
    Corner corner;
    if (!round && !Collapsed(k) && !Collapsed(k + 1)) {
      const Joint joint = ClassifyJoint(node, next);
      Point p1 = InvalidPoint();
      Point p2 = InvalidPoint();
      // An inside corner: trimmed at the crossing of the offsets as the engine trims it, kept
      // even where the trimmed offset runs backwards (the engine refuses that; here what runs
      // backwards is taken out later, and the corners at its ends joined untrimmed).
      if (joint.type == CONNECT_SHORTEN &&
          CalculateIntersection(joint, CONNECT_SHORTEN, m_Radius, p1, p2)) {
        corner.end = corner.next = p1;
        corner.engine = true;
        return corner;
      }
      if (joint.type == CONNECT_TANGENT) {
        corner.end = corner.next = OffsetEnd(next, k + 1, false);
        corner.engine = true;
        return corner;
      }
    }
    corner.end = OffsetEnd(node, k, true);
    corner.next = OffsetEnd(next, k + 1, false);
    if ((corner.end - corner.next).GetLength() < SAME_POINT) {
      corner.next = corner.end;
      return corner;
    }
    const Point tn = TangentOf(node, true);
    const Point tm = TangentOf(next, false);
    const double side = m_Run[k].side == CRC_DIR_RIGHT ? -1.0 : 1.0;
    const double turn = Cross(tn, tm) * side;
    // The contour turns away from the tool (or back on itself): the tool goes round the corner
    // at the cutter radius, the exact edge of where it may be. Otherwise the offsets' ends lie
    // one radius from the corner and the straight line between them nearer: it is cut away.
    const bool outside = turn < -1e-12 || (turn <= 1e-12 && Dot(tn, tm) < 0.0);
    corner.hasPiece = true;
    corner.piece.segment = k + 1;
    corner.piece.joint = k;
    corner.piece.inserted = true;
    corner.piece.tool.from = corner.end;
    corner.piece.tool.to = corner.next;
    if (outside) {
      corner.piece.kind = PIECE_CORNER;
      corner.piece.tool.arc = true;
      corner.piece.tool.centre = node->GetEndPoint();
      corner.piece.tool.ccw = side < 0.0;  // a left-side tool goes round clockwise
    } else {
      corner.piece.kind = PIECE_LINE;
    }
    return corner;
  }

private:
  const ContourSegment* m_Run;
  double m_Radius;
};

}  // namespace

bool Collapses(const ContourSegment& segment, double radius) {
  const Curve& c = segment.curve;
  if (!c.arc || segment.phase != CRC_STATUS_DOING) {
    return false;
  }
  const bool inner =
      (segment.side == CRC_DIR_LEFT && c.ccw) || (segment.side == CRC_DIR_RIGHT && !c.ccw);
  return inner && IsLessOrEqual((c.from - c.centre).GetLength() - radius, 0, EPSILON);
}

RunOutcome EnginePath(const ContourSegment* run, std::size_t count, double radius,
                      const GougeFreeSettings& settings) {
  RunOutcome outcome;
  RunHost host(run, count);
  CCutterCompensator engine(radius, &host, settings.lookBehind, settings.strategy);
  Configure(engine, settings, false);
  for (auto it = host.Entries().begin(); it != host.Entries().end(); ++it) {
    if (it->piece.inserted) {
      continue;  // the engine's own lines come back at once
    }
    host.BeginCall(it->piece.segment);
    if (!engine.AdjustNode(it->node.get())) {
      outcome.code = engine.GetLatestErrorCode();
      outcome.failed = it->piece.segment;
      return outcome;
    }
  }
  if (!Collect(host, outcome.pieces, outcome.failed)) {
    outcome.pieces.clear();
    outcome.code = CRC_ERROR_INVALID_END_MOVED;  // the engine's nearest message: no end point
    return outcome;
  }
  outcome.ok = true;
  return outcome;
}

RunOutcome RawPath(const ContourSegment* run, std::size_t count, double radius,
                   const GougeFreeSettings& settings, const std::vector<bool>& round) {
  RunOutcome outcome;
  RunHost host(run, count);
  CCutterCompensator engine(radius, &host, 0, settings.strategy);
  Configure(engine, settings, true);
  const Joiner joiner(run, radius);
  // Segments whose offset begins where a corner of the extension's own left it: not where the
  // engine would begin it.
  std::vector<bool> ownStart(count + 1, false);
  const auto refuse = [&](std::size_t k, const std::string& why) {
    outcome.failed = k;
    outcome.error = "block " + std::to_string(run[k].id) + ": " + why;
    return outcome;
  };
  for (auto it = host.Entries().begin(); it != host.Entries().end(); ++it) {
    if (!it->node || it->piece.inserted || it->node->HasBeenCrc()) {
      continue;
    }
    const std::size_t k = it->piece.segment;
    const RunHost::Iter nextIt = host.NextProgrammed(it);
    CCrcNode* const node = it->node.get();
    CCrcNode* const next = nextIt != host.Entries().end() ? nextIt->node.get() : nullptr;
    const bool forced = k < round.size() && round[k] && next != nullptr &&
                        run[k].phase == CRC_STATUS_DOING && run[k + 1].phase == CRC_STATUS_DOING;
    if (!forced) {
      host.BeginCall(k);
      if (engine.AdjustNode(node)) {
        continue;
      }
      const int code = engine.GetLatestErrorCode();
      if (!Answerable(code)) {
        outcome.code = code;
        outcome.failed = k;
        return outcome;
      }
      host.UndoCall();
    }
    // The extension joins what the engine refused (or is not to join).
    Point start = node->GetIntersectPoint();
    switch (run[k].phase) {
    case CRC_STATUS_ESTABLISH: {
      if (next == nullptr) {
        return refuse(k, "a start-up move with nothing after it");
      }
      const Point onPath = joiner.OffsetEnd(next, k + 1, false);
      if (IsInvalidPoint(onPath)) {
        return refuse(k + 1, "its offset cannot be computed");
      }
      RunPiece piece;
      piece.segment = k;
      piece.kind = PIECE_LINE;
      piece.tool.from = node->GetStartPoint();
      piece.tool.to = onPath;
      it->piece = piece;
      it->toolSet = true;
      next->SetIntersectPoint(onPath);
      engine.SetEstablish(true);
      break;
    }
    case CRC_STATUS_DOING: {
      if (IsInvalidPoint(start)) {
        start = joiner.OffsetEnd(node, k, false);
      }
      const bool locate = IsLocateLine(node) || (next != nullptr && IsLocateLine(next));
      if (locate && next != nullptr && run[k + 1].phase == CRC_STATUS_DOING) {
        // A positioning line is not offset: it runs from where the path stands to where the next
        // offset begins, and an offset before it ends plainly, as the engine joins them.
        const Point end = IsLocateLine(node) ? joiner.OffsetEnd(next, k + 1, false)
                                             : joiner.OffsetEnd(node, k, true);
        if (IsInvalidPoint(start)) {
          start = node->GetStartPoint();
        }
        if (IsInvalidPoint(end)) {
          return refuse(k, "its offset cannot be computed");
        }
        it->piece = joiner.Offset(node, k, start, end, ownStart[k] ? PIECE_TRIMMED : PIECE_ENGINE);
        it->toolSet = true;
        next->SetIntersectPoint(end);
        break;
      }
      if (next != nullptr && run[k + 1].phase == CRC_STATUS_DOING) {
        const Joiner::Corner corner = joiner.Join(node, next, k, forced);
        if (IsInvalidPoint(corner.end) || IsInvalidPoint(corner.next)) {
          return refuse(k, "its offset cannot be computed");
        }
        const bool own = ownStart[k] || !corner.engine;
        it->piece = joiner.Offset(node, k, start, corner.end, own ? PIECE_TRIMMED : PIECE_ENGINE);
        it->toolSet = true;
        ownStart[k + 1] = !corner.engine;
        next->SetIntersectPoint(corner.next);
        if (corner.hasPiece) {
          host.InsertOwn(nextIt, corner.piece);
        }
        break;
      }
      // The last segment in progress: its plain offset end; the cancel move starts there, or a
      // run without one is closed by the pre-retract option as the engine closes it.
      const Point end = joiner.OffsetEnd(node, k, true);
      if (IsInvalidPoint(start) || IsInvalidPoint(end)) {
        return refuse(k, "its offset cannot be computed");
      }
      it->piece = joiner.Offset(node, k, start, end, ownStart[k] ? PIECE_TRIMMED : PIECE_ENGINE);
      it->toolSet = true;
      if (next != nullptr) {
        next->SetIntersectPoint(end);
      } else if (settings.preRetractOption == 0) {
        RunPiece closing;
        closing.segment = k;
        closing.kind = PIECE_LINE;
        closing.inserted = true;
        closing.tool.from = end;
        closing.tool.to = node->GetEndPoint();
        host.InsertOwn(std::next(it), closing);
      }
      break;
    }
    default: {  // the cancel move: from where the path left the contour to its programmed end
      RunPiece piece;
      piece.segment = k;
      piece.kind = PIECE_LINE;
      piece.tool.from = IsInvalidPoint(start) ? node->GetStartPoint() : start;
      piece.tool.to = node->GetEndPoint();
      it->piece = piece;
      it->toolSet = true;
      break;
    }
    }
    node->SetHasBeenCrc(true);
  }
  if (!Collect(host, outcome.pieces, outcome.failed)) {
    outcome.pieces.clear();
    return refuse(outcome.failed, "the engine leaves it without a tool path");
  }
  for (RunPiece& piece : outcome.pieces) {
    if (!piece.inserted && piece.kind == PIECE_ENGINE && ownStart[piece.segment]) {
      piece.kind = PIECE_TRIMMED;  // the engine's offset, from where a corner of our own left it
    }
    const Curve& programmed = run[piece.segment].curve;
    if (piece.inserted || piece.collapsed || run[piece.segment].phase != CRC_STATUS_DOING ||
        run[piece.segment].locate) {
      continue;
    }
    if (!piece.tool.arc) {
      // exact: any backward component of the offset against its line
      piece.reversed = Dot(piece.tool.to - piece.tool.from, programmed.to - programmed.from) < 0.0;
      continue;
    }
    // Read the way the engine left them, trimmed arcs sweep the long way round where their
    // trimmed ends crossed over: the raw path runs back the short way there.
    const Point a = programmed.from - programmed.centre;
    const Point b = programmed.to - programmed.centre;
    double sweep = programmed.fullCircle ? 2.0 * PI : std::atan2(Cross(a, b), Dot(a, b));
    sweep = programmed.ccw || programmed.fullCircle ? sweep : -sweep;
    sweep = sweep < 0.0 ? sweep + 2.0 * PI : sweep;
    if (!piece.collapsed && piece.kind != PIECE_CORNER && Joiner::Reversed(piece.tool, sweep) &&
        piece.tool.ccw == programmed.ccw) {
      piece.tool.ccw = !piece.tool.ccw;
    }
    piece.reversed = piece.tool.ccw != programmed.ccw;
  }
  outcome.ok = true;
  return outcome;
}

}  // namespace crc::avoid
