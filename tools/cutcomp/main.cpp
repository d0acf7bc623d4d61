// SPDX-License-Identifier: MIT
// cutcomp: compensate the cutter radius of a G-code part program. Parses the command line, runs
// the pipeline (pipeline.h), prints what it says and exits with its status.
#include <cstdio>
#include <exception>
#include <string>

#include <CLI/CLI.hpp>

#include "cli_options.h"
#include "pipeline.h"

#ifndef CUTCOMP_VERSION
#define CUTCOMP_VERSION "unknown"
#endif

namespace {

int Main(int argc, char** argv) {
  cutcomp::cli::CommandLine line;
  CLI::App app;
  app.set_version_flag("--version", std::string("cutcomp ") + CUTCOMP_VERSION);
  cutcomp::cli::DefineOptions(app, line);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int code = app.exit(error);
    // Help and version are successes; every other command-line error is bad input.
    return code == 0 ? 0 : cutcomp::cli::EXIT_BAD_INPUT;
  }
  cutcomp::cli::Complete(line);
  // Every message is printed as it is said: a long run shows its warnings as it goes.
  cutcomp::cli::Capture capture;
  capture.said = [](const cutcomp::cli::Diagnostic& diagnostic) {
    std::fputs(cutcomp::cli::FormatDiagnostic(diagnostic).c_str(), stderr);
  };
  return static_cast<int>(cutcomp::cli::Run(line.program, line.options, capture).status);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& error) {
    // Out of memory or a failure deep in a library: report it rather than abort.
    std::fprintf(stderr, "cutcomp: error: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "cutcomp: error: unexpected failure\n");
  }
  return cutcomp::cli::EXIT_BAD_INPUT;
}
