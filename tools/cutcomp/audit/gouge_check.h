// SPDX-License-Identifier: MIT
// The command-line tool's gouge check: every compensated piece of the written path measured
// against the contour of the whole program, a second run against the walls of the first
// included, by the library's exact audit (crc/audit/gouge_audit.h).
//
// The audit needs every wall before it measures the first piece, and a run may gouge a wall
// that a later run programs; the program is read once, so the pieces are kept until the end of
// the program and measured then. What is kept, per programmed segment handed to the engine: the
// audit's contour (about 30 bytes for a line, 45 for an arc) and, per piece of the tool path,
// 17 bytes (its end point and a byte of flags; a start only where the path jumps, a centre for
// an arc, a radius or a step between ids where they change). A million-block program of lines
// holds about 50 MB; --no-verify keeps nothing and runs in flat memory.
//
// The contour is the one the engine compensated: a run of CAM chords fitted by lines and arcs
// is audited against the fitted segments (they lie within the fitting tolerance of the chords;
// a gouge against the fitted contour is a fault of the compensation, a difference of up to that
// tolerance against the chords is the fit's stated one).
//
// Runs are compared with each other only when they share the plane, the units and the work
// coordinate frame: a program that machines the same part in two fixtures, or switches planes,
// has walls at the same coordinates that are not the same walls.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <crc/audit/gouge_audit.h>
#include <crc/crc.h>

#include "block.h"
#include "tool_path.h"

namespace cutcomp::cli {

// The tolerance when none is given: contact closer than the radius by less than this is not a
// gouge. The engine joins offsets at a joint that turns by a few degrees as if it were smooth,
// which brings the tool up to 0.0019 of its radius closer to the wall (6 um for a 6 mm cutter);
// on CAM output such joints are everywhere, and a default that refused a tenth of those
// programs for a few micrometres would be switched off, not heeded. 0.005 mm is the chord
// fitting's own tolerance, what the machines that run such programs hold, and five units of
// the last written decimal; 0.0002 in is the same length, rounded to the fourth decimal.
inline constexpr double DEFAULT_GOUGE_TOLERANCE_MM = 0.005;
inline constexpr double DEFAULT_GOUGE_TOLERANCE_INCH = 0.0002;

// The audit's wall for a programmed segment as the engine is handed it, compensated by `radius`
// (signed: a negative radius puts the tool on the other side); `low` its lowest point along the
// plane's normal (not a number: unknown).
crc::ContourSegment ContourSegmentOf(const crc::CCrcNode& node, double radius, double low,
                                     std::int64_t id);

// One gouge: the piece of tool path and the wall, by the ids the driver gave them.
struct GougeFinding {
  std::int64_t pieceId = 0;
  std::int64_t wallId = 0;
  Point wallPoint;  // the point of the contour the tool cuts into
  Point toolPoint;  // where the tool centre is then
  double clearance = 0.0;
  double radius = 0.0;
  double depth = 0.0;
  crc::gouge_kind_t kind = crc::GOUGE_CROSSING;
};

class GougeCheck {
public:
  // `tolerance` in the program's units, applied in whatever units a run is in; none: the
  // default for the run's units.
  explicit GougeCheck(std::optional<double> tolerance) : m_Tolerance(tolerance) {}

  // A compensation run begins. Its segments and pieces are compared with those of the runs in
  // the same plane, units and work frame (`frame` counts changes of the work coordinates). A
  // run that turns (a lathe's, in the ZX plane) tells the audit of that frame where the stock
  // is fed into: toward the chuck (-Z) and toward the axis (-X).
  void BeginRun(Plane plane, Units units, std::uint64_t frame, bool turning);
  // A programmed segment as the engine is handed it (before the engine changes it), compensated
  // by `radius` (signed: a negative radius puts the tool on the other side); `low` its lowest
  // point along the plane's normal (not a number: unknown); `rapid` for a G0. Ids increase
  // along the program.
  void Segment(const crc::CCrcNode& node, double radius, double low, bool rapid, std::int64_t id);
  // A piece of the tool path as written, travelled by a cutter of `radius`; `id` is its
  // programmed segment's (an inserted line's: its anchor's); `low` as for a segment.
  void Piece(const cutcomp::Curve& tool, double radius, double low, std::int64_t id);

  // The top of the work (see crc::CGougeAudit::SetWorkTop); not a number: everything cuts. Set
  // before Run.
  void SetWorkTop(double top) { m_WorkTop = top; }

  // Gives up: the path is not measured, Run says why.
  void Abandon(const std::string& reason) {
    m_Abandoned = reason;
    m_Storing = reason.empty() ? m_Storing : nullptr;
  }

  // Audits every piece kept; the gouges come sorted by piece id. False with the reason in
  // `failure` when the audit could not measure something (the path is then not verified).
  bool Run(std::vector<GougeFinding>& findings, std::string& failure);

  // After Run: the stretches of programmed segments the audit does not take as walls (leads,
  // roughing walls, moves above the work), for the picture. As costly as Run again.
  void OpenStretches(std::vector<crc::OpenStretch>& out);

  // Bytes held (the contours, their indexes, the pieces).
  std::size_t MemoryUsage() const;

private:
  // The pieces of one frame, compactly, replayed in order by Run.
  class PieceStore {
  public:
    void Add(const crc::Curve& tool, double radius, double low, std::int64_t id);
    template <typename Visit>
    void ForEach(Visit&& visit) const;
    std::size_t MemoryUsage() const;

  private:
    enum : std::uint8_t {
      ARC = 1,
      CCW = 2,
      FULL = 4,
      OWN_FROM = 8,
      NEW_RADIUS = 16,
      NEW_STEP = 32,  // the id does not follow the last one by the last step
      NEW_LOW = 64,   // the lowest point along the plane's normal changes
    };
    std::deque<Point> m_Ends;
    std::deque<std::uint8_t> m_Flags;
    // In order of the pieces that need them: a start, then a centre, then a radius, then a low
    // point.
    std::deque<double> m_Extra;
    // Ids go up by the same step along a run of pieces (one block after the other): a step is
    // kept only where it changes, and a repeated id is a step of zero.
    std::deque<std::int64_t> m_Steps;
    // Not numbers before the first piece: its start and radius are stored whatever they are.
    Point m_LastTo{NAN, NAN};
    double m_LastRadius = NAN;
    double m_LastLow = NAN;
    bool m_Empty = true;
    std::int64_t m_LastId = 0;
    std::int64_t m_LastStep = 0;
  };

  struct Frame {
    explicit Frame(double tolerance) : audit(tolerance) {}
    crc::CGougeAudit audit;
    PieceStore pieces;
    bool failed = false;
    bool turning = false;  // told the audit the lathe's feed directions
    std::string failure;
  };

  std::optional<double> m_Tolerance;
  double m_WorkTop = NAN;
  std::map<std::tuple<int, int, std::uint64_t>, std::unique_ptr<Frame>> m_Frames;
  Frame* m_Current = nullptr;
  // The frame that takes the segments and pieces: the current one while it has not failed and
  // the check is not abandoned, else none.
  Frame* m_Storing = nullptr;
  std::string m_Abandoned;
};

}  // namespace cutcomp::cli
