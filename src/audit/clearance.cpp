// SPDX-License-Identifier: MIT
// Closed-form distance between bounded lines and arcs: the candidates for the nearest pair
// (ends against the other curve, common normals, crossings) and the pick among them. Candidates
// are compared by squared distance; one square root is taken for the pair that wins.
#include "audit/clearance.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace crc::audit {
namespace {

double Length2(const Point& v) { return Dot(v, v); }

// The point of `track` nearest to `p` into `q`, and which end it is.
wall_end_t NearestPoint(const Point& p, const Track& track, Point& q) {
  if (!track.arc) {
    const Point d = track.to - track.from;
    const double length2 = Length2(d);
    const double u = length2 > 0.0 ? Dot(p - track.from, d) / length2 : 0.0;
    if (!(u > 0.0)) {
      q = track.from;
      return WALL_START;
    }
    if (u >= 1.0) {
      q = track.to;
      return WALL_END;
    }
    q = track.from + d * u;
    return WALL_INTERIOR;
  }
  const Point v = p - track.centre;
  const double length2 = Length2(v);
  if (!(length2 > 0.0)) {
    q = track.from;  // the centre: every point of the arc is as near
    return WALL_INTERIOR;
  }
  if (HoldsDirection(track, v)) {
    q = track.centre + v * (track.radius / std::sqrt(length2));
    return WALL_INTERIOR;
  }
  if (Length2(p - track.from) <= Length2(p - track.to)) {
    q = track.from;
    return WALL_START;
  }
  q = track.to;
  return WALL_END;
}

// Collects candidate pairs and keeps the nearest one that is not skipped.
class Candidates {
public:
  explicit Candidates(wall_end_t skip) : m_Skip(skip) {}

  void Consider(const Point& onPiece, const Point& onWall, wall_end_t end) {
    if (end != WALL_INTERIOR && end == m_Skip) {
      return;
    }
    const double d2 = Length2(onPiece - onWall);
    if (d2 < m_Best2) {
      m_Best2 = d2;
      m_Best.onPiece = onPiece;
      m_Best.onWall = onWall;
      m_Best.end = end;
    }
  }
  void Consider(const Point& onPiece, const Point& onWall) {
    Consider(onPiece, onWall, WALL_INTERIOR);
  }
  Approach Best() const {
    Approach best = m_Best;
    best.distance = std::sqrt(m_Best2);
    return best;
  }

private:
  wall_end_t m_Skip;
  double m_Best2 = std::numeric_limits<double>::infinity();
  Approach m_Best;
};

bool IsPoint(const Track& track) { return !track.arc && track.from == track.to; }

int Sign(double v) { return (v > 0.0) - (v < 0.0); }

// Two lines that cross at a point inside both: true, with the point in `x`. Lines that only
// touch at an end, or run along each other, meet where an end lies on the other line, which the
// end candidates find.
bool Crossing(const Track& piece, const Track& wall, Point* x = nullptr) {
  const Point d1 = piece.to - piece.from;
  const Point d2 = wall.to - wall.from;
  const double o1 = Cross(d1, wall.from - piece.from);
  const double o2 = Cross(d1, wall.to - piece.from);
  const double o3 = Cross(d2, piece.from - wall.from);
  const double o4 = Cross(d2, piece.to - wall.from);
  if (Sign(o1) * Sign(o2) < 0 && Sign(o3) * Sign(o4) < 0) {
    if (x != nullptr) {
      *x = piece.from + d1 * (o3 / (o3 - o4));
    }
    return true;
  }
  return false;
}

void LineLine(const Track& piece, const Track& wall, Candidates& nearest) {
  Point x;
  if (Crossing(piece, wall, &x)) {
    nearest.Consider(x, x);
  }
}

// A line and an arc: the foot of the perpendicular from the centre, when inside the line,
// paired with the points where that perpendicular meets the circle; and the crossings.
void LineArc(const Track& line, const Track& arc, bool lineIsPiece, Candidates& nearest) {
  const Point d = line.to - line.from;
  const double length2 = Length2(d);
  if (!(length2 > 0.0)) {
    return;  // a point: its candidates are the end ones
  }
  const double u = Dot(arc.centre - line.from, d) / length2;
  const Point foot = line.from + d * u;
  const Point toLine = foot - arc.centre;
  const double h2 = Length2(toLine);
  auto pair = [&](const Point& onLine, const Point& onArc) {
    if (lineIsPiece) {
      nearest.Consider(onLine, onArc);
    } else {
      nearest.Consider(onArc, onLine);
    }
  };
  if (u > 0.0 && u < 1.0) {
    // A line through the centre: every radius across it is a common normal; the one at
    // right angles to the line is the one that meets it at the foot.
    const Point normal =
        h2 > 0.0 ? toLine * (1.0 / std::sqrt(h2)) : Point(-d.y, d.x) * (1.0 / std::sqrt(length2));
    for (const double side : {1.0, -1.0}) {
      const Point direction = normal * side;
      if (HoldsDirection(arc, direction)) {
        pair(foot, arc.centre + direction * arc.radius);
      }
    }
  }
  const double r2 = arc.radius * arc.radius;
  if (h2 <= r2) {
    const double half = std::sqrt((r2 - h2) / length2);
    for (const double t : {u - half, u + half}) {
      if (t >= 0.0 && t <= 1.0) {
        const Point x = line.from + d * t;
        const Point v = x - arc.centre;
        if (!(v == Point(0.0, 0.0)) && HoldsDirection(arc, v)) {
          pair(x, x);
        }
      }
    }
  }
}

// Two arcs: the points on the line through both centres, and the crossings. Arcs about one
// centre have every radius as a common normal; the nearest pair then has an end of one arc on
// the other, which the end candidates find.
void ArcArc(const Track& piece, const Track& wall, Candidates& nearest) {
  const Point between = wall.centre - piece.centre;
  const double dc = std::sqrt(Length2(between));
  if (!(dc > 0.0)) {
    return;
  }
  const Point u = between * (1.0 / dc);
  for (const double sp : {1.0, -1.0}) {
    if (!HoldsDirection(piece, u * sp)) {
      continue;
    }
    const Point onPiece = piece.centre + u * (sp * piece.radius);
    for (const double sw : {1.0, -1.0}) {
      if (HoldsDirection(wall, u * sw)) {
        nearest.Consider(onPiece, wall.centre + u * (sw * wall.radius));
      }
    }
  }
  const double rp = piece.radius;
  const double rw = wall.radius;
  if (dc > rp + rw || dc < std::fabs(rp - rw)) {
    return;
  }
  const double along = (dc * dc + rp * rp - rw * rw) / (2.0 * dc);
  const double across = std::sqrt(std::max(0.0, rp * rp - along * along));
  const Point n(-u.y, u.x);
  for (const double side : {1.0, -1.0}) {
    const Point x = piece.centre + u * along + n * (side * across);
    const Point vp = x - piece.centre;
    const Point vw = x - wall.centre;
    if (!(vw == Point(0.0, 0.0)) && HoldsDirection(piece, vp) && HoldsDirection(wall, vw)) {
      nearest.Consider(x, x);
    }
  }
}

}  // namespace

bool MakeTrack(const Curve& curve, Track& track) {
  track = Track();
  track.from = curve.from;
  track.to = curve.to;
  if (!curve.arc) {
    return true;
  }
  const Point a = curve.from - curve.centre;
  const Point b = curve.to - curve.centre;
  const double radius = std::sqrt(Length2(a));
  const bool endsMeet = Length2(curve.to - curve.from) < ARC_ENDS_COINCIDE * ARC_ENDS_COINCIDE;
  if (!(radius > 0.0)) {
    // Centre on the start: a point when the end is there too, otherwise no arc at all.
    track.to = track.from;
    return endsMeet;
  }
  if (endsMeet && !curve.fullCircle) {
    track.to = track.from;  // zero sweep: the arc has shrunk to its start
    return true;
  }
  const double lengthB = std::sqrt(Length2(b));
  if (!endsMeet && !(lengthB > 0.0)) {
    return false;  // centre on the end
  }
  track.arc = true;
  track.ccw = curve.ccw;
  track.centre = curve.centre;
  track.radius = radius;
  if (endsMeet) {
    track.full = true;
    track.to = track.from;
    track.first = track.last = a;
    return true;
  }
  track.to = curve.centre + b * (radius / lengthB);
  const double turn = Cross(a, b);
  if (turn == 0.0 && Dot(a, b) > 0.0) {  // exact: same polar angle, zero sweep
    track.arc = false;
    track.to = track.from;
    return true;
  }
  // Counterclockwise from a, the end lies to the right of a exactly when the sweep passes half a
  // turn; clockwise the other way round. Exactly half a turn is not reflex.
  track.reflex = curve.ccw ? turn < 0.0 : turn > 0.0;
  track.first = curve.ccw ? a : track.to - curve.centre;
  track.last = curve.ccw ? track.to - curve.centre : a;
  return true;
}

Approach Nearest(const Point& p, const Track& track) {
  Approach result;
  result.onPiece = p;
  result.end = NearestPoint(p, track, result.onWall);
  result.distance = std::sqrt(Length2(p - result.onWall));
  return result;
}

Approach Closest(const Track& piece, const Track& wall, wall_end_t skip) {
  Candidates nearest(skip);
  Point q;
  wall_end_t end = NearestPoint(piece.from, wall, q);
  nearest.Consider(piece.from, q, end);
  if (!IsPoint(piece)) {
    end = NearestPoint(piece.to, wall, q);
    nearest.Consider(piece.to, q, end);
  }
  // The wall's ends against the piece. A whole turn has no end: its start is an inner point.
  NearestPoint(wall.from, piece, q);
  nearest.Consider(q, wall.from, wall.full ? WALL_INTERIOR : WALL_START);
  if (!IsPoint(wall) && !wall.full) {
    NearestPoint(wall.to, piece, q);
    nearest.Consider(q, wall.to, WALL_END);
  }
  if (!piece.arc && !wall.arc) {
    LineLine(piece, wall, nearest);
  } else if (piece.arc && wall.arc) {
    ArcArc(piece, wall, nearest);
  } else if (wall.arc) {
    LineArc(piece, wall, true, nearest);
  } else {
    LineArc(wall, piece, false, nearest);
  }
  return nearest.Best();
}

namespace {

// Lowest and highest value of Dot(n, x - o) over the points x of a track, n of length nLength.
// An arc adds the points of its circle in the directions n and -n when it holds them.
struct Range {
  double low;
  double high;
};

Range Extent(const Track& t, const Point& o, const Point& n, double nLength) {
  const double a = Dot(n, t.from - o);
  const double b = Dot(n, t.to - o);
  Range range{std::min(a, b), std::max(a, b)};
  if (t.arc) {
    const double middle = Dot(n, t.centre - o);
    const double reach = t.radius * nLength;
    if (HoldsDirection(t, n)) {
      range.high = std::max(range.high, middle + reach);
    }
    if (HoldsDirection(t, n * -1.0)) {
      range.low = std::min(range.low, middle - reach);
    }
  }
  return range;
}

// One range lies `gap` or more beyond the other, on either side.
bool Apart(const Range& a, const Range& b, double gap) {
  return b.low - a.high >= gap || a.low - b.high >= gap;
}

// The two tracks lie on either side of a band `limit` wide across the direction n (not zero).
bool ApartAlong(const Track& piece, const Track& wall, const Point& o, const Point& n,
                double limit) {
  const double nLength = std::sqrt(Dot(n, n));
  return Apart(Extent(piece, o, n, nLength), Extent(wall, o, n, nLength), limit * nLength);
}

// Squared distance from c to the line segment from a to b.
double Distance2(const Point& c, const Point& a, const Point& b) {
  const Point d = b - a;
  const Point w = c - a;
  const double along = Dot(w, d);
  if (!(along > 0.0)) {
    return Length2(w);
  }
  const double length2 = Length2(d);
  if (along >= length2) {
    return Length2(c - b);
  }
  const double across = Cross(d, w);
  return across * across / length2;
}

// The line segment from a to b stays out of the band `limit` wide on either side of the circle
// about c of radius `radius`: wholly inside it (both ends are) or wholly outside.
bool LineOutOfBand(const Point& a, const Point& b, const Point& c, double radius, double limit) {
  const double inner = radius - limit;
  if (inner > 0.0 && Length2(a - c) <= inner * inner && Length2(b - c) <= inner * inner) {
    return true;
  }
  const double outer = radius + limit;
  return Distance2(c, a, b) >= outer * outer;
}

// The same for an arc, whose points lie within the distance of the two centres of its circle.
bool ArcOutOfBand(const Track& arc, const Point& c, double radius, double limit) {
  const double apart = std::sqrt(Length2(arc.centre - c));
  return arc.radius - apart >= radius + limit || arc.radius + apart <= radius - limit;
}

}  // namespace

bool ApartBy(const Probe& probe, const Track& wall) {
  const Track& piece = probe.piece;
  const double limit = probe.limit;
  if (piece.arc) {
    if (wall.arc) {
      return ArcOutOfBand(wall, piece.centre, piece.radius, limit);
    }
    if (LineOutOfBand(wall.from, wall.to, piece.centre, piece.radius, limit)) {
      return true;
    }
  } else if (probe.length2 > 0.0) {
    if (!wall.arc) {
      const Band band(probe);
      return band.Apart(band.Of(wall.from), band.Of(wall.to)) ||
             AcrossWall(probe, wall.from, wall.to);
    }
    // Across the piece's line, the wall's circle, along the piece's line.
    const Point& d = probe.d;
    const Range w = Extent(wall, piece.from, Point(-d.y, d.x), probe.length);
    return w.low >= probe.gap || w.high <= -probe.gap ||
           LineOutOfBand(piece.from, piece.to, wall.centre, wall.radius, limit) ||
           Apart({0.0, probe.length2}, Extent(wall, piece.from, d, probe.length), probe.gap);
  } else if (wall.arc) {
    return LineOutOfBand(piece.from, piece.to, wall.centre, wall.radius, limit);
  }
  // Across the wall's line.
  const Point e = wall.to - wall.from;
  return !(e == Point(0.0, 0.0)) && ApartAlong(piece, wall, wall.from, Point(-e.y, e.x), limit);
}

Box Bounds(const Track& track) {
  Box box{std::min(track.from.x, track.to.x), std::min(track.from.y, track.to.y),
          std::max(track.from.x, track.to.x), std::max(track.from.y, track.to.y)};
  if (!track.arc) {
    return box;
  }
  // The ends lie on the circle only up to rounding: the extremes are taken with them.
  const double r = track.radius;
  if (HoldsDirection(track, Point(1.0, 0.0))) {
    box.maxX = std::max(box.maxX, track.centre.x + r);
  }
  if (HoldsDirection(track, Point(-1.0, 0.0))) {
    box.minX = std::min(box.minX, track.centre.x - r);
  }
  if (HoldsDirection(track, Point(0.0, 1.0))) {
    box.maxY = std::max(box.maxY, track.centre.y + r);
  }
  if (HoldsDirection(track, Point(0.0, -1.0))) {
    box.minY = std::min(box.minY, track.centre.y - r);
  }
  return box;
}

}  // namespace crc::audit
