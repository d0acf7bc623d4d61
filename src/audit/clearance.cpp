// SPDX-License-Identifier: MIT
// Closed-form distance between bounded lines and arcs: the candidates for the nearest pair
// (ends against the other curve, common normals, crossings) and the pick among them.
#include "audit/clearance.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace crc::audit {
namespace {

// Collects candidate pairs and keeps the nearest one that is not skipped.
class Candidates {
public:
  explicit Candidates(wall_end_t skip) : m_Skip(skip) {
    m_Best.distance = std::numeric_limits<double>::infinity();
  }

  void Consider(const Approach& candidate) {
    if (candidate.end != WALL_INTERIOR && candidate.end == m_Skip) {
      return;
    }
    if (candidate.distance < m_Best.distance) {
      m_Best = candidate;
    }
  }
  void Consider(const Point& onPiece, const Point& onWall) {
    Consider(Approach{(onPiece - onWall).GetLength(), onPiece, onWall, WALL_INTERIOR});
  }
  const Approach& Best() const { return m_Best; }

private:
  wall_end_t m_Skip;
  Approach m_Best;
};

bool IsPoint(const Track& track) { return !track.arc && track.from == track.to; }

int Sign(double v) { return (v > 0.0) - (v < 0.0); }

// Two lines that cross at a point inside both. Lines that only touch at an end, or run along
// each other, meet where an end lies on the other line, which the end candidates find.
void LineLine(const Track& piece, const Track& wall, Candidates& nearest) {
  const Point d1 = piece.to - piece.from;
  const Point d2 = wall.to - wall.from;
  const double o1 = Cross(d1, wall.from - piece.from);
  const double o2 = Cross(d1, wall.to - piece.from);
  const double o3 = Cross(d2, piece.from - wall.from);
  const double o4 = Cross(d2, piece.to - wall.from);
  if (Sign(o1) * Sign(o2) < 0 && Sign(o3) * Sign(o4) < 0) {
    const Point x = piece.from + d1 * (o3 / (o3 - o4));
    nearest.Consider(x, x);
  }
}

// A line and an arc: the foot of the perpendicular from the centre, when inside the line,
// paired with the points where that perpendicular meets the circle; and the crossings.
void LineArc(const Track& line, const Track& arc, bool lineIsPiece, Candidates& nearest) {
  const Point d = line.to - line.from;
  const double length2 = Dot(d, d);
  if (!(length2 > 0.0)) {
    return;  // a point: its candidates are the end ones
  }
  const double u = Dot(arc.centre - line.from, d) / length2;
  const Point foot = line.from + d * u;
  const Point toLine = foot - arc.centre;
  const double h = toLine.GetLength();
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
        h > 0.0 ? toLine * (1.0 / h) : Point(-d.y, d.x) * (1.0 / std::sqrt(length2));
    for (const double side : {1.0, -1.0}) {
      const Point direction = normal * side;
      if (HoldsDirection(arc, direction)) {
        pair(foot, arc.centre + direction * arc.radius);
      }
    }
  }
  if (h <= arc.radius) {
    const double half = std::sqrt(std::max(0.0, arc.radius * arc.radius - h * h) / length2);
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
  const double dc = between.GetLength();
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
  const double radius = a.GetLength();
  const bool endsMeet = (curve.to - curve.from).GetLength() < ARC_ENDS_COINCIDE;
  if (!(radius > 0.0)) {
    // Centre on the start: a point when the end is there too, otherwise no arc at all.
    track.to = track.from;
    return endsMeet;
  }
  if (endsMeet && !curve.fullCircle) {
    track.to = track.from;  // zero sweep: the arc has shrunk to its start
    return true;
  }
  const double lengthB = b.GetLength();
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
  return true;
}

bool HoldsDirection(const Track& arc, const Point& v) {
  if (arc.full) {
    return true;
  }
  Point a = arc.from - arc.centre;
  Point b = arc.to - arc.centre;
  if (!arc.ccw) {
    std::swap(a, b);  // clockwise from a to b is counterclockwise from b to a
  }
  if (!arc.reflex) {
    return Cross(a, v) >= 0.0 && Cross(v, b) >= 0.0;
  }
  // More than half a turn: everything but the open wedge from b on to a.
  return !(Cross(b, v) > 0.0 && Cross(v, a) > 0.0);
}

Approach Nearest(const Point& p, const Track& track) {
  Approach result;
  result.onPiece = p;
  if (!track.arc) {
    const Point d = track.to - track.from;
    const double length2 = Dot(d, d);
    const double u = length2 > 0.0 ? Dot(p - track.from, d) / length2 : 0.0;
    if (!(u > 0.0)) {
      result.onWall = track.from;
      result.end = WALL_START;
    } else if (u >= 1.0) {
      result.onWall = track.to;
      result.end = WALL_END;
    } else {
      result.onWall = track.from + d * u;
    }
  } else {
    const Point v = p - track.centre;
    const double length = v.GetLength();
    if (!(length > 0.0)) {
      result.onWall = track.from;  // the centre: every point of the arc is as near
    } else if (HoldsDirection(track, v)) {
      result.onWall = track.centre + v * (track.radius / length);
    } else if ((p - track.from).GetLength() <= (p - track.to).GetLength()) {
      result.onWall = track.from;
      result.end = WALL_START;
    } else {
      result.onWall = track.to;
      result.end = WALL_END;
    }
  }
  result.distance = (p - result.onWall).GetLength();
  return result;
}

Approach Closest(const Track& piece, const Track& wall, wall_end_t skip) {
  Candidates nearest(skip);
  nearest.Consider(Nearest(piece.from, wall));
  if (!IsPoint(piece)) {
    nearest.Consider(Nearest(piece.to, wall));
  }
  // The wall's ends against the piece. A whole turn has no end: its start is an inner point.
  const Approach fromStart = Nearest(wall.from, piece);
  nearest.Consider(Approach{fromStart.distance, fromStart.onWall, wall.from,
                            wall.full ? WALL_INTERIOR : WALL_START});
  if (!IsPoint(wall) && !wall.full) {
    const Approach fromEnd = Nearest(wall.to, piece);
    nearest.Consider(Approach{fromEnd.distance, fromEnd.onWall, wall.to, WALL_END});
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

Box Bounds(const Track& track) {
  Box box{std::min(track.from.x, track.to.x), std::min(track.from.y, track.to.y),
          std::max(track.from.x, track.to.x), std::max(track.from.y, track.to.y)};
  if (!track.arc) {
    return box;
  }
  const double r = track.radius;
  // The ends lie on the circle only up to rounding: the extremes are taken with them.
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
