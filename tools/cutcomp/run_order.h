// SPDX-License-Identifier: MIT
// The order of written blocks inside one compensation run. The engine makes a segment final
// only after it has looked at its successor, so the blocks of a run wait in a queue: a block
// without a plane motion of its own is written when the segment before it is final, a segment
// when the engine hands it over, a line the engine inserted before a segment where that segment
// starts, and a closing line at the end of a run after the blocks that follow the last segment
// (the retract in Z, typically). A segment fitted to a run of chords stands for several blocks:
// its first block carries the move, the others follow it in program order, written without
// their plane motion. Nothing here computes geometry or formats text: a Sink does.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

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
    // A block with no plane motion of its own in the run, or one whose plane motion a fitted
    // segment written before it stands for.
    virtual void PlainBlock(const cli::Block& block) = 0;
    // A programmed segment's block with its final piece (possibly dropped). For a segment
    // fitted to several chords, `chords` holds the blocks of the chords after the first one,
    // in order (they follow as plain blocks); empty otherwise.
    virtual void Segment(const cli::Block& block, cutcomp::PathPiece& piece,
                         const std::vector<const cli::Block*>& chords) = 0;
    // A line the engine inserted; `anchor` is the block it belongs to.
    virtual void Inserted(const cli::Block& anchor, cutcomp::PathPiece& piece) = 0;
    // The closing line of a run that ended without a cancel move.
    virtual void Closing(const cli::Block& anchor, cutcomp::PathPiece& piece) = 0;
  };

  explicit RunOrder(Sink& sink) : m_Sink(sink) {}

  // Queues a block of the run; `segment`: it has a plane motion. Returns its id.
  std::int64_t Queue(Block block, bool segment);
  // The same in two steps, without moving the block: Prepare gives the place of the next block
  // to read it into (a block written earlier, whose storage is reused), Commit queues it.
  Block& Prepare();
  std::int64_t Commit(bool segment);
  // The segment handed to the engine under id `first` stands for the queued blocks from
  // `first` to `last`.
  void Covers(std::int64_t first, std::int64_t last);
  // A final host segment: writes what comes before it, then it.
  void Final(const HostSegment& segment);
  // The same for a piece made by the host itself (piece.id, piece.inserted as a host segment's).
  void Final(cutcomp::PathPiece piece);
  // Writes the queued blocks that come before the block with id `id`.
  void WriteBefore(std::int64_t id) {
    if (m_Count > 0 && Front().id < id) {
      WriteQueuedBefore(id);
    }
  }
  // Writes everything still queued, then a deferred closing line.
  void Flush();

  // A queued block by id, or none.
  const Block* Find(std::int64_t id) const;
  // The id of the last block the segment with id `id` stands for (`id` itself unless fitted).
  std::int64_t LastCovered(std::int64_t id) const;
  std::int64_t NextId() const { return m_NextId; }
  std::size_t Queued() const { return m_Count; }

private:
  struct Entry {
    std::int64_t id;
    Block block;
    bool segment;
    std::int64_t last;  // the last block the segment stands for (itself, unless fitted)
  };
  std::optional<std::size_t> Index(std::int64_t id) const;
  Entry* At(std::int64_t id);
  // The queue is a ring of entries in a vector whose size is a power of two.
  Entry& Slot(std::size_t k) { return m_Ring[(m_Head + k) & m_Mask]; }
  const Entry& Slot(std::size_t k) const { return m_Ring[(m_Head + k) & m_Mask]; }
  Entry& Front() { return m_Ring[m_Head]; }
  void PopFront() {
    m_Head = (m_Head + 1) & m_Mask;
    --m_Count;
  }
  // Writes the queued blocks that come before the block with id `id`, the front being one.
  void WriteQueuedBefore(std::int64_t id);

  Sink& m_Sink;
  std::vector<Entry> m_Ring;
  std::size_t m_Mask = 0;  // the ring's size less one
  std::size_t m_Head = 0;
  std::size_t m_Count = 0;
  std::int64_t m_NextId = 0;
  // The place in the ring of the last segment written, for lines inserted after it.
  static constexpr std::size_t NO_SLOT = static_cast<std::size_t>(-1);
  std::size_t m_LastSlot = NO_SLOT;
  std::optional<cutcomp::PathPiece> m_Closing;
  std::optional<Block> m_ClosingAnchor;
  std::vector<const Block*> m_Chords;  // kept for its storage
};

}  // namespace cutcomp::cli
