// SPDX-License-Identifier: MIT
// What the command-line tool's fuzz targets demand of every run, whatever the input: it ends
// with one of its exit codes; an error names a line of the file at fault; a program with an
// input error writes nothing; otherwise the JSON record holds only finite numbers and a
// continuous path, and the written program reads back through the tool's own reader, moving
// along that recorded path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "pipeline.h"

namespace cutcomp::fuzz {

// Stops the fuzzer with a finding when `condition` fails.
void Check(bool condition, const char* what);

// A file held in memory that the tool opens by its path, as it would a file on disk.
class MemoryFile {
public:
  explicit MemoryFile(const char* name);
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  ~MemoryFile();

  void Set(const void* data, std::size_t size);
  std::string Get() const;
  const std::string& Path() const { return m_Path; }

private:
  int m_Fd = -1;
  std::string m_Path;
};

// Runs the tool on `input` (its program) with `options` (input, outputs and tool table are set
// here; `table`, when given, is the tool table's text) and checks everything it wrote.
// Returns the exit code.
int RunAndCheck(cli::Options options, const std::string& input, const std::string* table);

}  // namespace cutcomp::fuzz
