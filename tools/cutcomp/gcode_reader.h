// SPDX-License-Identifier: MIT
// Reading part programs: a bounded line reader, the tokenizer of one block, and the interpreter
// that follows the modal state of an RS274/NGC-style program far enough to know, for every
// block, its motion in the XY plane and the compensation phase and side it belongs to.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "block_source.h"

namespace cutcomp::cli {

// The longest line accepted, in bytes. Part programs have short blocks; the cap keeps a
// corrupt or binary file (one huge "line") from being read into memory whole.
inline constexpr std::size_t MAX_LINE_LENGTH = 65536;

// Reads a file line by line without ever holding more than MAX_LINE_LENGTH bytes of a line.
// Accepts LF and CRLF endings; the terminator is not part of the line.
class LineReader {
public:
  explicit LineReader(std::FILE* file) : m_File(file) {}
  // False at the end of the file; throws InputError for a line longer than MAX_LINE_LENGTH.
  bool Next(std::string& line);
  // 1-based number of the line last returned.
  std::size_t LineNumber() const { return m_Line; }

private:
  bool Fill();

  std::FILE* m_File;
  char m_Buffer[1 << 15];
  std::size_t m_Pos = 0;
  std::size_t m_End = 0;
  std::size_t m_Line = 0;
};

struct Vec2 {
  double x = 0.0;
  double y = 0.0;
};

// Splits one line into items. Throws InputError for text that is no word or comment and for
// the constructs this reader does not evaluate (expressions, parameters, O-words).
std::vector<Item> Tokenize(const std::string& line, std::size_t lineNumber, bool& blockDelete);

enum class Phase { NONE, ESTABLISH, DOING, RETRACT };
enum class Side { NONE, LEFT, RIGHT };
enum class Units { MM, INCH };

// A block with what the interpreter made of it.
struct Block {
  std::size_t line = 0;
  std::string text;  // as read
  bool blockDelete = false;
  std::vector<Item> items;

  // Motion mode performed by the block: -1 none, 0 G0, 1 G1, 2 G2, 3 G3. Other motions
  // (canned cycles, machine-coordinate moves) leave it at -1.
  int motion = -1;
  bool explicitMotionWord = false;  // the block carries its own G0..G3
  int modalMotion = -1;             // the motion mode in force after the block (-1: none/other)
  // The block moves the tool in the XY plane: a line of length >= EPSILON or an arc, from a
  // known start to a known end.
  bool planeMotion = false;
  bool otherAxes = false;  // Z, A, B, C, U, V or W words
  Vec2 start;
  Vec2 end;
  bool startKnown = false;
  bool endKnown = false;
  // Arcs (motion 2 or 3 with planeMotion): centre, radius at the start, full circle.
  Vec2 center;
  double radius = 0.0;
  bool fullCircle = false;

  // Compensation: the phase of this block's plane motion, and the side and signed radius in
  // force for it. A zero radius gives phase NONE: such runs are not offset at all.
  Phase phase = Phase::NONE;
  Side side = Side::NONE;
  double compRadius = 0.0;
  bool programEnd = false;  // M2 or M30: compensation and the run end here

  Units units = Units::MM;
  bool incremental = false;  // G91 in force for this block's coordinates
  bool arcAbsolute = false;  // G90.1 in force for this block's I J
};

// The tool table: tool number -> diameter.
class ToolTable {
public:
  // Lines "T<n> P<n> D<diameter>" with optional other words and ';' or '(' comments.
  // Throws InputError.
  void Load(std::FILE* file);
  void Add(int tool, double diameter) { m_Diameters[tool] = diameter; }
  const double* Find(int tool) const;
  bool Empty() const { return m_Diameters.empty(); }

private:
  std::map<int, double> m_Diameters;
};

struct ReaderOptions {
  std::optional<double> radius;  // --radius: overrides D
  const ToolTable* tools = nullptr;
};

// Follows the modal state of a program block by block.
class GcodeReader {
public:
  GcodeReader(std::FILE* file, ReaderOptions options);
  // False at the end of the program; throws InputError.
  bool Next(Block& block);

private:
  enum class Run { NONE, ESTABLISH_PENDING, DOING, CANCEL_PENDING };

  void Interpret(Block& block);
  double ResolveRadius(const Block& block, int compCode, const Item* d, std::size_t col);

  LineReader m_Lines;
  ReaderOptions m_Options;
  std::string m_Line;

  // Modal state.
  int m_Motion = -1;  // 0..3, 80, or a canned cycle code x10 (e.g. 810)
  Units m_Units = Units::MM;
  bool m_Incremental = false;
  bool m_ArcAbsolute = false;
  Vec2 m_Pos;
  bool m_KnownX = false;
  bool m_KnownY = false;
  int m_SelectedTool = -1;
  int m_LoadedTool = -1;

  Run m_Run = Run::NONE;
  Side m_Side = Side::NONE;
  double m_CompRadius = 0.0;
};

}  // namespace cutcomp::cli
