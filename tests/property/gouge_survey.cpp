// SPDX-License-Identifier: MIT
// Survey over generated contours, evasion off and on: how often the engine refuses a contour (by
// message number), and how often a completed tool path comes closer to the contour than the cutter.
//
// Usage: gouge_survey [--contours N] [--seed FIRST] [--examples K]
//        gouge_survey --case FAMILY SEED
// --examples K lists, per mode, the first K cases that gouge deeper than a joint taken as smooth
// can; --case prints one case's fixture and what each mode made of it.
//
// Each gouge is put down to its first cause: an offset piece that runs backwards, a closest
// approach to a segment two or more places away in the program (beyond what the corner and the
// look-behind see), a depth within what the smooth-joint rule allows, or something else.
//
// The closest approach of a completed path is exact up to rounding: every piece of the path in
// progress (the offset segments and the lines inserted at their corners, not the start-up and
// cancel moves, whose course the host's start and end points decide) is measured against every
// programmed segment in progress by the closed-form distance between bounded lines and arcs.
// A path gouges when it comes closer than the radius by more than 1e-6 * radius.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "contour_generator.h"
#include "property_path.h"

namespace cutcomp::property {
namespace {

constexpr Family FAMILIES[] = {Family::POLYGON,         Family::STAR,  Family::ROUNDED_RECT,
                               Family::MIXED,           Family::CHAIN, Family::CHAMFERED,
                               Family::SHORT_STEP_CHAIN};
constexpr std::size_t FAMILY_COUNT = sizeof(FAMILIES) / sizeof(FAMILIES[0]);
// Depths (as a fraction of the radius) by which a completed path may come too close: the first
// is the detection threshold; 2e-3 lies just beyond what a joint the engine takes as smooth can
// cause (it turns by less than acos(1 - 0.0019), and cuts into the contour by at most 0.0019 r);
// 0.1 r is a gouge anyone would see on the part.
constexpr double DEPTHS[] = {1e-6, 2e-3, 1e-1};
constexpr std::size_t DEPTH_COUNT = sizeof(DEPTHS) / sizeof(DEPTHS[0]);

struct Approach {
  double distance = INFINITY;
  std::size_t piece = 0;
  std::size_t segment = 0;
};

Approach ClosestApproach(const Case& c, const Outcome& outcome) {
  Approach best;
  for (std::size_t i = 0; i < outcome.path.size(); ++i) {
    const Piece& piece = outcome.path[i];
    if (piece.phase != crc::CRC_STATUS_DOING) {
      continue;
    }
    for (std::size_t j = 0; j < c.segments.size(); ++j) {
      if (c.segments[j].phase != crc::CRC_STATUS_DOING) {
        continue;
      }
      const double d = Distance(piece, c.segments[j]);
      if (d < best.distance) {
        best = {d, i, j};
      }
    }
  }
  return best;
}

constexpr double TWO_PI = 6.28318530717958647692;

double SweepOf(const Point& centre, const Point& from, const Point& to, bool ccw) {
  const double a = std::atan2(from.y - centre.y, from.x - centre.x);
  const double b = std::atan2(to.y - centre.y, to.x - centre.x);
  double sweep = std::fmod(ccw ? b - a : a - b, TWO_PI);
  return sweep < 0.0 ? sweep + TWO_PI : sweep;
}

// A piece of a segment in progress that runs against its programmed direction: a line whose
// offset chord points backwards, or an arc whose offset sweeps further than the programmed arc
// (trimmed past its own end, it wraps round the circle).
bool RunsBackwards(const Case& c, const Piece& piece) {
  if (piece.inserted || piece.phase != crc::CRC_STATUS_DOING) {
    return false;
  }
  const Segment& s = c.segments[static_cast<std::size_t>(piece.id)];
  if (!piece.arc) {
    const Point v = s.to - s.from;
    const Point w = piece.to - piece.from;
    return v.x * w.x + v.y * w.y < 0.0;
  }
  if ((piece.to - piece.from).GetLength() < 1e-9) {
    return false;
  }
  return SweepOf(piece.centre, piece.from, piece.to, piece.ccw) >
         SweepOf(s.centre, s.from, s.to, s.ccw) + 1e-9;
}

// Why a completed path gouges, first match wins.
enum Cause {
  CAUSE_BACKWARDS,  // some offset piece runs backwards
  CAUSE_DISTANT,    // the closest approach is to a segment two or more places away in the program
  CAUSE_SHALLOW,    // no deeper than a joint taken as smooth can cut (0.0019 r)
  CAUSE_OTHER,
  CAUSE_COUNT
};
const char* const CAUSE_NAMES[CAUSE_COUNT] = {
    "  an offset piece runs backwards", "  else closest to a segment 2+ places away",
    "  else no deeper than 0.0019 r (smooth joint)", "  else other"};

Cause CauseOf(const Case& c, const Outcome& outcome, const Approach& closest, double depth) {
  for (const Piece& piece : outcome.path) {
    if (RunsBackwards(c, piece)) {
      return CAUSE_BACKWARDS;
    }
  }
  // A corner line is inserted before the segment it was made for: it lies between that segment
  // and the one before.
  const Piece& piece = outcome.path[closest.piece];
  const std::int64_t near = static_cast<std::int64_t>(closest.segment);
  const bool adjacent = piece.inserted ? (near == piece.id || near == piece.id - 1)
                                       : (near >= piece.id - 1 && near <= piece.id + 1);
  if (!adjacent) {
    return CAUSE_DISTANT;
  }
  return depth <= 0.0019 ? CAUSE_SHALLOW : CAUSE_OTHER;
}

struct Example {
  Family family;
  std::uint64_t seed;
  double depth;  // fraction of the radius
  Cause cause;
};

struct Tally {
  int runs = 0;
  int completed = 0;
  std::map<int, int> refused;  // message number -> count
  int gouged[DEPTH_COUNT] = {};
  double deepest = 0.0;
  Example deepestCase{Family::POLYGON, 0, 0.0, CAUSE_OTHER};
  std::vector<Example> examples;
  int familyRuns[FAMILY_COUNT] = {};
  int familyCompleted[FAMILY_COUNT] = {};
  int familyGouged[FAMILY_COUNT] = {};
  int causes[CAUSE_COUNT] = {};
  int broken = 0;  // completed paths with a gap
};

void Count(Tally& tally, std::size_t familyIndex, const Case& c, std::size_t maxExamples) {
  const Outcome outcome = RunCase(c);
  ++tally.runs;
  ++tally.familyRuns[familyIndex];
  if (!outcome.ok) {
    ++tally.refused[outcome.code];
    return;
  }
  ++tally.completed;
  ++tally.familyCompleted[familyIndex];
  tally.broken += FirstBreak(outcome.path, 1e-6) >= 0 ? 1 : 0;
  const Approach closest = ClosestApproach(c, outcome);
  const double depth = (c.radius - closest.distance) / c.radius;
  if (depth <= DEPTHS[0]) {
    return;
  }
  ++tally.familyGouged[familyIndex];
  const Cause cause = CauseOf(c, outcome, closest, depth);
  ++tally.causes[cause];
  for (std::size_t k = 0; k < DEPTH_COUNT; ++k) {
    tally.gouged[k] += depth > DEPTHS[k] ? 1 : 0;
  }
  if (depth > tally.deepest) {
    tally.deepest = depth;
    tally.deepestCase = {c.family, c.seed, depth, cause};
  }
  if (depth > DEPTHS[1] && tally.examples.size() < maxExamples) {
    tally.examples.push_back({c.family, c.seed, depth, cause});
  }
}

std::string Percent(int part, int whole) {
  char text[64];
  std::snprintf(text, sizeof text, "%d (%.1f%%)", part, whole > 0 ? 100.0 * part / whole : 0.0);
  return text;
}

void Row(const char* label, const std::string& off, const std::string& on) {
  std::printf("%-48s %-18s %-18s\n", label, off.c_str(), on.c_str());
}

void PrintTable(const Tally (&tally)[2]) {
  Row("", "evasion off", "evasion on");
  Row("contours run", std::to_string(tally[0].runs), std::to_string(tally[1].runs));
  Row("completed", Percent(tally[0].completed, tally[0].runs),
      Percent(tally[1].completed, tally[1].runs));
  std::map<int, int> codes = tally[0].refused;
  codes.insert(tally[1].refused.begin(), tally[1].refused.end());
  for (const auto& entry : codes) {
    const int code = entry.first;
    const std::string label = "refused, message " + std::to_string(code) + " (" +
                              (code == 0 ? "silent" : crc::GetErrorGloss(code)) + ")";
    auto count = [code](const Tally& t) {
      const auto it = t.refused.find(code);
      return it == t.refused.end() ? 0 : it->second;
    };
    std::printf("%-48.48s %-18s %-18s\n", label.c_str(),
                Percent(count(tally[0]), tally[0].runs).c_str(),
                Percent(count(tally[1]), tally[1].runs).c_str());
  }
  Row("completed, path breaks (gap > 1e-6)", Percent(tally[0].broken, tally[0].completed),
      Percent(tally[1].broken, tally[1].completed));
  for (std::size_t k = 0; k < DEPTH_COUNT; ++k) {
    char label[64];
    std::snprintf(label, sizeof label, "completed, closer than r by > %g r", DEPTHS[k]);
    Row(label, Percent(tally[0].gouged[k], tally[0].completed),
        Percent(tally[1].gouged[k], tally[1].completed));
    for (int cause = 0; k == 0 && cause < CAUSE_COUNT; ++cause) {
      Row(CAUSE_NAMES[cause], Percent(tally[0].causes[cause], tally[0].completed),
          Percent(tally[1].causes[cause], tally[1].completed));
    }
  }
  auto deepest = [](const Tally& t) {
    char text[96];
    std::snprintf(text, sizeof text, "%.3g r", t.deepest);
    return std::string(text);
  };
  Row("deepest gouge", deepest(tally[0]), deepest(tally[1]));
  std::printf("\n%-18s %-26s %-26s\n", "family", "completed off / on", "gouged off / on");
  for (std::size_t f = 0; f < FAMILY_COUNT; ++f) {
    char done[64];
    char gouged[64];
    std::snprintf(done, sizeof done, "%d / %d of %d", tally[0].familyCompleted[f],
                  tally[1].familyCompleted[f], tally[0].familyRuns[f]);
    std::snprintf(gouged, sizeof gouged, "%d / %d", tally[0].familyGouged[f],
                  tally[1].familyGouged[f]);
    std::printf("%-18s %-26s %-26s\n", FamilyName(FAMILIES[f]), done, gouged);
  }
  for (int mode = 0; mode < 2; ++mode) {
    const Tally& t = tally[mode];
    if (t.deepest > 0.0) {
      std::printf("\nevasion %s: deepest gouge in %s seed %llu (--case %s %llu)\n",
                  mode == 0 ? "off" : "on", FamilyName(t.deepestCase.family),
                  static_cast<unsigned long long>(t.deepestCase.seed),
                  FamilyName(t.deepestCase.family),
                  static_cast<unsigned long long>(t.deepestCase.seed));
    }
    for (const Example& e : t.examples) {
      std::printf("  gouge %.3g r: --case %s %llu (%s)\n", e.depth, FamilyName(e.family),
                  static_cast<unsigned long long>(e.seed), CAUSE_NAMES[e.cause] + 2);
    }
  }
}

int ShowCase(const char* familyName, std::uint64_t seed) {
  for (Family family : FAMILIES) {
    if (std::strcmp(FamilyName(family), familyName) != 0) {
      continue;
    }
    GeneratorOptions options;
    options.avoidNearTangent = false;
    Case c = Generate(seed, family, options);
    for (bool evade : {false, true}) {
      c.evade = evade;
      std::printf("%s", ToFixture(c).c_str());
      const Outcome outcome = RunCase(c);
      if (!outcome.ok) {
        std::printf("refused at segment %lld with message %d (%s)\n\n",
                    static_cast<long long>(outcome.failedId), outcome.code,
                    crc::GetErrorGloss(outcome.code));
        continue;
      }
      for (const Piece& piece : outcome.path) {
        std::printf("  %s\n", Describe(piece).c_str());
      }
      const Approach closest = ClosestApproach(c, outcome);
      std::printf("dropped %d; closest approach %.17g (radius %.17g)", outcome.dropped,
                  closest.distance, c.radius);
      if (closest.distance < INFINITY) {
        std::printf(": piece %zu to segment %zu", closest.piece, closest.segment);
      }
      std::printf("\n\n");
    }
    return 0;
  }
  std::fprintf(stderr, "unknown family %s\n", familyName);
  return 2;
}

}  // namespace
}  // namespace cutcomp::property

int main(int argc, char** argv) {
  using namespace cutcomp::property;
  long contours = 3500;
  std::uint64_t first = 1;
  std::size_t examples = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--contours" && i + 1 < argc) {
      contours = std::strtol(argv[++i], nullptr, 10);
    } else if (arg == "--seed" && i + 1 < argc) {
      first = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--examples" && i + 1 < argc) {
      examples = std::strtoul(argv[++i], nullptr, 10);
    } else if (arg == "--case" && i + 2 < argc) {
      return ShowCase(argv[i + 1], std::strtoull(argv[i + 2], nullptr, 10));
    } else {
      std::fprintf(stderr,
                   "usage: gouge_survey [--contours N] [--seed FIRST] [--examples K]\n"
                   "       gouge_survey --case FAMILY SEED\n");
      return 2;
    }
  }
  // The contours are taken as generated: joints that turn by a hair are kept, since the engine
  // treats them as smooth and that is part of what the survey measures.
  GeneratorOptions options;
  options.avoidNearTangent = false;
  Tally tally[2];
  for (long n = 0; n < contours; ++n) {
    const std::size_t f = static_cast<std::size_t>(n) % FAMILY_COUNT;
    const std::uint64_t seed = first + static_cast<std::uint64_t>(n) / FAMILY_COUNT;
    Case c = Generate(seed, FAMILIES[f], options);
    for (int mode = 0; mode < 2; ++mode) {
      c.evade = mode == 1;
      Count(tally[mode], f, c, examples);
    }
  }
  std::printf(
      "gouge survey: %ld contours, seeds from %llu; gouge = closer than the radius by\n"
      "more than 1e-6 r (closed-form distances, path in progress vs contour)\n\n",
      contours, static_cast<unsigned long long>(first));
  PrintTable(tally);
  // The survey reports; it fails only when nothing could be measured.
  return tally[0].runs > 0 ? 0 : 1;
}
