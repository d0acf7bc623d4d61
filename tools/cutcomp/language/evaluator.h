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
};

struct Assignment {
  ParameterRef target;
  double value = 0.0;
};

// What a line that is no O-word line holds.
struct EvaluatedLine {
  bool blockDelete = false;
  std::vector<cli::Item> items;
  std::vector<Assignment> assignments;  // in the order written; apply after the line
  bool computed = false;                // a word took its value from a parameter or an expression
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
void EvaluateLine(const std::string& line, ParameterAccess& parameters, bool plainOnly,
                  EvaluatedLine& result, bool fastPath = true);

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

// The text of a computed word: shortest decimal that reads back as the same double, never an
// exponent, "-0" as "0"; coordinates (X Y Z A B C U V W I J K R Q) get a decimal point even
// when integral ("X3."), because some controllers read "X3" as 3 steps of their resolution.
std::string FormatWord(char letter, double value);

}  // namespace cutcomp::language::detail
