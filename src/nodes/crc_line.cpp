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

__point2<double> GetOffsetNormal(const __point2<double>& direction, crc_dir_t side) {
  __point2<double> normal;
  if (side == CRC_DIR_LEFT) {
    normal = RotateVector(direction, PI / 2);
  } else if (side == CRC_DIR_RIGHT) {
    normal = RotateVector(direction, -PI / 2);
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

CCrcLine::CCrcLine(const CCrcLine& other) = default;
CCrcLine& CCrcLine::operator=(const CCrcLine& other) = default;
CCrcLine::~CCrcLine() = default;

void CCrcLine::SetLocate(bool locate) { m_Locate = locate; }
bool CCrcLine::IsLocate() const { return m_Locate; }

__point2<double> CCrcLine::GetVector() const { return GetEndPoint() - GetStartPoint(); }

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
