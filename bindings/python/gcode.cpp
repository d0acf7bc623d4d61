// SPDX-License-Identifier: MIT
// The run behind cutcomp.compensate_gcode: a program held in memory goes through the
// command-line tool's own pipeline (reader, fitting, compensation runs, G-code writer, JSON
// record) in memory, so that the module and the tool compensate a program alike; the module
// raises its exceptions from the result's records.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/stl.h>

#include "bindings.h"
#include "cli_options.h"
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

// Runs the tool on `text` as on a file called `name` with the command-line arguments `args` (a
// tool table held in memory as `tableText`, named by --tool-table in messages). Returns a dict:
// status (the exit status), program and record (the compensated program and the JSON record as
// bytes, None when not written), diagnostics (severity, place, text) in the order said, error
// (None or a dict). Raises ValueError for arguments the tool refuses.
py::dict Run(const std::string& text, const std::string& name, std::optional<std::string> tableText,
             const std::vector<std::string>& args) {
  cli::CommandLine line;
  if (const std::optional<std::string> wrong = cli::ParseArguments(args, line)) {
    throw py::value_error(*wrong);
  }
  cli::Program& program = line.program;
  program.name = name;
  program.text = text;
  program.toolTable = std::move(tableText);
  const cli::Options& options = line.options;
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
        py::arg("args"), "The run behind compensate_gcode(); use compensate_gcode().");
  // (option, keyword, kind, default): how compensate_gcode's keywords become the tool's options.
  m.def(
      "_gcode_options",
      [] {
        static const char* const KIND[] = {"value", "flag", "negated"};
        py::list rows;
        for (const cli::OptionKeyword& row : cli::OptionKeywords()) {
          rows.append(py::make_tuple(
              row.flag, row.keyword != nullptr ? py::str(row.keyword) : py::object(py::none()),
              KIND[row.kind],
              row.pythonDefault != nullptr ? py::str(row.pythonDefault) : py::object(py::none())));
        }
        return rows;
      },
      "The table behind compensate_gcode's keywords.");
}

}  // namespace cutcomp::python
