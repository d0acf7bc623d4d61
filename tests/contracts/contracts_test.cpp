// SPDX-License-Identifier: MIT
// The contracts the public header states besides memory: the one rule that tells lines from
// arcs, no exception out of AdjustNode, and independent compensators on several threads.
#include <gtest/gtest.h>

#include <thread>

#include "nodes/node_kind.h"
#include "sequence.h"

namespace {

using contracts::Point;

// A host's own segment classes: a line that carries a block number, and a segment of its own.
class NumberedLine : public crc::CCrcLine {
public:
  using CCrcLine::CCrcLine;
  int block = 0;
};

class Dwell : public crc::CCrcNode {
public:
  bool CrcMove(const double& /*radius*/) override { return false; }
  double GetLength() const override { return 0.0; }
  crc::CCrcNode* Clone() const override { return new Dwell(*this); }
};

std::unique_ptr<crc::CCrcNode> Make(char cls) {
  const Point a(0, 0);
  const Point b(1, 0);
  switch (cls) {
  case 'L':
    return std::make_unique<crc::CCrcLine>(a, b, crc::CRC_STATUS_DOING, crc::CRC_DIR_LEFT, false);
  case 'A':
    return std::make_unique<crc::CCrcArc>(Point(0.5, 0), a, b, 0.5, true, crc::CRC_STATUS_DOING,
                                          crc::CRC_DIR_LEFT);
  case 'N':
    return std::make_unique<NumberedLine>(a, b, crc::CRC_STATUS_DOING, crc::CRC_DIR_LEFT, false);
  default:
    return std::make_unique<Dwell>();
  }
}

TEST(KindRule, TheFieldCountsOnlyWhereTheClassAgrees) {
  // class (L line, A arc, N host's line subclass, D host's own segment), field, kind counted
  const struct {
    char cls;
    int field;
    crc::node_t kind;
  } rows[] = {
      {'L', crc::NODE_LINE, crc::NODE_LINE}, {'L', crc::NODE_ARC, crc::NODE_NONE},
      {'L', crc::NODE_NONE, crc::NODE_NONE}, {'L', 7, crc::NODE_NONE},
      {'A', crc::NODE_ARC, crc::NODE_ARC},   {'A', crc::NODE_LINE, crc::NODE_NONE},
      {'N', crc::NODE_LINE, crc::NODE_LINE}, {'N', crc::NODE_ARC, crc::NODE_NONE},
      {'D', crc::NODE_LINE, crc::NODE_NONE}, {'D', crc::NODE_ARC, crc::NODE_NONE},
  };
  for (const auto& row : rows) {
    auto node = Make(row.cls);
    node->SetNodeType(static_cast<crc::node_t>(row.field));
    EXPECT_EQ(crc::KindOf(node.get()), row.kind) << row.cls << " with field " << row.field;
  }
}

// The rule holds in the driver too: a start-up line whose field says arc is not refused as an
// arc, and a cancel line whose field says none is refused like a segment of no kind.
TEST(KindRule, ValidationAndCancelFollowIt) {
  contracts::Program startUp = contracts::RoundedLoop(1);
  startUp.front()->SetNodeType(crc::NODE_ARC);
  contracts::Sequence first(std::move(startUp));
  crc::CCutterCompensator engine(0.25, &first);
  EXPECT_TRUE(first.Run(engine)) << engine.GetLatestErrorCode();

  contracts::Program cancel = contracts::RoundedLoop(1);
  cancel.back()->SetNodeType(crc::NODE_NONE);
  contracts::Sequence second(std::move(cancel));
  crc::CCutterCompensator other(0.25, &second);
  EXPECT_FALSE(second.Run(other));
  EXPECT_EQ(other.GetLatestErrorCode(), crc::CRC_ERROR_ARC_RETRACT);
}

TEST(Exceptions, AHostCallbackThatThrowsEndsTheCallWithMessage16) {
  contracts::Sequence host(contracts::RoundedLoop(1));
  crc::CCutterCompensator engine(-0.25, &host);  // negative: sides are swapped during the call
  host.throwOnNext = true;
  bool result = true;
  EXPECT_NO_THROW(result = host.Run(engine));
  EXPECT_FALSE(result);
  EXPECT_EQ(engine.GetLatestErrorCode(), crc::CRC_ERROR_NO_PLANE_MOTION);
  EXPECT_EQ(engine.GetCrcRadius(), -0.25);
  host.throwOnNext = false;  // the sides were swapped back: the same run now succeeds
  EXPECT_TRUE(host.Run(engine)) << engine.GetLatestErrorCode();
}

TEST(Threads, CompensatorsOnSeveralThreadsAreIndependent) {
  contracts::Sequence alone(contracts::RoundedLoop(3));
  crc::CCutterCompensator engine(0.25, &alone);
  ASSERT_TRUE(alone.Run(engine));
  std::vector<std::vector<Point>> results(4);
  std::vector<std::thread> threads;
  for (auto& result : results) {
    threads.emplace_back([&result] {
      for (int repeat = 0; repeat < 50; ++repeat) {
        contracts::Sequence host(contracts::RoundedLoop(3));
        crc::CCutterCompensator own(0.25, &host);
        if (host.Run(own)) {
          result = host.Ends();
        }
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (const auto& result : results) {
    ASSERT_EQ(result.size(), alone.Ends().size());
    for (std::size_t i = 0; i < result.size(); ++i) {
      EXPECT_EQ(result[i].x, alone.Ends()[i].x);
      EXPECT_EQ(result[i].y, alone.Ends()[i].y);
    }
  }
}

}  // namespace
