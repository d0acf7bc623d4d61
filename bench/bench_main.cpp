// SPDX-License-Identifier: MIT
// Entry point of the benchmarks: registers every benchmark, runs those the command line
// selects with the console reporter, and then prints a summary: ns per segment for cutcomp
// (and the part left once the host's own cost is taken off), and the cutcomp/peer time ratio
// with the offset areas on the polygonal contours.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench.h"

namespace cutcomp::bench {

std::map<std::string, Entry>& Registry() {
  static std::map<std::string, Entry> registry;
  return registry;
}

std::map<std::string, std::map<std::string, double>>& Areas() {
  static std::map<std::string, std::map<std::string, double>> areas;
  return areas;
}

namespace {

// Every repetition's CPU nanoseconds per iteration, by registered benchmark name.
std::map<std::string, std::vector<double>>& Times() {
  static std::map<std::string, std::vector<double>> times;
  return times;
}

const std::vector<double>* FindTimes(const std::string& contour, const std::string& kind) {
  for (const auto& [name, entry] : Registry()) {
    if (entry.contour == contour && entry.kind == kind) {
      auto found = Times().find(name);
      return found == Times().end() || found->second.empty() ? nullptr : &found->second;
    }
  }
  return nullptr;
}

// Prints like the console reporter and keeps every repetition's time for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
  using ConsoleReporter::ConsoleReporter;

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) {
        continue;
      }
      Times()[run.run_name.function_name].push_back(
          run.GetAdjustedCPUTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit));
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

void PrintCell(double value, int width, int precision) {
  if (value < 0.0) {
    std::printf("%*s", width, "-");
  } else {
    std::printf("%*.*f", width, precision, value);
  }
}

const std::vector<std::string> ENGINE_KINDS = {"normal/e0/b0", "normal/e0/b3", "normal/e1/b0",
                                               "normal/e1/b3", "insert/e0/b0", "insert/e0/b3",
                                               "insert/e1/b0", "insert/e1/b3"};
const std::vector<std::string> PEER_KINDS = {"clipper_miter", "clipper_round", "boost_miter",
                                             "boost_round"};

void PrintSummary(const std::vector<Contour>& contours) {
  std::printf("\nSummary (CPU time, best of the repetitions; '-' = not run)\n");
  std::printf("\ncutcomp, ns per programmed segment (eK = evasion off/on, bK = look-behind)\n");
  std::printf("%-16s %5s %7s %7s", "contour", "segs", "clone", "host");
  for (const std::string& kind : ENGINE_KINDS) {
    std::printf(" %12s", kind.c_str());
  }
  std::printf("\n");
  for (const Contour& contour : contours) {
    const double segments = static_cast<double>(contour.loop.size() + 2);
    const auto perSegment = [&](const std::string& kind) {
      const double ns = BestNs(contour.name, kind);
      return ns < 0.0 ? ns : ns / segments;
    };
    std::printf("%-16s %5.0f", contour.name.c_str(), segments);
    PrintCell(perSegment("clone"), 8, 1);
    PrintCell(perSegment("host"), 8, 1);
    for (const std::string& kind : ENGINE_KINDS) {
      PrintCell(perSegment(kind), 13, 1);
    }
    std::printf("\n");
  }

  std::printf("\ncutcomp, engine alone: the above less the host (copy, list, calls), ns/segment\n");
  for (const Contour& contour : contours) {
    const double segments = static_cast<double>(contour.loop.size() + 2);
    const double host = BestNs(contour.name, "host");
    std::printf("%-16s %5.0f %15s", contour.name.c_str(), segments, "");
    for (const std::string& kind : ENGINE_KINDS) {
      const double ns = BestNs(contour.name, kind);
      PrintCell(ns < 0.0 || host < 0.0 ? -1.0 : (ns - host) / segments, 13, 1);
    }
    std::printf("\n");
  }

  std::printf("\nPolygonal contours against polygon-offset peers: us per whole contour, and\n");
  std::printf("ratio = cutcomp (host included) / peer (input conversion included). cutcomp runs\n");
  std::printf("the first of");
  for (const std::string& kind : PEER_REFERENCES) {
    std::printf(" %s", kind.c_str());
  }
  std::printf(" that the engine accepts on the contour.\n");
  std::printf("%-16s %5s %12s %8s", "contour", "edges", "cutcomp as", "cutcomp");
  for (const std::string& kind : PEER_KINDS) {
    std::printf(" %14s %6s", kind.c_str(), "ratio");
  }
  std::printf("\n");
  for (const Contour& contour : contours) {
    if (contour.polygon.empty()) {
      continue;
    }
    std::string reference = "-";
    double ours = -1.0;
    for (const std::string& kind : PEER_REFERENCES) {
      ours = BestNs(contour.name, kind);
      if (ours >= 0.0) {
        reference = kind;
        break;
      }
    }
    std::printf("%-16s %5zu %12s", contour.name.c_str(), contour.polygon.size(), reference.c_str());
    PrintCell(ours < 0.0 ? ours : ours / 1e3, 9, 1);
    for (const std::string& kind : PEER_KINDS) {
      const double peer = BestNs(contour.name, kind);
      PrintCell(peer < 0.0 ? peer : peer / 1e3, 15, 1);
      PrintCell(ours < 0.0 || peer <= 0.0 ? -1.0 : ours / peer, 7, 2);
    }
    std::printf("\n");
  }

  std::printf("\nArea enclosed by the tool-centre path (mm^2): same outline, same distance\n");
  std::printf("%-16s %10s %10s", "contour", "outline", "cutcomp");
  for (const std::string& kind : PEER_KINDS) {
    std::printf(" %14s", kind.c_str());
  }
  std::printf("\n");
  for (const Contour& contour : contours) {
    if (contour.polygon.empty()) {
      continue;
    }
    const auto& areas = Areas()[contour.name];
    const auto area = [&areas](const std::string& kind) {
      auto found = areas.find(kind);
      return found == areas.end() ? -1.0 : found->second;
    };
    double ours = -1.0;
    for (const std::string& kind : PEER_REFERENCES) {
      if (ours < 0.0) {
        ours = area(kind);
      }
    }
    std::printf("%-16s", contour.name.c_str());
    PrintCell(Area(contour.polygon), 11, 2);
    PrintCell(ours, 11, 2);
    for (const std::string& kind : PEER_KINDS) {
      PrintCell(area(kind), 15, 2);
    }
    std::printf("\n");
  }
}

// --count=<contour>/<kind>[/runs]: instead of benchmarking, run one configuration a fixed
// number of times for an instruction counter and print the divisor that turns its total into
// instructions per segment. Returns the exit status, or -1 when the flag is absent.
int Count(int argc, char** argv, const std::vector<Contour>& contours) {
  const std::string flag = "--count=";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind(flag, 0) != 0) {
      continue;
    }
    std::string request = arg.substr(flag.size());
    int runs = 20;
    const std::size_t slash = request.find('/');
    const std::size_t last = request.rfind('/');
    if (last != std::string::npos && last != slash &&
        request.find_first_not_of("0123456789", last + 1) == std::string::npos) {
      runs = std::stoi(request.substr(last + 1));
      request.resize(last);
    }
    const std::string name = request.substr(0, slash);
    const std::string kind = slash == std::string::npos ? "" : request.substr(slash + 1);
    std::size_t counted = CountedApiRuns(name, kind, runs);
    if (counted == 0) {
      counted = CountedOpenRuns(name, kind, runs);
    }
    if (const std::size_t segments = counted; segments > 0) {
      std::printf("%s: %d runs x %zu segments = %zu segments\n", request.c_str(), runs, segments,
                  runs * segments);
      return 0;
    }
    for (const Contour& contour : contours) {
      if (contour.name == name) {
        std::size_t segments = CountedRuns(contour, kind, runs);
        if (segments == 0) {
          segments = CountedPeerRuns(contour, kind, runs);
        }
        if (segments == 0) {
          break;
        }
        std::printf("%s: %d runs x %zu segments = %zu segments\n", request.c_str(), runs, segments,
                    runs * segments);
        return 0;
      }
    }
    std::fprintf(stderr, "unknown contour or kind, or refused by the engine: %s\n",
                 request.c_str());
    return 1;
  }
  return -1;
}

// Removes the flag from the command line; true when it was there.
bool TakeFlag(int& argc, char** argv, const std::string& flag) {
  for (int i = 1; i < argc; ++i) {
    if (flag == argv[i]) {
      for (int j = i; j + 1 < argc; ++j) {
        argv[j] = argv[j + 1];
      }
      --argc;
      return true;
    }
  }
  return false;
}

}  // namespace

double BestNs(const std::string& contour, const std::string& kind) {
  const std::vector<double>* times = FindTimes(contour, kind);
  return times == nullptr ? -1.0 : *std::min_element(times->begin(), times->end());
}

double MedianNs(const std::string& contour, const std::string& kind) {
  const std::vector<double>* times = FindTimes(contour, kind);
  if (times == nullptr) {
    return -1.0;
  }
  std::vector<double> sorted = *times;
  std::sort(sorted.begin(), sorted.end());
  const std::size_t n = sorted.size();
  return n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
}

}  // namespace cutcomp::bench

int main(int argc, char** argv) {
  using namespace cutcomp::bench;
  static const std::vector<Contour> contours = AllContours();
  if (const int status = Count(argc, argv, contours); status >= 0) {
    return status;
  }
  // --skip_cli: leave out the command-line comparison (it runs subprocesses for a minute).
  // --slow_peers: also run Clipper at 1e5 edges (minutes).
  const bool skipCli = TakeFlag(argc, argv, "--skip_cli");
  // --cli_only: only the command-line comparison.
  if (TakeFlag(argc, argv, "--cli_only")) {
    PrintCliSummary();
    return 0;
  }
  const bool slowPeers = TakeFlag(argc, argv, "--slow_peers");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  RegisterEngineBenchmarks(contours);
  RegisterPeerBenchmarks(contours);
  RegisterScalingBenchmarks(slowPeers);
  RegisterApiBenchmarks();

  SummaryReporter reporter(isatty(STDOUT_FILENO) != 0 ? benchmark::ConsoleReporter::OO_ColorTabular
                                                      : benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::fflush(stdout);
  PrintSummary(contours);
  PrintScalingSummary();
  PrintApiSummary();
  if (!skipCli) {
    PrintCliSummary();
  }
  benchmark::Shutdown();
  return 0;
}
