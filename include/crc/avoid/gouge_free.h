// SPDX-License-Identifier: MIT
/// @file
/// Extension, off unless a host calls it: the gouge-free tool path of one compensation run. Where
/// the engine's path comes closer to a wall than the cutter radius (a notch or slot narrower than
/// the cutter, an inside arc smaller than it, a step the offsets cross over), or the engine
/// refuses the run for it, this computes a path that follows the programmed contour exactly
/// wherever the cutter fits, leaves material only where it does not, never comes closer than
/// radius - tolerance to a wall, and says where and how much material is left.
///
/// How the path is made:
///   1. The engine compensates the run with the host's settings. When it completes and the gouge
///      audit finds nothing, its path is returned unchanged (GougeFreeResult::engineClean): a run
///      that compensates cleanly is never touched.
///   2. Otherwise the raw path is built: the engine again, with its interference check off and no
///      evasion, so that every segment gets its exact offset (arcs stay arcs) and every corner the
///      engine's own joint (trimmed, extended, bridged, smooth). Where the engine cannot join two
///      segments (an inside arc smaller than the cutter, whose offset collapses; offsets that do
///      not meet) the corner is joined by an arc of the cutter radius about the corner when the
///      contour turns away from the tool, and by a straight line otherwise. A trimmed offset that
///      runs backwards follows nothing of its wall: it is left out, and the corners at its ends
///      are joined the extension's way, untrimmed.
///   3. Every piece of the raw path is measured by the gouge audit. A piece that comes closer
///      than radius - tolerance to a wall is split where it crosses the boundary of that wall's
///      reach (the lines and circles one radius from the wall: its offsets and the circles about
///      its ends), and each part is measured again. The parts that keep their distance stay.
///   4. The parts left are joined in path order. Where the path leaves the region the tool may
///      occupy, it resumes at the first later part that passes through the very point where it
///      left (the raw path crosses itself there: what lies between is a loop the cutter does not
///      fit, and is dropped), unless a straight line or an arc of the cutter radius about a
///      corner of the walls reaches the next part the cutter could follow. Where no later part
///      passes there, the corners next to the place are joined the extension's way instead (arcs
///      about the corners are the exact boundary of the region) and the path is built again; as
///      a last resort such a line or arc to a later part is taken when the audit passes it.
///   5. The finished path is audited once more; material left is measured against it.
///
/// Walls and gouges are the gouge audit's (see crc/audit/gouge_audit.h): the whole contour given
/// to Compute is the audit's contour, so that the runs of a program before and after this one
/// count as walls too. Lengths are in the host's unit. Not thread-safe: one object per thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <crc/audit/gouge_audit.h>
#include <crc/compensator/cutter_compensator.h>
#include <crc/export.h>
#include <crc/geometry/point2.h>

namespace crc {

/// How the engine is run, as the host runs it; and the audit's tolerance.
struct GougeFreeSettings {
  /// Contact closer than the radius by less than this is not a gouge (host units, > 0): the
  /// audit's tolerance (see CGougeAudit). Not a number until set: Compute refuses it.
  double tolerance = std::numeric_limits<double>::quiet_NaN();
  crc_t strategy = CRC_TYPE_NORMAL;  ///< start-up and cancel strategy
  unsigned int lookBehind = 3;       ///< the engine's look-behind capacity (step 1 only)
  bool evade = false;                ///< interference evasion (step 1 only)
  bool camTolerance = false;         ///< the engine's CAM tolerances (step 1 only)
  int preRetractOption = 0;          ///< how a run without a cancel segment is closed
  /// The top of the work along the plane's normal (see CGougeAudit::SetWorkTop); not a number:
  /// everything cuts.
  double workTop = std::numeric_limits<double>::quiet_NaN();
  /// The directions in which the program feeds into the stock (see CGougeAudit::AddStockFeed:
  /// on a lathe, toward the chuck and toward the axis); none: every wall is a wall.
  std::vector<__point2<double>> stockFeeds;
};

/// Where a piece of the gouge-free path comes from.
enum gouge_free_piece_t : int {
  PIECE_ENGINE = 0,   ///< as the engine computes it: an offset, or a line it inserts
  PIECE_TRIMMED = 1,  ///< part of such a piece; the rest came too close to a wall
  /// An arc of the cutter radius about a corner of the contour: where the engine cannot join the
  /// corner, or where the lines it bridges the corner with came too close to a wall
  PIECE_CORNER = 2,
  /// A straight line of the extension's own: a corner the engine cannot join where the contour
  /// turns towards the tool, a start-up or closing move the engine refused, or a way from where
  /// the path left the region the tool may occupy to where it resumes
  PIECE_LINE = 3,
};

/// One piece of the gouge-free path.
struct GougeFreePiece {
  Curve tool;  ///< the path of the tool centre
  /// The programmed segment's id; for a piece at a corner (an inserted line, an arc or line of
  /// the extension's), the id of the segment after the corner, as for the lines the engine
  /// inserts (see CCrcTranslator::InsertNode).
  std::int64_t id = 0;
  crc_status_t phase = CRC_STATUS_NONE;    ///< the phase of that segment
  gouge_free_piece_t kind = PIECE_ENGINE;  ///< where the piece comes from
  bool inserted = false;  ///< not the offset of its own segment: an inserted or corner piece
};

/// Why material is left at a place.
enum material_cause_t : int {
  MATERIAL_NARROW = 0,     ///< the walls stand closer together than the cutter is wide
  MATERIAL_SMALL_ARC = 1,  ///< an inside arc smaller than the cutter
  /// A stretch of contour the cutter could follow but cannot reach: the way to it is narrower
  /// than the cutter
  MATERIAL_UNREACHED = 2,
};

/// A place where the path leaves the contour and material is left on the walls.
struct MaterialLeft {
  /// The first and last programmed segments (in program order) whose walls keep more than the
  /// tolerance of material.
  ///@{
  std::int64_t firstId = 0;
  std::int64_t lastId = 0;
  ///@}
  /// The largest distance the material left stands proud of the wall: over the stretch of the
  /// walls whose offset the path leaves out, the distance from the wall to the nearest point the
  /// cutter reaches (distance to the path less the radius), at its largest. Found by bisecting the
  /// walls while the samples leave the largest value in doubt by more than half the tolerance (a
  /// distance moves no faster than its point), down to steps of one tolerance (or 1/4096 of a
  /// segment), then refined about the largest sample: at most half a step below the true value,
  /// and exact where the largest is a smooth peak or a kink.
  double depth = 0.0;
  __point2<double> wallPoint;  ///< where the material stands proudest, on the wall
  std::int64_t wallId = 0;     ///< the segment of that point
  /// Length along the walls over which more than the tolerance is left (to a step at each end).
  double extent = 0.0;
  /// The pieces of the path on either side of the place (indices into GougeFreeResult::path):
  /// the last piece before the path leaves the contour and the first after it comes back.
  ///@{
  std::size_t before = 0;
  std::size_t after = 0;
  ///@}
  material_cause_t cause = MATERIAL_NARROW;  ///< why the cutter leaves it
};

/// What Compute found.
struct GougeFreeResult {
  /// The engine's own path, unchanged: it completed and the audit found no gouge.
  bool engineClean = false;
  /// The engine's message number (1..16) when it refused the run, 0 when it completed.
  int engineCode = 0;
  /// Gouges the audit found in the engine's path (0 when the engine refused the run).
  std::size_t engineGouges = 0;
  /// The tool-centre path from the start of the run to its end, in order, continuous.
  std::vector<GougeFreePiece> path;
  /// Every place where material is left, in path order.
  std::vector<MaterialLeft> left;
};

/// The gouge-free path of a compensation run (see the file comment).
class CRC_API CGougeFreePath {
public:
  /// May throw std::bad_alloc.
  explicit CGougeFreePath(const GougeFreeSettings& settings);
  ~CGougeFreePath();
  CGougeFreePath(const CGougeFreePath&) = delete;
  CGougeFreePath& operator=(const CGougeFreePath&) = delete;

  /// The gouge-free path of the run contour[first, last): a start-up segment, the segments in
  /// progress, and the cancel segment if the run has one; each with its side (the tool's, after
  /// a negative radius swapped it) and the cutter radius (the run takes its first segment's
  /// radius). `contour` is the audit's contour: every segment of the program the host wants to
  /// count as a wall (at least the run; ids increasing). `result` is overwritten.
  ///
  /// refuses: an invalid tolerance; a range outside the contour or a run that does not begin
  /// with a start-up segment, has a phase out of order or no segment in progress; no radius; a
  /// segment the audit refuses (a coordinate not finite, ids not increasing); a segment in
  /// progress of no length; a run the engine refuses for what the program says rather than for
  /// its geometry (an arc as the start-up or cancel move, a start-up of no length, ...; its
  /// message quoted); a run whose first or last point lies within radius - tolerance of a wall
  /// (the tool stands in the wall before or after it moves); a path that cannot go on without
  /// cutting into a wall (the region the tool may occupy is split, and the run starts in one
  /// part and ends in another, or a start-up or cancel move crosses a wall); memory.
  /// False, with the reason in GetLatestError (English, naming the segment ids) and `result`
  /// holding the engine's verdict (engineCode, engineGouges) but no path.
  bool Compute(const std::vector<ContourSegment>& contour, std::size_t first, std::size_t last,
               GougeFreeResult& result);

  /// The reason for the latest refusal; empty until the first. A success does not clear it.
  const std::string& GetLatestError() const;

private:
  struct Impl;
  std::unique_ptr<Impl> m_Impl;
};

}  // namespace crc
