// SPDX-License-Identifier: MIT
// Contour families, the start-up and cancel lines around them, the metamorphic transformations
// and the fixture text of a generated case.
#include "contour_generator.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

#include "property_path.h"

namespace cutcomp::property {
namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double DEGREE = PI / 180.0;

Point Polar(double angle) { return Point(std::cos(angle), std::sin(angle)); }
Point LeftNormal(const Point& v) { return Point(-v.y, v.x); }
double Dot(const Point& a, const Point& b) { return a.x * b.x + a.y * b.y; }
double Cross(const Point& a, const Point& b) { return a.x * b.y - a.y * b.x; }
Point Unit(const Point& v) {
  const double length = v.GetLength();
  return length > 0.0 ? v * (1.0 / length) : v;
}

Segment MakeLine(const Point& from, const Point& to) {
  Segment s;
  s.from = from;
  s.to = to;
  return s;
}

Segment MakeArc(const Point& centre, const Point& from, const Point& to, bool ccw) {
  Segment s;
  s.arc = true;
  s.centre = centre;
  s.from = from;
  s.to = to;
  s.ccw = ccw;
  return s;
}

// A minor arc over the chord from -> to whose middle lies `sagitta` to the left of the chord
// (negative: to the right). Bulging left puts the centre on the right: a clockwise arc.
Segment ArcOverChord(const Point& from, const Point& to, double sagitta) {
  const Point chord = to - from;
  const double c = chord.GetLength();
  const double h = std::fabs(sagitta);
  const double radius = (c * c / 4.0 + h * h) / (2.0 * h);
  const Point mid = from + chord * 0.5;
  const Point left = Unit(LeftNormal(chord));
  const double towardCentre = sagitta > 0.0 ? -(radius - h) : (radius - h);
  return MakeArc(mid + left * towardCentre, from, to, sagitta < 0.0);
}

std::vector<Segment> Reversed(const std::vector<Segment>& contour) {
  std::vector<Segment> out;
  for (auto it = contour.rbegin(); it != contour.rend(); ++it) {
    Segment s = *it;
    std::swap(s.from, s.to);
    s.ccw = !s.ccw;
    out.push_back(s);
  }
  return out;
}

void Transform(std::vector<Segment>& contour, double angle, const Point& shift) {
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  auto move = [&](Point& p) {
    p = Point(c * p.x - s * p.y + shift.x, s * p.x + c * p.y + shift.y);
  };
  for (Segment& segment : contour) {
    move(segment.from);
    move(segment.to);
    if (segment.arc) {
      move(segment.centre);
    }
  }
}

// Vertices of a star-shaped polygon around the origin, counterclockwise.
std::vector<Point> StarShapedPolygon(Random& random, int count, double size) {
  std::vector<double> angles;
  const double gap = 2.0 * PI / (2.5 * count);
  while (static_cast<int>(angles.size()) < count) {
    const double a = random.Uniform(0.0, 2.0 * PI);
    bool farEnough = true;
    for (double b : angles) {
      const double d = std::fabs(a - b);
      farEnough = farEnough && std::min(d, 2.0 * PI - d) >= gap;
    }
    if (farEnough) {
      angles.push_back(a);
    }
  }
  std::sort(angles.begin(), angles.end());
  std::vector<Point> vertices;
  for (double a : angles) {
    vertices.push_back(Polar(a) * (size * random.Uniform(0.5, 1.0)));
  }
  return vertices;
}

// A closed contour over `vertices` that starts and ends in the middle of the first edge, so the
// start-up and cancel meet the contour on a straight stretch. `edge(i, from, to)` builds the
// segment for edge i (edge 0 is always a line).
template <typename EdgeBuilder>
std::vector<Segment> ClosedContour(const std::vector<Point>& vertices, EdgeBuilder edge) {
  const std::size_t n = vertices.size();
  const Point mid = vertices[0] + (vertices[1] - vertices[0]) * 0.5;
  std::vector<Segment> contour;
  contour.push_back(MakeLine(mid, vertices[1]));
  for (std::size_t i = 1; i < n; ++i) {
    contour.push_back(edge(i, vertices[i], vertices[(i + 1) % n]));
  }
  contour.push_back(MakeLine(vertices[0], mid));
  return contour;
}

std::vector<Segment> Polygon(Random& random, double size) {
  const std::vector<Point> vertices = StarShapedPolygon(random, random.Int(3, 9), size);
  return ClosedContour(vertices, [](std::size_t, Point a, Point b) { return MakeLine(a, b); });
}

std::vector<Segment> Star(Random& random, double size) {
  const int points = random.Int(3, 8);
  const double inner = random.Uniform(0.25, 0.7);
  const double phase = random.Uniform(0.0, 2.0 * PI);
  std::vector<Point> vertices;
  for (int i = 0; i < 2 * points; ++i) {
    const double a = phase + PI * i / points + random.Uniform(-0.1, 0.1) * PI / points;
    vertices.push_back(Polar(a) * (i % 2 == 0 ? size : size * inner));
  }
  return ClosedContour(vertices, [](std::size_t, Point a, Point b) { return MakeLine(a, b); });
}

std::vector<Segment> RoundedRect(Random& random, double size) {
  const double w = size * random.Uniform(0.5, 1.5);
  const double h = size * random.Uniform(0.5, 1.5);
  const double rc = std::min(w, h) * random.Uniform(0.05, 0.45);
  const double x = w / 2.0;
  const double y = h / 2.0;
  // Counterclockwise from the middle of the bottom edge.
  return {MakeLine(Point(0, -y), Point(x - rc, -y)),
          MakeArc(Point(x - rc, -y + rc), Point(x - rc, -y), Point(x, -y + rc), true),
          MakeLine(Point(x, -y + rc), Point(x, y - rc)),
          MakeArc(Point(x - rc, y - rc), Point(x, y - rc), Point(x - rc, y), true),
          MakeLine(Point(x - rc, y), Point(-x + rc, y)),
          MakeArc(Point(-x + rc, y - rc), Point(-x + rc, y), Point(-x, y - rc), true),
          MakeLine(Point(-x, y - rc), Point(-x, -y + rc)),
          MakeArc(Point(-x + rc, -y + rc), Point(-x, -y + rc), Point(-x + rc, -y), true),
          MakeLine(Point(-x + rc, -y), Point(0, -y))};
}

std::vector<Segment> Mixed(Random& random, double size) {
  const std::vector<Point> vertices = StarShapedPolygon(random, random.Int(3, 8), size);
  return ClosedContour(vertices, [&random](std::size_t, Point a, Point b) {
    if (!random.Chance(0.6)) {
      return MakeLine(a, b);
    }
    const double sagitta = (b - a).GetLength() * random.Uniform(0.05, 0.4);
    return ArcOverChord(a, b, random.Chance(0.5) ? sagitta : -sagitta);
  });
}

// Appends a segment leaving `cursor` along `heading`: a line of `length`, or an arc of `radius`
// sweeping `sweep` in the given sense. Advances cursor and heading.
void Walk(std::vector<Segment>& contour, Point& cursor, double& heading, bool arc, double length,
          double radius, double sweep, bool ccw) {
  if (!arc) {
    const Point to = cursor + Polar(heading) * length;
    contour.push_back(MakeLine(cursor, to));
    cursor = to;
    return;
  }
  const Point toCentre = ccw ? LeftNormal(Polar(heading)) : LeftNormal(Polar(heading)) * -1.0;
  const Point centre = cursor + toCentre * radius;
  const double startAngle = std::atan2(cursor.y - centre.y, cursor.x - centre.x);
  const double endAngle = startAngle + (ccw ? sweep : -sweep);
  const Point to = centre + Polar(endAngle) * radius;
  contour.push_back(MakeArc(centre, cursor, to, ccw));
  cursor = to;
  heading += ccw ? sweep : -sweep;
}

double Turn(Random& random, double low, double high) {
  const double turn = random.Uniform(low, high) * DEGREE;
  return random.Chance(0.5) ? turn : -turn;
}

std::vector<Segment> Chain(Random& random, double size) {
  std::vector<Segment> contour;
  Point cursor(0, 0);
  double heading = random.Uniform(0.0, 2.0 * PI);
  const int count = random.Int(3, 10);
  for (int i = 0; i < count; ++i) {
    const double joint = random.Uniform(0.0, 1.0);
    if (i > 0 && joint < 0.1) {
      heading += PI;  // the path doubles back on itself
    } else if (i > 0 && joint >= 0.45) {
      heading += Turn(random, 10.0, 150.0);
    }
    const bool arc = random.Chance(0.5);
    Walk(contour, cursor, heading, arc, size * random.Uniform(0.15, 0.6),
         size * random.Uniform(0.1, 0.5), random.Uniform(20.0, 200.0) * DEGREE, random.Chance(0.5));
  }
  return contour;
}

double LogUniform(Random& random, double low, double high) {
  return std::exp(random.Uniform(std::log(low), std::log(high)));
}

// A polygon whose corners are cut: by one short line, by a short arc tangent to both edges, or
// by two short lines through a point near the corner.
std::vector<Segment> Chamfered(Random& random, double size) {
  const std::vector<Point> vertices = StarShapedPolygon(random, random.Int(3, 7), size);
  const std::size_t n = vertices.size();
  std::vector<Point> in(n), out(n);  // where the edges before and after vertex i now end/start
  std::vector<std::vector<Segment>> cut(n);  // per vertex: the segments that cut it
  for (std::size_t i = 0; i < n; ++i) {
    const Point v = vertices[i];
    const Point before = Unit(v - vertices[(i + n - 1) % n]);
    const Point after = Unit(vertices[(i + 1) % n] - v);
    in[i] = v;
    out[i] = v;
    if (i == 0 || !random.Chance(0.7)) {
      continue;
    }
    const double e = LogUniform(random, 1e-4, 0.5);
    const int kind = random.Int(0, 2);
    if (kind == 0) {
      in[i] = v - before * e;
      out[i] = v + after * e;
      cut[i].push_back(MakeLine(in[i], out[i]));
    } else if (kind == 1) {
      // Fillet of radius e: the tangent points lie e * tan(turn / 2) from the corner.
      const double turn = std::atan2(Cross(before, after), Dot(before, after));
      const double reach = e * std::tan(std::fabs(turn) / 2.0);
      in[i] = v - before * reach;
      out[i] = v + after * reach;
      const Point toCentre = turn > 0.0 ? LeftNormal(before) : LeftNormal(before) * -1.0;
      cut[i].push_back(MakeArc(in[i] + toCentre * e, in[i], out[i], turn > 0.0));
    } else {
      const Point knee = v + Polar(random.Uniform(0.0, 2.0 * PI)) * LogUniform(random, 1e-4, 0.5);
      in[i] = v - before * e;
      out[i] = v + after * LogUniform(random, 1e-4, 0.5);
      cut[i].push_back(MakeLine(in[i], knee));
      cut[i].push_back(MakeLine(knee, out[i]));
    }
  }
  for (std::size_t i = 0; i < n; ++i) {
    // A cut that eats an edge (a wide fillet at a sharp corner) gives no usable contour.
    const Point edge = vertices[(i + 1) % n] - vertices[i];
    const Point left = in[(i + 1) % n] - out[i];
    if (Dot(edge, left) <= 0.0 || left.GetLength() < 1.0) {
      return {};
    }
  }
  const Point mid = vertices[0] + (vertices[1] - vertices[0]) * 0.5;
  std::vector<Segment> contour;
  contour.push_back(MakeLine(mid, in[1]));
  for (std::size_t i = 1; i <= n; ++i) {
    const std::size_t k = i % n;
    for (const Segment& s : cut[k]) {
      contour.push_back(s);
    }
    contour.push_back(MakeLine(out[k], k == 0 ? mid : in[(k + 1) % n]));
  }
  return contour;
}

std::vector<Segment> ShortStepChain(Random& random) {
  std::vector<Segment> contour;
  Point cursor(0, 0);
  double heading = random.Uniform(0.0, 2.0 * PI);
  const int count = random.Int(2, 6);
  for (int i = 0; i < count; ++i) {
    if (i > 0) {
      heading += Turn(random, 10.0, 170.0);
      const bool arc = random.Chance(0.3);
      const double e = LogUniform(random, 1e-4, 0.5);
      Walk(contour, cursor, heading, arc, e, e, random.Uniform(20.0, 180.0) * DEGREE,
           random.Chance(0.5));
      heading += Turn(random, 10.0, 170.0);
    }
    const bool arc = random.Chance(0.3);
    Walk(contour, cursor, heading, arc, random.Uniform(5.0, 30.0), random.Uniform(5.0, 20.0),
         random.Uniform(20.0, 120.0) * DEGREE, random.Chance(0.5));
  }
  return contour;
}

Piece AsPiece(const Segment& segment) {
  Piece piece;
  piece.arc = segment.arc;
  piece.from = segment.from;
  piece.to = segment.to;
  piece.centre = segment.centre;
  piece.radius = segment.arc ? segment.Radius() : 0.0;
  piece.ccw = segment.ccw;
  return piece;
}

// Closest approach between two segments of the contour that do not follow each other; zero
// also when two that do follow each other cross again away from their joint.
double ClosestNonAdjacent(const std::vector<Segment>& contour, bool closed, double tolerance) {
  double closest = INFINITY;
  const std::size_t n = contour.size();
  for (std::size_t i = 0; i + 1 < n; ++i) {
    if (MeetAwayFrom(contour[i], contour[i + 1], contour[i].to, tolerance)) {
      return 0.0;
    }
  }
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 2; j < n; ++j) {
      if (closed && i == 0 && j == n - 1) {
        continue;
      }
      closest = std::min(closest, Distance(AsPiece(contour[i]), contour[j]));
    }
  }
  return closest;
}

bool HasDegenerateJoint(const std::vector<Segment>& segments) {
  for (std::size_t i = 0; i + 1 < segments.size(); ++i) {
    const double turn = JointTurn(segments[i], segments[i + 1]);
    // An exact reversal (to rounding) is a case of its own; nearly one is left out.
    if ((turn > 1e-9 && turn < 6.0 * DEGREE) || (turn > 174.0 * DEGREE && turn < PI - 1e-9)) {
      return true;
    }
  }
  return false;
}

std::string Number(double value) {
  std::ostringstream out;
  out << std::setprecision(17) << value;
  return out.str();
}

std::string PointText(const Point& p) { return "[" + Number(p.x) + ", " + Number(p.y) + "]"; }

}  // namespace

std::uint64_t Random::Next() {
  m_State += 0x9E3779B97F4A7C15ULL;
  std::uint64_t z = m_State;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

double Random::Uniform(double low, double high) {
  const double unit = static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0);
  return low + (high - low) * unit;
}

int Random::Int(int low, int high) {
  return low + static_cast<int>(Next() % static_cast<std::uint64_t>(high - low + 1));
}

bool Random::Chance(double probability) { return Uniform(0.0, 1.0) < probability; }

const char* FamilyName(Family family) {
  switch (family) {
  case Family::POLYGON:
    return "polygon";
  case Family::STAR:
    return "star";
  case Family::ROUNDED_RECT:
    return "rounded-rect";
  case Family::MIXED:
    return "mixed";
  case Family::CHAIN:
    return "chain";
  case Family::CHAMFERED:
    return "chamfered";
  case Family::SHORT_STEP_CHAIN:
    return "short-step-chain";
  }
  return "?";
}

Point StartTangent(const Segment& s) {
  if (!s.arc) {
    return Unit(s.to - s.from);
  }
  const Point radial = Unit(s.from - s.centre);
  return s.ccw ? LeftNormal(radial) : LeftNormal(radial) * -1.0;
}

Point EndTangent(const Segment& s) {
  if (!s.arc) {
    return Unit(s.to - s.from);
  }
  const Point radial = Unit(s.to - s.centre);
  return s.ccw ? LeftNormal(radial) : LeftNormal(radial) * -1.0;
}

double JointTurn(const Segment& a, const Segment& b) {
  const Point t1 = EndTangent(a);
  const Point t2 = StartTangent(b);
  return std::fabs(std::atan2(Cross(t1, t2), Dot(t1, t2)));
}

Case Generate(std::uint64_t seed, Family family, const GeneratorOptions& options) {
  // Each attempt draws from its own stream, so a rejected attempt does not shift the others.
  for (std::uint64_t attempt = 0;; ++attempt) {
    Random random(seed * 1000003ULL + attempt * 7919ULL + static_cast<std::uint64_t>(family));
    Case c;
    c.seed = seed;
    c.family = family;
    const bool shortFamily = family == Family::CHAMFERED || family == Family::SHORT_STEP_CHAIN;
    const bool large = options.largeRadius || shortFamily;
    const double size = large ? random.Uniform(10.0, 40.0) : random.Uniform(10.0, 60.0);
    c.radius = large ? random.Uniform(1.0, 5.0) : size * LogUniform(random, 0.004, 0.15);
    c.strategy = static_cast<crc::crc_t>(random.Int(0, 2));
    c.side = random.Chance(0.5) ? crc::CRC_DIR_LEFT : crc::CRC_DIR_RIGHT;

    std::vector<Segment> contour;
    bool closed = true;
    switch (family) {
    case Family::POLYGON:
      contour = Polygon(random, size);
      break;
    case Family::STAR:
      contour = Star(random, size);
      break;
    case Family::ROUNDED_RECT:
      contour = RoundedRect(random, size);
      break;
    case Family::MIXED:
      contour = Mixed(random, size);
      break;
    case Family::CHAIN:
      contour = Chain(random, size);
      closed = false;
      break;
    case Family::CHAMFERED:
      contour = Chamfered(random, size);
      break;
    case Family::SHORT_STEP_CHAIN:
      contour = ShortStepChain(random);
      closed = false;
      break;
    }
    if (contour.empty()) {
      continue;
    }
    if (closed && random.Chance(0.5)) {
      // Clockwise: the same shape travelled the other way round.
      contour = Reversed(contour);
    }
    Transform(contour, random.Uniform(0.0, 2.0 * PI),
              Point(random.Uniform(-50.0, 50.0), random.Uniform(-50.0, 50.0)));

    // A contour that touches or crosses itself is a faulty program, not a test of the engine.
    const double closest = ClosestNonAdjacent(contour, closed, 1e-9);
    if (closest < (shortFamily ? 1e-9 : 0.02 * size)) {
      continue;
    }

    // Start-up and cancel lines leave and reach the contour from the tool side, at an angle
    // anywhere from 40 degrees ahead of the normal to 140 degrees behind it.
    const double sign = c.side == crc::CRC_DIR_LEFT ? 1.0 : -1.0;
    const Point start = contour.front().from;
    const Point t0 = StartTangent(contour.front());
    const double psi = random.Uniform(-40.0, 140.0) * DEGREE;
    const Point approach = LeftNormal(t0) * (sign * std::cos(psi)) - t0 * std::sin(psi);
    Segment startup = MakeLine(start + approach * (c.radius * random.Uniform(1.5, 4.0)), start);
    startup.phase = crc::CRC_STATUS_ESTABLISH;

    const Point end = contour.back().to;
    const Point t1 = EndTangent(contour.back());
    const double psiOut = random.Uniform(-40.0, 140.0) * DEGREE;
    const Point leave = LeftNormal(t1) * (sign * std::cos(psiOut)) + t1 * std::sin(psiOut);
    Segment cancel = MakeLine(end, end + leave * (c.radius * random.Uniform(1.5, 4.0)));
    cancel.phase = crc::CRC_STATUS_RETRACT;

    c.segments.push_back(startup);
    for (Segment& s : contour) {
      s.phase = crc::CRC_STATUS_DOING;
      c.segments.push_back(s);
    }
    c.segments.push_back(cancel);
    for (Segment& s : c.segments) {
      s.side = c.side;
    }
    // Drawn whatever the options say, so that the options do not change the contour.
    const bool locate = random.Chance(options.locateChance);
    const std::size_t locateAt = 2 + static_cast<std::size_t>(random.Next() % contour.size());
    if (locate && locateAt + 2 < c.segments.size() && !c.segments[locateAt].arc) {
      c.segments[locateAt].locate = true;
    }
    const bool arcStart = random.Chance(options.arcEndsChance);
    const bool arcCancel = random.Chance(options.arcEndsChance);
    const double bulgeStart = random.Uniform(-0.4, 0.4);
    const double bulgeCancel = random.Uniform(-0.4, 0.4);
    if (c.strategy == crc::CRC_TYPE_INSERT) {
      auto bend = [&c](Segment& s, double bulge) {
        const crc::crc_status_t phase = s.phase;
        s = ArcOverChord(s.from, s.to, (s.to - s.from).GetLength() * bulge);
        s.phase = phase;
        s.side = c.side;
      };
      if (arcStart && std::fabs(bulgeStart) > 0.05) {
        bend(c.segments.front(), bulgeStart);
      }
      if (arcCancel && std::fabs(bulgeCancel) > 0.05) {
        bend(c.segments.back(), bulgeCancel);
      }
    }
    if (random.Chance(options.noCancelChance)) {
      c.withCancel = false;
      c.preRetract = random.Int(0, 2);
      c.segments.pop_back();
    }
    if (options.avoidNearTangent && HasDegenerateJoint(c.segments)) {
      continue;
    }
    return c;
  }
}

Case Translated(const Case& source, Point by) {
  Case c = source;
  for (Segment& s : c.segments) {
    s.from = s.from + by;
    s.to = s.to + by;
    if (s.arc) {
      s.centre = s.centre + by;
    }
  }
  return c;
}

Case Mirrored(const Case& source) {
  Case c = source;
  auto flip = [](crc::crc_dir_t side) {
    return side == crc::CRC_DIR_LEFT ? crc::CRC_DIR_RIGHT : crc::CRC_DIR_LEFT;
  };
  c.side = flip(c.side);
  for (Segment& s : c.segments) {
    s.from = Point(s.from.x, -s.from.y);
    s.to = Point(s.to.x, -s.to.y);
    s.centre = Point(s.centre.x, -s.centre.y);
    s.ccw = !s.ccw;
    s.side = flip(s.side);
  }
  return c;
}

Case ReversedCase(const Case& source) {
  Case c = source;
  c.segments = Reversed(source.segments);
  for (std::size_t i = 0; i < c.segments.size(); ++i) {
    Segment& s = c.segments[i];
    s.side = s.side == crc::CRC_DIR_LEFT ? crc::CRC_DIR_RIGHT : crc::CRC_DIR_LEFT;
    s.phase = i == 0                       ? crc::CRC_STATUS_ESTABLISH
              : i + 1 == c.segments.size() ? crc::CRC_STATUS_RETRACT
                                           : crc::CRC_STATUS_DOING;
  }
  c.side = c.segments.front().side;
  return c;
}

Case WithNegativeRadius(const Case& source) {
  Case c = source;
  c.radius = -source.radius;
  for (Segment& s : c.segments) {
    s.side = s.side == crc::CRC_DIR_LEFT ? crc::CRC_DIR_RIGHT : crc::CRC_DIR_LEFT;
  }
  c.side = c.segments.front().side;
  return c;
}

std::vector<std::unique_ptr<crc::CCrcNode>> BuildProgram(const Case& c) {
  std::vector<std::unique_ptr<crc::CCrcNode>> program;
  for (const Segment& s : c.segments) {
    if (s.arc) {
      program.push_back(std::make_unique<crc::CCrcArc>(s.centre, s.from, s.to, s.Radius(), s.ccw,
                                                       s.phase, s.side));
    } else {
      program.push_back(std::make_unique<crc::CCrcLine>(s.from, s.to, s.phase, s.side, s.locate));
    }
  }
  return program;
}

std::string ToFixture(const Case& c) {
  static const char* const strategies[] = {"normal", "intersect", "insert"};
  std::ostringstream out;
  out << "{\n  \"comment\": \"Generated: family " << FamilyName(c.family) << ", seed " << c.seed
      << "; add the expected path and notices, or the failure, under expect.\",\n  \"settings\": "
         "{\"radius\": "
      << Number(c.radius) << ", \"strategy\": \"" << strategies[static_cast<int>(c.strategy)]
      << "\", \"evade\": " << (c.evade ? "true" : "false") << ", \"preRetract\": " << c.preRetract
      << ", \"lookBehind\": " << c.lookBehind << "},\n  \"segments\": [\n";
  for (std::size_t i = 0; i < c.segments.size(); ++i) {
    const Segment& s = c.segments[i];
    const char* phase = s.phase == crc::CRC_STATUS_ESTABLISH ? "S"
                        : s.phase == crc::CRC_STATUS_RETRACT ? "R"
                                                             : "D";
    const char* side = s.side == crc::CRC_DIR_LEFT ? "L" : "R";
    out << "    {";
    if (s.arc) {
      out << "\"arc\": {\"centre\": " << PointText(s.centre) << ", \"from\": " << PointText(s.from)
          << ", \"to\": " << PointText(s.to) << ", \"sense\": \"" << (s.ccw ? "ccw" : "cw")
          << "\"}";
    } else {
      out << "\"line\": [" << PointText(s.from) << ", " << PointText(s.to) << "]";
    }
    out << (s.locate ? ", \"locate\": true" : "") << ", \"phase\": \"" << phase
        << "\", \"side\": \"" << side << "\"}" << (i + 1 < c.segments.size() ? "," : "") << "\n";
  }
  out << "  ]\n}\n";
  return out.str();
}

}  // namespace cutcomp::property
