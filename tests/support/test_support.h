// SPDX-License-Identifier: MIT
// Shared test helpers: a point matcher (unset matches only unset; values print with 17 digits),
// short segment builders, and a compensator that opens its protected steps to the tests.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <iomanip>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>

#include <crc/crc.h>

namespace crc {
// Lets gtest print points with full precision.
inline void PrintTo(const __point2<double>& p, std::ostream* os) {
  if (p.x == INVALID_VALUE && p.y == INVALID_VALUE) {
    *os << "(unset)";
    return;
  }
  *os << std::setprecision(17) << "(" << p.x << ", " << p.y << ")";
}
}  // namespace crc

namespace cutcomp::test {

using crc::__point2;
using Point = crc::__point2<double>;

inline Point Unset() { return Point(crc::INVALID_VALUE, crc::INVALID_VALUE); }

// Matches a point within `tolerance` in each component. An unset expected point matches only
// an unset point (exactly), and a set expected point never matches an unset one.
MATCHER_P2(PointNear, expected, tolerance, "") {
  const bool expectedUnset = expected.x == crc::INVALID_VALUE && expected.y == crc::INVALID_VALUE;
  const bool actualUnset = arg.x == crc::INVALID_VALUE && arg.y == crc::INVALID_VALUE;
  std::ostringstream text;
  crc::PrintTo(arg, &text);
  *result_listener << "which is " << text.str();
  if (expectedUnset || actualUnset) {
    return expectedUnset && actualUnset;
  }
  return std::fabs(arg.x - expected.x) <= tolerance && std::fabs(arg.y - expected.y) <= tolerance;
}

inline auto PointEq(const Point& expected) { return PointNear(expected, 1e-9); }

// Builders. Phases: S = start-up, D = in progress, R = cancel.
inline std::unique_ptr<crc::CCrcLine> Line(Point from, Point to,
                                           crc::crc_status_t status = crc::CRC_STATUS_DOING,
                                           crc::crc_dir_t side = crc::CRC_DIR_LEFT,
                                           bool locate = false) {
  return std::make_unique<crc::CCrcLine>(from, to, status, side, locate);
}

// An arc from centre and end points; the radius is the distance from centre to start.
inline std::unique_ptr<crc::CCrcArc> Arc(Point centre, Point from, Point to, bool ccw,
                                         crc::crc_status_t status = crc::CRC_STATUS_DOING,
                                         crc::crc_dir_t side = crc::CRC_DIR_LEFT) {
  const double radius = (from - centre).GetLength();
  return std::make_unique<crc::CCrcArc>(centre, from, to, radius, ccw, status, side);
}

// A compensator whose protected steps and fields the tests may reach.
class OpenCompensator : public crc::CCutterCompensator {
public:
  using CCutterCompensator::CalculateConnection;
  using CCutterCompensator::CalculateConnectionExt1;
  using CCutterCompensator::CalculateOffVector;
  using CCutterCompensator::CCutterCompensator;
  using CCutterCompensator::ChangeCrcType;
  using CCutterCompensator::CheckError;
  using CCutterCompensator::CheckIntervener;
  using CCutterCompensator::CrcDoing;
  using CCutterCompensator::CrcEstablish;
  using CCutterCompensator::CrcPreRetract;
  using CCutterCompensator::CrcRetract;
  using CCutterCompensator::GetConnectRawType;
  using CCutterCompensator::GetConnectType;
  using CCutterCompensator::InsertLineBefore;
  using CCutterCompensator::IsCRCPlaneMove;
  using CCutterCompensator::LocateType;
  using CCutterCompensator::ProcessNoIntervine;
  using CCutterCompensator::SetLatestError;
};

// A translator over a fixed array of segments that records what the engine asks and inserts.
class RecordingTranslator : public crc::CCrcTranslator {
public:
  std::vector<crc::CCrcNode*> sequence;                  // not owned
  std::vector<std::unique_ptr<crc::CCrcLine>> inserted;  // copies of inserted lines, in call order
  std::vector<bool> insertedBefore;
  std::vector<Point> endPoints;
  int finishCount = 0;

  crc::CCrcNode* GetNextNode(crc::CCrcNode* node) override {
    for (std::size_t i = 0; i + 1 < sequence.size(); ++i) {
      if (sequence[i] == node) {
        return sequence[i + 1];
      }
    }
    return nullptr;
  }
  void InsertNode(crc::CCrcNode* /*anchor*/, crc::CCrcLine& line, const bool& before) override {
    inserted.push_back(std::make_unique<crc::CCrcLine>(line));
    insertedBefore.push_back(before);
  }
  void SetCrcEndPoint(double x, double y) override { endPoints.emplace_back(x, y); }
  void CrcFinish() override { ++finishCount; }
};

}  // namespace cutcomp::test
