// SPDX-License-Identifier: MIT
// Detects a finished offset path that runs backwards or crosses or overlaps one of the last few
// offset paths (the look-behind list). Only detects: the callers refuse the segment.
#include <crc/compensator/cutter_compensator.h>

#include "geometry/intersection.h"
#include "geometry/proximity.h"
#include "geometry/tolerance.h"
#include "nodes/node_kind.h"

namespace crc {

namespace {

// Working copies: the offset geometry of a segment as ordinary programmed geometry.
CCrcLine OffsetLineCopy(const CCrcLine& line) {
  CCrcLine copy(line);
  copy.SetStartPoint(line.GetStartPointMoved());
  copy.SetEndPoint(line.GetEndPointMoved());
  return copy;
}

CCrcArc OffsetArcCopy(const CCrcArc& arc) {
  return CCrcArc(arc.GetCenterPoint(), arc.GetStartPointMoved(), arc.GetEndPointMoved(),
                 arc.GetRadiusMoved(), arc.GetDirection(), arc.GetStatusType(),
                 arc.GetCrcDirType());
}

bool IsAtEnd(const __point2<double>& p, const CCrcNode& stored) {
  return IsEqual((p - stored.GetStartPoint()).GetLength(), 0, EPSILON) ||
         IsEqual((p - stored.GetEndPoint()).GetLength(), 0, EPSILON);
}

// A common point counts as interference unless it is an end of the stored offset path: that is
// how the joint with the direct predecessor passes.
bool CrossesAwayFromEnds(int n, const __point2<double>& p1, const __point2<double>& p2,
                         const CCrcNode& stored) {
  if (n == INTERSECT_ONE) {
    return !IsAtEnd(p1, stored);
  }
  if (n == INTERSECT_TWO) {
    return !IsAtEnd(p1, stored) || !IsAtEnd(p2, stored);
  }
  return false;
}

}  // namespace

bool CCutterCompensator::CheckIntervener(const CCrcNode* node) {
  if (m_ListSize == 0 || m_NodeList.empty() || node == nullptr || IsLocateLine(node)) {
    return false;
  }
  // Offsetting reversed the segment: its offset chord points against its programmed chord.
  if (IsOppositeVector(node->GetEndPoint() - node->GetStartPoint(),
                       node->GetEndPointMoved() - node->GetStartPointMoved())) {
    return true;
  }
  const CCrcLine* line = AsLine(node);
  const CCrcArc* arc = AsArc(node);
  if (line == nullptr && arc == nullptr) {
    return false;
  }
  // The new segment's working copy is the same against every entry: build it once.
  const CCrcLine currentLine = line != nullptr ? OffsetLineCopy(*line) : CCrcLine();
  const CCrcArc currentArc = arc != nullptr ? OffsetArcCopy(*arc) : CCrcArc();
  for (const auto& entry : m_NodeList) {
    __point2<double> p1 = InvalidPoint();
    __point2<double> p2 = InvalidPoint();
    if (const CCrcLine* storedLine = AsLine(entry.get())) {
      const CCrcLine stored = OffsetLineCopy(*storedLine);
      if (line != nullptr) {
        const int n = IntersectLineSegments(&stored, &currentLine, p1);
        if (n == INTERSECT_OVERLAP || CrossesAwayFromEnds(n, p1, p2, stored)) {
          return true;
        }
      } else {
        const int n = IntersectLineArcSegments(&stored, &currentArc, p1, p2);
        if (CrossesAwayFromEnds(n, p1, p2, stored)) {
          return true;
        }
      }
    } else if (const CCrcArc* storedArc = AsArc(entry.get())) {
      const CCrcArc stored = OffsetArcCopy(*storedArc);
      if (line != nullptr) {
        const int n = IntersectLineArcSegments(&currentLine, &stored, p1, p2);
        if (CrossesAwayFromEnds(n, p1, p2, stored)) {
          return true;
        }
      } else {
        const int n = IntersectArcSegments(&stored, &currentArc, p1, p2);
        if (n == INTERSECT_OVERLAP || CrossesAwayFromEnds(n, p1, p2, stored)) {
          return true;
        }
      }
    }
  }
  return false;
}

}  // namespace crc
