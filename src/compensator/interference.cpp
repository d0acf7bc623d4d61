// SPDX-License-Identifier: MIT
// Detects a finished offset path that runs backwards or crosses or overlaps one of the last few
// offset paths (the look-behind list). Only detects: the callers refuse the segment.
#include <crc/compensator/cutter_compensator.h>

#include <algorithm>
#include <cmath>

#include "compensator/workspace.h"
#include "geometry/intersection.h"
#include "geometry/proximity.h"
#include "geometry/tolerance.h"
#include "nodes/node_kind.h"

namespace crc {

namespace {

bool IsAtEnd(const __point2<double>& p, const Ends& stored) {
  return IsEqual((p - stored.start).GetLength(), 0, EPSILON) ||
         IsEqual((p - stored.end).GetLength(), 0, EPSILON);
}

// A common point counts as interference unless it is an end of the stored offset path: that is
// how the joint with the direct predecessor passes.
bool CrossesAwayFromEnds(int n, const __point2<double>& p1, const __point2<double>& p2,
                         const Ends& stored) {
  if (n == INTERSECT_ONE) {
    return !IsAtEnd(p1, stored);
  }
  if (n == INTERSECT_TWO) {
    return !IsAtEnd(p1, stored) || !IsAtEnd(p2, stored);
  }
  return false;
}

// The new segment's piece (in the spare slot) against every entry. Two lines are compared by
// their offset chords alone; a line's working copy is built only for an arc.
bool LineMeetsList(const CCrcLine& line, const LookBehindPiece& current,
                   const std::vector<LookBehindPiece>& slots) {
  for (const LookBehindPiece& stored : slots) {
    if (&stored == &current) {
      continue;
    }
    if (stored.kind == NODE_LINE) {
      if (FarApart(stored.box, current.box)) {
        continue;
      }
      __point2<double> p1 = InvalidPoint();
      const int n = IntersectLineSegments(stored.line, current.line, p1);
      if (n == INTERSECT_OVERLAP ||
          CrossesAwayFromEnds(n, p1, p1, {stored.line.start, stored.line.end})) {
        return true;
      }
    } else if (stored.kind == NODE_ARC) {
      __point2<double> p1 = InvalidPoint();
      __point2<double> p2 = InvalidPoint();
      const CCrcLine currentCopy = OffsetLineCopy(line);
      const int n = IntersectLineArcSegments(&currentCopy, &*stored.arc, p1, p2);
      if (CrossesAwayFromEnds(n, p1, p2,
                              {stored.arc->GetStartPoint(), stored.arc->GetEndPoint()})) {
        return true;
      }
    }
  }
  return false;
}

bool ArcMeetsList(const LookBehindPiece& piece, const std::vector<LookBehindPiece>& slots) {
  const CCrcArc& current = *piece.arc;
  for (const LookBehindPiece& stored : slots) {
    if (&stored == &piece) {
      continue;
    }
    __point2<double> p1 = InvalidPoint();
    __point2<double> p2 = InvalidPoint();
    if (stored.kind == NODE_LINE) {
      // Only the ends of the stored line's working copy matter to the crossing.
      const CCrcLine storedCopy(stored.line.start, stored.line.end, CRC_STATUS_NONE, CRC_DIR_NONE,
                                false);
      const int n = IntersectLineArcSegments(&storedCopy, &current, p1, p2);
      if (CrossesAwayFromEnds(n, p1, p2, {stored.line.start, stored.line.end})) {
        return true;
      }
    } else if (stored.kind == NODE_ARC) {
      const int n = IntersectArcSegments(&*stored.arc, &current, p1, p2);
      if (n == INTERSECT_OVERLAP ||
          CrossesAwayFromEnds(n, p1, p2,
                              {stored.arc->GetStartPoint(), stored.arc->GetEndPoint()})) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace

bool CCutterCompensator::CheckIntervener(const CCrcNode* node) {
  if (m_Workspace) {
    m_Workspace->checkedNode = nullptr;
  }
  if (m_ListSize == 0 || m_NodeList.empty() || node == nullptr) {
    return false;
  }
  const CCrcLine* line = AsLine(node);
  if (line != nullptr && line->IsLocate()) {
    return false;  // a positioning move is not a cut
  }
  // Offsetting reversed the segment: its offset chord points against its programmed chord.
  if (IsOppositeVector(node->GetEndPoint() - node->GetStartPoint(),
                       node->GetEndPointMoved() - node->GetStartPointMoved())) {
    return true;
  }
  CompensatorWorkspace* workspace = CacheOf(m_NodeList, m_Workspace);
  if (workspace == nullptr) {
    return false;  // no memory to describe the list: it looks back over nothing
  }
  // The new segment's piece goes into the spare slot, where the list takes it over when the
  // segment joins it.
  LookBehindPiece& current = workspace->slots[workspace->Spare()];
  workspace->checkedNode = node;
  if (line != nullptr) {
    current.DescribeLine(*line);
    return LineMeetsList(*line, current, workspace->slots);
  }
  if (const CCrcArc* arc = AsArc(node)) {
    current.DescribeArc(*arc);
    return ArcMeetsList(current, workspace->slots);
  }
  current.kind = NODE_NONE;
  return false;
}

}  // namespace crc
