// SPDX-License-Identifier: MIT
// Reading the tool-centre path back from final host segments, and the checks on it: the sweep
// of an arc, continuity, and exact distances between bounded lines and arcs.
#include <crc/host/tool_path.h>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

namespace cutcomp {
namespace {

constexpr double TWO_PI = 6.28318530717958647692;

double Dot(const Point& a, const Point& b) { return a.x * b.x + a.y * b.y; }
double Cross(const Point& a, const Point& b) { return a.x * b.y - a.y * b.x; }

// Folds an angle into [0, 2 pi).
double Mod2Pi(double angle) {
  double a = std::fmod(angle, TWO_PI);
  if (a < 0.0) {
    a += TWO_PI;
  }
  return a >= TWO_PI ? 0.0 : a;
}

double AngleOf(const Point& v) { return std::atan2(v.y, v.x); }

bool IsUnset(const Point& p) {
  return p.x == crc::INVALID_VALUE && p.y == crc::INVALID_VALUE;  // exact: the unset marker
}

// An arc's polar start angle and sweep, worked out once for the distance computations. The
// machine runs an arc about its centre through its start point, so the radius is the start
// point's distance from the centre.
struct Arc {
  Point centre;
  double radius = 0.0;
  bool ccw = true;
  double start = 0.0;
  double sweep = 0.0;

  explicit Arc(const Curve& c)
      : centre(c.centre),
        radius((c.from - c.centre).GetLength()),
        ccw(c.ccw),
        start(AngleOf(c.from - c.centre)),
        sweep(Sweep(c)) {}

  // The arc holds the point at polar angle `angle` about its centre.
  bool Holds(double angle) const {
    const double along = ccw ? Mod2Pi(angle - start) : Mod2Pi(start - angle);
    return along <= sweep;
  }
};

double PointToArc(const Point& p, const Curve& c) {
  const Arc arc(c);
  const double d = (p - arc.centre).GetLength();
  if (d == 0.0) {
    return arc.radius;
  }
  if (arc.Holds(AngleOf(p - arc.centre))) {
    return std::fabs(d - arc.radius);
  }
  return std::min((p - c.from).GetLength(), (p - c.to).GetLength());
}

// Common points of a bounded line and a bounded arc.
std::vector<Point> ArcLinePoints(const Curve& arcCurve, const Curve& line) {
  std::vector<Point> points;
  const Arc arc(arcCurve);
  const Point v = line.to - line.from;
  const Point w = line.from - arc.centre;
  const double a = Dot(v, v);
  const double b = 2.0 * Dot(v, w);
  const double k = Dot(w, w) - arc.radius * arc.radius;
  const double disc = b * b - 4.0 * a * k;
  if (a == 0.0 || disc < 0.0) {
    return points;
  }
  const double root = std::sqrt(disc);
  for (double t : {(-b - root) / (2.0 * a), (-b + root) / (2.0 * a)}) {
    if (t >= 0.0 && t <= 1.0 && arc.Holds(AngleOf(w + v * t))) {
      points.push_back(line.from + v * t);
    }
  }
  return points;
}

// Common points of two bounded arcs (none for concentric ones).
std::vector<Point> ArcArcPoints(const Curve& first, const Curve& second) {
  std::vector<Point> points;
  const Arc a(first);
  const Arc b(second);
  const Point between = b.centre - a.centre;
  const double d = between.GetLength();
  if (d == 0.0 || d > a.radius + b.radius || d < std::fabs(a.radius - b.radius)) {
    return points;
  }
  const double along = (d * d + a.radius * a.radius - b.radius * b.radius) / (2.0 * d);
  const double across = std::sqrt(std::max(0.0, a.radius * a.radius - along * along));
  const Point u = between * (1.0 / d);
  const Point n(-u.y, u.x);
  for (double sign : {-1.0, 1.0}) {
    const Point p = a.centre + u * along + n * (sign * across);
    if (a.Holds(AngleOf(p - a.centre)) && b.Holds(AngleOf(p - b.centre))) {
      points.push_back(p);
    }
  }
  return points;
}

// Interior points of `a` where a normal of `a` can also be a normal of `b`: the only places,
// besides the end points, where the two can come closest without crossing.
std::vector<Point> CommonNormalPoints(const Curve& a, const Curve& b) {
  std::vector<Point> points;
  if (!a.arc) {
    if (b.arc) {
      const Point v = a.to - a.from;
      const double lengthSquared = Dot(v, v);
      if (lengthSquared > 0.0) {
        const double t = Dot(b.centre - a.from, v) / lengthSquared;
        if (t > 0.0 && t < 1.0) {
          points.push_back(a.from + v * t);
        }
      }
    }
    return points;
  }
  Point direction;
  if (b.arc) {
    direction = b.centre - a.centre;
  } else {
    const Point v = b.to - b.from;
    direction = Point(-v.y, v.x);
  }
  const double length = direction.GetLength();
  if (length == 0.0) {
    return points;
  }
  direction = direction * (1.0 / length);
  const Arc arc(a);
  for (double sign : {-1.0, 1.0}) {
    const Point p = arc.centre + direction * (sign * arc.radius);
    if (arc.Holds(AngleOf(p - arc.centre))) {
      points.push_back(p);
    }
  }
  return points;
}

}  // namespace

double Sweep(const Curve& curve) {
  if (!curve.arc) {
    return 0.0;
  }
  if (curve.fullCircle) {
    return TWO_PI;
  }
  if ((curve.to - curve.from).GetLength() < 1e-12) {
    return 0.0;
  }
  const double from = AngleOf(curve.from - curve.centre);
  const double to = AngleOf(curve.to - curve.centre);
  return curve.ccw ? Mod2Pi(to - from) : Mod2Pi(from - to);
}

double Length(const Curve& curve) {
  if (!curve.arc) {
    return (curve.to - curve.from).GetLength();
  }
  return (curve.from - curve.centre).GetLength() * Sweep(curve);
}

Curve ProgrammedCurve(const crc::CCrcNode& node) {
  Curve curve;
  curve.from = node.GetStartPoint();
  curve.to = node.GetEndPoint();
  if (node.GetNodeType() == crc::NODE_ARC) {
    const auto& arc = static_cast<const crc::CCrcArc&>(node);
    curve.arc = true;
    curve.centre = arc.GetCenterPoint();
    curve.radius = arc.GetRadius();
    curve.ccw = arc.GetDirection();
    // A whole turn keeps its start and end together: only the central angle tells it from an
    // arc that has shrunk to a point.
    curve.fullCircle = arc.GetCentralAngle() > crc::PI;
    curve.fullCircle = curve.fullCircle && (curve.to - curve.from).GetLength() < crc::EPSILON;
  }
  return curve;
}

PathPiece ReadPiece(const HostSegment& segment) {
  PathPiece piece;
  crc::CCrcNode& node = *segment.node;  // IsValidNode is not const
  piece.id = segment.id;
  piece.lastId = segment.id;
  piece.inserted = segment.inserted;
  piece.phase = node.GetStatusType();
  piece.side = node.GetCrcDirType();
  piece.programmed = ProgrammedCurve(node);
  piece.locate =
      node.GetNodeType() == crc::NODE_LINE && static_cast<const crc::CCrcLine&>(node).IsLocate();
  piece.offsetUnset = IsUnset(node.GetStartPointMoved()) && IsUnset(node.GetEndPointMoved()) &&
                      IsUnset(node.GetIntersectPoint());
  if (!node.IsValidNode()) {
    piece.dropped = true;
    return piece;
  }
  if (segment.inserted) {
    piece.tool = piece.programmed;
    return piece;
  }
  piece.tool.from = node.GetStartPointMoved();
  piece.tool.to = node.GetEndPointMoved();
  if (piece.programmed.arc) {
    const auto& arc = static_cast<const crc::CCrcArc&>(node);
    piece.tool.arc = true;
    piece.tool.centre = piece.programmed.centre;
    // A segment the engine finished without offsetting it (a run of one arc) keeps its ends and
    // leaves its offset radius unset: the arc through them about its centre. hypot, as a
    // host may hand over a centre far beyond its ends (1e164) whose squared distance overflows.
    // exact: the unset marker
    piece.tool.radius = arc.GetRadiusMoved() == crc::INVALID_VALUE
                            ? std::hypot(piece.tool.from.x - piece.tool.centre.x,
                                         piece.tool.from.y - piece.tool.centre.y)
                            : arc.GetRadiusMoved();
    piece.tool.ccw = piece.programmed.ccw;
    piece.tool.fullCircle =
        piece.programmed.fullCircle && (piece.tool.to - piece.tool.from).GetLength() < crc::EPSILON;
  }
  return piece;
}

std::vector<PathPiece> ReadPath(const std::vector<HostSegment>& segments) {
  std::vector<PathPiece> path;
  path.reserve(segments.size());
  for (const HostSegment& segment : segments) {
    path.push_back(ReadPiece(segment));
  }
  return path;
}

std::optional<std::size_t> FirstBreak(const std::vector<PathPiece>& path, double tolerance) {
  std::optional<std::size_t> previous;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i].dropped) {
      continue;
    }
    if (previous && !((path[*previous].tool.to - path[i].tool.from).GetLength() <= tolerance)) {
      return previous;
    }
    previous = i;
  }
  return std::nullopt;
}

double Distance(const Point& p, const Curve& curve) {
  if (curve.arc) {
    return PointToArc(p, curve);
  }
  const Point v = curve.to - curve.from;
  const double lengthSquared = Dot(v, v);
  double t = lengthSquared > 0.0 ? Dot(p - curve.from, v) / lengthSquared : 0.0;
  t = std::clamp(t, 0.0, 1.0);
  return (p - (curve.from + v * t)).GetLength();
}

std::vector<Point> Crossings(const Curve& a, const Curve& b) {
  if (!a.arc && !b.arc) {
    const double d1 = Cross(a.to - a.from, b.from - a.from);
    const double d2 = Cross(a.to - a.from, b.to - a.from);
    const double d3 = Cross(b.to - b.from, a.from - b.from);
    const double d4 = Cross(b.to - b.from, a.to - b.from);
    if (d1 * d2 < 0.0 && d3 * d4 < 0.0) {
      return {a.from + (a.to - a.from) * (d3 / (d3 - d4))};
    }
    return {};
  }
  if (a.arc && b.arc) {
    return ArcArcPoints(a, b);
  }
  return a.arc ? ArcLinePoints(a, b) : ArcLinePoints(b, a);
}

double Distance(const Curve& a, const Curve& b) {
  if (!Crossings(a, b).empty()) {
    return 0.0;
  }
  double best =
      std::min({Distance(a.from, b), Distance(a.to, b), Distance(b.from, a), Distance(b.to, a)});
  for (const Point& p : CommonNormalPoints(a, b)) {
    best = std::min(best, Distance(p, b));
  }
  for (const Point& p : CommonNormalPoints(b, a)) {
    best = std::min(best, Distance(p, a));
  }
  return best;
}

std::string Describe(const Curve& curve) {
  std::ostringstream out;
  out << std::setprecision(17) << (curve.arc ? "arc" : "line") << " (" << curve.from.x << ", "
      << curve.from.y << ") -> (" << curve.to.x << ", " << curve.to.y << ")";
  if (curve.arc) {
    out << " centre (" << curve.centre.x << ", " << curve.centre.y << ") radius " << curve.radius
        << (curve.ccw ? " ccw" : " cw") << (curve.fullCircle ? " full circle" : "");
  }
  return out.str();
}

std::string Describe(const PathPiece& piece) {
  std::ostringstream out;
  out << (piece.inserted ? "inserted " : "") << "piece of segment " << piece.id;
  if (piece.dropped) {
    out << ", dropped";
  } else {
    out << ": " << Describe(piece.tool);
  }
  return out.str();
}

}  // namespace cutcomp

namespace cutcomp {

std::optional<std::size_t> FirstOutOfSequence(const std::vector<PathPiece>& path) {
  const std::size_t n = path.size();
  const auto isAnchor = [&path](std::size_t k, std::int64_t id) {
    return !path[k].inserted && path[k].id == id;
  };
  std::optional<std::int64_t> last;
  for (std::size_t i = 0; i < n; ++i) {
    const std::int64_t id = path[i].id;
    if (path[i].inserted) {
      std::size_t after = i;
      while (after < n && path[after].inserted && path[after].id == id) {
        ++after;
      }
      std::size_t before = i;
      while (before > 0 && path[before - 1].inserted && path[before - 1].id == id) {
        --before;
      }
      if (!(after < n && isAnchor(after, id)) && !(before > 0 && isAnchor(before - 1, id))) {
        return i;
      }
      continue;
    }
    if (last && id != *last + 1) {
      return i;
    }
    last = id;
  }
  return std::nullopt;
}

}  // namespace cutcomp
