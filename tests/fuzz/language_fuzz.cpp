// SPDX-License-Identifier: MIT
// Fuzz target: the bytes are a program, run by the language layer under small limits, in the
// dialect recognised from it (RS274/NGC or a Fanuc-family macro B), with block delete on for
// inputs of odd length and each reading of integer coordinates by length modulo three. Beyond
// not crashing, every block and error must make sense (places inside the program, finite
// values whose text reads back, a bounded call chain and block count), and a second run of
// the same bytes must hand out the same blocks.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "language.h"
#include "source_file.h"

namespace {

using cutcomp::cli::InputError;
using cutcomp::cli::Item;
using cutcomp::cli::SourceBlock;
using cutcomp::cli::SourceLocation;

constexpr std::uint64_t MAX_BLOCKS = 20000;  // keeps one input well under a second
constexpr std::size_t MAX_DEPTH = 12;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "language fuzz: invariant broken: %s\n", what);
    std::abort();
  }
}

// A place the layer reports: in the program (the only file: no subroutine directories), at a
// line of it (one past the end for a line too long to finish) and a column within the cap.
void CheckPlace(const SourceLocation& where, std::size_t col, std::size_t lines) {
  Check(where.file.empty(), "a place outside the program");
  Check(where.line <= lines + 1, "a line past the end of the program");
  Check(col <= cutcomp::language::MAX_LINE_LENGTH + 1, "a column past the longest line");
}

void CheckError(const InputError& error, std::size_t lines) {
  CheckPlace({error.File(), error.Line()}, error.Col(), lines);
  Check(error.what()[0] != '\0', "an error without a message");
  Check(error.Callers().size() <= MAX_DEPTH, "a call chain deeper than the limit");
  Check(!cutcomp::language::FormatInputError(error, "fuzz.ngc").empty(), "an empty message");
}

// Runs the program once; returns a transcript of what it handed out.
std::string Run(std::FILE* file, std::size_t lines, std::size_t size) {
  std::rewind(file);
  std::string transcript;
  cutcomp::language::LanguageOptions options;
  options.maxBlocks = MAX_BLOCKS;
  options.maxCallDepth = MAX_DEPTH;
  options.dialect = cutcomp::language::Dialect::AUTO;
  options.skipBlockDelete = size % 2 == 1;
  options.integerWords = static_cast<cutcomp::language::IntegerWords>(size % 3);
  options.warn = [&transcript, lines](const InputError& warning) {
    CheckError(warning, lines);
    transcript += std::string("warning ") + warning.what() + "\n";
  };
  cutcomp::language::TrackedMachineState state;
  cutcomp::language::LanguageSource source(file, state, options);
  Check(source.ChosenDialect().dialect != cutcomp::language::Dialect::AUTO, "no dialect chosen");
  std::uint64_t blocks = 0;
  try {
    SourceBlock block;
    while (source.Next(block)) {
      Check(++blocks <= MAX_BLOCKS, "more blocks than the limit");
      CheckPlace(block.where, 0, lines);
      Check(block.where.line >= 1, "a block at line 0");
      Check(block.callers.size() <= MAX_DEPTH, "a call chain deeper than the limit");
      transcript += std::to_string(block.where.line) + ":";
      for (const Item& item : block.items) {
        Check(item.col >= 1, "an item at column 0");
        if (item.kind == Item::WORD) {
          Check(item.letter >= 'A' && item.letter <= 'Z', "a word without an upper-case letter");
          Check(std::isfinite(item.value), "a word whose value is not finite");
          Check(!item.text.empty() && item.text[0] == item.letter, "a word text without letter");
          Check(std::strtod(item.text.c_str() + 1, nullptr) == item.value,
                "a word text that does not read back as its value");
        } else {
          Check(!item.text.empty() &&
                    (item.text[0] == '(' || item.text[0] == ';' || item.text == "%"),
                "a comment without its delimiter");
        }
        transcript += " " + item.text;
      }
      transcript += "\n";
      state.Observe(block);
    }
  } catch (const InputError& error) {
    CheckError(error, lines);
    transcript += std::string("error ") + error.what() + "\n";
  }
  return transcript;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::tmpfile();
  if (file == nullptr) {
    return 0;
  }
  std::fwrite(data, 1, size, file);
  std::size_t lines = size > 0 && data[size - 1] != '\n' ? 1 : 0;
  for (std::size_t i = 0; i < size; ++i) {
    lines += data[i] == '\n' ? 1 : 0;
  }
  const std::string first = Run(file, lines, size);
  Check(Run(file, lines, size) == first, "a second run of the same program differs");
  std::fclose(file);
  return 0;
}
