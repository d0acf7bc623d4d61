// SPDX-License-Identifier: MIT
// The queue of one compensation run's blocks and the order in which they are written.
#include "run_order.h"

#include <algorithm>
#include <utility>

namespace cutcomp::cli {

std::int64_t RunOrder::Queue(Block block, bool segment) {
  Prepare() = std::move(block);
  return Commit(segment);
}

// Blocks are read into their place in the ring and stay there when they leave it: the next
// block read into that place reuses their storage.
// The last segment written stays in its place too, for lines inserted after it: the ring grows
// rather than reuse that place, and keeps it in its last one.
Block& RunOrder::Prepare() {
  if (m_Ring.empty() || m_Count > m_Mask || ((m_Head + m_Count) & m_Mask) == m_LastSlot) {
    std::vector<Entry> ring(m_Ring.empty() ? 16 : 2 * m_Ring.size());
    for (std::size_t k = 0; k < m_Count; ++k) {
      ring[k] = std::move(Slot(k));
    }
    if (m_LastSlot != NO_SLOT) {
      ring.back() = std::move(m_Ring[m_LastSlot]);
      m_LastSlot = ring.size() - 1;
    }
    m_Ring = std::move(ring);
    m_Mask = m_Ring.size() - 1;
    m_Head = 0;
  }
  return Slot(m_Count).block;
}

std::int64_t RunOrder::Commit(bool segment) {
  Entry& entry = Slot(m_Count++);
  entry.id = m_NextId++;
  entry.segment = segment;
  entry.last = entry.id;
  return entry.id;
}

// Ids are consecutive and leave from the front: an entry's place in the queue is its id less
// the front's (a run of fitted chords can hold tens of thousands of blocks).
std::optional<std::size_t> RunOrder::Index(std::int64_t id) const {
  if (m_Count == 0 || id < m_Ring[m_Head].id || id >= m_NextId) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(id - m_Ring[m_Head].id);
}

RunOrder::Entry* RunOrder::At(std::int64_t id) {
  const std::optional<std::size_t> index = Index(id);
  return index ? &Slot(*index) : nullptr;
}

const Block* RunOrder::Find(std::int64_t id) const {
  const std::optional<std::size_t> index = Index(id);
  return index ? &Slot(*index).block : nullptr;
}

std::int64_t RunOrder::LastCovered(std::int64_t id) const {
  const std::optional<std::size_t> index = Index(id);
  return index ? Slot(*index).last : id;
}

void RunOrder::Covers(std::int64_t first, std::int64_t last) {
  if (Entry* entry = At(first)) {
    entry->last = last;
  }
}

void RunOrder::WriteQueuedBefore(std::int64_t id) {
  while (m_Count > 0 && Front().id < id) {
    if (!Front().segment) {
      m_Sink.PlainBlock(Front().block);
    }
    PopFront();
  }
}

void RunOrder::Final(const HostSegment& segment) { Final(cutcomp::ReadPiece(segment)); }

void RunOrder::Final(cutcomp::PathPiece piece) {
  const std::int64_t id = piece.id;
  if (piece.inserted) {
    if (const Block* anchor = Find(id)) {
      // Inserted before a segment not yet written: it goes where that segment starts.
      WriteBefore(id);
      m_Sink.Inserted(*anchor, piece);
      return;
    }
    if (m_LastSlot == NO_SLOT) {
      return;  // an anchor the host does not know: the host drops such lines as well
    }
    const Block& lastBlock = m_Ring[m_LastSlot].block;
    if (piece.phase == crc::CRC_STATUS_RETRACT && lastBlock.phase != crc::CRC_STATUS_RETRACT) {
      // The closing line of a run that ends without a cancel move: the tool leaves the contour
      // where compensation ends, after the blocks that follow the last segment, not while it is
      // still at cutting depth.
      m_Closing = piece;
      m_ClosingAnchor = lastBlock;
      return;
    }
    m_Sink.Inserted(lastBlock, piece);
    return;
  }
  WriteBefore(id);
  if (m_Count == 0 || Front().id != id) {
    return;  // not ours; cannot happen with the driver's source
  }
  const std::int64_t last = std::min(Front().last, m_NextId - 1);
  std::vector<const Block*>& chords = m_Chords;
  chords.clear();
  for (std::int64_t k = id + 1; k <= last; ++k) {
    const Entry* entry = At(k);
    if (entry->segment) {
      chords.push_back(&entry->block);
    }
  }
  m_Sink.Segment(Front().block, piece, chords);
  m_LastSlot = m_Head;  // it stays there, kept out of reuse by Prepare
  PopFront();
  while (m_Count > 0 && Front().id <= last) {
    m_Sink.PlainBlock(Front().block);
    PopFront();
  }
}

void RunOrder::Flush() {
  WriteBefore(m_NextId);
  if (m_Closing) {
    m_Sink.Closing(*m_ClosingAnchor, *m_Closing);
    m_Closing.reset();
    m_ClosingAnchor.reset();
  }
}

}  // namespace cutcomp::cli
