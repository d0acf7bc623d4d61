// SPDX-License-Identifier: MIT
// The programmed contour in program order, stored as parallel arrays, and a spatial index over
// its walls.
//
// Storage: a segment keeps its end point, an arc its centre, its id and a byte of flags; its
// start is the previous segment's end when the two are equal, which they are along a contour,
// so a start is stored (in a short side table) only where a contour breaks. Every wall also
// keeps a disc in single precision that holds all of it, for a first test that reads 12 bytes.
// Index: a packed R-tree. Runs of LEAF_SIZE consecutive segments form the leaves (consecutive
// segments are neighbours on the part, so a run has a tight box); the leaves are sorted along a
// Hilbert curve through their box centres and packed FANOUT to a node, level by level. Built
// once, O(n log n); a query visits the nodes whose boxes meet the query box, O(log n) plus what
// it finds.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "audit/clearance.h"

namespace crc::audit {

// The float at or below v, and the float at or above v; beyond the float range, the range's
// end or infinity. Stepping a float by one unit is a step of its bits: down from a positive
// float or up from a negative one takes one off its magnitude, the other way adds one (zero
// steps to the smallest float of the other sign, then on from there).
inline float FloatBelow(double v) {
  const auto f = static_cast<float>(v);
  if (!(static_cast<double>(f) > v)) {
    return f;
  }
  if (f == 0.0F) {
    return -std::numeric_limits<float>::denorm_min();
  }
  std::uint32_t bits = 0;
  std::memcpy(&bits, &f, sizeof f);
  bits = f > 0.0F ? bits - 1 : bits + 1;
  float down = 0.0F;
  std::memcpy(&down, &bits, sizeof down);
  return down;
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
  return {FloatBelow(b.minX), FloatBelow(b.minY), FloatAbove(b.maxX), FloatAbove(b.maxY)};
}

class ContourIndex {
public:
  static constexpr std::size_t LEAF_SIZE = 6;
  static constexpr std::size_t FANOUT = 8;

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
  bool IsWall(std::size_t k) const { return (m_Flags[k] & FLAG_WALL) != 0; }
  bool IsArc(std::size_t k) const { return (m_Flags[k] & FLAG_ARC) != 0; }
  std::int64_t Id(std::size_t k) const { return m_Id[k]; }
  Track TrackOf(std::size_t k) const;
  // A wall that is a line from the previous segment's end to its own (Ends()[k - 1] to
  // Ends()[k]): the usual wall, read without building its track.
  bool IsLineWall(std::size_t k) const {
    return (m_Flags[k] & (FLAG_WALL | FLAG_ARC | FLAG_OWN_START)) == FLAG_WALL;
  }
  const Point* Ends() const { return m_End.data(); }
  // Set by Build for walls.
  const Disc& DiscOf(std::size_t k) const { return m_Discs[k]; }
  // The largest size of a coordinate, an arc centre's included, among the walls; set by Build.
  double Scale() const { return m_Scale; }

  // The segment with this id, looked up from `hint` on (pieces come in program order, so the
  // next segment is the usual answer), else by bisection. Ids increase along the contour.
  bool Find(std::int64_t id, std::size_t hint, std::size_t& k) const;

  // Builds the discs and the tree and gives back unused capacity. Throws std::bad_alloc.
  void Build();
  bool IsBuilt() const { return m_Built; }

  // Leaves, numbered in Hilbert order: the box holding the walls of leaf `leaf`, and the range
  // of segments [first, last) it covers (only its walls are in the box).
  const FloatBox& LeafBox(std::size_t leaf) const { return m_Leaves[leaf]; }
  std::pair<std::size_t, std::size_t> LeafRange(std::size_t leaf) const {
    const std::size_t first = static_cast<std::size_t>(m_LeafRun[leaf]) * LEAF_SIZE;
    return {first, std::min(first + LEAF_SIZE, Size())};
  }
  // Calls visit(leaf) for every leaf whose box meets `box`, each once.
  template <typename Visit>
  void Query(const Box& box, Visit&& visit) const;

  std::size_t MemoryUsage() const;

  static bool Meets(const Box& a, const Box& b) {
    return a.minX <= b.maxX && b.minX <= a.maxX && a.minY <= b.maxY && b.minY <= a.maxY;
  }
  static bool Meets(const FloatBox& a, const Box& b) {
    return static_cast<double>(a.minX) <= b.maxX && b.minX <= static_cast<double>(a.maxX) &&
           static_cast<double>(a.minY) <= b.maxY && b.minY <= static_cast<double>(a.maxY);
  }

private:
  enum : std::uint8_t {
    FLAG_ARC = 1,
    FLAG_CCW = 2,
    FLAG_FULL = 4,
    FLAG_WALL = 8,
    FLAG_OWN_START = 16,  // the start differs from the previous end: it is in m_Starts
  };

  Point StartOf(std::size_t k) const;

  std::vector<Point> m_End;
  std::vector<Point> m_Centre;  // arcs; unused for lines
  std::vector<std::int64_t> m_Id;
  std::vector<std::uint8_t> m_Flags;
  std::vector<std::pair<std::uint32_t, Point>> m_Starts;  // by segment, in order
  std::vector<Disc> m_Discs;
  double m_Scale = 0.0;

  // m_Leaves: leaf boxes in Hilbert order, m_LeafRun[i] the run of leaf i; m_Levels[0]: the
  // boxes of nodes over FANOUT consecutive leaves, m_Levels[l] over FANOUT consecutive entries
  // of level l - 1. The last level has one box; there are none for a single leaf.
  std::vector<FloatBox> m_Leaves;
  std::vector<std::vector<Box>> m_Levels;
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
  curve.centre = m_Centre[k];
  MakeTrack(curve, track);  // accepted when the segment was added
  return track;
}

template <typename Visit>
void ContourIndex::Query(const Box& box, Visit&& visit) const {
  if (m_Levels.empty()) {
    if (!m_Leaves.empty() && Meets(m_Leaves[0], box)) {
      visit(std::size_t{0});
    }
    return;
  }
  if (!Meets(m_Levels.back()[0], box)) {
    return;
  }
  struct Entry {
    std::uint32_t level;
    std::uint32_t index;
  };
  // Depth-first; an entry is pushed only once its box is known to meet the query's, so at most
  // FANOUT entries wait per level.
  Entry stack[64 * FANOUT];
  std::size_t top = 0;
  stack[top++] = {static_cast<std::uint32_t>(m_Levels.size() - 1), 0};
  while (top > 0) {
    const Entry entry = stack[--top];
    const std::size_t first = static_cast<std::size_t>(entry.index) * FANOUT;
    if (entry.level == 0) {
      const std::size_t last = std::min(first + FANOUT, m_Leaves.size());
      for (std::size_t leaf = first; leaf < last; ++leaf) {
        if (Meets(m_Leaves[leaf], box)) {
          visit(leaf);
        }
      }
      continue;
    }
    const std::vector<Box>& below = m_Levels[entry.level - 1];
    const std::size_t last = std::min(first + FANOUT, below.size());
    for (std::size_t child = first; child < last; ++child) {
      if (Meets(below[child], box)) {
        stack[top++] = {entry.level - 1, static_cast<std::uint32_t>(child)};
      }
    }
  }
}

}  // namespace crc::audit
