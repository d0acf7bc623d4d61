// SPDX-License-Identifier: MIT
// The segment classes. Every accessor is bound twice: under its C++ name with the C++ meaning
// (getters return what the segment holds, setters return the engine's bool), and as a Pythonic
// property that reads None where the segment holds the unset marker and raises ValueError where
// the C++ setter refuses a value.
#include <string>
#include <type_traits>
#include <utility>

#include "bindings.h"

namespace py = pybind11;

namespace cutcomp::python {
namespace {

using crc::CCrcArc;
using crc::CCrcLine;
using crc::CCrcNode;
using Point = crc::__point2<double>;

bool IsUnset(double v) { return v == crc::INVALID_VALUE; }  // exact: the unset marker

// What a Pythonic getter returns: None for an unset point or number, the value otherwise.
py::object Out(const Point& p) {
  return IsUnset(p.x) && IsUnset(p.y) ? py::object(py::none()) : py::cast(p);
}
py::object Out(double v) { return IsUnset(v) ? py::object(py::none()) : py::float_(v); }
template <typename T>
py::object Out(const T& v) {
  return py::cast(v);
}

// What a Pythonic setter hands the C++ setter: None stands for the unset marker.
template <typename T>
T In(const py::object& v) {
  if constexpr (std::is_same_v<T, Point>) {
    if (v.is_none()) {
      return Point(crc::INVALID_VALUE, crc::INVALID_VALUE);
    }
  } else if constexpr (std::is_same_v<T, double>) {
    if (v.is_none()) {
      return crc::INVALID_VALUE;
    }
  }
  return v.cast<T>();
}

template <typename Get, typename C>
using ValueOf = std::decay_t<decltype((std::declval<const C&>().*std::declval<Get>())())>;

// Binds getter and setter under their C++ names and as the read-write property `property`.
template <typename C, typename... Extra, typename Get, typename Set>
void Property(py::class_<C, Extra...>& cls, const char* getName, const char* setName,
              const char* property, Get get, Set set, const char* doc) {
  using T = ValueOf<Get, C>;
  cls.def(
      getName, [get](const C& self) { return (self.*get)(); }, doc);
  cls.def(
      setName, [set](C& self, const T& value) { return (self.*set)(value); }, py::arg("value"),
      doc);
  cls.def_property(
      property, [get](const C& self) { return Out((self.*get)()); },
      [set, setName](C& self, const py::object& value) {
        if constexpr (std::is_same_v<decltype((self.*set)(In<T>(value))), bool>) {
          if (!(self.*set)(In<T>(value))) {
            throw py::value_error(std::string(setName) + " refused the value");
          }
        } else {
          (void)setName;  // a setter that cannot refuse
          (self.*set)(In<T>(value));
        }
      },
      doc);
}

// A getter without a setter: bound under its C++ name and as a read-only property.
template <typename C, typename... Extra, typename Get>
void Getter(py::class_<C, Extra...>& cls, const char* getName, const char* property, Get get,
            const char* doc) {
  cls.def(
      getName, [get](C& self) { return (self.*get)(); }, doc);
  cls.def_property_readonly(
      property, [get](C& self) { return Out((self.*get)()); }, doc);
}

// A method bound under both names.
template <typename Cls, typename F, typename... Extra>
void Method(Cls& cls, const char* cppName, const char* pyName, F&& f, const Extra&... extra) {
  cls.def(cppName, f, extra...);
  cls.def(pyName, std::forward<F>(f), extra...);
}

std::string Repr(CCrcNode& node) {
  const py::str points =
      py::str("{} -> {}").format(py::cast(node.GetStartPoint()), py::cast(node.GetEndPoint()));
  std::string text = (node.GetNodeType() == crc::NODE_ARC ? "Arc(" : "Line(") + std::string(points);
  if (node.GetNodeType() == crc::NODE_ARC) {
    const auto& arc = static_cast<const CCrcArc&>(node);
    text += py::str(" about {} {}")
                .format(py::cast(arc.GetCenterPoint()), arc.GetDirection() ? "ccw" : "cw");
  }
  text += py::str(", {}, {}")
              .format(py::cast(node.GetStatusType()).attr("name"),
                      py::cast(node.GetCrcDirType()).attr("name"));
  return text + (node.IsValidNode() ? ")" : ", dropped)");
}

}  // namespace

void BindNodes(py::module_& m) {
  py::class_<CCrcNode> node(m, "CCrcNode",
                            "A motion segment (abstract: make a Line or an Arc). Programmed "
                            "geometry is set by the host; the engine writes the offset "
                            "(tool-centre) points and the intersect point back into it.");
  Property(node, "GetStartPoint", "SetStartPoint", "start", &CCrcNode::GetStartPoint,
           &CCrcNode::SetStartPoint, "programmed start point");
  Property(node, "GetEndPoint", "SetEndPoint", "end", &CCrcNode::GetEndPoint,
           &CCrcNode::SetEndPoint, "programmed end point");
  Property(node, "GetStartPointMoved", "SetStartPointMoved", "start_moved",
           &CCrcNode::GetStartPointMoved, &CCrcNode::SetStartPointMoved,
           "offset (tool-centre) start point");
  Property(node, "GetEndPointMoved", "SetEndPointMoved", "end_moved", &CCrcNode::GetEndPointMoved,
           &CCrcNode::SetEndPointMoved, "offset (tool-centre) end point");
  Property(node, "GetIntersectPoint", "SetIntersectPoint", "intersect",
           &CCrcNode::GetIntersectPoint, &CCrcNode::SetIntersectPoint,
           "where the offset path begins, written while the previous segment is adjusted");
  Property(node, "GetCrcDirType", "SetCrcDirType", "side", &CCrcNode::GetCrcDirType,
           &CCrcNode::SetCrcDirType, "compensation side (Side)");
  Property(node, "GetNodeType", "SetNodeType", "kind", &CCrcNode::GetNodeType,
           &CCrcNode::SetNodeType, "segment kind (Kind)");
  Property(node, "GetStatusType", "SetStatusType", "phase", &CCrcNode::GetStatusType,
           &CCrcNode::SetStatusType, "compensation phase (Phase)");
  Property(node, "HasBeenCrc", "SetHasBeenCrc", "compensated", &CCrcNode::HasBeenCrc,
           &CCrcNode::SetHasBeenCrc, "the engine has finished this segment");
  Getter(node, "IsValidNode", "valid", &CCrcNode::IsValidNode,
         "False once interference evasion has dropped the segment from the tool path");
  Getter(node, "GetLength", "length", &CCrcNode::GetLength, "programmed length");
  Method(node, "SetAsInvalidNode", "set_as_invalid_node", &CCrcNode::SetAsInvalidNode,
         "Mark the segment as dropped from the tool path (terminal).");
  Method(node, "CheckMovedValid", "check_moved_valid", &CCrcNode::CheckMovedValid,
         "False when the offset chord runs against the programmed chord and is longer than "
         "0.005.");
  Method(node, "CheckCanBeCrcMove", "check_can_be_crc_move", &CCrcNode::CheckCanBeCrcMove,
         py::arg("radius"), "Whether the segment can be offset by the cutter radius.");
  Method(node, "CrcMove", "crc_move", &CCrcNode::CrcMove, py::arg("radius"),
         "Compute the offset points for the radius on the segment's side; False on failure.");
  Method(node, "Clone", "clone", &CCrcNode::Clone, py::return_value_policy::take_ownership,
         "An independent copy of the same kind.");
  node.def("__repr__", &Repr);

  py::class_<CCrcLine, CCrcNode> line(m, "CCrcLine", "A straight motion segment.");
  line.def(py::init<>(), "A segment with every point unset.");
  line.def(
      py::init<const Point&, Point, const crc::crc_status_t&, const crc::crc_dir_t&, const bool&>(),
      py::arg("start"), py::arg("end"), py::arg("phase") = crc::CRC_STATUS_DOING,
      py::arg("side") = crc::CRC_DIR_LEFT, py::arg("locate") = false,
      "A line from start to end. A locate line is a positioning move: never offset, joined "
      "to its neighbours' offset paths.");
  Property(line, "IsLocate", "SetLocate", "locate", &CCrcLine::IsLocate, &CCrcLine::SetLocate,
           "positioning move, not offset");
  Getter(line, "GetVector", "vector", &CCrcLine::GetVector, "end minus start");

  py::class_<CCrcArc, CCrcNode> arc(m, "CCrcArc", "A circular-arc motion segment.");
  arc.def(py::init<>(), "An arc with every point and angle unset.");
  arc.def(py::init<const Point&, const Point&, const Point&, const double&, const bool&,
                   const crc::crc_status_t&, const crc::crc_dir_t&>(),
          py::arg("center"), py::arg("start"), py::arg("end"), py::arg("radius"), py::arg("ccw"),
          py::arg("phase") = crc::CRC_STATUS_DOING, py::arg("side") = crc::CRC_DIR_LEFT,
          "An arc about center from start to end (radius stored as given; coinciding ends give "
          "an empty arc, never a full circle).");
  arc.def(py::init<const Point&, const double&, const double&, const double&, const bool&,
                   const crc::crc_status_t&, const crc::crc_dir_t&>(),
          py::arg("center"), py::arg("start_angle"), py::arg("central_angle"), py::arg("radius"),
          py::arg("ccw"), py::arg("phase") = crc::CRC_STATUS_DOING,
          py::arg("side") = crc::CRC_DIR_LEFT,
          "An arc about center from start_angle, turning by central_angle (2 pi: a full "
          "circle).");
  Property(arc, "GetDirection", "SetDirect", "ccw", &CCrcArc::GetDirection, &CCrcArc::SetDirect,
           "turning sense, True for counterclockwise");
  Property(arc, "GetRadius", "SetRadius", "radius", &CCrcArc::GetRadius, &CCrcArc::SetRadius,
           "programmed radius");
  Property(arc, "GetCenterPoint", "SetCenterPoint", "center", &CCrcArc::GetCenterPoint,
           &CCrcArc::SetCenterPoint, "centre point");
  Property(arc, "GetStartAngle", "SetStartAngle", "start_angle", &CCrcArc::GetStartAngle,
           &CCrcArc::SetStartAngle, "polar angle of the start point (radians)");
  Property(arc, "GetEndAngle", "SetEndAngle", "end_angle", &CCrcArc::GetEndAngle,
           &CCrcArc::SetEndAngle, "polar angle of the end point (radians)");
  Property(arc, "GetCentralAngle", "SetCentralAngle", "central_angle", &CCrcArc::GetCentralAngle,
           &CCrcArc::SetCentralAngle, "angle turned through (radians)");
  Getter(arc, "GetRadiusMoved", "radius_moved", &CCrcArc::GetRadiusMoved,
         "offset radius, written by crc_move");
  Getter(arc, "GetStartTangent", "start_tangent", &CCrcArc::GetStartTangent,
         "unit direction of travel at the start");
  Getter(arc, "GetEndTangent", "end_tangent", &CCrcArc::GetEndTangent,
         "unit direction of travel at the end");
}

}  // namespace cutcomp::python
