// SPDX-License-Identifier: MIT
// The options are defined once: every option of the command line has its row in the keyword
// table the Python module builds its arguments from, and each row's default is the one the
// option shows (tests/python holds the module's signature to the same rows).
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli_options.h"

namespace cutcomp::test {
namespace {

std::string Unquoted(const std::string& literal) {
  return literal.size() >= 2 && literal.front() == '\'' ? literal.substr(1, literal.size() - 2)
                                                        : literal;
}

TEST(Options, EveryOptionHasItsKeywordRowWithTheDefaultItShows) {
  cli::CommandLine line;
  CLI::App app;
  cli::DefineOptions(app, line);
  std::set<std::string> rows;
  for (const cli::OptionKeyword& row : cli::OptionKeywords()) {
    rows.insert(row.flag);
    const CLI::Option* option = app.get_option_no_throw(row.flag);
    ASSERT_NE(option, nullptr) << row.flag << " is in the table but not on the command line";
    if (row.keyword == nullptr) {
      continue;
    }
    const std::string literal = row.pythonDefault;
    SCOPED_TRACE(row.flag);
    if (row.kind == cli::OptionKeyword::FLAG) {
      EXPECT_EQ(option->get_expected_max(), 0);
      EXPECT_EQ(literal, "False");  // a flag the keyword sets
    } else if (row.kind == cli::OptionKeyword::NEGATED) {
      EXPECT_EQ(option->get_expected_max(), 0);
      EXPECT_EQ(literal, "True");  // a flag the keyword clears
    } else if (!option->get_default_str().empty()) {
      EXPECT_EQ(Unquoted(literal), option->get_default_str());
    } else if (literal != "None" && literal != "''" && literal != "True") {
      // A default the help names in words.
      EXPECT_NE(option->get_description().find("default " + literal), std::string::npos);
    }
  }
  for (const CLI::Option* option : app.get_options()) {
    const std::string name = option->get_name();
    if (name == "--help" || !option->nonpositional()) {
      continue;
    }
    EXPECT_EQ(rows.count("--" + option->get_lnames().front()), 1U)
        << name << " is on the command line but not in the keyword table";
  }
}

TEST(Options, ArgumentsParseIntoTheOptionsAndWrongOnesAreRefused) {
  cli::CommandLine line;
  EXPECT_EQ(cli::ParseArguments(
                {"--radius=-1.5", "--no-fit", "--end=line", "--strict-interference", "--no-verify"},
                line),
            std::nullopt);
  EXPECT_EQ(line.options.radius, -1.5);
  EXPECT_FALSE(line.options.fit);
  EXPECT_EQ(line.options.end, cli::RunEnd::LINE);
  EXPECT_FALSE(line.options.camTolerance || line.options.closureTolerance || line.options.verify);
  cli::CommandLine wrong;
  EXPECT_NE(cli::ParseArguments({"--no-fit", "--fit=0.01"}, wrong), std::nullopt);
  EXPECT_NE(cli::ParseArguments({"--precision=12"}, wrong), std::nullopt);
}

// What the whole run gives, to compare two settings by.
std::string Outcome(const std::string& path, const cli::Options& options) {
  cli::Program program;
  program.name = path;
  cli::Capture capture;
  capture.program = true;
  capture.json = true;
  const cli::Result result = cli::Run(program, options, capture);
  std::string outcome = std::to_string(static_cast<int>(result.status)) + "\n" +
                        result.program.value_or("-") + result.json.value_or("-");
  for (const cli::Diagnostic& diagnostic : result.diagnostics) {
    outcome += cli::FormatDiagnostic(diagnostic);
  }
  return outcome;
}

// A default the table gives (and the help shows) is the one the options hold: giving it changes
// nothing on any example.
TEST(Options, GivingADefaultChangesNothing) {
  const std::string table = std::string(CUTCOMP_EXAMPLES) + "/tools.tbl";
  std::vector<std::string> examples;
  for (const auto& entry : std::filesystem::directory_iterator(CUTCOMP_EXAMPLES)) {
    if (entry.path().extension() == ".ngc") {
      examples.push_back(entry.path().string());
    }
  }
  ASSERT_GE(examples.size(), 5U);
  cli::CommandLine none;
  ASSERT_EQ(cli::ParseArguments({"--tool-table=" + table}, none), std::nullopt);
  std::vector<std::string> outcomes;
  for (const std::string& example : examples) {
    outcomes.push_back(Outcome(example, none.options));
  }
  std::size_t given = 0;
  for (const cli::OptionKeyword& row : cli::OptionKeywords()) {
    const std::string literal = row.pythonDefault != nullptr ? row.pythonDefault : "None";
    if (row.kind != cli::OptionKeyword::VALUE || literal == "None" || literal == "''" ||
        literal == "True") {
      continue;
    }
    SCOPED_TRACE(row.flag);
    cli::CommandLine line;
    ASSERT_EQ(cli::ParseArguments(
                  {"--tool-table=" + table, std::string(row.flag) + "=" + Unquoted(literal)}, line),
              std::nullopt);
    for (std::size_t i = 0; i < examples.size(); ++i) {
      EXPECT_EQ(Outcome(examples[i], line.options), outcomes[i]) << examples[i];
    }
    ++given;
  }
  EXPECT_GE(given, 3U);
}

// The result's record is the JSON record's segments, piece for piece.
TEST(Run, TheRecordKeptIsTheRecordWritten) {
  cli::Program program;
  program.name = std::string(CUTCOMP_EXAMPLES) + "/pocket_sub.ngc";
  cli::Options options;
  options.toolTable = std::string(CUTCOMP_EXAMPLES) + "/tools.tbl";
  options.start = crc::CRC_TYPE_INSERT;  // lines inserted beside the programmed ones
  cli::Capture capture;
  capture.program = capture.json = capture.record = true;
  const cli::Result result = cli::Run(program, options, capture);
  ASSERT_EQ(result.status, cli::Status::OK);
  ASSERT_TRUE(result.json);
  const nlohmann::json segments = nlohmann::json::parse(*result.json).at("segments");
  ASSERT_EQ(result.record.size(), segments.size());
  ASSERT_GT(segments.size(), 10U);
  std::size_t inserted = 0;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    EXPECT_EQ(result.record[i].line, segments[i].at("line").get<std::size_t>()) << i;
    EXPECT_EQ(result.record[i].file, segments[i].value("file", std::string())) << i;
    EXPECT_EQ(result.record[i].piece.inserted, segments[i].at("inserted").get<bool>()) << i;
    inserted += result.record[i].piece.inserted ? 1 : 0;
  }
  EXPECT_GT(inserted, 0U);
  // Kept alone, with no report asking for the pieces, the record is the same.
  cli::Capture alone;
  alone.record = true;
  const cli::Result kept = cli::Run(program, options, alone);
  ASSERT_EQ(kept.record.size(), result.record.size());
  for (std::size_t i = 0; i < kept.record.size(); ++i) {
    EXPECT_EQ(kept.record[i].line, result.record[i].line) << i;
    EXPECT_EQ(kept.record[i].piece.tool.to.x, result.record[i].piece.tool.to.x) << i;
    EXPECT_EQ(kept.record[i].piece.tool.to.y, result.record[i].piece.tool.to.y) << i;
  }
}

}  // namespace
}  // namespace cutcomp::test
