// SPDX-License-Identifier: MIT
// When memory runs out, the engine throws nothing and changes no result: its look-behind list
// looks back over fewer segments, and a refusal still stores its message. This binary replaces
// the global operator new so that every allocation from a chosen one on fails.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "sequence.h"

namespace {
std::atomic<long> g_Allocations{0};
std::atomic<long> g_FailFrom{-1};  // the allocation (counted from 0) from which all fail; -1: none

void* Allocate(std::size_t size) {
  const long index = g_Allocations.fetch_add(1);
  const long failFrom = g_FailFrom.load();
  if (failFrom >= 0 && index >= failFrom) {
    return nullptr;
  }
  return std::malloc(size == 0 ? 1 : size);
}

// Runs `body` with every allocation from the `failFrom`-th on (counted from now) failing.
template <typename Body>
void WithAllocationsFailingFrom(long failFrom, Body body) {
  g_Allocations = 0;
  g_FailFrom = failFrom;
  body();
  g_FailFrom = -1;
}
}  // namespace

void* operator new(std::size_t size) {
  if (void* p = Allocate(size)) {
    return p;
  }
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t& /*tag*/) noexcept {
  return Allocate(size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t /*size*/) noexcept { std::free(p); }

namespace {

using contracts::Point;

constexpr double RADIUS = 0.25;

// What a run gives when memory never runs out: the allocations it makes and its tool path.
struct Reference {
  long allocations = 0;
  std::vector<Point> ends;
};

Reference Unfailing() {
  contracts::Sequence host(contracts::RoundedLoop(2));
  crc::CCutterCompensator engine(RADIUS, &host);
  Reference reference;
  WithAllocationsFailingFrom(-1, [&] {
    EXPECT_TRUE(host.Run(engine));
    reference.allocations = g_Allocations;
  });
  reference.ends = host.Ends();
  return reference;
}

TEST(OutOfMemory, EveryFailedAllocationOnlyShortensTheLookBehind) {
  const Reference reference = Unfailing();
  ASSERT_GT(reference.allocations, 0);  // the list and its storage are allocated while it grows
  for (long failFrom = 0; failFrom <= reference.allocations; ++failFrom) {
    contracts::Sequence host(contracts::RoundedLoop(2));
    crc::CCutterCompensator engine(RADIUS, &host);
    bool ran = false;
    WithAllocationsFailingFrom(failFrom, [&] { ran = host.Run(engine); });
    EXPECT_TRUE(ran) << "allocations failing from the " << failFrom << "th: message "
                     << engine.GetLatestErrorCode();
    EXPECT_LE(engine.GetListCount(), engine.GetListSize());
    EXPECT_EQ(host.Ends().size(), reference.ends.size());
    for (std::size_t i = 0; i < reference.ends.size() && i < host.Ends().size(); ++i) {
      EXPECT_EQ(host.Ends()[i].x, reference.ends[i].x) << "segment " << i;
      EXPECT_EQ(host.Ends()[i].y, reference.ends[i].y) << "segment " << i;
    }
  }
}

TEST(OutOfMemory, ARefusalStillStoresItsMessage) {
  contracts::Program program;
  program.push_back(std::make_unique<crc::CCrcLine>(Point(0, 0), Point(0, 0), crc::CRC_STATUS_DOING,
                                                    crc::CRC_DIR_LEFT, false));
  contracts::Sequence host(std::move(program));
  crc::CCutterCompensator engine(RADIUS, &host);
  engine.SetEstablish(true);
  bool ran = true;
  WithAllocationsFailingFrom(0, [&] { ran = host.Run(engine); });
  EXPECT_FALSE(ran);
  EXPECT_EQ(engine.GetLatestErrorCode(), crc::CRC_ERROR_NO_PLANE_MOTION);
  EXPECT_STREQ(crc::GetErrorGloss(engine.GetLatestErrorCode()),
               "program error, or no motion in the compensation plane");
  EXPECT_EQ(engine.GetLatestError(), "代码错误，或者无刀补平面运动！");
}

}  // namespace
