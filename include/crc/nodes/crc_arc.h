// SPDX-License-Identifier: MIT
/// @file
/// The circular-arc motion segment: centre, radius, turning sense and angles, its offsetting
/// (a concentric arc whose radius grows or shrinks by the cutter radius) and its end tangents.
#pragma once

#include <crc/nodes/crc_node.h>

namespace crc {

/// A circular-arc motion segment. Angles are in radians, counterclockwise from the positive x
/// axis. The programmed points and the angles are two views of the same arc: the constructors
/// make them agree, the individual setters each change only what they name.
///
/// The offset arc has the same centre, angles and turning sense and the offset radius
/// GetRadiusMoved(): travelling counterclockwise the centre lies to the left, so on side
/// CRC_DIR_LEFT a counterclockwise arc shrinks by the cutter radius and a clockwise one grows
/// (the other way round on CRC_DIR_RIGHT); a segment with any other side has no offset radius.
class CRC_API CCrcArc : public CCrcNode {
public:
  /// A counterclockwise arc with all points, the centre, the radius and the angles unset; kind
  /// NODE_ARC.
  CCrcArc();
  /// From centre and angles: the start point is placed on the circle at `startAngle`, the end
  /// angle is `startAngle` swept by `centralAngle` in the turning sense (folded into [0, 2 pi]),
  /// and the end point lies there. A central angle of 2 pi gives a full circle whose end point
  /// coincides with its start. `direction` true is counterclockwise; `status` and `dir` are the
  /// phase and side. The start and central angles are stored as given, not folded.
  CCrcArc(const __point2<double>& center, const double& startAngle, const double& centralAngle,
          const double& radius, const bool& direction, const crc_status_t& status,
          const crc_dir_t& dir);
  /// From centre and end points: the radius is stored as given (not compared with the points'
  /// distances); the angles follow from the points. Coinciding `start` and `end` give a central
  /// angle of 0, never a full circle.
  CCrcArc(const __point2<double>& center, const __point2<double>& start,
          const __point2<double>& end, const double& radius, const bool& direction,
          const crc_status_t& status, const crc_dir_t& dir);
  /// Copying copies the base fields and every arc field.
  ///@{
  CCrcArc(const CCrcArc& other) = default;
  CCrcArc& operator=(const CCrcArc& other) = default;
  ///@}
  ~CCrcArc() override;

  /// Turning sense: true = counterclockwise. Setting it recomputes nothing.
  ///@{
  void SetDirect(const bool& direction) { m_Direction = direction; }
  bool GetDirection() const { return m_Direction; }
  ///@}
  /// The programmed radius.
  double GetRadius() const { return m_Radius; }
  /// The offset radius: unset until CrcMove; 0.0 after a CrcMove that found it too small.
  double GetRadiusMoved() const { return m_RadiusMoved; }
  /// The centre of both the programmed and the offset arc.
  __point2<double> GetCenterPoint() const { return m_CenterPoint; }
  /// The stored angles: the sweep from start to end in the turning sense (in [0, 2 pi] when
  /// computed by the class), and the polar angles of the start and end points about the centre.
  ///@{
  double GetCentralAngle() const { return m_CentralAngle; }
  double GetStartAngle() const { return m_StartAngle; }
  double GetEndAngle() const { return m_EndAngle; }
  ///@}

  /// Refuses (false, field unchanged) an unset, negative or zero (within EPSILON) radius.
  /// Recomputes nothing.
  bool SetRadius(const double& radius);
  /// Refuses (false, field unchanged) a centre whose x is INVALID_VALUE while its y is not,
  /// like the point setters. Recomputes nothing.
  bool SetCenterPoint(const __point2<double>& center);
  /// Sets the start angle and recomputes the central angle; the start point is not moved.
  void SetStartAngle(const double& angle);
  /// Sets the end angle and recomputes the central angle; the end point is not moved.
  void SetEndAngle(const double& angle);
  /// Sets the central angle and moves the programmed end point to the start angle swept by it.
  /// The end angle field is left as it was (the engine itself never calls this).
  void SetCentralAngle(const double& angle);

  /// Unit direction of travel at the start and the end, from the stored angles (not from the
  /// points).
  ///@{
  __point2<double> GetStartTangent() const;
  __point2<double> GetEndTangent() const;
  ///@}

  /// The central angle times the programmed radius.
  double GetLength() const override;
  /// A new CCrcArc copied from this one, owned by the caller; null when memory runs out.
  CCrcNode* Clone() const override;
  /// False for a zero cutter radius (within EPSILON) and for an offset radius that would vanish
  /// or turn negative (the cutter does not fit inside the arc), and for a segment with no side.
  /// Writes nothing.
  bool CheckCanBeCrcMove(const double& radius) override;
  /// Writes the offset radius and the offset end points (along the rays from the centre through
  /// the programmed end points, so they follow the points, not the stored angles). False for a
  /// zero radius (within EPSILON), writing nothing, and for an offset radius of zero or less
  /// (within EPSILON), leaving GetRadiusMoved() at 0.0 and the offset points untouched. A
  /// segment with no side keeps its previous offset radius, so it fails while that is unset.
  bool CrcMove(const double& radius) override;

protected:
  bool m_Direction;                ///< turning sense, true = counterclockwise
  double m_Radius;                 ///< programmed radius
  double m_RadiusMoved;            ///< offset radius, written by CrcMove
  __point2<double> m_CenterPoint;  ///< centre
  double m_CentralAngle;           ///< sweep from start to end in the turning sense
  double m_StartAngle;             ///< polar angle of the start point about the centre
  double m_EndAngle;               ///< polar angle of the end point about the centre

private:
  __point2<double> GetPoint(const double& angle) const;
};

}  // namespace crc
