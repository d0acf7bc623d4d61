// SPDX-License-Identifier: MIT
// The one-call gouge audit: a contour and a tool path given as data, measured by CGougeAudit.
// The audit decides what a gouge is; this file decides which pieces are cuts and numbers the
// findings by the caller's pieces.
#include <cmath>
#include <cstddef>
#include <cstdio>

#include <crc/path.h>

namespace crc {
namespace {

// A piece to measure and where it stands in the caller's path.
struct Cut {
  Curve tool;
  std::int64_t id;
  crc_status_t phase;
  bool dropped;
};

Cut CutOf(const cutcomp::PathPiece& piece) {
  return {piece.tool, piece.id, piece.phase, piece.dropped};
}

Cut CutOf(const PathSegment& segment) { return {segment.curve, segment.id, segment.phase, false}; }

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

template <typename Piece>
AuditResult Run(const Path& contour, const std::vector<Piece>& path, double radius,
                double tolerance) {
  AuditResult result;
  if (!(std::isfinite(radius) && std::fabs(radius) >= EPSILON)) {
    result.error =
        "the cutter radius must be a finite number of at least 1e-6 in size, not " + Number(radius);
    return result;
  }
  if (!(std::isfinite(tolerance) && tolerance >= 0.0)) {
    result.error = "the gouge tolerance must be a number of at least 0, not " + Number(tolerance);
    return result;
  }
  CGougeAudit audit(tolerance);
  audit.Reserve(contour.size());
  for (std::size_t i = 0; i < contour.size(); ++i) {
    const PathSegment& segment = contour[i];
    ContourSegment wall;
    wall.curve = segment.curve;
    wall.id = segment.id;
    wall.phase = segment.phase;
    wall.locate = segment.locate;
    // The side and the radius let the audit tell leads and roughing walls from the part's (a
    // negative radius puts the tool on the other side).
    wall.side = radius > 0.0                    ? segment.side
                : segment.side == CRC_DIR_LEFT  ? CRC_DIR_RIGHT
                : segment.side == CRC_DIR_RIGHT ? CRC_DIR_LEFT
                                                : CRC_DIR_NONE;
    wall.radius = std::fabs(radius);
    if (!audit.AddSegment(wall)) {
      result.error = "contour segment " + std::to_string(i) + ": " + audit.GetLatestError();
      return result;
    }
  }
  // The audit numbers the pieces it measured; the caller's numbers skip none.
  std::vector<std::size_t> measured;
  ToolPiece tool;
  tool.radius = std::fabs(radius);
  for (std::size_t i = 0; i < path.size(); ++i) {
    const Cut cut = CutOf(path[i]);
    if (cut.dropped || cut.phase == CRC_STATUS_NONE) {
      continue;  // no cut: left out of the path by evasion, or a move outside compensation
    }
    tool.tool = cut.tool;
    tool.id = cut.id;
    const std::size_t before = result.gouges.size();
    if (!audit.AuditPiece(tool, nullptr, &result.gouges)) {
      result.gouges.clear();
      result.error = "tool path piece " + std::to_string(i) + ": " + audit.GetLatestError();
      return result;
    }
    for (std::size_t g = before; g < result.gouges.size(); ++g) {
      result.gouges[g].piece = i;
    }
    measured.push_back(i);
  }
  result.summary = audit.GetSummary();
  if (result.summary.gouges > 0) {
    result.summary.nearest.piece = measured[result.summary.nearest.piece];
    result.summary.deepest.piece = measured[result.summary.deepest.piece];
  }
  result.ok = true;
  return result;
}

}  // namespace

AuditResult Audit(const Path& contour, const std::vector<cutcomp::PathPiece>& path, double radius,
                  double tolerance) {
  return Run(contour, path, radius, tolerance);
}

AuditResult Audit(const Path& contour, const Path& path, double radius, double tolerance) {
  return Run(contour, path, radius, tolerance);
}

}  // namespace crc
