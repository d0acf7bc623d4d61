// SPDX-License-Identifier: MIT
// The scaling benchmarks: cutcomp on the staircase and the wave at 1e3, 1e4 and 1e5 segments,
// through the list-backed host (what a host sees) and through the allocation-free array host
// (the engine alone), against two offset libraries on the same polylines: GEOS's offset curve
// (one side, like cutcomp) and Clipper's open-path offset (a closed outline around both sides).
// Allocations per segment are counted once, before timing.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "array_host.h"
#include "bench.h"
#include "list_host.h"
#include "open_paths.h"

#ifdef CUTCOMP_BENCH_HAVE_CLIPPER
#include <polyclipping/clipper.hpp>
#endif
#ifdef CUTCOMP_BENCH_HAVE_GEOS
#include <geos_c.h>
#endif

namespace cutcomp::bench {
namespace {

// A mitre longer than this many radii is squared off (both libraries take it in radii); the
// corners of both paths stay well below it.
constexpr double OPEN_MITER_LIMIT = 2.0;
// Segments adjusted before the engine's allocations count as steady state.
constexpr std::size_t WARMUP_SEGMENTS = 16;

struct OpenConfig {
  const char* kind;
  bool evade;
};
const OpenConfig OPEN_CONFIGS[] = {{"normal/e0/b3", false}, {"normal/e1/b3", true}};

using Program = std::vector<std::unique_ptr<crc::CCrcNode>>;

// One run through the list host over segments made beforehand: the host takes them over one by
// one, as from a reader, and deletes each once it is final. Making the segments is the source's
// work and is measured apart (CopyBenchmark).
bool RunListHost(Program segments, bool evade) {
  crc::CCutterCompensator engine(OPEN_PATH_RADIUS, nullptr, 3, crc::CRC_TYPE_NORMAL);
  engine.SetInterveneEvade(evade);
  ListHost host(ListHost::FromVector(std::move(segments)));
  return host.Run(engine,
                  [](HostSegment& segment) { benchmark::DoNotOptimize(segment.node.get()); });
}

bool RunArrayHost(const std::vector<std::unique_ptr<crc::CCrcNode>>& copy, bool evade,
                  std::size_t* steadyAllocations) {
  crc::CCutterCompensator engine(OPEN_PATH_RADIUS, nullptr, 3, crc::CRC_TYPE_NORMAL);
  engine.SetInterveneEvade(evade);
  ArrayHost host(copy, copy.size() * 3);
  return host.Run(engine, WARMUP_SEGMENTS, steadyAllocations);
}

void OpenEngineBenchmark(benchmark::State& state, const OpenPath* path, OpenConfig config) {
  const auto program = MakeOpenProgram(*path, false);
  if (!RunListHost(Clone(program), config.evade)) {
    state.SkipWithError("refused by the engine");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    Program copy = Clone(program);
    state.ResumeTiming();
    benchmark::DoNotOptimize(RunListHost(std::move(copy), config.evade));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(program.size()));
}

// Making the segments of one run (a deep copy of the program, freed again).
void OpenCopyBenchmark(benchmark::State& state, const OpenPath* path) {
  const auto program = MakeOpenProgram(*path, false);
  for (auto _ : state) {
    Program copy = Clone(program);
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(program.size()));
}

// The engine alone: the copy of the program is made outside the timed region.
void OpenEngineAloneBenchmark(benchmark::State& state, const OpenPath* path, OpenConfig config) {
  const auto program = MakeOpenProgram(*path, false);
  for (auto _ : state) {
    state.PauseTiming();
    auto copy = Clone(program);
    state.ResumeTiming();
    if (!RunArrayHost(copy, config.evade, nullptr)) {
      state.SkipWithError("refused by the engine");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(program.size()));
}

void OpenHostBenchmark(benchmark::State& state, const OpenPath* path) {
  const auto program = MakeOpenProgram(*path, true);
  for (auto _ : state) {
    state.PauseTiming();
    Program copy = Clone(program);
    state.ResumeTiming();
    benchmark::DoNotOptimize(RunListHost(std::move(copy), false));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(program.size()));
}

#ifdef CUTCOMP_BENCH_HAVE_GEOS
// One context for the process: GEOS's reentrant interface needs one, creating it is not part of
// an offset.
GEOSContextHandle_t GeosContext() {
  static const GEOSContextHandle_t context = GEOS_init_r();
  return context;
}

std::vector<double> Flat(const std::vector<Point>& vertices) {
  std::vector<double> flat;
  flat.reserve(2 * vertices.size());
  for (const Point& p : vertices) {
    flat.push_back(p.x);
    flat.push_back(p.y);
  }
  return flat;
}

// The offset curve on the left at the cutter radius, mitred joins. Returns its vertex count.
std::size_t GeosOffset(const std::vector<double>& flat) {
  GEOSContextHandle_t context = GeosContext();
  GEOSCoordSequence* sequence = GEOSCoordSeq_copyFromBuffer_r(
      context, flat.data(), static_cast<unsigned int>(flat.size() / 2), 0, 0);
  GEOSGeometry* line = GEOSGeom_createLineString_r(context, sequence);
  GEOSGeometry* offset =
      GEOSOffsetCurve_r(context, line, OPEN_PATH_RADIUS, 8, GEOSBUF_JOIN_MITRE, OPEN_MITER_LIMIT);
  const int vertices = offset != nullptr ? GEOSGetNumCoordinates_r(context, offset) : 0;
  GEOSGeom_destroy_r(context, offset);
  GEOSGeom_destroy_r(context, line);
  return vertices > 0 ? static_cast<std::size_t>(vertices) : 0;
}

void GeosBenchmark(benchmark::State& state, const OpenPath* path) {
  const std::vector<double> flat = Flat(path->vertices);
  for (auto _ : state) {
    benchmark::DoNotOptimize(GeosOffset(flat));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(path->edges));
}
#endif

#ifdef CUTCOMP_BENCH_HAVE_CLIPPER
// Clipper works in integers. 1 unit = 0.1 um keeps every path of up to 1e5 unit steps inside its
// fast 64-bit range (coordinates below 2^30); the engine resolves 1e-6 mm, ten times finer.
constexpr double OPEN_CLIPPER_SCALE = 1e4;

std::size_t ClipperOpenOffset(const std::vector<Point>& vertices) {
  ClipperLib::Path input;
  input.reserve(vertices.size());
  for (const Point& p : vertices) {
    input.emplace_back(static_cast<ClipperLib::cInt>(std::llround(p.x * OPEN_CLIPPER_SCALE)),
                       static_cast<ClipperLib::cInt>(std::llround(p.y * OPEN_CLIPPER_SCALE)));
  }
  ClipperLib::ClipperOffset offset(OPEN_MITER_LIMIT);
  offset.AddPath(input, ClipperLib::jtMiter, ClipperLib::etOpenButt);
  ClipperLib::Paths solution;
  offset.Execute(solution, OPEN_PATH_RADIUS * OPEN_CLIPPER_SCALE);
  std::size_t count = 0;
  for (const ClipperLib::Path& out : solution) {
    count += out.size();
  }
  return count;
}

void ClipperOpenBenchmark(benchmark::State& state, const OpenPath* path) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(ClipperOpenOffset(path->vertices));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(path->edges));
}
#endif

// Allocations per programmed segment, counted once per path and configuration.
struct AllocationFigures {
  double total = -1.0;   // a whole run through the list host: copy, host and engine
  double engine = -1.0;  // the engine alone, after the warm-up segments
};
std::map<std::string, std::map<std::string, AllocationFigures>>& Allocations() {
  static std::map<std::string, std::map<std::string, AllocationFigures>> figures;
  return figures;
}

void CountAllocations(const OpenPath& path) {
  const auto program = MakeOpenProgram(path, false);
  const double segments = static_cast<double>(program.size());
  for (const OpenConfig& config : OPEN_CONFIGS) {
    AllocationFigures& figures = Allocations()[path.name][config.kind];
    Program made = Clone(program);
    const std::size_t before = AllocationCount();
    if (RunListHost(std::move(made), config.evade)) {
      figures.total = static_cast<double>(AllocationCount() - before) / segments;
    }
    const auto copy = Clone(program);
    std::size_t steady = 0;
    if (RunArrayHost(copy, config.evade, &steady)) {
      figures.engine = static_cast<double>(steady) / (segments - WARMUP_SEGMENTS);
    }
  }
}

void PrintCell(double value, int width, int precision) {
  if (value < 0.0) {
    std::printf("%*s", width, "-");
  } else {
    std::printf("%*.*f", width, precision, value);
  }
}

}  // namespace

const std::vector<OpenPath>& OpenPaths() {
  static const std::vector<OpenPath> paths = AllOpenPaths();
  return paths;
}

void RegisterScalingBenchmarks(bool slowPeers) {
  for (const OpenPath& path : OpenPaths()) {
    const std::size_t segments = path.edges + 2;
    const auto add = [&](const std::string& kind, auto* function, auto... args) {
      const std::string name = "scaling/" + path.name + "/" + kind;
      benchmark::RegisterBenchmark(name.c_str(), function, &path, args...)
          ->Unit(benchmark::kMicrosecond);
      Registry()[name] = {path.name, kind, segments};
    };
    add("copy", OpenCopyBenchmark);
    add("host", OpenHostBenchmark);
    for (const OpenConfig& config : OPEN_CONFIGS) {
      add(config.kind, OpenEngineBenchmark, config);
      add(std::string("alone/") + config.kind, OpenEngineAloneBenchmark, config);
    }
#ifdef CUTCOMP_BENCH_HAVE_GEOS
    add("geos", GeosBenchmark);
#endif
#ifdef CUTCOMP_BENCH_HAVE_CLIPPER
    // Clipper's open-path offset grows about as n^2.2 on these paths (1.3 s at 1e4 steps of the
    // staircase, 226 s at 1e5): at 1e5 it runs once, and only when asked for.
    if (path.edges < 100000) {
      add("clipper", ClipperOpenBenchmark);
    } else if (slowPeers) {
      const std::string name = "scaling/" + path.name + "/clipper";
      benchmark::RegisterBenchmark(name.c_str(), ClipperOpenBenchmark, &path)
          ->Unit(benchmark::kMillisecond)
          ->Iterations(1)
          ->Repetitions(1);
      Registry()[name] = {path.name, "clipper", segments};
    }
#endif
    CountAllocations(path);
  }
}

void PrintScalingSummary() {
  std::printf("\nScaling: open paths, radius %.1f, look-behind 3; ns per programmed segment\n",
              OPEN_PATH_RADIUS);
  std::printf(
      "(median CPU time of the repetitions. copy: making the segments of a run; host: the\n");
  std::printf("list host over segments the engine passes straight back; e0/b3, e1/b3: cutcomp\n");
  std::printf(
      "through the list host, evasion off/on, segments made beforehand; alone: the engine\n");
  std::printf("through the allocation-free array host; peers per polyline edge, building their\n");
  std::printf("geometry included; ratio = cutcomp e0/b3 / peer, below 1: cutcomp is faster)\n");
  std::printf("%-16s %7s %6s %6s %8s %8s %8s %8s %8s %7s %8s %7s\n", "path", "segs", "copy", "host",
              "e0/b3", "e1/b3", "alone e0", "alone e1", "geos", "ratio", "clipper", "ratio");
  for (const OpenPath& path : OpenPaths()) {
    const double segments = static_cast<double>(path.edges + 2);
    const auto perSegment = [&](const std::string& kind, double items) {
      const double ns = MedianNs(path.name, kind);
      return ns < 0.0 ? ns : ns / items;
    };
    const double ours = perSegment("normal/e0/b3", segments);
    const double geos = perSegment("geos", static_cast<double>(path.edges));
    const double clipper = perSegment("clipper", static_cast<double>(path.edges));
    std::printf("%-16s %7.0f", path.name.c_str(), segments);
    PrintCell(perSegment("copy", segments), 7, 1);
    PrintCell(perSegment("host", segments), 7, 1);
    PrintCell(ours, 9, 1);
    PrintCell(perSegment("normal/e1/b3", segments), 9, 1);
    PrintCell(perSegment("alone/normal/e0/b3", segments), 9, 1);
    PrintCell(perSegment("alone/normal/e1/b3", segments), 9, 1);
    PrintCell(geos, 9, 1);
    PrintCell(ours < 0.0 || geos <= 0.0 ? -1.0 : ours / geos, 8, 2);
    PrintCell(clipper, 9, 1);
    PrintCell(ours < 0.0 || clipper <= 0.0 ? -1.0 : ours / clipper, 8, 2);
    std::printf("\n");
  }

  std::printf("\nHeap allocations per programmed segment (counted by the bench's operator new)\n");
  std::printf("%-16s %14s %14s %14s %14s\n", "path", "run e0/b3", "engine e0/b3", "run e1/b3",
              "engine e1/b3");
  for (const OpenPath& path : OpenPaths()) {
    std::printf("%-16s", path.name.c_str());
    for (const OpenConfig& config : OPEN_CONFIGS) {
      const AllocationFigures& figures = Allocations()[path.name][config.kind];
      PrintCell(figures.total, 15, 3);
      PrintCell(figures.engine, 15, 5);
    }
    std::printf("\n");
  }
  std::printf(
      "run: a whole run through the list host (its deque's blocks and the engine), segments\n");
  std::printf(
      "made beforehand; engine: the engine alone through the array host, after its first\n");
  std::printf("%zu segments. Making the segments costs one more allocation per segment.\n",
              WARMUP_SEGMENTS);
  std::printf("Clipper at 1e5 edges runs once, with --slow_peers only ('-' otherwise).\n");
}

// The loop an instruction counter is limited to, like RepeatRuns. The segments of every run are
// made before it (`copies`), except for kind "copy", which measures making them.
[[gnu::noinline]] void RepeatOpenRuns(std::vector<Program>& copies, const Program& program,
                                      const OpenPath& path,
                                      [[maybe_unused]] const std::vector<double>& flat,
                                      const std::string& kind) {
  for (Program& copy : copies) {
    if (kind == "copy") {
      Program made = Clone(program);
      benchmark::DoNotOptimize(made.data());
    }
    if (kind == "host") {
      benchmark::DoNotOptimize(RunListHost(std::move(copy), false));
    }
    for (const OpenConfig& config : OPEN_CONFIGS) {
      if (kind == config.kind) {
        benchmark::DoNotOptimize(RunListHost(std::move(copy), config.evade));
      }
    }
#ifdef CUTCOMP_BENCH_HAVE_GEOS
    if (kind == "geos") {
      benchmark::DoNotOptimize(GeosOffset(flat));
    }
#endif
#ifdef CUTCOMP_BENCH_HAVE_CLIPPER
    if (kind == "clipper") {
      benchmark::DoNotOptimize(ClipperOpenOffset(path.vertices));
    }
#endif
  }
  static_cast<void>(path);
}

std::size_t CountedOpenRuns(const std::string& name, const std::string& kind, int runs) {
  for (const OpenPath& path : OpenPaths()) {
    if (path.name != name) {
      continue;
    }
    const auto program = MakeOpenProgram(path, kind == "host");
    const bool peer = kind == "geos" || kind == "clipper";
    if (kind != "host" && kind != "copy" && !peer) {
      bool known = false;
      for (const OpenConfig& config : OPEN_CONFIGS) {
        known = known || (kind == config.kind && RunListHost(Clone(program), config.evade));
      }
      if (!known) {
        return 0;
      }
    }
    std::vector<Program> copies(static_cast<std::size_t>(runs));
    if (kind != "copy" && !peer) {
      for (Program& copy : copies) {
        copy = Clone(program);
      }
    }
    std::vector<double> flat;
#ifdef CUTCOMP_BENCH_HAVE_GEOS
    flat = Flat(path.vertices);
#endif
    RepeatOpenRuns(copies, program, path, flat, kind);
    return peer ? path.edges : program.size();
  }
  return 0;
}

}  // namespace cutcomp::bench
