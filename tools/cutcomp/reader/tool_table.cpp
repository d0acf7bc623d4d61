// SPDX-License-Identifier: MIT
// Reading the tool table: one tool per line, tokenized like a block; and the offset registers,
// one per line.
#include "tool_table.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "language.h"
#include "source_file.h"

namespace cutcomp::cli {
namespace {

bool WholeNumber(double value) { return value >= 0 && value == std::floor(value) && value <= 1e9; }

// The text of a line without its comments: '(' to ')' and ';' to the end.
std::string Uncommented(const std::string& line) {
  std::string text;
  bool inComment = false;
  for (const char c : line) {
    if (inComment) {
      inComment = c != ')';
    } else if (c == '(') {
      inComment = true;
    } else if (c == ';') {
      break;
    } else {
      text += c;
    }
  }
  return text;
}

// A number written whole ("8.0", "-0.02", "07"), or none.
bool ParseNumber(const std::string& text, double& value) {
  if (text.empty()) {
    return false;
  }
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && std::isfinite(value) && std::fabs(value) <= 1e9 &&
         text.find_first_of("xXpPnN") == std::string::npos;  // no hex, infinity or NaN spelled
}

}  // namespace

bool ToolTable::ReadRegister(const std::string& line, std::size_t lineNumber, bool bareNumbers) {
  std::istringstream words(Uncommented(line));
  std::vector<std::string> fields;
  for (std::string field; words >> field;) {
    fields.push_back(field);
  }
  if (fields.empty()) {
    return false;
  }
  std::string number = fields.front();
  const bool named = number.size() > 1 && (number[0] == 'D' || number[0] == 'd') &&
                     std::isdigit(static_cast<unsigned char>(number[1])) != 0;
  if (named) {
    number.erase(0, 1);
  } else if (!bareNumbers || std::isdigit(static_cast<unsigned char>(number[0])) == 0) {
    return false;
  }
  const std::size_t col = line.find(fields.front()) + 1;
  double value = 0.0;
  if (!ParseNumber(number, value) || !WholeNumber(value)) {
    throw InputError(lineNumber, col,
                     "offset register number must be a non-negative integer: " + fields.front());
  }
  const int reg = static_cast<int>(value);
  const std::string name = "D" + std::to_string(reg);
  if (fields.size() < 2 || fields.size() > 3) {
    throw InputError(lineNumber, col,
                     "offset register " + name + " needs a radius and at most a wear after it (" +
                         name + " 8.0 -0.02)");
  }
  ToolRadiusEntry entry;
  if (!ParseNumber(fields[1], entry.radius) ||
      (fields.size() == 3 && !ParseNumber(fields[2], entry.wear))) {
    throw InputError(lineNumber, col,
                     "offset register " + name + ": the radius and the wear must be numbers");
  }
  if (!m_Registers.emplace(reg, entry).second) {
    throw InputError(lineNumber, col, "offset register " + name + " is listed twice");
  }
  return true;
}

void ToolTable::LoadRegisters(std::FILE* file) {
  language::SourceFile lines(file, std::string(), false);
  std::string line;
  while (lines.Next(line)) {
    if (ReadRegister(line, lines.LineNumber(), true)) {
      continue;
    }
    // A header ("NO.  GEOMETRY  WEAR") has no digit; anything else is a register written wrong.
    const std::string text = Uncommented(line);
    const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    if (std::any_of(text.begin(), text.end(), digit)) {
      const std::size_t col = text.find_first_not_of(" \t") + 1;
      throw InputError(lines.LineNumber(), col,
                       "offset list line is no register: write D<n> <radius> [<wear>]");
    }
  }
}

void ToolTable::Load(std::FILE* file) {
  language::SourceFile lines(file, std::string(), false);
  std::string line;
  while (lines.Next(line)) {
    if (ReadRegister(line, lines.LineNumber(), false)) {
      continue;
    }
    bool blockDelete = false;
    const std::vector<Item> items = language::TokenizePlain(line, lines.LineNumber(), blockDelete);
    const Item* t = nullptr;
    const Item* d = nullptr;
    const Item* r = nullptr;
    const Item* w = nullptr;
    const Item* q = nullptr;
    for (const Item& item : items) {
      if (item.kind != Item::WORD) {
        continue;
      }
      switch (item.letter) {
      case 'T':
        t = &item;
        break;
      case 'D':
        d = &item;
        break;
      case 'R':
        r = &item;
        break;
      case 'W':
        w = &item;
        break;
      case 'Q':
        q = &item;
        break;
      default:
        break;
      }
    }
    if (t == nullptr) {
      if (!items.empty() && items.front().kind == Item::WORD) {
        throw InputError(lines.LineNumber(), items.front().col, "tool table line has no T word");
      }
      continue;  // blank or comment-only line
    }
    if (!WholeNumber(t->value)) {
      throw InputError(lines.LineNumber(), t->col, "tool number must be a non-negative integer");
    }
    const int tool = static_cast<int>(t->value);
    const std::string name = "tool " + std::to_string(tool);
    if (Find(tool) != nullptr) {
      throw InputError(lines.LineNumber(), t->col, name + " is listed twice");
    }
    // A row without D or R would compensate by nothing without a word said: a typo in the table
    // must not turn into an uncompensated cut. With both, which one is meant is a guess.
    if (d == nullptr && r == nullptr) {
      throw InputError(lines.LineNumber(), t->col, name + " has no diameter (D) or radius (R)");
    }
    if (d != nullptr && r != nullptr) {
      throw InputError(lines.LineNumber(), r->col,
                       name + " gives both a diameter (D) and a radius (R): give one");
    }
    // W is the wear of a radius given as R; in a row of diameters it is the W axis's offset
    // (a LinuxCNC table's column), no concern of the radius.
    m_Tools[tool] = r != nullptr ? ToolRadiusEntry{r->value, w != nullptr ? w->value : 0.0}
                                 : ToolRadiusEntry{d->value / 2.0, 0.0};
    if (q != nullptr) {
      if (!(q->value >= 0 && q->value <= 9 && q->value == std::floor(q->value))) {
        throw InputError(lines.LineNumber(), q->col,
                         "the tip direction (Q) of " + name + " must be a whole number 0-9");
      }
      m_Tips[tool] = static_cast<int>(q->value);
    }
  }
}

const int* ToolTable::FindTip(int tool) const {
  const auto it = m_Tips.find(tool);
  return it == m_Tips.end() ? nullptr : &it->second;
}

const ToolRadiusEntry* ToolTable::Find(int tool) const {
  const auto it = m_Tools.find(tool);
  return it == m_Tools.end() ? nullptr : &it->second;
}

const ToolRadiusEntry* ToolTable::FindRegister(int number) const {
  const auto it = m_Registers.find(number);
  return it == m_Registers.end() ? nullptr : &it->second;
}

}  // namespace cutcomp::cli
