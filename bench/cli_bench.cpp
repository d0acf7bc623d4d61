// SPDX-License-Identifier: MIT
// The command-line tool against LinuxCNC's standalone interpreter rs274 on the same compensated
// program: the staircase as G-code (G41.1 with the diameter inline, radius 0.1), run as
// subprocesses, CPU time (user + system) of the best of three runs. Each writes its output to a
// file: cutcomp the compensated program, rs274 its canonical machine commands. rs274 is an
// optional peer: when it is not on the PATH the comparison is left out with a note.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench.h"

extern char** environ;  // NOLINT(readability-identifier-naming): the C library's name

namespace cutcomp::bench {
namespace {

// Writes the staircase of `blocks` unit steps, compensated on the left with radius 0.1, the same
// geometry as the engine's staircase benchmark. Returns the file's size in bytes.
long WriteStaircase(const std::string& path, int blocks) {
  std::ofstream out(path);
  out << "G21 G17 G90 G40 G94\nG0 X-1 Y0\nG41.1 D0.2 G1 X0 Y0 F600\n";
  int x = 0;
  int y = 0;
  for (int k = 0; k < blocks; ++k) {
    if (k % 2 == 0) {
      out << "X" << ++x << "\n";
    } else {
      out << "Y" << ++y << "\n";
    }
  }
  // The cancel move leads out along the last step, as the engine's staircase does: one at a
  // right angle to it would cut across the corner into the part, and the gouge audit says so.
  const bool lastAlongY = blocks % 2 == 0;
  out << "G40 G1 X" << (lastAlongY ? x : x + 1) << " Y" << (lastAlongY ? y + 1 : y) << "\nM2\n";
  out.close();
  struct stat info {};
  return out && stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

// Writes the streaming test's zigzag: `blocks` moves 'X<k> Y<0|1>' (every corner a right angle,
// inside and outside in turn), a comment and two Z moves every thousand. Returns its size.
long WriteZigzag(const std::string& path, int blocks) {
  std::ofstream out(path);
  out << "G21 G17 G90\nG0 X-5 Y0 Z1\nG41.1 D0.2 G1 X0 Y0 F1000\nG1 Z-1\n";
  for (int k = 1; k <= blocks; ++k) {
    out << "X" << k << " Y" << k % 2 << "\n";
    if (k % 1000 == 0) {
      out << "(pass " << k / 1000 << ")\nG1 Z-1.5\nG1 Z-1\n";
    }
  }
  out << "G40 G1 X" << blocks + 5 << " Y-5\nG0 Z5\nM30\n";
  out.close();
  struct stat info {};
  return out && stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

// Runs the command with its standard output and error sent to `output`; returns its CPU time
// in seconds, or -1 when it could not be run or did not exit with status 0.
double CpuSeconds(const std::vector<std::string>& command, const std::string& output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  std::vector<char*> argv;
  for (const std::string& word : command) {
    argv.push_back(const_cast<char*>(word.c_str()));
  }
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    return -1.0;
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return -1.0;
  }
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double BestOfThree(const std::vector<std::string>& command, const std::string& output) {
  double best = -1.0;
  for (int run = 0; run < 3; ++run) {
    const double seconds = CpuSeconds(command, output);
    if (seconds < 0.0) {
      return -1.0;
    }
    best = best < 0.0 || seconds < best ? seconds : best;
  }
  return best;
}

std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "";
  std::size_t from = 0;
  while (from <= dirs.size()) {
    const std::size_t colon = dirs.find(':', from);
    const std::string dir = dirs.substr(from, colon == std::string::npos ? colon : colon - from);
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    if (colon == std::string::npos) {
      break;
    }
    from = colon + 1;
  }
  return "";
}

}  // namespace

void PrintCliSummary() {
  std::printf(
      "\nThe command-line tool against LinuxCNC's rs274 on the same compensated programs\n");
  std::printf(
      "(G41.1 D0.2; CPU time, best of 3; cutcomp writes the compensated program, audited\n");
  std::printf("for gouges by default and with --no-verify; rs274 writes its canonical commands)\n");
#ifdef CUTCOMP_BENCH_CLI
  const char* overridden = std::getenv("CUTCOMP_CLI");
  const std::string cli = overridden != nullptr ? overridden : CUTCOMP_BENCH_CLI;
#else
  const char* overridden = std::getenv("CUTCOMP_CLI");
  const std::string cli = overridden != nullptr ? overridden : "";
#endif
  if (cli.empty() || access(cli.c_str(), X_OK) != 0) {
    std::printf("cutcomp's command-line tool was not built: left out.\n");
    return;
  }
  const std::string rs274 = FindOnPath("rs274");
  if (rs274.empty()) {
    std::printf("rs274 (Debian linuxcnc-uspace) is not installed: only cutcomp is timed.\n");
  }
  char pattern[] = "/tmp/cutcomp-cli-bench-XXXXXX";
  const char* dir = mkdtemp(pattern);
  if (dir == nullptr) {
    std::printf("no temporary directory: left out.\n");
    return;
  }
  std::printf("%-9s %8s %6s %9s %6s %9s %6s %8s %7s\n", "program", "blocks", "MB", "audited s",
              "MB/s", "no-ver. s", "MB/s", "rs274 s", "ratio");
  const std::string program = std::string(dir) + "/program.ngc";
  const std::string out = std::string(dir) + "/out.ngc";
  const std::string log = std::string(dir) + "/cutcomp.log";
  struct Row {
    const char* name;
    int blocks;
  };
  for (const Row row : {Row{"staircase", 10000}, Row{"staircase", 100000},
                        Row{"staircase", 1000000}, Row{"zigzag", 1000000}}) {
    const bool zigzag = std::string(row.name) == "zigzag";
    const long bytes =
        zigzag ? WriteZigzag(program, row.blocks) : WriteStaircase(program, row.blocks);
    const double audited = BestOfThree({cli, program, "-o", out}, log);
    const double unverified = BestOfThree({cli, program, "-o", out, "--no-verify"}, log);
    const double theirs =
        rs274.empty() ? -1.0 : BestOfThree({rs274, "-g", program}, std::string(dir) + "/rs274.out");
    const double megabytes = static_cast<double>(bytes) / 1e6;
    std::printf("%-9s %8d %6.2f", row.name, row.blocks, megabytes);
    for (const double seconds : {audited, unverified}) {
      if (seconds > 0.0) {
        std::printf(" %9.3f %6.1f", seconds, megabytes / seconds);
      } else {
        std::printf(" %9s %6s", "failed", "-");
      }
    }
    if (theirs > 0.0) {
      std::printf(" %8.3f", theirs);
    } else {
      std::printf(" %8s", rs274.empty() ? "-" : "failed");
    }
    if (audited > 0.0 && theirs > 0.0) {
      std::printf(" %7.2f", audited / theirs);
    } else {
      std::printf(" %7s", "-");
    }
    std::printf("\n");
  }
  std::printf("ratio = cutcomp audited / rs274 (below 1: cutcomp is faster). staircase: unit\n");
  std::printf("steps 'X1' / 'Y1', 6.8 bytes a block; zigzag: 'X12 Y1' moves with a comment and\n");
  std::printf(
      "two Z moves every 1000 blocks, 10.9 bytes a block (the streaming test's program).\n");
  std::printf("Timings under a second are coarse (the kernel counts CPU time in ticks).\n");
  for (const char* file : {"program.ngc", "out.ngc", "cutcomp.log", "rs274.out"}) {
    std::remove((std::string(dir) + "/" + file).c_str());
  }
  rmdir(dir);
}

}  // namespace cutcomp::bench
