// SPDX-License-Identifier: MIT
// Times two polygon-offset libraries on the polygonal contours, in the same process and on the
// same outlines as cutcomp: Clipper's ClipperOffset (integer coordinates) and Boost.Geometry's
// buffer (doubles), each with mitred and with round joins.
//
// These peers do a different job: they offset a whole closed polygon at once and clean up
// self-intersections globally, where cutcomp streams segment by segment with one segment of
// look-ahead, checks only the last few segments for interference, and keeps arcs as arcs. Only
// polygons are compared, because the peers know no arcs.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "bench.h"

#ifdef CUTCOMP_BENCH_HAVE_CLIPPER
#include <polyclipping/clipper.hpp>
#endif
#ifdef CUTCOMP_BENCH_HAVE_BOOST_GEOMETRY
#include <boost/geometry.hpp>
#include <boost/geometry/geometries/point_xy.hpp>
#include <boost/geometry/geometries/polygon.hpp>
#endif

namespace cutcomp::bench {
namespace {

// Round joins are flattened to chords deviating at most this far from the true arc (mm), a
// usual CAM tolerance; with the 3 mm cutter that is 122 chords per full circle.
constexpr double ARC_TOLERANCE = 0.001;
// A mitre longer than this many cutter radii is squared off (both peers take it in radii).
constexpr double MITER_LIMIT = 2.0;

[[maybe_unused]] int PointsPerCircle() {
  return static_cast<int>(std::ceil(crc::PI / std::acos(1.0 - ARC_TOLERANCE / CUTTER_RADIUS)));
}

#ifdef CUTCOMP_BENCH_HAVE_CLIPPER
// Clipper works in integers: 1 unit = 1 nm keeps the engine's 1e-6 mm resolution, and outlines
// of +-55 mm stay in Clipper's fast 64-bit range.
constexpr double CLIPPER_SCALE = 1e6;

ClipperLib::Paths ClipperOffset(const std::vector<Point>& polygon, ClipperLib::JoinType join) {
  ClipperLib::Path path;
  path.reserve(polygon.size());
  for (const Point& p : polygon) {
    path.emplace_back(static_cast<ClipperLib::cInt>(std::llround(p.x * CLIPPER_SCALE)),
                      static_cast<ClipperLib::cInt>(std::llround(p.y * CLIPPER_SCALE)));
  }
  ClipperLib::ClipperOffset offset(MITER_LIMIT, ARC_TOLERANCE * CLIPPER_SCALE);
  offset.AddPath(path, join, ClipperLib::etClosedPolygon);
  ClipperLib::Paths solution;
  offset.Execute(solution, CUTTER_RADIUS * CLIPPER_SCALE);
  return solution;
}

double ClipperArea(const ClipperLib::Paths& paths) {
  double area = 0.0;
  for (const ClipperLib::Path& path : paths) {
    area += ClipperLib::Area(path);
  }
  return area / (CLIPPER_SCALE * CLIPPER_SCALE);
}

void ClipperBenchmark(benchmark::State& state, const Contour* contour, ClipperLib::JoinType join) {
  std::size_t vertices = 0;
  for (const ClipperLib::Path& path : ClipperOffset(contour->polygon, join)) {
    vertices += path.size();
  }
  for (auto _ : state) {
    ClipperLib::Paths solution = ClipperOffset(contour->polygon, join);
    benchmark::DoNotOptimize(solution.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(contour->polygon.size()));
  state.counters["segs"] = static_cast<double>(contour->polygon.size());
  state.counters["out_vertices"] = static_cast<double>(vertices);
}
#endif

#ifdef CUTCOMP_BENCH_HAVE_BOOST_GEOMETRY
namespace bg = boost::geometry;
using BoostPoint = bg::model::d2::point_xy<double>;
using BoostPolygon = bg::model::polygon<BoostPoint, false, true>;  // counterclockwise, closed
using BoostMulti = bg::model::multi_polygon<BoostPolygon>;

template <typename Join>
BoostMulti BoostBuffer(const std::vector<Point>& polygon, const Join& join) {
  BoostPolygon input;
  auto& ring = input.outer();
  ring.reserve(polygon.size() + 1);
  for (const Point& p : polygon) {
    ring.emplace_back(p.x, p.y);
  }
  ring.emplace_back(polygon.front().x, polygon.front().y);
  BoostMulti result;
  bg::buffer(input, result, bg::strategy::buffer::distance_symmetric<double>(CUTTER_RADIUS),
             bg::strategy::buffer::side_straight(), join, bg::strategy::buffer::end_flat(),
             bg::strategy::buffer::point_circle(PointsPerCircle()));
  return result;
}

template <typename Join>
void BoostBenchmark(benchmark::State& state, const Contour* contour, Join join) {
  const std::size_t vertices = bg::num_points(BoostBuffer(contour->polygon, join));
  for (auto _ : state) {
    BoostMulti result = BoostBuffer(contour->polygon, join);
    benchmark::DoNotOptimize(result.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(contour->polygon.size()));
  state.counters["segs"] = static_cast<double>(contour->polygon.size());
  state.counters["out_vertices"] = static_cast<double>(vertices);
}
#endif

}  // namespace

// The loop an instruction counter is limited to, like RepeatRuns for cutcomp. `peer` indexes
// PEERS below. Never inlined, or the counter could not find it.
[[gnu::noinline]] void RepeatPeerRuns([[maybe_unused]] const std::vector<Point>& polygon,
                                      [[maybe_unused]] int peer, int runs) {
  for (int run = 0; run < runs; ++run) {
    switch (peer) {
#ifdef CUTCOMP_BENCH_HAVE_CLIPPER
    case 0:
      benchmark::DoNotOptimize(ClipperOffset(polygon, ClipperLib::jtMiter).data());
      break;
    case 1:
      benchmark::DoNotOptimize(ClipperOffset(polygon, ClipperLib::jtRound).data());
      break;
#endif
#ifdef CUTCOMP_BENCH_HAVE_BOOST_GEOMETRY
    case 2:
      benchmark::DoNotOptimize(
          BoostBuffer(polygon, bg::strategy::buffer::join_miter(MITER_LIMIT)).data());
      break;
    case 3:
      benchmark::DoNotOptimize(
          BoostBuffer(polygon, bg::strategy::buffer::join_round(PointsPerCircle())).data());
      break;
#endif
    default:
      break;
    }
  }
}

std::size_t CountedPeerRuns(const Contour& contour, const std::string& kind, int runs) {
  static const std::vector<std::pair<std::string, bool>> PEERS = {
#ifdef CUTCOMP_BENCH_HAVE_CLIPPER
      {"clipper_miter", true},
      {"clipper_round", true},
#else
      {"clipper_miter", false},
      {"clipper_round", false},
#endif
#ifdef CUTCOMP_BENCH_HAVE_BOOST_GEOMETRY
      {"boost_miter", true},
      {"boost_round", true},
#else
      {"boost_miter", false},
      {"boost_round", false},
#endif
  };
  if (contour.polygon.empty()) {
    return 0;
  }
  for (std::size_t peer = 0; peer < PEERS.size(); ++peer) {
    if (PEERS[peer].first == kind && PEERS[peer].second) {
      RepeatPeerRuns(contour.polygon, static_cast<int>(peer), runs);
      return contour.polygon.size();
    }
  }
  return 0;
}

void RegisterPeerBenchmarks([[maybe_unused]] const std::vector<Contour>& contours) {
#ifdef CUTCOMP_BENCH_HAVE_CLIPPER
  for (const Contour& contour : contours) {
    if (contour.polygon.empty()) {
      continue;
    }
    const std::size_t edges = contour.polygon.size();
    for (const auto& [label, join] :
         {std::pair{"miter", ClipperLib::jtMiter}, std::pair{"round", ClipperLib::jtRound}}) {
      const std::string name = std::string("clipper/") + contour.name + "/" + label;
      benchmark::RegisterBenchmark(name.c_str(), ClipperBenchmark, &contour, join)
          ->Unit(benchmark::kMicrosecond);
      const std::string kind = std::string("clipper_") + label;
      Registry()[name] = {contour.name, kind, edges};
      Areas()[contour.name][kind] = ClipperArea(ClipperOffset(contour.polygon, join));
    }
  }
#endif
#ifdef CUTCOMP_BENCH_HAVE_BOOST_GEOMETRY
  for (const Contour& contour : contours) {
    if (contour.polygon.empty()) {
      continue;
    }
    const std::size_t edges = contour.polygon.size();
    const bg::strategy::buffer::join_miter miter(MITER_LIMIT);
    const bg::strategy::buffer::join_round round(PointsPerCircle());
    std::string name = "boost/" + contour.name + "/miter";
    benchmark::RegisterBenchmark(name.c_str(), BoostBenchmark<bg::strategy::buffer::join_miter>,
                                 &contour, miter)
        ->Unit(benchmark::kMicrosecond);
    Registry()[name] = {contour.name, "boost_miter", edges};
    Areas()[contour.name]["boost_miter"] = bg::area(BoostBuffer(contour.polygon, miter));
    name = "boost/" + contour.name + "/round";
    benchmark::RegisterBenchmark(name.c_str(), BoostBenchmark<bg::strategy::buffer::join_round>,
                                 &contour, round)
        ->Unit(benchmark::kMicrosecond);
    Registry()[name] = {contour.name, "boost_round", edges};
    Areas()[contour.name]["boost_round"] = bg::area(BoostBuffer(contour.polygon, round));
  }
#endif
}

}  // namespace cutcomp::bench
