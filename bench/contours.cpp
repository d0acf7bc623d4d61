// SPDX-License-Identifier: MIT
// Builds the benchmark outlines: polygons whose corners are either sharp or rounded by a
// tangent fillet, chord approximations of a circle and of a closed B-spline, and the engine
// program that leads into and out of an outline.
#include "contours.h"

#include <cmath>
#include <utility>

namespace cutcomp::bench {
namespace {

double Cross(const Point& a, const Point& b) { return a.x * b.y - a.y * b.x; }
double Dot(const Point& a, const Point& b) { return a.x * b.x + a.y * b.y; }

Point Unit(const Point& v) {
  const double length = v.GetLength();
  return Point(v.x / length, v.y / length);
}

// Shorter than this, a straight piece left between two fillets is dropped: the fillets then
// meet tangentially (a slot end or an ear becomes a half circle).
constexpr double MIN_PIECE_LENGTH = 1e-9;

// A closed counterclockwise polygon with a tangent fillet of radius fillets[i] at vertex i
// (0 keeps the corner sharp). The loop starts and ends at the midpoint of the edge from vertex
// 0 to vertex 1. A fillet turns left at a convex vertex (counterclockwise arc) and right at a
// concave one (clockwise arc); its tangent points lie R tan(turn / 2) from the vertex.
std::vector<Piece> FilletedPolygon(const std::vector<Point>& vertices,
                                   const std::vector<double>& fillets) {
  const std::size_t n = vertices.size();
  std::vector<Point> before(n);  // where the fillet leaves the incoming edge
  std::vector<Point> after(n);   // where it joins the outgoing edge
  std::vector<Piece> arcs(n);
  for (std::size_t i = 0; i < n; ++i) {
    const Point& vertex = vertices[i];
    const Point in = Unit(vertex - vertices[(i + n - 1) % n]);
    const Point out = Unit(vertices[(i + 1) % n] - vertex);
    before[i] = vertex;
    after[i] = vertex;
    if (fillets[i] <= 0.0) {
      continue;
    }
    const double turn = std::atan2(Cross(in, out), Dot(in, out));
    const double reach = fillets[i] * std::tan(std::fabs(turn) / 2.0);
    before[i] = vertex - in * reach;
    after[i] = vertex + out * reach;
    const bool left = turn > 0.0;
    const Point normal = left ? Point(-in.y, in.x) : Point(in.y, -in.x);
    arcs[i].arc = true;
    arcs[i].start = before[i];
    arcs[i].end = after[i];
    arcs[i].centre = before[i] + normal * fillets[i];
    arcs[i].ccw = left;
  }

  std::vector<Piece> loop;
  const auto line = [&loop](const Point& from, const Point& to) {
    if ((to - from).GetLength() > MIN_PIECE_LENGTH) {
      Piece piece;
      piece.start = from;
      piece.end = to;
      loop.push_back(piece);
    }
  };
  const Point middle = (after[0] + before[1]) * 0.5;
  line(middle, before[1]);
  for (std::size_t k = 1; k <= n; ++k) {
    const std::size_t i = k % n;
    if (arcs[i].arc) {
      loop.push_back(arcs[i]);
    }
    line(after[i], i == 0 ? middle : before[(i + 1) % n]);
  }
  return loop;
}

Contour Polygon(std::string name, std::vector<Point> vertices) {
  Contour contour;
  contour.name = std::move(name);
  contour.loop = FilletedPolygon(vertices, std::vector<double>(vertices.size(), 0.0));
  contour.polygon = std::move(vertices);
  return contour;
}

}  // namespace

Contour RoundedRectangle() {
  Contour contour;
  contour.name = "rounded_rect";
  contour.loop = FilletedPolygon({Point(0, 0), Point(120, 0), Point(120, 80), Point(0, 80)},
                                 {10.0, 10.0, 10.0, 10.0});
  return contour;
}

Contour Bracket() {
  // L-shaped plate: the foot runs along x, the upright along y and ends in a half-circle ear
  // (two 15 mm fillets that consume the whole top edge). The inside corner of the L is a
  // concave 8 mm fillet, which the 3 mm cutter fits; (0,0) and (100,30) stay sharp.
  Contour contour;
  contour.name = "bracket";
  contour.loop = FilletedPolygon(
      {Point(0, 0), Point(100, 0), Point(100, 30), Point(30, 30), Point(30, 90), Point(0, 90)},
      {0.0, 10.0, 0.0, 8.0, 15.0, 15.0});
  return contour;
}

namespace {

// The star's vertices; with `flat` > 0 each notch bottom is a flat of that length across the
// radius instead of a point.
std::vector<Point> StarVertices(double flat) {
  const int points = 24;
  std::vector<Point> vertices;
  for (int k = 0; k < 2 * points; ++k) {
    const double angle = crc::PI * k / points;
    const Point ray(std::cos(angle), std::sin(angle));
    if (k % 2 == 0) {
      vertices.push_back(ray * 50.0);
    } else if (flat > 0.0) {
      const Point across(-ray.y, ray.x);
      vertices.push_back(ray * 32.0 - across * (flat / 2.0));
      vertices.push_back(ray * 32.0 + across * (flat / 2.0));
    } else {
      vertices.push_back(ray * 32.0);
    }
  }
  return vertices;
}

}  // namespace

Contour Star() { return Polygon("star", StarVertices(0.0)); }

Contour StarFlats() { return Polygon("star_flats", StarVertices(0.8)); }

Contour CircleChords() {
  const int chords = 720;
  std::vector<Point> vertices;
  for (int k = 0; k < chords; ++k) {
    const double angle = 2.0 * crc::PI * k / chords;
    vertices.emplace_back(40.0 * std::cos(angle), 40.0 * std::sin(angle));
  }
  return Polygon("circle_chords", std::move(vertices));
}

namespace {

// A closed uniform cubic B-spline over 12 control points alternating between radius 55 and 28:
// six lobes with concave bays (curvature radius at least 19 mm in the bays, 3.2 mm at the lobe
// tips, both on the side the cutter does not need to fit into or well above its radius).
Point SplinePoint(double u) {
  const int controls = 12;
  const auto control = [controls](int k) {
    const int index = (k % controls + controls) % controls;
    const double angle = 2.0 * crc::PI * index / controls;
    const double radius = index % 2 == 0 ? 55.0 : 28.0;
    return Point(radius * std::cos(angle), radius * std::sin(angle));
  };
  const int span = static_cast<int>(std::floor(u));
  const double t = u - span;
  const double b0 = (1 - t) * (1 - t) * (1 - t) / 6.0;
  const double b1 = (3 * t * t * t - 6 * t * t + 4) / 6.0;
  const double b2 = (-3 * t * t * t + 3 * t * t + 3 * t + 1) / 6.0;
  const double b3 = t * t * t / 6.0;
  return control(span - 1) * b0 + control(span) * b1 + control(span + 1) * b2 +
         control(span + 2) * b3;
}

constexpr double SPLINE_SPANS = 12.0;

// Distance from p to the infinite line through a and b (a != b).
double LineDistance(const Point& p, const Point& a, const Point& b) {
  return std::fabs(Cross(b - a, p - a)) / (b - a).GetLength();
}

}  // namespace

Contour SplineChords() {
  const int chords = 2000;
  std::vector<Point> vertices;
  for (int j = 0; j < chords; ++j) {
    vertices.push_back(SplinePoint(SPLINE_SPANS * j / chords));
  }
  return Polygon("spline_chords", std::move(vertices));
}

Contour SplineAdaptive() {
  // Chords as long as the tolerance allows, up to a cap, chosen greedily on a dense sampling:
  // short where the curve bends (about 0.16 mm at the lobe tips), long where it is nearly straight.
  const int samples = 48000;
  const double tolerance = 0.001;
  const double longest = 1.0;
  std::vector<Point> dense;
  for (int j = 0; j < samples; ++j) {
    dense.push_back(SplinePoint(SPLINE_SPANS * j / samples));
  }
  std::vector<Point> vertices;
  int from = 0;
  while (from < samples) {
    vertices.push_back(dense[from]);
    int to = from + 1;
    while (to < samples) {
      const int candidate = to + 1;
      const Point& end = dense[candidate % samples];
      if ((end - dense[from]).GetLength() > longest) {
        break;
      }
      bool within = true;
      for (int k = from + 1; k < candidate && within; ++k) {
        within = LineDistance(dense[k], dense[from], end) <= tolerance;
      }
      if (!within) {
        break;
      }
      to = candidate;
    }
    from = to;
  }
  return Polygon("spline_adaptive", std::move(vertices));
}

std::vector<Contour> AllContours() {
  return {RoundedRectangle(), Bracket(),      Star(),          StarFlats(),
          CircleChords(),     SplineChords(), SplineAdaptive()};
}

std::vector<std::unique_ptr<crc::CCrcNode>> MakeProgram(const Contour& contour, bool compensated) {
  std::vector<std::unique_ptr<crc::CCrcNode>> program;
  const auto add = [&](std::unique_ptr<crc::CCrcNode> node) {
    node->SetHasBeenCrc(compensated);
    program.push_back(std::move(node));
  };
  const auto line = [&](const Point& from, const Point& to, crc::crc_status_t phase) {
    add(std::make_unique<crc::CCrcLine>(from, to, phase, crc::CRC_DIR_RIGHT, false));
  };

  // The outline starts in the middle of a straight edge with direction `along`; the tool runs
  // outside, on the right. The start-up line comes in along the edge's own line and the cancel
  // line leaves along it, as a CAM lead-in and lead-out would: both joints are tangent, so no
  // strategy trims the short outline pieces next to them (an inside corner there would trim a
  // 0.2 mm chord by more than its length and the engine would rightly refuse it).
  const Point begin = contour.loop.front().start;
  const Point along = Unit(contour.loop.front().end - begin);
  const double lead = 2.0 * CUTTER_RADIUS;

  line(begin - along * lead, begin, crc::CRC_STATUS_ESTABLISH);
  for (const Piece& piece : contour.loop) {
    if (piece.arc) {
      const double radius = (piece.start - piece.centre).GetLength();
      add(std::make_unique<crc::CCrcArc>(piece.centre, piece.start, piece.end, radius, piece.ccw,
                                         crc::CRC_STATUS_DOING, crc::CRC_DIR_RIGHT));
    } else {
      line(piece.start, piece.end, crc::CRC_STATUS_DOING);
    }
  }
  line(begin, begin + along * lead, crc::CRC_STATUS_RETRACT);
  return program;
}

std::vector<std::unique_ptr<crc::CCrcNode>> Clone(
    const std::vector<std::unique_ptr<crc::CCrcNode>>& program) {
  std::vector<std::unique_ptr<crc::CCrcNode>> copy;
  copy.reserve(program.size());
  for (const auto& node : program) {
    copy.emplace_back(node->Clone());
  }
  return copy;
}

double Area(const std::vector<Point>& polygon) {
  double twice = 0.0;
  for (std::size_t i = 0; i < polygon.size(); ++i) {
    twice += Cross(polygon[i], polygon[(i + 1) % polygon.size()]);
  }
  return twice / 2.0;
}

}  // namespace cutcomp::bench
