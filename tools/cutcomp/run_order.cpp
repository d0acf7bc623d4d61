// SPDX-License-Identifier: MIT
// The queue of one compensation run's blocks and the order in which they are written.
#include "run_order.h"

#include <utility>

namespace cutcomp::cli {

std::int64_t RunOrder::Queue(Block block, bool segment) {
  const std::int64_t id = m_NextId++;
  m_Queue.push_back({id, std::move(block), segment});
  return id;
}

const Block* RunOrder::Find(std::int64_t id) const {
  for (const Entry& entry : m_Queue) {
    if (entry.id == id) {
      return &entry.block;
    }
  }
  return nullptr;
}

void RunOrder::WriteBefore(std::int64_t id) {
  while (!m_Queue.empty() && m_Queue.front().id < id) {
    if (!m_Queue.front().segment) {
      m_Sink.PlainBlock(m_Queue.front().block);
    }
    m_Queue.pop_front();
  }
}

void RunOrder::Final(const HostSegment& segment) {
  cutcomp::PathPiece piece = cutcomp::ReadPiece(segment);
  if (segment.inserted) {
    if (const Block* anchor = Find(segment.id)) {
      // Inserted before a segment not yet written: it goes where that segment starts.
      WriteBefore(segment.id);
      m_Sink.Inserted(*anchor, piece);
      return;
    }
    if (!m_Last) {
      return;  // an anchor the host does not know: the host drops such lines as well
    }
    if (piece.phase == crc::CRC_STATUS_RETRACT && m_Last->phase != crc::CRC_STATUS_RETRACT) {
      // The closing line of a run that ends without a cancel move: the tool leaves the contour
      // where compensation ends, after the blocks that follow the last segment, not while it is
      // still at cutting depth.
      m_Closing = piece;
      m_ClosingAnchor = *m_Last;
      return;
    }
    m_Sink.Inserted(*m_Last, piece);
    return;
  }
  WriteBefore(segment.id);
  if (m_Queue.empty() || m_Queue.front().id != segment.id) {
    return;  // not ours; cannot happen with the driver's source
  }
  m_Sink.Segment(m_Queue.front().block, piece);
  m_Last = std::move(m_Queue.front().block);
  m_Queue.pop_front();
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
