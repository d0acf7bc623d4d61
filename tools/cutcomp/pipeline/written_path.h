// SPDX-License-Identifier: MIT
// The output side of the run: every block read and every piece of tool path the engine makes
// final, turned into the lines of the written program. Each line is one event (writer.h) handed
// to every writer the run opened (outputs.h), with the piece it draws when it moves the tool.
// Blocks outside compensation come as they are read; inside a run they come in the run's order
// (run_order.h). Where the written program's tool stands is the written machine's to say.
#pragma once

#include <string>
#include <vector>

#include "audit_stage.h"
#include "block.h"
#include "messages.h"
#include "outputs.h"
#include "reading.h"
#include "run_order.h"
#include "tool_path.h"
#include "writer.h"
#include "written_machine.h"

namespace cutcomp::cli {

// What a segment the engine's evasion drops says in the written program.
inline constexpr const char* DROPPED_TOO_SHORT =
    "cutcomp: segment dropped from the tool path, too short for the cutter";

// A warning about a block, said at the place it was read.
void WarnAbout(Messages& messages, const Reading& reading, const Block& block,
               const std::string& message);

class WrittenPath : public RunOrder::Sink {
public:
  WrittenPath(const Options& options, Outputs& outputs, Messages& messages, const Reading& reading)
      : m_Outputs(outputs),
        m_Messages(messages),
        m_Reading(reading),
        m_Machine(options.precision) {}

  // The audit that notes every piece drawn (none with --no-verify).
  void Audit(AuditStage* audit) { m_Audit = audit; }
  // Where the written program has the tool, its height and the work frame.
  WrittenMachine& Machine() { return m_Machine; }
  // What a segment written without its motion says in the program: why the path leaves it out.
  void DropComment(const char* comment) { m_DropComment = comment; }

  // A block outside compensation.
  void Passthrough(const Block& block);

  void PlainBlock(const Block& block) override;
  void Segment(const Block& block, cutcomp::PathPiece& piece,
               const std::vector<const Block*>& chords) override;
  void Inserted(const Block& anchor, cutcomp::PathPiece& piece) override;
  void Closing(const Block& anchor, cutcomp::PathPiece& piece) override;

private:
  // Hands `line` to the writers, with the piece it draws (`piece`; null: none): the audit notes
  // the piece, and its record is made when a writer takes records.
  void Write(WrittenBlock& line, const cutcomp::PathPiece* piece = nullptr, bool runStart = false,
             const std::vector<const Block*>* chords = nullptr);
  // A line the engine or the tool added for `anchor`, in the written machine's state.
  void WriteInserted(const Block& anchor, const cutcomp::Curve& curve, double feed,
                     const cutcomp::PathPiece* piece);
  void Bridge(const Block& context, cutcomp::PathPiece& piece, double feed);
  void Warn(const Block& block, const std::string& message) {
    WarnAbout(m_Messages, m_Reading, block, message);
  }

  Outputs& m_Outputs;
  Messages& m_Messages;
  const Reading& m_Reading;
  WrittenMachine m_Machine;
  AuditStage* m_Audit = nullptr;
  const char* m_DropComment = DROPPED_TOO_SHORT;
};

}  // namespace cutcomp::cli
