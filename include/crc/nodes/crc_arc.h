// SPDX-License-Identifier: MIT
// The circular-arc motion segment: centre, radius, turning sense and angles, its offsetting
// (a concentric arc whose radius grows or shrinks by the cutter radius) and its end tangents.
#pragma once

#include <crc/nodes/crc_node.h>

namespace crc {

class CRC_API CCrcArc : public CCrcNode {
public:
  CCrcArc();
  // From centre and angles: the start point is placed on the circle at startAngle, the end
  // angle is startAngle swept by centralAngle in the turning sense (folded into [0, 2 pi]).
  // A central angle of 2 pi gives a full circle whose end point coincides with its start.
  CCrcArc(const __point2<double>& center, const double& startAngle, const double& centralAngle,
          const double& radius, const bool& direction, const crc_status_t& status,
          const crc_dir_t& dir);
  // From centre and end points: the radius is stored as given (not compared with the points'
  // distances); the angles follow from the points. Coinciding start and end give a central
  // angle of 0, never a full circle.
  CCrcArc(const __point2<double>& center, const __point2<double>& start,
          const __point2<double>& end, const double& radius, const bool& direction,
          const crc_status_t& status, const crc_dir_t& dir);
  CCrcArc(const CCrcArc& other) = default;
  CCrcArc& operator=(const CCrcArc& other) = default;
  ~CCrcArc() override;

  // Turning sense: true = counterclockwise. Setting it recomputes nothing.
  void SetDirect(const bool& direction) { m_Direction = direction; }
  bool GetDirection() const { return m_Direction; }
  double GetRadius() const { return m_Radius; }
  // Unset until CrcMove; 0.0 after a CrcMove that found the offset radius too small.
  double GetRadiusMoved() const { return m_RadiusMoved; }
  __point2<double> GetCenterPoint() const { return m_CenterPoint; }
  double GetCentralAngle() const { return m_CentralAngle; }
  double GetStartAngle() const { return m_StartAngle; }
  double GetEndAngle() const { return m_EndAngle; }

  // Refuses an unset, negative or zero (within EPSILON) radius. Recomputes nothing.
  bool SetRadius(const double& radius);
  // Refuses a half-unset centre like the point setters. Recomputes nothing.
  bool SetCenterPoint(const __point2<double>& center);
  // Recomputes the central angle; the start point is not moved.
  void SetStartAngle(const double& angle);
  // Recomputes the central angle; the end point is not moved.
  void SetEndAngle(const double& angle);
  // Moves the programmed end point to the start angle swept by the new central angle. The end
  // angle field is left as it was (the engine itself never calls this).
  void SetCentralAngle(const double& angle);

  // Unit direction of travel at the start and the end, from the stored angles.
  __point2<double> GetStartTangent() const;
  __point2<double> GetEndTangent() const;

  double GetLength() const override;
  CCrcNode* Clone() const override;
  // False for a zero cutter radius and for an offset radius that would vanish or turn negative
  // (the cutter does not fit inside the arc). Writes nothing.
  bool CheckCanBeCrcMove(const double& radius) override;
  // Writes the offset radius and the offset end points (along the rays from the centre through
  // the programmed end points). Fails like CheckCanBeCrcMove, then with m_RadiusMoved = 0.0.
  bool CrcMove(const double& radius) override;

protected:
  bool m_Direction;
  double m_Radius;
  double m_RadiusMoved;
  __point2<double> m_CenterPoint;
  double m_CentralAngle;
  double m_StartAngle;
  double m_EndAngle;

private:
  __point2<double> GetPoint(const double& angle) const;
};

}  // namespace crc
