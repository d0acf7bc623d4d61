// SPDX-License-Identifier: MIT
// The gouge-free path of a run: the engine's path when it is clean, otherwise the raw path cut
// down to what keeps its distance from the walls (see gouge_free.h). The raw path is made in
// run_path.cpp, cut and joined in trim.cpp, and the material left measured in material.cpp.
#include <crc/avoid/gouge_free.h>

#include <cmath>
#include <new>
#include <string>
#include <utility>

#include "avoid/material.h"
#include "avoid/run_path.h"
#include "avoid/trim.h"

namespace crc {
namespace {

using avoid::NONE;

// Rounds of corners joined by arcs instead of the engine's lines before a place where the path
// cannot resume where it left is crossed by a straight line. Each round takes the corners next
// to every such place at once; two rounds settle every case the tests and surveys hold.
constexpr int ROUNDING_ROUNDS = 8;

// Pieces of the finished path shorter than this fraction of the coordinates' size are no moves.
constexpr double NO_MOVE = 1e-12;

std::string Id(const ContourSegment& s) { return std::to_string(s.id); }

}  // namespace

struct CGougeFreePath::Impl {
  GougeFreeSettings settings;
  std::string error;

  bool Fail(const std::string& why) {
    error = why;
    return false;
  }

  bool Run(const std::vector<ContourSegment>& contour, std::size_t first, std::size_t last,
           GougeFreeResult& result);
};

CGougeFreePath::CGougeFreePath(const GougeFreeSettings& settings)
    : m_Impl(std::make_unique<Impl>()) {
  m_Impl->settings = settings;
}
CGougeFreePath::~CGougeFreePath() = default;

const std::string& CGougeFreePath::GetLatestError() const { return m_Impl->error; }

bool CGougeFreePath::Compute(const std::vector<ContourSegment>& contour, std::size_t first,
                             std::size_t last, GougeFreeResult& result) {
  result = GougeFreeResult();
  try {
    if (m_Impl->Run(contour, first, last, result)) {
      return true;
    }
  } catch (const std::bad_alloc&) {
    m_Impl->error = "out of memory";
  }
  result.path.clear();
  result.left.clear();
  return false;
}

bool CGougeFreePath::Impl::Run(const std::vector<ContourSegment>& contour, std::size_t first,
                               std::size_t last, GougeFreeResult& result) {
  const double tolerance = settings.tolerance;
  if (!(tolerance > 0.0) || !std::isfinite(tolerance)) {
    return Fail("the tolerance must be a positive number");
  }
  if (first >= last || last > contour.size()) {
    return Fail("the run lies outside the contour");
  }
  const ContourSegment* run = contour.data() + first;
  const std::size_t count = last - first;
  // refuses: a run that is not start-up, segments in progress, cancel (or none), in that order
  if (run[0].phase != CRC_STATUS_ESTABLISH) {
    return Fail("block " + Id(run[0]) + ": a run begins with its start-up move");
  }
  double radius = 0.0;
  bool doing = false;
  for (std::size_t k = 0; k < count; ++k) {
    const crc_status_t phase = run[k].phase;
    const bool inOrder = (k == 0) == (phase == CRC_STATUS_ESTABLISH) &&
                         (phase == CRC_STATUS_DOING || phase == CRC_STATUS_ESTABLISH ||
                          (phase == CRC_STATUS_RETRACT && k + 1 == count && doing));
    if (!inOrder) {
      return Fail("block " + Id(run[k]) + ": out of order in the run (start-up, moves in " +
                  "progress, cancel)");
    }
    doing = doing || phase == CRC_STATUS_DOING;
    if (phase == CRC_STATUS_DOING && !run[k].locate &&
        !((run[k].curve.to - run[k].curve.from).GetLength() > 0.0 || run[k].curve.fullCircle)) {
      return Fail("block " + Id(run[k]) + ": a move in progress of no length in the plane");
    }
    // The engine reads that value as "no point": a path through it would lose a piece.
    const Curve& c = run[k].curve;
    const bool unset = IsUnsetValue(c.from.x) || IsUnsetValue(c.from.y) || IsUnsetValue(c.to.x) ||
                       IsUnsetValue(c.to.y) ||
                       (c.arc && (IsUnsetValue(c.centre.x) || IsUnsetValue(c.centre.y)));
    if (unset) {
      return Fail("block " + Id(run[k]) + ": a coordinate holds the engine's unset marker");
    }
    if (radius == 0.0 && run[k].radius > 0.0) {  // exact: the first radius given
      radius = run[k].radius;
    }
  }
  if (!doing) {
    return Fail("block " + Id(run[0]) + ": the run has no move in progress");
  }
  if (!(radius > 0.0) || !std::isfinite(radius)) {
    return Fail("block " + Id(run[0]) + ": the run has no cutter radius");
  }

  CGougeAudit audit(tolerance);
  audit.Reserve(contour.size());
  for (const ContourSegment& segment : contour) {
    if (!audit.AddSegment(segment)) {
      return Fail(audit.GetLatestError());
    }
  }
  if (!audit.SetWorkTop(settings.workTop)) {
    return Fail(audit.GetLatestError());
  }
  for (const __point2<double>& feed : settings.stockFeeds) {
    if (!audit.AddStockFeed(feed)) {
      return Fail(audit.GetLatestError());
    }
  }
  avoid::Trimmer trimmer(contour, first, count, radius, tolerance, audit);

  // 1. The engine's own path, returned as it is when it is clean.
  const avoid::RunOutcome engine = avoid::EnginePath(run, count, radius, settings);
  result.engineCode = engine.ok ? 0 : engine.code;
  if (engine.ok) {
    std::vector<Gouge> gouges;
    for (const avoid::RunPiece& piece : engine.pieces) {
      ToolPiece tool;
      tool.tool = piece.tool;
      tool.radius = radius;
      tool.id = run[piece.segment].id;
      tool.low = run[piece.segment].low;
      gouges.clear();
      if (!audit.AuditPiece(tool, nullptr, &gouges)) {
        return Fail(audit.GetLatestError());
      }
      result.engineGouges += gouges.size();
    }
    if (result.engineGouges == 0) {
      result.engineClean = true;
      for (const avoid::RunPiece& piece : engine.pieces) {
        result.path.push_back({piece.tool, run[piece.segment].id, run[piece.segment].phase,
                               PIECE_ENGINE, piece.inserted});
      }
      return true;
    }
  }

  // 2-4. The raw path, cut and joined; corners rounded where the path cannot resume.
  std::vector<bool> round(count, false);
  avoid::RunOutcome raw;
  std::vector<avoid::Part> parts;
  avoid::Chain chain;
  for (int pass = 0;; ++pass) {
    raw = avoid::RawPath(run, count, radius, settings, round);
    if (!raw.ok) {
      if (!raw.error.empty()) {
        return Fail(raw.error);
      }
      return Fail("block " + Id(run[raw.failed]) + ": the engine refuses it (message " +
                  std::to_string(raw.code) + ": " + GetErrorGloss(raw.code) + ")");
    }
    // An offset trimmed at both ends that runs backwards follows nothing of its wall, and the
    // trims at its ends cut away offsets of its neighbours that may bound the region the tool
    // may occupy: those corners are joined untrimmed (fixture:
    // avoid/step_shorter_than_its_corners).
    bool untrimmed = false;
    for (const avoid::RunPiece& piece : raw.pieces) {
      if (!piece.reversed) {
        continue;
      }
      for (const std::size_t joint :
           {piece.segment > 0 ? piece.segment - 1 : NONE, piece.segment}) {
        if (joint != NONE && joint + 1 < count && run[joint].phase == CRC_STATUS_DOING &&
            run[joint + 1].phase == CRC_STATUS_DOING && !round[joint]) {
          round[joint] = true;
          untrimmed = true;
        }
      }
    }
    if (untrimmed && pass < ROUNDING_ROUNDS) {
      continue;
    }
    if (!trimmer.Split(raw.pieces, parts, error)) {
      return false;
    }
    const bool lines = pass >= ROUNDING_ROUNDS;
    if (!trimmer.Join(raw.pieces, parts, lines, chain, error)) {
      return false;
    }
    if (chain.unresolved.empty() || lines) {
      break;
    }
    // Where the path left the region the tool may occupy on the circle about a corner, or next
    // to a corner the engine bridged with lines, that corner is joined by an arc about it: the
    // region's edge there (fixture: avoid/notch_narrower_than_cutter). The corners on whose
    // circles the places lie come first, then the corners beside the pieces.
    bool more = false;
    const auto take = [&](std::size_t joint) {
      if (joint != NONE && joint < count && !round[joint]) {
        round[joint] = true;
        more = true;
      }
    };
    for (const avoid::Unresolved& u : chain.unresolved) {
      take(parts[u.exitPart].cornerAtEnd);
      take(parts[u.nextPart].cornerAtStart);
    }
    if (!more) {
      for (const avoid::Unresolved& u : chain.unresolved) {
        for (const std::size_t p : {u.exitPart, u.nextPart}) {
          const avoid::RunPiece& piece = raw.pieces[parts[p].raw];
          if (piece.joint != NONE) {
            take(piece.joint);
          } else if (run[piece.segment].phase == CRC_STATUS_DOING) {
            take(piece.segment);
            if (piece.segment > 0 && run[piece.segment - 1].phase == CRC_STATUS_DOING) {
              take(piece.segment - 1);
            }
          }
        }
      }
    }
    if (!more) {
      pass = ROUNDING_ROUNDS - 1;  // nothing left to round: cross the places by lines
    }
  }

  // 5. The finished path, audited once more, and what it leaves.
  std::vector<MaterialLeft> left = avoid::MeasureLeft(trimmer, raw.pieces, parts, chain);
  std::vector<std::size_t> index(chain.kept.size(), NONE);
  for (std::size_t i = 0; i < chain.kept.size(); ++i) {
    const avoid::Kept& kept = chain.kept[i];
    // A line over a gap belongs to the segment of the piece it leads to.
    std::size_t segment = NONE;
    for (std::size_t j = i; j < chain.kept.size() && segment == NONE; ++j) {
      segment = chain.kept[j].raw != NONE ? raw.pieces[chain.kept[j].raw].segment : NONE;
    }
    if (segment == NONE) {
      segment = count - 1;
    }
    const double scale =
        std::fmax(1.0, std::fmax(std::fabs(kept.tool.from.x), std::fabs(kept.tool.from.y)));
    if ((kept.tool.to - kept.tool.from).GetLength() < NO_MOVE * scale && !kept.tool.fullCircle) {
      index[i] = result.path.size();  // no move: the next piece stands for it
      continue;
    }
    bool clear = false;
    if (!trimmer.Clear(kept.tool, segment, clear, error)) {
      return false;
    }
    if (!clear) {
      return Fail("block " + Id(run[segment]) +
                  ": the path comes too close to a wall after all (a fault of the extension)");
    }
    GougeFreePiece piece;
    piece.tool = kept.tool;
    piece.id = run[segment].id;
    piece.phase = run[segment].phase;
    if (kept.raw == NONE) {
      piece.kind = kept.tool.arc ? PIECE_CORNER : PIECE_LINE;
      piece.inserted = true;
    } else {
      const avoid::RunPiece& from = raw.pieces[kept.raw];
      piece.kind = from.kind != PIECE_ENGINE ? from.kind
                   : kept.whole              ? PIECE_ENGINE
                                             : PIECE_TRIMMED;
      piece.inserted = from.inserted;
    }
    index[i] = result.path.size();
    result.path.push_back(piece);
  }
  for (MaterialLeft& place : left) {
    // A piece of no move before the place: the piece before it.
    const bool moved = place.before < chain.kept.size() &&
                       index[place.before] < result.path.size() &&
                       result.path[index[place.before]].tool.to == chain.kept[place.before].tool.to;
    place.before =
        moved || index[place.before] == 0 ? index[place.before] : index[place.before] - 1;
    place.after = index[place.after];
  }
  result.left = std::move(left);
  return true;
}

}  // namespace crc
