// SPDX-License-Identifier: MIT
// Reading one line of a program: its words (numbers, parameters, expressions evaluated), its
// parameter assignments (returned, applied by the caller after the line), and the head of an
// O-word line. Knows nothing of files, subroutines or loops; parameters are read through an
// interface the executor implements.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "block_source.h"

namespace cutcomp::language::detail {

// A fault on the line being read, at a 1-based column (0: the whole line).
class LineError : public std::runtime_error {
public:
  LineError(std::size_t col, const std::string& message)
      : std::runtime_error(message), m_Col(col) {}
  std::size_t Col() const { return m_Col; }

private:
  std::size_t m_Col;
};

// A parameter as a line names it: #12, #<name> (local), #<_name> (global).
struct ParameterRef {
  bool named = false;
  int number = 0;    // numbered
  std::string name;  // named: lower case, without spaces or brackets
  std::size_t col = 0;
  std::string Display() const;  // "#12", "#<name>"
};

class ParameterAccess {
public:
  virtual ~ParameterAccess() = default;
  // The value, or LineError when it cannot be read (unknown, not set, state not known).
  virtual double Read(const ParameterRef& ref) = 0;
  // For EXISTS: whether reading would give a value.
  virtual bool Exists(const ParameterRef& ref) = 0;
  // LineError unless the program may assign the parameter.
  virtual void CheckWritable(const ParameterRef& ref) = 0;
  // Macro B: the value, or nullopt when the variable is vacant. By default as Read.
  virtual std::optional<double> ReadMacro(const ParameterRef& ref) { return Read(ref); }
};

// How the Fanuc-family dialects read values (macro B): a variable may be vacant, operators,
// functions and limits are macro B's.
struct MacroRules {
  // Haas: a comparison is a value (1 or 0) anywhere, not only in a condition; AND, OR and XOR
  // take the integer part of their operands.
  bool haas = false;
  // The least input increment ROUND rounds to in an address: 0.001 mm, or 0.0001 inch.
  bool metric = true;
};

struct Assignment {
  ParameterRef target;
  double value = 0.0;
  bool vacant = false;  // macro B: #1 = #0
};

// Macro B: a word whose value is a vacant variable is left out of its block, as the controls
// leave it out ("G0 X#1" with #1 vacant is "G0").
struct VacantWord {
  char letter = 0;
  std::size_t col = 0;
};

// What a line that is no O-word line holds.
struct EvaluatedLine {
  bool blockDelete = false;
  std::vector<cli::Item> items;
  std::vector<Assignment> assignments;  // in the order written; apply after the line
  bool computed = false;                // a word took its value from a parameter or an expression
  std::vector<VacantWord> vacant;       // macro B: words left out
};

// Evaluates a line of words, comments and assignments. A line with no parameter, expression
// or O-word gives exactly the items of the plain tokenizer (same texts, columns and errors).
// With `plainOnly`, a parameter or expression is not evaluated: PlainOnly is thrown instead,
// with the column where it starts.
struct PlainOnly {
  std::size_t col = 0;
};
// `fastPath`: a line of plain words only ("G1 X12.5 Y-3") is read by ReadPlainLine; off only
// to check that reading against the general one.
// With `macro`, the line is an NC statement of macro B (words only: its assignments and
// control statements are read by ReadMacroStatement), read from `start` on: vacant words are
// left out, ';' ends the block, a '/' inside it is refused.
void EvaluateLine(const std::string& line, ParameterAccess& parameters, bool plainOnly,
                  EvaluatedLine& result, bool fastPath = true, const MacroRules* macro = nullptr,
                  std::size_t start = 0);

// Reads a line of plain words, each a letter and at once a number of at most 15 digits,
// separated by spaces or nothing, into `result` exactly as EvaluateLine does. False, with
// `result` unusable, for any other line (comments, parameters, spaces inside a number, O...).
bool ReadPlainLine(const std::string& line, EvaluatedLine& result);

// The value of an unsigned decimal ("12.5", ".5", "5.") of at most 15 digits, exactly as
// from_chars reads it; false (nothing read) for any other text, which from_chars then reads.
bool FastDecimal(const char* begin, const char* end, double& value);

enum class Keyword {
  SUB,
  ENDSUB,
  CALL,
  RETURN,
  IF,
  ELSEIF,
  ELSE,
  ENDIF,
  WHILE,
  ENDWHILE,
  DO,
  REPEAT,
  ENDREPEAT,
  BREAK,
  CONTINUE
};

// "sub", "endwhile": the keyword as programs write it.
const char* KeywordText(Keyword keyword);

// The head of an O-word line ("o100 while", "o<pocket> call"): what follows is read by
// ReadArguments.
struct OHead {
  std::string label;  // "100" or "<pocket>" (numbers without leading zeros, names lower case)
  Keyword keyword = Keyword::SUB;
  std::size_t col = 0;   // of the O
  std::size_t rest = 0;  // index in the line after the keyword
  bool blockDelete = false;
  std::string Display() const { return "o" + label; }
};

// The O-word head of a line, or nullopt when the line is no O-word line (a program number such
// as "O1234" with no keyword is an ordinary word). Throws LineError for a malformed head unless
// `lenient`, which returns nullopt for it instead (lines passed over are not checked).
std::optional<OHead> ReadOHead(const std::string& line, bool lenient);

// The bracketed arguments after an O-word head ("[#1 LT 3]", "[1] [2]"), between `min` and
// `max` of them; comments may follow, anything else is a LineError.
std::vector<double> ReadArguments(const std::string& line, const OHead& head, std::size_t min,
                                  std::size_t max, ParameterAccess& parameters);

// ---------------------------------------------------------------------------------------------
// Macro B

// What a macro B line is, read from its text alone (nothing evaluated), for running it and for
// passing over it (finding a sequence number, the END of a loop, a program).
struct MacroHead {
  enum Kind {
    WORDS,     // an NC statement, or nothing
    ASSIGN,    // #1 = ...
    IF,        // IF [...] GOTO n, IF [...] THEN ...
    GOTO,      // GOTO n
    WHILE,     // WHILE [...] DO m
    DO,        // DO m (a loop without a condition)
    END,       // END m
    PRINT,     // POPEN, PCLOS, DPRNT[...], BPRNT[...]: output to a port
    PROGRAM,   // O1234 at the start of the line: a program's number
    NGC_OWORD  // o100 sub, o<name> call...: an O-word of RS274/NGC
  } kind = WORDS;
  bool blockDelete = false;  // '/' or '/1' first
  int skipSwitch = 0;        // '/2' to '/9': the switch named
  long sequence = -1;        // the N number, -1 for none
  int loop = 0;              // DO, END, and the DO of a WHILE: its number (0: not read)
  long program = -1;         // PROGRAM: its number
  std::size_t body = 0;      // index of the statement (after '/' and N)
  std::size_t rest = 0;      // index after the keyword
  std::string keyword;       // as written, upper case ("WHILE")
};
MacroHead ReadMacroHead(const std::string& line);

// A macro B statement (any kind but WORDS, PROGRAM and PRINT) as it runs now: conditions
// evaluated, the jump or assignment it makes. Throws LineError for what is malformed.
struct MacroStatement {
  enum Kind { NONE, ASSIGN, GOTO, WHILE, DO, END } kind = NONE;  // NONE: an IF that fails
  Assignment assignment;                                         // ASSIGN
  long target = 0;                                               // GOTO: the N number
  std::size_t targetCol = 0;                                     // GOTO: where it is written
  bool holds = false;                                            // WHILE: the condition
  int loop = 0;                                                  // WHILE, DO, END
  std::size_t col = 0;                                           // of the statement
};
MacroStatement ReadMacroStatement(const std::string& line, const MacroHead& head,
                                  ParameterAccess& parameters, const MacroRules& rules);

// Haas: the condition of "[#1 LT 10] M99 P10" at `pos`; `pos` is left after it.
bool ReadMacroCondition(const std::string& line, std::size_t& pos, ParameterAccess& parameters,
                        const MacroRules& rules);

// `value` rounded to the least input increment of the address `letter` (0.001 mm, 0.0001 inch,
// 0.001 degree; whole numbers for D H L M N O P S T; unchanged for G F E and the rest), halves
// away from zero, as a Fanuc-family control rounds a computed address.
double RoundToAddress(char letter, double value, bool metric);

// The text of a computed word: shortest decimal that reads back as the same double, never an
// exponent, "-0" as "0"; coordinates (X Y Z A B C U V W I J K R Q) get a decimal point even
// when integral ("X3."), because some controllers read "X3" as 3 steps of their resolution.
std::string FormatWord(char letter, double value);

}  // namespace cutcomp::language::detail
