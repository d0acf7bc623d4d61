// SPDX-License-Identifier: MIT
// The segments' table (rows/segment/): construction, offsetting on either side and its
// refusals, arc angle bookkeeping and tangents, the point setters' refusal rule, and the test
// of an offset chord that runs backwards.
#include "test_support.h"

namespace cutcomp::test {
namespace {

double Tolerance(const Json& row) { return row.contains("tol") ? Number(row["tol"]) : 1e-12; }

// Each entry offsets by one radius and, where the row says, compares the result.
void Offset(crc::CCrcNode& node, const Json& radii, const Json& ok) {
  for (std::size_t i = 0; i < radii.size(); ++i) {
    const bool result = node.CrcMove(Number(radii[i]));
    if (!ok.is_null()) {
      EXPECT_EQ(result, ok[i].get<bool>()) << "offset by " << radii[i];
    }
  }
}

using Setter = bool (crc::CCrcNode::*)(const Point&);
using Getter = Point (crc::CCrcNode::*)() const;
const std::map<std::string, std::pair<Setter, Getter>> POINT_FIELDS = {
    {"start", {&crc::CCrcNode::SetStartPoint, &crc::CCrcNode::GetStartPoint}},
    {"end", {&crc::CCrcNode::SetEndPoint, &crc::CCrcNode::GetEndPoint}},
    {"startMoved", {&crc::CCrcNode::SetStartPointMoved, &crc::CCrcNode::GetStartPointMoved}},
    {"endMoved", {&crc::CCrcNode::SetEndPointMoved, &crc::CCrcNode::GetEndPointMoved}},
    {"intersect", {&crc::CCrcNode::SetIntersectPoint, &crc::CCrcNode::GetIntersectPoint}}};

const Operations OPERATIONS = {
    {"segment",
     [](const Json& r) {
       const auto node = MakeSegment(r["segment"]);
       if (r.contains("set")) {
         ApplySet(*node, r["set"]);
       }
       if (r.contains("canMove")) {
         EXPECT_EQ(node->CheckCanBeCrcMove(Number(r["canMove"])), r["canMoveOk"].get<bool>());
       }
       if (r.contains("offset")) {
         const Json& radii = r["offset"];
         const Json& ok = r.value("ok", Json());
         Offset(*node, radii.is_array() ? radii : Json::array({radii}),
                ok.is_boolean() ? Json::array({ok}) : ok);
       }
       ExpectSegment(*node, r.value("expect", Json::object()), Tolerance(r));
     }},
    {"setter",
     [](const Json& r) {
       // A point with an unset x beside a set y is refused and leaves the field as it was;
       // every other point, a wholly unset one included, is stored as given.
       const auto node = MakeSegment(r["segment"]);
       const auto [set, get] = POINT_FIELDS.at(r["field"]);
       for (const Json& step : r["steps"]) {
         const Point before = ((*node).*get)();
         const Point p = step.at("point").get<Point>();
         const bool stored = step.at("stored");
         EXPECT_EQ(((*node).*set)(p), stored) << step.dump();
         ExpectPoint(((*node).*get)(), stored ? p : before, 0, step.dump());
       }
     }},
};

class Segment : public ::testing::TestWithParam<Row> {};
TEST_P(Segment, RowHolds) { RunRow(OPERATIONS, GetParam().data); }
INSTANTIATE_TEST_SUITE_P(Rows, Segment, ::testing::ValuesIn(LoadFolder(CUTCOMP_ROWS "/segment")),
                         RowName);

}  // namespace
}  // namespace cutcomp::test
