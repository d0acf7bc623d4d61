// SPDX-License-Identifier: MIT
// Ends a compensation run: finishes the last compensated segment and fixes where the cancel
// path begins (pre-retract, by strategy), or closes the run by the pre-retract option when the
// sequence ends without a cancel segment; then finishes the cancel segment itself.
#include <crc/compensator/cutter_compensator.h>

#include "compensator/workspace.h"
#include "geometry/tolerance.h"
#include "nodes/node_kind.h"

namespace crc {

// Finishes node, the last segment before the cancel segment `next` (or the last segment of the
// sequence when next is null). Node is marked compensated, checked for interference and listed
// even when the strategy routine failed; that failure's message stands.
bool CCutterCompensator::CrcPreRetract(CCrcNode* node, CCrcNode* next) {
  if (node == nullptr) {
    return false;
  }
  bool result = false;
  if (next != nullptr) {
    switch (m_CrcType) {
    case CRC_TYPE_NORMAL:
      result = CrcPreRetract_Normal(node, next);
      break;
    case CRC_TYPE_INTERSECT:
      result = CrcPreRetract_Intersect(node, next);
      break;
    case CRC_TYPE_INSERT:
      result = CrcPreRetract_Insert(node, next);
      break;
    default:
      result = false;  // silent: no such strategy
      break;
    }
  } else {
    // The sequence ends while compensating. The driver has checked that node can be offset,
    // and its intersect point was set by the joint before it.
    node->CrcMove(m_CrcRadius);
    node->SetStartPointMoved(node->GetIntersectPoint());
    const __point2<double> end = node->GetEndPointMoved();
    const __point2<double> programmedEnd = node->GetEndPoint();
    if (m_PreRetractOption == 0) {
      // Close with a line from the tool-centre end back to the programmed end.
      CCrcLine closing(end, programmedEnd, CRC_STATUS_RETRACT, node->GetCrcDirType(), false);
      if (IsEqual(closing.GetLength(), 0, EPSILON)) {
        SetLatestError(CRC_ERROR_INSERT_LINE_FAILED);
        return false;
      }
      closing.SetHasBeenCrc(true);
      m_Translator->InsertNode(node, closing, false);
    } else if (m_PreRetractOption == 1) {
      // The last segment becomes the cancel segment; the tool stays beside the contour.
      node->SetHasBeenCrc(true);
      node->SetStatusType(CRC_STATUS_RETRACT);
      m_Translator->SetCrcEndPoint(end.x, end.y);
    }
    m_Translator->CrcFinish();
    result = true;
  }
  node->SetHasBeenCrc(true);
  // With the closure tolerance, a meeting where the path comes back to itself is set aside.
  if (CheckIntervener(node) && !(m_ClosureTolerance && ComesBackToItself(node))) {
    SetLatestError(CRC_ERROR_INTERFERENCE);
    return false;
  }
  if (!IsLocateLine(node)) {
    // AddToList, taking over what the interference check has just worked out for node.
    AppendToLookBehind(m_NodeList, m_Workspace, m_ListSize, node, true);
  }
  return result;
}

// The last segment is offset plainly; the cancel path starts beside its end.
bool CCutterCompensator::CrcPreRetract_Normal(CCrcNode* node, CCrcNode* next) {
  if (node == nullptr || next == nullptr) {
    return false;
  }
  if (AsLine(next) == nullptr) {
    SetLatestError(CRC_ERROR_ARC_RETRACT);
    return false;
  }
  if (!node->CrcMove(m_CrcRadius)) {
    SetLatestError(CRC_ERROR_OFFSET_FAILED);
    return false;
  }
  next->SetIntersectPoint(node->GetEndPointMoved());
  if (!node->SetStartPointMoved(node->GetIntersectPoint())) {
    SetLatestError(CRC_ERROR_OFFSET_FAILED);
    return false;
  }
  return true;
}

// The cancel line is joined to the last segment by the corner connection, as if compensated on
// the last segment's side; a concave joint falls back to the normal cancel. Afterwards the
// cancel line has no side: it leaves compensation.
bool CCutterCompensator::CrcPreRetract_Intersect(CCrcNode* node, CCrcNode* next) {
  if (node == nullptr || next == nullptr) {
    return false;
  }
  if (AsLine(next) == nullptr) {
    SetLatestError(CRC_ERROR_ARC_RETRACT);
    return false;
  }
  if (IsLocateLine(next)) {
    return CrcPreRetract_Normal(node, next);
  }
  if (GetConnectType(node, next) == CONNECT_SHORTEN) {
    return CrcPreRetract_Normal(node, next);
  }
  next->SetCrcDirType(node->GetCrcDirType());
  const bool result = CalculateConnection(node, next);
  next->SetCrcDirType(CRC_DIR_NONE);
  return result;
}

// The cancel segment itself is compensated on the last segment's side along its whole length,
// and a closing line from its offset end to its programmed end is inserted after it. The cancel
// segment is finished here; an arc is accepted.
bool CCutterCompensator::CrcPreRetract_Insert(CCrcNode* node, CCrcNode* next) {
  if (node == nullptr || next == nullptr) {
    return false;
  }
  if (IsLocateLine(next)) {
    return CrcPreRetract_Normal(node, next);
  }
  next->SetCrcDirType(node->GetCrcDirType());
  if (!CalculateConnection(node, next)) {
    return false;
  }
  if (!next->CrcMove(m_CrcRadius)) {
    SetLatestError(CRC_ERROR_OFFSET_FAILED);
    return false;
  }
  CCrcLine closing(next->GetEndPointMoved(), next->GetEndPoint(), CRC_STATUS_RETRACT,
                   next->GetCrcDirType(), false);
  if (IsEqual(closing.GetLength(), 0, EPSILON)) {
    SetLatestError(CRC_ERROR_INSERT_LINE_FAILED);
    return false;
  }
  closing.SetHasBeenCrc(true);
  m_Translator->InsertNode(next, closing, false);
  next->SetStartPointMoved(next->GetIntersectPoint());
  next->SetHasBeenCrc(true);
  DestroyList();
  return true;
}

// Finishes the cancel segment: from where the last joint left the tool to its programmed end.
bool CCutterCompensator::CrcRetract(CCrcNode* node) {
  if (!node->SetStartPointMoved(node->GetIntersectPoint())) {
    SetLatestError(CRC_ERROR_INVALID_START_MOVED);
    return false;
  }
  if (!node->SetEndPointMoved(node->GetEndPoint())) {
    SetLatestError(CRC_ERROR_INVALID_END_MOVED);
    return false;
  }
  node->SetHasBeenCrc(true);
  DestroyList();
  return true;
}

}  // namespace crc
