// SPDX-License-Identifier: MIT
// The executor of RS274/NGC: the parameter store and its scopes, subroutine calls and returns,
// conditions and loops; and the public side of the language layer. It decides which line runs
// next and hands out the lines that produce words; what a line says is read by the evaluator.
// The Fanuc-family dialects run in macro_b.cpp and macro_calls.cpp.
#include <algorithm>
#include <array>
#include <cmath>
#include <unordered_map>
#include <utility>

#include "executor.h"

namespace cutcomp::language {

using cli::InputError;
using cli::Item;
using cli::SourceBlock;
using cli::SourceLocation;
using detail::Keyword;
using detail::LineError;
using detail::OHead;
using detail::ParameterRef;

namespace {

// Numbered parameters the program may set: #1..#5399 (index 0 unused).
constexpr int NUMBERED_COUNT = 5400;
// Read-only numbered parameters: the tool, its diameter, the position on nine axes.
constexpr int CURRENT_TOOL_PARAMETER = 5400;
constexpr int TOOL_DIAMETER_PARAMETER = 5410;
constexpr int FIRST_POSITION_PARAMETER = 5420;
// Open if/while/do/repeat blocks within one routine. Real programs nest a handful; the cap
// keeps a file of a million unclosed "o<n> do" lines from growing the stack without bound.
constexpr std::size_t MAX_OPEN_BLOCKS = 1000;

const char* const AXIS_NAMES[AXIS_COUNT] = {"X", "Y", "Z", "A", "B", "C", "U", "V", "W"};

unsigned Bit(Keyword keyword) { return 1U << static_cast<unsigned>(keyword); }

// The line that closes an if, while, do or repeat.
Keyword EndOf(Keyword kind) {
  switch (kind) {
  case Keyword::IF:
    return Keyword::ENDIF;
  case Keyword::WHILE:
    return Keyword::ENDWHILE;
  case Keyword::DO:
    return Keyword::WHILE;
  default:
    return Keyword::ENDREPEAT;
  }
}

// The names of predefined read-only parameters.
enum class Predefined {
  NONE,
  AXIS,
  METRIC,
  IMPERIAL,
  ABSOLUTE,
  INCREMENTAL,
  TOOL,
  SELECTED,
  LEVEL
};

Predefined FindPredefined(const std::string& name, int& axis) {
  static const std::array<const char*, AXIS_COUNT> AXES = {"_x", "_y", "_z", "_a", "_b",
                                                           "_c", "_u", "_v", "_w"};
  for (int i = 0; i < AXIS_COUNT; ++i) {
    if (name == AXES[static_cast<std::size_t>(i)]) {
      axis = i;
      return Predefined::AXIS;
    }
  }
  static const std::array<std::pair<const char*, Predefined>, 7> OTHERS = {
      {{"_metric", Predefined::METRIC},
       {"_imperial", Predefined::IMPERIAL},
       {"_absolute", Predefined::ABSOLUTE},
       {"_incremental", Predefined::INCREMENTAL},
       {"_current_tool", Predefined::TOOL},
       {"_selected_tool", Predefined::SELECTED},
       {"_call_level", Predefined::LEVEL}}};
  for (const auto& [text, kind] : OTHERS) {
    if (name == text) {
      return kind;
    }
  }
  return Predefined::NONE;
}

// A line that starts with '/' (after spaces).
bool IsBlockDelete(const std::string& line) {
  const std::size_t first = line.find_first_not_of(" \t");
  return first != std::string::npos && line[first] == '/';
}

bool EndsProgram(const std::vector<Item>& items) {
  return std::any_of(items.begin(), items.end(), [](const Item& item) {
    return item.kind == Item::WORD && item.letter == 'M' && (item.value == 2 || item.value == 30);
  });
}

// A subroutine name usable as a file name: no directories, nothing hidden.
bool FileNameSafe(const std::string& name) {
  return !name.empty() && name.front() != '.' && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
  });
}

}  // namespace

LanguageSource::Impl::Impl(std::FILE* program, const MachineState& state, LanguageOptions options)
    : m_Options(std::move(options)),
      m_State(state),
      m_Numbered(NUMBERED_COUNT, 0.0),
      m_Set(NUMBERED_COUNT, false),
      m_Warned(NUMBERED_COUNT, false) {
  m_Choice.dialect = m_Options.dialect;
  if (m_Options.dialect == Dialect::AUTO) {
    Recognise(program);
  }
  m_Macro = m_Choice.dialect == Dialect::FANUC || m_Choice.dialect == Dialect::HAAS;
  m_Rules.haas = m_Choice.dialect == Dialect::HAAS;
  m_Files.push_back(std::make_unique<SourceFile>(program, std::string(), false));
  m_Frames.emplace_back();
  m_Frames.back().programStart = File().Start();
  m_Globals["_value"] = 0.0;
  m_Globals["_value_returned"] = 0.0;
  m_Variables.locals.emplace_back();
}

// ---------------------------------------------------------------------------------------------
// Parameters

double LanguageSource::Impl::Read(const ParameterRef& ref) {
  if (!ref.named) {
    const int n = ref.number;
    if (n >= 1 && n < NUMBERED_COUNT) {
      if (!m_Set[n] && !m_Warned[n]) {
        // Numbered parameters always exist on a controller and keep their values between
        // programs; a fresh controller reads 0, which is what we can know.
        m_Warned[n] = true;
        Warn(ref.col, ref.Display() +
                          " is read before the program sets it: 0 is used (the machine may hold "
                          "another value)");
      }
      return m_Numbered[n];
    }
    if (n == CURRENT_TOOL_PARAMETER) {
      return m_State.CurrentTool();
    }
    if (n == TOOL_DIAMETER_PARAMETER) {
      if (const std::optional<double> diameter = m_State.ToolDiameter()) {
        return *diameter;
      }
      throw LineError(ref.col, "#5410, the diameter of the current tool, is not known here");
    }
    if (n >= FIRST_POSITION_PARAMETER && n < FIRST_POSITION_PARAMETER + AXIS_COUNT) {
      const int axis = n - FIRST_POSITION_PARAMETER;
      if (const std::optional<double> position = m_State.Position(static_cast<Axis>(axis))) {
        return *position;
      }
      throw LineError(ref.col, ref.Display() + ", the current " + AXIS_NAMES[axis] +
                                   " position, is not known here");
    }
    throw LineError(ref.col, ref.Display() +
                                 " is not a parameter: numbered parameters are #1 to #5399, and "
                                 "#5400, #5410, #5420 to #5428 to read the machine state");
  }
  int axis = 0;
  switch (FindPredefined(ref.name, axis)) {
  case Predefined::AXIS:
    if (const std::optional<double> position = m_State.Position(static_cast<Axis>(axis))) {
      return *position;
    }
    throw LineError(ref.col, ref.Display() + ", the current " + AXIS_NAMES[axis] +
                                 " position, is not known here");
  case Predefined::METRIC:
    return m_State.Metric() ? 1.0 : 0.0;
  case Predefined::IMPERIAL:
    return m_State.Metric() ? 0.0 : 1.0;
  case Predefined::ABSOLUTE:
    return m_State.Incremental() ? 0.0 : 1.0;
  case Predefined::INCREMENTAL:
    return m_State.Incremental() ? 1.0 : 0.0;
  case Predefined::TOOL:
    return m_State.CurrentTool();
  case Predefined::SELECTED:
    return m_State.SelectedTool();
  case Predefined::LEVEL:
    return static_cast<double>(m_Frames.size() - 1);
  case Predefined::NONE:
    break;
  }
  const bool global = ref.name.front() == '_';
  const auto& scope = global ? m_Globals : m_Frames.back().locals;
  const auto it = scope.find(ref.name);
  if (it == scope.end()) {
    throw LineError(ref.col, ref.Display() + " is read before it is set" +
                                 (global ? std::string()
                                         : " (a named parameter is local to its subroutine; "
                                           "#<_" +
                                               ref.name + "> would be global)"));
  }
  return it->second;
}

bool LanguageSource::Impl::Exists(const ParameterRef& ref) {
  if (!ref.named) {
    // Numbered parameters always exist (they hold 0 until set).
    return ref.number >= 1 && ref.number < NUMBERED_COUNT;
  }
  int axis = 0;
  const Predefined kind = FindPredefined(ref.name, axis);
  if (kind == Predefined::AXIS) {
    return m_State.Position(static_cast<Axis>(axis)).has_value();
  }
  if (kind != Predefined::NONE) {
    return true;
  }
  const auto& scope = ref.name.front() == '_' ? m_Globals : m_Frames.back().locals;
  return scope.count(ref.name) != 0;
}

void LanguageSource::Impl::CheckWritable(const ParameterRef& ref) {
  if (m_Macro) {
    CheckMacroWritable(ref);
    return;
  }
  int axis = 0;
  if (ref.named) {
    if (FindPredefined(ref.name, axis) != Predefined::NONE) {
      throw LineError(ref.col, ref.Display() + " is read-only: it reflects the machine state");
    }
    return;
  }
  if (ref.number >= 1 && ref.number < NUMBERED_COUNT) {
    return;
  }
  if (ref.number == CURRENT_TOOL_PARAMETER || ref.number == TOOL_DIAMETER_PARAMETER ||
      (ref.number >= FIRST_POSITION_PARAMETER &&
       ref.number < FIRST_POSITION_PARAMETER + AXIS_COUNT)) {
    throw LineError(ref.col, ref.Display() + " is read-only: it reflects the machine state");
  }
  throw LineError(ref.col, ref.Display() + " is not a parameter: the program may set #1 to #5399");
}

void LanguageSource::Impl::Write(const detail::Assignment& assignment) {
  const ParameterRef& ref = assignment.target;
  if (!ref.named) {
    m_Numbered[ref.number] = assignment.value;
    m_Set[ref.number] = true;
  } else if (ref.name.front() == '_') {
    m_Globals[ref.name] = assignment.value;
  } else {
    m_Frames.back().locals[ref.name] = assignment.value;
  }
}

// ---------------------------------------------------------------------------------------------
// Lines

bool LanguageSource::Impl::Next(SourceBlock& block) {
  return m_Macro ? NextMacro(block) : NextNgc(block);
}

bool LanguageSource::Impl::NextNgc(SourceBlock& block) {
  if (m_Ended && !m_EndedInMain) {
    return false;
  }
  for (;;) {
    if (!File().Next(m_Line)) {
      if (EndOfFile()) {
        return false;
      }
      continue;
    }
    Count();
    if (m_Undecided && RecogniseLine()) {
      // A program from a pipe whose first line of a Fanuc-family construct comes now.
      try {
        if (MacroLine(block)) {
          return true;
        }
      } catch (const LineError& error) {
        throw Located(error.Col(), Foreign(error.what()));
      }
      return NextMacro(block);
    }
    if (m_Options.skipBlockDelete && IsBlockDelete(m_Line)) {
      continue;
    }
    // A line of plain words (most lines of most programs) is no O-word line, sets nothing
    // and computes nothing: it goes out as it is read.
    if (!m_Ended && detail::ReadPlainLine(m_Line, m_Evaluated)) {
      if (m_CheckForeign) {
        ForeignWords(m_Evaluated.items);
      }
      Emit(block);
      if (EndsProgram(block.items)) {
        m_Ended = true;
        m_EndedInMain = m_Frames.size() == 1;
      }
      return true;
    }
    try {
      if (m_Ended) {
        if (AfterEnd(block)) {
          return true;
        }
        continue;
      }
      if (const std::optional<OHead> head = detail::ReadOHead(m_Line, false)) {
        m_UndecidedRan = true;
        Execute(*head);
        continue;
      }
      detail::EvaluateLine(m_Line, *this, false, m_Evaluated);
      m_UndecidedRan = m_UndecidedRan || m_Evaluated.computed;
      if (m_CheckForeign) {
        ForeignWords(m_Evaluated.items);
      }
      if (m_Evaluated.blockDelete && !m_Evaluated.assignments.empty()) {
        throw LineError(m_Evaluated.assignments.front().target.col,
                        "a parameter is set on a block-delete line ('/'): whether it is set "
                        "would depend on the machine's block-delete switch");
      }
      for (const detail::Assignment& assignment : m_Evaluated.assignments) {
        Write(assignment);
      }
      if (m_Evaluated.items.empty() && m_Evaluated.computed) {
        continue;  // only assignments: nothing to hand on
      }
      Emit(block);
      if (EndsProgram(block.items)) {
        m_Ended = true;
        m_EndedInMain = m_Frames.size() == 1;
      }
      return true;
    } catch (const LineError& error) {
      throw Located(error.Col(), Foreign(error.what()));
    }
  }
}

void LanguageSource::Impl::Emit(SourceBlock& block) {
  // Assigned in place: the block's strings keep their storage from the block it held before.
  if (block.where.file != File().Name()) {
    block.where.file = File().Name();
  }
  block.where.line = File().LineNumber();
  if (m_Frames.size() > 1) {
    block.callers = Callers();
  } else {
    block.callers.clear();
  }
  block.blockDelete = m_Evaluated.blockDelete;
  // The block's old items become the slots the next line is read into.
  std::swap(block.items, m_Evaluated.items);
  if (!m_Evaluated.computed) {
    cli::CopyText(block.text, m_Line.data(), m_Line.size());
    return;
  }
  block.text = block.blockDelete ? "/" : "";
  for (const Item& item : block.items) {
    if (block.text.size() > (block.blockDelete ? 1U : 0U)) {
      block.text += ' ';
    }
    block.text += item.text;
  }
}

// The end of the file being read: the end of the program, or an error for what is left open.
bool LanguageSource::Impl::EndOfFile() {
  if (m_Ended) {
    return true;
  }
  const Frame& frame = m_Frames.back();
  if (m_Frames.size() > 1) {
    throw InputError(
        frame.definition, 0,
        "o" + frame.label + " sub is not closed: the file ends before o" + frame.label + " endsub",
        Callers());
  }
  if (!frame.controls.empty()) {
    const Control& open = frame.controls.back();
    throw InputError({File().Name(), open.line}, 0,
                     "o" + open.label + " " + detail::KeywordText(open.kind) +
                         " is not closed: the program ends before o" + open.label + " " +
                         detail::KeywordText(EndOf(open.kind)),
                     Callers());
  }
  return true;
}

// After M2 or M30 nothing runs: plain lines (a closing '%', comments) are handed on as
// written, subroutine definitions passed over, other lines that would compute something or
// jump are left out with a warning.
bool LanguageSource::Impl::AfterEnd(SourceBlock& block) {
  const char* warning =
      "left out: the line follows the program end (M2/M30) and computes or jumps, but nothing "
      "after the end runs";
  if (const std::optional<OHead> head = detail::ReadOHead(m_Line, true)) {
    if (head->keyword == Keyword::SUB) {
      SkipTo(*head, Bit(Keyword::ENDSUB), Keyword::ENDSUB);  // a definition, as is usual there
    } else {
      Warn(0, warning);
    }
    return false;
  }
  try {
    detail::EvaluateLine(m_Line, *this, true, m_Evaluated);
  } catch (const detail::PlainOnly&) {
    Warn(0, warning);
    return false;
  }
  Emit(block);
  return true;
}

// ---------------------------------------------------------------------------------------------
// O-words

void LanguageSource::Impl::Execute(const OHead& head) {
  if (head.blockDelete) {
    throw LineError(head.col,
                    "an O-word on a block-delete line ('/'): whether it runs would depend on the "
                    "machine's block-delete switch");
  }
  switch (head.keyword) {
  case Keyword::SUB:
    Define(head);
    return;
  case Keyword::CALL:
    Call(head);
    return;
  case Keyword::ENDSUB:
  case Keyword::RETURN:
    Return(head);
    return;
  case Keyword::IF:
    If(head);
    return;
  case Keyword::ELSEIF:
  case Keyword::ELSE: {
    Control& top = Top(head, Keyword::IF);
    if (top.sawElse) {
      throw LineError(head.col, head.Display() + " " + detail::KeywordText(head.keyword) +
                                    " after " + head.Display() + " else");
    }
    // The branch that ran ends here: the rest up to endif is passed over.
    SkipTo(head, Bit(Keyword::ENDIF), Keyword::ENDIF);
    m_Frames.back().controls.pop_back();
    return;
  }
  case Keyword::ENDIF:
    Arguments(head, 0, 0);
    Top(head, Keyword::IF);
    m_Frames.back().controls.pop_back();
    return;
  case Keyword::WHILE: {
    std::vector<Control>& controls = m_Frames.back().controls;
    if (!controls.empty() && controls.back().kind == Keyword::DO &&
        controls.back().label == head.label) {
      // The end of a do loop.
      if (Arguments(head, 1, 1)[0] != 0.0) {
        File().Seek(controls.back().start);
      } else {
        controls.pop_back();
      }
      return;
    }
    Control loop;
    loop.kind = Keyword::WHILE;
    loop.start = File().LineStart();
    if (Arguments(head, 1, 1)[0] != 0.0) {
      Push(head, loop);
    } else {
      SkipTo(head, Bit(Keyword::ENDWHILE), Keyword::ENDWHILE);
    }
    return;
  }
  case Keyword::ENDWHILE: {
    Arguments(head, 0, 0);
    const FilePosition start = Top(head, Keyword::WHILE).start;
    m_Frames.back().controls.pop_back();
    File().Seek(start);  // the while line tests its condition again
    return;
  }
  case Keyword::DO: {
    Arguments(head, 0, 0);
    Control loop;
    loop.kind = Keyword::DO;
    loop.start = File().Here();
    Push(head, loop);
    return;
  }
  case Keyword::REPEAT: {
    Control loop;
    loop.kind = Keyword::REPEAT;
    loop.start = File().Here();
    loop.remaining = std::round(Arguments(head, 1, 1)[0]);
    if (loop.remaining >= 1.0) {
      Push(head, loop);
    } else {
      SkipTo(head, Bit(Keyword::ENDREPEAT), Keyword::ENDREPEAT);
    }
    return;
  }
  case Keyword::ENDREPEAT: {
    Arguments(head, 0, 0);
    Control& loop = Top(head, Keyword::REPEAT);
    loop.remaining -= 1.0;
    if (loop.remaining >= 1.0) {
      File().Seek(loop.start);
    } else {
      m_Frames.back().controls.pop_back();
    }
    return;
  }
  case Keyword::BREAK:
  case Keyword::CONTINUE:
    Arguments(head, 0, 0);
    Leave(head);
    return;
  }
}

// Reads on to the line "o<label> <keyword>" with one of the `wanted` keywords, passing over
// everything else unchecked; an error at `opening` when the file ends first.
OHead LanguageSource::Impl::SkipTo(const OHead& opening, unsigned wanted, Keyword end) {
  const SourceLocation where = Here();
  for (;;) {
    if (!File().Next(m_Line)) {
      throw InputError(where, opening.col,
                       opening.Display() + " " + detail::KeywordText(opening.keyword) +
                           " is not closed: the file ends before " + opening.Display() + " " +
                           detail::KeywordText(end),
                       Callers());
    }
    Count();
    const std::optional<OHead> head = detail::ReadOHead(m_Line, true);
    if (head && head->label == opening.label && (Bit(head->keyword) & wanted) != 0) {
      if (head->blockDelete && m_Options.skipBlockDelete) {
        continue;  // the switch is on: the line does not run, nor close anything
      }
      if (head->blockDelete) {
        throw LineError(head->col,
                        "an O-word on a block-delete line ('/'): whether it runs would depend "
                        "on the machine's block-delete switch");
      }
      return *head;
    }
  }
}

void LanguageSource::Impl::Push(const OHead& head, Control control) {
  std::vector<Control>& controls = m_Frames.back().controls;
  if (controls.size() >= MAX_OPEN_BLOCKS) {
    throw LineError(head.col, "more than " + std::to_string(MAX_OPEN_BLOCKS) +
                                  " if, while, do and repeat blocks open at once");
  }
  control.label = head.label;
  control.line = File().LineNumber();
  controls.push_back(std::move(control));
}

// The innermost open block, which `head` must close or continue.
Control& LanguageSource::Impl::Top(const OHead& head, Keyword kind) {
  std::vector<Control>& controls = m_Frames.back().controls;
  auto what = [&head]() { return head.Display() + " " + detail::KeywordText(head.keyword); };
  if (controls.empty()) {
    throw LineError(head.col,
                    what() + " without " + head.Display() + " " + detail::KeywordText(kind));
  }
  Control& top = controls.back();
  if (top.label != head.label || top.kind != kind) {
    throw LineError(head.col, what() + " while o" + top.label + " " +
                                  detail::KeywordText(top.kind) + " (line " +
                                  std::to_string(top.line) + ") is open");
  }
  return top;
}

void LanguageSource::Impl::If(const OHead& head) {
  Control branch;
  branch.kind = Keyword::IF;
  if (Arguments(head, 1, 1)[0] != 0.0) {
    Push(head, branch);
    return;
  }
  const unsigned wanted = Bit(Keyword::ELSEIF) | Bit(Keyword::ELSE) | Bit(Keyword::ENDIF);
  const std::size_t line = File().LineNumber();
  for (;;) {
    const OHead next = SkipTo(head, wanted, Keyword::ENDIF);
    if (next.keyword == Keyword::ENDIF) {
      Arguments(next, 0, 0);
      return;
    }
    const bool isElse = next.keyword == Keyword::ELSE;
    if (isElse || Arguments(next, 1, 1)[0] != 0.0) {
      if (isElse) {
        Arguments(next, 0, 0);
      }
      branch.sawElse = isElse;
      Push(head, branch);
      m_Frames.back().controls.back().line = line;
      return;
    }
  }
}

// break and continue: close the blocks inside the loop, pass over the rest of the body, and
// leave (break) or run the loop's end line (continue: the next test or iteration).
void LanguageSource::Impl::Leave(const OHead& head) {
  std::vector<Control>& controls = m_Frames.back().controls;
  std::size_t index = controls.size();
  while (index > 0 &&
         !(controls[index - 1].label == head.label && controls[index - 1].kind != Keyword::IF)) {
    --index;
  }
  if (index == 0) {
    throw LineError(head.col, head.Display() + " " + detail::KeywordText(head.keyword) +
                                  " outside an " + head.Display() + " loop (while, do or repeat)");
  }
  controls.resize(index);
  const Keyword end = EndOf(controls.back().kind);
  OHead loop = head;
  loop.keyword = controls.back().kind;
  const OHead last = SkipTo(loop, Bit(end), end);
  if (head.keyword == Keyword::BREAK) {
    controls.pop_back();
    return;
  }
  Execute(last);
}

// ---------------------------------------------------------------------------------------------
// Subroutines

// A definition met in the flow of the program: remembered, its body passed over.
void LanguageSource::Impl::Define(const OHead& head) {
  Arguments(head, 0, 0);
  m_Subs[head.label] = {m_File, File().Here(), File().LineNumber()};
  SkipTo(head, Bit(Keyword::ENDSUB), Keyword::ENDSUB);
}

void LanguageSource::Impl::Call(const OHead& head) {
  const std::vector<double> arguments = Arguments(head, 0, ARGUMENT_COUNT);
  if (m_Frames.size() > m_Options.maxCallDepth) {
    throw LineError(head.col, "more than " + std::to_string(m_Options.maxCallDepth) +
                                  " nested calls: a recursion that does not end?");
  }
  Frame frame;
  frame.label = head.label;
  frame.callSite = Here();
  frame.returnFile = m_File;
  frame.returnPosition = File().Here();
  const SubDefinition definition = Find(head, frame.callSite);
  frame.definition = {m_Files[definition.file]->Name(), definition.line};
  for (int i = 0; i < ARGUMENT_COUNT; ++i) {
    const std::size_t n = static_cast<std::size_t>(i) + 1;
    frame.saved[static_cast<std::size_t>(i)] = m_Numbered[n];
    frame.savedSet[static_cast<std::size_t>(i)] = m_Set[n];
    m_Numbered[n] = n <= arguments.size() ? arguments[n - 1] : 0.0;
    m_Set[n] = true;
  }
  m_CallSites[{frame.callSite.file, frame.callSite.line}] = head.Display();
  m_Frames.push_back(std::move(frame));
  m_File = definition.file;
  File().Seek(definition.body);
}

void LanguageSource::Impl::Return(const OHead& head) {
  const std::vector<double> value = Arguments(head, 0, 1);
  const std::string what = head.Display() + " " + detail::KeywordText(head.keyword);
  if (m_Frames.size() == 1) {
    throw LineError(head.col, what + " outside a called subroutine");
  }
  Frame& frame = m_Frames.back();
  if (frame.label != head.label) {
    throw LineError(head.col, what + " inside o" + frame.label);
  }
  m_Globals["_value"] = value.empty() ? 0.0 : value[0];
  m_Globals["_value_returned"] = value.empty() ? 0.0 : 1.0;
  for (std::size_t i = 0; i < ARGUMENT_COUNT; ++i) {
    m_Numbered[i + 1] = frame.saved[i];
    m_Set[i + 1] = frame.savedSet[i];
  }
  m_File = frame.returnFile;
  const FilePosition back = frame.returnPosition;
  m_Frames.pop_back();
  File().Seek(back);
}

// Looks `file` through from where it stands for "o<label> sub".
bool LanguageSource::Impl::Search(const OHead& head, std::size_t file, SubDefinition& found) {
  SourceFile& source = *m_Files[file];
  while (source.Next(m_Line)) {
    Count();
    const std::optional<OHead> line = detail::ReadOHead(m_Line, true);
    if (line && line->label == head.label && line->keyword == Keyword::SUB &&
        !(line->blockDelete && m_Options.skipBlockDelete)) {
      found = {file, source.Here(), source.LineNumber()};
      m_Subs[head.label] = found;
      return true;
    }
  }
  return false;
}

// The definition of a called subroutine: met before, further down the calling file, or in a
// file of its own named after it.
SubDefinition LanguageSource::Impl::Find(const OHead& head, const SourceLocation& site) {
  const auto known = m_Subs.find(head.label);
  if (known != m_Subs.end()) {
    return known->second;
  }
  SubDefinition found;
  if (Search(head, m_File, found)) {
    return found;
  }
  const std::string name = head.label.substr(1, head.label.size() - 2);
  const bool named = head.label.front() == '<' && FileNameSafe(name);
  if (named) {
    for (const std::string& dir : m_Options.subroutineDirs) {
      std::string path = dir;
      if (!path.empty() && path.back() != '/') {
        path += '/';
      }
      path += name;
      path += ".ngc";
      std::FILE* file = std::fopen(path.c_str(), "rb");
      if (file == nullptr) {
        continue;
      }
      m_Files.push_back(std::make_unique<SourceFile>(file, path, true));
      if (Search(head, m_Files.size() - 1, found)) {
        return found;
      }
      throw InputError(site, head.col, path + " does not define " + head.Display() + " sub",
                       Callers());
    }
  }
  throw InputError(
      site, head.col,
      head.Display() + " is not defined: no " + head.Display() + " sub in the program" +
          (named ? " and no " + name + ".ngc beside it or on the subroutine path" : std::string()),
      Callers());
}

// ---------------------------------------------------------------------------------------------
// Public side

LanguageSource::LanguageSource(std::FILE* program, const MachineState& state,
                               LanguageOptions options)
    : m_Impl(std::make_unique<Impl>(program, state, std::move(options))) {}

LanguageSource::~LanguageSource() = default;

bool LanguageSource::Next(SourceBlock& block) { return m_Impl->Next(block); }

bool LanguageSource::LastBlockComputed() const { return m_Impl->m_Evaluated.computed; }

const DialectChoice& LanguageSource::ChosenDialect() const { return m_Impl->m_Choice; }

std::string LanguageSource::RoutineCalledAt(const SourceLocation& site) const {
  const auto it = m_Impl->m_CallSites.find({site.file, site.line});
  return it == m_Impl->m_CallSites.end() ? std::string() : it->second;
}

std::vector<std::string> SplitSearchPath(const std::string& path) {
  std::vector<std::string> dirs;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t colon = std::min(path.find(':', start), path.size());
    if (colon > start) {
      dirs.push_back(path.substr(start, colon - start));
    }
    start = colon + 1;
  }
  return dirs;
}

namespace {

// A parameter store for lines that may not use one: it is never asked (a parameter or an
// expression stops a plain-only line before it is read).
class NoParameters : public detail::ParameterAccess {
public:
  double Read(const ParameterRef& ref) override { return Refuse(ref); }
  bool Exists(const ParameterRef& ref) override { return Refuse(ref) != 0.0; }
  void CheckWritable(const ParameterRef& ref) override { Refuse(ref); }

private:
  static double Refuse(const ParameterRef& ref) {
    throw LineError(ref.col, "parameters are not read here");
  }
};

}  // namespace

std::vector<Item> TokenizePlain(const std::string& line, std::size_t lineNumber,
                                bool& blockDelete) {
  NoParameters none;
  detail::EvaluatedLine result;
  try {
    detail::EvaluateLine(line, none, true, result);
  } catch (const LineError& error) {
    throw InputError(lineNumber, error.Col(), error.what());
  } catch (const detail::PlainOnly& plain) {
    throw InputError(lineNumber, plain.col, "parameters and expressions are not read here");
  }
  blockDelete = result.blockDelete;
  return std::move(result.items);
}

std::string FormatPlace(const InputError& error, const std::string& program,
                        const LanguageSource* source) {
  return FormatPlace({error.File(), error.Line()}, error.Col(), error.Callers(), program, source);
}

std::string FormatPlace(const SourceLocation& where, std::size_t col,
                        const std::vector<SourceLocation>& callers, const std::string& program,
                        const LanguageSource* source) {
  auto place = [&program](const std::string& file, std::size_t line) {
    std::string text = file.empty() ? program : file;
    if (line > 0) {
      text += ":" + std::to_string(line);
    }
    return text;
  };
  std::string text = place(where.file, where.line);
  if (where.line > 0 && col > 0) {
    text += ":" + std::to_string(col);
  }
  for (std::size_t i = 0; i < callers.size(); ++i) {
    const std::string routine = source != nullptr ? source->RoutineCalledAt(callers[i]) : "";
    text += (i == 0 ? ": in " : ", in ") + (routine.empty() ? "a subroutine" : routine) +
            " called from " + place(callers[i].file, callers[i].line);
  }
  return text;
}

std::string FormatInputError(const InputError& error, const std::string& program,
                             const LanguageSource* source) {
  return FormatPlace(error, program, source) + ": " + error.what();
}

// ---------------------------------------------------------------------------------------------
// The stand-in machine state

void TrackedMachineState::Observe(const SourceBlock& block) {
  static const std::string AXES = "XYZABCUVW";
  for (const Item& item : block.items) {
    if (item.kind != Item::WORD) {
      continue;
    }
    const std::size_t axis = AXES.find(item.letter);
    if (axis != std::string::npos) {
      if (!m_Incremental) {
        m_Position[axis] = item.value;
        m_Known[axis] = true;
      } else {
        m_Position[axis] += item.value;
      }
    } else if (item.letter == 'G' && (item.value == 20 || item.value == 21)) {
      m_Metric = item.value == 21;
    } else if (item.letter == 'G' && (item.value == 90 || item.value == 91)) {
      m_Incremental = item.value == 91;
    } else if (item.letter == 'T' && item.value >= 0 && item.value < 1e9) {
      m_SelectedTool = static_cast<int>(item.value);
    } else if (item.letter == 'M' && item.value == 6) {
      m_CurrentTool = m_SelectedTool;
    }
    if (item.letter == 'G') {
      const double code = item.value;
      const int group = code == 0 || code == 1 || code == 2 || code == 3 ? 1
                        : code == 17 || code == 18 || code == 19         ? 2
                        : code == 40 || code == 41 || code == 42         ? 7
                                                                         : 0;
      if (group != 0) {
        m_Groups[group] = code;
      }
    } else if (std::string("DFHNST").find(item.letter) != std::string::npos) {
      m_Words[item.letter] = item.value;
    }
  }
}

std::optional<double> TrackedMachineState::ModalGroup(int group) const {
  if (group == 3) {
    return m_Incremental ? 91.0 : 90.0;
  }
  if (group == 6) {
    return m_Metric ? 21.0 : 20.0;
  }
  const auto it = m_Groups.find(group);
  return it == m_Groups.end() ? std::nullopt : std::optional<double>(it->second);
}

std::optional<double> TrackedMachineState::ModalWord(char letter) const {
  const auto it = m_Words.find(letter);
  return it == m_Words.end() ? std::nullopt : std::optional<double>(it->second);
}

std::optional<double> TrackedMachineState::ToolOffset(OffsetKind kind, int number) const {
  const auto it = diameters.find(number);
  if (kind != OffsetKind::RADIUS_GEOMETRY || it == diameters.end()) {
    return std::nullopt;
  }
  return it->second / 2.0;
}

std::optional<double> TrackedMachineState::Position(Axis axis) const {
  const auto i = static_cast<std::size_t>(axis);
  return m_Known[i] ? std::optional<double>(m_Position[i]) : std::nullopt;
}

std::optional<double> TrackedMachineState::ToolDiameter() const {
  const auto it = diameters.find(m_CurrentTool);
  return it == diameters.end() ? std::nullopt : std::optional<double>(it->second);
}

}  // namespace cutcomp::language
