// SPDX-License-Identifier: MIT
// The Fanuc-style offset list: a header naming the columns, then one row per offset.
#include "offset_list.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace cutcomp::lathe {
namespace {

std::vector<std::string> Fields(const std::string& line) {
  std::istringstream in(line.substr(0, line.find(';')));
  std::vector<std::string> fields;
  std::string field;
  while (in >> field) {
    fields.push_back(field);
  }
  return fields;
}

bool ReadNumber(const std::string& text, double& value) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  value = std::strtod(begin, &end);
  // strtod reads "inf", "nan" and hexadecimal; an offset page holds decimals only.
  const bool decimal = text.find_first_not_of("+-.0123456789") == std::string::npos;
  return decimal && end != begin && *end == '\0' && errno == 0 && std::isfinite(value);
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') {
      c = char(c - 'a' + 'A');
    }
  }
  return text;
}

}  // namespace

OffsetList ReadOffsetList(std::istream& in) {
  OffsetList list;
  const auto fail = [&list](std::size_t line, const std::string& error) {
    list.errorLine = line;
    list.error = error;
    list.offsets.clear();
    return list;
  };
  std::vector<std::string> columns;
  int noColumn = -1;
  int rColumn = -1;
  int tColumn = -1;
  std::string line;
  for (std::size_t number = 1; std::getline(in, line); ++number) {
    const std::vector<std::string> fields = Fields(line);
    if (fields.empty()) {
      continue;
    }
    if (columns.empty()) {
      for (std::size_t i = 0; i < fields.size(); ++i) {
        std::string name = Upper(fields[i]);
        if (name == "NO.") {
          name = "NO";
        }
        for (const std::string& other : columns) {
          if (other == name) {
            return fail(number, "column " + name + " is named twice");
          }
        }
        columns.push_back(name);
        if (name == "NO") {
          noColumn = int(i);
        } else if (name == "R") {
          rColumn = int(i);
        } else if (name == "T") {
          tColumn = int(i);
        }
      }
      if (noColumn < 0 || rColumn < 0 || tColumn < 0) {
        return fail(number,
                    "the header must name the columns NO, R (nose radius) and T (tip "
                    "direction): \"NO. X Z R T\"");
      }
      continue;
    }
    if (fields.size() != columns.size()) {
      return fail(number, "the row has " + std::to_string(fields.size()) +
                              " fields, the header names " + std::to_string(columns.size()));
    }
    std::vector<double> values(fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (!ReadNumber(fields[i], values[i])) {
        return fail(number, columns[i] + " \"" + fields[i] + "\" is not a number");
      }
    }
    const double offset = values[std::size_t(noColumn)];
    const double radius = values[std::size_t(rColumn)];
    const double tip = values[std::size_t(tColumn)];
    if (offset != std::floor(offset) || offset < 1.0 || offset > 99.0) {
      return fail(number, "offset number " + fields[std::size_t(noColumn)] + " is not one of 1-99");
    }
    if (radius < 0.0) {
      return fail(number, "the nose radius R " + fields[std::size_t(rColumn)] + " is negative");
    }
    if (tip != std::floor(tip) || tip < 0.0 || tip > 9.0) {
      return fail(number,
                  "the tip direction T " + fields[std::size_t(tColumn)] + " is not one of 0-9");
    }
    if (!list.offsets.emplace(int(offset), LatheOffset{radius, int(tip)}).second) {
      return fail(number, "offset " + std::to_string(int(offset)) + " is listed twice");
    }
  }
  if (columns.empty()) {
    return fail(0, "the offset list has no header (\"NO. X Z R T\")");
  }
  if (list.offsets.empty()) {
    return fail(0, "the offset list has no offsets");
  }
  list.ok = true;
  return list;
}

}  // namespace cutcomp::lathe
