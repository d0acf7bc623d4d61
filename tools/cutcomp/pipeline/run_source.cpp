// SPDX-License-Identifier: MIT
// Pulling a compensation run's blocks for the engine's host.
#include "run_source.h"

#include <utility>

namespace cutcomp::cli {

bool RunSource::Pull(std::unique_ptr<crc::CCrcNode>& node, std::int64_t& id) {
  std::int64_t last = 0;
  while (!m_Stage.Next(node, id, last)) {
    if (m_Ended) {
      return false;
    }
    Read();
  }
  m_Order.Covers(id, last);
  if (m_Audit != nullptr && node) {
    m_Audit->Segment(*m_Order.Find(id), *node, id);
  }
  return true;
}

void RunSource::Read() {
  Block& block = m_Order.Prepare();
  if (m_First) {
    block = std::move(*m_First);
    m_First.reset();
  } else {
    try {
      m_Ended = !m_Reading.Next(block);
    } catch (const InputError& error) {
      m_Error = error;
      m_Ended = true;
    }
    if (m_Ended) {
      m_Stage.Flush();
      return;
    }
    // The block is the next run's, or no run's: handed back.
    if (block.endsRun || block.phase == crc::CRC_STATUS_ESTABLISH ||
        (block.planeMotion && block.phase == crc::CRC_STATUS_NONE)) {
      m_Reading.HandBack(std::move(block));
      m_Ended = true;
      m_Stage.Flush();
      return;
    }
    if (!block.planeMotion) {
      m_Stage.Plain(block);
      m_Order.Commit(false);
      return;
    }
  }
  m_Ended = block.phase == crc::CRC_STATUS_RETRACT || block.programEnd;
  m_Stage.Move(block, m_Order.NextId());
  m_Order.Commit(true);
  if (m_Ended) {
    m_Stage.Flush();
  }
}

}  // namespace cutcomp::cli
