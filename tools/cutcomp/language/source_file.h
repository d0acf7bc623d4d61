// SPDX-License-Identifier: MIT
// A program file read line by line whose lines can be read again: a loop or a call stores the
// position of a line and seeks back to it, so nothing of the program is kept in memory.
#pragma once

#include <cstdio>
#include <string>

namespace cutcomp::language {

// The longest line accepted, in bytes. Part programs have short blocks; the cap keeps a
// corrupt or binary file (one huge "line") from being read into memory whole.
inline constexpr std::size_t MAX_LINE_LENGTH = 65536;

// Where a line starts: its byte offset and the number of lines before it.
struct FilePosition {
  long offset = 0;
  std::size_t linesBefore = 0;
};

class SourceFile {
public:
  // Reads `file` from where it stands; closes it at the end when `owned`. `name` is what
  // errors call the file (empty for the main program).
  SourceFile(std::FILE* file, std::string name, bool owned);
  ~SourceFile();
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;

  // The next line without its LF or CRLF; false at the end of the file. Throws InputError for
  // a line longer than MAX_LINE_LENGTH and for a read error.
  bool Next(std::string& line);
  // 1-based number of the line last returned.
  std::size_t LineNumber() const { return m_Line; }
  // The start of the line last returned, and of the line after it.
  FilePosition LineStart() const { return m_LineStart; }
  FilePosition Here() const { return {m_BufferOffset + static_cast<long>(m_Pos), m_Line}; }
  // Reads on from `position`. Throws InputError when the file cannot seek (a pipe).
  void Seek(const FilePosition& position);
  const std::string& Name() const { return m_Name; }
  // Where the file was first read from (its first line).
  FilePosition Start() const { return m_Start; }

private:
  bool Fill();

  std::FILE* m_File;
  std::string m_Name;
  bool m_Owned;
  char m_Buffer[1 << 15];
  long m_BufferOffset = 0;  // file offset of m_Buffer[0]
  std::size_t m_Pos = 0;
  std::size_t m_End = 0;
  std::size_t m_Line = 0;
  FilePosition m_LineStart;
  FilePosition m_Start;
};

}  // namespace cutcomp::language
