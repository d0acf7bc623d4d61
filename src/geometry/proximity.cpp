// SPDX-License-Identifier: MIT
// Bounded crossings and overlaps of offset pieces, used by the interference check. Every
// comparison uses EPSILON; the circle/circle crossing keeps its own touching tolerance.
#include "geometry/proximity.h"

#include <cmath>

#include "geometry/tolerance.h"

namespace crc {

namespace {
// A line's length is its chord; read from its points, without a virtual call.
double ChordLength(const CCrcLine* line) { return line->GetVector().GetLength(); }

bool Meets(const __point2<double>& p, const __point2<double>& q) {
  return IsEqual((p - q).GetLength(), 0, EPSILON);
}

// The common points that lie on both pieces, in the order found.
template <typename OnFirst, typename OnSecond>
int KeepOnBoth(int n, const __point2<double>& q1, const __point2<double>& q2, OnFirst onFirst,
               OnSecond onSecond, __point2<double>& p1, __point2<double>& p2) {
  const bool k1 = onFirst(q1) && onSecond(q1);
  const bool k2 = n == INTERSECT_TWO && onFirst(q2) && onSecond(q2);
  if (k1 && k2) {
    p1 = q1;
    p2 = q2;
    return INTERSECT_TWO;
  }
  if (k1 || k2) {
    p1 = k1 ? q1 : q2;
    return INTERSECT_ONE;
  }
  return INTERSECT_NONE;
}

// b's angle x lies strictly inside a's angular range (judged by a's turning sense only).
bool IsInsideRange(double x, const CCrcArc* a) {
  const double as = a->GetStartAngle();
  const double ae = a->GetEndAngle();
  const double turn = 2.0 * PI;
  if (a->GetDirection()) {
    if (IsLess(as, ae, EPSILON)) {
      return IsGreater(x, as, EPSILON) && IsLess(x, ae, EPSILON);
    }
    // a passes through angle 0
    return (IsGreaterOrEqual(x, 0, EPSILON) && IsLess(x, ae, EPSILON)) ||
           (IsGreater(x, as, EPSILON) && IsLess(x, turn, EPSILON));
  }
  if (IsGreater(as, ae, EPSILON)) {
    return IsGreater(x, ae, EPSILON) && IsLess(x, as, EPSILON);
  }
  return (IsGreaterOrEqual(x, 0, EPSILON) && IsLess(x, as, EPSILON)) ||
         (IsGreater(x, ae, EPSILON) && IsLess(x, turn, EPSILON));
}
}  // namespace

bool IsOppositeVector(const __point2<double>& v, const __point2<double>& w) {
  if (IsEqual(v.GetLength(), 0, EPSILON) || IsEqual(w.GetLength(), 0, EPSILON)) {
    return false;
  }
  if (!IsEqual(v.y * w.x, v.x * w.y, EPSILON)) {
    return false;  // not parallel
  }
  return IsLess(v.x * w.x, 0, EPSILON) || IsLess(v.y * w.y, 0, EPSILON);
}

double GetDistanceToLine(const __point2<double>& p, const CCrcLine* line) {
  const __point2<double> s = line->GetStartPoint();
  const __point2<double> e = line->GetEndPoint();
  const double length = ChordLength(line);
  if (IsEqual(length, 0, EPSILON)) {
    return (p - s).GetLength();
  }
  const double a = e.y - s.y;
  const double b = s.x - e.x;
  const double c = (e.x - s.x) * s.y - (e.y - s.y) * s.x;
  return std::fabs(a * p.x + b * p.y + c) / length;
}

bool IsPointOnLine(const __point2<double>& p, const CCrcLine* line) {
  const __point2<double> s = line->GetStartPoint();
  const __point2<double> e = line->GetEndPoint();
  if (Meets(p, s) || Meets(p, e)) {
    return true;
  }
  return IsEqual((e - p).GetLength() + (p - s).GetLength(), ChordLength(line), EPSILON);
}

int IntersectLineCircle(const CCrcLine* line, const CCrcArc* arc, __point2<double>& p1,
                        __point2<double>& p2) {
  if (IsEqual(ChordLength(line), 0, EPSILON) || IsEqual(arc->GetRadius(), 0, EPSILON)) {
    return INTERSECT_INVALID;
  }
  const __point2<double> s = line->GetStartPoint();
  const __point2<double> v = line->GetEndPoint() - s;
  const __point2<double> u = Unified(v);
  const __point2<double> centre = arc->GetCenterPoint();
  const double radius = arc->GetRadius();
  const double projection = Dot(centre - s, v) / std::sqrt(Dot(v, v));
  const __point2<double> foot = s + u * projection;
  const double distance = GetDistanceToLine(centre, line);
  if (IsGreater(distance, radius, EPSILON)) {
    return INTERSECT_NONE;
  }
  if (IsEqual(distance, radius, EPSILON)) {
    p1 = foot;
    return INTERSECT_ONE;
  }
  const double h = std::sqrt(radius * radius - distance * distance);
  if (!std::isfinite(h)) {
    return INTERSECT_INVALID;  // a negative radius larger than the distance: no real circle
  }
  p1 = foot - u * h;
  p2 = foot + u * h;
  return INTERSECT_TWO;
}

int IntersectLineSegments(const CCrcLine* a, const CCrcLine* b, __point2<double>& p) {
  return IntersectLineSegments(LinePiece(a->GetStartPoint(), a->GetEndPoint()),
                               LinePiece(b->GetStartPoint(), b->GetEndPoint()), EPSILON, p);
}

int IntersectLineSegments(const LinePiece& a, const LinePiece& b, double parallelTolerance,
                          __point2<double>& p) {
  if (IsEqual(a.length, 0, EPSILON) || IsEqual(b.length, 0, EPSILON)) {
    return INTERSECT_INVALID;
  }
  const __point2<double>& sa = a.start;
  const __point2<double>& ea = a.end;
  const __point2<double>& sb = b.start;
  const __point2<double>& eb = b.end;
  const __point2<double>& da = a.vector;
  const __point2<double>& db = b.vector;
  const __point2<double> w = sa - sb;
  const double cross = da.x * db.y - da.y * db.x;
  if (IsEqual(cross, 0, parallelTolerance)) {
    // Parallel: only pieces joined end to start interact.
    const bool joinAB = Meets(ea, sb);
    const bool joinBA = Meets(sa, eb);
    if (!joinAB && !joinBA) {
      return INTERSECT_NONE;  // includes collinear pieces that overlap without a shared end
    }
    if (Meets(Unified(da), Unified(db))) {
      p = joinAB ? ea : sa;  // one piece continues the other
      return INTERSECT_ONE;
    }
    return INTERSECT_OVERLAP;  // joined, and the second runs back over the first
  }
  const double t = (db.x * w.y - db.y * w.x) / cross;
  // The crossing of the infinite lines at a's own ends is reported without checking b.
  if (IsEqual(t, 0, EPSILON)) {
    p = sa;
    return INTERSECT_ONE;
  }
  if (IsEqual(t, 1, EPSILON)) {
    p = ea;
    return INTERSECT_ONE;
  }
  if (!(IsGreater(t, 0, EPSILON) && IsLess(t, 1, EPSILON))) {
    return INTERSECT_NONE;
  }
  const __point2<double> q = sa + da * t;
  __point2<double> toEnd = eb - q;
  __point2<double> fromStart = q - sb;
  if (IsEqual(toEnd.GetLength(), 0, EPSILON)) {
    p = eb;
    return INTERSECT_ONE;
  }
  if (IsEqual(fromStart.GetLength(), 0, EPSILON)) {
    p = sb;
    return INTERSECT_ONE;
  }
  toEnd.Unify();
  fromStart.Unify();
  if (Meets(toEnd, fromStart)) {  // q lies between b's ends
    p = q;
    return INTERSECT_ONE;
  }
  return INTERSECT_NONE;
}

int IntersectLineArcSegments(const CCrcLine* line, const CCrcArc* arc, __point2<double>& p1,
                             __point2<double>& p2) {
  __point2<double> q1 = InvalidPoint();
  __point2<double> q2 = InvalidPoint();
  const int n = IntersectLineCircle(line, arc, q1, q2);
  if (n < INTERSECT_ONE) {
    return n;
  }
  return KeepOnBoth(
      n, q1, q2, [line](const __point2<double>& q) { return IsPointOnLine(q, line); },
      [arc](const __point2<double>& q) { return IsPointOnArc(q, arc); }, p1, p2);
}

int IntersectConcentricArcs(const CCrcArc* a, const CCrcArc* b, __point2<double>& p1,
                            __point2<double>& p2) {
  if (a->GetCenterPoint() != b->GetCenterPoint()) {  // exact: one circle means one centre
    return INTERSECT_INVALID;
  }
  if (!IsEqual(a->GetRadius(), b->GetRadius(), EPSILON)) {
    return INTERSECT_INVALID;
  }
  const __point2<double> sA = a->GetStartPoint();
  const __point2<double> eA = a->GetEndPoint();
  const __point2<double> sB = b->GetStartPoint();
  const __point2<double> eB = b->GetEndPoint();
  const bool same = a->GetDirection() == b->GetDirection();
  const double sum = a->GetCentralAngle() + b->GetCentralAngle();
  const double turn = 2.0 * PI;

  const bool chainedAB = Meets(eA, sB);
  if (chainedAB || Meets(eB, sA)) {
    if (!same) {
      return INTERSECT_OVERLAP;  // the second arc runs back over the first
    }
    if (IsLess(sum, turn, EPSILON)) {
      p1 = chainedAB ? eA : eB;
      return INTERSECT_ONE;
    }
    if (IsEqual(sum, turn, EPSILON)) {  // together they close the circle
      p1 = sA;
      p2 = eA;
      return INTERSECT_TWO;
    }
    return INTERSECT_OVERLAP;
  }
  const bool sharedStart = Meets(sA, sB);
  if (sharedStart || Meets(eA, eB)) {
    if (same) {
      return INTERSECT_OVERLAP;  // both leave (or both reach) the common point the same way
    }
    if (IsLess(sum, turn, EPSILON)) {
      p1 = sharedStart ? sA : eA;
      return INTERSECT_ONE;
    }
    if (IsEqual(sum, turn, EPSILON)) {
      p1 = sA;
      p2 = eA;
      return INTERSECT_TWO;
    }
    return INTERSECT_OVERLAP;
  }
  if (IsInsideRange(b->GetStartAngle(), a) || IsInsideRange(b->GetEndAngle(), a)) {
    return INTERSECT_OVERLAP;
  }
  return INTERSECT_NONE;
}

int IntersectArcSegments(const CCrcArc* a, const CCrcArc* b, __point2<double>& p1,
                         __point2<double>& p2) {
  __point2<double> q1 = InvalidPoint();
  __point2<double> q2 = InvalidPoint();
  if (IsEqual((a->GetCenterPoint() - b->GetCenterPoint()).GetLength(), 0, EPSILON) &&
      IsEqual(a->GetRadius(), b->GetRadius(), EPSILON)) {
    const int n = IntersectConcentricArcs(a, b, q1, q2);
    if (n == INTERSECT_ONE) {
      p1 = q1;
    } else if (n == INTERSECT_TWO) {
      p1 = q1;
      p2 = q2;
    }
    return n;
  }
  const int n = IntersectCircles(a, b, q1, q2);
  if (n < INTERSECT_ONE) {
    return n;
  }
  return KeepOnBoth(
      n, q1, q2, [a](const __point2<double>& q) { return IsPointOnArc(q, a); },
      [b](const __point2<double>& q) { return IsPointOnArc(q, b); }, p1, p2);
}

}  // namespace crc
