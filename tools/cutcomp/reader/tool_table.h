// SPDX-License-Identifier: MIT
// The tool table for G41/G42 D<n>: tool number -> diameter, and for a turning tool the
// direction of its imaginary tip (Q, 0-9, on the chart with X down: the tool in front of the
// spindle's centre line).
#pragma once

#include <cstdio>
#include <map>

namespace cutcomp::cli {

class ToolTable {
public:
  // Lines "T<n> P<n> D<diameter> [Q<tip>]" with optional other words and ';' or '(' comments.
  // Throws InputError for a line that is no tool, a tool listed twice, a tool without D and a
  // Q that is not a whole number 0-9.
  void Load(std::FILE* file);
  void Add(int tool, double diameter) { m_Diameters[tool] = diameter; }
  const double* Find(int tool) const;
  bool Empty() const { return m_Diameters.empty(); }
  void AddTip(int tool, int tip) { m_Tips[tool] = tip; }
  const int* FindTip(int tool) const;
  // A lathe's table: some tool has a tip direction.
  bool Lathe() const { return !m_Tips.empty(); }

private:
  std::map<int, double> m_Diameters;
  std::map<int, int> m_Tips;
};

}  // namespace cutcomp::cli
