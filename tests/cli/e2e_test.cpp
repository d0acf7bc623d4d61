// SPDX-License-Identifier: MIT
// What only a process of the cutcomp executable shows: the record and picture of a failure,
// help, version and usage errors, standard input, outputs that cannot be written, and hostile
// files. The programs' own behaviour is data (cases_test.cpp).
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "run_process.h"

namespace cutcomp::test {
namespace {

const std::string EXE = CUTCOMP_EXE;
const std::string EXAMPLES = CUTCOMP_EXAMPLES;

TEST(Process, AFailureIsMarkedInTheRecordAndThePicture) {
  const std::string dir = MakeTempDir();
  const ProcessResult run =
      RunProcess(EXE,
                 {"slot_too_narrow.ngc", "--tool-table", "tools.tbl", "-o", "/dev/null", "--json",
                  dir + "/r.json", "--svg", dir + "/r.svg"},
                 EXAMPLES);
  const auto record = nlohmann::json::parse(ReadFile(dir + "/r.json"), nullptr, false);
  const std::string svg = ReadFile(dir + "/r.svg");
  std::remove((dir + "/r.json").c_str());
  std::remove((dir + "/r.svg").c_str());
  std::remove(dir.c_str());
  EXPECT_EQ(run.exitCode, 1);
  ASSERT_FALSE(record.is_discarded());
  EXPECT_EQ(record.at("error").at("line"), 11);
  EXPECT_EQ(record.at("error").at("code"), 5);
  EXPECT_FALSE(record.at("error").at("engine_message").get<std::string>().empty());
  EXPECT_NE(svg.find("class=\"errseg\""), std::string::npos);
}

// A crossing further back than the look-behind list: the program's target keeps what it held,
// the record and the picture show the gouges; --allow-gouge writes the program.
TEST(Process, AGougeLeavesTheTargetAsItWasAndIsMarkedInTheReports) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/loop.ngc",
            "G0 X-2 Y1\nG41 G1 X0 Y0 F100\nX10\nY2\nY4\nY6\nX8\nX6\nX5\nY-4\nG40 X8 Y-6\n");
  WriteFile(dir + "/out.ngc", "kept\n");
  const std::vector<std::string> args = {dir + "/loop.ngc", "--radius", "0.5",           "-o",
                                         dir + "/out.ngc",  "--json",   dir + "/r.json", "--svg",
                                         dir + "/r.svg"};
  const ProcessResult refused = RunProcess(EXE, args);
  const std::string kept = ReadFile(dir + "/out.ngc");
  const auto record = nlohmann::json::parse(ReadFile(dir + "/r.json"), nullptr, false);
  const std::string svg = ReadFile(dir + "/r.svg");
  std::vector<std::string> allowing = args;
  allowing.emplace_back("--allow-gouge");
  const ProcessResult allowed = RunProcess(EXE, allowing);
  const std::string written = ReadFile(dir + "/out.ngc");
  for (const char* name : {"/loop.ngc", "/out.ngc", "/r.json", "/r.svg"}) {
    std::remove((dir + name).c_str());
  }
  std::remove(dir.c_str());
  EXPECT_EQ(refused.exitCode, 3);
  EXPECT_EQ(kept, "kept\n");
  ASSERT_FALSE(record.is_discarded());
  ASSERT_EQ(record.at("gouges").size(), 2U);
  EXPECT_EQ(record.at("gouges").at(0).at("line"), 3);
  EXPECT_EQ(record.at("gouges").at(0).at("against_line"), 10);
  EXPECT_NEAR(record.at("gouges").at(0).at("depth").get<double>(), 0.5, 1e-9);
  EXPECT_EQ(record.at("error"), nullptr);
  EXPECT_NE(svg.find("<circle class=\"gouge\""), std::string::npos);
  EXPECT_EQ(allowed.exitCode, 3);
  EXPECT_NE(written.find("G1 X9.5 Y0.5"), std::string::npos);
}

// The page written alone draws the whole path: a piece for every piece of the record.
TEST(Process, TheHtmlPageAloneHoldsEveryPiece) {
  const std::string dir = MakeTempDir();
  const std::vector<std::string> args = {"bracket.ngc", "--tool-table", "tools.tbl", "-o",
                                         "/dev/null"};
  std::vector<std::string> page = args;
  page.insert(page.end(), {"--html", dir + "/r.html"});
  std::vector<std::string> json = args;
  json.insert(json.end(), {"--json", dir + "/r.json"});
  const ProcessResult alone = RunProcess(EXE, page, EXAMPLES);
  const ProcessResult recorded = RunProcess(EXE, json, EXAMPLES);
  const std::string html = ReadFile(dir + "/r.html");
  const auto record = nlohmann::json::parse(ReadFile(dir + "/r.json"), nullptr, false);
  std::remove((dir + "/r.html").c_str());
  std::remove((dir + "/r.json").c_str());
  std::remove(dir.c_str());
  EXPECT_EQ(alone.exitCode, 0) << alone.err;
  EXPECT_EQ(recorded.exitCode, 0) << recorded.err;
  ASSERT_FALSE(record.is_discarded());
  std::size_t pieces = 0;
  for (std::size_t at = 0; (at = html.find("\"item\":\"piece\"", at)) != std::string::npos; ++at) {
    ++pieces;
  }
  EXPECT_GT(pieces, 0U);
  EXPECT_EQ(pieces, record.at("segments").size());
}

TEST(Process, HelpVersionAndUsageErrors) {
  const ProcessResult help = RunProcess(EXE, {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* text :
       {"--output", "--svg", "--json", "--html", "--tool-table", "--tool-units", "--radius",
        "--arc-tolerance", "--start", "--look-behind", "--evade", "--end", "--locate-rapids",
        "--precision", "--verbose", "--subroutine-path", "--max-blocks", "--trace-source",
        "program's units"}) {
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
  }
  const ProcessResult version = RunProcess(EXE, {"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("cutcomp ", 0), 0u);
  EXPECT_EQ(RunProcess(EXE, {"x.ngc", "--no-such-option"}).exitCode, 2);
  EXPECT_EQ(RunProcess(EXE, {"x.ngc", "--precision", "12"}).exitCode, 2);
  const ProcessResult missing = RunProcess(EXE, {"/no/such/program.ngc"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_EQ(missing.err, "/no/such/program.ngc: error: cannot open: No such file or directory\n");
  // A file that opens but cannot be read is no empty program.
  const ProcessResult unreadable = RunProcess(EXE, {EXAMPLES});
  EXPECT_EQ(unreadable.exitCode, 2);
  EXPECT_EQ(unreadable.err, EXAMPLES + ":1: error: cannot read: Is a directory\n");
}

TEST(Process, ReadsStandardInputLikeAFile) {
  const std::string program = EXAMPLES + "/bracket.ngc";
  const ProcessResult file = RunProcess(EXE, {program, "--radius", "2"});
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--radius", "2"},
                                               std::vector<std::string>{"-", "--radius", "2"}}) {
    const ProcessResult piped = RunProcess(EXE, args, "", program);
    EXPECT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(piped.out, file.out);
  }
  const ProcessResult bad = RunProcess(EXE, {}, "", std::string(CUTCOMP_CASES) + "/refusals.tsv");
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_EQ(bad.err.rfind("<stdin>:1:", 0), 0u) << bad.err;
}

// A called subroutine's file is looked for beside the program, wherever the tool runs; read
// from standard input, the program stands in the current directory.
TEST(Process, FindsSubroutineFilesBesideTheProgram) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/main.ngc", "G0 X0 Y0\no<side> call [3]\nM2\n");
  WriteFile(dir + "/side.ngc", "o<side> sub\nG1 X#1 F100\no<side> endsub\n");
  const ProcessResult file = RunProcess(EXE, {dir + "/main.ngc", "--json", dir + "/r.json"}, "/");
  const auto record = nlohmann::json::parse(ReadFile(dir + "/r.json"), nullptr, false);
  const ProcessResult piped = RunProcess(EXE, {}, dir, dir + "/main.ngc");
  for (const char* name : {"/main.ngc", "/side.ngc", "/r.json"}) {
    std::remove((dir + name).c_str());
  }
  std::remove(dir.c_str());
  EXPECT_EQ(file.exitCode, 0) << file.err;
  EXPECT_EQ(file.out, "G0 X0 Y0\nG1 X3 F100\nM2\n");
  ASSERT_FALSE(record.is_discarded());
  EXPECT_EQ(record.at("segments").at(0).at("file"), dir + "/side.ngc");
  EXPECT_EQ(piped.exitCode, 0) << piped.err;
  EXPECT_EQ(piped.out, file.out);
}

TEST(Process, AnOutputThatCannotBeWrittenIsAnError) {
  const std::string program = EXAMPLES + "/bracket.ngc";
  for (const std::string option : {"-o", "--json", "--svg", "--html"}) {
    std::vector<std::string> args = {program, "--radius", "2", option, "/dev/full"};
    if (option != "-o") {
      args.insert(args.end(), {"-o", "/dev/null"});
    }
    const ProcessResult result = RunProcess(EXE, args);
    EXPECT_EQ(result.exitCode, 2) << option;
    EXPECT_EQ(result.err, "/dev/full: error: writing failed: No space left on device\n") << option;
  }
  EXPECT_EQ(RunProcess(EXE, {program, "--radius", "2", "--json", "/no/dir/x.json"}).exitCode, 2);
}

TEST(Process, BinaryGarbageAndAHugeLine) {
  const std::string dir = MakeTempDir();
  std::mt19937 random(12345);
  std::string garbage(1 << 16, '\0');
  for (char& c : garbage) {
    c = static_cast<char>(random() & 0xff);
  }
  WriteFile(dir + "/garbage.ngc", garbage);
  // A 50 MB line is refused after reading 64 KiB of it.
  {  // written in pieces: a 50 MB string here would count in the child's resident set
    std::ofstream huge(dir + "/huge.ngc", std::ios::binary);
    const std::string chunk(1 << 20, 'x');
    huge << "G0 X0 Y0\n(";
    for (int k = 0; k < 50; ++k) {
      huge << chunk;
    }
    huge << ")\n";
  }
  const ProcessResult binary = RunProcess(EXE, {"garbage.ngc"}, dir);
  const ProcessResult huge = RunProcess(EXE, {"huge.ngc"}, dir);
  std::remove((dir + "/garbage.ngc").c_str());
  std::remove((dir + "/huge.ngc").c_str());
  std::remove(dir.c_str());
  EXPECT_EQ(binary.exitCode, 2);
  EXPECT_EQ(binary.err.rfind("garbage.ngc:", 0), 0u) << binary.err;
  EXPECT_EQ(binary.out, "");
  EXPECT_EQ(huge.exitCode, 2);
  EXPECT_EQ(huge.err, "huge.ngc:2:65537: error: line is longer than 65536 characters\n");
  EXPECT_LT(huge.peakRssKiB, 40 * 1024) << "the line must not be read whole";
}

}  // namespace
}  // namespace cutcomp::test
