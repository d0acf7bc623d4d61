// SPDX-License-Identifier: MIT
// Bounded proximity tests between pieces of tool-centre path: segment/segment, segment/arc,
// arc/arc, and the test that an offset chord points against its programmed chord. Unlike the
// corner computations these respect the ends of the pieces. The pieces are passed as segments
// whose programmed geometry is the offset geometry under test. Stateless; inputs are only read.
#pragma once

#include <crc/nodes/crc_arc.h>
#include <crc/nodes/crc_line.h>

#include "geometry/intersection.h"

namespace crc {

// Both vectors longer than EPSILON, parallel (cross terms equal within EPSILON, an absolute test
// that scales with the lengths) and pointing in opposite directions.
bool IsOppositeVector(const __point2<double>& v, const __point2<double>& w);

// Distance from p to the infinite line through the segment; to its start for a zero-length one.
double GetDistanceToLine(const __point2<double>& p, const CCrcLine* line);

// p lies on the segment: at an end within EPSILON, or by the distance-sum test (which admits
// points slightly off the segment: the sum grows with the square of the sideways distance).
bool IsPointOnLine(const __point2<double>& p, const CCrcLine* line);

// The infinite line against the full circle: INTERSECT_TWO (p1 toward the line's start),
// INTERSECT_ONE (tangent, the foot of the perpendicular), INTERSECT_NONE, or INTERSECT_INVALID
// for a zero-length line or a radius within EPSILON of zero.
int IntersectLineCircle(const CCrcLine* line, const CCrcArc* arc, __point2<double>& p1,
                        __point2<double>& p2);

// Segment against segment. Parallel segments joined end to start give INTERSECT_ONE when one
// continues the other and INTERSECT_OVERLAP when it runs back over it; collinear segments that
// share no end give INTERSECT_NONE. A crossing at a's start or end (t = 0 or 1) is reported
// without checking that it lies on b.
int IntersectLineSegments(const CCrcLine* a, const CCrcLine* b, __point2<double>& p);
// A straight piece of path given by its ends, with its vector and length worked out once (a
// piece is often compared with several others).
struct LinePiece {
  LinePiece() = default;
  LinePiece(const __point2<double>& from, const __point2<double>& to)
      : start(from), end(to), vector(to - from), length(vector.GetLength()) {}
  __point2<double> start;
  __point2<double> end;
  __point2<double> vector;  // end - start
  double length = 0.0;
};
// The same for two pieces given by their ends, taken as parallel when their cross product
// (a.vector x b.vector) is below `parallelTolerance` in magnitude. EPSILON is the absolute test
// above, which takes two short pieces at an angle as parallel (the cross product scales with both
// lengths); EPSILON * a.length * b.length takes them as parallel only when the sine of their
// angle is below EPSILON, whatever their lengths.
int IntersectLineSegments(const LinePiece& a, const LinePiece& b, double parallelTolerance,
                          __point2<double>& p);

// Segment against arc: the crossings of the line and the circle that lie on both pieces.
int IntersectLineArcSegments(const CCrcLine* line, const CCrcArc* arc, __point2<double>& p1,
                             __point2<double>& p2);

// Two arcs of one circle (centres exactly equal, radii within EPSILON): chained or sharing an
// end, closing the circle, overlapping, or apart. Only b's ends are tested against a's range,
// so a b that contains all of a with both ends outside it gives INTERSECT_NONE.
int IntersectConcentricArcs(const CCrcArc* a, const CCrcArc* b, __point2<double>& p1,
                            __point2<double>& p2);

// Arc against arc: the one-circle test when centres and radii agree within EPSILON, else the
// crossings of the two circles that lie on both arcs.
int IntersectArcSegments(const CCrcArc* a, const CCrcArc* b, __point2<double>& p1,
                         __point2<double>& p2);

}  // namespace crc
