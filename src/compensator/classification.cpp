// SPDX-License-Identifier: MIT
// Decides how the offset paths of two consecutive segments are joined (extend, shorten, insert,
// tangent), including paths that double back on themselves. The corner points themselves are
// computed by the intersection kernel; this file only classifies.
#include <crc/compensator/cutter_compensator.h>

#include <memory>

#include "geometry/intersection.h"
#include "geometry/tolerance.h"
#include "geometry/tolerances.h"
#include "nodes/node_kind.h"

namespace crc {

namespace {
bool IsNonNegative(double v) { return IsGreaterOrEqual(v, 0, EPSILON); }  // v > -1e-6
bool IsNegative(double v) { return IsLess(v, 0, EPSILON); }               // v <= -1e-6
bool IsZero(double v) { return IsEqual(v, 0, EPSILON); }                  // |v| < 1e-6

__point2<double> LineVector(const CCrcNode* node) {
  // A segment that is neither a real arc nor a real line has no tangent (zero vector).
  const CCrcLine* line = AsLine(node);
  return line != nullptr ? line->GetVector() : __point2<double>(0.0, 0.0);
}

__point2<double> EndTangent(const CCrcNode* node) {
  const CCrcArc* arc = AsArc(node);
  return arc != nullptr ? arc->GetEndTangent() : LineVector(node);
}

__point2<double> StartTangent(const CCrcNode* node) {
  const CCrcArc* arc = AsArc(node);
  return arc != nullptr ? arc->GetStartTangent() : LineVector(node);
}

// At a reversal the offset curves meet only where the tool runs on the convex side of an arc
// that bends back over the joint; otherwise the tool must be led around the joint (insert).
connect_t ReversalType(const CCrcNode* prev, const CCrcNode* next, crc_dir_t side) {
  const CCrcArc* arcPrev = AsArc(prev);
  const CCrcArc* arcNext = AsArc(next);
  const bool left = side == CRC_DIR_LEFT;
  if (arcPrev == nullptr && arcNext == nullptr) {
    return CONNECT_INSERT;  // two lines never meet again
  }
  if (arcPrev == nullptr || arcNext == nullptr) {
    // One arc: the tool is outside it when it runs left of a clockwise arc or right of a
    // counterclockwise one.
    const bool ccw = (arcPrev != nullptr ? arcPrev : arcNext)->GetDirection();
    const bool outside = left ? !ccw : ccw;
    return outside ? CONNECT_SHORTEN : CONNECT_INSERT;
  }
  const bool ccwPrev = arcPrev->GetDirection();
  const bool ccwNext = arcNext->GetDirection();
  if (ccwPrev == ccwNext) {
    const bool outside = left ? !ccwPrev : ccwPrev;
    return outside ? CONNECT_SHORTEN : CONNECT_INSERT;
  }
  // Opposite senses: both centres lie on one side of the joint, the tool runs outside one arc
  // and inside the other; the offsets meet only when the arc it runs outside is the smaller.
  const double r1 = arcPrev->GetRadius();
  const double r2 = arcNext->GetRadius();
  const bool prevSmaller = IsLess(r1, r2, EPSILON);
  const bool prevLarger = IsGreater(r1, r2, EPSILON);
  if (!ccwPrev) {  // prev clockwise, next counterclockwise
    return (left ? prevSmaller : prevLarger) ? CONNECT_SHORTEN : CONNECT_INSERT;
  }
  return (left ? prevLarger : prevSmaller) ? CONNECT_SHORTEN : CONNECT_INSERT;
}
}  // namespace

connect_t CCutterCompensator::GetConnectRawType(const __point2<double>& first,
                                                const __point2<double>& second,
                                                const crc_dir_t& side) {
  const double cross = first.x * second.y - first.y * second.x;
  const double dot = first.x * second.x + first.y * second.y;
  if (IsEqual(dot, 1, TANGENT_COSINE_TOLERANCE)) {
    return CONNECT_TANGENT;
  }
  const bool atMostRightAngle = IsNonNegative(dot);
  // A collinear joint, an exact reversal included, counts as a left turn.
  if (IsNonNegative(cross)) {
    if (side == CRC_DIR_LEFT) {
      return CONNECT_SHORTEN;  // tool inside the corner
    }
    return atMostRightAngle ? CONNECT_EXTEND : CONNECT_INSERT;
  }
  if (side != CRC_DIR_LEFT) {
    return CONNECT_SHORTEN;
  }
  return atMostRightAngle ? CONNECT_EXTEND : CONNECT_INSERT;
}

connect_t CCutterCompensator::GetConnectType(const CCrcNode* prev, const CCrcNode* next) {
  __point2<double> t1 = EndTangent(prev);
  __point2<double> t2 = StartTangent(next);
  t1.Unify();  // a zero-length line keeps the zero vector
  t2.Unify();
  const crc_dir_t side = prev->GetCrcDirType();
  connect_t type = GetConnectRawType(t1, t2, side);
  if (type == CONNECT_TANGENT) {
    return type;
  }
  const double dot = Dot(t1, t2);
  const double cross = t1.x * t2.y - t1.y * t2.x;
  // Only reachable with a degenerate (zero) tangent: no direction, no corner.
  if (IsNonNegative(dot) && IsZero(cross)) {
    type = CONNECT_TANGENT;
  }
  // A right-angle turn to the left on the right side is an outside corner of exactly 90 degrees.
  if (IsNonNegative(cross) && IsZero(dot) && side == CRC_DIR_RIGHT) {
    type = CONNECT_EXTEND;
  }
  if (IsNegative(dot) && IsZero(cross)) {
    type = ReversalType(prev, next, side);
  }
  if (IsNegative(cross) && IsZero(dot) && side == CRC_DIR_LEFT) {
    type = CONNECT_EXTEND;
  }
  return type;
}

bool CCutterCompensator::GetCrcNodeIntersection(const CCrcNode* prev, const CCrcNode* next,
                                                __point2<double>& p1, __point2<double>& p2) {
  if (prev == nullptr || next == nullptr) {
    return false;
  }
  if (!IsLess(m_CrcRadius, 0, EPSILON)) {
    return CalculateIntersection(prev, next, GetConnectType(prev, next), m_CrcRadius, p1, p2);
  }
  // A negative radius is the positive radius on the other side. The host's segments are const
  // here, so the swap is made on working copies; the host's segments and the engine's radius
  // are never touched.
  std::unique_ptr<CCrcNode> prevCopy(prev->Clone());
  std::unique_ptr<CCrcNode> nextCopy(next->Clone());
  if (!prevCopy || !nextCopy) {
    return false;
  }
  ChangeCrcType(prevCopy.get(), nextCopy.get());
  const bool ok =
      CalculateIntersection(prevCopy.get(), nextCopy.get(),
                            GetConnectType(prevCopy.get(), nextCopy.get()), m_CrcRadius, p1, p2);
  ChangeCrcType(prevCopy.get(), nextCopy.get());  // restores the radius
  return ok;
}

}  // namespace crc
