// SPDX-License-Identifier: MIT
// Absolute-tolerance comparisons and the unset sentinel test. Every comparison takes its
// tolerance explicitly; callers pass EPSILON unless a named threshold of tolerances.h applies.
//
// For finite a, b and a positive eps exactly one of IsLess, IsEqual, IsGreater holds (up to the
// rounding of b - eps and b + eps); with a NaN operand all three are false. The negation of
// IsLess therefore reads "greater than or equal within eps", that of IsGreater "less than or
// equal within eps".
#pragma once

#include <cmath>

#include <crc/geometry/point2.h>

namespace crc {

// exact: the sentinel is recognised only bit-for-bit, never by a tolerance
inline bool IsInvalidValue(double v) { return IsUnsetValue(v); }

// |a - b| < eps; the boundary is not equal.
inline bool IsEqual(const double& a, const double& b, double eps) { return std::fabs(a - b) < eps; }
// The overload for comparing with an integer literal, e.g. IsEqual(length, 0, EPSILON).
inline bool IsEqual(const double& a, const int& b, double eps) {
  return std::fabs(a - static_cast<double>(b)) < eps;
}
// a lies below b by eps or more; the boundary counts as less.
inline bool IsLess(const double& a, const double& b, const double& eps) { return (b - eps) >= a; }
// a lies above b by eps or more; the boundary counts as greater.
inline bool IsGreater(const double& a, const double& b, const double& eps) {
  return (b + eps) <= a;
}

// "a is at most b within eps" and "a is at least b within eps": the compound tests that the
// engine writes as IsLess || IsEqual and IsGreater || IsEqual.
inline bool IsLessOrEqual(const double& a, const double& b, const double& eps) {
  return IsLess(a, b, eps) || IsEqual(a, b, eps);
}
inline bool IsGreaterOrEqual(const double& a, const double& b, const double& eps) {
  return IsGreater(a, b, eps) || IsEqual(a, b, eps);
}

// A point is unset only when both components hold the sentinel.
inline bool IsInvalidPoint(const __point2<double>& p) {
  return IsInvalidValue(p.x) && IsInvalidValue(p.y);
}

// The setters' refusal rule: an unset x beside a set y is refused; everything else is stored.
inline bool IsRefusedPoint(const __point2<double>& p) {
  return IsInvalidValue(p.x) && !IsInvalidValue(p.y);
}

inline __point2<double> InvalidPoint() { return __point2<double>(INVALID_VALUE, INVALID_VALUE); }

inline double Dot(const __point2<double>& a, const __point2<double>& b) {
  return a.x * b.x + a.y * b.y;
}

// The vector brought to unit length (unchanged when shorter than EPSILON).
inline __point2<double> Unified(__point2<double> v) {
  v.Unify();
  return v;
}

}  // namespace crc
