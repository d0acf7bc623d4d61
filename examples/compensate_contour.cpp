// SPDX-License-Identifier: MIT
// A minimal host of the engine: compensates a small bundled contour (start-up line, a line, a
// tangent arc, two lines and a cancel line) with each start-up/cancel strategy and prints the
// tool-centre path. It shows the whole embedding API: segments, the translator (here the
// project's list-backed host), the compensator settings and reading the results back.
#include <cstdio>
#include <memory>
#include <vector>

#include <crc/crc.h>

#include "tool_path.h"

namespace {

using crc::__point2;
using Point = __point2<double>;

std::vector<std::unique_ptr<crc::CCrcNode>> Contour() {
  std::vector<std::unique_ptr<crc::CCrcNode>> program;
  const auto line = [&](Point from, Point to, crc::crc_status_t phase) {
    program.push_back(std::make_unique<crc::CCrcLine>(from, to, phase, crc::CRC_DIR_LEFT, false));
  };
  line(Point(0, 0), Point(10, 0), crc::CRC_STATUS_ESTABLISH);
  line(Point(10, 0), Point(20, 0), crc::CRC_STATUS_DOING);
  // Quarter circle about (20, 10), counterclockwise: the tool runs inside it.
  program.push_back(std::make_unique<crc::CCrcArc>(Point(20, 10), Point(20, 0), Point(30, 10), 10.0,
                                                   true, crc::CRC_STATUS_DOING, crc::CRC_DIR_LEFT));
  line(Point(30, 10), Point(30, 30), crc::CRC_STATUS_DOING);
  line(Point(30, 30), Point(0, 30), crc::CRC_STATUS_DOING);
  line(Point(0, 30), Point(-10, 40), crc::CRC_STATUS_RETRACT);
  return program;
}

const char* Name(crc::crc_t strategy) {
  switch (strategy) {
  case crc::CRC_TYPE_NORMAL:
    return "normal";
  case crc::CRC_TYPE_INTERSECT:
    return "intersect";
  default:
    return "insert";
  }
}

}  // namespace

int main() {
  const double radius = 2.0;
  for (crc::crc_t strategy :
       {crc::CRC_TYPE_NORMAL, crc::CRC_TYPE_INTERSECT, crc::CRC_TYPE_INSERT}) {
    crc::CCutterCompensator engine(radius, nullptr, 3, strategy);
    cutcomp::HostRun run = cutcomp::RunProgram(engine, Contour());
    std::printf("strategy %s, cutter radius %g:\n", Name(strategy), radius);
    if (!run.ok) {
      std::printf("  failed at segment %lld: %s\n", static_cast<long long>(run.failure.id),
                  crc::GetErrorGloss(run.failure.code));
      return 1;
    }
    for (const cutcomp::HostSegment& segment : run.segments) {
      const cutcomp::Curve piece = cutcomp::ReadPiece(segment).tool;
      std::printf("  %-8s (%9.4f, %9.4f) -> (%9.4f, %9.4f)", segment.inserted ? "inserted" : "",
                  piece.from.x, piece.from.y, piece.to.x, piece.to.y);
      if (piece.arc) {
        std::printf("  arc %s about (%g, %g), radius %g", piece.ccw ? "ccw" : "cw", piece.centre.x,
                    piece.centre.y, piece.radius);
      }
      std::printf("\n");
    }
  }
  return 0;
}
