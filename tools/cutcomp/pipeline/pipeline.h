// SPDX-License-Identifier: MIT
// The command-line tool as one call: a program and the options in, the result out as data. The
// program is read and executed, its compensation runs go through the engine's host, the written
// program and its reports stream to their targets, and the path is audited for gouges at the
// end. `main` only parses the command line, calls Run, prints and sets the exit code; the Python
// module calls Run on a program held in memory.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "options.h"
#include "result.h"

namespace cutcomp::cli {

// The program to compensate.
struct Program {
  // The file to read ("-": standard input), or, with `text`, the name messages give the program
  // held in memory (subroutine files are looked for in its directory).
  std::string name = "-";
  std::optional<std::string> text;
  // A tool table held in memory, read instead of the file Options::toolTable names (which then
  // only names it in messages).
  std::optional<std::string> toolTable;
};

// What the caller keeps of the run beside the files Options names.
struct Capture {
  bool program = false;  // Result::program: the compensated program (Options::output unused)
  bool json = false;     // Result::json: the JSON record (Options::json unused)
  bool record = false;   // Result::record: every piece of the written path
  // Told of every message as it is said (the terminal prints them as they come).
  std::function<void(const Diagnostic&)> said;
};

// Runs the whole job. Never throws for bad input (the result says what is wrong); may throw
// std::bad_alloc.
Result Run(const Program& program, const Options& options, const Capture& capture = {});

// Run with every message printed to `diagnostics` as it is said; the exit code.
inline int RunPrinting(const Program& program, const Options& options, std::FILE* diagnostics) {
  Capture capture;
  capture.said = [diagnostics](const Diagnostic& diagnostic) {
    std::fputs(FormatDiagnostic(diagnostic).c_str(), diagnostics);
  };
  return static_cast<int>(Run(program, options, capture).status);
}

}  // namespace cutcomp::cli
