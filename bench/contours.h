// SPDX-License-Identifier: MIT
// The contours the benchmarks compensate: closed outlines described once as lines and arcs,
// turned into an engine program (start-up line, the outline, cancel line) for cutcomp and into
// a plain vertex list for the polygon-offset peers.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <crc/crc.h>

namespace cutcomp::bench {

using Point = crc::__point2<double>;

// One piece of a closed outline: a line, or an arc about `centre` in the given turning sense.
struct Piece {
  bool arc = false;
  Point start;
  Point end;
  Point centre;
  bool ccw = true;
};

// A closed outline, counterclockwise, starting and ending in the middle of a straight edge so
// that every real corner goes through the corner connection (the start-up and cancel lines meet
// the outline where it runs straight on).
struct Contour {
  std::string name;
  std::vector<Piece> loop;
  // The outline's vertices when it is a polygon (no arcs), counterclockwise, not repeated at
  // the end; empty for outlines with arcs. This is what the peers offset.
  std::vector<Point> polygon;
};

// The cutter radius every benchmark uses, in the contours' unit (mm): a 6 mm end mill.
inline constexpr double CUTTER_RADIUS = 3.0;

// Rounded rectangle 120 x 80 with 10 mm corner radii: four lines, four tangent arcs.
Contour RoundedRectangle();
// An L-shaped bracket: rounded outside corners, a concave inside fillet, a semicircular ear and
// two sharp square corners; lines joined to arcs tangentially and at corners.
Contour Bracket();
// A 24-point star, outer radius 50, inner 32: sharp outside corners (the engine bridges them
// with inserted lines) and inside corners at the notches.
Contour Star();
// The same star with a 0.8 mm flat at the bottom of each notch. The flat lies between two
// inside corners and is far shorter than the cutter needs there: its offset would run
// backwards, which only the look-ahead evasion can resolve (it takes the flat out of the path).
Contour StarFlats();
// A circle of radius 40 as 720 chords (0.35 mm each), as a CAM system posts it.
Contour CircleChords();
// A closed cubic B-spline with six lobes and concave bays, as 2000 chords of about 0.15 mm
// (uniform in the spline parameter).
Contour SplineChords();
// The same spline as a CAM system posts it with a chord tolerance: chords deviate at most
// 0.001 mm from the curve and are at most 1 mm long.
Contour SplineAdaptive();

std::vector<Contour> AllContours();

// The engine program for the outline, compensated on the right (outside of a counterclockwise
// outline): a start-up line leading in along the first edge, the outline, and a cancel line
// leading out along the same edge. With `compensated` set every segment is marked as already
// compensated, so the engine passes each straight through (used to time the host alone).
std::vector<std::unique_ptr<crc::CCrcNode>> MakeProgram(const Contour& contour, bool compensated);

// Deep copy of a program (the engine writes into the segments, so every run needs fresh ones).
std::vector<std::unique_ptr<crc::CCrcNode>> Clone(
    const std::vector<std::unique_ptr<crc::CCrcNode>>& program);

// Signed area of a closed polygon (positive when counterclockwise).
double Area(const std::vector<Point>& polygon);

}  // namespace cutcomp::bench
