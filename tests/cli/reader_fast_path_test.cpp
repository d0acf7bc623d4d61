// SPDX-License-Identifier: MIT
// The modal reader's short path for blocks of plane coordinates only, checked against its
// general stages on random programs: every block must come out the same, every refusal with the
// same message, and the position a program reads back must agree after each block.
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "language.h"
#include "modal_reader.h"

namespace cutcomp::cli {
namespace {

// Hands out a list of lines, one block each, as a flat program's lines come.
class Lines : public BlockSource {
public:
  explicit Lines(const std::vector<std::string>& lines) : m_Lines(lines) {}
  bool Next(SourceBlock& block) override {
    if (m_Next == m_Lines.size()) {
      return false;
    }
    block.text = m_Lines[m_Next++];
    block.where.line = m_Next;
    block.items = language::TokenizePlain(block.text, m_Next, block.blockDelete);
    return true;
  }

private:
  const std::vector<std::string>& m_Lines;
  std::size_t m_Next = 0;
};

// What a block came out as, every field written out; the refusal's message when refused.
std::string Outcome(ModalReader& reader, Block& block) {
  std::string out;
  try {
    if (!reader.Next(block)) {
      return "end";
    }
  } catch (const InputError& error) {
    return std::string("refused: ") + error.what();
  }
  const auto num = [&out](double value) { out += std::to_string(value) + ' '; };
  const BlockMeaning& b = block;
  for (double value : {b.start.x, b.start.y, b.end.x, b.end.y, b.centre.x, b.centre.y, b.radius,
                       b.height, b.heightChange, b.compRadius, b.modal.feed}) {
    num(value);
  }
  for (int value : {int(b.motion),
                    int(b.explicitMotionWord),
                    int(b.modalMotion),
                    int(b.planeMotion),
                    int(b.zeroMove),
                    int(b.otherAxes),
                    int(b.startKnown),
                    int(b.endKnown),
                    int(b.fullCircle),
                    int(b.heightKnown),
                    int(b.phase),
                    int(b.side),
                    int(b.endsRun),
                    int(b.programEnd),
                    int(b.modal.units),
                    int(b.modal.incremental),
                    int(b.modal.plane),
                    b.modal.tool,
                    b.modal.coordSystem,
                    int(b.letters),
                    int(b.machineCoordinates),
                    int(b.home),
                    int(b.shift),
                    int(b.offsetSetting),
                    int(b.newCoordSystem)}) {
    out += std::to_string(value);
  }
  for (const Item& item : block.source.items) {
    out += std::to_string(int(item.role));
  }
  for (language::Axis axis : {language::Axis::X, language::Axis::Y, language::Axis::Z}) {
    const std::optional<double> at = reader.Position(axis);
    out += at ? ' ' + std::to_string(*at) : std::string(" ?");
  }
  return out;
}

TEST(ReaderFastPath, AgreesWithTheGeneralStages) {
  const std::vector<std::string> words = {
      "X1",  "X-2.5",    "Y3",       "Y0",  "Z-1",    "X-1000000001", "Z2000000000", "G0",    "G1",
      "G2",  "G3",       "I1",       "R2",  "G17",    "G18",          "G19",         "G90",   "G91",
      "G40", "G41.1 D2", "G42.1 D0", "G28", "G53 X0", "F100",         "(c)",         "X1 X2", "G20",
      "G21", "A1",       "M2",       "K1",  "J-1",    "G81 R1",       "G80"};
  std::mt19937 random(1206);
  int plain = 0;
  for (int program = 0; program < 3000; ++program) {
    // A motion mode first, from a known position or not, most of the time.
    std::vector<std::string> lines = {std::vector<std::string>{"G1 X0 Y0 Z0", "G0 X1", "G91 G1",
                                                               "G18 G1 X1 Z1", "F1"}[random() % 5]};
    for (int n = 0; n < 12; ++n) {
      // Half the lines plane words only (the first seven words), as most lines of programs.
      const std::size_t choice = random() % 2 == 0 ? 7 : words.size();
      std::string line;
      for (int k = 1 + static_cast<int>(random() % 3); k > 0; --k) {
        line += (line.empty() ? "" : " ") + words[random() % choice];
      }
      lines.push_back(line);
    }
    Lines fastLines(lines);
    Lines generalLines(lines);
    ReaderOptions general;
    general.fastPath = false;
    ModalReader fast(fastLines, ReaderOptions{});
    ModalReader slow(generalLines, general);
    Block a;
    Block b;
    for (const std::string& line : lines) {
      const std::string one = Outcome(fast, a);
      ASSERT_EQ(one, Outcome(slow, b)) << "program " << program << " at '" << line << "'";
      if (one.rfind("refused", 0) == 0) {
        break;
      }
      plain += line.find_first_not_of("XYZ0123456789.- ") == std::string::npos;
    }
  }
  EXPECT_GT(plain, 1000);  // enough blocks of plane words only to have checked the short path
}

}  // namespace
}  // namespace cutcomp::cli
