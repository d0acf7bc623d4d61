// SPDX-License-Identifier: MIT
/// @file
/// Compensation and the gouge audit in one call each. A host that has its contour as a list of
/// lines and arcs, each with its phase, side and an id of its own, gets the tool-centre path
/// back without implementing crc::CCrcTranslator:
///
/// @code
/// crc::Path path = {
///     crc::PathSegment::Line({0, -5}, {0, 0}, crc::CRC_STATUS_ESTABLISH, crc::CRC_DIR_LEFT, 1),
///     crc::PathSegment::Line({0, 0}, {10, 0}, crc::CRC_STATUS_DOING, crc::CRC_DIR_LEFT, 2),
///     crc::PathSegment::Line({10, 0}, {10, 5}, crc::CRC_STATUS_RETRACT, crc::CRC_DIR_LEFT, 3)};
/// const crc::CompensateResult result = crc::Compensate(path, crc::CompensateOptions(1.0));
/// for (const cutcomp::PathPiece& piece : result.path) { ... piece.tool ... }
/// @endcode
///
/// Both are built on the library's own host (crc/host/list_host.h) and its model of a tool path
/// (crc/host/tool_path.h), the ones the command-line tool uses: with the same settings a path
/// comes out exactly as a host driving the engine segment by segment would get it. The defaults
/// of CompensateOptions are the command-line tool's. CPathCompensator does the same one segment
/// at a time, in bounded memory, for paths too long to hold.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <crc/audit/gouge_audit.h>
#include <crc/avoid/gouge_free.h>
#include <crc/compensator/cutter_compensator.h>
#include <crc/export.h>
#include <crc/geometry/point2.h>
#include <crc/host/tool_path.h>

namespace crc {

/// One programmed segment of a path: a line or an arc, in the direction it is travelled.
struct PathSegment {
  /// The programmed geometry. An arc's radius is the distance of `from` from the centre; `to`
  /// must lie at that distance within the arc tolerance (CompensateOptions::arcTolerance). A
  /// whole turn has `fullCircle` set and `to` equal to `from`.
  Curve curve;
  /// The compensation phase: CRC_STATUS_ESTABLISH (the move onto the contour that starts
  /// compensation), CRC_STATUS_DOING (the contour), CRC_STATUS_RETRACT (the move off it that
  /// cancels compensation) or CRC_STATUS_NONE (a move outside compensation, passed through as
  /// programmed).
  crc_status_t phase = CRC_STATUS_DOING;
  crc_dir_t side = CRC_DIR_LEFT;  ///< the side of the direction of travel the tool runs on
  /// The caller's id: any number, handed back with every piece of tool path the segment gives
  /// (a block number, an index). crc::Audit needs ids that increase along its contour.
  std::int64_t id = 0;
  /// A positioning line inside compensation: joined to its neighbours' offset paths but not
  /// offset itself (lines only).
  bool locate = false;

  /// A line from `from` to `to`.
  static PathSegment Line(const __point2<double>& from, const __point2<double>& to,
                          crc_status_t phase, crc_dir_t side, std::int64_t id) {
    PathSegment segment;
    segment.curve.from = from;
    segment.curve.to = to;
    segment.phase = phase;
    segment.side = side;
    segment.id = id;
    return segment;
  }
  /// An arc from `from` to `to` about `centre`, counterclockwise when `ccw` (G3), else
  /// clockwise (G2); a whole turn when `to` equals `from`.
  static PathSegment Arc(const __point2<double>& from, const __point2<double>& to,
                         const __point2<double>& centre, bool ccw, crc_status_t phase,
                         crc_dir_t side, std::int64_t id) {
    PathSegment segment = Line(from, to, phase, side, id);
    segment.curve.arc = true;
    segment.curve.centre = centre;
    segment.curve.ccw = ccw;
    segment.curve.fullCircle =
        from == to;  // exact: a whole turn is asked for by repeating the start
    return segment;
  }
};

/// A programmed path: segments in the order they are travelled.
using Path = std::vector<PathSegment>;

/// How a run that ends without a cancel segment is closed: at the end of the path, before a
/// move outside compensation or before the next start-up segment (the engine's pre-retract
/// option, CCutterCompensator::SetCrcPreRetractOption). Like the engine's enums it holds any
/// int, so that a value outside the table reaches Compensate and is refused there.
enum crc_end_t : int {
  CRC_END_LINE = 0,  ///< a closing line from the tool centre back to the programmed end
  CRC_END_STAY = 1,  ///< the tool stays beside the contour where the last segment left it
  CRC_END_NONE = 2   ///< neither (the path is that of CRC_END_STAY; no end point is reported)
};

/// The unit of a path's lengths, which sets the defaults that are lengths.
enum crc_unit_t : int {
  CRC_UNIT_MM = 0,   ///< millimetres
  CRC_UNIT_INCH = 1  ///< inches
};

/// Fitting tolerance when none is given, in millimetres and in inches: CAM systems post
/// finishing paths with a chord tolerance of a few micrometres to a hundredth of a millimetre;
/// 0.005 mm stays within that and absorbs the rounding of 3-decimal output. 0.0002 in is the
/// same length rounded to the fourth decimal.
///@{
inline constexpr double FIT_TOLERANCE_MM = 0.005;
inline constexpr double FIT_TOLERANCE_INCH = 0.0002;
///@}
/// Gouge tolerance suggested for Audit, in millimetres and in inches: the engine joins offsets
/// at a joint that turns by a few degrees as if it were smooth, up to 0.0019 of the radius
/// closer to the wall; 0.005 mm (0.0002 in) is the fitting tolerance and what the machines that
/// run such programs hold.
///@{
inline constexpr double AUDIT_TOLERANCE_MM = 0.005;
inline constexpr double AUDIT_TOLERANCE_INCH = 0.0002;
///@}

/// The settings of a compensation. The defaults are the command-line tool's.
struct CompensateOptions {
  /// Options for a cutter of radius `cutterRadius` (in the path's unit) and every other setting
  /// at its default.
  explicit CompensateOptions(double cutterRadius) : radius(cutterRadius) {}

  /// The cutter radius. Negative swaps the sides; below EPSILON in size the path is passed
  /// through as programmed (every piece's tool path is its programmed geometry).
  double radius;
  crc_t start = CRC_TYPE_NORMAL;  ///< start-up and cancel strategy
  /// Finished segments the interference check compares a new one with (0: no check).
  unsigned int lookBehind = 3;
  /// Interference evasion: a segment too short for the cutter is dropped (its piece is marked
  /// dropped) instead of refused.
  bool evade = false;
  /// The engine's tolerances for CAM output posted as short chords
  /// (CCutterCompensator::SetCamTolerance); false: its plain interference test.
  bool camTolerance = true;
  /// Where the path comes back to where it has been (an outline closed and run on past its
  /// start, a second lap, a hole left by its lead-out), an offset that meets an earlier one of
  /// the same run on the same side passes the interference test
  /// (CCutterCompensator::SetClosureTolerance); false: the plain test.
  bool closureTolerance = true;
  /// A start-up that controllers make: an entry move after which the tool already stands beside
  /// the contour (CCutterCompensator::SetStartInPlace); false: the engine's plain start-up.
  bool startInPlace = true;
  /// An arc as the entry move, started as the inserting strategy starts it whatever `start`
  /// says (CCutterCompensator::SetArcStartup); false: refused as the engine refuses it.
  bool arcStartup = true;
  crc_end_t end = CRC_END_STAY;  ///< how a run without a cancel segment is closed
  /// Chord fitting: runs of lines in progress shorter than 0.5 mm (0.5 / 25.4 in), as CAM
  /// systems post curves, are replaced by the lines and arcs that stay within `fitTolerance` of
  /// them before compensation (cutcomp::ChordFitter). A fitted piece stands for the segments
  /// from its `id` to its `lastId`. Only consecutive lines of one side, neither locate nor
  /// turning by more than 30 degrees, form a run.
  bool fit = true;
  /// The fitting tolerance, positive (none: FIT_TOLERANCE_MM or FIT_TOLERANCE_INCH by `units`).
  std::optional<double> fitTolerance;
  /// How far the distances from an arc's centre to its two ends may differ, at least 0 (none:
  /// 0.1% of the radius, at least 0.005 mm or 0.0005 in, at most 0.5 mm or 0.05 in, as CAM output
  /// rounded to 3 or 4 decimals needs). An arc within it whose ends are not exactly equidistant
  /// is compensated about the nearest centre on its chord's bisector, so its ends stay put.
  std::optional<double> arcTolerance;
  crc_unit_t units = CRC_UNIT_MM;  ///< the path's unit, for the default lengths above
  /// Gouge-free paths (crc/avoid/gouge_free.h), off by default. Every run is compensated as
  /// without it and its path audited against the whole path (Audit, at `avoidTolerance`, plus
  /// the fitting tolerance where fitting is on); a run the engine refuses or whose path the
  /// audit finds too close to a wall is given its gouge-free path instead (its programmed
  /// segments, not fitted), and every place where that path leaves material is reported
  /// (CompensateResult::left). Runs compensated cleanly come out exactly as without it.
  /// Compensate only: CPathCompensator refuses it (the walls are the whole path). Needs ids
  /// that increase along the path, as Audit does.
  bool avoid = false;
  /// The gouge tolerance of `avoid`, positive (none: AUDIT_TOLERANCE_MM or AUDIT_TOLERANCE_INCH
  /// by `units`).
  std::optional<double> avoidTolerance;
};

/// Why a compensation stopped.
struct PathFailure {
  /// True when the input was refused before the engine saw it (an option or a segment that
  /// cannot be used; `gloss` says what), false when the engine refused a segment.
  bool input = false;
  /// Ordinal of the segment in the path, from 0 (for an engine refusal of a fitted piece, the
  /// first segment it stands for; for an inserted line, the segment it was inserted for); -1
  /// for an option.
  std::int64_t index = -1;
  std::int64_t id = -1;   ///< that segment's id; -1 for an option
  bool inserted = false;  ///< the engine refused a line it had inserted
  /// The engine's message number (1..16, crc_error_t); 0 for input. When the cutter does not
  /// fit inside an arc (5), the engine may refuse the segment before the arc, while it settles
  /// the joint between the two.
  int code = 0;
  std::string gloss;    ///< in English: the message's gloss, or what is wrong with the input
  std::string message;  ///< the engine's own message text (UTF-8); empty for input
};

/// A run CompensateOptions::avoid took up: the engine refused it, or its path came closer than
/// the radius less the tolerance to a wall.
struct AvoidedRun {
  std::int64_t firstId = 0;  ///< the run's first segment
  std::int64_t lastId = 0;   ///< and its last
  /// The engine's message number (1..16) when it refused the run, 0 when it completed.
  int engineCode = 0;
  std::size_t engineGouges = 0;  ///< gouges the audit found in the engine's path
  /// The gouge-free path replaces the engine's: CompensateResult::path[firstPiece, endPiece).
  /// False when the run has none (`error` says why): a run the engine refused then fails the
  /// compensation as without `avoid`; a completed one keeps the engine's path, gouges and all.
  bool written = false;
  /// The run's pieces in CompensateResult::path: [firstPiece, endPiece).
  ///@{
  std::size_t firstPiece = 0;
  std::size_t endPiece = 0;
  ///@}
  std::string error;  ///< why no gouge-free path (English, naming the segment ids)
};

/// What Compensate returns.
struct CompensateResult {
  bool ok = false;  ///< every segment was compensated
  /// The tool-centre path, one piece per final segment in order: programmed segments, lines the
  /// engine inserted (`inserted`, with the id of the segment they were inserted for), segments
  /// evasion dropped (`dropped`, no tool path) and moves outside compensation. After a failure,
  /// the pieces that were final before it.
  std::vector<cutcomp::PathPiece> path;
  PathFailure failure;  ///< when not ok, why
  /// With CompensateOptions::avoid: every run the engine refused or whose path came too close
  /// to a wall, in path order (empty without it).
  std::vector<AvoidedRun> avoided;
  /// With CompensateOptions::avoid: every place where a gouge-free path leaves material, in path
  /// order; ids are the caller's, MaterialLeft::before and after index `path`.
  std::vector<MaterialLeft> left;
};

/// Compensates a whole path. Runs are found from the phases: a run begins at a start-up
/// segment (or the first compensated segment after a move outside compensation) and ends after
/// its cancel segment, before a move outside compensation, before the next start-up segment or
/// at the end of the path; each run is compensated by an engine of its own.
///
/// Refuses (ok false, `failure.input`): a radius that is not finite; a strategy, end, unit or
/// phase outside its enum; a fitting tolerance that is not positive and finite; an arc
/// tolerance that is negative or not finite; a coordinate that is not finite or beyond 1e100 in
/// size; an arc whose centre lies on its start, whose ends differ in distance from the centre by
/// more than the arc tolerance, whose ends coincide without `fullCircle` or part with it; a
/// locate arc; with `avoid`, an avoid tolerance that is not positive and finite, or ids that
/// do not increase. Then the engine's own refusals (ok false, `failure.code`); with `avoid`,
/// only those of a run that has no gouge-free path either (`failure.gloss` then adds why, and
/// the runs after it are not compensated). May throw std::bad_alloc.
CRC_API CompensateResult Compensate(const Path& path, const CompensateOptions& options);

/// Compensation one segment at a time, for paths too long to hold: Compensate's result piece by
/// piece as the pieces become final. Memory stays bounded whatever the length of the path: a few
/// segments and, with fitting, the chords of the run being fitted (at most 40,000). Move-only;
/// one thread at a time.
class CRC_API CPathCompensator {
public:
  /// A compensator with `options`. Options Compensate would refuse, and `avoid`, make the first Add
  /// or Finish fail. May throw std::bad_alloc.
  explicit CPathCompensator(const CompensateOptions& options);
  ~CPathCompensator();
  /// Moving hands the state over; a moved-from compensator may only be assigned to or destroyed.
  ///@{
  CPathCompensator(CPathCompensator&& other) noexcept;
  CPathCompensator& operator=(CPathCompensator&& other) noexcept;
  ///@}
  CPathCompensator(const CPathCompensator&) = delete;
  CPathCompensator& operator=(const CPathCompensator&) = delete;

  /// Takes the next segment of the path and appends the pieces that became final to `out`
  /// (a piece becomes final once the engine has seen up to three segments after it, or fitting
  /// has ended its run). False when the segment or the options are refused or the engine
  /// refuses a segment (GetFailure); after a failure every call fails and changes nothing. May
  /// throw std::bad_alloc, after which the compensator may only be destroyed.
  bool Add(const PathSegment& segment, std::vector<cutcomp::PathPiece>& out);
  /// The path ends: appends the remaining pieces to `out`. A following Add begins a new path.
  /// False as Add.
  bool Finish(std::vector<cutcomp::PathPiece>& out);
  /// Why the latest call failed (meaningful after a false result).
  const PathFailure& GetFailure() const;

private:
  struct Impl;
  std::unique_ptr<Impl> m_Impl;
};

/// What Audit returns.
struct AuditResult {
  /// Every piece was measured. False when the input could not be used (`error` says what, and
  /// nothing is reported).
  bool ok = false;
  std::string error;  ///< why not ok, in English, naming the segment or piece
  /// One gouge per piece and wall it comes closer to than radius - tolerance, in the order of
  /// the pieces. Gouge::piece is the index of the piece in the tool path given, Gouge::segment
  /// the index of the wall in the contour.
  std::vector<Gouge> gouges;
  /// The account of the whole path (nearest and deepest gouge, the clearance bound), with
  /// pieces numbered as in `gouges`.
  AuditSummary summary;
};

/// The gouge audit of a tool path against a programmed contour (CGougeAudit): every piece
/// against every wall of the whole contour. The walls are the contour's segments in progress
/// (CRC_STATUS_DOING) that are not locate lines, less what the audit's wall rules take away
/// with the segments' sides and the radius: leads and run-ons in the air of the loops a run
/// closes, and roughing walls a later pass finishes behind (see crc/audit/gouge_audit.h; a
/// segment without a side keeps its candidates walls). A piece is attached to the contour segment
/// whose id it carries: a start-up, cancel or positioning piece may then cut the start-up's own
/// notch at the wall it leads onto or off (see crc/audit/gouge_audit.h).
///
/// `path` is any tool path: Compensate's, or one made elsewhere with `tool` and `id` filled in.
/// Dropped pieces and pieces outside compensation (phase CRC_STATUS_NONE) are not audited.
/// `radius` is the cutter radius (its size is taken; lengths in the contour's unit) and
/// `tolerance` (at least 0) how much closer than the radius the tool may come before it is a
/// gouge (AUDIT_TOLERANCE_MM suggests one). A path fitted to chords (CompensateOptions::fit)
/// may come up to the fitting tolerance nearer the chords than the radius: audit it with a
/// tolerance above that.
///
/// Refuses (ok false): a radius below EPSILON in size or not finite, a negative or non-finite
/// tolerance, contour ids that do not increase, and what CGougeAudit refuses (coordinates that
/// are not finite or beyond 1e100, arcs whose centre lies on an end). May throw std::bad_alloc.
CRC_API AuditResult Audit(const Path& contour, const std::vector<cutcomp::PathPiece>& path,
                          double radius, double tolerance);
/// The same for a tool path given as segments: each segment's curve is the tool-centre path,
/// its id attaches it, its phase CRC_STATUS_NONE leaves it out.
CRC_API AuditResult Audit(const Path& contour, const Path& path, double radius, double tolerance);

}  // namespace crc
