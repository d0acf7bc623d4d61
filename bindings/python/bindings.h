// SPDX-License-Identifier: MIT
// Shared by the binding files: points cross the language boundary as plain (x, y) tuples, and
// each file registers its part of the module.
#pragma once

#include <pybind11/pybind11.h>

#include <crc/crc.h>

namespace pybind11::detail {

// A point is any sequence of two numbers on the way in and a tuple (x, y) on the way out. An
// unset point comes out as (INVALID_VALUE, INVALID_VALUE), exactly as the engine holds it.
template <>
struct type_caster<crc::__point2<double>> {
  PYBIND11_TYPE_CASTER(crc::__point2<double>, const_name("tuple[float, float]"));

  bool load(handle src, bool convert) {
    if (!src || !isinstance<sequence>(src) || isinstance<str>(src) || isinstance<bytes>(src)) {
      return false;
    }
    const auto items = reinterpret_borrow<sequence>(src);
    if (items.size() != 2) {
      return false;
    }
    make_caster<double> x;
    make_caster<double> y;
    if (!x.load(items[0], convert) || !y.load(items[1], convert)) {
      return false;
    }
    value = crc::__point2<double>(cast_op<double>(x), cast_op<double>(y));
    return true;
  }

  static handle cast(const crc::__point2<double>& p, return_value_policy /*policy*/,
                     handle /*parent*/) {
    return make_tuple(p.x, p.y).release();
  }
};

}  // namespace pybind11::detail

namespace cutcomp::python {

void BindEnums(pybind11::module_& m);
void BindNodes(pybind11::module_& m);
void BindCompensator(pybind11::module_& m);
void BindRun(pybind11::module_& m);
// Only when the module is built with the command-line tool's pipeline.
void BindGcode(pybind11::module_& m);

}  // namespace cutcomp::python
