// SPDX-License-Identifier: MIT
// Survey over generated programs (the property tests' contour families), evasion off and on:
// how often the engine refuses a program (by message), how often a completed path breaks, and
// how often it comes closer to the contour than the cutter. A measurement, not a test: it
// reports and fails only when nothing could be measured.
//
// Usage: gouge_survey [--contours N] [--seed S] [--cam-tolerance] [--runs FILE]
//
// --cam-tolerance runs the engine with its tolerances for chord programs (SetCamTolerance);
// --runs writes one line per run (program, evasion, message or the path's end points), to compare
// two surveys run by run.
//
// The closest approach of a completed path is exact up to rounding: every piece of the path in
// progress (offset segments and the lines inserted at their corners, not the start-up and cancel
// moves, whose course the host's start and end points decide, nor locate lines, which are not
// offset) is measured against every programmed segment in progress by the closed-form distance
// between bounded lines and arcs.
// The deepest gouge of each mode is printed as a fixture, to replay through the scenario runner
// (CUTCOMP_SCENARIO_FIXTURES=file) once its expected path is written down.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>

#include "fixture.h"
#include "program_generator.h"

namespace {

using namespace cutcomp;
using cutcomp::test::Json;

// Depths as a fraction of the radius: detection threshold; just beyond what a joint taken as
// smooth can cut (it turns by less than acos(1 - 0.0019)); a gouge anyone would see.
constexpr double DEPTHS[] = {1e-6, 2e-3, 1e-1};
constexpr int DEPTH_COUNT = 3;
const char* const FAMILY_NAMES[] = {"outline", "steps"};

double ClosestApproach(const Json& program, const std::vector<PathPiece>& path) {
  std::vector<Curve> contour;
  for (const Json& s : program["segments"]) {
    if (s["phase"] == "D" && !s.value("locate", false)) {
      contour.push_back(ProgrammedCurve(*test::MakeSegment(s)));
    }
  }
  double closest = INFINITY;
  for (const PathPiece& piece : path) {
    if (piece.phase != crc::CRC_STATUS_DOING || piece.dropped || piece.locate) {
      continue;
    }
    for (const Curve& segment : contour) {
      closest = std::min(closest, Distance(piece.tool, segment));
    }
  }
  return closest;
}

struct Tally {
  int runs = 0;
  int completed = 0;
  int broken = 0;
  std::map<int, int> refused;  // message number -> count
  int gouged[DEPTH_COUNT] = {};
  double deepest = 0.0;
  Json deepestProgram;
};

void Count(Tally& tally, const Json& program, std::FILE* runs) {
  const test::Outcome outcome = test::Compensate(program);
  if (runs != nullptr) {
    std::fprintf(runs, "%d %d %d", tally.runs, program["settings"]["evade"].get<bool>() ? 1 : 0,
                 outcome.run.ok ? 0 : outcome.run.failure.code);
    for (const PathPiece& piece : outcome.path) {
      std::fprintf(runs, " %.17g,%.17g", piece.tool.to.x, piece.tool.to.y);
    }
    std::fputc('\n', runs);
  }
  ++tally.runs;
  if (!outcome.run.ok) {
    ++tally.refused[outcome.run.failure.code];
    return;
  }
  ++tally.completed;
  tally.broken += FirstBreak(outcome.path, 1e-6).has_value() ? 1 : 0;
  const double radius = std::fabs(program["settings"]["radius"].get<double>());
  const double depth = (radius - ClosestApproach(program, outcome.path)) / radius;
  for (int k = 0; k < DEPTH_COUNT; ++k) {
    tally.gouged[k] += depth > DEPTHS[k] ? 1 : 0;
  }
  if (depth > tally.deepest) {
    tally.deepest = depth;
    tally.deepestProgram = program;
  }
}

std::string Percent(int part, int whole) {
  char text[64];
  std::snprintf(text, sizeof text, "%d (%.1f%%)", part, whole > 0 ? 100.0 * part / whole : 0.0);
  return text;
}

void Row(const std::string& label, const std::string& off, const std::string& on) {
  std::printf("%-44.44s %-18s %-18s\n", label.c_str(), off.c_str(), on.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  long contours = 3000;
  unsigned long long seed = 1;
  bool camTolerance = false;
  std::FILE* runs = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--contours" && i + 1 < argc) {
      contours = std::strtol(argv[++i], nullptr, 10);
    } else if (arg == "--seed" && i + 1 < argc) {
      seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--cam-tolerance") {
      camTolerance = true;
    } else if (arg == "--runs" && i + 1 < argc && runs == nullptr &&
               (runs = std::fopen(argv[++i], "w")) != nullptr) {
      continue;
    } else {
      std::fprintf(
          stderr,
          "usage: gouge_survey [--contours N] [--seed S] [--cam-tolerance] [--runs FILE]\n");
      return 2;
    }
  }
  std::mt19937_64 random(seed);  // fully specified: the same seed gives the same survey anywhere
  Tally tally[test::FAMILY_COUNT][2];
  for (long n = 0; n < contours;) {
    const auto family = static_cast<test::Family>(n % test::FAMILY_COUNT);
    std::vector<int> draws(200);
    for (int& draw : draws) {
      draw = static_cast<int>(random() % 1000);
    }
    Json program = test::MakeProgram(family, draws);
    if (!test::IsClean(program)) {
      continue;
    }
    ++n;
    for (int mode = 0; mode < 2; ++mode) {
      program["settings"]["evade"] = mode == 1;
      if (camTolerance) {
        program["settings"]["camTolerance"] = true;
      }
      Count(tally[family][mode], program, runs);
    }
  }
  std::printf(
      "gouge survey: %ld programs from seed %llu; gouge = closer than the radius by more\n"
      "than the given fraction of it (closed-form distances, path in progress vs contour)\n",
      contours, seed);
  for (int f = 0; f < test::FAMILY_COUNT; ++f) {
    const Tally(&t)[2] = tally[f];
    std::printf("\n%s\n", FAMILY_NAMES[f]);
    Row("", "evasion off", "evasion on");
    Row("completed", Percent(t[0].completed, t[0].runs), Percent(t[1].completed, t[1].runs));
    std::map<int, int> codes = t[0].refused;
    codes.insert(t[1].refused.begin(), t[1].refused.end());
    for (const auto& [code, count] : codes) {
      (void)count;
      const auto of = [code = code](const Tally& x) {
        const auto it = x.refused.find(code);
        return it == x.refused.end() ? 0 : it->second;
      };
      Row("refused, message " + std::to_string(code) + " (" +
              (code == 0 ? "silent" : crc::GetErrorGloss(code)) + ")",
          Percent(of(t[0]), t[0].runs), Percent(of(t[1]), t[1].runs));
    }
    Row("completed, path breaks (gap > 1e-6)", Percent(t[0].broken, t[0].completed),
        Percent(t[1].broken, t[1].completed));
    for (int k = 0; k < DEPTH_COUNT; ++k) {
      char label[64];
      std::snprintf(label, sizeof label, "completed, closer than r by > %g r", DEPTHS[k]);
      Row(label, Percent(t[0].gouged[k], t[0].completed), Percent(t[1].gouged[k], t[1].completed));
    }
    for (int mode = 0; mode < 2; ++mode) {
      if (t[mode].deepest > DEPTHS[0]) {
        std::printf("deepest gouge, evasion %s: %.3g r in\n%s\n", mode == 0 ? "off" : "on",
                    t[mode].deepest, t[mode].deepestProgram.dump().c_str());
      }
    }
  }
  if (runs != nullptr) {
    std::fclose(runs);
  }
  return tally[0][0].runs > 0 ? 0 : 1;
}
