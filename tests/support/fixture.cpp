// SPDX-License-Identifier: MIT
// Reading the data-driven tests' vocabulary: numbers through muparser, points, enums by name,
// segments, the fields a row may set or check, and table files.
#include "fixture.h"

#include <muParser.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <map>
#include <stdexcept>
#include <utility>

namespace crc {
namespace {

template <typename E>
E ByName(const nlohmann::json& j, std::initializer_list<std::pair<E, const char*>> names) {
  if (j.is_number_integer()) {
    return static_cast<E>(j.get<int>());
  }
  for (const auto& [value, name] : names) {
    if (j == name) {
      return value;
    }
  }
  throw std::runtime_error("unknown name " + j.dump());
}

}  // namespace

void from_json(const nlohmann::json& j, __point2<double>& p) {
  if (j == "unset") {
    p = __point2<double>(INVALID_VALUE, INVALID_VALUE);
    return;
  }
  if (!j.is_array() || j.size() != 2) {
    throw std::runtime_error("point expected as [x, y], got " + j.dump());
  }
  p = __point2<double>(cutcomp::test::Number(j[0]), cutcomp::test::Number(j[1]));
}

void from_json(const nlohmann::json& j, crc_status_t& phase) {
  phase = ByName<crc_status_t>(
      j, {{CRC_STATUS_ESTABLISH, "S"}, {CRC_STATUS_DOING, "D"}, {CRC_STATUS_RETRACT, "R"}});
}
void from_json(const nlohmann::json& j, crc_dir_t& side) {
  side = ByName<crc_dir_t>(j, {{CRC_DIR_LEFT, "L"}, {CRC_DIR_RIGHT, "R"}, {CRC_DIR_NONE, "none"}});
}
void from_json(const nlohmann::json& j, crc_t& strategy) {
  strategy = ByName<crc_t>(j, {{CRC_TYPE_NORMAL, "normal"},
                               {CRC_TYPE_INTERSECT, "intersect"},
                               {CRC_TYPE_INSERT, "insert"}});
}
void from_json(const nlohmann::json& j, connect_t& type) {
  type = ByName<connect_t>(j, {{CONNECT_NONE, "none"},
                               {CONNECT_EXTEND, "extend"},
                               {CONNECT_SHORTEN, "shorten"},
                               {CONNECT_INSERT, "insert"},
                               {CONNECT_TANGENT, "tangent"}});
}

}  // namespace crc

namespace cutcomp::test {
namespace {

bool IsUnset(const Point& p) {
  return p.x == crc::INVALID_VALUE && p.y == crc::INVALID_VALUE;  // exact: the unset marker
}

std::string Text(const Point& p) {
  if (IsUnset(p)) {
    return "(unset)";
  }
  std::ostringstream out;
  out << std::setprecision(17) << "(" << p.x << ", " << p.y << ")";
  return out.str();
}

crc::CCrcArc& AsArc(crc::CCrcNode& node) {
  if (node.GetNodeType() != crc::NODE_ARC) {
    throw std::runtime_error("an arc field on a line");
  }
  return static_cast<crc::CCrcArc&>(node);
}

}  // namespace

double Number(const Json& value) {
  if (value.is_number()) {
    return value.get<double>();
  }
  if (!value.is_string()) {
    throw std::runtime_error("number expected, got " + value.dump());
  }
  try {
    mu::Parser parser;
    parser.DefineConst("pi", 3.141592653589793238462643);
    parser.DefineConst("unset", crc::INVALID_VALUE);
    parser.DefineConst("inf", HUGE_VAL);
    parser.DefineConst("nan", std::nan(""));
    parser.SetExpr(value.get<std::string>());
    return parser.Eval();
  } catch (const mu::Parser::exception_type& error) {
    throw std::runtime_error("expression " + value.dump() + ": " + error.GetMsg());
  }
}

std::unique_ptr<crc::CCrcNode> MakeSegment(const Json& item) {
  const auto phase = item.value("phase", Json("D")).get<crc::crc_status_t>();
  const auto side = item.value("side", Json("L")).get<crc::crc_dir_t>();
  if (item.contains("line")) {
    const Json& ends = item.at("line");
    return std::make_unique<crc::CCrcLine>(ends.at(0).get<Point>(), ends.at(1).get<Point>(), phase,
                                           side, item.value("locate", false));
  }
  const Json& arc = item.at("arc");
  const Point centre = arc.at("centre").get<Point>();
  const bool ccw = arc.at("sense") == "ccw";
  if (arc.contains("sweep")) {
    return std::make_unique<crc::CCrcArc>(centre, Number(arc.at("startAngle")),
                                          Number(arc.at("sweep")), Number(arc.at("radius")), ccw,
                                          phase, side);
  }
  const Point from = arc.at("from").get<Point>();
  const double radius =
      arc.contains("radius") ? Number(arc.at("radius")) : (from - centre).GetLength();
  return std::make_unique<crc::CCrcArc>(centre, from, arc.at("to").get<Point>(), radius, ccw, phase,
                                        side);
}

void ApplySet(crc::CCrcNode& node, const Json& set) {
  if (set.is_array()) {  // in the order given
    for (const Json& step : set) {
      ApplySet(node, step);
    }
    return;
  }
  for (const auto& [key, value] : set.items()) {
    if (key == "start") {
      node.SetStartPoint(value.get<Point>());
    } else if (key == "end") {
      node.SetEndPoint(value.get<Point>());
    } else if (key == "startMoved") {
      node.SetStartPointMoved(value.get<Point>());
    } else if (key == "endMoved") {
      node.SetEndPointMoved(value.get<Point>());
    } else if (key == "intersect") {
      node.SetIntersectPoint(value.get<Point>());
    } else if (key == "compensated") {
      node.SetHasBeenCrc(value.get<bool>());
    } else if (key == "startAngle") {
      AsArc(node).SetStartAngle(Number(value));
    } else if (key == "endAngle") {
      AsArc(node).SetEndAngle(Number(value));
    } else if (key == "direct") {
      AsArc(node).SetDirect(value.get<bool>());
    } else if (key == "radius") {
      AsArc(node).SetRadius(Number(value));
    } else if (key == "centre") {
      AsArc(node).SetCenterPoint(value.get<Point>());
    } else {
      throw std::runtime_error("cannot set " + key);
    }
  }
}

void ExpectPoint(const Point& actual, const Point& expected, double tolerance,
                 const std::string& what) {
  const bool same = IsUnset(expected) || IsUnset(actual)
                        ? IsUnset(expected) && IsUnset(actual)
                        : std::fabs(actual.x - expected.x) <= tolerance &&
                              std::fabs(actual.y - expected.y) <= tolerance;
  EXPECT_TRUE(same) << what << " is " << Text(actual) << ", expected " << Text(expected);
}

void ExpectSegment(crc::CCrcNode& node, const Json& expect, double tolerance) {
  using PointOf = std::function<Point(crc::CCrcNode&)>;
  using NumberOf = std::function<double(crc::CCrcNode&)>;
  static const std::map<std::string, PointOf> points = {
      {"start", [](crc::CCrcNode& n) { return n.GetStartPoint(); }},
      {"end", [](crc::CCrcNode& n) { return n.GetEndPoint(); }},
      {"startMoved", [](crc::CCrcNode& n) { return n.GetStartPointMoved(); }},
      {"endMoved", [](crc::CCrcNode& n) { return n.GetEndPointMoved(); }},
      {"intersect", [](crc::CCrcNode& n) { return n.GetIntersectPoint(); }},
      {"centre", [](crc::CCrcNode& n) { return AsArc(n).GetCenterPoint(); }},
      {"startTangent", [](crc::CCrcNode& n) { return AsArc(n).GetStartTangent(); }},
      {"endTangent", [](crc::CCrcNode& n) { return AsArc(n).GetEndTangent(); }}};
  static const std::map<std::string, NumberOf> numbers = {
      {"radius", [](crc::CCrcNode& n) { return AsArc(n).GetRadius(); }},
      {"radiusMoved", [](crc::CCrcNode& n) { return AsArc(n).GetRadiusMoved(); }},
      {"startAngle", [](crc::CCrcNode& n) { return AsArc(n).GetStartAngle(); }},
      {"endAngle", [](crc::CCrcNode& n) { return AsArc(n).GetEndAngle(); }},
      {"centralAngle", [](crc::CCrcNode& n) { return AsArc(n).GetCentralAngle(); }},
      {"length", [](crc::CCrcNode& n) { return n.GetLength(); }},
      {"compensated", [](crc::CCrcNode& n) { return n.HasBeenCrc() ? 1.0 : 0.0; }},
      {"valid", [](crc::CCrcNode& n) { return n.IsValidNode() ? 1.0 : 0.0; }},
      {"movedValid", [](crc::CCrcNode& n) { return n.CheckMovedValid() ? 1.0 : 0.0; }},
      {"side", [](crc::CCrcNode& n) { return static_cast<double>(n.GetCrcDirType()); }},
      {"phase", [](crc::CCrcNode& n) { return static_cast<double>(n.GetStatusType()); }}};
  for (const auto& [key, value] : expect.items()) {
    if (const auto p = points.find(key); p != points.end()) {
      ExpectPoint(p->second(node), value.get<Point>(), tolerance, key);
    } else if (const auto n = numbers.find(key); n != numbers.end()) {
      double expected = 0.0;
      if (value.is_boolean()) {
        expected = value.get<bool>() ? 1.0 : 0.0;
      } else if (key == "side") {
        expected = value.get<crc::crc_dir_t>();
      } else if (key == "phase") {
        expected = value.get<crc::crc_status_t>();
      } else {
        expected = Number(value);
      }
      if (expected == crc::INVALID_VALUE) {  // exact: unset is a marker, not a small number
        EXPECT_EQ(n->second(node), expected) << key;
      } else {
        EXPECT_NEAR(n->second(node), expected, tolerance) << key;
      }
    } else {
      ADD_FAILURE() << "no such segment field: " << key;
    }
  }
}

std::vector<Row> LoadRows(const std::string& file) {
  std::ifstream in(file);
  if (!in) {
    throw std::runtime_error("cannot open " + file);
  }
  const Json table = Json::parse(in, nullptr, true, /*ignore_comments=*/true);
  const std::string stem = std::filesystem::path(file).stem().string();
  std::vector<Row> rows;
  if (table.is_object()) {
    return {{stem, table}};  // a file that holds one case
  }
  for (const Json& data : table) {
    std::string name = data.value("name", stem + "_" + std::to_string(rows.size()));
    std::replace_if(
        name.begin(), name.end(),
        [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    rows.push_back({name, data});
  }
  return rows;
}

std::vector<Row> LoadFolder(const std::string& folder) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() == ".json") {
      files.push_back(entry.path().string());
    }
  }
  std::sort(files.begin(), files.end());
  std::vector<Row> rows;
  for (const std::string& file : files) {
    for (Row& row : LoadRows(file)) {
      rows.push_back(std::move(row));
    }
  }
  return rows;
}

std::string RowName(const ::testing::TestParamInfo<Row>& info) { return info.param.name; }
void PrintTo(const Row& row, std::ostream* os) { *os << row.data.dump(); }

}  // namespace cutcomp::test
