// SPDX-License-Identifier: MIT
// Decides whether a segment and its successor form a sequence the engine can compensate, and
// swaps sides for a negative radius. Leaves every geometric computation to the phase files.
#include <crc/compensator/cutter_compensator.h>

#include "geometry/tolerance.h"
#include "nodes/node_kind.h"

namespace crc {

namespace {
// An arc fails when the tool runs on its inner side (left of a counterclockwise arc, right of
// a clockwise one) and the arc's radius does not exceed the cutter radius by at least EPSILON.
// An arc on its outer side passes whatever its radius; so does one without a side.
bool FailsInnerRadius(const CCrcNode* node, double radius) {
  const CCrcArc* arc = AsArc(node);  // a line is turned away by its kind, without a cast
  if (arc == nullptr) {
    return false;
  }
  const bool tooSmall = IsLessOrEqual(arc->GetRadius() - radius, 0, EPSILON);
  const bool inner = (arc->GetCrcDirType() == CRC_DIR_LEFT && arc->GetDirection()) ||
                     (arc->GetCrcDirType() == CRC_DIR_RIGHT && !arc->GetDirection());
  return tooSmall && inner;
}
}  // namespace

bool CCutterCompensator::IsCRCPlaneMove(const CCrcNode* node) const {
  // A move perpendicular to the plane has coinciding start and end in the plane.
  return !IsEqual(node->GetLength(), 0, EPSILON);
}

// Rejects, with its message, the first rule that fires; changes no segment.
bool CCutterCompensator::CheckError(const CCrcNode* node, const CCrcNode* next) {
  if (node == nullptr || !IsCRCPlaneMove(node)) {
    SetLatestError(CRC_ERROR_NO_PLANE_MOTION);
    return false;
  }
  switch (node->GetStatusType()) {
  case CRC_STATUS_ESTABLISH:
    if (m_CrcType == CRC_TYPE_INSERT) {
      return true;  // the start-up segment itself is offset: any kind, any successor
    }
    // The driver passes a start-up segment without a successor straight through, so next is
    // set here; the null test only keeps a direct caller safe.
    if (next == nullptr || !IsCRCPlaneMove(next)) {
      SetLatestError(CRC_ERROR_ESTABLISH_FAILED);
      return false;
    }
    // With the start-up arc extension an arc is started by insertion (startup.cpp).
    if (AsArc(node) != nullptr && !m_ArcStartup) {
      SetLatestError(CRC_ERROR_ARC_ESTABLISH);
      return false;
    }
    if (next->GetCrcDirType() == CRC_DIR_NONE) {
      SetLatestError(CRC_ERROR_ONLY_ESTABLISH_RETRACT);
      return false;
    }
    return true;
  case CRC_STATUS_DOING:
    if (!m_Establish) {
      SetLatestError(CRC_ERROR_NOT_ESTABLISHED);
      return false;
    }
    if (next == nullptr) {
      return true;
    }
    if (!IsCRCPlaneMove(next)) {
      SetLatestError(CRC_ERROR_RETRACT_FAILED);
      return false;
    }
    if (FailsInnerRadius(node, m_CrcRadius) || FailsInnerRadius(next, m_CrcRadius)) {
      SetLatestError(CRC_ERROR_RADIUS_UNREASONABLE);
      return false;
    }
    return true;
  case CRC_STATUS_RETRACT:
    if (m_CrcType == CRC_TYPE_INSERT) {
      return true;
    }
    if (AsArc(node) != nullptr) {
      SetLatestError(CRC_ERROR_ARC_RETRACT);
      return false;
    }
    return true;
  default:
    return true;  // the driver refuses an unknown phase at its dispatch
  }
}

void CCutterCompensator::ChangeCrcType(CCrcNode* node, CCrcNode* next) {
  for (CCrcNode* segment : {node, next}) {
    if (segment != nullptr && segment->GetCrcDirType() != CRC_DIR_NONE) {
      segment->SetCrcDirType(segment->GetCrcDirType() == CRC_DIR_LEFT ? CRC_DIR_RIGHT
                                                                      : CRC_DIR_LEFT);
    }
  }
  m_CrcRadius = -m_CrcRadius;
}

}  // namespace crc
