// SPDX-License-Identifier: MIT
// Compact storage of the programmed contour and the packed R-tree over its walls.
#include "audit/contour_index.h"

#include <algorithm>
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

// A disc in floats holding the disc about (x, y) of radius `radius` (doubles): the radius grows
// by more than the centre can move when rounded to float and by the rounding of the radius
// itself. A centre beyond the float range gives a disc that holds everything.
ContourIndex::Disc FloatDisc(const Point& centre, double radius) {
  constexpr double FLOAT_RANGE = 1e37;
  const double size = std::fabs(centre.x) + std::fabs(centre.y);
  if (!(size < FLOAT_RANGE && radius < FLOAT_RANGE)) {
    return {0.0F, 0.0F, INFINITY};
  }
  // A float holds 24 bits: rounding moves a coordinate by at most 2^-24 of its size, and a
  // radius grown by 2^-21 of itself and by 2^-22 of the centre's size still covers it after
  // its own rounding. 1e-30 keeps the radius clear of the float's denormals.
  const double grown = radius * (1.0 + 0x1p-21) + size * 0x1p-22 + 1e-30;
  return {static_cast<float>(centre.x), static_cast<float>(centre.y),
          static_cast<float>(grown * (1.0 + 0x1p-22))};
}

// A disc holding the track: a line's on its chord; an arc of at most half a turn lies in the
// disc on its chord too (every point of it sees the chord at a right angle or more); a longer
// arc in its circle.
ContourIndex::Disc DiscHolding(const Track& track) {
  if (track.arc && (track.reflex || track.full)) {
    return FloatDisc(track.centre, track.radius);
  }
  return FloatDisc((track.from + track.to) * 0.5, 0.5 * (track.to - track.from).GetLength());
}

// The float at or below v, and at or above v; beyond the float range, the range's end or
// infinity.
float Down(double v) {
  const auto f = static_cast<float>(v);
  return static_cast<double>(f) > v ? std::nextafter(f, -INFINITY) : f;
}
float Up(double v) {
  const auto f = static_cast<float>(v);
  return static_cast<double>(f) < v ? std::nextafter(f, INFINITY) : f;
}

double SizeOf(const Point& p) { return std::max(std::fabs(p.x), std::fabs(p.y)); }

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
  m_Centre.reserve(count);
  m_Id.reserve(count);
  m_Flags.reserve(count);
}

void ContourIndex::Add(const Curve& curve, std::int64_t id, bool wall) {
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
  m_End.push_back(curve.to);
  m_Centre.push_back(curve.centre);
  m_Id.push_back(id);
  m_Flags.push_back(flags);
  m_Built = false;
}

Point ContourIndex::StartOf(std::size_t k) const {
  const auto found = std::lower_bound(m_Starts.begin(), m_Starts.end(), k,
                                      [](const std::pair<std::uint32_t, Point>& entry,
                                         std::size_t at) { return entry.first < at; });
  return found->second;  // flagged segments have their entry
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
  m_Centre.shrink_to_fit();
  m_Id.shrink_to_fit();
  m_Flags.shrink_to_fit();
  m_Starts.shrink_to_fit();
  m_Leaves.clear();
  m_Levels.clear();
  m_LeafRun.clear();
  m_Discs.assign(Size(), Disc{0.0F, 0.0F, NAN});  // not a wall: no disc meets it
  m_Scale = 0.0;

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
        const Track track = TrackOf(k);
        m_Discs[k] = DiscHolding(track);
        m_Scale = std::max({m_Scale, SizeOf(track.from), SizeOf(track.to),
                            track.arc ? SizeOf(track.centre) + track.radius : 0.0});
        const Box b = Bounds(track);
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

  m_Leaves.reserve(runs.size());
  m_LeafRun.reserve(runs.size());
  for (const std::uint64_t entry : order) {
    const auto i = static_cast<std::size_t>(entry & 0xffffffffu);
    const Box& b = runBoxes[i];
    m_Leaves.push_back({Down(b.minX), Down(b.minY), Up(b.maxX), Up(b.maxY)});
    m_LeafRun.push_back(runs[i]);
  }
  // Nodes over the leaves' float boxes, which hold the walls as the leaves do.
  std::vector<Box> level((m_Leaves.size() + FANOUT - 1) / FANOUT);
  for (std::size_t i = 0; i < m_Leaves.size(); ++i) {
    const FloatBox& f = m_Leaves[i];
    const Box b{f.minX, f.minY, f.maxX, f.maxY};
    level[i / FANOUT] = i % FANOUT == 0 ? b : Unite(level[i / FANOUT], b);
  }
  if (m_Leaves.size() > 1) {
    m_Levels.push_back(std::move(level));
  }
  while (!m_Levels.empty() && m_Levels.back().size() > 1) {
    const std::vector<Box>& below = m_Levels.back();
    std::vector<Box> above((below.size() + FANOUT - 1) / FANOUT);
    for (std::size_t i = 0; i < below.size(); ++i) {
      above[i / FANOUT] = i % FANOUT == 0 ? below[i] : Unite(above[i / FANOUT], below[i]);
    }
    m_Levels.push_back(std::move(above));
  }
  m_Built = true;
}

std::size_t ContourIndex::MemoryUsage() const {
  std::size_t bytes = Bytes(m_End) + Bytes(m_Centre) + Bytes(m_Id) + Bytes(m_Flags) +
                      Bytes(m_Starts) + Bytes(m_Discs) + Bytes(m_Leaves) + Bytes(m_LeafRun) +
                      Bytes(m_Levels);
  for (const std::vector<Box>& level : m_Levels) {
    bytes += Bytes(level);
  }
  return bytes;
}

}  // namespace crc::audit
