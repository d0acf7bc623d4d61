// SPDX-License-Identifier: MIT
// Reading the tool-centre path back from a run, and exact distances between lines and arcs, used
// to test continuity and offset distance and to measure how close a path comes to the contour.
#pragma once

#include <string>
#include <vector>

#include "contour_generator.h"
#include "tool_path.h"

namespace cutcomp::property {

// One piece of tool-centre path, as the tool travels it.
struct Piece {
  bool arc = false;
  Point from;
  Point to;
  Point centre;         // arcs
  double radius = 0.0;  // arcs: the offset radius
  bool ccw = true;      // arcs
  bool inserted = false;
  std::int64_t id = -1;  // programmed segment it belongs to (anchor for inserted lines)
  crc::crc_status_t phase = crc::CRC_STATUS_NONE;
  // What the host's segment holds after the run.
  Point programmedFrom;  // programmed points (evasion may have moved the end of a segment)
  Point programmedTo;
  crc::crc_dir_t side = crc::CRC_DIR_NONE;
  bool compensated = false;
  bool locate = false;
  bool offsetUnset = false;  // offset start, offset end and intersect point all unset
};

struct Outcome {
  bool ok = false;
  int code = 0;  // failure: message number
  std::int64_t failedId = -1;
  std::vector<Piece> path;  // final segments still in the path, in host order
  int dropped = 0;          // segments taken out of the path by evasion
  std::vector<std::int64_t> droppedIds;
  std::vector<HostNotice> notices;
  unsigned int listCount = 0;  // look-behind entries the engine holds after the run
};

// Runs the case on a fresh engine and host.
Outcome RunCase(const Case& c);

// Index i of the first place where piece i does not end where piece i + 1 starts (within
// `tolerance`), or -1 when the path is continuous.
int FirstBreak(const std::vector<Piece>& path, double tolerance);

// Distance from a point to a programmed segment (a bounded line or arc).
double Distance(const Point& p, const Segment& s);
// Smallest distance between a tool-path piece and a programmed segment, exact up to rounding:
// zero when they cross, otherwise attained at an end point or where a common normal meets both.
double Distance(const Piece& piece, const Segment& s);

// The two segments cross somewhere farther than `tolerance` from `joint`.
bool MeetAwayFrom(const Segment& a, const Segment& b, const Point& joint, double tolerance);

std::string Describe(const Piece& piece);

}  // namespace cutcomp::property
