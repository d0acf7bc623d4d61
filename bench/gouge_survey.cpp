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
// Every completed path goes through the library's gouge audit, as a host would run it: the
// whole contour (start-up and cancel moves included, which the audit does not take as walls),
// then every piece of the path (start-up, cancel and inserted lines included), with a
// tolerance of 1e-6 mm. The depth of a program is that of its deepest gouge, as a fraction of
// the radius; the audit's distances are exact closed forms. Each path is audited twice: with the
// tool's side and radius on the contour, as the command-line tool gives them (the audit then
// decides which stretches bound the part), and with every segment in progress a wall; programs
// clean only the first way are counted and the first is printed, to be judged by hand. The deepest
// gouge of each mode is printed as a program, to replay through the audit's contour runner once its
// depths are worked out by hand.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <crc/crc.h>

#include "fixture.h"
#include "program_generator.h"

namespace {

using namespace cutcomp;
using cutcomp::test::Json;

// Depths as a fraction of the radius, upper bounds of the distribution's bins: what a joint
// taken as smooth can cut (it turns by less than acos(1 - 0.0019)); a gouge anyone would see;
// half the cutter; the whole cutter (the tool centre on the wall).
constexpr double DEPTHS[] = {2e-3, 1e-1, 0.5, 1.0};
constexpr int DEPTH_COUNT = 4;
constexpr double TOLERANCE = 1e-6;  // mm: contact, not a gouge
const char* const FAMILY_NAMES[] = {"outline", "steps"};

// The deepest gouge of the completed path as a fraction of the radius (0 when there is none):
// over the pieces in progress (offset segments and the lines inserted at their corners), and
// over the moves to and from the contour (start-up, cancel and positioning lines, which run
// as programmed). NaN when the audit refused the contour or a piece.
struct Depths {
  double inProgress = 0.0;
  double startOrCancel = 0.0;
};

// `rules`: the contour carries the tool's side and the radius, so that the audit decides which
// stretches bound the part (leads, roughing walls); without, every segment in progress is a wall.
Depths DeepestGouges(const Json& program, const std::vector<PathPiece>& path, bool rules) {
  crc::CGougeAudit audit(TOLERANCE);
  std::int64_t id = 0;
  const double signedRadius = program["settings"]["radius"].get<double>();
  for (const Json& s : program["segments"]) {
    const std::string phase = s["phase"];
    const auto node = test::MakeSegment(s);
    const Curve c = ProgrammedCurve(*node);
    crc::ContourSegment segment{{c.arc, c.from, c.to, c.centre, c.ccw, c.fullCircle},
                                id++,
                                phase == "S"   ? crc::CRC_STATUS_ESTABLISH
                                : phase == "R" ? crc::CRC_STATUS_RETRACT
                                               : crc::CRC_STATUS_DOING,
                                s.value("locate", false)};
    if (rules) {
      const crc::crc_dir_t dir = node->GetCrcDirType();
      segment.side = signedRadius >= 0.0        ? dir
                     : dir == crc::CRC_DIR_LEFT ? crc::CRC_DIR_RIGHT
                                                : crc::CRC_DIR_LEFT;
      segment.radius = std::fabs(signedRadius);
    }
    if (!audit.AddSegment(segment)) {
      return {NAN, NAN};
    }
  }
  const double radius = std::fabs(program["settings"]["radius"].get<double>());
  Depths depths;
  std::vector<crc::Gouge> gouges;
  for (const PathPiece& piece : path) {
    if (piece.dropped || (piece.offsetUnset && !piece.inserted)) {
      continue;
    }
    const Curve& t = piece.tool;
    const crc::ToolPiece tool{
        {t.arc, t.from, t.to, t.centre, t.ccw, t.fullCircle}, radius, piece.id};
    gouges.clear();
    if (!audit.AuditPiece(tool, nullptr, &gouges)) {
      return {NAN, NAN};
    }
    double& deepest = piece.phase == crc::CRC_STATUS_DOING && !piece.locate ? depths.inProgress
                                                                            : depths.startOrCancel;
    for (const crc::Gouge& g : gouges) {
      deepest = std::max(deepest, g.depth / radius);
    }
  }
  return depths;
}

struct Tally {
  int runs = 0;
  int completed = 0;
  int broken = 0;
  std::map<int, int> refused;  // message number -> count
  int unaudited = 0;
  int gouging = 0;               // anywhere
  int onlyStartOrCancel = 0;     // only by start-up or cancel moves
  int inProgress = 0;            // by a piece in progress
  int depths[DEPTH_COUNT] = {};  // programs whose deepest gouge in progress falls in each bin
  // Programs whose verdict the wall rules change (gouging with every segment a wall, clean with
  // the rules deciding which bound the part), and the first of them.
  int released = 0;
  Json releasedProgram;
  int changed = 0;  // programs whose deepest gouges the rules change at all
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
  const Depths found = DeepestGouges(program, outcome.path, true);
  const Depths allWalls = DeepestGouges(program, outcome.path, false);
  const double depth = found.inProgress;
  const bool gougesWithAllWalls = allWalls.inProgress > 0.0 || allWalls.startOrCancel > 0.0;
  tally.changed += allWalls.inProgress != found.inProgress ||  // exact: the same measure
                           allWalls.startOrCancel != found.startOrCancel
                       ? 1
                       : 0;
  if (gougesWithAllWalls && !(found.inProgress > 0.0 || found.startOrCancel > 0.0)) {
    if (tally.released++ == 0) {
      tally.releasedProgram = program;
    }
  }
  if (std::isnan(depth)) {
    ++tally.unaudited;
    return;
  }
  tally.gouging += depth > 0.0 || found.startOrCancel > 0.0 ? 1 : 0;
  tally.onlyStartOrCancel += depth == 0.0 && found.startOrCancel > 0.0 ? 1 : 0;
  if (depth > 0.0) {
    ++tally.inProgress;
    int bin = 0;
    while (bin + 1 < DEPTH_COUNT && depth > DEPTHS[bin]) {
      ++bin;
    }
    ++tally.depths[bin];
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
      "gouge survey: %ld programs from seed %llu; every completed path through the gouge audit\n"
      "(whole path against the whole contour, tolerance 1e-6 mm); depths in radii\n",
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
    Row("completed, the audit refused it", Percent(t[0].unaudited, t[0].completed),
        Percent(t[1].unaudited, t[1].completed));
    Row("completed, gouging (deeper than 1e-6 mm)", Percent(t[0].gouging, t[0].completed),
        Percent(t[1].gouging, t[1].completed));
    Row("  only by start-up, cancel or positioning",
        Percent(t[0].onlyStartOrCancel, t[0].completed),
        Percent(t[1].onlyStartOrCancel, t[1].completed));
    Row("  by the path in progress", Percent(t[0].inProgress, t[0].completed),
        Percent(t[1].inProgress, t[1].completed));
    Row("  clean only by the wall rules", Percent(t[0].released, t[0].completed),
        Percent(t[1].released, t[1].completed));
    Row("  deepest gouges changed by the wall rules", Percent(t[0].changed, t[0].completed),
        Percent(t[1].changed, t[1].completed));
    for (int k = 0; k < DEPTH_COUNT; ++k) {
      char label[64];
      std::snprintf(label, sizeof label, "    deepest in progress %g r to %g r",
                    k == 0 ? 0.0 : DEPTHS[k - 1], DEPTHS[k]);
      Row(label, Percent(t[0].depths[k], t[0].completed), Percent(t[1].depths[k], t[1].completed));
    }
    for (int mode = 0; mode < 2; ++mode) {
      if (t[mode].released > 0) {
        std::printf("clean only by the wall rules, evasion %s, the first:\n%s\n",
                    mode == 0 ? "off" : "on", t[mode].releasedProgram.dump().c_str());
      }
      if (t[mode].deepest > 0.0) {
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
