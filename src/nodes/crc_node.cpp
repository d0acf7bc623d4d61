// SPDX-License-Identifier: MIT
// The segment base: construction and the offset plausibility test (the accessors are inline in
// the header).
#include <crc/nodes/crc_node.h>

#include "geometry/tolerance.h"
#include "geometry/tolerances.h"

namespace crc {

CCrcNode::~CCrcNode() = default;

bool CCrcNode::CheckCanBeCrcMove(const double& /*radius*/) { return true; }

CCrcNode::CCrcNode()
    : m_StartPoint(InvalidPoint()),
      m_EndPoint(InvalidPoint()),
      m_StartPointMoved(InvalidPoint()),
      m_EndPointMoved(InvalidPoint()),
      m_IntersectPoint(InvalidPoint()),
      m_CrcDir(CRC_DIR_NONE),
      m_NodeType(NODE_NONE),
      m_Status(CRC_STATUS_NONE),
      m_HasBeenCrc(false),
      m_Valid(true) {}

CCrcNode::CCrcNode(const __point2<double>& start, const __point2<double>& end,
                   const crc_status_t& status, const crc_dir_t& dir)
    : m_StartPoint(start),
      m_EndPoint(end),
      m_StartPointMoved(InvalidPoint()),
      m_EndPointMoved(InvalidPoint()),
      m_IntersectPoint(InvalidPoint()),
      m_CrcDir(dir),
      m_NodeType(NODE_NONE),
      m_Status(status),
      m_HasBeenCrc(false),
      m_Valid(true) {}

bool CCrcNode::CheckMovedValid() {
  __point2<double> moved = m_EndPointMoved - m_StartPointMoved;
  __point2<double> programmed = m_EndPoint - m_StartPoint;
  // An offset chord that has shrunk to almost nothing at trimmed corners has no meaningful
  // direction; accept it (this includes unset offset points, whose difference is zero).
  if (SHRUNK_OFFSET_LENGTH >= moved.GetLength()) {
    return true;
  }
  moved.Unify();
  programmed.Unify();
  // exact: a perpendicular offset chord passes, any backward component fails
  return Dot(moved, programmed) >= 0;
}

}  // namespace crc
