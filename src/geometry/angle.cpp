// SPDX-License-Identifier: MIT
// Angle folding, sweeps and polar angles.
#include "geometry/angle.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "geometry/tolerance.h"

namespace crc {

namespace {
// Beyond this many turns the repeated fold would take too long (or, near 1e16, stop changing
// the value at all), so the angle is reduced with fmod first.
constexpr double MAX_FOLDED_TURNS = 1024.0;
}  // namespace

void NormalizeAngle(double& angle) {
  const double turn = PI + PI;
  if (std::isinf(angle)) {
    angle = std::numeric_limits<double>::quiet_NaN();
    return;
  }
  if (std::fabs(angle) > MAX_FOLDED_TURNS * turn) {
    angle = std::fmod(angle, turn);
  }
  while (angle > turn) {  // exact: 2 pi itself stays 2 pi
    angle -= turn;
  }
  while (angle < 0) {  // exact: 0 itself stays 0
    angle += turn;
  }
}

double GetSweepAngle(const double& from, const double& to, const bool& direction) {
  const double sense = direction ? 1.0 : -1.0;
  double sweep = (to - from) * sense;
  NormalizeAngle(sweep);
  return sweep;
}

double GetVectorAngle(const __point2<double>& v) {
  const double length = std::sqrt(v.x * v.x + v.y * v.y);
  if (IsLessOrEqual(length, 0, EPSILON)) {
    return 0.0;
  }
  double c = v.x / length;
  c = std::min(c, 1.0);
  c = std::max(c, -1.0);
  const double a = std::acos(c);
  if (IsGreaterOrEqual(v.y, 0, EPSILON)) {
    return a;
  }
  return 2.0 * PI - a;
}

double CrossProduct(double x1, double y1, double x2, double y2) { return x1 * y2 - y1 * x2; }

}  // namespace crc
