// SPDX-License-Identifier: MIT
// Decimal rounding of lengths with std::to_chars: no locale, no printf.
#include "number_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace cutcomp::cli {

namespace {

// Significant digits taken from a double before rounding to the written decimals: fifteen is
// what a double holds exactly; beyond it lies the noise of the arithmetic that produced it.
constexpr int SIGNIFICANT_DIGITS = 15;
constexpr std::int64_t MAX_UNITS = 999999999999999999;  // 18 digits: never overflows below

// "00" to "99": digits are written two at a time.
constexpr char PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr std::uint64_t INTEGER_POWERS[] = {1,
                                            10,
                                            100,
                                            1000,
                                            10000,
                                            100000,
                                            1000000,
                                            10000000,
                                            100000000,
                                            1000000000,
                                            10000000000,
                                            100000000000,
                                            1000000000000,
                                            10000000000000,
                                            100000000000000,
                                            1000000000000000,
                                            10000000000000000,
                                            100000000000000000,
                                            1000000000000000000,
                                            10000000000000000000U};

// Three-digit groups: the digits of 0 to 999 with their leading zeros, and in a fourth byte how
// many of them a number's leading group writes (its significant digits, at least one) and how
// many a fraction's last group writes (all but its trailing zeros). Lengths of coordinates are
// written a group at a time, each copied in one four-byte move (the fourth byte lands where the
// next character goes).
struct GroupTable {
  char bytes[4 * 1000];
};

constexpr GroupTable MakeGroups() {
  GroupTable table{};
  for (int n = 0; n < 1000; ++n) {
    char* entry = table.bytes + std::ptrdiff_t{4} * n;
    entry[0] = static_cast<char>('0' + n / 100);
    entry[1] = static_cast<char>('0' + n / 10 % 10);
    entry[2] = static_cast<char>('0' + n % 10);
    const int lead = n >= 100 ? 3 : n >= 10 ? 2 : 1;
    const int trail = n == 0 ? 0 : n % 100 == 0 ? 1 : n % 10 == 0 ? 2 : 3;
    entry[3] = static_cast<char>(lead | trail << 2);
  }
  return table;
}

constexpr GroupTable GROUPS = MakeGroups();

const char* GroupAt(std::uint32_t group) { return GROUPS.bytes + std::size_t{4} * group; }
int LeadOf(std::uint32_t group) { return GroupAt(group)[3] & 3; }
int TrailOf(std::uint32_t group) { return GroupAt(group)[3] >> 2; }

// The leading group of a number, without its leading zeros.
char* WriteLeadingGroup(char* p, std::uint32_t group) {
  const int lead = LeadOf(group);
  std::memcpy(p, GroupAt(group) + 3 - lead, 4);
  return p + lead;
}

// A whole number, a group at a time from the front.
char* WriteWhole(char* p, std::uint64_t value) {
  if (value < 1000) {
    return WriteLeadingGroup(p, static_cast<std::uint32_t>(value));
  }
  std::uint32_t groups[7];  // 2^64 has 20 digits
  int count = 0;
  while (value > UINT32_MAX) {
    groups[count++] = static_cast<std::uint32_t>(value % 1000);
    value /= 1000;
  }
  auto small = static_cast<std::uint32_t>(value);
  while (small >= 1000) {
    groups[count++] = small % 1000;
    small /= 1000;
  }
  p = WriteLeadingGroup(p, small);
  while (count > 0) {
    std::memcpy(p, GroupAt(groups[--count]), 4);
    p += 3;
  }
  return p;
}

// 10^decimals padded to whole groups of three digits: the factor that pads it.
constexpr std::uint32_t FRACTION_PAD[] = {1, 100, 10, 1, 100, 10, 1, 100, 10, 1};

// The point and the decimals of a fraction 0 < `fraction` < 10^decimals, 1 <= decimals <= 9,
// without trailing zeros: read as `decimals` digits padded with zeros to whole groups.
char* WriteFraction(char* p, std::uint32_t fraction, int decimals) {
  std::uint32_t padded = fraction * FRACTION_PAD[decimals];
  const int count = (decimals + 2) / 3;
  std::uint32_t groups[3] = {};
  for (int k = count - 1; k >= 0; --k) {
    groups[k] = padded % 1000;
    padded /= 1000;
  }
  int last = count - 1;
  while (last > 0 && groups[last] == 0) {  // some group is not: the fraction is not zero
    --last;
  }
  *p++ = '.';
  for (int k = 0; k < last; ++k) {
    std::memcpy(p, GroupAt(groups[k]), 4);
    p += 3;
  }
  std::memcpy(p, GroupAt(groups[last]), 4);
  return p + TrailOf(groups[last]);
}

// Writes the decimal digits of `value` to end at `end`, two at a time from the back.
void WriteDigits(char* end, std::uint64_t value) {
  while (value >= 100) {
    const std::uint64_t rest = value / 100;
    end -= 2;
    std::memcpy(end, PAIRS + 2 * (value - 100 * rest), 2);
    value = rest;
  }
  if (value >= 10) {
    std::memcpy(end - 2, PAIRS + 2 * value, 2);
  } else {
    end[-1] = static_cast<char>('0' + value);
  }
}

// Decimal digits of `value`, at least one: its bit length times log10(2) is the count or one
// short of it.
int DigitCount(std::uint64_t value) {
  value |= 1;  // 0 has one digit, like 1; no power of ten above 1 is odd
  const int bits = 64 - __builtin_clzll(value);
  const int guess = (bits * 1233) >> 12;  // 1233 / 4096 just above log10(2)
  return guess + (value >= INTEGER_POWERS[guess] ? 1 : 0);
}

// `magnitude` 10^-decimals split at the point.
void Split(std::uint64_t magnitude, int decimals, std::uint64_t& whole, std::uint64_t& fraction) {
  if (decimals <= 0) {
    whole = magnitude;
    fraction = 0;
    return;
  }
  if (decimals >= static_cast<int>(sizeof INTEGER_POWERS / sizeof INTEGER_POWERS[0])) {
    whole = 0;
    fraction = magnitude;
    return;
  }
  const std::uint64_t power = INTEGER_POWERS[decimals];
  // A division by a constant is a multiplication: the decimals programs are written in get one.
  whole = decimals == 3 ? magnitude / 1000 : decimals == 4 ? magnitude / 10000 : magnitude / power;
  fraction = magnitude - whole * power;
}

}  // namespace

std::optional<std::int64_t> ToUnitsByDigits(double value, int decimals) {
  if (!std::isfinite(value)) {
    return std::nullopt;
  }
  if (value == 0.0) {
    return 0;
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

char* WriteUnits(char* out, std::int64_t units, int decimals) {
  char* p = out;
  *p = '-';
  p += units < 0 ? 1 : 0;
  const std::uint64_t magnitude =
      units < 0 ? static_cast<std::uint64_t>(-(units + 1)) + 1 : static_cast<std::uint64_t>(units);
  std::uint64_t whole = 0;
  std::uint64_t fraction = 0;
  Split(magnitude, decimals, whole, fraction);
  if (decimals <= 9) {  // the decimals of lengths: whole groups of digits
    p = WriteWhole(p, whole);
    return fraction == 0 ? p : WriteFraction(p, static_cast<std::uint32_t>(fraction), decimals);
  }
  // Many decimals (a tiny value to six significant digits): two digits at a time.
  p += DigitCount(whole);
  WriteDigits(p, whole);
  if (fraction == 0) {
    return p;
  }
  // The fraction with its leading zeros: the digits of 10^decimals + fraction, whose leading
  // one the point replaces.
  char* const point = p;
  p += 1 + decimals;
  if (decimals <= 18) {  // 10^decimals + fraction < 2 10^18 fits 64 bits
    WriteDigits(p, INTEGER_POWERS[decimals] + fraction);
  } else {
    std::memset(point, '0', static_cast<std::size_t>(p - point));
    WriteDigits(p, fraction);
  }
  *point = '.';
  while (p[-1] == '0') {  // trailing zeros of the fraction go; a digit before them is not one
    --p;
  }
  return p;
}

char* detail::WriteNumberByDigits(char* out, double value, int decimals) {
  if (const std::optional<std::int64_t> units = ToUnitsByDigits(value, decimals)) {
    return WriteUnits(out, *units, decimals);
  }
  return std::to_chars(out, out + NumberRoom(decimals), value, std::chars_format::fixed, decimals)
      .ptr;
}

std::string FormatNumber(double value, int decimals) {
  std::string out(NumberRoom(decimals), '\0');
  out.resize(static_cast<std::size_t>(WriteNumber(out.data(), value, decimals) - out.data()));
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
