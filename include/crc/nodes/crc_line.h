// SPDX-License-Identifier: MIT
/// @file
/// The straight motion segment and its offsetting: both ends move by the radius along the unit
/// normal on the compensation side.
#pragma once

#include <crc/nodes/crc_node.h>

namespace crc {

/// A straight motion segment from the programmed start to the programmed end. The engine also
/// builds lines of its own (corner bridges, start-up approach and closing lines) and hands them
/// to the host through CCrcTranslator::InsertNode.
class CRC_API CCrcLine : public CCrcNode {
public:
  /// A line with all points unset, no phase or side, kind NODE_LINE, not a locate line.
  CCrcLine();
  /// The line from `start` to `end` with phase `status`, side `dir` and locate flag `locate`;
  /// kind NODE_LINE, offset and intersect points unset.
  CCrcLine(const __point2<double>& start, __point2<double> end, const crc_status_t& status,
           const crc_dir_t& dir, const bool& locate);
  /// Copying copies the base fields and the locate flag.
  ///@{
  CCrcLine(const CCrcLine& other) = default;
  CCrcLine& operator=(const CCrcLine& other) = default;
  ///@}
  ~CCrcLine() override;

  /// The locate flag. A locate line is a positioning move: never offset, joined to its
  /// neighbours' offset paths, never checked for interference. Set by the host; the engine
  /// only reads it.
  ///@{
  void SetLocate(bool locate) { m_Locate = locate; }
  bool IsLocate() const { return m_Locate; }
  ///@}

  /// Programmed end minus programmed start, not normalised.
  __point2<double> GetVector() const { return m_EndPoint - m_StartPoint; }

  /// Writes both offset points: the programmed points moved by `radius` along the unit normal
  /// on side m_CrcDir. Fails (writes nothing) only for a radius within EPSILON of zero. A
  /// negative radius moves the line to the side opposite to m_CrcDir; a line shorter than
  /// EPSILON has no normal and its offset points equal its programmed points. Does not touch
  /// the intersect point, the flags or the programmed points.
  bool CrcMove(const double& radius) override;
  /// The length of GetVector().
  double GetLength() const override;
  /// A new CCrcLine copied from this one, owned by the caller; null when memory runs out.
  CCrcNode* Clone() const override;

protected:
  bool m_Locate;  ///< the locate flag
};

}  // namespace crc
