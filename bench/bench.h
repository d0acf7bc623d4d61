// SPDX-License-Identifier: MIT
// What the benchmark files share: the registry that lets the summary find each benchmark's
// contour and kind, and the reference figures (offset areas) gathered before timing.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "contours.h"

namespace cutcomp::bench {

// What a registered benchmark measures, keyed by its registered name.
struct Entry {
  std::string contour;
  std::string kind;   // "clone", "host", "normal/e0/b3", ..., "clipper_miter", "boost_round"
  std::size_t items;  // segments (engine) or polygon edges (peers) handled per iteration
};
std::map<std::string, Entry>& Registry();

// Area enclosed by each tool-centre path, measured once before timing: contour -> kind -> mm^2.
// Shows that cutcomp and the peers offset the same outline by the same distance.
std::map<std::string, std::map<std::string, double>>& Areas();

// The cutcomp configuration the peers are compared with: the engine's defaults (normal
// start-up/cancel, no evasion, look-behind 3); where the engine refuses those on a contour, the
// next one in this list that it accepts.
inline const std::vector<std::string> PEER_REFERENCES = {"normal/e0/b3", "normal/e0/b0",
                                                         "normal/e1/b3"};

// Runs `kind` ("clone", "host" or an engine configuration such as "normal/e0/b3") on the
// contour `runs` times outside the benchmark library, for an instruction counter limited to the
// repeated runs (callgrind --toggle-collect='cutcomp::bench::RepeatRuns*'). Returns the segments
// per run, 0 for an unknown kind or a configuration the engine refuses on this contour.
std::size_t CountedRuns(const Contour& contour, const std::string& kind, int runs);

// The same for a peer ("clipper_miter", "clipper_round", "boost_miter", "boost_round") on a
// polygonal contour (callgrind --toggle-collect='cutcomp::bench::RepeatPeerRuns*'). Returns the
// polygon's edges, 0 for an unknown or missing peer or a contour with arcs.
std::size_t CountedPeerRuns(const Contour& contour, const std::string& kind, int runs);

// CPU nanoseconds per iteration of the benchmark measuring `kind` on `contour`: the least and
// the median over its repetitions, or -1 when it did not run.
double BestNs(const std::string& contour, const std::string& kind);
double MedianNs(const std::string& contour, const std::string& kind);

// The scaling benchmarks on open paths (scaling_bench.cpp): registration, the summary tables
// (times, ratios against the offset libraries, allocations per segment), and the counted runs
// for an instruction counter (callgrind --toggle-collect='cutcomp::bench::RepeatOpenRuns*'):
// `kind` is "host", "normal/e0/b3", "normal/e1/b3", "geos" or "clipper". Returns the segments
// (edges for a peer) per run, 0 for an unknown path or kind.
// With `slowPeers`, Clipper also runs (once) at 1e5 edges, where it takes minutes.
void RegisterScalingBenchmarks(bool slowPeers);
void PrintScalingSummary();
std::size_t CountedOpenRuns(const std::string& name, const std::string& kind, int runs);

// The command-line tool against LinuxCNC's rs274 (cli_bench.cpp): runs both as subprocesses and
// prints the table; notes what is missing instead.
void PrintCliSummary();

// The one-call API against a hand-written host on the open paths (api_bench.cpp): registration,
// the summary (ns per segment and the overhead), and the counted runs for an instruction counter
// (callgrind --toggle-collect='cutcomp::bench::RepeatApiRuns*'): `kind` is "api-host",
// "api-onecall" or "api-default". Returns the segments per run, 0 for an unknown path or kind.
void RegisterApiBenchmarks();
void PrintApiSummary();
std::size_t CountedApiRuns(const std::string& name, const std::string& kind, int runs);

void RegisterEngineBenchmarks(const std::vector<Contour>& contours);
// Registers nothing for a peer that was not found at build time.
void RegisterPeerBenchmarks(const std::vector<Contour>& contours);

}  // namespace cutcomp::bench
