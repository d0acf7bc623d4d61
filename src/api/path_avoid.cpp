// SPDX-License-Identifier: MIT
// Compensation with gouge-free paths: every run compensated exactly as Compensate does it, the
// paths audited against the whole path in one pass, and each run the engine refused or whose
// path the audit holds back given the gouge-free path of its programmed segments instead. What
// a gouge is and what the path becomes is the audit's and the extension's; this file decides
// which runs need it and numbers what comes back by the caller's path.
#include "path_avoid.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace crc {
namespace {

using cutcomp::PathPiece;
using Point = __point2<double>;

// Segments [first, end): a run in compensation, or a move outside it.
struct Span {
  std::size_t first;
  std::size_t end;
  bool compensated;
};

// The runs as Compensate finds them: one begins at a start-up segment or the first compensated
// segment after a move outside compensation, and ends after its cancel segment, before a move
// outside compensation or the next start-up segment.
std::vector<Span> Spans(const Path& path) {
  std::vector<Span> spans;
  std::size_t i = 0;
  while (i < path.size()) {
    if (path[i].phase == CRC_STATUS_NONE) {
      spans.push_back({i, i + 1, false});
      ++i;
      continue;
    }
    std::size_t j = i;
    do {
      ++j;
    } while (j < path.size() && path[j - 1].phase != CRC_STATUS_RETRACT &&
             path[j].phase != CRC_STATUS_NONE && path[j].phase != CRC_STATUS_ESTABLISH);
    spans.push_back({i, j, true});
    i = j;
  }
  return spans;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

cutcomp::Curve WithRadius(const Curve& curve) {
  cutcomp::Curve c;
  static_cast<Curve&>(c) = curve;
  if (c.arc) {
    c.radius = (c.from - c.centre).GetLength();
  }
  return c;
}

// A piece of a gouge-free path in the tool-path model: its own segment's programmed geometry,
// or for a piece at a corner the piece itself, as for the lines the engine inserts.
PathPiece PieceOf(const GougeFreePiece& made, const PathSegment& own) {
  PathPiece piece;
  piece.tool = WithRadius(made.tool);
  piece.programmed = WithRadius(made.inserted ? made.tool : own.curve);
  piece.id = made.id;
  piece.lastId = made.id;
  piece.phase = made.phase;
  piece.side = own.side;
  piece.inserted = made.inserted;
  piece.locate = !made.inserted && own.locate;
  return piece;
}

CompensateResult Refuse(CompensateResult result, std::int64_t index, std::int64_t id,
                        const std::string& gloss) {
  result.ok = false;
  result.failure = PathFailure();
  result.failure.input = true;
  result.failure.index = index;
  result.failure.id = id;
  result.failure.gloss = gloss;
  return result;
}

}  // namespace

CompensateResult CompensateAvoiding(const Path& path, const CompensateOptions& options) {
  CompensateOptions plain = options;
  plain.avoid = false;
  const bool inch = options.units == CRC_UNIT_INCH;
  const double tolerance =
      options.avoidTolerance.value_or(inch ? AUDIT_TOLERANCE_INCH : AUDIT_TOLERANCE_MM);
  if (!(tolerance > 0.0 && std::isfinite(tolerance))) {
    return Refuse({}, -1, -1,
                  "the avoid tolerance must be a positive number, not " + Number(tolerance));
  }
  if (!(std::fabs(options.radius) >= EPSILON && std::isfinite(options.radius))) {
    return Compensate(path, plain);  // refused there, or passed through: nothing to avoid
  }
  for (std::size_t i = 1; i < path.size(); ++i) {
    if (!(path[i].id > path[i - 1].id)) {
      return Refuse({}, static_cast<std::int64_t>(i), path[i].id,
                    "the gouge-free path needs ids that increase along the path");
    }
  }

  // Every run as Compensate makes it; a refused run leaves no pieces. An input the engine never
  // saw stops the path there, as it does Compensate.
  struct Done {
    Span span;
    std::size_t firstPiece;
    std::size_t endPiece;
    bool refused;
    PathFailure failure;
    std::size_t gouges;
  };
  std::vector<Done> done;
  std::vector<PathPiece> engine;
  engine.reserve(path.size());
  std::optional<PathFailure> stop;
  for (const Span& span : Spans(path)) {
    const Path part(path.begin() + static_cast<std::ptrdiff_t>(span.first),
                    path.begin() + static_cast<std::ptrdiff_t>(span.end));
    CompensateResult run = Compensate(part, plain);
    Done d{span, engine.size(), 0, false, {}, 0};
    if (!run.ok) {
      if (run.failure.index >= 0) {
        run.failure.index += static_cast<std::int64_t>(span.first);
      }
      if (run.failure.input) {
        stop = run.failure;
        break;
      }
      d.refused = true;
      d.failure = run.failure;
    } else {
      engine.insert(engine.end(), run.path.begin(), run.path.end());
    }
    d.endPiece = engine.size();
    done.push_back(d);
  }

  // One audit of every completed run against the whole path. A fitted path stands within the
  // fitting tolerance of the chords it replaces, which the audit is given on top.
  const double fitting =
      options.fit ? options.fitTolerance.value_or(inch ? FIT_TOLERANCE_INCH : FIT_TOLERANCE_MM)
                  : 0.0;
  const AuditResult audit = Audit(path, engine, options.radius, tolerance + fitting);
  if (!audit.ok) {
    return Refuse({}, -1, -1, audit.error);
  }
  for (const Gouge& gouge : audit.gouges) {
    const auto at =
        std::upper_bound(done.begin(), done.end(), gouge.piece,
                         [](std::size_t piece, const Done& d) { return piece < d.firstPiece; });
    if (at != done.begin()) {
      ++std::prev(at)->gouges;
    }
  }

  // The walls as the extension measures them: the whole path, sides as the tool runs.
  std::vector<ContourSegment> contour(path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    const PathSegment& s = path[i];
    ContourSegment& wall = contour[i];
    wall.curve = s.curve;
    wall.id = s.id;
    wall.phase = s.phase;
    wall.locate = s.locate;
    wall.side = options.radius > 0.0      ? s.side
                : s.side == CRC_DIR_LEFT  ? CRC_DIR_RIGHT
                : s.side == CRC_DIR_RIGHT ? CRC_DIR_LEFT
                                          : CRC_DIR_NONE;
    wall.radius = std::fabs(options.radius);
  }
  GougeFreeSettings settings;
  settings.tolerance = tolerance;
  settings.strategy = options.start;
  settings.lookBehind = options.lookBehind;
  settings.evade = options.evade;
  settings.camTolerance = options.camTolerance;
  settings.preRetractOption = static_cast<int>(options.end);
  CGougeFreePath avoid(settings);

  CompensateResult result;
  result.path.reserve(engine.size());
  const auto keep = [&](const Done& d) {
    result.path.insert(result.path.end(),
                       engine.begin() + static_cast<std::ptrdiff_t>(d.firstPiece),
                       engine.begin() + static_cast<std::ptrdiff_t>(d.endPiece));
  };
  for (const Done& d : done) {
    if (!d.span.compensated || (!d.refused && d.gouges == 0)) {
      keep(d);
      continue;
    }
    AvoidedRun run;
    run.firstId = path[d.span.first].id;
    run.lastId = path[d.span.end - 1].id;
    run.engineCode = d.refused ? d.failure.code : 0;
    run.engineGouges = d.gouges;
    run.firstPiece = result.path.size();
    GougeFreeResult made;
    if (avoid.Compute(contour, d.span.first, d.span.end, made)) {
      run.written = true;
      for (const GougeFreePiece& piece : made.path) {
        // ids increase: the segment a piece carries the id of is found by it
        const auto own =
            std::lower_bound(path.begin() + static_cast<std::ptrdiff_t>(d.span.first),
                             path.begin() + static_cast<std::ptrdiff_t>(d.span.end), piece.id,
                             [](const PathSegment& s, std::int64_t id) { return s.id < id; });
        result.path.push_back(PieceOf(piece, *own));
      }
      for (MaterialLeft place : made.left) {
        place.before += run.firstPiece;
        place.after += run.firstPiece;
        result.left.push_back(place);
      }
    } else {
      run.error = avoid.GetLatestError();
      if (d.refused) {
        result.avoided.push_back(run);
        result.ok = false;
        result.failure = d.failure;
        result.failure.gloss += "; no gouge-free path: " + run.error;
        return result;
      }
      keep(d);
    }
    run.endPiece = result.path.size();
    result.avoided.push_back(run);
  }
  result.ok = !stop;
  if (stop) {
    result.failure = *stop;
  }
  return result;
}

}  // namespace crc
