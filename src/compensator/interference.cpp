// SPDX-License-Identifier: MIT
// Detects a finished offset path that runs backwards or crosses or overlaps one of the last few
// offset paths (the look-behind list). Only detects: the callers refuse the segment. Whether a
// meeting is the path coming back to itself is judged in closure.cpp.
#include <crc/compensator/cutter_compensator.h>

#include <algorithm>
#include <cmath>

#include "compensator/closure.h"
#include "compensator/workspace.h"
#include "geometry/intersection.h"
#include "geometry/proximity.h"
#include "geometry/tolerance.h"
#include "geometry/tolerances.h"
#include "nodes/node_kind.h"

namespace crc {

namespace {

bool IsAtEnd(const __point2<double>& p, const Ends& stored) {
  return IsEqual((p - stored.start).GetLength(), 0, EPSILON) ||
         IsEqual((p - stored.end).GetLength(), 0, EPSILON);
}

// How the check judges two pieces: as documented (Cam false), or with the CAM tolerances (see
// SetCamTolerance), which scale with the pieces instead of holding them to EPSILON. A template
// parameter, so that the documented check pays nothing for the other.
template <bool Cam>
struct Judgement {
  // Two straight pieces count as parallel below this cross product: EPSILON itself, or EPSILON
  // times both lengths (the sine of their angle below EPSILON). Consecutive offset chords of a
  // curve posted as 0.05 mm chords meet at an angle of a few thousandths of a radian and their
  // cross product lies far below EPSILON: taken as parallel and joined, one reads as running
  // back over the other.
  static double ParallelTolerance(const LinePiece& a, const LinePiece& b) {
    if constexpr (Cam) {
      return EPSILON * a.length * b.length;
    } else {
      return EPSILON;
    }
  }

  // Whether a common point of a stored piece and the new one is not interference: an end of the
  // stored piece (within EPSILON), which is how the joint with the direct predecessor passes;
  // with the CAM tolerances, also a point near the joint where the stored piece ends and the new
  // one begins. Two offset circles that miss touching by less than CIRCLE_TOUCH_TOLERANCE are
  // taken as touching, and their one common point is put on the line of their centres: where two
  // arcs join almost tangentially, near the joint but not at it. And a point counts as lying on
  // an arc when its angle is within EPSILON radians of the arc's range, up to EPSILON times the
  // radius along the circle beyond the arc's end. A common point that near the joint is the
  // joint. `radius` is the larger radius of the two pieces (0 for two lines).
  static bool Allows(const __point2<double>& p, const Ends& stored,
                     const __point2<double>& currentStart, double radius) {
    if (IsAtEnd(p, stored)) {
      return true;
    }
    if constexpr (Cam) {
      return IsEqual((currentStart - stored.end).GetLength(), 0, EPSILON) &&
             (p - stored.end).GetLength() <= CIRCLE_TOUCH_TOLERANCE + EPSILON * radius;
    }
    return false;
  }

  // A common point counts as interference unless it is allowed.
  static bool Crosses(int n, const __point2<double>& p1, const __point2<double>& p2,
                      const Ends& stored, const __point2<double>& currentStart, double radius) {
    if (n == INTERSECT_ONE) {
      return !Allows(p1, stored, currentStart, radius);
    }
    if (n == INTERSECT_TWO) {
      return !Allows(p1, stored, currentStart, radius) || !Allows(p2, stored, currentStart, radius);
    }
    return false;
  }

  // The meeting as the closure rule reads it: the points not allowed (none for an overlap).
  static OffsetMeeting Unallowed(int n, const __point2<double>& p1, const __point2<double>& p2,
                                 const Ends& stored, const __point2<double>& currentStart,
                                 double radius) {
    OffsetMeeting meeting;
    for (int i = 0; i < (n == INTERSECT_TWO ? 2 : n == INTERSECT_ONE ? 1 : 0); ++i) {
      const __point2<double>& p = i == 0 ? p1 : p2;
      if (!Allows(p, stored, currentStart, radius)) {
        meeting.points[meeting.count++] = p;
      }
    }
    return meeting;
  }
};

// What the closure rule needs besides the two pieces: the new segment and the list whose
// entries the slots describe (see CompensatorWorkspace for how slots map to entries).
struct OwnPath {
  const CCrcNode* current = nullptr;
  const std::vector<std::unique_ptr<const CCrcNode>>* list = nullptr;
  const CompensatorWorkspace* workspace = nullptr;
  double radius = 0.0;

  // Whether the meeting with the entry in `slot` is the path coming back to itself.
  bool Explains(const LookBehindPiece& slot, const OffsetMeeting& meeting) const {
    const std::size_t slots = workspace->slots.size();
    const auto at = static_cast<std::size_t>(&slot - workspace->slots.data());
    const std::size_t index = (at + slots - workspace->oldest) % slots;
    ListedSegment listed;
    listed.stored = (*list)[index].get();
    listed.after = index + 1 < list->size() ? (*list)[index + 1].get() : nullptr;
    listed.newest = list->back().get();
    return IsOwnPathMeeting(*current, listed, meeting, radius);
  }
};

Ends ArcEnds(const CCrcArc& arc) { return {arc.GetStartPoint(), arc.GetEndPoint()}; }

// The new segment's piece (in the spare slot) against every entry. Two lines are compared by
// their offset chords alone; a line's working copy is built only for an arc. With `Closure`, a
// meeting that `own` explains as the path coming back to itself does not count (a second scan,
// made only after the plain one has found a meeting).
template <bool Cam, bool Closure>
bool LineMeetsList(const CCrcLine& line, const LookBehindPiece& current,
                   const std::vector<LookBehindPiece>& slots, const OwnPath* own) {
  using Judge = Judgement<Cam>;
  for (const LookBehindPiece& stored : slots) {
    if (&stored == &current) {
      continue;
    }
    if (stored.kind == NODE_LINE) {
      if (FarApart(stored.box, current.box)) {
        continue;
      }
      __point2<double> p1 = InvalidPoint();
      const int n = IntersectLineSegments(stored.line, current.line,
                                          Judge::ParallelTolerance(stored.line, current.line), p1);
      if (n == INTERSECT_OVERLAP || Judge::Crosses(n, p1, p1, {stored.line.start, stored.line.end},
                                                   current.line.start, 0.0)) {
        if constexpr (Closure) {
          if (own->Explains(stored,
                            Judge::Unallowed(n, p1, p1, {stored.line.start, stored.line.end},
                                             current.line.start, 0.0))) {
            continue;
          }
        }
        return true;
      }
    } else if (stored.kind == NODE_ARC) {
      __point2<double> p1 = InvalidPoint();
      __point2<double> p2 = InvalidPoint();
      const CCrcLine currentCopy = OffsetLineCopy(line);
      const int n = IntersectLineArcSegments(&currentCopy, &*stored.arc, p1, p2);
      if (Judge::Crosses(n, p1, p2, ArcEnds(*stored.arc), current.line.start,
                         stored.arc->GetRadius())) {
        if constexpr (Closure) {
          if (own->Explains(stored,
                            Judge::Unallowed(n, p1, p2, ArcEnds(*stored.arc), current.line.start,
                                             stored.arc->GetRadius()))) {
            continue;
          }
        }
        return true;
      }
    }
  }
  return false;
}

template <bool Cam, bool Closure>
bool ArcMeetsList(const LookBehindPiece& piece, const std::vector<LookBehindPiece>& slots,
                  const OwnPath* own) {
  using Judge = Judgement<Cam>;
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
      if (Judge::Crosses(n, p1, p2, {stored.line.start, stored.line.end}, current.GetStartPoint(),
                         current.GetRadius())) {
        if constexpr (Closure) {
          if (own->Explains(stored,
                            Judge::Unallowed(n, p1, p2, {stored.line.start, stored.line.end},
                                             current.GetStartPoint(), current.GetRadius()))) {
            continue;
          }
        }
        return true;
      }
    } else if (stored.kind == NODE_ARC) {
      const int n = IntersectArcSegments(&*stored.arc, &current, p1, p2);
      if (n == INTERSECT_OVERLAP ||
          Judge::Crosses(n, p1, p2, ArcEnds(*stored.arc), current.GetStartPoint(),
                         std::max(stored.arc->GetRadius(), current.GetRadius()))) {
        if constexpr (Closure) {
          const double radius = std::max(stored.arc->GetRadius(), current.GetRadius());
          if (own->Explains(stored, Judge::Unallowed(n, p1, p2, ArcEnds(*stored.arc),
                                                     current.GetStartPoint(), radius))) {
            continue;
          }
        }
        return true;
      }
    }
  }
  return false;
}

// The scan again, with the closure rule: whether the new segment's piece (in the spare slot)
// meets an entry other than where the path comes back to itself.
[[gnu::noinline]] bool MeetsBeyondOwnPath(bool cam, const OwnPath& own) {
  const std::vector<LookBehindPiece>& slots = own.workspace->slots;
  const LookBehindPiece& current = slots[own.workspace->Spare()];
  if (const CCrcLine* line = AsLine(own.current)) {
    return cam ? LineMeetsList<true, true>(*line, current, slots, &own)
               : LineMeetsList<false, true>(*line, current, slots, &own);
  }
  return cam ? ArcMeetsList<true, true>(current, slots, &own)
             : ArcMeetsList<false, true>(current, slots, &own);
}

// A line whose trimmed offset runs backwards, from A to B against its programmed direction: the
// tool goes on along its predecessor's offset to A, comes back to B and leaves along its
// successor's. The overshoot beyond B cuts into the predecessor's wall by the backward run times
// the sine of the turn between the two segments, and likewise on the successor's side. Where
// rounded chord coordinates kink a curve concavely by a fraction of a degree, that cut is a few
// microns, less than the engine already allows at a joint it takes as smooth (REVERSAL_DEPTH
// times the radius); at a real corner it is a gouge. The turn is read at the joint with the
// predecessor (the newest piece of the look-behind list); without one joined there, any backward
// run is refused.
bool CutsBackTooDeep(const __point2<double>& programmed, const __point2<double>& offset,
                     const CCrcNode& previous, const __point2<double>& start, double radius) {
  const double length = programmed.GetLength();
  if (IsEqual(length, 0, EPSILON)) {
    return false;
  }
  const __point2<double> along = programmed * (1.0 / length);
  const double back = -Dot(offset, along);
  if (back <= 0.0) {
    return false;
  }
  if (!IsEqual((previous.GetEndPointMoved() - start).GetLength(), 0, EPSILON)) {
    return true;
  }
  __point2<double> incoming;
  if (const CCrcArc* arc = AsArc(&previous)) {
    incoming = arc->GetEndTangent();
  } else {
    incoming = previous.GetEndPoint() - previous.GetStartPoint();
  }
  const double incomingLength = incoming.GetLength();
  if (IsEqual(incomingLength, 0, EPSILON)) {
    return true;
  }
  const double sine = std::fabs(incoming.x * along.y - incoming.y * along.x) / incomingLength;
  return back * sine > REVERSAL_DEPTH * std::fabs(radius);
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
  const __point2<double> programmed = node->GetEndPoint() - node->GetStartPoint();
  const __point2<double> offset = node->GetEndPointMoved() - node->GetStartPointMoved();
  if (m_CamTolerance && line != nullptr) {
    if (CutsBackTooDeep(programmed, offset, *m_NodeList.back(), node->GetStartPointMoved(),
                        m_CrcRadius)) {
      return true;
    }
  } else if (IsOppositeVector(programmed, offset)) {
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
    return m_CamTolerance ? LineMeetsList<true, false>(*line, current, workspace->slots, nullptr)
                          : LineMeetsList<false, false>(*line, current, workspace->slots, nullptr);
  }
  if (const CCrcArc* arc = AsArc(node)) {
    current.DescribeArc(*arc);
    return m_CamTolerance ? ArcMeetsList<true, false>(current, workspace->slots, nullptr)
                          : ArcMeetsList<false, false>(current, workspace->slots, nullptr);
  }
  current.kind = NODE_NONE;
  return false;
}

// The interference found was only the path coming back to itself: checked again with the
// closure rule, the segment meets no entry elsewhere. CheckIntervener has just described the
// segment into the spare slot, and marked it so, only when it did not run backwards.
bool CCutterCompensator::ComesBackToItself(const CCrcNode* node) {
  CompensatorWorkspace* workspace = m_Workspace.get();
  if (node == nullptr || workspace == nullptr || workspace->checkedNode != node) {
    return false;  // the check stopped before the scan: the segment runs backwards
  }
  return !MeetsBeyondOwnPath(m_CamTolerance, {node, &m_NodeList, workspace, m_CrcRadius});
}

}  // namespace crc
