// SPDX-License-Identifier: MIT
// Which dialect a program is written in: the first line of a construct that only one dialect
// has decides (an O-word or a named parameter: RS274/NGC; WHILE, IF, GOTO, M98, G65, an
// unbracketed expression: macro B); a program number alone leans to the Fanuc family. Also
// the messages for lines of another dialect or another language, which say what the line is
// rather than which character stopped the reading.
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "executor.h"

namespace cutcomp::language {

using detail::LineError;
using detail::MacroHead;

namespace {

// A line's sign of a dialect: strong when no other dialect has the construct.
struct Marker {
  Dialect dialect = Dialect::NGC;
  std::string construct;
  bool strong = true;
};

bool Space(char c) { return c == ' ' || c == '\t'; }
bool Letter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool Digit(char c) { return c >= '0' && c <= '9'; }
char Up(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

std::string LettersFrom(const std::string& line, std::size_t pos) {
  std::string word;
  for (; pos < line.size() && Letter(line[pos]); ++pos) {
    word += Up(line[pos]);
  }
  return word;
}

// The words of a line that call or return the Fanuc way (M98, M99, G65, G66, G67; M97 on
// Haas controls), or a named parameter, outside comments.
std::optional<Marker> WordMarker(const std::string& line) {
  for (std::size_t pos = 0; pos < line.size(); ++pos) {
    const char c = line[pos];
    // Most characters of most lines are digits, points, spaces and axis letters: passed over
    // with one test.
    if (c != '(' && c != ';' && c != '#' && c != 'M' && c != 'm' && c != 'G' && c != 'g') {
      continue;
    }
    if (c == '(') {
      const std::size_t close = line.find(')', pos);
      if (close == std::string::npos) {
        return std::nullopt;
      }
      pos = close;
      continue;
    }
    if (c == ';') {
      // Text after ';' is a comment in RS274/NGC and an error where ';' ends the block: a weak
      // sign, which a program number (as weak) met earlier or any strong sign outweighs.
      if (line.find_first_not_of(" \t\r", pos + 1) != std::string::npos) {
        return Marker{Dialect::NGC, "a comment after ';'", false};
      }
      return std::nullopt;
    }
    if (c == '#' && line.find_first_not_of(" \t", pos + 1) != std::string::npos &&
        line[line.find_first_not_of(" \t", pos + 1)] == '<') {
      return Marker{Dialect::NGC, "the named parameter #<...>", true};
    }
    const char letter = Up(c);
    if ((letter != 'M' && letter != 'G') || (pos > 0 && Letter(line[pos - 1]))) {
      continue;
    }
    std::size_t k = pos + 1;
    while (k < line.size() && Space(line[k])) {
      ++k;
    }
    long value = 0;
    int digits = 0;
    for (; k < line.size() && Digit(line[k]) && digits < 6; ++k, ++digits) {
      value = value * 10 + (line[k] - '0');
    }
    if (digits == 0 || (k < line.size() && (Digit(line[k]) || line[k] == '.'))) {
      continue;
    }
    if (letter == 'M' && (value == 98 || value == 99)) {
      return Marker{Dialect::FANUC, "M" + std::to_string(value), true};
    }
    if (letter == 'M' && value == 97) {
      return Marker{Dialect::HAAS, "M97", true};
    }
    if (letter == 'G' && value >= 65 && value <= 67) {
      return Marker{Dialect::FANUC, "G" + std::to_string(value), true};
    }
  }
  return std::nullopt;
}

// "#4 = 16. / 2": an operator outside brackets after '=' (RS274/NGC brackets every expression).
bool UnbracketedExpression(const std::string& line, std::size_t pos) {
  const std::size_t equals = line.find('=', pos);
  if (equals == std::string::npos) {
    return false;
  }
  static const std::array<std::string_view, 10> OPERATORS = {"MOD", "AND", "OR", "XOR", "EQ",
                                                             "NE",  "GT",  "GE", "LT",  "LE"};
  int depth = 0;
  bool value = false;  // a value has been read at depth 0
  for (std::size_t k = equals + 1; k < line.size(); ++k) {
    const char c = line[k];
    if (Space(c)) {
      continue;
    }
    if (c == '[') {
      ++depth;
      continue;
    }
    if (c == ']') {
      depth -= depth > 0 ? 1 : 0;
      value = true;
      continue;
    }
    if (depth > 0) {
      continue;
    }
    if (c == '(' || c == ';' || (c == '#' && value)) {
      return false;
    }
    if (c == '+' || c == '-' || c == '*' || c == '/') {
      if (value) {
        return true;
      }
      continue;  // a sign
    }
    if (Letter(c)) {
      const std::string word = LettersFrom(line, k);
      for (const std::string_view op : OPERATORS) {
        if (value && word == op) {
          return true;
        }
      }
      const std::size_t after = line.find_first_not_of(" \t", k + word.size());
      if (after == std::string::npos || line[after] != '[') {
        return false;  // a word of the block after the assignment
      }
      k += word.size() - 1;  // a function: its brackets follow
      continue;
    }
    value = true;
  }
  return false;
}

// A line of coordinate words only ("X12.5 Y-3"): no character any sign of a dialect needs (no
// comment, parameter, bracket, code letter, keyword letter, program number, lower case). Most
// lines of a long program are such; the scan passes over them with one table look-up a
// character.
bool PlainCoordinates(const std::string& line) {
  static const std::array<bool, 256> PLAIN = [] {
    std::array<bool, 256> plain{};
    for (const char c : std::string_view("0123456789.+- \t\rXYZABCUVFSTNHJKLQ")) {
      plain[static_cast<unsigned char>(c)] = true;
    }
    return plain;
  }();
  for (const char c : line) {
    if (!PLAIN[static_cast<unsigned char>(c)]) {
      return false;
    }
  }
  return true;
}

std::optional<Marker> LineMarker(const std::string& line) {
  const MacroHead head = detail::ReadMacroHead(line);
  switch (head.kind) {
  case MacroHead::NGC_OWORD: {
    const std::optional<detail::OHead> oword = detail::ReadOHead(line, true);
    return Marker{
        Dialect::NGC,
        oword ? oword->Display() + " " + detail::KeywordText(oword->keyword) : "an O-word", true};
  }
  case MacroHead::IF:
  case MacroHead::GOTO:
  case MacroHead::WHILE:
  case MacroHead::DO:
  case MacroHead::END:
  case MacroHead::PRINT:
    return Marker{Dialect::FANUC, head.keyword, true};
  case MacroHead::PROGRAM: {
    char number[32];
    std::snprintf(number, sizeof number, "O%04ld", head.program);
    return Marker{Dialect::FANUC, std::string("the program number ") + number, false};
  }
  case MacroHead::ASSIGN:
    if (UnbracketedExpression(line, head.body)) {
      return Marker{Dialect::FANUC, "an expression without brackets", true};
    }
    return WordMarker(line);
  case MacroHead::WORDS:
    return WordMarker(line);
  }
  return std::nullopt;
}

// A line of another language altogether, by its first words.
const char* OtherLanguage(const std::string& line) {
  std::size_t pos = line.find_first_not_of(" \t/");
  if (pos == std::string::npos) {
    return nullptr;
  }
  if (Up(line[pos]) == 'N' && pos + 1 < line.size() && Digit(line[pos + 1])) {
    pos = line.find_first_not_of("0123456789 \t", pos + 1);
    if (pos == std::string::npos) {
      return nullptr;
    }
  }
  const std::string word = LettersFrom(line, pos);
  std::string upper;
  for (const char c : line) {
    upper += Up(c);
  }
  if (word == "R" && pos + 1 < line.size() && Digit(line[pos + 1])) {
    std::size_t k = pos + 1;
    while (k < line.size() && (Digit(line[k]) || Space(line[k]))) {
      ++k;
    }
    if (k < line.size() && line[k] == '=') {
      return "Siemens R-parameters are not supported";
    }
  }
  if (upper.find("GOTOF") != std::string::npos || upper.find("GOTOB") != std::string::npos) {
    return "Siemens GOTOF and GOTOB jumps are not supported";
  }
  // Siemens system variables: $P_..., $AA_..., $TC_... (a '$' alone is only a stray byte).
  bool system = false;
  for (std::size_t k = upper.find('$'); k != std::string::npos && !system;
       k = upper.find('$', k + 1)) {
    std::size_t end = k + 1;
    while (end < upper.size() && upper[end] >= 'A' && upper[end] <= 'Z') {
      ++end;
    }
    system = end > k + 1 && end < upper.size() && upper[end] == '_';
  }
  if (word == "DEF" || system) {
    return "Siemens variables (DEF, $...) are not supported";
  }
  if (upper.compare(pos, 9, "BEGIN PGM") == 0 || upper.compare(pos, 7, "END PGM") == 0 ||
      upper.compare(pos, 9, "TOOL CALL") == 0 || upper.compare(pos, 8, "CYCL DEF") == 0 ||
      word == "LBL") {
    return "Heidenhain conversational programs are not supported";
  }
  return nullptr;
}

const char* DialectTitle(Dialect dialect) {
  switch (dialect) {
  case Dialect::FANUC:
  case Dialect::FANUC_LATHE:
    return "Fanuc macro B";
  case Dialect::HAAS:
  case Dialect::HAAS_LATHE:
    return "Haas macro B";
  default:
    return "LinuxCNC RS274/NGC";
  }
}

}  // namespace

const char* DialectName(Dialect dialect) {
  switch (dialect) {
  case Dialect::AUTO:
    return "auto";
  case Dialect::NGC:
    return "ngc";
  case Dialect::FANUC:
    return "fanuc";
  case Dialect::HAAS:
    return "haas";
  case Dialect::FANUC_LATHE:
    return "fanuc-lathe";
  case Dialect::HAAS_LATHE:
    return "haas-lathe";
  }
  return "";
}

std::string DialectChoice::Describe() const {
  std::string text = DialectName(dialect);
  if (!recognised) {
    return text + " (as given)";
  }
  if (where.line == 0) {
    return text + " (recognised: no construct of another dialect)";
  }
  return text + " (recognised from line " + std::to_string(where.line) + ": " + construct + ")";
}

void LanguageSource::Impl::Decide(Dialect dialect, const std::string& construct) {
  m_Choice.dialect = dialect;
  m_Choice.recognised = true;
  m_Choice.where = Here();
  m_Choice.construct = construct;
}

void LanguageSource::Impl::Recognise(std::FILE* program) {
  m_Choice.dialect = Dialect::NGC;
  m_Choice.recognised = true;
  const long start = std::ftell(program);
  if (start < 0 || std::fseek(program, start, SEEK_SET) != 0) {
    m_Undecided = true;  // a pipe: the lines decide as they come
    return;
  }
  std::optional<Marker> weak;
  std::size_t weakLine = 0;
  {
    SourceFile scan(program, std::string(), false);
    std::string line;
    try {
      while (scan.Next(line)) {
        if (PlainCoordinates(line)) {
          continue;
        }
        std::optional<Marker> marker = LineMarker(line);
        if (!marker) {
          continue;
        }
        if (marker->strong) {
          m_Choice.dialect = marker->dialect;
          m_Choice.where = {std::string(), scan.LineNumber()};
          m_Choice.construct = marker->construct;
          weak.reset();
          break;
        }
        if (!weak) {
          weak = marker;
          weakLine = scan.LineNumber();
        }
      }
    } catch (const cli::InputError&) {
      // A line too long or a read error: the run meets it again there and says so.
    }
  }
  if (weak) {
    m_Choice.dialect = weak->dialect;
    m_Choice.where = {std::string(), weakLine};
    m_Choice.construct = weak->construct;
  }
  std::clearerr(program);
  std::fseek(program, start, SEEK_SET);
  m_CheckForeign = m_Choice.dialect == Dialect::NGC && m_Choice.where.line > 0;
}

bool LanguageSource::Impl::RecogniseLine() {
  const std::optional<Marker> marker = LineMarker(m_Line);
  if (!marker) {
    return false;
  }
  m_Undecided = false;
  Decide(marker->dialect, marker->construct);
  if (marker->dialect == Dialect::NGC) {
    m_CheckForeign = true;
    return false;
  }
  if (m_UndecidedRan) {
    throw Located(0, "the program is recognised as " + std::string(DialectTitle(marker->dialect)) +
                         " only here (" + marker->construct +
                         "), after lines that ran as RS274/NGC; from a pipe they cannot be "
                         "read again: choose the dialect");
  }
  m_Macro = true;
  m_Rules.haas = marker->dialect == Dialect::HAAS;
  return true;
}

namespace {

std::string MixingMessage(const std::string& construct, Dialect of, const DialectChoice& choice) {
  std::string text = construct + " is " + DialectTitle(of) + "'s, ";
  if (choice.recognised && choice.where.line > 0) {
    return text + "in a program recognised as " + DialectTitle(choice.dialect) + " from line " +
           std::to_string(choice.where.line) + " (" + choice.construct +
           "): a program mixing the two is not supported";
  }
  return text + "not " + DialectTitle(choice.dialect) + "'s (the dialect " +
         (choice.recognised ? "recognised" : "given") + " is " + DialectName(choice.dialect) + ")";
}

}  // namespace

std::string LanguageSource::Impl::Foreign(const std::string& message) {
  if (const char* other = OtherLanguage(m_Line)) {
    return other;
  }
  const std::optional<Marker> marker = LineMarker(m_Line);
  if (marker && marker->strong && (marker->dialect == Dialect::NGC) == m_Macro) {
    return MixingMessage(marker->construct, marker->dialect, m_Choice);
  }
  return message;
}

LineError LanguageSource::Impl::Mixing(std::size_t col, const std::string& construct) {
  return LineError(col, MixingMessage(construct, Dialect::NGC, m_Choice));
}

void LanguageSource::Impl::ForeignWords(const std::vector<cli::Item>& items) {
  for (const cli::Item& item : items) {
    if (item.kind != cli::Item::WORD) {
      continue;
    }
    const bool call = (item.letter == 'M' && item.value >= 97 && item.value <= 99) ||
                      (item.letter == 'G' && item.value >= 65 && item.value <= 67);
    if (call && item.value == std::floor(item.value)) {  // exact: G65.1 is another code
      const std::string code =
          std::string(1, item.letter) + std::to_string(static_cast<int>(item.value));
      throw Located(item.col,
                    MixingMessage(code, code == "M97" ? Dialect::HAAS : Dialect::FANUC, m_Choice));
    }
  }
}

}  // namespace cutcomp::language
