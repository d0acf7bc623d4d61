// SPDX-License-Identifier: MIT
// Decimal rounding of lengths with std::to_chars: no locale, no printf.
#include "number_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace cutcomp::cli {

namespace {

// Significant digits taken from a double before rounding to the written decimals: fifteen is
// what a double holds exactly; beyond it lies the noise of the arithmetic that produced it.
constexpr int SIGNIFICANT_DIGITS = 15;
constexpr std::int64_t MAX_UNITS = 999999999999999999;  // 18 digits: never overflows below
constexpr double POWERS[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

}  // namespace

std::optional<std::int64_t> ToUnits(double value, int decimals) {
  if (!std::isfinite(value)) {
    return std::nullopt;
  }
  if (value == 0.0) {
    return 0;
  }
  // The usual case, without decimal digits: |value| 10^decimals rounded to the nearest whole
  // number. The fifteen significant digits below differ from the value by at most 5e-15 of it;
  // unless the fraction lies within that (and the product's own rounding) of one half, both ways
  // round alike.
  if (decimals >= 0 && decimals < static_cast<int>(sizeof POWERS / sizeof POWERS[0])) {
    const double scaled = std::fabs(value) * POWERS[decimals];
    if (scaled < 1e15) {
      const double whole = std::floor(scaled);
      const double fraction = scaled - whole;
      if (std::fabs(fraction - 0.5) > 1e-9 + scaled * 1e-14) {
        const auto units = static_cast<std::int64_t>(whole) + (fraction > 0.5 ? 1 : 0);
        return value < 0 ? -units : units;
      }
    }
  }
  char buffer[40];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                    std::chars_format::scientific, SIGNIFICANT_DIGITS - 1);
  // d.ddddddddddddddde[+-]xx
  char digits[SIGNIFICANT_DIGITS];
  int count = 0;
  const char* p = buffer;
  for (; p < result.ptr && *p != 'e'; ++p) {
    if (*p != '.') {
      digits[count++] = *p;
    }
  }
  int exponent = 0;
  std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), result.ptr, exponent);
  // value = 0.d1 d2 ... dn * 10^(exponent + 1); units = value * 10^decimals.
  const int kept = exponent + 1 + decimals;  // digits before the decimal point of units
  if (kept > 18) {
    return std::nullopt;
  }
  std::int64_t units = 0;
  for (int k = 0; k < kept; ++k) {
    units = units * 10 + (k < count ? digits[k] - '0' : 0);
  }
  if (kept >= 0 && kept < count && digits[kept] >= '5') {
    ++units;  // half away from zero
  }
  if (units > MAX_UNITS) {
    return std::nullopt;
  }
  return value < 0 ? -units : units;
}

void AppendUnits(std::string& out, std::int64_t units, int decimals) {
  // Written back to front into a buffer and appended once: the digits of the fraction without
  // its trailing zeros, the point, then the whole part (at least "0").
  char text[48];
  char* end = text + sizeof text;
  char* p = end;
  std::uint64_t magnitude =
      units < 0 ? static_cast<std::uint64_t>(-(units + 1)) + 1 : static_cast<std::uint64_t>(units);
  int fraction = decimals;
  while (fraction > 0 && magnitude % 10 == 0) {  // trailing zeros of the fraction go
    magnitude /= 10;
    --fraction;
  }
  if (fraction > 0) {
    for (int k = 0; k < fraction; ++k) {
      *--p = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    }
    *--p = '.';
  }
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude > 0);
  if (units < 0) {
    *--p = '-';
  }
  out.append(p, static_cast<std::size_t>(end - p));
}

void AppendNumber(std::string& out, double value, int decimals) {
  if (const std::optional<std::int64_t> units = ToUnits(value, decimals)) {
    AppendUnits(out, *units, decimals);
    return;
  }
  char buffer[400];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  out.append(buffer, result.ptr);
}

std::string FormatNumber(double value, int decimals) {
  std::string out;
  AppendNumber(out, value, decimals);
  return out;
}

std::string FormatSignificant(double value, int digits) {
  if (!(std::fabs(value) > 0.0) || !std::isfinite(value)) {
    return FormatNumber(value, 0);
  }
  const int magnitude = static_cast<int>(std::floor(std::log10(std::fabs(value))));
  return FormatNumber(value, std::max(0, digits - 1 - magnitude));
}

}  // namespace cutcomp::cli
