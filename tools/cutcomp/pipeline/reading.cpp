// SPDX-License-Identifier: MIT
// Reading the program: its files opened, its blocks read, and the places messages give them.
#include "reading.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <utility>

#include "language.h"

namespace cutcomp::cli {

Reading::Reading(const Program& program, const Options& options, Messages& messages)
    : m_Program(program), m_Options(options), m_Messages(messages) {}

Reading::~Reading() {
  m_Reader.reset();  // reads the file until it goes
  if (m_Input != nullptr) {
    std::fclose(m_Input);
  }
}

bool Reading::Fail(std::optional<ErrorRecord>& error, const std::string& file,
                   const std::string& text) {
  ErrorRecord record;
  record.file = file;
  record.place = file;
  record.message = text;
  error = std::move(record);
  m_Messages.Error(file, text);
  return false;
}

bool Reading::Open(std::optional<ErrorRecord>& error) {
  ReaderOptions reader;
  reader.radius = m_Options.radius;
  reader.toolUnits = m_Options.toolUnits;
  reader.arcTolerance = m_Options.arcTolerance;
  reader.expandCycles = m_Options.expandCycles;
  reader.cycleRetract = m_Options.cycleRetract;
  if (m_Program.toolTable || !m_Options.toolTable.empty()) {
    const std::string& path = m_Options.toolTable;
    std::FILE* table = m_Program.toolTable
                           ? fmemopen(const_cast<char*>(m_Program.toolTable->data()),
                                      m_Program.toolTable->size(), "rb")
                           : std::fopen(path.c_str(), "rb");
    if (!LoadTable(error, path, table, "the tool table", false)) {
      return false;
    }
    reader.tools = &m_Tools;
  }
  if (!m_Options.offsets.empty()) {
    const std::string& path = m_Options.offsets;
    if (!LoadTable(error, path, std::fopen(path.c_str(), "rb"), "the offset list", true)) {
      return false;
    }
    reader.tools = &m_Tools;
  }
  if (!OpenOffsetList(error, reader)) {
    return false;
  }
  // The lathe dialects are the language of their family with the lathe's conventions, which the
  // modal reader follows; without them it recognises a lathe program unless told it is LinuxCNC's.
  const language::Dialect dialect = m_Options.dialect;
  reader.lathe =
      dialect == language::Dialect::FANUC_LATHE || dialect == language::Dialect::HAAS_LATHE
          ? ReaderOptions::Lathe::ALWAYS
      : dialect == language::Dialect::NGC ? ReaderOptions::Lathe::NEVER
                                          : ReaderOptions::Lathe::RECOGNISED;
  if (!OpenProgram(error)) {
    return false;
  }
  // The language layer looks for subroutine files beside the program first, then along
  // --subroutine-path.
  language::LanguageOptions language;
  const std::string& name = m_Program.name;
  const std::size_t slash = name == "-" ? std::string::npos : name.rfind('/');
  language.subroutineDirs.push_back(slash == std::string::npos ? std::string()
                                                               : name.substr(0, slash + 1));
  for (std::string& dir : language::SplitSearchPath(m_Options.subroutinePath)) {
    language.subroutineDirs.push_back(std::move(dir));
  }
  language.maxBlocks = m_Options.maxBlocks;
  language.dialect = language::LanguageOf(m_Options.dialect);
  language.skipBlockDelete = m_Options.blockDelete;
  language.integerWords = m_Options.integerWords;
  language.warn = [this](const InputError& warning) {
    WarningRecord record;
    record.file = warning.File();
    record.line = warning.Line();
    record.message = warning.what();
    m_Messages.Warning(record, [&] { return Place(warning); });
  };
  m_Reader = std::make_unique<ProgramReader>(m_Input, reader, std::move(language));
  return true;
}

// Reads a tool table (or the offset registers only) into m_Tools, and closes it.
bool Reading::LoadTable(std::optional<ErrorRecord>& error, const std::string& path,
                        std::FILE* table, const char* what, bool registersOnly) {
  if (table == nullptr) {
    return Fail(error, path, std::string("cannot open ") + what + ": " + std::strerror(errno));
  }
  try {
    if (registersOnly) {
      m_Tools.LoadRegisters(table);
    } else {
      m_Tools.Load(table);
    }
  } catch (const InputError& bad) {
    std::fclose(table);
    ErrorRecord record;
    record.file = path;
    record.line = bad.Line();
    record.col = bad.Col();
    record.place = language::FormatPlace(bad, path);
    record.message = bad.what();
    m_Messages.Error(record.place, record.message);
    error = std::move(record);
    return false;
  }
  std::fclose(table);
  return true;
}

bool Reading::OpenOffsetList(std::optional<ErrorRecord>& error, ReaderOptions& reader) {
  const std::string& path = m_Options.offsetList;
  if (path.empty()) {
    return true;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return Fail(error, path, std::string("cannot open the offset list: ") + std::strerror(errno));
  }
  m_Offsets = lathe::ReadOffsetList(in);
  if (!m_Offsets.ok) {
    ErrorRecord record;
    record.file = path;
    record.line = m_Offsets.errorLine;
    record.place =
        m_Offsets.errorLine == 0 ? path : path + ":" + std::to_string(m_Offsets.errorLine);
    record.message = m_Offsets.error;
    m_Messages.Error(record.place, record.message);
    error = std::move(record);
    return false;
  }
  reader.offsets = &m_Offsets;
  reader.offsetListName = path;
  return true;
}

bool Reading::OpenProgram(std::optional<ErrorRecord>& error) {
  const std::string& name = Name();
  if (m_Program.text) {
    // Read in place: the stream is opened for reading only and never writes to the text.
    const std::string& text = *m_Program.text;
    m_Input = fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
    if (m_Input == nullptr) {
      return Fail(error, name, std::string("cannot read the program: ") + std::strerror(errno));
    }
    return true;
  }
  if (m_Program.name != "-") {
    m_Input = std::fopen(m_Program.name.c_str(), "rb");
    if (m_Input == nullptr) {
      return Fail(error, name, std::string("cannot open: ") + std::strerror(errno));
    }
    return true;
  }
  // Standard input is spooled to a temporary file: loops and calls read their lines again.
  m_Input = std::tmpfile();
  if (m_Input == nullptr) {
    return Fail(error, name, std::string("cannot spool standard input: ") + std::strerror(errno));
  }
  char buffer[1 << 15];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) {
    if (std::fwrite(buffer, 1, n, m_Input) != n) {
      return Fail(error, name, std::string("cannot spool standard input: ") + std::strerror(errno));
    }
  }
  if (std::ferror(stdin) || std::fflush(m_Input) != 0) {
    return Fail(error, name, "cannot read standard input");
  }
  std::rewind(m_Input);
  return true;
}

void Reading::SayWarnings(Block& block) {
  for (const std::string& warning : block.warnings) {
    WarningRecord record;
    record.file = block.source.where.file;
    record.line = block.Line();
    record.message = warning;
    m_Messages.Warning(record, [&] { return Place(block.source); });
  }
  block.warnings.clear();
}

std::string Reading::Place(const SourceBlock& block) const {
  return language::FormatPlace(block.where, 0, block.callers, Name(),
                               m_Reader ? &m_Reader->Language() : nullptr);
}

std::string Reading::Place(const InputError& error) const {
  return language::FormatPlace(error, Name(), m_Reader ? &m_Reader->Language() : nullptr);
}

std::string Reading::LineOf(const Block& block, const Block& from, const char* prefix) const {
  if (block.source.where.file == from.source.where.file) {
    return prefix + std::to_string(block.Line());
  }
  return language::FormatPlace(block.source.where, 0, {}, Name());
}

ErrorRecord Reading::Record(const InputError& error) const {
  ErrorRecord record;
  record.file = error.File();
  record.line = error.Line();
  record.col = error.Col();
  record.place = Place(error);
  record.message = error.what();
  return record;
}

}  // namespace cutcomp::cli
