// SPDX-License-Identifier: MIT
// The segment base: fields, the point setters' refusal rule and the offset plausibility test.
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

CCrcNode::CCrcNode(const CCrcNode& other) = default;
CCrcNode& CCrcNode::operator=(const CCrcNode& other) = default;

__point2<double> CCrcNode::GetStartPoint() const { return m_StartPoint; }
__point2<double> CCrcNode::GetEndPoint() const { return m_EndPoint; }
__point2<double> CCrcNode::GetStartPointMoved() const { return m_StartPointMoved; }
__point2<double> CCrcNode::GetEndPointMoved() const { return m_EndPointMoved; }
__point2<double> CCrcNode::GetIntersectPoint() const { return m_IntersectPoint; }

namespace {
bool StorePoint(__point2<double>& field, const __point2<double>& p) {
  if (IsRefusedPoint(p)) {
    return false;
  }
  field = p;
  return true;
}
}  // namespace

bool CCrcNode::SetStartPoint(const __point2<double>& p) { return StorePoint(m_StartPoint, p); }
bool CCrcNode::SetEndPoint(const __point2<double>& p) { return StorePoint(m_EndPoint, p); }
bool CCrcNode::SetStartPointMoved(const __point2<double>& p) {
  return StorePoint(m_StartPointMoved, p);
}
bool CCrcNode::SetEndPointMoved(const __point2<double>& p) {
  return StorePoint(m_EndPointMoved, p);
}
bool CCrcNode::SetIntersectPoint(const __point2<double>& p) {
  return StorePoint(m_IntersectPoint, p);
}

void CCrcNode::SetCrcDirType(const crc_dir_t& dir) { m_CrcDir = dir; }
crc_dir_t CCrcNode::GetCrcDirType() const { return m_CrcDir; }
void CCrcNode::SetNodeType(const node_t& type) { m_NodeType = type; }
node_t CCrcNode::GetNodeType() const { return m_NodeType; }
void CCrcNode::SetStatusType(const crc_status_t& status) { m_Status = status; }
crc_status_t CCrcNode::GetStatusType() const { return m_Status; }
void CCrcNode::SetHasBeenCrc(const bool& done) { m_HasBeenCrc = done; }
bool CCrcNode::HasBeenCrc() const { return m_HasBeenCrc; }
void CCrcNode::SetAsInvalidNode() { m_Valid = false; }
bool CCrcNode::IsValidNode() { return m_Valid; }

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
