// SPDX-License-Identifier: MIT
// The tip chart as a table, and the translation of curves by the tip vector.
#include "tip.h"

#include <cmath>

namespace cutcomp::lathe {
namespace {

// Where tip n lies from the nose centre on the chart, in units of the nose radius: (to the
// right, up the chart). Each tool points at the chart's centre, so its tip lies opposite its
// place on the chart: tool 3 sits at the upper right and its tip is down and to the left.
struct ChartStep {
  int right;
  int up;
};
constexpr ChartStep CHART[10] = {
    {0, 0},    // 0: no direction, the nose centre
    {1, 1},    // 1: lower left of the chart
    {-1, 1},   // 2: lower right
    {-1, -1},  // 3: upper right
    {1, -1},   // 4: upper left
    {1, 0},    // 5: left
    {0, 1},    // 6: bottom
    {-1, 0},   // 7: right
    {0, -1},   // 8: top
    {0, 0},    // 9: the nose centre
};

Curve Moved(Curve curve, const Point& by) {
  curve.from = curve.from + by;
  curve.to = curve.to + by;
  if (curve.arc) {
    curve.centre = curve.centre + by;
  }
  return curve;
}

}  // namespace

TipVector TipOf(int direction, double noseRadius, TipChart chart) {
  TipVector tip;
  if (direction < 0 || direction > 9) {
    tip.error = "tip direction " + std::to_string(direction) + " is not one of 0-9";
    return tip;
  }
  if (!std::isfinite(noseRadius)) {
    tip.error = "the nose radius is not a number";
    return tip;
  }
  const double r = std::fabs(noseRadius);
  const ChartStep step = CHART[direction];
  // Z runs to the right on both charts; X runs up the chart or down it.
  const int xSign = chart == TipChart::X_UP ? 1 : -1;
  // exact: the components are 0 or +-r, so that a tip on an axis moves nothing across it.
  tip.offset = Point(step.right * r, step.up * xSign * r);
  tip.ok = true;
  return tip;
}

Curve ControlledCurve(const Curve& noseCentre, const Point& tip) { return Moved(noseCentre, tip); }

Curve NoseCentreCurve(const Curve& controlled, const Point& tip) {
  return Moved(controlled, Point(-tip.x, -tip.y));
}

PathPiece ControlledPiece(const PathPiece& noseCentre, const Point& tip) {
  PathPiece piece = noseCentre;
  if (!piece.dropped) {
    piece.tool = ControlledCurve(piece.tool, tip);
  }
  return piece;
}

}  // namespace cutcomp::lathe
