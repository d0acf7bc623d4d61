// SPDX-License-Identifier: MIT
// Audits a tool path the command-line tool recorded (--json) against the programmed contour
// with the library's gouge audit: the walls are the programmed segments in progress, and for a
// segment fitted to chords the chords themselves, so that what is measured is how near the tool
// comes to the program as posted, not to the fitted contour.
//
//   cam_audit RECORD.json TOL
//
// Prints "audited pieces P walls W gouges G beyond_joint J deepest D closing C": G pieces of the
// path in progress come nearer a wall than r - TOL, J of them nearer than r - TOL - 0.0019 r (the
// engine joins turns below about 3.5 degrees as smooth, which brings the tool up to 0.0019 r
// nearer), D the deepest such gouge less TOL. Where a closed contour closes, the first piece
// starts on the normal of the first move and the last ends on the normal of the last, so each
// comes nearer the other's wall when the two meet at an angle, with or without fitting: C counts
// the pieces whose every gouge lies within r of that point, which G and J leave out. Segment ids
// are source lines; a fitted segment's chords take the lines from its first to its last, which
// holds for programs with one chord per line, as generate.py writes them. Exits 2 for a record it
// cannot read.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

#include <crc/crc.h>
#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

// The engine's smooth-joint allowance as a share of the radius: r (1 - cos 3.53 degrees).
constexpr double SMOOTH_JOINT = 0.0019;

crc::__point2<double> At(const json& p) { return {p.at(0).get<double>(), p.at(1).get<double>()}; }

crc::Curve CurveOf(const json& j) {
  crc::Curve c;
  c.from = At(j.at("start"));
  c.to = At(j.at("end"));
  if (j.contains("center")) {
    c.arc = true;
    c.centre = At(j.at("center"));
    c.ccw = j.at("ccw").get<bool>();
    c.fullCircle = j.at("full_circle").get<bool>();
  }
  return c;
}

crc::crc_status_t PhaseOf(const std::string& phase) {
  return phase == "establish" ? crc::CRC_STATUS_ESTABLISH
         : phase == "doing"   ? crc::CRC_STATUS_DOING
         : phase == "retract" ? crc::CRC_STATUS_RETRACT
                              : crc::CRC_STATUS_NONE;
}

}  // namespace

namespace {

int Audit(char** argv) {
  std::ifstream in(argv[1]);
  const json record = json::parse(in, nullptr, false);
  const double tolerance = std::atof(argv[2]);
  if (record.is_discarded() || !record.contains("segments")) {
    std::fprintf(stderr, "%s: error: not a cutcomp record\n", argv[1]);
    return 2;
  }
  crc::CGougeAudit audit(tolerance);
  std::vector<crc::ToolPiece> pieces;
  std::vector<bool> inProgress;
  std::vector<crc::__point2<double>> ends;  // the first and last point of the walls
  for (const json& j : record.at("segments")) {
    const auto line = j.at("line").get<std::int64_t>();
    const crc::crc_status_t phase = PhaseOf(j.at("phase").get<std::string>());
    if (!j.at("inserted").get<bool>()) {
      if (j.at("fitted").is_null()) {
        const crc::ContourSegment segment{CurveOf(j.at("programmed")), line, phase,
                                          j.at("locate").get<bool>()};
        audit.AddSegment(segment);
        if (crc::CGougeAudit::IsWall(segment)) {
          ends.resize(1, segment.curve.from);
          ends.push_back(segment.curve.to);
        }
      } else {
        const json& points = j["fitted"].at("chords");
        for (std::size_t k = 1; k < points.size(); ++k) {
          crc::Curve chord;
          chord.from = At(points[k - 1]);
          chord.to = At(points[k]);
          audit.AddSegment({chord, line + static_cast<std::int64_t>(k - 1), phase, false});
          ends.resize(1, chord.from);
          ends.push_back(chord.to);
        }
      }
    }
    if (!j.at("dropped").get<bool>() && phase != crc::CRC_STATUS_NONE) {
      pieces.push_back({CurveOf(j.at("tool")), std::fabs(j.at("radius").get<double>()), line});
      inProgress.push_back(phase == crc::CRC_STATUS_DOING);
    }
  }
  // exact: a closed contour returns to its very first point
  const bool closed = ends.size() == 2 && ends[0] == ends[1];
  std::size_t gouged = 0;
  std::size_t beyondJoint = 0;
  std::size_t closing = 0;
  double deepest = 0.0;
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    std::vector<crc::Gouge> gouges;
    if (!audit.AuditPiece(pieces[k], nullptr, &gouges)) {
      std::fprintf(stderr, "%s: error: %s\n", argv[1], audit.GetLatestError().c_str());
      return 2;
    }
    if (!inProgress[k] || gouges.empty()) {
      continue;  // start-up and cancel moves: how they meet a closed contour is their own
    }
    double depth = 0.0;
    bool atClosing = closed;
    for (const crc::Gouge& gouge : gouges) {
      depth = std::max(depth, gouge.depth);
      atClosing = atClosing && (gouge.wallPoint - ends[0]).GetLength() < pieces[k].radius;
    }
    if (atClosing) {
      ++closing;
      continue;
    }
    ++gouged;
    beyondJoint += depth > tolerance + SMOOTH_JOINT * pieces[k].radius ? 1 : 0;
    deepest = std::max(deepest, depth - tolerance);
  }
  std::printf("audited pieces %zu walls %zu gouges %zu beyond_joint %zu deepest %.6g closing %zu\n",
              pieces.size(), audit.GetWallCount(), gouged, beyondJoint, deepest, closing);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: cam_audit RECORD.json TOL\n");
    return 2;
  }
  try {
    return Audit(argv);
  } catch (const std::exception& error) {  // a record without the fields it should have
    std::fprintf(stderr, "%s: error: %s\n", argv[1], error.what());
    return 2;
  }
}
