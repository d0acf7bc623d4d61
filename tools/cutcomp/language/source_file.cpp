// SPDX-License-Identifier: MIT
// Line reading with a length cap and positions to come back to. Seeking within the buffer
// costs nothing, so a short loop body is re-read without touching the file.
#include "source_file.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "block_source.h"

namespace cutcomp::language {

SourceFile::SourceFile(std::FILE* file, std::string name, bool owned)
    : m_File(file), m_Name(std::move(name)), m_Owned(owned) {
  const long start = std::ftell(file);
  m_BufferOffset = start > 0 ? start : 0;  // a pipe has no offset: it cannot seek anyway
  m_LineStart = Here();
  m_Start = m_LineStart;
}

SourceFile::~SourceFile() {
  if (m_Owned) {
    std::fclose(m_File);
  }
}

bool SourceFile::Fill() {
  m_BufferOffset += static_cast<long>(m_End);
  m_Pos = 0;
  m_End = std::fread(m_Buffer, 1, sizeof m_Buffer, m_File);
  if (m_End == 0 && std::ferror(m_File)) {
    // A program cut short by a failing disk must not pass for a shorter program.
    throw cli::InputError({m_Name, m_Line + 1}, 0,
                          std::string("cannot read: ") + std::strerror(errno));
  }
  return m_End > 0;
}

bool SourceFile::Next(std::string& line) {
  m_LineStart = Here();
  // The usual case: the whole line, terminator included, is in the buffer.
  if (m_Pos < m_End) {
    const char* begin = m_Buffer + m_Pos;
    const void* newline = std::memchr(begin, '\n', m_End - m_Pos);
    const std::size_t take =
        newline != nullptr ? static_cast<std::size_t>(static_cast<const char*>(newline) - begin)
                           : MAX_LINE_LENGTH + 1;
    if (take <= MAX_LINE_LENGTH) {
      m_Pos += take + 1;
      ++m_Line;
      cli::CopyText(line, begin, take > 0 && begin[take - 1] == '\r' ? take - 1 : take);
      return true;
    }
  }
  line.clear();
  bool any = false;
  for (;;) {
    if (m_Pos == m_End && !Fill()) {
      if (!any) {
        return false;
      }
      break;  // last line without a terminator
    }
    any = true;
    const char* begin = m_Buffer + m_Pos;
    const void* newline = std::memchr(begin, '\n', m_End - m_Pos);
    const std::size_t take =
        newline != nullptr ? static_cast<std::size_t>(static_cast<const char*>(newline) - begin)
                           : m_End - m_Pos;
    if (line.size() + take > MAX_LINE_LENGTH) {
      throw cli::InputError(
          {m_Name, m_Line + 1}, MAX_LINE_LENGTH + 1,
          "line is longer than " + std::to_string(MAX_LINE_LENGTH) + " characters");
    }
    line.append(begin, take);
    m_Pos += take;
    if (newline != nullptr) {
      ++m_Pos;
      break;
    }
  }
  ++m_Line;
  if (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
  return true;
}

void SourceFile::Seek(const FilePosition& position) {
  m_Line = position.linesBefore;
  if (position.offset >= m_BufferOffset &&
      position.offset <= m_BufferOffset + static_cast<long>(m_End)) {
    m_Pos = static_cast<std::size_t>(position.offset - m_BufferOffset);
    return;
  }
  if (std::fseek(m_File, position.offset, SEEK_SET) != 0) {
    throw cli::InputError({m_Name, m_Line + 1}, 0,
                          "cannot go back in the program to run a loop or a call: it must be "
                          "read from a file, not a pipe");
  }
  m_BufferOffset = position.offset;
  m_Pos = 0;
  m_End = 0;
}

}  // namespace cutcomp::language
