// SPDX-License-Identifier: MIT
// The run behind cutcomp.compensate_gcode: a program held in memory goes through the
// command-line tool's own pipeline (reader, fitting, compensation runs, G-code writer, JSON
// record) in memory, so that the module and the tool compensate a program alike; the module
// raises its exceptions from the result's records.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include <pybind11/stl.h>

#include "bindings.h"
#include "pipeline.h"

namespace py = pybind11;

namespace cutcomp::python {
namespace {

py::object Optional(const std::optional<std::string>& text) {
  return text ? py::object(py::bytes(*text)) : py::object(py::none());
}

// Texts go over as bytes: a message may quote a program's line in any encoding.
py::dict ErrorDict(const cli::ErrorRecord& error) {
  py::dict d;
  d["file"] = py::bytes(error.file);
  d["line"] = error.line;
  d["col"] = error.col;
  d["place"] = py::bytes(error.place);
  d["compensation"] = error.compensation;
  d["code"] = error.code;
  d["message"] = py::bytes(error.message);
  d["engine_message"] = py::bytes(error.engineMessage);
  return d;
}

// Runs the tool on `text` as on a file called `name` (a tool table held in memory as
// `tableText`, named `toolTable` in messages). Returns a dict: status (the exit status),
// program and record (the compensated program and the JSON record as bytes, None when not
// written), diagnostics (severity, place, text) in the order said, error (None or a dict).
py::dict Run(const std::string& text, const std::string& name, std::optional<std::string> tableText,
             std::optional<double> radius, const std::string& toolTable,
             std::optional<std::string> toolUnits, std::optional<double> arcTolerance,
             crc::crc_t start, unsigned int lookBehind, bool evade, bool fit,
             std::optional<double> fitTolerance, int end, bool locateRapids,
             std::optional<int> precision, const std::string& subroutinePath,
             std::uint64_t maxBlocks, bool traceSource, bool verify,
             std::optional<double> gougeTolerance, bool allowGouge, bool camTolerance) {
  cli::Options options;
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
  cli::Program program;
  program.name = name;
  program.text = text;
  program.toolTable = std::move(tableText);
  cli::Capture capture;
  capture.program = true;
  capture.json = true;
  cli::Result result;
  {
    py::gil_scoped_release released;  // the run touches no Python object
    result = cli::Run(program, options, capture);
  }
  py::list diagnostics;
  static const char* const SEVERITY[] = {"error", "warning", "note"};
  for (const cli::Diagnostic& d : result.diagnostics) {
    diagnostics.append(py::make_tuple(SEVERITY[d.severity], py::bytes(d.place), py::bytes(d.text)));
  }
  py::dict out;
  out["status"] = static_cast<int>(result.status);
  out["program"] = Optional(result.program);
  out["record"] = Optional(result.json);
  out["diagnostics"] = diagnostics;
  out["error"] = result.error ? py::object(ErrorDict(*result.error)) : py::object(py::none());
  return out;
}

}  // namespace

void BindGcode(py::module_& m) {
  m.def("_run_gcode", &Run, py::arg("text"), py::arg("name"), py::arg("table_text"),
        py::arg("radius"), py::arg("tool_table"), py::arg("tool_units"), py::arg("arc_tolerance"),
        py::arg("start"), py::arg("look_behind"), py::arg("evade"), py::arg("fit"),
        py::arg("fit_tolerance"), py::arg("end"), py::arg("locate_rapids"), py::arg("precision"),
        py::arg("subroutine_path"), py::arg("max_blocks"), py::arg("trace_source"),
        py::arg("verify"), py::arg("gouge_tolerance"), py::arg("allow_gouge"),
        py::arg("cam_tolerance"), "The run behind compensate_gcode(); use compensate_gcode().");
}

}  // namespace cutcomp::python
