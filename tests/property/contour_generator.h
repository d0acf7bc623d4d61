// SPDX-License-Identifier: MIT
// Seeded contour generator for the property tests and the gouge survey: closed polygons, stars,
// rounded rectangles, mixes of lines and arcs, and contours with very short segments, each wrapped
// in a start-up line and a cancel line, plus the fixture text that reproduces a generated case.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <crc/crc.h>

namespace cutcomp::property {

using Point = crc::__point2<double>;

// A portable pseudo-random source (splitmix64): the same seed gives the same contour with every
// standard library, which std::uniform_real_distribution does not promise.
class Random {
public:
  explicit Random(std::uint64_t seed) : m_State(seed) {}
  std::uint64_t Next();
  double Uniform(double low, double high);  // in [low, high)
  int Int(int low, int high);               // in [low, high]
  bool Chance(double probability);

private:
  std::uint64_t m_State;
};

// One programmed segment.
struct Segment {
  bool arc = false;
  Point from;
  Point to;
  Point centre;  // arcs only
  bool ccw = true;
  crc::crc_status_t phase = crc::CRC_STATUS_DOING;
  crc::crc_dir_t side = crc::CRC_DIR_LEFT;
  bool locate = false;  // lines only: a positioning move, not offset

  double Radius() const { return (from - centre).GetLength(); }
};

enum class Family {
  POLYGON,          // star-shaped simple polygon
  STAR,             // alternating outer and inner points
  ROUNDED_RECT,     // rectangle whose corners are arcs tangent to the edges
  MIXED,            // star-shaped polygon whose edges are lines or bulging arcs of either sense
  CHAIN,            // open walk of lines and arcs, tangent, turning or doubling back
  CHAMFERED,        // polygon whose corners are cut by one or two segments of 1e-4 to 0.5
  SHORT_STEP_CHAIN  // open walk alternating long segments and segments of 1e-4 to 0.5
};
const char* FamilyName(Family family);

struct Case {
  std::uint64_t seed = 0;
  Family family = Family::POLYGON;
  double radius = 1.0;
  crc::crc_t strategy = crc::CRC_TYPE_NORMAL;
  crc::crc_dir_t side = crc::CRC_DIR_LEFT;
  bool evade = false;
  // Without a cancel line the sequence simply ends, and the pre-retract option closes it.
  bool withCancel = true;
  int preRetract = 0;
  unsigned int lookBehind = 3;  // capacity of the engine's look-behind list
  // The start-up line, the contour (phase in progress) and the cancel line, in program order.
  std::vector<Segment> segments;
};

struct GeneratorOptions {
  // Reject contours with a joint that turns by a little but not by nothing (between 1e-9 rad
  // and 6 degrees): the engine treats such a joint as smooth and moves the offset end onto the
  // successor's offset start, off the offset of the segment itself.
  bool avoidNearTangent = true;
  // Radius from 1 to 5 with contour edges of 5 to 40 (the short-segment families use it always).
  bool largeRadius = false;
  // Chance that one line inside the contour is a locate line.
  double locateChance = 0.0;
  // Chance that the program ends without a cancel line (pre-retract option drawn from 0..2).
  double noCancelChance = 0.0;
  // Under the inserting strategy, which accepts them, chance that the start-up and the cancel
  // segment are arcs (each drawn on its own).
  double arcEndsChance = 0.0;
};

// The case for `seed` of `family`; strategy and side are drawn from the seed too.
Case Generate(std::uint64_t seed, Family family, const GeneratorOptions& options);

// Transformations for the metamorphic checks.
Case Translated(const Case& source, Point by);
// y -> -y: arcs change their sense and the compensation side swaps.
Case Mirrored(const Case& source);

// The program travelled backwards: segments in reverse order, each reversed (arcs change their
// sense) and compensated on the other side, so the tool stays on the same side of the contour;
// the old cancel line, reversed, becomes the start-up line and the old start-up line the cancel.
Case ReversedCase(const Case& source);
// The cutter radius negated and every side swapped: the same tool path.
Case WithNegativeRadius(const Case& source);

// Fresh host-owned segments for one run.
std::vector<std::unique_ptr<crc::CCrcNode>> BuildProgram(const Case& c);

// The case as a whole-contour fixture (the scenario tests' JSON format, without the "expect"
// part, which whoever turns it into a fixture writes), every number to 17 significant digits.
std::string ToFixture(const Case& c);

// Turn of the direction of travel at the joint a -> b, in radians (0 = smooth).
double JointTurn(const Segment& a, const Segment& b);
// Unit direction of travel at the start and end of a segment.
Point StartTangent(const Segment& s);
Point EndTangent(const Segment& s);

}  // namespace cutcomp::property
