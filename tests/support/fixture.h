// SPDX-License-Identifier: MIT
// The vocabulary every data-driven test reads: numbers (plain, or closed forms such as
// "10+sqrt(2)/2" evaluated by muparser, with `pi` and `unset`), points [x, y], the engine's
// enums by name, programmed segments, and tables of rows, one test case per row.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <crc/crc.h>

namespace crc {
// In the engine's namespace, so that nlohmann finds them by argument-dependent lookup. Enums
// read names ("S", "L", "insert", "shorten") or plain numbers, so that a row can hold a value
// outside the enum on purpose.
void from_json(const nlohmann::json& j, __point2<double>& p);
void from_json(const nlohmann::json& j, crc_status_t& phase);
void from_json(const nlohmann::json& j, crc_dir_t& side);
void from_json(const nlohmann::json& j, crc_t& strategy);
void from_json(const nlohmann::json& j, connect_t& type);
}  // namespace crc

namespace cutcomp::test {

using Point = crc::__point2<double>;
using Json = nlohmann::json;

// A JSON number or a string holding an expression; throws std::runtime_error otherwise.
double Number(const Json& value);

// A field of a fixture struct that may be written as an expression.
struct Value {
  double value = 0.0;
};
inline void from_json(const Json& j, Value& v) { v.value = Number(j); }
inline void to_json(Json& j, const Value& v) { j = v.value; }

// A programmed segment: {"line": [from, to]} or {"arc": {"centre", "from", "to", "sense"}} or,
// for whole turns, {"arc": {"centre", "radius", "startAngle", "sweep", "sense"}}; "phase"
// (S, D, R; default D), "side" (L, R, none; default L) and "locate" beside it.
std::unique_ptr<crc::CCrcNode> MakeSegment(const Json& item);

// Writes what `set` names into a segment, past nothing the engine would not allow either:
// start, end, startMoved, endMoved, intersect (points), compensated, startAngle, endAngle,
// direct, radius, centre. An array of such objects is applied in its order.
void ApplySet(crc::CCrcNode& node, const Json& set);

// Compares every field `expect` names with the segment: the points and fields of ApplySet,
// plus radiusMoved, centralAngle, length, startTangent, endTangent, valid, movedValid, side,
// phase. An unknown field is a failure, so a typo in a row cannot pass silently.
void ExpectSegment(crc::CCrcNode& node, const Json& expect, double tolerance);

// `actual` within `tolerance` per coordinate of `expected`; "unset" rows match only unset.
void ExpectPoint(const Point& actual, const Point& expected, double tolerance,
                 const std::string& what);

// One row of a table file (a JSON array of objects): its "name", or the file's stem and the
// row's index. A file holding a single object is one row named by the file's stem.
struct Row {
  std::string name;
  Json data;
};
std::vector<Row> LoadRows(const std::string& file);
// Every table file (*.json) in a folder, one after the other.
std::vector<Row> LoadFolder(const std::string& folder);
std::string RowName(const ::testing::TestParamInfo<Row>& info);
void PrintTo(const Row& row, std::ostream* os);

}  // namespace cutcomp::test
