// SPDX-License-Identifier: MIT
// Checks the reader's fast paths against the general ones on random input: every decimal the
// fast number reading takes must equal from_chars bit for bit, and every line the plain-line
// reading takes must give exactly the items of the general reading (which must not refuse it).
// Prints the first differences; exits non-zero on any.
#include <cfloat>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "evaluator.h"

namespace {

namespace detail = cutcomp::language::detail;

class NoParameters : public detail::ParameterAccess {
public:
  double Read(const detail::ParameterRef& ref) override { return Refuse(ref); }
  bool Exists(const detail::ParameterRef& ref) override { return Refuse(ref) != 0.0; }
  void CheckWritable(const detail::ParameterRef& ref) override { Refuse(ref); }

private:
  static double Refuse(const detail::ParameterRef& ref) {
    throw detail::LineError(ref.col, "no parameters here");
  }
};

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

int failures = 0;
void Fail(const std::string& what) {
  if (++failures <= 10) {
    std::printf("%s\n", what.c_str());
  }
}

void CheckDecimals(std::mt19937_64& random) {
  for (int n = 0; n < 1000000; ++n) {
    std::string text;
    const int digits = 1 + static_cast<int>(random() % 17);
    const int point = static_cast<int>(random() % static_cast<unsigned>(digits + 2)) - 1;
    for (int k = 0; k < digits; ++k) {
      if (k == point) {
        text += '.';
      }
      text += static_cast<char>('0' + random() % 10);
    }
    double fast = 0.0;
    double exact = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), exact);
    if (detail::FastDecimal(text.data(), text.data() + text.size(), fast) &&
        !SameBits(fast, exact)) {
      Fail("FastDecimal(" + text + ") differs from from_chars");
    }
  }
}

void CheckLines(std::mt19937_64& random) {
  const std::vector<std::string> pieces = {"X",
                                           "y",
                                           "G",
                                           "m",
                                           "O",
                                           "e",
                                           "E",
                                           "1",
                                           "0",
                                           "25",
                                           ".",
                                           "-",
                                           "+",
                                           " ",
                                           "  ",
                                           "\t",
                                           "(c)",
                                           ";x",
                                           "#1",
                                           "[",
                                           "123456789012345",
                                           "1234567890123456",
                                           std::string(1, '\0')};
  NoParameters none;
  detail::EvaluatedLine fast;
  detail::EvaluatedLine general;
  int taken = 0;
  for (int n = 0; n < 300000; ++n) {
    std::string line;
    for (std::size_t k = random() % 12; k > 0; --k) {
      line += pieces[random() % pieces.size()];
    }
    if (!detail::ReadPlainLine(line, fast)) {
      continue;
    }
    ++taken;
    try {
      detail::EvaluateLine(line, none, true, general, false);
    } catch (...) {
      Fail("plain reading takes a line the general one refuses: '" + line + "'");
      continue;
    }
    bool same = fast.items.size() == general.items.size() && !fast.computed && !fast.blockDelete &&
                fast.assignments.empty();
    for (std::size_t i = 0; same && i < fast.items.size(); ++i) {
      const cutcomp::cli::Item& a = fast.items[i];
      const cutcomp::cli::Item& b = general.items[i];
      same = a.kind == b.kind && a.letter == b.letter && SameBits(a.value, b.value) &&
             a.text == b.text && a.col == b.col && a.computed == b.computed && a.role == b.role;
    }
    if (!same) {
      Fail("plain and general readings differ on '" + line + "'");
    }
  }
  if (taken < 1000 && FLT_EVAL_METHOD == 0) {  // (x87 doubles take the general reading only)
    Fail("too few lines taken by the plain reading to check it: " + std::to_string(taken));
  }
}

}  // namespace

int main() {
  std::mt19937_64 random(20261206);
  CheckDecimals(random);
  CheckLines(random);
  if (failures > 0) {
    std::printf("%d differences\n", failures);
    return 1;
  }
  return 0;
}
