// SPDX-License-Identifier: MIT
// Joint steps shared by classification and the plain and the look-ahead corner connection.
#pragma once

#include <crc/compensator/cutter_compensator.h>

#include "geometry/intersection.h"

namespace crc {

// The joint prev -> next with its type, as GetConnectType classifies it, and the directions the
// corner computations read.
Joint ClassifyJoint(const CCrcNode* prev, const CCrcNode* next);

// A smooth joint: prev's offset end moves onto next's offset start, where next's offset path will
// begin. Returns the message to store when a point is refused, CRC_ERROR_NONE otherwise.
inline crc_error_t JoinTangent(CCrcNode* prev, CCrcNode* next) {
  if (!prev->SetEndPointMoved(next->GetStartPointMoved())) {
    return CRC_ERROR_INVALID_END_MOVED;
  }
  if (!next->SetIntersectPoint(next->GetStartPointMoved())) {
    return CRC_ERROR_INTERSECTION_FAILED;
  }
  return CRC_ERROR_NONE;
}

}  // namespace crc
