// SPDX-License-Identifier: MIT
// Units driven without the executable: the order in which a run's blocks are written (queue,
// final segment, lines inserted before and after a segment, the deferred closing line, the
// flush before a failure), and the rounding of written numbers (rows of cases/numbers.tsv).
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "number_format.h"
#include "run_order.h"
#include "run_process.h"

namespace cutcomp::cli {
namespace {

// Writes what the run order hands on as "kind:line" words.
class Recorder : public RunOrder::Sink {
public:
  std::string log;
  void PlainBlock(const cli::Block& block) override { Add("B", block); }
  void Segment(const cli::Block& block, cutcomp::PathPiece&,
               const std::vector<const cli::Block*>&) override {
    Add("S", block);
  }
  void Inserted(const cli::Block& anchor, cutcomp::PathPiece&) override { Add("I", anchor); }
  void Closing(const cli::Block& anchor, cutcomp::PathPiece&) override { Add("C", anchor); }

private:
  void Add(const char* kind, const cli::Block& block) {
    log += (log.empty() ? "" : " ") + std::string(kind) + std::to_string(block.Line());
  }
};

cli::Block At(std::size_t line, crc::crc_status_t phase = crc::CRC_STATUS_DOING) {
  cli::Block block;
  block.source.where.line = line;
  block.phase = phase;
  return block;
}

HostSegment Line(std::int64_t id, bool inserted, crc::crc_status_t phase) {
  HostSegment segment;
  segment.id = id;
  segment.inserted = inserted;
  segment.node =
      std::make_unique<crc::CCrcLine>(Point(0, 0), Point(1, 0), phase, crc::CRC_DIR_LEFT, false);
  return segment;
}

TEST(RunOrder, BlocksSegmentsAndInsertedLinesInProgramOrder) {
  Recorder out;
  RunOrder order(out);
  const auto start = order.Queue(At(1, crc::CRC_STATUS_ESTABLISH), true);
  order.Queue(At(2), false);  // a Z move between two segments
  const auto corner = order.Queue(At(3), true);
  order.Queue(At(4), false);
  order.Final(Line(start, false, crc::CRC_STATUS_ESTABLISH));
  EXPECT_EQ(out.log, "S1") << "a block waits until the segment before it is final";
  // Lines inserted before segment 3 go where it starts: after the Z move of line 2.
  order.Final(Line(corner, true, crc::CRC_STATUS_DOING));
  order.Final(Line(corner, false, crc::CRC_STATUS_DOING));
  // A line inserted after a written segment goes right after it.
  order.Final(Line(corner, true, crc::CRC_STATUS_DOING));
  EXPECT_EQ(out.log, "S1 B2 I3 S3 I3");
  EXPECT_EQ(order.Queued(), 1u);
  order.Flush();
  EXPECT_EQ(out.log, "S1 B2 I3 S3 I3 B4");
}

TEST(RunOrder, ClosingLineComesAfterTheBlocksThatFollowTheRun) {
  Recorder out;
  RunOrder order(out);
  const auto last = order.Queue(At(7), true);
  order.Final(Line(last, false, crc::CRC_STATUS_DOING));
  // The engine closes a run without a cancel move with a line in the cancel phase.
  order.Final(Line(last, true, crc::CRC_STATUS_RETRACT));
  order.Queue(At(8), false);  // the retract in Z
  order.Flush();
  EXPECT_EQ(out.log, "S7 B8 C7");
  // After a cancel move, the inserting strategy's closing line is no deferred closing.
  Recorder cancel;
  RunOrder other(cancel);
  const auto retract = other.Queue(At(9, crc::CRC_STATUS_RETRACT), true);
  other.Final(Line(retract, false, crc::CRC_STATUS_RETRACT));
  other.Final(Line(retract, true, crc::CRC_STATUS_RETRACT));
  EXPECT_EQ(cancel.log, "S9 I9");
}

TEST(RunOrder, BeforeAFailureOnlyTheBlocksBeforeTheRefusedSegmentAreWritten) {
  Recorder out;
  RunOrder order(out);
  order.Queue(At(1), false);
  const auto refused = order.Queue(At(2), true);
  order.Queue(At(3), false);
  order.WriteBefore(refused);
  EXPECT_EQ(out.log, "B1");
  ASSERT_NE(order.Find(refused), nullptr);
  EXPECT_EQ(order.Find(refused)->Line(), 2u) << "the refused block can still be named";
}

TEST(NumberFormat, RowsOfTheTable) {
  std::istringstream rows(test::ReadFile(std::string(CUTCOMP_CASES) + "/numbers.tsv"));
  std::string line;
  int count = 0;
  while (std::getline(rows, line)) {
    if (line.empty() || line[0] == '#') {
      continue;
    }
    std::istringstream fields(line);
    double value = 0;
    int decimals = 0;
    std::string expected;
    fields >> value >> decimals >> expected;
    EXPECT_EQ(FormatNumber(value, decimals), expected) << line;
    ++count;
  }
  EXPECT_GT(count, 10);
}

}  // namespace
}  // namespace cutcomp::cli
