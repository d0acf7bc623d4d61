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
  ASIN,
  ATAN,
  COS,
  EXP,
  EXISTS,
  FIX,
  FUP,
  LN,
  ROUND,
  SIN,
  SQRT,
  TAN
};

struct FunctionName {
  const char* name;
  Function function;
};

constexpr std::array<FunctionName, 14> FUNCTIONS = {{{"ABS", Function::ABS},
                                                     {"ACOS", Function::ACOS},
                                                     {"ASIN", Function::ASIN},
                                                     {"ATAN", Function::ATAN},
                                                     {"COS", Function::COS},
                                                     {"EXP", Function::EXP},
                                                     {"EXISTS", Function::EXISTS},
                                                     {"FIX", Function::FIX},
                                                     {"FUP", Function::FUP},
                                                     {"LN", Function::LN},
                                                     {"ROUND", Function::ROUND},
                                                     {"SIN", Function::SIN},
                                                     {"SQRT", Function::SQRT},
                                                     {"TAN", Function::TAN}}};

const FunctionName* FindFunction(const std::string& name) {
  for (const FunctionName& entry : FUNCTIONS) {
    if (name == entry.name) {
      return &entry;
    }
  }
  return nullptr;
}

// A function name followed by '[' starts at `pos`: the word's value is computed (XSIN[30]).
bool FunctionAt(const std::string& line, std::size_t pos) {
  if (pos >= line.size() || !IsAlpha(line[pos])) {
    return false;
  }
  const std::string name = LettersAt(line, pos);
  if (FindFunction(name) == nullptr) {
    return false;
  }
  const std::size_t after = SkipSpaces(line, pos + name.size());
  return after < line.size() && line[after] == '[';
}

// Whether the text at `pos` is a value the plain tokenizer does not read: a parameter, an
// expression or a function, possibly after signs.
bool ComputedValueAt(const std::string& line, std::size_t pos) {
  pos = SkipSpaces(line, pos);
  if (pos < line.size() && (line[pos] == '+' || line[pos] == '-')) {
    pos = SkipSpaces(line, pos + 1);
  }
  return pos < line.size() && (line[pos] == '#' || line[pos] == '[' || FunctionAt(line, pos));
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

// Reads values from a position in a line. Spaces may stand anywhere (as in plain words: "1 0"
// is 10); letters are case-insensitive.
class Reader {
public:
  Reader(const std::string& line, std::size_t pos, ParameterAccess& parameters)
      : m_Line(line), m_Pos(pos), m_Parameters(parameters) {}

  std::size_t Pos() const { return m_Pos; }

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
    for (int c = Peek(); c == '+' || c == '-'; c = Peek()) {
      negative = negative != (c == '-');
      Take();
    }
    const int c = Peek();
    double value = 0.0;
    if (c == '[') {
      value = Bracketed(depth + 1);
    } else if (c == '#') {
      Take();
      value = m_Parameters.Read(Reference(col, depth + 1));
    } else if (c >= 0 && (IsDigit(static_cast<char>(c)) || c == '.')) {
      value = Number();
    } else if (c >= 0 && IsAlpha(static_cast<char>(c))) {
      value = Call(depth + 1);
    } else if (c < 0) {
      throw LineError(Col(), "a value is missing at the end of the line");
    } else {
      throw LineError(Col(), "a value expected, found " + Printable(static_cast<unsigned char>(c)));
    }
    return negative ? -value : value;
  }

  // '[' expression ']', operators by precedence, left to right within one precedence.
  double Bracketed(int depth) {
    const std::size_t open = Col();
    Expect('[', "");
    // Operators wait here only while each binds tighter than the one before it: at most one
    // per precedence level, so the stacks have fixed room.
    std::array<double, 8> values{};
    std::array<std::pair<Op, std::size_t>, 8> ops{};
    std::size_t count = 0;  // operators waiting; values waiting: count + 1
    auto reduce = [&values, &ops, &count]() {
      --count;
      values[count] = Apply(ops[count].first, values[count], values[count + 1], ops[count].second);
    };
    values[0] = Value(depth);
    for (;;) {
      const int c = Peek();
      if (c < 0) {
        throw LineError(open, "expression is not closed: ']' missing");
      }
      if (c == ']') {
        Take();
        break;
      }
      const std::size_t col = Col();
      const Op op = Operator();
      while (count > 0 && Precedence(ops[count - 1].first) >= Precedence(op)) {
        reduce();
      }
      ops[count] = {op, col};
      ++count;
      values[count] = Value(depth);
    }
    while (count > 0) {
      reduce();
    }
    return values[0];
  }

  // After '#' (at `col`): <name> or a value giving the number.
  ParameterRef Reference(std::size_t col, int depth) {
    ParameterRef ref;
    ref.col = col;
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
    const double rounded = std::round(number);
    if (std::fabs(number - rounded) > INDEX_TOLERANCE || std::fabs(rounded) > 1e6) {
      throw LineError(
          col, "parameter number " + FormatWord('#', number).substr(1) + " is not a parameter");
    }
    ref.number = static_cast<int>(rounded);
    return ref;
  }

private:
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

  Op Operator() {
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
        m_Pos += word.size();
        return op;
      }
    }
    throw LineError(col, "an operator or ']' expected");
  }

  double Call(int depth) {
    const std::size_t col = Col();
    const std::string name = LettersAt(m_Line, m_Pos);
    const FunctionName* function = FindFunction(name);
    if (function == nullptr) {
      throw LineError(col, "unknown function '" + name + "'");
    }
    m_Pos += name.size();
    if (Peek() != '[') {
      throw LineError(Col(), name + " needs its argument in brackets");
    }
    if (function->function == Function::EXISTS) {
      Take();
      const std::size_t hash = Col();
      Expect('#', "in EXISTS[#<name>]");
      const ParameterRef ref = Reference(hash, depth + 1);
      Expect(']', "to close EXISTS");
      return m_Parameters.Exists(ref) ? 1.0 : 0.0;
    }
    const double x = Bracketed(depth + 1);
    double sine = 0.0;
    double cosine = 0.0;
    switch (function->function) {
    case Function::ABS:
      return std::fabs(x);
    case Function::ACOS:
    case Function::ASIN:
      if (x < -1.0 || x > 1.0) {
        throw LineError(col, name + " of a number outside -1 to 1");
      }
      return (function->function == Function::ACOS ? std::acos(x) : std::asin(x)) *
             DEGREES_PER_RADIAN;
    case Function::ATAN: {
      Expect('/', "between the two arguments of ATAN[y]/[x]");
      const double run = Bracketed(depth + 1);
      return std::atan2(x, run) * DEGREES_PER_RADIAN;
    }
    case Function::COS:
      SinCosDegrees(x, sine, cosine);
      return cosine;
    case Function::EXP:
      return Finite(std::exp(x), col);
    case Function::FIX:
      return std::floor(x);
    case Function::FUP:
      return std::ceil(x);
    case Function::LN:
      if (x <= 0.0) {
        throw LineError(col, "LN of zero or a negative number");
      }
      return std::log(x);
    case Function::ROUND:
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
    case Function::EXISTS:
      break;
    }
    return 0.0;
  }

  const std::string& m_Line;
  std::size_t m_Pos;
  ParameterAccess& m_Parameters;
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
                  EvaluatedLine& result, bool fastPath) {
  if (fastPath && ReadPlainLine(line, result)) {
    return;
  }
  result.assignments.clear();
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
  std::size_t pos = SkipSpaces(line, 0);
  const std::size_t n = line.size();
  auto fail = [](std::size_t at, const std::string& message) { throw LineError(at + 1, message); };
  if (pos < n && line[pos] == '/') {
    result.blockDelete = true;
    ++pos;
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
    if (ComputedValueAt(line, pos)) {
      if (plainOnly) {
        throw PlainOnly{SkipSpaces(line, pos) + 1};
      }
      Reader reader(line, pos, parameters);
      const double value = reader.Value(0) + 0.0;  // + 0.0: no negative zero
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
