// SPDX-License-Identifier: MIT
// Reading the tool table: one tool per line, tokenized like a block.
#include "tool_table.h"

#include <cmath>
#include <string>

#include "language.h"
#include "source_file.h"

namespace cutcomp::cli {

void ToolTable::Load(std::FILE* file) {
  language::SourceFile lines(file, std::string(), false);
  std::string line;
  while (lines.Next(line)) {
    bool blockDelete = false;
    const std::vector<Item> items = language::TokenizePlain(line, lines.LineNumber(), blockDelete);
    const Item* t = nullptr;
    const Item* d = nullptr;
    const Item* q = nullptr;
    for (const Item& item : items) {
      if (item.kind != Item::WORD) {
        continue;
      }
      if (item.letter == 'T') {
        t = &item;
      } else if (item.letter == 'D') {
        d = &item;
      } else if (item.letter == 'Q') {
        q = &item;
      }
    }
    if (t == nullptr) {
      if (!items.empty() && items.front().kind == Item::WORD) {
        throw InputError(lines.LineNumber(), items.front().col, "tool table line has no T word");
      }
      continue;  // blank or comment-only line
    }
    if (t->value < 0 || t->value != std::floor(t->value) || t->value > 1e9) {
      throw InputError(lines.LineNumber(), t->col, "tool number must be a non-negative integer");
    }
    const int tool = static_cast<int>(t->value);
    if (Find(tool) != nullptr) {
      throw InputError(lines.LineNumber(), t->col,
                       "tool " + std::to_string(tool) + " is listed twice");
    }
    // A row without D would compensate by nothing without a word said: a typo in the table
    // must not turn into an uncompensated cut.
    if (d == nullptr) {
      throw InputError(lines.LineNumber(), t->col,
                       "tool " + std::to_string(tool) + " has no diameter (D)");
    }
    m_Diameters[tool] = d->value;
    if (q != nullptr) {
      if (!(q->value >= 0 && q->value <= 9 && q->value == std::floor(q->value))) {
        throw InputError(lines.LineNumber(), q->col,
                         "the tip direction (Q) of tool " + std::to_string(tool) +
                             " must be a whole number 0-9");
      }
      m_Tips[tool] = static_cast<int>(q->value);
    }
  }
}

const int* ToolTable::FindTip(int tool) const {
  const auto it = m_Tips.find(tool);
  return it == m_Tips.end() ? nullptr : &it->second;
}

const double* ToolTable::Find(int tool) const {
  const auto it = m_Diameters.find(tool);
  return it == m_Diameters.end() ? nullptr : &it->second;
}

}  // namespace cutcomp::cli
