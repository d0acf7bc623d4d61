// SPDX-License-Identifier: MIT
// The straight motion segment and its offsetting: both ends move by the radius along the unit
// normal on the compensation side.
#pragma once

#include <crc/nodes/crc_node.h>

namespace crc {

class CRC_API CCrcLine : public CCrcNode {
public:
  CCrcLine();
  CCrcLine(const __point2<double>& start, __point2<double> end, const crc_status_t& status,
           const crc_dir_t& dir, const bool& locate);
  CCrcLine(const CCrcLine& other) = default;
  CCrcLine& operator=(const CCrcLine& other) = default;
  ~CCrcLine() override;

  // A locate line is a positioning move: never offset, joined to its neighbours' offset paths,
  // never checked for interference.
  void SetLocate(bool locate) { m_Locate = locate; }
  bool IsLocate() const { return m_Locate; }

  // Programmed end minus programmed start, not normalised.
  __point2<double> GetVector() const { return m_EndPoint - m_StartPoint; }

  // Fails (writes nothing) only for a radius within EPSILON of zero. A negative radius moves
  // the line to the side opposite to m_CrcDir; a line shorter than EPSILON has no normal and
  // its offset points equal its programmed points.
  bool CrcMove(const double& radius) override;
  double GetLength() const override;
  CCrcNode* Clone() const override;

protected:
  bool m_Locate;
};

}  // namespace crc
