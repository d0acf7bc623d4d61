// SPDX-License-Identifier: MIT
// The engine's path of one run, through a host of the extension's own: once as the host's
// settings give it (is it clean?), and once as the raw path the gouge-free path is cut from (no
// interference check, no evasion, and a join of the extension's own at every corner the engine
// refuses or that the caller wants rounded). What is kept or dropped of the raw path is decided
// in trim.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <crc/audit/gouge_audit.h>
#include <crc/avoid/gouge_free.h>

namespace crc::avoid {

inline constexpr std::size_t NONE = static_cast<std::size_t>(-1);

// One piece of a run's path, in order.
struct RunPiece {
  Curve tool;
  std::size_t segment = 0;   // index in the run of its segment (a corner piece: the one after it)
  std::size_t joint = NONE;  // a piece at a corner: the index of the segment before the corner
  gouge_free_piece_t kind = PIECE_ENGINE;  // ENGINE, or CORNER / LINE for a piece of our own
  bool inserted = false;                   // not the offset of its own segment
  bool collapsed = false;  // the chord that stands for the offset of an arc smaller than the cutter
  // An offset trimmed at both ends whose ends have crossed over: it runs against its segment.
  // Where the wall is shorter than its corners need, its offset follows nothing of it.
  bool reversed = false;
};

struct RunOutcome {
  bool ok = false;
  int code = 0;            // the engine's message when it refused (and the build could not go on)
  std::size_t failed = 0;  // the index of the segment it refused
  std::string error;       // why the raw path could not be built, in English
  std::vector<RunPiece> pieces;
};

// The path a host with `settings` gets for the run[0, count): the engine's, unchanged.
RunOutcome EnginePath(const ContourSegment* run, std::size_t count, double radius,
                      const GougeFreeSettings& settings);

// The raw path: every segment's exact offset and the engine's joins, with look-behind 0 and no
// evasion. Where the engine refuses a segment for its geometry (an arc smaller than the cutter,
// offsets that do not meet or run backwards), the corner is joined by the extension: an arc of
// the cutter radius about it where the contour turns away from the tool, a straight line between
// the offsets' plain ends where it turns towards it, a trimmed offset kept even when it runs
// backwards. `own[k]` set makes the extension join the corner after segment k that way whatever
// the engine would do there, untrimmed. Other refusals (a start-up arc, a zero-length move) end
// the build with the engine's message.
RunOutcome RawPath(const ContourSegment* run, std::size_t count, double radius,
                   const GougeFreeSettings& settings, const std::vector<bool>& own);

// The arc of the run's segment k smaller than the cutter on its inner side (its offset
// collapses through the centre), by the engine's own rule.
bool Collapses(const ContourSegment& segment, double radius);

}  // namespace crc::avoid
