// SPDX-License-Identifier: MIT
// Units driven without the executable: the order in which a run's blocks are written (queue,
// final segment, lines inserted before and after a segment, the deferred closing line, the
// flush before a failure), the rounding of written numbers (rows of cases/numbers.tsv, and the
// quick paths against the slow ones) and the output's buffer.
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

#include <gtest/gtest.h>

#include "number_format.h"
#include "output.h"
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

// A count of 10^-decimals as text, the plain way: all its digits, the point put in, the
// trailing zeros taken off.
std::string UnitsText(std::int64_t units, int decimals) {
  const std::uint64_t magnitude =
      units < 0 ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
  std::string digits = std::to_string(magnitude);
  digits.insert(0,
                digits.size() <= static_cast<std::size_t>(decimals)
                    ? static_cast<std::size_t>(decimals) + 1 - digits.size()
                    : 0,
                '0');
  std::string text = digits;
  if (decimals > 0) {
    text.insert(text.size() - static_cast<std::size_t>(decimals), ".");
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') {
      text.pop_back();
    }
  }
  return (units < 0 ? "-" : "") + text;
}

// The quick rounding from the double must round as the digits do wherever it decides, the
// group-wise digits must read as the plain ones: values of every size, and values a few bits
// from a half of the last decimal, where the two roundings part if the quick one is too bold.
TEST(NumberFormat, QuickPathsAgreeWithTheSlowOnes) {
  std::mt19937_64 random(14);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-12, 16);
  for (int k = 0; k < 100000; ++k) {
    const int decimals = k % 10;
    double value = unit(random) * std::pow(10.0, exponent(random));
    if (k % 3 == 0) {  // beside a half
      const double scale = std::pow(10.0, decimals);
      value = (std::floor(value * scale) + 0.5) / scale;
      value = std::nextafter(value, k % 2 == 0 ? 0.0 : value * 2);
    }
    const std::optional<std::int64_t> units = ToUnitsByDigits(value, decimals);
    ASSERT_EQ(ToUnits(value, decimals), units) << value << " " << decimals;
    const auto drawn = static_cast<std::int64_t>(random());
    for (const auto& [count, places] :
         {std::pair{units.value_or(0), decimals}, std::pair{drawn >> (k % 64), k % 24}}) {
      char text[64];
      const std::string written(text, WriteUnits(text, count, places));
      ASSERT_EQ(written, UnitsText(count, places)) << count << " " << places;
    }
  }
  char text[64];
  const std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
  EXPECT_EQ(std::string(text, WriteUnits(text, lowest, 3)), UnitsText(lowest, 3));
}

// What goes through the output's buffer comes out in order and whole: lines formatted in place
// and plain writes, short ones and ones longer than the buffer.
TEST(Output, BufferedTextComesOutWhole) {
  const std::string path = test::MakeTempDir() + "/out.txt";
  std::string expected;
  {
    Output out;
    ASSERT_TRUE(out.Open(path));
    for (std::size_t k = 0; k < 3000; ++k) {
      const std::string text(k * k % 997 + (k % 500 == 0 ? 200000 : 0),
                             static_cast<char>('a' + k % 26));
      if (k % 2 == 0) {
        out.Write(text);
        expected += text;
      } else {
        Output::Line line(out);  // in pieces, so that the buffer fills in the middle of one
        for (std::size_t at = 0; at < text.size(); at += 100) {
          line.Put(std::string_view(text).substr(at, 100));
        }
        line.Put('\n');
        line.Commit();
        expected += text + '\n';
      }
      Output::Line dropped(out);  // never committed: not written
      dropped.Put("dropped");
    }
    ASSERT_TRUE(out.Finish());
  }
  EXPECT_TRUE(test::ReadFile(path) == expected);
}

}  // namespace
}  // namespace cutcomp::cli
