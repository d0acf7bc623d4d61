// SPDX-License-Identifier: MIT
// The one-call API's cost over a hand-written host: the staircase and the wave of the scaling
// benchmarks compensated from the same crc::Path by crc::Compensate and by the host an embedder
// writes with the installed list host (a source making a line per segment, a sink reading each
// final segment into the tool-path model), with the same engine settings and no fitting; and
// crc::Compensate with its defaults (fitting on: on the wave it fits the chords, less work).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <crc/path.h>

#include "bench.h"
#include "list_host.h"
#include "open_paths.h"
#include "tool_path.h"

namespace cutcomp::bench {
namespace {

const char* const API_PATHS[] = {"staircase_1e4", "wave_1e4", "staircase_1e5"};
const char* const API_KINDS[] = {"api-host", "api-onecall", "api-default"};

crc::Path PathOf(const OpenPath& open) {
  crc::Path path;
  const auto program = MakeOpenProgram(open, false);
  for (const auto& node : program) {
    path.push_back(crc::PathSegment::Line(node->GetStartPoint(), node->GetEndPoint(),
                                          node->GetStatusType(), node->GetCrcDirType(),
                                          static_cast<std::int64_t>(path.size())));
  }
  return path;
}

crc::CompensateOptions Options(bool fit) {
  crc::CompensateOptions options(OPEN_PATH_RADIUS);
  options.fit = fit;
  return options;
}

// The host an embedder writes over the installed list host, as the command-line tool does (its
// nodes made in a pool), with the engine set as CompensateOptions sets it.
std::vector<PathPiece> HandHost(const crc::Path& path, bool* ok) {
  crc::CCutterCompensator engine(OPEN_PATH_RADIUS, nullptr, 3, crc::CRC_TYPE_NORMAL);
  engine.SetCamTolerance(true);
  engine.SetCrcPreRetractOption(crc::CRC_END_STAY);
  NodePool pool;
  std::size_t next = 0;
  ListHost host([&path, &next, &pool](std::unique_ptr<crc::CCrcNode>& node, std::int64_t& id) {
    if (next == path.size()) {
      return false;
    }
    const crc::PathSegment& s = path[next++];
    node = pool.Line(s.curve.from, s.curve.to, s.phase, s.side, s.locate);
    id = s.id;
    return true;
  });
  host.UsePool(&pool);
  std::vector<PathPiece> out;
  out.reserve(path.size());
  *ok = host.Run(engine, [&out](HostSegment& segment) { out.push_back(ReadPiece(segment)); });
  return out;
}

// One run of `kind`; false when it failed.
bool RunKind(const crc::Path& path, const std::string& kind) {
  if (kind == "api-host") {
    bool ok = false;
    const std::vector<PathPiece> pieces = HandHost(path, &ok);
    benchmark::DoNotOptimize(pieces.data());
    return ok;
  }
  const crc::CompensateResult result = crc::Compensate(path, Options(kind == "api-default"));
  benchmark::DoNotOptimize(result.path.data());
  return result.ok;
}

// The path of an open path by name, made once; the registered benchmarks keep pointers to it.
const crc::Path* FindPath(const std::string& name) {
  static const std::vector<OpenPath> paths = AllOpenPaths();
  static std::map<std::string, crc::Path> made;  // a map: its elements never move
  if (const auto found = made.find(name); found != made.end()) {
    return &found->second;
  }
  for (const OpenPath& open : paths) {
    if (open.name == name) {
      return &made.emplace(name, PathOf(open)).first->second;
    }
  }
  return nullptr;
}

void ApiBenchmark(benchmark::State& state, const crc::Path* path, std::string kind) {
  if (!RunKind(*path, kind)) {
    state.SkipWithError("refused by the engine");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(RunKind(*path, kind));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(path->size()));
}

}  // namespace

// The loop an instruction counter is limited to (callgrind
// --toggle-collect='cutcomp::bench::RepeatApiRuns*'). Never inlined, or it could not be found.
[[gnu::noinline]] void RepeatApiRuns(const crc::Path& path, const std::string& kind, int runs) {
  for (int run = 0; run < runs; ++run) {
    benchmark::DoNotOptimize(RunKind(path, kind));
  }
}

std::size_t CountedApiRuns(const std::string& name, const std::string& kind, int runs) {
  const crc::Path* path = FindPath(name);
  bool known = false;
  for (const char* k : API_KINDS) {
    known = known || kind == k;
  }
  if (path == nullptr || !known || !RunKind(*path, kind)) {
    return 0;
  }
  RepeatApiRuns(*path, kind, runs);
  return path->size();
}

void RegisterApiBenchmarks() {
  for (const char* name : API_PATHS) {
    const crc::Path* path = FindPath(name);
    // The two ways give the same pieces, or the comparison means nothing.
    bool ok = false;
    const std::vector<PathPiece> hand = HandHost(*path, &ok);
    const crc::CompensateResult onecall = crc::Compensate(*path, Options(false));
    if (!ok || !onecall.ok || hand.size() != onecall.path.size() ||
        !(hand.back().tool.to == onecall.path.back().tool.to)) {
      std::fprintf(stderr, "api bench: the hand-written host and Compensate differ on %s\n", name);
      continue;
    }
    for (const char* kind : API_KINDS) {
      const std::string registered = std::string("api/") + name + "/" + kind;
      benchmark::RegisterBenchmark(registered.c_str(), ApiBenchmark, path, std::string(kind))
          ->Unit(benchmark::kMicrosecond);
      Registry()[registered] = {name, kind, path->size()};
    }
  }
}

void PrintApiSummary() {
  std::printf(
      "\nThe one-call API against a hand-written host (ns per segment, best of the "
      "repetitions; no fitting unless 'defaults'):\n");
  std::printf("%-16s %12s %12s %10s %16s\n", "path", "hand host", "Compensate", "overhead",
              "Compensate (defaults)");
  for (const char* name : API_PATHS) {
    const double segments = static_cast<double>(FindPath(name)->size());
    const double host = BestNs(name, "api-host");
    const double onecall = BestNs(name, "api-onecall");
    const double defaults = BestNs(name, "api-default");
    if (host <= 0 || onecall <= 0) {
      continue;
    }
    std::printf("%-16s %12.1f %12.1f %9.1f%% %16.1f\n", name, host / segments, onecall / segments,
                100.0 * (onecall - host) / host, defaults / segments);
  }
}

}  // namespace cutcomp::bench
