// SPDX-License-Identifier: MIT
// From a compensation run's blocks to the segments the engine compensates. CAM systems post
// smooth curves as runs of short chords; compensated chord by chord, rounding makes their offsets
// cross and the interference check refuses paths the cutter could run. Runs of such chords are
// fitted by lines and arcs within a tolerance (tools/host/chord_fit.h) and the engine compensates
// those; every other move goes to the engine as programmed.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include <crc/crc.h>

#include "block.h"
#include "chord_fit.h"
#include "node_pool.h"

namespace cutcomp::cli {

// The fitting tolerance when none is given. CAM systems post finishing paths with a chord
// tolerance of a few micrometres to a hundredth of a millimetre; 0.005 mm stays within that,
// below what the machines these programs run on hold, and five units of the last written
// decimal, so that rounding noise of 3-decimal output is absorbed. On the generated CAM programs
// (bench/cam) it completes as many as 0.01 mm does, and more than 0.002 mm. 0.0002 in is the
// same length, rounded to the inch program's fourth decimal.
inline constexpr double DEFAULT_FIT_TOLERANCE_MM = 0.005;
inline constexpr double DEFAULT_FIT_TOLERANCE_INCH = 0.0002;

// The fitter's settings for a run in `units`: the tolerance given (in those units) or the
// default, and chords shorter than FIT_MAX_CHORD_MM in those units.
FitOptions RunFitOptions(Units units, std::optional<double> tolerance);

// One compensation run's plane moves as the engine is to see them. A block joins a run of
// chords when it is a straight G1 move in progress with nothing but its plane coordinates, a
// line number, comments, and the feed already in force (a repeated F); runs end at any other
// move, and at any block between them with other words (a Z move, a feed or mode change, an M
// code). The start-up and cancel moves are never fitted. What the fitter holds is bounded by
// FIT_MAX_RUN chords (twice that with its hold-back), whatever the program's length.
class FitStage {
public:
  // `fit` none: no fitting, every move goes to the engine as programmed. The engine's segments
  // are made in `pool`'s storage.
  FitStage(std::optional<FitOptions> fit, bool locateRapids, NodePool& pool);

  // A block of the run without a plane motion of its own.
  void Plain(const Block& block);
  // A block with a plane motion, queued in the run under `id`.
  void Move(const Block& block, std::int64_t id);
  // The run ends: what is held is fitted and made ready.
  void Flush();
  // The next segment for the engine and the ids of the first and last block it stands for;
  // false when none is ready.
  bool Next(std::unique_ptr<crc::CCrcNode>& node, std::int64_t& first, std::int64_t& last);

private:
  struct Ready {
    std::unique_ptr<crc::CCrcNode> node;
    std::int64_t first;
    std::int64_t last;
  };
  void TakePieces();

  std::optional<ChordFitter> m_Fitter;
  double m_MaxChord = 0.0;
  bool m_LocateRapids;
  NodePool& m_Pool;
  std::vector<FitPiece> m_Pieces;
  std::deque<Ready> m_Ready;
  // The feed of the last chord, which every chord of one piece shares:
  // the piece is written as one move in the first chord's block. The side, the radius, the
  // units and the plane change only in blocks with other words, which end a run.
  std::optional<double> m_HeldFeed;
  crc::crc_dir_t m_Side = crc::CRC_DIR_NONE;
};

}  // namespace cutcomp::cli
