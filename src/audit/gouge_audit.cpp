// SPDX-License-Identifier: MIT
// The audit's front: checks what the host hands over, keeps the contour, runs each piece
// against the walls within its reach and decides which contacts are gouges. The distances come
// from clearance.cpp, the walls within reach from contour_index.cpp.
#include <crc/audit/gouge_audit.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "audit/clearance.h"
#include "audit/contour_index.h"
#include "audit/walls.h"
#include "geometry/tolerances.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace crc {
namespace {

using audit::Approach;
using audit::Point;
using audit::Track;
using audit::wall_end_t;

// Coordinates and radii beyond this size are refused: squares of lengths must stay finite.
constexpr double MAX_COORDINATE = 1e100;
// Segment ordinals and the offsets of their stored points are 32-bit.
constexpr std::size_t MAX_SEGMENTS = std::size_t{1} << 31;

bool IsUsable(double v) { return std::fabs(v) <= MAX_COORDINATE; }  // false for NaN, inf
bool IsUsable(const Point& p) { return IsUsable(p.x) && IsUsable(p.y); }
// Both points at once where the processor can: four magnitudes compared in two steps (a NaN
// compares false, so it is refused with the infinities).
bool IsUsable(const Point& a, const Point& b) {
#if defined(__SSE2__)
  const __m128d magnitude = _mm_set1_pd(-0.0);
  const __m128d bound = _mm_set1_pd(MAX_COORDINATE);
  const __m128d pa = _mm_andnot_pd(magnitude, _mm_set_pd(a.y, a.x));
  const __m128d pb = _mm_andnot_pd(magnitude, _mm_set_pd(b.y, b.x));
  return _mm_movemask_pd(_mm_and_pd(_mm_cmple_pd(pa, bound), _mm_cmple_pd(pb, bound))) == 3;
#else
  return IsUsable(a) && IsUsable(b);
#endif
}
// Room for one more element, growing geometrically: the push that follows cannot throw.
template <typename T>
void Room(std::vector<T>& v) {
  if (v.size() == v.capacity()) {
    v.reserve(std::max<std::size_t>(16, 2 * v.capacity()));
  }
}

bool IsUsable(const Curve& curve) {
  return IsUsable(curve.from, curve.to) && (!curve.arc || IsUsable(curve.centre));
}

// The direction of travel of a wall at its start or end (unit), or zero when it has none.
Point TangentAt(const Track& wall, wall_end_t end) {
  Point t;
  if (!wall.arc) {
    t = wall.to - wall.from;
  } else {
    const Point radial = (end == audit::WALL_START ? wall.from : wall.to) - wall.centre;
    t = wall.ccw ? Point(-radial.y, radial.x) : Point(radial.y, -radial.x);
  }
  const double length = t.GetLength();
  return length > 0.0 ? t * (1.0 / length) : Point(0.0, 0.0);
}

// Whether a piece that leads onto `wall` (end WALL_START) or off it (WALL_END) may come within
// the radius of that end of the wall. It may when it is straight, both its ends keep the radius
// from that point, and where it comes closer than the radius it stays behind the point (before
// the wall's start, or past its end, along the wall's tangent there) on the side of the tangent
// where the piece's attached end lies: the tool then cuts only the notch a lead-in at an angle
// makes, never into the wall from its material side or along it.
bool MayTouchAt(const Track& piece, const Track& wall, wall_end_t end, double radius,
                double tolerance) {
  if (piece.arc || wall.full) {
    return false;
  }
  const Point p = end == audit::WALL_START ? wall.from : wall.to;
  const Point attached = end == audit::WALL_START ? piece.to : piece.from;
  const Point tangent = TangentAt(wall, end);
  if (tangent == Point(0.0, 0.0)) {
    return false;
  }
  const Point behind = end == audit::WALL_START ? tangent * -1.0 : tangent;
  Point side(-tangent.y, tangent.x);
  const double attachedSide = audit::Dot(attached - p, side);
  if (!(std::fabs(attachedSide) > tolerance)) {
    return false;  // the attached end lies on the tangent: no side to keep to
  }
  side = attachedSide > 0.0 ? side : side * -1.0;
  const double reach = radius - tolerance;
  if ((piece.from - p).GetLength() < reach || (piece.to - p).GetLength() < reach) {
    return false;
  }
  // The stretch of the piece within `reach` of p, between the parameters t0 and t1. Both ends of
  // the piece lie outside, so it is a chord; the quarter-plane is convex, so the chord lies in
  // it when its two ends do.
  const Point d = piece.to - piece.from;
  const Point f = piece.from - p;
  const double length2 = audit::Dot(d, d);
  if (!(length2 > 0.0)) {
    return true;
  }
  const double u = -audit::Dot(f, d) / length2;
  const Point foot = f + d * u;
  const double h2 = audit::Dot(foot, foot);
  if (!(h2 < reach * reach)) {
    return true;
  }
  const double half = std::sqrt((reach * reach - h2) / length2);
  for (const double t : {std::max(0.0, u - half), std::min(1.0, u + half)}) {
    const Point x = f + d * t;
    if (audit::Dot(x, behind) < -tolerance || audit::Dot(x, side) < -tolerance) {
      return false;
    }
  }
  return true;
}

// The box of a straight track: std::min and std::max of its ends' coordinates, both axes at
// once where the processor can (min(b, a) there picks as std::min(a, b) does).
audit::Box LineBounds(const Track& track) {
#if defined(__SSE2__)
  const __m128d from = _mm_set_pd(track.from.y, track.from.x);
  const __m128d to = _mm_set_pd(track.to.y, track.to.x);
  alignas(16) double low[2];
  alignas(16) double high[2];
  _mm_store_pd(low, _mm_min_pd(to, from));
  _mm_store_pd(high, _mm_max_pd(to, from));
  return {low[0], low[1], high[0], high[1]};
#else
  return {std::min(track.from.x, track.to.x), std::min(track.from.y, track.to.y),
          std::max(track.from.x, track.to.x), std::max(track.from.y, track.to.y)};
#endif
}

Point Centre(const audit::Box& b) { return {0.5 * (b.minX + b.maxX), 0.5 * (b.minY + b.maxY)}; }
double HalfDiagonal(const audit::Box& b) {
  return 0.5 * Point(b.maxX - b.minX, b.maxY - b.minY).GetLength();
}
double SizeOf(const Point& p) { return std::max(std::fabs(p.x), std::fabs(p.y)); }
double SizeOf(const Track& track) {
#if defined(__SSE2__)
  // the largest of four magnitudes, two at a time (the order does not change a maximum)
  const __m128d magnitude = _mm_set1_pd(-0.0);
  const __m128d both = _mm_max_pd(_mm_andnot_pd(magnitude, _mm_set_pd(track.from.y, track.from.x)),
                                  _mm_andnot_pd(magnitude, _mm_set_pd(track.to.y, track.to.x)));
  const double ends = _mm_cvtsd_f64(_mm_max_sd(both, _mm_unpackhi_pd(both, both)));
#else
  const double ends = std::max(SizeOf(track.from), SizeOf(track.to));
#endif
  return track.arc ? std::max(ends, SizeOf(track.centre) + track.radius) : ends;
}

// The leaves of the index around the last pieces. Pieces come along the contour, so the next
// one usually lies in the same neighbourhood: the leaves of a region a little larger than one
// piece's reach and the run of segments it belongs to are gathered once, asking the index,
// and serve every piece whose reach stays inside the region. The leaves whose boxes meet a box
// inside a region are exactly those the index would return for it, and come in the same order.
//
// A window keeps the leaves' boxes four to a block, each coordinate of the four side by side,
// so that a piece's box is held against four leaves in one step where the processor can. The
// last block is padded with boxes that are not numbers, which meet nothing.
struct Window {
  static constexpr std::size_t MAX_LEAVES = 4096;

  struct alignas(16) Block {
    std::array<float, 4> minX;
    std::array<float, 4> minY;
    std::array<float, 4> maxX;
    std::array<float, 4> maxY;
    std::array<std::uint32_t, 4> leaf;
  };

  audit::Box area{};
  bool valid = false;
  std::vector<Block> blocks;
  std::size_t count = 0;

  bool Holds(const audit::Box& box) const {
#if defined(__SSE2__)
    // both corners in two comparisons
    const __m128d low =
        _mm_cmple_pd(_mm_set_pd(area.minY, area.minX), _mm_set_pd(box.minY, box.minX));
    const __m128d high =
        _mm_cmple_pd(_mm_set_pd(box.maxY, box.maxX), _mm_set_pd(area.maxY, area.maxX));
    return valid && _mm_movemask_pd(_mm_and_pd(low, high)) == 3;
#else
    return valid && area.minX <= box.minX && area.minY <= box.minY && box.maxX <= area.maxX &&
           box.maxY <= area.maxY;
#endif
  }

  void Clear() {
    blocks.clear();
    count = 0;
    valid = false;
  }
  void Push(const audit::FloatBox& box, std::uint32_t leaf) {
    const std::size_t j = count % 4;
    if (j == 0) {
      constexpr float NONE = NAN;
      blocks.push_back({{NONE, NONE, NONE, NONE},
                        {NONE, NONE, NONE, NONE},
                        {NONE, NONE, NONE, NONE},
                        {NONE, NONE, NONE, NONE},
                        {0, 0, 0, 0}});
    }
    Block& b = blocks.back();
    b.minX[j] = box.minX;
    b.minY[j] = box.minY;
    b.maxX[j] = box.maxX;
    b.maxY[j] = box.maxY;
    b.leaf[j] = leaf;
    ++count;
  }

  // Calls visit(leaf) for every leaf of the window whose box meets `q`.
  template <typename Visit>
  void ForEachMeeting(const audit::FloatBox& q, Visit&& visit) const {
#if defined(__SSE2__)
    const __m128 qMinX = _mm_set1_ps(q.minX);
    const __m128 qMinY = _mm_set1_ps(q.minY);
    const __m128 qMaxX = _mm_set1_ps(q.maxX);
    const __m128 qMaxY = _mm_set1_ps(q.maxY);
    for (const Block& b : blocks) {
      const __m128 x = _mm_and_ps(_mm_cmple_ps(_mm_load_ps(b.minX.data()), qMaxX),
                                  _mm_cmple_ps(qMinX, _mm_load_ps(b.maxX.data())));
      const __m128 y = _mm_and_ps(_mm_cmple_ps(_mm_load_ps(b.minY.data()), qMaxY),
                                  _mm_cmple_ps(qMinY, _mm_load_ps(b.maxY.data())));
      for (auto bits = static_cast<unsigned>(_mm_movemask_ps(_mm_and_ps(x, y))); bits != 0;
           bits &= bits - 1) {
        visit(b.leaf[static_cast<std::size_t>(__builtin_ctz(bits))]);
      }
    }
#else
    for (const Block& b : blocks) {
      for (std::size_t j = 0; j < 4; ++j) {
        if (b.minX[j] <= q.maxX && q.minX <= b.maxX[j] && b.minY[j] <= q.maxY &&
            q.minY <= b.maxY[j]) {
          visit(b.leaf[j]);
        }
      }
    }
#endif
  }

  // Makes the window hold every leaf whose box meets `box` grown by `grow` on every side. False
  // when that would take more than MAX_LEAVES leaves (a piece that reaches across much of the
  // part): the caller then asks the index directly, and the window stays small.
  bool Cover(const audit::ContourIndex& contour, const audit::Box& box, double grow) {
    area = {box.minX - grow, box.minY - grow, box.maxX + grow, box.maxY + grow};
    Clear();
    bool fits = true;
    contour.Query(area, [&](std::size_t leaf) {
      fits = fits && count < MAX_LEAVES;
      if (fits) {
        Push(contour.LeafBox(leaf), static_cast<std::uint32_t>(leaf));
      }
    });
    if (!fits) {
      Clear();
      return false;
    }
    valid = true;
    return true;
  }
};

// Everything an audit keeps. Internal (not exported with the class that holds it).
struct State {
  explicit State(double tol)
      : tolerance(tol), toleranceValid(tol >= 0.0 && tol <= std::numeric_limits<double>::max()) {}

  double tolerance;
  bool toleranceValid;  // finite and not negative
  audit::ContourIndex contour;
  std::size_t walls = 0;
  // By segment: phase, side and locate flag (audit::Role); the runs; the lowest points along the
  // plane's normal where they change (not a number: unknown); the top of the work.
  std::vector<std::uint8_t> roles;
  std::vector<audit::RunSpan> runs;
  std::vector<std::pair<std::uint32_t, double>> lows;
  double workTop = std::numeric_limits<double>::quiet_NaN();
  // The directions in which the tool feeds into the stock (unit vectors; see AddStockFeed).
  std::vector<Point> stockFeeds;
  // Which stretches of the walls bound the part, made when auditing begins.
  std::unique_ptr<audit::WallRules> rules;
  AuditSummary summary;
  std::size_t hint = 0;  // where the last piece's segment was found
  Window window;         // around the piece
  // The tracks of the arcs measured last, by segment modulo their number: consecutive pieces
  // are held against the same few walls, and an arc's track takes two square roots.
  struct Kept {
    std::size_t k = SIZE_MAX;
    Track track;
  };
  std::array<Kept, 8> arcs;
  std::vector<Gouge> pending;  // the gouges of the piece being audited
  std::string error;

  const Track& ArcTrack(std::size_t k) {
    Kept& kept = arcs[k % arcs.size()];
    if (kept.k != k) {
      kept.track = contour.TrackOf(k);
      kept.k = k;
    }
    return kept.track;
  }

  // The region a window is gathered about: the piece's box and, when the piece belongs to a
  // segment of the contour, the end points of the run of twelve segments around it (two
  // leaves), unless they spread much wider than the piece's reach. The next pieces along the
  // contour then stay in the window until the contour moves on to the next run.
  audit::Box Anchor(const audit::Box& box, double size, std::size_t source, bool found) const {
    if (!found) {
      return box;
    }
    constexpr std::size_t RUN = 2 * audit::ContourIndex::LEAF_SIZE;
    const std::size_t first = source - source % RUN;
    const std::size_t last = std::min(first + RUN, contour.Size());
    const Point* end = contour.Ends();
    audit::Box hull = box;
    for (std::size_t k = first > 0 ? first - 1 : 0; k < last; ++k) {
      hull.minX = std::min(hull.minX, end[k].x);
      hull.minY = std::min(hull.minY, end[k].y);
      hull.maxX = std::max(hull.maxX, end[k].x);
      hull.maxY = std::max(hull.maxY, end[k].y);
    }
    const double spread = std::max(hull.maxX - hull.minX, hull.maxY - hull.minY);
    constexpr double ANCHOR_SPREAD = 12.0;  // in units of the piece's reach
    return spread <= ANCHOR_SPREAD * size ? hull : box;
  }

  // Takes the moves above the work out of the walls, builds the index and the wall rules.
  void Build() {
    if (!std::isnan(workTop)) {
      for (std::size_t i = 0; i < lows.size(); ++i) {
        const double low = lows[i].second;
        if (!(low >= workTop)) {
          continue;
        }
        const std::size_t end = i + 1 < lows.size() ? lows[i + 1].first : contour.Size();
        for (std::size_t k = lows[i].first; k < end; ++k) {
          if (contour.IsWall(k)) {
            contour.ClearWall(k);
            --walls;
          }
        }
      }
    }
    for (const Point& feed : stockFeeds) {
      ClearInFront(feed);
    }
    contour.Build();
    rules = std::make_unique<audit::WallRules>(contour, roles, runs, tolerance);
  }

  // Takes the rapids in front of the stock along `feed` out of the walls. The front is where
  // the feeds into the stock start farthest back: a tool feeding along `feed` from a point
  // starts in the air or at the stock's surface, never inside it (it would have got there by a
  // rapid or by a cut from the other side, which the program would show as a feed). A rapid
  // wholly at or in front of that point cuts nothing and has no material beside it: the
  // positioning move across the face of a lathe's part to the diameter where the profile
  // begins (fixture: the lathe gallery's rapid_across_the_face). A feed there stays a wall: a
  // facing cut followed by a chamfer feeds from the face itself.
  void ClearInFront(const Point& feed) {
    const Point back = feed * -1.0;
    double front = -std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < contour.Size(); ++k) {
      if ((roles[k] & (audit::Role::RAPID | audit::Role::LOCATE)) != 0 || contour.IsArc(k)) {
        continue;
      }
      const Track line = contour.TrackOf(k);
      if (audit::Dot(line.to - line.from, feed) > tolerance) {
        front = std::max(front, audit::Dot(line.from, back));
      }
    }
    if (front == -std::numeric_limits<double>::infinity()) {  // exact: no feed, no front
      return;
    }
    for (std::size_t k = 0; k < contour.Size(); ++k) {
      if ((roles[k] & audit::Role::RAPID) == 0 || !contour.IsWall(k)) {
        continue;
      }
      const Track line = contour.TrackOf(k);  // a rapid is a line
      if (std::min(audit::Dot(line.from, back), audit::Dot(line.to, back)) >= front - tolerance) {
        contour.ClearWall(k);
        --walls;
      }
    }
  }

  // What kind of move a gouge of wall k by a piece of segment `source` (SIZE_MAX: none) is.
  gouge_kind_t KindOf(std::size_t source, std::size_t k) {
    if (source == SIZE_MAX) {
      return GOUGE_CROSSING;
    }
    const std::size_t runOfSource = rules->RunOf(source);
    const std::size_t runOfWall = rules->RunOf(k);
    if (runOfSource != runOfWall) {
      return runOfSource > runOfWall ? GOUGE_LATER_CONTOUR : GOUGE_EARLIER_CONTOUR;
    }
    const crc_status_t phase = audit::Role::Phase(roles[source]);
    if (phase == CRC_STATUS_ESTABLISH) {
      return GOUGE_ENTRY;
    }
    if (phase == CRC_STATUS_RETRACT) {
      return GOUGE_EXIT;
    }
    if ((roles[source] & audit::Role::LOCATE) == 0 && contour.IsWall(source)) {
      const audit::lead_t lead = rules->LeadOf(source);
      if (lead != audit::LEAD_NONE) {
        return lead == audit::LEAD_IN ? GOUGE_ENTRY : GOUGE_EXIT;
      }
    }
    return (k + 1 >= source && k <= source + 1) ? GOUGE_CORNER : GOUGE_CROSSING;
  }

  bool Fail(const char* what, std::int64_t id, const char* message) {
    error = std::string(what) + " " + std::to_string(id) + ": " + message;
    return false;
  }
  bool Audit(const ToolPiece& piece, const Track& track, PieceClearance* clearance,
             std::vector<Gouge>* found);
};

// One piece being audited: what it is held against each wall with, and what it has found.
struct Scan {
  Scan(State& s, const ToolPiece& p, const Track& track, double limit)
      : state(s), piece(p), probe(audit::MakeProbe(track, limit)), band(probe) {}

  State& state;
  const ToolPiece& piece;
  audit::Probe probe;
  audit::Band band;               // about a straight piece (see Lines)
  std::size_t onto = SIZE_MAX;    // the wall the piece leads onto, if any (see MayTouchAt)
  std::size_t off = SIZE_MAX;     // the wall it leads off
  std::size_t source = SIZE_MAX;  // the piece's programmed segment, if found
  bool leadChecked = false;       // whether a source that is a candidate wall was asked if a lead
  double reach = 0.0;             // radius + tolerance: walls beyond it have no clearance to report
  double gouging = 0.0;           // radius - tolerance: walls nearer are gouged
  PieceClearance nearest;         // its `gouges` stays 0: the gouges go to State::pending
  // The piece lies within `spread` - limit of `centre`: a wall's disc farther than `spread`
  // plus its radius from the centre keeps the limit from the piece. Worked out from the piece's
  // box and the limit with its margin (`apart`) when the first disc is met: most straight
  // pieces meet none.
  Point centre;
  double spread = -1.0;
  audit::Box bounds;
  double apart = 0.0;
  audit::Box reachBox;  // the piece's box grown by `apart`

  // The walls among segments [first, last) that can come within the limit, each examined. A
  // straight piece against walls that are lines continuing the contour: each end point is
  // placed once against the band about the piece, and a wall is set aside when both its ends
  // lie beyond one side of it, or when the piece lies beside the wall's line. Other walls
  // (arcs, lines that start a contour), and every wall of an arc, go by their discs.
  void Lines(std::size_t first, std::size_t last);
  void LineLeaf(std::size_t first);  // Lines over a leaf of LEAF_SIZE line walls
  void Discs(std::size_t first, std::size_t last);
  void PrepareDiscs() {
    if (spread < 0.0) {
      centre = Centre(bounds);
      spread = apart + HalfDiagonal(bounds);
    }
  }
  bool DiscMeets(const audit::ContourIndex::Disc& disc) const {
    const double dx = static_cast<double>(disc.x) - centre.x;
    const double dy = static_cast<double>(disc.y) - centre.y;
    const double gap = spread + static_cast<double>(disc.radius);
    return dx * dx + dy * dy <= gap * gap;
  }
  // A wall that the first tests could not set aside: set aside when ApartBy shows that it
  // cannot come within the limit, measured exactly otherwise.
  [[gnu::noinline]] void Examine(std::size_t k);
  // How deep the engine itself cuts wall k at a joint of the piece's own segment that it takes
  // as smooth, when `onWall` lies within reach of that joint; 0 otherwise.
  double SmoothJointDepth(std::size_t k, const Point& onWall) const;
};

}  // namespace

struct CGougeAudit::Impl : State {
  using State::State;
};

CGougeAudit::CGougeAudit(double tolerance) : m_Impl(std::make_unique<Impl>(tolerance)) {}
CGougeAudit::~CGougeAudit() = default;
CGougeAudit::CGougeAudit(CGougeAudit&& other) noexcept = default;
CGougeAudit& CGougeAudit::operator=(CGougeAudit&& other) noexcept = default;

bool CGougeAudit::IsWall(const ContourSegment& segment) {
  return segment.phase == CRC_STATUS_DOING && !segment.locate;
}

bool CGougeAudit::SetWorkTop(double top) {
  Impl& impl = *m_Impl;
  if (impl.contour.IsBuilt() || impl.summary.pieces > 0) {
    impl.error = "the top of the work is set before auditing begins";
    return false;
  }
  impl.workTop = top;
  return true;
}

bool CGougeAudit::AddStockFeed(const __point2<double>& direction) {
  Impl& impl = *m_Impl;
  if (impl.contour.IsBuilt() || impl.summary.pieces > 0) {
    impl.error = "the stock's feed directions are set before auditing begins";
    return false;
  }
  const Point d(direction.x, direction.y);
  const double length = std::sqrt(audit::Dot(d, d));
  if (length > 0.0 && IsUsable(length)) {
    impl.stockFeeds.push_back(d * (1.0 / length));
  }
  return true;
}

void CGougeAudit::Reserve(std::size_t count) {
  try {
    m_Impl->contour.Reserve(std::min(count, MAX_SEGMENTS));
  } catch (const std::bad_alloc&) {
    // Reserving is only a hint; the segments are stored as they come.
  }
}

bool CGougeAudit::AddSegment(const ContourSegment& segment) {
  Impl& impl = *m_Impl;
  const std::size_t n = impl.contour.Size();
  const char* what = "contour segment";
  if (impl.contour.IsBuilt() || impl.summary.pieces > 0) {
    return impl.Fail(what, segment.id, "the contour is complete once auditing has begun");
  }
  if (!IsUsable(segment.curve)) {
    return impl.Fail(what, segment.id, "a coordinate is not finite or beyond 1e100");
  }
  if (n > 0 && !(segment.id > impl.contour.Id(n - 1))) {
    return impl.Fail(what, segment.id, "ids must increase along the contour");
  }
  if (n + 1 >= MAX_SEGMENTS) {
    return impl.Fail(what, segment.id, "the contour holds at most 2^31 - 1 segments");
  }
  if (segment.curve.arc) {
    Track track;
    if (!audit::MakeTrack(segment.curve, track)) {
      return impl.Fail(what, segment.id, "the arc's centre lies on one of its ends");
    }
  }
  const bool wall = IsWall(segment);
  // Every table grows by one or none: room is made first (what may fail), then the contour
  // takes the segment, then the side tables, which cannot fail any more.
  const double low = segment.low;
  // exact: a change of the stored value (two unknowns are the same)
  const bool newLow =
      impl.lows.empty() ||
      !(impl.lows.back().second == low || (std::isnan(low) && std::isnan(impl.lows.back().second)));
  const bool newRun = impl.runs.empty() || segment.phase == CRC_STATUS_ESTABLISH;
  try {
    Room(impl.roles);
    if (newLow) {
      Room(impl.lows);
    }
    if (newRun) {
      Room(impl.runs);
    }
    impl.contour.Add(segment.curve, segment.id, wall);
  } catch (const std::bad_alloc&) {
    return impl.Fail(what, segment.id, "out of memory");
  }
  impl.roles.push_back(audit::Role::Make(segment.phase, segment.side, segment.locate,
                                         segment.rapid && !segment.curve.arc));
  const double radius = segment.radius > 0.0 && IsUsable(segment.radius) ? segment.radius : 0.0;
  if (newRun) {
    impl.runs.push_back({n, n + 1, radius});
  } else {
    audit::RunSpan& run = impl.runs.back();
    run.last = n + 1;
    run.radius = run.radius > 0.0 ? run.radius : radius;
  }
  if (newLow) {
    impl.lows.emplace_back(static_cast<std::uint32_t>(n), low);
  }
  impl.walls += wall ? 1 : 0;
  return true;
}

bool CGougeAudit::AuditPiece(const ToolPiece& piece, PieceClearance* clearance,
                             std::vector<Gouge>* gouges) {
  Impl& impl = *m_Impl;
  const char* what = "tool piece of segment";
  if (!impl.toleranceValid) {
    return impl.Fail(what, piece.id, "the tolerance must be finite and not negative");
  }
  if (!(piece.radius > 0.0) || !IsUsable(piece.radius)) {
    return impl.Fail(what, piece.id, "the radius must be positive and finite");
  }
  if (!IsUsable(piece.tool)) {
    return impl.Fail(what, piece.id, "a coordinate is not finite or beyond 1e100");
  }
  Track track;
  if (!piece.tool.arc) {  // a line's track is its ends, as MakeTrack makes it
    track.from = piece.tool.from;
    track.to = piece.tool.to;
  } else if (!audit::MakeTrack(piece.tool, track)) {
    return impl.Fail(what, piece.id, "the arc's centre lies on one of its ends");
  }
  const std::size_t before = gouges != nullptr ? gouges->size() : 0;
  try {
    if (!impl.contour.IsBuilt()) {
      impl.Build();
    }
    if (piece.low >= impl.workTop) {  // false when either is not a number
      // Above the work: the cutter removes nothing there.
      if (clearance != nullptr) {
        *clearance = PieceClearance();
      }
      ++impl.summary.pieces;
      return true;
    }
    return impl.Audit(piece, track, clearance, gouges);
  } catch (const std::bad_alloc&) {
    if (gouges != nullptr) {
      gouges->resize(before);
    }
    return impl.Fail(what, piece.id, "out of memory");
  }
}

void Scan::Lines(std::size_t first, std::size_t last) {
  const audit::ContourIndex& contour = state.contour;
  const Point* end = contour.Ends();
  const std::uint8_t* flags = contour.Flags();
  const audit::ContourIndex::Disc* disc = contour.RunDiscs(first);
  const audit::Band b = band;  // a copy the loop keeps in registers across Examine
  // Most walls lie beside the piece: each end point is placed across the band once, and along
  // it only for a wall that the first test leaves.
  double before = b.Across(end[first > 0 ? first - 1 : 0]);
  for (std::size_t k = first; k < last; ++k) {
    const double here = b.Across(end[k]);
    if (audit::ContourIndex::IsLineWallFlags(flags[k])) {
      if (!b.ApartAcross(before, here) && !b.ApartAlong(b.Along(end[k - 1]), b.Along(end[k])) &&
          !audit::AcrossWall(probe, end[k - 1], end[k])) {
        Examine(k);
      }
    } else if (contour.HasDisc(k)) {
      PrepareDiscs();
      if (DiscMeets(*disc++)) {
        Examine(k);
      }
    }
    before = here;
  }
}

void Scan::LineLeaf(std::size_t first) {
  constexpr std::size_t N = audit::ContourIndex::LEAF_SIZE;
  static_assert(N == 6, "the leaf is placed across the band two points at a time");
  // Every segment of the leaf is a line wall, the first one's start the end before the leaf:
  // seven points, wall i from p[i] to p[i + 1].
  const Point* p = state.contour.Ends() + first - 1;
  const audit::Band b = band;
  // Bit i set when wall i is not beyond one side of the band.
  unsigned near = 0;
#if defined(__SSE2__)
  // The seven points placed across the band two at a time (the eighth place repeats the
  // seventh point), then each wall's two places held against the band's sides, two walls at a
  // time: a wall is beyond a side when the nearer of its places is. Along the band, a wall is
  // placed only when it is not beside it: most walls are.
  const __m128d dx = _mm_set1_pd(b.dx);
  const __m128d dy = _mm_set1_pd(b.dy);
  auto across = [&](const Point& u, const Point& v) {
    const __m128d pu = _mm_loadu_pd(&u.x);
    const __m128d pv = _mm_loadu_pd(&v.x);
    return _mm_sub_pd(_mm_mul_pd(dx, _mm_unpackhi_pd(pu, pv)),
                      _mm_mul_pd(dy, _mm_unpacklo_pd(pu, pv)));
  };
  const __m128d a01 = across(p[0], p[1]);
  const __m128d a23 = across(p[2], p[3]);
  const __m128d a45 = across(p[4], p[5]);
  const __m128d a66 = across(p[6], p[6]);
  const __m128d low = _mm_set1_pd(b.acrossLow);
  const __m128d high = _mm_set1_pd(b.acrossHigh);
  auto beside = [&](__m128d from, __m128d to) {
    const __m128d beyond = _mm_or_pd(_mm_cmpge_pd(_mm_min_pd(from, to), high),
                                     _mm_cmple_pd(_mm_max_pd(from, to), low));
    return static_cast<unsigned>(_mm_movemask_pd(beyond));
  };
  const unsigned aside = beside(a01, _mm_shuffle_pd(a01, a23, 1)) |
                         beside(a23, _mm_shuffle_pd(a23, a45, 1)) << 2 |
                         beside(a45, _mm_shuffle_pd(a45, a66, 1)) << 4;
  near = ~aside & ((1u << N) - 1);
#else
  for (std::size_t i = 0; i < N; ++i) {
    near |= b.ApartAcross(b.Across(p[i]), b.Across(p[i + 1])) ? 0u : 1u << i;
  }
#endif
  for (; near != 0; near &= near - 1) {
    const auto i = static_cast<std::size_t>(__builtin_ctz(near));
    if (!b.ApartAlong(b.Along(p[i]), b.Along(p[i + 1])) &&
        !audit::AcrossWall(probe, p[i], p[i + 1])) {
      Examine(first + i);
    }
  }
}

void Scan::Discs(std::size_t first, std::size_t last) {
  PrepareDiscs();
  const audit::ContourIndex& contour = state.contour;
  const Point* end = contour.Ends();
  const audit::ContourIndex::Disc* disc = contour.RunDiscs(first);
  for (std::size_t k = first; k < last; ++k) {
    if (contour.IsLineWall(k)) {
      // A line wall whose box keeps out of the box of everything within the limit of the
      // piece keeps the limit from it.
      const Point& p = end[k - 1];
      const Point& q = end[k];
      if (std::min(p.x, q.x) <= reachBox.maxX && reachBox.minX <= std::max(p.x, q.x) &&
          std::min(p.y, q.y) <= reachBox.maxY && reachBox.minY <= std::max(p.y, q.y)) {
        Examine(k);
      }
    } else if (contour.HasDisc(k) && DiscMeets(*disc++)) {
      Examine(k);
    }
  }
}

void Scan::Examine(std::size_t k) {
  const audit::ContourIndex& contour = state.contour;
  Track line;
  const Track& wall = contour.IsArc(k) ? state.ArcTrack(k) : (line = contour.TrackOf(k));
  if (audit::ApartBy(probe, wall)) {
    return;
  }
  const Track& track = probe.piece;
  const double r = piece.radius;
  auto skipFor = [&](const Track& w) {
    if (k == onto && MayTouchAt(track, w, audit::WALL_START, r, state.tolerance)) {
      return audit::WALL_START;
    }
    if (k == off && MayTouchAt(track, w, audit::WALL_END, r, state.tolerance)) {
      return audit::WALL_END;
    }
    return audit::WALL_INTERIOR;
  };
  wall_end_t skip = skipFor(wall);
  Approach a = audit::Closest(track, wall, skip);
  if (!(a.distance <= reach)) {
    return;
  }
  if (a.distance < gouging) {
    // Close enough to gouge: which of this wall bounds the part, and whether the piece is a
    // lead's (a lead leads onto and off the walls beside it as a start-up does).
    if (!leadChecked && source != SIZE_MAX && contour.IsWall(source) &&
        (k == source + 1 || k + 1 == source)) {
      leadChecked = true;
      if (state.rules->LeadOf(source) != audit::LEAD_NONE) {
        onto = source + 1 < contour.Size() && contour.IsWall(source + 1) ? source + 1 : onto;
        off = source > 0 && contour.IsWall(source - 1) ? source - 1 : off;
        skip = skipFor(wall);
        a = audit::Closest(track, wall, skip);
      }
    }
    if (const std::vector<audit::Part>* parts = state.rules->Walls(k)) {
      a.distance = std::numeric_limits<double>::infinity();
      for (const audit::Part& part : *parts) {
        const Track stretch = audit::Stretch(wall, part.s0, part.s1);
        const wall_end_t end = (skip == audit::WALL_START && part.s0 <= 0.0) ||
                                       (skip == audit::WALL_END && part.s1 >= 1.0)
                                   ? skip
                                   : audit::WALL_INTERIOR;
        const Approach b = audit::Closest(track, stretch, end);
        if (b.distance < a.distance) {
          a = b;
        }
      }
      if (!(a.distance <= reach)) {
        return;
      }
    }
  }
  if (a.distance < gouging && a.distance >= gouging - SmoothJointDepth(k, a.onWall)) {
    return;  // the engine's own cut at a joint it takes as smooth
  }
  if (a.distance < nearest.clearance) {
    nearest.clearance = a.distance;
    nearest.segment = k;
    nearest.segmentId = contour.Id(k);
    nearest.toolPoint = a.onPiece;
    nearest.wallPoint = a.onWall;
  }
  if (a.distance < gouging) {
    state.pending.push_back(Gouge{state.summary.pieces, piece.id, k, contour.Id(k), a.onPiece,
                                  a.onWall, a.distance, r - a.distance, state.KindOf(source, k),
                                  source});
  }
}

// The engine joins two segments whose tangents turn by less than acos(1 - 0.0019) (3.53
// degrees) without corner processing, so at an inside joint the tool overruns the next wall by
// r (1 - cos of the turn): a documented allowance of the engine, not a fault of the path (CAM
// chords and the arcs fitted to them meet at such joints everywhere). Only the piece's own
// segment and its two neighbours, near their joints, get it.
double Scan::SmoothJointDepth(std::size_t k, const Point& onWall) const {
  if (source == SIZE_MAX || k + 1 < source || k > source + 1) {
    return 0.0;
  }
  const audit::ContourIndex& contour = state.contour;
  double depth = 0.0;
  for (const std::size_t a : {source - 1, source}) {
    if (a + 1 == 0 || a + 1 >= contour.Size() || !contour.IsWall(a) || !contour.IsWall(a + 1)) {
      continue;
    }
    const Track before = contour.TrackOf(a);
    const Track after = contour.TrackOf(a + 1);
    // exact: a joint is a shared point (as stored: an arc's track puts its end on its circle)
    if (!(contour.Ends()[a] == after.from)) {
      continue;
    }
    const double cosine = audit::Dot(audit::TangentAt(before, 1.0), audit::TangentAt(after, 0.0));
    if (!(1.0 - cosine < TANGENT_COSINE_TOLERANCE) ||
        !((onWall - after.from).GetLength() <= 2.0 * piece.radius)) {
      continue;
    }
    depth = std::max(depth, piece.radius * (1.0 - cosine));
  }
  return depth;
}

bool State::Audit(const ToolPiece& piece, const Track& track, PieceClearance* clearance,
                  std::vector<Gouge>* found) {
  const double gouging = piece.radius - tolerance;
  const double reach = piece.radius + tolerance;
  // Without a clearance to report, only walls that can be gouged need measuring.
  const double limit = clearance != nullptr ? reach : gouging;
  // Pairs shown to lie this far apart are set aside unmeasured: the margin covers the rounding
  // of the cheap tests and of the exact distance, so no pair set aside would measure closer
  // than the limit.
  const double apart = limit + audit::ROUNDING_MARGIN * std::max(contour.Scale(), SizeOf(track));
  Scan scan(*this, piece, track, apart);
  scan.reach = reach;
  scan.gouging = gouging;
  // A piece whose own segment is not a wall leads onto the wall after it or off the wall
  // before it (see MayTouchAt).
  std::size_t source = 0;
  const bool sourceFound = contour.Find(piece.id, hint, source);
  if (sourceFound) {
    hint = source;
    scan.source = source;
    if (!contour.IsWall(source)) {
      const bool next = source + 1 < contour.Size() && contour.IsWall(source + 1);
      scan.onto = next ? source + 1 : SIZE_MAX;
      scan.off = source > 0 && contour.IsWall(source - 1) ? source - 1 : SIZE_MAX;
    }
  }
  pending.clear();
  if (limit > 0.0) {  // otherwise nothing can come within it
    const audit::Box bounds = track.arc ? audit::Bounds(track) : LineBounds(track);
    const audit::Box box{bounds.minX - apart, bounds.minY - apart, bounds.maxX + apart,
                         bounds.maxY + apart};
    scan.reachBox = box;
    scan.bounds = bounds;
    scan.apart = apart;
    const bool straight = !track.arc && scan.probe.length2 > 0.0;
    // The walls of one leaf whose box meets the piece's (or may: the window's test is in floats,
    // rounded outward).
    auto visit = [&](std::size_t leaf) {
      const auto [first, last, lines] = contour.LeafRange(leaf);
      if (straight) {
        if (lines) {
          scan.LineLeaf(first);
        } else {
          scan.Lines(first, last);
        }
      } else {
        scan.Discs(first, last);
      }
    };
    // The window reaches one piece's reach beyond the piece and the run of segments around it
    // (see Anchor): the next pieces along the contour mostly stay inside it.
    const double size = std::max(box.maxX - box.minX, box.maxY - box.minY);
    bool covered = window.Holds(box);
    if (!covered) {
      covered = window.Cover(contour, Anchor(box, size, source, sourceFound), size);
    }
    if (covered) {
      window.ForEachMeeting(audit::Outward(box), visit);
    } else {
      contour.Query(box, visit);
    }
  }
  // Nothing is counted until every gouge is stored.
  if (found != nullptr && !pending.empty()) {
    found->insert(found->end(), pending.begin(), pending.end());
  }
  for (const Gouge& gouge : pending) {
    const bool first = summary.gouges == 0;
    if (first || gouge.clearance < summary.nearest.clearance) {
      summary.nearest = gouge;
    }
    if (first || gouge.depth > summary.deepest.depth) {
      summary.deepest = gouge;
    }
    ++summary.gouges;
  }
  if (clearance != nullptr) {
    *clearance = scan.nearest;
    clearance->gouges = pending.size();
  }
  ++summary.pieces;
  summary.bound = std::min(summary.bound, gouging);
  return true;
}

bool CGougeAudit::GetOpenStretches(std::vector<OpenStretch>& out) {
  Impl& impl = *m_Impl;
  const std::size_t before = out.size();
  try {
    if (!impl.contour.IsBuilt()) {
      impl.Build();
    }
    std::vector<audit::WallRules::OpenPart> parts;
    for (std::size_t k = 0; k < impl.contour.Size(); ++k) {
      if (!IsWall({Curve(), 0, audit::Role::Phase(impl.roles[k]),
                   (impl.roles[k] & audit::Role::LOCATE) != 0})) {
        continue;
      }
      const Track track = impl.contour.TrackOf(k);
      auto add = [&](double s0, double s1, open_kind_t why) {
        const Track stretch = audit::Stretch(track, s0, s1);
        Curve c;
        c.arc = stretch.arc;
        c.from = stretch.from;
        c.to = stretch.to;
        c.centre = stretch.centre;
        c.ccw = stretch.ccw;
        c.fullCircle = stretch.full;
        out.push_back({k, impl.contour.Id(k), c, why});
      };
      if (!impl.contour.IsWall(k)) {
        add(0.0, 1.0, OPEN_ABOVE);  // a candidate taken out of the walls: above the work
        continue;
      }
      parts.clear();
      impl.rules->Open(k, parts);
      for (const auto& p : parts) {
        add(p.part.s0, p.part.s1, p.why == audit::WallRules::OPEN_LEAD ? OPEN_LEAD : OPEN_ROUGHING);
      }
    }
  } catch (const std::bad_alloc&) {
    out.resize(before);
    impl.error = "out of memory";
    return false;
  }
  return true;
}

double CGougeAudit::GetTolerance() const { return m_Impl->tolerance; }
std::size_t CGougeAudit::GetSegmentCount() const { return m_Impl->contour.Size(); }
std::size_t CGougeAudit::GetWallCount() const { return m_Impl->walls; }
const AuditSummary& CGougeAudit::GetSummary() const { return m_Impl->summary; }
std::size_t CGougeAudit::GetMemoryUsage() const {
  return sizeof(Impl) + m_Impl->contour.MemoryUsage();
}
const std::string& CGougeAudit::GetLatestError() const { return m_Impl->error; }

}  // namespace crc
