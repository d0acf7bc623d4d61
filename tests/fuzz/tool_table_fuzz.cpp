// SPDX-License-Identifier: MIT
// Fuzz target: the bytes are a tool table, used by a fixed program that compensates with three
// of its tools (by D, by D on the other side around arcs, and by the loaded tool). Whatever the
// table holds, the tool refuses it naming its line, or compensates by what it says
// (cli_checks.h).
#include <cstdint>
#include <string>

#include "cli_checks.h"

namespace {

const std::string PROGRAM =
    "G21 G17 G90\n"
    "G0 X-20 Y-20\n"
    "G41 D1 G1 X0 Y0 F100\n"
    "X40\n"
    "Y30\n"
    "X0\n"
    "Y0\n"
    "G40 G1 X-20 Y-20\n"
    "G0 X60 Y0\n"
    "G42 D2 G1 X50 Y10\n"
    "G2 X50 Y50 I0 J20\n"
    "G3 X50 Y90 I0 J20\n"
    "G40 G1 X60 Y100\n"
    "T3 M6\n"
    "G0 X-10 Y120\n"
    "G41 G1 X0 Y120\n"
    "X30 Y150\n"
    "G40 X40 Y160\n"
    "M2\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string table(reinterpret_cast<const char*>(data), size);
  cutcomp::fuzz::RunAndCheck({}, PROGRAM, &table);
  return 0;
}
