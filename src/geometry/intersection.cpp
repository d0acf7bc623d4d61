// SPDX-License-Identifier: MIT
// Corner points of offset paths. Extend and insert corners depend only on the unit directions
// at the joint (an arc takes part through its tangent line there); inside corners intersect the
// true offset paths, built as offset copies of the segments.
#include "geometry/intersection.h"

#include <cmath>
#include <memory>
#include <optional>
#include <typeinfo>

#include "geometry/angle.h"
#include "geometry/tolerance.h"
#include "geometry/tolerances.h"
#include "nodes/node_kind.h"

namespace crc {

namespace {

bool IsFinitePoint(const __point2<double>& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

// The arc's tangent line at the joint, as long as the arc's programmed radius: from the start
// point forward for an arc that starts at the joint, ending at the end point for one that ends
// there. It carries the arc's phase and side.
CCrcLine TangentLineAtStart(const CCrcArc* arc) {
  const __point2<double> start = arc->GetStartPoint();
  return CCrcLine(start, start + arc->GetStartTangent() * arc->GetRadius(), arc->GetStatusType(),
                  arc->GetCrcDirType(), false);
}

CCrcLine TangentLineAtEnd(const CCrcArc* arc) {
  const __point2<double> end = arc->GetEndPoint();
  return CCrcLine(end - arc->GetEndTangent() * arc->GetRadius(), end, arc->GetStatusType(),
                  arc->GetCrcDirType(), false);
}

// Turns an offset segment's tool-centre geometry into its programmed geometry.
void TakeOffsetGeometry(CCrcLine& line) {
  line.SetStartPoint(line.GetStartPointMoved());
  line.SetEndPoint(line.GetEndPointMoved());
}

void TakeOffsetGeometry(CCrcArc& arc) {
  arc.SetStartPoint(arc.GetStartPointMoved());
  arc.SetEndPoint(arc.GetEndPointMoved());
  arc.SetRadius(arc.GetRadiusMoved());
}

// The offset copy of a line or an arc (see CreateOffsetLine), for the duration of one corner
// computation. A segment of the library's own class is copied in place; a host's subclass is
// cloned through its virtual Clone, so that its own CrcMove offsets the copy.
template <typename T>
class OffsetCopy {
public:
  OffsetCopy(const T& node, double radius) {
    T* candidate = nullptr;
    if (&typeid(node) == &typeid(T)) {
      candidate = &m_Local.emplace(node);
    } else {
      m_Heap.reset(node.Clone());
      candidate = dynamic_cast<T*>(m_Heap.get());
    }
    if (candidate != nullptr && candidate->CrcMove(radius)) {
      TakeOffsetGeometry(*candidate);
      m_Copy = candidate;
    }
  }

  // Null when the copy could not be made or offset.
  const T* Get() const { return m_Copy; }
  const T* operator->() const { return m_Copy; }

private:
  std::optional<T> m_Local;
  std::unique_ptr<CCrcNode> m_Heap;
  const T* m_Copy = nullptr;
};

}  // namespace

bool CalculateIntersection(const CCrcNode* a, const CCrcNode* b, const connect_t& type,
                           const double& radius, __point2<double>& p1, __point2<double>& p2) {
  if (type == CONNECT_TANGENT) {
    return true;  // smooth joint: nothing to compute
  }
  if (a == nullptr || b == nullptr) {
    return false;
  }
  const node_t kindA = KindOf(a);
  const node_t kindB = KindOf(b);
  if (kindA == NODE_LINE && kindB == NODE_LINE) {
    return CalculateIntersectionLL(a, b, type, radius, p1, p2);
  }
  if ((kindA == NODE_LINE && kindB == NODE_ARC) || (kindA == NODE_ARC && kindB == NODE_LINE)) {
    return CalculateIntersectionLA(a, b, type, radius, p1, p2);
  }
  if (kindA == NODE_ARC && kindB == NODE_ARC) {
    return CalculateIntersectionAA(a, b, type, radius, p1, p2);
  }
  return false;
}

bool CalculateIntersection(const Joint& joint, const connect_t& type, const double& radius,
                           __point2<double>& p1, __point2<double>& p2) {
  if (type == CONNECT_TANGENT) {
    return true;  // smooth joint: nothing to compute
  }
  if (joint.prevLine != nullptr && joint.nextLine != nullptr) {
    // The joint's unit tangents are the lines' unit directions, measured the same way.
    if (IsEqual(joint.prevLength, 0, EPSILON) || IsEqual(joint.nextLength, 0, EPSILON)) {
      return false;  // a line without direction has no offset side
    }
    return LineCornerPoints(joint.prevLine, joint.nextLine, joint.endTangent, joint.startTangent,
                            type, radius, p1, p2);
  }
  const bool lineAndArc = (joint.prevLine != nullptr && joint.nextArc != nullptr) ||
                          (joint.prevArc != nullptr && joint.nextLine != nullptr);
  if (lineAndArc) {
    return CalculateIntersectionLA(joint.prev, joint.next, type, radius, p1, p2);
  }
  if (joint.prevArc != nullptr && joint.nextArc != nullptr) {
    return CalculateIntersectionAA(joint.prev, joint.next, type, radius, p1, p2);
  }
  return false;
}

bool CalculateIntersectionLL(const CCrcNode* a, const CCrcNode* b, const connect_t& type,
                             const double& radius, __point2<double>& p1, __point2<double>& p2) {
  const CCrcLine* lineA = AsLine(a);
  const CCrcLine* lineB = AsLine(b);
  if (lineA == nullptr || lineB == nullptr) {
    return false;
  }
  const __point2<double> va = lineA->GetVector();
  const __point2<double> vb = lineB->GetVector();
  const double la = va.GetLength();
  const double lb = vb.GetLength();
  if (IsEqual(la, 0, EPSILON) || IsEqual(lb, 0, EPSILON)) {
    return false;  // a line without direction has no offset side
  }
  const __point2<double> ua(va.x / la, va.y / la);
  const __point2<double> ub(vb.x / lb, vb.y / lb);
  return LineCornerPoints(lineA, lineB, ua, ub, type, radius, p1, p2);
}

bool LineCornerPoints(const CCrcLine* lineA, const CCrcLine* lineB, const __point2<double>& ua,
                      const __point2<double>& ub, const connect_t& type, const double& radius,
                      __point2<double>& p1, __point2<double>& p2) {
  const double r = radius;
  const __point2<double> corner = lineA->GetEndPoint();
  const crc_dir_t side = lineA->GetCrcDirType();

  if (type == CONNECT_EXTEND || type == CONNECT_SHORTEN) {
    // Meeting point of the two offset lines: the sum of the right normals of ua and ub scaled
    // by r / (1 + cos turn), of length r / cos(turn / 2); mirrored for the left side.
    const double k = Dot(ua, ub);
    __point2<double> w((ua.y + ub.y) * r / (1 + k), (-ua.x - ub.x) * r / (1 + k));
    if (side == CRC_DIR_LEFT) {
      w = w * -1.0;
    }
    __point2<double> meet = corner + w;
    if (type == CONNECT_SHORTEN &&
        !(std::fabs((corner - lineB->GetStartPoint()).GetLength()) < EPSILON)) {
      // The lines do not share the corner point: intersect the offset lines themselves.
      const OffsetCopy<CCrcLine> offsetA(*lineA, radius);
      const OffsetCopy<CCrcLine> offsetB(*lineB, radius);
      if (offsetA.Get() == nullptr || offsetB.Get() == nullptr) {
        return false;
      }
      return IntersectLines(offsetA.Get(), offsetB.Get(), p1);
    }
    // A reversal (cos turn = -1) has no meeting point; refuse rather than return infinity.
    if (!IsFinitePoint(meet)) {
      return false;
    }
    p1 = meet;
    return true;
  }

  // Bridge of an outside corner: da is r beyond the corner along a's direction, on the tool
  // side of a; db is r before the corner against b's direction, on the tool side of b.
  __point2<double> da = InvalidPoint();
  __point2<double> db = InvalidPoint();
  if (side == CRC_DIR_LEFT) {
    da = __point2<double>((ua.x - ua.y) * r, (ua.y + ua.x) * r);
    db = __point2<double>((-ub.y - ub.x) * r, (ub.x - ub.y) * r);
  } else if (side == CRC_DIR_RIGHT) {
    da = __point2<double>((ua.x + ua.y) * r, (ua.y - ua.x) * r);
    db = __point2<double>((ub.y - ub.x) * r, (-ub.x - ub.y) * r);
  }
  p1 = corner + da;
  p2 = corner + db;
  return true;
}

bool CalculateIntersectionLA(const CCrcNode* a, const CCrcNode* b, const connect_t& type,
                             const double& radius, __point2<double>& p1, __point2<double>& p2) {
  const bool lineFirst = AsArc(a) == nullptr;
  const CCrcLine* line = AsLine(lineFirst ? a : b);
  const CCrcArc* arc = AsArc(lineFirst ? b : a);
  if (arc == nullptr || line == nullptr) {
    return false;
  }
  if (type == CONNECT_SHORTEN) {
    const OffsetCopy<CCrcLine> offsetLine(*line, radius);
    const OffsetCopy<CCrcArc> offsetArc(*arc, radius);
    if (offsetLine.Get() == nullptr || offsetArc.Get() == nullptr) {
      return false;
    }
    __point2<double> point;
    const __point2<double>* found = GetLineCircleCrossPoint(
        offsetLine->GetStartPoint(), offsetLine->GetEndPoint(), offsetArc->GetStartPoint(),
        offsetArc->GetEndPoint(), offsetArc->GetCenterPoint(), !lineFirst, &point);
    if (found == nullptr) {
      return false;  // the offset line does not reach the offset circle
    }
    p1 = point;
    return true;
  }
  if (type == CONNECT_EXTEND || type == CONNECT_INSERT) {
    if (lineFirst) {
      const CCrcLine tangent = TangentLineAtStart(arc);
      return CalculateIntersectionLL(line, &tangent, type, radius, p1, p2);
    }
    const CCrcLine tangent = TangentLineAtEnd(arc);
    return CalculateIntersectionLL(&tangent, line, type, radius, p1, p2);
  }
  return false;
}

bool CalculateIntersectionAA(const CCrcNode* a, const CCrcNode* b, const connect_t& type,
                             const double& radius, __point2<double>& p1, __point2<double>& p2) {
  const CCrcArc* arcA = AsArc(a);
  const CCrcArc* arcB = AsArc(b);
  if (arcA == nullptr || arcB == nullptr) {
    return false;
  }
  if (type == CONNECT_EXTEND || type == CONNECT_INSERT) {
    const CCrcLine tangentA = TangentLineAtEnd(arcA);
    const CCrcLine tangentB = TangentLineAtStart(arcB);
    return CalculateIntersectionLL(&tangentA, &tangentB, type, radius, p1, p2);
  }
  if (type != CONNECT_SHORTEN) {
    return false;
  }
  const OffsetCopy<CCrcArc> offsetA(*arcA, radius);
  const OffsetCopy<CCrcArc> offsetB(*arcB, radius);
  if (offsetA.Get() == nullptr || offsetB.Get() == nullptr) {
    return false;
  }
  __point2<double> q1 = InvalidPoint();
  __point2<double> q2 = InvalidPoint();
  const int n = IntersectCircles(offsetA.Get(), offsetB.Get(), q1, q2);
  if (n == INTERSECT_ONE) {
    p1 = q1;
    return true;
  }
  if (n != INTERSECT_TWO) {
    return false;
  }
  // Two crossings: keep the one on the same side of the line of centres as the programmed
  // joint. When the programmed circles touch, the joint lies on that line, and the direction
  // of travel at the end of the offset first arc decides instead.
  const __point2<double> joint = arcA->GetEndPoint();
  const CCrcLine centres(arcA->GetCenterPoint(), arcB->GetCenterPoint(), CRC_STATUS_NONE,
                         CRC_DIR_NONE, false);
  const double ra = arcA->GetRadius();
  const double rb = arcB->GetRadius();
  const double dc = centres.GetLength();
  __point2<double> ref;
  if (IsEqual(ra + rb, dc, EPSILON) || IsEqual(std::fabs(ra - rb), dc, EPSILON)) {
    ref = offsetA->GetEndTangent();
  } else {
    ref = GetDirectionToLine(joint, &centres);
  }
  p1 = IsEqualPoint(ref, GetDirectionToLine(q1, &centres)) ? q1 : q2;
  return IsPointOnArc(p1, offsetA.Get()) && IsPointOnArc(p1, offsetB.Get());
}

CCrcLine* CreateOffsetLine(const CCrcNode* node, const double& radius) {
  if (AsLine(node) == nullptr) {
    return nullptr;
  }
  std::unique_ptr<CCrcNode> clone(node->Clone());
  auto* line = dynamic_cast<CCrcLine*>(clone.get());
  if (line == nullptr || !line->CrcMove(radius)) {
    return nullptr;
  }
  TakeOffsetGeometry(*line);
  return static_cast<CCrcLine*>(clone.release());
}

CCrcArc* CreateOffsetArc(const CCrcNode* node, const double& radius) {
  if (AsArc(node) == nullptr) {
    return nullptr;
  }
  std::unique_ptr<CCrcNode> clone(node->Clone());
  auto* arc = dynamic_cast<CCrcArc*>(clone.get());
  if (arc == nullptr || !arc->CrcMove(radius)) {
    return nullptr;
  }
  TakeOffsetGeometry(*arc);
  return static_cast<CCrcArc*>(clone.release());
}

bool IntersectLines(const CCrcLine* l1, const CCrcLine* l2, __point2<double>& out) {
  const __point2<double> s1 = l1->GetStartPoint();
  const __point2<double> e1 = l1->GetEndPoint();
  const __point2<double> s2 = l2->GetStartPoint();
  const __point2<double> e2 = l2->GetEndPoint();
  const double a1 = e1.y - s1.y;
  const double b1 = -(e1.x - s1.x);
  const double c1 = CrossProduct(s1.x, e1.x, s1.y, e1.y);
  const double a2 = e2.y - s2.y;
  const double b2 = -(e2.x - s2.x);
  const double c2 = CrossProduct(s2.x, e2.x, s2.y, e2.y);
  const double d = CrossProduct(a1, b1, a2, b2);
  if (d == 0.0) {  // exact: parallel lines have no crossing at all
    return false;
  }
  const __point2<double> crossing(CrossProduct(c1, b1, c2, b2) / d,
                                  CrossProduct(a1, c1, a2, c2) / d);
  if (!IsFinitePoint(crossing)) {
    return false;
  }
  out = crossing;
  return true;
}

__point2<double>* GetLineCircleCrossPoint(__point2<double> lineStart, __point2<double> lineEnd,
                                          __point2<double> arcStart, __point2<double> arcEnd,
                                          __point2<double> centre, bool arcFirst,
                                          __point2<double>* out) {
  // The offset paths already meet where one ends and the other starts.
  if (IsEqual((lineEnd - arcStart).GetLength(), 0, EPSILON)) {
    *out = lineEnd;
    return out;
  }
  if (IsEqual((arcEnd - lineStart).GetLength(), 0, EPSILON)) {
    *out = arcEnd;
    return out;
  }
  const __point2<double> dir = lineEnd - lineStart;
  const double r = (arcStart - centre).GetLength();
  const __point2<double> fromCentre = lineStart - centre;
  const double qa = Dot(dir, dir);
  const double qb = 2.0 * Dot(fromCentre, dir);
  const double qc = Dot(fromCentre, fromCentre) - r * r;
  double t1 = 0.0;
  double t2 = 0.0;
  if (!SolveQuadratic(qa, qb, qc, &t1, &t2)) {
    return nullptr;  // the line misses the circle (or has no length)
  }
  const __point2<double> cross1 = lineStart + dir * t1;  // further along the direction of travel
  const __point2<double> cross2 = lineStart + dir * t2;
  // Keep the crossing on the same side of the foot of the perpendicular from the centre as the
  // line's end point that touches the corner (its start when the arc comes first).
  const auto side = [&](const __point2<double>& x) {
    return GetProjectionSign(lineStart, lineEnd, centre, x);
  };
  const int ref = arcFirst ? side(lineStart) : side(lineEnd);
  if (side(cross1) == ref) {
    *out = cross1;
  } else if (side(cross2) == ref) {
    *out = cross2;
  } else {
    // The reference end sits at the foot, or the line only touches the circle: take the
    // crossing nearer to the line's far end from the corner; on a tie the second.
    const __point2<double> anchor = arcFirst ? lineEnd : lineStart;
    const double d1 = (cross1 - anchor).GetLength();
    const double d2 = (cross2 - anchor).GetLength();
    *out = d1 < d2 ? cross1 : cross2;
  }
  return out;
}

bool SolveQuadratic(double a, double b, double c, double* x1, double* x2) {
  const double disc = b * b - 4.0 * a * c;
  if (disc < 0) {  // exact: a tangent line (disc = 0) still has its one root
    return false;
  }
  if (a == 0.0) {  // exact: not a quadratic; only a zero-length line gives it here
    return false;
  }
  const double root = std::sqrt(disc);
  const double r1 = (-b + root) / (2.0 * a);
  const double r2 = (-b - root) / (2.0 * a);
  if (!std::isfinite(r1) || !std::isfinite(r2)) {
    return false;
  }
  *x1 = r1;
  *x2 = r2;
  return true;
}

int GetProjectionSign(__point2<double> A, __point2<double> B, __point2<double> C,
                      __point2<double> D) {
  // The dead zone applies to the dot product itself, not to a distance.
  const double s = Dot(A - B, C - D);
  if (std::fabs(s) < EPSILON) {
    return 0;
  }
  return s > 0 ? 1 : -1;
}

int IntersectCircles(const CCrcArc* a, const CCrcArc* b, __point2<double>& p1,
                     __point2<double>& p2) {
  const __point2<double> c1 = a->GetCenterPoint();
  const __point2<double> c2 = b->GetCenterPoint();
  const double r1 = a->GetRadius();
  const double r2 = b->GetRadius();
  if (IsLessOrEqual(r1, 0, EPSILON) || IsLessOrEqual(r2, 0, EPSILON)) {
    return INTERSECT_INVALID;
  }
  const __point2<double> v = c2 - c1;
  const double d = v.GetLength();
  if (IsGreater(d, r1 + r2, CIRCLE_TOUCH_TOLERANCE)) {
    return INTERSECT_NONE;  // apart
  }
  if (IsLess(d, std::fabs(r1 - r2), CIRCLE_TOUCH_TOLERANCE)) {
    return INTERSECT_NONE;  // one inside the other
  }
  if (IsEqual(d, 0, EPSILON) && IsEqual(r1, r2, EPSILON)) {
    return INTERSECT_INVALID;  // the same circle
  }
  // Nearly concentric circles of nearly equal radii: the line of centres has no reliable
  // direction, so neither a touching point nor two crossings can be placed.
  if (d < CIRCLE_TOUCH_TOLERANCE) {
    return INTERSECT_INVALID;
  }
  __point2<double> u = v;
  u.Unify();
  if (IsEqual(d, r1 + r2, CIRCLE_TOUCH_TOLERANCE)) {
    p1 = c1 + u * r1;  // touching from outside
    return INTERSECT_ONE;
  }
  if (IsEqual(d, std::fabs(r1 - r2), CIRCLE_TOUCH_TOLERANCE)) {
    p1 = r2 >= r1 ? c2 - u * r2 : c1 + u * r1;  // touching from inside
    return INTERSECT_ONE;
  }
  double c = (r1 * r1 + d * d - r2 * r2) / (2.0 * r1 * d);
  if (c >= 1.0) {
    c = 1.0;
  }
  if (c <= -1.0) {
    c = -1.0;
  }
  const double alpha = std::acos(c);
  const double h = r1 * std::sin(alpha);
  const double m = r1 * std::cos(alpha);
  const __point2<double> mid = c1 + u * m;
  const __point2<double> normal(-u.y, u.x);
  p1 = mid + normal * h;  // left of the directed line c1 -> c2
  p2 = mid - normal * h;  // right of it
  return INTERSECT_TWO;
}

bool IsPointOnArc(const __point2<double>& p, const CCrcArc* arc) {
  if (!IsEqual((p - arc->GetCenterPoint()).GetLength(), arc->GetRadius(), EPSILON)) {
    return false;
  }
  if (IsEqual((p - arc->GetStartPoint()).GetLength(), 0, EPSILON) ||
      IsEqual((p - arc->GetEndPoint()).GetLength(), 0, EPSILON)) {
    return true;
  }
  const double sweep = GetSweepAngle(
      arc->GetStartAngle(), GetVectorAngle(p - arc->GetCenterPoint()), arc->GetDirection());
  return IsLessOrEqual(sweep, arc->GetCentralAngle(), EPSILON);
}

void GetPerpendicularFoot(const __point2<double>& p, const CCrcLine* line, __point2<double>& foot) {
  const __point2<double> s = line->GetStartPoint();
  const __point2<double> e = line->GetEndPoint();
  const __point2<double> v = line->GetVector();
  const double vv = Dot(v, v);
  if (vv == 0.0) {  // exact: a zero-length line is a point; its foot is that point
    foot = s;
    return;
  }
  const double t = Dot(p - s, v) / vv;
  foot = __point2<double>(e.x * t + (1 - t) * s.x, e.y * t + (1 - t) * s.y);
}

__point2<double> GetDirectionToLine(const __point2<double>& p, const CCrcLine* line) {
  __point2<double> foot;
  GetPerpendicularFoot(p, line, foot);
  __point2<double> direction = foot - p;
  direction.Unify();  // stays (0, 0) when p lies on the line
  return direction;
}

bool IsEqualPoint(const __point2<double>& p, const __point2<double>& q) {
  return IsEqual(p.x, q.x, EPSILON) && IsEqual(p.y, q.y, EPSILON);
}

}  // namespace crc
