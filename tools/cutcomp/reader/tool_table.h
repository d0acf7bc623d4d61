// SPDX-License-Identifier: MIT
// The tool table for G41/G42 D<n>: tool number -> diameter.
#pragma once

#include <cstdio>
#include <map>

namespace cutcomp::cli {

class ToolTable {
public:
  // Lines "T<n> P<n> D<diameter>" with optional other words and ';' or '(' comments. Throws
  // InputError for a line that is no tool, a tool listed twice and a tool without D.
  void Load(std::FILE* file);
  void Add(int tool, double diameter) { m_Diameters[tool] = diameter; }
  const double* Find(int tool) const;
  bool Empty() const { return m_Diameters.empty(); }

private:
  std::map<int, double> m_Diameters;
};

}  // namespace cutcomp::cli
