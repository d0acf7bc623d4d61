// SPDX-License-Identifier: MIT
// Streaming: the peak memory of a cutcomp run does not grow with the length of the program.
// One compensation run of N zigzag moves (every corner alternately inside and outside, with
// comments and Z moves between them) is compensated for a small and a ten times larger N; the
// peak resident set of the child may differ only by a small constant.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "run_process.h"

namespace cutcomp::test {
namespace {

const std::string EXE = CUTCOMP_EXE;

#if defined(__SANITIZE_ADDRESS__)
// Under AddressSanitizer a block costs about ten times as much; the sizes are cut by five so
// that the test stays well under a minute. The shape of the comparison is the same.
constexpr long SMALL = 20000;
#else
constexpr long SMALL = 100000;
#endif
constexpr long LARGE = 10 * SMALL;

// Allowed growth of the peak resident set from SMALL to LARGE blocks. Bounded streaming holds
// a handful of segments whatever N is; anything that keeps a record per block (a segment, a
// line of text, a list entry) costs at least 32 bytes each, which for 0.9 (or 0.18) million
// extra blocks is 28 (or 5.6) MiB, far above this.
constexpr long SLACK_KIB = 2048;

std::string WriteProgram(const std::string& dir, long blocks) {
  std::string path = dir + "/zigzag" + std::to_string(blocks) + ".ngc";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return "";
  }
  std::fputs("G21 G17 G90\nG0 X-5 Y0 Z1\nG41 G1 X0 Y0 F1000\nG1 Z-1\n", file);
  for (long k = 1; k <= blocks; ++k) {
    std::fprintf(file, "X%ld Y%ld\n", k, k % 2);
    if (k % 1000 == 0) {
      std::fprintf(file, "(pass %ld)\nG1 Z-1.5\nG1 Z-1\n", k / 1000);
    }
  }
  std::fprintf(file, "G40 G1 X%ld Y-5\nG0 Z5\nM30\n", blocks + 5);
  std::fclose(file);
  return path;
}

long PeakKiB(const std::string& dir, long blocks) {
  const std::string program = WriteProgram(dir, blocks);
  EXPECT_FALSE(program.empty());
  const ProcessResult result = RunProcess(EXE, {program, "--radius", "0.1", "-o", "/dev/null"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");
  std::remove(program.c_str());
  return result.peakRssKiB;
}

TEST(Streaming, PeakMemoryDoesNotGrowWithProgramLength) {
#if defined(__SANITIZE_ADDRESS__)
  // Freed memory sits in the sanitizer's quarantine (up to 256 MiB) and would count as growth.
  setenv("ASAN_OPTIONS", "quarantine_size_mb=0:detect_leaks=1", 1);
#endif
  const std::string dir = MakeTempDir();
  const long small = PeakKiB(dir, SMALL);
  const long large = PeakKiB(dir, LARGE);
  std::remove(dir.c_str());
  std::printf("peak resident set: %ld KiB for %ld blocks, %ld KiB for %ld blocks\n", small, SMALL,
              large, LARGE);
  RecordProperty("peak_kib_small", std::to_string(small));
  RecordProperty("peak_kib_large", std::to_string(large));
  EXPECT_LE(large, small + SLACK_KIB)
      << SMALL << " blocks: " << small << " KiB, " << LARGE << " blocks: " << large << " KiB";
}

}  // namespace
}  // namespace cutcomp::test
