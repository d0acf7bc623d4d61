// SPDX-License-Identifier: MIT
// The cutcomp driver: reads a part program, hands every compensation run to the engine through
// the list-backed host, and writes the compensated program and its reports as segments become
// final.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include <crc/crc.h>

namespace cutcomp::cli {

// Exit codes.
inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_COMPENSATION_FAILED = 1;
inline constexpr int EXIT_BAD_INPUT = 2;

struct Options {
  std::string input;
  std::string output;  // empty: standard output
  std::string svg;     // empty: none
  std::string json;    // empty: none
  std::string toolTable;
  std::optional<double> radius;
  crc::crc_t start = crc::CRC_TYPE_NORMAL;
  unsigned int lookBehind = 3;
  bool evade = false;
  int end = 0;  // pre-retract option: 0 closing line, 1 stay at the offset end, 2 nothing
  bool locateRapids = false;
  std::optional<int> precision;
};

// Runs the whole job; messages go to `diagnostics`. Returns one of the exit codes above.
int RunCutcomp(const Options& options, std::FILE* diagnostics);

}  // namespace cutcomp::cli
