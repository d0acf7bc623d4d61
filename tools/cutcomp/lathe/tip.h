// SPDX-License-Identifier: MIT
// The nose of a turning tool: where its imaginary tip lies from the centre of its nose radius,
// and the path of that tip (the controlled point) from the path of the nose centre.
//
// A lathe tool is touched off at its imaginary tip, the corner where the nose's tangents along
// X and along Z meet, not at the centre of its nose radius. The engine offsets the programmed
// contour by the nose radius and so gives the path of the nose centre; the control moves the
// touched-off point, so the program must carry the nose-centre path moved by the vector from the
// nose centre to the tip. The move is a translation: a line stays a line of the same length, an
// arc keeps its radius and sense and its centre moves by the same vector.
//
// Coordinates are those of the G18 plane: (Z, X), X as a radius (diameter programs are halved
// before and doubled after, lathe_words.h). Seen from +Y, Z points to the right and X up.
#pragma once

#include <string>

#include "tool_path.h"

namespace cutcomp::lathe {

// How a chart of tip numbers is drawn. The numbers are places on a chart of the tool seen from
// above, Z to the right, each tool drawn with its nose towards the chart's centre:
//
//     4   8   3
//     5  0,9  7        the tip of tool n lies from its nose centre towards the chart's centre:
//     1   6   2        tool 3 (upper right) has its tip down and to the left of its nose centre.
//
// The numbers are the same on both charts; which way X runs on the chart differs.
enum class TipChart {
  // X up the chart: the tool behind the spindle's centre line, seen from above (from +Y, the
  // way G2/G3 and G41/G42 are defined). The Fanuc-family manuals' chart, and the offset pages'
  // tip column of those controls: tip 3 has its tip at -X -Z of the nose centre (the outside
  // turning tool cutting toward the chuck), tip 2 at +X -Z (the boring bar).
  X_UP,
  // X down the chart: the tool in front of the centre line, on the operator's side, with +Y
  // pointing at the floor. LinuxCNC's lathe orientation chart (the tool table's Q, G41.1 L):
  // its orientation 2 is the outside turning tool, its tip at -X -Z of the nose centre.
  X_DOWN,
};

// The vector from the nose centre to the imaginary tip, in plane coordinates (Z, X radius).
struct TipVector {
  bool ok = false;
  Point offset;       // (0, 0) for directions 0 and 9: the nose centre is the controlled point
  std::string error;  // set when !ok
};

// Directions 1-4 put the tip on a diagonal, one nose radius along each axis (where the tangents
// meet); 5-8 on an axis, one nose radius out (the middle of the nose's edge); 0 and 9 at the
// nose centre. The radius's sign is not the tip's: a negative radius that swaps the sides of
// compensation leaves the tool, and its tip, as they are, so |noseRadius| is used.
// refuses: a direction outside 0-9, a radius that is not a finite number.
TipVector TipOf(int direction, double noseRadius, TipChart chart);

// The controlled point's curve from the nose centre's (`tip` from TipOf), and back. A full
// circle stays a full circle; the arc's radius is kept.
Curve ControlledCurve(const Curve& noseCentre, const Point& tip);
Curve NoseCentreCurve(const Curve& controlled, const Point& tip);

// A piece of the engine's path as the control is to move it: the tool geometry moved by `tip`,
// everything else (programmed geometry, ids, phase, flags) as it was. A dropped piece is
// returned unchanged (its geometry means nothing).
PathPiece ControlledPiece(const PathPiece& noseCentre, const Point& tip);

}  // namespace cutcomp::lathe
