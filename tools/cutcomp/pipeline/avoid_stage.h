// SPDX-License-Identifier: MIT
// --avoid: the walls of the runs so far, and each run's pieces held until the run is judged.
// A run the engine completed keeps its own path unless it comes too close to a wall; a run the
// engine refused, or one that would gouge, is written along the gouge-free path instead, which
// leaves material where the cutter does not fit (said, and kept in the result).
#pragma once

#include <cstddef>
#include <cstdint>
#include <tuple>
#include <vector>

#include <crc/avoid/gouge_free.h>

#include "block.h"
#include "list_host.h"
#include "messages.h"
#include "node_pool.h"
#include "options.h"
#include "reading.h"
#include "result.h"
#include "run_order.h"
#include "run_source.h"
#include "tool_path.h"
#include "written_path.h"

namespace cutcomp::cli {

class AvoidStage {
public:
  AvoidStage(const Options& options, WrittenPath& path, Messages& messages, const Reading& reading,
             Result& result)
      : m_Options(options),
        m_Path(path),
        m_Messages(messages),
        m_Reading(reading),
        m_Result(result) {}

  // A run begins at `first`, in the work frame `frame` (WrittenMachine::Frame).
  void BeginRun(const Block& first, std::uint64_t frame);
  // The run's programmed segment with run id `id` joins the walls the gouge-free path keeps its
  // distance from.
  void NoteWall(const RunOrder& order, const crc::CCrcNode& node, std::int64_t id);
  // A final segment of the engine's, held until the run is judged.
  void Hold(const HostSegment& segment) { m_Held.push_back(cutcomp::ReadPiece(segment)); }
  // The run is over (`engineOk` false: the engine refused it): the rest of its walls are read
  // from `source`, and its pieces go to `order`, the engine's or the gouge-free path's. True when
  // the gouge-free path is written.
  bool EndRun(RunOrder& order, bool engineOk, RunSource& source, NodePool& nodes);

private:
  // The run is written with the gouge-free path when the engine refused it (`engineOk` false)
  // or its path comes too close to a wall; false when the engine's own path stands (or none can
  // be made: then a warning says why).
  bool Avoid(RunOrder& order, bool engineOk);
  // The engine's pieces of a completed run come closer than radius - tolerance to a wall of the
  // runs so far (measured as the gouge audit measures them).
  bool Gouges(const RunOrder& order, const crc::GougeFreeSettings& settings) const;
  void Warn(const Block& block, const std::string& message) {
    WarnAbout(m_Messages, m_Reading, block, message);
  }

  const Options& m_Options;
  WrittenPath& m_Path;
  Messages& m_Messages;
  const Reading& m_Reading;
  Result& m_Result;
  // The walls of the runs so far in the current plane, units and work frame, under ids made
  // unique over the program (m_RunBase: the blocks of the runs before).
  std::vector<crc::ContourSegment> m_Walls;
  std::tuple<int, int, std::uint64_t> m_WallsFrame{-1, -1, 0};
  std::int64_t m_RunBase = 0;
  // The run being judged: where its walls begin, its first block, the engine's pieces.
  std::size_t m_Begin = 0;
  Block m_First;
  std::vector<cutcomp::PathPiece> m_Held;
};

}  // namespace cutcomp::cli
