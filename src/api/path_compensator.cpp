// SPDX-License-Identifier: MIT
// The one-call compensation and its streaming form: segments checked, made into engine nodes,
// chords fitted, runs found from the phases, and every run driven by the list host one step at a
// time as its segments arrive. What the engine decides is left to it; what this file decides is
// what the input means (runs, arcs within tolerance, chords) and what it refuses.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include <crc/host/chord_fit.h>
#include <crc/host/list_host.h>
#include <crc/path.h>

#include "path_avoid.h"

namespace crc {
namespace {

using cutcomp::HostSegment;
using cutcomp::ListHost;
using cutcomp::PathPiece;
using Point = __point2<double>;

// Coordinates beyond this in size are refused: the engine squares lengths, and a square of
// 1e154 overflows. The gouge audit draws the same line.
constexpr double COORDINATE_LIMIT = 1e100;
constexpr double MM_PER_INCH = 25.4;
// A step pulls the segment it adjusts, its successor and, with evasion, the successor's
// successor: the host steps only while this many wait, unless the run is ending.
constexpr std::size_t STEP_LOOK_AHEAD = 3;

// Not NaN (no comparison holds for it), not infinite, not beyond the limit.
bool Usable(const Point& p) {
  return std::fabs(p.x) <= COORDINATE_LIMIT && std::fabs(p.y) <= COORDINATE_LIMIT;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

// The arc tolerance of CompensateOptions: as the command-line tool takes it for a program in
// these units.
double ArcTolerance(const CompensateOptions& options, double radius) {
  if (options.arcTolerance) {
    return *options.arcTolerance;
  }
  const bool mm = options.units == CRC_UNIT_MM;
  return std::clamp(0.001 * radius, mm ? 0.005 : 0.0005, mm ? 0.5 : 0.05);
}

// Empty when the options can be used, else what is wrong with them.
std::string OptionsError(const CompensateOptions& options) {
  if (!std::isfinite(options.radius)) {
    return "the cutter radius is not a finite number";
  }
  if (options.start < CRC_TYPE_NORMAL || options.start > CRC_TYPE_INSERT) {
    return "unknown start-up strategy " + std::to_string(static_cast<int>(options.start));
  }
  if (options.end < CRC_END_LINE || options.end > CRC_END_NONE) {
    return "unknown run end " + std::to_string(static_cast<int>(options.end));
  }
  if (options.units != CRC_UNIT_MM && options.units != CRC_UNIT_INCH) {
    return "unknown unit " + std::to_string(static_cast<int>(options.units));
  }
  if (options.fitTolerance &&
      !(*options.fitTolerance > 0.0 && std::isfinite(*options.fitTolerance))) {
    return "the fitting tolerance must be a positive number, not " + Number(*options.fitTolerance);
  }
  if (options.arcTolerance &&
      !(*options.arcTolerance >= 0.0 && std::isfinite(*options.arcTolerance))) {
    return "the arc tolerance must be a number of at least 0, not " + Number(*options.arcTolerance);
  }
  return {};
}

// A line of known phase and side with usable coordinates: the common segment, which needs none
// of Prepare's work.
bool IsPlainLine(const PathSegment& segment) {
  return !segment.curve.arc && segment.phase >= CRC_STATUS_NONE &&
         segment.phase <= CRC_STATUS_RETRACT && segment.side >= CRC_DIR_NONE &&
         segment.side <= CRC_DIR_RIGHT && Usable(segment.curve.from) && Usable(segment.curve.to);
}

// Checks a segment; false with what is wrong with it in `error`. An arc's centre as the engine
// is to see it goes to `centre`: an arc whose ends lie at slightly different distances from its
// centre (within the arc tolerance) gets its centre moved to the nearest point of the chord's
// bisector, so both ends stay and both radii agree: two rounded arcs meeting in a cusp then meet
// exactly, not with a false overlap.
bool Prepare(const CompensateOptions& options, const PathSegment& segment, Point& centre,
             std::string& error) {
  if (segment.phase < CRC_STATUS_NONE || segment.phase > CRC_STATUS_RETRACT) {
    error = "unknown phase " + std::to_string(static_cast<int>(segment.phase));
    return false;
  }
  if (segment.side < CRC_DIR_NONE || segment.side > CRC_DIR_RIGHT) {
    error = "unknown side " + std::to_string(static_cast<int>(segment.side));
    return false;
  }
  const Curve& c = segment.curve;
  if (!Usable(c.from) || !Usable(c.to) || (c.arc && !Usable(c.centre))) {
    error = "a coordinate is not a finite number of at most 1e100 in size";
    return false;
  }
  if (!c.arc) {
    return true;
  }
  centre = c.centre;
  if (segment.locate) {
    error = "an arc cannot be a positioning (locate) move";
    return false;
  }
  const double startRadius = (c.from - c.centre).GetLength();
  if (startRadius < EPSILON) {
    error = "the arc's centre coincides with its start point";
    return false;
  }
  const double chord = (c.to - c.from).GetLength();
  if (c.fullCircle != (chord < EPSILON)) {
    error = c.fullCircle ? "a full circle must end where it starts"
                         : "the arc ends where it starts: mark a whole turn as a full circle";
    return false;
  }
  if (c.fullCircle) {
    return true;
  }
  const double endRadius = (c.to - c.centre).GetLength();
  const double allowed = ArcTolerance(options, startRadius);
  if (!(std::fabs(endRadius - startRadius) <= allowed)) {
    error = "the arc's centre is not equidistant from its ends: " + Number(startRadius) +
            " to the start, " + Number(endRadius) + " to the end (tolerance " + Number(allowed) +
            ")";
    return false;
  }
  if (endRadius != startRadius) {  // exact: any difference is repaired
    const Point mid((c.from.x + c.to.x) / 2.0, (c.from.y + c.to.y) / 2.0);
    const Point normal(-(c.to.y - c.from.y) / chord, (c.to.x - c.from.x) / chord);
    const double along = (c.centre.x - mid.x) * normal.x + (c.centre.y - mid.y) * normal.y;
    centre = Point(mid.x + along * normal.x, mid.y + along * normal.y);
  }
  return true;
}

// The piece of a segment that does not go through the engine: its tool path is its programmed
// geometry.
PathPiece PassThrough(const PathSegment& segment, const Point& centre) {
  PathPiece piece;
  static_cast<Curve&>(piece.programmed) = segment.curve;
  if (segment.curve.arc) {
    piece.programmed.centre = centre;
    piece.programmed.radius = (segment.curve.from - centre).GetLength();
  }
  piece.tool = piece.programmed;
  piece.id = segment.id;
  piece.lastId = segment.id;
  piece.phase = segment.phase;
  piece.side = segment.side;
  piece.locate = segment.locate;
  piece.offsetUnset = true;
  return piece;
}

}  // namespace

// One compensation in progress: the segments since the last final piece, the run being
// compensated, and the fitter's chords.
struct CPathCompensator::Impl {
  // A segment of the path: the caller's id, and the ordinal of the last segment of the piece
  // that starts with it.
  struct Slot {
    std::int64_t id;
    std::int64_t last;
  };

  explicit Impl(const CompensateOptions& options) : m_Options(options) {
    const std::string error = OptionsError(options);
    if (!error.empty()) {
      Fail(true, -1, -1, error);
      return;
    }
    if (options.avoid) {
      Fail(true, -1, -1, "the gouge-free path (avoid) needs the whole path: use crc::Compensate");
      return;
    }
    m_PassThrough = std::fabs(m_Options.radius) < EPSILON;
    if (m_Options.fit) {
      cutcomp::FitOptions fitOptions;
      const bool inch = m_Options.units == CRC_UNIT_INCH;
      fitOptions.tolerance =
          m_Options.fitTolerance.value_or(inch ? FIT_TOLERANCE_INCH : FIT_TOLERANCE_MM);
      fitOptions.maxChord =
          inch ? cutcomp::FIT_MAX_CHORD_MM / MM_PER_INCH : cutcomp::FIT_MAX_CHORD_MM;
      m_Fit = fitOptions;
    }
    m_Sink = [this](HostSegment& segment) { Final(segment); };
    m_Source = [this](std::unique_ptr<CCrcNode>& node, std::int64_t& id) { return Pull(node, id); };
  }

  bool Add(const PathSegment& segment, std::vector<PathPiece>& out) {
    if (m_Failed) {
      return false;
    }
    const std::int64_t index = m_Count;
    Point centre;
    if (!IsPlainLine(segment) && !Prepare(m_Options, segment, centre, m_Error)) {
      return Fail(true, index, segment.id, m_Error);
    }
    ++m_Count;
    if (m_Ids.size() >= 128) {
      Compact();
    }
    m_Ids.push_back({segment.id, index});
    m_Out = &out;
    if (m_PassThrough || segment.phase == CRC_STATUS_NONE) {
      // A move outside compensation ends the run before it; with no radius nothing is offset.
      if (!EndRun()) {
        return false;
      }
      out.push_back(PassThrough(segment, centre));
      Release(index + 1);
      return true;
    }
    if (segment.phase == CRC_STATUS_ESTABLISH && !EndRun()) {
      return false;
    }
    if (!m_Engine) {
      BeginRun();
    }
    Feed(segment, centre, index);
    // The cancel segment ends the run; the next segment begins another.
    if (segment.phase == CRC_STATUS_RETRACT) {
      return EndRun();
    }
    return Pump(false);
  }

  bool Finish(std::vector<PathPiece>& out) {
    if (m_Failed) {
      return false;
    }
    m_Out = &out;
    if (!EndRun()) {
      return false;
    }
    m_Count = 0;
    m_Ids.clear();
    m_IdBase = 0;
    m_Released = 0;
    return true;
  }

  // A run begins: an engine and a host of its own, as the command-line tool gives each run.
  void BeginRun() {
    m_Engine = std::make_unique<CCutterCompensator>(m_Options.radius, nullptr, m_Options.lookBehind,
                                                    m_Options.start);
    m_Engine->SetInterveneEvade(m_Options.evade);
    m_Engine->SetCamTolerance(m_Options.camTolerance);
    m_Engine->SetClosureTolerance(m_Options.closureTolerance);
    m_Engine->SetStartInPlace(m_Options.startInPlace);
    m_Engine->SetArcStartup(m_Options.arcStartup);
    m_Engine->SetCrcPreRetractOption(static_cast<int>(m_Options.end));
    m_Host = std::make_unique<ListHost>(m_Source);
    m_Host->UsePool(&m_Pool);
    if (m_Fit) {
      m_Fitter.emplace(*m_Fit);
    }
  }

  // The run ends: what the fitter holds is fitted, every segment is adjusted, and the engine
  // learns the sequence ends here (it closes a run without a cancel segment as `end` says).
  bool EndRun() {
    if (!m_Engine) {
      return true;
    }
    FlushFitter();
    if (!Pump(true)) {
      return false;
    }
    m_Host.reset();
    m_Engine.reset();
    m_Fitter.reset();
    return true;
  }

  // Hands a segment of the run on: as programmed, or to the fitter when it is a chord.
  void Feed(const PathSegment& segment, const Point& centre, std::int64_t index) {
    const Curve& c = segment.curve;
    if (m_Fitter && !c.arc && !segment.locate && segment.phase == CRC_STATUS_DOING &&
        (c.to - c.from).GetLength() < m_Fit->maxChord) {
      if (m_Fitter->Held() > 0 && segment.side != m_FitSide) {
        FlushFitter();
      }
      m_FitSide = segment.side;
      cutcomp::Curve chord;
      chord.from = c.from;
      chord.to = c.to;
      m_Fitter->Add(chord, index, m_Pieces);
      TakePieces();
      return;
    }
    FlushFitter();
    Hand(MakeNode(segment, centre), index, index);
  }

  // A segment made for the engine, standing for the path's segments `first` to `last`.
  void Hand(std::unique_ptr<CCrcNode> node, std::int64_t first, std::int64_t last) {
    m_Ids[static_cast<std::size_t>(first - m_IdBase)].last = last;
    m_Ready.push_back({std::move(node), first});
  }

  void FlushFitter() {
    if (m_Fitter) {
      m_Fitter->Flush(m_Pieces);
      TakePieces();
    }
  }

  // The fitter's final pieces become segments in progress on the side of their chords.
  void TakePieces() {
    for (const cutcomp::FitPiece& piece : m_Pieces) {
      const cutcomp::Curve& c = piece.curve;
      std::unique_ptr<CCrcNode> node =
          c.arc ? m_Pool.Arc(c.centre, c.from, c.to, c.radius, c.ccw, CRC_STATUS_DOING, m_FitSide)
                : m_Pool.Line(c.from, c.to, CRC_STATUS_DOING, m_FitSide, false);
      Hand(std::move(node), piece.firstId, piece.lastId);
    }
    m_Pieces.clear();
  }

  std::unique_ptr<CCrcNode> MakeNode(const PathSegment& segment, const Point& centre) {
    const Curve& c = segment.curve;
    if (!c.arc) {
      return m_Pool.Line(c.from, c.to, segment.phase, segment.side, segment.locate);
    }
    const double radius = (c.from - centre).GetLength();
    if (c.fullCircle) {
      // Start and end coincide: only the centre-and-angles form can say "a whole turn".
      double startAngle = std::atan2(c.from.y - centre.y, c.from.x - centre.x);
      if (startAngle < 0.0) {
        startAngle += PI + PI;
      }
      return m_Pool.Arc(centre, startAngle, PI + PI, radius, c.ccw, segment.phase, segment.side);
    }
    return m_Pool.Arc(centre, c.from, c.to, radius, c.ccw, segment.phase, segment.side);
  }

  // Adjusts segments while enough wait for the engine's look-ahead, or all of them when the run
  // ends.
  bool Pump(bool ending) {
    while (ending || m_Ready.size() - m_ReadyHead >= STEP_LOOK_AHEAD) {
      switch (m_Host->Step(*m_Engine, m_Sink, &m_Refusal)) {
      case ListHost::STEP_ADJUSTED:
        break;
      case ListHost::STEP_DONE:
        return true;
      case ListHost::STEP_FAILED:
        return Refused(m_Refusal);
      }
    }
    return true;
  }

  // The host's source: the next segment waiting, its id the ordinal of the first segment of
  // the path it stands for.
  bool Pull(std::unique_ptr<CCrcNode>& node, std::int64_t& id) {
    if (m_ReadyHead == m_Ready.size()) {
      return false;
    }
    node = std::move(m_Ready[m_ReadyHead].node);
    id = m_Ready[m_ReadyHead].first;
    ++m_ReadyHead;
    // The storage of pulled segments is reused once they are the larger part.
    if (m_ReadyHead >= 64 && 2 * m_ReadyHead >= m_Ready.size()) {
      const auto pulled = static_cast<std::ptrdiff_t>(m_ReadyHead);
      m_Ready.erase(m_Ready.begin(), m_Ready.begin() + pulled);
      m_ReadyHead = 0;
    }
    return true;
  }

  // The host's sink: a final segment becomes a piece with the caller's ids.
  void Final(HostSegment& segment) {
    PathPiece& piece = m_Out->emplace_back(cutcomp::ReadPiece(segment));
    const Slot& first = SlotOf(segment.id);
    piece.id = first.id;
    piece.lastId = segment.inserted ? first.id : SlotOf(first.last).id;
    // Lines inserted after this segment still carry its ordinal; nothing before it is asked for
    // again.
    if (!segment.inserted) {
      Release(segment.id);
    }
  }

  const Slot& SlotOf(std::int64_t index) const {
    return m_Ids[static_cast<std::size_t>(index - m_IdBase)];
  }

  // The ids of the segments before `index` (which only grows) are not asked for again.
  void Release(std::int64_t index) { m_Released = index; }

  // Drops the ids released, once they are the larger part of a long list.
  void Compact() {
    const auto released = static_cast<std::size_t>(m_Released - m_IdBase);
    if (2 * released >= m_Ids.size()) {
      m_Ids.erase(m_Ids.begin(), m_Ids.begin() + static_cast<std::ptrdiff_t>(released));
      m_IdBase = m_Released;
    }
  }

  bool Refused(const cutcomp::HostFailure& refusal) {
    Fail(false, refusal.id, SlotOf(refusal.id).id,
         refusal.code != 0 ? GetErrorGloss(refusal.code) : "compensation failed");
    m_Failure.inserted = refusal.inserted;
    m_Failure.code = refusal.code;
    m_Failure.message = refusal.message;
    return false;
  }

  bool Fail(bool input, std::int64_t index, std::int64_t id, const std::string& gloss) {
    m_Failed = true;
    m_Failure = PathFailure();
    m_Failure.input = input;
    m_Failure.index = index;
    m_Failure.id = id;
    m_Failure.gloss = gloss;
    return false;
  }

  CompensateOptions m_Options;
  bool m_PassThrough = false;
  std::optional<cutcomp::FitOptions> m_Fit;
  bool m_Failed = false;
  PathFailure m_Failure;

  std::int64_t m_Count = 0;  // segments taken since the path began
  std::string m_Error;       // what is wrong with the latest segment refused
  // The segments from ordinal m_IdBase on; those before m_Released are not asked for again.
  std::vector<Slot> m_Ids;
  std::int64_t m_IdBase = 0;
  std::int64_t m_Released = 0;
  std::vector<PathPiece>* m_Out = nullptr;  // where the call in progress puts final pieces

  // The run in progress (none between runs).
  std::unique_ptr<CCutterCompensator> m_Engine;
  std::unique_ptr<ListHost> m_Host;
  std::optional<cutcomp::ChordFitter> m_Fitter;
  crc_dir_t m_FitSide = CRC_DIR_NONE;  // the side of the chords the fitter holds
  std::vector<cutcomp::FitPiece> m_Pieces;
  // Segments made, with the ordinal of the first path segment each stands for; those from
  // m_ReadyHead on are not yet pulled by the host.
  struct Ready {
    std::unique_ptr<CCrcNode> node;
    std::int64_t first;
  };
  std::vector<Ready> m_Ready;
  std::size_t m_ReadyHead = 0;
  cutcomp::HostFailure m_Refusal;
  cutcomp::NodePool m_Pool;
  ListHost::Sink m_Sink;
  ListHost::Source m_Source;
};

CPathCompensator::CPathCompensator(const CompensateOptions& options)
    : m_Impl(std::make_unique<Impl>(options)) {}
CPathCompensator::~CPathCompensator() = default;
CPathCompensator::CPathCompensator(CPathCompensator&& other) noexcept = default;
CPathCompensator& CPathCompensator::operator=(CPathCompensator&& other) noexcept = default;

bool CPathCompensator::Add(const PathSegment& segment, std::vector<PathPiece>& out) {
  return m_Impl->Add(segment, out);
}

bool CPathCompensator::Finish(std::vector<PathPiece>& out) { return m_Impl->Finish(out); }

const PathFailure& CPathCompensator::GetFailure() const { return m_Impl->m_Failure; }

CompensateResult Compensate(const Path& path, const CompensateOptions& options) {
  if (options.avoid) {
    return CompensateAvoiding(path, options);
  }
  CompensateResult result;
  result.path.reserve(path.size());
  CPathCompensator compensator(options);
  bool ok = true;
  for (const PathSegment& segment : path) {
    if (!compensator.Add(segment, result.path)) {
      ok = false;
      break;
    }
  }
  result.ok = ok && compensator.Finish(result.path);
  if (!result.ok) {
    result.failure = compensator.GetFailure();
  }
  return result;
}

}  // namespace crc
