// SPDX-License-Identifier: MIT
// Runs the built cutcomp executable for the end-to-end tests: arguments in, exit code, standard
// output, standard error and the child's peak resident memory out.
#pragma once

#include <string>
#include <vector>

namespace cutcomp::test {

struct ProcessResult {
  int exitCode = -1;  // -1: did not exit normally (signal)
  std::string out;
  std::string err;
  long peakRssKiB = 0;  // the child's own maximum resident set size
};

// Runs `program` with `args` in `workDir` (empty: the current directory), standard input read
// from `input` (empty: /dev/null), standard output and error captured through temporary files.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workDir = "", const std::string& input = "");

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);
// A fresh empty directory under the system's temporary directory.
std::string MakeTempDir();

}  // namespace cutcomp::test
