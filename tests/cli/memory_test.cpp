// SPDX-License-Identifier: MIT
// Streaming: without the gouge audit (--no-verify), the peak memory of a cutcomp run does not
// grow with the length of the program; with it, it grows by the audit's compact record of the
// contour and the path, and by no more.
// One compensation run of N zigzag moves (every corner alternately inside and outside, with
// comments and Z moves between them) is compensated for a small and a ten times larger N; the
// peak resident set of the child may differ only by a small constant. Two zigzags: one with
// right-angled corners, and one whose outside corners are sharper than that, where the engine
// inserts lines round every outside corner and tells the host about each.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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
// The audit keeps about 60 bytes per programmed segment for its contour and index (more while
// its arrays grow) and 25 per piece of path, of which a sharp outside corner has three; a copy
// of the blocks or their text would cost several times that.
constexpr long AUDIT_BYTES_PER_BLOCK = 160;

// Steps of `dx` along X and `dy` up and down: 1 and 1 turn by 90 degrees at every corner, 5 and
// 10 by 127 degrees.
std::string WriteProgram(const std::string& dir, long blocks, long dx, long dy) {
  std::string path = dir + "/zigzag" + std::to_string(blocks) + ".ngc";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return "";
  }
  std::fputs("G21 G17 G90\nG0 X-5 Y0 Z1\nG41.1 D0.2 G1 X0 Y0 F1000\nG1 Z-1\n", file);
  for (long k = 1; k <= blocks; ++k) {
    std::fprintf(file, "X%ld Y%ld\n", dx * k, dy * (k % 2));
    if (k % 1000 == 0) {
      std::fprintf(file, "(pass %ld)\nG1 Z-1.5\nG1 Z-1\n", k / 1000);
    }
  }
  std::fprintf(file, "G40 G1 X%ld Y-5\nG0 Z5\nM30\n", dx * blocks + 5);
  std::fclose(file);
  return path;
}

long PeakKiB(const std::string& dir, long blocks, long dx, long dy, bool audit) {
  const std::string program = WriteProgram(dir, blocks, dx, dy);
  EXPECT_FALSE(program.empty());
  std::vector<std::string> args = {program, "-o", "/dev/null"};
  if (!audit) {
    args.emplace_back("--no-verify");
  }
  const ProcessResult result = RunProcess(EXE, args);
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
  for (const long dy : {1, 10}) {
    const long dx = dy == 1 ? 1 : 5;
    for (const bool audit : {false, true}) {
      const long small = PeakKiB(dir, SMALL, dx, dy, audit);
      const long large = PeakKiB(dir, LARGE, dx, dy, audit);
      std::printf("zigzag X%ld Y%ld%s: peak resident set %ld KiB for %ld blocks, %ld KiB for %ld\n",
                  dx, dy, audit ? ", audited" : "", small, SMALL, large, LARGE);
      // The resident set's own noise (allocator rounding, larger under the sanitizer) on top
      // of what the audit keeps per block.
      const long allowed = SLACK_KIB + (audit ? (LARGE - SMALL) * AUDIT_BYTES_PER_BLOCK / 1024 : 0);
      EXPECT_LE(large, small + allowed) << "zigzag X" << dx << " Y" << dy << " audit " << audit;
    }
  }
  std::remove(dir.c_str());
}

}  // namespace
}  // namespace cutcomp::test
