// SPDX-License-Identifier: MIT
// The translator Python subclasses and the compensator as Python sees it. The engine keeps raw
// pointers (to its translator, to the segments of the call in progress) and must never see a
// Python exception unwind through it, so the bindings own those lifetimes:
// - a compensator holds a reference to its translator object, so the translator lives at least
//   as long as the compensator uses it;
// - every segment a Python translator returns from GetNextNode is held until the AdjustNode
//   call that asked for it returns (the engine writes into it during that call and keeps no
//   pointer to it afterwards); the segment being adjusted is held by the call's argument;
// - the line handed to InsertNode is a temporary in the engine: Python receives its own copy;
// - an exception raised in a callback is caught at the boundary and held; the engine is told
//   there is no successor (or nothing happens), the call's later callbacks are skipped, and the
//   exception is raised from AdjustNode once the engine has returned;
// - a callback may not call into the compensator that is calling it, and a translator serves one
//   engine call at a time (RuntimeError): the engine is not re-entrant.
#include <exception>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "bindings.h"

namespace py = pybind11;

namespace cutcomp::python {
namespace {

using crc::CCrcLine;
using crc::CCrcNode;
using crc::CCrcTranslator;
using crc::CCutterCompensator;
using Point = crc::__point2<double>;

class PyTranslator : public CCrcTranslator {
public:
  using CCrcTranslator::CCrcTranslator;
  using CCrcTranslator::SetLatestError;

  CCrcNode* GetNextNode(CCrcNode* node) override {
    CCrcNode* next = nullptr;
    Guard([&] {
      py::object result = Override(
          "GetNextNode", "get_next_node")(py::cast(node, py::return_value_policy::reference));
      if (!result.is_none()) {
        next = result.cast<CCrcNode*>();
        m_Held.push_back(std::move(result));
      }
    });
    return next;
  }

  void InsertNode(CCrcNode* anchor, CCrcLine& line, const bool& before) override {
    Guard([&] {
      Override("InsertNode", "insert_node")(py::cast(anchor, py::return_value_policy::reference),
                                            py::cast(line, py::return_value_policy::copy), before);
    });
  }

  void SetCrcEndPoint(double x, double y) override {
    Guard([&] { Override("SetCrcEndPoint", "set_crc_end_point")(x, y); });
  }

  void CrcFinish() override {
    Guard([&] { Override("CrcFinish", "crc_finish")(); });
  }

  void BeginCall() {
    if (m_InCall) {
      throw std::runtime_error("this translator is serving another engine call");
    }
    m_InCall = true;
  }

  // Releases the segments held for the call; rethrows what a callback raised, if asked to.
  void EndCall(bool rethrow) {
    m_InCall = false;
    m_Held.clear();
    std::exception_ptr error = std::exchange(m_Error, nullptr);
    if (error && rethrow) {
      std::rethrow_exception(error);
    }
  }

private:
  // The Python method for a slot, under its C++ name or its Pythonic name.
  py::function Override(const char* cppName, const char* pyName) const {
    const auto* self = static_cast<const CCrcTranslator*>(this);
    py::function f = py::get_override(self, cppName);
    if (!f) {
      f = py::get_override(self, pyName);
    }
    if (!f) {
      throw py::type_error(std::string("the translator defines neither ") + cppName + " nor " +
                           pyName);
    }
    return f;
  }

  // Runs a callback; after the first exception the call's later callbacks do nothing.
  template <typename Body>
  void Guard(Body body) {
    if (m_Error) {
      return;
    }
    try {
      body();
    } catch (...) {
      m_Error = std::current_exception();
    }
  }

  bool m_InCall = false;
  std::vector<py::object> m_Held;
  std::exception_ptr m_Error;
};

class PyCompensator : public CCutterCompensator {
public:
  PyCompensator() = default;
  PyCompensator(double radius, CCrcTranslator* translator, unsigned int listSize, crc::crc_t type)
      : CCutterCompensator(radius, translator, listSize, type),
        m_TranslatorObject(py::cast(translator, py::return_value_policy::reference)) {}

  // Raises instead of letting a callback change the engine under the call that made it.
  void CheckIdle() const {
    if (m_Busy) {
      throw std::runtime_error(
          "the compensator is adjusting a segment: a translator callback may not call into it");
    }
  }

  void SetTranslatorObject(CCrcTranslator* translator) {
    CheckIdle();
    if (translator == nullptr) {
      return;  // as in C++: a null translator is ignored, the old one stays
    }
    SetTranslator(translator);
    m_TranslatorObject = py::cast(translator, py::return_value_policy::reference);
  }

  py::object TranslatorObject() const { return m_TranslatorObject; }

  bool Adjust(CCrcNode* node) {
    CheckIdle();
    PyTranslator* translator = nullptr;
    if (!m_TranslatorObject.is_none()) {
      translator = dynamic_cast<PyTranslator*>(m_TranslatorObject.cast<CCrcTranslator*>());
    }
    if (translator != nullptr) {
      translator->BeginCall();
    }
    m_Busy = true;
    bool ok = false;
    try {
      ok = AdjustNode(node);
    } catch (...) {  // only an allocation failure can get here
      m_Busy = false;
      if (translator != nullptr) {
        translator->EndCall(false);
      }
      throw;
    }
    m_Busy = false;
    if (translator != nullptr) {
      translator->EndCall(true);
    }
    return ok;
  }

private:
  py::object m_TranslatorObject = py::none();
  bool m_Busy = false;
};

// Binds a compensator member under two names.
template <typename F, typename... Extra>
void Both(py::class_<PyCompensator>& cls, const char* cppName, const char* pyName, F f,
          const Extra&... extra) {
  cls.def(cppName, f, extra...);
  cls.def(pyName, f, extra...);
}

// A setter that raises while a call is in progress.
template <typename T>
auto Idle(void (CCutterCompensator::*set)(T)) {
  return [set](PyCompensator& self, std::decay_t<T> value) {
    self.CheckIdle();
    (self.*set)(value);
  };
}

template <typename Get, typename Set>
void Setting(py::class_<PyCompensator>& cls, const char* getName, const char* setName,
             const char* property, Get get, Set set, const char* doc) {
  cls.def(getName, get, doc);
  cls.def(setName, set, py::arg("value"), doc);
  cls.def_property(property, get, set, doc);
}

}  // namespace

void BindCompensator(py::module_& m) {
  py::class_<CCrcTranslator, PyTranslator> translator(m, "CCrcTranslator", R"(
The host's side of the engine: subclass it to drive a Compensator segment by segment.

Implement, under the C++ or the Pythonic name (and call super().__init__()):
  GetNextNode(node) / get_next_node(node): the live segment that follows node in your sequence,
      or None. The engine writes into it, so it must be the object you will later pass to
      adjust_node.
  InsertNode(anchor, line, before) / insert_node(...): put line, a copy you now own, into your
      sequence directly before anchor (before=True) or after it.
  SetCrcEndPoint(x, y) / set_crc_end_point(x, y): the run ended without a cancel segment; the
      tool stays at (x, y).
  CrcFinish() / crc_finish(): the run was closed at the end of the sequence.

Lifetimes: segments are Python objects you own. The engine writes into the segment being
adjusted and into the segments get_next_node returned, only during that adjust_node call, and
holds a reference to those until the call returns: keep the segments you want to read
afterwards. An exception raised in a callback is raised from adjust_node when the engine returns
(the engine saw no successor, and the call's later callbacks were skipped). A callback may not
call into the compensator that is calling it, and a translator serves one call at a time.
)");
  translator.def(py::init<>());
  translator.def("GetLatestError", &CCrcTranslator::GetLatestError,
                 "The host's own latest error text (the engine never sets it).");
  translator.def_property_readonly("latest_error", &CCrcTranslator::GetLatestError,
                                   "The host's own latest error text.");
  const auto setError = [](CCrcTranslator& self, std::string text) {
    static_cast<PyTranslator&>(self).SetLatestError(std::move(text));
  };
  translator.def("SetLatestError", setError, py::arg("text"),
                 "Store a non-empty text as the host's latest error.");
  translator.def("set_latest_error", setError, py::arg("text"),
                 "Store a non-empty text as the host's latest error.");

  py::class_<PyCompensator> comp(m, "CCutterCompensator", R"(
The compensation engine. Create it with the cutter radius, a translator (a CCrcTranslator
subclass), the look-behind capacity and the strategy, then call adjust_node for every segment of
your sequence in order, inserted lines included. Results are written into the segments; a False
result leaves the reason in latest_error (the engine's own text) and latest_error_code (see
error_gloss). The compensator holds a reference to its translator.
)");
  comp.def(py::init<>(), "Every setting at its default: no radius, no translator.");
  comp.def(py::init<double, CCrcTranslator*, unsigned int, crc::crc_t>(), py::arg("radius"),
           py::arg("translator") = nullptr, py::arg("look_behind") = 3,
           py::arg("strategy") = crc::CRC_TYPE_NORMAL,
           "A negative radius compensates on the side opposite to the one each segment names.");

  Setting(comp, "GetCrcRadius", "SetCrcRadius", "radius", &PyCompensator::GetCrcRadius,
          Idle(&CCutterCompensator::SetCrcRadius), "cutter radius");
  Setting(comp, "GetCrcType", "SetCrcType", "strategy", &PyCompensator::GetCrcType,
          Idle(&CCutterCompensator::SetCrcType), "start-up and cancel strategy (Strategy)");
  Setting(comp, "GetInterveneEvade", "SetInterveneEvade", "evade",
          &PyCompensator::GetInterveneEvade, Idle(&CCutterCompensator::SetInterveneEvade),
          "drop segments too short for the cutter instead of failing");
  Setting(comp, "GetClosureTolerance", "SetClosureTolerance", "closure_tolerance",
          &PyCompensator::GetClosureTolerance, Idle(&CCutterCompensator::SetClosureTolerance),
          "extension: an offset that meets an earlier one where the path closes on itself or "
          "runs over itself again is not interference (see the C++ contract)");
  Setting(comp, "GetStartInPlace", "SetStartInPlace", "start_in_place",
          &PyCompensator::GetStartInPlace, Idle(&CCutterCompensator::SetStartInPlace),
          "extension: a start-up move whose programmed start already lies beside the contour "
          "is accepted");
  Setting(comp, "GetArcStartup", "SetArcStartup", "arc_startup", &PyCompensator::GetArcStartup,
          Idle(&CCutterCompensator::SetArcStartup),
          "extension: a start-up arc is accepted whatever the strategy, started by insertion");
  Setting(comp, "GetCrcPreRetractOption", "SetCrcPreRetractOption", "pre_retract_option",
          &PyCompensator::GetCrcPreRetractOption, Idle(&CCutterCompensator::SetCrcPreRetractOption),
          "closing of a run that ends without a cancel segment: 0 a closing line, 1 the last "
          "segment ends it, 2 none");
  Setting(comp, "GetEstablish", "SetEstablish", "established", &PyCompensator::GetEstablish,
          Idle(&CCutterCompensator::SetEstablish), "compensation has been started");
  comp.def("SetTranslator", &PyCompensator::SetTranslatorObject, py::arg("translator"),
           "Use another translator; None is ignored (the old one stays).");
  comp.def_property("translator", &PyCompensator::TranslatorObject,
                    &PyCompensator::SetTranslatorObject,
                    "The translator; setting None is ignored (the old one stays).");
  comp.def("GetListSize", &PyCompensator::GetListSize, "look-behind capacity");
  comp.def_property_readonly("look_behind", &PyCompensator::GetListSize, "look-behind capacity");
  comp.def("GetListCount", &PyCompensator::GetListCount, "segments in the look-behind list");
  comp.def_property_readonly("list_count", &PyCompensator::GetListCount,
                             "segments in the look-behind list");
  comp.def("GetLatestError", &PyCompensator::GetLatestError, "the engine's latest message");
  comp.def_property_readonly("latest_error", &PyCompensator::GetLatestError,
                             "the engine's latest message; a success never clears it");
  comp.def("GetLatestErrorCode", &PyCompensator::GetLatestErrorCode, "its number, 0 if none");
  comp.def_property_readonly("latest_error_code", &PyCompensator::GetLatestErrorCode,
                             "the number of the latest message (ErrorCode), 0 if none");
  Both(comp, "AdjustNode", "adjust_node", &PyCompensator::Adjust, py::arg("node"),
       "Compensate one segment; True on success.");
  Both(
      comp, "AddToList", "add_to_list",
      [](PyCompensator& self, const CCrcNode* node) {
        self.CheckIdle();
        self.AddToList(node);
      },
      py::arg("node"), "Append a copy of the segment to the look-behind list.");
  Both(
      comp, "GetCrcNodeIntersection", "crc_node_intersection",
      [](PyCompensator& self, const CCrcNode* prev, const CCrcNode* next) {
        self.CheckIdle();
        Point p1;
        Point p2;
        const bool ok = self.GetCrcNodeIntersection(prev, next, p1, p2);
        return py::make_tuple(ok, p1, p2);
      },
      py::arg("prev"), py::arg("next"),
      "Classify the joint prev -> next and compute its connection points: (ok, p1, p2).");
}

}  // namespace cutcomp::python
