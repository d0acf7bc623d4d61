// SPDX-License-Identifier: MIT
// The rule by which a meeting of two offset paths of one run is the programmed path coming back
// to where it has been (SetClosureTolerance). What counts as a meeting, and when the rule is
// asked, is decided by the interference check (interference.cpp).
#include "compensator/closure.h"

#include <cmath>

#include <crc/nodes/crc_arc.h>
#include <crc/nodes/crc_line.h>

#include "geometry/intersection.h"
#include "geometry/proximity.h"
#include "geometry/tolerance.h"
#include "geometry/tolerances.h"
#include "nodes/node_kind.h"

namespace crc {

namespace {

using Point = __point2<double>;

constexpr double TWO_PI = 2.0 * PI;

double Cross(const Point& a, const Point& b) { return a.x * b.y - a.y * b.x; }

bool Near(const Point& a, const Point& b) { return IsEqual((a - b).GetLength(), 0, EPSILON); }

// The angle from `from` to `to`, turning counterclockwise, in [0, 2 pi).
double TurnFrom(const Point& from, const Point& to) {
  const double angle = std::atan2(Cross(from, to), Dot(from, to));
  return angle < 0.0 ? angle + TWO_PI : angle;
}

// A programmed segment as a curve measured by the length along it from its start.
struct Track {
  const CCrcLine* line = nullptr;
  const CCrcArc* arc = nullptr;
  Point start;
  Point end;
  double length = 0.0;
  double side = 0.0;  // +1 with the tool on the left, -1 on the right
  Point direction;    // a line's unit direction
  Point centre;       // an arc's centre, radius, start angle, central angle and sense
  double radius = 0.0;
  double startAngle = 0.0;
  double sweep = 0.0;
  double turn = 1.0;  // +1 counterclockwise, -1 clockwise

  // An arc whose ends meet: its start and end are one point of the path.
  bool FullCircle() const { return arc != nullptr && (TWO_PI - sweep) * radius < EPSILON; }
  // Signed curvature: positive where the segment turns left.
  double Curvature() const { return arc != nullptr ? turn / radius : 0.0; }

  // The length along the segment to the foot of p. For an arc, a point outside its sweep is
  // measured from the nearer end: beyond the end as more than the length, before the start as
  // negative.
  double Along(const Point& p) const {
    if (arc == nullptr) {
      return Dot(p - start, direction);
    }
    const Point r = p - centre;
    double swept = std::fmod(turn * (std::atan2(r.y, r.x) - startAngle), TWO_PI);
    if (swept < 0.0) {
      swept += TWO_PI;
    }
    if (swept <= sweep || swept - sweep <= TWO_PI - swept) {
      return swept * radius;
    }
    return (swept - TWO_PI) * radius;
  }

  // Unit direction of travel at `along`.
  Point Tangent(double along) const {
    if (arc == nullptr) {
      return direction;
    }
    const double angle = startAngle + turn * along / radius;
    return Point(-std::sin(angle), std::cos(angle)) * turn;
  }
};

// False for a null segment, one of no kind or without a side, and one too short to have a
// direction.
bool Read(const CCrcNode* node, Track& track) {
  if (node == nullptr) {
    return false;
  }
  switch (node->GetCrcDirType()) {
  case CRC_DIR_LEFT:
    track.side = 1.0;
    break;
  case CRC_DIR_RIGHT:
    track.side = -1.0;
    break;
  default:
    return false;
  }
  track.start = node->GetStartPoint();
  track.end = node->GetEndPoint();
  if ((track.line = AsLine(node)) != nullptr) {
    const Point chord = track.end - track.start;
    track.length = chord.GetLength();
    if (!(track.length > EPSILON) || !std::isfinite(track.length)) {
      return false;
    }
    track.direction = chord * (1.0 / track.length);
    return true;
  }
  if ((track.arc = AsArc(node)) != nullptr) {
    track.centre = track.arc->GetCenterPoint();
    track.radius = track.arc->GetRadius();
    track.startAngle = track.arc->GetStartAngle();
    track.sweep = track.arc->GetCentralAngle();
    track.turn = track.arc->GetDirection() ? 1.0 : -1.0;
    track.length = track.sweep * track.radius;
    return track.radius > EPSILON && track.length > EPSILON && std::isfinite(track.length) &&
           std::isfinite(track.startAngle);
  }
  return false;
}

// The same wall with the tool on the same side of it: one line whose tool-side normals agree
// (the same direction on the same side, or the opposite direction on the other side), or one
// circle. On one circle the offsets of arcs cut from inside and from outside are concentric
// circles a diameter apart, which never meet: where they meet, the tool is on the same side of
// both. The offsets are then one path.
bool Retraces(const Track& s, const Track& n) {
  if (s.line != nullptr && n.line != nullptr) {
    const bool oneLine = std::fabs(Cross(s.direction, n.start - s.start)) < EPSILON &&
                         std::fabs(Cross(s.direction, n.end - s.start)) < EPSILON;
    return oneLine && s.side * n.side * Dot(s.direction, n.direction) > 0.0;
  }
  if (s.arc != nullptr && n.arc != nullptr) {
    return Near(s.centre, n.centre) && IsEqual(s.radius, n.radius, EPSILON);
  }
  return false;
}

// A point P where the programmed segments meet, with the length along each to it.
struct Meeting {
  Point at;
  double alongStored = 0.0;
  double alongCurrent = 0.0;
};

// The meeting points of the two segments: at most two crossings, each read at both ends of a
// full circle when it lies at its seam.
struct Meetings {
  Meeting items[8];
  int count = 0;
  int places = 0;  // distinct points

  void Add(const Track& s, const Track& n, const Point& p) {
    const double along[2] = {s.Along(p), n.Along(p)};
    if (!std::isfinite(along[0]) || !std::isfinite(along[1]) || along[0] < -EPSILON ||
        along[0] > s.length + EPSILON || along[1] < -EPSILON || along[1] > n.length + EPSILON) {
      return;
    }
    ++places;
    double readings[2][2];
    int counts[2];
    const Track* tracks[2] = {&s, &n};
    for (int i = 0; i < 2; ++i) {
      const Track& t = *tracks[i];
      const bool seam = t.FullCircle() && (along[i] < EPSILON || along[i] > t.length - EPSILON);
      readings[i][0] = seam ? 0.0 : along[i];
      readings[i][1] = t.length;
      counts[i] = seam ? 2 : 1;
    }
    for (int i = 0; i < counts[0]; ++i) {
      for (int k = 0; k < counts[1]; ++k) {
        items[count++] = {p, readings[0][i], readings[1][k]};
      }
    }
  }
};

Meetings ProgrammedMeetings(const Track& s, const Track& n) {
  Meetings meetings;
  Point p1 = InvalidPoint();
  Point p2 = InvalidPoint();
  if (s.line != nullptr && n.line != nullptr) {
    // Parallel lines meet nowhere: one line is a retrace or no return at all.
    if (IntersectLines(s.line, n.line, p1)) {
      meetings.Add(s, n, p1);
    }
    return meetings;
  }
  int found = INTERSECT_NONE;
  if (s.line != nullptr) {
    found = IntersectLineCircle(s.line, n.arc, p1, p2);
  } else if (n.line != nullptr) {
    found = IntersectLineCircle(n.line, s.arc, p1, p2);
  } else {
    found = IntersectCircles(s.arc, n.arc, p1, p2);  // one circle: a retrace or no return
  }
  if (found == INTERSECT_ONE || found == INTERSECT_TWO) {
    meetings.Add(s, n, p1);
  }
  if (found == INTERSECT_TWO) {
    meetings.Add(s, n, p2);
  }
  return meetings;
}

// A direction of travel at P and the curvature there.
struct Heading {
  Point tangent;
  double curvature = 0.0;
};

// The corner the closed loop makes at P, from the direction in which it arrives to the one in
// which it leaves, seen with the tool on the left (a tool on the right is mirrored).
class LoopCorner {
public:
  LoopCorner(const Heading& arrives, const Heading& leaves, double side, double radius)
      : m_Side(side),
        m_Back(Mirrored(arrives.tangent * -1.0)),
        m_BackCurvature(-side * arrives.curvature),
        m_On(Mirrored(leaves.tangent)),
        m_OnCurvature(side * leaves.curvature),
        m_Radius(radius) {}

  // Whether a lead leaving P in direction `u` with curvature `curvature` (both taken away from
  // P) runs into the loop's air: strictly inside the angle that turns counterclockwise from
  // the direction the loop leaves in to the one it came from, on the tool's side. Along either
  // of those directions (within the tangent tolerance) the lead must curve into the air, parting
  // from the loop's piece by more than EPSILON within one cutter radius of P.
  bool TakesIntoAir(const Point& u, double curvature) const {
    const double tangent = 1.0 - TANGENT_COSINE_TOLERANCE;
    if (Dot(m_Back, m_On) > tangent) {
      return false;  // the loop turns back on itself at P: no side of it is air for sure
    }
    const Point lead = Mirrored(u);
    const double leadCurvature = m_Side * curvature;
    const double parting = 0.5 * m_Radius * m_Radius;  // a curvature's offset one radius on
    if (Dot(lead, m_On) > tangent) {
      return (leadCurvature - m_OnCurvature) * parting > EPSILON;
    }
    if (Dot(lead, m_Back) > tangent) {
      return (m_BackCurvature - leadCurvature) * parting > EPSILON;
    }
    return TurnFrom(m_On, lead) < TurnFrom(m_On, m_Back);
  }

private:
  Point Mirrored(const Point& v) const { return Point(v.x, m_Side * v.y); }

  double m_Side;
  Point m_Back;  // back along the direction the loop arrives in
  double m_BackCurvature;
  Point m_On;  // the direction the loop leaves in
  double m_OnCurvature;
  double m_Radius;
};

// Whether the offsets' meeting point x is explained by the return at P: abreast of the lead-in
// (the stored segment up to P) and of the run-on (the new segment from P), both leaving P into
// the air of the loop closed there.
bool ClosesAt(const Point& x, const Meeting& p, const Track& s, const Track& n,
              const ListedSegment& listed, double radius) {
  if (s.Along(x) > p.alongStored + EPSILON || n.Along(x) < p.alongCurrent - EPSILON) {
    return false;
  }
  // The loop leaves P along the stored segment, or where P is its end, along the next entry.
  Heading leaves;
  if (p.alongStored < s.length - EPSILON) {
    leaves = {s.Tangent(p.alongStored), s.Curvature()};
  } else {
    Track after;
    if (!Read(listed.after, after) || !Near(after.start, s.end)) {
      return false;
    }
    leaves = {after.Tangent(0.0), after.Curvature()};
  }
  // It comes back along the new segment, or where P is its start, along its predecessor. (Where
  // that is the stored segment itself, P is its end, and the stored segment has no entry after
  // it: plain neighbours close no loop. A full circle closes one on its own.)
  Heading arrives;
  if (p.alongCurrent > EPSILON) {
    arrives = {n.Tangent(p.alongCurrent), n.Curvature()};
  } else {
    Track before;
    if (!Read(listed.newest, before) || !Near(before.end, n.start)) {
      return false;
    }
    arrives = {before.Tangent(before.length), before.Curvature()};
  }
  const LoopCorner loop(arrives, leaves, n.side, radius);
  if (p.alongStored > EPSILON &&
      !loop.TakesIntoAir(s.Tangent(p.alongStored) * -1.0, -s.Curvature())) {
    return false;  // the lead-in, followed back from P, runs into the part
  }
  return p.alongCurrent >= n.length - EPSILON ||
         loop.TakesIntoAir(n.Tangent(p.alongCurrent), n.Curvature());
}

}  // namespace

bool IsOwnPathMeeting(const CCrcNode& current, const ListedSegment& listed,
                      const OffsetMeeting& meeting, double radius) {
  Track s;
  Track n;
  if (!Read(listed.stored, s) || !Read(&current, n)) {
    return false;
  }
  if (Retraces(s, n)) {
    return true;
  }
  // An overlap has no points: only a retrace explains it.
  if (meeting.count == 0 || s.side != n.side) {
    return false;
  }
  // Two segments that meet twice bound a loop of their own between the two points, and each
  // lead of one point runs through the other: no meeting of their offsets is judged by one of
  // them (fixture row: ClosureTwoReturnsNotJudged).
  const Meetings returns = ProgrammedMeetings(s, n);
  if (returns.places != 1) {
    return false;
  }
  for (int i = 0; i < meeting.count; ++i) {
    bool closed = false;
    for (int k = 0; k < returns.count && !closed; ++k) {
      closed = ClosesAt(meeting.points[i], returns.items[k], s, n, listed, std::fabs(radius));
    }
    if (!closed) {
      return false;
    }
  }
  return true;
}

}  // namespace crc
