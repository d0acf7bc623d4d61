// SPDX-License-Identifier: MIT
// Subprograms and macro calls of the Fanuc-family dialects: M98 (a program by its number, in
// the same file or a file of its own), M97 (Haas: a sequence number of the same program), G65
// (a macro with arguments in local variables of its own), G66/G67 (the same after every move),
// and M99, which returns, jumps, or ends a main program. A call is decided on its line and
// made before the next line is read, so that the line's other words go out first.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "executor.h"

namespace cutcomp::language {

using cli::InputError;
using cli::Item;
using detail::LineError;

namespace {

// Subprograms (M98, M97) nest ten deep and macro calls (G65, G66) five deep on Fanuc-family
// controls (0i, 30i): a program that goes deeper stops there with an alarm.
constexpr std::size_t MAX_SUBPROGRAM_NESTING = 10;
constexpr std::size_t MAX_MACRO_NESTING = 5;

// The first argument list: the local variable each address of a G65 or G66 block sets (0:
// no argument; G, L, N, O and P are the call's own).
int ArgumentOf(char letter) {
  static const std::array<int, 26> VARIABLES = {1, 2, 3, 7,  8,  9,  0,  11, 4,  5,  6,  0,  13,
                                                0, 0, 0, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26};
  return letter >= 'A' && letter <= 'Z' ? VARIABLES[static_cast<std::size_t>(letter - 'A')] : 0;
}

std::string ProgramLabel(long number) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "O%04ld", number);
  return buffer;
}

// A whole number of at least `min`, or a LineError naming the word.
long Whole(const Item& item, double min, const std::string& what) {
  if (item.value < min || item.value > 99999999.0 ||
      item.value != std::floor(item.value)) {  // exact: whole
    throw LineError(item.col, item.text + ": " + what);
  }
  return static_cast<long>(item.value);
}

}  // namespace

// Reads the call, return and modal-call words of the block in m_Evaluated, takes them and
// their P and L out of it and sets m_Pending (or the G66 state). False when the block has none.
// refuses: two of them in one block, a call without its P, P or L that is no whole number,
// P with a repeat count and L, G65/G66 with another G code or O, an argument given twice or
// the second argument list (I J K repeated), M97 outside Haas, G66.1, G66 while G66 is in force,
// any of them on a block-delete line.
bool LanguageSource::Impl::CallWords() {
  std::vector<Item>& items = m_Evaluated.items;
  const Item* flow = nullptr;
  for (const Item& item : items) {
    if (item.kind != Item::WORD) {
      continue;
    }
    const bool m = item.letter == 'M' &&
                   (item.value == 98 || item.value == 99 || (item.value == 97 && m_Rules.haas));
    const bool g = item.letter == 'G' && item.value >= 65 && item.value <= 67;
    if (item.letter == 'M' && item.value == 97 && !m_Rules.haas) {
      // On a Fanuc control M97 is no call: passed on, the subprogram it names would not run.
      throw LineError(item.col, "M97 (a local subprogram) is Haas': the dialect is fanuc");
    }
    if (item.letter == 'G' && item.value == 66.1) {
      throw LineError(item.col, "G66.1 (a macro called at every block) is not supported");
    }
    if (!m && !g) {
      continue;
    }
    if (flow != nullptr) {
      throw LineError(item.col, item.text + " and " + flow->text + " in one block");
    }
    flow = &item;
  }
  if (flow == nullptr) {
    return false;
  }
  if (m_Evaluated.blockDelete) {
    // The call is run away here: the written program could not leave it to the switch.
    throw LineError(flow->col, flow->text +
                                   " on a block-delete line ('/'): whether it runs would "
                                   "depend on the machine's block-delete switch");
  }
  PendingFlow pending;
  pending.site = Here();
  pending.col = flow->col;
  pending.what = std::string(1, flow->letter) + std::to_string(static_cast<int>(flow->value));
  const Item* p = nullptr;
  const Item* l = nullptr;
  std::vector<Item> rest;
  const bool macro = flow->letter == 'G' && flow->value != 67;
  for (const Item& item : items) {
    if (&item == flow) {
      continue;
    }
    if (item.kind == Item::WORD && (item.letter == 'P' || item.letter == 'L')) {
      const Item*& word = item.letter == 'P' ? p : l;
      if (word != nullptr) {
        throw LineError(item.col, "two " + std::string(1, item.letter) + " words in a " +
                                      pending.what + " block");
      }
      word = &item;
      continue;
    }
    if (!macro || item.kind != Item::WORD || item.letter == 'N') {
      rest.push_back(item);  // a subprogram call's block moves before the call
      continue;
    }
    if (item.letter == 'G' || item.letter == 'O') {
      throw LineError(item.col, item.text + " in a " + pending.what + " block: its other words " +
                                    "are the macro's arguments");
    }
    const int variable = ArgumentOf(item.letter);
    std::optional<double>& argument = pending.arguments[static_cast<std::size_t>(variable - 1)];
    if (argument.has_value()) {
      throw LineError(item.col, item.text + ": a second " + std::string(1, item.letter) +
                                    " (the second argument list, with I J K repeated, is not "
                                    "supported)");
    }
    argument = item.value;
  }
  if (pending.what == "G67") {
    m_ModalOn = false;
  } else if (pending.what == "M99") {
    pending.kind = PendingFlow::RETURN;
    pending.number = p != nullptr ? Whole(*p, 1.0, "M99 P names a sequence number") : -1;
    if (l != nullptr) {
      throw LineError(l->col, "L in an M99 block");
    }
  } else {
    if (p == nullptr) {
      throw LineError(flow->col,
                      pending.what + " needs P, the " +
                          (pending.what == "M97" ? "sequence number" : "program number") +
                          " to call");
    }
    pending.kind = PendingFlow::CALL;
    pending.call = pending.what == "M98"   ? CallKind::SUBPROGRAM
                   : pending.what == "M97" ? CallKind::LOCAL
                   : pending.what == "G65" ? CallKind::MACRO
                                           : CallKind::MODAL;
    pending.number = Whole(*p, 1.0, "P names a program or a sequence number");
    if (l != nullptr) {
      pending.repeats = Whole(*l, 1.0, "L, the number of runs, is a whole number of at least 1");
    }
    // M98 P31234: more than four digits are the runs, then the program (O1234 three times).
    const std::string digits = p->computed ? std::to_string(pending.number) : p->text.substr(1);
    if (pending.call == CallKind::SUBPROGRAM &&
        std::count_if(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) >
            4) {
      if (l != nullptr) {
        throw LineError(p->col, p->text +
                                    " holds a repeat count before the program number, and "
                                    "L gives another");
      }
      pending.repeats = pending.number / 10000;
      pending.number %= 10000;
      if (pending.repeats == 0) {
        throw LineError(p->col, p->text +
                                    ": the digits before the last four are the number of "
                                    "runs, here 0");
      }
    }
  }
  items = std::move(rest);
  m_Evaluated.computed = true;  // the block is what is left of it
  if (pending.call == CallKind::MODAL && pending.kind == PendingFlow::CALL) {
    if (m_ModalOn) {
      throw LineError(pending.col, "G66 while G66 is in force: cancel it with G67 first");
    }
    m_ModalOn = true;
    m_Modal = pending;
    return true;
  }
  m_Pending = pending;
  return true;
}

void LanguageSource::Impl::Perform() {
  const PendingFlow flow = m_Pending;
  m_Pending = PendingFlow();
  if (flow.kind == PendingFlow::CALL) {
    MacroCall(flow);
  } else {
    MacroReturn(flow);
  }
}

void LanguageSource::Impl::MacroCall(const PendingFlow& call) {
  const bool macro = call.call == CallKind::MACRO || call.call == CallKind::MODAL;
  const std::size_t nested = static_cast<std::size_t>(
      std::count_if(m_Frames.begin(), m_Frames.end(), [macro](const Frame& frame) {
        const bool frameMacro = frame.call == CallKind::MACRO || frame.call == CallKind::MODAL;
        return frame.call != CallKind::MAIN && frameMacro == macro;
      }));
  if (macro ? nested >= MAX_MACRO_NESTING : nested >= MAX_SUBPROGRAM_NESTING) {
    throw LineError(
        call.col,
        "more than " + std::to_string(macro ? MAX_MACRO_NESTING : MAX_SUBPROGRAM_NESTING) +
            (macro ? " nested macro calls (G65, G66)" : " nested subprogram calls (M98, M97)") +
            ": the control stops there (a recursion that does not end?)");
  }
  if (m_Frames.size() > m_Options.maxCallDepth) {
    throw LineError(call.col, "more than " + std::to_string(m_Options.maxCallDepth) +
                                  " nested calls: a recursion that does not end?");
  }
  Frame frame;
  frame.call = call.call;
  frame.callSite = call.site;
  frame.returnFile = m_File;
  frame.returnPosition = File().Here();
  frame.repeats = call.repeats;
  if (call.call == CallKind::LOCAL) {
    // M97 P1000: the block N1000 of the program that calls, and on from there to its M99.
    const Frame& caller = m_Frames.back();
    const std::vector<SequenceTarget>& hits = Targets(caller, call.number);
    if (hits.empty()) {
      throw LineError(call.col, "M97 P" + std::to_string(call.number) + ": " + ProgramName(caller) +
                                    " has no block N" + std::to_string(call.number));
    }
    frame.label = "N" + std::to_string(call.number);
    frame.program = caller.program;
    frame.programFile = caller.programFile;
    frame.programStart = caller.programStart;
    frame.bodyStart = hits.front().position;
    frame.definition = {m_Files[caller.programFile]->Name(), hits.front().position.linesBefore + 1};
  } else {
    const SubDefinition definition = FindProgram(call.number, call.site, call.col);
    frame.label = ProgramLabel(call.number);
    frame.program = call.number;
    frame.programFile = definition.file;
    frame.programStart = definition.body;
    frame.bodyStart = definition.body;
    frame.definition = {m_Files[definition.file]->Name(), definition.line};
  }
  if (macro) {
    frame.arguments = call.arguments;
    m_Variables.locals.push_back(call.arguments);
    frame.level = m_Variables.locals.size() - 1;
  } else {
    frame.level = m_Frames.back().level;
  }
  m_CallSites[{call.site.file, call.site.line}] = frame.label;
  m_File = frame.programFile;
  const FilePosition body = frame.bodyStart;
  m_Frames.push_back(std::move(frame));
  File().Seek(body);
}

void LanguageSource::Impl::MacroReturn(const PendingFlow& flow) {
  Frame& frame = m_Frames.back();
  if (frame.call == CallKind::MAIN) {
    if (flow.number >= 0) {
      Goto(flow.number, File().Here().offset, flow.col);  // M99 P10 in a main program: a jump
      return;
    }
    // M99 ending a main program: the control would start it again; the program ends here.
    m_Ended = true;
    m_EndedInMain = true;
    return;
  }
  if (m_Rules.haas && flow.number >= 0) {
    // Haas: M99 P10 in a subprogram jumps to N10 of that subprogram.
    Goto(flow.number, File().Here().offset, flow.col);
    return;
  }
  if (frame.repeats > 1) {
    if (flow.number >= 0) {
      throw LineError(flow.col, "M99 P" + std::to_string(flow.number) +
                                    " in a subprogram called to run again: whether it jumps "
                                    "before the last run is not clear");
    }
    --frame.repeats;
    frame.controls.clear();
    if (frame.call == CallKind::MACRO || frame.call == CallKind::MODAL) {
      m_Variables.locals[frame.level] = frame.arguments;
    }
    File().Seek(frame.bodyStart);
    return;
  }
  const bool macro = frame.call == CallKind::MACRO || frame.call == CallKind::MODAL;
  const FilePosition back = frame.returnPosition;
  m_File = frame.returnFile;
  m_Frames.pop_back();
  if (macro) {
    m_Variables.locals.pop_back();
  }
  File().Seek(back);
  if (flow.number >= 0) {
    // M99 P10: back in the caller, on at its block N10 rather than after the call.
    Goto(flow.number, back.offset, flow.col);
  }
}

// Looks `file` through from its start for the line "O<number>".
bool LanguageSource::Impl::SearchProgram(long number, std::size_t file, SubDefinition& found) {
  SourceFile& source = *m_Files[file];
  const FilePosition back = source.Here();
  source.Seek(source.Start());
  std::string line;
  bool hit = false;
  while (source.Next(line)) {
    Count();
    const detail::MacroHead head = detail::ReadMacroHead(line);
    if (head.kind == detail::MacroHead::PROGRAM && head.program == number &&
        !(head.blockDelete && m_Options.skipBlockDelete)) {
      found = {file, source.Here(), source.LineNumber()};
      hit = true;
      break;
    }
  }
  source.Seek(back);
  return hit;
}

// A file named after the program that holds no program number at all (its blocks saved
// alone): its text from the start, after a leading '%', is the program. A file that numbers
// other programs holds none of this one.
bool LanguageSource::Impl::HeaderlessProgram(std::size_t file, SubDefinition& found) {
  SourceFile& source = *m_Files[file];
  const FilePosition back = source.Here();
  source.Seek(source.Start());
  SubDefinition body{file, source.Start(), 0};
  bool first = true;
  bool numbered = false;
  std::string line;
  while (!numbered && source.Next(line)) {
    Count();
    const std::size_t at = line.find_first_not_of(" \t\r");
    if (at == std::string::npos) {
      continue;
    }
    if (first && line[at] == '%') {
      body.body = source.Here();
      body.line = source.LineNumber();
    }
    first = false;
    numbered = detail::ReadMacroHead(line).kind == detail::MacroHead::PROGRAM;
  }
  source.Seek(back);
  if (!numbered) {
    found = body;
  }
  return !numbered;
}

// A called program: in the file that calls, in the main program's file, or in a file of its
// own named after it on the subroutine path (O1234.nc, O01234.nc, 1234.nc...).
SubDefinition LanguageSource::Impl::FindProgram(long number, const cli::SourceLocation& site,
                                                std::size_t col) {
  const auto known = m_Programs.find(number);
  if (known != m_Programs.end()) {
    return known->second;
  }
  SubDefinition found;
  if (SearchProgram(number, m_File, found) || (m_File != 0 && SearchProgram(number, 0, found))) {
    m_Programs[number] = found;
    return found;
  }
  const std::string label = ProgramLabel(number);
  std::vector<std::string> names;
  for (const char* format :
       {"O%04ld.nc", "O%ld.nc", "O%05ld.nc", "o%04ld.nc", "o%ld.nc", "%04ld.nc", "%ld.nc"}) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, format, number);
    if (std::find(names.begin(), names.end(), buffer) == names.end()) {
      names.emplace_back(buffer);
    }
  }
  for (const std::string& dir : m_Options.subroutineDirs) {
    for (const std::string& name : names) {
      std::string path = dir;
      if (!path.empty() && path.back() != '/') {
        path += '/';
      }
      path += name;
      std::FILE* file = std::fopen(path.c_str(), "rb");
      if (file == nullptr) {
        continue;
      }
      m_Files.push_back(std::make_unique<SourceFile>(file, path, true));
      if (SearchProgram(number, m_Files.size() - 1, found) ||
          HeaderlessProgram(m_Files.size() - 1, found)) {
        m_Programs[number] = found;
        return found;
      }
      path += " does not hold ";
      path += label;
      throw InputError(site, col, path, Callers());
    }
  }
  throw InputError(site, col,
                   label + " is not found: not in the program, and no " + label + ".nc or " +
                       label.substr(1) + ".nc beside it or on the subroutine path",
                   Callers());
}

}  // namespace cutcomp::language
