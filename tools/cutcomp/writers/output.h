// SPDX-License-Identifier: MIT
// A written file whose every write is checked: a full disk, a closed pipe or a failed close is
// remembered and reported when the file is finished, so that no report is ever silently short.
// A file is staged: what is written goes to a temporary file beside the target, renamed onto
// it when the file is committed, and removed when it is discarded, so that a program found
// wrong half-way (bad input, a gouge) leaves the target as it was. Standard output and targets
// that are not regular files (a pipe, a device) are spooled to an anonymous temporary file and
// copied to the target on commit.
#pragma once

#include <cstdio>
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
  bool IsOpen() const { return m_File != nullptr; }

  void Write(std::string_view text);
  // Copies what a temporary output holds so far into this one.
  void Append(Output& temporary);

  // Flushes and closes, and commits what was written to the target (`commit`) or throws it
  // away; false when any write failed, the close or the commit did, with the reason in Error().
  // Standard output is flushed, not closed.
  bool Finish(bool commit = true);
  bool Failed() const { return m_Failed; }
  const std::string& Error() const { return m_Error; }
  const std::string& Path() const { return m_Path; }
  std::FILE* File() { return m_File; }

private:
  void Fail();

  std::FILE* m_File = nullptr;
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
