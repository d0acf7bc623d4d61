// SPDX-License-Identifier: MIT
// The whole-contour fixture format: reading a JSON case (settings, programmed segments, expected
// tool-centre path or failure), building its program, reading back a run, and drawing it as SVG.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <crc/crc.h>

#include "list_host.h"

namespace cutcomp::scenario {

using Point = crc::__point2<double>;

// One programmed segment of a fixture.
struct SegmentSpec {
  bool arc = false;
  Point from;
  Point to;
  // Arcs: centre and turning sense; either the end points above or, for full circles, the
  // start angle and the central angle (byAngles) with the radius.
  Point centre;
  bool ccw = true;
  bool byAngles = false;
  double radius = 0.0;
  double startAngle = 0.0;
  double sweep = 0.0;
  crc::crc_status_t phase = crc::CRC_STATUS_DOING;
  crc::crc_dir_t side = crc::CRC_DIR_NONE;
  bool locate = false;
};

// One piece of a tool-centre path: a host segment in final order, as the tool travels it.
struct PathPiece {
  bool arc = false;
  bool inserted = false;
  bool dropped = false;  // taken out of the path by evasion; carries no geometry
  Point from;
  Point to;
  std::optional<Point> centre;
  std::optional<double> radius;            // offset radius of an arc
  std::optional<bool> ccw;                 // turning sense of an arc
  std::optional<crc::crc_status_t> phase;  // phase the host segment carries
  std::optional<crc::crc_dir_t> side;      // side the host segment carries afterwards
  std::int64_t id = -1;                    // index of the programmed segment it belongs to
};

// A notice the engine gave the host, written as in the fixtures: "before N", "after N",
// "finish", or {"end": [x, y]}.
struct NoticeSpec {
  HostNotice::Kind kind = HostNotice::FINISH;
  std::int64_t anchor = -1;
  Point point;
};

struct Scenario {
  std::string name;
  std::string comment;
  double radius = 0.0;
  crc::crc_t strategy = crc::CRC_TYPE_NORMAL;
  unsigned int lookBehind = 3;
  bool evade = false;
  int preRetract = 0;
  double tolerance = 1e-6;
  std::vector<SegmentSpec> segments;

  bool expectFailure = false;
  int failureMessage = 0;
  std::int64_t failureSegment = -1;
  bool failureInserted = false;

  std::vector<PathPiece> path;  // passing case: the whole path; failing case: what was final
  bool hasPath = false;
  std::vector<NoticeSpec> notices;
  bool hasNotices = false;
};

// Evaluates a fixture number: a JSON number, or a string holding an arithmetic expression over
// numbers, "pi", + - * / parentheses and sqrt/sin/cos/tan/asin/acos/atan. Throws
// std::runtime_error on anything else.
double EvalNumber(const nlohmann::json& value);
double EvalExpression(const std::string& text);

// Reads a fixture; throws std::runtime_error (with the offending key) when it is malformed.
Scenario LoadScenario(const std::string& path);
Scenario ParseScenario(const nlohmann::json& document, const std::string& name);

// Fresh host-owned segments for one run of the scenario.
std::vector<std::unique_ptr<crc::CCrcNode>> BuildProgram(const Scenario& scenario);
// The engine configured as the scenario's settings say (the host sets the translator).
crc::CCutterCompensator BuildEngine(const Scenario& scenario);

// The tool-centre piece of one final host segment.
PathPiece ReadPiece(const HostSegment& segment);
std::vector<PathPiece> ReadPath(const std::vector<HostSegment>& segments);

// Indices i where the path breaks between piece i and the next piece that is not dropped.
std::vector<std::size_t> FindBreaks(const std::vector<PathPiece>& path, double tolerance);

// An SVG showing the programmed contour (grey), the expected path (green, dashed) and the
// path the engine produced (blue).
std::string DrawSvg(const Scenario& scenario, const std::vector<PathPiece>& actual);

std::string Describe(const PathPiece& piece);

}  // namespace cutcomp::scenario
