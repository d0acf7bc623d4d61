// SPDX-License-Identifier: MIT
// Words, comments, assignments and expressions of one line, and the heads of O-word lines.
// Plain words are read exactly as the plain tokenizer reads them; what a line computes is
// evaluated here in one pass (reads see the parameters as they were before the line).
// Subroutines, loops and the parameter store are the executor's.
#include "evaluator.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <utility>

namespace cutcomp::language::detail {

namespace {

// Brackets, functions, signs and parameter indirections nested inside one value. The reader
// recurses once per level; the cap keeps a line of 60 000 '[' from exhausting the stack.
constexpr int MAX_NESTING = 64;

// EQ and NE compare within this (program units or plain numbers): a loop counter stepped by
// 0.1 ten times is 0.9999999999999999, not 1, and `WHILE [#1 NE 1]` must still end. The other
// comparisons are exact. Common controllers compare the same way.
constexpr double EQUALITY_TOLERANCE = 1e-4;

// A computed parameter number (#[#1*3]) may miss an integer by this much rounding residue.
constexpr double INDEX_TOLERANCE = 1e-6;

// Brackets nested in one macro B value, a function's own included: the Fanuc-family controls'
// limit (their alarm 118 beyond).
constexpr int MACRO_BRACKET_NESTING = 5;

constexpr double DEGREES_PER_RADIAN = 180.0 / 3.14159265358979323846;

std::string Printable(unsigned char c) {
  if (c >= 0x20 && c < 0x7f) {
    return std::string("'") + static_cast<char>(c) + "'";
  }
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "'\\x%02x'", c);
  return buffer;
}

// Letters are ASCII letters whatever the locale (a word's letter indexes tables from 'A' to
// 'Z'): in the "C" locale the CLI runs in, what isalpha and toupper say, without a library
// call per character.
bool IsSpace(char c) { return c == ' ' || c == '\t'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The fast number readings divide two exact doubles and take the correctly rounded quotient;
// where doubles are computed in a wider format (x87), that quotient could be rounded twice.
constexpr bool EXACT_DIVISION = FLT_EVAL_METHOD == 0;

// Powers of ten up to 1e22 are exact doubles.
constexpr double POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// `mantissa` / 10^decimals, a number of `digits` digits in all. At most 15 digits: the mantissa
// is below 1e15 < 2^53, an exact double, and so is the power of ten; one IEEE division of two
// exact values is the correctly rounded quotient, which is what from_chars gives for the text.
// False for more digits (or none), and where doubles are computed in extended precision.
bool ScaleExactly(std::uint64_t mantissa, int digits, int decimals, double& value) {
  if (digits == 0 || digits > 15 || !EXACT_DIVISION) {
    return false;
  }
  value = static_cast<double>(mantissa) / POWERS_OF_TEN[decimals];
  return true;
}

}  // namespace

bool FastDecimal(const char* begin, const char* end, double& value) {
  std::uint64_t mantissa = 0;
  int digits = 0;
  int decimals = 0;
  bool point = false;
  for (const char* p = begin; p < end; ++p) {
    if (IsDigit(*p)) {
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
      ++digits;
      decimals += point ? 1 : 0;
    } else if (*p == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return ScaleExactly(mantissa, digits, decimals, value);
}

namespace {

// A decimal number as words and expressions write it ("-1.5", "+.5", "5."): false when it
// does not fit a double. Short numbers take the exact fast path; from_chars (no locale,
// correctly rounded) reads the rest.
bool ParseDecimal(const char* begin, const char* end, double& value) {
  const bool negative = begin < end && *begin == '-';
  if (begin < end && (*begin == '-' || *begin == '+')) {
    ++begin;
  }
  if (FastDecimal(begin, end, value)) {
    value = negative ? -value : value;
    return true;
  }
  const auto [stop, error] = std::from_chars(begin, end, value);
  if (error != std::errc() || stop != end || !std::isfinite(value)) {
    return false;
  }
  value = negative ? -value : value;
  return true;
}

std::size_t SkipSpaces(const std::string& line, std::size_t pos) {
  while (pos < line.size() && IsSpace(line[pos])) {
    ++pos;
  }
  return pos;
}

// The letters from `pos` on, upper case.
std::string LettersAt(const std::string& line, std::size_t pos) {
  std::string word;
  while (pos < line.size() && IsAlpha(line[pos])) {
    word += Upper(line[pos++]);
  }
  return word;
}

enum class Function {
  ABS,
  ACOS,
  ADP,
  ASIN,
  ATAN,
  BCD,
  BIN,
  COS,
  EXP,
  EXISTS,
  FIX,
  FUP,
  LN,
  POW,
  ROUND,
  SIN,
  SQRT,
  TAN
};

// Which languages know a function: RS274/NGC, macro B, or both.
enum FunctionSet : unsigned { NGC_ONLY = 1, MACRO_ONLY = 2, BOTH = 3 };

struct FunctionName {
  const char* name;
  Function function;
  unsigned sets;
};

constexpr std::array<FunctionName, 18> FUNCTIONS = {{{"ABS", Function::ABS, BOTH},
                                                     {"ACOS", Function::ACOS, BOTH},
                                                     {"ADP", Function::ADP, MACRO_ONLY},
                                                     {"ASIN", Function::ASIN, BOTH},
                                                     {"ATAN", Function::ATAN, BOTH},
                                                     {"BCD", Function::BCD, MACRO_ONLY},
                                                     {"BIN", Function::BIN, MACRO_ONLY},
                                                     {"COS", Function::COS, BOTH},
                                                     {"EXP", Function::EXP, BOTH},
                                                     {"EXISTS", Function::EXISTS, NGC_ONLY},
                                                     {"FIX", Function::FIX, BOTH},
                                                     {"FUP", Function::FUP, BOTH},
                                                     {"LN", Function::LN, BOTH},
                                                     {"POW", Function::POW, MACRO_ONLY},
                                                     {"ROUND", Function::ROUND, BOTH},
                                                     {"SIN", Function::SIN, BOTH},
                                                     {"SQRT", Function::SQRT, BOTH},
                                                     {"TAN", Function::TAN, BOTH}}};

const FunctionName* FindFunction(const std::string& name, bool macro) {
  const unsigned set = macro ? MACRO_ONLY : NGC_ONLY;
  for (const FunctionName& entry : FUNCTIONS) {
    if (name == entry.name && (entry.sets & set) != 0) {
      return &entry;
    }
  }
  return nullptr;
}

// A function name followed by '[' starts at `pos`: the word's value is computed (XSIN[30]).
bool FunctionAt(const std::string& line, std::size_t pos, bool macro) {
  if (pos >= line.size() || !IsAlpha(line[pos])) {
    return false;
  }
  const std::string name = LettersAt(line, pos);
  if (FindFunction(name, macro) == nullptr) {
    return false;
  }
  const std::size_t after = SkipSpaces(line, pos + name.size());
  return after < line.size() && line[after] == '[';
}

// Whether the text at `pos` is a value the plain tokenizer does not read: a parameter, an
// expression or a function, possibly after signs.
bool ComputedValueAt(const std::string& line, std::size_t pos, bool macro) {
  pos = SkipSpaces(line, pos);
  if (pos < line.size() && (line[pos] == '+' || line[pos] == '-')) {
    pos = SkipSpaces(line, pos + 1);
  }
  return pos < line.size() &&
         (line[pos] == '#' || line[pos] == '[' || FunctionAt(line, pos, macro));
}

// Sine and cosine in degrees, exact where they are 0, 1 or 1/2 (multiples of 90 degrees, and
// 30 and 60 within each quadrant): SIN[180] is 0 rather than 1.2e-16, so a computed coordinate
// carries no rounding residue into the written program.
void SinCosDegrees(double degrees, double& sine, double& cosine) {
  double r = std::fmod(degrees, 360.0);
  if (r < 0.0) {
    r += 360.0;
  }
  if (r >= 360.0) {
    r = 0.0;  // a tiny negative angle rounded up to a full turn
  }
  const int quadrant = static_cast<int>(r / 90.0);
  const double x = r - 90.0 * quadrant;  // exact: r lies within a factor 2 of 90 * quadrant
  double s = 0.0;
  double c = 1.0;
  if (x == 30.0) {  // exact: only the exact angle has an exact value
    s = 0.5;
    c = std::cos(x / DEGREES_PER_RADIAN);
  } else if (x == 60.0) {
    s = std::sin(x / DEGREES_PER_RADIAN);
    c = 0.5;
  } else if (x != 0.0) {
    s = std::sin(x / DEGREES_PER_RADIAN);
    c = std::cos(x / DEGREES_PER_RADIAN);
  }
  switch (quadrant) {
  case 0:
    sine = s;
    cosine = c;
    break;
  case 1:
    sine = c;
    cosine = -s;
    break;
  case 2:
    sine = -s;
    cosine = -c;
    break;
  default:
    sine = -c;
    cosine = s;
    break;
  }
}

enum class Op { POWER, TIMES, DIVIDE, MODULO, PLUS, MINUS, EQ, NE, GT, GE, LT, LE, AND, OR, XOR };

// Higher binds tighter; equal precedence evaluates left to right (2**3**2 is 64).
int Precedence(Op op) {
  switch (op) {
  case Op::POWER:
    return 5;
  case Op::TIMES:
  case Op::DIVIDE:
  case Op::MODULO:
    return 4;
  case Op::PLUS:
  case Op::MINUS:
    return 3;
  case Op::EQ:
  case Op::NE:
  case Op::GT:
  case Op::GE:
  case Op::LT:
  case Op::LE:
    return 2;
  default:
    return 1;  // AND OR XOR
  }
}

double Finite(double value, std::size_t col) {
  if (!std::isfinite(value)) {
    throw LineError(col, "the result is out of range");
  }
  return value;
}

double Apply(Op op, double a, double b, std::size_t col) {
  switch (op) {
  case Op::POWER:
    if (a < 0.0 && b != std::floor(b)) {
      throw LineError(col, "a negative number raised to a power that is not an integer");
    }
    if (a == 0.0 && b < 0.0) {
      throw LineError(col, "zero raised to a negative power");
    }
    return Finite(std::pow(a, b), col);
  case Op::TIMES:
    return Finite(a * b, col);
  case Op::DIVIDE:
    if (b == 0.0) {
      throw LineError(col, "division by zero");
    }
    return Finite(a / b, col);
  case Op::MODULO: {
    if (b == 0.0) {
      throw LineError(col, "MOD by zero");
    }
    // The remainder takes the divisor's magnitude and is never negative: -7 MOD 3 is 2.
    const double r = std::fmod(a, b);
    return r < 0.0 ? r + std::fabs(b) : r;
  }
  case Op::PLUS:
    return Finite(a + b, col);
  case Op::MINUS:
    return Finite(a - b, col);
  case Op::EQ:
    return std::fabs(a - b) < EQUALITY_TOLERANCE ? 1.0 : 0.0;
  case Op::NE:
    return std::fabs(a - b) < EQUALITY_TOLERANCE ? 0.0 : 1.0;
  case Op::GT:
    return a > b ? 1.0 : 0.0;
  case Op::GE:
    return a >= b ? 1.0 : 0.0;
  case Op::LT:
    return a < b ? 1.0 : 0.0;
  case Op::LE:
    return a <= b ? 1.0 : 0.0;
  case Op::AND:
    return a != 0.0 && b != 0.0 ? 1.0 : 0.0;
  case Op::OR:
    return a != 0.0 || b != 0.0 ? 1.0 : 0.0;
  case Op::XOR:
    return (a != 0.0) != (b != 0.0) ? 1.0 : 0.0;
  }
  return 0.0;
}

bool IsComparison(Op op) {
  return op == Op::EQ || op == Op::NE || op == Op::GT || op == Op::GE || op == Op::LT ||
         op == Op::LE;
}

const char* OpName(Op op) {
  static const char* const NAMES[] = {"**", "*",  "/",  "MOD", "+",   "-",  "EQ", "NE",
                                      "GT", "GE", "LT", "LE",  "AND", "OR", "XOR"};
  return NAMES[static_cast<int>(op)];
}

// Macro B binds AND with the products and OR, XOR with the sums (functions first, then
// * / AND MOD, then + - OR XOR); comparisons come last and stand only in conditions.
int MacroPrecedence(Op op) {
  switch (op) {
  case Op::TIMES:
  case Op::DIVIDE:
  case Op::MODULO:
  case Op::AND:
    return 4;
  case Op::PLUS:
  case Op::MINUS:
  case Op::OR:
  case Op::XOR:
    return 3;
  default:
    return 2;
  }
}

std::string Shown(double value) { return FormatWord('#', value).substr(1); }

// A whole number that AND, OR and XOR of macro B work on bit by bit. Fanuc's manuals define
// them on binary values only, so a fraction or a negative number is refused rather than
// guessed at; Haas takes the integer part of each operand.
std::uint64_t BitOperand(Op op, double value, bool haas, std::size_t col) {
  const double whole = haas ? std::trunc(value) : value;
  const double rounded = std::round(whole);
  if (std::fabs(whole - rounded) > INDEX_TOLERANCE || rounded < 0.0 || rounded > 4294967295.0) {
    throw LineError(col, std::string(OpName(op)) +
                             " works bit by bit on whole numbers from 0 to 4294967295, not on " +
                             Shown(value));
  }
  return static_cast<std::uint64_t>(rounded);
}

// An operator of macro B. A vacant operand counts as 0, except that EQ and NE tell vacant from
// 0 (vacant EQ vacant holds, vacant EQ 0 does not), as the Fanuc-family manuals define.
double ApplyMacro(Op op, double a, bool aVacant, double b, bool bVacant, bool haas,
                  std::size_t col) {
  switch (op) {
  case Op::EQ:
  case Op::NE: {
    const bool equal = aVacant || bVacant ? aVacant == bVacant : Apply(Op::EQ, a, b, col) != 0.0;
    return equal == (op == Op::EQ) ? 1.0 : 0.0;
  }
  case Op::AND:
  case Op::OR:
  case Op::XOR: {
    const std::uint64_t x = BitOperand(op, a, haas, col);
    const std::uint64_t y = BitOperand(op, b, haas, col);
    return static_cast<double>(op == Op::AND ? (x & y) : op == Op::OR ? (x | y) : (x ^ y));
  }
  case Op::MODULO:
    // The controls' manuals agree only on whole numbers of at least 0 (27 MOD 20 is 7); what
    // they make of a fraction or a sign differs, so those are refused.
    if (a < 0.0 || b < 0.0 || a != std::floor(a) || b != std::floor(b)) {  // exact: whole
      throw LineError(col, "MOD takes whole numbers of at least 0 in macro B, not " + Shown(a) +
                               " MOD " + Shown(b));
    }
    return Apply(op, a, b, col);
  default:
    return Apply(op, a, b, col);
  }
}

// `value` rounded to `decimals` places, halves away from zero, as the decimal number it reads
// as: 1.2345 (a double a little below it) rounds to 1.235 at three places, as the controls'
// decimal variables do. The result is the double nearest the rounded decimal.
double RoundDecimal(double value, int decimals) {
  char buffer[400];
  const auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::fixed);
  if (error != std::errc()) {
    return value;  // unreachable for a finite value: the buffer holds the longest
  }
  std::string text(buffer, end);
  const std::size_t point = text.find('.');
  if (point == std::string::npos || text.size() - point - 1 <= static_cast<std::size_t>(decimals)) {
    return value;
  }
  const bool up = text[point + 1 + static_cast<std::size_t>(decimals)] >= '5';
  text.resize(point + 1 + static_cast<std::size_t>(decimals));
  if (up) {
    std::size_t k = text.size();
    for (; k-- > 0;) {
      if (text[k] == '.') {
        continue;
      }
      if (text[k] != '9') {
        ++text[k];
        break;
      }
      text[k] = '0';
    }
    if (k == static_cast<std::size_t>(-1)) {
      text.insert(text.begin(), '1');
    }
  }
  double rounded = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), rounded);
  return value < 0.0 ? -rounded : rounded;
}

// The decimals of an address's least input increment (0.001 mm, 0.0001 inch, 0.001 degree);
// -1 for addresses that are whole numbers or take no rounding (G, F, E).
int AddressDecimals(char letter, bool metric) {
  switch (letter) {
  case 'A':
  case 'B':
  case 'C':
    return 3;
  case 'X':
  case 'Y':
  case 'Z':
  case 'U':
  case 'V':
  case 'W':
  case 'I':
  case 'J':
  case 'K':
  case 'R':
  case 'Q':
    return metric ? 3 : 4;
  case 'D':
  case 'H':
  case 'L':
  case 'M':
  case 'N':
  case 'O':
  case 'P':
  case 'S':
  case 'T':
    return 0;
  default:
    return -1;
  }
}

// Reads values from a position in a line. Spaces may stand anywhere (as in plain words: "1 0"
// is 10); letters are case-insensitive. With macro rules, values may be vacant and the
// operators, functions and limits are macro B's.
class Reader {
public:
  Reader(const std::string& line, std::size_t pos, ParameterAccess& parameters,
         const MacroRules* macro = nullptr)
      : m_Line(line), m_Pos(pos), m_Parameters(parameters), m_Macro(macro) {}

  std::size_t Pos() const { return m_Pos; }
  // Whether the value last read is vacant (macro B: a vacant variable, alone or in brackets).
  bool Vacant() const { return m_Vacant; }
  // The value is a condition (IF, WHILE): comparisons are allowed in it.
  void InCondition() { m_Condition = true; }
  // The value is that of an address (macro B: ROUND rounds to its least input increment).
  void InAddress(char letter) { m_Address = letter; }

  // The next character after spaces, or -1 at the end of the line.
  int Peek() {
    m_Pos = SkipSpaces(m_Line, m_Pos);
    return m_Pos < m_Line.size() ? static_cast<unsigned char>(m_Line[m_Pos]) : -1;
  }
  std::size_t Col() {
    Peek();
    return m_Pos + 1;
  }
  void Take() { ++m_Pos; }

  void Expect(char c, const std::string& what) {
    if (Peek() != static_cast<unsigned char>(c)) {
      throw LineError(Col(), std::string("'") + c + "' expected " + what);
    }
    Take();
  }

  // A value: signs, then a number, a parameter, a bracketed expression or a function.
  double Value(int depth) {
    const std::size_t col = Col();
    if (depth > MAX_NESTING) {
      throw LineError(col, "expression nested too deeply (more than " +
                               std::to_string(MAX_NESTING) + " levels)");
    }
    bool negative = false;
    bool signed_ = false;
    for (int c = Peek(); c == '+' || c == '-'; c = Peek()) {
      negative = negative != (c == '-');
      signed_ = true;
      Take();
    }
    const int c = Peek();
    double value = 0.0;
    bool vacant = false;
    if (c == '[') {
      value = Bracketed(depth + 1);
      vacant = m_Vacant;
    } else if (c == '#') {
      Take();
      const ParameterRef ref = Reference(col, depth + 1);
      if (m_Macro != nullptr) {
        const std::optional<double> read = m_Parameters.ReadMacro(ref);
        vacant = !read.has_value();
        value = read.value_or(0.0);
      } else {
        value = m_Parameters.Read(ref);
      }
    } else if (c >= 0 && (IsDigit(static_cast<char>(c)) || c == '.')) {
      value = Number();
    } else if (c >= 0 && IsAlpha(static_cast<char>(c))) {
      value = Call(depth + 1);
    } else if (c < 0) {
      throw LineError(Col(), "a value is missing at the end of the line");
    } else {
      throw LineError(Col(), "a value expected, found " + Printable(static_cast<unsigned char>(c)));
    }
    // A sign makes a number of a vacant value: -#1 is 0 as #1 * 5 is.
    m_Vacant = vacant && !signed_;
    return negative ? -value : value;
  }

  // '[' expression ']'.
  double Bracketed(int depth) {
    const std::size_t open = Col();
    Expect('[', "");
    Open(open);
    const double value = Sequence(depth, open, Closer::BRACKET);
    --m_Brackets;
    return value;
  }

  // What ends an expression: ']' (taken), ']' or ',' between a function's arguments (taken;
  // Comma() says which), or the end of a macro B statement: the end of the line, a comment or
  // ';' (not taken).
  enum class Closer { BRACKET, ARGUMENT, STATEMENT };
  bool Comma() const { return m_Comma; }

  // Operators by precedence up to the closer, left to right within one precedence.
  double Sequence(int depth, std::size_t open, Closer closer) {
    // Operators wait here only while each binds tighter than the one before it: at most one
    // per precedence level, so the stacks have fixed room.
    std::array<double, 8> values{};
    std::array<bool, 8> vacant{};
    std::array<bool, 8> compared{};  // the result of a comparison not in brackets of its own
    std::array<std::pair<Op, std::size_t>, 8> ops{};
    std::size_t count = 0;  // operators waiting; values waiting: count + 1
    auto reduce = [this, &values, &vacant, &compared, &ops, &count]() {
      --count;
      const auto [op, col] = ops[count];
      if (m_Macro == nullptr) {
        values[count] = Apply(op, values[count], values[count + 1], col);
        return;
      }
      if (IsComparison(op) && (compared[count] || compared[count + 1])) {
        // "#1 EQ 1 AND #2 EQ 2" binds AND first in macro B: 1 AND #2 is compared twice.
        throw LineError(col, std::string(OpName(op)) +
                                 " compares the result of another comparison: put each "
                                 "comparison in brackets of its own, as in [[#1 EQ 1] AND [#2 "
                                 "EQ 2]]");
      }
      values[count] = ApplyMacro(op, values[count], vacant[count], values[count + 1],
                                 vacant[count + 1], m_Macro->haas, col);
      vacant[count] = false;
      compared[count] = IsComparison(op);
    };
    values[0] = Value(depth);
    vacant[0] = m_Vacant;
    for (;;) {
      const int c = Peek();
      if (closer == Closer::STATEMENT && (c < 0 || c == '(' || c == ';')) {
        break;
      }
      if (c < 0) {
        throw LineError(open, "expression is not closed: ']' missing");
      }
      if (c == ']' && closer != Closer::STATEMENT) {
        Take();
        m_Comma = false;
        break;
      }
      if (c == ',' && closer == Closer::ARGUMENT) {
        Take();
        m_Comma = true;
        break;
      }
      const std::size_t col = Col();
      const Op op = Operator(closer);
      const auto precedence = [this](Op o) {
        return m_Macro != nullptr ? MacroPrecedence(o) : Precedence(o);
      };
      while (count > 0 && precedence(ops[count - 1].first) >= precedence(op)) {
        reduce();
      }
      ops[count] = {op, col};
      ++count;
      values[count] = Value(depth);
      vacant[count] = m_Vacant;
      compared[count] = false;
    }
    while (count > 0) {
      reduce();
    }
    m_Vacant = vacant[0];
    return values[0];
  }

  // After '#' (at `col`): <name> or a value giving the number.
  ParameterRef Reference(std::size_t col, int depth) {
    ParameterRef ref;
    ref.col = col;
    if (m_Macro != nullptr) {
      const int c = Peek();
      if (c == '<') {
        throw LineError(col, "named parameters (#<name>) are LinuxCNC's, not Fanuc macro B");
      }
      if (c == '#' || c == '+' || c == '-') {
        throw LineError(col,
                        "a variable number is a number or an expression in brackets in "
                        "macro B: write #[#1], not ##1");
      }
    }
    if (Peek() == '<') {
      Take();
      ref.named = true;
      for (;;) {
        if (m_Pos >= m_Line.size()) {
          throw LineError(col, "parameter name is not closed: '>' missing");
        }
        const char c = m_Line[m_Pos++];
        if (c == '>') {
          break;
        }
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
          throw LineError(m_Pos, "unexpected character " +
                                     Printable(static_cast<unsigned char>(c)) +
                                     " in a parameter name");
        }
        if (!IsSpace(c)) {
          ref.name += Lower(c);
        }
      }
      if (ref.name.empty()) {
        throw LineError(col, "parameter name is empty");
      }
      return ref;
    }
    const double number = Value(depth);
    if (m_Vacant) {
      throw LineError(col, "the number of the variable is vacant");
    }
    const double rounded = std::round(number);
    if (std::fabs(number - rounded) > INDEX_TOLERANCE || std::fabs(rounded) > 1e6) {
      throw LineError(col, "parameter number " + Shown(number) + " is not a parameter");
    }
    ref.number = static_cast<int>(rounded);
    return ref;
  }

private:
  // A '[' opened at `col`: Fanuc-family controls nest brackets five deep, a function's
  // included (alarm 118 beyond), so a deeper program would not run there.
  void Open(std::size_t col) {
    if (m_Macro != nullptr && ++m_Brackets > MACRO_BRACKET_NESTING) {
      throw LineError(col, "brackets nested more than " + std::to_string(MACRO_BRACKET_NESTING) +
                               " deep, functions' included: more than the control takes");
    }
    if (m_Macro == nullptr) {
      ++m_Brackets;
    }
  }

  double Number() {
    const std::size_t col = Col();
    std::string digits;
    bool any = false;
    bool point = false;
    for (int c = Peek(); c >= 0; c = Peek()) {
      if (IsDigit(static_cast<char>(c))) {
        any = true;
      } else if (c != '.' || point) {
        break;
      } else {
        point = true;
      }
      digits += static_cast<char>(c);
      Take();
    }
    if (!any) {
      throw LineError(col, "a number has no digits");
    }
    double value = 0.0;
    if (!ParseDecimal(digits.data(), digits.data() + digits.size(), value)) {
      throw LineError(col, "number is out of range");
    }
    return value;
  }

  Op Operator(Closer closer) {
    const std::size_t col = Col();
    const int c = Peek();
    switch (c) {
    case '+':
      Take();
      return Op::PLUS;
    case '-':
      Take();
      return Op::MINUS;
    case '/':
      Take();
      return Op::DIVIDE;
    case '*':
      Take();
      if (Peek() == '*') {
        if (m_Macro != nullptr) {
          throw LineError(col, "'**' is not macro B: write POW[x, y]");
        }
        Take();
        return Op::POWER;
      }
      return Op::TIMES;
    default:
      break;
    }
    static const std::array<std::pair<const char*, Op>, 10> NAMED = {{{"MOD", Op::MODULO},
                                                                      {"EQ", Op::EQ},
                                                                      {"NE", Op::NE},
                                                                      {"GT", Op::GT},
                                                                      {"GE", Op::GE},
                                                                      {"LT", Op::LT},
                                                                      {"LE", Op::LE},
                                                                      {"AND", Op::AND},
                                                                      {"OR", Op::OR},
                                                                      {"XOR", Op::XOR}}};
    const std::string word = LettersAt(m_Line, m_Pos);
    for (const auto& [name, op] : NAMED) {
      if (word == name) {
        if (m_Macro != nullptr && !m_Macro->haas && !m_Condition && IsComparison(op)) {
          throw LineError(col, word +
                                   " compares only in an IF or WHILE condition: macro B gives "
                                   "a comparison no value to store or to move to");
        }
        m_Pos += word.size();
        return op;
      }
    }
    if (closer == Closer::STATEMENT) {
      throw LineError(col, "an operator or the end of the statement expected");
    }
    throw LineError(col, "an operator or ']' expected");
  }

  // ATAN[y]/[x], and in macro B ATAN[y, x] and POW[x, y]: the two arguments.
  std::pair<double, double> TwoArguments(int depth, const std::string& name, bool slash) {
    const std::size_t open = Col();
    Expect('[', "");
    Open(open);
    const double first =
        Sequence(depth, open, m_Macro != nullptr ? Closer::ARGUMENT : Closer::BRACKET);
    double second = 0.0;
    if (m_Macro != nullptr && m_Comma) {
      second = Sequence(depth, open, Closer::BRACKET);
      --m_Brackets;
      return {first, second};
    }
    --m_Brackets;
    if (!slash) {
      throw LineError(Col(), name + " takes two arguments: " + name + "[x, y]");
    }
    Expect('/', "between the two arguments of ATAN[y]/[x]");
    second = Bracketed(depth);
    return {first, second};
  }

  double Call(int depth) {
    const std::size_t col = Col();
    const std::string name = LettersAt(m_Line, m_Pos);
    const FunctionName* function = FindFunction(name, m_Macro != nullptr);
    if (function == nullptr) {
      throw LineError(col, "unknown function '" + name + "'");
    }
    m_Pos += name.size();
    if (Peek() != '[') {
      throw LineError(Col(), name + " needs its argument in brackets");
    }
    switch (function->function) {
    case Function::EXISTS: {
      Take();
      const std::size_t hash = Col();
      Expect('#', "in EXISTS[#<name>]");
      const ParameterRef ref = Reference(hash, depth + 1);
      Expect(']', "to close EXISTS");
      m_Vacant = false;
      return m_Parameters.Exists(ref) ? 1.0 : 0.0;
    }
    case Function::ATAN:
    case Function::POW: {
      const bool atan = function->function == Function::ATAN;
      const auto [a, b] = TwoArguments(depth + 1, name, atan);
      m_Vacant = false;
      if (!atan) {
        return Apply(Op::POWER, a, b, col);
      }
      if (m_Macro == nullptr) {
        return std::atan2(a, b) * DEGREES_PER_RADIAN;
      }
      if (a == 0.0 && b == 0.0) {  // exact: only the origin has no angle
        throw LineError(col, "ATAN of 0 and 0: the point has no angle");
      }
      // 0 to 360 degrees, as the Fanuc-family controls give it by default (ATAN[-1]/[-1] is
      // 225).
      const double angle = std::atan2(a, b) * DEGREES_PER_RADIAN;
      return angle < 0.0 ? angle + 360.0 : angle;
    }
    case Function::BIN:
    case Function::BCD:
    case Function::ADP:
      throw LineError(col, name + " converts the machine's signals: not supported here");
    default:
      break;
    }
    const double x = Bracketed(depth + 1);
    m_Vacant = false;
    double sine = 0.0;
    double cosine = 0.0;
    switch (function->function) {
    case Function::ABS:
      return std::fabs(x);
    case Function::ACOS:
    case Function::ASIN: {
      if (x < -1.0 || x > 1.0) {
        throw LineError(col, name + " of a number outside -1 to 1");
      }
      if (function->function == Function::ACOS) {
        return std::acos(x) * DEGREES_PER_RADIAN;
      }
      const double angle = std::asin(x) * DEGREES_PER_RADIAN;
      // Macro B: 270 to 90 degrees (ASIN[-0.5] is 330), as the controls give it by default.
      return m_Macro != nullptr && angle < 0.0 ? angle + 360.0 : angle;
    }
    case Function::COS:
      SinCosDegrees(x, sine, cosine);
      return cosine;
    case Function::EXP:
      return Finite(std::exp(x), col);
    case Function::FIX:
      // Macro B drops the fraction (FIX[-1.2] is -1); RS274/NGC rounds down (-2).
      return m_Macro != nullptr ? std::trunc(x) : std::floor(x);
    case Function::FUP:
      // Macro B rounds away from zero (FUP[-1.2] is -2); RS274/NGC rounds up (-1).
      return m_Macro != nullptr ? (x < 0.0 ? std::floor(x) : std::ceil(x)) : std::ceil(x);
    case Function::LN:
      if (x <= 0.0) {
        throw LineError(col, "LN of zero or a negative number");
      }
      return std::log(x);
    case Function::ROUND:
      if (m_Macro != nullptr) {
        // In an address, to the address's least input increment (X[ROUND[#1]] with #1 =
        // 1.2345 is 1.235 mm); elsewhere to a whole number, halves away from zero.
        const int decimals = m_Address != 0 ? AddressDecimals(m_Address, m_Macro->metric) : 0;
        return RoundDecimal(x, decimals < 0 ? 0 : decimals);
      }
      return std::round(x);  // halves away from zero: ROUND[-2.5] is -3
    case Function::SIN:
      SinCosDegrees(x, sine, cosine);
      return sine;
    case Function::SQRT:
      if (x < 0.0) {
        throw LineError(col, "SQRT of a negative number");
      }
      return std::sqrt(x);
    case Function::TAN:
      SinCosDegrees(x, sine, cosine);
      if (cosine == 0.0) {  // exact: SinCosDegrees gives exactly 0 at 90 and 270 degrees
        throw LineError(col, "TAN of 90 degrees (or 90 plus a multiple of 180)");
      }
      return Finite(sine / cosine, col);
    default:
      break;
    }
    return 0.0;
  }

  const std::string& m_Line;
  std::size_t m_Pos;
  ParameterAccess& m_Parameters;
  const MacroRules* m_Macro;
  bool m_Vacant = false;
  bool m_Comma = false;
  bool m_Condition = false;
  char m_Address = 0;
  int m_Brackets = 0;
};

struct KeywordName {
  std::string_view name;
  Keyword keyword;
};

constexpr std::array<KeywordName, 15> KEYWORDS = {{{"sub", Keyword::SUB},
                                                   {"endsub", Keyword::ENDSUB},
                                                   {"call", Keyword::CALL},
                                                   {"return", Keyword::RETURN},
                                                   {"if", Keyword::IF},
                                                   {"elseif", Keyword::ELSEIF},
                                                   {"else", Keyword::ELSE},
                                                   {"endif", Keyword::ENDIF},
                                                   {"while", Keyword::WHILE},
                                                   {"endwhile", Keyword::ENDWHILE},
                                                   {"do", Keyword::DO},
                                                   {"repeat", Keyword::REPEAT},
                                                   {"endrepeat", Keyword::ENDREPEAT},
                                                   {"break", Keyword::BREAK},
                                                   {"continue", Keyword::CONTINUE}}};

// Reads a '(' comment at `pos`; returns the position after it. Throws as the tokenizer does.
std::size_t Comment(const std::string& line, std::size_t pos) {
  std::size_t close = pos + 1;
  while (close < line.size() && line[close] != ')') {
    const unsigned char d = static_cast<unsigned char>(line[close]);
    if (d == '(') {
      throw LineError(close + 1, "comments cannot be nested");
    }
    if (d < 0x20 && d != '\t') {
      throw LineError(close + 1, "unexpected character " + Printable(d) + " in a comment");
    }
    ++close;
  }
  if (close == line.size()) {
    throw LineError(pos + 1, "comment is not closed: ')' missing");
  }
  return close + 1;
}

void LineComment(const std::string& line, std::size_t pos) {
  for (std::size_t k = pos + 1; k < line.size(); ++k) {
    const unsigned char d = static_cast<unsigned char>(line[k]);
    if (d < 0x20 && d != '\t') {
      throw LineError(k + 1, "unexpected character " + Printable(d) + " in a comment");
    }
  }
}

}  // namespace

std::string ParameterRef::Display() const {
  return named ? "#<" + name + ">" : "#" + std::to_string(number);
}

const char* KeywordText(Keyword keyword) {
  for (const KeywordName& entry : KEYWORDS) {
    if (entry.keyword == keyword) {
      return entry.name.data();  // the names are literals: terminated
    }
  }
  return "";
}

namespace {

// The next item of a line, in the slot the line before left there when there is one: its text
// keeps its storage, so reading a line of a few words allocates and moves nothing.
cli::Item& NextItem(std::vector<cli::Item>& items, std::size_t& count, cli::Item::Kind kind) {
  if (count == items.size()) {
    items.emplace_back();
  }
  cli::Item& item = items[count++];
  item.kind = kind;
  item.letter = 0;
  item.value = 0;
  item.text.clear();
  item.col = 0;
  item.computed = false;
  item.role = cli::Item::OTHER;
  return item;
}

}  // namespace

bool ReadPlainLine(const std::string& line, EvaluatedLine& result) {
  // The line is terminated: *end is '\0', which no test below accepts, so the scans need no
  // bound check of their own (a '\0' inside the line stops them the same way).
  const char* const begin = line.c_str();
  const char* const end = begin + line.size();
  std::vector<cli::Item>& items = result.items;
  std::size_t count = 0;
  const char* p = begin;
  while (IsSpace(*p)) {
    ++p;
  }
  while (p < end) {
    // A word: a letter (not O, whose program numbers have rules of their own), then at once a
    // number of at most 15 digits.
    const char* word = p;
    const char letter = Upper(*p);
    if (!IsAlpha(*p) || letter == 'O') {
      return false;
    }
    ++p;
    const bool negative = *p == '-';
    p += *p == '-' || *p == '+' ? 1 : 0;
    std::uint64_t mantissa = 0;
    const char* const integer = p;
    for (; IsDigit(*p); ++p) {
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    int digits = static_cast<int>(p - integer);
    int decimals = 0;
    if (*p == '.') {
      const char* const fraction = ++p;
      for (; IsDigit(*p); ++p) {
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
      }
      decimals = static_cast<int>(p - fraction);
      digits += decimals;
    }
    // (A second point, or an exponent, is the general reading's to refuse.)
    double magnitude = 0.0;
    if (*p == 'e' || *p == 'E' || *p == '.' ||
        !ScaleExactly(mantissa, digits, decimals, magnitude)) {
      return false;
    }
    const char* const stop = p;
    // Then the end or the next word's letter, after spaces: anything else (a digit would
    // continue this number after a space) is refused by the test of the letter above.
    while (IsSpace(*p)) {
      ++p;
    }
    if (count == items.size()) {
      items.emplace_back();
    }
    cli::Item& item = items[count++];
    item.kind = cli::Item::WORD;
    item.letter = letter;
    // A negative zero as the general reading gives it.
    item.value = negative ? -magnitude : magnitude;
    cli::CopyText(item.text, word, static_cast<std::size_t>(stop - word));
    item.text[0] = letter;
    item.col = static_cast<std::size_t>(word - begin) + 1;
    item.computed = false;
    item.role = cli::Item::OTHER;
  }
  items.resize(count);
  result.assignments.clear();
  result.blockDelete = false;
  result.computed = false;
  return true;
}

void EvaluateLine(const std::string& line, ParameterAccess& parameters, bool plainOnly,
                  EvaluatedLine& result, bool fastPath, const MacroRules* macro,
                  std::size_t start) {
  if (fastPath && start == 0 && ReadPlainLine(line, result)) {
    result.vacant.clear();
    return;
  }
  result.assignments.clear();
  result.vacant.clear();
  result.blockDelete = false;
  result.computed = false;
  std::vector<cli::Item>& items = result.items;
  // Items are written over the slots already there; the vector is cut to the line's count at
  // the end (and whenever the line fails, so that no stale item is left behind).
  std::size_t count = 0;
  struct Trim {
    std::vector<cli::Item>& items;
    std::size_t& count;
    ~Trim() { items.resize(count); }
  } trim{items, count};
  if (items.capacity() < 8) {
    items.reserve(8);  // one allocation for a block of a few words, not one per doubling
  }
  std::size_t pos = SkipSpaces(line, start);
  const std::size_t n = line.size();
  auto fail = [](std::size_t at, const std::string& message) { throw LineError(at + 1, message); };
  if (pos < n && line[pos] == '/') {
    result.blockDelete = true;
    ++pos;
    if (macro != nullptr && pos < n && IsDigit(line[pos])) {
      ++pos;  // "/1": the switch's number (the executor refuses the others)
    }
  }
  // A line holding only '%' delimits the program; keep it as it is.
  {
    const std::size_t p = SkipSpaces(line, pos);
    if (p < n && line[p] == '%') {
      if (SkipSpaces(line, p + 1) != n || result.blockDelete) {
        fail(p, "'%' must stand alone on its line");
      }
      cli::Item& item = NextItem(items, count, cli::Item::COMMENT);
      item.text = "%";
      item.col = p + 1;
      return;
    }
  }
  while (pos < n) {
    const unsigned char c = static_cast<unsigned char>(line[pos]);
    if (IsSpace(static_cast<char>(c))) {
      ++pos;
      continue;
    }
    if (c == ';' && macro != nullptr) {
      // The end of the block, as Fanuc-family manuals write it: a second block after it on
      // the same line would run as its own block there.
      if (SkipSpaces(line, pos + 1) != n) {
        fail(pos, "text after ';', the end of the block: put each block on a line of its own");
      }
      cli::Item& item = NextItem(items, count, cli::Item::COMMENT);
      item.text = ";";
      item.col = pos + 1;
      break;
    }
    if (c == '(' || c == ';') {
      const std::size_t end = c == '(' ? Comment(line, pos) : n;
      if (c == ';') {
        LineComment(line, pos);
      }
      cli::Item& item = NextItem(items, count, cli::Item::COMMENT);
      item.text.assign(line, pos, end - pos);
      item.col = pos + 1;
      pos = end;
      continue;
    }
    if (c == '#') {
      // An assignment: the value is read now, with the parameters as they were before the
      // line; it is stored after the line.
      if (plainOnly) {
        throw PlainOnly{pos + 1};
      }
      if (macro != nullptr) {
        fail(pos, "an assignment stands in a block of its own in macro B, not among NC words");
      }
      Reader reader(line, pos + 1, parameters);
      Assignment assignment;
      assignment.target = reader.Reference(pos + 1, 0);
      reader.Expect('=', "after " + assignment.target.Display() +
                             ": a parameter outside a word is assigned (#1 = 2)");
      assignment.value = reader.Value(0);
      parameters.CheckWritable(assignment.target);
      result.assignments.push_back(assignment);
      result.computed = true;
      pos = reader.Pos();
      continue;
    }
    if (c == '[') {
      if (plainOnly) {
        throw PlainOnly{pos + 1};
      }
      fail(pos, "an expression must follow the letter of a word, as in X[#1 + 2]");
    }
    if (!IsAlpha(static_cast<char>(c))) {
      if (macro != nullptr && c == '/') {
        fail(pos,
             "'/' inside a block: block delete stands first on its line, and a division "
             "inside an address's brackets (X[#1 / 2])");
      }
      fail(pos, "unexpected character " + Printable(c));
    }
    const char letter = Upper(static_cast<char>(c));
    if (letter == 'O') {
      // A program number ("O1234") as the line's first word; O-word lines are read apart.
      for (std::size_t k = 0; k < count; ++k) {
        if (items[k].kind == cli::Item::WORD) {
          fail(pos, "an O-word must begin its line");
        }
      }
    }
    const std::size_t col = pos + 1;
    ++pos;
    if (ComputedValueAt(line, pos, macro != nullptr)) {
      if (plainOnly) {
        throw PlainOnly{SkipSpaces(line, pos) + 1};
      }
      Reader reader(line, pos, parameters, macro);
      reader.InAddress(letter);
      const double value = reader.Value(0) + 0.0;  // + 0.0: no negative zero
      if (reader.Vacant()) {
        result.vacant.push_back({letter, col});
        result.computed = true;
        pos = reader.Pos();
        continue;
      }
      cli::Item& item = NextItem(items, count, cli::Item::WORD);
      item.letter = letter;
      item.col = col;
      item.value = value;
      item.text = FormatWord(letter, value);
      item.computed = true;
      result.computed = true;
      pos = reader.Pos();
      continue;
    }
    // The number: spaces may stand anywhere inside it; a sign, digits and one decimal point.
    // The word's text is the letter and the number's characters without those spaces.
    const std::size_t first = pos;
    std::size_t last = pos;  // after the number's last character
    std::size_t taken = 0;   // characters of the number
    bool digits = false;
    bool point = false;
    while (pos < n) {
      const char d = line[pos];
      if (IsSpace(d)) {
        ++pos;
        continue;
      }
      if ((d == '+' || d == '-') && taken == 0) {
      } else if (IsDigit(d)) {
        digits = true;
      } else if (d == '.' && !point) {
        point = true;
      } else {
        break;
      }
      ++taken;
      last = ++pos;
    }
    if (!digits) {
      fail(col - 1, std::string("word ") + letter + " has no number");
    }
    if (cli::ExponentFollows(line, pos)) {
      fail(col - 1, std::string("number of word ") + letter +
                        " has an exponent: write it as a plain decimal");
    }
    cli::Item& item = NextItem(items, count, cli::Item::WORD);
    item.letter = letter;
    item.col = col;
    item.text += letter;
    if (last - first == taken) {
      item.text.append(line, first, taken);  // written without spaces: one copy
    } else {
      for (std::size_t k = first; k < last; ++k) {
        if (!IsSpace(line[k])) {
          item.text += line[k];
        }
      }
    }
    if (!ParseDecimal(item.text.data() + 1, item.text.data() + item.text.size(), item.value)) {
      --count;  // no item for a word that fails
      fail(col - 1, std::string("number of word ") + letter + " is out of range");
    }
  }
}

std::optional<OHead> ReadOHead(const std::string& line, bool lenient) {
  // Every O-word line holds an O or o; most lines hold neither and are no O-word line.
  if (std::none_of(line.begin(), line.end(), [](char c) { return c == 'O' || c == 'o'; })) {
    return std::nullopt;
  }
  std::size_t pos = SkipSpaces(line, 0);
  OHead head;
  if (pos < line.size() && line[pos] == '/') {
    head.blockDelete = true;
    pos = SkipSpaces(line, pos + 1);
  }
  if (pos < line.size() && Upper(line[pos]) == 'N') {  // a line number before the O-word
    pos = SkipSpaces(line, pos + 1);
    while (pos < line.size() && (IsDigit(line[pos]) || IsSpace(line[pos]))) {
      ++pos;
    }
  }
  if (pos >= line.size() || Upper(line[pos]) != 'O') {
    return std::nullopt;
  }
  head.col = pos + 1;
  pos = SkipSpaces(line, pos + 1);
  try {
    bool numbered = false;
    if (pos < line.size() && line[pos] == '<') {
      std::size_t close = pos + 1;
      for (; close < line.size() && line[close] != '>'; ++close) {
        // A name is quoted in messages: a control character would cut them short.
        if (static_cast<unsigned char>(line[close]) < 0x20 && line[close] != '\t') {
          throw LineError(close + 1, "unexpected character " +
                                         Printable(static_cast<unsigned char>(line[close])) +
                                         " in an O-word name");
        }
        if (!IsSpace(line[close])) {
          head.label += Lower(line[close]);
        }
      }
      if (close == line.size()) {
        throw LineError(pos + 1, "O-word name is not closed: '>' missing");
      }
      if (head.label.empty()) {
        throw LineError(pos + 1, "O-word name is empty");
      }
      head.label = "<" + head.label + ">";
      pos = close + 1;
    } else if (pos < line.size() && IsDigit(line[pos])) {
      numbered = true;
      for (; pos < line.size() && (IsDigit(line[pos]) || IsSpace(line[pos])); ++pos) {
        if (IsDigit(line[pos]) && !(head.label.empty() && line[pos] == '0')) {
          head.label += line[pos];
        }
      }
      if (head.label.empty()) {
        head.label = "0";
      }
    } else if (pos < line.size() && (line[pos] == '[' || line[pos] == '#')) {
      throw LineError(pos + 1, "computed O-word labels (o[...], o#...) are not supported");
    } else {
      throw LineError(head.col, "an O-word needs a number or a <name>");
    }
    pos = SkipSpaces(line, pos);
    std::string keyword;
    for (; pos < line.size() && IsAlpha(line[pos]); ++pos) {
      keyword += Lower(line[pos]);
    }
    // "O1234" without a keyword is a program number; so is one followed by a word ("O12 G0"),
    // which starts with a single letter before its number.
    if (numbered && keyword.size() < 2) {
      return std::nullopt;
    }
    for (const KeywordName& entry : KEYWORDS) {
      if (keyword == entry.name) {
        head.keyword = entry.keyword;
        head.rest = pos;
        return head;
      }
    }
    if (keyword.empty()) {
      throw LineError(head.col,
                      head.Display() + " needs a keyword (sub, call, if, while, do, repeat...)");
    }
    throw LineError(pos - keyword.size() + 1, "unknown O-word keyword '" + keyword + "'");
  } catch (const LineError&) {
    if (lenient) {
      return std::nullopt;
    }
    throw;
  }
}

std::vector<double> ReadArguments(const std::string& line, const OHead& head, std::size_t min,
                                  std::size_t max, ParameterAccess& parameters) {
  Reader reader(line, head.rest, parameters);
  std::vector<double> values;
  auto what = [&head]() { return head.Display() + " " + KeywordText(head.keyword); };
  while (reader.Peek() == '[') {
    if (values.size() == max) {
      throw LineError(reader.Col(), what() + " takes " +
                                        (max == 0 ? std::string("no value")
                                                  : "at most " + std::to_string(max) +
                                                        (max == 1 ? " value" : " values")));
    }
    values.push_back(reader.Bracketed(0));
  }
  for (int c = reader.Peek(); c >= 0 && c != ';'; c = reader.Peek()) {
    if (c != '(') {
      throw LineError(reader.Col(), "unexpected " + Printable(static_cast<unsigned char>(c)) +
                                        " after " + what());
    }
    const std::size_t end = Comment(line, reader.Pos());
    while (reader.Pos() < end) {
      reader.Take();
    }
  }
  if (reader.Peek() == ';') {
    LineComment(line, reader.Pos());
  }
  if (values.size() < min) {
    throw LineError(reader.Col(),
                    what() + " needs a value in brackets, as in " + what() + " [#1 GT 0]");
  }
  return values;
}

// ---------------------------------------------------------------------------------------------
// Macro B statements

namespace {

struct MacroKeyword {
  std::string_view name;
  MacroHead::Kind kind;
};

// ELSE, ENDIF and THEN first on a line belong to the IF blocks of newer controls, which are
// refused when run (as IF statements that are not "IF [...] GOTO" or "THEN #i = ...").
constexpr std::array<MacroKeyword, 12> MACRO_KEYWORDS = {{{"IF", MacroHead::IF},
                                                          {"GOTO", MacroHead::GOTO},
                                                          {"WHILE", MacroHead::WHILE},
                                                          {"DO", MacroHead::DO},
                                                          {"END", MacroHead::END},
                                                          {"POPEN", MacroHead::PRINT},
                                                          {"PCLOS", MacroHead::PRINT},
                                                          {"DPRNT", MacroHead::PRINT},
                                                          {"BPRNT", MacroHead::PRINT},
                                                          {"ELSE", MacroHead::IF},
                                                          {"ENDIF", MacroHead::IF},
                                                          {"THEN", MacroHead::IF}}};

// Up to nine digits from `pos` (spaces between them allowed), as a number; -1 when there are
// none, and 999999999 for more (no sequence or program number is that long).
long Digits(const std::string& line, std::size_t& pos) {
  long value = -1;
  int digits = 0;
  while (pos < line.size() && (IsDigit(line[pos]) || IsSpace(line[pos]))) {
    if (IsDigit(line[pos])) {
      value = digits < 9 ? (value < 0 ? 0 : value) * 10 + (line[pos] - '0') : 999999999;
      ++digits;
    }
    ++pos;
  }
  return value;
}

// The DO number after a WHILE's condition, read leniently: 0 when the text is not there.
int WhileLoop(const std::string& line, std::size_t pos) {
  pos = SkipSpaces(line, pos);
  if (pos >= line.size() || line[pos] != '[') {
    return 0;
  }
  int depth = 0;
  for (; pos < line.size(); ++pos) {
    depth += line[pos] == '[' ? 1 : line[pos] == ']' ? -1 : 0;
    if (depth == 0) {
      break;
    }
  }
  pos = SkipSpaces(line, pos + 1);
  if (LettersAt(line, pos) != "DO") {
    return 0;
  }
  pos += 2;
  const long m = Digits(line, pos);
  return m < 0 || m > 1000 ? 0 : static_cast<int>(m);
}

// Only comments and the end of the block may follow a statement.
void EndOfStatement(Reader& reader, const std::string& line, const std::string& what) {
  for (int c = reader.Peek(); c >= 0; c = reader.Peek()) {
    if (c == ';') {
      if (SkipSpaces(line, reader.Pos() + 1) != line.size()) {
        throw LineError(reader.Col(),
                        "text after ';', the end of the block: put each block on "
                        "a line of its own");
      }
      return;
    }
    if (c != '(') {
      throw LineError(reader.Col(),
                      "unexpected " + Printable(static_cast<unsigned char>(c)) + " after " + what);
    }
    const std::size_t end = Comment(line, reader.Pos());
    while (reader.Pos() < end) {
      reader.Take();
    }
  }
}

int LoopNumber(Reader& reader, const std::string& line, const std::string& keyword) {
  const std::size_t col = reader.Col();
  std::size_t pos = reader.Pos();
  const long m = Digits(line, pos);
  if (m < 1 || m > 3) {
    throw LineError(col, keyword + " needs the loop's number, 1, 2 or 3 (" + keyword + "1)");
  }
  while (reader.Pos() < pos) {
    reader.Take();
  }
  return static_cast<int>(m);
}

bool Condition(Reader& reader, const std::string& keyword) {
  if (reader.Peek() != '[') {
    throw LineError(reader.Col(),
                    keyword + " needs its condition in brackets, as in " + keyword + " [#1 LT 10]");
  }
  reader.InCondition();
  return reader.Bracketed(0) != 0.0;
}

long Target(Reader& reader) {
  const std::size_t col = reader.Col();
  const double value = reader.Value(0);
  if (reader.Vacant()) {
    throw LineError(col, "GOTO to a vacant variable");
  }
  if (value < 1.0 || value > 99999999.0 || value != std::floor(value)) {  // exact: whole
    throw LineError(col, "GOTO needs a sequence number from 1 to 99999999, not " + Shown(value));
  }
  return static_cast<long>(value);
}

Assignment Assign(Reader& reader, ParameterAccess& parameters) {
  const std::size_t col = reader.Col();
  reader.Expect('#', "");
  Assignment assignment;
  assignment.target = reader.Reference(col, 0);
  reader.Expect('=', "after " + assignment.target.Display() + ": a variable is set (#1 = 2)");
  assignment.value = reader.Sequence(0, col, Reader::Closer::STATEMENT) + 0.0;
  assignment.vacant = reader.Vacant();
  parameters.CheckWritable(assignment.target);
  return assignment;
}

}  // namespace

MacroHead ReadMacroHead(const std::string& line) {
  MacroHead head;
  const std::size_t n = line.size();
  std::size_t pos = SkipSpaces(line, 0);
  if (pos < n && line[pos] == '/') {
    head.blockDelete = true;
    ++pos;
    if (pos < n && IsDigit(line[pos])) {
      head.skipSwitch = line[pos] == '1' ? 0 : line[pos] - '0';
      ++pos;
    }
    pos = SkipSpaces(line, pos);
  }
  if (pos < n && Upper(line[pos]) == 'O') {
    if (ReadOHead(line, true)) {
      head.kind = MacroHead::NGC_OWORD;
      head.body = pos;
      return head;
    }
    std::size_t digits = SkipSpaces(line, pos + 1);
    const long number = Digits(line, digits);
    if (number >= 0) {
      head.kind = MacroHead::PROGRAM;
      head.program = number;
      head.body = pos;
      head.rest = digits;
      return head;
    }
  }
  if (pos < n && Upper(line[pos]) == 'N') {
    std::size_t digits = SkipSpaces(line, pos + 1);
    const long number = Digits(line, digits);
    if (number >= 0) {
      head.sequence = number;
      pos = digits;
    }
  }
  head.body = pos;
  head.rest = pos;
  if (pos >= n) {
    return head;
  }
  if (line[pos] == '#') {
    head.kind = MacroHead::ASSIGN;
    return head;
  }
  if (!IsAlpha(line[pos]) || pos + 1 >= n || !IsAlpha(line[pos + 1])) {
    return head;  // a word starts with one letter: the usual line is settled here
  }
  const std::string word = LettersAt(line, pos);
  for (const MacroKeyword& keyword : MACRO_KEYWORDS) {
    if (word == keyword.name) {
      head.kind = keyword.kind;
      head.keyword = word;
      head.rest = pos + word.size();
      std::size_t after = SkipSpaces(line, head.rest);
      if (head.kind == MacroHead::DO || head.kind == MacroHead::END) {
        const long m = Digits(line, after);
        head.loop = m < 0 || m > 1000 ? 0 : static_cast<int>(m);
      } else if (head.kind == MacroHead::WHILE) {
        head.loop = WhileLoop(line, head.rest);
      }
      return head;
    }
  }
  return head;
}

MacroStatement ReadMacroStatement(const std::string& line, const MacroHead& head,
                                  ParameterAccess& parameters, const MacroRules& rules) {
  Reader reader(line, head.rest, parameters, &rules);
  MacroStatement statement;
  statement.col = head.body + 1;
  switch (head.kind) {
  case MacroHead::ASSIGN:
    statement.kind = MacroStatement::ASSIGN;
    statement.assignment = Assign(reader, parameters);
    EndOfStatement(reader, line, "the assignment");
    return statement;
  case MacroHead::IF: {
    if (head.keyword != "IF") {
      throw LineError(statement.col,
                      head.keyword +
                          ": IF ... THEN ... ELSE ... ENDIF blocks are not supported; "
                          "write IF [...] GOTO n, or IF [...] THEN #i = ...");
    }
    const bool holds = Condition(reader, "IF");
    const std::size_t col = reader.Col();
    const std::string then = LettersAt(line, reader.Pos());
    if (then == "GOTO") {
      for (std::size_t k = 0; k < then.size(); ++k) {
        reader.Take();
      }
      if (holds) {
        statement.kind = MacroStatement::GOTO;
        statement.targetCol = reader.Col();
        statement.target = Target(reader);
        EndOfStatement(reader, line, "the GOTO");
      }
      return statement;
    }
    if (then != "THEN") {
      throw LineError(col, "IF [...] needs GOTO n or THEN #i = ... after its condition");
    }
    for (std::size_t k = 0; k < then.size(); ++k) {
      reader.Take();
    }
    if (reader.Peek() != '#') {
      throw LineError(reader.Col(),
                      "IF [...] THEN takes one assignment (#i = ...); other "
                      "statements after THEN are not supported");
    }
    if (holds) {
      statement.kind = MacroStatement::ASSIGN;
      statement.assignment = Assign(reader, parameters);
      EndOfStatement(reader, line, "the assignment");
    }
    return statement;
  }
  case MacroHead::GOTO:
    statement.kind = MacroStatement::GOTO;
    statement.targetCol = reader.Col();
    statement.target = Target(reader);
    EndOfStatement(reader, line, "the GOTO");
    return statement;
  case MacroHead::WHILE: {
    statement.kind = MacroStatement::WHILE;
    statement.holds = Condition(reader, "WHILE");
    const std::size_t col = reader.Col();
    if (LettersAt(line, reader.Pos()) != "DO") {
      throw LineError(col, "WHILE [...] needs DO and the loop's number after its condition");
    }
    reader.Take();
    reader.Take();
    statement.loop = LoopNumber(reader, line, "DO");
    EndOfStatement(reader, line, "WHILE [...] DO" + std::to_string(statement.loop));
    return statement;
  }
  case MacroHead::DO:
  case MacroHead::END:
    statement.kind = head.kind == MacroHead::DO ? MacroStatement::DO : MacroStatement::END;
    statement.loop = LoopNumber(reader, line, head.keyword);
    EndOfStatement(reader, line, head.keyword + std::to_string(statement.loop));
    return statement;
  default:
    return statement;
  }
}

bool ReadMacroCondition(const std::string& line, std::size_t& pos, ParameterAccess& parameters,
                        const MacroRules& rules) {
  Reader reader(line, pos, parameters, &rules);
  const bool holds = Condition(reader, "the condition");
  pos = reader.Pos();
  return holds;
}

double RoundToAddress(char letter, double value, bool metric) {
  const int decimals = AddressDecimals(letter, metric);
  return decimals < 0 ? value : RoundDecimal(value, decimals) + 0.0;
}

std::string FormatWord(char letter, double value) {
  // Shortest fixed-point text that reads back as `value`: at most 309 integer digits and 324
  // decimals for a finite double.
  char buffer[700];
  const auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, value + 0.0, std::chars_format::fixed);
  std::string text(1, letter);
  if (error != std::errc()) {
    return text + "0";  // unreachable for a finite value: the buffer holds the longest
  }
  text.append(buffer, end);
  static const std::string COORDINATES = "XYZABCUVWIJKRQ";
  if (COORDINATES.find(letter) != std::string::npos && text.find('.') == std::string::npos) {
    text += '.';
  }
  return text;
}

}  // namespace cutcomp::language::detail
