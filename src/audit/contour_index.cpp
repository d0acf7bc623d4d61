// SPDX-License-Identifier: MIT
// Compact storage of the programmed contour and the packed R-tree over its walls.
#include "audit/contour_index.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace crc::audit {
namespace {

// Position along the Hilbert curve that fills a 65536 x 65536 grid. Neighbouring positions are
// neighbouring cells, so leaves sorted by it pack into nodes with small boxes.
std::uint32_t HilbertIndex(std::uint32_t x, std::uint32_t y) {
  constexpr std::uint32_t N = 1u << 16;
  std::uint32_t d = 0;
  for (std::uint32_t s = N / 2; s > 0; s /= 2) {
    const std::uint32_t rx = (x & s) != 0 ? 1 : 0;
    const std::uint32_t ry = (y & s) != 0 ? 1 : 0;
    d += s * s * ((3 * rx) ^ ry);
    if (ry == 0) {  // turn the quadrant so the curve runs on continuously
      if (rx == 1) {
        x = N - 1 - x;
        y = N - 1 - y;
      }
      std::swap(x, y);
    }
  }
  return d;
}

// A coordinate's cell along one axis of the contour's box, 0..65535. A NaN, or a box of no
// width, gives cell 0; nothing is converted out of range.
std::uint32_t Cell(double v, double low, double high) {
  const double t = (v - low) / (high - low) * 65535.0;
  if (!(t > 0.0)) {
    return 0;
  }
  return t >= 65535.0 ? 65535u : static_cast<std::uint32_t>(t);
}

// The float at or below v, and at or above v; beyond the float range, the range's end or
// infinity. A NaN gives the widest value.
float Down(double v) {
  if (!(v > -FLT_MAX)) {
    return -INFINITY;
  }
  if (v >= FLT_MAX) {
    return FLT_MAX;
  }
  const auto f = static_cast<float>(v);
  return static_cast<double>(f) > v ? std::nextafter(f, -INFINITY) : f;
}
float Up(double v) {
  if (!(v < FLT_MAX)) {
    return INFINITY;
  }
  if (v <= -FLT_MAX) {
    return -FLT_MAX;
  }
  const auto f = static_cast<float>(v);
  return static_cast<double>(f) < v ? std::nextafter(f, INFINITY) : f;
}

Box Unite(const Box& a, const Box& b) {
  return {std::min(a.minX, b.minX), std::min(a.minY, b.minY), std::max(a.maxX, b.maxX),
          std::max(a.maxY, b.maxY)};
}

template <typename T>
std::size_t Bytes(const std::vector<T>& v) {
  return v.capacity() * sizeof(T);
}

}  // namespace

void ContourIndex::Reserve(std::size_t count) {
  m_End.reserve(count);
  m_Id.reserve(count);
  m_Flags.reserve(count);
  m_ExtraAt.reserve(count);
}

void ContourIndex::Add(const Curve& curve, std::int64_t id, bool wall) {
  std::uint8_t flags = wall ? FLAG_WALL : 0;
  const bool ownStart = m_End.empty() || !(m_End.back() == curve.from);  // exact: shared point
  const auto extraAt = static_cast<std::uint32_t>(m_Extra.size());
  if (curve.arc) {
    flags |= FLAG_ARC;
    flags |= curve.ccw ? FLAG_CCW : 0;
    flags |= curve.fullCircle ? FLAG_FULL : 0;
    m_Extra.push_back(curve.centre);
  }
  if (ownStart) {
    flags |= FLAG_OWN_START;
    m_Extra.push_back(curve.from);
  }
  m_End.push_back(curve.to);
  m_Id.push_back(id);
  m_Flags.push_back(flags);
  m_ExtraAt.push_back(extraAt);
  m_Built = false;
}

Curve ContourIndex::CurveOf(std::size_t k) const {
  const std::uint8_t flags = m_Flags[k];
  Curve curve;
  curve.arc = (flags & FLAG_ARC) != 0;
  curve.ccw = (flags & FLAG_CCW) != 0;
  curve.fullCircle = (flags & FLAG_FULL) != 0;
  std::uint32_t extra = m_ExtraAt[k];
  if (curve.arc) {
    curve.centre = m_Extra[extra++];
  }
  curve.from = (flags & FLAG_OWN_START) != 0 ? m_Extra[extra] : m_End[k - 1];
  curve.to = m_End[k];
  return curve;
}

Track ContourIndex::TrackOf(std::size_t k) const {
  Track track;
  MakeTrack(CurveOf(k), track);  // accepted when the segment was added
  return track;
}

bool ContourIndex::Find(std::int64_t id, std::size_t hint, std::size_t& k) const {
  for (std::size_t i = hint; i < hint + 2 && i < m_Id.size(); ++i) {
    if (m_Id[i] == id) {
      k = i;
      return true;
    }
  }
  const auto found = std::lower_bound(m_Id.begin(), m_Id.end(), id);
  if (found == m_Id.end() || *found != id) {
    return false;
  }
  k = static_cast<std::size_t>(found - m_Id.begin());
  return true;
}

void ContourIndex::Build() {
  m_End.shrink_to_fit();
  m_Id.shrink_to_fit();
  m_Flags.shrink_to_fit();
  m_ExtraAt.shrink_to_fit();
  m_Extra.shrink_to_fit();
  m_Levels.clear();
  m_LeafRun.clear();
  m_Bounds.assign(Size(), FloatBox{INFINITY, INFINITY, -INFINITY, -INFINITY});

  // Leaves: the box of the walls in each run of LEAF_SIZE segments; runs without a wall are
  // left out.
  std::vector<Box> runBoxes;
  std::vector<std::uint32_t> runs;
  const std::size_t runCount = (Size() + LEAF_SIZE - 1) / LEAF_SIZE;
  Box all{};
  for (std::size_t run = 0; run < runCount; ++run) {
    bool any = false;
    Box box{};
    for (std::size_t k = run * LEAF_SIZE; k < std::min(Size(), (run + 1) * LEAF_SIZE); ++k) {
      if (IsWall(k)) {
        const Box exact = Bounds(TrackOf(k));
        m_Bounds[k] = {Down(exact.minX), Down(exact.minY), Up(exact.maxX), Up(exact.maxY)};
        const Box b = BoundsOf(k);
        box = any ? Unite(box, b) : b;
        any = true;
      }
    }
    if (any) {
      all = runs.empty() ? box : Unite(all, box);
      runBoxes.push_back(box);
      runs.push_back(static_cast<std::uint32_t>(run));
    }
  }
  if (runs.empty()) {
    m_Built = true;
    return;
  }

  // Hilbert order of the leaf centres; the key in the high half, the leaf in the low half.
  std::vector<std::uint64_t> order(runs.size());
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const Box& b = runBoxes[i];
    const std::uint32_t cx = Cell(0.5 * (b.minX + b.maxX), all.minX, all.maxX);
    const std::uint32_t cy = Cell(0.5 * (b.minY + b.maxY), all.minY, all.maxY);
    order[i] = (static_cast<std::uint64_t>(HilbertIndex(cx, cy)) << 32) | i;
  }
  std::sort(order.begin(), order.end());

  m_Levels.emplace_back();
  m_Levels[0].reserve(runs.size());
  m_LeafRun.reserve(runs.size());
  for (const std::uint64_t entry : order) {
    const auto i = static_cast<std::size_t>(entry & 0xffffffffu);
    m_Levels[0].push_back(runBoxes[i]);
    m_LeafRun.push_back(runs[i]);
  }
  while (m_Levels.back().size() > 1) {
    const std::vector<Box>& below = m_Levels.back();
    std::vector<Box> level((below.size() + FANOUT - 1) / FANOUT);
    for (std::size_t i = 0; i < below.size(); ++i) {
      level[i / FANOUT] = i % FANOUT == 0 ? below[i] : Unite(level[i / FANOUT], below[i]);
    }
    m_Levels.push_back(std::move(level));
  }
  m_Built = true;
}

std::size_t ContourIndex::MemoryUsage() const {
  std::size_t bytes = Bytes(m_End) + Bytes(m_Id) + Bytes(m_Flags) + Bytes(m_ExtraAt) +
                      Bytes(m_Extra) + Bytes(m_Bounds) + Bytes(m_LeafRun) + Bytes(m_Levels);
  for (const std::vector<Box>& level : m_Levels) {
    bytes += Bytes(level);
  }
  return bytes;
}

}  // namespace crc::audit
