// SPDX-License-Identifier: MIT
// The RS274/NGC language layer: executes a program's parameters, expressions and O-word control
// flow (subroutines, conditions, loops) and hands the reader the executed blocks, flattened to
// words with plain numbers, each with the file and line it came from and the calls that led
// there. Loops and calls re-read their lines from the file, so memory does not grow with the
// number of iterations or the length of the program.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "block_source.h"

namespace cutcomp::language {

// The axes whose current position a program can read (#5420..#5428, #<_x>..#<_w>).
enum class Axis { X, Y, Z, A, B, C, U, V, W };
inline constexpr int AXIS_COUNT = 9;

// What a program can read of the machine's state through the predefined read-only parameters.
// The reader implements it: its state must reflect every block handed out so far (the layer
// evaluates a block only after the reader has taken the previous one).
class MachineState {
public:
  virtual ~MachineState() = default;
  // Current position in program units and the coordinate system in force; nullopt while the
  // reader does not know it (before the first move on that axis, after homing...).
  virtual std::optional<double> Position(Axis axis) const = 0;
  virtual bool Metric() const = 0;       // G21 (true) or G20 in force
  virtual bool Incremental() const = 0;  // G91 in force
  virtual int CurrentTool() const = 0;   // the tool in the spindle (M6); 0 for none
  virtual int SelectedTool() const = 0;  // the last T word; -1 for none
  // Diameter of the current tool from the tool table; nullopt when unknown.
  virtual std::optional<double> ToolDiameter() const = 0;
};

// A stand-in for the reader's state, for tools without a reader of their own (the tests, the
// fuzz target): it treats every axis word as a move in the distance mode in force and follows
// G20/G21, G90/G91, T and M6. Feed it each block the source hands out.
class TrackedMachineState : public MachineState {
public:
  void Observe(const cli::SourceBlock& block);
  std::optional<double> Position(Axis axis) const override;
  bool Metric() const override { return m_Metric; }
  bool Incremental() const override { return m_Incremental; }
  int CurrentTool() const override { return m_CurrentTool; }
  int SelectedTool() const override { return m_SelectedTool; }
  std::optional<double> ToolDiameter() const override;

  std::map<int, double> diameters;  // tool number -> diameter, for #5410

private:
  double m_Position[AXIS_COUNT] = {};
  bool m_Known[AXIS_COUNT] = {};
  bool m_Metric = true;
  bool m_Incremental = false;
  int m_CurrentTool = 0;
  int m_SelectedTool = -1;
};

struct LanguageOptions {
  // Directories searched in order for name.ngc when o<name> is called and not defined in the
  // program. The CLI puts the program's own directory first; an empty entry is the current one.
  std::vector<std::string> subroutineDirs;
  // Lines executed or skipped (O-word lines and lines passed over included) before the run is
  // stopped as a loop that does not end.
  std::uint64_t maxBlocks = 100000000;
  // Nested subroutine calls before the run is stopped as a recursion that does not end.
  std::size_t maxCallDepth = 64;
  // Receives warnings (a numbered parameter read before it is set, lines after the program
  // end that are left out), located like errors. Unset: warnings are dropped.
  std::function<void(const cli::InputError&)> warn;
};

// Splits a colon-separated search path ("subs:/opt/ngc") into directories.
std::vector<std::string> SplitSearchPath(const std::string& path);

// Executes a program and hands out its blocks.
//
// A block's text is the source line when the line is plain words; when anything on it was
// computed (a word from a parameter or expression, an assignment removed), it is the executed
// words written out ("G1 X3. Y2"), so that a writer echoing an unchanged block writes what was
// executed. Lines holding only O-words or assignments hand out no block; blank lines do.
class LanguageSource : public cli::BlockSource {
public:
  // `program` must stay open while the source is used; loops and calls need it seekable (a
  // flat program may come from a pipe).
  LanguageSource(std::FILE* program, const MachineState& state, LanguageOptions options = {});
  ~LanguageSource() override;
  LanguageSource(const LanguageSource&) = delete;
  LanguageSource& operator=(const LanguageSource&) = delete;

  // Throws InputError with the file, line, column and call chain of the fault.
  bool Next(cli::SourceBlock& block) override;

  // Whether the block last handed out computed anything (a word from a parameter or an
  // expression, an assignment): its text is then the executed words, which a writer may
  // rather write from the items with its own number format. (The seam's SourceBlock has no
  // field for this.)
  bool LastBlockComputed() const;

  // The subroutine called at `site` ("o<pocket>"), empty if no call was executed there.
  std::string RoutineCalledAt(const cli::SourceLocation& site) const;

private:
  struct Impl;
  std::unique_ptr<Impl> m_Impl;
};

// Splits a line of plain words and comments into items, as the language layer does for a
// line that computes nothing, for files that are no program (a tool table). Throws InputError
// (with `lineNumber`) for text that is no word or comment, parameters and expressions included.
std::vector<cli::Item> TokenizePlain(const std::string& line, std::size_t lineNumber,
                                     bool& blockDelete);

// "part.ngc:40:7: in o<pocket> called from part.ngc:12": where an error or warning lies (the
// column left out when 0, the line when 0) and, inside a subroutine, the chain of calls that
// led there. `program` names the main program; `source` (optional) names the subroutines.
std::string FormatPlace(const cli::InputError& error, const std::string& program,
                        const LanguageSource* source = nullptr);

// FormatPlace, then the message: "part.ngc:40:7: in o<pocket> called from part.ngc:12: division
// by zero". (The CLI may put its "error: " between the two.)
std::string FormatInputError(const cli::InputError& error, const std::string& program,
                             const LanguageSource* source = nullptr);

}  // namespace cutcomp::language
