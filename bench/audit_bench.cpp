// SPDX-License-Identifier: MIT
// The gouge audit on large programs: ns per programmed segment and bytes held per segment, at
// 1e4, 1e5 and 1e6 segments, beside the engine's own run over the same program.
//
// Three programs. Gears and chords are sheets of parts on a 100 mm grid, one compensated run
// per part, cut outside with a 3 mm cutter and led in and out radially:
//   gears   twelve teeth per gear, each a flank line, a tip arc, a flank line and a root arc
//           (inside and outside corners, lines and arcs; the engine inserts 24 corner lines);
//   chords  circles of radius 40 posted as 720 chords of 0.35 mm, as CAM output comes: the
//           cutter's reach covers some twenty chords on either side of each piece;
//   stairs  one run up a staircase of unit steps with a 0.1 mm cutter, every corner alternately
//           inside and outside: the engine's own benchmark path.
// The engine runs the program once through the list-backed host before timing; its tool path is
// what the audit measures.
//
//   <program>/audit/<n>        the whole audit: take the contour, build the index, audit every
//                              piece for gouges
//   <program>/audit_clearance/<n>  the same, each piece also reporting its nearest wall
//   <program>/audit_index/<n>  taking the contour and building the index only
//   <program>/engine/<n>       the engine over the same program, through the host
//
// Counters: per_seg is the time per programmed segment; held_per_seg the bytes the audit holds
// for contour and index (its own count), heap_per_seg the heap it grew by (glibc's count).
// `--count=<program>/<n>` runs the whole audit once, `--count-engine=<program>/<n>` the engine,
// for an instruction counter limited to them (callgrind
// --toggle-collect='cutcomp::bench::Counted*'). `--instructions[=<n>]` does that for each
// program at n segments (default 1e5) under valgrind and prints instructions per segment.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <crc/crc.h>

#include "list_host.h"
#include "tool_path.h"

namespace cutcomp::bench {
namespace {

constexpr double RADIUS = 3.0;
constexpr double STAIRS_RADIUS = 0.1;
constexpr double TOLERANCE = 1e-3;  // mm
constexpr int TEETH = 12;
constexpr double PI = 3.14159265358979323846;

struct Segment {
  bool arc = false;
  Point from;
  Point to;
  Point centre;
  crc::crc_status_t phase = crc::CRC_STATUS_DOING;
};

// Gears on a 100 mm grid until the program holds about `target` segments.
std::vector<Segment> GearSheet(std::size_t target) {
  const std::size_t perGear = 4 * TEETH + 3;
  const std::size_t gears = std::max<std::size_t>(1, target / perGear);
  const auto side = static_cast<std::size_t>(std::ceil(std::sqrt(static_cast<double>(gears))));
  std::vector<Segment> program;
  program.reserve(gears * perGear);
  for (std::size_t g = 0; g < gears; ++g) {
    const Point c(100.0 * static_cast<double>(g % side), 100.0 * static_cast<double>(g / side));
    auto at = [&](double radius, double degrees) {
      const double a = degrees * PI / 180.0;
      return c + Point(std::cos(a), std::sin(a)) * radius;
    };
    // Corners of the outline from the middle of the first tip round to it again.
    std::vector<std::pair<Point, bool>> corners;  // point, reached by an arc
    corners.emplace_back(at(40.0, 9.0), false);
    for (int t = 0; t <= TEETH; ++t) {
      const double base = 30.0 * t;
      if (t > 0) {
        corners.emplace_back(at(40.0, base + 5.0), false);                       // flank up
        corners.emplace_back(at(40.0, t == TEETH ? 369.0 : base + 13.0), true);  // tip
      } else {
        corners.emplace_back(at(40.0, 13.0), true);
      }
      if (t < TEETH) {
        corners.emplace_back(at(30.0, base + 18.0), false);  // flank down
        corners.emplace_back(at(30.0, base + 30.0), true);   // root
      }
    }
    corners.back().first = corners.front().first;  // close exactly
    program.push_back({false, at(50.0, 9.0), corners.front().first, {}, crc::CRC_STATUS_ESTABLISH});
    for (std::size_t i = 1; i < corners.size(); ++i) {
      program.push_back({corners[i].second, corners[i - 1].first, corners[i].first, c});
    }
    program.push_back({false, corners.front().first, at(50.0, 9.0), {}, crc::CRC_STATUS_RETRACT});
  }
  return program;
}

// Circles of radius 40 as 720 chords, on a 100 mm grid, until the program holds about `target`
// segments.
std::vector<Segment> ChordSheet(std::size_t target) {
  constexpr int CHORDS = 720;
  const std::size_t parts = std::max<std::size_t>(1, target / (CHORDS + 2));
  const auto side = static_cast<std::size_t>(std::ceil(std::sqrt(static_cast<double>(parts))));
  std::vector<Segment> program;
  program.reserve(parts * (CHORDS + 2));
  for (std::size_t g = 0; g < parts; ++g) {
    const Point c(100.0 * static_cast<double>(g % side), 100.0 * static_cast<double>(g / side));
    auto at = [&](double radius, int i) {
      const double a = 2.0 * PI * i / CHORDS;
      return c + Point(std::cos(a), std::sin(a)) * radius;
    };
    program.push_back({false, at(50.0, 0), at(40.0, 0), {}, crc::CRC_STATUS_ESTABLISH});
    for (int i = 1; i <= CHORDS; ++i) {
      program.push_back({false,
                         program.back().to,
                         i == CHORDS ? at(40.0, 0) : at(40.0, i),
                         {},
                         crc::CRC_STATUS_DOING});
    }
    program.push_back({false, at(40.0, 0), at(50.0, 0), {}, crc::CRC_STATUS_RETRACT});
  }
  return program;
}

// A staircase of `target` unit steps (alternately along x and y) between a start-up and a
// cancel line.
std::vector<Segment> Staircase(std::size_t target) {
  std::vector<Segment> program;
  program.reserve(target + 2);
  program.push_back({false, Point(-1.0, -2.0), Point(0.0, 0.0), {}, crc::CRC_STATUS_ESTABLISH});
  for (std::size_t k = 0; k < target; ++k) {
    const Point from = program.back().to;
    program.push_back({false, from, from + (k % 2 == 0 ? Point(1.0, 0.0) : Point(0.0, 1.0)), {}});
  }
  const Point end = program.back().to;
  program.push_back({false, end, end + Point(2.0, 1.0), {}, crc::CRC_STATUS_RETRACT});
  return program;
}

double RadiusOf(const std::string& program) { return program == "stairs" ? STAIRS_RADIUS : RADIUS; }

std::unique_ptr<crc::CCrcNode> Node(const Segment& s) {
  if (s.arc) {
    return std::make_unique<crc::CCrcArc>(s.centre, s.from, s.to, (s.from - s.centre).GetLength(),
                                          true, s.phase, crc::CRC_DIR_RIGHT);
  }
  return std::make_unique<crc::CCrcLine>(s.from, s.to, s.phase, crc::CRC_DIR_RIGHT, false);
}

// The host's tool-path piece as the audit reads it: what the CLI's adapter will do. An inserted
// line's path is its programmed points (its offset points stay unset).
std::optional<crc::ToolPiece> ToAudit(const PathPiece& piece, double radius) {
  if (piece.dropped || (piece.offsetUnset && !piece.inserted)) {
    return std::nullopt;
  }
  return crc::ToolPiece{piece.tool, radius, piece.id};
}

bool RunEngine(const std::vector<Segment>& program, double radius, const ListHost::Sink& sink,
               HostFailure* failure = nullptr) {
  crc::CCutterCompensator engine(radius, nullptr, 3, crc::CRC_TYPE_NORMAL);
  std::size_t next = 0;
  ListHost host([&](std::unique_ptr<crc::CCrcNode>& node, std::int64_t& id) {
    if (next == program.size()) {
      return false;
    }
    id = static_cast<std::int64_t>(next);
    node = Node(program[next++]);
    return true;
  });
  return host.Run(engine, sink, failure);
}

struct Data {
  double radius = RADIUS;
  std::vector<Segment> program;
  std::vector<crc::ContourSegment> contour;
  std::vector<crc::ToolPiece> pieces;
  std::size_t inserted = 0;
  bool ok = false;
  HostFailure failure;
};

const Data& DataFor(const std::string& program, std::size_t size) {
  static std::map<std::pair<std::string, std::size_t>, Data> cache;
  auto found = cache.find({program, size});
  if (found != cache.end()) {
    return found->second;
  }
  Data& data = cache[{program, size}];
  data.program = program == "chords"   ? ChordSheet(size)
                 : program == "stairs" ? Staircase(size)
                                       : GearSheet(size);
  data.radius = RadiusOf(program);
  for (std::size_t i = 0; i < data.program.size(); ++i) {
    const Segment& s = data.program[i];
    data.contour.push_back({{s.arc, s.from, s.to, s.centre, true, false},
                            static_cast<std::int64_t>(i),
                            s.phase,
                            false});
  }
  data.ok = RunEngine(
      data.program, data.radius,
      [&](HostSegment& segment) {
        data.inserted += segment.inserted ? 1 : 0;
        if (auto piece = ToAudit(ReadPiece(segment), data.radius)) {
          data.pieces.push_back(*piece);
        }
      },
      &data.failure);
  return data;
}

struct Outcome {
  std::size_t gouges = 0;
  std::size_t held = 0;
};

// What a run covers: the contour and its index only, every piece, or every piece with its
// clearance reported.
enum class Scope { INDEX, GOUGES, CLEARANCE };

Outcome RunAudit(const Data& data, Scope scope) {
  crc::CGougeAudit audit(TOLERANCE);
  audit.Reserve(data.contour.size());
  for (const crc::ContourSegment& s : data.contour) {
    audit.AddSegment(s);
  }
  std::vector<crc::Gouge> gouges;
  crc::PieceClearance clearance;
  for (std::size_t i = 0; i < (scope == Scope::INDEX ? 1 : data.pieces.size()); ++i) {
    audit.AuditPiece(data.pieces[i], scope == Scope::CLEARANCE ? &clearance : nullptr, &gouges);
  }
  return {gouges.size(), audit.GetMemoryUsage()};
}

void SetCounters(benchmark::State& state, const Data& data) {
  const auto segments = static_cast<double>(data.program.size());
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(segments));
  state.counters["segs"] = segments;
  state.counters["per_seg"] = benchmark::Counter(
      segments, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void AuditBenchmark(benchmark::State& state, const std::string& program, std::size_t size,
                    Scope scope) {
  const Data& data = DataFor(program, size);
  if (!data.ok) {
    state.SkipWithError("the engine refused the program");
    return;
  }
  Outcome outcome;
  for (auto _ : state) {
    outcome = RunAudit(data, scope);
  }
  SetCounters(state, data);
  const auto segments = static_cast<double>(data.program.size());
  state.counters["pieces"] = static_cast<double>(data.pieces.size());
  state.counters["gouges"] = static_cast<double>(outcome.gouges);
  state.counters["held_per_seg"] = static_cast<double>(outcome.held) / segments;
  // The heap grown by one audit holding the contour and its index, outside the timed loop.
  const std::size_t before = mallinfo2().uordblks;
  {
    crc::CGougeAudit audit(TOLERANCE);
    audit.Reserve(data.contour.size());
    for (const crc::ContourSegment& s : data.contour) {
      audit.AddSegment(s);
    }
    audit.AuditPiece(data.pieces.front(), nullptr, nullptr);
    state.counters["heap_per_seg"] = static_cast<double>(mallinfo2().uordblks - before) / segments;
  }
}

void EngineBenchmark(benchmark::State& state, const std::string& program, std::size_t size) {
  const Data& data = DataFor(program, size);
  for (auto _ : state) {
    const bool ok = RunEngine(data.program, data.radius, [](HostSegment& segment) {
      benchmark::DoNotOptimize(segment.node.get());
    });
    benchmark::DoNotOptimize(ok);
  }
  SetCounters(state, data);
}

}  // namespace

// One whole audit, and one engine run, never inlined, for an instruction counter.
[[gnu::noinline]] std::size_t CountedAudit(const Data& data) {
  return RunAudit(data, Scope::GOUGES).gouges;
}
[[gnu::noinline]] bool CountedEngine(const Data& data) {
  return RunEngine(data.program, data.radius,
                   [](HostSegment& segment) { benchmark::DoNotOptimize(segment.node.get()); });
}

}  // namespace cutcomp::bench

namespace {

// Instructions per programmed segment of the counted run named by `option` ("--count=..." or
// "--count-engine=..."), from callgrind run on this program; 0 when valgrind is not there.
double InstructionsPerSegment(const char* self, const std::string& option, double segments) {
  const std::string command =
      "valgrind --tool=callgrind --callgrind-out-file=/dev/null "
      "--toggle-collect='cutcomp::bench::Counted*' '" +
      std::string(self) + "' " + option + " 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return 0.0;
  }
  double collected = 0.0;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    const char* at = std::strstr(line, "Collected : ");
    if (at != nullptr) {
      collected = std::strtod(at + 12, nullptr);
    }
  }
  return pclose(pipe) == 0 ? collected / segments : 0.0;
}

// "<program>/<n>" of a --count option.
const cutcomp::bench::Data& Counted(const char* run) {
  const char* slash = std::strchr(run, '/');
  const std::string program = slash != nullptr ? std::string(run, slash) : "gears";
  return cutcomp::bench::DataFor(program,
                                 std::strtoul(slash != nullptr ? slash + 1 : run, nullptr, 10));
}

}  // namespace

int main(int argc, char** argv) {
  using namespace cutcomp::bench;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--instructions", 14) == 0) {
      const std::string size = argv[i][14] == '=' ? argv[i] + 15 : "100000";
      std::printf("%-8s %9s %9s %16s %17s %10s\n", "program", "segments", "pieces",
                  "audit instr/seg", "engine instr/seg", "bytes/seg");
      for (const char* program : {"gears", "chords", "stairs"}) {
        const std::string run = std::string(program) + "/" + size;
        const Data& data = Counted(run.c_str());
        const auto segments = static_cast<double>(data.program.size());
        const double audit = InstructionsPerSegment(argv[0], "--count=" + run, segments);
        const double engine = InstructionsPerSegment(argv[0], "--count-engine=" + run, segments);
        const Outcome outcome = RunAudit(data, Scope::GOUGES);
        std::printf("%-8s %9zu %9zu %16.0f %17.0f %10.1f\n", program, data.program.size(),
                    data.pieces.size(), audit, engine,
                    static_cast<double>(outcome.held) / segments);
      }
      return 0;
    }
    if (std::strncmp(argv[i], "--count-engine=", 15) == 0) {
      return CountedEngine(Counted(argv[i] + 15)) ? 0 : 1;
    }
    if (std::strncmp(argv[i], "--count=", 8) == 0) {
      const Data& data = Counted(argv[i] + 8);
      const std::size_t gouges = CountedAudit(data);
      std::printf("%zu segments, %zu pieces (%zu inserted), %zu gouges%s%s\n", data.program.size(),
                  data.pieces.size(), data.inserted, gouges,
                  data.ok ? "" : "; the engine refused: ", data.failure.message.c_str());
      return data.ok ? 0 : 1;
    }
  }
  for (const char* program : {"gears", "chords", "stairs"}) {
    for (const std::size_t size : {10000u, 100000u, 1000000u}) {
      const std::string name = std::string(program) + "/%s/" + std::to_string(size);
      auto named = [&](const char* kind) {
        char text[96];
        std::snprintf(text, sizeof text, name.c_str(), kind);
        return std::string(text);
      };
      benchmark::RegisterBenchmark(named("audit").c_str(), AuditBenchmark, program, size,
                                   Scope::GOUGES)
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(named("audit_clearance").c_str(), AuditBenchmark, program, size,
                                   Scope::CLEARANCE)
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(named("audit_index").c_str(), AuditBenchmark, program, size,
                                   Scope::INDEX)
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(named("engine").c_str(), EngineBenchmark, program, size)
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
