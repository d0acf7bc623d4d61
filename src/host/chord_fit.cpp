// SPDX-License-Identifier: MIT
// Chord fitting: collecting runs of short chords, and covering each run greedily with the longest
// lines and arcs that stay within the tolerance of it.
#include <crc/host/chord_fit.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace cutcomp {
namespace {

// The longest arc a piece may be, in radians: 170 degrees. The checks rely on an arc's sector
// being convex (under half a turn); a longer curve becomes several arcs, and a whole circle three
// arcs of one circle (see ChordFitter::Fit).
constexpr double MAX_SWEEP = 2.9670597283903604;
// The flattest arc a piece may be, in radians. The engine tells arcs apart by their angles with
// an absolute tolerance of 1e-6; an arc turning less than a hundred times that is a line to it
// (and the line is taken wherever it fits).
constexpr double MIN_SWEEP = 1e-4;
constexpr double PI = 3.14159265358979323846;

double Dot(const Point& a, const Point& b) { return a.x * b.x + a.y * b.y; }
double Cross(const Point& a, const Point& b) { return a.x * b.y - a.y * b.x; }

bool IsFinite(const Point& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

double PointToSegment(const Point& p, const Point& a, const Point& b) {
  const Point v = b - a;
  const double len2 = Dot(v, v);
  const double t = len2 > 0.0 ? std::clamp(Dot(p - a, v) / len2, 0.0, 1.0) : 0.0;
  return (p - (a + v * t)).GetLength();
}

Curve Line(const Point& from, const Point& to) {
  Curve c;
  c.from = from;
  c.to = to;
  return c;
}

// A line from the first to the last point covers them within `tolerance` when every point lies
// within `tolerance` of it. The chords between them then stay in that convex band round the line,
// and, running from one end to the other, cross every normal of the line inside it, so the line
// lies within `tolerance` of the chords as well.
bool LineFits(const Point* p, std::size_t n, double tolerance) {
  for (std::size_t i = 1; i + 1 < n; ++i) {
    if (PointToSegment(p[i], p[0], p[n - 1]) > tolerance) {
      return false;
    }
  }
  return true;
}

// The arc from the first to the last of the points p[0..n-1] about `centre` with `radius`, in the
// given sense, if it keeps the points and the chords between them within `tolerance` and turns by
// MIN_SWEEP to MAX_SWEEP. Both ends must lie on the circle (up to rounding).
//
// Every point must lie in the arc's sector (a sector of less than half a turn is convex, so the
// chords stay in it too) and within `tolerance` of the circle, and no chord may come nearer the
// centre than radius - tolerance. The chords then run through the sector from one bounding ray to
// the other inside the ring of width 2 tolerance round the arc: every point of them is within
// `tolerance` of the arc, and every ray of the sector meets them within `tolerance` of the arc's
// point on it.
bool ArcWithin(const Point* p, std::size_t n, double tolerance, const Point& centre, double radius,
               bool ccw, Curve& arc) {
  const Point ra = p[0] - centre;
  const Point rb = p[n - 1] - centre;
  const double sweep = std::atan2(ccw ? Cross(ra, rb) : -Cross(ra, rb), Dot(ra, rb));
  if (!(sweep >= MIN_SWEEP && sweep <= MAX_SWEEP)) {
    return false;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const Point r = p[i] - centre;
    const double side1 = Cross(ra, r);
    const double side2 = Cross(r, rb);
    // exact: a point behind either end ray lies outside the arc's sector, however slightly
    if (ccw ? (side1 < 0.0 || side2 < 0.0) : (side1 > 0.0 || side2 > 0.0)) {
      return false;
    }
    if (std::fabs(r.GetLength() - radius) > tolerance) {
      return false;
    }
    if (i + 1 < n && PointToSegment(centre, p[i], p[i + 1]) < radius - tolerance) {
      return false;
    }
  }
  arc = Line(p[0], p[n - 1]);
  arc.arc = true;
  arc.centre = centre;
  arc.radius = radius;
  arc.ccw = ccw;
  return true;
}

// The line or arc from the first to the last point (n >= 3) that keeps the points and chords
// within `tolerance`, if there is one.
//
// In a frame with the chord's midpoint at the origin and the chord along x, the circles through
// both ends are s (x^2 + y^2 - h^2) - y = 0, h the half chord, s = 0 the line itself and
// 1 / (2 s) the centre's ordinate. For a point at distance d from such a circle the left side is
// d (g + s d) with g = sqrt(1 + 4 s^2 h^2) >= 1, so |s q - y| <= g tolerance (q = x^2 + y^2 - h^2)
// bounds each point's distance to first order, and each bound is an interval of s. g grows with
// |s|: the common interval (points and chord midpoints) is found with g at its largest, for the
// longest arc allowed, and narrowed with g at the interval's least |s| until it settles.
//
// Within it the candidate is the line where it is in the interval, else the interval's middle;
// but where the interval is wider than its middle is far from the line (a short span, whose
// chords leave the curvature open), the arc a quarter of the way in from its flatter end: an arc
// no more curved than the chords need, as an arc tighter than the cutter is refused. The middle
// is the fallback. LineFits and ArcWithin decide.
bool PieceFits(const Point* p, std::size_t n, double tolerance, Curve& piece) {
  const Point a = p[0];
  const Point b = p[n - 1];
  const double length = (b - a).GetLength();
  if (!(length > 0.0)) {
    return false;  // a run that closes on itself is never one piece
  }
  const Point u = (b - a) * (1.0 / length);
  const Point v(-u.y, u.x);
  const Point mid = (a + b) * 0.5;
  const double h = 0.5 * length;
  double lo = 0.0;
  double hi = 0.0;
  const auto interval = [&](double slack) {
    lo = -std::numeric_limits<double>::infinity();
    hi = std::numeric_limits<double>::infinity();
    const auto bound = [&](const Point& point) {
      const double x = Dot(point - mid, u);
      const double y = Dot(point - mid, v);
      const double q = x * x + y * y - h * h;
      if (q == 0.0) {  // exact: only a point on the circle over the chord gives no interval
        return std::fabs(y) <= slack;
      }
      lo = std::max(lo, std::min((y - slack) / q, (y + slack) / q));
      hi = std::min(hi, std::max((y - slack) / q, (y + slack) / q));
      return lo <= hi;
    };
    for (std::size_t i = 1; i < n; ++i) {
      if (!bound((p[i - 1] + p[i]) * 0.5) || (i + 1 < n && !bound(p[i]))) {
        return false;
      }
    }
    return true;
  };
  // g for the longest arc allowed, then for the least |s| of the interval found.
  double g = 1.0 / std::cos(0.5 * MAX_SWEEP);
  for (int pass = 0; pass < 4; ++pass) {
    if (!interval(g * tolerance)) {
      return false;
    }
    const double least = lo <= 0.0 && hi >= 0.0 ? 0.0 : std::min(std::fabs(lo), std::fabs(hi));
    const double narrower = std::sqrt(1.0 + 4.0 * least * least * h * h);
    if (narrower > 0.99 * g) {
      break;
    }
    g = narrower;
  }
  const double middle = 0.5 * (lo + hi);
  double wanted = middle;
  if (lo <= 0.0 && hi >= 0.0) {
    wanted = 0.0;
  } else if (hi - lo > std::fabs(middle)) {  // the chords leave the curvature open
    wanted = lo > 0.0 ? lo + 0.25 * (hi - lo) : hi - 0.25 * (hi - lo);
  }
  for (const double s : {wanted, middle, 0.0}) {
    if (!std::isfinite(s) || s < lo || s > hi) {
      continue;
    }
    if (2.0 * std::atan(2.0 * std::fabs(s) * h) < MIN_SWEEP) {
      if (LineFits(p, n, tolerance)) {
        piece = Line(a, b);
        return true;
      }
      continue;
    }
    const double k = 0.5 / s;  // the centre's signed distance from the chord
    if (ArcWithin(p, n, tolerance, mid + v * k, std::hypot(h, k), k > 0.0, piece)) {
      return true;
    }
  }
  return false;
}

// The centre of the circle through three points; false when they are collinear.
bool Circumcentre(const Point& a, const Point& b, const Point& c, Point& centre) {
  const Point ab = b - a;
  const Point ac = c - a;
  const double d = 2.0 * Cross(ab, ac);
  if (d == 0.0) {  // exact: only collinear points have no circle
    return false;
  }
  const double ab2 = Dot(ab, ab);
  const double ac2 = Dot(ac, ac);
  centre = a + Point(ac.y * ab2 - ab.y * ac2, ab.x * ac2 - ac.x * ab2) * (1.0 / d);
  return std::isfinite(centre.x) && std::isfinite(centre.y);
}

}  // namespace

std::string FitOptionsError(const FitOptions& options) {
  if (!(options.tolerance > 0.0) || !std::isfinite(options.tolerance)) {
    return "the fitting tolerance must be a positive number";
  }
  if (!(options.maxChord > 0.0) || !std::isfinite(options.maxChord)) {
    return "the longest chord to fit must be a positive number";
  }
  if (!(options.cornerAngle > 0.0) || !(options.cornerAngle < PI)) {
    return "the corner angle must lie between 0 and 180 degrees";
  }
  if (options.maxRun < 2) {
    return "a run must be allowed at least 2 chords";
  }
  return {};
}

ChordFitter::ChordFitter(const FitOptions& options)
    : m_Options(options), m_Enabled(FitOptionsError(options).empty()) {}

void ChordFitter::Add(const Curve& move, std::int64_t id, std::vector<FitPiece>& out) {
  const Point step = move.to - move.from;
  const double length = step.GetLength();
  bool joins = m_Enabled && !move.arc && IsFinite(move.from) && IsFinite(move.to) &&
               length < m_Options.maxChord;
  if (joins && !m_Points.empty()) {
    // exact: a chord that does not start where the run stands is a jump, never part of it
    joins = move.from == m_Points.back();
    if (joins && length > 0.0 && m_Direction != Point(0.0, 0.0)) {
      const Point direction = step * (1.0 / length);
      const double turn = std::atan2(Cross(m_Direction, direction), Dot(m_Direction, direction));
      joins = std::fabs(turn) <= m_Options.cornerAngle;
    }
  }
  if (!joins) {
    Flush(out);
    if (!m_Enabled || move.arc || !(length < m_Options.maxChord) || !IsFinite(move.from) ||
        !IsFinite(move.to)) {
      out.push_back({move, id, id, 1});
      return;
    }
  }
  if (m_Points.empty()) {
    m_Points.push_back(move.from);
    m_Direction = Point(0.0, 0.0);
  }
  m_Points.push_back(move.to);
  m_Ids.push_back(id);
  if (length > 0.0) {
    m_Direction = step * (1.0 / length);
  }
  if (m_Ids.size() >= std::max(m_FitAt, m_Options.maxRun)) {
    Fit(false, out);
    // What was held back waits for more chords, up to twice maxRun.
    m_FitAt = std::min(m_Ids.size() + m_Options.maxRun / 4, 2 * m_Options.maxRun);
  }
}

void ChordFitter::Flush(std::vector<FitPiece>& out) {
  if (m_Ids.empty() && m_Points.empty() && m_FitAt == 0) {
    return;  // nothing held: a run of moves too long to fit flushes at every block
  }
  Fit(true, out);
}

void ChordFitter::Fit(bool all, std::vector<FitPiece>& out) {
  const std::size_t last = m_Ids.size();  // the run holds points 0..last, chords 1..last
  std::size_t start = 0;
  const double tolerance = m_Options.tolerance;
  // Arcs handed on in this call that share one circle exactly: how many, and where the first
  // begins. The engine's interference check intersects the offsets of neighbouring arcs; two
  // nearly equal circles cross at a tiny angle, so the tiny gap between their offsets at the
  // joint turns into a crossing far from it, a false alarm. Arcs of one circle, exactly the same
  // centre and radius, are compared span against span instead.
  std::size_t chainPieces = 0;
  std::size_t chainStart = 0;
  while (start < last) {
    // The longest piece from `start`: double the span while it fits, then halve the gap between
    // the longest fit and the shortest miss. Whether a span fits is not strictly monotonic in its
    // length, so this finds a long piece, not always the longest; every piece it keeps passed
    // the exact check.
    Curve best = Line(m_Points[start], m_Points[start + 1]);
    std::size_t good = start + 1;
    std::size_t bad = last + 1;
    const auto fits = [&](std::size_t end, Curve& piece) {
      return PieceFits(&m_Points[start], end - start + 1, tolerance, piece);
    };
    for (std::size_t span = 2; start + span <= last; span *= 2) {
      Curve piece;
      if (!fits(start + span, piece)) {
        bad = start + span;
        break;
      }
      good = start + span;
      best = piece;
    }
    while (bad - good > 1) {
      const std::size_t mid = good + (bad - good) / 2;
      Curve piece;
      if (fits(mid, piece)) {
        good = mid;
        best = piece;
      } else {
        bad = mid;
      }
    }
    if (!all && good == last && start > 0) {
      // The run goes on: keep the last piece open, it may grow; and a lone arc before it, which
      // may yet share its circle (below), as long as no more than twice `maxRun` chords are held.
      if (best.arc && chainPieces == 1 && last - chainStart < 2 * m_Options.maxRun) {
        out.pop_back();
        start = chainStart;
      }
      break;
    }
    const std::size_t moves = good - start;
    if (moves == 1) {
      best = Line(m_Points[start], m_Points[good]);  // the chord itself, exactly as it came
    }
    // A second arc after an arc: the circle through both arcs' end points, if it keeps both within
    // the tolerance, becomes the circle of both. A third arc may join them only where it closes
    // the circle, ending where the first began: that point is on the circle too.
    const bool follows = best.arc && chainPieces > 0 && out.back().curve.ccw == best.ccw;
    Curve first;
    Curve second;
    Point centre;
    if (follows && chainPieces == 1 &&
        Circumcentre(m_Points[chainStart], m_Points[start], m_Points[good], centre) &&
        ArcWithin(&m_Points[chainStart], start - chainStart + 1, tolerance, centre,
                  (m_Points[chainStart] - centre).GetLength(), best.ccw, first) &&
        ArcWithin(&m_Points[start], moves + 1, tolerance, centre, first.radius, best.ccw, second)) {
      out.back().curve = first;
      best = second;
      chainPieces = 2;
    } else if (follows && chainPieces == 2 && m_Points[good] == m_Points[chainStart] &&  // exact
               ArcWithin(&m_Points[start], moves + 1, tolerance, out.back().curve.centre,
                         out.back().curve.radius, best.ccw, second)) {
      best = second;
      chainPieces = 3;
    } else {
      chainPieces = best.arc ? 1 : 0;
      chainStart = start;
    }
    out.push_back({best, m_Ids[start], m_Ids[good - 1], moves});
    start = good;
  }
  // Keep what is not handed on: from `start`, whose point begins the open piece.
  m_Points.erase(m_Points.begin(), m_Points.begin() + static_cast<std::ptrdiff_t>(start));
  m_Ids.erase(m_Ids.begin(), m_Ids.begin() + static_cast<std::ptrdiff_t>(start));
  if (all) {
    m_Points.clear();  // the run is over; the next chord starts a new one
    m_FitAt = 0;
  }
}

}  // namespace cutcomp
