// SPDX-License-Identifier: MIT
// Where the written program leaves the tool: rows of programs read as the tool reads them and
// driven through the written machine in the order the driver drives it (rows/written_machine.json).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "program_reader.h"
#include "written_machine.h"

namespace cutcomp::test {
namespace {

using Json = nlohmann::json;

std::vector<cli::Block> Read(const std::string& text) {
  std::FILE* file = fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
  EXPECT_NE(file, nullptr);
  std::vector<cli::Block> blocks;
  {
    cli::ProgramReader reader(file, {}, {});
    cli::Block block;
    while (reader.Next(block)) {
      blocks.push_back(block);
    }
  }
  std::fclose(file);
  return blocks;
}

// One block outside compensation, as the driver writes it; how it was written.
std::string Pass(cli::WrittenMachine& machine, const cli::Block& block) {
  machine.NoteFrame(block);
  machine.Follow(block);
  const cli::WrittenMachine::Passage passage = machine.PlanPassthrough(block);
  std::string kind = "as_is";
  if (passage.kind == cli::WrittenMachine::Passage::REWRITTEN) {
    machine.Replace(block, passage.line);
    kind = "rewritten";
  } else {
    if (passage.kind == cli::WrittenMachine::Passage::AFTER_LINE) {
      machine.Insert(block.start);
      kind = "after_line";
    }
    machine.Pass(block);
  }
  machine.NoteHeight(block);
  return kind;
}

TEST(WrittenMachine, WhereTheWrittenToolStands) {
  std::ifstream in(CUTCOMP_ROWS "/written_machine.json");
  ASSERT_TRUE(in) << CUTCOMP_ROWS;
  const Json table = Json::parse(in);
  for (const Json& row : table.at("rows")) {
    SCOPED_TRACE(row.at("name").get<std::string>());
    std::string text = row.at("run").get<std::string>() + "\n";
    for (const Json& line : row.at("program")) {
      text += line.get<std::string>() + "\n";
    }
    const std::vector<cli::Block> blocks = Read(text);
    ASSERT_EQ(blocks.size(), row.at("program").size() + 1);
    cli::WrittenMachine machine(std::nullopt);
    // The run's last move, ending beside the contour rather than where programmed.
    const cli::Block& run = blocks.front();
    machine.Follow(run);
    cutcomp::Curve piece;
    piece.from = run.start;
    piece.to = {row.at("left")[0].get<double>(), row.at("left")[1].get<double>()};
    machine.Replace(run, piece);
    machine.NoteHeight(run);
    for (std::size_t i = 1; i < blocks.size(); ++i) {
      const Json& expect = row.at("expect")[i - 1];
      SCOPED_TRACE(row.at("program")[i - 1].get<std::string>());
      EXPECT_EQ(Pass(machine, blocks[i]), expect[0].get<std::string>());
      if (expect[1].is_null()) {
        EXPECT_FALSE(machine.Known());
      } else {
        ASSERT_TRUE(machine.Known());
        EXPECT_NEAR(machine.Position().x, expect[1][0].get<double>(), 1e-9);
        EXPECT_NEAR(machine.Position().y, expect[1][1].get<double>(), 1e-9);
      }
      if (expect.size() > 2) {
        EXPECT_EQ(machine.Frame(), expect[2].get<std::uint64_t>());
      }
    }
  }
}

}  // namespace
}  // namespace cutcomp::test
