// SPDX-License-Identifier: MIT
// The programmed contour in program order, stored compactly, and a spatial index over its walls.
//
// Storage: a segment keeps its end point, id and a byte of flags; its start is the previous
// segment's end when the two are equal, which they are along a contour, so it is stored only
// where a contour breaks; an arc adds its centre. Index: a packed R-tree. Runs of LEAF_SIZE
// consecutive segments form the leaves (consecutive segments are neighbours on the part, so a
// run has a tight box); the leaves are sorted along a Hilbert curve through their box centres
// and packed FANOUT to a node, level by level. Built once, O(n log n); a query visits the
// nodes whose boxes meet the query box, O(log n) plus what it finds.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "audit/clearance.h"

namespace crc::audit {

class ContourIndex {
public:
  static constexpr std::size_t LEAF_SIZE = 8;
  static constexpr std::size_t FANOUT = 8;

  // Stores a segment whose curve MakeTrack accepts. Throws std::bad_alloc when memory runs out.
  void Add(const Curve& curve, std::int64_t id, bool wall);
  void Reserve(std::size_t count);

  std::size_t Size() const { return m_Id.size(); }
  bool IsWall(std::size_t k) const { return (m_Flags[k] & FLAG_WALL) != 0; }
  std::int64_t Id(std::size_t k) const { return m_Id[k]; }
  Curve CurveOf(std::size_t k) const;
  Track TrackOf(std::size_t k) const;
  // A box that holds wall k (its bounds rounded outward to float); set by Build.
  Box BoundsOf(std::size_t k) const {
    const FloatBox& b = m_Bounds[k];
    return {b.minX, b.minY, b.maxX, b.maxY};
  }

  // The segment with this id, looked up from `hint` on (pieces come in program order, so the
  // next segment is the usual answer), else by bisection. Ids increase along the contour.
  bool Find(std::int64_t id, std::size_t hint, std::size_t& k) const;

  // Builds the tree and gives back unused capacity. Throws std::bad_alloc.
  void Build();
  bool IsBuilt() const { return m_Built; }

  // Calls visit(k) for every wall whose bounds (BoundsOf) meet `box`, each once.
  template <typename Visit>
  void Query(const Box& box, Visit&& visit) const;

  std::size_t MemoryUsage() const;

private:
  enum : std::uint8_t {
    FLAG_ARC = 1,
    FLAG_CCW = 2,
    FLAG_FULL = 4,
    FLAG_WALL = 8,
    FLAG_OWN_START = 16,  // the start differs from the previous end and is stored
  };

public:
  static bool Meets(const Box& a, const Box& b) {
    return a.minX <= b.maxX && b.minX <= a.maxX && a.minY <= b.maxY && b.minY <= a.maxY;
  }

private:
  std::vector<Point> m_End;
  std::vector<std::int64_t> m_Id;
  std::vector<std::uint8_t> m_Flags;
  // For arcs and segments with their own start: where their extra points begin in m_Extra
  // (the centre first, then the start).
  std::vector<std::uint32_t> m_ExtraAt;
  std::vector<Point> m_Extra;
  // Per segment, the bounds of a wall in single precision, rounded outward: a leaf's walls are
  // sorted out by these without rebuilding their curves.
  struct FloatBox {
    float minX, minY, maxX, maxY;
  };
  std::vector<FloatBox> m_Bounds;

  // m_Levels[0]: leaf boxes in Hilbert order, m_LeafRun[i] the run of leaf i; m_Levels[l]: the
  // boxes of nodes over FANOUT consecutive entries of level l - 1. The last level has one box.
  std::vector<std::vector<Box>> m_Levels;
  std::vector<std::uint32_t> m_LeafRun;
  bool m_Built = false;
};

template <typename Visit>
void ContourIndex::Query(const Box& box, Visit&& visit) const {
  if (m_Levels.empty() || !Meets(m_Levels.back()[0], box)) {
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
    if (entry.level > 0) {
      const std::vector<Box>& below = m_Levels[entry.level - 1];
      const std::size_t first = static_cast<std::size_t>(entry.index) * FANOUT;
      const std::size_t last = std::min(first + FANOUT, below.size());
      for (std::size_t child = first; child < last; ++child) {
        if (Meets(below[child], box)) {
          stack[top++] = {entry.level - 1, static_cast<std::uint32_t>(child)};
        }
      }
      continue;
    }
    const std::size_t first = static_cast<std::size_t>(m_LeafRun[entry.index]) * LEAF_SIZE;
    const std::size_t last = std::min(first + LEAF_SIZE, Size());
    for (std::size_t k = first; k < last; ++k) {
      if (IsWall(k) && Meets(BoundsOf(k), box)) {
        visit(k);
      }
    }
  }
}

}  // namespace crc::audit
