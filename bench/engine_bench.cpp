// SPDX-License-Identifier: MIT
// Times cutcomp on each contour: the engine driven by the list-backed host under every
// combination of strategy, evasion and look-behind, and, as baselines, copying the program and
// running the host over segments the engine passes straight through.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "bench.h"
#include "tool_path.h"

namespace cutcomp::bench {
namespace {

struct EngineConfig {
  crc::crc_t strategy;
  bool evade;
  unsigned int lookBehind;
  bool closure = false;  // counted only: the closure tolerance on (kind suffix "/c")
};

std::string Kind(const EngineConfig& config) {
  return std::string(config.strategy == crc::CRC_TYPE_INSERT ? "insert" : "normal") + "/e" +
         (config.evade ? "1" : "0") + "/b" + std::to_string(config.lookBehind);
}

// One full run of the program, the way the timed loop does it.
bool RunOnce(const std::vector<std::unique_ptr<crc::CCrcNode>>& program, const EngineConfig& config,
             const ListHost::Sink& sink, HostFailure* failure) {
  crc::CCutterCompensator engine(CUTTER_RADIUS, nullptr, config.lookBehind, config.strategy);
  engine.SetInterveneEvade(config.evade);
  engine.SetClosureTolerance(config.closure);
  ListHost host(ListHost::FromVector(Clone(program)));
  return host.Run(engine, sink, failure);
}

// Checks the configuration once before timing it, and gathers what the counters report (how
// many lines the engine inserted, how many segments evasion dropped) and the end points of the
// tool-centre path. Under the normal strategy on a polygon those points are the vertices of a
// closed path: the start-up line ends where the last outline segment ends, and the cancel
// line, which leads away, is left out.
struct CheckResult {
  bool ok = false;
  std::string error;
  std::size_t inserted = 0;
  std::size_t dropped = 0;
  std::vector<Point> path;
};

CheckResult Check(const std::vector<std::unique_ptr<crc::CCrcNode>>& program,
                  const EngineConfig& config) {
  CheckResult result;
  HostFailure failure;
  const std::size_t last = program.size() - 1;  // the cancel line's id
  result.ok = RunOnce(
      program, config,
      [&result, last](HostSegment& segment) {
        if (segment.inserted) {
          ++result.inserted;
        }
        if (!segment.node->IsValidNode()) {
          ++result.dropped;
          return;
        }
        if (segment.id == static_cast<std::int64_t>(last) && !segment.inserted) {
          return;  // the cancel line leads away from the outline
        }
        result.path.push_back(cutcomp::ReadPiece(segment).tool.to);
      },
      &failure);
  if (!result.ok) {
    result.error =
        "segment " + std::to_string(failure.id) + ": " + crc::GetErrorGloss(failure.code);
  }
  return result;
}

void EngineBenchmark(benchmark::State& state, const Contour* contour, EngineConfig config) {
  const auto program = MakeProgram(*contour, false);
  const CheckResult check = Check(program, config);
  if (!check.ok) {
    state.SkipWithError(check.error.c_str());
    return;
  }
  const ListHost::Sink sink = [](HostSegment& segment) {
    benchmark::DoNotOptimize(segment.node.get());
  };
  for (auto _ : state) {
    const bool ok = RunOnce(program, config, sink, nullptr);
    benchmark::DoNotOptimize(ok);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(program.size()));
  state.counters["segs"] = static_cast<double>(program.size());
  state.counters["inserted"] = static_cast<double>(check.inserted);
  state.counters["dropped"] = static_cast<double>(check.dropped);
}

// The host alone: every segment is marked compensated, so AdjustNode returns at its first
// test and what remains is copying the program, pulling, the list and the sink.
void HostBenchmark(benchmark::State& state, const Contour* contour) {
  const auto program = MakeProgram(*contour, true);
  const ListHost::Sink sink = [](HostSegment& segment) {
    benchmark::DoNotOptimize(segment.node.get());
  };
  const EngineConfig config{crc::CRC_TYPE_NORMAL, false, 3};
  for (auto _ : state) {
    const bool ok = RunOnce(program, config, sink, nullptr);
    benchmark::DoNotOptimize(ok);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(program.size()));
  state.counters["segs"] = static_cast<double>(program.size());
}

// Copying the program (and freeing the copy): the part of every run that a host pays to hand
// the engine fresh segments.
void CloneBenchmark(benchmark::State& state, const Contour* contour) {
  const auto program = MakeProgram(*contour, false);
  for (auto _ : state) {
    auto copy = Clone(program);
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(program.size()));
  state.counters["segs"] = static_cast<double>(program.size());
}

const std::vector<EngineConfig>& AllConfigs() {
  static const std::vector<EngineConfig> configs = [] {
    std::vector<EngineConfig> all;
    for (crc::crc_t strategy : {crc::CRC_TYPE_NORMAL, crc::CRC_TYPE_INSERT}) {
      for (bool evade : {false, true}) {
        for (unsigned int lookBehind : {0u, 3u}) {
          all.push_back({strategy, evade, lookBehind});
        }
      }
    }
    return all;
  }();
  return configs;
}

}  // namespace

// The loop an instruction counter is limited to (callgrind
// --toggle-collect='cutcomp::bench::RepeatRuns*'), so that building the program and checking the
// configuration stay out of the count. Without a configuration it only copies the program. Never
// inlined, or the counter could not find it.
[[gnu::noinline]] void RepeatRuns(const std::vector<std::unique_ptr<crc::CCrcNode>>& program,
                                  const EngineConfig* config, int runs) {
  const ListHost::Sink sink = [](HostSegment& segment) {
    benchmark::DoNotOptimize(segment.node.get());
  };
  for (int run = 0; run < runs; ++run) {
    if (config == nullptr) {
      auto copy = Clone(program);
      benchmark::DoNotOptimize(copy.data());
    } else {
      const bool ok = RunOnce(program, *config, sink, nullptr);
      benchmark::DoNotOptimize(ok);
    }
  }
}

std::size_t CountedRuns(const Contour& contour, const std::string& request, int runs) {
  // "<kind>/c": the same configuration with the closure tolerance on.
  const bool closure = request.size() > 2 && request.compare(request.size() - 2, 2, "/c") == 0;
  const std::string kind = closure ? request.substr(0, request.size() - 2) : request;
  const bool host = kind == "host";
  const auto program = MakeProgram(contour, host);
  if (kind == "clone") {
    RepeatRuns(program, nullptr, runs);
    return program.size();
  }
  for (EngineConfig config : AllConfigs()) {
    if (host || Kind(config) == kind) {
      config.closure = closure;
      if (!host && !Check(program, config).ok) {
        return 0;
      }
      RepeatRuns(program, &config, runs);
      return program.size();
    }
  }
  return 0;
}

void RegisterEngineBenchmarks(const std::vector<Contour>& contours) {
  for (const Contour& contour : contours) {
    const std::size_t segments = contour.loop.size() + 2;
    std::string name = "clone/" + contour.name;
    benchmark::RegisterBenchmark(name.c_str(), CloneBenchmark, &contour)
        ->Unit(benchmark::kMicrosecond);
    Registry()[name] = {contour.name, "clone", segments};
    name = "host/" + contour.name;
    benchmark::RegisterBenchmark(name.c_str(), HostBenchmark, &contour)
        ->Unit(benchmark::kMicrosecond);
    Registry()[name] = {contour.name, "host", segments};

    for (const EngineConfig& config : AllConfigs()) {
      const std::string kind = Kind(config);
      name = "cutcomp/" + contour.name + "/" + kind;
      benchmark::RegisterBenchmark(name.c_str(), EngineBenchmark, &contour, config)
          ->Unit(benchmark::kMicrosecond);
      Registry()[name] = {contour.name, kind, segments};
    }

    if (!contour.polygon.empty()) {
      // The areas enclosed by the configurations the peers are compared with.
      for (const EngineConfig& config : AllConfigs()) {
        const std::string kind = Kind(config);
        if (std::find(PEER_REFERENCES.begin(), PEER_REFERENCES.end(), kind) ==
            PEER_REFERENCES.end()) {
          continue;
        }
        const CheckResult check = Check(MakeProgram(contour, false), config);
        if (check.ok) {
          Areas()[contour.name][kind] = Area(check.path);
        }
      }
    }
  }
}

}  // namespace cutcomp::bench
