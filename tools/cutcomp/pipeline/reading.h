// SPDX-License-Identifier: MIT
// Reading: the tool table and the program opened (a file, standard input spooled to a file so
// that loops and calls can read it again, or text held in memory), the program's blocks read
// one by one through the language layer and the modal reader, a block handed back when a run
// ends before it, and the places of blocks and errors as messages give them.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "block.h"
#include "messages.h"
#include "options.h"
#include "pipeline.h"
#include "program_reader.h"
#include "tool_table.h"

namespace cutcomp::cli {

class Reading {
public:
  Reading(const Program& program, const Options& options, Messages& messages);
  ~Reading();
  Reading(const Reading&) = delete;
  Reading& operator=(const Reading&) = delete;

  // Opens the tool table and the program. False when one cannot be read (the error is said and
  // kept in `error`).
  // refuses: a tool table that cannot be opened or read, a program that cannot be opened,
  // standard input that cannot be spooled.
  bool Open(std::optional<ErrorRecord>& error);

  // The next block (one handed back first); false at the end of the program. Throws
  // InputError, located with its file, line and call chain.
  bool Next(Block& block) {
    if (m_Pushback) {
      block = std::move(*m_Pushback);
      m_Pushback.reset();
      return true;
    }
    if (!m_Reader->Next(block)) {
      return false;
    }
    if (!block.note.empty()) {
      m_Messages.Note(Place(block.source), block.note);
    }
    if (block.phase != crc::CRC_STATUS_NONE && !block.warnings.empty()) {
      SayWarnings(block);
    }
    return true;
  }
  // A block read ahead that the next Next gives again.
  void HandBack(Block block) { m_Pushback = std::move(block); }

  // Places for messages: file, line and, inside a subroutine, the call chain.
  std::string Place(const SourceBlock& block) const;
  std::string Place(const InputError& error) const;
  // How a note at `from` names another block: `prefix` and its line number in the same file
  // ("line 11"), its file and line in another ("pocket.ngc:11").
  std::string LineOf(const Block& block, const Block& from, const char* prefix) const;
  // An input error as the result records it.
  ErrorRecord Record(const InputError& error) const;
  const std::string& Name() const { return m_Messages.Name(); }
  const language::LanguageSource* Language() const {
    return m_Reader ? &m_Reader->Language() : nullptr;
  }

private:
  bool OpenProgram(std::optional<ErrorRecord>& error);
  bool OpenOffsetList(std::optional<ErrorRecord>& error, ReaderOptions& reader);
  bool LoadTable(std::optional<ErrorRecord>& error, const std::string& path, std::FILE* table,
                 const char* what, bool registersOnly);
  // The reader's warnings about a block the engine compensates (its own words are not written
  // back, so nothing else says them): said as it is read.
  void SayWarnings(Block& block);
  bool Fail(std::optional<ErrorRecord>& error, const std::string& file, const std::string& text);

  const Program& m_Program;
  const Options& m_Options;
  Messages& m_Messages;
  ToolTable m_Tools;
  lathe::OffsetList m_Offsets;
  std::FILE* m_Input = nullptr;
  std::unique_ptr<ProgramReader> m_Reader;
  std::optional<Block> m_Pushback;
};

}  // namespace cutcomp::cli
