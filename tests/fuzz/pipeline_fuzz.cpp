// SPDX-License-Identifier: MIT
// Fuzz target: the command-line tool from program bytes to written output. The first two bytes
// choose the options (radius, start and end of runs, evasion, look-behind, rapids, precision);
// the rest is the program, run through the tool's top-level entry with the tool table of the
// examples, its program, record and picture written to memory and checked (cli_checks.h).
#include <cstdint>
#include <optional>
#include <string>

#include "cli_checks.h"

namespace {

using cutcomp::cli::Options;
using cutcomp::cli::RunEnd;

// Radii the options choose from: none (D through the tool table), ordinary ones, a negative one
// (sides swapped), and the extremes a careless command line gives.
const std::optional<double> RADII[] = {std::nullopt, 1.0, 0.25, 5.0, -1.0, 1e-12, 1e12, 0.0};

const std::string TABLE =
    "T1 P1 D6.0\nT2 P2 D4.0\nT3 P3 D10.0\nT4 P4 D3.175\nT5 P5 D1.6\n"
    "T6 P6 D0.25\n";

// A loop that does not end is stopped at this many lines (the tool's limit, made small): one
// input stays well under a second.
constexpr std::uint64_t MAX_BLOCKS = 20000;

Options Decode(std::uint8_t first, std::uint8_t second) {
  Options options;
  // First byte: bits 0-2 the radius (0: the tool table's D), 3-4 the start strategy, 5 evasion,
  // 6-7 how a run ends without a cancel move. 0 is the tool's defaults.
  options.radius = RADII[first & 7U];
  static const crc::crc_t STARTS[] = {crc::CRC_TYPE_NORMAL, crc::CRC_TYPE_INTERSECT,
                                      crc::CRC_TYPE_INSERT, crc::CRC_TYPE_NORMAL};
  options.start = STARTS[(first >> 3U) & 3U];
  options.evade = (first & 0x20U) != 0;
  static const RunEnd ENDS[] = {RunEnd::STAY, RunEnd::LINE, RunEnd::NONE, RunEnd::STAY};
  options.end = ENDS[(first >> 6U) & 3U];
  // Second byte: bits 0-1 the look-behind, 2 rapids as positioning moves, 3-4 the precision,
  // 5 chord fitting off, 6 source lines named in the written program, 7 a lathe's roughing
  // cycles written as their moves (with a retract of 0.5 where the program gives none).
  static const unsigned LOOK_BEHIND[] = {3, 0, 1, 8};
  options.lookBehind = LOOK_BEHIND[second & 3U];
  options.locateRapids = (second & 4U) != 0;
  static const int PRECISION[] = {-1, 4, 6, 9};
  const int precision = PRECISION[(second >> 3U) & 3U];
  if (precision >= 0) {
    options.precision = precision;
  }
  options.fit = (second & 0x20U) == 0;
  options.traceSource = (second & 0x40U) != 0;
  options.expandCycles = (second & 0x80U) != 0;
  if (options.expandCycles) {
    options.cycleRetract = 0.5;
  }
  options.maxBlocks = MAX_BLOCKS;
  return options;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Options options = Decode(size > 0 ? data[0] : 0, size > 1 ? data[1] : 0);
  const std::size_t skip = size < 2 ? size : 2;
  const std::string program(reinterpret_cast<const char*>(data) + skip, size - skip);
  cutcomp::fuzz::RunAndCheck(options, program, &TABLE);
  return 0;
}
