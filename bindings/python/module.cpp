// SPDX-License-Identifier: MIT
// The extension module `cutcomp._cutcomp`: constants, enums and the error gloss here; segments,
// the compensator and the list-host run in their own files. `cutcomp/__init__.py` re-exports
// everything and adds the high-level functions.
#include <initializer_list>
#include <string>

#include "bindings.h"

namespace py = pybind11;

namespace cutcomp::python {
namespace {

struct Name {
  const char* cpp;       // the C++ enumerator
  const char* pythonic;  // its short name in the Pythonic alias of the type
  int value;
};

// Binds an enum under its C++ name with its C++ value names (also exported at module scope, as
// they stand in namespace crc), then gives the same type a Pythonic name and short value names:
// cutcomp.Side is cutcomp.crc_dir_t, and Side.LEFT == CRC_DIR_LEFT. Any int converts
// implicitly, and values outside the table pass through unchanged, as in C++.
template <typename E>
void Enum(py::module_& m, const char* cppName, const char* pyName, const char* doc,
          std::initializer_list<Name> names) {
  py::enum_<E> e(m, cppName, doc, py::arithmetic());
  for (const Name& name : names) {
    e.value(name.cpp, static_cast<E>(name.value));
  }
  e.export_values();
  for (const Name& name : names) {
    e.value(name.pythonic, static_cast<E>(name.value));
  }
  py::implicitly_convertible<int, E>();
  m.attr(pyName) = e;
}

}  // namespace

void BindEnums(py::module_& m) {
  using namespace crc;  // NOLINT(google-build-using-namespace): the enumerators, listed twice
  Enum<crc_status_t>(m, "crc_status_t", "Phase",
                     "Compensation phase of a segment: start-up (ESTABLISH), in progress (DOING) "
                     "or cancel (RETRACT).",
                     {{"CRC_STATUS_NONE", "NONE", CRC_STATUS_NONE},
                      {"CRC_STATUS_ESTABLISH", "ESTABLISH", CRC_STATUS_ESTABLISH},
                      {"CRC_STATUS_DOING", "DOING", CRC_STATUS_DOING},
                      {"CRC_STATUS_RETRACT", "RETRACT", CRC_STATUS_RETRACT}});
  Enum<crc_dir_t>(m, "crc_dir_t", "Side",
                  "Side of the direction of travel the tool centre runs on.",
                  {{"CRC_DIR_NONE", "NONE", CRC_DIR_NONE},
                   {"CRC_DIR_LEFT", "LEFT", CRC_DIR_LEFT},
                   {"CRC_DIR_RIGHT", "RIGHT", CRC_DIR_RIGHT}});
  Enum<node_t>(m, "node_t", "Kind", "Kind of a segment.",
               {{"NODE_NONE", "NONE", NODE_NONE},
                {"NODE_LINE", "LINE", NODE_LINE},
                {"NODE_ARC", "ARC", NODE_ARC}});
  Enum<crc_t>(m, "crc_t", "Strategy", "How compensation is started and cancelled.",
              {{"CRC_TYPE_NORMAL", "NORMAL", CRC_TYPE_NORMAL},
               {"CRC_TYPE_INTERSECT", "INTERSECT", CRC_TYPE_INTERSECT},
               {"CRC_TYPE_INSERT", "INSERT", CRC_TYPE_INSERT}});
  Enum<connect_t>(m, "connect_t", "Connect",
                  "How the offset paths of two consecutive segments are joined.",
                  {{"CONNECT_NONE", "NONE", CONNECT_NONE},
                   {"CONNECT_EXTEND", "EXTEND", CONNECT_EXTEND},
                   {"CONNECT_SHORTEN", "SHORTEN", CONNECT_SHORTEN},
                   {"CONNECT_INSERT", "INSERT", CONNECT_INSERT},
                   {"CONNECT_TANGENT", "TANGENT", CONNECT_TANGENT}});
  Enum<crc_error_t>(
      m, "crc_error_t", "ErrorCode",
      "Numbers of the engine's messages (GetErrorGloss glosses them).",
      {{"CRC_ERROR_NONE", "NONE", CRC_ERROR_NONE},
       {"CRC_ERROR_FUNCTION_UNDEFINED", "FUNCTION_UNDEFINED", CRC_ERROR_FUNCTION_UNDEFINED},
       {"CRC_ERROR_NOT_ESTABLISHED", "NOT_ESTABLISHED", CRC_ERROR_NOT_ESTABLISHED},
       {"CRC_ERROR_ESTABLISH_FAILED", "ESTABLISH_FAILED", CRC_ERROR_ESTABLISH_FAILED},
       {"CRC_ERROR_ARC_ESTABLISH", "ARC_ESTABLISH", CRC_ERROR_ARC_ESTABLISH},
       {"CRC_ERROR_RADIUS_UNREASONABLE", "RADIUS_UNREASONABLE", CRC_ERROR_RADIUS_UNREASONABLE},
       {"CRC_ERROR_RETRACT_FAILED", "RETRACT_FAILED", CRC_ERROR_RETRACT_FAILED},
       {"CRC_ERROR_INTERSECTION_FAILED", "INTERSECTION_FAILED", CRC_ERROR_INTERSECTION_FAILED},
       {"CRC_ERROR_OFFSET_FAILED", "OFFSET_FAILED", CRC_ERROR_OFFSET_FAILED},
       {"CRC_ERROR_ARC_RETRACT", "ARC_RETRACT", CRC_ERROR_ARC_RETRACT},
       {"CRC_ERROR_INSERT_LINE_FAILED", "INSERT_LINE_FAILED", CRC_ERROR_INSERT_LINE_FAILED},
       {"CRC_ERROR_INSERT_UNSUPPORTED", "INSERT_UNSUPPORTED", CRC_ERROR_INSERT_UNSUPPORTED},
       {"CRC_ERROR_INTERFERENCE", "INTERFERENCE", CRC_ERROR_INTERFERENCE},
       {"CRC_ERROR_ONLY_ESTABLISH_RETRACT", "ONLY_ESTABLISH_RETRACT",
        CRC_ERROR_ONLY_ESTABLISH_RETRACT},
       {"CRC_ERROR_INVALID_START_MOVED", "INVALID_START_MOVED", CRC_ERROR_INVALID_START_MOVED},
       {"CRC_ERROR_INVALID_END_MOVED", "INVALID_END_MOVED", CRC_ERROR_INVALID_END_MOVED},
       {"CRC_ERROR_NO_PLANE_MOTION", "NO_PLANE_MOTION", CRC_ERROR_NO_PLANE_MOTION}});
}

}  // namespace cutcomp::python

PYBIND11_MODULE(_cutcomp, m) {
  namespace cp = cutcomp::python;
  m.doc() = "The compiled half of the cutcomp package; import cutcomp instead.";
  m.attr("__version__") = CUTCOMP_VERSION;
  m.attr("INVALID_VALUE") = crc::INVALID_VALUE;
  m.attr("EPSILON") = crc::EPSILON;
  const auto gloss = [](int code) { return std::string(crc::GetErrorGloss(code)); };
  const char* glossDoc =
      "English gloss of the engine's message number code (1..16); '' for any other number.";
  m.def("GetErrorGloss", gloss, py::arg("code"), glossDoc);
  m.def("error_gloss", gloss, py::arg("code"), glossDoc);
  cp::BindEnums(m);
  cp::BindNodes(m);
  cp::BindCompensator(m);
  cp::BindRun(m);
#ifdef CUTCOMP_PYTHON_GCODE
  cp::BindGcode(m);
#endif
}
