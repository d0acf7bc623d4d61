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
  out << "G40 G1 X" << x + 1 << " Y" << y << "\nM2\n";
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
  std::printf("\nThe command-line tool against LinuxCNC's rs274 on the staircase as G-code\n");
  std::printf("(G41.1 D0.2; CPU time, best of 3; rs274 writes its canonical commands, cutcomp\n");
  std::printf("the compensated program)\n");
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
  std::printf("%8s %9s %10s %8s %10s %8s %10s %7s\n", "blocks", "MB", "cutcomp s", "MB/s",
              "blocks/s", "rs274 s", "blocks/s", "ratio");
  for (int blocks : {10000, 100000}) {
    const std::string program = std::string(dir) + "/staircase.ngc";
    const long bytes = WriteStaircase(program, blocks);
    const double ours = BestOfThree({cli, program, "-o", std::string(dir) + "/out.ngc"},
                                    std::string(dir) + "/cutcomp.log");
    const double theirs =
        rs274.empty() ? -1.0 : BestOfThree({rs274, "-g", program}, std::string(dir) + "/rs274.out");
    const double megabytes = static_cast<double>(bytes) / 1e6;
    std::printf("%8d %9.2f", blocks, megabytes);
    if (ours > 0.0) {
      std::printf(" %10.3f %8.1f %10.0f", ours, megabytes / ours, blocks / ours);
    } else {
      std::printf(" %10s %8s %10s", "failed", "-", "-");
    }
    if (theirs > 0.0) {
      std::printf(" %8.3f %10.0f", theirs, blocks / theirs);
    } else {
      std::printf(" %8s %10s", rs274.empty() ? "-" : "failed", "-");
    }
    if (ours > 0.0 && theirs > 0.0) {
      std::printf(" %7.2f", ours / theirs);
    } else {
      std::printf(" %7s", "-");
    }
    std::printf("\n");
  }
  std::printf("ratio = cutcomp / rs274 (below 1: cutcomp is faster). Timings under a second are\n");
  std::printf("coarse (the kernel counts CPU time in ticks).\n");
  for (const char* file : {"staircase.ngc", "out.ngc", "cutcomp.log", "rs274.out"}) {
    std::remove((std::string(dir) + "/" + file).c_str());
  }
  rmdir(dir);
}

}  // namespace cutcomp::bench
