// SPDX-License-Identifier: MIT
// What a run of the tool comes to, as data: its status, the error that stopped it, the
// warnings, the gouges, and every message in the words the tool says it. `main` prints the
// messages and turns the status into the exit code; the Python module raises its exceptions
// from the same records.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "reports.h"

namespace cutcomp::cli {

// How a run ends; the numbers are the exit codes.
enum class Status {
  OK = 0,
  COMPENSATION_FAILED = 1,  // the engine refused a block: written up to it
  BAD_INPUT = 2,            // a file cannot be read or written, or the program is wrong
  GOUGE = 3,                // the path comes closer to the programmed contour than the radius
  MATERIAL_LEFT = 4,        // --avoid: written, with material left where the cutter does not fit
};
inline constexpr int EXIT_OK = static_cast<int>(Status::OK);
inline constexpr int EXIT_COMPENSATION_FAILED = static_cast<int>(Status::COMPENSATION_FAILED);
inline constexpr int EXIT_BAD_INPUT = static_cast<int>(Status::BAD_INPUT);
inline constexpr int EXIT_GOUGE = static_cast<int>(Status::GOUGE);
inline constexpr int EXIT_MATERIAL_LEFT = static_cast<int>(Status::MATERIAL_LEFT);

// One message, as the tool says it on a line of its own: "PLACE: SEVERITY: TEXT".
struct Diagnostic {
  enum Severity { ERROR, WARNING, NOTE } severity = WARNING;
  // Where: "part.ngc:40:7: in o<pocket> called from part.ngc:12", or a file's name alone for a
  // message about the whole file.
  std::string place;
  std::string text;
};
// The line the tool prints for `diagnostic`, its line break included.
std::string FormatDiagnostic(const Diagnostic& diagnostic);

struct Result {
  Status status = Status::OK;
  std::optional<ErrorRecord> error;  // what stopped the run (COMPENSATION_FAILED, BAD_INPUT)
  // The warnings about blocks as said (no more than MAX_WARNINGS; the page lists every one),
  // and how many more were only counted.
  std::vector<WarningRecord> warnings;
  std::size_t warningsSuppressed = 0;
  bool audited = false;  // the whole path was measured for gouges (not with --no-verify)
  std::vector<GougeRecord> gouges;
  // With --avoid: every place where the written path leaves material, in program order.
  std::vector<MaterialRecord> left;
  // The stretches of the contour that are no walls, when the picture asked for them.
  std::vector<OpenRecord> open;
  // Every piece of the written path, when the caller asked to keep them (Capture::record), as
  // the reports have them (the line's text left out: its file and line name it).
  std::vector<PieceRecord> record;
  // The compensated program and the JSON record, when the caller asked to keep them in memory
  // (Capture) and they were written: not after bad input, nor the program after a gouge unless
  // --allow-gouge.
  std::optional<std::string> program;
  std::optional<std::string> json;
  // Everything the tool says, in order: errors, warnings (no more than MAX_WARNINGS about
  // blocks, then one saying the rest are suppressed), notes and summaries.
  std::vector<Diagnostic> diagnostics;
};

// The warnings said about blocks before the rest are only counted (the page lists all).
inline constexpr std::size_t MAX_WARNINGS = 20;

}  // namespace cutcomp::cli
