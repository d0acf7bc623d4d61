// SPDX-License-Identifier: MIT
// The programmed contour in program order, stored as parallel arrays, and a spatial index over
// its walls.
//
// Storage: a segment keeps its end point, its id and a byte of flags, an arc its centre too;
// its start is the previous segment's end when the two are equal, which they are along a
// contour, so a start is stored (in a short side table) only where a contour breaks. A wall
// that is not a line continuing the contour (an arc, a line after a break) also keeps a disc in
// single precision that holds all of it, for a first test that reads 12 bytes; lines are held
// against a piece by their end points. Centres and discs are kept only for the segments that
// have them, found through a count per run of LEAF_SIZE segments: about 30 bytes a line.
// Index: a packed R-tree. Runs of LEAF_SIZE consecutive segments form the leaves (consecutive
// segments are neighbours on the part, so a run has a tight box); the leaves are sorted along a
// Hilbert curve through their box centres and packed FANOUT to a node, level by level, the
// boxes in floats rounded outward. Built once, O(n log n); a query visits the nodes whose boxes
// meet the query box, O(log n) plus what it finds.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "audit/clearance.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace crc::audit {

// A float at or below v, and a float at or above v: the nearest float, moved away by more
// than the spacing of floats there (2^-23 of its size, and 2^-126 for the smallest ones), so
// that it lies on the right side of v whichever way the conversion rounded. Beyond the float
// range on the far side, infinity; on the near side, a float just inside the range. A few
// units of the last place looser than the closest such float, and a few instructions instead of
// a test and a step of the bits.
inline float FloatBelow(double v) {
  constexpr double NEAR_RANGE = 3e38;  // below the largest float
  const auto f = static_cast<float>(std::min(v, NEAR_RANGE));
  return f - (std::fabs(f) * 0x1p-23F + 0x1p-126F);
}
inline float FloatAbove(double v) { return -FloatBelow(-v); }

// A box in floats, rounded outward: it holds whatever the box it was made of holds.
struct FloatBox {
  float minX;
  float minY;
  float maxX;
  float maxY;
};
inline FloatBox Outward(const Box& b) {
#if defined(__SSE2__)
  // The four at once, the same floats: FloatAbove(v) is the mirror of FloatBelow(-v), and a
  // conversion to float rounds v and -v alike, so the upper corner converts max(v, -NEAR_RANGE)
  // and moves up by as much as the lower one moves down.
  constexpr double NEAR_RANGE = 3e38;
  const __m128 low = _mm_cvtpd_ps(_mm_min_pd(_mm_set1_pd(NEAR_RANGE), _mm_set_pd(b.minY, b.minX)));
  const __m128 high =
      _mm_cvtpd_ps(_mm_max_pd(_mm_set1_pd(-NEAR_RANGE), _mm_set_pd(b.maxY, b.maxX)));
  const __m128 f = _mm_movelh_ps(low, high);
  const __m128 size = _mm_andnot_ps(_mm_set1_ps(-0.0F), f);
  const __m128 step = _mm_add_ps(_mm_mul_ps(size, _mm_set1_ps(0x1p-23F)), _mm_set1_ps(0x1p-126F));
  const __m128 moved = _mm_add_ps(f, _mm_xor_ps(step, _mm_setr_ps(-0.0F, -0.0F, 0.0F, 0.0F)));
  alignas(16) float out[4];
  _mm_store_ps(out, moved);
  return {out[0], out[1], out[2], out[3]};
#else
  return {FloatBelow(b.minX), FloatBelow(b.minY), FloatAbove(b.maxX), FloatAbove(b.maxY)};
#endif
}

// Eight boxes side by side, each coordinate of the eight in a row, so that a query box is held
// against all of them in four steps where the processor can. Unused places hold boxes that are
// not numbers, which meet nothing.
struct alignas(16) BoxGroup {
  static constexpr std::size_t SIZE = 8;
  float minX[SIZE];
  float minY[SIZE];
  float maxX[SIZE];
  float maxY[SIZE];

  static BoxGroup Empty() {
    BoxGroup g;
    for (std::size_t i = 0; i < SIZE; ++i) {
      g.minX[i] = g.minY[i] = g.maxX[i] = g.maxY[i] = NAN;
    }
    return g;
  }
  void Set(std::size_t i, const FloatBox& b) {
    minX[i] = b.minX;
    minY[i] = b.minY;
    maxX[i] = b.maxX;
    maxY[i] = b.maxY;
  }
  FloatBox Get(std::size_t i) const { return {minX[i], minY[i], maxX[i], maxY[i]}; }
  // Bit i set when box i meets q.
  unsigned Meeting(const FloatBox& q) const {
#if defined(__SSE2__)
    const __m128 qMinX = _mm_set1_ps(q.minX);
    const __m128 qMinY = _mm_set1_ps(q.minY);
    const __m128 qMaxX = _mm_set1_ps(q.maxX);
    const __m128 qMaxY = _mm_set1_ps(q.maxY);
    unsigned bits = 0;
    for (std::size_t h = 0; h < SIZE; h += 4) {
      const __m128 x = _mm_and_ps(_mm_cmple_ps(_mm_load_ps(minX + h), qMaxX),
                                  _mm_cmple_ps(qMinX, _mm_load_ps(maxX + h)));
      const __m128 y = _mm_and_ps(_mm_cmple_ps(_mm_load_ps(minY + h), qMaxY),
                                  _mm_cmple_ps(qMinY, _mm_load_ps(maxY + h)));
      bits |= static_cast<unsigned>(_mm_movemask_ps(_mm_and_ps(x, y))) << h;
    }
    return bits;
#else
    unsigned bits = 0;
    for (std::size_t i = 0; i < SIZE; ++i) {
      if (minX[i] <= q.maxX && q.minX <= maxX[i] && minY[i] <= q.maxY && q.minY <= maxY[i]) {
        bits |= 1u << i;
      }
    }
    return bits;
#endif
  }
};

class ContourIndex {
public:
  static constexpr std::size_t LEAF_SIZE = 6;
  static constexpr std::size_t FANOUT = BoxGroup::SIZE;

  // A disc holding a whole wall: every point of the wall lies within `radius` of the centre,
  // in exact arithmetic, although the three are floats. Segments that are not walls have a
  // radius that is not a number, which no distance test passes.
  struct Disc {
    float x;
    float y;
    float radius;
  };

  // Stores a segment whose curve MakeTrack accepts. Throws std::bad_alloc when memory runs out.
  void Add(const Curve& curve, std::int64_t id, bool wall);
  void Reserve(std::size_t count);

  std::size_t Size() const { return m_Id.size(); }
  // Takes a segment out of the walls (a move above the work); before Build only.
  void ClearWall(std::size_t k) {
    m_Flags[k] = static_cast<std::uint8_t>(m_Flags[k] & ~FLAG_WALL);
    m_Built = false;
  }
  bool IsWall(std::size_t k) const { return (m_Flags[k] & FLAG_WALL) != 0; }
  bool IsArc(std::size_t k) const { return (m_Flags[k] & FLAG_ARC) != 0; }
  std::int64_t Id(std::size_t k) const { return m_Id[k]; }
  Track TrackOf(std::size_t k) const;
  // A wall that is a line from the previous segment's end to its own (Ends()[k - 1] to
  // Ends()[k]): the usual wall, read without building its track.
  bool IsLineWall(std::size_t k) const { return IsLineWallFlags(m_Flags[k]); }
  // The same from a segment's flags (Flags()[k]), for loops that keep the array at hand.
  static bool IsLineWallFlags(std::uint8_t flags) {
    return (flags & (FLAG_WALL | FLAG_ARC | FLAG_OWN_START)) == FLAG_WALL;
  }
  const std::uint8_t* Flags() const { return m_Flags.data(); }
  const Point* Ends() const { return m_End.data(); }
  // Walls that are not line walls (IsLineWall) have a disc, set by Build; the discs of a run
  // of LEAF_SIZE segments come in order from RunDiscs(first), first the run's first segment.
  bool HasDisc(std::size_t k) const { return (m_Flags[k] & FLAG_WALL) != 0 && !IsLineWall(k); }
  const Disc* RunDiscs(std::size_t first) const {
    return m_Discs.data() + m_RunDiscs[first / LEAF_SIZE];
  }
  // The largest size of a coordinate, an arc centre's included, among the walls; set by Build.
  double Scale() const { return m_Scale; }

  // The segment with this id, looked up from `hint` on (pieces come in program order, so the
  // next segment is the usual answer), else by bisection. Ids increase along the contour.
  bool Find(std::int64_t id, std::size_t hint, std::size_t& k) const {
    for (std::size_t i = hint; i < hint + 2 && i < m_Id.size(); ++i) {
      if (m_Id[i] == id) {
        k = i;
        return true;
      }
    }
    return Search(id, k);
  }

  // Builds the discs and the tree and gives back unused capacity. Throws std::bad_alloc.
  void Build();
  bool IsBuilt() const { return m_Built; }

  // Leaves, numbered in Hilbert order: the box holding the walls of leaf `leaf`, and the range
  // of segments [first, last) it covers (only its walls are in the box).
  FloatBox LeafBox(std::size_t leaf) const { return m_Groups[0][leaf / FANOUT].Get(leaf % FANOUT); }
  // `lines` is set when the leaf holds LEAF_SIZE segments and every one is a line wall
  // (IsLineWall): the usual leaf along a contour of lines, scanned without reading the flags.
  struct LeafSpan {
    std::size_t first;
    std::size_t last;
    bool lines;
  };
  LeafSpan LeafRange(std::size_t leaf) const {
    const std::uint32_t entry = m_LeafRun[leaf];
    const std::size_t first = static_cast<std::size_t>(entry & ~LEAF_ALL_LINES) * LEAF_SIZE;
    return {first, std::min(first + LEAF_SIZE, Size()), (entry & LEAF_ALL_LINES) != 0};
  }
  // Calls visit(leaf) for every leaf whose box meets `box`, each once.
  template <typename Visit>
  void Query(const Box& box, Visit&& visit) const;

  std::size_t MemoryUsage() const;

private:
  enum : std::uint8_t {
    FLAG_ARC = 1,
    FLAG_CCW = 2,
    FLAG_FULL = 4,
    FLAG_WALL = 8,
    FLAG_OWN_START = 16,  // the start differs from the previous end: it is in m_Starts
  };

  Point StartOf(std::size_t k) const;
  bool Search(std::int64_t id, std::size_t& k) const;  // Find's bisection

  // The centre of arc k, kept only for arcs: those before k's run, and those of the run before
  // it.
  const Point& CentreOf(std::size_t k) const {
    const std::size_t first = k - k % LEAF_SIZE;
    std::size_t at = m_RunArcs[first / LEAF_SIZE];
    for (std::size_t i = first; i < k; ++i) {
      at += (m_Flags[i] & FLAG_ARC) != 0 ? 1 : 0;
    }
    return m_Centre[at];
  }

  std::vector<Point> m_End;
  std::vector<Point> m_Centre;            // arcs only, in order
  std::vector<std::uint32_t> m_RunArcs;   // by run: the arcs before it
  std::vector<std::uint32_t> m_RunDiscs;  // by run: the discs before it (set by Build)
  std::vector<std::int64_t> m_Id;
  std::vector<std::uint8_t> m_Flags;
  std::vector<std::pair<std::uint32_t, Point>> m_Starts;  // by segment, in order
  std::vector<Disc> m_Discs;                              // walls that are not line walls, in order
  double m_Scale = 0.0;

  // m_Groups[0]: the leaf boxes in Hilbert order, FANOUT to a group, m_LeafRun[i] the run of
  // leaf i; m_Groups[l]: the boxes of the nodes over each group of m_Groups[l - 1], grouped the
  // same way. The last level is a single group (the root's children); none without walls.
  std::vector<std::vector<BoxGroup>> m_Groups;
  // The run of each leaf; the top bit (runs are below 2^31 / LEAF_SIZE) says LeafSpan::lines.
  static constexpr std::uint32_t LEAF_ALL_LINES = 0x80000000u;
  std::vector<std::uint32_t> m_LeafRun;
  bool m_Built = false;
};

inline Track ContourIndex::TrackOf(std::size_t k) const {
  const std::uint8_t flags = m_Flags[k];
  Track track;
  track.from = (flags & FLAG_OWN_START) != 0 ? StartOf(k) : m_End[k - 1];
  track.to = m_End[k];
  if ((flags & FLAG_ARC) == 0) {
    return track;
  }
  Curve curve;
  curve.arc = true;
  curve.ccw = (flags & FLAG_CCW) != 0;
  curve.fullCircle = (flags & FLAG_FULL) != 0;
  curve.from = track.from;
  curve.to = track.to;
  curve.centre = CentreOf(k);
  MakeTrack(curve, track);  // accepted when the segment was added
  return track;
}

inline void ContourIndex::Add(const Curve& curve, std::int64_t id, bool wall) {
  std::uint8_t flags = wall ? FLAG_WALL : 0;
  if (curve.arc) {
    flags |= FLAG_ARC;
    flags |= curve.ccw ? FLAG_CCW : 0;
    flags |= curve.fullCircle ? FLAG_FULL : 0;
  }
  if (m_End.empty() || !(m_End.back() == curve.from)) {  // exact: a shared point
    flags |= FLAG_OWN_START;
    m_Starts.emplace_back(static_cast<std::uint32_t>(m_End.size()), curve.from);
  }
  if (m_End.size() % LEAF_SIZE == 0) {
    m_RunArcs.push_back(static_cast<std::uint32_t>(m_Centre.size()));
  }
  if (curve.arc) {
    m_Centre.push_back(curve.centre);
  }
  m_End.push_back(curve.to);
  m_Id.push_back(id);
  m_Flags.push_back(flags);
  m_Built = false;
}

template <typename Visit>
void ContourIndex::Query(const Box& box, Visit&& visit) const {
  if (m_Groups.empty()) {
    return;
  }
  const FloatBox q = Outward(box);
  struct Entry {
    std::uint32_t level;
    std::uint32_t group;
  };
  // Depth-first, each node's children in reverse order; an entry is pushed only once its box is
  // known to meet the query's, so at most FANOUT entries wait per level.
  Entry stack[64 * FANOUT];
  std::size_t top = 0;
  stack[top++] = {static_cast<std::uint32_t>(m_Groups.size() - 1), 0};
  while (top > 0) {
    const Entry entry = stack[--top];
    const std::size_t first = static_cast<std::size_t>(entry.group) * FANOUT;
    unsigned bits = m_Groups[entry.level][entry.group].Meeting(q);
    for (; bits != 0; bits &= bits - 1) {
      const std::size_t child = first + static_cast<std::size_t>(__builtin_ctz(bits));
      if (entry.level == 0) {
        visit(child);
      } else {
        stack[top++] = {entry.level - 1, static_cast<std::uint32_t>(child)};
      }
    }
  }
}

}  // namespace crc::audit
