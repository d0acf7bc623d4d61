// SPDX-License-Identifier: MIT
/// @file
/// The one model of a tool-centre path, shared by the one-call API (crc/path.h), the
/// command-line tool's writers, the fixture runner, the property tests and the end-to-end tests:
/// a piece of path per final host segment (its kind and geometry, the programmed segment it
/// stands for, phase, side, inserted or dropped), and the checks every reader of a path needs
/// (continuity, distance to a programmed segment, the angle an arc turns through).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <crc/audit/gouge_audit.h>
#include <crc/export.h>
#include <crc/geometry/point2.h>
#include <crc/nodes/crc_node.h>

#include "list_host.h"

namespace cutcomp {

/// A point or vector of the plane.
using Point = crc::__point2<double>;

/// A bounded straight line or circular arc in the plane, in the direction it is travelled: the
/// library's own curve (what the gouge audit measures) with the arc's radius kept beside it.
struct Curve : crc::Curve {
  double radius = 0.0;  ///< arcs: the radius (of a tool-centre arc, its offset radius)
};

/// The angle an arc turns through from its start to its end in its own sense, measured about
/// its centre from the polar angles of its end points: in [0, 2 pi) for a partial arc (0 when
/// the ends coincide), 2 pi for a full circle, 0 for a line.
CRC_API double Sweep(const Curve& curve);
/// Length travelled: the chord of a line, radius times sweep of an arc.
CRC_API double Length(const Curve& curve);

/// A line or arc from the programmed geometry a segment holds now (evasion may have moved an
/// end). A segment built from centre and angles with a whole turn is a full circle.
CRC_API Curve ProgrammedCurve(const crc::CCrcNode& node);

/// One piece of the tool-centre path: what one final host segment stands for.
struct PathPiece {
  /// Tool-centre geometry. An inserted line's programmed points are its tool path; every other
  /// segment travels its offset points, an arc about its programmed centre with its offset
  /// radius and turning sense. Meaningless when `dropped`.
  Curve tool;
  Curve programmed;  ///< the host segment's programmed geometry after the run
  /// The source's id of the programmed segment; for an inserted line, its anchor's id.
  std::int64_t id = -1;
  /// The id of the last programmed segment the piece stands for: `id` itself, except for a
  /// piece fitted to a run of chords (crc::Compensate with fitting), which stands for the
  /// consecutive segments from `id` to `lastId`.
  std::int64_t lastId = -1;
  crc::crc_status_t phase = crc::CRC_STATUS_NONE;  ///< the segment's compensation phase
  crc::crc_dir_t side = crc::CRC_DIR_NONE;         ///< the side the segment carries after the run
  bool inserted = false;                           ///< a line the engine handed to the host
  bool dropped = false;  ///< taken out of the path by interference evasion
  bool locate = false;   ///< a positioning line, not offset
  /// The engine never wrote an offset point (a segment left as programmed, or refused).
  bool offsetUnset = false;
};

/// The piece one final host segment stands for (`lastId` = `id`).
CRC_API PathPiece ReadPiece(const HostSegment& segment);
/// ReadPiece of every segment, in order.
CRC_API std::vector<PathPiece> ReadPath(const std::vector<HostSegment>& segments);

/// Continuity: the first index i whose piece ends farther than `tolerance` from the start of the
/// next piece that is not dropped (dropped pieces are skipped on both sides); none when the path
/// is continuous.
CRC_API std::optional<std::size_t> FirstBreak(const std::vector<PathPiece>& path, double tolerance);

/// Exact distances between bounded curves, up to rounding: zero where they cross, otherwise
/// attained at an end point or where a common normal meets both.
///@{
CRC_API double Distance(const Point& p, const Curve& curve);
CRC_API double Distance(const Curve& a, const Curve& b);
///@}
/// Points where two curves cross or touch; two lines only where they cross properly (overlapping
/// collinear lines give none).
CRC_API std::vector<Point> Crossings(const Curve& a, const Curve& b);

/// A line of text for a curve or a piece, every number with 17 significant digits (for test
/// failures and reports).
///@{
CRC_API std::string Describe(const Curve& curve);
CRC_API std::string Describe(const PathPiece& piece);
///@}

/// The host's sequence is whole when its programmed pieces carry consecutive ids in order and
/// every inserted piece sits, among the pieces inserted for the same anchor, right before or
/// after its anchor. Returns the first piece that breaks that, none when the sequence is whole.
CRC_API std::optional<std::size_t> FirstOutOfSequence(const std::vector<PathPiece>& path);

}  // namespace cutcomp
