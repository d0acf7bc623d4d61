// SPDX-License-Identifier: MIT
// The wall rules (see walls.h): loops and leads of a run, the finishing regions of wall
// stretches, and the stretches of a wall that bound the part. Everything here runs only for
// walls that a piece comes close enough to gouge, so that a clean program pays nothing for it.
#include "audit/walls.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>
#include <utility>

namespace crc::audit {
namespace {

constexpr double PI = 3.14159265358979323846;
// A finishing region begins this fraction of the audit's tolerance off its wall: a stretch
// nearer than that is the wall itself (a later pass along the same line releases nothing).
// Where a later wall meets an earlier one at an angle, the earlier one is gouged by as much as
// its stretch stands off the later wall, so what is left of it next to the region's edge is cut
// by half the tolerance at most, safely below a gouge.
constexpr double INNER = 0.5;
// Heuristic: a loop must be wider on average (area over perimeter, half the width of a strip,
// the radius over two for a disc) than this fraction of the cutter radius. The outlines of
// parts are (a pocket the cutter fits has at least half its radius; a boss smaller than a
// quarter of the cutter is rare); a path that runs out and back close beside itself closes a
// sliver that is no outline, and taking it for one would make leads of whole profiles. On the
// gouge survey's generated programs (bench/gouge_survey) a sliver threshold of the tolerance
// turned the profile before such a sliver into a lead in 20 programs of 3,000; this one in none.
constexpr double LOOP_WIDTH = 0.25;
// Cosine below which two directions count as square to each other, whatever their rounding.
constexpr double SQUARE = 1e-9;

Point Left(const Point& v) { return {-v.y, v.x}; }
double Length(const Point& v) { return std::sqrt(Dot(v, v)); }
Point Unit(const Point& v) {
  const double length = Length(v);
  return length > 0.0 ? v * (1.0 / length) : Point(0.0, 0.0);
}

// The angle from a to b (both non-zero) in the arc's sense of travel, in [0, 2 pi).
double TurnFrom(const Track& arc, const Point& a, const Point& b) {
  double angle = std::atan2(Cross(a, b), Dot(a, b));
  angle = arc.ccw ? angle : -angle;
  return angle < 0.0 ? angle + 2.0 * PI : angle;
}

double SweepOf(const Track& arc) {
  return arc.full ? 2.0 * PI : TurnFrom(arc, arc.from - arc.centre, arc.to - arc.centre);
}

double LengthOf(const Track& track) {
  return track.arc ? track.radius * SweepOf(track) : Length(track.to - track.from);
}

}  // namespace

Point PointAt(const Track& track, double s) {
  if (!track.arc) {
    return track.from + (track.to - track.from) * s;
  }
  const double angle = (track.ccw ? 1.0 : -1.0) * s * SweepOf(track);
  const Point a = track.from - track.centre;
  const double c = std::cos(angle);
  const double n = std::sin(angle);
  return track.centre + Point(a.x * c - a.y * n, a.x * n + a.y * c);
}

double PositionOf(const Track& track, const Point& p) {
  if (!track.arc) {
    const Point d = track.to - track.from;
    const double length2 = Dot(d, d);
    return length2 > 0.0 ? std::clamp(Dot(p - track.from, d) / length2, 0.0, 1.0) : 0.0;
  }
  const Point v = p - track.centre;
  if (v == Point(0.0, 0.0)) {
    return 0.0;
  }
  const double sweep = SweepOf(track);
  const double turn = TurnFrom(track, track.from - track.centre, v);
  if (turn <= sweep) {
    return sweep > 0.0 ? turn / sweep : 0.0;
  }
  // Outside the arc: the nearer end. A whole turn reads its start as both ends: near 2 pi it is
  // the end.
  return turn - sweep < 2.0 * PI - turn ? 1.0 : 0.0;
}

Track Stretch(const Track& track, double s0, double s1) {
  Track part = track;
  part.from = PointAt(track, s0);
  part.to = PointAt(track, s1);
  if (!track.arc) {
    return part;
  }
  Curve curve;
  curve.arc = true;
  curve.ccw = track.ccw;
  curve.centre = track.centre;
  curve.from = part.from;
  curve.to = part.to;
  curve.fullCircle = track.full && s0 <= 0.0 && s1 >= 1.0;
  if (!MakeTrack(curve, part)) {
    part = Track();  // no arc left: a point
    part.from = part.to = curve.from;
  }
  return part;
}

Point TangentAt(const Track& track, double s) {
  if (!track.arc) {
    return Unit(track.to - track.from);
  }
  const Point v = PointAt(track, s) - track.centre;
  return Unit(track.ccw ? Left(v) : Left(v) * -1.0);
}

namespace {

// The tool's side of a track at position s: +1 left, -1 right; the unit normal pointing there.
Point ToolNormal(const Track& track, double s, int side) {
  const Point left = Left(TangentAt(track, s));
  return side > 0 ? left : left * -1.0;
}

}  // namespace

// ---- Where a track meets lines and circles ------------------------------------------------

// Positions on `track` (inside [0, 1]) where it meets the whole line through `a` along `d`.
void MeetLine(const Track& track, const Point& a, const Point& d, std::vector<double>& out) {
  const double dd = Dot(d, d);
  if (!(dd > 0.0)) {
    return;
  }
  if (!track.arc) {
    const Point e = track.to - track.from;
    const double denominator = Cross(e, d);
    if (denominator != 0.0) {  // exact: parallel lines meet nowhere or everywhere
      const double s = Cross(a - track.from, d) / denominator;
      if (s >= 0.0 && s <= 1.0) {
        out.push_back(s);
      }
    }
    return;
  }
  const double u = Dot(track.centre - a, d) / dd;
  const Point foot = a + d * u;
  const Point toLine = foot - track.centre;
  const double h2 = Dot(toLine, toLine);
  const double r2 = track.radius * track.radius;
  if (h2 > r2) {
    return;
  }
  const double half = std::sqrt((r2 - h2) / dd);
  for (const double t : {-half, half}) {
    const Point x = foot + d * t;
    if (HoldsDirection(track, x - track.centre)) {
      out.push_back(PositionOf(track, x));
    }
  }
}

// Positions on `track` where it meets the circle about `c` of radius `rho`.
void MeetCircle(const Track& track, const Point& c, double rho, std::vector<double>& out) {
  if (!(rho > 0.0)) {
    return;
  }
  if (!track.arc) {
    const Point d = track.to - track.from;
    const double dd = Dot(d, d);
    if (!(dd > 0.0)) {
      return;
    }
    const Point f = track.from - c;
    const double b = Dot(f, d) / dd;
    const double q = (Dot(f, f) - rho * rho) / dd;
    const double disc = b * b - q;
    if (disc < 0.0) {
      return;
    }
    const double root = std::sqrt(disc);
    for (const double s : {-b - root, -b + root}) {
      if (s >= 0.0 && s <= 1.0) {
        out.push_back(s);
      }
    }
    return;
  }
  const Point between = c - track.centre;
  const double dc = Length(between);
  const double r = track.radius;
  if (!(dc > 0.0) || dc > r + rho || dc < std::fabs(r - rho)) {
    return;
  }
  const Point u = between * (1.0 / dc);
  const double along = (dc * dc + r * r - rho * rho) / (2.0 * dc);
  const double across = std::sqrt(std::max(0.0, r * r - along * along));
  for (const double side : {1.0, -1.0}) {
    const Point v = u * along + Left(u) * (side * across);
    if (!(v == Point(0.0, 0.0)) && HoldsDirection(track, v)) {
      out.push_back(PositionOf(track, track.centre + v));
    }
  }
}

namespace {

// Where two tracks meet: pairs of positions (on a, on b). Crossings in closed form, and every
// end of one that lies within `eps` of the other (which covers touching, running along each
// other and joints).
struct Meeting {
  double sa;
  double sb;
};
void Meetings(const Track& a, const Track& b, double eps, std::vector<Meeting>& out) {
  std::vector<double> on;
  if (!b.arc) {
    MeetLine(a, b.from, b.to - b.from, on);
  } else {
    MeetCircle(a, b.centre, b.radius, on);
  }
  for (const double sa : on) {
    const Point x = PointAt(a, sa);
    const Approach near = Nearest(x, b);
    if (near.distance <= eps) {
      out.push_back({sa, PositionOf(b, near.onWall)});
    }
  }
  for (const double sa : {0.0, 1.0}) {
    const Approach near = Nearest(PointAt(a, sa), b);
    if (near.distance <= eps) {
      out.push_back({sa, PositionOf(b, near.onWall)});
    }
  }
  for (const double sb : {0.0, 1.0}) {
    const Approach near = Nearest(PointAt(b, sb), a);
    if (near.distance <= eps) {
      out.push_back({PositionOf(a, near.onWall), sb});
    }
  }
}

// ---- Loops: signed area and winding ------------------------------------------------------

// Twice the signed area swept by a track about the origin (the shoelace term of a closed path),
// an arc's segment included.
double AreaTerm(const Track& t) {
  double twice = Cross(t.from, t.to);
  if (t.arc) {
    const double sweep = SweepOf(t);
    const double segment = t.radius * t.radius * (sweep - std::sin(sweep));
    twice += t.ccw ? segment : -segment;
  }
  return twice;
}

// How many times a track crosses a ray from p, counted +1 where it passes the ray to the left
// and -1 to the right, with the half-open rule at the ends (an end exactly on the ray counts on
// its left), so that the crossings of a closed path sum to its winding number about p. The ray
// leaves p at an angle no drawing uses (about 70.7 degrees), so that it does not run along the
// edges of a part drawn square: a point tested on the line of an edge (a run-on) would
// otherwise meet it along its length.
int RayCrossings(const Track& t, const Point& p) {
  const Point d(0.330086243543, 0.943959016829);  // unit
  const Point n = Left(d);
  auto height = [&](const Point& q) { return Dot(q - p, n); };
  auto straight = [&](const Point& a, const Point& b) {
    const double ha = height(a);
    const double hb = height(b);
    if ((ha <= 0.0) == (hb <= 0.0)) {
      return 0;
    }
    const Point x = a + (b - a) * (ha / (ha - hb));
    return Dot(x - p, d) > 0.0 ? (hb > ha ? 1 : -1) : 0;
  };
  if (!t.arc) {
    return straight(t.from, t.to);
  }
  // An arc in stretches that rise or fall throughout across the ray: split where it is
  // furthest to either side of it.
  std::vector<double> cuts{0.0, 1.0};
  for (const Point& v : {n, n * -1.0}) {
    if (HoldsDirection(t, v)) {
      cuts.push_back(PositionOf(t, t.centre + v * t.radius));
    }
  }
  std::sort(cuts.begin(), cuts.end());
  int count = 0;
  const double hc = height(t.centre);
  const double uc = Dot(t.centre - p, d);
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
    const Point a = PointAt(t, cuts[i]);
    const Point b = PointAt(t, cuts[i + 1]);
    const double ha = height(a);
    const double hb = height(b);
    if ((ha <= 0.0) == (hb <= 0.0)) {
      continue;
    }
    const Point mid = PointAt(t, 0.5 * (cuts[i] + cuts[i + 1]));
    const double du = std::sqrt(std::max(0.0, t.radius * t.radius - hc * hc));
    const double u = Dot(mid - p, d) >= uc ? uc + du : uc - du;
    if (u > 0.0) {
      count += hb > ha ? 1 : -1;
    }
  }
  return count;
}

// ---- Finishing regions ----------------------------------------------------------------------

// The finishing region of a wall stretch (a band beside it) or of a convex corner (a sector).
struct Region {
  bool sector = false;
  Track wall;        // the band's stretch
  int side = 0;      // +1 tool on the left of the stretch, -1 on the right
  double reach = 0;  // twice the cutter radius
  double inner = 0;  // the tolerance: nearer than this is the wall itself
  Point corner;      // the sector's apex
  Point inTangent;   // the sector: the direction of travel arriving at the corner
  Point outTangent;  // and leaving it

  // Whether p lies in the region, and if so the unit normal pointing from p to the wall's
  // material side there (from p towards the wall). The ends of a band and the sides of a
  // sector belong to it: a band and the sector at its end share that edge, and a stretch that
  // runs along it (a side run on past a corner) lies between the two.
  bool Holds(const Point& p, Point& towardsWall) const {
    if (sector) {
      const Point v = p - corner;
      const double distance = Length(v);
      if (!(Dot(v, inTangent) >= 0.0 && Dot(v, outTangent) <= 0.0 && distance > inner &&
            distance < reach)) {
        return false;
      }
      towardsWall = v * (-1.0 / distance);
      return true;
    }
    if (!wall.arc) {
      const Point d = wall.to - wall.from;
      const double length = Length(d);
      if (!(length > 0.0)) {
        return false;
      }
      const Point u = d * (1.0 / length);
      const Point toolward = side > 0 ? Left(u) : Left(u) * -1.0;
      const double along = Dot(p - wall.from, u);
      const double across = Dot(p - wall.from, toolward);
      if (!(along >= 0.0 && along <= length && across > inner && across < reach)) {
        return false;
      }
      towardsWall = toolward * -1.0;
      return true;
    }
    const Point v = p - wall.centre;
    const double rho = Length(v);
    if (!(rho > 0.0) || !HoldsDirection(wall, v)) {
      return false;
    }
    // Tool on the left of a counterclockwise arc, or on the right of a clockwise one: inside.
    const bool inside = (side > 0) == wall.ccw;
    const double across = inside ? wall.radius - rho : rho - wall.radius;
    if (!(across > inner && across < reach)) {
      return false;
    }
    towardsWall = inside ? v * (1.0 / rho) : v * (-1.0 / rho);
    return true;
  }

  // Every line and circle on which the region's boundary lies, as positions on `t` where `t`
  // crosses them.
  void Crossings(const Track& t, std::vector<double>& out) const {
    if (sector) {
      MeetLine(t, corner, Left(inTangent), out);
      MeetLine(t, corner, Left(outTangent), out);
      MeetCircle(t, corner, inner, out);
      MeetCircle(t, corner, reach, out);
      return;
    }
    if (!wall.arc) {
      const Point d = wall.to - wall.from;
      const Point u = Unit(d);
      const Point toolward = side > 0 ? Left(u) : Left(u) * -1.0;
      MeetLine(t, wall.from, toolward, out);
      MeetLine(t, wall.to, toolward, out);
      MeetLine(t, wall.from + toolward * inner, d, out);
      MeetLine(t, wall.from + toolward * reach, d, out);
      return;
    }
    MeetLine(t, wall.centre, wall.from - wall.centre, out);
    MeetLine(t, wall.centre, wall.to - wall.centre, out);
    const bool inside = (side > 0) == wall.ccw;
    const double sign = inside ? -1.0 : 1.0;
    MeetCircle(t, wall.centre, wall.radius + sign * inner, out);
    MeetCircle(t, wall.centre, wall.radius + sign * reach, out);
  }
};

// Where the material normal of a stretch of wall (pointing into the part) meets the region's
// "towards the wall" direction at right angles: the boundary of the test that the later wall
// stands behind the earlier one. For two lines the test does not change along the stretch.
void BehindCrossings(const Track& t, int tSide, const Region& region, std::vector<double>& out) {
  (void)tSide;
  if (region.sector) {
    if (t.arc) {  // (p - c1).(corner - p) = 0: the circle on the diameter from c1 to the corner
      MeetCircle(t, (t.centre + region.corner) * 0.5, 0.5 * Length(region.corner - t.centre), out);
    }
    return;
  }
  if (!region.wall.arc) {
    if (t.arc) {  // (p - c1) at right angles to the band's normal: the line through c1 along it
      MeetLine(t, t.centre, region.wall.to - region.wall.from, out);
    }
    return;
  }
  if (!t.arc) {  // (p - c2) at right angles to the line's normal: the line through c2 along it
    MeetLine(t, region.wall.centre, t.to - t.from, out);
  } else {  // (p - c1).(p - c2) = 0
    MeetCircle(t, (t.centre + region.wall.centre) * 0.5,
               0.5 * Length(region.wall.centre - t.centre), out);
  }
}

// The material normal of a wall stretch at p (pointing into the part).
Point MaterialNormal(const Track& t, int side, const Point& p) {
  return ToolNormal(t, PositionOf(t, p), side) * -1.0;
}

struct Interval {
  double s0;
  double s1;
};

// The intervals of `t` inside `region` (and, with `behindSide` not 0, where the region's wall
// stands behind t, t's tool being on side `behindSide`), appended to `out` in positions of t.
void Inside(const Track& t, const Region& region, int behindSide, std::vector<Interval>& out) {
  std::vector<double> cuts{0.0, 1.0};
  region.Crossings(t, cuts);
  if (behindSide != 0) {
    BehindCrossings(t, behindSide, region, cuts);
  }
  std::sort(cuts.begin(), cuts.end());
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
    const double s0 = cuts[i];
    const double s1 = cuts[i + 1];
    if (!(s1 > s0)) {
      continue;
    }
    const Point p = PointAt(t, 0.5 * (s0 + s1));
    Point towardsWall;
    if (!region.Holds(p, towardsWall)) {
      continue;
    }
    // A later wall facing the stretch (its material towards the stretch's air) releases
    // nothing; one behind it or square to it (a groove cut into a turned diameter, a keyway
    // from a bore, a pass that turned short of where the earlier one ran on) opens what lies
    // in its region.
    if (behindSide != 0 && !(Dot(MaterialNormal(t, behindSide, p), towardsWall) > -SQUARE)) {
      continue;
    }
    out.push_back({s0, s1});  // unsorted among regions: merged by the caller
  }
}

}  // namespace

// ---- The rules ----------------------------------------------------------------------------------

struct WallRules::Impl {
  Impl(const ContourIndex& c, const std::vector<std::uint8_t>& r, const std::vector<RunSpan>& s,
       double tol)
      : contour(c), roles(r), runs(s), tolerance(tol) {
    eps = 1e-9 * (contour.Scale() + 1.0);
    for (const RunSpan& run : runs) {
      maxRadius = std::max(maxRadius, run.radius);
    }
    resolved.assign(runs.size(), false);
  }

  const ContourIndex& contour;
  const std::vector<std::uint8_t>& roles;
  const std::vector<RunSpan>& runs;
  double tolerance;
  double eps = 0.0;  // lengths nearer than this are one point
  double maxRadius = 0.0;

  // A loop or a stretch of the backbone of a run.
  struct Sequence {
    std::vector<Part> parts;
    bool loop = false;
  };
  std::vector<bool> resolved;                // by run
  std::vector<std::vector<Sequence>> paths;  // by run, once resolved
  // Where the parts of a segment lie in its run's sequences.
  struct Place {
    std::uint32_t sequence;
    std::uint32_t index;
  };
  std::unordered_map<std::uint32_t, std::vector<Place>> places;
  // Backbone stretches in the air of their loops: the loops (sequence numbers) they lead to or
  // from, and which way.
  struct Lead {
    Part part;
    lead_t kind;
  };
  std::unordered_map<std::uint32_t, std::vector<Lead>> leads;
  // Resolved walls that do not wholly bound the part.
  std::unordered_map<std::uint32_t, std::vector<Part>> partial;
  std::vector<bool> wallResolved;

  std::size_t RunOf(std::size_t k) const {
    const auto after = std::upper_bound(
        runs.begin(), runs.end(), k, [](std::size_t v, const RunSpan& r) { return v < r.first; });
    return after == runs.begin() ? 0 : static_cast<std::size_t>(after - runs.begin() - 1);
  }
  int SideOf(std::size_t k) const { return Role::Side(roles[k]); }
  bool InProgress(std::size_t k) const { return Role::Phase(roles[k]) == CRC_STATUS_DOING; }

  // The candidate walls whose leaf boxes meet `box`, each once, in the order found.
  template <typename Visit>
  void Near(const Box& box, Visit&& visit) const {
    contour.Query(box, [&](std::size_t leaf) {
      const auto span = contour.LeafRange(leaf);
      for (std::size_t j = span.first; j < span.last; ++j) {
        if (contour.IsWall(j)) {
          visit(j);
        }
      }
    });
  }
  static Box Grown(const Box& b, double by) {
    return {b.minX - by, b.minY - by, b.maxX + by, b.maxY + by};
  }

  void ResolveRun(std::size_t run);
  void FindLeads(std::size_t run, const std::vector<Part>& backbone,
                 const std::vector<std::pair<std::size_t, std::uint32_t>>& anchors,
                 const std::vector<Sequence>& loops);
  bool InAir(const Sequence& loop, int side, const Track& stretch) const;
  void Regions(std::size_t k, const Part& part, std::vector<Region>& out);
  const std::vector<Part>* Resolve(std::size_t k);
};

WallRules::WallRules(const ContourIndex& contour, const std::vector<std::uint8_t>& roles,
                     const std::vector<RunSpan>& runs, double tolerance)
    : m_Impl(std::make_unique<Impl>(contour, roles, runs, tolerance)) {}
WallRules::~WallRules() = default;

std::size_t WallRules::RunOf(std::size_t k) const { return m_Impl->RunOf(k); }

// A run's path, decomposed as it is travelled: each segment in progress is added to the
// backbone; where it meets the backbone again (other than where it joins it), the backbone from
// the meeting point on and the segment up to it form a loop, which is taken out of the backbone,
// and the segment goes on from the meeting point. A loop of no area (a move out and back along
// itself) is no loop: the backbone keeps it.
void WallRules::Impl::ResolveRun(std::size_t run) {
  resolved[run] = true;
  if (paths.size() < runs.size()) {
    paths.resize(runs.size());
  }
  const RunSpan& span = runs[run];
  std::vector<Part> backbone;
  std::unordered_map<std::uint32_t, std::size_t> first;  // a segment's first backbone part
  std::vector<Sequence> loops;
  // Anchors: the backbone size at which a loop was taken out (the backbone goes on from the
  // loop's meeting point there), and the loop.
  std::vector<std::pair<std::size_t, std::uint32_t>> anchors;
  std::vector<Meeting> meetings;

  auto truncate = [&](std::size_t size, bool shortened) {
    for (std::size_t i = size; i < backbone.size(); ++i) {
      const auto found = first.find(backbone[i].k);
      if (found != first.end() && found->second == i) {
        first.erase(found);
      }
    }
    backbone.resize(size);
    anchors.erase(std::remove_if(anchors.begin(), anchors.end(),
                                 [size, shortened](const auto& a) {
                                   return shortened ? a.first >= size : a.first > size;
                                 }),
                  anchors.end());
  };

  for (std::size_t k = span.first; k < span.last; ++k) {
    if (!InProgress(k)) {
      continue;
    }
    const Track track = contour.TrackOf(k);
    double cur = 0.0;
    if (track.full) {
      // A whole circle closes on itself: a loop of its own, anchored where it starts and ends.
      Sequence loop;
      loop.loop = true;
      loop.parts.push_back({static_cast<std::uint32_t>(k), 0.0, 1.0});
      anchors.emplace_back(backbone.size(), static_cast<std::uint32_t>(loops.size()));
      loops.push_back(std::move(loop));
      continue;
    }
    const Box box = Grown(Bounds(track), eps);
    const double slackHere = eps / std::max(LengthOf(track), eps);
    while (true) {
      const Point from = PointAt(track, cur);
      // Every meeting with the backbone beyond `cur` (the joint with the backbone's end is at
      // `cur` itself and is left out).
      struct Hit {
        double s;          // on the segment
        std::size_t part;  // backbone part met
        double on;         // position on that part's segment
      };
      std::vector<Hit> hits;
      Near(box, [&](std::size_t j) {
        if (j < span.first || j >= k) {
          return;
        }
        const auto at = first.find(static_cast<std::uint32_t>(j));
        if (at == first.end()) {
          return;
        }
        const Track other = contour.TrackOf(j);
        const double slack = eps / std::max(LengthOf(other), eps);
        meetings.clear();
        Meetings(track, other, eps, meetings);
        for (const Meeting& m : meetings) {
          if (!(m.sa > cur) || Length(PointAt(track, m.sa) - from) <= eps) {
            continue;
          }
          for (std::size_t i = at->second; i < backbone.size() && backbone[i].k == j; ++i) {
            const Part& part = backbone[i];
            if (m.sb >= part.s0 - slack && m.sb <= part.s1 + slack) {
              hits.push_back({m.sa, i, std::clamp(m.sb, part.s0, part.s1)});
            }
          }
        }
      });
      if (hits.empty()) {
        if (first.find(static_cast<std::uint32_t>(k)) == first.end()) {
          first[static_cast<std::uint32_t>(k)] = backbone.size();
        }
        backbone.push_back({static_cast<std::uint32_t>(k), cur, 1.0});
        break;
      }
      // The earliest along the segment; of several at that point, the earliest on the backbone
      // (the largest loop).
      const Hit* best = &hits.front();
      for (const Hit& h : hits) {
        if (h.s < best->s - slackHere) {
          best = &h;
        }
      }
      const Point at = PointAt(track, best->s);
      const double s = best->s;
      for (const Hit& h : hits) {
        if (Length(PointAt(track, h.s) - at) <= eps &&
            (h.part < best->part || (h.part == best->part && h.on < best->on))) {
          best = &h;
        }
      }
      const std::size_t index = best->part;
      const double on = best->on;
      Sequence loop;
      loop.loop = true;
      loop.parts.push_back({backbone[index].k, on, backbone[index].s1});
      loop.parts.insert(loop.parts.end(), backbone.begin() + static_cast<std::ptrdiff_t>(index) + 1,
                        backbone.end());
      loop.parts.push_back({static_cast<std::uint32_t>(k), cur, s});
      double area = 0.0;
      double perimeter = 0.0;
      for (const Part& part : loop.parts) {
        const Track piece = Stretch(contour.TrackOf(part.k), part.s0, part.s1);
        area += 0.5 * AreaTerm(piece);
        perimeter += LengthOf(piece);
      }
      if (std::fabs(area) > std::max(LOOP_WIDTH * span.radius, tolerance) * perimeter) {
        // Keep what comes before the meeting point; the loop is what follows. An anchor at the
        // end of a part that is shortened no longer lies on the backbone.
        const bool keep = on > backbone[index].s0;
        if (keep) {
          backbone[index].s1 = on;
        }
        truncate(keep ? index + 1 : index, keep);
        anchors.emplace_back(backbone.size(), static_cast<std::uint32_t>(loops.size()));
        loops.push_back(std::move(loop));
      } else {
        if (first.find(static_cast<std::uint32_t>(k)) == first.end()) {
          first[static_cast<std::uint32_t>(k)] = backbone.size();
        }
        backbone.push_back({static_cast<std::uint32_t>(k), cur, s});
      }
      cur = s;
      if (cur >= 1.0) {
        break;
      }
    }
  }
  FindLeads(run, backbone, anchors, loops);
  // Loops are sequences 0 .. n - 1 of the run, the backbone the last one.
  std::vector<Sequence>& sequences = paths[run];
  sequences = loops;
  Sequence open;
  open.parts = backbone;
  sequences.push_back(std::move(open));
  for (std::uint32_t s = 0; s < sequences.size(); ++s) {
    for (std::uint32_t i = 0; i < sequences[s].parts.size(); ++i) {
      places[sequences[s].parts[i].k].push_back({s, i});
    }
  }
}

// The backbone between anchors, each stretch with the loops anchored at its ends: a part that
// lies in the air of all of them is a lead. Before the first anchor it leads in; after it, it
// leads out of a loop (or from one loop to the next).
void WallRules::Impl::FindLeads(std::size_t run, const std::vector<Part>& backbone,
                                const std::vector<std::pair<std::size_t, std::uint32_t>>& anchors,
                                const std::vector<Sequence>& loops) {
  (void)run;
  if (anchors.empty()) {
    return;  // no loop: an open profile, every segment a wall
  }
  std::vector<std::size_t> cuts;
  for (const auto& anchor : anchors) {
    if (cuts.empty() || cuts.back() != anchor.first) {
      cuts.push_back(anchor.first);
    }
  }
  auto loopsAt = [&anchors](std::size_t position, std::vector<std::uint32_t>& out) {
    for (const auto& anchor : anchors) {
      if (anchor.first == position) {
        out.push_back(anchor.second);
      }
    }
  };
  std::size_t begin = 0;
  for (std::size_t c = 0; c <= cuts.size(); ++c) {
    const std::size_t end = c < cuts.size() ? cuts[c] : backbone.size();
    std::vector<std::uint32_t> adjacent;
    if (c > 0) {
      loopsAt(cuts[c - 1], adjacent);
    }
    if (c < cuts.size()) {
      loopsAt(cuts[c], adjacent);
    }
    const lead_t kind = c == 0 ? LEAD_IN : c == cuts.size() ? LEAD_OUT : LEAD_IN;
    for (std::size_t i = begin; i < end; ++i) {
      const Part& part = backbone[i];
      const int side = SideOf(part.k);
      if (!contour.IsWall(part.k) || side == 0 || !(part.s1 > part.s0)) {
        continue;
      }
      const Track stretch = Stretch(contour.TrackOf(part.k), part.s0, part.s1);
      bool air = true;
      for (const std::uint32_t l : adjacent) {
        air = air && InAir(loops[l], side, stretch);
      }
      if (air) {
        leads[part.k].push_back({part, kind});
      }
    }
    begin = end;
  }
}

// Whether a stretch of the backbone lies in the loop's air: on the side of the loop where a tool
// on `side` runs (inside a loop that turns towards the tool, outside one that turns away),
// meeting the loop nowhere but at its own ends; or along the loop, the same way round.
bool WallRules::Impl::InAir(const Sequence& loop, int side, const Track& stretch) const {
  double twiceArea = 0.0;
  std::vector<Track> pieces;
  pieces.reserve(loop.parts.size());
  for (const Part& part : loop.parts) {
    if (SideOf(part.k) != side) {
      return false;  // the loop changes sides: it has no air to speak of
    }
    pieces.push_back(Stretch(contour.TrackOf(part.k), part.s0, part.s1));
    twiceArea += AreaTerm(pieces.back());
  }
  const bool toolInside = (twiceArea > 0.0) == (side > 0);
  const Point ends[2] = {stretch.from, stretch.to};
  const Point middle = PointAt(stretch, 0.5);
  std::vector<Meeting> meetings;
  for (const Track& piece : pieces) {
    const Box b = Bounds(piece);
    const Box s = Grown(Bounds(stretch), eps);
    if (b.maxX < s.minX || s.maxX < b.minX || b.maxY < s.minY || s.maxY < b.minY) {
      continue;
    }
    meetings.clear();
    Meetings(stretch, piece, eps, meetings);
    for (const Meeting& m : meetings) {
      const Point x = PointAt(stretch, m.sa);
      if (Length(x - ends[0]) > eps && Length(x - ends[1]) > eps) {
        return false;  // crosses or runs along the loop
      }
    }
    const Approach on = Nearest(middle, piece);
    if (on.distance <= eps) {
      // Along the loop: a lead that retraces it the same way round (a second lap starting
      // along the first) is where the tool has been; any other way is no lead.
      const Point along = TangentAt(piece, PositionOf(piece, on.onWall));
      return Dot(along, TangentAt(stretch, 0.5)) > 1.0 - SQUARE;
    }
  }
  int winding = 0;
  for (const Track& piece : pieces) {
    winding += RayCrossings(piece, middle);
  }
  return (winding != 0) == toolInside;
}

// The finishing regions of a wall stretch (k, part): the band beside it and the sector at each
// end where its sequence turns away from the tool (a convex corner).
void WallRules::Impl::Regions(std::size_t k, const Part& part, std::vector<Region>& out) {
  const int side = SideOf(k);
  const double radius = runs[RunOf(k)].radius;
  if (side == 0 || !(radius > 0.0) || !(part.s1 > part.s0)) {
    return;
  }
  const Track track = contour.TrackOf(k);
  Region band;
  band.wall = Stretch(track, part.s0, part.s1);
  band.side = side;
  band.reach = 2.0 * radius;
  band.inner = INNER * tolerance;
  out.push_back(band);
  const auto found = places.find(static_cast<std::uint32_t>(k));
  if (found == places.end()) {
    return;
  }
  const std::size_t run = RunOf(k);
  for (const Place& place : found->second) {
    const Sequence& sequence = paths[run][place.sequence];
    const Part& here = sequence.parts[place.index];
    if (here.s0 != part.s0 || here.s1 != part.s1) {  // exact: the same stretch of the sequence
      continue;
    }
    const std::size_t n = sequence.parts.size();
    const bool hasNext = sequence.loop || place.index + 1 < n;
    const bool hasPrevious = sequence.loop || place.index > 0;
    auto corner = [&](const Part& a, const Part& b) {
      if (SideOf(a.k) != side || SideOf(b.k) != side) {
        return;
      }
      const Track ta = contour.TrackOf(a.k);
      const Track tb = contour.TrackOf(b.k);
      const Point p = PointAt(ta, a.s1);
      if (Length(PointAt(tb, b.s0) - p) > eps) {
        return;
      }
      const Point in = TangentAt(ta, a.s1);
      const Point outward = TangentAt(tb, b.s0);
      // Turning away from the tool: clockwise with the tool on the left. A joint that barely
      // turns is swept by the two bands.
      if (!(Cross(in, outward) * side < -1e-9)) {
        return;
      }
      Region sector;
      sector.sector = true;
      sector.corner = p;
      sector.inTangent = in;
      sector.outTangent = outward;
      sector.side = side;
      sector.reach = 2.0 * radius;
      sector.inner = INNER * tolerance;
      out.push_back(sector);
    };
    if (hasNext) {
      corner(here, sequence.parts[(place.index + 1) % n]);
    }
    if (hasPrevious) {
      corner(sequence.parts[(place.index + n - 1) % n], here);
    }
  }
}

const std::vector<Part>* WallRules::Impl::Resolve(std::size_t k) {
  if (wallResolved.empty()) {
    wallResolved.assign(contour.Size(), false);
  }
  if (wallResolved[k]) {
    const auto found = partial.find(static_cast<std::uint32_t>(k));
    return found == partial.end() ? nullptr : &found->second;
  }
  wallResolved[k] = true;
  const std::size_t run = RunOf(k);
  if (!resolved[run]) {
    ResolveRun(run);
  }
  const Track track = contour.TrackOf(k);
  std::vector<Interval> cut;
  std::vector<Region> regions;
  // Leads bound nothing.
  const auto lead = leads.find(static_cast<std::uint32_t>(k));
  if (lead != leads.end()) {
    for (const Lead& l : lead->second) {
      cut.push_back({l.part.s0, l.part.s1});
    }
  }
  // Later passes: the stretches within the finishing region of a later wall behind them. A
  // pass is a run, or one loop of a run that closes several (a second lap): a run's path that
  // doubles back within one loop or along its backbone releases nothing of itself (it
  // interferes, and is measured as such).
  const int side = SideOf(k);
  if (side != 0 && maxRadius > 0.0) {
    const Box box = Grown(Bounds(track), 2.0 * maxRadius + eps);
    Near(box, [&](std::size_t j) {
      if (j <= k) {
        return;
      }
      const std::size_t later = RunOf(j);
      if (!resolved[later]) {
        ResolveRun(later);
      }
      const auto at = places.find(static_cast<std::uint32_t>(j));
      if (at == places.end()) {
        return;
      }
      const auto jLeads = leads.find(static_cast<std::uint32_t>(j));
      for (const Place& place : at->second) {
        const Part& part = paths[later][place.sequence].parts[place.index];
        bool isLead = false;
        if (jLeads != leads.end()) {
          for (const Lead& l : jLeads->second) {
            isLead = isLead || (l.part.s0 == part.s0 && l.part.s1 == part.s1);  // exact: same part
          }
        }
        if (isLead) {
          continue;  // a lead finishes nothing
        }
        regions.clear();
        Regions(j, part, regions);
        std::vector<Interval> inside;
        for (const Region& region : regions) {
          Inside(track, region, side, inside);
        }
        // (Looked up here: resolving a run above adds to the table.)
        const auto own = places.find(static_cast<std::uint32_t>(k));
        if (later != run || own == places.end()) {
          cut.insert(cut.end(), inside.begin(), inside.end());
          continue;
        }
        // The same run: only the stretches of k in another of its loops (a lead is no pass: one
        // turned into the part would release the very walls it cuts).
        for (const Place& mine : own->second) {
          if (mine.sequence == place.sequence || !paths[run][mine.sequence].loop ||
              !paths[run][place.sequence].loop) {
            continue;
          }
          const Part& in = paths[run][mine.sequence].parts[mine.index];
          for (const Interval& i : inside) {
            const double s0 = std::max(i.s0, in.s0);
            const double s1 = std::min(i.s1, in.s1);
            if (s1 > s0) {
              cut.push_back({s0, s1});
            }
          }
        }
      }
    });
  }
  if (cut.empty()) {
    return nullptr;
  }
  std::sort(cut.begin(), cut.end(),
            [](const Interval& a, const Interval& b) { return a.s0 < b.s0; });
  std::vector<Part>& walls = partial[static_cast<std::uint32_t>(k)];
  const double slack = eps / std::max(LengthOf(track), eps);
  double at = 0.0;
  for (const Interval& i : cut) {
    if (i.s0 > at + slack) {
      walls.push_back({static_cast<std::uint32_t>(k), at, i.s0});
    }
    at = std::max(at, i.s1);
  }
  if (at < 1.0 - slack) {
    walls.push_back({static_cast<std::uint32_t>(k), at, 1.0});
  }
  return &walls;
}

const std::vector<Part>* WallRules::Walls(std::size_t k) { return m_Impl->Resolve(k); }

void WallRules::Open(std::size_t k, std::vector<OpenPart>& out) {
  Impl& impl = *m_Impl;
  const std::vector<Part>* walls = impl.Resolve(k);
  if (walls == nullptr) {
    return;
  }
  // Leads first; what else is not a wall was released by a later pass.
  std::vector<Interval> taken;
  const auto lead = impl.leads.find(static_cast<std::uint32_t>(k));
  if (lead != impl.leads.end()) {
    for (const Impl::Lead& l : lead->second) {
      out.push_back({l.part, OPEN_LEAD});
      taken.push_back({l.part.s0, l.part.s1});
    }
  }
  for (const Part& w : *walls) {
    taken.push_back({w.s0, w.s1});
  }
  std::sort(taken.begin(), taken.end(),
            [](const Interval& a, const Interval& b) { return a.s0 < b.s0; });
  double at = 0.0;
  for (const Interval& i : taken) {
    if (i.s0 > at) {
      out.push_back({{static_cast<std::uint32_t>(k), at, i.s0}, OPEN_ROUGHING});
    }
    at = std::max(at, i.s1);
  }
  if (at < 1.0) {
    out.push_back({{static_cast<std::uint32_t>(k), at, 1.0}, OPEN_ROUGHING});
  }
}

lead_t WallRules::LeadOf(std::size_t k) {
  Impl& impl = *m_Impl;
  const std::size_t run = impl.RunOf(k);
  if (run >= impl.runs.size()) {
    return LEAD_NONE;
  }
  if (!impl.resolved[run]) {
    impl.ResolveRun(run);
  }
  const auto found = impl.leads.find(static_cast<std::uint32_t>(k));
  return found == impl.leads.end() ? LEAD_NONE : found->second.front().kind;
}

}  // namespace crc::audit
