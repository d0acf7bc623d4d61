// SPDX-License-Identifier: MIT
// Angle bookkeeping in radians, counterclockwise from the positive x axis.
#pragma once

#include <crc/geometry/point2.h>

namespace crc {

// Folds the angle in place into [0, 2 pi]; both ends belong to the range (2 pi stays 2 pi).
// Angles within a few turns are folded by repeated subtraction/addition of 2 pi. An angle more
// than 1024 turns away is first reduced with fmod (bounded work however large it is). A NaN
// passes through unchanged; an infinite angle has no place on the circle and becomes NaN, which
// every later tolerance comparison treats as false.
void NormalizeAngle(double& angle);

// Angle swept from `from` to `to` turning counterclockwise (direction true) or clockwise, in
// [0, 2 pi]. Equal angles give 0, a difference of exactly 2 pi gives 2 pi.
double GetSweepAngle(const double& from, const double& to, const bool& direction);

// Polar angle of v in [0, 2 pi); 0 for a vector shorter than EPSILON. A y within EPSILON of
// zero counts as the upper half-plane, so (1, -5e-7) gives about 5e-7, not almost 2 pi.
double GetVectorAngle(const __point2<double>& v);

// x1 * y2 - y1 * x2: positive when the second vector lies counterclockwise of the first.
double CrossProduct(double x1, double y1, double x2, double y2);

}  // namespace crc
