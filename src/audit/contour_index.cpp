// SPDX-License-Identifier: MIT
// Compact storage of the programmed contour and the packed R-tree over its walls.
#include "audit/contour_index.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace crc::audit {
namespace {

// The bits of v (16 of them) spread to the even bits of the result.
std::uint32_t Spread(std::uint32_t v) {
  v = (v | (v << 8)) & 0x00FF00FFu;
  v = (v | (v << 4)) & 0x0F0F0F0Fu;
  v = (v | (v << 2)) & 0x33333333u;
  v = (v | (v << 1)) & 0x55555555u;
  return v;
}

// Position along the Hilbert curve that fills a 65536 x 65536 grid. Neighbouring positions are
// neighbouring cells, so leaves sorted by it pack into nodes with small boxes. Walking the
// levels from the top, each level's quadrant turns and mirrors the ones below it; the turns
// are composed for all 16 levels at once by a prefix scan over the bits (two bits of state per
// level, combined in steps of 1, 2, 4 and 8 levels) instead of level by level.
std::uint32_t HilbertIndex(std::uint32_t x, std::uint32_t y) {
  constexpr std::uint32_t ALL = 0xFFFFu;
  std::uint32_t a = x ^ y;
  std::uint32_t b = ALL ^ a;
  std::uint32_t c = ALL ^ (x | y);
  std::uint32_t d = x & (y ^ ALL);
  std::uint32_t pa = a | (b >> 1);
  std::uint32_t pb = (a >> 1) ^ a;
  std::uint32_t pc = ((c >> 1) ^ (b & (d >> 1))) ^ c;
  std::uint32_t pd = ((a & (c >> 1)) ^ (d >> 1)) ^ d;
  for (unsigned step = 2; step <= 8; step *= 2) {
    a = pa;
    b = pb;
    c = pc;
    d = pd;
    pa = (a & (a >> step)) ^ (b & (b >> step));
    pb = (a & (b >> step)) ^ (b & ((a ^ b) >> step));
    pc ^= (a & (c >> step)) ^ (b & (d >> step));
    pd ^= (b & (c >> step)) ^ ((a ^ b) & (d >> step));
  }
  const std::uint32_t turned = pc ^ (pc >> 1);
  const std::uint32_t mirrored = pd ^ (pd >> 1);
  const std::uint32_t low = x ^ y;
  const std::uint32_t high = mirrored | (ALL ^ (low | turned));
  return (Spread(high) << 1) | Spread(low);
}

// Sorts by the high 32 bits, keeping the order of equal keys: a radix sort, a byte a pass.
// Entries whose low halves increase along the vector come out as std::sort would leave them.
void SortByKey(std::vector<std::uint64_t>& entries) {
  std::vector<std::uint64_t> sorted(entries.size());
  for (unsigned shift = 32; shift < 64; shift += 8) {
    std::array<std::size_t, 257> start{};
    for (const std::uint64_t e : entries) {
      ++start[((e >> shift) & 0xFFu) + 1];
    }
    if (start[((entries.front() >> shift) & 0xFFu) + 1] == entries.size()) {
      continue;  // one byte value throughout: nothing moves
    }
    for (std::size_t i = 1; i < start.size(); ++i) {
      start[i] += start[i - 1];
    }
    for (const std::uint64_t e : entries) {
      sorted[start[(e >> shift) & 0xFFu]++] = e;
    }
    entries.swap(sorted);
  }
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

double SizeOf(const Point& p) { return std::max(std::fabs(p.x), std::fabs(p.y)); }

Box Unite(const Box& a, const Box& b) {
  return {std::min(a.minX, b.minX), std::min(a.minY, b.minY), std::max(a.maxX, b.maxX),
          std::max(a.maxY, b.maxY)};
}

// The box of a run's walls and the largest size of a line wall's end point, grown point by
// point. The same values as std::min and std::max taken a coordinate at a time in that order
// (min(p, box) there picks as std::min(box, p) does), both axes at once where the processor
// can.
struct RunBox {
  bool any = false;
#if defined(__SSE2__)
  __m128d low = _mm_set1_pd(std::numeric_limits<double>::infinity());
  __m128d high = _mm_set1_pd(-std::numeric_limits<double>::infinity());
  __m128d size = _mm_setzero_pd();

  void Include(const Point& p) {
    const __m128d v = _mm_set_pd(p.y, p.x);
    low = _mm_min_pd(v, low);
    high = _mm_max_pd(v, high);
    size = _mm_max_pd(_mm_andnot_pd(_mm_set1_pd(-0.0), v), size);
    any = true;
  }
  void Unite(const Box& b) {
    low = _mm_min_pd(_mm_set_pd(b.minY, b.minX), low);
    high = _mm_max_pd(_mm_set_pd(b.maxY, b.maxX), high);
    any = true;
  }
  Box Get() const {
    alignas(16) double l[2];
    alignas(16) double h[2];
    _mm_store_pd(l, low);
    _mm_store_pd(h, high);
    return {l[0], l[1], h[0], h[1]};
  }
  double Scale() const {
    alignas(16) double s[2];
    _mm_store_pd(s, size);
    return std::max(s[0], s[1]);
  }
#else
  Box box{};
  double size = 0.0;

  void Include(const Point& p) {
    size = std::max(size, SizeOf(p));
    box = any ? Box{std::min(box.minX, p.x), std::min(box.minY, p.y), std::max(box.maxX, p.x),
                    std::max(box.maxY, p.y)}
              : Box{p.x, p.y, p.x, p.y};
    any = true;
  }
  void Unite(const Box& b) {
    box = any ? Box{std::min(box.minX, b.minX), std::min(box.minY, b.minY),
                    std::max(box.maxX, b.maxX), std::max(box.maxY, b.maxY)}
              : b;
    any = true;
  }
  Box Get() const { return box; }
  double Scale() const { return size; }
#endif
};

template <typename T>
std::size_t Bytes(const std::vector<T>& v) {
  return v.capacity() * sizeof(T);
}

}  // namespace

void ContourIndex::Reserve(std::size_t count) {
  m_End.reserve(count);
  m_Id.reserve(count);
  m_Flags.reserve(count);
}

Point ContourIndex::StartOf(std::size_t k) const {
  const auto found = std::lower_bound(m_Starts.begin(), m_Starts.end(), k,
                                      [](const std::pair<std::uint32_t, Point>& entry,
                                         std::size_t at) { return entry.first < at; });
  return found->second;  // flagged segments have their entry
}

bool ContourIndex::Search(std::int64_t id, std::size_t& k) const {
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
  m_RunArcs.shrink_to_fit();
  m_Id.shrink_to_fit();
  m_Flags.shrink_to_fit();
  m_Starts.shrink_to_fit();
  m_Groups.clear();
  m_LeafRun.clear();
  m_Discs.clear();
  m_RunDiscs.clear();
  m_RunDiscs.reserve(m_RunArcs.size());
  m_Scale = 0.0;

  // Leaves: the box of the walls in each run of LEAF_SIZE segments; runs without a wall are
  // left out.
  std::vector<Box> runBoxes;
  std::vector<std::uint32_t> runs;
  const std::size_t runCount = (Size() + LEAF_SIZE - 1) / LEAF_SIZE;
  Box all{};
  for (std::size_t run = 0; run < runCount; ++run) {
    RunBox box;
    bool startIn = false;
    bool allLines = true;
    m_RunDiscs.push_back(static_cast<std::uint32_t>(m_Discs.size()));
    const std::size_t last = std::min(Size(), (run + 1) * LEAF_SIZE);
    for (std::size_t k = run * LEAF_SIZE; k < last; ++k) {
      if (IsLineWall(k)) {  // the usual wall, without building its track
        // its start is the last wall's end, already in, when that was a line wall of this run
        if (!startIn) {
          box.Include(m_End[k - 1]);
        }
        box.Include(m_End[k]);
        startIn = true;
        continue;
      }
      startIn = false;
      allLines = false;
      if (IsWall(k)) {
        const Track track = TrackOf(k);
        m_Discs.push_back(DiscHolding(track));
        m_Scale = std::max({m_Scale, SizeOf(track.from), SizeOf(track.to),
                            track.arc ? SizeOf(track.centre) + track.radius : 0.0});
        box.Unite(Bounds(track));
      }
    }
    m_Scale = std::max(m_Scale, box.Scale());
    if (box.any) {
      const Box b = box.Get();
      all = runs.empty() ? b : Unite(all, b);
      runBoxes.push_back(b);
      allLines = allLines && last - run * LEAF_SIZE == LEAF_SIZE;
      runs.push_back(static_cast<std::uint32_t>(run) | (allLines ? LEAF_ALL_LINES : 0u));
    }
  }
  m_Discs.shrink_to_fit();
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
  SortByKey(order);

  // Leaves, then the nodes over each group of FANOUT, level by level up to a single group. A
  // node's box is the union of float boxes, itself a float box holding the same walls.
  m_LeafRun.reserve(runs.size());
  std::vector<FloatBox> boxes;
  boxes.reserve(runs.size());
  for (const std::uint64_t entry : order) {
    const auto i = static_cast<std::size_t>(entry & 0xffffffffu);
    boxes.push_back(Outward(runBoxes[i]));
    m_LeafRun.push_back(runs[i]);
  }
  for (;;) {
    std::vector<BoxGroup> groups((boxes.size() + FANOUT - 1) / FANOUT, BoxGroup::Empty());
    std::vector<FloatBox> above(groups.size());
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      const FloatBox& b = boxes[i];
      groups[i / FANOUT].Set(i % FANOUT, b);
      FloatBox& u = above[i / FANOUT];
      u = i % FANOUT == 0 ? b
                          : FloatBox{std::min(u.minX, b.minX), std::min(u.minY, b.minY),
                                     std::max(u.maxX, b.maxX), std::max(u.maxY, b.maxY)};
    }
    m_Groups.push_back(std::move(groups));
    if (above.size() == 1) {
      break;
    }
    boxes = std::move(above);
  }
  m_Built = true;
}

std::size_t ContourIndex::MemoryUsage() const {
  std::size_t bytes = Bytes(m_End) + Bytes(m_Centre) + Bytes(m_RunArcs) + Bytes(m_RunDiscs) +
                      Bytes(m_Id) + Bytes(m_Flags) + Bytes(m_Starts) + Bytes(m_Discs) +
                      Bytes(m_LeafRun) + Bytes(m_Groups);
  for (const std::vector<BoxGroup>& level : m_Groups) {
    bytes += Bytes(level);
  }
  return bytes;
}

}  // namespace crc::audit
