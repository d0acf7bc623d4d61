// SPDX-License-Identifier: MIT
// Fuzz target: the bytes are a tool table, used by a fixed program that compensates with three
// of its tools (by D, by D on the other side around arcs, and by the loaded tool), and by a
// Fanuc-family program whose D words name offset registers and which reads them back through
// system variables. Whatever the table holds, the tool refuses it naming its line, or
// compensates by what it says (cli_checks.h). The same bytes read as an offset list (--offsets)
// are registers or an error naming the line.
#include <cstdint>
#include <cstdio>
#include <string>

#include "block_source.h"
#include "cli_checks.h"
#include "tool_table.h"

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

const std::string FANUC_PROGRAM =
    "%\n"
    "O0023\n"
    "G00 G17 G21 G40 G90\n"
    "T1 D11 M06\n"
    "#1= #2611 + #2411\n"
    "G00 X[-20. - #1] Y0.\n"
    "G01 G41 X0. Y0. F200.\n"
    "Y20.\n"
    "X20.\n"
    "G40 X30. Y30.\n"
    "G10 L12 P12 R[#13001]\n"
    "G00 X-10. Y-10.\n"
    "G42 D12 G01 X0. Y0.\n"
    "X20.\n"
    "G40 X30. Y-10.\n"
    "M30\n"
    "%\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string table(reinterpret_cast<const char*>(data), size);
  cutcomp::fuzz::RunAndCheck({}, PROGRAM, &table);
  cutcomp::fuzz::RunAndCheck({}, FANUC_PROGRAM, &table);
  if (std::FILE* file = fmemopen(const_cast<char*>(table.data()), table.size(), "rb")) {
    cutcomp::cli::ToolTable registers;
    try {
      registers.LoadRegisters(file);
    } catch (const cutcomp::cli::InputError&) {
      // named in the error; what it says is checked by the refusal rows
    }
    std::fclose(file);
  }
  return 0;
}
