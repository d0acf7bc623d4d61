// SPDX-License-Identifier: MIT
/// @file
/// The gouge audit: exact clearance of a finished tool-centre path against the programmed
/// contour. The engine checks each new offset segment only against the last few finished ones;
/// the audit measures every piece of the path against every wall of the whole program (other
/// runs included) and reports each place where the tool comes closer to a wall than its radius.
///
/// Use: give the contour of the whole program first, segment by segment in program order
/// (AddSegment), then audit the tool-centre path piece by piece as the pieces become final
/// (AuditPiece), and read the running account (GetSummary) at the end. The first AuditPiece
/// builds a spatial index over the walls, O(n log n); each piece then costs O(log n) plus the
/// walls within its reach. The contour and its index take about 30 bytes per programmed line
/// and 45 per arc. Nothing is sampled: distances between lines and arcs are computed in closed form
/// from end points, perpendicular feet, the line through a circle's centre and crossings. A wall
/// is measured only when cheap tests (discs, and lines or circles that keep the piece and the
/// wall apart, with a margin for their rounding) cannot show that it stays beyond the limit;
/// every distance reported is the exact one.
///
/// Which programmed segments are walls. A wall is a stretch of the programmed contour that bounds
/// the finished part: the tool must keep a cutter radius away from it. The candidates are the
/// segments in progress (CRC_STATUS_DOING) that are not positioning (locate) lines and that cut
/// (ContourSegment::cuts: a move made above the work removes nothing). Start-up and cancel
/// moves, positioning lines and moves outside compensation are never walls: they say where the
/// tool centre goes on its way to or from the contour, not where the part is. Two rules take
/// stretches of candidates away, each decided from the program's own geometry:
///   - Leads and run-ons. A run (the segments from one start-up to the next) is decomposed as a
///     loop-erased walk: where its programmed path comes back to a point it has passed, the path
///     since then is a loop. What no loop takes (the backbone: moves into the first loop, from one
///     loop to the next, past the last) is a lead where it lies in the air of the loops at its
///     ends (on the tool's side of them, by the winding number) and meets them only at its ends;
///     a lead is no wall within the finishing region of those loops. Tangent lead-in and
///     lead-out arcs, a side run on past the start corner, an outline closed and run on up its
///     first side, a second lap are all decided so. A run that closes no loop keeps every
///     candidate a wall.
///   - Later passes. A stretch of a wall that lies in the finishing region of a wall programmed
///     later and standing behind it (on its material side: the later pass cuts deeper on the
///     same side) is no wall: it was a roughing wall. A later wall facing it (a slot narrower
///     than the cutter, the same contour cut from its other side) or at right angles to it
///     releases nothing.
/// The finishing region of a wall of a run of cutter radius r (ContourSegment::radius, on the
/// side ContourSegment::side) is what the cutter must sweep to finish it: the points whose foot
/// on the wall lies inside it and that stand on the tool's side by more than the tolerance and
/// less than 2r, and at a corner where the contour turns away from the tool, the sector of
/// radius 2r between the two walls' normals. A segment without a side or a run without a radius
/// keeps its candidates walls. Every boundary is a line or a circle: the stretches are exact.
/// These rules are decided only for walls that a piece comes close enough to gouge, so that a
/// clean path pays nothing for them.
///
/// Which contacts are not gouges. A clearance of at least radius - tolerance is contact, not a
/// gouge: that covers exact corners (a trimmed inside corner ends exactly one radius from both
/// walls, corner lines run at least one radius from the corner), tangent joints and the offset of
/// a segment against its own wall, up to rounding. A joint the engine takes as smooth although it
/// turns a little is measured like any other place, and reported when it cuts deeper than the
/// tolerance (up to 0.0019 of the radius).
///
/// One exemption goes beyond the tolerance. A straight piece whose programmed segment is not a
/// wall (a start-up, cancel or positioning move, a lead, or a line inserted for one) but comes
/// right before a wall leads onto that wall at its first point; one whose segment comes right
/// after a wall leads off it at its last point. Coming in at an angle, the tool cuts a little
/// behind that point before it reaches its place beside it; that notch is the start-up's own and
/// is not reported when all of this holds:
///   - the nearest point of the wall is the attachment point itself;
///   - both ends of the piece lie at least radius - tolerance from that point (the tool neither
///     starts nor ends inside the wall there);
///   - where the piece comes within the radius of that point, it stays behind it (before the
///     wall's first point, past its last, along the wall's tangent there) and on the side of the
///     tangent where the piece's attached end lies.
/// The notch is then at most (1 - 1/sqrt(2)) = 0.29 of the radius deep, and shallower the further
/// behind the piece starts: a lead-in along the wall's line from L behind its first point cuts
/// r (1 - L / sqrt(L^2 + r^2)). Everything else is measured and reported: coming within the
/// radius of any other point of the attached wall, reaching it from its material side, crossing
/// it, and every contact with any other wall, including the neighbour that a closed contour has
/// on the other side of the attachment point.
///
/// Heights. The audit is two-dimensional; a host that knows the height of each move along the
/// axis normal to the plane gives its lowest point (ContourSegment::low, ToolPiece::low) and the
/// top of the work (SetWorkTop): a piece wholly at or above the top is no cut and is not
/// measured, and a segment wholly at or above it is no wall.
///
/// Lengths are in the host's unit. Not thread-safe: one audit is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <crc/export.h>
#include <crc/geometry/point2.h>
#include <crc/nodes/crc_node.h>

namespace crc {

/// A bounded straight line or circular arc, in the direction it is travelled.
struct Curve {
  bool arc = false;       ///< an arc when set, otherwise a line
  __point2<double> from;  ///< first point
  __point2<double> to;    ///< last point (for an arc, only its direction from the centre counts)
  /// Arcs: the centre. The radius is the distance of `from` from the centre; `to` is taken
  /// along its ray from the centre (rounding in a host's end point does not bend the arc), and
  /// the arc sweeps from `from` to `to` in its sense.
  __point2<double> centre;
  bool ccw = true;  ///< arcs: the turning sense, true = counterclockwise
  /// Arcs whose ends lie within 1e-12 of each other: a whole turn when set, otherwise a point.
  bool fullCircle = false;
};

/// One programmed segment of the program, in program order.
struct ContourSegment {
  Curve curve;  ///< the programmed geometry
  /// The host's own id (a block number, a sequence number); ids must increase along the
  /// contour, which is how pieces are matched to their segments.
  std::int64_t id = 0;
  crc_status_t phase = CRC_STATUS_NONE;  ///< compensation phase; walls are CRC_STATUS_DOING
  bool locate = false;                   ///< a positioning line inside compensation, not offset
  /// The side the tool runs on (after a negative radius swapped it), CRC_DIR_NONE when unknown:
  /// the wall rules need it to tell the part's side from the air.
  crc_dir_t side = CRC_DIR_NONE;
  /// The radius of the cutter that finishes the segment (positive; 0 when unknown). A run takes
  /// the radius of its first segment that has one.
  double radius = 0.0;
  /// The lowest point of the move along the axis normal to the plane; not a number when unknown
  /// (then it cuts). See SetWorkTop.
  double low = std::numeric_limits<double>::quiet_NaN();
  /// A rapid move (a straight line at traverse rate): in front of the stock it is no wall. See
  /// AddStockFeed.
  bool rapid = false;
};

/// One piece of the tool-centre path.
struct ToolPiece {
  Curve tool;           ///< the path of the tool centre
  double radius = 0.0;  ///< the radius of the cutter that travels it, positive
  /// The id of the programmed segment the piece belongs to; for a line the engine inserted, the
  /// id of the segment it was inserted for. An id not in the contour attaches the piece nowhere.
  std::int64_t id = 0;
  /// The lowest point of the piece along the axis normal to the plane; not a number when unknown
  /// (then it cuts). See SetWorkTop.
  double low = std::numeric_limits<double>::quiet_NaN();
};

/// What kind of move a gouge comes from, as the piece and the wall stand in the program.
enum gouge_kind_t : int {
  GOUGE_ENTRY = 0,           ///< a start-up move or a lead-in cuts into the contour
  GOUGE_EXIT = 1,            ///< a cancel move, a closing line or a run-on
  GOUGE_CORNER = 2,          ///< a piece of a run against its own wall or the next one
  GOUGE_CROSSING = 3,        ///< a piece of a run against a wall further along the same run
  GOUGE_LATER_CONTOUR = 4,   ///< a piece of a later run against a wall an earlier run finished
  GOUGE_EARLIER_CONTOUR = 5  ///< a piece of an earlier run against a wall a later run finishes
};

/// A wall that a piece comes closer to than its radius less the tolerance.
struct Gouge {
  std::size_t piece = 0;               ///< ordinal of the piece among those audited, from 0
  std::int64_t pieceId = 0;            ///< the piece's id (ToolPiece::id)
  std::size_t segment = 0;             ///< ordinal of the wall in the contour, from 0
  std::int64_t segmentId = 0;          ///< the wall's id (ContourSegment::id)
  __point2<double> toolPoint;          ///< the point of the piece nearest the wall
  __point2<double> wallPoint;          ///< the point of the wall nearest the piece
  double clearance = 0.0;              ///< distance between the two points
  double depth = 0.0;                  ///< radius - clearance
  gouge_kind_t kind = GOUGE_CROSSING;  ///< the kind of move it comes from
  /// The ordinal of the piece's programmed segment in the contour (SIZE_MAX when its id is not
  /// there).
  std::size_t pieceSegment = SIZE_MAX;
};

/// The nearest wall of one piece, among the walls within radius + tolerance of it.
struct PieceClearance {
  /// The distance to the nearest wall; infinity when no wall lies within reach. Exempt contacts
  /// at an attachment point are left out.
  double clearance = std::numeric_limits<double>::infinity();
  std::size_t segment = 0;     ///< ordinal of that wall in the contour
  std::int64_t segmentId = 0;  ///< its id
  __point2<double> toolPoint;  ///< the point of the piece nearest that wall
  __point2<double> wallPoint;  ///< the point of that wall nearest the piece
  std::size_t gouges = 0;      ///< walls the piece gouges
};

/// Why a stretch of a programmed segment in progress bounds nothing (see the file comment).
enum open_kind_t : int {
  OPEN_LEAD = 0,      ///< a lead or run-on of its run, in the air of the run's loops
  OPEN_ROUGHING = 1,  ///< a roughing wall: a later pass finishes behind it
  OPEN_ABOVE = 2      ///< a move wholly above the top of the work, or a rapid in front of the stock
};

/// A stretch of a segment that is no wall.
struct OpenStretch {
  std::size_t segment = 0;      ///< ordinal of the segment in the contour
  std::int64_t segmentId = 0;   ///< its id
  Curve curve;                  ///< the stretch
  open_kind_t why = OPEN_LEAD;  ///< why it is no wall
};

/// A running account of the pieces audited so far.
struct AuditSummary {
  std::size_t pieces = 0;  ///< pieces audited
  std::size_t gouges = 0;  ///< gouges found, one per piece and wall
  /// The gouge with the least clearance and the one that cuts deepest (radius - clearance); they
  /// differ only where pieces of different radii gouge. Meaningful when `gouges` is not zero.
  ///@{
  Gouge nearest;
  Gouge deepest;
  ///@}
  /// Outside its gouges, every piece keeps at least its radius - tolerance from every wall: this
  /// is the least such bound over the pieces (infinity before the first). The least clearance
  /// of the whole path is nearest.clearance when that is below the bound, else at least the
  /// bound.
  double bound = std::numeric_limits<double>::infinity();
};

/// The gouge audit of one program: its contour, an index over its walls, and the running account
/// of the pieces audited. Move-only; it owns its storage and holds no reference to the host's
/// data (segments and pieces are copied in). See the file comment for what counts as a wall and
/// as a gouge.
class CRC_API CGougeAudit {
public:
  /// `tolerance` (host units, >= 0) separates contact from a gouge. It must exceed the rounding
  /// of the coordinates (1e-9 of their size is ample); zero reports rounding noise. An invalid
  /// tolerance (negative, not finite) is not refused here: every AuditPiece then fails. May
  /// throw std::bad_alloc.
  explicit CGougeAudit(double tolerance);
  ~CGougeAudit();
  /// Moving hands the contour, index and account over. A moved-from audit may only be assigned
  /// to or destroyed.
  ///@{
  CGougeAudit(CGougeAudit&& other) noexcept;
  CGougeAudit& operator=(CGougeAudit&& other) noexcept;
  ///@}
  CGougeAudit(const CGougeAudit&) = delete;
  CGougeAudit& operator=(const CGougeAudit&) = delete;

  /// True when the segment is a candidate wall by its phase: in progress (CRC_STATUS_DOING) and
  /// not a locate line. A segment wholly above the work (see SetWorkTop) is none all the same,
  /// and the wall rules may take stretches of a candidate away (see the file comment).
  static bool IsWall(const ContourSegment& segment);

  /// The top of the work along the axis normal to the plane: pieces and segments whose lowest
  /// point (`low`) lies at or above it cut nothing. Not a number (the default): everything cuts.
  /// Set it before the first AuditPiece; false, with the reason in GetLatestError, after.
  bool SetWorkTop(double top);

  /// A direction in the plane in which the tool feeds into the stock, where the host knows one
  /// (a lathe turning toward its chuck feeds along -Z; facing, along -X toward the axis). The
  /// stock's front along it is the farthest point back from which a straight feed (no rapid)
  /// that advances along it by more than the tolerance starts: a feed into the stock begins at
  /// or in front of it. A rapid segment wholly at or in front of the front, less the tolerance,
  /// runs in the air and is no wall. Feeds there stay walls: a facing cut runs along the front
  /// itself. A zero or unusable direction is ignored. Add them before the first AuditPiece;
  /// false, with the reason in GetLatestError, after. May throw std::bad_alloc.
  bool AddStockFeed(const __point2<double>& direction);

  /// Room for `count` segments, so that a long contour is stored without slack. Only a hint:
  /// nothing fails when memory for it runs out.
  void Reserve(std::size_t count);

  /// Appends the next segment of the contour. False, with the reason in GetLatestError and
  /// nothing stored, for a coordinate that is not finite or beyond 1e100 in size, an arc whose
  /// centre lies on an end, an id not above the previous one, a contour past 2^31 - 1
  /// segments, once auditing has begun, or when memory runs out.
  bool AddSegment(const ContourSegment& segment);

  /// Audits one piece against every wall. Appends one Gouge per wall the piece comes closer to
  /// than radius - tolerance (at the deepest point) to `gouges`, adds them to the summary, and
  /// fills `clearance`; either pointer may be null. Asking for the clearance costs about twice as
  /// much: the walls the piece only touches (its own, the neighbours at its corners) are then
  /// measured exactly too, where without it a cheap test shows that they cannot be gouged.
  /// False, with the reason in GetLatestError and nothing counted, for a piece with a coordinate
  /// that is not finite or beyond 1e100, a radius that is not positive and finite, an arc whose
  /// centre lies on an end, an invalid tolerance, or when memory runs out.
  bool AuditPiece(const ToolPiece& piece, PieceClearance* clearance, std::vector<Gouge>* gouges);

  /// Every stretch of a segment in progress that the audit does not take as a wall, and why, in
  /// contour order: for a report that shows the walls. It decides the wall rules for every
  /// candidate (the audit itself does only where a piece comes close), so it costs about as
  /// much as auditing the path again. Builds the index when auditing has not begun (no segment
  /// may be added after). False, with the reason in GetLatestError and `out` as it was, when
  /// memory runs out.
  bool GetOpenStretches(std::vector<OpenStretch>& out);

  /// The tolerance given to the constructor.
  double GetTolerance() const;
  /// Segments stored by AddSegment, and how many of them are walls.
  ///@{
  std::size_t GetSegmentCount() const;
  std::size_t GetWallCount() const;
  ///@}
  /// The running account; the reference lives as long as the audit.
  const AuditSummary& GetSummary() const;
  /// Bytes held for the contour and its index (container capacities).
  std::size_t GetMemoryUsage() const;
  /// The reason for the latest refusal (in English, naming the segment or piece id); empty until
  /// the first. A success does not clear it.
  const std::string& GetLatestError() const;

private:
  struct Impl;
  std::unique_ptr<Impl> m_Impl;
};

}  // namespace crc
