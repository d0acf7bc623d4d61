// SPDX-License-Identifier: MIT
// A written file whose every write is checked: a full disk, a closed pipe or a failed close is
// remembered and reported when the file is finished, so that no report is ever silently short.
// A file is staged: what is written goes to a temporary file beside the target, renamed onto
// it when the file is committed, and removed when it is discarded, so that a program found
// wrong half-way (bad input, a gouge) leaves the target as it was. Standard output and targets
// that are not regular files (a pipe, a device) are spooled to an anonymous temporary file and
// copied to the target on commit.
// An output may also keep its text in memory, for a caller that takes it.
// Text goes through a buffer of the output's own, handed to the file in large writes: a line
// is formatted straight into it (Output::Line) and costs no string and no call into the C
// library of its own.
#pragma once

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace cutcomp::cli {

class Output {
public:
  Output() = default;
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output();

  // Opens `path` for writing, staged; "-" is standard output. False with the reason in Error().
  bool Open(const std::string& path);
  // An anonymous temporary file (the picture's body, a spooled input).
  bool OpenTemporary();
  // Text kept in memory, for a caller that takes it (TakeText) once it is committed.
  void OpenMemory() {
    m_Memory = true;
    m_Path = "(memory)";
  }
  bool IsOpen() const { return m_File != nullptr || m_Memory; }
  // The text of a memory output, once finished and committed (then empty).
  std::string TakeText() { return std::move(m_Text); }

  void Write(std::string_view text);

  // Text formatted in place at the end of the buffer, part of the output once committed (and
  // dropped if not). One line at a time per output: nothing else may be written to it between
  // the line's construction and its commit.
  class Line {
  public:
    explicit Line(Output& out) : m_Out(out), m_Begin(out.m_Put), m_End(out.m_Put) {}
    // Where the next `n` bytes go; Advance to the end of what was written there.
    char* Room(std::size_t n) {
      if (static_cast<std::size_t>(m_Out.m_Limit - m_End) < n) {
        Grow(n);
      }
      return m_End;
    }
    void Advance(char* end) { m_End = end; }
    void Put(char c) {
      *Room(1) = c;
      ++m_End;
    }
    void Put(std::string_view text) {
      if (!text.empty()) {
        std::memcpy(Room(text.size()), text.data(), text.size());
        m_End += text.size();
      }
    }
    std::size_t Size() const { return static_cast<std::size_t>(m_End - m_Begin); }
    char* Begin() { return m_Begin; }
    char* End() { return m_End; }
    void Commit() { m_Out.m_Put = m_End; }

  private:
    void Grow(std::size_t n);

    Output& m_Out;
    char* m_Begin;
    char* m_End;
  };

  // Copies what a temporary output holds so far into this one.
  void Append(Output& temporary);

  // Flushes and closes, and commits what was written to the target (`commit`) or throws it
  // away; false when any write failed, the close or the commit did, with the reason in Error().
  // Standard output is flushed, not closed.
  bool Finish(bool commit = true);
  bool Failed() const { return m_Failed; }
  const std::string& Error() const { return m_Error; }
  const std::string& Path() const { return m_Path; }

private:
  void Fail();
  // Hands what is committed to the file (or drops it after a failure) and leaves room for `n`
  // bytes after the `pending` uncommitted ones, which move to the start of the buffer.
  void MakeRoom(std::size_t pending, std::size_t n);
  void Drain();

  std::unique_ptr<char[]> m_Buffer;
  std::size_t m_Capacity = 0;
  char* m_Put = nullptr;  // the end of the committed text
  char* m_Limit = nullptr;

  std::FILE* m_File = nullptr;
  bool m_Memory = false;  // no file: the text goes to m_Text
  std::string m_Text;
  // Staging: the temporary file beside the target (renamed onto it), or the target a spool is
  // copied to (standard output, or a file opened on commit).
  std::string m_Staged;
  std::string m_StagedTarget;  // the target's real path
  std::FILE* m_Target = nullptr;
  bool m_Spooled = false;
  bool m_Owned = false;
  bool m_Failed = false;
  std::string m_Error;
  std::string m_Path;
};

}  // namespace cutcomp::cli
