// SPDX-License-Identifier: MIT
// The two contour families, the start-up and cancel lines around them, and the cleanliness test.
#include "program_generator.h"

#include <algorithm>
#include <cmath>

#include "fixture.h"

namespace cutcomp::test {
namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double DEGREE = PI / 180.0;

Point Polar(double angle) { return Point(std::cos(angle), std::sin(angle)); }
Point LeftNormal(const Point& v) { return Point(-v.y, v.x); }
Point Unit(const Point& v) { return v * (1.0 / v.GetLength()); }
Json Xy(const Point& p) { return Json::array({p.x, p.y}); }
Point Get(const Json& j) { return Point(j[0].get<double>(), j[1].get<double>()); }

// Reads the draws in order; an exhausted stream reads as zeros.
class Draws {
public:
  explicit Draws(const std::vector<int>& draws) : m_Draws(draws) {}
  double Unit() { return m_Next < m_Draws.size() ? (m_Draws[m_Next++] % 1000) / 1000.0 : 0.0; }
  double Real(double low, double high) { return low + (high - low) * Unit(); }
  double Log(double low, double high) { return std::exp(Real(std::log(low), std::log(high))); }
  int Int(int low, int high) {
    return std::min(high, low + static_cast<int>(Unit() * (high - low + 1)));
  }
  bool Chance(int oneIn) { return Int(1, oneIn) == 1; }
  double Signed(double low, double high) { return Chance(2) ? Real(low, high) : -Real(low, high); }

private:
  const std::vector<int>& m_Draws;
  std::size_t m_Next = 0;
};

Json Line(const Point& from, const Point& to) { return {{"line", {Xy(from), Xy(to)}}}; }
Json Arc(const Point& centre, const Point& from, const Point& to, bool ccw) {
  return {{"arc",
           {{"centre", Xy(centre)},
            {"from", Xy(from)},
            {"to", Xy(to)},
            {"sense", ccw ? "ccw" : "cw"}}}};
}

// A minor arc over the chord whose middle lies `sagitta` left of it (negative: right).
Json ArcOverChord(const Point& from, const Point& to, double sagitta) {
  const double c = (to - from).GetLength();
  const double h = std::fabs(sagitta);
  const double radius = (c * c / 4.0 + h * h) / (2.0 * h);
  const Point toCentre = Unit(LeftNormal(to - from)) * (sagitta > 0.0 ? h - radius : radius - h);
  return Arc(from + (to - from) * 0.5 + toCentre, from, to, sagitta < 0.0);
}

Point Tangent(const Curve& c, bool atEnd) {
  if (!c.arc) {
    return Unit(c.to - c.from);
  }
  const Point radial = Unit((atEnd ? c.to : c.from) - c.centre);
  return c.ccw ? LeftNormal(radial) : LeftNormal(radial) * -1.0;
}

double Turn(const Curve& a, const Curve& b) {
  const Point t1 = Tangent(a, true);
  const Point t2 = Tangent(b, false);
  return std::fabs(std::atan2(t1.x * t2.y - t1.y * t2.x, t1.x * t2.x + t1.y * t2.y));
}

// Closed: star-shaped around the origin, starting and ending in the middle of edge 0.
std::vector<Json> Outline(Draws& d, double size) {
  const int n = d.Int(3, 9);
  const double phase = d.Real(0.0, 2.0 * PI);
  std::vector<Point> v;
  for (int i = 0; i < n; ++i) {
    v.push_back(Polar(phase + 2.0 * PI * (i + d.Real(-0.3, 0.3)) / n) * (size * d.Real(0.5, 1.0)));
  }
  // Corners rounded by a tangent arc of radius e: its tangent points lie e tan(turn / 2) away.
  std::vector<Point> in(v), out(v);
  std::vector<Json> fillet(n);
  for (int i = 1; i < n; ++i) {
    const Point before = Unit(v[i] - v[i - 1]);
    const Point after = Unit(v[(i + 1) % n] - v[i]);
    const double turn = std::atan2(before.x * after.y - before.y * after.x,
                                   before.x * after.x + before.y * after.y);
    const double e = size * d.Real(0.02, 0.2);
    if (!d.Chance(3) || std::fabs(turn) > 150.0 * DEGREE) {
      continue;
    }
    const double reach = e * std::tan(std::fabs(turn) / 2.0);
    in[i] = v[i] - before * reach;
    out[i] = v[i] + after * reach;
    const Point toCentre = turn > 0.0 ? LeftNormal(before) : LeftNormal(before) * -1.0;
    fillet[i] = Arc(in[i] + toCentre * e, in[i], out[i], turn > 0.0);
  }
  const Point mid = (v[0] + v[1]) * 0.5;
  std::vector<Json> contour = {Line(mid, in[1])};
  for (int i = 1; i <= n; ++i) {
    const int k = i % n;
    if (!fillet[k].is_null()) {
      contour.push_back(fillet[k]);
    }
    const Point to = k == 0 ? mid : in[(k + 1) % n];
    const int kind = d.Int(0, 4);
    contour.push_back(
        kind < 3 || k == 0
            ? Line(out[k], to)
            : ArcOverChord(out[k], to,
                           (to - out[k]).GetLength() * d.Real(0.05, 0.4) * (kind == 3 ? 1 : -1)));
  }
  return contour;
}

// Appends a line of `length` or an arc of `radius` and `sweep` leaving `cursor` along `heading`.
void Walk(std::vector<Json>& contour, Point& cursor, double& heading, bool arc, double length,
          double radius, double sweep, bool ccw) {
  if (!arc) {
    const Point to = cursor + Polar(heading) * length;
    contour.push_back(Line(cursor, to));
    cursor = to;
    return;
  }
  const Point centre = cursor + LeftNormal(Polar(heading)) * (ccw ? radius : -radius);
  const double start = std::atan2(cursor.y - centre.y, cursor.x - centre.x);
  const Point to = centre + Polar(start + (ccw ? sweep : -sweep)) * radius;
  contour.push_back(Arc(centre, cursor, to, ccw));
  cursor = to;
  heading += ccw ? sweep : -sweep;
}

std::vector<Json> Steps(Draws& d) {
  std::vector<Json> contour;
  Point cursor(0, 0);
  double heading = d.Real(0.0, 2.0 * PI);
  const int count = d.Int(2, 6);
  for (int i = 0; i < count; ++i) {
    if (i > 0) {
      heading += d.Signed(10.0 * DEGREE, 170.0 * DEGREE);
      const double e = d.Log(1e-4, 0.5);
      Walk(contour, cursor, heading, d.Chance(6), e, e, d.Real(20.0, 180.0) * DEGREE, d.Chance(2));
      heading += d.Signed(10.0 * DEGREE, 170.0 * DEGREE);
    }
    Walk(contour, cursor, heading, d.Chance(3), d.Real(5.0, 30.0), d.Real(5.0, 20.0),
         d.Real(20.0, 120.0) * DEGREE, d.Chance(2));
  }
  return contour;
}

void Reverse(std::vector<Json>& contour) {
  std::reverse(contour.begin(), contour.end());
  for (Json& s : contour) {
    Json& ends = s.contains("line") ? s["line"] : s["arc"];
    if (s.contains("line")) {
      std::swap(ends[0], ends[1]);
    } else {
      std::swap(ends["from"], ends["to"]);
      ends["sense"] = ends["sense"] == "ccw" ? "cw" : "ccw";
    }
  }
}

Curve CurveOf(const Json& segment) { return ProgrammedCurve(*MakeSegment(segment)); }

}  // namespace

Json MakeProgram(Family family, const std::vector<int>& draws) {
  Draws d(draws);
  const double size = d.Real(10.0, 60.0);
  const double radius = family == STEPS ? d.Real(1.0, 5.0) : size * d.Log(0.004, 0.15);
  const int strategy = d.Int(0, 2);
  const bool left = d.Chance(2);
  std::vector<Json> contour = family == STEPS ? Steps(d) : Outline(d, size);
  if (family == OUTLINE && d.Chance(2)) {
    Reverse(contour);  // clockwise
  }
  const double angle = d.Real(0.0, 2.0 * PI);
  const Point shift(d.Real(-50.0, 50.0), d.Real(-50.0, 50.0));
  for (Json& s : contour) {
    for (Json* p : s.contains("line") ? std::vector<Json*>{&s["line"][0], &s["line"][1]}
                                      : std::vector<Json*>{&s["arc"]["centre"], &s["arc"]["from"],
                                                           &s["arc"]["to"]}) {
      const Point q = Get(*p);
      *p = Xy(Point(std::cos(angle) * q.x - std::sin(angle) * q.y + shift.x,
                    std::sin(angle) * q.x + std::cos(angle) * q.y + shift.y));
    }
  }
  // Start-up and cancel lines leave and reach the contour from the tool side, at an angle from
  // 40 degrees ahead of the normal to 140 degrees behind it.
  const double sign = left ? 1.0 : -1.0;
  const Curve first = CurveOf(contour.front());
  const Curve last = CurveOf(contour.back());
  const Point t0 = Tangent(first, false);
  const Point t1 = Tangent(last, true);
  const double psi = d.Real(-40.0, 140.0) * DEGREE;
  const double psiOut = d.Real(-40.0, 140.0) * DEGREE;
  const Point approach = LeftNormal(t0) * (sign * std::cos(psi)) - t0 * std::sin(psi);
  const Point leave = LeftNormal(t1) * (sign * std::cos(psiOut)) + t1 * std::sin(psiOut);
  Json startup = Line(first.from + approach * (radius * d.Real(1.5, 4.0)), first.from);
  Json cancel = Line(last.to, last.to + leave * (radius * d.Real(1.5, 4.0)));
  if (strategy == 2 && d.Chance(3)) {  // only the inserting strategy takes arcs there
    startup = ArcOverChord(first.from + approach * (radius * 2.5), first.from,
                           d.Signed(0.1, 0.4) * radius);
  }
  if (strategy == 2 && d.Chance(3)) {
    cancel = ArcOverChord(last.to, last.to + leave * (radius * 2.5), d.Signed(0.1, 0.4) * radius);
  }
  const bool withCancel = !d.Chance(4);
  const int preRetract = d.Int(0, 2);
  // Without evasion a line too short for the cutter may leave the path broken by design.
  const bool evade = family == STEPS || d.Chance(2);
  const std::size_t locate = d.Chance(5) ? static_cast<std::size_t>(d.Int(1, 20)) : 0;

  Json segments = Json::array();
  startup["phase"] = "S";
  segments.push_back(startup);
  for (std::size_t i = 0; i < contour.size(); ++i) {
    contour[i]["phase"] = "D";
    if (i == locate && i + 1 < contour.size() && contour[i].contains("line")) {
      contour[i]["locate"] = true;
    }
    segments.push_back(contour[i]);
  }
  if (withCancel) {
    cancel["phase"] = "R";
    segments.push_back(cancel);
  }
  for (Json& s : segments) {
    s["side"] = left ? "L" : "R";
  }
  static const char* const STRATEGIES[] = {"normal", "intersect", "insert"};
  return {{"comment", "generated"},
          {"family", family == STEPS ? "steps" : "outline"},
          {"settings",
           {{"radius", radius},
            {"strategy", STRATEGIES[strategy]},
            {"evade", evade},
            {"preRetract", withCancel ? 0 : preRetract},
            {"lookBehind", 3}}},
          {"segments", segments}};
}

Outcome Compensate(const Json& program) {
  const Json& s = program["settings"];
  crc::CCutterCompensator engine(s["radius"].get<double>(), nullptr,
                                 s["lookBehind"].get<unsigned>(), s["strategy"].get<crc::crc_t>());
  engine.SetInterveneEvade(s["evade"].get<bool>());
  engine.SetCamTolerance(s.value("camTolerance", false));
  engine.SetCrcPreRetractOption(s["preRetract"].get<int>());
  std::vector<std::unique_ptr<crc::CCrcNode>> nodes;
  for (const Json& segment : program["segments"]) {
    nodes.push_back(MakeSegment(segment));
  }
  Outcome outcome;
  outcome.run = RunProgram(engine, std::move(nodes));
  outcome.path = ReadPath(outcome.run.segments);
  outcome.listCount = engine.GetListCount();
  return outcome;
}

bool IsClean(const Json& program) {
  std::vector<Curve> contour;
  double extent = 0.0;
  for (const Json& s : program["segments"]) {
    if (s["phase"] == "D") {
      contour.push_back(CurveOf(s));
      extent = std::max({extent, Length(contour.back()), contour.back().radius});
    }
  }
  const std::size_t n = contour.size();
  const bool closed = n > 2 && (contour.back().to - contour.front().from).GetLength() < 1e-9;
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const double turn = Turn(contour[i], contour[i + 1]);
    if ((turn > 1e-9 && turn < 6.0 * DEGREE) || (turn > 174.0 * DEGREE && turn < PI - 1e-9)) {
      return false;
    }
    for (const Point& p : Crossings(contour[i], contour[i + 1])) {
      if ((p - contour[i].to).GetLength() > 1e-9) {
        return false;  // meets its successor again away from their joint
      }
    }
    for (std::size_t j = i + 2; j < n; ++j) {
      if (!(closed && i == 0 && j == n - 1) &&
          Distance(contour[i], contour[j]) < (closed ? 0.02 * extent : 1e-9)) {
        return false;
      }
    }
  }
  return n > 0;
}

}  // namespace cutcomp::test
