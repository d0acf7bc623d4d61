// SPDX-License-Identifier: MIT
// The checks of a command-line run: exit code, messages, the JSON record and the written
// program read back through the tool's own reader.
#include "cli_checks.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "modal_reader.h"
#include "program_reader.h"
#include "tool_path.h"

namespace cutcomp::fuzz {

namespace {

using nlohmann::json;

// How far the written program may put the tool from the recorded path: the rounding of two
// written coordinates at the coarsest precision the targets use (3 decimals), with room.
constexpr double WRITTEN_TOLERANCE = 2e-3;

// The run being checked, shown with a finding when CUTCOMP_FUZZ_VERBOSE is set.
std::string g_Run;

std::size_t CountLines(const std::string& text) {
  std::size_t lines = !text.empty() && text.back() != '\n' ? 1 : 0;
  for (char c : text) {
    lines += c == '\n' ? 1 : 0;
  }
  return lines;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Checks one line of the diagnostics; returns true when it is an error naming a line of the file
// it names (the program or the tool table).
bool CheckMessage(const std::string& message, const std::string& inputPath, std::size_t inputLines,
                  const std::string* tablePath, std::size_t tableLines) {
  std::size_t lines = inputLines;
  std::size_t at = 0;
  if (StartsWith(message, inputPath + ":")) {
    at = inputPath.size() + 1;
  } else if (tablePath != nullptr && StartsWith(message, *tablePath + ":")) {
    at = tablePath->size() + 1;
    lines = tableLines;
  } else {
    Check(false, "a message that names no input file");
  }
  std::size_t line = 0;
  bool numbered = false;
  while (at < message.size() && message[at] >= '0' && message[at] <= '9') {
    line = line * 10 + static_cast<std::size_t>(message[at++] - '0');
    numbered = true;
  }
  if (numbered) {
    Check(line >= 1 && line <= lines + 1, "a message at a line outside the file");
    Check(at < message.size() && message[at] == ':', "a line number without its colon");
    ++at;
    if (at < message.size() && message[at] >= '0' && message[at] <= '9') {
      while (at < message.size() && message[at] >= '0' && message[at] <= '9') {
        ++at;
      }
      Check(at < message.size() && message[at] == ':', "a column without its colon");
      ++at;
    }
  }
  std::string rest = message.substr(at);
  // An error inside a subroutine names the calls that led there before saying what it is:
  // ": in o<name> called from FILE:LINE, in ... called from FILE:LINE: error: ...".
  if (numbered && StartsWith(rest, " in ")) {
    std::size_t kind = std::string::npos;
    for (const char* marker : {": error: ", ": warning: ", ": note: "}) {
      kind = std::min(kind, rest.find(marker));
    }
    Check(kind != std::string::npos && rest.find(" called from ") < kind,
          "a call chain that is not followed by what the message is");
    rest = rest.substr(kind + 1);
  }
  const bool error = StartsWith(rest, " error: ");
  Check(error || StartsWith(rest, " warning: ") || StartsWith(rest, " note: "),
        "a message that is no error, warning or note");
  Check(rest.size() > 10, "a message without text");
  Check(!error || numbered, "an error that names no line");
  return error;
}

Point ReadPoint(const json& j) {
  const Point p(j.at(0).get<double>(), j.at(1).get<double>());
  Check(std::isfinite(p.x) && std::isfinite(p.y), "a point in the record that is not finite");
  return p;
}

Curve ReadCurve(const json& j) {
  Curve c;
  c.from = ReadPoint(j.at("start"));
  c.to = ReadPoint(j.at("end"));
  if (j.contains("center")) {
    c.arc = true;
    c.centre = ReadPoint(j.at("center"));
    c.radius = j.at("radius").get<double>();
    Check(std::isfinite(c.radius), "an arc radius in the record that is not finite");
    c.ccw = j.at("ccw").get<bool>();
    c.fullCircle = j.at("full_circle").get<bool>();
  }
  return c;
}

double Scale(const Point& p) { return std::max({1.0, std::fabs(p.x), std::fabs(p.y)}); }

bool Near(const Point& a, const Point& b, double tolerance) {
  return (a - b).GetLength() <= tolerance * std::max(Scale(a), Scale(b));
}

// The centre an arc's words give, before the reader moves it to make both ends equidistant:
// that repair turns with the chord, which the rounding of short chords turns a lot. An arc
// given by its radius (R, passed through as programmed) has the centre the reader finds.
Point WrittenCentre(const cli::Block& move) {
  const cli::PlaneAxes& axes = cli::AxesOf(move.modal.plane);
  Point offset(0.0, 0.0);
  bool given = false;
  for (const cli::Item& item : move.source.items) {
    if (item.kind == cli::Item::WORD && item.letter == axes.firstCentre) {
      offset.x = item.value;
      given = true;
    } else if (item.kind == cli::Item::WORD && item.letter == axes.secondCentre) {
      offset.y = item.value;
      given = true;
    }
  }
  if (!given) {
    return move.centre;
  }
  return move.modal.arcAbsolute ? offset : move.start + offset;
}

// The centre a recorded arc must be written with: its own, or, when its end has left its circle
// (a nearly tangent joint moves it onto the next piece's start), the nearest centre of a circle
// through both ends.
Point ExpectedCentre(const Curve& arc) {
  const Point chord = arc.to - arc.from;
  const double length = chord.GetLength();
  const double mismatch = (arc.to - arc.centre).GetLength() - (arc.from - arc.centre).GetLength();
  if (arc.fullCircle || std::fabs(mismatch) <= crc::EPSILON || length <= crc::EPSILON) {
    return arc.centre;
  }
  const Point mid = (arc.from + arc.to) * 0.5;
  const Point normal(-chord.y / length, chord.x / length);
  const Point off = arc.centre - mid;
  return mid + normal * (off.x * normal.x + off.y * normal.y);
}

// A piece of the recorded tool path. One left as programmed (outside compensation) is written
// with the program's own words.
struct Recorded : Curve {
  bool asProgrammed = false;
};

bool SameCurve(const Curve& a, const Curve& b) {
  return a.arc == b.arc && a.from == b.from && a.to == b.to && (!a.arc || a.centre == b.centre);
}

// The record's tool path: every piece the tool travels, in order.
std::vector<Recorded> CheckRecord(const std::string& text, int exit) {
  // Pieces of one compensation run follow each other without a gap. Between runs, set-up codes
  // may rename the position (G92, work offsets), so the record's coordinates may jump there.
  std::string previousPhase = "none";
  std::size_t previousLine = 0;
  json record;
  try {
    record = json::parse(text);
  } catch (const json::exception&) {
    Check(false, "a JSON record that does not parse");
  }
  std::vector<Recorded> path;
  try {
    const json& error = record.at("error");
    Check(error.is_null() == (exit == cli::EXIT_OK || exit == cli::EXIT_GOUGE),
          "a record whose error disagrees with exit");
    // A clean run was audited and found nothing; a gouge is listed (or the path is unmeasured).
    Check(exit != cli::EXIT_OK || record.at("gouges") == json::array(),
          "a clean run whose record lists gouges");
    if (!error.is_null()) {
      Check(error.at("line").get<std::size_t>() >= 1, "a recorded error without a line");
    }
    for (const json& segment : record.at("segments")) {
      const Curve programmed = ReadCurve(segment.at("programmed"));
      Check(std::isfinite(segment.at("radius").get<double>()), "a radius that is not finite");
      // A run starts with the pieces of its first block (lines inserted before it carry its
      // line); a run that holds nothing but that block may follow another one.
      const std::string phase = segment.at("phase").get<std::string>();
      const std::size_t line = segment.at("line").get<std::size_t>();
      const bool runStart =
          phase == "establish" && (previousPhase != "establish" || line != previousLine);
      const bool inRun = phase != "none";
      previousPhase = phase;
      previousLine = line;
      if (segment.at("dropped").get<bool>()) {
        Check(segment.at("tool").is_null(), "a dropped segment with a tool path");
        continue;
      }
      const Curve tool = ReadCurve(segment.at("tool"));
      if (inRun && !runStart && !path.empty() && !Near(tool.from, path.back().to, 1e-9)) {
        std::fprintf(stderr, "line %zu\n", line);
        Check(false, "a compensation run whose recorded tool path is not continuous");
      }
      path.push_back(Recorded{tool, !inRun && SameCurve(tool, programmed)});
    }
  } catch (const json::exception&) {
    Check(false, "a JSON record without the fields it must have (or a number turned null)");
  }
  return path;
}

// Reads the written program back through the tool's own reader: it must be a program the
// tool accepts, and it must move along the recorded path. A recorded piece the written program
// does not show must be one that goes nowhere as written.
void CheckWrittenProgram(const std::string& program, const std::vector<Recorded>& path) {
  if (program.empty()) {
    Check(path.empty(), "a recorded path without a written program");
    return;
  }
  std::FILE* file = fmemopen(const_cast<char*>(program.data()), program.size(), "r");
  Check(file != nullptr, "fmemopen");
  std::vector<cli::Block> moves;
  try {
    // As the tool reads a program by default: a Fanuc-family lathe's recognised from its words.
    cli::ReaderOptions options;
    options.lathe = cli::ReaderOptions::Lathe::RECOGNISED;
    cli::ProgramReader reader(file, options, {});
    for (cli::Block block; reader.Next(block);) {
      if (block.planeMotion) {
        moves.push_back(block);
      }
    }
  } catch (const cli::InputError& error) {
    std::fprintf(stderr, "written program, line %zu: %s\n", error.Line(), error.what());
    std::fclose(file);
    Check(false, "the tool wrote a program it refuses to read");
  }
  std::fclose(file);
  std::size_t k = 0;
  for (const cli::Block& move : moves) {
    while (k < path.size() && !Near(path[k].to, move.end, WRITTEN_TOLERANCE) &&
           Near(path[k].from, path[k].to, WRITTEN_TOLERANCE)) {
      ++k;  // a piece that goes nowhere as written
    }
    // Where the record jumps (a run that ended beside the contour), an arc is reached by a
    // straight move to its start.
    if (k > 0 && k < path.size() && path[k].arc && move.motion == cli::Motion::LINE &&
        !Near(path[k - 1].to, path[k].from, WRITTEN_TOLERANCE) &&
        Near(path[k].from, move.end, WRITTEN_TOLERANCE)) {
      continue;
    }
    if (k == path.size() || !Near(path[k].to, move.end, WRITTEN_TOLERANCE)) {
      std::fprintf(stderr,
                   "written program, line %zu: a move to (%.17g, %.17g) that is not on the "
                   "record (next recorded: %s)\n",
                   move.Line(), move.end.x, move.end.y,
                   k < path.size() ? Describe(path[k]).c_str() : "none");
      Check(false, "the written program leaves the recorded path");
    }
    if (cli::IsArc(move.motion) && path[k].arc) {
      // An arc left as programmed keeps the program's words; where its ends were not quite
      // equidistant from their centre, the record holds the centre the reader moved onto the
      // chord's bisector, and the same words read back give the same one.
      Check(Near(ExpectedCentre(path[k]), WrittenCentre(move), WRITTEN_TOLERANCE) ||
                (path[k].asProgrammed && Near(path[k].centre, move.centre, WRITTEN_TOLERANCE)),
            "a written arc about another centre than the recorded one");
    }
    ++k;
  }
  for (; k < path.size(); ++k) {
    Check(Near(path[k].from, path[k].to, WRITTEN_TOLERANCE),
          "a recorded piece the written program does not travel");
  }
}

}  // namespace

void Check(bool condition, const char* what) {
  if (!condition) {
    if (std::getenv("CUTCOMP_FUZZ_VERBOSE") != nullptr) {
      std::fputs(g_Run.c_str(), stderr);
    }
    std::fprintf(stderr, "cutcomp fuzz: invariant broken: %s\n", what);
    std::abort();
  }
}

MemoryFile::MemoryFile(const char* name) {
  m_Fd = memfd_create(name, 0);
  Check(m_Fd >= 0, "memfd_create");
  m_Path = "/proc/self/fd/" + std::to_string(m_Fd);
}

MemoryFile::~MemoryFile() { close(m_Fd); }

void MemoryFile::Set(const void* data, std::size_t size) {
  Check(ftruncate(m_Fd, 0) == 0, "ftruncate");
  const char* bytes = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(m_Fd, bytes + done, size - done, static_cast<off_t>(done));
    Check(n > 0, "pwrite");
    done += static_cast<std::size_t>(n);
  }
}

std::string MemoryFile::Get() const {
  struct stat info {};
  Check(fstat(m_Fd, &info) == 0, "fstat");
  std::string text(static_cast<std::size_t>(info.st_size), '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = pread(m_Fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    Check(n > 0, "pread");
    done += static_cast<std::size_t>(n);
  }
  return text;
}

int RunAndCheck(cli::Options options, const std::string& input, const std::string* table) {
  static MemoryFile program("in.ngc");
  static MemoryFile toolTable("tools.tbl");
  static MemoryFile written("out.ngc");
  static MemoryFile record("out.json");
  static MemoryFile picture("out.svg");
  program.Set(input.data(), input.size());
  cli::Program source;
  source.name = program.Path();
  if (table != nullptr) {
    toolTable.Set(table->data(), table->size());
    options.toolTable = toolTable.Path();
  }
  written.Set(nullptr, 0);
  record.Set(nullptr, 0);
  picture.Set(nullptr, 0);
  options.output = written.Path();
  options.json = record.Path();
  options.svg = picture.Path();
  // A gouging path is written all the same, so that it is checked against its record too.
  options.allowGouge = true;

  char* diagnosticsText = nullptr;
  std::size_t diagnosticsSize = 0;
  std::FILE* diagnostics = open_memstream(&diagnosticsText, &diagnosticsSize);
  Check(diagnostics != nullptr, "open_memstream");
  const int exit = cli::RunPrinting(source, options, diagnostics);
  std::fclose(diagnostics);
  const std::string messages(diagnosticsText, diagnosticsSize);
  std::free(diagnosticsText);

  Check(exit == cli::EXIT_OK || exit == cli::EXIT_COMPENSATION_FAILED ||
            exit == cli::EXIT_BAD_INPUT || exit == cli::EXIT_GOUGE,
        "an exit code the tool does not have");
  const std::size_t inputLines = CountLines(input);
  const std::size_t tableLines = table != nullptr ? CountLines(*table) : 0;
  bool error = false;
  std::size_t from = 0;
  while (from < messages.size()) {
    std::size_t end = messages.find('\n', from);
    Check(end != std::string::npos, "a message without its line break");
    error = CheckMessage(messages.substr(from, end - from), program.Path(), inputLines,
                         table != nullptr ? &toolTable.Path() : nullptr, tableLines) ||
            error;
    from = end + 1;
  }
  Check(error == (exit == cli::EXIT_COMPENSATION_FAILED || exit == cli::EXIT_BAD_INPUT),
        "an error message and the exit code disagree");

  const std::string text = written.Get();
  if (std::getenv("CUTCOMP_FUZZ_VERBOSE") != nullptr) {
    g_Run = "--- program\n" + input + "\n--- messages\n" + messages + "--- written\n" + text +
            "--- record\n" + record.Get() + "---\n";
  }
  if (exit == cli::EXIT_BAD_INPUT) {
    Check(text.empty(), "a program with an input error wrote something");
    return exit;
  }
  const std::vector<Recorded> path = CheckRecord(record.Get(), exit);
  CheckWrittenProgram(text, path);
  const std::string svg = picture.Get();
  Check(svg.size() >= 7 && svg.compare(svg.size() - 7, 7, "</svg>\n") == 0,
        "a picture that is not finished");
  Check(svg.find("nan") == std::string::npos && svg.find("inf") == std::string::npos,
        "a picture with a number that is not finite");
  return exit;
}

}  // namespace cutcomp::fuzz
