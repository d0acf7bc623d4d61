// SPDX-License-Identifier: MIT
// Whether a meeting of two offset paths of one run is the programmed path coming back to where
// it has been: running over itself again on the same side, or closing a loop whose lead-in and
// run-on lie in the air (CCutterCompensator::SetClosureTolerance). Reads only the programmed
// geometry of the segments; the interference check decides what counts as a meeting.
#pragma once

#include <crc/nodes/crc_node.h>

namespace crc {

// A meeting of the new segment's offset path with a stored one's, as the interference check
// found it: the one or two meeting points it does not allow; none for an overlap.
struct OffsetMeeting {
  int count = 0;  // points held in `points`
  __point2<double> points[2];
};

// The stored segment as the look-behind list holds it, with the list around it.
struct ListedSegment {
  const CCrcNode* stored = nullptr;  // the clone the new segment's offset meets
  const CCrcNode* after = nullptr;   // the entry listed after it; null when it is the newest
  const CCrcNode* newest = nullptr;  // the newest entry: the new segment's predecessor
};

// True when the meeting is the programmed path retracing itself or closing on itself, by the
// rule that SetClosureTolerance documents; `radius` is the cutter radius, positive. False for a
// segment of no kind, one without a side, and every case the rule does not cover.
bool IsOwnPathMeeting(const CCrcNode& current, const ListedSegment& listed,
                      const OffsetMeeting& meeting, double radius);

}  // namespace crc
