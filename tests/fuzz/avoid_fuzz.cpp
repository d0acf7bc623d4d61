// SPDX-License-Identifier: MIT
// Fuzz target: decodes bytes into one compensation run (a start-up line, a chain of lines and
// arcs, a cancel line or none) and its settings, and asks for its gouge-free path. Whatever the
// input, Compute returns; when it writes a path, the path is finite, continuous, runs from the
// run's first point to its last, and every piece of it passes a fresh gouge audit of the run.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include <crc/crc.h>

namespace {

using Point = crc::__point2<double>;

// Reads the input front to back; past the end every byte reads as 0.
class Reader {
public:
  Reader(const std::uint8_t* data, std::size_t size) : m_Data(data), m_Size(size) {}
  bool Exhausted() const { return m_Pos >= m_Size; }
  std::uint8_t Byte() { return m_Pos < m_Size ? m_Data[m_Pos++] : 0; }
  int Signed() { return static_cast<std::int8_t>(Byte()); }
  // Mostly a quarter-unit grid (corners repeat, walls meet), at times a special value.
  double Value() {
    const std::uint8_t selector = Byte();
    if (selector < 220) {
      return Signed() / 4.0;
    }
    static const double SPECIAL[] = {std::numeric_limits<double>::quiet_NaN(),
                                     std::numeric_limits<double>::infinity(),
                                     1e300,
                                     -1e-300,
                                     crc::INVALID_VALUE,
                                     1e-7,
                                     0.0,
                                     1e101};
    return SPECIAL[Byte() % (sizeof(SPECIAL) / sizeof(SPECIAL[0]))];
  }

private:
  const std::uint8_t* m_Data;
  std::size_t m_Size;
  std::size_t m_Pos = 0;
};

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "avoid fuzz: invariant broken: %s\n", what);
    std::abort();
  }
}

bool Finite(const Point& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size);
  crc::GougeFreeSettings settings;
  settings.tolerance = 0.005 * (1 + in.Byte() % 8);
  settings.strategy = static_cast<crc::crc_t>(in.Byte() % 3);
  settings.evade = (in.Byte() & 1U) != 0;
  settings.lookBehind = in.Byte() % 4;
  settings.preRetractOption = in.Byte() % 3;
  const double radius = 0.25 * (1 + in.Byte() % 16);
  const crc::crc_dir_t side = (in.Byte() & 1U) != 0 ? crc::CRC_DIR_LEFT : crc::CRC_DIR_RIGHT;
  const int count = 1 + in.Byte() % 24;
  const bool cancel = (in.Byte() & 1U) != 0;

  std::vector<crc::ContourSegment> run;
  // Two reads in one expression are sequenced in no particular order: x first, then y.
  const auto point = [&in]() {
    const double x = in.Value();
    return Point(x, in.Value());
  };
  Point at = point();
  const auto add = [&](crc::crc_status_t phase, const Point& to, int bulge) {
    crc::ContourSegment s;
    s.curve.from = at;
    s.curve.to = to;
    if (bulge != 0 && phase == crc::CRC_STATUS_DOING) {
      // An arc over the chord whose middle stands `bulge` eighths of the chord off it.
      const Point mid = (at + to) * 0.5;
      const Point d = to - at;
      const double sagitta = 0.125 * bulge * d.GetLength();
      const Point n(-d.y, d.x);
      const double half = 0.5 * d.GetLength();
      if (half > 0.0 && sagitta != 0.0) {  // exact: a straight chord stays a line
        // The centre lies on the bisector, (half^2 - sagitta^2) / (2 sagitta) from the middle.
        const double off = (half * half - sagitta * sagitta) / (2.0 * sagitta);
        s.curve.arc = true;
        s.curve.centre = mid - n * (off / d.GetLength());
        s.curve.ccw = sagitta < 0.0;
      }
    }
    s.id = static_cast<std::int64_t>(run.size());
    s.phase = phase;
    s.side = side;
    s.radius = radius;
    s.locate = phase == crc::CRC_STATUS_DOING && in.Byte() == 255;
    run.push_back(s);
    at = to;
  };
  add(crc::CRC_STATUS_ESTABLISH, point(), 0);
  for (int k = 0; k < count && !in.Exhausted(); ++k) {
    const Point to = point();
    add(crc::CRC_STATUS_DOING, to, in.Signed() % 8);
  }
  if (cancel) {
    add(crc::CRC_STATUS_RETRACT, point(), 0);
  }

  crc::CGougeFreePath avoid(settings);
  crc::GougeFreeResult result;
  const bool ok = avoid.Compute(run, 0, run.size(), result);
  if (std::getenv("CUTCOMP_FUZZ_VERBOSE") != nullptr) {
    std::fprintf(stderr, "%s\n",
                 ok ? (result.engineClean ? "clean" : "written") : avoid.GetLatestError().c_str());
    for (const crc::ContourSegment& s : run) {
      std::fprintf(stderr, "  segment %lld phase %d %s (%.17g, %.17g) -> (%.17g, %.17g)",
                   static_cast<long long>(s.id), s.phase, s.curve.arc ? "arc" : "line",
                   s.curve.from.x, s.curve.from.y, s.curve.to.x, s.curve.to.y);
      if (s.curve.arc) {
        std::fprintf(stderr, " centre (%.17g, %.17g) %s", s.curve.centre.x, s.curve.centre.y,
                     s.curve.ccw ? "ccw" : "cw");
      }
      std::fprintf(stderr, "%s\n", s.locate ? " locate" : "");
    }
    for (const crc::GougeFreePiece& piece : result.path) {
      std::fprintf(stderr, "  piece %lld kind %d %s (%.17g, %.17g) -> (%.17g, %.17g)\n",
                   static_cast<long long>(piece.id), piece.kind, piece.tool.arc ? "arc" : "line",
                   piece.tool.from.x, piece.tool.from.y, piece.tool.to.x, piece.tool.to.y);
    }
  }
  if (!ok) {
    Check(!avoid.GetLatestError().empty(), "a refusal without a reason");
    Check(result.path.empty(), "a refusal with a path");
    return 0;
  }
  Check(!result.path.empty(), "a written path of no pieces");
  double scale = 1.0;
  for (const crc::GougeFreePiece& piece : result.path) {
    Check(Finite(piece.tool.from) && Finite(piece.tool.to), "a piece that is not finite");
    scale = std::max({scale, std::fabs(piece.tool.to.x), std::fabs(piece.tool.to.y)});
  }
  const double gap = 1e-9 * scale;
  Check((result.path.front().tool.from - run.front().curve.from).GetLength() <= gap,
        "the path does not start where the run does");
  if (cancel) {
    Check((result.path.back().tool.to - run.back().curve.to).GetLength() <= gap,
          "the path does not end where the run does");
  }
  for (std::size_t i = 0; i + 1 < result.path.size(); ++i) {
    Check((result.path[i].tool.to - result.path[i + 1].tool.from).GetLength() <= gap,
          "the path breaks");
  }
  for (const crc::MaterialLeft& place : result.left) {
    Check(place.before < place.after && place.after < result.path.size(),
          "a place of material left outside the path");
    Check(place.depth > settings.tolerance && place.firstId <= place.lastId,
          "a place of material left that leaves none");
  }
  // The written path passes the audit it was made by, measured afresh.
  crc::CGougeAudit audit(settings.tolerance);
  for (const crc::ContourSegment& s : run) {
    Check(audit.AddSegment(s), "a run the extension accepted that the audit refuses");
  }
  std::vector<crc::Gouge> gouges;
  for (const crc::GougeFreePiece& piece : result.path) {
    crc::ToolPiece tool;
    tool.tool = piece.tool;
    tool.radius = radius;
    tool.id = piece.id;
    gouges.clear();
    Check(audit.AuditPiece(tool, nullptr, &gouges), "a written piece the audit cannot read");
    Check(gouges.empty(), "a written piece that gouges");
  }
  return 0;
}
