// SPDX-License-Identifier: MIT
// Properties of whole programs over seeded generated contours: a completed tool-centre path is
// continuous, its offset pieces lie at the cutter radius, inserted lines and notices are what the
// host expects, runs are deterministic, and translating, mirroring, reversing the contour or
// negating the radius transforms the path alike. A failing case prints its fixture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "contour_generator.h"
#include "property_path.h"

namespace cutcomp::property {
namespace {

// Seeds 1..Seeds() of every family; a failure names its family and seed (Generate with the
// test's options rebuilds the case) and prints the case as a fixture. CUTCOMP_PROPERTY_SEEDS=N runs
// more of them (a longer search); the default keeps the suite at a fraction of a second.
std::uint64_t Seeds() {
  const char* text = std::getenv("CUTCOMP_PROPERTY_SEEDS");
  const unsigned long long n = text != nullptr ? std::strtoull(text, nullptr, 10) : 0;
  return n > 0 ? n : 40;
}
constexpr Family ORDINARY[] = {Family::POLYGON, Family::STAR, Family::ROUNDED_RECT, Family::MIXED,
                               Family::CHAIN};
constexpr Family SHORT_SEGMENTS[] = {Family::CHAMFERED, Family::SHORT_STEP_CHAIN};

// Continuity of the path: 1e-6 in the host's unit, the engine's own point tolerance.
constexpr double JOIN_TOLERANCE = 1e-6;
// Offset distance and the metamorphic comparisons. Coordinates reach about 150; a corner point
// computed at a 6-degree joint loses no more than a few hundred ulps.
constexpr double GEOMETRY_TOLERANCE = 1e-6;
// Print at most this many failing cases per test; the count of all of them is checked at the end.
constexpr int MAX_REPORTS = 3;

// The programs of the ordinary families: some with a locate line inside the contour, some
// ending without a cancel line, some (inserting strategy) with arcs for start-up and cancel.
// With `avoidNearTangent`, no joint turns by less than 6 degrees unless it is smooth; only the
// offset-distance and reversal properties need that (see GeneratorOptions).
GeneratorOptions ProgramOptions(bool avoidNearTangent) {
  GeneratorOptions options;
  options.avoidNearTangent = avoidNearTangent;
  options.locateChance = 0.2;
  options.noCancelChance = 0.25;
  options.arcEndsChance = 0.3;
  return options;
}

std::vector<Case> OrdinaryCases(const GeneratorOptions& options) {
  std::vector<Case> cases;
  for (Family family : ORDINARY) {
    for (std::uint64_t seed = 1; seed <= Seeds(); ++seed) {
      cases.push_back(Generate(seed, family, options));
    }
  }
  return cases;
}

std::vector<Case> OrdinaryCases(bool avoidNearTangent) {
  return OrdinaryCases(ProgramOptions(avoidNearTangent));
}

std::string Header(const Case& c, const std::string& what) {
  std::ostringstream out;
  out << what << "\nfamily " << FamilyName(c.family) << ", seed " << c.seed << "; fixture:\n"
      << ToFixture(c);
  return out.str();
}

// Collects failing cases, prints the first few in full.
class Failures {
public:
  void Add(const Case& c, const std::string& what) {
    if (++m_Count <= MAX_REPORTS) {
      ADD_FAILURE() << Header(c, what);
    }
  }
  int Count() const { return m_Count; }

private:
  int m_Count = 0;
};

bool Near(const Point& a, const Point& b, double tolerance) {
  return std::fabs(a.x - b.x) <= tolerance && std::fabs(a.y - b.y) <= tolerance;
}

std::string Text(const Point& p) {
  std::ostringstream out;
  out.precision(17);
  out << "(" << p.x << ", " << p.y << ")";
  return out.str();
}

// Empty when the path of a completed run is continuous and runs from the start-up line's
// programmed start to the cancel line's programmed end; otherwise what is wrong.
std::string CheckContinuity(const Case& c, const Outcome& outcome) {
  const std::vector<Piece>& path = outcome.path;
  if (path.empty()) {
    return "empty path";
  }
  const int gap = FirstBreak(path, JOIN_TOLERANCE);
  if (gap >= 0) {
    return "path breaks between\n  " + Describe(path[gap]) + "\n  " + Describe(path[gap + 1]);
  }
  if (!Near(path.front().from, c.segments.front().from, JOIN_TOLERANCE)) {
    return "path starts at " + Text(path.front().from) + ", not at the start-up line's start";
  }
  // The cancel line ends on its programmed end, and so does the closing line that option 0
  // inserts when the sequence ends without one; otherwise the tool stays beside the contour.
  if ((c.withCancel || c.preRetract == 0) &&
      !Near(path.back().to, c.segments.back().to, JOIN_TOLERANCE)) {
    return "path ends at " + Text(path.back().to) + ", not at the last segment's programmed end";
  }
  return "";
}

// Empty when the piece lies at the cutter radius from its programmed segment on the side the
// program names: a parallel line at signed distance +r (left) or -r (right), or a concentric arc
// of radius R - r where the tool runs inside (left of a counterclockwise arc, right of a
// clockwise one) and R + r outside.
//
// `checkStart` false leaves the start point out; `arcTolerance` bounds how far an arc's end
// points may lie off its offset circle.
std::string CheckOffset(const Case& c, const Piece& piece, const Segment& s, bool checkStart,
                        double arcTolerance) {
  const bool left = s.side == crc::CRC_DIR_LEFT;
  std::ostringstream out;
  out.precision(17);
  if (!s.arc) {
    const Point v = s.to - s.from;
    const double length = v.GetLength();
    const double expected = left ? c.radius : -c.radius;
    for (const Point& p : {checkStart ? piece.from : piece.to, piece.to}) {
      const Point w = p - s.from;
      const double signedDistance = (v.x * w.y - v.y * w.x) / length;
      if (std::fabs(signedDistance - expected) > GEOMETRY_TOLERANCE) {
        out << "offset point " << Text(p) << " lies at signed distance " << signedDistance
            << " from the line of segment " << piece.id << ", expected " << expected;
        return out.str();
      }
    }
    return "";
  }
  const bool inside = left == s.ccw;
  const double expected = inside ? s.Radius() - c.radius : s.Radius() + c.radius;
  if (!piece.arc || piece.ccw != s.ccw || !Near(piece.centre, s.centre, GEOMETRY_TOLERANCE)) {
    return "offset of arc segment " + std::to_string(piece.id) + " is not a concentric arc " +
           "of the same sense: " + Describe(piece);
  }
  if (std::fabs(piece.radius - expected) > GEOMETRY_TOLERANCE) {
    out << "offset radius of segment " << piece.id << " is " << piece.radius << ", expected "
        << expected;
    return out.str();
  }
  for (const Point& p : {checkStart ? piece.from : piece.to, piece.to}) {
    const double d = (p - s.centre).GetLength();
    if (std::fabs(d - expected) > arcTolerance) {
      out << "offset point " << Text(p) << " of segment " << piece.id << " lies " << d
          << " from the centre, expected " << expected;
      return out.str();
    }
  }
  return "";
}

// Pieces whose own segment is offset along its whole programmed length: every segment in
// progress except locate lines, and under the inserting strategy the start-up and cancel lines.
bool IsOffsetPiece(const Case& c, const Piece& piece) {
  if (piece.inserted || c.segments[static_cast<std::size_t>(piece.id)].locate) {
    return false;
  }
  const crc::crc_status_t phase = c.segments[static_cast<std::size_t>(piece.id)].phase;
  return phase == crc::CRC_STATUS_DOING || c.strategy == crc::CRC_TYPE_INSERT;
}

// Empty when `actual` is `expected` with every point mapped by `map` and arcs turning the
// opposite way when `flipsSense`.
template <typename Map>
std::string CompareMapped(const Outcome& expected, const Outcome& actual, Map map,
                          bool flipsSense) {
  if (expected.ok != actual.ok || expected.code != actual.code ||
      expected.failedId != actual.failedId) {
    return "outcome differs: ok " + std::to_string(expected.ok) + " / " +
           std::to_string(actual.ok) + ", message " + std::to_string(expected.code) + " / " +
           std::to_string(actual.code) + ", at segment " + std::to_string(expected.failedId) +
           " / " + std::to_string(actual.failedId);
  }
  if (expected.path.size() != actual.path.size()) {
    return "path has " + std::to_string(actual.path.size()) + " pieces instead of " +
           std::to_string(expected.path.size());
  }
  for (std::size_t i = 0; i < expected.path.size(); ++i) {
    const Piece& e = expected.path[i];
    const Piece& a = actual.path[i];
    const bool same = e.arc == a.arc && e.inserted == a.inserted && e.id == a.id &&
                      Near(map(e.from), a.from, GEOMETRY_TOLERANCE) &&
                      Near(map(e.to), a.to, GEOMETRY_TOLERANCE) &&
                      (!e.arc || (Near(map(e.centre), a.centre, GEOMETRY_TOLERANCE) &&
                                  std::fabs(e.radius - a.radius) <= GEOMETRY_TOLERANCE &&
                                  (e.ccw != a.ccw) == flipsSense));
    if (!same) {
      return "piece " + std::to_string(i) + " differs:\n  original    " + Describe(e) +
             "\n  transformed " + Describe(a);
    }
  }
  return "";
}

bool SamePoint(const Point& a, const Point& b) { return a.x == b.x && a.y == b.y; }

bool Identical(const Outcome& a, const Outcome& b) {
  if (a.ok != b.ok || a.code != b.code || a.failedId != b.failedId ||
      a.path.size() != b.path.size() || a.dropped != b.dropped ||
      a.notices.size() != b.notices.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.path.size(); ++i) {
    const Piece& p = a.path[i];
    const Piece& q = b.path[i];
    // exact: the same program must give the same bits
    if (p.arc != q.arc || p.inserted != q.inserted || p.id != q.id || p.ccw != q.ccw ||
        !SamePoint(p.from, q.from) || !SamePoint(p.to, q.to) || !SamePoint(p.centre, q.centre) ||
        !(p.radius == q.radius)) {
      return false;
    }
  }
  return true;
}

TEST(GeneratedContours, CompletedPathIsContinuousFromStartUpToCancel) {
  Failures failures;
  int completed = 0;
  for (Case c : OrdinaryCases(false)) {
    for (bool evade : {false, true}) {
      c.evade = evade;
      const Outcome outcome = RunCase(c);
      if (!outcome.ok) {
        // Nothing in these programs calls for one of the engine's silent refusals.
        if (outcome.code < 1 || outcome.code > 16) {
          failures.Add(c,
                       "refused without a message, at segment " + std::to_string(outcome.failedId));
        }
        continue;
      }
      ++completed;
      const std::string problem = CheckContinuity(c, outcome);
      if (!problem.empty()) {
        failures.Add(c, problem);
      }
    }
  }
  EXPECT_EQ(failures.Count(), 0);
  // Most generated contours must complete, or the property says little.
  EXPECT_GE(completed, static_cast<int>(Seeds()) * 5);
}

TEST(GeneratedContours, OffsetPiecesLieAtTheCutterRadiusOnTheProgrammedSide) {
  Failures failures;
  int checked = 0;
  for (const Case& c : OrdinaryCases(true)) {
    const Outcome outcome = RunCase(c);
    if (!outcome.ok) {
      continue;
    }
    for (const Piece& piece : outcome.path) {
      if (!IsOffsetPiece(c, piece)) {
        continue;
      }
      ++checked;
      const std::string problem = CheckOffset(
          c, piece, c.segments[static_cast<std::size_t>(piece.id)], true, GEOMETRY_TOLERANCE);
      if (!problem.empty()) {
        failures.Add(c, problem);
        break;
      }
    }
  }
  EXPECT_EQ(failures.Count(), 0);
  EXPECT_GE(checked, static_cast<int>(Seeds()) * 20);
}

// Empty when every line the engine inserted is final and carries no offset geometry of its own,
// has a length, is no locate line, has the side of the contour, and has the phase of where it
// stands: the approach line of the inserting start-up first, a closing line (of the inserting
// cancel, or of option 0 at the end of a sequence without a cancel) last, corner lines elsewhere.
std::string CheckInsertedLines(const Case& c, const Outcome& outcome) {
  const std::vector<Piece>& path = outcome.path;
  const bool approach = c.strategy == crc::CRC_TYPE_INSERT;
  const bool closing = c.withCancel ? c.strategy == crc::CRC_TYPE_INSERT : c.preRetract == 0;
  if (path.front().inserted != approach) {
    return "the path should " + std::string(approach ? "" : "not ") + "begin with an inserted line";
  }
  if (path.back().inserted != closing) {
    return "the path should " + std::string(closing ? "" : "not ") + "end with an inserted line";
  }
  for (std::size_t i = 0; i < path.size(); ++i) {
    const Piece& piece = path[i];
    if (!piece.inserted) {
      continue;
    }
    const crc::crc_status_t phase = approach && i == 0                ? crc::CRC_STATUS_ESTABLISH
                                    : closing && i + 1 == path.size() ? crc::CRC_STATUS_RETRACT
                                                                      : crc::CRC_STATUS_DOING;
    const double length = (piece.to - piece.from).GetLength();
    if (!piece.compensated || !piece.offsetUnset || piece.locate || piece.side != c.side ||
        piece.phase != phase || length < crc::EPSILON) {
      return "inserted piece " + std::to_string(i) + " is malformed (compensated " +
             std::to_string(piece.compensated) + ", offset unset " +
             std::to_string(piece.offsetUnset) + ", locate " + std::to_string(piece.locate) +
             ", side " + std::to_string(piece.side) + ", phase " + std::to_string(piece.phase) +
             " expected " + std::to_string(phase) + "): " + Describe(piece);
    }
  }
  return "";
}

// Empty when the host heard what it should at the end of the program, and the look-behind list
// holds what it should.
// - With a cancel line: a line inserted after a segment only by the inserting cancel, no end
//   point and no finish notice; the list empty after the cancel, except under the inserting
//   strategy, which empties it before the last segment's clone joins it.
// - Without one: a closing line inserted after the last segment (option 0) or the tool's end
//   point, where the path ends (option 1), then the finish notice; nothing empties the list.
std::string CheckEndState(const Case& c, const Outcome& outcome) {
  int after = 0;
  int finish = 0;
  std::vector<Point> ends;
  for (const HostNotice& notice : outcome.notices) {
    after += notice.kind == HostNotice::INSERT_AFTER ? 1 : 0;
    finish += notice.kind == HostNotice::FINISH ? 1 : 0;
    if (notice.kind == HostNotice::SET_END_POINT) {
      ends.emplace_back(notice.x, notice.y);
    }
  }
  const bool inserting = c.strategy == crc::CRC_TYPE_INSERT;
  if (c.withCancel) {
    if (finish != 0 || !ends.empty()) {
      return "the host was told the sequence ended without a cancel segment";
    }
    if (after != (inserting ? 1 : 0)) {
      return std::to_string(after) + " lines inserted after a segment";
    }
    if (outcome.listCount != (inserting ? 1U : 0U)) {
      return "the look-behind list holds " + std::to_string(outcome.listCount) +
             " entries after the cancel";
    }
    return "";
  }
  if (finish != 1 || outcome.notices.back().kind != HostNotice::FINISH) {
    return "the finish notice should come once, last";
  }
  if (after != (c.preRetract == 0 ? 1 : 0)) {
    return std::to_string(after) + " lines inserted after a segment with option " +
           std::to_string(c.preRetract);
  }
  if (ends.size() != (c.preRetract == 1 ? 1U : 0U)) {
    return std::to_string(ends.size()) + " end points with option " + std::to_string(c.preRetract);
  }
  if (!ends.empty() && !Near(ends.front(), outcome.path.back().to, JOIN_TOLERANCE)) {
    return "end point " + Text(ends.front()) + " is not where the path ends";
  }
  if (outcome.listCount == 0) {
    return "the look-behind list was emptied without a cancel";
  }
  return "";
}

TEST(GeneratedContours, InsertedLinesAndNoticesAreWhatTheHostExpects) {
  Failures failures;
  int completed = 0;
  for (Case c : OrdinaryCases(false)) {
    for (bool evade : {false, true}) {
      c.evade = evade;
      const Outcome outcome = RunCase(c);
      if (!outcome.ok) {
        continue;
      }
      ++completed;
      std::string problem = CheckInsertedLines(c, outcome);
      if (problem.empty()) {
        problem = CheckEndState(c, outcome);
      }
      if (!problem.empty()) {
        failures.Add(c, problem);
      }
    }
  }
  EXPECT_EQ(failures.Count(), 0);
  EXPECT_GE(completed, static_cast<int>(Seeds()) * 5);
}

TEST(GeneratedContours, SameProgramTwiceGivesTheSameBits) {
  Failures failures;
  for (Case c : OrdinaryCases(false)) {
    for (bool evade : {false, true}) {
      c.evade = evade;
      if (!Identical(RunCase(c), RunCase(c))) {
        failures.Add(c, "two runs of the same program differ");
      }
    }
  }
  EXPECT_EQ(failures.Count(), 0);
}

TEST(GeneratedContours, TranslatingTheContourTranslatesThePath) {
  Failures failures;
  const Point by(37.25, -81.5);
  for (Case c : OrdinaryCases(false)) {
    for (bool evade : {false, true}) {
      c.evade = evade;
      const std::string problem = CompareMapped(
          RunCase(c), RunCase(Translated(c, by)), [&by](const Point& p) { return p + by; }, false);
      if (!problem.empty()) {
        failures.Add(c, "translated by (37.25, -81.5): " + problem);
      }
    }
  }
  EXPECT_EQ(failures.Count(), 0);
}

TEST(GeneratedContours, MirroringTheContourAndSwappingTheSideMirrorsThePath) {
  Failures failures;
  for (Case c : OrdinaryCases(false)) {
    for (bool evade : {false, true}) {
      c.evade = evade;
      const std::string problem = CompareMapped(
          RunCase(c), RunCase(Mirrored(c)), [](const Point& p) { return Point(p.x, -p.y); }, true);
      if (!problem.empty()) {
        failures.Add(c, "mirrored (y -> -y, sides swapped): " + problem);
      }
    }
  }
  EXPECT_EQ(failures.Count(), 0);
}

// The interference check only refuses: a program that completes with a longer look-behind
// completes with a shorter one (none at all included), along the same path to the bit.
TEST(GeneratedContours, LookBehindCapacityOnlyDecidesWhetherAProgramIsRefused) {
  Failures failures;
  int completed = 0;
  for (Case c : OrdinaryCases(false)) {
    for (bool evade : {false, true}) {
      c.evade = evade;
      Outcome longer;
      unsigned int longerCapacity = 0;
      for (unsigned int capacity : {6U, 3U, 1U, 0U}) {
        c.lookBehind = capacity;
        const Outcome outcome = RunCase(c);
        if (longer.ok && !Identical(longer, outcome)) {
          failures.Add(c, "completes with a look-behind of " + std::to_string(longerCapacity) +
                              " but not the same way with " + std::to_string(capacity));
          break;
        }
        completed += outcome.ok ? 1 : 0;
        longer = outcome;
        longerCapacity = capacity;
      }
    }
  }
  EXPECT_EQ(failures.Count(), 0);
  EXPECT_GE(completed, static_cast<int>(Seeds()) * 20);
}

// Evasion stays off: it reads the segment after the successor on the side the host gave it,
// which a negative radius does not swap.
TEST(GeneratedContours, NegativeRadiusOnTheOtherSideGivesTheSamePath) {
  Failures failures;
  for (const Case& c : OrdinaryCases(false)) {
    const std::string problem = CompareMapped(
        RunCase(c), RunCase(WithNegativeRadius(c)), [](const Point& p) { return p; }, false);
    if (!problem.empty()) {
      failures.Add(c, "radius negated, sides swapped: " + problem);
    }
  }
  EXPECT_EQ(failures.Count(), 0);
}

// The pieces of the path in progress, in the order the tool travels them backwards.
std::vector<Piece> BackwardsInProgress(const std::vector<Piece>& path) {
  std::vector<Piece> pieces;
  for (auto it = path.rbegin(); it != path.rend(); ++it) {
    if (it->phase != crc::CRC_STATUS_DOING) {
      continue;
    }
    Piece piece = *it;
    std::swap(piece.from, piece.to);
    piece.ccw = !piece.ccw;
    pieces.push_back(piece);
  }
  return pieces;
}

// Travelling the contour backwards on the other side keeps the tool on the same side of the
// part, so the path in progress is the same, travelled backwards. Start-up and cancel swap ends
// and are left out; the normal strategy joins them to the plain offset ends at both ends.
TEST(GeneratedContours, ReversingTheContourAndSwappingTheSideReversesThePathInProgress) {
  Failures failures;
  int compared = 0;
  GeneratorOptions options = ProgramOptions(true);
  options.noCancelChance = 0.0;  // the reversed program would have no start-up line
  options.arcEndsChance = 0.0;   // the normal strategy refuses arcs there
  for (Case c : OrdinaryCases(options)) {
    c.strategy = crc::CRC_TYPE_NORMAL;
    const Outcome forward = RunCase(c);
    const Outcome backward = RunCase(ReversedCase(c));
    if (!forward.ok || !backward.ok) {
      continue;
    }
    ++compared;
    const std::vector<Piece> expected = BackwardsInProgress(forward.path);
    std::vector<Piece> actual;
    for (const Piece& piece : backward.path) {
      if (piece.phase == crc::CRC_STATUS_DOING) {
        actual.push_back(piece);
      }
    }
    std::string problem;
    if (expected.size() != actual.size()) {
      problem = "path in progress has " + std::to_string(actual.size()) + " pieces backwards, " +
                std::to_string(expected.size()) + " forwards";
    }
    for (std::size_t i = 0; problem.empty() && i < expected.size(); ++i) {
      const Piece& e = expected[i];
      const Piece& a = actual[i];
      const bool same =
          e.arc == a.arc && Near(e.from, a.from, GEOMETRY_TOLERANCE) &&
          Near(e.to, a.to, GEOMETRY_TOLERANCE) &&
          (!e.arc || (e.ccw == a.ccw && Near(e.centre, a.centre, GEOMETRY_TOLERANCE) &&
                      std::fabs(e.radius - a.radius) <= GEOMETRY_TOLERANCE));
      if (!same) {
        problem = "piece " + std::to_string(i) + " differs:\n  forwards, reversed " + Describe(e) +
                  "\n  backwards          " + Describe(a);
      }
    }
    if (!problem.empty()) {
      failures.Add(c, "reversed (strategy normal): " + problem);
    }
  }
  EXPECT_EQ(failures.Count(), 0);
  EXPECT_GE(compared, static_cast<int>(Seeds()) * 3);
}

// Segments of 1e-4 to 0.5 beside cutter radii of 1 to 5: with evasion on, the segments the
// engine drops leave no gap in the path.
TEST(ShortSegmentsWithEvasion, CompletedPathIsContinuousSkippingDroppedSegments) {
  Failures failures;
  int completed = 0;
  int dropped = 0;
  GeneratorOptions options;
  options.avoidNearTangent = false;
  for (Family family : SHORT_SEGMENTS) {
    for (std::uint64_t seed = 1; seed <= 3 * Seeds(); ++seed) {
      Case c = Generate(seed, family, options);
      c.evade = true;
      const Outcome outcome = RunCase(c);
      if (!outcome.ok) {
        continue;
      }
      ++completed;
      dropped += outcome.dropped;
      const std::string problem = CheckContinuity(c, outcome);
      if (!problem.empty()) {
        failures.Add(c, problem);
      }
    }
  }
  EXPECT_EQ(failures.Count(), 0);
  EXPECT_GE(completed, static_cast<int>(Seeds()));
  EXPECT_GT(dropped, 0) << "no generated contour made the engine drop a segment";
}

// Two offset circles that miss touching by less than this are taken to touch, and the joint point
// is put on one of them: it may lie off the other by as much.
constexpr double CIRCLE_TOUCH_TOLERANCE = 0.0001141 + 1e-9;
// Joints that the engine takes as smooth turn by less than acos(1 - 0.0019), about 3.53 degrees.
const double SMOOTH_TURN = std::acos(1.0 - 0.0019) + 1e-9;

// With evasion on, the segments that stay in the path still lie at the cutter radius, except
// where evasion rewrites a joint by design:
// - a segment that absorbed a dropped successor: its programmed end moves onto the successor's
//   end while its offset start stays where the joint before it put it, for the old direction;
// - the start of the segment after a dropped one, when the joint across the gap is smooth: the
//   trim then starts it at the end of its predecessor's offset, off its own.
TEST(ShortSegmentsWithEvasion, KeptPiecesLieAtTheCutterRadius) {
  Failures failures;
  int checked = 0;
  GeneratorOptions options;
  for (Family family : SHORT_SEGMENTS) {
    for (std::uint64_t seed = 1; seed <= 3 * Seeds(); ++seed) {
      Case c = Generate(seed, family, options);
      c.evade = true;
      const Outcome outcome = RunCase(c);
      if (!outcome.ok) {
        continue;
      }
      auto droppedId = [&outcome](std::int64_t id) {
        return std::find(outcome.droppedIds.begin(), outcome.droppedIds.end(), id) !=
               outcome.droppedIds.end();
      };
      for (const Piece& piece : outcome.path) {
        if (!IsOffsetPiece(c, piece)) {
          continue;
        }
        const Segment& s = c.segments[static_cast<std::size_t>(piece.id)];
        if (!(piece.programmedTo == s.to)) {
          continue;  // merged
        }
        bool checkStart = true;
        if (droppedId(piece.id - 1)) {
          std::int64_t before = piece.id - 1;
          while (before > 0 && droppedId(before)) {
            --before;
          }
          checkStart = JointTurn(c.segments[static_cast<std::size_t>(before)], s) >= SMOOTH_TURN;
        }
        ++checked;
        const std::string problem = CheckOffset(c, piece, s, checkStart, CIRCLE_TOUCH_TOLERANCE);
        if (!problem.empty()) {
          failures.Add(c, problem);
          break;
        }
      }
    }
  }
  EXPECT_EQ(failures.Count(), 0);
  EXPECT_GE(checked, static_cast<int>(Seeds()) * 5);
}

}  // namespace
}  // namespace cutcomp::property
