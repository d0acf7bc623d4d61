// SPDX-License-Identifier: MIT
// Decides how the offset paths of two consecutive segments are joined (extend, shorten, insert,
// tangent), including paths that double back on themselves. The corner points themselves are
// computed by the intersection kernel; this file only classifies.
#include <crc/compensator/cutter_compensator.h>

#include <memory>

#include "compensator/joints.h"
#include "geometry/intersection.h"
#include "geometry/tolerance.h"
#include "geometry/tolerances.h"
#include "nodes/node_kind.h"

namespace crc {

namespace {
bool IsNonNegative(double v) { return IsGreaterOrEqual(v, 0, EPSILON); }  // v > -1e-6
bool IsNegative(double v) { return IsLess(v, 0, EPSILON); }               // v <= -1e-6
bool IsZero(double v) { return IsEqual(v, 0, EPSILON); }                  // |v| < 1e-6

// The direction of travel at a segment's end or start: an arc's tangent, a line's chord, and
// the zero vector for a segment that is neither a real arc nor a real line (no tangent).
__point2<double> Direction(const CCrcLine* line, const CCrcArc* arc, bool atEnd) {
  if (arc != nullptr) {
    return atEnd ? arc->GetEndTangent() : arc->GetStartTangent();
  }
  return line != nullptr ? line->GetVector() : __point2<double>(0.0, 0.0);
}

// Brings v to unit length like __point2::Unify and returns the length it measured.
double UnifyMeasured(__point2<double>& v) {
  const double length = v.GetLength();
  if (length < EPSILON) {  // as Unify: too short to have a direction, left unchanged
    return length;
  }
  v.x /= length;
  v.y /= length;
  return length;
}

// At a reversal the offset curves meet only where the tool runs on the convex side of an arc
// that bends back over the joint; otherwise the tool must be led around the joint (insert).
connect_t ReversalType(const CCrcArc* arcPrev, const CCrcArc* arcNext, crc_dir_t side) {
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

connect_t RawConnectType(const __point2<double>& first, const __point2<double>& second,
                         crc_dir_t side) {
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

// The joint's type from its unit tangents, refined for degenerate and right-angle joints and
// for reversals.
connect_t JointType(const Joint& joint, crc_dir_t side) {
  const __point2<double>& t1 = joint.endTangent;
  const __point2<double>& t2 = joint.startTangent;
  connect_t type = RawConnectType(t1, t2, side);
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
    type = ReversalType(joint.prevArc, joint.nextArc, side);
  }
  if (IsNegative(cross) && IsZero(dot) && side == CRC_DIR_LEFT) {
    type = CONNECT_EXTEND;
  }
  return type;
}

}  // namespace

connect_t CCutterCompensator::GetConnectRawType(const __point2<double>& first,
                                                const __point2<double>& second,
                                                const crc_dir_t& side) {
  return RawConnectType(first, second, side);
}

Joint ClassifyJoint(const CCrcNode* prev, const CCrcNode* next) {
  Joint joint;
  joint.prev = prev;
  joint.next = next;
  joint.prevArc = AsArc(prev);
  joint.prevLine = joint.prevArc == nullptr ? AsLine(prev) : nullptr;
  joint.nextArc = AsArc(next);
  joint.nextLine = joint.nextArc == nullptr ? AsLine(next) : nullptr;
  joint.endTangent = Direction(joint.prevLine, joint.prevArc, true);
  joint.startTangent = Direction(joint.nextLine, joint.nextArc, false);
  joint.prevLength = UnifyMeasured(joint.endTangent);  // a zero-length line keeps the zero vector
  joint.nextLength = UnifyMeasured(joint.startTangent);
  joint.type = JointType(joint, prev->GetCrcDirType());
  return joint;
}

connect_t CCutterCompensator::GetConnectType(const CCrcNode* prev, const CCrcNode* next) {
  return ClassifyJoint(prev, next).type;
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
