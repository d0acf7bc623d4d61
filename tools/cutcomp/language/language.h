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

// The tool offset registers a Fanuc-family program reads through its system variables.
enum class OffsetKind { LENGTH_GEOMETRY, LENGTH_WEAR, RADIUS_GEOMETRY, RADIUS_WEAR };

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

  // For Fanuc-family system variables; each answers nullopt (unknown: reading the variable is
  // an input error naming it) unless the implementation follows that state.
  // The G code in force in a modal group, numbered as Fanuc numbers them for machining centres
  // (1 motion, 2 plane, 3 distance, 5 feed mode, 6 units, 7 cutter compensation, 8 tool
  // length, 9 cycles, 14 work coordinates...): #4001 to #4030.
  virtual std::optional<double> ModalGroup(int /*group*/) const { return std::nullopt; }
  // The last value of a modal word (B D E F H M N S T): #4102 to #4120.
  virtual std::optional<double> ModalWord(char /*letter*/) const { return std::nullopt; }
  // A tool offset register in program units (a radius for RADIUS_*): #2001.., #10001...
  virtual std::optional<double> ToolOffset(OffsetKind /*kind*/, int /*number*/) const {
    return std::nullopt;
  }
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
  // Groups 1 (G0-G3), 2, 3, 6 and 7 once a block states them (3 and 6 from the start, as
  // Metric and Incremental); the words D F H N S T once written.
  std::optional<double> ModalGroup(int group) const override;
  std::optional<double> ModalWord(char letter) const override;
  // RADIUS_GEOMETRY of register n: half the diameter of tool n; nothing else.
  std::optional<double> ToolOffset(OffsetKind kind, int number) const override;

  std::map<int, double> diameters;  // tool number -> diameter, for #5410

private:
  double m_Position[AXIS_COUNT] = {};
  bool m_Known[AXIS_COUNT] = {};
  bool m_Metric = true;
  bool m_Incremental = false;
  int m_CurrentTool = 0;
  int m_SelectedTool = -1;
  std::map<int, double> m_Groups;  // groups 1, 2 and 7
  std::map<char, double> m_Words;
};

// The language a program is written in.
enum class Dialect {
  AUTO,   // recognised from the program (see LanguageSource::DialectChoice)
  NGC,    // RS274/NGC as LinuxCNC runs it: parameters, expressions, O-words
  FANUC,  // Fanuc-family custom macro B, M98/M99 subprograms, G65/G66 macro calls
  HAAS,   // macro B as Haas controls run it: M97 local subprograms, comparisons as values
  // FANUC and HAAS on a lathe: the language is theirs; X is a diameter, U and W are increments
  // and T0101 selects a tool and its offset (the modal reader's business: the language layer is
  // given FANUC or HAAS, LanguageOf).
  FANUC_LATHE,
  HAAS_LATHE
};

// The language of a dialect: FANUC for FANUC_LATHE, HAAS for HAAS_LATHE, the others as they are.
inline Dialect LanguageOf(Dialect dialect) {
  return dialect == Dialect::FANUC_LATHE  ? Dialect::FANUC
         : dialect == Dialect::HAAS_LATHE ? Dialect::HAAS
                                          : dialect;
}

// "ngc", "fanuc", "haas", "fanuc-lathe", "haas-lathe" ("auto" for AUTO).
const char* DialectName(Dialect dialect);

// How a Fanuc-family program's coordinate word without a decimal point is read ("X100"): in
// whole units (calculator-type input) or in the least input increment (0.001 mm, 0.0001 inch,
// 0.001 degree), as the control's parameter says. Words of value 0 and words with a point
// read the same either way.
enum class IntegerWords {
  WARN,      // whole units, with a warning at the first such word: the control may differ
  WHOLE,     // whole units
  INCREMENT  // least input increment: X100 is 0.1 mm
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
  // The program's language. AUTO recognises it from the program (reading it through once
  // first when it is a file).
  Dialect dialect = Dialect::NGC;
  // The machine's block-delete switch: on, lines starting with '/' are passed over entirely
  // (nothing on them runs); off, they run and are handed on marked, to be written with their
  // '/', and a line that computes or jumps there is refused.
  bool skipBlockDelete = false;
  // Fanuc-family dialects: coordinate words without a decimal point.
  IntegerWords integerWords = IntegerWords::WARN;
};

// The dialect a program is run in, and what decided it.
struct DialectChoice {
  Dialect dialect = Dialect::NGC;
  bool recognised = false;    // from the program rather than given
  cli::SourceLocation where;  // recognised: the line that decided (line 0: none did)
  std::string construct;      // recognised: what there decided ("WHILE", "o100 sub")
  // "fanuc (recognised from line 17: WHILE)", "ngc (as given)".
  std::string Describe() const;
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

  // The subroutine called at `site` ("o<pocket>", "O1234"), empty if no call was executed
  // there.
  std::string RoutineCalledAt(const cli::SourceLocation& site) const;

  // The dialect the program runs in. Recognised from a file, it is known once the source is
  // made; from a pipe, once the first line that tells has been read (until then: NGC).
  const DialectChoice& ChosenDialect() const;

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
// The same for a place that is no error: a block's `where` and `callers`.
std::string FormatPlace(const cli::SourceLocation& where, std::size_t col,
                        const std::vector<cli::SourceLocation>& callers, const std::string& program,
                        const LanguageSource* source = nullptr);

// FormatPlace, then the message: "part.ngc:40:7: in o<pocket> called from part.ngc:12: division
// by zero". (The CLI may put its "error: " between the two.)
std::string FormatInputError(const cli::InputError& error, const std::string& program,
                             const LanguageSource* source = nullptr);

}  // namespace cutcomp::language
