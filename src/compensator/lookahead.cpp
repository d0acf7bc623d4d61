// SPDX-License-Identifier: MIT
// The look-ahead connection used when interference evasion is on: while finishing prev it also
// computes the joint after next, and when the two connection vectors cross (next is too short
// for the cutter at its two corners) it drops next from the tool path by trimming prev against
// next2 or merging next into prev. Plain joints are applied as in the corner connection.
#include <crc/compensator/cutter_compensator.h>

#include <utility>

#include "compensator/joints.h"
#include "compensator/lookahead.h"
#include "geometry/intersection.h"
#include "geometry/tolerance.h"
#include "nodes/node_kind.h"

namespace crc {

namespace {
enum class Evasion { NONE, TRIM, MERGE };

struct EvasionRule {
  Evasion evasion = Evasion::NONE;
  bool firstUsesSecondPoint = false;  // V1 ends at q2 (the bridge corner next to `next`)
  bool acceptsTangent = false;        // trim: CONNECT_TANGENT is accepted for prev -> next2
};

// Which pairs of joint types are examined, and what is done when their vectors cross.
EvasionRule RuleFor(connect_t type1, connect_t type2) {
  const bool flat1 = type1 == CONNECT_EXTEND || type1 == CONNECT_TANGENT;
  const bool flat2 = type2 == CONNECT_EXTEND || type2 == CONNECT_TANGENT;
  if (flat1 && type2 == CONNECT_SHORTEN) {
    return {Evasion::TRIM, false, true};
  }
  if (type1 == CONNECT_SHORTEN && flat2) {
    return {Evasion::TRIM, false, true};
  }
  if (type1 == CONNECT_INSERT && type2 == CONNECT_SHORTEN) {
    return {Evasion::MERGE, true, false};
  }
  if (type1 == CONNECT_SHORTEN && type2 == CONNECT_INSERT) {
    return {Evasion::MERGE, false, false};
  }
  if (type1 == CONNECT_SHORTEN && type2 == CONNECT_SHORTEN) {
    return {Evasion::TRIM, false, false};
  }
  return {};
}
}  // namespace

double GetOrientation(const __point2<double>& o, const __point2<double>& a,
                      const __point2<double>& b) {
  return (a.x - o.x) * (b.y - o.y) - (b.x - o.x) * (a.y - o.y);
}

bool IsConnectVectorsCross(const ConnectVector& first, const ConnectVector& second) {
  const double d1 = GetOrientation(first.first, first.second, second.first);
  const double d2 = GetOrientation(first.first, first.second, second.second);
  const double d3 = GetOrientation(second.first, second.second, first.first);
  const double d4 = GetOrientation(second.first, second.second, first.second);
  // exact: touching, shared end points and collinear vectors do not cross
  return d1 * d2 < 0.0 && d3 * d4 < 0.0;
}

// Classifies the joint prev -> next and returns its connection points. Writes into prev only
// for a tangent joint (its plain offset, whose end is the connection point).
bool CCutterCompensator::CalculateOffVector(CCrcNode* prev, CCrcNode* next, connect_t& type,
                                            __point2<double>& p1, __point2<double>& p2) {
  __point2<double> a = InvalidPoint();
  __point2<double> b = InvalidPoint();
  const Joint joint = ClassifyJoint(prev, next);
  const connect_t t = joint.type;
  if (!CalculateIntersection(joint, t, m_CrcRadius, a, b)) {
    SetLatestError(CRC_ERROR_INTERFERENCE);
    return false;
  }
  type = t;
  switch (t) {
  case CONNECT_EXTEND:
  case CONNECT_INSERT:
    p1 = a;
    p2 = b;
    break;
  case CONNECT_SHORTEN:
    p1 = a;
    break;
  case CONNECT_TANGENT:
    if (!prev->CrcMove(m_CrcRadius)) {
      SetLatestError(CRC_ERROR_INTERFERENCE);
      return false;
    }
    p1 = prev->GetEndPointMoved();
    break;
  default:
    break;
  }
  return true;
}

// Applies one joint already classified and computed, without looking further ahead.
bool CCutterCompensator::ProcessNoIntervine(CCrcNode* prev, CCrcNode* next, const connect_t& type,
                                            const __point2<double>& p1,
                                            const __point2<double>& p2) {
  switch (type) {
  case CONNECT_EXTEND:
  case CONNECT_INSERT:
    if (!prev->CrcMove(m_CrcRadius) || !next->CrcMove(m_CrcRadius)) {
      SetLatestError(CRC_ERROR_RADIUS_UNREASONABLE);
      return false;
    }
    InsertLineBefore(prev, next, p1, p2, type);
    return next->SetIntersectPoint(next->GetStartPointMoved());
  case CONNECT_SHORTEN:
    if (!prev->SetEndPointMoved(p1)) {
      SetLatestError(CRC_ERROR_INVALID_END_MOVED);
      return false;
    }
    if (!next->SetIntersectPoint(p1)) {
      SetLatestError(CRC_ERROR_INTERSECTION_FAILED);
      return false;
    }
    return true;
  case CONNECT_TANGENT:
    if (!prev->CrcMove(m_CrcRadius) || !next->CrcMove(m_CrcRadius)) {
      SetLatestError(CRC_ERROR_RADIUS_UNREASONABLE);
      return false;
    }
    {
      const crc_error_t error = JoinTangent(prev, next);
      if (error != CRC_ERROR_NONE) {
        SetLatestError(error);
        return false;
      }
    }
    return true;
  default:
    return false;  // unreachable: classification yields one of the four types
  }
}

// Finishes prev with one segment of look-ahead. On success prev's offset points are final and
// either next's intersect point is set (next stays in the path) or next is marked compensated
// and invalid and next2's intersect point is set (next was dropped). Nothing is rolled back on
// failure: a merge has already moved prev's programmed end and dropped next.
bool CCutterCompensator::CalculateConnectionExt1(CCrcNode* prev, CCrcNode* next) {
  if (LocateType(prev, next)) {
    return true;
  }
  // Only CrcMove gives an arc its offset radius, and a trimmed joint writes connection points
  // without offsetting. An arc between two trimmed joints would leave here with its offset
  // radius unset: the host could not draw its tool path and the interference check could not
  // build its working copy. Offset it up front; the joint steps overwrite its end points.
  if (AsArc(prev) != nullptr && !prev->CrcMove(m_CrcRadius)) {
    SetLatestError(CRC_ERROR_RADIUS_UNREASONABLE);
    return false;
  }
  connect_t type1 = CONNECT_NONE;
  __point2<double> q1 = InvalidPoint();
  __point2<double> q2 = InvalidPoint();
  if (!CalculateOffVector(prev, next, type1, q1, q2)) {
    SetLatestError(CRC_ERROR_INTERFERENCE);
    return false;
  }
  CCrcNode* next2 = m_Translator->GetNextNode(next);
  if (next2 == nullptr || next2->GetStatusType() == CRC_STATUS_RETRACT) {
    if (!ProcessNoIntervine(prev, next, type1, q1, q2)) {
      return false;
    }
  } else {
    if (!next2->CheckCanBeCrcMove(m_CrcRadius)) {
      SetLatestError(CRC_ERROR_RADIUS_UNREASONABLE);
      return false;
    }
    connect_t type2 = CONNECT_NONE;
    __point2<double> r1 = InvalidPoint();
    __point2<double> r2 = InvalidPoint();
    if (!CalculateOffVector(next, next2, type2, r1, r2)) {
      SetLatestError(CRC_ERROR_INTERFERENCE);
      return false;
    }
    const EvasionRule rule = RuleFor(type1, type2);
    const ConnectVector v1(prev->GetEndPoint(), rule.firstUsesSecondPoint ? q2 : q1);
    const ConnectVector v2(next->GetEndPoint(), r1);
    if (rule.evasion == Evasion::NONE || !IsConnectVectorsCross(v1, v2)) {
      if (!ProcessNoIntervine(prev, next, type1, q1, q2)) {
        return false;
      }
    } else {
      // next leaves the tool path and prev joins next2 directly: a merge first moves prev's
      // programmed end onto next's (prev absorbs next), a trim cuts prev's offset against
      // next2's as it stands.
      const bool merge = rule.evasion == Evasion::MERGE;
      if (merge) {
        prev->SetEndPoint(next->GetEndPoint());
        next->SetHasBeenCrc(true);
        next->SetAsInvalidNode();
      }
      connect_t type3 = CONNECT_NONE;
      __point2<double> s1 = InvalidPoint();
      __point2<double> s2 = InvalidPoint();
      if (!CalculateOffVector(prev, next2, type3, s1, s2)) {
        SetLatestError(CRC_ERROR_INTERFERENCE);
        return false;
      }
      if (merge) {
        if (!ProcessNoIntervine(prev, next2, type3, s1, s2)) {
          return false;
        }
      } else {
        const bool accepted =
            type3 == CONNECT_SHORTEN || (rule.acceptsTangent && type3 == CONNECT_TANGENT);
        if (!accepted) {
          SetLatestError(CRC_ERROR_INTERFERENCE);
          return false;
        }
        prev->SetEndPointMoved(s1);
        if (!prev->SetStartPointMoved(prev->GetIntersectPoint())) {
          SetLatestError(CRC_ERROR_INVALID_START_MOVED);
          return false;
        }
        if (!prev->CheckMovedValid()) {
          SetLatestError(CRC_ERROR_INTERFERENCE);
          return false;
        }
        next->SetHasBeenCrc(true);
        next->SetAsInvalidNode();
        next2->SetIntersectPoint(s1);
      }
    }
  }
  if (!prev->SetStartPointMoved(prev->GetIntersectPoint())) {
    SetLatestError(CRC_ERROR_INVALID_START_MOVED);
    return false;
  }
  return true;
}

}  // namespace crc
