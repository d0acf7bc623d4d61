// SPDX-License-Identifier: MIT
// Where the tool-centre paths of two consecutive segments meet: the corner points for every
// transition type, offset copies, and the line/circle and circle/circle crossings the inside
// corners need. Stateless; the segments passed in are only read.
#pragma once

#include <memory>

#include <crc/compensator/cutter_compensator.h>
#include <crc/nodes/crc_arc.h>
#include <crc/nodes/crc_line.h>

namespace crc {

// Result codes of the counting intersection functions.
inline constexpr int INTERSECT_INVALID = -1;  // degenerate input
inline constexpr int INTERSECT_NONE = 0;
inline constexpr int INTERSECT_ONE = 1;      // first output point written
inline constexpr int INTERSECT_TWO = 2;      // first and second output points written
inline constexpr int INTERSECT_OVERLAP = 5;  // the elements share a stretch

// Connection points of the joint a -> b for corner `type` at cutter radius `radius`, side taken
// from a. CONNECT_TANGENT succeeds at once without touching p1, p2. CONNECT_EXTEND writes p1
// (meeting point of the extended offsets); CONNECT_INSERT writes p1 and p2 (the two outer
// corners of the bridge); CONNECT_SHORTEN writes p1 (crossing of the offset paths). On failure
// p1 and p2 are left as they were, except for two arcs whose chosen crossing is not on both
// offset arcs (p1 then holds it).
bool CalculateIntersection(const CCrcNode* a, const CCrcNode* b, const connect_t& type,
                           const double& radius, __point2<double>& p1, __point2<double>& p2);
// A joint prev -> next as the corner computations read it, worked out once per joint: each
// segment as a line or an arc (by the kind rule), the unit directions of travel at the joint
// (zero for a segment of no kind or a line shorter than EPSILON), the lines' lengths as the
// directions were measured, and the joint's type.
struct Joint {
  const CCrcNode* prev = nullptr;
  const CCrcNode* next = nullptr;
  const CCrcLine* prevLine = nullptr;
  const CCrcArc* prevArc = nullptr;
  const CCrcLine* nextLine = nullptr;
  const CCrcArc* nextArc = nullptr;
  __point2<double> endTangent;    // prev's, at its end
  __point2<double> startTangent;  // next's, at its start
  double prevLength = 0.0;        // |prev's chord| when prev is a line
  double nextLength = 0.0;        // |next's chord| when next is a line
  connect_t type = CONNECT_NONE;
};

// CalculateIntersection(joint.prev, joint.next, type, ...), reading the joint's directions
// instead of measuring them again.
bool CalculateIntersection(const Joint& joint, const connect_t& type, const double& radius,
                           __point2<double>& p1, __point2<double>& p2);

// The corner points of two lines with unit directions ua and ub, as CalculateIntersectionLL
// computes them once it has those.
bool LineCornerPoints(const CCrcLine* lineA, const CCrcLine* lineB, const __point2<double>& ua,
                      const __point2<double>& ub, const connect_t& type, const double& radius,
                      __point2<double>& p1, __point2<double>& p2);

bool CalculateIntersectionLL(const CCrcNode* a, const CCrcNode* b, const connect_t& type,
                             const double& radius, __point2<double>& p1, __point2<double>& p2);
bool CalculateIntersectionLA(const CCrcNode* a, const CCrcNode* b, const connect_t& type,
                             const double& radius, __point2<double>& p1, __point2<double>& p2);
bool CalculateIntersectionAA(const CCrcNode* a, const CCrcNode* b, const connect_t& type,
                             const double& radius, __point2<double>& p1, __point2<double>& p2);

// A heap clone whose programmed geometry is replaced by its offset geometry (the tool-centre
// path as ordinary geometry), or null when the node is of another kind, cannot be cloned or
// cannot be offset (zero radius; an arc whose offset radius would not be positive). The caller
// owns the copy.
CCrcLine* CreateOffsetLine(const CCrcNode* node, const double& radius);
CCrcArc* CreateOffsetArc(const CCrcNode* node, const double& radius);

// Crossing of the infinite lines through l1 and l2 (Cramer's rule). Returns false, leaving out
// untouched, for parallel lines (zero determinant), where no crossing exists.
bool IntersectLines(const CCrcLine* l1, const CCrcLine* l2, __point2<double>& out);

// The crossing of the line lineStart -> lineEnd with the circle about `centre` through
// arcStart that belongs to the corner (see the side rules in the definition); null when the
// line misses the circle or has zero length. Returns `out` on success.
__point2<double>* GetLineCircleCrossPoint(__point2<double> lineStart, __point2<double> lineEnd,
                                          __point2<double> arcStart, __point2<double> arcEnd,
                                          __point2<double> centre, bool arcFirst,
                                          __point2<double>* out);

// Real roots of a x^2 + b x + c: x1 with +sqrt, x2 with -sqrt. False (roots untouched) when the
// discriminant is negative or a is zero.
bool SolveQuadratic(double a, double b, double c, double* x1, double* x2);

// Sign of (A - B).(C - D) with a dead zone of EPSILON on the dot product: 0, 1 or -1.
int GetProjectionSign(__point2<double> A, __point2<double> B, __point2<double> C,
                      __point2<double> D);

// The full circles of two arcs: INTERSECT_TWO (p1 left of the line of centres, p2 right),
// INTERSECT_ONE (touching within CIRCLE_TOUCH_TOLERANCE), INTERSECT_NONE, or INTERSECT_INVALID
// (a radius that is not positive; one circle; concentric circles of nearly equal radii).
int IntersectCircles(const CCrcArc* a, const CCrcArc* b, __point2<double>& p1,
                     __point2<double>& p2);

// p lies on the arc's circle (within EPSILON of its radius) and inside its sweep.
bool IsPointOnArc(const __point2<double>& p, const CCrcArc* arc);

// Foot of the perpendicular from p onto the infinite line (p's start for a zero-length line).
void GetPerpendicularFoot(const __point2<double>& p, const CCrcLine* line, __point2<double>& foot);

// Unit vector from p toward its foot on the line; (0, 0) when p lies on the line.
__point2<double> GetDirectionToLine(const __point2<double>& p, const CCrcLine* line);

// Componentwise equality within EPSILON.
bool IsEqualPoint(const __point2<double>& p, const __point2<double>& q);

}  // namespace crc
