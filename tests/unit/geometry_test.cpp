// SPDX-License-Identifier: MIT
// The geometry kernel's table: tolerance comparisons, angles, corner points of offset paths,
// crossings of lines and circles, and the bounded proximity tests, one row per case in
// rows/geometry/. Outputs a computation must not write start unset and must stay so unless
// the row gives them.
#include "geometry/angle.h"
#include "geometry/intersection.h"
#include "geometry/proximity.h"
#include "geometry/tolerance.h"
#include "test_support.h"
#include "tool_path.h"

namespace cutcomp::test {
namespace {

const Point UNSET(crc::INVALID_VALUE, crc::INVALID_VALUE);

double Tolerance(const Json& row) { return row.contains("tol") ? Number(row["tol"]) : 1e-9; }

void ExpectNumber(double actual, const Json& expected, double tolerance) {
  const double value = Number(expected);
  if (std::isnan(value)) {
    EXPECT_TRUE(std::isnan(actual)) << actual;
  } else {
    EXPECT_NEAR(actual, value, tolerance);
  }
}

Point PointOr(const Json& row, const char* key) {
  return row.contains(key) ? row[key].get<Point>() : UNSET;
}

template <typename T>
const T& As(const std::unique_ptr<crc::CCrcNode>& node) {
  const T* cast = dynamic_cast<const T*>(node.get());
  if (cast == nullptr) {
    throw std::runtime_error("wrong segment kind in row");
  }
  return *cast;
}

int Code(const Json& value) {
  static const std::map<std::string, int> names = {{"invalid", crc::INTERSECT_INVALID},
                                                   {"none", crc::INTERSECT_NONE},
                                                   {"one", crc::INTERSECT_ONE},
                                                   {"two", crc::INTERSECT_TWO},
                                                   {"overlap", crc::INTERSECT_OVERLAP}};
  return value.is_boolean() ? static_cast<int>(value.get<bool>()) : names.at(value);
}

using Pair = std::function<int(const std::unique_ptr<crc::CCrcNode>&,
                               const std::unique_ptr<crc::CCrcNode>&, Point&, Point&)>;
using crc::CCrcArc;
using crc::CCrcLine;

// Computations over two segments that count their common points.
const std::map<std::string, Pair> PAIRS = {
    {"lines",
     [](auto& a, auto& b, Point& p, Point&) {
       return static_cast<int>(crc::IntersectLines(&As<CCrcLine>(a), &As<CCrcLine>(b), p));
     }},
    {"circles",
     [](auto& a, auto& b, Point& p, Point& q) {
       return crc::IntersectCircles(&As<CCrcArc>(a), &As<CCrcArc>(b), p, q);
     }},
    {"lineCircle",
     [](auto& a, auto& b, Point& p, Point& q) {
       return crc::IntersectLineCircle(&As<CCrcLine>(a), &As<CCrcArc>(b), p, q);
     }},
    {"lineSegments",
     [](auto& a, auto& b, Point& p, Point&) {
       return crc::IntersectLineSegments(&As<CCrcLine>(a), &As<CCrcLine>(b), p);
     }},
    {"lineArcSegments",
     [](auto& a, auto& b, Point& p, Point& q) {
       return crc::IntersectLineArcSegments(&As<CCrcLine>(a), &As<CCrcArc>(b), p, q);
     }},
    {"concentricArcs",
     [](auto& a, auto& b, Point& p, Point& q) {
       return crc::IntersectConcentricArcs(&As<CCrcArc>(a), &As<CCrcArc>(b), p, q);
     }},
    {"arcSegments",
     [](auto& a, auto& b, Point& p, Point& q) {
       return crc::IntersectArcSegments(&As<CCrcArc>(a), &As<CCrcArc>(b), p, q);
     }},
};

const Operations OPERATIONS = {
    {"compare",
     [](const Json& r) {
       const double a = Number(r["a"]), b = Number(r["b"]), eps = Number(r["eps"]);
       const bool less = r["less"], equal = r["equal"], greater = r["greater"];
       EXPECT_EQ(crc::IsLess(a, b, eps), less);
       EXPECT_EQ(crc::IsEqual(a, b, eps), equal);
       EXPECT_EQ(crc::IsGreater(a, b, eps), greater);
       EXPECT_EQ(crc::IsLessOrEqual(a, b, eps), less || equal);
       EXPECT_EQ(crc::IsGreaterOrEqual(a, b, eps), greater || equal);
     }},
    {"fold",
     [](const Json& r) {
       double angle = Number(r["angle"]);
       crc::NormalizeAngle(angle);
       ExpectNumber(angle, r["expected"], Tolerance(r));
     }},
    {"sweep",
     [](const Json& r) {
       ExpectNumber(crc::GetSweepAngle(Number(r["from"]), Number(r["to"]), r["sense"] == "ccw"),
                    r["expected"], Tolerance(r));
     }},
    {"polar",
     [](const Json& r) {
       ExpectNumber(crc::GetVectorAngle(r["v"].get<Point>()), r["expected"], Tolerance(r));
     }},
    {"unify",
     [](const Json& r) {
       Point v = r["v"].get<Point>();
       v.Unify();
       ExpectPoint(v, r["expected"].get<Point>(), Tolerance(r), "unified");
     }},
    {"corner",
     [](const Json& r) {
       const auto a = MakeSegment(r["a"]);
       const auto b = MakeSegment(r["b"]);
       Point p1 = UNSET, p2 = UNSET;
       EXPECT_EQ(crc::CalculateIntersection(a.get(), b.get(), r["type"].get<crc::connect_t>(),
                                            Number(r["radius"]), p1, p2),
                 r["ok"].get<bool>());
       ExpectPoint(p1, PointOr(r, "p1"), Tolerance(r), "p1");
       ExpectPoint(p2, PointOr(r, "p2"), Tolerance(r), "p2");
       // Only copies are offset: the segments passed in keep their unset offset points.
       ExpectPoint(a->GetStartPointMoved(), UNSET, 0, "first segment's offset start");
       ExpectPoint(b->GetEndPointMoved(), UNSET, 0, "second segment's offset end");
     }},
    {"pair",
     [](const Json& r) {
       const auto a = MakeSegment(r["a"]);
       const auto b = MakeSegment(r["b"]);
       Point p1 = UNSET, p2 = UNSET;
       EXPECT_EQ(PAIRS.at(r["fn"])(a, b, p1, p2), Code(r["code"]));
       ExpectPoint(p1, PointOr(r, "p1"), Tolerance(r), "p1");
       ExpectPoint(p2, PointOr(r, "p2"), Tolerance(r), "p2");
     }},
    {"crossPoint",
     [](const Json& r) {
       Point out = UNSET;
       const Point* found = crc::GetLineCircleCrossPoint(
           r["lineStart"].get<Point>(), r["lineEnd"].get<Point>(), r["arcStart"].get<Point>(),
           r["arcEnd"].get<Point>(), r["centre"].get<Point>(), r["arcFirst"], &out);
       EXPECT_EQ(found, r.contains("p") ? &out : nullptr);
       ExpectPoint(out, PointOr(r, "p"), Tolerance(r), "crossing");
     }},
    {"quadratic",
     [](const Json& r) {
       double x1 = -99, x2 = -99;
       const bool ok =
           crc::SolveQuadratic(Number(r["a"]), Number(r["b"]), Number(r["c"]), &x1, &x2);
       EXPECT_EQ(ok, r.contains("x1"));
       ExpectNumber(x1, r.value("x1", Json(-99)), Tolerance(r));
       ExpectNumber(x2, r.value("x2", Json(-99)), Tolerance(r));
     }},
    {"projectionSign",
     [](const Json& r) {
       const Json& p = r["points"];
       EXPECT_EQ(crc::GetProjectionSign(p[0].get<Point>(), p[1].get<Point>(), p[2].get<Point>(),
                                        p[3].get<Point>()),
                 r["sign"].get<int>());
     }},
    {"onArc",
     [](const Json& r) {
       const auto arc = MakeSegment(r["arc"]);
       EXPECT_EQ(crc::IsPointOnArc(r["p"].get<Point>(), &As<CCrcArc>(arc)), r["on"].get<bool>());
     }},
    {"onLine",
     [](const Json& r) {
       const auto line = MakeSegment(r["line"]);
       EXPECT_EQ(crc::IsPointOnLine(r["p"].get<Point>(), &As<CCrcLine>(line)), r["on"].get<bool>());
     }},
    {"opposite",
     [](const Json& r) {
       EXPECT_EQ(crc::IsOppositeVector(r["v"].get<Point>(), r["w"].get<Point>()),
                 r["opposite"].get<bool>());
     }},
    {"distanceToLine",
     [](const Json& r) {
       const auto line = MakeSegment(r["line"]);
       ExpectNumber(crc::GetDistanceToLine(r["p"].get<Point>(), &As<CCrcLine>(line)), r["distance"],
                    Tolerance(r));
     }},
    {"foot",
     [](const Json& r) {
       const auto line = MakeSegment(r["line"]);
       Point foot = UNSET;
       crc::GetPerpendicularFoot(r["p"].get<Point>(), &As<CCrcLine>(line), foot);
       ExpectPoint(foot, r["foot"].get<Point>(), Tolerance(r), "foot");
       ExpectPoint(crc::GetDirectionToLine(r["p"].get<Point>(), &As<CCrcLine>(line)),
                   r["direction"].get<Point>(), Tolerance(r), "direction");
     }},
    {"curve",  // the tool-path model's measures of programmed geometry
     [](const Json& r) {
       const Curve a = ProgrammedCurve(*MakeSegment(r["a"]));
       if (r.contains("sweep")) {
         ExpectNumber(Sweep(a), r["sweep"], Tolerance(r));
         ExpectNumber(Length(a), r["length"], Tolerance(r));
       }
       if (r.contains("b")) {
         const Curve b = ProgrammedCurve(*MakeSegment(r["b"]));
         ExpectNumber(Distance(a, b), r["distance"], Tolerance(r));
         EXPECT_EQ(Crossings(a, b).size(), r["crossings"].get<std::size_t>());
       }
     }},
    {"offsetArc",
     [](const Json& r) {
       const auto arc = MakeSegment(r["arc"]);
       std::unique_ptr<crc::CCrcArc> copy(crc::CreateOffsetArc(arc.get(), Number(r["radius"])));
       ASSERT_EQ(copy != nullptr, r.contains("copy"));
       if (copy) {
         ExpectSegment(*copy, r["copy"], Tolerance(r));
         ExpectSegment(*arc, {{"radiusMoved", "unset"}}, 0);  // the original is left alone
       }
     }},
};

class Geometry : public ::testing::TestWithParam<Row> {};
TEST_P(Geometry, RowHolds) { RunRow(OPERATIONS, GetParam().data); }
INSTANTIATE_TEST_SUITE_P(Rows, Geometry, ::testing::ValuesIn(LoadFolder(CUTCOMP_ROWS "/geometry")),
                         RowName);

}  // namespace
}  // namespace cutcomp::test
