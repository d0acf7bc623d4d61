// SPDX-License-Identifier: MIT
// The Fanuc-family profile cycles as moves: G70 (finish the profile once) and the type I
// roughing cycles G71 (passes along Z) and G72 (passes along X), from the profile's moves and the
// cycle's words to the list of moves the control would make, in (Z, X radius).
//
// The profile (blocks ns to nf) comes in as moves already resolved from the cycle's start point
// (its first move, block ns, starts there). Whether it is the programmed profile or, when nose
// radius compensation is in force, the compensated path of the controlled point, is the
// caller's choice: the expansion only follows it.
//
// G71, type I, as the Fanuc-family manuals define it (two-block form "G71 U(d) R(e); G71 P(ns)
// Q(nf) U(u) W(w) F"; Haas's one-block form gives d as D):
//   - A is the start point, A' the end of block ns (type I: ns moves in X only), B the end of
//     block nf. The finished shape A'..B is shifted by the finishing allowances (u/2 in X, w in
//     Z; a translation, not an offset along the normals) and must be monotonic in X and in Z.
//   - Passes along Z, each d deeper than the last, from A toward A': an in-feed in X from the
//     retract level to the pass's depth (rapid when block ns is G0, at feed when G1), a cut along
//     Z at feed to the shifted shape, a retract of e in X and e back in Z (45 degrees) at rapid,
//     and a rapid back to A's Z.
//   - When the next depth would reach the shifted A' or pass it, the roughing passes end; the
//     tool feeds in to the shifted A' and cuts along the whole shifted shape to the shifted B
//     (the pre-finishing cut that removes the steps the passes leave and leaves even
//     allowances), then returns to A at rapid.
// G72 is the same with X and Z exchanged: passes along X, depth in Z, block ns moving in Z only.
// G70 runs the profile once from the start point, each block with its own motion, and returns to
// the start point at rapid.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tool_path.h"

namespace cutcomp::lathe {

// A move of a profile, or of what a cycle makes of it: (Z, X radius).
struct CycleMove {
  Curve curve;         // a line or an arc (arcs: `radius` set)
  bool rapid = false;  // G0; otherwise at the cutting feed
  std::int64_t id =
      -1;  // the profile block it follows (the caller's id); -1: a move the cycle adds
};

struct CycleResult {
  bool ok = false;
  std::vector<CycleMove> moves;
  std::string error;          // set when !ok
  std::int64_t errorId = -1;  // the profile block the error concerns, -1 for the cycle's words
};

// Program units. The cycles refuse coordinates and words beyond it (and NaN): no lathe travels
// a million kilometres, and a pass's points are sums of a few such values, which stay far from
// overflowing.
inline constexpr double MAX_CYCLE_COORDINATE = 1e9;

// More passes than this is a mistake in the words (a depth of cut of 0.001 over 100 mm), not a
// program to run: the expansion is refused before it fills memory.
inline constexpr std::size_t MAX_ROUGHING_PASSES = 10000;

// G70: the profile's moves as they are, then a rapid back to `start` (none when the profile
// ends there).
// refuses: an empty profile; a coordinate or tolerance that is not a number within
//   MAX_CYCLE_COORDINATE of zero; a profile
//   that does not start at `start` or is not continuous (within `tolerance`).
CycleResult ExpandFinishing(const Point& start, const std::vector<CycleMove>& profile,
                            double tolerance);

enum class RoughingAxis {
  Z,  // G71: passes along Z, depth of cut in X
  X,  // G72: passes along X, depth of cut in Z
};

struct RoughingCycle {
  RoughingAxis along = RoughingAxis::Z;
  double depth = 0.0;    // d: depth of each pass (in X a radius: G71's U is a radius value)
  double retract = 0.0;  // e: the lift after each pass, along both axes (45 degrees)
  Point allowance;       // (w, u/2): the shift of the finished shape in (Z, X radius)
};

// The type I roughing passes, the pre-finishing cut and the return to `start`. Every move the
// cycle adds has id -1; the moves of the pre-finishing cut carry their profile block's id.
// refuses: a depth of cut that is not positive, a negative retract, a value or coordinate that
//   is not a number within MAX_CYCLE_COORDINATE of zero; a profile without a shape after block ns;
//   block ns moving along the passes' axis as well (type II) or not moving toward the part at all;
//   a profile that is not continuous; a shape that turns back in either axis (a pocket, type II),
//   or does not move along the passes' axis at all; allowances that put the shape's start level
//   with the start point or beyond it; more than MAX_ROUGHING_PASSES passes.
CycleResult ExpandRoughing(const Point& start, const std::vector<CycleMove>& profile,
                           const RoughingCycle& cycle, double tolerance);

}  // namespace cutcomp::lathe
