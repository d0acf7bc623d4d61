// SPDX-License-Identifier: MIT
// Embedding cutcomp in a few lines: a small contour (start-up line, a line, a tangent arc, two
// lines and a cancel line) compensated in one call with each start-up/cancel strategy, and the
// tool-centre path printed. Build: c++ compensate_contour.cpp $(pkg-config --cflags --libs cutcomp)
#include <cstdio>
#include <initializer_list>
#include <utility>

#include <crc/path.h>

int main() {
  using crc::PathSegment;
  const crc::crc_dir_t left = crc::CRC_DIR_LEFT;
  const crc::Path contour = {
      PathSegment::Line({0, 0}, {10, 0}, crc::CRC_STATUS_ESTABLISH, left, 1),
      PathSegment::Line({10, 0}, {20, 0}, crc::CRC_STATUS_DOING, left, 2),
      // A quarter circle about (20, 10), counterclockwise: the tool runs inside it.
      PathSegment::Arc({20, 0}, {30, 10}, {20, 10}, true, crc::CRC_STATUS_DOING, left, 3),
      PathSegment::Line({30, 10}, {30, 30}, crc::CRC_STATUS_DOING, left, 4),
      PathSegment::Line({30, 30}, {0, 30}, crc::CRC_STATUS_DOING, left, 5),
      PathSegment::Line({0, 30}, {-10, 20}, crc::CRC_STATUS_RETRACT, left, 6)};
  for (const auto& [strategy, name] :
       {std::pair{crc::CRC_TYPE_NORMAL, "normal"}, std::pair{crc::CRC_TYPE_INTERSECT, "intersect"},
        std::pair{crc::CRC_TYPE_INSERT, "insert"}}) {
    crc::CompensateOptions options(2.0);
    options.start = strategy;
    const crc::CompensateResult result = crc::Compensate(contour, options);
    std::printf("strategy %s, cutter radius %g:\n", name, options.radius);
    if (!result.ok) {
      std::printf("  failed at segment %lld: %s\n", static_cast<long long>(result.failure.id),
                  result.failure.gloss.c_str());
      return 1;
    }
    for (const cutcomp::PathPiece& piece : result.path) {
      const cutcomp::Curve& tool = piece.tool;
      std::printf("  %lld %-8s (%9.4f, %9.4f) -> (%9.4f, %9.4f)", static_cast<long long>(piece.id),
                  piece.inserted ? "inserted" : "", tool.from.x, tool.from.y, tool.to.x, tool.to.y);
      if (tool.arc) {
        std::printf("  arc %s about (%g, %g), radius %g", tool.ccw ? "ccw" : "cw", tool.centre.x,
                    tool.centre.y, tool.radius);
      }
      std::printf("\n");
    }
  }
  return 0;
}
