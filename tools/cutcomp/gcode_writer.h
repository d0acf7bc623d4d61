// SPDX-License-Identifier: MIT
// Writing the compensated program: blocks as written outside compensation, blocks whose plane
// words are replaced by the tool-centre path, and the lines the engine inserted. The writer
// keeps track of the output's own position and motion mode so that incremental coordinates
// and modal motion stay right after it has added or changed blocks.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "gcode_reader.h"

namespace cutcomp::cli {

// Decimals written for lengths when --precision is not given.
inline constexpr int DEFAULT_PRECISION_MM = 3;
inline constexpr int DEFAULT_PRECISION_INCH = 4;

// `value` with `decimals` decimals, trailing zeros and a bare "-0" removed ("10", "-0.5").
std::string FormatNumber(double value, int decimals);

// The tool-centre motion that replaces a block's plane words.
struct ToolMove {
  int motion = 1;  // 0..3
  Vec2 end;
  Vec2 start;  // arcs: the I J are taken relative to it (or absolute under G90.1)
  Vec2 center;
};

class GcodeWriter {
public:
  GcodeWriter(std::FILE* out, std::optional<int> precision) : m_Out(out), m_Precision(precision) {}

  // A block outside compensation: the compensation words removed, otherwise as written.
  void Passthrough(const Block& block);
  // A block whose plane motion is replaced by `move`.
  void Replaced(const Block& block, const ToolMove& move);
  // A block inside compensation without a plane motion of its own, or whose segment was
  // dropped from the tool path: its plane words are removed and the rest kept; `comment`, when
  // given, is appended as a ( ) comment.
  void Stripped(const Block& block, const char* comment);
  // A straight line the engine inserted, in the units and distance mode of `context`.
  void Inserted(const Block& context, const Vec2& end);

  // Where the written program leaves the tool in the plane.
  bool PositionKnown() const { return m_PositionKnown; }
  Vec2 Position() const { return m_Position; }

private:
  int Decimals(const Block& block) const;
  std::string Coordinates(const Block& block, const Vec2& end);
  void Write(const Block& block, const std::string& words, bool changed);

  std::FILE* m_Out;
  std::optional<int> m_Precision;
  Vec2 m_Position;
  bool m_PositionKnown = false;
  int m_Motion = -1;  // motion mode in force in the written program, -1 when unknown/none
};

}  // namespace cutcomp::cli
