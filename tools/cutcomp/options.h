// SPDX-License-Identifier: MIT
// The settings of the command-line tool: what the command line and the Python module set, with
// the tool's defaults.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <crc/crc.h>

#include "block.h"
#include "language.h"

namespace cutcomp::cli {

// How a run that ends without a cancel move is closed (the engine's pre-retract option).
enum class RunEnd { LINE = 0, STAY = 1, NONE = 2 };

// The tool's settings, as the command line gives them (the program itself is no option:
// Program, pipeline.h).
struct Options {
  std::string output = "-";  // "-": standard output
  std::string svg;           // empty: none
  std::string json;          // empty: none
  std::string html;          // empty: none
  std::string toolTable;
  std::optional<Units> toolUnits;
  std::optional<double> radius;
  std::optional<double> arcTolerance;
  crc::crc_t start = crc::CRC_TYPE_NORMAL;
  unsigned int lookBehind = 3;
  bool evade = false;
  // Posted curves (short chords rounded to a few decimals) pass the interference test with the
  // engine's CAM tolerances; --strict-interference: the plain test.
  bool camTolerance = true;
  // A path that comes back to where it has been (an outline closed and run on, a second lap, a
  // hole left by a lead-out) passes the interference test with the engine's closure tolerance;
  // --strict-interference: the plain test.
  bool closureTolerance = true;
  // Start-ups that controllers make: an entry move after which the tool already stands beside
  // the contour, and an arc as the entry move (started by insertion whatever --start says).
  bool startInPlace = true;
  bool arcStartup = true;
  // Runs of short chords are fitted by lines and arcs before compensation (--no-fit: not), within
  // this tolerance in the program's units (none: the default for the units, fit_stage.h).
  bool fit = true;
  std::optional<double> fitTolerance;
  RunEnd end = RunEnd::STAY;
  bool locateRapids = false;
  std::optional<int> precision;
  bool verbose = false;  // the engine's own message beside the English one
  // Directories searched for a called subroutine's file after the program's own directory,
  // colon-separated.
  std::string subroutinePath;
  // Lines run or passed over before a run is stopped as a loop that does not end.
  std::uint64_t maxBlocks = 100000000;
  // The program's language: recognised from the program unless given.
  language::Dialect dialect = language::Dialect::AUTO;
  // The machine's block-delete switch is on: lines starting with '/' are skipped.
  bool blockDelete = false;
  // How a Fanuc-family coordinate word without a decimal point is read.
  language::IntegerWords integerWords = language::IntegerWords::WARN;
  bool traceSource = false;  // every written line names its source line in a comment
  // Every compensated piece is measured against the whole program's contour (--no-verify: not),
  // within this tolerance in the program's units (none: the default for the units,
  // audit/gouge_check.h). A gouging program is written only with `allowGouge`.
  bool verify = true;
  std::optional<double> gougeTolerance;
  bool allowGouge = false;
  // Runs the engine refuses or the audit would hold back are written with the gouge-free path
  // (crc/avoid/gouge_free.h) instead: material is left where the cutter does not fit, each place
  // said as a warning, and the run ends with MATERIAL_LEFT. Runs that compensate cleanly are
  // written as without it.
  bool avoid = false;
  // The top of the work along the plane's normal: moves at or above it are not audited (none:
  // the highest height from which the program feeds downwards, when it does).
  std::optional<double> stockTop;
  // A lathe's offset list (nose radius R and tip T by offset number, as T0101 selects them);
  // empty: none.
  std::string offsetList;
  // Offset registers (D<n> radius, wear), as the control's offset page lists them; empty: none.
  std::string offsets;
  // A Fanuc-family lathe's G71/G72 written as the moves they make; the retract after each pass
  // where the program does not give it.
  bool expandCycles = false;
  std::optional<double> cycleRetract;
};

}  // namespace cutcomp::cli
