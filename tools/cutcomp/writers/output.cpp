// SPDX-License-Identifier: MIT
// Checked writes to files and standard output.
#include "output.h"

#include <cerrno>
#include <cstring>

namespace cutcomp::cli {

Output::~Output() {
  if (m_File != nullptr && m_Owned) {
    std::fclose(m_File);
  }
}

void Output::Fail() {
  if (!m_Failed) {
    m_Failed = true;
    m_Error = errno != 0 ? std::strerror(errno) : "write failed";
  }
}

bool Output::Open(const std::string& path) {
  m_Path = path;
  if (path == "-") {
    m_File = stdout;
    m_Owned = false;
    return true;
  }
  errno = 0;
  m_File = std::fopen(path.c_str(), "wb");
  m_Owned = true;
  if (m_File == nullptr) {
    Fail();
    return false;
  }
  return true;
}

bool Output::OpenTemporary() {
  errno = 0;
  m_File = std::tmpfile();
  m_Owned = true;
  m_Path = "(temporary file)";
  if (m_File == nullptr) {
    Fail();
    return false;
  }
  return true;
}

void Output::Write(std::string_view text) {
  if (m_Failed || m_File == nullptr) {
    return;
  }
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), m_File) != text.size()) {
    Fail();
  }
}

void Output::Append(Output& temporary) {
  if (temporary.m_File == nullptr || std::fflush(temporary.m_File) != 0 ||
      std::fseek(temporary.m_File, 0, SEEK_SET) != 0) {
    Fail();
    return;
  }
  char buffer[1 << 15];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, temporary.m_File)) > 0) {
    Write(std::string_view(buffer, n));
  }
  if (std::ferror(temporary.m_File)) {
    Fail();
  }
}

bool Output::Finish() {
  if (m_File == nullptr) {
    return !m_Failed;
  }
  errno = 0;
  if (std::fflush(m_File) != 0 || std::ferror(m_File)) {
    Fail();
  }
  if (m_Owned) {
    errno = 0;
    if (std::fclose(m_File) != 0) {
      Fail();
    }
  }
  m_File = nullptr;
  return !m_Failed;
}

}  // namespace cutcomp::cli
