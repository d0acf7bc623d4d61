// SPDX-License-Identifier: MIT
// Helpers of the look-ahead connection, internal to the library.
#pragma once

#include <utility>

#include <crc/geometry/point2.h>

namespace crc {

// A connection vector: from a programmed corner point to the connection point of its joint.
using ConnectVector = std::pair<__point2<double>, __point2<double>>;

// Cross product of (a - o) and (b - o): positive when o, a, b turn counterclockwise.
double GetOrientation(const __point2<double>& o, const __point2<double>& a,
                      const __point2<double>& b);

// The two vectors cross properly: each one's ends lie strictly on opposite sides of the other.
// Touching, a shared end point or collinear vectors do not count.
bool IsConnectVectorsCross(const ConnectVector& first, const ConnectVector& second);

}  // namespace crc
