// SPDX-License-Identifier: MIT
// The gouge audit's stage of a run: every compensated piece and every programmed segment go to
// the gouge check as the run streams (under ids that name their blocks), and at the end the whole
// tool path is measured against the whole contour: one warning per block that gouges, a summary,
// and the records the reports show.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <crc/crc.h>

#include "block.h"
#include "gouge_check.h"
#include "messages.h"
#include "options.h"
#include "reading.h"
#include "result.h"
#include "tool_path.h"

namespace cutcomp::cli {

// The lowest point of a block's move along the plane's normal; not a number when unknown.
double LowOf(const Block& block);
// Whether a block turns: X is a diameter (G7, the Fanuc-family lathe's conventions) or the tool
// is touched off at a nose's imaginary tip.
bool Turning(const Block& block);

class AuditStage {
public:
  AuditStage(const Options& options, Messages& messages, const Reading& reading)
      : m_Options(options),
        m_Messages(messages),
        m_Reading(reading),
        m_Check(options.gougeTolerance) {}

  // A compensation run begins in `frame` (the work frame's generation).
  void BeginRun(const Block& first, std::uint64_t frame) {
    m_Check.BeginRun(first.modal.plane, first.modal.units, frame, Turning(first));
  }
  // A piece of the written path, for the block with run id `id` (only compensated pieces are
  // measured).
  void Piece(const Block& block, const cutcomp::PathPiece& piece);
  // A programmed segment of the run, a wall the path is measured against.
  void Segment(const Block& block, const crc::CCrcNode& node, std::int64_t id);
  // The run is over after `blocks` run ids.
  void EndRun(std::int64_t blocks) { m_IdBase += blocks; }

  // Measures the whole path; says every gouge (as many as warnings go) and a summary; fills
  // the result's gouges (and the stretches that are no walls, with `open`). GOUGE when the
  // path gouges or could not be measured.
  Status Run(std::optional<double> plungeTop, bool open, Result& result);

private:
  std::int64_t AuditId(std::int64_t id, const Block& block);

  const Options& m_Options;
  Messages& m_Messages;
  const Reading& m_Reading;
  // Its ids are the blocks' ids made unique over the program (m_IdBase: the blocks of the runs
  // before) in the high half, the source line in the low half; m_Places holds, from each id on,
  // the file and calls of the blocks.
  GougeCheck m_Check;
  std::int64_t m_IdBase = 0;
  struct PlaceFrom {
    std::int64_t id = 0;
    SourceLocation where;  // the file; the line comes from the id
    std::vector<SourceLocation> callers;
  };
  std::vector<PlaceFrom> m_Places;
};

}  // namespace cutcomp::cli
