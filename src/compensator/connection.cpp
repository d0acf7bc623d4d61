// SPDX-License-Identifier: MIT
// Finishes a segment inside active compensation: joins its offset path to its successor's
// (trim, extend, bridge or tangent), hands bridging lines to the host and records the segment
// for the interference check. Look-ahead evasion, cancel and the interference test itself live
// in lookahead.cpp, cancel.cpp and interference.cpp.
#include <crc/compensator/cutter_compensator.h>

#include "compensator/joints.h"
#include "compensator/workspace.h"
#include "geometry/intersection.h"
#include "geometry/tolerance.h"
#include "geometry/tolerances.h"
#include "nodes/node_kind.h"

namespace crc {

// The per-segment step of active compensation. On success node's offset start and end are
// final, next's intersect point says where next's offset path begins, node is marked
// compensated and (unless it is a locate line) cloned into the look-behind list. On failure the
// message of the failing step stands and nothing written before it is undone.
bool CCutterCompensator::CrcDoing(CCrcNode* node, CCrcNode* next) {
  if (next == nullptr || next->GetStatusType() == CRC_STATUS_RETRACT) {
    return CrcPreRetract(node, next);
  }
  const bool ok =
      m_InterveneEvade ? CalculateConnectionExt1(node, next) : CalculateConnection(node, next);
  if (!ok) {
    return false;
  }
  // With the closure tolerance, a meeting where the path comes back to itself is set aside.
  if (CheckIntervener(node) && !(m_ClosureTolerance && ComesBackToItself(node))) {
    SetLatestError(CRC_ERROR_INTERFERENCE);
    return false;
  }
  node->SetHasBeenCrc(true);
  if (!IsLocateLine(node)) {
    // AddToList, taking over what the interference check has just worked out for node.
    AppendToLookBehind(m_NodeList, m_Workspace, m_ListSize, node, true);
  }
  return true;
}

// Classifies the joint prev -> next, computes its connection points from the programmed
// geometry and the radius, offsets both segments and connects them. Fixes prev's offset points
// and next's intersect point.
bool CCutterCompensator::CalculateConnection(CCrcNode* prev, CCrcNode* next) {
  if (prev == nullptr || next == nullptr) {
    return false;
  }
  // The joint tells lines from arcs, so it tells at once whether a locate line takes part.
  const Joint joint = ClassifyJoint(prev, next);
  const bool locate = (joint.prevLine != nullptr && joint.prevLine->IsLocate()) ||
                      (joint.nextLine != nullptr && joint.nextLine->IsLocate());
  if (!locate || !LocateType(prev, next)) {
    __point2<double> p1 = InvalidPoint();
    __point2<double> p2 = InvalidPoint();
    const connect_t type = joint.type;
    if (!CalculateIntersection(joint, type, m_CrcRadius, p1, p2)) {
      SetLatestError(CRC_ERROR_INTERFERENCE);
      return false;
    }
    if (!prev->CrcMove(m_CrcRadius) || !next->CrcMove(m_CrcRadius)) {
      SetLatestError(CRC_ERROR_RADIUS_UNREASONABLE);
      return false;
    }
    switch (type) {
    case CONNECT_EXTEND:
    case CONNECT_INSERT:
      InsertLineBefore(prev, next, p1, p2, type);
      next->SetIntersectPoint(next->GetStartPointMoved());
      break;
    case CONNECT_SHORTEN: {
      if (!prev->SetEndPointMoved(p1)) {
        SetLatestError(CRC_ERROR_INVALID_END_MOVED);
        return false;
      }
      // Reversal guard: trimmed at both ends, a line's offset may now run against its
      // programmed direction (the line is shorter than the corners need). A very short line
      // collapses onto its plain offset start; a longer one would gouge the part. Arcs are
      // not guarded here.
      // For a line, the joint's end tangent is its programmed chord brought to unit length.
      const __point2<double> moved = Unified(prev->GetEndPointMoved() - prev->GetStartPointMoved());
      const __point2<double> programmed =
          joint.prevLine != nullptr ? joint.endTangent
                                    : Unified(prev->GetEndPoint() - prev->GetStartPoint());
      if (joint.prevLine != nullptr && Dot(moved, programmed) < 0) {  // exact
        if (prev->GetLength() >= SHORT_LINE_REVERSAL_LENGTH) {
          SetLatestError(CRC_ERROR_INTERFERENCE);
          return false;
        }
        p1 = prev->GetStartPointMoved();
      }
      if (!next->SetIntersectPoint(p1)) {
        SetLatestError(CRC_ERROR_INTERSECTION_FAILED);
        return false;
      }
      break;
    }
    case CONNECT_TANGENT: {
      const crc_error_t error = JoinTangent(prev, next);
      if (error != CRC_ERROR_NONE) {
        SetLatestError(error);
        return false;
      }
      break;
    }
    default:
      break;  // unreachable: classification yields one of the four types
    }
    if (!prev->SetStartPointMoved(prev->GetIntersectPoint())) {
      SetLatestError(CRC_ERROR_INVALID_START_MOVED);
      return false;
    }
  }
  // A line whose offset collapsed to a point leaves no tool path to follow.
  if (AsLine(prev) != nullptr &&
      IsEqual((prev->GetEndPointMoved() - prev->GetStartPointMoved()).GetLength(), 0, EPSILON)) {
    SetLatestError(CRC_ERROR_OFFSET_FAILED);
    return false;
  }
  return true;
}

// Closes an outside corner. Insert: three bridging lines E -> p1 -> p2 -> S before next.
// Extend: a line's offset is stretched to p1, an arc gets a straight segment to or from p1.
// Lines of zero length are not inserted; the order of the host's sequence is prev, the
// inserted lines, next.
bool CCutterCompensator::InsertLineBefore(CCrcNode* prev, CCrcNode* next, __point2<double> p1,
                                          __point2<double> p2, connect_t type) {
  const __point2<double> end = prev->GetEndPointMoved();
  const __point2<double> start = next->GetStartPointMoved();
  const crc_dir_t side = prev->GetCrcDirType();
  const auto insert = [&](const __point2<double>& from, const __point2<double>& to) {
    CCrcLine line(from, to, CRC_STATUS_DOING, side, false);
    line.SetHasBeenCrc(true);
    if (!IsEqual(line.GetLength(), 0, EPSILON)) {
      m_Translator->InsertNode(next, line, true);
    }
  };
  if (type == CONNECT_INSERT) {
    insert(end, p1);
    insert(p1, p2);
    insert(p2, start);
    return true;
  }
  if (type == CONNECT_EXTEND) {
    if (AsLine(prev) != nullptr) {
      if (!prev->SetEndPointMoved(p1)) {
        SetLatestError(CRC_ERROR_INVALID_END_MOVED);
        return false;
      }
    } else {
      insert(end, p1);
    }
    if (AsLine(next) != nullptr) {
      if (!next->SetStartPointMoved(p1)) {
        SetLatestError(CRC_ERROR_INVALID_START_MOVED);
        return false;
      }
    } else {
      insert(p1, start);
    }
    return true;
  }
  SetLatestError(CRC_ERROR_INSERT_UNSUPPORTED);
  return false;
}

// Joints that involve a locate (positioning) line: the locate line is not offset but connected
// to its neighbours' offset paths. Returns false, touching nothing, when neither is one.
bool CCutterCompensator::LocateType(CCrcNode* prev, CCrcNode* next) {
  const bool prevLocate = IsLocateLine(prev);
  const bool nextLocate = IsLocateLine(next);
  if (!prevLocate && !nextLocate) {
    return false;
  }
  if (prevLocate && nextLocate) {
    prev->SetEndPointMoved(prev->GetEndPoint());
    next->SetIntersectPoint(next->GetStartPoint());
  } else if (prevLocate) {
    // The locate line ends where next's offset path begins.
    next->CrcMove(m_CrcRadius);
    prev->SetEndPointMoved(next->GetStartPointMoved());
    next->SetIntersectPoint(next->GetStartPointMoved());
  } else {
    // The locate line begins where prev's offset path ends.
    prev->CrcMove(m_CrcRadius);
    next->SetIntersectPoint(prev->GetEndPointMoved());
  }
  const __point2<double> intersect = prev->GetIntersectPoint();
  if (!IsInvalidValue(intersect.x) && !IsInvalidValue(intersect.y)) {
    prev->SetStartPointMoved(intersect);
  } else {
    prev->SetStartPointMoved(prev->GetStartPoint());
  }
  return true;
}

}  // namespace crc
