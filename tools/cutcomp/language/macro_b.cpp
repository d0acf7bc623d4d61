// SPDX-License-Identifier: MIT
// The Fanuc-family dialects: which line runs next (WHILE ... DO / END loops, GOTO and IF
// jumps to sequence numbers, the ends of programs), what a line hands on, and the variables:
// local, common and the system variables a program reads. Calls and returns (M98, M99, G65,
// G66, M97) are macro_calls.cpp's; reading a line is the evaluator's.
#include <algorithm>
#include <cmath>
#include <string>

#include "executor.h"

namespace cutcomp::language {

using cli::InputError;
using cli::Item;
using cli::SourceBlock;
using detail::LineError;
using detail::MacroHead;
using detail::MacroStatement;

namespace {

bool EndsProgram(const std::vector<Item>& items) {
  return std::any_of(items.begin(), items.end(), [](const Item& item) {
    return item.kind == Item::WORD && item.letter == 'M' && (item.value == 2 || item.value == 30);
  });
}

bool Percent(const std::vector<Item>& items) {
  return items.size() == 1 && items[0].kind == Item::COMMENT && items[0].text == "%";
}

bool PercentLine(const std::string& line) {
  const std::size_t first = line.find_first_not_of(" \t");
  return first != std::string::npos && line[first] == '%';
}

bool MovesAxis(char letter) {
  switch (letter) {
  case 'X':
  case 'Y':
  case 'Z':
  case 'A':
  case 'B':
  case 'C':
  case 'U':
  case 'V':
  case 'W':
    return true;
  default:
    return false;
  }
}

// Coordinates and angles whose numbers a Fanuc-family control may read in its least input
// increment when they have no decimal point.
bool Coordinate(char letter) {
  return MovesAxis(letter) || letter == 'I' || letter == 'J' || letter == 'K' || letter == 'R' ||
         letter == 'Q';
}

std::string Loop(int m) { return std::to_string(m); }

// Whether a block is in millimetres: G20 or G21 written in it (as a plain word) decide, else
// the units in force before it. ROUND in an address rounds in the block's units.
bool MetricBlock(const std::string& line, bool metric) {
  for (std::size_t pos = 0; pos < line.size(); ++pos) {
    if (line[pos] != 'G' && line[pos] != 'g') {
      continue;
    }
    std::size_t k = pos + 1;
    while (k < line.size() && line[k] == '0') {
      ++k;
    }
    if (k + 1 < line.size() && line[k] == '2' && (line[k + 1] == '0' || line[k + 1] == '1') &&
        (k + 2 == line.size() || line[k + 2] < '0' || line[k + 2] > '9') &&
        (k + 2 == line.size() || line[k + 2] != '.')) {
      metric = line[k + 1] == '1';
    }
  }
  return metric;
}

}  // namespace

std::string LanguageSource::Impl::ProgramName(const Frame& frame) const {
  if (frame.call == CallKind::MAIN) {
    return frame.program >= 0 ? "the main program O" + std::to_string(frame.program)
                              : "the main program";
  }
  return frame.label;
}

// ---------------------------------------------------------------------------------------------
// Lines

bool LanguageSource::Impl::NextMacro(SourceBlock& block) {
  if (m_Ended && !m_EndedInMain) {
    return false;
  }
  for (;;) {
    if (m_Pending.kind != PendingFlow::NONE) {
      try {
        Perform();
      } catch (const LineError& error) {
        throw Located(error.Col(), error.what());
      }
      if (m_Ended && !m_EndedInMain) {
        return false;
      }
      continue;
    }
    if (!File().Next(m_Line)) {
      if (MacroEndOfFile()) {
        return false;
      }
      continue;
    }
    Count();
    try {
      if (MacroLine(block)) {
        return true;
      }
    } catch (const LineError& error) {
      throw Located(error.Col(), Foreign(error.what()));
    }
  }
}

bool LanguageSource::Impl::MacroLine(SourceBlock& block) {
  const MacroHead head = detail::ReadMacroHead(m_Line);
  if (m_Ended) {
    return MacroAfterEnd(block, head);
  }
  if (head.blockDelete) {
    if (m_Options.skipBlockDelete) {
      return false;
    }
    if (head.skipSwitch != 0) {
      throw LineError(1, "block delete /" + std::to_string(head.skipSwitch) +
                             ": only '/', the first switch, is supported");
    }
    if (head.kind != MacroHead::WORDS && head.kind != MacroHead::PROGRAM) {
      throw LineError(head.body + 1,
                      "a macro statement on a block-delete line ('/'): whether "
                      "it runs would depend on the machine's block-delete "
                      "switch");
    }
  }
  switch (head.kind) {
  case MacroHead::NGC_OWORD: {
    const std::optional<detail::OHead> oword = detail::ReadOHead(m_Line, true);
    throw Mixing(head.body + 1,
                 oword ? oword->Display() + " " + detail::KeywordText(oword->keyword) : "o");
  }
  case MacroHead::PRINT:
    Warn(head.body + 1, head.keyword + " (output to a port) is left out: it moves nothing");
    return false;
  case MacroHead::PROGRAM:
    if (m_Frames.size() == 1 && !m_MainStarted) {
      m_Frames[0].program = head.program;  // the main program's own number
      return MacroWords(block, head);
    }
    EndOfProgramText("the next program, O" + std::to_string(head.program) + ", begins");
    return false;
  case MacroHead::WORDS:
    return MacroWords(block, head);
  default:
    return Statement(block, head);
  }
}

bool LanguageSource::Impl::MacroWords(SourceBlock& block, const MacroHead& head) {
  std::size_t start = 0;
  if (head.body < m_Line.size() && m_Line[head.body] == '[') {
    // Haas: "[#1 LT 10] M99 P10" returns or jumps only when the condition holds.
    if (!m_Rules.haas) {
      throw LineError(head.body + 1,
                      "a condition before a block is Haas' conditional M99, "
                      "not Fanuc's: write IF [...] GOTO n");
    }
    start = head.body;
    m_Rules.metric = MetricBlock(m_Line, m_State.Metric());
    if (!detail::ReadMacroCondition(m_Line, start, *this, m_Rules)) {
      m_MainStarted = true;
      return false;
    }
  }
  if (start != 0 || !detail::ReadPlainLine(m_Line, m_Evaluated)) {
    m_Rules.metric = MetricBlock(m_Line, m_State.Metric());
    detail::EvaluateLine(m_Line, *this, false, m_Evaluated, false, &m_Rules, start);
  } else {
    m_Evaluated.vacant.clear();
  }
  if (start != 0 &&
      !std::any_of(m_Evaluated.items.begin(), m_Evaluated.items.end(), [](const Item& item) {
        return item.kind == Item::WORD && item.letter == 'M' && item.value == 99;
      })) {
    throw LineError(start + 1, "a condition before a block takes M99 only ([...] M99 P10)");
  }
  if (Percent(m_Evaluated.items)) {
    if (m_Frames.size() > 1 || m_MainStarted) {
      EndOfProgramText("'%' ends the text");
    }
    Emit(block);
    return true;
  }
  if (m_Frames.back().level == 0) {
    // In a macro call an argument left out is the usual way to leave a word out; in the main
    // program's variables it is more often a variable that was never set.
    for (const detail::VacantWord& vacant : m_Evaluated.vacant) {
      Warn(vacant.col, std::string(1, vacant.letter) +
                           " is left out: its value is vacant, and the control leaves such a "
                           "word out");
    }
  }
  if (!m_MainStarted && head.kind != MacroHead::PROGRAM) {
    m_MainStarted =
        !m_Evaluated.vacant.empty() ||
        std::any_of(m_Evaluated.items.begin(), m_Evaluated.items.end(),
                    [](const Item& item) { return item.kind == Item::WORD && item.letter != 'N'; });
  }
  Addresses();
  if (CallWords()) {
    const bool rest =
        std::any_of(m_Evaluated.items.begin(), m_Evaluated.items.end(),
                    [](const Item& item) { return item.kind == Item::WORD && item.letter != 'N'; });
    if (!rest) {
      return false;
    }
  } else if (m_Evaluated.items.empty() && m_Evaluated.computed) {
    return false;  // every word vacant
  }
  Emit(block);
  if (EndsProgram(block.items)) {
    m_Ended = true;
    m_EndedInMain = m_Frames.size() == 1;
    return true;
  }
  if (m_ModalOn && m_Pending.kind == PendingFlow::NONE &&
      std::none_of(m_Frames.begin(), m_Frames.end(),
                   [](const Frame& frame) { return frame.call == CallKind::MODAL; }) &&
      std::any_of(block.items.begin(), block.items.end(), [](const Item& item) {
        return item.kind == Item::WORD && MovesAxis(item.letter);
      })) {
    // G66: the macro runs after each block that moves, with the arguments G66 gave.
    if (block.blockDelete) {
      throw LineError(1,
                      "a block-delete line ('/') that moves while G66 is in force: whether "
                      "the macro runs after it would depend on the machine's block-delete "
                      "switch");
    }
    m_Pending = m_Modal;
    m_Pending.site = Here();
  }
  return true;
}

void LanguageSource::Impl::Addresses() {
  if (!m_Evaluated.computed &&
      (m_Options.integerWords == IntegerWords::WHOLE ||
       (m_Options.integerWords == IntegerWords::WARN && m_WarnedIntegers))) {
    return;  // plain words that no reading of integers changes
  }
  bool metric = m_State.Metric();
  bool call = false;
  // A lathe's profile cycles (G70-G72, and G73 with P: the pattern-repeating cycle rather than a
  // machining centre's peck drilling, which takes no P) name their first and last blocks with P
  // and Q: sequence numbers, not lengths.
  bool profileCycle = false;
  bool p = false;
  for (const Item& item : m_Evaluated.items) {
    if (item.kind == Item::WORD && item.letter == 'G') {
      metric = item.value == 20 ? false : item.value == 21 ? true : metric;
      call = call || item.value == 65 || item.value == 66;
      profileCycle = profileCycle || item.value == 70 || item.value == 71 || item.value == 72;
    }
    p = p || (item.kind == Item::WORD && item.letter == 'P');
  }
  profileCycle =
      profileCycle ||
      (p && std::any_of(m_Evaluated.items.begin(), m_Evaluated.items.end(), [](const Item& item) {
         return item.kind == Item::WORD && item.letter == 'G' && item.value == 73;
       }));
  for (Item& item : m_Evaluated.items) {
    if (item.kind != Item::WORD) {
      continue;
    }
    if (item.computed) {
      // The control rounds an address to its least input increment (X[#1 + #2] with a sum of
      // 3.5801 moves to 3.58); a macro call's arguments keep their values.
      if (!call) {
        const double rounded = detail::RoundToAddress(item.letter, item.value, metric);
        if (rounded != item.value) {  // exact: only a value that changed is rewritten
          item.value = rounded;
          item.text = detail::FormatWord(item.letter, rounded);
        }
      }
      continue;
    }
    if (!Coordinate(item.letter) || (profileCycle && item.letter == 'Q') || item.value == 0.0 ||
        item.text.find('.') != std::string::npos) {
      continue;
    }
    const bool angle = item.letter == 'A' || item.letter == 'B' || item.letter == 'C';
    const double increment = angle || metric ? 1000.0 : 10000.0;
    const double scaled = item.value / increment;
    if (m_Options.integerWords == IntegerWords::INCREMENT) {
      item.value = scaled;
      item.text = detail::FormatWord(item.letter, scaled);
      item.computed = true;
      m_Evaluated.computed = true;
    } else if (m_Options.integerWords == IntegerWords::WARN && !m_WarnedIntegers) {
      m_WarnedIntegers = true;
      const std::string unit = angle ? " degrees" : metric ? " mm" : " inch";
      std::string message = item.text;
      message += " has no decimal point: read as ";
      message += item.text.substr(1);
      message += unit;
      message += "; a control that reads such numbers in its least input increment goes to ";
      message += detail::FormatWord(item.letter, scaled).substr(1);
      message += unit;
      message += " (write ";
      message += item.text;
      message += ". to be sure)";
      Warn(item.col, message);
    }
  }
}

// After M2, M30 or M99 ends the main program nothing of it runs. What follows in its text is,
// in Fanuc-family files, most often the subprograms (O numbers) and Haas' local subprograms
// (N numbers) it calls, which ran where they were called: lines with words or statements are
// passed over; comments and a closing '%' are handed on.
bool LanguageSource::Impl::MacroAfterEnd(SourceBlock& block, const MacroHead& head) {
  if (head.kind == MacroHead::PROGRAM) {
    m_PastPrograms = true;  // another program's text: only a closing '%' goes on from here
  }
  if (head.kind != MacroHead::WORDS || head.blockDelete) {
    return false;
  }
  try {
    detail::EvaluateLine(m_Line, *this, true, m_Evaluated, true, &m_Rules);
  } catch (const detail::PlainOnly&) {
    return false;
  } catch (const LineError&) {
    return false;  // not run: not read either
  }
  const bool words = std::any_of(m_Evaluated.items.begin(), m_Evaluated.items.end(),
                                 [](const Item& item) { return item.kind == Item::WORD; });
  if (words || (m_PastPrograms && !Percent(m_Evaluated.items))) {
    return false;
  }
  if (Percent(m_Evaluated.items)) {
    m_PastPrograms = true;
  }
  Emit(block);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Control flow

bool LanguageSource::Impl::Statement(SourceBlock& block, const MacroHead& head) {
  m_MainStarted = true;
  m_Rules.metric = m_State.Metric();
  const FilePosition lineStart = File().LineStart();
  const FilePosition next = File().Here();
  const MacroStatement statement = detail::ReadMacroStatement(m_Line, head, *this, m_Rules);
  switch (statement.kind) {
  case MacroStatement::NONE:
    return false;
  case MacroStatement::ASSIGN:
    return WriteMacro(block, statement.assignment, statement.assignment.target.col);
  case MacroStatement::GOTO:
    Goto(statement.target, next.offset, statement.targetCol);
    return false;
  case MacroStatement::WHILE:
    if (statement.holds) {
      OpenLoop(statement, lineStart);
    } else {
      SkipToEnd(statement.loop, statement.col);
    }
    return false;
  case MacroStatement::DO:
    OpenLoop(statement, next);
    return false;
  case MacroStatement::END: {
    std::vector<Control>& controls = m_Frames.back().controls;
    const std::string m = Loop(statement.loop);
    if (controls.empty()) {
      throw LineError(statement.col, "END" + m + " without DO" + m);
    }
    const Control& top = controls.back();
    if (top.label != m) {
      throw LineError(statement.col, "END" + m + " while DO" + top.label + " (line " +
                                         std::to_string(top.line) + ") is open");
    }
    const FilePosition start = top.start;
    if (top.kind == detail::Keyword::WHILE) {
      controls.pop_back();  // the WHILE line tests its condition again
    }
    File().Seek(start);
    return false;
  }
  }
  return false;
}

// Loops nest three deep, each with a number of its own (1, 2 or 3): a fourth would need a number
// in use, which is refused here.
void LanguageSource::Impl::OpenLoop(const MacroStatement& statement, FilePosition start) {
  std::vector<Control>& controls = m_Frames.back().controls;
  const std::string m = Loop(statement.loop);
  for (const Control& open : controls) {
    if (open.label == m) {
      std::string message = "DO";
      message += m;
      message += " inside the loop DO";
      message += m;
      message += " of line " + std::to_string(open.line);
      message += ": nested loops need numbers of their own";
      throw LineError(statement.col, message);
    }
  }
  Control loop;
  loop.kind =
      statement.kind == MacroStatement::WHILE ? detail::Keyword::WHILE : detail::Keyword::DO;
  loop.label = m;
  loop.start = start;
  loop.line = File().LineNumber();
  loop.lineOffset = File().LineStart().offset;
  controls.push_back(loop);
}

// A WHILE whose condition fails: on after its END.
void LanguageSource::Impl::SkipToEnd(int loop, std::size_t col) {
  const cli::SourceLocation where = Here();
  const std::string m = Loop(loop);
  for (;;) {
    std::string message;
    if (!File().Next(m_Line)) {
      message = "the file ends";
    } else {
      Count();
      const MacroHead head = detail::ReadMacroHead(m_Line);
      if (head.blockDelete && m_Options.skipBlockDelete) {
        continue;
      }
      if (head.kind == MacroHead::END && head.loop == loop) {
        return;
      }
      if (head.kind == MacroHead::PROGRAM || PercentLine(m_Line)) {
        message = "the program's text ends";
      }
    }
    if (!message.empty()) {
      std::string text = "WHILE [...] DO";
      text += m;
      text += " is not closed: ";
      text += message;
      text += " before END";
      text += m;
      throw InputError(where, col, text, Callers());
    }
  }
}

// The blocks numbered `target` in the program `frame` runs, each with the loops around it:
// found by reading the program once, then kept.
const std::vector<SequenceTarget>& LanguageSource::Impl::Targets(const Frame& frame, long target) {
  const auto key = std::make_tuple(frame.programFile, frame.programStart.offset, target);
  const auto known = m_Targets.find(key);
  if (known != m_Targets.end()) {
    return known->second;
  }
  std::vector<SequenceTarget>& hits = m_Targets[key];
  SourceFile& source = *m_Files[frame.programFile];
  const FilePosition back = source.Here();
  source.Seek(frame.programStart);
  std::vector<std::pair<long, int>> loops;  // offset and number of each open WHILE or DO
  // The main program's text may open with '%' and its own number; a subprogram's starts after
  // its number.
  bool content = frame.call != CallKind::MAIN;
  std::string line;
  while (source.Next(line)) {
    Count();
    const MacroHead head = detail::ReadMacroHead(line);
    if (head.blockDelete && m_Options.skipBlockDelete) {
      continue;
    }
    if (head.kind == MacroHead::PROGRAM || PercentLine(line)) {
      if (content) {
        break;
      }
      continue;
    }
    content = content || line.find_first_not_of(" \t") != std::string::npos;
    if (head.sequence == target) {
      SequenceTarget hit;
      hit.position = source.LineStart();
      for (const auto& [offset, m] : loops) {
        hit.loops.push_back(offset);
      }
      hits.push_back(std::move(hit));
    }
    if (head.kind == MacroHead::WHILE || head.kind == MacroHead::DO) {
      loops.emplace_back(source.LineStart().offset, head.loop);
    } else if (head.kind == MacroHead::END && !loops.empty() && loops.back().second == head.loop) {
      loops.pop_back();
    }
  }
  source.Seek(back);
  return hits;
}

// GOTO n: the control looks for Nn from the block after the jump (`from`) to the end of the
// program, then from its start. Out of loops is allowed, into one is not.
void LanguageSource::Impl::Goto(long target, long from, std::size_t col) {
  Frame& frame = m_Frames.back();
  const std::vector<SequenceTarget>& hits = Targets(frame, target);
  if (hits.empty()) {
    throw LineError(col, "GOTO " + std::to_string(target) + ": " + ProgramName(frame) +
                             " has no block N" + std::to_string(target));
  }
  const auto forward = std::find_if(hits.begin(), hits.end(), [from](const SequenceTarget& hit) {
    return hit.position.offset >= from;
  });
  const SequenceTarget& hit = forward != hits.end() ? *forward : hits.front();
  std::vector<Control>& controls = frame.controls;
  std::size_t kept = 0;
  while (kept < hit.loops.size() && kept < controls.size() &&
         hit.loops[kept] == controls[kept].lineOffset) {
    ++kept;
  }
  if (kept < hit.loops.size()) {
    throw LineError(col, "Fanuc macro B GOTO into a WHILE loop is not supported");
  }
  controls.resize(kept);
  File().Seek(hit.position);
}

bool LanguageSource::Impl::MacroEndOfFile() {
  if (m_Ended) {
    return true;
  }
  if (m_Frames.size() > 1) {
    const Frame& frame = m_Frames.back();
    throw InputError(frame.definition, 0,
                     ProgramName(frame) + " ends without M99: the file ends first", Callers());
  }
  EndOfProgramText("the file ends");
  return true;
}

// The end of the running program's text (the end of the file, '%', or the next program's
// number): the end of the main program, or an error in a subprogram.
void LanguageSource::Impl::EndOfProgramText(const std::string& why) {
  const Frame& frame = m_Frames.back();
  if (m_Frames.size() > 1) {
    throw Located(0, ProgramName(frame) + " ends without M99: " + why + " first");
  }
  if (!frame.controls.empty()) {
    const Control& open = frame.controls.back();
    const std::string m = open.label;
    throw InputError({File().Name(), open.line}, 0,
                     std::string(open.kind == detail::Keyword::WHILE ? "WHILE [...] DO" : "DO") +
                         m + " is not closed: the program ends before END" + m,
                     Callers());
  }
  m_Ended = true;
  m_EndedInMain = true;
  m_PastPrograms = true;
}

// ---------------------------------------------------------------------------------------------
// Variables

namespace {

// Common variables: #100-#999, and on Haas controls #10000-#10999 as well.
constexpr int COMMON_FIRST = 100;
constexpr int COMMON_LAST = 999;
constexpr int HAAS_COMMON_FIRST = 10000;
constexpr int HAAS_COMMON_LAST = 10999;

struct OffsetRange {
  int first;
  int last;
  OffsetKind kind;
  const char* what;
};

// Fanuc's tool compensation memory C (separate H and D, geometry and wear) for machining
// centres: #2001-#2800 the first 200 registers of each (H wear, H geometry, D wear, D
// geometry), #10001-#13999 all 999 of each.
constexpr std::array<OffsetRange, 8> FANUC_OFFSETS = {
    {{2001, 2200, OffsetKind::LENGTH_WEAR, "the length wear of H"},
     {2201, 2400, OffsetKind::LENGTH_GEOMETRY, "the length geometry of H"},
     {2401, 2600, OffsetKind::RADIUS_WEAR, "the radius wear of D"},
     {2601, 2800, OffsetKind::RADIUS_GEOMETRY, "the radius geometry of D"},
     {10001, 10999, OffsetKind::LENGTH_WEAR, "the length wear of H"},
     {11001, 11999, OffsetKind::LENGTH_GEOMETRY, "the length geometry of H"},
     {12001, 12999, OffsetKind::RADIUS_WEAR, "the radius wear of D"},
     {13001, 13999, OffsetKind::RADIUS_GEOMETRY, "the radius geometry of D"}}};
// Haas: lengths at #2001-#2400; its diameter registers (#2401-#2800) hold a radius or a
// diameter as a setting of the machine says, and are refused.
constexpr std::array<OffsetRange, 2> HAAS_OFFSETS = {
    {{2001, 2200, OffsetKind::LENGTH_GEOMETRY, "the length geometry of H"},
     {2201, 2400, OffsetKind::LENGTH_WEAR, "the length wear of H"}}};

struct ModalWordVariable {
  int number;
  char letter;
};
constexpr std::array<ModalWordVariable, 9> MODAL_WORDS = {{{4102, 'B'},
                                                           {4107, 'D'},
                                                           {4108, 'E'},
                                                           {4109, 'F'},
                                                           {4111, 'H'},
                                                           {4113, 'M'},
                                                           {4114, 'N'},
                                                           {4119, 'S'},
                                                           {4120, 'T'}}};

const OffsetRange* FindOffset(int number, bool haas) {
  if (haas) {
    for (const OffsetRange& range : HAAS_OFFSETS) {
      if (number >= range.first && number <= range.last) {
        return &range;
      }
    }
    return nullptr;
  }
  for (const OffsetRange& range : FANUC_OFFSETS) {
    if (number >= range.first && number <= range.last) {
      return &range;
    }
  }
  return nullptr;
}

}  // namespace

std::optional<double>* LanguageSource::Impl::Variable(int number) {
  if (number >= 1 && number <= LOCAL_COUNT) {
    return &m_Variables.locals[m_Frames.back().level][static_cast<std::size_t>(number - 1)];
  }
  std::size_t index = 0;
  if (number >= COMMON_FIRST && number <= COMMON_LAST) {
    index = static_cast<std::size_t>(number - COMMON_FIRST);
  } else if (m_Rules.haas && number >= HAAS_COMMON_FIRST && number <= HAAS_COMMON_LAST) {
    index = static_cast<std::size_t>(COMMON_LAST - COMMON_FIRST + 1 + number - HAAS_COMMON_FIRST);
  } else {
    return nullptr;
  }
  if (m_Variables.common.empty()) {
    const std::size_t size =
        COMMON_LAST - COMMON_FIRST + 1 + HAAS_COMMON_LAST - HAAS_COMMON_FIRST + 1;
    m_Variables.common.resize(size);
    m_Variables.warned.resize(size);
  }
  return &m_Variables.common[index];
}

std::optional<double> LanguageSource::Impl::ReadMacro(const detail::ParameterRef& ref) {
  if (!m_Macro) {
    return Read(ref);
  }
  const int n = ref.number;
  if (n == 0) {
    return std::nullopt;  // #0: always vacant
  }
  if (std::optional<double>* slot = Variable(n)) {
    if (n > LOCAL_COUNT && !slot->has_value()) {
      const std::size_t index = static_cast<std::size_t>(slot - m_Variables.common.data());
      if (!m_Variables.warned[index]) {
        // Common variables keep their values on the machine between programs; a fresh
        // control holds none, which is what can be known here.
        m_Variables.warned[index] = true;
        Warn(ref.col, ref.Display() +
                          " is read before the program sets it: it is vacant here (the machine "
                          "may hold a value)");
      }
    }
    return *slot;
  }
  return SystemVariable(n, ref.col);
}

std::optional<double> LanguageSource::Impl::SystemVariable(int n, std::size_t col) {
  const std::string name = "#" + std::to_string(n);
  auto once = [this, n, col](const std::string& message) {
    std::vector<int>& warned = m_Variables.warnedSystem;
    if (std::find(warned.begin(), warned.end(), n) == warned.end()) {
      warned.push_back(n);
      Warn(col, message);
    }
  };
  auto unknown = [&name, col](const std::string& what) {
    return LineError(col, name + ", " + what + ", is not known here");
  };
  if (n == 3001 || n == 3002) {
    once(name +
         ", a clock, reads what the program set it to (0 at first): no time passes "
         "when the program is not run on a machine");
    return m_Variables.clocks[static_cast<std::size_t>(n - 3001)];
  }
  if (n == 3011 || n == 3012) {
    once(name + std::string(n == 3011 ? ", the date," : ", the time,") +
         " reads 0 here: the program is not run on a machine");
    return 0.0;
  }
  if (n == 3901 || n == 3902) {
    std::optional<double>& parts = m_Variables.parts[static_cast<std::size_t>(n - 3901)];
    if (!parts) {
      once(name +
           ", a parts count, is read before the program sets it: it is vacant here (the "
           "machine may hold a value)");
    }
    return parts;
  }
  if (n >= 4001 && n <= 4030) {
    if (const std::optional<double> code = m_State.ModalGroup(n - 4000)) {
      return code;
    }
    throw unknown("the G code in force in group " + std::to_string(n - 4000));
  }
  if (n == 4115) {
    const long program = m_Frames.back().program;
    if (program >= 0) {
      return static_cast<double>(program);
    }
    throw unknown("the program's number");
  }
  for (const ModalWordVariable& word : MODAL_WORDS) {
    if (word.number == n) {
      if (const std::optional<double> value = m_State.ModalWord(word.letter)) {
        return value;
      }
      throw unknown(std::string("the last ") + word.letter + " word");
    }
  }
  if (n >= 5001 && n <= 5006) {
    static const char* const AXES = "XYZABC";
    const char axis = AXES[n - 5001];
    if (const std::optional<double> position =
            m_State.Position(static_cast<Axis>(std::string("XYZABCUVW").find(axis)))) {
      return position;
    }
    throw unknown(std::string("the ") + axis + " position");
  }
  if (const OffsetRange* range = FindOffset(n, m_Rules.haas)) {
    const int number = n - range->first + 1;
    if (const std::optional<double> value = m_State.ToolOffset(range->kind, number)) {
      return value;
    }
    throw unknown(range->what + std::to_string(number));
  }
  if (n == 3000) {
    throw LineError(col, "#3000 raises an alarm when set: it is not read");
  }
  if (m_Rules.haas && n >= 2401 && n <= 2800) {
    throw LineError(col, name +
                             " holds a radius or a diameter, as a setting of the machine "
                             "says: not supported here");
  }
  throw LineError(col, name + " is a system variable not supported here");
}

void LanguageSource::Impl::CheckMacroWritable(const detail::ParameterRef& ref) {
  const int n = ref.number;
  if (n == 0) {
    throw LineError(ref.col, "#0 is always vacant: it cannot be set");
  }
  if (Variable(n) != nullptr || n == 3000 || n == 3006 || n == 3001 || n == 3002 || n == 3901 ||
      n == 3902) {
    return;
  }
  if (FindOffset(n, m_Rules.haas) != nullptr || (n >= 5201 && n <= 5400) ||
      (n >= 7001 && n <= 7999)) {
    throw LineError(ref.col, ref.Display() +
                                 " is an offset of the machine: setting it from the program is "
                                 "not supported");
  }
  throw LineError(ref.col, ref.Display() + " is not a variable the program may set here");
}

bool LanguageSource::Impl::WriteMacro(SourceBlock& block, const detail::Assignment& assignment,
                                      std::size_t col) {
  const int n = assignment.target.number;
  const std::optional<double> value =
      assignment.vacant ? std::nullopt : std::optional<double>(assignment.value);
  if (std::optional<double>* slot = Variable(n)) {
    *slot = value;
    if (n > LOCAL_COUNT) {
      // Set by the program, vacant or not: no longer the machine's unknown value.
      m_Variables.warned[static_cast<std::size_t>(slot - m_Variables.common.data())] = true;
    }
    return false;
  }
  // The comment after the assignment: the message of an alarm or a stop.
  std::string message;
  const std::size_t open = m_Line.find('(');
  const std::size_t close = m_Line.find(')', open == std::string::npos ? 0 : open);
  if (open != std::string::npos && close != std::string::npos) {
    message = m_Line.substr(open + 1, close - open - 1);
  }
  if (n == 3000) {
    const long alarm = 3000 + std::lround(value.value_or(0.0));
    throw LineError(col, "the program raises alarm " + std::to_string(alarm) +
                             " (#3000 = " + detail::FormatWord('#', value.value_or(0.0)).substr(1) +
                             ")" + (message.empty() ? std::string() : ": " + message));
  }
  if (n == 3006) {
    // A stop with a message: the executed program stops there (M0) and says why.
    std::vector<Item>& items = m_Evaluated.items;
    items.clear();
    Item stop;
    stop.letter = 'M';
    stop.text = "M0";
    stop.col = col;
    stop.computed = true;
    items.push_back(stop);
    if (!message.empty()) {
      Item comment;
      comment.kind = Item::COMMENT;
      comment.text = "(" + message + ")";
      comment.col = open + 1;
      items.push_back(comment);
    }
    m_Evaluated.blockDelete = false;
    m_Evaluated.computed = true;
    Emit(block);
    return true;
  }
  if (n == 3001 || n == 3002) {
    m_Variables.clocks[static_cast<std::size_t>(n - 3001)] = value.value_or(0.0);
  } else if (n == 3901 || n == 3902) {
    m_Variables.parts[static_cast<std::size_t>(n - 3901)] = value;
  }
  return false;
}

}  // namespace cutcomp::language
