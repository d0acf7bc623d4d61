// SPDX-License-Identifier: MIT
// cutcomp: compensate the cutter radius of a G-code part program. Parses the command line and
// hands over to the driver.
#include <cstdio>
#include <exception>
#include <map>
#include <string>

#include <CLI/CLI.hpp>

#include "driver.h"

#ifndef CUTCOMP_VERSION
#define CUTCOMP_VERSION "unknown"
#endif

namespace {

int Main(int argc, char** argv) {
  using cutcomp::cli::Options;
  Options options;
  CLI::App app{
      "Cutter radius compensation for G-code part programs: reads a program written "
      "with G41/G42/G40 and writes the tool-centre program for a controller without "
      "compensation.",
      "cutcomp"};
  app.set_version_flag("--version", std::string("cutcomp ") + CUTCOMP_VERSION);
  app.add_option("INPUT", options.input, "part program (RS274/NGC-style G-code)")
      ->required()
      ->type_name("FILE");
  app.add_option("-o,--output", options.output, "compensated program (default: standard output)")
      ->type_name("FILE");
  app.add_option("--svg", options.svg, "write a picture of the programmed and tool-centre paths")
      ->type_name("FILE");
  app.add_option("--json", options.json, "write every segment, programmed and compensated, as JSON")
      ->type_name("FILE");
  app.add_option("--tool-table", options.toolTable,
                 "tool table with lines 'T<n> P<n> D<diameter>', for G41/G42 D<n>")
      ->type_name("FILE");
  app.add_option("--radius", options.radius,
                 "compensation radius for every G41/G42, overriding D (negative swaps the sides)")
      ->type_name("R");
  const std::map<std::string, crc::crc_t> starts{{"normal", crc::CRC_TYPE_NORMAL},
                                                 {"intersect", crc::CRC_TYPE_INTERSECT},
                                                 {"insert", crc::CRC_TYPE_INSERT}};
  app.add_option("--start", options.start,
                 "how compensation starts and ends: normal (straight to/from the point beside the "
                 "contour), intersect (joined like a corner), insert (the move itself offset, a "
                 "radial line added)")
      ->transform(CLI::CheckedTransformer(starts, CLI::ignore_case).description(""))
      ->type_name("normal|intersect|insert")
      ->default_str("normal");
  app.add_option("--look-behind", options.lookBehind,
                 "how many finished segments the interference check looks back at (0: no check)")
      ->type_name("N")
      ->default_val(3);
  app.add_flag("--evade", options.evade,
               "drop segments too short for the cutter instead of failing (looks one segment "
               "further ahead)");
  const std::map<std::string, int> ends{{"line", 0}, {"retract", 1}, {"none", 2}};
  app.add_option("--end", options.end,
                 "when the program ends without G40: line (a closing line back to the programmed "
                 "end), retract (the last move ends compensation, the tool stays beside the "
                 "contour), none")
      ->transform(CLI::CheckedTransformer(ends, CLI::ignore_case).description(""))
      ->type_name("line|retract|none")
      ->default_str("line");
  app.add_flag("--locate-rapids", options.locateRapids,
               "G0 moves inside compensation are positioning moves joined to the offset path, "
               "not offset themselves");
  app.add_option("--precision", options.precision,
                 "decimals written for lengths (default: 3 in mm, 4 in inches)")
      ->check(CLI::Range(0, 9).description(""))
      ->type_name("N");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int code = app.exit(error);
    // Help and version are successes; every other command-line error is bad input.
    return code == 0 ? 0 : cutcomp::cli::EXIT_BAD_INPUT;
  }
  return cutcomp::cli::RunCutcomp(options, stderr);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& error) {
    // Out of memory or a failed write deep in a library: report it rather than abort.
    std::fprintf(stderr, "cutcomp: error: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "cutcomp: error: unexpected failure\n");
  }
  return cutcomp::cli::EXIT_BAD_INPUT;
}
