// SPDX-License-Identifier: MIT
// Brings the tool centre from the programmed start of the start-up segment onto the offset
// path, by the normal, intersecting or inserting strategy. Corner joints are left to
// connection.cpp, which the intersecting and inserting start-ups finish through.
#include <crc/compensator/cutter_compensator.h>

#include "geometry/tolerance.h"
#include "nodes/node_kind.h"

namespace crc {

// Dispatches on the strategy, then marks the segment compensated and the engine established
// whatever the routine returned: a failed start-up is not retried on the same segment.
bool CCutterCompensator::CrcEstablish(CCrcNode* node, CCrcNode* next) {
  // Extension: a start-up arc is offset along its whole length, reached by a radial line,
  // whatever the strategy (SetArcStartup); the normal and intersecting start-ups only know
  // how to lead a straight move onto the contour.
  const bool arcInserted = m_ArcStartup && AsArc(node) != nullptr;
  bool result = false;
  switch (m_CrcType) {
  case CRC_TYPE_NORMAL:
    result = arcInserted ? CrcEstablish_Insert(node, next) : CrcEstablish_Normal(node, next);
    break;
  case CRC_TYPE_INTERSECT:
    result = arcInserted ? CrcEstablish_Insert(node, next) : CrcEstablish_Intersect(node, next);
    break;
  case CRC_TYPE_INSERT:
    result = CrcEstablish_Insert(node, next);
    break;
  default:
    result = false;  // silent: no such strategy
    break;
  }
  node->SetHasBeenCrc(true);
  m_Establish = true;
  return result;
}

// The start-up move runs straight from its programmed start to the successor's offset start,
// so the tool reaches the contour's first point at right angles to it. Writes node's offset
// points and next's intersect point; next's offset points are provisional.
bool CCutterCompensator::CrcEstablish_Normal(CCrcNode* node, CCrcNode* next) {
  if (next == nullptr) {
    // Only the inserting start-up gets here without a successor, for a locate line: it keeps
    // its programmed path, starting where the previous joint left it if that is known.
    if (IsLocateLine(node)) {
      node->SetStartPointMoved(node->GetStartPoint());
      node->SetEndPointMoved(node->GetEndPoint());
      const __point2<double> intersect = node->GetIntersectPoint();
      if (IsInvalidValue(intersect.x) || IsInvalidValue(intersect.y)) {
        return true;
      }
      node->SetStartPointMoved(intersect);
      return true;
    }
    SetLatestError(CRC_ERROR_ESTABLISH_FAILED);
    return false;
  }
  if (!next->CrcMove(m_CrcRadius)) {
    SetLatestError(CRC_ERROR_ESTABLISH_FAILED);
    return false;
  }
  if (!node->SetStartPointMoved(node->GetStartPoint()) ||
      !node->SetEndPointMoved(next->GetStartPointMoved())) {
    SetLatestError(CRC_ERROR_ESTABLISH_FAILED);
    return false;
  }
  next->SetIntersectPoint(next->GetStartPointMoved());
  // The programmed start already lies beside the contour: there is no start-up move. Refused
  // as documented; with SetStartInPlace the tool is taken as standing where compensation puts
  // it, and the start-up segment's tool path is that one point (fixture:
  // startup_in_place_normal).
  if (IsEqual((node->GetEndPointMoved() - node->GetStartPointMoved()).GetLength(), 0, EPSILON)) {
    if (m_StartInPlace) {
      return true;
    }
    SetLatestError(CRC_ERROR_ESTABLISH_FAILED);
    return false;
  }
  return true;
}

// The start-up segment is treated as compensated from its programmed start and joined to its
// successor by the ordinary corner connection; a concave joint falls back to the normal one.
bool CCutterCompensator::CrcEstablish_Intersect(CCrcNode* node, CCrcNode* next) {
  if (next == nullptr) {
    SetLatestError(CRC_ERROR_ESTABLISH_FAILED);
    return false;
  }
  if (IsLocateLine(node)) {
    return CrcEstablish_Normal(node, next);
  }
  switch (GetConnectType(node, next)) {
  case CONNECT_EXTEND:
  case CONNECT_INSERT:
  case CONNECT_TANGENT:
    node->SetIntersectPoint(node->GetStartPoint());
    return CrcDoing(node, next);
  case CONNECT_SHORTEN:
    return CrcEstablish_Normal(node, next);
  default:
    return false;  // silent: unclassified joint
  }
}

// The start-up segment itself is offset along its whole length and a radial approach line from
// its programmed start to its offset start is inserted before it. An arc is accepted here.
bool CCutterCompensator::CrcEstablish_Insert(CCrcNode* node, CCrcNode* next) {
  if (IsLocateLine(node)) {
    return CrcEstablish_Normal(node, next);
  }
  // Extension (SetStartInPlace): a start-up line that starts beside its successor's start
  // would be trimmed to nothing at the concave joint it makes; the tool already stands where
  // the contour begins, so it starts as the normal start-up does (fixture:
  // startup_in_place_insert). Offsetting next here only writes its provisional points.
  if (m_StartInPlace && next != nullptr && AsLine(node) != nullptr && next->CrcMove(m_CrcRadius) &&
      IsEqual((next->GetStartPointMoved() - node->GetStartPoint()).GetLength(), 0, EPSILON)) {
    return CrcEstablish_Normal(node, next);
  }
  if (!node->CrcMove(m_CrcRadius)) {
    SetLatestError(CRC_ERROR_ESTABLISH_FAILED);
    return false;
  }
  CCrcLine approach(node->GetStartPoint(), node->GetStartPointMoved(), CRC_STATUS_ESTABLISH,
                    node->GetCrcDirType(), false);
  if (IsEqual(approach.GetLength(), 0, EPSILON)) {
    SetLatestError(CRC_ERROR_INSERT_LINE_FAILED);
    return false;
  }
  approach.SetHasBeenCrc(true);
  m_Translator->InsertNode(node, approach, true);
  node->SetIntersectPoint(node->GetStartPointMoved());
  return CrcDoing(node, next);
}

}  // namespace crc
