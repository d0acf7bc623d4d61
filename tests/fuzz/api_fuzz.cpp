// SPDX-License-Identifier: MIT
// Fuzz target: the one-call API and the C interface. Decodes bytes into options and a path (runs
// of lines and arcs, chords short enough to be fitted, moves outside compensation, and values no
// path should hold) and checks that both interfaces give the same answer, that every segment is
// accounted for exactly once, that a compensator taking the path twice gives it twice the same,
// and that the audit of the result runs.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include <crc/crc_c.h>
#include <crc/path.h>

namespace {

using Point = crc::__point2<double>;

// Reads the input front to back; past the end every byte reads as 0.
class Reader {
public:
  Reader(const std::uint8_t* data, std::size_t size) : m_Data(data), m_Size(size) {}
  bool Exhausted() const { return m_Pos >= m_Size; }
  std::uint8_t Byte() { return m_Pos < m_Size ? m_Data[m_Pos++] : 0; }
  int Signed() { return static_cast<std::int8_t>(Byte()); }
  // An enum value around its table, one below and two above it included.
  int EnumValue(int span) { return static_cast<int>(Byte() % (span + 3)) - 1; }

  // Mostly a quarter-unit grid (segments join, corners repeat), sometimes a value off the grid
  // by a few 1e-7, or one no path should hold.
  double Value() {
    const std::uint8_t selector = Byte();
    if (selector < 176) {
      return Signed() / 4.0;
    }
    if (selector < 224) {
      return Signed() / 4.0 + Signed() * 1e-7;
    }
    static const double SPECIAL[] = {std::numeric_limits<double>::quiet_NaN(),
                                     std::numeric_limits<double>::infinity(),
                                     1e300,
                                     -1e101,
                                     1e99,
                                     0.0,
                                     5e-7,
                                     crc::INVALID_VALUE};
    return SPECIAL[Byte() % (sizeof(SPECIAL) / sizeof(SPECIAL[0]))];
  }
  Point PointValue() {
    const double x = Value();
    return Point(x, Value());
  }

private:
  const std::uint8_t* m_Data;
  std::size_t m_Size;
  std::size_t m_Pos = 0;
};

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "api fuzz: invariant broken: %s\n", what);
    std::abort();
  }
}

bool Same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
bool Same(const cutcomp_point& a, const Point& b) { return Same(a.x, b.x) && Same(a.y, b.y); }
bool Same(const cutcomp_curve& a, const cutcomp::Curve& b) {
  return (a.arc != 0) == b.arc && Same(a.from, b.from) && Same(a.to, b.to) &&
         (!b.arc || (Same(a.centre, b.centre) && Same(a.radius, b.radius) &&
                     (a.ccw != 0) == b.ccw && (a.full_circle != 0) == b.fullCircle));
}
bool Same(const cutcomp::PathPiece& a, const cutcomp::PathPiece& b) {
  const auto curve = [](const cutcomp::Curve& x, const cutcomp::Curve& y) {
    return x.arc == y.arc && Same(x.from.x, y.from.x) && Same(x.from.y, y.from.y) &&
           Same(x.to.x, y.to.x) && Same(x.to.y, y.to.y) && Same(x.centre.x, y.centre.x) &&
           Same(x.centre.y, y.centre.y) && Same(x.radius, y.radius) && x.ccw == y.ccw &&
           x.fullCircle == y.fullCircle;
  };
  return curve(a.tool, b.tool) && curve(a.programmed, b.programmed) && a.id == b.id &&
         a.lastId == b.lastId && a.phase == b.phase && a.side == b.side &&
         a.inserted == b.inserted && a.dropped == b.dropped && a.locate == b.locate;
}

// Header flags.
constexpr std::uint8_t NO_FIT = 1U << 0;
constexpr std::uint8_t EVADE = 1U << 1;
constexpr std::uint8_t STRICT = 1U << 2;
constexpr std::uint8_t AUTO_PHASES = 1U << 3;  // start-up, in progress..., cancel
constexpr std::uint8_t ONE_SIDE = 1U << 4;
constexpr std::uint8_t INCH = 1U << 5;
constexpr std::uint8_t FIT_TOLERANCE = 1U << 6;
constexpr std::uint8_t ARC_TOLERANCE = 1U << 7;

// Segment flags.
constexpr std::uint8_t IS_ARC = 1U << 0;
constexpr std::uint8_t CHAINED = 1U << 1;  // starts where the previous one ended
constexpr std::uint8_t LOCATE = 1U << 2;
constexpr std::uint8_t CCW = 1U << 3;
constexpr std::uint8_t SHORT = 1U << 4;          // a line or arc end within 0.5 of its start
constexpr std::uint8_t END_ON_CIRCLE = 1U << 5;  // arc end at a byte-chosen polar angle
constexpr std::uint8_t FULL = 1U << 6;           // arc: a whole turn
constexpr std::uint8_t OUTSIDE = 1U << 7;        // phase none: a move outside compensation

constexpr int MAX_SEGMENTS = 48;

crc::PathSegment ReadSegment(Reader& in, std::uint8_t header, int index, int count,
                             const Point& previousEnd) {
  const std::uint8_t flags = in.Byte();
  crc::PathSegment s;
  s.id = index;
  s.curve.arc = (flags & IS_ARC) != 0;
  s.curve.from = (flags & CHAINED) != 0 ? previousEnd : in.PointValue();
  if ((flags & OUTSIDE) != 0) {
    s.phase = crc::CRC_STATUS_NONE;
  } else if ((header & AUTO_PHASES) != 0) {
    s.phase = index == 0           ? crc::CRC_STATUS_ESTABLISH
              : index == count - 1 ? crc::CRC_STATUS_RETRACT
                                   : crc::CRC_STATUS_DOING;
  } else {
    s.phase = static_cast<crc::crc_status_t>(in.EnumValue(4));
  }
  s.side =
      (header & ONE_SIDE) != 0 ? crc::CRC_DIR_LEFT : static_cast<crc::crc_dir_t>(in.EnumValue(2));
  s.locate = (flags & LOCATE) != 0;
  s.curve.ccw = (flags & CCW) != 0;
  if (s.curve.arc) {
    s.curve.centre = in.PointValue();
  }
  if (s.curve.arc && (flags & FULL) != 0) {
    s.curve.fullCircle = true;
    s.curve.to = s.curve.from;
  } else if (s.curve.arc && (flags & END_ON_CIRCLE) != 0) {
    const double reach = (s.curve.from - s.curve.centre).GetLength();
    const double angle = in.Byte() * (2.0 * crc::PI / 256.0);
    s.curve.to = Point(s.curve.centre.x + reach * std::cos(angle),
                       s.curve.centre.y + reach * std::sin(angle));
  } else if ((flags & SHORT) != 0) {
    s.curve.to = s.curve.from + Point(in.Signed() / 512.0, in.Signed() / 512.0);
  } else {
    s.curve.to = in.PointValue();
  }
  return s;
}

// Every segment stands once for a piece that is not an inserted line, in order: the pieces'
// spans of segments follow one another from the first segment, up to `end` (exclusive).
void CheckCoverage(const std::vector<cutcomp::PathPiece>& path, std::int64_t end) {
  std::int64_t next = 0;
  for (const cutcomp::PathPiece& piece : path) {
    if (piece.inserted) {
      Check(piece.id >= 0 && piece.id < next + 1, "an inserted line of a segment not yet seen");
      continue;
    }
    Check(piece.id == next && piece.lastId >= piece.id, "segments skipped or repeated");
    next = piece.lastId + 1;
  }
  Check(next <= end, "pieces of segments past the end or the failure");
}

// The same path through the C interface: the same answer, piece by piece.
void CheckCInterface(const crc::Path& path, const crc::CompensateOptions& options,
                     const crc::CompensateResult& result) {
  cutcomp_path* cpath = cutcomp_path_new();
  cutcomp_options* coptions = cutcomp_options_new(options.radius);
  Check(cpath != nullptr && coptions != nullptr, "out of memory");
  for (const crc::PathSegment& s : path) {
    const cutcomp_segment segment{{s.curve.arc ? 1 : 0,
                                   {s.curve.from.x, s.curve.from.y},
                                   {s.curve.to.x, s.curve.to.y},
                                   {s.curve.centre.x, s.curve.centre.y},
                                   0.0,
                                   s.curve.ccw ? 1 : 0,
                                   s.curve.fullCircle ? 1 : 0},
                                  s.phase,
                                  s.side,
                                  s.id,
                                  s.locate ? 1 : 0};
    Check(cutcomp_path_add_segment(cpath, &segment) == CUTCOMP_OK, "a segment not taken");
  }
  cutcomp_options_set_start(coptions, options.start);
  cutcomp_options_set_look_behind(coptions, options.lookBehind);
  cutcomp_options_set_evade(coptions, options.evade ? 1 : 0);
  cutcomp_options_set_cam_tolerance(coptions, options.camTolerance ? 1 : 0);
  cutcomp_options_set_end(coptions, options.end);
  cutcomp_options_set_units(coptions, options.units);
  cutcomp_options_set_fit(coptions, options.fit ? 1 : 0, options.fitTolerance.value_or(0.0));
  cutcomp_options_set_arc_tolerance(coptions, options.arcTolerance.value_or(-1.0));
  cutcomp_result* cresult = nullptr;
  const int status = cutcomp_compensate(cpath, coptions, &cresult);
  Check(cresult != nullptr, "no result");
  const int expected = result.ok              ? CUTCOMP_OK
                       : result.failure.input ? CUTCOMP_INVALID_INPUT
                                              : CUTCOMP_REFUSED;
  Check(status == expected, "the C interface's status differs");
  Check(cutcomp_result_size(cresult) == result.path.size(), "the C interface's path differs");
  for (std::size_t i = 0; i < result.path.size(); ++i) {
    cutcomp_piece piece;
    Check(cutcomp_result_piece(cresult, i, &piece) == CUTCOMP_OK, "a piece not read");
    const cutcomp::PathPiece& p = result.path[i];
    Check(Same(piece.tool, p.tool) && Same(piece.programmed, p.programmed) && piece.id == p.id &&
              piece.last_id == p.lastId && (piece.inserted != 0) == p.inserted &&
              (piece.dropped != 0) == p.dropped,
          "a piece of the C interface differs");
  }
  cutcomp_failure failure;
  Check(cutcomp_result_failure(cresult, &failure) == CUTCOMP_OK, "no failure read");
  Check(result.ok ||
            (failure.index == result.failure.index && failure.code == result.failure.code &&
             std::strcmp(cutcomp_result_message(cresult), result.failure.gloss.c_str()) == 0),
        "the C interface's failure differs");
  cutcomp_result_free(cresult);
  cutcomp_options_free(coptions);
  cutcomp_path_free(cpath);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const std::uint8_t header = in.Byte();
  crc::CompensateOptions options(in.Value());
  options.start = static_cast<crc::crc_t>(in.EnumValue(3));
  options.end = static_cast<crc::crc_end_t>(in.EnumValue(3));
  options.lookBehind = in.Byte() % 6U;
  options.evade = (header & EVADE) != 0;
  options.camTolerance = (header & STRICT) == 0;
  options.fit = (header & NO_FIT) == 0;
  options.units = (header & INCH) != 0 ? crc::CRC_UNIT_INCH : crc::CRC_UNIT_MM;
  // Tolerances as the C interface can say them too: a fitting tolerance of 0 and a negative arc
  // tolerance ask it for the default. Negative fitting tolerances and NaN are refused.
  if ((header & FIT_TOLERANCE) != 0) {
    if (const int t = in.Signed(); t != 0) {
      options.fitTolerance = t / 1024.0;
    }
  }
  if ((header & ARC_TOLERANCE) != 0) {
    const int t = in.Signed();
    if (t >= 0 || t == -128) {
      options.arcTolerance = t >= 0 ? t / 256.0 : std::numeric_limits<double>::quiet_NaN();
    }
  }
  const int count = in.Byte() % (MAX_SEGMENTS + 1);
  crc::Path path;
  Point previousEnd(0.0, 0.0);
  for (int i = 0; i < count && !in.Exhausted(); ++i) {
    path.push_back(ReadSegment(in, header, i, count, previousEnd));
    previousEnd = path.back().curve.to;
  }

  const crc::CompensateResult result = crc::Compensate(path, options);
  CheckCoverage(result.path, result.ok ? static_cast<std::int64_t>(path.size())
                                       : std::max<std::int64_t>(result.failure.index + 1, 0));
  Check(result.ok || !result.failure.gloss.empty(), "a failure without a reason");
  CheckCInterface(path, options, result);

  // A compensator that has finished a path starts the next one afresh.
  crc::CPathCompensator twice(options);
  for (int round = 0; round < 2; ++round) {
    std::vector<cutcomp::PathPiece> out;
    bool ok = true;
    for (const crc::PathSegment& segment : path) {
      if (!(ok = twice.Add(segment, out))) {
        break;
      }
    }
    ok = ok && twice.Finish(out);
    Check(ok == result.ok && out.size() == result.path.size(), "a second path differs");
    for (std::size_t i = 0; i < out.size(); ++i) {
      Check(Same(out[i], result.path[i]), "a piece of a second path differs");
    }
    if (!ok) {
      break;
    }
  }

  const crc::AuditResult audit = crc::Audit(path, result.path, options.radius, 0.005);
  Check(audit.ok || !audit.error.empty(), "an audit refused without a reason");
  return 0;
}
