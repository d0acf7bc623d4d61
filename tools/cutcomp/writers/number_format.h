// SPDX-License-Identifier: MIT
// Numbers as the written program states them: a length rounded to a fixed number of decimals,
// locale-independent, the same value always printed the same way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace cutcomp::cli {

// Decimals written for lengths when --precision is not given.
inline constexpr int DEFAULT_PRECISION_MM = 3;
inline constexpr int DEFAULT_PRECISION_INCH = 4;

// `value` as a whole number of 10^-decimals, rounded half away from zero from its decimal
// digits (15 significant, below the rounding noise of a computed double), so that two
// computations of the same coordinate that differ in their last bit round alike. None when the
// result does not fit 64 bits or the value is not finite.
std::optional<std::int64_t> ToUnits(double value, int decimals);

// A count of 10^-decimals written out: trailing zeros and a bare "-0" removed ("10", "-0.5").
void AppendUnits(std::string& out, std::int64_t units, int decimals);

// `value` with at most `decimals` decimals, as above; out-of-range values in plain fixed form.
std::string FormatNumber(double value, int decimals);
// The same, appended to `out`.
void AppendNumber(std::string& out, double value, int decimals);

// `value` with `digits` significant digits, but every digit before the decimal point kept
// (123456789 stays whole), written as FormatNumber writes it.
std::string FormatSignificant(double value, int digits);

}  // namespace cutcomp::cli
