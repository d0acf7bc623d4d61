// SPDX-License-Identifier: MIT
// The command line's options, defined once. The tool parses its arguments with these
// definitions, and the Python module turns its keywords into arguments (OptionKeywords says
// which keyword is which option) and parses them with the same definitions, so that both read
// an option, its checks and its default alike. A test holds the module's signature and defaults
// to the table, and the table to the definitions.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "options.h"
#include "pipeline.h"

namespace CLI {  // NOLINT(readability-identifier-naming): the parser library's own name
class App;
}

namespace cutcomp::cli {

// What a command line sets: the program and the options.
struct CommandLine {
  Program program;
  Options options;
  // Flags that say what the options hold the other way round (Complete applies them).
  bool noFit = false;
  bool noVerify = false;
  bool strictInterference = false;
};

// Every option of the tool, bound to `line` (help and version aside: the tool's own).
void DefineOptions(CLI::App& app, CommandLine& line);
// After a parse: the flags applied to the options, and "-" for no program or output named.
void Complete(CommandLine& line);
// Parses `args` (no program name in front) into `line`; the parser's message when one is wrong.
std::optional<std::string> ParseArguments(const std::vector<std::string>& args, CommandLine& line);

// How compensate_gcode's keywords become the tool's options.
struct OptionKeyword {
  const char* flag;     // the option's long name
  const char* keyword;  // the Python keyword; nullptr: the command line's alone
  enum Kind {
    VALUE,    // --flag=value, left out when the keyword holds the default
    FLAG,     // --flag when the keyword is true
    NEGATED,  // --flag when the keyword is false
  } kind;
  const char* pythonDefault;  // the keyword's default, as a Python literal: the tool's default
};
const std::vector<OptionKeyword>& OptionKeywords();

}  // namespace cutcomp::cli
