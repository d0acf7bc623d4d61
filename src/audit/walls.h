// SPDX-License-Identifier: MIT
// What of the programmed contour bounds the part. The audit's index holds every candidate wall
// (a segment in progress that cuts and is not a positioning line); this file decides, when a
// piece comes close enough to one to gouge it, which stretches of it really bound the finished
// part. Two rules take stretches away, each from the geometry of the program alone:
//
// Leads and run-ons. A run's programmed path is decomposed into the loops it closes (the path
// comes back to a point it has passed: the loop is erased and the path goes on from there, as a
// loop-erased walk does) and what is left, the backbone: the moves that lead into the first loop,
// join one loop to the next, or run on past the last. A stretch of the backbone that lies in the
// air of an adjacent loop (on the side of the loop where the tool runs, by its winding number)
// and within the loop's finishing region (see below) is no wall: the tool clears it anyway while
// it finishes the loop. Lead-in and lead-out arcs, a side run on past the start corner, an
// outline closed and run on up its first side are such stretches. A run that closes no loop
// (an open profile) keeps every segment a wall.
//
// Later passes. A stretch of a wall that lies in the finishing region of a later wall that
// stands behind it (on its material side: the later pass cuts deeper on the same side) is no
// wall: it was a roughing wall, and the later pass's cutter removes what stood behind it by
// design. Roughing then finishing, a second pass deeper, a pocket widened by a second circle,
// a second lap adding chamfers are such cases. A later wall facing the earlier one (a slot
// too narrow, the same contour cut from its other side) or crossing it at right angles (a
// contour across the cut of another) releases nothing.
//
// The finishing region of a wall stretch W of a run of cutter radius r: the points whose foot
// on W lies inside W and that stand on the tool's side of W by more than the tolerance and by
// less than 2r (the band the cutter sweeps as it runs beside W), and, at an end of W where the
// path turns away from the tool (a convex corner), the sector of radius 2r about the corner
// between the two walls' normals (the cutter sweeps it going round). Every boundary of a region
// is a line or a circle, so the stretches are cut out exactly: a wall is split where it crosses
// a boundary and each piece is judged at its middle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "audit/clearance.h"
#include "audit/contour_index.h"

namespace crc::audit {

// What the audit knows of a segment besides its geometry, in one byte.
struct Role {
  enum : std::uint8_t {
    PHASE_MASK = 3,  // crc_status_t + 1: 0 none, 1 start-up, 2 in progress, 3 cancel
    SIDE_LEFT = 4,
    SIDE_RIGHT = 8,
    LOCATE = 16,
    RAPID = 32,
  };
  static std::uint8_t Make(crc_status_t phase, crc_dir_t side, bool locate, bool rapid) {
    auto role = static_cast<std::uint8_t>((static_cast<int>(phase) + 1) & PHASE_MASK);
    role |= side == CRC_DIR_LEFT ? SIDE_LEFT : side == CRC_DIR_RIGHT ? SIDE_RIGHT : 0;
    role |= locate ? LOCATE : 0;
    role |= rapid ? RAPID : 0;
    return role;
  }
  static crc_status_t Phase(std::uint8_t role) {
    return static_cast<crc_status_t>(static_cast<int>(role & PHASE_MASK) - 1);
  }
  // +1 for the left, -1 for the right, 0 when unknown.
  static int Side(std::uint8_t role) {
    return (role & SIDE_LEFT) != 0 ? 1 : (role & SIDE_RIGHT) != 0 ? -1 : 0;
  }
};

// A compensation run: consecutive segments from a start-up on.
struct RunSpan {
  std::size_t first = 0;  // its first segment
  std::size_t last = 0;   // one past its last
  double radius = 0.0;    // the cutter's, 0 when unknown
};

// Positions along a track: a line by the fraction of the way from its start, an arc by the
// fraction of its sweep.
Point PointAt(const Track& track, double s);
double PositionOf(const Track& track, const Point& p);  // p on the track or near it
Track Stretch(const Track& track, double s0, double s1);
Point TangentAt(const Track& track, double s);  // unit, in the direction of travel
// Positions on `track` (inside [0, 1]) where it meets the whole line through `a` along `d`, and
// the circle about `c` of radius `rho`. Each crossing once; a track along the line meets it
// nowhere.
void MeetLine(const Track& track, const Point& a, const Point& d, std::vector<double>& out);
void MeetCircle(const Track& track, const Point& c, double rho, std::vector<double>& out);

// A stretch of a segment.
struct Part {
  std::uint32_t k = 0;
  double s0 = 0.0;
  double s1 = 1.0;
};

// How a piece relates to the walls, for the kind of a gouge.
enum lead_t : std::uint8_t { LEAD_NONE = 0, LEAD_IN = 1, LEAD_OUT = 2 };

// The walls of one contour, resolved lazily: a run's loops are found the first time one of its
// walls is asked about, a wall's later passes the first time it is asked about. Holds references
// to the audit's storage, which must outlive it and not change.
class WallRules {
public:
  WallRules(const ContourIndex& contour, const std::vector<std::uint8_t>& roles,
            const std::vector<RunSpan>& runs, double tolerance);
  ~WallRules();
  WallRules(const WallRules&) = delete;
  WallRules& operator=(const WallRules&) = delete;

  // The stretches of candidate wall k that bound the part: null when all of it does (the usual
  // answer), else a list that may be empty (none of it does). Throws std::bad_alloc.
  const std::vector<Part>* Walls(std::size_t k);
  // Whether segment k holds a lead of its run (a stretch of the backbone in the air of a loop),
  // and which way it leads. Throws std::bad_alloc.
  lead_t LeadOf(std::size_t k);
  // The run of segment k.
  std::size_t RunOf(std::size_t k) const;

  // Why a stretch of a candidate wall bounds nothing.
  enum open_t : std::uint8_t { OPEN_LEAD = 0, OPEN_ROUGHING = 1 };
  struct OpenPart {
    Part part;
    open_t why;
  };
  // The stretches of candidate wall k that bound nothing, and why, appended to `out` (resolving
  // k as Walls does). Throws std::bad_alloc.
  void Open(std::size_t k, std::vector<OpenPart>& out);

private:
  struct Impl;
  std::unique_ptr<Impl> m_Impl;
};

}  // namespace crc::audit
