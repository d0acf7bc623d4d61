// SPDX-License-Identifier: MIT
// A translator over a program held in an array, for measuring the engine apart from a host's
// own costs: it allocates nothing while it runs (inserted lines go into storage reserved up
// front), so every allocation counted during its run is the engine's.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include <crc/crc.h>

namespace cutcomp::bench {

class ArrayHost : public crc::CCrcTranslator {
public:
  // The segments stay owned by `program`, which must outlive the host. Up to `insertCapacity`
  // inserted lines are kept; beyond that the run fails.
  ArrayHost(const std::vector<std::unique_ptr<crc::CCrcNode>>& program, std::size_t insertCapacity);

  // Adjusts every segment in order, as the list host does; false at the first refusal or when
  // the inserted lines overflow. When `allocationsAfterWarmup` is given, it receives the number
  // of allocations made after the first `warmup` segments (the engine's steady state).
  bool Run(crc::CCutterCompensator& engine, std::size_t warmup = 0,
           std::size_t* allocationsAfterWarmup = nullptr);

  crc::CCrcNode* GetNextNode(crc::CCrcNode* node) override;
  void InsertNode(crc::CCrcNode* anchor, crc::CCrcLine& line, const bool& before) override;
  void SetCrcEndPoint(double x, double y) override;
  void CrcFinish() override;

private:
  static constexpr std::size_t NONE = static_cast<std::size_t>(-1);
  struct Slot {
    crc::CCrcNode* node;
    std::size_t prev;
    std::size_t next;
  };
  std::size_t Find(const crc::CCrcNode* node) const;

  std::vector<Slot> m_Slots;
  std::vector<crc::CCrcLine> m_Inserted;  // capacity reserved: never reallocates
  std::size_t m_Current = 0;
  bool m_Overflow = false;
};

}  // namespace cutcomp::bench
