// SPDX-License-Identifier: MIT
// The data-driven cases of the command-line tool. Golden programs: every cases/NAME.ngc is run
// as `cutcomp NAME.ngc ARGS` in cases/; its leading comments give the arguments (`; cutcomp:`),
// the exit status (`; exit:`, default 0) and the exact standard error (`; stderr:` lines, in
// order), and NAME.expected is the exact standard output. Refusals: each row of
// cases/refusals.tsv (exit, arguments, program, standard error; `\n` for a line break) is
// written to in.ngc and run; a program refused as bad input must write nothing.
#include <dirent.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "run_process.h"

namespace cutcomp::test {
namespace {

const std::string EXE = CUTCOMP_EXE;
const std::string CASES = CUTCOMP_CASES;

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  std::string part;
  while (std::getline(in, part, separator)) {
    if (!part.empty() || separator == '\t') {
      parts.push_back(part);
    }
  }
  return parts;
}

// `\n` and `\t`; in a program also `\xHH` for a byte no editor shows.
std::string Unescape(const std::string& text, bool bytes) {
  std::string out;
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (text[k] == '\\' && k + 1 < text.size() && (text[k + 1] == 'n' || text[k + 1] == 't')) {
      out += text[++k] == 'n' ? '\n' : '\t';
    } else if (bytes && text.compare(k, 2, "\\x") == 0 && k + 3 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(k + 2, 2), nullptr, 16));
      k += 3;
    } else {
      out += text[k];
    }
  }
  return out;
}

std::vector<std::string> GoldenNames() {
  std::vector<std::string> names;
  if (DIR* dir = opendir(CASES.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".ngc") == 0) {
        names.push_back(name.substr(0, name.size() - 4));
      }
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class Golden : public ::testing::TestWithParam<std::string> {};

TEST_P(Golden, WritesTheExpectedProgramAndMessages) {
  const std::string name = GetParam();
  std::vector<std::string> args = {name + ".ngc"};
  int exit = 0;
  std::string err;
  for (const std::string& line : Split(ReadFile(CASES + "/" + name + ".ngc"), '\n')) {
    if (line.rfind("; cutcomp: ", 0) == 0) {
      for (const std::string& arg : Split(line.substr(11), ' ')) {
        args.push_back(arg);
      }
    } else if (line.rfind("; exit: ", 0) == 0) {
      exit = std::stoi(line.substr(8));
    } else if (line.rfind("; stderr: ", 0) == 0) {
      err += line.substr(10) + "\n";
    }
  }
  const ProcessResult result = RunProcess(EXE, args, CASES);
  EXPECT_EQ(result.exitCode, exit) << result.err;
  EXPECT_EQ(result.err, err);
  EXPECT_EQ(result.out, ReadFile(CASES + "/" + name + ".expected"));
}

INSTANTIATE_TEST_SUITE_P(Cli, Golden, ::testing::ValuesIn(GoldenNames()),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                           return param.param;
                         });

struct Refusal {
  std::size_t row;
  int exit;
  std::vector<std::string> args;
  std::string program;
  std::string err;
};

std::vector<Refusal> Refusals() {
  std::vector<Refusal> rows;
  std::size_t number = 0;
  for (const std::string& line : Split(ReadFile(CASES + "/refusals.tsv"), '\n')) {
    ++number;
    const std::vector<std::string> fields = Split(line, '\t');
    if (line[0] == '#' || fields.size() != 4) {
      continue;
    }
    rows.push_back({number, std::stoi(fields[0]), Split(fields[1], ' '), Unescape(fields[2], true),
                    Unescape(fields[3], false)});
  }
  return rows;
}

class Refused : public ::testing::TestWithParam<Refusal> {};

TEST_P(Refused, WithTheMessageAndStatus) {
  const Refusal& row = GetParam();
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/in.ngc", row.program);
  std::vector<std::string> args = {"in.ngc"};
  for (const std::string& arg : row.args) {
    args.push_back(arg.rfind("CASES/", 0) == 0 ? CASES + arg.substr(5) : arg);
  }
  const ProcessResult result = RunProcess(EXE, args, dir);
  std::remove((dir + "/in.ngc").c_str());
  std::remove(dir.c_str());
  EXPECT_EQ(result.exitCode, row.exit) << row.program;
  std::string err = row.err;
  for (std::size_t at = 0; (at = err.find("CASES/", at)) != std::string::npos;) {
    err.replace(at, 5, CASES);
    at += CASES.size();
  }
  EXPECT_EQ(result.err, err) << row.program;
  if (row.exit == 2) {
    EXPECT_EQ(result.out, "") << "nothing is written for a program with an input error";
  }
}

INSTANTIATE_TEST_SUITE_P(Cli, Refused, ::testing::ValuesIn(Refusals()),
                         [](const ::testing::TestParamInfo<Refusal>& param) {
                           return "row" + std::to_string(param.param.row);
                         });

}  // namespace
}  // namespace cutcomp::test
