// SPDX-License-Identifier: MIT
// Running a generated case through the list-backed host, reading its tool-centre path, and the
// exact distances between bounded lines and arcs.
#include "property_path.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

namespace cutcomp::property {
namespace {

constexpr double TWO_PI = 6.28318530717958647692;

double Dot(const Point& a, const Point& b) { return a.x * b.x + a.y * b.y; }
double Cross(const Point& a, const Point& b) { return a.x * b.y - a.y * b.x; }

double Mod2Pi(double angle) {
  double a = std::fmod(angle, TWO_PI);
  if (a < 0.0) {
    a += TWO_PI;
  }
  return a >= TWO_PI ? 0.0 : a;
}

double AngleOf(const Point& v) { return std::atan2(v.y, v.x); }

// A bounded line or arc, with the arc's angles worked out once.
struct Curve {
  bool arc = false;
  Point from;
  Point to;
  Point centre;
  double radius = 0.0;
  bool ccw = true;
  double startAngle = 0.0;
  double sweep = 0.0;  // in the turning sense, [0, 2 pi); 0 when the ends coincide

  // The arc holds the point at polar angle `angle` about its centre.
  bool Holds(double angle) const {
    const double along = ccw ? Mod2Pi(angle - startAngle) : Mod2Pi(startAngle - angle);
    return along <= sweep;
  }
};

Curve MakeCurve(bool arc, const Point& from, const Point& to, const Point& centre, bool ccw) {
  Curve c;
  c.arc = arc;
  c.from = from;
  c.to = to;
  if (arc) {
    c.centre = centre;
    c.ccw = ccw;
    // The machine runs an arc about its centre through its start point.
    c.radius = (from - centre).GetLength();
    c.startAngle = AngleOf(from - centre);
    const double endAngle = AngleOf(to - centre);
    c.sweep = (to - from).GetLength() < 1e-12
                  ? 0.0
                  : (ccw ? Mod2Pi(endAngle - c.startAngle) : Mod2Pi(c.startAngle - endAngle));
  }
  return c;
}

double PointToCurve(const Point& p, const Curve& c) {
  if (!c.arc) {
    const Point v = c.to - c.from;
    const double lengthSquared = Dot(v, v);
    double t = lengthSquared > 0.0 ? Dot(p - c.from, v) / lengthSquared : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return (p - (c.from + v * t)).GetLength();
  }
  const double d = (p - c.centre).GetLength();
  if (d > 0.0 && c.Holds(AngleOf(p - c.centre))) {
    return std::fabs(d - c.radius);
  }
  if (d == 0.0) {
    return c.radius;
  }
  return std::min((p - c.from).GetLength(), (p - c.to).GetLength());
}

// Common points of a bounded line and a bounded arc.
std::vector<Point> ArcLinePoints(const Curve& arc, const Curve& line) {
  std::vector<Point> points;
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
std::vector<Point> ArcArcPoints(const Curve& a, const Curve& b) {
  std::vector<Point> points;
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

// Where two bounded curves cross; two lines only when they cross properly.
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
  for (double sign : {-1.0, 1.0}) {
    const Point p = a.centre + direction * (sign * a.radius);
    if (a.Holds(AngleOf(p - a.centre))) {
      points.push_back(p);
    }
  }
  return points;
}

Curve CurveOf(const Segment& s) { return MakeCurve(s.arc, s.from, s.to, s.centre, s.ccw); }
Curve CurveOf(const Piece& p) { return MakeCurve(p.arc, p.from, p.to, p.centre, p.ccw); }

double Distance(const Curve& a, const Curve& b) {
  if (!Crossings(a, b).empty()) {
    return 0.0;
  }
  double best = std::min({PointToCurve(a.from, b), PointToCurve(a.to, b), PointToCurve(b.from, a),
                          PointToCurve(b.to, a)});
  for (const Point& p : CommonNormalPoints(a, b)) {
    best = std::min(best, PointToCurve(p, b));
  }
  for (const Point& p : CommonNormalPoints(b, a)) {
    best = std::min(best, PointToCurve(p, a));
  }
  return best;
}

}  // namespace

Outcome RunCase(const Case& c) {
  crc::CCutterCompensator engine(c.radius, nullptr, c.lookBehind, c.strategy);
  engine.SetInterveneEvade(c.evade);
  engine.SetCrcPreRetractOption(c.preRetract);
  HostRun run = RunProgram(engine, BuildProgram(c));
  Outcome outcome;
  outcome.ok = run.ok;
  outcome.code = run.failure.code;
  outcome.failedId = run.failure.id;
  outcome.notices = run.notices;
  outcome.listCount = engine.GetListCount();
  for (const HostSegment& segment : run.segments) {
    crc::CCrcNode& node = *segment.node;
    if (!node.IsValidNode()) {
      ++outcome.dropped;
      outcome.droppedIds.push_back(segment.id);
      continue;
    }
    Piece piece;
    piece.inserted = segment.inserted;
    piece.id = segment.id;
    piece.phase = node.GetStatusType();
    piece.programmedFrom = node.GetStartPoint();
    piece.programmedTo = node.GetEndPoint();
    piece.side = node.GetCrcDirType();
    piece.compensated = node.HasBeenCrc();
    piece.locate =
        node.GetNodeType() == crc::NODE_LINE && static_cast<const crc::CCrcLine&>(node).IsLocate();
    auto unset = [](const Point& p) {
      return p.x == crc::INVALID_VALUE && p.y == crc::INVALID_VALUE;  // exact: the unset marker
    };
    piece.offsetUnset = unset(node.GetStartPointMoved()) && unset(node.GetEndPointMoved()) &&
                        unset(node.GetIntersectPoint());
    const cutcomp::Curve tool = cutcomp::ReadPiece(segment).tool;
    piece.from = tool.from;
    piece.to = tool.to;
    piece.arc = tool.arc;
    piece.centre = tool.centre;
    piece.radius = tool.radius;
    piece.ccw = tool.ccw;
    outcome.path.push_back(piece);
  }
  return outcome;
}

int FirstBreak(const std::vector<Piece>& path, double tolerance) {
  for (std::size_t i = 0; i + 1 < path.size(); ++i) {
    if (!((path[i].to - path[i + 1].from).GetLength() <= tolerance)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

double Distance(const Point& p, const Segment& s) { return PointToCurve(p, CurveOf(s)); }

double Distance(const Piece& piece, const Segment& s) {
  return Distance(CurveOf(piece), CurveOf(s));
}

bool MeetAwayFrom(const Segment& a, const Segment& b, const Point& joint, double tolerance) {
  for (const Point& p : Crossings(CurveOf(a), CurveOf(b))) {
    if ((p - joint).GetLength() > tolerance) {
      return true;
    }
  }
  return false;
}

std::string Describe(const Piece& piece) {
  std::ostringstream out;
  out << std::setprecision(17) << (piece.inserted ? "inserted " : "")
      << (piece.arc ? "arc" : "line") << " of segment " << piece.id << " (" << piece.from.x << ", "
      << piece.from.y << ") -> (" << piece.to.x << ", " << piece.to.y << ")";
  if (piece.arc) {
    out << " centre (" << piece.centre.x << ", " << piece.centre.y << ") radius " << piece.radius
        << (piece.ccw ? " ccw" : " cw");
  }
  return out.str();
}

}  // namespace cutcomp::property
