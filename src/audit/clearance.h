// SPDX-License-Identifier: MIT
// Exact distance between two bounded curves (lines and circular arcs), in closed form. The
// nearest pair of points of two such curves is either a crossing, or has an end point of one
// curve on one side, or lies on a common normal: for a line and an arc, the perpendicular from
// the arc's centre to the line; for two arcs, the line through both centres. Every such pair is
// enumerated and the nearest kept, so nothing is sampled and the result is exact up to rounding.
// Internal to the audit; stateless.
#pragma once

#include <cmath>
#include <cstdint>

#include <crc/audit/gouge_audit.h>

namespace crc::audit {

using Point = __point2<double>;

inline double Dot(const Point& a, const Point& b) { return a.x * b.x + a.y * b.y; }
inline double Cross(const Point& a, const Point& b) { return a.x * b.y - a.y * b.x; }

// Ends of an arc closer than this (host units) are one point: a whole turn or nothing, as the
// curve's flag says. The same threshold the host's path model uses, so both read an arc alike.
inline constexpr double ARC_ENDS_COINCIDE = 1e-12;

// A curve made ready for distance work: an arc's radius, its end on the circle and whether it
// sweeps more than half a turn are worked out once. A line of zero length, an arc of zero sweep
// and an arc of zero radius are points (a line whose ends coincide).
struct Track {
  bool arc = false;
  bool ccw = true;
  bool full = false;    // a whole turn: every direction lies on it
  bool reflex = false;  // sweeps more than half a turn
  Point from;
  Point to;
  Point centre;
  double radius = 0.0;
  // Arcs: the ends seen from the centre in counterclockwise order (from, to for a
  // counterclockwise arc; to, from for a clockwise one), for the direction test.
  Point first;
  Point last;
};

// False when the curve cannot be read: an arc whose centre lies on one of its ends while the
// other lies elsewhere. Coordinates are not checked here.
bool MakeTrack(const Curve& curve, Track& track);

// The arc holds the direction `v` seen from its centre (ends included); `v` is not zero.
inline bool HoldsDirection(const Track& arc, const Point& v) {
  if (arc.full) {
    return true;
  }
  if (!arc.reflex) {
    return Cross(arc.first, v) >= 0.0 && Cross(v, arc.last) >= 0.0;
  }
  // More than half a turn: everything but the open wedge from the last end on to the first.
  return !(Cross(arc.last, v) > 0.0 && Cross(v, arc.first) > 0.0);
}

// Which point of a wall a nearest pair ends on.
enum wall_end_t : std::uint8_t { WALL_INTERIOR = 0, WALL_START = 1, WALL_END = 2 };

struct Approach {
  double distance = 0.0;
  Point onPiece;
  Point onWall;
  wall_end_t end = WALL_INTERIOR;
};

// The point of `track` nearest to `p`, and which end it is (WALL_INTERIOR for an inner point).
Approach Nearest(const Point& p, const Track& track);

// The nearest pair of points of `piece` and `wall`. Pairs whose wall point is the end named by
// `skip` (WALL_START or WALL_END; WALL_INTERIOR skips nothing) are left out: the distance is
// then the least over the remaining local minima, and may be infinity when none remains.
Approach Closest(const Track& piece, const Track& wall, wall_end_t skip);

// Rounding in the cheap tests below and in Closest, relative to the largest coordinate in play
// (of the piece, of the walls, of arc centres): a pair the cheap tests set aside at `limit`
// plus this much measures at least `limit` in Closest too. Double rounding costs a few units of
// 2^-53 per operation; 2^-40 leaves ample room, and stays far below any tolerance a host would
// set (1e-9 of the coordinates' size).
inline constexpr double ROUNDING_MARGIN = 0x1p-40;

// A piece made ready to be held against many walls by ApartBy.
struct Probe {
  const Track& piece;
  double limit = 0.0;  // the distance to show, rounding margin included
  // Lines: the direction (to - from), its squared length and length, and limit times length.
  Point d;
  double length2 = 0.0;
  double length = 0.0;
  double gap = 0.0;
};
inline Probe MakeProbe(const Track& piece, double limit) {
  Probe probe{piece, limit, Point(), 0.0, 0.0, 0.0};
  if (!piece.arc) {
    probe.d = piece.to - piece.from;
    probe.length2 = Dot(probe.d, probe.d);
    probe.length = std::sqrt(probe.length2);
    probe.gap = limit * probe.length;
  }
  return probe;
}

// True only when every point of `wall` lies `probe.limit` or more from every point of the
// piece: a proof in a few products, before Closest. It looks for a line or a circle that keeps
// the two apart: the piece's own line and the line along it, the wall's line, or a piece's or
// wall's circle with the other curve wholly inside or outside the band `limit` wide about it.
// Along a contour these settle a piece against its own wall and the walls at its corners (a
// piece runs one radius from its wall, a trimmed corner ends one radius from the next wall, and
// a wall bends away from the tool at an outside corner). False says nothing.
bool ApartBy(const Probe& probe, const Track& wall);

// ApartBy for a straight piece (of length above zero) against the wall from q0 to q1, in two
// parts: the wall's ends beside the piece's line, or before or past the piece (Band: where a
// point lies across and along the piece, and whether two such places lie beyond one side of
// the band about the piece); the piece's ends beside the wall's line (AcrossWall). A band's
// bounds are offset by the products of the piece's direction with its start instead of
// measuring from the start; their rounding stays below the margin in `limit` all the same, as
// every coordinate is within the scale the margin is taken of.
struct Band {
  struct Place {
    double across;
    double along;
  };

  explicit Band(const Probe& probe)
      : dx(probe.d.x),
        dy(probe.d.y),
        acrossLow(Cross(probe.d, probe.piece.from) - probe.gap),
        acrossHigh(Cross(probe.d, probe.piece.from) + probe.gap),
        alongLow(Dot(probe.d, probe.piece.from) - probe.gap),
        alongHigh(Dot(probe.d, probe.piece.from) + probe.length2 + probe.gap) {}

  Place Of(const Point& q) const { return {Across(q), Along(q)}; }
  bool Apart(const Place& a, const Place& b) const {
    return ApartAcross(a.across, b.across) || ApartAlong(a.along, b.along);
  }
  // The two halves of Of and Apart, for a loop that places points across the band first and
  // along it only for the pairs that the first test leaves.
  double Across(const Point& q) const { return dx * q.y - dy * q.x; }
  double Along(const Point& q) const { return dx * q.x + dy * q.y; }
  bool ApartAcross(double a, double b) const {
    return (a >= acrossHigh && b >= acrossHigh) || (a <= acrossLow && b <= acrossLow);
  }
  bool ApartAlong(double a, double b) const {
    return (a <= alongLow && b <= alongLow) || (a >= alongHigh && b >= alongHigh);
  }

  double dx;
  double dy;
  double acrossLow;
  double acrossHigh;
  double alongLow;
  double alongHigh;
};
inline bool AcrossWall(const Probe& probe, const Point& q0, const Point& q1) {
  const Point e = q1 - q0;
  const double gap = probe.limit * std::sqrt(Dot(e, e));
  const double u0 = Cross(e, probe.piece.from - q0);
  const double u1 = Cross(e, probe.piece.to - q0);
  return gap > 0.0 && ((u0 >= gap && u1 >= gap) || (u0 <= -gap && u1 <= -gap));
}

// Smallest axis-aligned box holding the track: minX, minY, maxX, maxY.
struct Box {
  double minX = 0.0;
  double minY = 0.0;
  double maxX = 0.0;
  double maxY = 0.0;
};
Box Bounds(const Track& track);

}  // namespace crc::audit
