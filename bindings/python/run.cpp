// SPDX-License-Identifier: MIT
// The calls behind cutcomp.compensate and cutcomp.audit: the library's one-call API
// (crc/path.h), the same the C++ and C hosts and the command-line tool's host use, with the
// caller's segments converted to a path and the results to plain tuples.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <pybind11/stl.h>

#include <crc/path.h>

#include "bindings.h"

namespace py = pybind11;

namespace cutcomp::python {
namespace {

// A piece of path in the module's segment format: ("line", start, end) or
// ("arc", start, end, centre, ccw).
py::tuple CurveTuple(const crc::Curve& curve) {
  if (!curve.arc) {
    return py::make_tuple("line", curve.from, curve.to);
  }
  return py::make_tuple("arc", curve.from, curve.to, curve.centre, curve.ccw);
}

// The caller's segments as a path, each with its index as id.
crc::Path PathOf(const std::vector<const crc::CCrcNode*>& nodes) {
  crc::Path path;
  path.reserve(nodes.size());
  for (const crc::CCrcNode* node : nodes) {
    if (node == nullptr) {
      throw py::value_error("a segment is None");
    }
    crc::PathSegment segment;
    segment.curve = ProgrammedCurve(*node);
    segment.phase = node->GetStatusType();
    segment.side = node->GetCrcDirType();
    segment.locate = node->GetNodeType() == crc::NODE_LINE &&
                     static_cast<const crc::CCrcLine*>(node)->IsLocate();
    segment.id = static_cast<std::int64_t>(path.size());
    path.push_back(segment);
  }
  return path;
}

// Returns (path, failure): path lists (piece, block, inserted) for every final piece that is not
// dropped, block being the index of the caller's segment it stands for (for an inserted line, of
// the segment it was inserted for; for a piece fitted to chords, of the first chord); failure is
// None or (input, code, block, message, gloss). With `avoid` a third item, (left, avoided): the
// places a gouge-free path leaves material and the runs it was asked for, as dicts; else None.
py::tuple Compensate(const std::vector<const crc::CCrcNode*>& nodes, double radius,
                     crc::crc_t strategy, unsigned int lookBehind, bool evade, int end, bool fit,
                     std::optional<double> fitTolerance, bool camTolerance, bool strictStartup,
                     int units, std::optional<double> arcTolerance, bool avoid,
                     std::optional<double> avoidTolerance) {
  const crc::Path path = PathOf(nodes);
  crc::CompensateOptions options(radius);
  options.start = strategy;
  options.lookBehind = lookBehind;
  options.evade = evade;
  options.end = static_cast<crc::crc_end_t>(end);
  options.fit = fit;
  options.fitTolerance = fitTolerance;
  // strict_interference turns off both tolerances, as the tool's --strict-interference does.
  options.camTolerance = camTolerance;
  options.closureTolerance = camTolerance;
  options.startInPlace = !strictStartup;
  options.arcStartup = !strictStartup;
  options.units = static_cast<crc::crc_unit_t>(units);
  options.arcTolerance = arcTolerance;
  options.avoid = avoid;
  options.avoidTolerance = avoidTolerance;
  crc::CompensateResult result;
  {
    py::gil_scoped_release released;  // the run touches no Python object
    result = crc::Compensate(path, options);
  }
  py::list pieces;
  for (const PathPiece& piece : result.path) {
    if (!piece.dropped) {
      pieces.append(py::make_tuple(CurveTuple(piece.tool), piece.id, piece.inserted));
    }
  }
  py::object avoiding = py::none();
  if (avoid) {
    static const char* const CAUSES[] = {"narrow", "small arc", "unreached"};
    // The path handed back leaves dropped pieces out: before and after index it.
    std::vector<std::size_t> position(result.path.size() + 1, 0);
    for (std::size_t k = 0; k < result.path.size(); ++k) {
      position[k + 1] = position[k] + (result.path[k].dropped ? 0 : 1);
    }
    const auto at = [&position](std::size_t k) {
      return position[std::min(k, position.size() - 1)];
    };
    py::list left;
    for (const crc::MaterialLeft& place : result.left) {
      py::dict one;
      one["first_id"] = place.firstId;
      one["last_id"] = place.lastId;
      one["depth"] = place.depth;
      one["wall_point"] = place.wallPoint;
      one["wall_id"] = place.wallId;
      one["extent"] = place.extent;
      one["before"] = at(place.before);
      one["after"] = at(place.after);
      one["cause"] = CAUSES[place.cause];
      left.append(one);
    }
    py::list avoided;
    for (const crc::AvoidedRun& run : result.avoided) {
      py::dict one;
      one["first_id"] = run.firstId;
      one["last_id"] = run.lastId;
      one["engine_code"] = run.engineCode;
      one["engine_gouges"] = run.engineGouges;
      one["written"] = run.written;
      one["error"] = run.error;
      avoided.append(one);
    }
    avoiding = py::make_tuple(left, avoided);
  }
  if (result.ok) {
    return py::make_tuple(pieces, py::none(), avoiding);
  }
  const crc::PathFailure& f = result.failure;
  return py::make_tuple(pieces, py::make_tuple(f.input, f.code, f.index, f.message, f.gloss),
                        avoiding);
}

// Returns (error, gouges): error is None when every piece was measured, else why not; gouges
// lists (piece, piece_block, segment, segment_block, tool_point, wall_point, clearance, depth).
// `pieces` are (kind, start, end, centre, ccw, block) with kind "line" or "arc".
py::tuple Audit(
    const std::vector<const crc::CCrcNode*>& contour,
    const std::vector<std::tuple<std::string, crc::__point2<double>, crc::__point2<double>,
                                 crc::__point2<double>, bool, std::int64_t>>& pieces,
    double radius, double tolerance) {
  const crc::Path walls = PathOf(contour);
  crc::Path tool;
  tool.reserve(pieces.size());
  for (const auto& [kind, from, to, centre, ccw, block] : pieces) {
    crc::PathSegment segment;
    segment.curve.arc = kind == "arc";
    segment.curve.from = from;
    segment.curve.to = to;
    segment.curve.centre = centre;
    segment.curve.ccw = ccw;
    // exact: compensate() gives a whole turn with its end repeating its start
    segment.curve.fullCircle = segment.curve.arc && from == to;
    segment.id = block;
    tool.push_back(segment);
  }
  crc::AuditResult result;
  {
    py::gil_scoped_release released;
    result = crc::Audit(walls, tool, radius, tolerance);
  }
  if (!result.ok) {
    return py::make_tuple(result.error, py::list());
  }
  py::list gouges;
  for (const crc::Gouge& g : result.gouges) {
    gouges.append(py::make_tuple(g.piece, g.pieceId, g.segment, g.segmentId, g.toolPoint,
                                 g.wallPoint, g.clearance, g.depth));
  }
  return py::make_tuple(py::none(), gouges);
}

}  // namespace

void BindRun(py::module_& m) {
  m.def("_compensate", &Compensate, py::arg("nodes"), py::arg("radius"), py::arg("strategy"),
        py::arg("look_behind"), py::arg("evade"), py::arg("end"), py::arg("fit"),
        py::arg("fit_tolerance"), py::arg("cam_tolerance"), py::arg("strict_startup"),
        py::arg("units"), py::arg("arc_tolerance"), py::arg("avoid"), py::arg("avoid_tolerance"),
        "The library call behind compensate(); use compensate().");
  m.def("_audit", &Audit, py::arg("contour"), py::arg("pieces"), py::arg("radius"),
        py::arg("tolerance"), "The library call behind audit(); use audit().");
}

}  // namespace cutcomp::python
