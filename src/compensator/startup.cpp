// SPDX-License-Identifier: MIT
// Brings the tool centre from the programmed start of the start-up segment onto the offset
// path, by the normal, intersecting or inserting strategy. Corner joints are left to
// connection.cpp, which the intersecting and inserting start-ups finish through.
#include <crc/compensator/cutter_compensator.h>

#include "geometry/tolerance.h"
#include "nodes/node_kind.h"

namespace crc {

namespace {

// How a start-up is made under the extensions: by the strategy set, by insertion, or in place.
enum class Startup { AS_SET, BY_INSERTION, IN_PLACE };

// A start-up arc is offset along its whole length and reached by a radial line whatever the
// strategy (SetArcStartup): the normal and intersecting start-ups only lead a straight move onto
// the contour (fixture: startup_arc_by_insertion). A start-up line that starts beside its
// successor's start leaves the tool where compensation puts it (SetStartInPlace): the normal
// start-up would refuse its zero move, the intersecting one falls back to the normal one at the
// concave joint it makes, the inserting one would trim it to nothing (fixtures:
// startup_in_place_normal, startup_in_place_insert). Offsetting next for that test only writes
// its provisional points. A strategy outside the enum stays as set, silent.
Startup ExtendedStartup(bool arcStartup, bool startInPlace, CCrcNode* node, CCrcNode* next,
                        crc_t type, double radius) {
  const bool known =
      type == CRC_TYPE_NORMAL || type == CRC_TYPE_INTERSECT || type == CRC_TYPE_INSERT;
  if (arcStartup && AsArc(node) != nullptr && known) {
    return Startup::BY_INSERTION;
  }
  const bool inPlace =
      startInPlace && known && next != nullptr && AsLine(node) != nullptr &&
      next->CrcMove(radius) &&
      IsEqual((next->GetStartPointMoved() - node->GetStartPoint()).GetLength(), 0, EPSILON);
  return inPlace ? Startup::IN_PLACE : Startup::AS_SET;
}

// The start-up in place, written as the normal start-up writes it: from the programmed start to
// the successor's offset start (within EPSILON the same point), where the successor's path
// begins.
bool StartInPlace(CCrcNode* node, CCrcNode* next) {
  next->SetIntersectPoint(next->GetStartPointMoved());
  return node->SetStartPointMoved(node->GetStartPoint()) &&
         node->SetEndPointMoved(next->GetStartPointMoved());
}

}  // namespace

// Dispatches on the strategy, then marks the segment compensated and the engine established
// whatever the routine returned: a failed start-up is not retried on the same segment.
bool CCutterCompensator::CrcEstablish(CCrcNode* node, CCrcNode* next) {
  crc_t type = m_CrcType;
  if (m_StartInPlace || m_ArcStartup) {
    switch (ExtendedStartup(m_ArcStartup, m_StartInPlace, node, next, type, m_CrcRadius)) {
    case Startup::BY_INSERTION:
      type = CRC_TYPE_INSERT;
      break;
    case Startup::IN_PLACE: {
      const bool placed = StartInPlace(node, next);
      if (!placed) {
        SetLatestError(CRC_ERROR_ESTABLISH_FAILED);
      }
      node->SetHasBeenCrc(true);
      m_Establish = true;
      return placed;
    }
    case Startup::AS_SET:
      break;
    }
  }
  bool result = false;
  switch (type) {
  case CRC_TYPE_NORMAL:
    result = CrcEstablish_Normal(node, next);
    break;
  case CRC_TYPE_INTERSECT:
    result = CrcEstablish_Intersect(node, next);
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
  // The programmed start already lies beside the contour: there is no start-up move (see
  // SetStartInPlace for the extension that accepts it).
  if (IsEqual((node->GetEndPointMoved() - node->GetStartPointMoved()).GetLength(), 0, EPSILON)) {
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
