// SPDX-License-Identifier: MIT
// Checked writes to files and standard output.
#include "output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace cutcomp::cli {

namespace {

// The buffer's size: large writes to the file, and a few pages of memory whatever the length
// of the program. A line longer than that grows it to fit.
constexpr std::size_t BUFFER_SIZE = std::size_t{1} << 16;

}  // namespace

Output::~Output() {
  if (m_File != nullptr && m_Owned) {
    std::fclose(m_File);
  }
  if (m_Target != nullptr && m_Target != stdout) {
    std::fclose(m_Target);
  }
  if (!m_Staged.empty()) {
    std::remove(m_Staged.c_str());
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
  errno = 0;
  struct stat info {};
  const bool exists = path != "-" && stat(path.c_str(), &info) == 0;
  if (path == "-" || (exists && !S_ISREG(info.st_mode))) {
    // Nothing to rename onto: spool, and copy on commit.
    m_Target = path == "-" ? stdout : std::fopen(path.c_str(), "wb");
    if (m_Target == nullptr) {
      Fail();
      return false;
    }
    m_Spooled = true;
    const bool opened = OpenTemporary();
    m_Path = path;
    return opened;
  }
  // A temporary file in the target's directory (a link is followed to the file it names), so
  // that the rename replaces the target in one step.
  std::string target = path;
  if (exists) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) {
      target = resolved;
    }
  }
  const std::size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string name = dir + "." + base + ".XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    // No file can be made beside it (a directory we may not write in, a descriptor's name under
    // /proc): spool, and open the target on commit.
    m_Spooled = true;
    const bool opened = OpenTemporary();
    m_Path = path;
    return opened;
  }
  m_Staged = name;
  m_Path = path;
  m_StagedTarget = target;
  // mkstemp makes the file private; the target gets what a newly created file would.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, exists ? (info.st_mode & 07777) : (0666 & ~mask));
  m_File = fdopen(fd, "wb");
  m_Owned = true;
  if (m_File == nullptr) {
    Fail();
    close(fd);
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
  if (m_Failed || !IsOpen() || text.empty()) {
    return;
  }
  if (text.size() <= static_cast<std::size_t>(m_Limit - m_Put)) {
    std::memcpy(m_Put, text.data(), text.size());
    m_Put += text.size();
    return;
  }
  if (text.size() < BUFFER_SIZE) {
    Line line(*this);
    line.Put(text);
    line.Commit();
    return;
  }
  // Too large to be worth copying: after what the buffer holds, straight to the file.
  Drain();
  if (m_Memory) {
    m_Text.append(text);
    return;
  }
  errno = 0;
  if (!m_Failed && std::fwrite(text.data(), 1, text.size(), m_File) != text.size()) {
    Fail();
  }
}

void Output::Drain() {
  if (m_Buffer == nullptr) {
    return;
  }
  const auto size = static_cast<std::size_t>(m_Put - m_Buffer.get());
  m_Put = m_Buffer.get();
  if (m_Memory) {
    m_Text.append(m_Buffer.get(), size);
    return;
  }
  if (size == 0 || m_Failed || m_File == nullptr) {
    return;  // after a failure, or with no file, what is written goes nowhere
  }
  errno = 0;
  if (std::fwrite(m_Buffer.get(), 1, size, m_File) != size) {
    Fail();
  }
}

void Output::MakeRoom(std::size_t pending, std::size_t n) {
  char* const from = m_Put;
  Drain();
  if (pending + n > m_Capacity) {
    const std::size_t capacity = std::max(BUFFER_SIZE, 2 * (pending + n));
    std::unique_ptr<char[]> buffer(new char[capacity]);
    if (pending > 0) {
      std::memcpy(buffer.get(), from, pending);
    }
    m_Buffer = std::move(buffer);
    m_Capacity = capacity;
  } else if (pending > 0) {
    std::memmove(m_Buffer.get(), from, pending);
  }
  m_Put = m_Buffer.get();
  m_Limit = m_Buffer.get() + m_Capacity;
}

void Output::Line::Grow(std::size_t n) {
  const std::size_t pending = Size();
  m_Out.MakeRoom(pending, n);
  m_Begin = m_Out.m_Put;
  m_End = m_Begin + pending;
}

void Output::Append(Output& temporary) {
  temporary.Drain();
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

bool Output::Finish(bool commit) {
  if (m_Memory) {
    Drain();
    if (!commit) {
      m_Text.clear();
    }
    m_Memory = false;
    return true;
  }
  if (m_File == nullptr) {
    return !m_Failed;
  }
  Drain();
  errno = 0;
  if (std::fflush(m_File) != 0 || std::ferror(m_File)) {
    Fail();
  }
  const bool keep = commit && !m_Failed;
  if (m_Spooled && keep && m_Target == nullptr) {
    errno = 0;
    m_Target = std::fopen(m_Path.c_str(), "wb");
    if (m_Target == nullptr) {
      Fail();
    }
  }
  if (m_Spooled && keep && m_Target != nullptr) {
    Output target;
    target.m_File = m_Target;
    target.Append(*this);
    if (!target.Finish(true)) {
      m_Failed = true;
      m_Error = target.Error();
    }
    target.m_File = nullptr;
  }
  if (m_Spooled && m_Target != nullptr && m_Target != stdout) {
    errno = 0;
    if (std::fclose(m_Target) != 0 && keep) {
      Fail();
    }
  }
  m_Target = nullptr;
  if (m_Owned) {
    errno = 0;
    if (std::fclose(m_File) != 0) {
      Fail();
    }
  }
  m_File = nullptr;
  if (!m_Staged.empty()) {
    errno = 0;
    if (commit && !m_Failed && std::rename(m_Staged.c_str(), m_StagedTarget.c_str()) != 0) {
      Fail();
    }
    if (!commit || m_Failed) {
      std::remove(m_Staged.c_str());
    }
    m_Staged.clear();
  }
  return !commit || !m_Failed;
}

}  // namespace cutcomp::cli
