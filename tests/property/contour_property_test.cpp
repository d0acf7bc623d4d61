// SPDX-License-Identifier: MIT
// Properties of whole generated programs (rapidcheck draws and shrinks them; a failure prints
// the smallest failing program as a fixture for the scenario runner): a completed path is
// continuous, its offset pieces lie at the cutter radius, the host hears what it should at the
// end; and translating, mirroring, reversing the program, negating the radius or shortening the
// look-behind changes the outcome only as the transformation says.
#include <gtest/gtest.h>
#include <rapidcheck.h>

#include <cmath>
#include <functional>
#include <sstream>

#include "fixture.h"
#include "list_host.h"
#include "program_generator.h"
#include "tool_path.h"

namespace cutcomp::test {
namespace {

// Continuity and the metamorphic comparisons, in the host's unit (coordinates reach ~150).
constexpr double TOLERANCE = 1e-6;

Json Programs() {
  // Steps contours are rejected and refused more often: drawn twice as often.
  const auto family = *rc::gen::inRange(0, 3) == 0 ? OUTLINE : STEPS;
  const auto draws = *rc::gen::container<std::vector<int>>(rc::gen::inRange(0, 1000));
  Json program = MakeProgram(family, draws);
  RC_PRE(IsClean(program));
  RC_TAG(program["family"].get<std::string>());
  return program;
}

bool Near(const Point& a, const Point& b, double tolerance) {
  return std::fabs(a.x - b.x) <= tolerance && std::fabs(a.y - b.y) <= tolerance;
}

void Fail(const std::string& what, const Json& program) {
  RC_FAIL(what + "\nfixture:\n" + program.dump(2));
}

// A completed path is continuous from the start-up's programmed start; it ends on the last
// segment's programmed end when a cancel line or option 0's closing line takes it there.
void CheckPath(const Json& program, const Outcome& o) {
  if (!o.run.ok) {
    if (o.run.failure.code < 1 || o.run.failure.code > 16) {
      Fail("refused without a message", program);
    }
    return;
  }
  const Json& segments = program["segments"];
  const bool withCancel = segments.back()["phase"] == "R";
  const auto gap = FirstBreak(o.path, TOLERANCE);
  if (gap ||
      !Near(o.path.front().tool.from, MakeSegment(segments.front())->GetStartPoint(), TOLERANCE) ||
      ((withCancel || program["settings"]["preRetract"] == 0) &&
       !Near(o.path.back().tool.to, MakeSegment(segments.back())->GetEndPoint(), TOLERANCE))) {
    Fail("the path breaks or misses its ends" + (gap ? " after " + Describe(o.path[*gap]) : ""),
         program);
  }
}

// Without evasion every offset piece lies at the cutter radius on its side: a parallel line at
// signed distance +r (left) or -r (right), or a concentric arc of the same sense and radius
// R - r where the tool runs inside (left of a counterclockwise arc) and R + r outside.
void CheckOffsets(const Json& program, const Outcome& o) {
  const double r = program["settings"]["radius"];
  const bool inserting = program["settings"]["strategy"] == "insert";
  for (const PathPiece& p : o.path) {
    const Json& s = program["segments"][static_cast<std::size_t>(p.id)];
    if (!o.run.ok || p.inserted || p.locate || (p.phase != crc::CRC_STATUS_DOING && !inserting)) {
      continue;
    }
    const double signedR = p.side == crc::CRC_DIR_LEFT ? r : -r;
    bool at = true;
    if (!p.programmed.arc) {
      const Point v = p.programmed.to - p.programmed.from;
      for (const Point& q : {p.tool.from, p.tool.to}) {
        const Point w = q - p.programmed.from;
        at = at && std::fabs((v.x * w.y - v.y * w.x) / v.GetLength() - signedR) <= TOLERANCE;
      }
    } else {
      const double expected = p.programmed.radius - (p.programmed.ccw ? signedR : -signedR);
      at = p.tool.arc && p.tool.ccw == p.programmed.ccw &&
           Near(p.tool.centre, p.programmed.centre, TOLERANCE) &&
           std::fabs(p.tool.radius - expected) <= TOLERANCE;
    }
    if (!at) {
      Fail("not at the cutter radius: " + Describe(p) + " (" + s.dump() + ")", program);
    }
  }
}

// The lines the engine inserted and the notices at the end are what the host expects: an
// approach line first and a closing line after the last segment only under the inserting
// strategy or option 0; an end point only for option 1; the finish notice, last, only without
// a cancel line, which otherwise empties the look-behind list.
void CheckEnd(const Json& program, const Outcome& o) {
  if (!o.run.ok) {
    return;
  }
  const bool withCancel = program["segments"].back()["phase"] == "R";
  const bool inserting = program["settings"]["strategy"] == "insert";
  const int option = program["settings"]["preRetract"];
  const bool closing = withCancel ? inserting : option == 0;
  int after = 0, ends = 0, finish = 0;
  for (const HostNotice& n : o.run.notices) {
    after += n.kind == HostNotice::INSERT_AFTER;
    ends += n.kind == HostNotice::SET_END_POINT;
    finish += n.kind == HostNotice::FINISH;
  }
  bool good = o.path.front().inserted == inserting && o.path.back().inserted == closing &&
              after == (closing ? 1 : 0) && ends == (!withCancel && option == 1 ? 1 : 0) &&
              finish == (withCancel ? 0 : 1) &&
              (withCancel ? o.listCount == (inserting ? 1U : 0U) : o.listCount > 0);
  for (std::size_t i = 0; i < o.path.size(); ++i) {
    const auto phase = inserting && i == 0                 ? crc::CRC_STATUS_ESTABLISH
                       : closing && i + 1 == o.path.size() ? crc::CRC_STATUS_RETRACT
                                                           : crc::CRC_STATUS_DOING;
    good = good && (!o.path[i].inserted || (o.path[i].phase == phase && !o.path[i].locate &&
                                            Length(o.path[i].tool) > 1e-6));
  }
  if (!good) {
    Fail("the host heard something else at the end", program);
  }
}

TEST(GeneratedPrograms, PathIsContinuousAtTheRadiusAndEndsAsTheHostExpects) {
  EXPECT_TRUE(rc::check([] {
    const Json program = Programs();
    const Outcome o = Compensate(program);
    RC_TAG(o.run.ok ? "completed" : "refused " + std::to_string(o.run.failure.code));
    CheckPath(program, o);
    if (!program["settings"]["evade"].get<bool>()) {
      CheckOffsets(program, o);
    }
    CheckEnd(program, o);
  }));
}

// ---- Metamorphic: one test over the transformations ------------------------------------------

void ForEachPoint(Json& program, const std::function<void(Json&)>& f) {
  for (Json& s : program["segments"]) {
    if (s.contains("line")) {
      f(s["line"][0]);
      f(s["line"][1]);
    } else {
      for (const char* key : {"centre", "from", "to"}) {
        f(s["arc"][key]);
      }
    }
  }
}

void FlipSides(Json& program) {
  for (Json& s : program["segments"]) {
    s["side"] = s["side"] == "L" ? "R" : "L";
  }
}

void FlipSenses(Json& program) {
  for (Json& s : program["segments"]) {
    if (s.contains("arc")) {
      s["arc"]["sense"] = s["arc"]["sense"] == "ccw" ? "cw" : "ccw";
    }
  }
}

using PointMap = std::function<Point(const Point&)>;

// Empty when `actual` is `expected` with every point mapped (arcs turning the other way when
// `flips`), to within `tolerance`.
std::string Compare(const Outcome& expected, const Outcome& actual, const PointMap& map, bool flips,
                    double tolerance) {
  const HostFailure& e = expected.run.failure;
  const HostFailure& a = actual.run.failure;
  if (expected.run.ok != actual.run.ok || e.code != a.code || e.id != a.id) {
    return "outcome differs: message " + std::to_string(e.code) + " at " + std::to_string(e.id) +
           " / " + std::to_string(a.code) + " at " + std::to_string(a.id);
  }
  if (expected.path.size() != actual.path.size()) {
    return "path has " + std::to_string(actual.path.size()) + " pieces, not " +
           std::to_string(expected.path.size());
  }
  for (std::size_t i = 0; i < expected.path.size(); ++i) {
    const Curve& p = expected.path[i].tool;
    const Curve& q = actual.path[i].tool;
    const bool same =
        expected.path[i].dropped == actual.path[i].dropped &&
        (expected.path[i].dropped ||
         (p.arc == q.arc && expected.path[i].inserted == actual.path[i].inserted &&
          Near(map(p.from), q.from, tolerance) && Near(map(p.to), q.to, tolerance) &&
          (!p.arc || (Near(map(p.centre), q.centre, tolerance) &&
                      std::fabs(p.radius - q.radius) <= tolerance && (p.ccw != q.ccw) == flips))));
    if (!same) {
      return "piece " + std::to_string(i) + ": " + Describe(expected.path[i]) + " became " +
             Describe(actual.path[i]);
    }
  }
  return "";
}

// The pieces in progress (offset segments and corner lines), travelled backwards.
std::vector<PathPiece> InProgress(const std::vector<PathPiece>& path, bool backwards) {
  std::vector<PathPiece> pieces;
  for (const PathPiece& p : path) {
    if (p.phase == crc::CRC_STATUS_DOING && !p.dropped) {
      pieces.push_back(p);
    }
  }
  if (backwards) {
    std::reverse(pieces.begin(), pieces.end());
    for (PathPiece& p : pieces) {
      std::swap(p.tool.from, p.tool.to);
      p.tool.ccw = !p.tool.ccw;
    }
  }
  return pieces;
}

struct Transformation {
  const char* name;
  // Adjusts the original to what the transformation needs; false where it does not apply.
  std::function<bool(Json& program)> prepare;
  std::function<Json(Json program)> apply;
  std::function<std::string(const Outcome& original, const Outcome& transformed)> compare;
};

const Point SHIFT(37.25, -81.5);

const Transformation TRANSFORMATIONS[] = {
    {"translate", [](Json&) { return true; },
     [](Json p) {
       ForEachPoint(p, [](Json& q) {
         q = {q[0].get<double>() + SHIFT.x, q[1].get<double>() + SHIFT.y};
       });
       return p;
     },
     [](const Outcome& o, const Outcome& t) {
       return Compare(
           o, t, [](const Point& q) { return q + SHIFT; }, false, TOLERANCE);
     }},
    {"mirror", [](Json&) { return true; },
     [](Json p) {
       ForEachPoint(p, [](Json& q) { q[1] = -q[1].get<double>(); });
       FlipSenses(p);
       FlipSides(p);
       return p;
     },
     [](const Outcome& o, const Outcome& t) {
       return Compare(
           o, t, [](const Point& q) { return Point(q.x, -q.y); }, true, TOLERANCE);
     }},
    // Travelled backwards on the other side, the tool stays on the same side of the part, so
    // the path in progress is the same, backwards. Start-up and cancel swap roles; the normal
    // strategy joins them at the plain offset ends, so they are left out. Evasion reads ahead
    // and is off, so the steps family, whose short lines then break the path, is left out.
    {"reverse",
     [](Json& p) {
       const Json& segments = p["segments"];
       p["settings"]["strategy"] = "normal";
       p["settings"]["evade"] = false;
       return p["family"] == "outline" && segments.back()["phase"] == "R" &&
              segments.front().contains("line") && segments.back().contains("line");
     },
     [](Json p) {
       Json& segments = p["segments"];
       std::reverse(segments.begin(), segments.end());
       FlipSenses(p);
       FlipSides(p);
       for (Json& s : segments) {
         if (s.contains("line")) {
           std::swap(s["line"][0], s["line"][1]);
         } else {
           std::swap(s["arc"]["from"], s["arc"]["to"]);
         }
         s["phase"] = "D";
       }
       segments.front()["phase"] = "S";
       segments.back()["phase"] = "R";
       return p;
     },
     [](const Outcome& o, const Outcome& t) -> std::string {
       if (!o.run.ok || !t.run.ok) {
         return "";
       }
       Outcome forward, backward;
       forward.path = InProgress(o.path, true);
       backward.path = InProgress(t.path, false);
       return Compare(
           forward, backward, [](const Point& q) { return q; }, false, TOLERANCE);
     }},
    // The radius negated and every side swapped: the same path. Evasion is off: it reads the
    // segment after the successor on the side the host gave it, which is not swapped.
    {"negative radius",
     [](Json& p) {
       p["settings"]["evade"] = false;
       return true;
     },
     [](Json p) {
       p["settings"]["radius"] = -p["settings"]["radius"].get<double>();
       FlipSides(p);
       return p;
     },
     [](const Outcome& o, const Outcome& t) {
       return Compare(
           o, t, [](const Point& q) { return q; }, false, TOLERANCE);
     }},
    // The interference check only refuses: what completes with a look-behind of 3 completes
    // without one, along the same path to the bit.
    {"no look-behind", [](Json&) { return true; },
     [](Json p) {
       p["settings"]["lookBehind"] = 0;
       return p;
     },
     [](const Outcome& o, const Outcome& t) -> std::string {
       return o.run.ok ? Compare(
                             o, t, [](const Point& q) { return q; }, false, 0.0)
                       : "";
     }},
};

void PrintTo(const Transformation& t, std::ostream* os) { *os << t.name; }

class Metamorphic : public ::testing::TestWithParam<Transformation> {};

TEST_P(Metamorphic, TransformsTheOutcomeAlike) {
  const Transformation& t = GetParam();
  EXPECT_TRUE(rc::check(t.name, [&t] {
    Json program = Programs();
    if (!t.prepare(program)) {
      return;
    }
    const std::string problem = t.compare(Compensate(program), Compensate(t.apply(program)));
    if (!problem.empty()) {
      Fail(std::string(t.name) + ": " + problem, program);
    }
  }));
}

INSTANTIATE_TEST_SUITE_P(Transformations, Metamorphic, ::testing::ValuesIn(TRANSFORMATIONS),
                         [](const ::testing::TestParamInfo<Transformation>& param) {
                           std::string name = param.param.name;
                           std::replace(name.begin(), name.end(), ' ', '_');
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
}  // namespace cutcomp::test
