// SPDX-License-Identifier: MIT
// Fuzz target: decodes bytes into settings and a short program and runs it through the
// list-backed host.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <crc/crc.h>

#include "geometry/tolerances.h"
#include "list_host.h"
#include "tool_path.h"

namespace {

using Point = crc::__point2<double>;

// Reads the input front to back; past the end every byte reads as 0, so any prefix of a valid
// input is itself a valid (shorter) input.
class Reader {
public:
  Reader(const std::uint8_t* data, std::size_t size) : m_Data(data), m_Size(size) {}

  bool Exhausted() const { return m_Pos >= m_Size; }

  std::uint8_t Byte() { return m_Pos < m_Size ? m_Data[m_Pos++] : 0; }

  int Signed() { return static_cast<std::int8_t>(Byte()); }

  // An enum value around its table, one below and two above it included.
  int EnumValue(int span) { return static_cast<int>(Byte() % (span + 3)) - 1; }

  // Mostly coordinates on a quarter-unit grid (so that segments join and corners repeat),
  // sometimes nudged by multiples of 1e-7 to land on both sides of the 1e-6 tolerance, short
  // lengths, the special values (NaN, infinities, huge, tiny, the unset sentinel), or raw bits.
  double Value() {
    const std::uint8_t selector = Byte();
    if (selector < 160) {
      return Signed() / 4.0;
    }
    if (selector < 200) {
      const double grid = Signed() / 4.0;
      return grid + Signed() * 1e-7;
    }
    if (selector < 220) {
      return Signed() / 256.0;
    }
    if (selector < 240) {
      static const double SPECIAL[] = {
          std::numeric_limits<double>::quiet_NaN(),
          std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity(),
          1e300,
          -1e300,
          1e-300,
          crc::INVALID_VALUE,
          0.0,
          -0.0,
          5e-7,
          1e-6,
          1e15,
          DBL_MAX,
          std::numeric_limits<double>::denorm_min(),
          0.0001141,
          0.005,
      };
      return SPECIAL[Byte() % (sizeof(SPECIAL) / sizeof(SPECIAL[0]))];
    }
    double raw = 0.0;
    // Assembled in an integer rather than a byte array: GCC 12 at -O3 mistakes the array loop
    // for an overflow (stringop-overflow), which warnings-as-errors would turn into a failure.
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < sizeof(bits); ++i) {
      bits = (bits << 8U) | Byte();
    }
    std::memcpy(&raw, &bits, sizeof(raw));
    return raw;
  }

  Point PointValue() {
    const double x = Value();
    const double y = Value();
    return Point(x, y);
  }

private:
  const std::uint8_t* m_Data;
  std::size_t m_Size;
  std::size_t m_Pos = 0;
};

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "engine fuzz: invariant broken: %s\n", what);
    std::abort();
  }
}

// A point of finite numbers, neither of them the engine's unset marker.
bool Finite(const Point& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && p.x != crc::INVALID_VALUE &&  // exact
         p.y != crc::INVALID_VALUE;
}

double Scale(const Point& p) { return std::max({1.0, std::fabs(p.x), std::fabs(p.y)}); }

// What a successful run of a plain program promises: every piece of the tool path finite, and
// one continuous path. A plain program is one contour (start-up, segments joined end to start,
// cancel) of finite numbers with kinds that match the segments, run once.
void CheckPath(const cutcomp::HostRun& run) {
  const std::vector<cutcomp::PathPiece> path = cutcomp::ReadPath(run.segments);
  if (std::getenv("CUTCOMP_FUZZ_VERBOSE") != nullptr) {
    for (const cutcomp::PathPiece& piece : path) {
      std::fprintf(stderr, "%s (programmed %s)\n", cutcomp::Describe(piece).c_str(),
                   cutcomp::Describe(piece.programmed).c_str());
    }
  }
  double scale = 1.0;
  for (const cutcomp::PathPiece& piece : path) {
    if (piece.dropped) {
      continue;
    }
    Check(piece.inserted || !piece.offsetUnset, "a piece of a successful run without a tool path");
    Check(Finite(piece.tool.from) && Finite(piece.tool.to), "a tool path that is not finite");
    Check(!piece.tool.arc || (Finite(piece.tool.centre) && std::isfinite(piece.tool.radius)),
          "a tool arc that is not finite");
    scale = std::max({scale, Scale(piece.tool.from), Scale(piece.tool.to)});
  }
  // One gap is by design: a line shorter than the corners need, trimmed at an inside corner,
  // collapses: the next piece starts at its offset start, where its own trimmed end ran past.
  for (std::size_t from = 0; from < path.size();) {
    const std::vector<cutcomp::PathPiece> rest(path.begin() + static_cast<std::ptrdiff_t>(from),
                                               path.end());
    const std::optional<std::size_t> gap = cutcomp::FirstBreak(rest, 1e-6 * scale);
    if (!gap) {
      break;
    }
    const cutcomp::PathPiece& piece = rest[*gap];
    const bool collapsed = !piece.inserted && !piece.programmed.arc &&
                           cutcomp::Length(piece.programmed) < crc::SHORT_LINE_REVERSAL_LENGTH;
    if (!collapsed) {
      std::fprintf(stderr, "after %s\n", cutcomp::Describe(piece).c_str());
    }
    Check(collapsed, "a successful run whose tool path is not continuous");
    from += *gap + 1;
  }
}

// Header flags.
constexpr std::uint8_t DEFAULT_CONSTRUCTED = 1U << 0;  // default constructor, then setters
constexpr std::uint8_t AUTO_PHASES = 1U << 1;          // start-up, in progress..., cancel
constexpr std::uint8_t ONE_SIDE = 1U << 2;             // every segment on the header's side
constexpr std::uint8_t EVADE = 1U << 3;
constexpr std::uint8_t PRE_ESTABLISHED = 1U << 4;
constexpr std::uint8_t NO_RADIUS = 1U << 5;     // with DEFAULT_CONSTRUCTED: radius stays unset
constexpr std::uint8_t RUN_ON_COPY = 1U << 6;   // the program runs on a copy of the engine
constexpr std::uint8_t QUERY_JOINTS = 1U << 7;  // GetCrcNodeIntersection on consecutive pairs

// Segment flags.
constexpr std::uint8_t IS_ARC = 1U << 0;
constexpr std::uint8_t CHAINED = 1U << 1;  // starts where the previous segment ended
constexpr std::uint8_t LOCATE = 1U << 2;
constexpr std::uint8_t BY_ANGLES = 1U << 3;  // arc from centre and angles
constexpr std::uint8_t CCW = 1U << 4;
constexpr std::uint8_t END_ON_CIRCLE = 1U << 5;  // arc end at a byte-chosen polar angle
constexpr std::uint8_t OWN_RADIUS = 1U << 6;     // arc radius read, not |start - centre|
constexpr std::uint8_t KIND_OVERRIDE = 1U << 7;  // host overwrites the kind field

constexpr int MAX_SEGMENTS = 32;

// The results are read into this so that reading them cannot be optimised away.
volatile double g_Sink = 0.0;

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof(a)) == 0; }

std::unique_ptr<crc::CCrcNode> ReadSegment(Reader& in, std::uint8_t header, int index, int count,
                                           crc::crc_dir_t headerSide, const Point& previousEnd) {
  const std::uint8_t flags = in.Byte();
  crc::crc_status_t status = crc::CRC_STATUS_DOING;
  if ((header & AUTO_PHASES) != 0) {
    if (index == 0) {
      status = crc::CRC_STATUS_ESTABLISH;
    } else if (index == count - 1) {
      status = crc::CRC_STATUS_RETRACT;
    }
  } else {
    status = static_cast<crc::crc_status_t>(in.EnumValue(3));
  }
  const crc::crc_dir_t side =
      (header & ONE_SIDE) != 0 ? headerSide : static_cast<crc::crc_dir_t>(in.EnumValue(2));
  const Point start = (flags & CHAINED) != 0 ? previousEnd : in.PointValue();
  const bool ccw = (flags & CCW) != 0;

  std::unique_ptr<crc::CCrcNode> node;
  if ((flags & IS_ARC) == 0) {
    const Point end = in.PointValue();
    node = std::make_unique<crc::CCrcLine>(start, end, status, side, (flags & LOCATE) != 0);
  } else if ((flags & BY_ANGLES) != 0) {
    const Point centre = in.PointValue();
    const double startAngle = in.Value();
    const double centralAngle = in.Value();
    const double radius = in.Value();
    node =
        std::make_unique<crc::CCrcArc>(centre, startAngle, centralAngle, radius, ccw, status, side);
  } else {
    const Point centre = in.PointValue();
    const double reach = (start - centre).GetLength();
    const double radius = (flags & OWN_RADIUS) != 0 ? in.Value() : reach;
    Point end;
    if ((flags & END_ON_CIRCLE) != 0) {
      const double angle = in.Byte() * (2.0 * crc::PI / 256.0);
      end = Point(centre.x + reach * std::cos(angle), centre.y + reach * std::sin(angle));
    } else {
      end = in.PointValue();
    }
    node = std::make_unique<crc::CCrcArc>(centre, start, end, radius, ccw, status, side);
  }
  if ((flags & KIND_OVERRIDE) != 0) {
    node->SetNodeType(static_cast<crc::node_t>(in.EnumValue(2)));
  }
  return node;
}

// Asks the engine for the connection points of consecutive programmed segments, on clones, and
// checks that the call restores the sides and the radius it flips for a negative radius.
void QueryJoints(crc::CCutterCompensator& engine,
                 const std::vector<std::unique_ptr<crc::CCrcNode>>& program) {
  for (std::size_t i = 0; i + 1 < program.size() && i < 4; ++i) {
    std::unique_ptr<crc::CCrcNode> prev(program[i]->Clone());
    std::unique_ptr<crc::CCrcNode> next(program[i + 1]->Clone());
    const crc::crc_dir_t prevSide = prev->GetCrcDirType();
    const crc::crc_dir_t nextSide = next->GetCrcDirType();
    const double radius = engine.GetCrcRadius();
    Point p1(crc::INVALID_VALUE, crc::INVALID_VALUE);
    Point p2(crc::INVALID_VALUE, crc::INVALID_VALUE);
    engine.GetCrcNodeIntersection(prev.get(), next.get(), p1, p2);
    if (prev->GetCrcDirType() != prevSide || next->GetCrcDirType() != nextSide ||
        !SameBits(engine.GetCrcRadius(), radius)) {
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const std::uint8_t header = in.Byte();
  const double radius = in.Value();
  const std::uint8_t capacityByte = in.Byte();
  const unsigned int capacity = capacityByte == 255   ? std::numeric_limits<unsigned int>::max()
                                : capacityByte >= 250 ? 100000U
                                                      : capacityByte % 6U;
  const auto strategy = static_cast<crc::crc_t>(in.EnumValue(3));
  const int preRetract = in.EnumValue(2);
  const auto headerSide = static_cast<crc::crc_dir_t>(in.EnumValue(2));
  // Count byte: the low six bits count the segments; the top bit runs the program twice on one
  // engine, as a host does with several contours (the list and flags carry over); the next one
  // turns the engine's extensions on, as the command-line tool runs it.
  const std::uint8_t countByte = in.Byte();
  const int count = std::min<int>(countByte & 0x3F, MAX_SEGMENTS);
  const bool twice = (countByte & 0x80) != 0;
  const bool extensions = (countByte & 0x40) != 0;

  std::vector<std::unique_ptr<crc::CCrcNode>> program;
  Point previousEnd(0.0, 0.0);
  bool plain = (header & AUTO_PHASES) != 0 && (header & PRE_ESTABLISHED) == 0 && !twice &&
               std::isfinite(radius) && std::fabs(radius) < 1e6;
  for (int i = 0; i < count && !in.Exhausted(); ++i) {
    program.push_back(ReadSegment(in, header, i, count, headerSide, previousEnd));
    const crc::CCrcNode& node = *program.back();
    plain =
        plain && Finite(node.GetStartPoint()) && Finite(node.GetEndPoint()) &&
        Scale(node.GetStartPoint()) < 1e6 && Scale(node.GetEndPoint()) < 1e6 &&
        (i == 0 || (node.GetStartPoint() - previousEnd).GetLength() < crc::EPSILON) &&
        node.GetNodeType() ==
            (dynamic_cast<const crc::CCrcArc*>(&node) != nullptr ? crc::NODE_ARC : crc::NODE_LINE);
    if (const auto* arc = dynamic_cast<const crc::CCrcArc*>(&node)) {
      plain = plain && Finite(arc->GetCenterPoint()) && std::isfinite(arc->GetRadius()) &&
              arc->GetRadius() < 1e6;
    }
    previousEnd = node.GetEndPoint();
  }
  plain = plain && static_cast<int>(program.size()) == count;
  // Well formed: every enum within its table and every number finite. Out of that, the engine
  // may refuse in silence (a phase, side or strategy outside the enum; a joint it cannot
  // classify for want of numbers).
  bool wellFormed = strategy >= crc::CRC_TYPE_NORMAL && strategy <= crc::CRC_TYPE_INSERT;
  for (const auto& node : program) {
    wellFormed = wellFormed && node->GetStatusType() >= crc::CRC_STATUS_ESTABLISH &&
                 node->GetStatusType() <= crc::CRC_STATUS_RETRACT &&
                 node->GetCrcDirType() >= crc::CRC_DIR_LEFT &&
                 node->GetCrcDirType() <= crc::CRC_DIR_RIGHT && Finite(node->GetStartPoint()) &&
                 Finite(node->GetEndPoint());
  }

  std::unique_ptr<crc::CCutterCompensator> engine;
  if ((header & DEFAULT_CONSTRUCTED) != 0) {
    engine = std::make_unique<crc::CCutterCompensator>();
    if ((header & NO_RADIUS) == 0) {
      engine->SetCrcRadius(radius);
    }
    engine->SetCrcType(strategy);
  } else {
    engine = std::make_unique<crc::CCutterCompensator>(radius, nullptr, capacity, strategy);
  }
  engine->SetInterveneEvade((header & EVADE) != 0);
  engine->SetCamTolerance(extensions);
  engine->SetClosureTolerance(extensions);
  engine->SetStartInPlace(extensions);
  engine->SetArcStartup(extensions);
  engine->SetCrcPreRetractOption(preRetract);
  if ((header & PRE_ESTABLISHED) != 0) {
    engine->SetEstablish(true);
  }
  if ((header & QUERY_JOINTS) != 0) {
    QueryJoints(*engine, program);
  }

  crc::CCutterCompensator* runner = engine.get();
  std::unique_ptr<crc::CCutterCompensator> copy;
  if ((header & RUN_ON_COPY) != 0) {
    copy = std::make_unique<crc::CCutterCompensator>(*engine);
    runner = copy.get();
  }
  std::vector<std::unique_ptr<crc::CCrcNode>> again;
  if (twice) {
    for (const auto& node : program) {
      again.emplace_back(node->Clone());
    }
  }
  const double radiusBefore = runner->GetCrcRadius();
  cutcomp::HostRun run = cutcomp::RunProgram(*runner, std::move(program));
  if (twice) {
    run = cutcomp::RunProgram(*runner, std::move(again));
  }

  // A refusal of a well-formed program says why, but for the one the engine makes in silence:
  // no radius, no compensation.
  // A success of a plain program is a finite, continuous path.
  const double radiusInForce = runner->GetCrcRadius();
  const bool noRadius = radiusInForce == crc::INVALID_VALUE ||  // exact: the unset marker
                        std::fabs(radiusInForce) < crc::EPSILON;
  if (!run.ok) {
    if (std::getenv("CUTCOMP_FUZZ_VERBOSE") != nullptr) {
      std::fprintf(stderr, "refused: code %d at %lld: %s\n", run.failure.code,
                   static_cast<long long>(run.failure.id), run.failure.message.c_str());
    }
    Check(noRadius || !wellFormed || (run.failure.code != 0 && !run.failure.message.empty()),
          "a refusal without a message");
  } else if (plain && wellFormed) {
    CheckPath(run);
  }
  // Every way out of AdjustNode undoes the side swap of a negative radius.
  if (!SameBits(runner->GetCrcRadius(), radiusBefore)) {
    std::abort();
  }
  // The look-behind list never holds more clones than its capacity.
  if (runner->GetListCount() > runner->GetListSize()) {
    std::abort();
  }
  // Read back every result the host would read, and copy the engine with its list.
  double sink = 0.0;
  for (cutcomp::HostSegment& segment : run.segments) {
    crc::CCrcNode* node = segment.node.get();
    if (!node->IsValidNode()) {
      continue;
    }
    sink += node->GetStartPointMoved().x + node->GetEndPointMoved().y;
    if (const auto* arc = dynamic_cast<const crc::CCrcArc*>(node)) {
      sink += arc->GetRadiusMoved();
    }
  }
  crc::CCutterCompensator assigned;
  assigned = *runner;
  const crc::CCutterCompensator copied(assigned);
  if (copied.GetListCount() != runner->GetListCount()) {
    std::abort();
  }
  g_Sink = sink;
  return 0;
}
