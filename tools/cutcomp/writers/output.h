// SPDX-License-Identifier: MIT
// A written file whose every write is checked: a full disk, a closed pipe or a failed close is
// remembered and reported when the file is finished, so that no report is ever silently short.
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

  // Opens `path` for writing; "-" is standard output. False with the reason in Error().
  bool Open(const std::string& path);
  // An anonymous temporary file (the picture's body, a spooled input).
  bool OpenTemporary();
  bool IsOpen() const { return m_File != nullptr; }

  void Write(std::string_view text);
  // Copies what a temporary output holds so far into this one.
  void Append(Output& temporary);

  // Flushes and closes; false when any write failed or the close did, with the reason in
  // Error(). Standard output is flushed, not closed.
  bool Finish();
  bool Failed() const { return m_Failed; }
  const std::string& Error() const { return m_Error; }
  const std::string& Path() const { return m_Path; }
  std::FILE* File() { return m_File; }

private:
  void Fail();

  std::FILE* m_File = nullptr;
  bool m_Owned = false;
  bool m_Failed = false;
  std::string m_Error;
  std::string m_Path;
};

}  // namespace cutcomp::cli
