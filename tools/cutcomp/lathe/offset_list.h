// SPDX-License-Identifier: MIT
// A lathe's offset list as a Fanuc-style control shows its geometry offset page: one row per
// offset number, with the nose radius (R) and the imaginary tip's direction (T) that T0101's
// "01" offset selects.
//
//   ; geometry offsets of the turning tools (mm)
//   NO.   X         Z         R     T
//   01    -212.40   -398.15   0.8   3
//   02    -190.00   -401.20   0.4   2
//
// The first line that is not blank or a comment (from ';' to the end of the line) names the
// columns, in any order: NO (or NO.) for the offset number, R and T are required; other columns
// (X, Z, Y, wear columns) are read as numbers and not used. The tip numbers are those of the
// Fanuc-family chart (TipChart::X_UP). Lengths are in the program's units unless the caller
// says otherwise.
#pragma once

#include <cstddef>
#include <istream>
#include <map>
#include <string>

namespace cutcomp::lathe {

struct LatheOffset {
  double noseRadius = 0.0;
  int tip = 0;
};

struct OffsetList {
  bool ok = false;
  std::map<int, LatheOffset> offsets;  // by offset number
  std::size_t errorLine = 0;           // 1-based line of the error; 0 for the whole file
  std::string error;                   // set when !ok
};

// refuses: no header; a header without NO, R or T, or naming a column twice; a row with more or
//   fewer fields than the header; a field that is not a number; an offset number outside 1-99
//   or listed twice; a negative nose radius; a tip that is not one of 0-9; a file with no rows.
OffsetList ReadOffsetList(std::istream& in);

}  // namespace cutcomp::lathe
