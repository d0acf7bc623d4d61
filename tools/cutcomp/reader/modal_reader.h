// SPDX-License-Identifier: MIT
// The modal reader: follows the modal state of a program block by block, far enough to know,
// for every block, its motion in the plane of compensation and the compensation phase and side
// it belongs to. It works in stages over one parsed block: the words (codes sorted into their
// modal groups, conflicts refused), the modal settings, the motion, and the compensation state.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "block.h"
#include "block_source.h"
#include "codes.h"
#include "language.h"
#include "lathe_words.h"
#include "offset_list.h"
#include "tool_table.h"

namespace cutcomp::cli {

// The largest magnitude of a length the reader accepts, in program units: a position reached on
// any axis (a later plane may take it), an arc's centre and radius, the compensation radius.
// Far beyond any machine's travel; within it the engine's absolute tolerance (1e-6) stays above
// the rounding of a coordinate (1.2e-7 at 1e9), and every number written back stays short
// enough for a reader to take.
inline constexpr double MAX_LENGTH = 1e9;

struct ReaderOptions {
  std::optional<double> radius;  // --radius: overrides D; in the program's units
  const ToolTable* tools = nullptr;
  // The unit the tool table's diameters are written in; none: the program's units.
  std::optional<Units> toolUnits;
  // How far the two radii of an arc given by its centre may differ; none: the default rule
  // (0.1 % of the radius, at least 0.005 mm or 0.0005 in, at most 0.5 mm or 0.05 in).
  std::optional<double> arcTolerance;
  // The Fanuc-family lathe's conventions (X a diameter, U and W increments of X and Z, T0101 a
  // tool and its offset, G50 X Z a coordinate setting): never, from the first block that shows
  // them (LatheEvidence), or from the start.
  enum class Lathe { NEVER, RECOGNISED, ALWAYS } lathe = Lathe::NEVER;
  // The offset list T0101 takes its nose radius and tip from, and its name for messages.
  const lathe::OffsetList* offsets = nullptr;
  std::string offsetListName;
  // A block of plane coordinates only, in G0 or G1 mode, is read by a short path of its own;
  // off only to check that path against the general one.
  bool fastPath = true;
  // A Fanuc-family lathe's roughing cycles G71/G72 are written as the moves they make (for a
  // control without them) instead of as they are; `cycleRetract` is the lift after each pass
  // where the program does not give it (Haas's one-block form leaves it to a setting).
  bool expandCycles = false;
  std::optional<double> cycleRetract;
};

// The words of one block sorted for the stages that follow.
struct ParsedBlock {
  struct Code {
    CodeInfo info;
    Item* item;
  };
  std::vector<Code> codes;        // G and M codes in the order written
  std::array<Item*, 26> words{};  // every other word, by letter
  std::uint32_t letters = 0;      // those words' letters: bit 0 for A
  std::size_t axisCol = 0;        // of the first axis word (X Y Z A B C U V W), 0 for none
  Item* Word(char letter) const { return words[static_cast<std::size_t>(letter - 'A')]; }
  static std::uint32_t Bit(char letter) { return 1U << static_cast<unsigned>(letter - 'A'); }
  bool AxisWords() const { return axisCol != 0; }
  const Code* Find(CodeKind kind) const;
  const Code* Find(Group group) const;
  // Empty again, for the next block: only the letters in use are cleared, and the codes keep
  // their storage.
  void Clear();
};

// Stage 1: words into codes and single words, in `parsed` (cleared first). Throws InputError
// for a word given twice, a refused code and two codes that conflict (the message names both).
void ParseWords(SourceBlock& block, ParsedBlock& parsed);

// The reader's state after the last block it returned is what a program reads through the
// language layer's predefined parameters (#5420.., #<_metric>...): the layer evaluates a line
// only when the reader asks for it, after every block before it has been interpreted.
// Why a roughing cycle (G71, G72) is refused under nose radius compensation, with or without
// --expand-cycles: some controls rough the programmed profile, others its compensated path,
// and what a control does with the passes' in-feeds and retracts is its own.
std::string RoughingUnderCompensation(const std::string& cycle);

class ModalReader : public language::MachineState {
public:
  ModalReader(BlockSource& source, ReaderOptions options);
  // False at the end of the program; throws InputError.
  bool Next(Block& block);

  // MachineState: X, Y and Z in program coordinates when known (the other axes: never known),
  // the units, the distance mode, the tools and the current tool's diameter in program units.
  std::optional<double> Position(language::Axis axis) const override;
  bool Metric() const override { return m_Modal.units == Units::MM; }
  bool Incremental() const override { return m_Modal.incremental; }
  int CurrentTool() const override { return m_Modal.tool < 0 ? 0 : m_Modal.tool; }
  int SelectedTool() const override { return m_SelectedTool; }
  std::optional<double> ToolDiameter() const override;
  // The Fanuc-family system variables of the modal state: the groups the reader follows (1
  // motion, 2 plane, 3 distance, 5 feed mode, 6 units, 7 cutter compensation, 14 work
  // coordinates), the words D, F and T, and the radius offsets (geometry and wear) the program
  // or the tables give.
  std::optional<double> ModalGroup(int group) const override;
  std::optional<double> ModalWord(char letter) const override;
  std::optional<double> ToolOffset(language::OffsetKind kind, int number) const override;

  // The dialect the program is read in, as the language layer decides it (what G10 L10 and L11
  // set differs); unset: RS274/NGC.
  void FollowDialect(const language::DialectChoice* choice) { m_Dialect = choice; }

private:
  enum class Run { NONE, ESTABLISH_PENDING, DOING, CANCEL_PENDING };

  void Interpret(Block& block);
  bool PlainMove(Block& block);
  void ApplyModal(const ParsedBlock& parsed, Block& block);
  void ApplyCompensationWords(const ParsedBlock& parsed, Block& block);
  void CheckAllowed(const ParsedBlock& parsed, Block& block);
  void ApplyMotion(const ParsedBlock& parsed, Block& block);
  void ArcGeometry(const ParsedBlock& parsed, Block& block, std::size_t col);
  void AssignPhase(Block& block);
  double ResolveRadius(const ParsedBlock::Code& comp, const Item* d, Block& block, int& tool);
  Point ResolveTip(const ParsedBlock& parsed, const ParsedBlock::Code& comp, int tool,
                   double radius, Block& block);
  // A coordinate as the reader keeps it: X under G7 is a diameter, kept as a radius.
  double Kept(char letter, double value) const {
    return letter == 'X' && m_Modal.diameter ? value / 2.0 : value;
  }
  void SetToolRadius(const ParsedBlock& parsed, const ParsedBlock::Code& code, Block& block);
  const ToolRadiusEntry* TableEntry(int number, bool registerFirst) const;
  bool FanucFamily() const;
  double WearMm(int number, bool registerFirst) const;
  std::optional<double> ToolRadius(int number, bool registerFirst) const;
  double ToolScale() const;
  void LoseAxes(const ParsedBlock& parsed, bool allWithoutWords);
  [[noreturn]] void Fail(const Block& block, std::size_t col, const std::string& message) const;
  [[noreturn]] void BlockDeleteInRun(const Block& block) const;

  BlockSource& m_Source;
  ReaderOptions m_Options;
  ParsedBlock m_Parsed;  // the block being interpreted; kept to reuse its storage

  Modal m_Modal;
  Motion m_Motion = Motion::NONE;
  std::string m_OtherMotion;  // the code that set an OTHER motion mode (a cycle, an unknown code)
  // A Fanuc-family lathe's straight move with a chamfer (C) or corner round (R) the control adds
  // toward the next move, outside compensation: the word and its line, until the next move.
  std::string m_CornerWord;
  bool m_CycleMode = false;       // that code is a drilling cycle: it ends above its last hole
  std::array<double, 3> m_Pos{};  // X, Y, Z
  std::array<bool, 3> m_Known{};
  std::string m_PositionLostBy;  // the code that last made the position unknown
  std::string m_Transform;       // a coordinate transformation in force, described
  int m_SelectedTool = -1;
  int m_ModalD = -1;  // the offset the last D word named (-1: none yet)
  // Radii the program gave its tools (G10 L1, L10, L11: the tool's radius; G10 L12: the radius
  // of an offset) and the wear it added (G10 L13), in millimetres: they stand before the tool
  // table's diameter for every later D or tool change.
  std::map<int, double> m_SetRadius;
  std::map<int, double> m_Wear;
  const language::DialectChoice* m_Dialect = nullptr;

  Run m_Run = Run::NONE;
  crc::crc_dir_t m_Side = crc::CRC_DIR_NONE;
  double m_CompRadius = 0.0;
  void FollowLathe(const ParsedBlock& parsed, Block& block);
  void SkipProfileBlock(const ParsedBlock& parsed, Block& block);
  bool ExpandRoughingCycle(SourceBlock& source);
  void CornerWords(const ParsedBlock& parsed, const Block& b);
  bool NextSource(SourceBlock& source);
  void Keep(const SourceBlock& source);
  void Finish(SourceBlock& source);
  const lathe::LatheOffset* SelectedOffset(const ParsedBlock::Code& comp, const Block& block) const;

  bool m_FanucLathe = false;                  // the Fanuc-family lathe's conventions are in force
  std::vector<lathe::WordView> m_LatheWords;  // a block's words, looked at for lathe evidence
  bool m_PlaneGiven = false;                  // the program chose a plane
  // An X word was read as a radius: a program recognised as a lathe's afterwards is refused.
  bool m_XReadAsRadius = false;
  int m_Offset = -1;         // selected by Tttoo (0: none, -1: no such word yet)
  std::string m_OffsetWord;  // "T0101"
  // A Fanuc-family lathe's profile cycles. The blocks read lately (the profile G70 finishes is
  // written before it), and those a G70 runs again, its return to the start point last.
  std::deque<SourceBlock> m_Kept;
  std::deque<SourceBlock> m_Replay;
  bool m_CycleReturn = false;  // the block read is a G70's return to its start point
  // After G71 or G72 P<ns> Q<nf> the control runs the profile's blocks only inside the cycle and
  // carries on after N<nf> from the cycle's start point: those blocks are written as they are
  // and move nothing here. The block numbers, and whether N<ns> has been read.
  std::optional<std::pair<double, double>> m_Profile;
  bool m_InProfile = false;
  // The depth of cut and retract the two-block form's first block gave G71 [0] and G72 [1]
  // (they hold until given again, as the control's parameters do).
  std::array<std::optional<double>, 2> m_RoughDepth;
  std::array<std::optional<double>, 2> m_RoughRetract;
  Point m_Tip;  // of the run in progress: from the nose centre to the controlled point
  // The program turns (G7, the Fanuc-family lathe's conventions, or a tool table with tip
  // directions): a compensated tool without a tip direction is said.
  bool m_Lathe = false;
};

}  // namespace cutcomp::cli
