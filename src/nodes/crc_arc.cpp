// SPDX-License-Identifier: MIT
// The arc segment: construction from centre and angles or from centre and end points, angle
// bookkeeping, end tangents and concentric offsetting.
#include <crc/nodes/crc_arc.h>

#include <cmath>
#include <new>

#include "geometry/angle.h"
#include "geometry/tolerance.h"

namespace crc {

namespace {
// Offset radius for cutter radius r. Travelling counterclockwise the centre lies to the left,
// so a tool on the left runs inside (radius shrinks); clockwise it is the other way round.
// Any other side has no offset radius (reported as 0).
double OffsetRadius(double radius, bool counterclockwise, crc_dir_t side, double r) {
  if (side == CRC_DIR_LEFT) {
    return counterclockwise ? radius - r : radius + r;
  }
  if (side == CRC_DIR_RIGHT) {
    return counterclockwise ? radius + r : radius - r;
  }
  return 0.0;
}

double Sense(bool counterclockwise) { return counterclockwise ? 1.0 : -1.0; }
}  // namespace

CCrcArc::CCrcArc()
    : m_Direction(true),
      m_Radius(INVALID_VALUE),
      m_RadiusMoved(INVALID_VALUE),
      m_CenterPoint(InvalidPoint()),
      m_CentralAngle(INVALID_VALUE),
      m_StartAngle(INVALID_VALUE),
      m_EndAngle(INVALID_VALUE) {
  m_NodeType = NODE_ARC;
}

CCrcArc::CCrcArc(const __point2<double>& center, const double& startAngle,
                 const double& centralAngle, const double& radius, const bool& direction,
                 const crc_status_t& status, const crc_dir_t& dir)
    : m_Direction(direction),
      m_Radius(radius),
      m_RadiusMoved(INVALID_VALUE),
      m_CenterPoint(center),
      m_CentralAngle(centralAngle),
      m_StartAngle(startAngle),
      m_EndAngle(INVALID_VALUE) {
  m_Status = status;
  m_CrcDir = dir;
  m_NodeType = NODE_ARC;
  SetStartPoint(GetPoint(m_StartAngle));
  m_EndAngle = startAngle + Sense(direction) * centralAngle;
  NormalizeAngle(m_EndAngle);
  SetEndPoint(GetPoint(m_EndAngle));
}

CCrcArc::CCrcArc(const __point2<double>& center, const __point2<double>& start,
                 const __point2<double>& end, const double& radius, const bool& direction,
                 const crc_status_t& status, const crc_dir_t& dir)
    : CCrcNode(start, end, status, dir),
      m_Direction(direction),
      m_Radius(radius),
      m_RadiusMoved(INVALID_VALUE),
      m_CenterPoint(center),
      m_StartAngle(GetVectorAngle(start - center)),
      m_EndAngle(GetVectorAngle(end - center)) {
  m_NodeType = NODE_ARC;
  m_CentralAngle = GetSweepAngle(m_StartAngle, m_EndAngle, m_Direction);
}

CCrcArc::~CCrcArc() = default;

bool CCrcArc::SetRadius(const double& radius) {
  if (IsInvalidValue(radius) || IsLessOrEqual(radius, 0, EPSILON)) {
    return false;
  }
  m_Radius = radius;
  return true;
}

bool CCrcArc::SetCenterPoint(const __point2<double>& center) {
  if (IsRefusedPoint(center)) {
    return false;
  }
  m_CenterPoint = center;
  return true;
}

void CCrcArc::SetStartAngle(const double& angle) {
  m_StartAngle = angle;
  m_CentralAngle = (m_EndAngle - m_StartAngle) * Sense(m_Direction);
  NormalizeAngle(m_CentralAngle);
}

void CCrcArc::SetEndAngle(const double& angle) {
  m_EndAngle = angle;
  m_CentralAngle = GetSweepAngle(m_StartAngle, m_EndAngle, m_Direction);
}

void CCrcArc::SetCentralAngle(const double& angle) {
  m_CentralAngle = angle;
  SetEndPoint(GetPoint(m_StartAngle + Sense(m_Direction) * angle));
}

namespace {
__point2<double> TangentAt(double polarAngle, bool counterclockwise) {
  double t = counterclockwise ? polarAngle + PI / 2 : polarAngle - PI / 2;
  NormalizeAngle(t);
  __point2<double> tangent(std::cos(t), std::sin(t));
  tangent.Unify();
  return tangent;
}
}  // namespace

__point2<double> CCrcArc::GetStartTangent() const { return TangentAt(m_StartAngle, m_Direction); }
__point2<double> CCrcArc::GetEndTangent() const { return TangentAt(m_EndAngle, m_Direction); }

double CCrcArc::GetLength() const { return m_CentralAngle * m_Radius; }

CCrcNode* CCrcArc::Clone() const { return new (std::nothrow) CCrcArc(*this); }

bool CCrcArc::CheckCanBeCrcMove(const double& radius) {
  if (IsEqual(radius, 0, EPSILON)) {
    return false;
  }
  const double moved = OffsetRadius(m_Radius, m_Direction, GetCrcDirType(), radius);
  // The cutter does not fit inside the arc: the offset radius would vanish or turn negative.
  return !IsLessOrEqual(moved, 0, EPSILON);
}

bool CCrcArc::CrcMove(const double& radius) {
  if (IsEqual(radius, 0, EPSILON)) {
    return false;
  }
  const crc_dir_t side = GetCrcDirType();
  if (side == CRC_DIR_LEFT || side == CRC_DIR_RIGHT) {
    m_RadiusMoved = OffsetRadius(m_Radius, m_Direction, side, radius);
  }
  // A segment without a side keeps its (normally unset, hence tiny) offset radius and fails here.
  if (IsLessOrEqual(m_RadiusMoved, 0, EPSILON)) {
    m_RadiusMoved = 0.0;
    return false;
  }
  const __point2<double> center = m_CenterPoint;
  SetStartPointMoved(center + Unified(GetStartPoint() - center) * m_RadiusMoved);
  SetEndPointMoved(center + Unified(GetEndPoint() - center) * m_RadiusMoved);
  return true;
}

__point2<double> CCrcArc::GetPoint(const double& angle) const {
  return __point2<double>(std::cos(angle) * m_Radius + m_CenterPoint.x,
                          std::sin(angle) * m_Radius + m_CenterPoint.y);
}

}  // namespace crc
