// SPDX-License-Identifier: MIT
// Line reading with a length cap and the tokenizer of one block: words with plain numbers,
// comments, block delete, `%` and program-number lines. What the words mean is the modal
// reader's business.
#include "flat_source.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

namespace cutcomp::cli {

namespace {

std::string Printable(unsigned char c) {
  if (c >= 0x20 && c < 0x7f) {
    return std::string("'") + static_cast<char>(c) + "'";
  }
  static const char* const HEX = "0123456789abcdef";
  return std::string("'\\x") + HEX[c >> 4] + HEX[c & 15] + "'";
}

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

class Tokenizer {
public:
  Tokenizer(const std::string& line, std::size_t lineNumber) : m_Line(line), m_Number(lineNumber) {}

  std::vector<Item> Run(bool& blockDelete);

private:
  [[noreturn]] void Fail(std::size_t at, const std::string& message) const {
    throw InputError(m_Number, at + 1, message);
  }
  void SkipSpace() {
    while (m_Pos < m_Line.size() && IsSpace(m_Line[m_Pos])) {
      ++m_Pos;
    }
  }
  bool OnlyCommentsFollow(std::size_t from) const;
  Item Comment();
  Item Word();

  const std::string& m_Line;
  std::size_t m_Number;
  std::size_t m_Pos = 0;
};

bool Tokenizer::OnlyCommentsFollow(std::size_t from) const {
  bool inComment = false;
  for (std::size_t k = from; k < m_Line.size(); ++k) {
    const char c = m_Line[k];
    if (inComment) {
      inComment = c != ')';
    } else if (c == ';') {
      return true;
    } else if (c == '(') {
      inComment = true;
    } else if (!IsSpace(c)) {
      return false;
    }
  }
  return true;
}

Item Tokenizer::Comment() {
  Item item;
  item.kind = Item::COMMENT;
  item.col = m_Pos + 1;
  if (m_Line[m_Pos] == ';') {
    for (std::size_t k = m_Pos + 1; k < m_Line.size(); ++k) {
      const auto d = static_cast<unsigned char>(m_Line[k]);
      if (d < 0x20 && d != '\t') {
        Fail(k, "unexpected character " + Printable(d) + " in a comment");
      }
    }
    item.text = m_Line.substr(m_Pos);
    m_Pos = m_Line.size();
    return item;
  }
  std::size_t close = m_Pos + 1;
  while (close < m_Line.size() && m_Line[close] != ')') {
    const auto d = static_cast<unsigned char>(m_Line[close]);
    if (d == '(') {
      Fail(close, "comments cannot be nested");
    }
    if (d < 0x20 && d != '\t') {
      Fail(close, "unexpected character " + Printable(d) + " in a comment");
    }
    ++close;
  }
  if (close == m_Line.size()) {
    Fail(m_Pos, "comment is not closed: ')' missing");
  }
  item.text = m_Line.substr(m_Pos, close - m_Pos + 1);
  m_Pos = close + 1;
  return item;
}

Item Tokenizer::Word() {
  Item item;
  item.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(m_Line[m_Pos])));
  item.col = m_Pos + 1;
  ++m_Pos;
  // The number: spaces may stand anywhere inside it; a sign, digits and one decimal point.
  char number[80];
  std::size_t length = 0;
  bool digits = false;
  bool point = false;
  bool negative = false;
  bool sign = false;
  while (m_Pos < m_Line.size()) {
    const char d = m_Line[m_Pos];
    if (IsSpace(d)) {
      ++m_Pos;
      continue;
    }
    if ((d == '+' || d == '-') && !sign && length == 0) {
      sign = true;
      negative = d == '-';
    } else if ((d >= '0' && d <= '9') || (d == '.' && !point)) {
      if (length + 1 >= sizeof number) {
        Fail(item.col - 1, std::string("number of word ") + item.letter + " is out of range");
      }
      number[length++] = d;
      digits = digits || d != '.';
      point = point || d == '.';
    } else {
      break;
    }
    ++m_Pos;
  }
  if (!digits) {
    if (m_Pos < m_Line.size() && m_Line[m_Pos] == '#') {
      Fail(m_Pos, "parameters ('#') are not supported");
    }
    if (m_Pos < m_Line.size() && m_Line[m_Pos] == '[') {
      Fail(m_Pos, "expressions ('[...]') are not supported");
    }
    Fail(item.col - 1, std::string("word ") + item.letter + " has no number");
  }
  if (ExponentFollows(m_Line, m_Pos)) {
    Fail(item.col - 1, std::string("number of word ") + item.letter +
                           " has an exponent: write it as a plain decimal");
  }
  double value = 0.0;
  const auto result = std::from_chars(number, number + length, value);
  if (result.ec != std::errc() || result.ptr != number + length || !std::isfinite(value)) {
    Fail(item.col - 1, std::string("number of word ") + item.letter + " is out of range");
  }
  item.value = negative ? -value : value;
  item.text.reserve(length + 2);
  item.text += item.letter;
  if (negative) {
    item.text += '-';
  }
  item.text.append(number, length);
  return item;
}

std::vector<Item> Tokenizer::Run(bool& blockDelete) {
  std::vector<Item> items;
  blockDelete = false;
  SkipSpace();
  if (m_Pos < m_Line.size() && m_Line[m_Pos] == '/') {
    blockDelete = true;
    ++m_Pos;
    SkipSpace();
  }
  // A line holding only '%' delimits the program; keep it as it is.
  if (m_Pos < m_Line.size() && m_Line[m_Pos] == '%') {
    const std::size_t at = m_Pos;
    ++m_Pos;
    SkipSpace();
    if (m_Pos != m_Line.size() || blockDelete) {
      Fail(at, "'%' must stand alone on its line");
    }
    Item item;
    item.kind = Item::COMMENT;
    item.text = "%";
    item.col = at + 1;
    items.push_back(item);
    return items;
  }
  while (m_Pos < m_Line.size()) {
    const auto c = static_cast<unsigned char>(m_Line[m_Pos]);
    if (IsSpace(static_cast<char>(c))) {
      ++m_Pos;
      continue;
    }
    if (c == '(' || c == ';') {
      items.push_back(Comment());
      continue;
    }
    if (c == '#') {
      Fail(m_Pos, "parameters ('#') are not supported");
    }
    if (c == '[') {
      Fail(m_Pos, "expressions ('[...]') are not supported");
    }
    if (!std::isalpha(c)) {
      Fail(m_Pos, "unexpected character " + Printable(c));
    }
    if (std::toupper(c) == 'O') {
      // A program number on a line of its own (`O1234 (NAME)`) names the program that follows;
      // an O-word with a keyword is control flow.
      const std::size_t at = m_Pos;
      if (items.empty() && !blockDelete && m_Pos + 1 < m_Line.size() &&
          std::isdigit(static_cast<unsigned char>(m_Line[m_Pos + 1]))) {
        Item number = Word();
        if (OnlyCommentsFollow(m_Pos) && number.value == std::floor(number.value)) {
          number.kind = Item::COMMENT;
          number.text = m_Line.substr(at, m_Pos - at);
          while (!number.text.empty() && IsSpace(number.text.back())) {
            number.text.pop_back();
          }
          items.push_back(number);
          continue;
        }
      }
      Fail(at, "O-words (subroutines and control flow) are not supported");
    }
    items.push_back(Word());
  }
  return items;
}

}  // namespace

bool LineReader::Fill() {
  m_Pos = 0;
  m_End = std::fread(m_Buffer, 1, sizeof m_Buffer, m_File);
  if (m_End == 0 && std::ferror(m_File)) {
    throw InputError(m_Line + 1, 0, std::string("cannot read: ") + std::strerror(errno));
  }
  return m_End > 0;
}

bool LineReader::Next(std::string& line) {
  line.clear();
  bool any = false;
  for (;;) {
    if (m_Pos == m_End && !Fill()) {
      if (!any) {
        return false;
      }
      break;  // last line without a terminator
    }
    any = true;
    const char* begin = m_Buffer + m_Pos;
    const void* newline = std::memchr(begin, '\n', m_End - m_Pos);
    const std::size_t take =
        newline != nullptr ? static_cast<std::size_t>(static_cast<const char*>(newline) - begin)
                           : m_End - m_Pos;
    if (line.size() + take > MAX_LINE_LENGTH) {
      throw InputError(m_Line + 1, MAX_LINE_LENGTH + 1,
                       "line is longer than " + std::to_string(MAX_LINE_LENGTH) + " characters");
    }
    line.append(begin, take);
    m_Pos += take;
    if (newline != nullptr) {
      ++m_Pos;
      break;
    }
  }
  ++m_Line;
  if (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
  return true;
}

std::vector<Item> Tokenize(const std::string& line, std::size_t lineNumber, bool& blockDelete) {
  return Tokenizer(line, lineNumber).Run(blockDelete);
}

bool FlatBlockSource::Next(SourceBlock& block) {
  if (!m_Lines.Next(block.text)) {
    return false;
  }
  block.where.line = m_Lines.LineNumber();
  block.callers.clear();
  block.items = Tokenize(block.text, block.where.line, block.blockDelete);
  return true;
}

}  // namespace cutcomp::cli
