// SPDX-License-Identifier: MIT
// Builders the geometry unit tests share beyond test_support.h: arcs from centre and angles,
// unit vectors by polar angle, and a finiteness check for points.
#pragma once

#include <cmath>
#include <memory>
#include <string>

#include "test_support.h"

namespace cutcomp::test {

// An arc from centre, radius, start angle and swept (central) angle in the turning sense.
inline std::unique_ptr<crc::CCrcArc> ArcAt(Point centre, double radius, double startAngle,
                                           double centralAngle, bool ccw,
                                           crc::crc_dir_t side = crc::CRC_DIR_LEFT,
                                           crc::crc_status_t status = crc::CRC_STATUS_DOING) {
  return std::make_unique<crc::CCrcArc>(centre, startAngle, centralAngle, radius, ccw, status,
                                        side);
}

// The vector of the given length at polar angle `angle`.
inline Point Polar(double angle, double length = 1.0) {
  return Point(std::cos(angle) * length, std::sin(angle) * length);
}

inline bool IsFinitePoint(const Point& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

inline constexpr double kPi = 3.141592653589793;

// Names a parameterised case after the `name` field of its parameter.
struct CaseName {
  template <typename Param>
  std::string operator()(const ::testing::TestParamInfo<Param>& tested) const {
    return tested.param.name;
  }
};

}  // namespace cutcomp::test
