// SPDX-License-Identifier: MIT
// The allocation-free translator: a doubly linked sequence in preallocated arrays.
#include "array_host.h"

#include "alloc_counter.h"

namespace cutcomp::bench {

ArrayHost::ArrayHost(const std::vector<std::unique_ptr<crc::CCrcNode>>& program,
                     std::size_t insertCapacity) {
  m_Slots.reserve(program.size() + insertCapacity);
  m_Inserted.reserve(insertCapacity);
  for (std::size_t k = 0; k < program.size(); ++k) {
    m_Slots.push_back(
        {program[k].get(), k == 0 ? NONE : k - 1, k + 1 < program.size() ? k + 1 : NONE});
  }
}

std::size_t ArrayHost::Find(const crc::CCrcNode* node) const {
  // The engine asks about the segment being adjusted or the one or two after it.
  for (std::size_t k = m_Current; k != NONE; k = m_Slots[k].next) {
    if (m_Slots[k].node == node) {
      return k;
    }
  }
  return NONE;
}

crc::CCrcNode* ArrayHost::GetNextNode(crc::CCrcNode* node) {
  const std::size_t k = Find(node);
  if (k == NONE || m_Slots[k].next == NONE) {
    return nullptr;
  }
  return m_Slots[m_Slots[k].next].node;
}

void ArrayHost::InsertNode(crc::CCrcNode* anchor, crc::CCrcLine& line, const bool& before) {
  const std::size_t k = Find(anchor);
  if (k == NONE || m_Inserted.size() == m_Inserted.capacity()) {
    m_Overflow = true;
    return;
  }
  m_Inserted.push_back(line);
  const std::size_t slot = m_Slots.size();
  const std::size_t prev = before ? m_Slots[k].prev : k;
  const std::size_t next = before ? k : m_Slots[k].next;
  m_Slots.push_back({&m_Inserted.back(), prev, next});
  if (prev != NONE) {
    m_Slots[prev].next = slot;
  }
  if (next != NONE) {
    m_Slots[next].prev = slot;
  }
}

void ArrayHost::SetCrcEndPoint(double /*x*/, double /*y*/) {}
void ArrayHost::CrcFinish() {}

bool ArrayHost::Run(crc::CCutterCompensator& engine, std::size_t warmup,
                    std::size_t* allocationsAfterWarmup) {
  engine.SetTranslator(this);
  std::size_t done = 0;
  std::size_t mark = AllocationCount();
  for (m_Current = m_Slots.empty() ? NONE : 0; m_Current != NONE;
       m_Current = m_Slots[m_Current].next) {
    if (done++ == warmup) {
      mark = AllocationCount();
    }
    if (!engine.AdjustNode(m_Slots[m_Current].node) || m_Overflow) {
      return false;
    }
  }
  if (allocationsAfterWarmup != nullptr) {
    *allocationsAfterWarmup = AllocationCount() - mark;
  }
  return true;
}

}  // namespace cutcomp::bench
