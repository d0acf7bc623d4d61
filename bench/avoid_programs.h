// SPDX-License-Identifier: MIT
// Generated part programs for the gouge-free survey: outlines of the kinds machinists meet where a
// cutter does not fit everywhere (lines and arcs, stars, gears, notched plates, slots, zig-zags,
// outlines broken by tiny steps), each one compensation run with a start-up move that comes in
// along the normal of a wall from where the tool clears every wall, and a cancel move back out
// the same way. The same seed gives the same programs anywhere.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <crc/crc.h>

namespace avoidbench {

using Point = crc::__point2<double>;

enum Family {
  LINES_AND_ARCS,  // a jittered polygon whose edges are lines or arcs bulging either way
  STAR,            // 5 to 16 points, sharp
  GEAR,            // 8 to 30 trapezoid teeth, root corners sharp or filleted
  NOTCHES,         // a plate with rectangular and V notches cut into its edges
  SLOT,            // a slot pocket: straight, tapered, or two chambers joined by a neck
  ZIGZAG,          // an open profile of teeth between two flats
  TINY_STEPS,      // a polygon whose edges are broken by steps of 0.001 to 0.5
  FAMILY_COUNT
};
extern const char* const FAMILY_NAMES[FAMILY_COUNT];

struct Program {
  Family family = LINES_AND_ARCS;
  double radius = 0.0;
  // The run: start-up line, the contour in progress, cancel line; ids 0, 1, ...; every segment
  // carries the tool's side and the radius.
  std::vector<crc::ContourSegment> run;
};

// The next program of `family` from `random`: drawn again until its start-up move clears every
// wall by the radius (a program whose tool starts inside the part is no program to survey).
Program MakeProgram(Family family, std::mt19937_64& random);

// Distances in closed form, the survey's own (not the audit's): from a point to a line or an arc.
double DistanceTo(const Point& p, const crc::Curve& curve);
// The point at fraction t of a curve (an arc by angle).
Point PointOn(const crc::Curve& curve, double t);
// Length of a curve.
double LengthOf(const crc::Curve& curve);
// The box of a curve: for an arc, its ends and the extremes of its circle it sweeps through.
void BoundsOf(const crc::Curve& curve, double& x0, double& y0, double& x1, double& y1);

}  // namespace avoidbench
