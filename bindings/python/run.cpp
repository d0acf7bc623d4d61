// SPDX-License-Identifier: MIT
// The run behind cutcomp.compensate: copies of the caller's segments go through the project's
// list host, and the tool-centre path is read back with the same tool-path model the
// command-line tool writes from, so the two cannot drift apart.
#include <cmath>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include <pybind11/stl.h>

#include "bindings.h"
#include "list_host.h"
#include "tool_path.h"

namespace py = pybind11;

namespace cutcomp::python {
namespace {

// A piece of path in the module's segment format: ("line", start, end) or
// ("arc", start, end, centre, ccw).
py::tuple CurveTuple(const Curve& curve) {
  if (!curve.arc) {
    return py::make_tuple("line", curve.from, curve.to);
  }
  return py::make_tuple("arc", curve.from, curve.to, curve.centre, curve.ccw);
}

// Returns (path, failure): path lists (piece, block, inserted) for every final segment that is
// not dropped, block being the index of the caller's segment (for an inserted line, of the
// segment it was inserted for); failure is None or (code, block, message).
py::tuple Run(const std::vector<const crc::CCrcNode*>& nodes, double radius, crc::crc_t strategy,
              unsigned int lookBehind, bool evade, int preRetract) {
  std::vector<std::unique_ptr<crc::CCrcNode>> program;
  program.reserve(nodes.size());
  for (const crc::CCrcNode* node : nodes) {
    if (node == nullptr) {
      throw py::value_error("a segment is None");
    }
    program.emplace_back(node->Clone());
  }
  py::list path;
  // The engine refuses a radius this small without a message; the path is the contour itself,
  // as the command-line tool passes a program through with radius 0.
  if (std::fabs(radius) < crc::EPSILON) {
    for (std::size_t i = 0; i < program.size(); ++i) {
      path.append(py::make_tuple(CurveTuple(ProgrammedCurve(*program[i])), i, false));
    }
    return py::make_tuple(path, py::none());
  }
  HostRun run;
  {
    py::gil_scoped_release released;  // the run touches no Python object
    crc::CCutterCompensator engine(radius, nullptr, lookBehind, strategy);
    engine.SetInterveneEvade(evade);
    engine.SetCrcPreRetractOption(preRetract);
    run = RunProgram(engine, std::move(program));
  }
  for (const HostSegment& segment : run.segments) {
    const PathPiece piece = ReadPiece(segment);
    if (!piece.dropped) {
      path.append(py::make_tuple(CurveTuple(piece.tool), piece.id, piece.inserted));
    }
  }
  if (run.ok) {
    return py::make_tuple(path, py::none());
  }
  return py::make_tuple(path,
                        py::make_tuple(run.failure.code, run.failure.id, run.failure.message));
}

}  // namespace

void BindRun(py::module_& m) {
  m.def("_run", &Run, py::arg("nodes"), py::arg("radius"), py::arg("strategy"),
        py::arg("look_behind"), py::arg("evade"), py::arg("pre_retract"),
        "The engine run behind compensate(); use compensate().");
}

}  // namespace cutcomp::python
