// SPDX-License-Identifier: MIT
// The straight segment: offsetting along the unit normal on the compensation side.
#include <crc/nodes/crc_line.h>

#include <cmath>
#include <new>

#include "geometry/angle.h"
#include "geometry/tolerance.h"
#include "nodes/offset_normal.h"

namespace crc {

__point2<double> RotateVector(const __point2<double>& v, const double& angle) {
  double a = angle;
  NormalizeAngle(a);
  __point2<double> turned(v.x * std::cos(a) - v.y * std::sin(a),
                          v.x * std::sin(a) + v.y * std::cos(a));
  turned.Unify();
  return turned;
}

namespace {
// The cosines of the folded quarter turns pi / 2 and 3 pi / 2 as the C library computes them
// (the double nearest to pi / 2 is not exactly a quarter turn, so they are not 0); the sines are
// exactly 1 and -1. Turning with these constants is RotateVector's arithmetic for those two
// angles, operation for operation, without calling cos and sin for every offset.
constexpr double COS_LEFT_QUARTER = 0x1.1a62633145c07p-54;    // cos(pi / 2) = 6.12e-17
constexpr double COS_RIGHT_QUARTER = -0x1.a79394c9e8a0ap-53;  // cos(3 pi / 2) = -1.84e-16

__point2<double> QuarterTurn(const __point2<double>& v, double c, double s) {
  __point2<double> turned(v.x * c - v.y * s, v.x * s + v.y * c);
  turned.Unify();
  return turned;
}
}  // namespace

__point2<double> GetOffsetNormal(const __point2<double>& direction, crc_dir_t side) {
  __point2<double> normal;
  if (side == CRC_DIR_LEFT) {
    normal = QuarterTurn(direction, COS_LEFT_QUARTER, 1.0);
  } else if (side == CRC_DIR_RIGHT) {
    normal = QuarterTurn(direction, COS_RIGHT_QUARTER, -1.0);
  } else {
    normal = InvalidPoint();
  }
  normal.Unify();
  return normal;
}

CCrcLine::CCrcLine() : m_Locate(false) { m_NodeType = NODE_LINE; }

CCrcLine::CCrcLine(const __point2<double>& start, __point2<double> end, const crc_status_t& status,
                   const crc_dir_t& dir, const bool& locate)
    : CCrcNode(start, end, status, dir), m_Locate(locate) {
  m_NodeType = NODE_LINE;
}

CCrcLine::~CCrcLine() = default;

double CCrcLine::GetLength() const { return GetVector().GetLength(); }

CCrcNode* CCrcLine::Clone() const { return new (std::nothrow) CCrcLine(*this); }

bool CCrcLine::CrcMove(const double& radius) {
  if (IsEqual(radius, 0, EPSILON)) {
    return false;  // a zero radius is no offset
  }
  // A line shorter than EPSILON has no direction: its normal stays (0, 0) and the offset points
  // equal the programmed points. Validation turns such lines away before they get here.
  const __point2<double> normal = GetOffsetNormal(GetVector(), GetCrcDirType());
  const __point2<double> shift = normal * radius;
  SetStartPointMoved(GetStartPoint() + shift);
  SetEndPointMoved(GetEndPoint() + shift);
  return true;
}

}  // namespace crc
