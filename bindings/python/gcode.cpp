// SPDX-License-Identifier: MIT
// The run behind cutcomp.compensate_gcode: a program held in memory goes through the
// command-line tool's own pipeline (reader, fitting, compensation runs, G-code writer, JSON
// record), so that the module and the tool compensate a program alike.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>

#include <pybind11/stl.h>

#include "bindings.h"
#include "driver.h"

namespace py = pybind11;

namespace cutcomp::python {
namespace {

// A temporary stream, closed with its owner.
struct TempFile {
  std::FILE* file = std::tmpfile();
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (file != nullptr) {
      std::fclose(file);
    }
  }
};

std::string ReadAll(std::FILE* file) {
  std::string text;
  std::rewind(file);
  char buffer[1 << 14];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    text.append(buffer, n);
  }
  return text;
}

// Runs the tool on `text` as on a file called `name`, writing the program to `output` and the
// record to `json`. Returns (exit status, the tool's messages).
py::tuple Run(const std::string& text, const std::string& name, const std::string& output,
              const std::string& json, std::optional<double> radius, const std::string& toolTable,
              std::optional<std::string> toolUnits, std::optional<double> arcTolerance,
              crc::crc_t start, unsigned int lookBehind, bool evade, bool fit,
              std::optional<double> fitTolerance, int end, bool locateRapids,
              std::optional<int> precision, const std::string& subroutinePath,
              std::uint64_t maxBlocks, bool traceSource, bool verify,
              std::optional<double> gougeTolerance, bool allowGouge, bool camTolerance) {
  cli::Options options;
  options.input = name;
  options.output = output;
  options.json = json;
  options.radius = radius;
  options.toolTable = toolTable;
  if (toolUnits) {
    options.toolUnits = *toolUnits == "inch" ? cli::Units::INCH : cli::Units::MM;
  }
  options.arcTolerance = arcTolerance;
  options.start = start;
  options.lookBehind = lookBehind;
  options.evade = evade;
  options.fit = fit;
  options.fitTolerance = fitTolerance;
  options.end = static_cast<cli::RunEnd>(end);
  options.locateRapids = locateRapids;
  options.precision = precision;
  options.verbose = true;
  options.subroutinePath = subroutinePath;
  options.maxBlocks = maxBlocks;
  options.traceSource = traceSource;
  options.verify = verify;
  options.gougeTolerance = gougeTolerance;
  options.allowGouge = allowGouge;
  options.camTolerance = camTolerance;
  // strict_interference turns both off, as the tool's flag does.
  options.closureTolerance = camTolerance;
  TempFile input;
  TempFile diagnostics;
  if (input.file == nullptr || diagnostics.file == nullptr ||
      std::fwrite(text.data(), 1, text.size(), input.file) != text.size() ||
      std::fflush(input.file) != 0) {
    throw std::runtime_error("cannot create a temporary file for the program");
  }
  std::rewind(input.file);
  options.inputStream = input.file;
  int status = 0;
  {
    py::gil_scoped_release released;  // the run touches no Python object
    status = cli::RunCutcomp(options, diagnostics.file);
  }
  return py::make_tuple(status, ReadAll(diagnostics.file));
}

}  // namespace

void BindGcode(py::module_& m) {
  m.def("_run_gcode", &Run, py::arg("text"), py::arg("name"), py::arg("output"), py::arg("json"),
        py::arg("radius"), py::arg("tool_table"), py::arg("tool_units"), py::arg("arc_tolerance"),
        py::arg("start"), py::arg("look_behind"), py::arg("evade"), py::arg("fit"),
        py::arg("fit_tolerance"), py::arg("end"), py::arg("locate_rapids"), py::arg("precision"),
        py::arg("subroutine_path"), py::arg("max_blocks"), py::arg("trace_source"),
        py::arg("verify"), py::arg("gouge_tolerance"), py::arg("allow_gouge"),
        py::arg("cam_tolerance"), "The run behind compensate_gcode(); use compensate_gcode().");
}

}  // namespace cutcomp::python
