// SPDX-License-Identifier: MIT
// Survey of the gouge-free path (crc/avoid/gouge_free.h) over generated programs: how many the
// engine compensates cleanly today, how many it refuses or the audit holds back, and how many
// are written with the gouge-free path; every written path checked for clearance by this file's
// own closed forms (not the audit's code); the engine's clean paths compared bit for bit with
// what the extension hands back; and the cost per programmed segment of the engine and of the
// extension on the runs that need it. A measurement, not a test: it fails only when nothing
// could be measured.
//
// Usage: avoid_survey [--programs N] [--seed S] [--property N] [--cam DIR] [--tolerance T]
//                     [--family NAME] [--show]
//
//   --programs N  programs of the survey's own families (bench/avoid_programs.h), 700 by default
//   --property N  programs of the property tests' two families (the gouge survey's), 0 by default
//   --cam DIR     the CAM-like programs generate.py wrote into DIR, chords fitted within 0.005 mm
//                 as the command-line tool fits them
//   --family NAME only the survey's own family NAME (the others are drawn all the same)
//   --show        prints the first program of each family the extension refuses, and the first
//                 written path that fails the clearance check
//
// The clearance check samples every piece of a written path at a quarter of the tolerance and
// measures each sample's exact distance to every wall within reach (every segment in progress
// that is not a positioning line: none of these programs has leads or later passes, which the
// audit would take as no walls). A sample can miss the closest approach by half a step, so a
// path is counted as closer than radius - tolerance only where a sample is. Two allowances of
// the audit are read from its documentation and applied here by this file's own geometry: the
// notch a start-up or cancel move cuts just behind the wall it leads onto or off (at the wall's
// first or last point), and the engine's cut at a joint it takes as smooth (up to 0.0019 r
// beyond the tolerance, against the piece's own wall or its neighbours); paths that need either
// are counted apart.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include <crc/crc.h>
#include <crc/host/list_host.h>
#include <crc/host/tool_path.h>

#include "avoid_programs.h"
#include "cam_program.h"
#include "fixture.h"
#include "program_generator.h"

namespace {

using avoidbench::Point;
using crc::ContourSegment;
using crc::Curve;

// A program as the survey runs it: the run and the engine's settings.
struct Case {
  std::string family;
  std::vector<ContourSegment> run;
  double radius = 0.0;  // signed, as the engine is given it
  crc::GougeFreeSettings settings;
};

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

std::unique_ptr<crc::CCrcNode> NodeOf(const ContourSegment& s, double radius) {
  // The side the engine is given: the tool's, swapped back for a negative radius.
  const crc::crc_dir_t side = radius >= 0.0 || s.side == crc::CRC_DIR_NONE ? s.side
                              : s.side == crc::CRC_DIR_LEFT                ? crc::CRC_DIR_RIGHT
                                                                           : crc::CRC_DIR_LEFT;
  const Curve& c = s.curve;
  if (!c.arc) {
    return std::make_unique<crc::CCrcLine>(c.from, c.to, s.phase, side, s.locate);
  }
  const double r = (c.from - c.centre).GetLength();
  if (c.fullCircle) {
    double start = std::atan2(c.from.y - c.centre.y, c.from.x - c.centre.x);
    start = start < 0.0 ? start + 2.0 * crc::PI : start;
    return std::make_unique<crc::CCrcArc>(c.centre, start, 2.0 * crc::PI, r, c.ccw, s.phase, side);
  }
  return std::make_unique<crc::CCrcArc>(c.centre, c.from, c.to, r, c.ccw, s.phase, side);
}

// The engine through the list host, as the command-line tool runs it.
cutcomp::HostRun RunEngine(const Case& c, double* seconds) {
  std::vector<std::unique_ptr<crc::CCrcNode>> nodes;
  for (const ContourSegment& s : c.run) {
    nodes.push_back(NodeOf(s, c.radius));
  }
  crc::CCutterCompensator engine(c.radius, nullptr, c.settings.lookBehind, c.settings.strategy);
  engine.SetInterveneEvade(c.settings.evade);
  engine.SetCamTolerance(c.settings.camTolerance);
  engine.SetCrcPreRetractOption(c.settings.preRetractOption);
  const double t0 = CpuSeconds();
  cutcomp::HostRun run = cutcomp::RunProgram(engine, std::move(nodes));
  *seconds = CpuSeconds() - t0;
  return run;
}

// ---- The clearance check: this file's own geometry ----------------------------------------

double Dot(const Point& a, const Point& b) { return a.x * b.x + a.y * b.y; }

struct Clearance {
  double margin = HUGE_VAL;  // least clearance - (radius - tolerance) over every sample, in radii
  bool close = false;        // some sample closer than radius - tolerance, no allowance applies
  bool smooth = false;       // some sample needs the smooth-joint allowance
  bool exempt = false;       // some sample needs the start-up and cancel allowance
  std::string where;
};

class WallGrid {
public:
  WallGrid(const std::vector<ContourSegment>& run, double reach) : m_Reach(reach) {
    for (std::size_t k = 0; k < run.size(); ++k) {
      if (run[k].phase != crc::CRC_STATUS_DOING || run[k].locate) {
        continue;  // no wall
      }
      double x0 = 0.0;
      double y0 = 0.0;
      double x1 = 0.0;
      double y1 = 0.0;
      avoidbench::BoundsOf(run[k].curve, x0, y0, x1, y1);
      for (long gx = Cell(x0 - reach); gx <= Cell(x1 + reach); ++gx) {
        for (long gy = Cell(y0 - reach); gy <= Cell(y1 + reach); ++gy) {
          m_Cells[Key(gx, gy)].push_back(k);
        }
      }
    }
  }
  const std::vector<std::size_t>& Near(const Point& p) const {
    static const std::vector<std::size_t> none;
    const auto found = m_Cells.find(Key(Cell(p.x), Cell(p.y)));
    return found == m_Cells.end() ? none : found->second;
  }

private:
  long Cell(double v) const { return static_cast<long>(std::floor(v / m_Reach)); }
  static std::uint64_t Key(long x, long y) {
    return static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ULL ^ static_cast<std::uint64_t>(y);
  }
  double m_Reach;
  std::unordered_map<std::uint64_t, std::vector<std::size_t>> m_Cells;
};

Point TangentAt(const Curve& c, bool atEnd) {
  if (!c.arc) {
    const Point d = c.to - c.from;
    return d * (1.0 / d.GetLength());
  }
  const Point v = (atEnd ? c.to : c.from) - c.centre;
  const Point t = c.ccw ? Point(-v.y, v.x) : Point(v.y, -v.x);
  return t * (1.0 / t.GetLength());
}

Clearance CheckPath(const std::vector<ContourSegment>& run,
                    const std::vector<crc::GougeFreePiece>& path, double r, double tolerance) {
  Clearance result;
  const WallGrid walls(run, r);
  // A wall is a segment in progress that is not a positioning line; a straight piece of any
  // other segment leads onto the wall right after it (at its first point) and off the wall right
  // before it (at its last point).
  const auto isWall = [&](std::size_t k) {
    return k < run.size() && run[k].phase == crc::CRC_STATUS_DOING && !run[k].locate;
  };
  const double step = 0.25 * tolerance;
  for (const crc::GougeFreePiece& piece : path) {
    const double length = avoidbench::LengthOf(piece.tool);
    const long samples = std::max(1L, static_cast<long>(std::ceil(length / step)));
    const auto own = static_cast<std::size_t>(piece.id);
    const bool attaches = !piece.tool.arc && own < run.size() && !isWall(own);
    for (long m = 0; m <= samples; ++m) {
      const Point q = avoidbench::PointOn(piece.tool, static_cast<double>(m) / samples);
      for (const std::size_t k : walls.Near(q)) {
        const Curve& wall = run[k].curve;
        const double d = avoidbench::DistanceTo(q, wall);
        const double margin = d - (r - tolerance);
        if (margin >= 0.0) {
          result.margin = std::min(result.margin, margin / r);
          continue;
        }
        // A move that is no wall attached to the wall before or after it, behind the point it
        // attaches at, that point the nearest of the wall, both of the move's ends clear of it.
        if (attaches && (k == own + 1 || k + 1 == own)) {
          const bool lead = k == own + 1;
          const Point a = lead ? wall.from : wall.to;
          const Point t = TangentAt(wall, !lead);
          const bool behind = lead ? Dot(q - a, t) <= 0.0 : Dot(q - a, t) >= 0.0;
          const bool nearest = (q - a).GetLength() <= d + 1e-12 * (1.0 + r);
          const bool endsClear = (piece.tool.from - a).GetLength() >= r - tolerance &&
                                 (piece.tool.to - a).GetLength() >= r - tolerance;
          if (behind && nearest && endsClear) {
            result.exempt = true;
            continue;
          }
        }
        // The engine's cut at a joint it takes as smooth, against the piece's own wall or its
        // neighbours.
        const std::int64_t gap = run[k].id - piece.id;
        if (gap >= -1 && gap <= 1 && r - d <= 0.0019 * r + tolerance) {
          result.smooth = true;
          continue;
        }
        result.margin = std::min(result.margin, margin / r);
        if (!result.close) {
          char text[160];
          std::snprintf(text, sizeof text, "block %lld at (%.6g, %.6g) comes %.6g from block %lld",
                        static_cast<long long>(piece.id), q.x, q.y, d,
                        static_cast<long long>(run[k].id));
          result.where = text;
        }
        result.close = true;
      }
    }
  }
  return result;
}

// ---- Tallies ---------------------------------------------------------------------------------

struct Tally {
  int programs = 0;
  long segments = 0;
  int cleanToday = 0;
  std::map<int, int> refusedToday;  // engine message -> programs
  int heldToday = 0;                // completed, but the audit finds a gouge
  int writtenUnchanged = 0;
  int writtenAvoiding = 0;
  std::map<std::string, int> refused;  // the extension's refusals, by kind
  std::map<std::string, std::string> refusedExample;
  int withMaterial = 0;
  int places = 0;
  double deepest = 0.0;  // in radii
  std::string deepestExample;
  int close = 0;
  int smooth = 0;
  int exempt = 0;
  double margin = HUGE_VAL;
  std::string closeExample;
  int identical = 0;
  int differing = 0;
  double engineSeconds = 0.0;
  long engineSegments = 0;
  double avoidSeconds = 0.0;  // runs that needed the extension
  long avoidSegments = 0;
  double cleanSeconds = 0.0;  // the extension on runs the engine compensates cleanly
  long cleanSegments = 0;
};

std::string RefusalKind(const std::string& error) {
  for (const char* kind : {"starts within", "ends within", "cannot pass", "engine refuses",
                           "positioning move", "after all"}) {
    if (error.find(kind) != std::string::npos) {
      return kind;
    }
  }
  return "other: " + error.substr(0, 60);
}

std::string Describe(const Case& c) {
  std::ostringstream out;
  out.precision(17);
  const char* const strategies[] = {"normal", "intersect", "insert"};
  out << "{\"settings\": {\"radius\": " << c.radius << ", \"tolerance\": " << c.settings.tolerance
      << ", \"strategy\": \"" << strategies[c.settings.strategy]
      << "\", \"evade\": " << (c.settings.evade ? "true" : "false")
      << ", \"preRetract\": " << c.settings.preRetractOption << "}, \"segments\": [";
  for (std::size_t k = 0; k < c.run.size(); ++k) {
    const ContourSegment& s = c.run[k];
    const Curve& v = s.curve;
    out << (k > 0 ? ",\n  " : "\n  ");
    if (v.arc) {
      out << "{\"arc\": {\"centre\": [" << v.centre.x << ", " << v.centre.y << "], \"from\": ["
          << v.from.x << ", " << v.from.y << "], \"to\": [" << v.to.x << ", " << v.to.y
          << "], \"sense\": \"" << (v.ccw ? "ccw" : "cw") << "\"}";
    } else {
      out << "{\"line\": [[" << v.from.x << ", " << v.from.y << "], [" << v.to.x << ", " << v.to.y
          << "]]";
    }
    out << ", \"phase\": \""
        << (s.phase == crc::CRC_STATUS_ESTABLISH ? "S"
            : s.phase == crc::CRC_STATUS_RETRACT ? "R"
                                                 : "D")
        << "\", \"side\": \"" << (s.side == crc::CRC_DIR_RIGHT ? "R" : "L") << "\""
        << (s.locate ? ", \"locate\": true" : "") << "}";
  }
  out << "]}";
  return out.str();
}

void Count(Tally& tally, const Case& c, bool show) {
  ++tally.programs;
  tally.segments += static_cast<long>(c.run.size());
  const double r = std::fabs(c.radius);
  double engineSeconds = HUGE_VAL;
  cutcomp::HostRun today;
  for (int repeat = 0; repeat < 3; ++repeat) {
    double seconds = 0.0;
    today = RunEngine(c, &seconds);
    engineSeconds = std::min(engineSeconds, seconds);
  }
  tally.engineSeconds += engineSeconds;
  tally.engineSegments += static_cast<long>(c.run.size());

  crc::CGougeFreePath avoid(c.settings);
  crc::GougeFreeResult result;
  bool ok = false;
  double avoidSeconds = HUGE_VAL;
  for (int repeat = 0; repeat < 3; ++repeat) {
    const double t0 = CpuSeconds();
    ok = avoid.Compute(c.run, 0, c.run.size(), result);
    avoidSeconds = std::min(avoidSeconds, CpuSeconds() - t0);
  }
  if (result.engineCode != 0) {
    ++tally.refusedToday[result.engineCode];
  } else if (result.engineGouges > 0) {
    ++tally.heldToday;
  } else if (ok) {
    ++tally.cleanToday;
  }
  if (result.engineClean) {
    tally.cleanSeconds += avoidSeconds;
    tally.cleanSegments += static_cast<long>(c.run.size());
  } else {
    tally.avoidSeconds += avoidSeconds;
    tally.avoidSegments += static_cast<long>(c.run.size());
  }
  if (!ok) {
    const std::string kind = RefusalKind(avoid.GetLatestError());
    if (tally.refused[kind]++ == 0) {
      tally.refusedExample[kind] = avoid.GetLatestError() + (show ? "\n" + Describe(c) : "");
    }
    return;
  }
  (result.engineClean ? tally.writtenUnchanged : tally.writtenAvoiding) += 1;
  if (!result.left.empty()) {
    ++tally.withMaterial;
    tally.places += static_cast<int>(result.left.size());
    for (const crc::MaterialLeft& place : result.left) {
      if (place.depth / r > tally.deepest && show) {
        tally.deepestExample = Describe(c);
      }
      tally.deepest = std::max(tally.deepest, place.depth / r);
    }
  }
  const Clearance clearance = CheckPath(c.run, result.path, r, c.settings.tolerance);
  tally.margin = std::min(tally.margin, clearance.margin);
  tally.smooth += clearance.smooth ? 1 : 0;
  tally.exempt += clearance.exempt ? 1 : 0;
  if (clearance.close && tally.close++ == 0) {
    tally.closeExample = clearance.where + (show ? "\n" + Describe(c) : "");
  }
  if (result.engineClean) {
    // The engine's own path through the list host, piece for piece, bit for bit.
    std::vector<cutcomp::PathPiece> engine;
    for (const cutcomp::PathPiece& piece : cutcomp::ReadPath(today.segments)) {
      if (!piece.dropped && !(piece.offsetUnset && !piece.inserted)) {
        engine.push_back(piece);
      }
    }
    bool same = today.ok && engine.size() == result.path.size();
    for (std::size_t i = 0; same && i < engine.size(); ++i) {
      const Curve& a = engine[i].tool;
      const Curve& b = result.path[i].tool;
      // exact: the engine's numbers handed on
      same = a.arc == b.arc && a.from == b.from && a.to == b.to &&
             (!a.arc || (a.centre == b.centre && a.ccw == b.ccw));
    }
    (same ? tally.identical : tally.differing) += 1;
  }
}

std::string Percent(long part, long whole) {
  char text[64];
  std::snprintf(text, sizeof text, "%ld (%.1f%%)", part, whole > 0 ? 100.0 * part / whole : 0.0);
  return text;
}

void Print(const std::string& name, const Tally& t) {
  std::printf("\n%s: %d programs, %ld segments\n", name.c_str(), t.programs, t.segments);
  const auto row = [](const std::string& label, const std::string& value) {
    std::printf("  %-58s %s\n", label.c_str(), value.c_str());
  };
  row("today: compensated cleanly", Percent(t.cleanToday, t.programs));
  for (const auto& [code, count] : t.refusedToday) {
    row("today: refused, message " + std::to_string(code) + " (" + crc::GetErrorGloss(code) + ")",
        Percent(count, t.programs));
  }
  row("today: held back by the audit", Percent(t.heldToday, t.programs));
  const int written = t.writtenUnchanged + t.writtenAvoiding;
  row("avoiding: written", Percent(written, t.programs));
  row("  the engine's path, unchanged", Percent(t.writtenUnchanged, t.programs));
  row("  the gouge-free path", Percent(t.writtenAvoiding, t.programs));
  row("  with material left", Percent(t.withMaterial, t.programs));
  char text[96];
  std::snprintf(text, sizeof text, "%d; deepest %.3g r", t.places, t.deepest);
  row("  places where material is left", text);
  for (const auto& [kind, count] : t.refused) {
    row("avoiding: refused, " + kind, Percent(count, t.programs));
  }
  row("check: written paths closer than r - tol", Percent(t.close, written));
  row("check: paths needing the smooth-joint allowance", Percent(t.smooth, written));
  row("check: paths needing the allowance for moves onto a wall", Percent(t.exempt, written));
  std::snprintf(text, sizeof text, "%.3g r", t.margin);
  row("check: least clearance beyond r - tol, all written paths", text);
  row("clean today: handed back bit for bit", Percent(t.identical, t.identical + t.differing));
  std::snprintf(text, sizeof text, "%.0f ns",
                t.engineSegments > 0 ? 1e9 * t.engineSeconds / t.engineSegments : 0.0);
  row("cost: the engine (list host), per segment, every program", text);
  std::snprintf(text, sizeof text, "%.0f ns",
                t.avoidSegments > 0 ? 1e9 * t.avoidSeconds / t.avoidSegments : 0.0);
  row("cost: the extension on runs that need it, per segment", text);
  std::snprintf(text, sizeof text, "%.0f ns",
                t.cleanSegments > 0 ? 1e9 * t.cleanSeconds / t.cleanSegments : 0.0);
  row("cost: the extension on clean runs (engine + audit), per segment", text);
  for (const auto& [kind, example] : t.refusedExample) {
    std::printf("  first refused (%s): %s\n", kind.c_str(), example.c_str());
  }
  if (t.close > 0) {
    std::printf("  first too close: %s\n", t.closeExample.c_str());
  }
  if (!t.deepestExample.empty()) {
    std::printf("  deepest material left: %s\n", t.deepestExample.c_str());
  }
}

// The property tests' programs as runs.
Case FromJson(const nlohmann::json& program, double tolerance) {
  Case c;
  const auto& s = program["settings"];
  c.radius = s["radius"].get<double>();
  c.settings.tolerance = tolerance;
  c.settings.strategy = s["strategy"].get<crc::crc_t>();
  c.settings.lookBehind = s["lookBehind"].get<unsigned>();
  c.settings.evade = s["evade"].get<bool>();
  c.settings.preRetractOption = s["preRetract"].get<int>();
  std::int64_t id = 0;
  for (const auto& item : program["segments"]) {
    const auto node = cutcomp::test::MakeSegment(item);
    ContourSegment segment;
    segment.curve = cutcomp::ProgrammedCurve(*node);
    segment.id = id++;
    segment.phase = node->GetStatusType();
    segment.locate = item.value("locate", false);
    const crc::crc_dir_t dir = node->GetCrcDirType();
    segment.side = c.radius >= 0.0 || dir == crc::CRC_DIR_NONE ? dir
                   : dir == crc::CRC_DIR_LEFT                  ? crc::CRC_DIR_RIGHT
                                                               : crc::CRC_DIR_LEFT;
    segment.radius = std::fabs(c.radius);
    c.run.push_back(segment);
  }
  return c;
}

// A generated CAM program as a run: the start-up line, the fitted contour, the cancel line.
bool FromCam(const std::string& path, double radius, double tolerance, Case& c) {
  cam::Pass pass;
  if (!cam::ReadPass(path.c_str(), pass)) {
    return false;
  }
  c.radius = radius;
  c.settings.tolerance = tolerance;
  const auto add = [&](const Curve& curve, crc::crc_status_t phase) {
    ContourSegment s;
    s.curve = curve;
    s.id = static_cast<std::int64_t>(c.run.size());
    s.phase = phase;
    s.side = pass.side;
    s.radius = radius;
    c.run.push_back(s);
  };
  Curve lead;
  lead.from = pass.lead;
  lead.to = pass.start;
  add(lead, crc::CRC_STATUS_ESTABLISH);
  for (const cutcomp::FitPiece& piece : cam::FitPass(pass, 0.005, cutcomp::FIT_MAX_CHORD_MM)) {
    add(piece.curve, crc::CRC_STATUS_DOING);
  }
  Curve leave;
  leave.from = pass.contour.back();
  leave.to = pass.leave;
  add(leave, crc::CRC_STATUS_RETRACT);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  long programs = 700;
  long property = 0;
  unsigned long long seed = 1;
  double tolerance = 0.005;
  std::string camDir;
  bool show = false;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--programs" && i + 1 < argc) {
      programs = std::strtol(argv[++i], nullptr, 10);
    } else if (arg == "--property" && i + 1 < argc) {
      property = std::strtol(argv[++i], nullptr, 10);
    } else if (arg == "--seed" && i + 1 < argc) {
      seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--tolerance" && i + 1 < argc) {
      tolerance = std::strtod(argv[++i], nullptr);
    } else if (arg == "--cam" && i + 1 < argc) {
      camDir = argv[++i];
    } else if (arg == "--show") {
      show = true;
    } else if (arg == "--family" && i + 1 < argc) {
      only = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: avoid_survey [--programs N] [--seed S] [--property N] [--cam DIR] "
                   "[--tolerance T] [--family NAME] [--show]\n");
      return 2;
    }
  }
  std::printf(
      "gouge-free survey: seed %llu, tolerance %g; every written path checked by sampling at a\n"
      "quarter of the tolerance against every wall (this program's own distances)\n",
      seed, tolerance);
  Tally total;
  const auto add = [&](Tally& into, const Tally& t) {
    into.programs += t.programs;
    into.segments += t.segments;
    into.cleanToday += t.cleanToday;
    for (const auto& [k, v] : t.refusedToday) {
      into.refusedToday[k] += v;
    }
    into.heldToday += t.heldToday;
    into.writtenUnchanged += t.writtenUnchanged;
    into.writtenAvoiding += t.writtenAvoiding;
    for (const auto& [k, v] : t.refused) {
      into.refused[k] += v;
    }
    into.withMaterial += t.withMaterial;
    into.places += t.places;
    into.deepest = std::max(into.deepest, t.deepest);
    into.close += t.close;
    into.smooth += t.smooth;
    into.exempt += t.exempt;
    into.margin = std::min(into.margin, t.margin);
    into.identical += t.identical;
    into.differing += t.differing;
    into.engineSeconds += t.engineSeconds;
    into.engineSegments += t.engineSegments;
    into.avoidSeconds += t.avoidSeconds;
    into.avoidSegments += t.avoidSegments;
    into.cleanSeconds += t.cleanSeconds;
    into.cleanSegments += t.cleanSegments;
  };

  std::mt19937_64 random(seed);  // fully specified: the same seed gives the same survey anywhere
  Tally families[avoidbench::FAMILY_COUNT];
  for (long n = 0; n < programs; ++n) {
    const auto family = static_cast<avoidbench::Family>(n % avoidbench::FAMILY_COUNT);
    const avoidbench::Program program = avoidbench::MakeProgram(family, random);
    if (!only.empty() && only != avoidbench::FAMILY_NAMES[family]) {
      continue;
    }
    Case c;
    c.family = avoidbench::FAMILY_NAMES[family];
    c.run = program.run;
    c.radius = program.radius;
    c.settings.tolerance = tolerance;
    Count(families[family], c, show);
  }
  Tally population;
  for (int f = 0; f < avoidbench::FAMILY_COUNT; ++f) {
    if (families[f].programs > 0) {
      Print(avoidbench::FAMILY_NAMES[f], families[f]);
      add(population, families[f]);
    }
  }
  if (population.programs > 0) {
    Print("all of the survey's own families", population);
    add(total, population);
  }

  if (property > 0) {
    Tally byFamily[cutcomp::test::FAMILY_COUNT];
    std::mt19937_64 draws(seed);
    for (long n = 0; n < property;) {
      const auto family = static_cast<cutcomp::test::Family>(n % cutcomp::test::FAMILY_COUNT);
      std::vector<int> d(200);
      for (int& v : d) {
        v = static_cast<int>(draws() % 1000);
      }
      const nlohmann::json program = cutcomp::test::MakeProgram(family, d);
      if (!cutcomp::test::IsClean(program)) {
        continue;
      }
      ++n;
      Count(byFamily[family], FromJson(program, tolerance), show);
    }
    const char* const names[] = {"property tests: outline", "property tests: steps"};
    for (int f = 0; f < cutcomp::test::FAMILY_COUNT; ++f) {
      Print(names[f], byFamily[f]);
      add(total, byFamily[f]);
    }
  }

  if (!camDir.empty()) {
    std::ifstream manifest(camDir + "/manifest.tsv");
    std::string line;
    std::getline(manifest, line);  // the header
    Tally cam;
    while (std::getline(manifest, line)) {
      std::istringstream fields(line);
      std::string file;
      double radius = 0.0;
      fields >> file >> radius;
      Case c;
      if (FromCam(camDir + "/" + file, radius, tolerance, c)) {
        c.family = "cam";
        Count(cam, c, show);
      }
    }
    Print("CAM-like programs (generate.py), chords fitted within 0.005", cam);
    add(total, cam);
  }
  if (total.programs > population.programs) {
    Print("everything", total);
  }
  return total.programs > 0 ? 0 : 1;
}
