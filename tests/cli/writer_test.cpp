// SPDX-License-Identifier: MIT
// The G-code writer: number format, what is kept and removed from a block, and how the written
// program's position and motion mode stay consistent after lines it added.
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gcode_reader.h"
#include "gcode_writer.h"

namespace cutcomp::cli {
namespace {

std::vector<Block> Read(const std::string& program) {
  std::FILE* file = std::tmpfile();
  std::fputs(program.c_str(), file);
  std::rewind(file);
  ReaderOptions options;
  options.radius = 1.0;
  GcodeReader reader(file, options);
  std::vector<Block> blocks;
  Block block;
  while (reader.Next(block)) {
    blocks.push_back(block);
  }
  std::fclose(file);
  return blocks;
}

// Collects what a GcodeWriter writes.
class Capture {
public:
  Capture() : m_File(std::tmpfile()) {}
  ~Capture() { std::fclose(m_File); }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;
  std::FILE* File() { return m_File; }
  std::string Text() {
    std::fflush(m_File);
    std::rewind(m_File);
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, m_File)) > 0) {
      text.append(buffer, n);
    }
    return text;
  }

private:
  std::FILE* m_File;
};

TEST(FormatNumber, TrimsZerosAndNegativeZero) {
  EXPECT_EQ(FormatNumber(10.0, 3), "10");
  EXPECT_EQ(FormatNumber(-0.5, 3), "-0.5");
  EXPECT_EQ(FormatNumber(-0.0001, 3), "0");
  EXPECT_EQ(FormatNumber(1.23456, 4), "1.2346");
  EXPECT_EQ(FormatNumber(1.9999996, 6), "2");
  EXPECT_EQ(FormatNumber(120.0, 0), "120");
}

TEST(GcodeWriter, KeepsWordsCommentsAndLineNumbers) {
  const std::vector<Block> blocks = Read(
      "N5 G17 G40 G90 G0 X-1 Y-1 (setup)\n/N6 G41 D3 G1 X0 Y0 F300 S1000 M3 ;start\nN7 x10\n\n");
  Capture out;
  GcodeWriter writer(out.File(), std::nullopt);
  writer.Passthrough(blocks[0]);
  ToolMove move;
  move.motion = 1;
  move.end = {0.25, 1.0};
  writer.Replaced(blocks[1], move);
  move.end = {10.0, 1.0};
  writer.Replaced(blocks[2], move);
  writer.Passthrough(blocks[3]);
  EXPECT_EQ(out.Text(),
            "N5 G17 G90 G0 X-1 Y-1 (setup)\n"
            "/N6 G1 X0.25 Y1 F300 S1000 M3 ;start\n"
            "N7 G1 X10 Y1\n"
            "\n");
}

TEST(GcodeWriter, UnchangedBlocksAreCopiedAndEmptiedOnesDropped) {
  const std::vector<Block> blocks = Read("G0X1   Y2 (as written)\nG40\n");
  Capture out;
  GcodeWriter writer(out.File(), std::nullopt);
  writer.Passthrough(blocks[0]);
  writer.Passthrough(blocks[1]);
  EXPECT_EQ(out.Text(), "G0X1   Y2 (as written)\n");
}

TEST(GcodeWriter, ArcsIncrementalCoordinatesAndPrecision) {
  const std::vector<Block> blocks =
      Read("G0 X0 Y0\nG91 G41 G3 X10 Y10 I0 J10\nG90.1 G2 X0 Y0 I5 J5\n");
  Capture out;
  GcodeWriter writer(out.File(), 2);
  writer.Passthrough(blocks[0]);
  ToolMove arc;
  arc.motion = 3;
  arc.start = {0.0, 0.0};
  arc.end = {10.004, 9.996};
  arc.center = {0.0, 10.0};
  writer.Replaced(blocks[1], arc);
  // Increments are differences of written values: 10.004 is written as 10, so the next
  // increment starts from 10.
  arc.motion = 2;
  arc.start = arc.end;
  arc.end = {20.006, 20.0};
  arc.center = {15.0, 15.0};
  writer.Replaced(blocks[2], arc);
  EXPECT_EQ(out.Text(),
            "G0 X0 Y0\n"
            "G91 G3 X10 Y10 I0 J10\n"
            "G90.1 G2 X10.01 Y10 I15 J15\n");
}

TEST(GcodeWriter, ModalMotionIsRestoredAfterInsertedLines) {
  const std::vector<Block> blocks = Read("G0 X0 Y0\nG41 X5 Y0\nZ-1\nX0 Y5\n");
  Capture out;
  GcodeWriter writer(out.File(), std::nullopt);
  writer.Passthrough(blocks[0]);
  writer.Inserted(blocks[1], {0.0, 1.0});  // e.g. an approach line: the output is now in G1
  writer.Stripped(blocks[2], nullptr);     // a Z move that relied on G0 gets its G0 back
  writer.Passthrough(blocks[3]);           // already in G0 again: copied as written
  EXPECT_EQ(out.Text(), "G0 X0 Y0\nG1 X0 Y1\nG0 Z-1\nX0 Y5\n");
}

TEST(GcodeWriter, StrippedBlocksLoseOnlyTheirPlaneWords) {
  const std::vector<Block> blocks =
      Read("G0 X0 Y0\nG1 X5 Y0 Z-1 F100\nG3 X0 Y5 I-5 J0 Z-2\nG1 X1 Y1 M8\nG1 F50\n");
  Capture out;
  GcodeWriter writer(out.File(), std::nullopt);
  writer.Passthrough(blocks[0]);
  writer.Stripped(blocks[1], nullptr);
  writer.Stripped(blocks[2], "dropped");
  writer.Stripped(blocks[3], nullptr);
  writer.Stripped(blocks[4], nullptr);
  EXPECT_EQ(out.Text(),
            "G0 X0 Y0\n"
            "G1 Z-1 F100\n"
            "G1 Z-2 (dropped)\n"
            "M8\n"
            "G1 F50\n");
}

}  // namespace
}  // namespace cutcomp::cli
