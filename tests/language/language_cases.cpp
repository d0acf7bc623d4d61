// SPDX-License-Identifier: MIT
// Runs the language layer's data cases: each argument is a file of programs with their
// expected flattened output (*.cases: "=== name [max-blocks=N] [max-depth=N] [dialect=D]
// [block-delete=on] [integers=whole|increment] [tool=T:DIAMETER] [pipe]", the program, "---
// file NAME" and its text for each subroutine file, "--- expect" and one line per block,
// warning or error; with dialect=auto a last line says what was recognised) or of expressions with
// their values (*.tsv, described in the file). Prints every difference; exits non-zero on any.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "language.h"

namespace {

namespace fs = std::filesystem;
using cutcomp::cli::InputError;
using cutcomp::cli::SourceLocation;
using cutcomp::language::LanguageOptions;
using cutcomp::language::LanguageSource;

struct Case {
  std::string name;
  std::vector<std::pair<std::string, std::string>> files;  // main.ngc first
  std::string expected;
  LanguageOptions options;
  std::map<int, double> diameters;  // the tool table the stand-in machine state knows
  bool pipe = false;                // the program comes through a pipe, which cannot seek
};

cutcomp::language::Dialect DialectNamed(const std::string& name) {
  using cutcomp::language::Dialect;
  for (const Dialect dialect : {Dialect::AUTO, Dialect::NGC, Dialect::FANUC, Dialect::HAAS}) {
    if (name == cutcomp::language::DialectName(dialect)) {
      return dialect;
    }
  }
  std::cerr << "unknown dialect " << name << "\n";
  std::exit(2);
}

std::string Place(const SourceLocation& where) {
  return (where.file.empty() ? "" : where.file + ":") + std::to_string(where.line);
}

// Line `where.line` of its file (`program` for the main one).
std::string SourceLine(const SourceLocation& where, const std::string& program) {
  std::ifstream in(where.file.empty() ? program : where.file);
  std::string line;
  for (std::size_t n = 0; n < where.line && std::getline(in, line); ++n) {
  }
  return line;
}

// Runs `program` (in the current directory) and writes one line per block, warning or error.
// Sets `fault` when a block breaks the layer's contract: a word's text must read back as its
// value; a block's text is its source line, or its words when it computed any.
std::string Run(const std::string& program, LanguageOptions options, std::string& fault,
                const std::map<int, double>& diameters = {}, bool pipe = false) {
  std::ostringstream out;
  // Beside the program first, then a search path (its empty entry is skipped).
  options.subroutineDirs = cutcomp::language::SplitSearchPath("lib::more");
  options.subroutineDirs.insert(options.subroutineDirs.begin(), "");
  options.warn = [&out, &program](const InputError& warning) {
    out << "warning: " << cutcomp::language::FormatInputError(warning, program) << "\n";
  };
  std::FILE* file =
      pipe ? popen(("cat " + program).c_str(), "r") : std::fopen(program.c_str(), "rb");
  cutcomp::language::TrackedMachineState state;
  state.diameters = diameters;
  LanguageSource source(file, state, options);
  try {
    cutcomp::cli::SourceBlock block;
    while (source.Next(block)) {
      state.Observe(block);
      out << Place(block.where);
      for (const SourceLocation& caller : block.callers) {
        out << " < " << Place(caller);
      }
      std::string words = block.blockDelete ? "/" : "";
      for (const cutcomp::cli::Item& item : block.items) {
        words += (words.empty() || words == "/" ? "" : " ") + item.text;
        if (item.kind == cutcomp::cli::Item::WORD &&
            std::strtod(item.text.c_str() + 1, nullptr) != item.value) {
          fault = item.text + " does not read back as " + std::to_string(item.value);
        }
      }
      const std::string line = SourceLine(block.where, program);
      if (block.text != (source.LastBlockComputed() ? words : line)) {
        fault = "the text of the block at " + Place(block.where) + " is " + block.text;
      }
      // A line that computed nothing is split as the plain tokenizer splits it.
      bool blockDelete = false;
      if (!source.LastBlockComputed() &&
          cutcomp::language::TokenizePlain(line, 1, blockDelete).size() != block.items.size()) {
        fault = "the plain tokenizer splits line " + Place(block.where) + " otherwise";
      }
      out << ":" << (words.empty() ? "" : " ") << words << "\n";
    }
  } catch (const InputError& error) {
    out << "error: " << cutcomp::language::FormatInputError(error, program, &source) << "\n";
  }
  if (options.dialect == cutcomp::language::Dialect::AUTO) {
    out << "dialect: " << source.ChosenDialect().Describe() << "\n";
  }
  if (pipe) {
    pclose(file);
  } else {
    std::fclose(file);
  }
  return out.str();
}

void Write(const fs::path& path, const std::string& text) {
  if (path.has_parent_path()) {
    fs::create_directories(path.parent_path());
  }
  std::ofstream(path) << text;
}

bool RunCases(const std::string& path) {
  std::ifstream in(path);
  std::vector<Case> cases;
  std::string line;
  std::string* target = nullptr;
  while (std::getline(in, line)) {
    if (line.rfind("//", 0) == 0) {
      continue;
    }
    if (line.rfind("=== ", 0) == 0) {
      cases.emplace_back();
      std::istringstream words(line.substr(4));
      for (std::string word; words >> word;) {
        if (word.rfind("max-blocks=", 0) == 0) {
          cases.back().options.maxBlocks = std::stoull(word.substr(11));
        } else if (word.rfind("max-depth=", 0) == 0) {
          cases.back().options.maxCallDepth = std::stoul(word.substr(10));
        } else if (word.rfind("dialect=", 0) == 0) {
          cases.back().options.dialect = DialectNamed(word.substr(8));
        } else if (word == "pipe") {
          cases.back().pipe = true;
        } else if (word == "block-delete=on") {
          cases.back().options.skipBlockDelete = true;
        } else if (word == "integers=whole") {
          cases.back().options.integerWords = cutcomp::language::IntegerWords::WHOLE;
        } else if (word == "integers=increment") {
          cases.back().options.integerWords = cutcomp::language::IntegerWords::INCREMENT;
        } else if (word.rfind("tool=", 0) == 0) {
          const std::size_t colon = word.find(':');
          cases.back().diameters[std::stoi(word.substr(5, colon - 5))] =
              std::stod(word.substr(colon + 1));
        } else {
          cases.back().name += (cases.back().name.empty() ? "" : " ") + word;
        }
      }
      cases.back().files.emplace_back("main.ngc", "");
      target = &cases.back().files.back().second;
    } else if (line.rfind("--- file ", 0) == 0 && !cases.empty()) {
      cases.back().files.emplace_back(line.substr(9), "");
      target = &cases.back().files.back().second;
    } else if (line == "--- expect" && !cases.empty()) {
      target = &cases.back().expected;
    } else if (target != nullptr) {
      *target += line + "\n";
    }
  }
  bool ok = !cases.empty();
  for (Case& c : cases) {
    while (c.expected.size() > 1 && c.expected.substr(c.expected.size() - 2) == "\n\n") {
      c.expected.pop_back();  // the blank lines between cases
    }
    for (const auto& [name, text] : c.files) {
      Write(name, text);
    }
    std::string fault;
    const std::string actual = Run("main.ngc", c.options, fault, c.diameters, c.pipe);
    if (actual != c.expected || !fault.empty()) {
      ok = false;
      std::cout << path << ": case '" << c.name << "': " << fault << "\n--- expected\n"
                << c.expected << "--- actual\n"
                << actual;
    }
    for (const auto& file : c.files) {
      fs::remove_all(fs::path(file.first).begin()->string());
    }
  }
  return ok;
}

// Rows "expression<TAB>value": the expression is the value of an X word on a line of its own;
// the value is the word's text after X ("3."), "~v" for a value within 1e-12 relative (libm
// results), or "error COL: message" with the column in that line.
// A file with the line "// dialect: fanuc" (or haas) holds macro B rows instead: the
// expression is assigned ("#100=EXPRESSION") and shown as an F word on the next line; a row
// starting with '?' is a condition, shown as 1 or 0 ("#100=0", "IF [...] THEN #100=1"). The
// value is the word's text after F, "vacant" when the word is left out, or "error COL:
// message" with the column in the assignment or IF line.
bool RunExpressions(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  bool ok = true;
  int rows = 0;
  LanguageOptions options;
  while (std::getline(in, line)) {
    const std::size_t tab = line.find('\t');
    if (line.rfind("// dialect: ", 0) == 0) {
      options.dialect = DialectNamed(line.substr(12));
    }
    if (line.empty() || line.rfind("//", 0) == 0 || tab == std::string::npos) {
      continue;
    }
    ++rows;
    const std::string expression = line.substr(0, tab);
    const std::string expected = line.substr(tab + 1);
    const bool macro = options.dialect != cutcomp::language::Dialect::NGC;
    const bool condition = macro && expression[0] == '?';
    std::string prefix = "1: X";
    if (!macro) {
      Write("expression.ngc", "X" + expression + "\n");
    } else if (condition) {
      Write("expression.ngc", "#100=0\nIF " + expression.substr(1) + " THEN #100=1\nF#100\n");
      prefix = "3: F";
    } else {
      Write("expression.ngc", "#100=" + expression + "\nF#100\n");
      prefix = "2: F";
    }
    std::string fault;
    std::string actual = Run("expression.ngc", options, fault);
    if (macro) {
      // Warnings (a vacant word left out) are the cases' concern, not the values'.
      std::string kept;
      std::istringstream lines(actual);
      for (std::string out; std::getline(lines, out);) {
        kept += out.rfind("warning:", 0) == 0 ? "" : out + "\n";
      }
      actual = kept;
    }
    bool match = false;
    if (macro && actual.empty()) {
      actual = "vacant\n";
      prefix = "";
    }
    const std::string errorPrefix = macro ? "error: expression.ngc:" : "error: expression.ngc:1:";
    if (actual.rfind(prefix, 0) == 0 && actual.rfind("error", 0) != 0) {
      actual = actual.substr(prefix.size(), actual.size() - prefix.size() - 1);
      if (expected.rfind('~', 0) == 0) {
        const double want = std::strtod(expected.c_str() + 1, nullptr);
        const double got = std::strtod(actual.c_str(), nullptr);
        match = std::fabs(got - want) <= 1e-12 * std::max(1.0, std::fabs(want));
      } else {
        match = actual == expected;
      }
    } else if (actual.rfind(errorPrefix, 0) == 0) {
      actual = "error " + actual.substr(errorPrefix.size(), actual.size() - errorPrefix.size() - 1);
      match = actual == expected;
    }
    if (!match || !fault.empty()) {
      ok = false;
      std::cout << path << ": " << expression << "\n  expected " << expected << "\n  actual   "
                << actual << "\n  " << fault << "\n";
    }
  }
  fs::remove("expression.ngc");
  return ok && rows > 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Programs and their subroutine files are written to a scratch directory and run from there,
  // so that file names in messages are as short as the expected output writes them.
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; ++i) {
    inputs.push_back(fs::absolute(argv[i]).string());
  }
  std::string scratch = (fs::temp_directory_path() / "language_cases_XXXXXX").string();
  if (mkdtemp(scratch.data()) == nullptr || chdir(scratch.c_str()) != 0) {
    std::perror("scratch directory");
    return 2;
  }
  bool ok = !inputs.empty();
  for (const std::string& input : inputs) {
    const bool tsv = input.size() > 4 && input.substr(input.size() - 4) == ".tsv";
    ok = (tsv ? RunExpressions(input) : RunCases(input)) && ok;
  }
  fs::current_path(fs::temp_directory_path());
  fs::remove_all(scratch);
  return ok ? 0 : 1;
}
