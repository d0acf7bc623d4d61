// SPDX-License-Identifier: MIT
// The survey's generated programs (see avoid_programs.h).
#include "avoid_programs.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

namespace avoidbench {

const char* const FAMILY_NAMES[FAMILY_COUNT] = {"lines and arcs", "star",   "gear",      "notches",
                                                "slot",           "zigzag", "tiny steps"};

namespace {

using crc::Curve;
constexpr double PI = 3.14159265358979323846;

double Cross(const Point& a, const Point& b) { return a.x * b.y - a.y * b.x; }
double Dot(const Point& a, const Point& b) { return a.x * b.x + a.y * b.y; }
Point Left(const Point& v) { return {-v.y, v.x}; }
Point Unit(const Point& v) {
  const double n = v.GetLength();
  return n > 0.0 ? v * (1.0 / n) : Point(0.0, 0.0);
}
Point Polar(double radius, double angle) {
  return {radius * std::cos(angle), radius * std::sin(angle)};
}

double Uniform(std::mt19937_64& random, double lo, double hi) {
  return lo + (hi - lo) * static_cast<double>(random() >> 11) * 0x1p-53;
}
double LogUniform(std::mt19937_64& random, double lo, double hi) {
  return std::exp(Uniform(random, std::log(lo), std::log(hi)));
}
int Integer(std::mt19937_64& random, int lo, int hi) {  // lo..hi
  return lo + static_cast<int>(random() % static_cast<std::uint64_t>(hi - lo + 1));
}
bool Coin(std::mt19937_64& random) { return (random() & 1U) != 0; }

Curve Line(const Point& a, const Point& b) {
  Curve c;
  c.from = a;
  c.to = b;
  return c;
}

// The arc from a through m to b (three points not on one line).
Curve ArcThrough(const Point& a, const Point& m, const Point& b) {
  const double d = 2.0 * (a.x * (m.y - b.y) + m.x * (b.y - a.y) + b.x * (a.y - m.y));
  const double a2 = Dot(a, a);
  const double m2 = Dot(m, m);
  const double b2 = Dot(b, b);
  Curve c;
  c.arc = true;
  c.from = a;
  c.to = b;
  c.centre = {(a2 * (m.y - b.y) + m2 * (b.y - a.y) + b2 * (a.y - m.y)) / d,
              (a2 * (b.x - m.x) + m2 * (a.x - b.x) + b2 * (m.x - a.x)) / d};
  c.ccw = Cross(m - a, b - m) > 0.0;
  return c;
}

double Sweep(const Curve& c) {
  if (c.fullCircle) {
    return 2.0 * PI;
  }
  const Point u = c.from - c.centre;
  const Point v = c.to - c.centre;
  double turn = std::atan2(Cross(u, v), Dot(u, v));
  turn = c.ccw ? turn : -turn;
  return turn <= 0.0 ? turn + 2.0 * PI : turn;
}

// A closed polygon with the corners rounded by the radii in `fillet` (0: a sharp corner; a
// fillet longer than the edges allow is left out).
std::vector<Curve> Polygon(const std::vector<Point>& v, const std::vector<double>& fillet) {
  const std::size_t n = v.size();
  std::vector<Point> in(n);
  std::vector<Point> out(n);
  std::vector<Curve> round(n);
  std::vector<bool> rounded(n, false);
  for (std::size_t i = 0; i < n; ++i) {
    in[i] = out[i] = v[i];
    const double rho = fillet.empty() ? 0.0 : fillet[i];
    if (!(rho > 0.0)) {
      continue;
    }
    const Point& prev = v[(i + n - 1) % n];
    const Point& next = v[(i + 1) % n];
    const Point u1 = Unit(prev - v[i]);
    const Point u2 = Unit(next - v[i]);
    const double alpha = std::acos(std::clamp(Dot(u1, u2), -1.0, 1.0));
    if (alpha < 1e-3 || alpha > PI - 1e-3) {
      continue;
    }
    const double t = rho / std::tan(0.5 * alpha);
    if (t > 0.4 * std::min((prev - v[i]).GetLength(), (next - v[i]).GetLength())) {
      continue;
    }
    in[i] = v[i] + u1 * t;
    out[i] = v[i] + u2 * t;
    Curve arc;
    arc.arc = true;
    arc.from = in[i];
    arc.to = out[i];
    arc.centre = v[i] + Unit(u1 + u2) * (rho / std::sin(0.5 * alpha));
    arc.ccw = Cross(u1 * -1.0, u2) > 0.0;
    round[i] = arc;
    rounded[i] = true;
  }
  std::vector<Curve> curves;
  for (std::size_t i = 0; i < n; ++i) {
    if (rounded[i]) {
      curves.push_back(round[i]);
    }
    curves.push_back(Line(out[i], in[(i + 1) % n]));
  }
  return curves;
}

// Twice the signed area of the outline, its arcs taken as chords through their middles.
double Area2(const std::vector<Curve>& outline) {
  double area = 0.0;
  for (const Curve& c : outline) {
    const int steps = c.arc ? 16 : 1;
    for (int k = 0; k < steps; ++k) {
      area += Cross(PointOn(c, static_cast<double>(k) / steps), PointOn(c, (k + 1.0) / steps));
    }
  }
  return area;
}

// The outline as a polyline (16 chords an arc) crosses itself.
bool CrossesItself(const std::vector<Curve>& outline) {
  std::vector<Point> p;
  for (const Curve& c : outline) {
    const int steps = c.arc ? 16 : 1;
    for (int k = 0; k < steps; ++k) {
      p.push_back(PointOn(c, static_cast<double>(k) / steps));
    }
  }
  const std::size_t n = p.size();
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 2; j < n; ++j) {
      if (i == 0 && j + 1 == n) {
        continue;  // neighbours across the closing point
      }
      const Point a = p[i];
      const Point b = p[(i + 1) % n];
      const Point c = p[j];
      const Point d = p[(j + 1) % n];
      const double d1 = Cross(b - a, c - a);
      const double d2 = Cross(b - a, d - a);
      const double d3 = Cross(d - c, a - c);
      const double d4 = Cross(d - c, b - c);
      if (((d1 > 0) != (d2 > 0)) && ((d3 > 0) != (d4 > 0))) {
        return true;
      }
    }
  }
  return false;
}

crc::ContourSegment Segment(const Curve& c, crc::crc_status_t phase, crc::crc_dir_t side,
                            double radius, std::size_t id) {
  crc::ContourSegment s;
  s.curve = c;
  s.id = static_cast<std::int64_t>(id);
  s.phase = phase;
  s.side = side;
  s.radius = radius;
  return s;
}

// The approach from `from` to `to` clears every curve of the outline by the radius.
bool Clears(const std::vector<Curve>& outline, const Point& from, const Point& to, double r) {
  for (int k = 0; k <= 32; ++k) {
    const Point p = from + (to - from) * (k / 32.0);
    for (const Curve& c : outline) {
      if (DistanceTo(p, c) < r * (1.0 + 1e-3)) {
        return false;
      }
    }
  }
  return true;
}

// A closed outline as a run: in at the middle of one of its lines, along its normal from the
// tool's side, round, and back out the same way. `inside`: the tool runs inside the outline.
bool ClosedRun(std::vector<Curve> outline, bool inside, double r, Program& program) {
  if (outline.size() < 3 || CrossesItself(outline)) {
    return false;
  }
  if (Area2(outline) < 0.0) {  // counterclockwise from here on
    std::reverse(outline.begin(), outline.end());
    for (Curve& c : outline) {
      std::swap(c.from, c.to);
      c.ccw = !c.ccw;
    }
  }
  const crc::crc_dir_t side = inside ? crc::CRC_DIR_LEFT : crc::CRC_DIR_RIGHT;
  std::vector<std::size_t> order(outline.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return LengthOf(outline[a]) > LengthOf(outline[b]);
  });
  for (const std::size_t j : order) {
    const Curve& first = outline[j];
    if (first.arc) {
      continue;
    }
    const Point a = (first.from + first.to) * 0.5;
    const Point n = Left(Unit(first.to - first.from)) * (inside ? 1.0 : -1.0);
    for (const double reach : {3.0, 2.0, 1.4, 1.1}) {
      const Point start = a + n * (reach * r);
      if (!Clears(outline, start, a + n * (1.002 * r), r)) {
        continue;
      }
      auto& run = program.run;
      run.clear();
      run.push_back(Segment(Line(start, a), crc::CRC_STATUS_ESTABLISH, side, r, 0));
      run.push_back(Segment(Line(a, first.to), crc::CRC_STATUS_DOING, side, r, 1));
      for (std::size_t k = 1; k < outline.size(); ++k) {
        run.push_back(
            Segment(outline[(j + k) % outline.size()], crc::CRC_STATUS_DOING, side, r, run.size()));
      }
      run.push_back(Segment(Line(first.from, a), crc::CRC_STATUS_DOING, side, r, run.size()));
      run.push_back(Segment(Line(a, start), crc::CRC_STATUS_RETRACT, side, r, run.size()));
      program.radius = r;
      return true;
    }
  }
  return false;
}

std::vector<Curve> LinesAndArcs(std::mt19937_64& random, double& scale) {
  const int n = Integer(random, 6, 14);
  scale = LogUniform(random, 15.0, 50.0);
  std::vector<Point> v;
  for (int k = 0; k < n; ++k) {
    const double angle = 2.0 * PI * (k + Uniform(random, -0.3, 0.3)) / n;
    v.push_back(Polar(scale * Uniform(random, 0.7, 1.3), angle));
  }
  std::vector<Curve> outline;
  for (int k = 0; k < n; ++k) {
    const Point a = v[k];
    const Point b = v[(k + 1) % n];
    if (Coin(random)) {
      outline.push_back(Line(a, b));
      continue;
    }
    const double chord = (b - a).GetLength();
    double sagitta = chord * Uniform(random, -0.3, 0.3);
    sagitta = std::copysign(std::max(std::fabs(sagitta), 0.05 * chord), sagitta);
    const Point m = (a + b) * 0.5 - Left(Unit(b - a)) * sagitta;
    outline.push_back(ArcThrough(a, m, b));
  }
  return outline;
}

std::vector<Curve> Star(std::mt19937_64& random, double& scale) {
  const int n = Integer(random, 5, 16);
  scale = Uniform(random, 20.0, 40.0);
  const double ratio = Uniform(random, 0.3, 0.8);
  const double turn = Uniform(random, 0.0, 2.0 * PI);
  std::vector<Point> v;
  for (int k = 0; k < 2 * n; ++k) {
    v.push_back(Polar(k % 2 == 0 ? scale : scale * ratio, turn + PI * k / n));
  }
  return Polygon(v, {});
}

std::vector<Curve> Gear(std::mt19937_64& random, double& scale) {
  const int n = Integer(random, 8, 30);
  const double pitch = Uniform(random, 20.0, 50.0);
  const double height = pitch * Uniform(random, 0.06, 0.2);
  const double root = pitch - 0.5 * height;
  const double tip = pitch + 0.5 * height;
  const double period = 2.0 * PI / n;
  const double a1 = Uniform(random, 0.15, 0.3) * period;
  const double a2 = Uniform(random, 0.05, 0.15) * period;
  const double a3 = Uniform(random, 0.15, 0.3) * period;
  const bool filleted = Coin(random);
  const double rho = Uniform(random, 0.1, 2.0);
  std::vector<Point> v;
  std::vector<double> fillet;
  for (int k = 0; k < n; ++k) {
    const double phi = k * period;
    v.push_back(Polar(root, phi));
    v.push_back(Polar(root, phi + a1));
    v.push_back(Polar(tip, phi + a1 + a2));
    v.push_back(Polar(tip, phi + a1 + a2 + a3));
    fillet.insert(fillet.end(), {filleted ? rho : 0.0, filleted ? rho : 0.0, 0.0, 0.0});
  }
  scale = pitch * period;  // a tooth and a gap
  return Polygon(v, fillet);
}

std::vector<Curve> Notches(std::mt19937_64& random, bool inside, double& scale) {
  const double w = Uniform(random, 30.0, 60.0);
  const double h = Uniform(random, 20.0, 40.0);
  const Point corners[4] = {{0.0, 0.0}, {w, 0.0}, {w, h}, {0.0, h}};
  std::vector<Point> v;
  for (int e = 0; e < 4; ++e) {
    const Point a = corners[e];
    const Point b = corners[(e + 1) % 4];
    const double length = (b - a).GetLength();
    const Point d = Unit(b - a);
    // Into the material: inward of a plate cut from outside, outward of a pocket.
    const Point into = Left(d) * (inside ? -1.0 : 1.0);
    v.push_back(a);
    const int count = Integer(random, 0, 3);
    double at = 0.1 * length;
    for (int k = 0; k < count; ++k) {
      const double width = LogUniform(random, 0.5, 6.0);
      const double depth = std::min(LogUniform(random, 0.5, 8.0), 0.3 * std::min(w, h));
      const double room = 0.9 * length - at - width;
      if (room <= 0.0) {
        break;
      }
      at += Uniform(random, 0.0, room / (count - k));
      const Point p = a + d * at;
      if (Coin(random)) {  // rectangular
        v.insert(v.end(), {p, p + into * depth, p + d * width + into * depth, p + d * width});
      } else {  // V
        v.insert(v.end(), {p, p + d * (0.5 * width) + into * depth, p + d * width});
      }
      at += width + 0.5;
    }
  }
  scale = 4.0;
  return Polygon(v, {});
}

std::vector<Curve> Slot(std::mt19937_64& random, double r) {
  const double w1 = r * Uniform(random, 2.3, 5.0);
  const double l1 = Uniform(random, 8.0, 20.0) * r;
  const int kind = Integer(random, 0, 2);
  std::vector<Curve> outline;
  if (kind == 0) {  // straight: the start needs room, so it is wide enough everywhere
    outline = {Line({0, -0.5 * w1}, {l1, -0.5 * w1}),
               ArcThrough({l1, -0.5 * w1}, {l1 + 0.5 * w1, 0}, {l1, 0.5 * w1}),
               Line({l1, 0.5 * w1}, {0, 0.5 * w1}),
               ArcThrough({0, 0.5 * w1}, {-0.5 * w1, 0}, {0, -0.5 * w1})};
  } else if (kind == 1) {  // tapered to an end that may be narrower than the cutter
    const double w2 = r * Uniform(random, 0.4, 3.0);
    outline = {Line({0, -0.5 * w1}, {l1, -0.5 * w2}),
               ArcThrough({l1, -0.5 * w2}, {l1 + 0.5 * w2, 0}, {l1, 0.5 * w2}),
               Line({l1, 0.5 * w2}, {0, 0.5 * w1}),
               ArcThrough({0, 0.5 * w1}, {-0.5 * w1, 0}, {0, -0.5 * w1})};
  } else {  // two chambers and a neck that may be narrower than the cutter
    const double wn = r * Uniform(random, 0.6, 3.0);
    const double ln = r * Uniform(random, 1.0, 6.0);
    const double w2 = r * Uniform(random, 1.0, 5.0);
    const double l2 = r * Uniform(random, 3.0, 10.0);
    const double x1 = l1;
    const double x2 = l1 + ln;
    const double x3 = x2 + l2;
    const std::vector<Point> low = {{0, -0.5 * w1},  {x1, -0.5 * w1}, {x1, -0.5 * wn},
                                    {x2, -0.5 * wn}, {x2, -0.5 * w2}, {x3, -0.5 * w2}};
    for (std::size_t k = 0; k + 1 < low.size(); ++k) {
      outline.push_back(Line(low[k], low[k + 1]));
    }
    outline.push_back(ArcThrough({x3, -0.5 * w2}, {x3 + 0.5 * w2, 0}, {x3, 0.5 * w2}));
    for (std::size_t k = low.size() - 1; k > 0; --k) {
      outline.push_back(Line({low[k].x, -low[k].y}, {low[k - 1].x, -low[k - 1].y}));
    }
    outline.push_back(ArcThrough({0, 0.5 * w1}, {-0.5 * w1, 0}, {0, -0.5 * w1}));
  }
  return outline;
}

std::vector<Curve> TinySteps(std::mt19937_64& random, bool inside, double& scale) {
  const int n = Integer(random, 4, 8);
  const double size = Uniform(random, 20.0, 40.0);
  std::vector<Point> corners;
  for (int k = 0; k < n; ++k) {
    corners.push_back(Polar(size * Uniform(random, 0.85, 1.15), 2.0 * PI * k / n));
  }
  std::vector<Point> v;
  for (int e = 0; e < n; ++e) {
    const Point a = corners[e];
    const Point b = corners[(e + 1) % n];
    const double length = (b - a).GetLength();
    const Point d = Unit(b - a);
    const Point into = Left(d) * (inside ? -1.0 : 1.0);
    v.push_back(a);
    const int count = Integer(random, 1, 4);
    double at = 0.1 * length;
    for (int k = 0; k < count; ++k) {
      const double width = LogUniform(random, 0.3, 5.0);
      const double step = LogUniform(random, 0.001, 0.5) * (Coin(random) ? 1.0 : -1.0);
      const double room = 0.9 * length - at - width;
      if (room <= 0.0) {
        break;
      }
      at += Uniform(random, 0.0, room / (count - k));
      const Point p = a + d * at;
      v.insert(v.end(), {p, p + into * step, p + d * width + into * step, p + d * width});
      at += width + 0.2;
    }
  }
  scale = 3.0;
  return Polygon(v, {});
}

bool Zigzag(std::mt19937_64& random, Program& program) {
  const int teeth = Integer(random, 3, 10);
  const double pitch = LogUniform(random, 0.8, 6.0);
  const double height = LogUniform(random, 0.5, 6.0);
  const double flat = Uniform(random, 5.0, 10.0);
  const double r = LogUniform(random, 0.2, 2.0);
  const double skew = Uniform(random, 0.3, 0.7);  // where a tooth peaks within its pitch
  std::vector<Curve> profile{Line({-flat, 0}, {0, 0})};
  for (int k = 0; k < teeth; ++k) {
    const Point base(k * pitch, 0.0);
    const Point peak(k * pitch + skew * pitch, height);
    const Point next((k + 1) * pitch, 0.0);
    profile.push_back(Line(base, peak));
    profile.push_back(Line(peak, next));
  }
  profile.push_back(Line({teeth * pitch, 0}, {teeth * pitch + flat, 0}));
  // The tool above the teeth (left of travel): in from above the first flat's start, out above
  // the last one's end.
  const Point in = profile.front().from;
  const Point out = profile.back().to;
  const Point up(0.0, 1.0);
  if (!Clears(profile, in + up * (3.0 * r), in + up * (1.002 * r), r) ||
      !Clears(profile, out + up * (3.0 * r), out + up * (1.002 * r), r)) {
    return false;
  }
  auto& run = program.run;
  run.clear();
  run.push_back(
      Segment(Line(in + up * (3.0 * r), in), crc::CRC_STATUS_ESTABLISH, crc::CRC_DIR_LEFT, r, 0));
  for (const Curve& c : profile) {
    run.push_back(Segment(c, crc::CRC_STATUS_DOING, crc::CRC_DIR_LEFT, r, run.size()));
  }
  run.push_back(Segment(Line(out, out + up * (3.0 * r)), crc::CRC_STATUS_RETRACT, crc::CRC_DIR_LEFT,
                        r, run.size()));
  program.radius = r;
  return true;
}

}  // namespace

Point PointOn(const Curve& c, double t) {
  if (!c.arc) {
    return c.from + (c.to - c.from) * t;
  }
  const double angle = (c.ccw ? 1.0 : -1.0) * Sweep(c) * t;
  const Point a = c.from - c.centre;
  return c.centre + Point(a.x * std::cos(angle) - a.y * std::sin(angle),
                          a.x * std::sin(angle) + a.y * std::cos(angle));
}

double LengthOf(const Curve& c) {
  return c.arc ? (c.from - c.centre).GetLength() * Sweep(c) : (c.to - c.from).GetLength();
}

double DistanceTo(const Point& p, const Curve& c) {
  if (!c.arc) {
    const Point d = c.to - c.from;
    const double dd = Dot(d, d);
    const double t = dd > 0.0 ? std::clamp(Dot(p - c.from, d) / dd, 0.0, 1.0) : 0.0;
    return (p - (c.from + d * t)).GetLength();
  }
  // The nearest point of the circle lies on the arc when p's direction from the centre lies
  // within the arc's sweep: on the arc's side of both end rays for a sweep up to half a turn,
  // off the far side of either for a longer one.
  const Point u = c.from - c.centre;
  const Point w = c.to - c.centre;
  const Point v = p - c.centre;
  const double sense = c.ccw ? 1.0 : -1.0;
  const double radius = u.GetLength();
  const bool afterStart = sense * Cross(u, v) >= 0.0;
  const bool beforeEnd = sense * Cross(v, w) >= 0.0;
  const bool reflex = c.fullCircle || sense * Cross(u, w) < 0.0 ||
                      (Cross(u, w) == 0.0 && Dot(u, w) < 0.0);  // exact: half a turn
  const bool within = c.fullCircle || (reflex ? afterStart || beforeEnd : afterStart && beforeEnd);
  if (within && v.GetLength() > 0.0) {
    return std::fabs(v.GetLength() - radius);
  }
  return std::min((p - c.from).GetLength(), (p - c.to).GetLength());
}

void BoundsOf(const Curve& c, double& x0, double& y0, double& x1, double& y1) {
  x0 = std::min(c.from.x, c.to.x);
  y0 = std::min(c.from.y, c.to.y);
  x1 = std::max(c.from.x, c.to.x);
  y1 = std::max(c.from.y, c.to.y);
  if (!c.arc) {
    return;
  }
  // An extreme of the circle counts where the arc passes it: the point there is as near the
  // arc as the arc's own distance says.
  const double r = (c.from - c.centre).GetLength();
  const Point extremes[4] = {{r, 0.0}, {-r, 0.0}, {0.0, r}, {0.0, -r}};
  for (const Point& e : extremes) {
    const Point p = c.centre + e;
    if (DistanceTo(p, c) <= 1e-9 * (1.0 + r)) {
      x0 = std::min(x0, p.x);
      y0 = std::min(y0, p.y);
      x1 = std::max(x1, p.x);
      y1 = std::max(y1, p.y);
    }
  }
}

Program MakeProgram(Family family, std::mt19937_64& random) {
  Program program;
  program.family = family;
  for (;;) {
    const bool inside = Coin(random);
    double scale = 1.0;
    std::vector<Curve> outline;
    double r = 0.0;
    switch (family) {
    case LINES_AND_ARCS:
      outline = LinesAndArcs(random, scale);
      r = scale * LogUniform(random, 0.02, 0.3);
      break;
    case STAR:
      outline = Star(random, scale);
      r = scale * LogUniform(random, 0.02, 0.25);
      break;
    case GEAR:
      outline = Gear(random, scale);
      r = scale * LogUniform(random, 0.05, 0.6);
      break;
    case NOTCHES:
      outline = Notches(random, inside, scale);
      r = LogUniform(random, 0.5, 3.0);
      break;
    case SLOT:
      r = LogUniform(random, 0.5, 3.0);
      outline = Slot(random, r);
      break;
    case TINY_STEPS:
      outline = TinySteps(random, inside, scale);
      r = LogUniform(random, 0.5, 3.0);
      break;
    case ZIGZAG:
    case FAMILY_COUNT:
      if (Zigzag(random, program)) {
        return program;
      }
      continue;
    }
    // Gears run outside, slots inside; the others either way.
    const bool toolInside = family == SLOT ? true : family == GEAR ? false : inside;
    if (ClosedRun(outline, toolInside, r, program)) {
      return program;
    }
  }
}

}  // namespace avoidbench
