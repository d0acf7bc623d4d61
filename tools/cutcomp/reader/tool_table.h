// SPDX-License-Identifier: MIT
// The tool table for G41/G42 D<n>: tool number -> radius (given as a diameter D, or as a radius
// R with its wear W), and for a turning tool the direction of its imaginary tip (Q, 0-9, on the
// chart with X down: the tool in front of the spindle's centre line). Beside the tools, the
// offset registers a D word names on a Fanuc-family control (`D07 8.0`: register 7 holds the
// radius 8.0), from the same table or from a list of their own.
#pragma once

#include <cstddef>
#include <cstdio>
#include <map>
#include <string>

namespace cutcomp::cli {

// A radius and the wear added to it, in the table's unit.
struct ToolRadiusEntry {
  double radius = 0.0;
  double wear = 0.0;
};

class ToolTable {
public:
  // Tool lines "T<n> P<n> D<diameter> [Q<tip>]" or "T<n> P<n> R<radius> [W<wear>] [Q<tip>]",
  // with optional other words, and register lines "D<n> <radius> [<wear>]"; ';' or '(' comments.
  // Throws InputError for a line that is neither, a tool or register listed twice, a tool
  // without D or R, one with both, and a Q that is not a whole number 0-9.
  void Load(std::FILE* file);
  // An offset list: register lines only ("D<n>" or "<n>", a radius, a wear), blank and comment
  // lines, and header lines of words without numbers ("NO. GEOMETRY WEAR"). Throws InputError.
  void LoadRegisters(std::FILE* file);
  void Add(int tool, double diameter) { m_Tools[tool] = ToolRadiusEntry{diameter / 2.0, 0.0}; }
  const ToolRadiusEntry* Find(int tool) const;
  const ToolRadiusEntry* FindRegister(int number) const;
  bool Empty() const { return m_Tools.empty() && m_Registers.empty(); }
  void AddTip(int tool, int tip) { m_Tips[tool] = tip; }
  const int* FindTip(int tool) const;
  // A lathe's table: some tool has a tip direction.
  bool Lathe() const { return !m_Tips.empty(); }

private:
  // A register line; false when the line is none (it does not start with D<n> or a number).
  bool ReadRegister(const std::string& line, std::size_t lineNumber, bool bareNumbers);

  std::map<int, ToolRadiusEntry> m_Tools;
  std::map<int, ToolRadiusEntry> m_Registers;
  std::map<int, int> m_Tips;
};

}  // namespace cutcomp::cli
