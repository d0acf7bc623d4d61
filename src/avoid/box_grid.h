// SPDX-License-Identifier: MIT
// A uniform grid of cells over a set of boxes, for the few questions the gouge-free path asks of
// its own pieces (which later part passes through this point, how far is the path from this wall
// point). The audit's index holds walls, not the path being made; this holds that path.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include <crc/audit/gouge_audit.h>

namespace crc::avoid {

struct Box {
  double minX = HUGE_VAL;
  double minY = HUGE_VAL;
  double maxX = -HUGE_VAL;
  double maxY = -HUGE_VAL;
};

// A curve's box: its ends, and for an arc the extremes of its circle that it sweeps through
// (a nearly straight arc of a huge radius stays a thin box).
inline Box BoxOf(const Curve& c) {
  Box b{std::min(c.from.x, c.to.x), std::min(c.from.y, c.to.y), std::max(c.from.x, c.to.x),
        std::max(c.from.y, c.to.y)};
  if (!c.arc) {
    return b;
  }
  const double ux = c.from.x - c.centre.x;
  const double uy = c.from.y - c.centre.y;
  const double wx = c.to.x - c.centre.x;
  const double wy = c.to.y - c.centre.y;
  const double r = std::hypot(ux, uy);
  const double sense = c.ccw ? 1.0 : -1.0;
  const double turn = sense * (ux * wy - uy * wx);  // beyond half a turn when negative
  const bool reflex = c.fullCircle || turn < 0.0 || (turn == 0.0 && ux * wx + uy * wy < 0.0);
  // Direction (dx, dy) from the centre lies within the sweep.
  const auto sweeps = [&](double dx, double dy) {
    const bool afterStart = sense * (ux * dy - uy * dx) >= 0.0;
    const bool beforeEnd = sense * (dx * wy - dy * wx) >= 0.0;
    return c.fullCircle || (reflex ? afterStart || beforeEnd : afterStart && beforeEnd);
  };
  if (sweeps(1.0, 0.0)) {
    b.maxX = c.centre.x + r;
  }
  if (sweeps(-1.0, 0.0)) {
    b.minX = c.centre.x - r;
  }
  if (sweeps(0.0, 1.0)) {
    b.maxY = c.centre.y + r;
  }
  if (sweeps(0.0, -1.0)) {
    b.minY = c.centre.y - r;
  }
  return b;
}

class BoxGrid {
public:
  // Heuristic: the square root of the number of boxes in cells along the longer side of all the
  // boxes, and this many at most; a box wider than MAX_SPAN cells is kept aside and offered to
  // every query instead of filling the cells.
  static constexpr double CELLS = 128.0;
  static constexpr long MAX_SPAN = 16;

  void Add(std::size_t id, const Box& box) {
    if (!(box.minX <= box.maxX && box.minY <= box.maxY)) {
      return;  // not a number: nothing to find it by
    }
    m_Boxes.push_back({id, box});
    m_All = {std::min(m_All.minX, box.minX), std::min(m_All.minY, box.minY),
             std::max(m_All.maxX, box.maxX), std::max(m_All.maxY, box.maxY)};
  }

  void Build() {
    if (m_Boxes.empty()) {
      return;
    }
    // About as many cells as boxes, so that a few boxes cost a few cells.
    const double cells = std::clamp(std::sqrt(static_cast<double>(m_Boxes.size())), 1.0, CELLS);
    const double side = std::max(m_All.maxX - m_All.minX, m_All.maxY - m_All.minY);
    m_Cell = side > 0.0 && std::isfinite(side) ? side / cells : 1.0;
    m_Columns = Index(m_All.maxX, m_All.minX) + 1;
    m_Rows = Index(m_All.maxY, m_All.minY) + 1;
    m_Cells.assign(static_cast<std::size_t>(m_Columns * m_Rows), {});
    m_Stamp.assign(m_Boxes.size(), 0);
    for (std::size_t i = 0; i < m_Boxes.size(); ++i) {
      const Box& b = m_Boxes[i].second;
      const long x0 = Column(b.minX);
      const long x1 = Column(b.maxX);
      const long y0 = Row(b.minY);
      const long y1 = Row(b.maxY);
      if (x1 - x0 > MAX_SPAN || y1 - y0 > MAX_SPAN) {
        m_Wide.push_back(i);
        continue;
      }
      for (long y = y0; y <= y1; ++y) {
        for (long x = x0; x <= x1; ++x) {
          m_Cells[static_cast<std::size_t>(y * m_Columns + x)].push_back(i);
        }
      }
    }
  }

  // Calls visit(id, box) once for every box that may meet `query` (and some that do not).
  template <typename Visit>
  void Query(const Box& query, Visit&& visit) {
    if (m_Cells.empty()) {
      return;
    }
    ++m_Now;
    const auto offer = [&](std::size_t i) {
      if (m_Stamp[i] != m_Now) {
        m_Stamp[i] = m_Now;
        visit(m_Boxes[i].first, m_Boxes[i].second);
      }
    };
    for (const std::size_t i : m_Wide) {
      offer(i);
    }
    const long x0 = Column(query.minX);
    const long x1 = Column(query.maxX);
    const long y0 = Row(query.minY);
    const long y1 = Row(query.maxY);
    for (long y = y0; y <= y1; ++y) {
      for (long x = x0; x <= x1; ++x) {
        for (const std::size_t i : m_Cells[static_cast<std::size_t>(y * m_Columns + x)]) {
          offer(i);
        }
      }
    }
  }

private:
  long Index(double v, double origin) const {
    const double cell = std::floor((v - origin) / m_Cell);
    return cell >= 0.0 ? static_cast<long>(std::min(cell, CELLS + 1.0)) : 0;  // NaN: 0
  }
  long Column(double x) const {
    return std::min(Index(std::max(x, m_All.minX), m_All.minX), m_Columns - 1);
  }
  long Row(double y) const {
    return std::min(Index(std::max(y, m_All.minY), m_All.minY), m_Rows - 1);
  }

  std::vector<std::pair<std::size_t, Box>> m_Boxes;
  Box m_All;
  double m_Cell = 1.0;
  long m_Columns = 0;
  long m_Rows = 0;
  std::vector<std::vector<std::size_t>> m_Cells;
  std::vector<std::size_t> m_Wide;
  std::vector<unsigned> m_Stamp;
  unsigned m_Now = 0;
};

}  // namespace crc::avoid
