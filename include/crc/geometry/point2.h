// SPDX-License-Identifier: MIT
/// @file
/// The point/vector value of the compensation plane and the two constants every part of the
/// engine shares: the "unset" sentinel and the default absolute tolerance.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace crc {

/// Marks a coordinate, radius or angle that has not been set. It is an ordinary tiny positive
/// double (not a NaN), recognised only by exact equality: arithmetic on it proceeds silently and
/// an unset point has a length of about 1.7e-123, which every tolerance test treats as zero.
/// A point is unset when both components hold it.
inline constexpr double INVALID_VALUE = 1.2345678987654321e-123;

/// True when `v` is INVALID_VALUE. The sentinel is neither zero nor a NaN, so a double equals it
/// exactly when it has the same bits: comparing the bits is the same test as ==, in fewer
/// instructions.
inline bool IsUnsetValue(double v) {
  std::uint64_t bits = 0;
  std::uint64_t unset = 0;
  const double sentinel = INVALID_VALUE;
  std::memcpy(&bits, &v, sizeof(bits));
  std::memcpy(&unset, &sentinel, sizeof(unset));
  return bits == unset;
}

/// Default absolute tolerance, in the host's length unit (and in radians for angles), handed
/// explicitly to the engine's comparisons. Thresholds that differ from it live, named and
/// explained, in src/geometry/tolerances.h.
inline constexpr double EPSILON = 1e-6;

/// The double nearest to pi; a full turn is PI + PI.
inline constexpr double PI = 3.141592653589793;

/// A plain two-component value used both as a point and as a vector. Equality is exact.
/// Only `__point2<double>` is used by the library. The name is part of the fixed API, reserved
/// identifier or not.
/// @tparam T the component type
template <typename T>
struct __point2 {  // NOLINT(bugprone-reserved-identifier,readability-identifier-naming)
  T x;             ///< abscissa; index 0 of operator[]
  T y;             ///< ordinate; index 1 of operator[]

  /// Zero-initialises; the engine never reads a default-constructed point before assigning it,
  /// but a host that does gets (0, 0) rather than indeterminate values.
  __point2() : x(), y() {}
  /// The point (px, py).
  __point2(T px, T py) : x(px), y(py) {}
  /// Copying: a plain copy of both components.
  ///@{
  __point2(const __point2& other) = default;
  __point2& operator=(const __point2& other) = default;
  ///@}

  /// Component-wise arithmetic: difference and sum of two points or vectors, and scaling by
  /// `s`. There is no other vector operation (dot and cross products are written out).
  ///@{
  __point2 operator-(const __point2& other) const { return __point2(x - other.x, y - other.y); }
  __point2 operator+(const __point2& other) const { return __point2(x + other.x, y + other.y); }
  __point2 operator*(T s) const { return __point2(x * s, y * s); }
  ///@}

  /// x for `i` = 0, y for any other value. No range check: callers pass only 0 or 1.
  T& operator[](int i) { return i == 0 ? x : y; }

  /// Exact equality: two points are the same only when both components compare equal with ==,
  /// no tolerance; (1, 2) differs from (1, 2 + 1e-12).
  ///@{
  // exact: two points are the same only when both components are bit-for-bit equal values
  bool operator==(const __point2& other) const { return x == other.x && y == other.y; }
  bool operator!=(const __point2& other) const { return !(*this == other); }
  ///@}

  /// The Euclidean length sqrt(x * x + y * y).
  T GetLength() const { return std::sqrt(x * x + y * y); }

  /// Brings the vector to unit length. A vector shorter than EPSILON (the zero vector, an unset
  /// point) is left unchanged: it has no direction, and callers that need one check the length.
  void Unify() {
    const T length = GetLength();
    if (length < EPSILON) {  // IsLess(length, 0, EPSILON) || IsEqual(length, 0, EPSILON)
      return;
    }
    x /= length;
    y /= length;
  }
};

}  // namespace crc
