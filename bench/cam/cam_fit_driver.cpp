// SPDX-License-Identifier: MIT
// The chord-fitting prototype on a generated CAM-like program (generate.py): reads its one
// compensated pass, fits the chords (or not), compensates through the list-backed host and
// measures how far the tool path strays from the radius-r offset of the programmed chords.
//
//   cam_fit_driver PROGRAM RADIUS [--fit TOL] [--max-chord L] [--evade] [--cam-tolerance]
//
// --cam-tolerance turns on the engine's tolerances for chord programs (SetCamTolerance).
//
// Prints "completed deviation D gouge G standoff S pieces P chords C" (D the largest
// |distance to the chords - r| along the compensated part of the path, G and S its two signed
// sides, the closing point of a closed contour left out) and exits 0, or prints where the engine
// refused and exits 1; 2 for a bad command line or program. Only the dialect generate.py writes is
// read: X/Y moves, G41/G42 D on the start-up move, G40 on the cancel move.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <crc/crc.h>

#include "cam_program.h"
#include "chord_fit.h"
#include "list_host.h"
#include "tool_path.h"

namespace {

using cutcomp::Curve;
using cutcomp::Point;

// Nearest-chord distances through a uniform grid of cells.
class ChordGrid {
public:
  ChordGrid(const std::vector<Point>& points, double cell) : m_Points(points), m_Cell(cell) {
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
      const Point& a = points[i];
      const Point& b = points[i + 1];
      for (long gx = Cell(std::min(a.x, b.x)); gx <= Cell(std::max(a.x, b.x)); ++gx) {
        for (long gy = Cell(std::min(a.y, b.y)); gy <= Cell(std::max(a.y, b.y)); ++gy) {
          m_Cells[{gx, gy}].push_back(i);
        }
      }
    }
  }
  // Distance from p to the nearest chord, looked for within `reach` (infinity beyond).
  double Distance(const Point& p, double reach) const {
    double best = INFINITY;
    for (long gx = Cell(p.x - reach); gx <= Cell(p.x + reach); ++gx) {
      for (long gy = Cell(p.y - reach); gy <= Cell(p.y + reach); ++gy) {
        const auto it = m_Cells.find({gx, gy});
        if (it == m_Cells.end()) {
          continue;
        }
        for (std::size_t i : it->second) {
          Curve chord;
          chord.from = m_Points[i];
          chord.to = m_Points[i + 1];
          best = std::min(best, cutcomp::Distance(p, chord));
        }
      }
    }
    return best;
  }

private:
  long Cell(double v) const { return static_cast<long>(std::floor(v / m_Cell)); }
  const std::vector<Point>& m_Points;
  double m_Cell;
  std::map<std::pair<long, long>, std::vector<std::size_t>> m_Cells;
};

Point At(const Curve& c, double t) {
  if (!c.arc) {
    return c.from + (c.to - c.from) * t;
  }
  const double sweep = cutcomp::Sweep(c);
  const double a0 = std::atan2(c.from.y - c.centre.y, c.from.x - c.centre.x);
  const double a = a0 + (c.ccw ? 1.0 : -1.0) * sweep * t;
  return c.centre + Point(std::cos(a), std::sin(a)) * c.radius;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: cam_fit_driver PROGRAM RADIUS [--fit TOL] [--max-chord L] [--evade] "
                 "[--cam-tolerance]\n");
    return 2;
  }
  const double radius = std::atof(argv[2]);
  double tolerance = 0.0;
  double maxChord = cutcomp::FIT_MAX_CHORD_MM;
  bool evade = false;
  bool camTolerance = false;
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--fit" && i + 1 < argc) {
      tolerance = std::atof(argv[++i]);
    } else if (arg == "--max-chord" && i + 1 < argc) {
      maxChord = std::atof(argv[++i]);
    } else if (arg == "--evade") {
      evade = true;
    } else if (arg == "--cam-tolerance") {
      camTolerance = true;
    }
  }
  cam::Pass pass;
  if (!cam::ReadPass(argv[1], pass)) {
    std::fprintf(stderr, "%s: error: not a generated CAM program\n", argv[1]);
    return 2;
  }

  // The contour as moves, fitted or not.
  const std::vector<cutcomp::FitPiece> pieces = cam::FitPass(pass, tolerance, maxChord);
  const Point at = pass.contour.back();

  std::vector<std::unique_ptr<crc::CCrcNode>> program;
  program.push_back(std::make_unique<crc::CCrcLine>(pass.lead, pass.start,
                                                    crc::CRC_STATUS_ESTABLISH, pass.side, false));
  for (const cutcomp::FitPiece& piece : pieces) {
    const Curve& c = piece.curve;
    if (c.arc) {
      program.push_back(std::make_unique<crc::CCrcArc>(c.centre, c.from, c.to, c.radius, c.ccw,
                                                       crc::CRC_STATUS_DOING, pass.side));
    } else {
      program.push_back(
          std::make_unique<crc::CCrcLine>(c.from, c.to, crc::CRC_STATUS_DOING, pass.side, false));
    }
  }
  program.push_back(
      std::make_unique<crc::CCrcLine>(at, pass.leave, crc::CRC_STATUS_RETRACT, pass.side, false));
  const auto cancelId = static_cast<std::int64_t>(program.size() - 1);

  crc::CCutterCompensator engine(radius, nullptr, 3, crc::CRC_TYPE_NORMAL);
  engine.SetInterveneEvade(evade);
  engine.SetCamTolerance(camTolerance);
  cutcomp::HostRun run = cutcomp::RunProgram(engine, std::move(program));
  if (!run.ok) {
    std::printf("refused at piece %lld of %zu: %s\n", static_cast<long long>(run.failure.id),
                pieces.size(), crc::GetErrorGloss(run.failure.code));
    std::fprintf(stderr, "%s: error: %s\n", argv[1], crc::GetErrorGloss(run.failure.code));
    return 1;
  }

  // The compensated part of the path against the offset of the programmed chords.
  std::vector<Point> chords{pass.start};
  chords.insert(chords.end(), pass.contour.begin(), pass.contour.end());
  const ChordGrid grid(chords, std::max(radius, 1.0));
  const double step = std::max(0.01, radius / 50.0);
  double gouge = 0.0;
  double standoff = 0.0;
  // A closed contour begins and ends at one point. The first piece's offset starts on the normal
  // of the first programmed move there, which need not clear the last chord coming in at an
  // angle: a small gouge of the lead-in, the same with and without fitting. Near that point the
  // path is not measured.
  const bool closed = pass.contour.back() == pass.start;  // exact: generate.py closes exactly
  for (const cutcomp::PathPiece& piece : cutcomp::ReadPath(run.segments)) {
    if (piece.dropped || piece.id <= 0 || piece.id >= cancelId) {
      continue;
    }
    const auto samples = static_cast<int>(std::ceil(cutcomp::Length(piece.tool) / step));
    for (int k = 0; k <= samples; ++k) {
      const Point p = At(piece.tool, samples > 0 ? static_cast<double>(k) / samples : 0.0);
      if (closed && (p - pass.start).GetLength() < 1.5 * radius) {
        continue;
      }
      const double d = grid.Distance(p, 2.0 * radius);
      gouge = std::max(gouge, radius - d);
      standoff = std::max(standoff, std::min(d, 2.0 * radius) - radius);
    }
  }
  std::printf("completed deviation %.6g gouge %.6g standoff %.6g pieces %zu chords %zu\n",
              std::max(gouge, standoff), gouge, standoff, pieces.size(), pass.contour.size());
  return 0;
}
