// SPDX-License-Identifier: MIT
// Numbers as the written program states them: a length rounded to a fixed number of decimals,
// locale-independent, the same value always printed the same way.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace cutcomp::cli {

// Decimals written for lengths when --precision is not given.
inline constexpr int DEFAULT_PRECISION_MM = 3;
inline constexpr int DEFAULT_PRECISION_INCH = 4;

namespace detail {

// 10^decimals for the decimals the quick rounding takes.
inline constexpr double POWERS_OF_TEN[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

// The usual case of the rounding below, without decimal digits: |value| 10^decimals rounded to
// the nearest whole number. The fifteen significant digits differ from the value by at most
// 5e-15 of it; unless the fraction lies within that (and the product's own rounding) of one
// half, both ways round alike. Below 1e15 the truncation to a whole number is exact and is the
// floor. False, with `units` unset, where only the digits can tell.
inline bool RoundQuickly(double value, int decimals, std::int64_t& units) {
  if (decimals < 0 ||
      decimals >= static_cast<int>(sizeof POWERS_OF_TEN / sizeof POWERS_OF_TEN[0])) {
    return false;
  }
  const double scaled = std::fabs(value) * POWERS_OF_TEN[decimals];
  if (!(scaled < 1e15)) {  // infinities and NaN as well
    return false;
  }
  const auto whole = static_cast<std::int64_t>(scaled);
  const double fraction = scaled - static_cast<double>(whole);
  if (!(std::fabs(fraction - 0.5) > 1e-9 + scaled * 1e-14)) {
    return false;
  }
  const std::int64_t rounded = whole + (fraction > 0.5 ? 1 : 0);
  units = value < 0 ? -rounded : rounded;
  return true;
}

// WriteNumber where the quick rounding cannot decide.
char* WriteNumberByDigits(char* out, double value, int decimals);

}  // namespace detail

// `value` rounded as ToUnits says, always from its fifteen significant decimal digits.
std::optional<std::int64_t> ToUnitsByDigits(double value, int decimals);

// `value` as a whole number of 10^-decimals, rounded half away from zero from its decimal
// digits (15 significant, below the rounding noise of a computed double), so that two
// computations of the same coordinate that differ in their last bit round alike. None when the
// result does not fit 64 bits or the value is not finite.
inline std::optional<std::int64_t> ToUnits(double value, int decimals) {
  std::int64_t units = 0;
  if (detail::RoundQuickly(value, decimals, units)) {
    return units;
  }
  return ToUnitsByDigits(value, decimals);
}

// Bytes WriteUnits may write: a sign, twenty digits, the point, the decimals and a byte beyond
// the end, padding the last group of the fraction.
constexpr std::size_t UnitsRoom(int decimals) {
  return 26 + static_cast<std::size_t>(decimals > 0 ? decimals : 0);
}
// A count of 10^-decimals written out at `out`: trailing zeros and a bare "-0" removed ("10",
// "-0.5"). Returns the end of the text.
char* WriteUnits(char* out, std::int64_t units, int decimals);

// Bytes WriteNumber may write: as many as the plain fixed form of the largest double takes.
constexpr std::size_t NumberRoom(int decimals) {
  return 320 + static_cast<std::size_t>(decimals > 0 ? decimals : 0);
}
// `value` with at most `decimals` decimals, as above; out-of-range values in plain fixed form.
// Writes at `out`, returns the end of the text.
inline char* WriteNumber(char* out, double value, int decimals) {
  std::int64_t units = 0;
  if (detail::RoundQuickly(value, decimals, units)) {
    return WriteUnits(out, units, decimals);
  }
  return detail::WriteNumberByDigits(out, value, decimals);
}
// The same, as a string.
std::string FormatNumber(double value, int decimals);

// `value` with `digits` significant digits, but every digit before the decimal point kept
// (123456789 stays whole), written as FormatNumber writes it.
std::string FormatSignificant(double value, int digits);

}  // namespace cutcomp::cli
