// SPDX-License-Identifier: MIT
// The compensator's steps, one row per case in rows/engine/: corner classification, input
// validation, the host's corner query, and single steps (look-ahead, interference check,
// connection, driver) run on segments behind a recording translator, with what they write
// into the segments, what they insert and the message they store.
#include "compensator/lookahead.h"
#include "compensator/messages.h"
#include "test_support.h"

namespace cutcomp::test {
namespace {

using Segments = std::vector<std::unique_ptr<crc::CCrcNode>>;

// A segment as the row gives it, offset by "offset" and then given what "set" names.
std::unique_ptr<crc::CCrcNode> Build(const Json& item) {
  if (item.is_null()) {
    return nullptr;
  }
  auto node = MakeSegment(item);
  if (item.contains("offset")) {
    node->CrcMove(Number(item["offset"]));
  }
  if (item.contains("set")) {
    ApplySet(*node, item["set"]);
  }
  return node;
}

void ExpectMessage(const crc::CCutterCompensator& engine, int code) {
  EXPECT_EQ(engine.GetLatestErrorCode(), code);
  const crc::MessageEntry* entry = crc::FindMessage(code);
  EXPECT_EQ(engine.GetLatestError(), entry != nullptr ? entry->text : "");
}

crc::crc_dir_t Opposite(crc::crc_dir_t side) {
  return side == crc::CRC_DIR_LEFT ? crc::CRC_DIR_RIGHT : crc::CRC_DIR_LEFT;
}

// A segment as the row gives it, on the side given.
std::unique_ptr<crc::CCrcNode> OnSide(Json item, crc::crc_dir_t side) {
  item["side"] = side == crc::CRC_DIR_LEFT ? "L" : "R";
  return Build(item);
}

// Runs one step of the engine on the row's segments, the translator holding them in order.
void Step(const Json& r) {
  RecordingTranslator host;
  OpenCompensator engine(Number(r.value("radius", Json(1))),
                         r.value("noHost", false) ? nullptr : &host, r.value("lookBehind", 3U),
                         r.value("strategy", Json("normal")).get<crc::crc_t>());
  engine.SetEstablish(r.value("established", false));
  engine.SetInterveneEvade(r.value("evade", false));
  engine.SetCamTolerance(r.value("camTolerance", false));
  engine.SetClosureTolerance(r.value("closureTolerance", false));
  engine.SetStartInPlace(r.value("startInPlace", false));
  engine.SetArcStartup(r.value("arcStartup", false));
  engine.SetCrcPreRetractOption(r.value("preRetract", 0));
  Segments segments;
  for (const Json& item : r.value("segments", Json::array())) {
    segments.push_back(Build(item));
    host.sequence.push_back(segments.back().get());
  }
  for (const Json& item : r.value("listed", Json::array())) {
    engine.AddToList(Build(item).get());
  }
  const auto at = [&segments](const Json& index) {
    return index.is_null() ? nullptr : segments.at(index.get<std::size_t>()).get();
  };
  const std::string step = r["step"];
  crc::connect_t type = crc::CONNECT_NONE;
  const Point marker(42, 42);  // outputs the step must leave alone keep it
  Point p1 = marker, p2 = marker;
  const Json& args = r.value("args", Json::array());
  bool ok = false;
  if (step == "CalculateOffVector") {
    ok = engine.CalculateOffVector(at(args[0]), at(args[1]), type, p1, p2);
  } else if (step == "ProcessNoIntervine") {
    type = r["type"].get<crc::connect_t>();
    ok = engine.ProcessNoIntervine(at(args[0]), at(args[1]), type, r["p1"].get<Point>(),
                                   r["p2"].get<Point>());
  } else if (step == "CalculateConnectionExt1") {
    ok = engine.CalculateConnectionExt1(at(args[0]), at(args[1]));
  } else if (step == "CalculateConnection") {
    ok = engine.CalculateConnection(at(args[0]), at(args[1]));
  } else if (step == "InsertLineBefore") {
    type = r["type"].get<crc::connect_t>();
    ok = engine.InsertLineBefore(at(args[0]), at(args[1]), r["p1"].get<Point>(),
                                 r["p2"].get<Point>(), type);
  } else if (step == "CheckIntervener") {
    // As the callers judge: with the closure tolerance, a meeting where the path comes back to
    // itself is set aside.
    const auto node = Build(r["node"]);
    ok = engine.CheckIntervener(node.get()) &&
         !(engine.GetClosureTolerance() && engine.ComesBackToItself(node.get()));
  } else if (step == "AdjustNode") {
    for (const Json& call : r["calls"]) {
      if (call.contains("sequence")) {
        host.sequence.clear();
        for (const Json& index : call["sequence"]) {
          host.sequence.push_back(at(index));
        }
      }
      if (call.value("noTranslator", false)) {
        engine.SetTranslator(nullptr);
      }
      ok = engine.AdjustNode(at(call["node"]));
      EXPECT_EQ(ok, call.value("ok", true)) << call.dump();
    }
  } else {
    FAIL() << "no such step " << step;
  }
  if (r.contains("ok")) {
    EXPECT_EQ(ok, r["ok"].get<bool>());
  }
  if (r.contains("code")) {
    ExpectMessage(engine, r["code"]);
  }
  if (r.contains("type")) {
    EXPECT_EQ(type, r["type"].get<crc::connect_t>());
  }
  if (step == "CalculateOffVector") {
    ExpectPoint(p1, r.contains("q1") ? r["q1"].get<Point>() : marker, 1e-9, "p1");
    ExpectPoint(p2, r.contains("q2") ? r["q2"].get<Point>() : marker, 1e-9, "p2");
  }
  const Json& expect = r.value("expect", Json::array());
  for (std::size_t i = 0; i < expect.size(); ++i) {
    SCOPED_TRACE("segment " + std::to_string(i));
    ExpectSegment(*segments.at(i), expect[i], 1e-12);
  }
  if (r.contains("inserted")) {
    ASSERT_EQ(host.inserted.size(), r["inserted"].size());
    for (std::size_t i = 0; i < host.inserted.size(); ++i) {
      SCOPED_TRACE("inserted line " + std::to_string(i));
      ExpectSegment(*host.inserted[i], r["inserted"][i], 1e-12);
      EXPECT_TRUE(host.insertedBefore[i]);
    }
  }
  if (r.contains("asks")) {
    EXPECT_EQ(host.asks, r["asks"].get<int>());
  }
  if (r.contains("establishedAfter")) {
    EXPECT_EQ(engine.GetEstablish(), r["establishedAfter"].get<bool>());
  }
  if (r.contains("listCount")) {
    EXPECT_EQ(engine.GetListCount(), r["listCount"].get<unsigned int>());
  }
}

const Operations OPERATIONS = {
    {"raw",
     [](const Json& r) {
       OpenCompensator engine(1.0, nullptr);
       const Point first = r["first"].get<Point>(), second = r["second"].get<Point>();
       const auto right = r["right"].get<crc::connect_t>();
       EXPECT_EQ(engine.GetConnectRawType(first, second, crc::CRC_DIR_LEFT),
                 r["left"].get<crc::connect_t>());
       EXPECT_EQ(engine.GetConnectRawType(first, second, crc::CRC_DIR_RIGHT), right);
       // Any side other than left is taken as right.
       EXPECT_EQ(engine.GetConnectRawType(first, second, crc::CRC_DIR_NONE), right);
     }},
    {"joint",
     [](const Json& r) {
       OpenCompensator engine(1.0, nullptr);
       for (const char* side : {"left", "right"}) {
         const auto s = side[0] == 'l' ? crc::CRC_DIR_LEFT : crc::CRC_DIR_RIGHT;
         const auto prev = OnSide(r["prev"], s);
         const auto next =
             OnSide(r["next"], r.value("nextSide", "same") == "same" ? s : Opposite(s));
         EXPECT_EQ(engine.GetConnectType(prev.get(), next.get()), r[side].get<crc::connect_t>())
             << side;
         ExpectSegment(*next, {{"intersect", "unset"}}, 0);  // classification only reads
       }
     }},
    {"query",
     [](const Json& r) {
       // A negative radius on one side answers like the positive radius on the other, and
       // leaves the segments and the engine's radius as they were.
       for (const auto side : {crc::CRC_DIR_LEFT, crc::CRC_DIR_RIGHT}) {
         const double radius = Number(r["radius"]);
         OpenCompensator engine(radius, nullptr), mirror(-radius, nullptr);
         const auto prev = OnSide(r["prev"], side), next = OnSide(r["next"], side);
         const auto prevMirror = OnSide(r["prev"], Opposite(side));
         const auto nextMirror = OnSide(r["next"], Opposite(side));
         Point p1(55, 55), p2(55, 55), q1(55, 55), q2(55, 55);
         const bool ok = engine.GetCrcNodeIntersection(prev.get(), next.get(), p1, p2);
         EXPECT_EQ(ok,
                   r.value(side == crc::CRC_DIR_LEFT ? "leftOk" : "rightOk", r["ok"]).get<bool>());
         EXPECT_EQ(mirror.GetCrcNodeIntersection(prevMirror.get(), nextMirror.get(), q1, q2), ok);
         ExpectPoint(p1, q1, 1e-9, "p1 against the mirrored query");
         ExpectPoint(p2, q2, 1e-9, "p2 against the mirrored query");
         const char* key = side == crc::CRC_DIR_LEFT ? "leftP1" : "rightP1";
         if (r.contains(key)) {
           ExpectPoint(p1, r[key].get<Point>(), 1e-9, key);
         }
         EXPECT_EQ(engine.GetCrcRadius(), radius);
         ExpectMessage(engine, 0);
         ExpectSegment(*prev, {{"side", side}, {"startMoved", "unset"}}, 0);
         ExpectSegment(*next, {{"side", side}, {"intersect", "unset"}}, 0);
       }
     }},
    {"checkError",
     [](const Json& r) {
       OpenCompensator engine(5.0, nullptr, 3,
                              r.value("strategy", Json("normal")).get<crc::crc_t>());
       engine.SetEstablish(r.value("established", true));
       const auto node = Build(r["node"]);
       const auto next = Build(r["next"]);
       const int code = r["code"];
       EXPECT_EQ(engine.CheckError(node.get(), next.get()), code == 0);
       ExpectMessage(engine, code);
       EXPECT_EQ(engine.GetCrcRadius(), 5.0);
       if (node) {  // validation changes no segment
         EXPECT_EQ(node->GetCrcDirType(), r["node"].value("side", Json("L")).get<crc::crc_dir_t>());
       }
     }},
    {"planeMove",
     [](const Json& r) {
       OpenCompensator engine(5.0, nullptr);
       EXPECT_EQ(engine.IsCRCPlaneMove(Build(r["segment"]).get()), r["moves"].get<bool>());
     }},
    {"swap",
     [](const Json& r) {
       OpenCompensator engine(Number(r["radius"]), nullptr);
       const auto node = Build(r["node"]);
       const auto next = Build(r["next"]);
       engine.ChangeCrcType(node.get(), next.get());
       EXPECT_EQ(engine.GetCrcRadius(), -Number(r["radius"]));
       if (node) {
         EXPECT_EQ(node->GetCrcDirType(), r["nodeSide"].get<crc::crc_dir_t>());
       }
       if (next) {
         EXPECT_EQ(next->GetCrcDirType(), r["nextSide"].get<crc::crc_dir_t>());
       }
     }},
    {"crossing",
     [](const Json& r) {
       const crc::ConnectVector first(r["first"][0].get<Point>(), r["first"][1].get<Point>());
       const crc::ConnectVector second(r["second"][0].get<Point>(), r["second"][1].get<Point>());
       EXPECT_EQ(crc::IsConnectVectorsCross(first, second), r["cross"].get<bool>());
     }},
    {"step", Step},
};

class Engine : public ::testing::TestWithParam<Row> {};
TEST_P(Engine, RowHolds) { RunRow(OPERATIONS, GetParam().data); }
INSTANTIATE_TEST_SUITE_P(Rows, Engine, ::testing::ValuesIn(LoadFolder(CUTCOMP_ROWS "/engine")),
                         RowName);

// Copies own their look-behind clones: a copy, or an assignment that replaces entries, must
// survive the source (the sanitizers see a shared or leaked clone).
TEST(EngineCopy, CopiesCloneTheLookBehindList) {
  RecordingTranslator host;
  OpenCompensator target(9.0, nullptr, 2);
  const auto a = MakeSegment(Json::parse(R"({"line": [[0, 0], [1, 0]]})"));
  target.AddToList(a.get());
  auto source = std::make_unique<OpenCompensator>(3.5, &host, 4, crc::CRC_TYPE_INTERSECT);
  source->SetLatestError(crc::CRC_ERROR_INTERFERENCE);
  source->AddToList(a.get());
  source->AddToList(a.get());
  OpenCompensator copy(*source);
  target = *source;
  source.reset();
  for (const OpenCompensator* engine : {&copy, &target}) {
    EXPECT_EQ(engine->GetListCount(), 2U);
    EXPECT_EQ(engine->GetListSize(), 4U);
    EXPECT_EQ(engine->GetCrcType(), crc::CRC_TYPE_INTERSECT);
    ExpectMessage(*engine, crc::CRC_ERROR_INTERFERENCE);
  }
}

}  // namespace
}  // namespace cutcomp::test
