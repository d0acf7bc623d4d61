// SPDX-License-Identifier: MIT
// The seam between reading a program's text and following its modal state: a source of blocks
// whose words already hold plain numbers, each with the place in the source it came from. The
// language layer executes a program's parameters, expressions and O-words and hands on its
// blocks flattened; a flat program comes through it line by line, as written.
#pragma once

#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace cutcomp::cli {

// A place in a source file. An empty file name is the main program.
struct SourceLocation {
  std::string file;
  std::size_t line = 0;
};

// An error in the input files: where it is and what is wrong. col is 0 when the error concerns
// the whole line (or the whole file, with line 0 as well). Inside a subroutine, `callers` holds
// the call sites that led there, innermost first.
class InputError : public std::runtime_error {
public:
  InputError(std::size_t line, std::size_t col, const std::string& message)
      : std::runtime_error(message), m_Where{std::string(), line}, m_Col(col) {}
  InputError(SourceLocation where, std::size_t col, const std::string& message,
             std::vector<SourceLocation> callers = {})
      : std::runtime_error(message),
        m_Where(std::move(where)),
        m_Col(col),
        m_Callers(std::move(callers)) {}
  std::size_t Line() const { return m_Where.line; }
  std::size_t Col() const { return m_Col; }
  // Empty for the main program.
  const std::string& File() const { return m_Where.file; }
  const std::vector<SourceLocation>& Callers() const { return m_Callers; }

private:
  SourceLocation m_Where;
  std::size_t m_Col;
  std::vector<SourceLocation> m_Callers;
};

// One item of a block as written: a word (letter and number) or a comment.
struct Item {
  enum Kind { WORD, COMMENT } kind = WORD;
  char letter = 0;   // WORD: upper-case letter
  double value = 0;  // WORD
  // WORD: letter and number without spaces, as it is to be written (a word computed from an
  // expression carries its value here); COMMENT: with its delimiters.
  std::string text;
  std::size_t col = 0;
  // WORD: the value was computed (a parameter, an expression): the writer states it in its own
  // number format rather than echoing `text`.
  bool computed = false;
  // What the item means for the compensation plane (set by the reader).
  enum Role { OTHER, MOTION, PLANE_AXIS, ARC_CENTER, COMP } role = OTHER;
};

// One executed block: its words with plain numbers, and where it came from.
struct SourceBlock {
  SourceLocation where;
  std::vector<SourceLocation> callers;  // call sites that led here, innermost first
  std::string text;                     // the line as read, for messages
  bool blockDelete = false;
  std::vector<Item> items;
};

// True when the text at `pos`, right after the digits of a word's number, goes on as an exponent
// ("X1e-05", "Y2E3"), as a program generator printing floating-point numbers writes them.
// G-code numbers have no exponent: read as a word E of its own, the rest would put the tool
// somewhere else entirely, so the tokenizers refuse it.
inline bool ExponentFollows(const std::string& line, std::size_t pos) {
  const auto digit = [&line](std::size_t at) {
    return at < line.size() && line[at] >= '0' && line[at] <= '9';
  };
  if (pos == 0 || pos >= line.size() || (line[pos] != 'e' && line[pos] != 'E') ||
      !(digit(pos - 1) || line[pos - 1] == '.')) {
    return false;
  }
  const bool sign = pos + 1 < line.size() && (line[pos + 1] == '+' || line[pos + 1] == '-');
  return digit(pos + (sign ? 2 : 1));
}

// to = [from, from + n), in place when the lengths agree: consecutive blocks of a program have
// words and lines of the same lengths more often than not, and a block slot is reused for
// every block, so the copy is then a plain memcpy with no reallocation check.
// Words and lines are short: a copy of 4 to 16 bytes is two fixed-size copies that overlap,
// done in place rather than through a call to memcpy.
inline void CopyText(std::string& to, const char* from, std::size_t n) {
  if (to.size() != n) {
    to.assign(from, n);
    return;
  }
  char* const d = to.data();
  if (n >= 8 && n <= 16) {
    std::memcpy(d, from, 8);
    std::memcpy(d + n - 8, from + n - 8, 8);
  } else if (n >= 4 && n < 8) {
    std::memcpy(d, from, 4);
    std::memcpy(d + n - 4, from + n - 4, 4);
  } else {
    std::memcpy(d, from, n);
  }
}

class BlockSource {
public:
  virtual ~BlockSource() = default;
  // The next executed block; false at the end of the program. Throws InputError. The text and
  // items the block holds on entry are storage to reuse: on return they are the new block's.
  virtual bool Next(SourceBlock& block) = 0;
};

}  // namespace cutcomp::cli
