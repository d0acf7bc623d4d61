// SPDX-License-Identifier: MIT
// Builds the open scaling paths and their engine programs.
#include "open_paths.h"

#include <cmath>

namespace cutcomp::bench {

namespace {
std::string SizeName(std::size_t edges) {
  int exponent = 0;
  std::size_t rest = edges;
  while (rest >= 10 && rest % 10 == 0) {
    rest /= 10;
    ++exponent;
  }
  return rest == 1 ? "1e" + std::to_string(exponent) : std::to_string(edges);
}

Point Unit(const Point& v) {
  const double length = v.GetLength();
  return Point(v.x / length, v.y / length);
}
}  // namespace

OpenPath Staircase(std::size_t edges) {
  OpenPath path;
  path.family = "staircase";
  path.name = path.family + "_" + SizeName(edges);
  path.edges = edges;
  Point p(0.0, 0.0);
  path.vertices.push_back(p);
  for (std::size_t k = 0; k < edges; ++k) {
    p = k % 2 == 0 ? Point(p.x + 1.0, p.y) : Point(p.x, p.y + 1.0);
    path.vertices.push_back(p);
  }
  return path;
}

OpenPath Wave(std::size_t edges) {
  // 64 chords per wavelength, sampled half a chord off the inflections: two chords symmetric
  // about an inflection would be almost exactly parallel, and the look-behind check takes such
  // a pair for a path running back over itself (see "Refusals" in README.md).
  constexpr double STEP = 0.1;
  constexpr double WAVELENGTH = 64 * STEP;
  OpenPath path;
  path.family = "wave";
  path.name = path.family + "_" + SizeName(edges);
  path.edges = edges;
  for (std::size_t k = 0; k <= edges; ++k) {
    const double x = (static_cast<double>(k) + 0.5) * STEP;
    path.vertices.emplace_back(x, std::sin(2.0 * crc::PI * x / WAVELENGTH));
  }
  return path;
}

std::vector<OpenPath> AllOpenPaths() {
  std::vector<OpenPath> paths;
  for (std::size_t edges : {1000u, 10000u, 100000u}) {
    paths.push_back(Staircase(edges));
    paths.push_back(Wave(edges));
  }
  return paths;
}

std::vector<std::unique_ptr<crc::CCrcNode>> MakeOpenProgram(const OpenPath& path,
                                                            bool compensated) {
  std::vector<std::unique_ptr<crc::CCrcNode>> program;
  program.reserve(path.edges + 2);
  const auto line = [&](const Point& from, const Point& to, crc::crc_status_t phase) {
    auto node = std::make_unique<crc::CCrcLine>(from, to, phase, crc::CRC_DIR_LEFT, false);
    node->SetHasBeenCrc(compensated);
    program.push_back(std::move(node));
  };
  const std::vector<Point>& v = path.vertices;
  const Point in = Unit(v[1] - v[0]);
  const Point out = Unit(v[v.size() - 1] - v[v.size() - 2]);
  line(v.front() - in, v.front(), crc::CRC_STATUS_ESTABLISH);
  for (std::size_t k = 0; k + 1 < v.size(); ++k) {
    line(v[k], v[k + 1], crc::CRC_STATUS_DOING);
  }
  line(v.back(), v.back() + out, crc::CRC_STATUS_RETRACT);
  return program;
}

}  // namespace cutcomp::bench
