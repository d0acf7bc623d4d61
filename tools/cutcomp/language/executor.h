// SPDX-License-Identifier: MIT
// The executor's state, shared by its files: language_source.cpp runs RS274/NGC (parameters,
// O-words) and the public side, macro_b.cpp runs the Fanuc-family dialects (macro B
// statements, their variables), macro_calls.cpp their subprograms and macro calls, dialect.cpp
// recognises the dialect. Control flow jumps by seeking in the file: a loop stores where its
// body starts, a call where to come back to, nothing else of the program is kept.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "evaluator.h"
#include "language.h"
#include "source_file.h"

namespace cutcomp::language {

// #1..#30 carry an O-word subroutine's arguments: each call has its own, the caller's come back
// after.
inline constexpr int ARGUMENT_COUNT = 30;
// Macro B's local variables, #1..#33: each macro call (G65, G66) has its own set.
inline constexpr int LOCAL_COUNT = 33;

// An open if, while, do or repeat; in macro B an open WHILE ... DO m or DO m loop.
struct Control {
  detail::Keyword kind = detail::Keyword::IF;
  std::string label;   // macro B: the loop's number
  FilePosition start;  // while: its own line; do, repeat: the first line of the body
  std::size_t line = 0;
  double remaining = 0.0;  // repeat: iterations left, this one included
  bool sawElse = false;    // if: the else branch runs
  long lineOffset = 0;     // macro B: where the WHILE or DO line starts, which names the loop
};

// How a macro B frame was entered.
enum class CallKind {
  MAIN,
  SUBPROGRAM,  // M98
  LOCAL,       // M97 (Haas): a sequence number of the same program
  MACRO,       // G65
  MODAL        // G66, after a move
};

// The main program or a called subroutine.
struct Frame {
  std::string label;  // "<pocket>", "100", "O1234"; empty for the main program
  cli::SourceLocation callSite;
  std::size_t returnFile = 0;
  FilePosition returnPosition;
  cli::SourceLocation definition;  // the sub line; macro B: the program's O line
  std::array<double, ARGUMENT_COUNT> saved{};
  std::array<bool, ARGUMENT_COUNT> savedSet{};
  std::unordered_map<std::string, double> locals;
  std::vector<Control> controls;
  // Macro B
  CallKind call = CallKind::MAIN;
  long program = -1;  // the O number of the program it runs; -1 for a main program without one
  std::size_t programFile = 0;
  FilePosition programStart;  // the first line of the program's text
  FilePosition bodyStart;     // where each run starts (M97: the sequence number's line)
  long repeats = 1;           // runs left, this one included
  std::size_t level = 0;      // the set of local variables in force
  std::array<std::optional<double>, LOCAL_COUNT> arguments{};  // G65, G66: each run's start
};

struct SubDefinition {
  std::size_t file = 0;
  FilePosition body;
  std::size_t line = 0;
};

// Where a sequence number stands in a program, and the loops that enclose it there.
struct SequenceTarget {
  FilePosition position;
  std::vector<long> loops;  // the WHILE/DO lines (their offsets) around it, outermost first
};

// A call or return decided on a line and made before the next line is read, so that the
// line's other words go out first ("G0 Z10. M99").
struct PendingFlow {
  enum Kind { NONE, CALL, RETURN } kind = NONE;
  CallKind call = CallKind::SUBPROGRAM;
  long number = -1;  // CALL: the program (or for M97 the sequence number); RETURN: M99's P
  long repeats = 1;  // CALL
  std::array<std::optional<double>, LOCAL_COUNT> arguments{};  // G65, G66
  cli::SourceLocation site;
  std::size_t col = 0;
  std::string what;  // "M98", "G65"...
};

// Macro B's variables beside the locals: common #100-#999 (and Haas' #10000-#10999), and the
// system variables a program sets.
struct MacroVariables {
  std::vector<std::array<std::optional<double>, LOCAL_COUNT>> locals;  // [0]: the main program
  std::vector<std::optional<double>> common;  // #100-#999, then #10000-#10999
  std::vector<bool> warned;                   // read before set, warned once
  std::vector<int> warnedSystem;              // system variables read as a stand-in, warned once
  std::array<double, 2> clocks{};             // #3001, #3002
  bool clockWarned = false;
  std::array<std::optional<double>, 2> parts{};  // #3901, #3902
};

struct LanguageSource::Impl : detail::ParameterAccess {
  Impl(std::FILE* program, const MachineState& state, LanguageOptions options);

  bool Next(cli::SourceBlock& block);

  // ParameterAccess
  double Read(const detail::ParameterRef& ref) override;
  bool Exists(const detail::ParameterRef& ref) override;
  void CheckWritable(const detail::ParameterRef& ref) override;
  std::optional<double> ReadMacro(const detail::ParameterRef& ref) override;
  void Write(const detail::Assignment& assignment);

  SourceFile& File() { return *m_Files[m_File]; }
  cli::SourceLocation Here() { return {File().Name(), File().LineNumber()}; }
  std::vector<cli::SourceLocation> Callers() const {
    std::vector<cli::SourceLocation> callers;
    for (std::size_t i = m_Frames.size(); i-- > 1;) {
      callers.push_back(m_Frames[i].callSite);
    }
    return callers;
  }
  cli::InputError Located(std::size_t col, const std::string& message) {
    return cli::InputError(Here(), col, message, Callers());
  }
  void Warn(std::size_t col, const std::string& message) {
    if (m_Options.warn) {
      m_Options.warn(Located(col, message));
    }
  }
  void Count() {
    if (++m_Count > m_Options.maxBlocks) {
      throw Located(0, "the program runs past " + std::to_string(m_Options.maxBlocks) +
                           " blocks (lines run or passed over): a loop that does not end?");
    }
  }

  // RS274/NGC (language_source.cpp)
  bool NextNgc(cli::SourceBlock& block);
  bool EndOfFile();
  bool AfterEnd(cli::SourceBlock& block);
  void Emit(cli::SourceBlock& block);
  void Execute(const detail::OHead& head);
  detail::OHead SkipTo(const detail::OHead& opening, unsigned wanted, detail::Keyword end);
  void Define(const detail::OHead& head);
  void Call(const detail::OHead& head);
  void Return(const detail::OHead& head);
  SubDefinition Find(const detail::OHead& head, const cli::SourceLocation& site);
  bool Search(const detail::OHead& head, std::size_t file, SubDefinition& found);
  void If(const detail::OHead& head);
  void Push(const detail::OHead& head, Control control);
  Control& Top(const detail::OHead& head, detail::Keyword kind);
  void Leave(const detail::OHead& head);
  std::vector<double> Arguments(const detail::OHead& head, std::size_t min, std::size_t max) {
    return detail::ReadArguments(m_Line, head, min, max, *this);
  }

  // The dialect (dialect.cpp)
  void Recognise(std::FILE* program);
  // While a program from a pipe is not recognised yet: whether `m_Line` decides it; true when
  // it is Fanuc-family and is to be run as such.
  bool RecogniseLine();
  void Decide(Dialect dialect, const std::string& construct);
  // The message for a line that failed: what the line is when it belongs to another dialect
  // or another language, else `message` as it is.
  std::string Foreign(const std::string& message);
  // A construct of the other dialect met while running this one.
  detail::LineError Mixing(std::size_t col, const std::string& construct);
  // A program recognised as RS274/NGC: refuses the words of Fanuc-family calls (M98...).
  void ForeignWords(const std::vector<cli::Item>& items);

  // Macro B (macro_b.cpp)
  bool NextMacro(cli::SourceBlock& block);
  bool MacroLine(cli::SourceBlock& block);
  bool MacroWords(cli::SourceBlock& block, const detail::MacroHead& head);
  bool MacroAfterEnd(cli::SourceBlock& block, const detail::MacroHead& head);
  bool Statement(cli::SourceBlock& block, const detail::MacroHead& head);
  bool MacroEndOfFile();
  void EndOfProgramText(const std::string& why);
  void OpenLoop(const detail::MacroStatement& statement, FilePosition start);
  void SkipToEnd(int loop, std::size_t col);
  void Goto(long target, long from, std::size_t col);
  const std::vector<SequenceTarget>& Targets(const Frame& frame, long target);
  std::optional<double>* Variable(int number);
  std::optional<double> SystemVariable(int number, std::size_t col);
  void CheckMacroWritable(const detail::ParameterRef& ref);
  // Sets a variable; false, with a block made, for #3006 (a stop with a message).
  bool WriteMacro(cli::SourceBlock& block, const detail::Assignment& assignment, std::size_t col);
  // Coordinates written without a decimal point, and computed addresses rounded to their
  // increment.
  void Addresses();
  std::string ProgramName(const Frame& frame) const;

  // Macro B calls (macro_calls.cpp)
  bool CallWords();
  void Perform();
  void MacroCall(const PendingFlow& call);
  void MacroReturn(const PendingFlow& flow);
  SubDefinition FindProgram(long number, const cli::SourceLocation& site, std::size_t col);
  bool SearchProgram(long number, std::size_t file, SubDefinition& found);
  bool HeaderlessProgram(std::size_t file, SubDefinition& found);

  LanguageOptions m_Options;
  const MachineState& m_State;
  std::vector<std::unique_ptr<SourceFile>> m_Files;
  std::size_t m_File = 0;
  std::vector<Frame> m_Frames;
  std::unordered_map<std::string, SubDefinition> m_Subs;
  std::vector<double> m_Numbered;
  std::vector<bool> m_Set;
  std::vector<bool> m_Warned;
  std::unordered_map<std::string, double> m_Globals;
  std::map<std::pair<std::string, std::size_t>, std::string> m_CallSites;
  std::uint64_t m_Count = 0;
  bool m_Ended = false;  // M2 or M30 ran
  bool m_EndedInMain = false;
  std::string m_Line;
  detail::EvaluatedLine m_Evaluated;

  // The dialect
  DialectChoice m_Choice;
  bool m_Undecided = false;         // AUTO on a pipe: not recognised yet
  bool m_UndecidedRan = false;      // ... and a line computed or jumped meanwhile
  bool m_Macro = false;             // FANUC or HAAS
  bool m_CheckForeign = false;      // recognised as RS274/NGC from a construct of its own
  cli::SourceLocation m_WeakWhere;  // ... a program number seen meanwhile
  std::string m_WeakConstruct;

  // Macro B
  detail::MacroRules m_Rules;
  MacroVariables m_Variables;
  std::map<long, SubDefinition> m_Programs;
  std::map<std::tuple<std::size_t, long, long>, std::vector<SequenceTarget>> m_Targets;
  PendingFlow m_Pending;
  bool m_ModalOn = false;       // G66 in force
  PendingFlow m_Modal;          // ... the call it makes after each move
  bool m_MainStarted = false;   // the main program has run a line of its own
  bool m_PastPrograms = false;  // after the end, in the text of the programs that follow
  bool m_WarnedIntegers = false;
};

}  // namespace cutcomp::language
