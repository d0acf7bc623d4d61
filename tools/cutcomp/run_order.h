// SPDX-License-Identifier: MIT
// The order of written blocks inside one compensation run. The engine makes a segment final
// only after it has looked at its successor, so the blocks of a run wait in a queue: a block
// without a plane motion of its own is written when the segment before it is final, a segment
// when the engine hands it over, a line the engine inserted before a segment where that segment
// starts, and a closing line at the end of a run after the blocks that follow the last segment
// (the retract in Z, typically). Nothing here computes geometry or formats text: a Sink does.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

#include "block.h"
#include "list_host.h"
#include "tool_path.h"

namespace cutcomp::cli {

class RunOrder {
public:
  // Receives the run's blocks and pieces in the order they are to be written.
  class Sink {
  public:
    virtual ~Sink() = default;
    // A block with no plane motion of its own in the run.
    virtual void PlainBlock(const cli::Block& block) = 0;
    // A programmed segment's block with its final piece (possibly dropped).
    virtual void Segment(const cli::Block& block, cutcomp::PathPiece& piece) = 0;
    // A line the engine inserted; `anchor` is the block it belongs to.
    virtual void Inserted(const cli::Block& anchor, cutcomp::PathPiece& piece) = 0;
    // The closing line of a run that ended without a cancel move.
    virtual void Closing(const cli::Block& anchor, cutcomp::PathPiece& piece) = 0;
  };

  explicit RunOrder(Sink& sink) : m_Sink(sink) {}

  // Queues a block of the run; `segment`: it is handed to the engine. Returns its id.
  std::int64_t Queue(Block block, bool segment);
  // A final host segment: writes what comes before it, then it.
  void Final(const HostSegment& segment);
  // Writes the queued blocks that come before the block with id `id`.
  void WriteBefore(std::int64_t id);
  // Writes everything still queued, then a deferred closing line.
  void Flush();

  // A queued block by id, or none.
  const Block* Find(std::int64_t id) const;
  std::int64_t NextId() const { return m_NextId; }
  std::size_t Queued() const { return m_Queue.size(); }

private:
  struct Entry {
    std::int64_t id;
    Block block;
    bool segment;
  };

  Sink& m_Sink;
  std::deque<Entry> m_Queue;
  std::int64_t m_NextId = 0;
  std::optional<Block> m_Last;  // the last segment written, for lines inserted after it
  std::optional<cutcomp::PathPiece> m_Closing;
  std::optional<Block> m_ClosingAnchor;
};

}  // namespace cutcomp::cli
