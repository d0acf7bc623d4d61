// SPDX-License-Identifier: MIT
// Reading a flat program: a bounded line reader and the tokenizer that turns one line into the
// words and comments of a block. Together they are the block source for programs without
// parameters, expressions or O-word control flow.
#pragma once

#include <cstdio>
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
  // False at the end of the file; throws InputError for a line longer than MAX_LINE_LENGTH and
  // for a read error.
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

// Splits one line into items. Throws InputError for text that is no word or comment and for
// the constructs this tokenizer does not evaluate (expressions, parameters, O-word control
// flow). A line holding only a program number (`O1234`, comments allowed) is a program
// header: it comes back as one comment-like item and is kept as written.
std::vector<Item> Tokenize(const std::string& line, std::size_t lineNumber, bool& blockDelete);

// The flat program as a block source: one block per line.
class FlatBlockSource : public BlockSource {
public:
  explicit FlatBlockSource(std::FILE* file) : m_Lines(file) {}
  bool Next(SourceBlock& block) override;

private:
  LineReader m_Lines;
};

}  // namespace cutcomp::cli
