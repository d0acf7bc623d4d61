// SPDX-License-Identifier: MIT
// G70 and the type I roughing cycles G71/G72 as lists of moves. G72 is worked as G71 with the
// axes exchanged: every curve is mirrored across the line Z = X on the way in and out.
#include "profile_cycles.h"

#include <cmath>
#include <optional>

namespace cutcomp::lathe {
namespace {

constexpr double PI = 3.14159265358979323846;
constexpr const char* OUT_OF_RANGE =
    "the cycle's points and words must be numbers within 1e9 of zero";

double Norm(const Point& v) { return std::sqrt(v.x * v.x + v.y * v.y); }

Curve Line(const Point& from, const Point& to) {
  Curve line;
  line.from = from;
  line.to = to;
  return line;
}

// The mirror image across Z = X: the axes exchanged, and so the arc's sense reversed.
Curve Exchanged(Curve curve) {
  curve.from = Point(curve.from.y, curve.from.x);
  curve.to = Point(curve.to.y, curve.to.x);
  curve.centre = Point(curve.centre.y, curve.centre.x);
  curve.ccw = !curve.ccw;
  return curve;
}

// The angle an arc turns through from its start to its end in its own sense: (0, 2 pi] for a
// full circle, [0, 2 pi) otherwise.
double SweepOf(const Curve& arc) {
  if (arc.fullCircle) {
    return 2.0 * PI;
  }
  const double a0 = std::atan2(arc.from.y - arc.centre.y, arc.from.x - arc.centre.x);
  const double a1 = std::atan2(arc.to.y - arc.centre.y, arc.to.x - arc.centre.x);
  double sweep = arc.ccw ? a1 - a0 : a0 - a1;
  while (sweep < 0.0) {
    sweep += 2.0 * PI;
  }
  return std::fmod(sweep, 2.0 * PI);
}

// The angle from the arc's start to `angle` in the arc's sense, in [0, 2 pi).
double AngleAlong(const Curve& arc, double angle) {
  const double a0 = std::atan2(arc.from.y - arc.centre.y, arc.from.x - arc.centre.x);
  double along = arc.ccw ? angle - a0 : a0 - angle;
  while (along < 0.0) {
    along += 2.0 * PI;
  }
  return std::fmod(along, 2.0 * PI);
}

// Whether the arc passes through its point at polar `angle` strictly between its ends: there it
// turns back in the coordinate that is extreme at that angle. `slack` is an angle: an extreme
// within it of an end is the end's own (an arc that ends on a quadrant point).
bool PassesStrictly(const Curve& arc, double angle, double slack) {
  const double along = AngleAlong(arc, angle);
  return along > slack && along < SweepOf(arc) - slack;
}

// A value the cycles compute with: finite and within MAX_CYCLE_COORDINATE. A NaN compares false
// with everything, so it would pass every check and never end a loop; a value near the largest
// double overflows in the sums of a pass's points.
bool Usable(double v) { return std::fabs(v) <= MAX_CYCLE_COORDINATE; }
bool Finite(const Point& p) { return Usable(p.x) && Usable(p.y); }

// The first move with a coordinate that is not usable (its index), or none.
std::optional<std::size_t> FirstNotFinite(const std::vector<CycleMove>& moves) {
  for (std::size_t i = 0; i < moves.size(); ++i) {
    const Curve& c = moves[i].curve;
    if (!Finite(c.from) || !Finite(c.to) || (c.arc && !Finite(c.centre))) {
      return i;
    }
  }
  return std::nullopt;
}

// The passes' frame: first coordinate along the passes (Z for G71), second the depth (X).
// `sink`: +1 when the depth grows with the second coordinate (a bore: the shape lies beyond the
// start point in X), -1 when it shrinks (a turned outside). `way`: the direction of the passes,
// the sign in which the shape runs along the first coordinate.
struct Frame {
  double sink = 0.0;
  double way = 0.0;
  double Depth(const Point& p) const { return sink * p.y; }
};

struct Worker {
  const Point start;
  const std::vector<CycleMove>& profile;
  const RoughingCycle& cycle;
  const double tolerance;
  const char depthAxis;  // the axis of the depth of cut, for messages: 'X' for G71
  const char passAxis;

  CycleResult result;
  std::vector<Curve> shape;  // the shifted shape A'..B, in the passes' frame
  Frame frame;
  Point at;  // where the tool is

  bool Fail(const std::string& error, std::int64_t id) {
    result.error = error;
    result.errorId = id;
    return false;
  }

  void Add(const Curve& curve, bool rapid, std::int64_t id) {
    // exact: a move to where the tool is would be written as a block that goes nowhere.
    if (!curve.arc && curve.from == curve.to) {
      return;
    }
    result.moves.push_back({curve, rapid, id});
    at = curve.to;
  }

  bool Check() {
    const std::string type2 = " (type II, which is not expanded)";
    if (!(cycle.depth > 0.0) || !Usable(cycle.depth)) {
      return Fail("the depth of cut must be a number greater than 0", -1);
    }
    if (!(cycle.retract >= 0.0) || !Usable(cycle.retract)) {
      return Fail("the retract must be a number of at least 0", -1);
    }
    if (!Finite(cycle.allowance)) {
      return Fail("the finishing allowances must be numbers within 1e9 of zero", -1);
    }
    if (!Finite(start) || !(tolerance >= 0.0) || !Usable(tolerance)) {
      return Fail(OUT_OF_RANGE, -1);
    }
    if (const auto bad = FirstNotFinite(profile)) {
      return Fail(OUT_OF_RANGE, profile[*bad].id);
    }
    if (profile.size() < 2) {
      return Fail("the profile has no shape after its first block",
                  profile.empty() ? -1 : profile[0].id);
    }
    const CycleMove& first = profile[0];
    if (first.curve.arc || std::fabs(first.curve.to.x - first.curve.from.x) > tolerance) {
      return Fail(std::string("type I: the profile's first block may move in ") + depthAxis +
                      " only" + type2,
                  first.id);
    }
    if (Norm(first.curve.from - start) > tolerance) {
      return Fail("the profile does not start at the cycle's start point", first.id);
    }
    frame.sink = first.curve.to.y > start.y ? 1.0 : -1.0;
    if (std::fabs(first.curve.to.y - start.y) <= tolerance) {
      return Fail(
          std::string("the profile's first block must move toward the part in ") + depthAxis,
          first.id);
    }
    for (std::size_t i = 1; i < profile.size(); ++i) {
      if (Norm(profile[i].curve.from - profile[i - 1].curve.to) > tolerance) {
        return Fail("the profile is not continuous here", profile[i].id);
      }
    }
    const Point shapeStart = profile[1].curve.from;
    const Point shapeEnd = profile.back().curve.to;
    if (std::fabs(shapeEnd.x - shapeStart.x) <= tolerance) {
      return Fail(std::string("the profile does not move along ") + passAxis, profile.back().id);
    }
    frame.way = shapeEnd.x > shapeStart.x ? 1.0 : -1.0;
    for (std::size_t i = 1; i < profile.size(); ++i) {
      const Curve& c = profile[i].curve;
      // The depth may only shrink along the shape and the passes' coordinate only run one way:
      // a shape that rises again (a groove) leaves stock the passes cannot reach.
      bool turns = frame.Depth(c.to) > frame.Depth(c.from) + tolerance ||
                   frame.way * (c.to.x - c.from.x) < -tolerance;
      if (c.arc && !turns) {
        const double radius = Norm(c.from - c.centre);
        const double slack = radius > 0.0 ? tolerance / radius : 0.0;
        for (int quadrant = 0; quadrant < 4; ++quadrant) {
          turns = turns || PassesStrictly(c, quadrant * PI / 2.0, slack);
        }
      }
      if (turns) {
        return Fail(std::string("type I: the profile must not turn back in ") + depthAxis + " or " +
                        passAxis + type2,
                    profile[i].id);
      }
    }
    for (std::size_t i = 1; i < profile.size(); ++i) {
      Curve c = profile[i].curve;
      c.from = c.from + cycle.allowance;
      c.to = c.to + cycle.allowance;
      c.centre = c.centre + cycle.allowance;
      if (c.arc) {
        c.radius = Norm(c.from - c.centre);
      }
      shape.push_back(c);
    }
    if (frame.Depth(shape.front().from) <= frame.Depth(start) + tolerance) {
      return Fail(
          "the finishing allowance puts the profile's start level with the start point "
          "or beyond it",
          profile[0].id);
    }
    return true;
  }

  // Where the pass at depth `level` meets the shifted shape: the last point of the shape at that
  // depth or deeper. A level above the whole shape runs to the shape's end.
  double PassEnd(double level) const {
    for (const Curve& c : shape) {
      if (frame.Depth(c.to) >= level - tolerance) {
        continue;
      }
      if (!c.arc) {
        const double d0 = frame.Depth(c.from);
        const double d1 = frame.Depth(c.to);
        const double t = d0 <= level ? 0.0 : (d0 - level) / (d0 - d1);
        return c.from.x + (c.to.x - c.from.x) * t;
      }
      // The arc is monotonic in depth over its sweep (Check), so it meets the level once: of the
      // circle's two points at that depth, the one the arc reaches first.
      const double y = level * frame.sink;
      const double dy = std::fmax(-c.radius, std::fmin(c.radius, y - c.centre.y));
      const double dx = std::sqrt(std::fmax(0.0, c.radius * c.radius - dy * dy));
      double best = c.to.x;
      double bestAlong = INFINITY;
      const double slack = tolerance / c.radius;
      for (const double sign : {1.0, -1.0}) {
        double along = AngleAlong(c, std::atan2(dy, sign * dx));
        // Just short of a whole turn is the start itself, reached by rounding from behind.
        if (along >= 2.0 * PI - slack) {
          along = 0.0;
        }
        if (along <= SweepOf(c) + slack && along < bestAlong) {
          bestAlong = along;
          best = c.centre.x + sign * dx;
        }
      }
      return best;
    }
    return shape.back().to.x;
  }

  bool Run() {
    if (!Check()) {
      return false;
    }
    const bool rapidInfeed = profile[0].rapid;
    const double z0 = start.x;
    const double first = frame.Depth(start);
    const double last = frame.Depth(shape.front().from);
    const double passes = std::ceil((last - first) / cycle.depth - 1.0);
    if (passes > double(MAX_ROUGHING_PASSES)) {
      return Fail(
          "the depth of cut makes more than " + std::to_string(MAX_ROUGHING_PASSES) + " passes",
          -1);
    }
    at = start;
    const double lift = cycle.retract;
    // Bounded by the check above; the bound also holds when rounding adds a pass.
    for (std::size_t k = 1; k <= MAX_ROUGHING_PASSES + 1; ++k) {
      const double level = first + double(k) * cycle.depth;
      // The last roughing depth is the one short of the shape's start: the pre-finishing cut
      // takes the rest, at most one depth of cut.
      if (level >= last - tolerance) {
        break;
      }
      const double x = level * frame.sink;
      const double zEnd = PassEnd(level);
      // A pass that meets the shape before it leaves the start point's Z (a finishing allowance
      // against the direction of the passes) has no stock in front of it.
      if (frame.way * (zEnd - z0) <= tolerance) {
        continue;
      }
      Add(Line(at, Point(z0, x)), rapidInfeed, -1);
      Add(Line(at, Point(zEnd, x)), false, -1);
      Add(Line(at, Point(zEnd - frame.way * lift, x - frame.sink * lift)), true, -1);
      Add(Line(at, Point(z0, at.y)), true, -1);
    }
    Add(Line(at, shape.front().from), rapidInfeed, -1);
    for (std::size_t i = 0; i < shape.size(); ++i) {
      Curve c = shape[i];
      c.from = at;  // the shape is continuous within the tolerance; keep the written path so
      Add(c, false, profile[i + 1].id);
    }
    Add(Line(at, start), true, -1);
    result.ok = true;
    return true;
  }
};

}  // namespace

CycleResult ExpandFinishing(const Point& start, const std::vector<CycleMove>& profile,
                            double tolerance) {
  CycleResult result;
  if (profile.empty()) {
    result.error = "the profile has no moves";
    return result;
  }
  if (!Finite(start) || !(tolerance >= 0.0) || !Usable(tolerance)) {
    result.error = OUT_OF_RANGE;
    return result;
  }
  if (const auto bad = FirstNotFinite(profile)) {
    result.error = OUT_OF_RANGE;
    result.errorId = profile[*bad].id;
    return result;
  }
  if (Norm(profile.front().curve.from - start) > tolerance) {
    result.error = "the profile does not start at the cycle's start point";
    result.errorId = profile.front().id;
    return result;
  }
  for (std::size_t i = 1; i < profile.size(); ++i) {
    if (Norm(profile[i].curve.from - profile[i - 1].curve.to) > tolerance) {
      result.error = "the profile is not continuous here";
      result.errorId = profile[i].id;
      return result;
    }
  }
  result.moves = profile;
  const Point end = profile.back().curve.to;
  // exact: a profile that ends on the start point needs no return move.
  if (end != start) {
    result.moves.push_back({Line(end, start), true, -1});
  }
  result.ok = true;
  return result;
}

CycleResult ExpandRoughing(const Point& start, const std::vector<CycleMove>& profile,
                           const RoughingCycle& cycle, double tolerance) {
  const bool alongX = cycle.along == RoughingAxis::X;
  if (!alongX) {
    Worker worker{start, profile, cycle, tolerance, 'X', 'Z', {}, {}, {}, {}};
    worker.Run();
    return worker.result;
  }
  std::vector<CycleMove> exchanged = profile;
  for (CycleMove& move : exchanged) {
    move.curve = Exchanged(move.curve);
  }
  RoughingCycle swapped = cycle;
  swapped.allowance = Point(cycle.allowance.y, cycle.allowance.x);
  Worker worker{Point(start.y, start.x), exchanged, swapped, tolerance, 'Z', 'X', {}, {}, {}, {}};
  worker.Run();
  for (CycleMove& move : worker.result.moves) {
    move.curve = Exchanged(move.curve);
  }
  return worker.result;
}

}  // namespace cutcomp::lathe
