// SPDX-License-Identifier: MIT
// The modal reader's stages over one block, in a controller's order of execution: the words
// sorted into codes (conflicts refused), feed, tool, plane, units, compensation words,
// coordinate systems and distance modes, then the motion (motion.cpp), then the compensation
// phase of the motion. It decides what a program means; how the tool-centre path is computed
// and written is left to the driver and the writers.
#include "modal_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tip.h"

namespace cutcomp::cli {

namespace {

constexpr const char* CANCEL_FIRST =
    " is not allowed while compensation is on: cancel with G40 first";

bool IsAxisLetter(char c) {
  return c == 'X' || c == 'Y' || c == 'Z' || c == 'A' || c == 'B' || c == 'C' || c == 'U' ||
         c == 'V' || c == 'W';
}

// Two codes in one block that a controller would not know how to execute together.
bool Conflict(const CodeInfo& a, const CodeInfo& b, std::string& why) {
  why = " belong to the same modal group and cannot share a block";
  if (a.group == b.group && a.group != Group::OTHER && a.group != Group::NON_MODAL) {
    return true;
  }
  if (a.group == Group::NON_MODAL && b.group == Group::NON_MODAL) {
    why = " cannot share a block: both take the axis words";
    return a.takesAxes && b.takesAxes;
  }
  // A transformation's axis words are its centre or axes: no move or other owner can share them.
  why = " cannot share a block: both take the axis words";
  const auto transformBeside = [](const CodeInfo& transform, const CodeInfo& other) {
    return (transform.kind == CodeKind::TRANSFORM_ON ||
            transform.kind == CodeKind::TRANSFORM_OFF) &&
           transform.takesAxes &&
           (other.group == Group::MOTION || (other.group == Group::NON_MODAL && other.takesAxes) ||
            ((other.kind == CodeKind::TRANSFORM_ON || other.kind == CodeKind::TRANSFORM_OFF) &&
             other.takesAxes));
  };
  if (transformBeside(a, b) || transformBeside(b, a)) {
    return true;
  }
  // A canned cycle takes the axis words for its holes: no other motion can share them.
  why = " cannot share a block: both take the axis words";
  const auto cycleBeside = [](const CodeInfo& cycle, const CodeInfo& other) {
    return cycle.kind == CodeKind::CANNED &&
           (other.group == Group::MOTION || (other.group == Group::NON_MODAL && other.takesAxes));
  };
  if (cycleBeside(a, b) || cycleBeside(b, a)) {
    return true;
  }
  // A non-modal code that takes the axis words beside a motion code: G0 only sets the mode
  // (G28 and G30 move at rapid anyway), G53 is made for G0 and G1; anything else would have
  // two meanings for the same words.
  const auto ownerBeside = [](const CodeInfo& owner, const CodeInfo& motion) {
    if (owner.group != Group::NON_MODAL || !owner.takesAxes || motion.group != Group::MOTION) {
      return false;
    }
    if (motion.kind == CodeKind::MOTION && motion.code == 0) {
      return false;
    }
    return !(owner.kind == CodeKind::MACHINE_MOVE && motion.kind == CodeKind::MOTION &&
             motion.code == 10);
  };
  return ownerBeside(a, b) || ownerBeside(b, a);
}

}  // namespace

const PlaneAxes& AxesOf(Plane plane) {
  static constexpr PlaneAxes AXES[] = {{'X', 'Y', 'Z', 'I', 'J', "G17"},   // Plane::XY
                                       {'Z', 'X', 'Y', 'K', 'I', "G18"},   // Plane::ZX
                                       {'Y', 'Z', 'X', 'J', 'K', "G19"}};  // Plane::YZ
  return AXES[static_cast<std::size_t>(plane)];
}

const ParsedBlock::Code* ParsedBlock::Find(CodeKind kind) const {
  for (const Code& code : codes) {
    if (code.info.kind == kind) {
      return &code;
    }
  }
  return nullptr;
}

const ParsedBlock::Code* ParsedBlock::Find(Group group) const {
  for (const Code& code : codes) {
    if (code.info.group == group) {
      return &code;
    }
  }
  return nullptr;
}

void ParsedBlock::Clear() {
  codes.clear();
  for (std::uint32_t rest = letters; rest != 0; rest &= rest - 1) {
    words[static_cast<std::size_t>(__builtin_ctz(rest))] = nullptr;
  }
  letters = 0;
  axisCol = 0;
}

void ParseWords(SourceBlock& block, ParsedBlock& parsed) {
  parsed.Clear();
  for (Item& item : block.items) {
    if (item.kind != Item::WORD) {
      continue;
    }
    const auto fail = [&](const std::string& message) {
      throw InputError(block.where, item.col, message, block.callers);
    };
    if (item.letter == 'G' || item.letter == 'M') {
      const CodeInfo info = LookUpCode(item.letter, item.value);
      if (info.code < 0) {
        fail(std::string("unsupported ") + item.letter + " code " + item.text);
      }
      if (info.kind == CodeKind::REFUSED) {
        fail(CodeName(info) + ": " + info.reason);
      }
      for (const ParsedBlock::Code& other : parsed.codes) {
        std::string why;
        if (Conflict(other.info, info, why)) {
          fail(CodeName(other.info) + " and " + CodeName(info) + why);
        }
      }
      parsed.codes.push_back({info, &item});
      continue;
    }
    Item*& slot = parsed.words[static_cast<std::size_t>(item.letter - 'A')];
    if (slot != nullptr) {
      fail(std::string("word ") + item.letter + " appears twice in the block");
    }
    slot = &item;
    parsed.letters |= ParsedBlock::Bit(item.letter);
    if (parsed.axisCol == 0 && IsAxisLetter(item.letter)) {
      parsed.axisCol = item.col;
    }
  }
  // A program number names the program that follows (`O1234 (BRACKET)`); beside other words
  // it would be an O-word of another language.
  if (const Item* o = parsed.Word('O')) {
    const bool alone = std::none_of(block.items.begin(), block.items.end(), [o](const Item& item) {
      return item.kind == Item::WORD && &item != o;
    });
    if (!alone || o->value < 0 || o->value != std::floor(o->value)) {
      throw InputError(block.where, o->col,
                       "a program number (O1234) is a whole number on a line of its own, with "
                       "comments only",
                       block.callers);
    }
  }
}

ModalReader::ModalReader(BlockSource& source, ReaderOptions options)
    : m_Source(source), m_Options(std::move(options)) {
  if (m_Options.lathe == ReaderOptions::Lathe::ALWAYS) {
    m_FanucLathe = true;
    m_Modal.diameter = true;
    m_Modal.fanucLathe = true;
    m_Modal.plane = Plane::ZX;
  }
}

bool ModalReader::Next(Block& block) {
  // A fresh block that keeps the storage of its strings and of the words it held: the source
  // writes the next block's text and words over them, so that reading a block allocates nothing
  // once a few have been read.
  static const BlockMeaning FRESH;
  static_cast<BlockMeaning&>(block) = FRESH;
  block.source.where.file.clear();
  block.source.where.line = 0;
  block.source.callers.clear();
  block.source.blockDelete = false;
  block.warnings.clear();
  block.note.clear();
  if (!NextSource(block.source)) {
    block.source.text.clear();
    block.source.items.clear();
    return false;
  }
  Interpret(block);
  return true;
}

// The reader follows X, Y and Z; the rotary and parallel axes it passes through unknown.
std::optional<double> ModalReader::Position(language::Axis axis) const {
  const auto k = static_cast<std::size_t>(axis);
  if (k > 2 || !m_Known[k]) {
    return std::nullopt;
  }
  return k == 0 && m_Modal.diameter ? m_Pos[k] * 2.0 : m_Pos[k];
}

std::optional<double> ModalReader::ToolDiameter() const {
  if (m_Modal.tool <= 0) {
    return std::nullopt;
  }
  const std::optional<double> radius = ToolRadius(m_Modal.tool, false);
  if (!radius) {
    return std::nullopt;
  }
  return *radius * 2.0;
}

std::optional<double> ModalReader::ModalGroup(int group) const {
  switch (group) {
  case 1: {
    const std::string_view code = MotionCode(m_Motion);  // none for a cycle's or an unknown mode
    return code.empty() ? std::nullopt : std::optional<double>(code[1] - '0');
  }
  case 2:
    return m_Modal.plane == Plane::XY ? 17.0 : m_Modal.plane == Plane::ZX ? 18.0 : 19.0;
  case 3:
    return m_Modal.incremental ? 91.0 : 90.0;
  case 5:
    return m_Modal.feedMode == FeedMode::INVERSE_TIME ? 93.0
           : m_Modal.feedMode == FeedMode::PER_MINUTE ? 94.0
                                                      : 95.0;
  case 6:
    return m_Modal.units == Units::INCH ? 20.0 : 21.0;
  case 7:
    if (m_Run == Run::NONE || m_Run == Run::CANCEL_PENDING) {
      return 40.0;
    }
    return m_Side == crc::CRC_DIR_LEFT ? 41.0 : 42.0;
  case 14:
    return m_Modal.coordSystem / 10.0;
  default:
    return std::nullopt;
  }
}

std::optional<double> ModalReader::ModalWord(char letter) const {
  switch (letter) {
  case 'D':
    return m_ModalD >= 0 ? std::optional<double>(m_ModalD) : std::nullopt;
  case 'F':
    return m_Modal.feed;
  case 'T':
    return m_SelectedTool >= 0 ? std::optional<double>(m_SelectedTool) : std::nullopt;
  default:
    return std::nullopt;
  }
}

std::optional<double> ModalReader::ToolOffset(language::OffsetKind kind, int number) const {
  if (kind != language::OffsetKind::RADIUS_GEOMETRY && kind != language::OffsetKind::RADIUS_WEAR) {
    return std::nullopt;  // tool lengths are the control's business: no table holds them here
  }
  const std::optional<double> radius = ToolRadius(number, FanucFamily());
  if (!radius) {
    return std::nullopt;
  }
  const double toProgram = m_Modal.units == Units::INCH ? 1.0 / 25.4 : 1.0;
  const double wear = WearMm(number, FanucFamily()) * toProgram;
  return kind == language::OffsetKind::RADIUS_WEAR ? wear : *radius - wear;
}

// What the table holds for the number a D word or a tool change names: on a Fanuc-family
// control a D word names an offset register (the table's register lines, then its tools); in
// RS274/NGC it names a tool (its tools, then its registers).
const ToolRadiusEntry* ModalReader::TableEntry(int number, bool registerFirst) const {
  const ToolTable* tools = m_Options.tools;
  if (tools == nullptr) {
    return nullptr;
  }
  const ToolRadiusEntry* first = registerFirst ? tools->FindRegister(number) : tools->Find(number);
  return first != nullptr ? first
         : registerFirst  ? tools->Find(number)
                          : tools->FindRegister(number);
}

bool ModalReader::FanucFamily() const {
  return m_Dialect != nullptr && m_Dialect->dialect != language::Dialect::NGC;
}

// The wear added to an offset's radius, in millimetres: the program's (G10 L13) once it set one,
// else the table's.
double ModalReader::WearMm(int number, bool registerFirst) const {
  if (const auto wear = m_Wear.find(number); wear != m_Wear.end()) {
    return wear->second;
  }
  const ToolRadiusEntry* entry = TableEntry(number, registerFirst);
  const double toMm = m_Modal.units == Units::INCH ? 25.4 : 1.0;
  return entry != nullptr ? entry->wear * ToolScale() * toMm : 0.0;
}

// An offset's radius in program units: the one the program set, else the table's, with the
// wear; none when neither the program nor the table gives one.
std::optional<double> ModalReader::ToolRadius(int number, bool registerFirst) const {
  const double toProgram = m_Modal.units == Units::INCH ? 1.0 / 25.4 : 1.0;
  double radius = 0.0;
  if (const auto set = m_SetRadius.find(number); set != m_SetRadius.end()) {
    radius = set->second * toProgram;
  } else if (const ToolRadiusEntry* entry = TableEntry(number, registerFirst)) {
    radius = entry->radius * ToolScale();
  } else {
    return std::nullopt;
  }
  return radius + WearMm(number, registerFirst) * toProgram;
}

// G10 with R sets a radius the program's later D words and tool changes use: L1 (a tool table
// entry), in RS274/NGC L10 and L11 (a touch-off, whose R is the radius as given) and L12 (the
// geometry of an offset) set it; L13 sets the wear added to it, by the value under G90 and by
// the change under G91 (G10 is refused while compensation is on, so a run keeps the radius it
// started with). Other G10 forms (work offsets; L10 and L11 of the Fanuc family, which set a
// length offset) set no radius.
void ModalReader::SetToolRadius(const ParsedBlock& parsed, const ParsedBlock::Code& code,
                                Block& block) {
  const Item* l = parsed.Word('L');
  const Item* r = parsed.Word('R');
  if (l == nullptr || r == nullptr) {
    return;
  }
  const double form = l->value;
  const bool wear = form == 13;
  const bool fanuc = m_Dialect != nullptr && m_Dialect->dialect != language::Dialect::NGC;
  const bool touchOff = (form == 10 || form == 11) && !fanuc;
  if (form != 1 && !touchOff && form != 12 && !wear) {
    return;
  }
  const Item* p = parsed.Word('P');
  if (p == nullptr) {
    Fail(block, code.item->col,
         "G10 L" + std::to_string(static_cast<int>(form)) +
             " with R needs P, the tool or offset whose radius it sets");
  }
  if (p->value < 0 || p->value != std::floor(p->value) || p->value > 1e9) {
    Fail(block, p->col, "P must be a tool or offset number (a non-negative integer)");
  }
  if (!(std::fabs(r->value) <= MAX_LENGTH)) {
    Fail(block, r->col, "the radius is out of range: lengths are limited to 1e9");
  }
  const int tool = static_cast<int>(p->value);
  const double toMm = m_Modal.units == Units::INCH ? 25.4 : 1.0;
  const double value = r->value * toMm;
  // L12 and L13 set an offset register; L1, L10 and L11 a tool.
  const bool registerFirst = form == 12 || wear;
  if (wear) {
    // An incremental wear adds to the wear as it stands (the table's until the program sets it).
    m_Wear[tool] = m_Modal.incremental ? WearMm(tool, registerFirst) + value : value;
  } else if (form == 12 && m_Modal.incremental) {
    // An incremental geometry adds to the offset's radius as it stands (the table's when the
    // program has not set it).
    const std::optional<double> now = ToolRadius(tool, registerFirst);
    m_SetRadius[tool] = (now ? *now * toMm - WearMm(tool, registerFirst) : 0.0) + value;
  } else {
    m_SetRadius[tool] = value;
  }
  if (m_Options.radius) {
    block.warnings.push_back("G10 sets the radius of tool " + std::to_string(tool) +
                             ", but --radius gives the radius of every tool: it is not used");
  }
}

// A block the block-delete switch may skip ('/') that moves in a compensated run, or switches
// compensation: the offsets beside it, or whether there is a run at all, would depend on the
// switch. Refused unless --block-delete already took such blocks out.
void ModalReader::BlockDeleteInRun(const Block& block) const {
  Fail(block, 1,
       "a block-delete line ('/') that moves in a compensated run or switches compensation: the "
       "offsets beside it would depend on the machine's block-delete switch (give "
       "--block-delete to compensate without such lines, or remove the '/')");
}

void ModalReader::Fail(const Block& block, std::size_t col, const std::string& message) const {
  throw InputError(block.source.where, col, message, block.source.callers);
}

void ModalReader::Interpret(Block& block) {
  if (m_Options.fastPath && !m_Profile && PlainMove(block)) {
    return;
  }
  ParsedBlock& parsed = m_Parsed;
  ParseWords(block.source, parsed);
  if (m_Options.lathe != ReaderOptions::Lathe::NEVER) {
    FollowLathe(parsed, block);
  }
  // Without G or M codes nothing is refused, and the compensation words are not there.
  const bool codes = !parsed.codes.empty();
  if (codes) {
    CheckAllowed(parsed, block);
  }
  ApplyModal(parsed, block);
  if (codes) {
    ApplyCompensationWords(parsed, block);
  }
  if (m_Profile) {
    SkipProfileBlock(parsed, block);
    return;
  }
  ApplyMotion(parsed, block);
  AssignPhase(block);
  if (m_FanucLathe) {
    const Item* p = parsed.Word('P');
    const Item* q = parsed.Word('Q');
    for (const ParsedBlock::Code& code : parsed.codes) {
      if (code.info.letter == 'G' && (code.info.code == 710 || code.info.code == 720) &&
          p != nullptr && q != nullptr) {
        if (m_Run != Run::NONE) {
          Fail(block, code.item->col, RoughingUnderCompensation(CodeName(code.info)));
        }
        m_Profile = std::make_pair(p->value, q->value);
        m_InProfile = false;
      }
    }
  }
}

// A block of the profile a roughing cycle names: its modal words hold, its motion is the
// cycle's, which leaves the tool at the cycle's start point.
void ModalReader::SkipProfileBlock(const ParsedBlock& parsed, Block& block) {
  const Item* n = parsed.Word('N');
  // exact: block numbers are whole numbers
  m_InProfile = m_InProfile || (n != nullptr && n->value == m_Profile->first);
  const ParsedBlock::Code* comp = parsed.Find(Group::CUTTER_COMP);
  if (m_InProfile && comp != nullptr) {
    // A profile that switches compensation on: whether the control compensates the roughing by
    // it differs between controls.
    Fail(block, comp->item->col,
         "the profile of a roughing cycle switches nose radius compensation (" +
             CodeName(comp->info) +
             "): controls differ in whether they compensate the roughing passes by it; switch "
             "it before the finishing pass (G70) instead");
  }
  if (!m_InProfile) {
    ApplyMotion(parsed, block);
    AssignPhase(block);
    return;
  }
  // Its geometry is the cycle's to read (a G70 reads it again from where it starts).
  const PlaneAxes& axes = AxesOf(m_Modal.plane);
  const std::size_t u = static_cast<std::size_t>(axes.first - 'X');
  const std::size_t v = static_cast<std::size_t>(axes.second - 'X');
  const std::size_t w = static_cast<std::size_t>(axes.normal - 'X');
  block.motion = Motion::OTHER;
  block.modalMotion = m_Motion;
  block.start = block.end = {m_Pos[u], m_Pos[v]};
  block.startKnown = block.endKnown = m_Known[u] && m_Known[v];
  block.height = m_Pos[w];
  block.heightKnown = block.heightBeforeKnown = m_Known[w];
  if (n != nullptr && n->value == m_Profile->second) {
    m_Profile.reset();
  }
}

// What may not happen while compensation is on (switched on, or running); after a G40 that
// has not moved yet the same codes end the run without a cancel move.
void ModalReader::CheckAllowed(const ParsedBlock& parsed, Block& block) {
  // A G40 in the block acts before the codes that take the axis words (`G40 G28`).
  const ParsedBlock::Code* comp = parsed.Find(Group::CUTTER_COMP);
  const bool cancels = comp != nullptr && comp->info.code == 400;
  const bool compensating = !cancels && (m_Run == Run::ESTABLISH_PENDING || m_Run == Run::DOING);
  const bool cancelPending = m_Run == Run::CANCEL_PENDING || (cancels && m_Run == Run::DOING);
  bool endsPending = false;
  for (const ParsedBlock::Code& code : parsed.codes) {
    const CodeInfo& info = code.info;
    bool breaks = false;
    switch (info.kind) {
    case CodeKind::MACHINE_MOVE:
    case CodeKind::HOME:
    case CodeKind::SETS_POSITION:
    case CodeKind::RESETS_SHIFT:
    case CodeKind::SETS_OFFSET:
    case CodeKind::COORD_SYSTEM:
    case CodeKind::TRANSFORM_ON:
    case CodeKind::TRANSFORM_OFF:
    case CodeKind::TOOL_CHANGE:
    case CodeKind::SET_TOOL:
    case CodeKind::PROBE:
      breaks = true;
      break;
    case CodeKind::CANNED:
      if (compensating) {
        Fail(block, code.item->col,
             "canned cycles are not allowed while compensation is on: cancel with G40 first");
      }
      breaks = true;
      break;
    case CodeKind::UNKNOWN:
      if (compensating && m_FanucLathe && info.letter == 'G' &&
          (info.code == 710 || info.code == 720)) {
        Fail(block, code.item->col, RoughingUnderCompensation(CodeName(info)));
      }
      if (compensating) {
        Fail(block, code.item->col,
             CodeName(info) + " is not understood inside a compensated run: cancel with G40 first");
      }
      breaks = true;
      break;
    case CodeKind::PLANE: {
      const Plane plane = info.code == 170 ? Plane::XY : info.code == 180 ? Plane::ZX : Plane::YZ;
      if (compensating && plane != m_Modal.plane) {
        Fail(block, code.item->col,
             "the plane cannot change while compensation is on: cancel with G40 first");
      }
      // A cancel move in another plane would join two planes' coordinates: the run ends
      // without one, as before a set-up code.
      endsPending = endsPending || plane != m_Modal.plane;
      break;
    }
    case CodeKind::UNITS: {
      const Units units = info.code == 200 ? Units::INCH : Units::MM;
      if (compensating && units != m_Modal.units) {
        Fail(block, code.item->col,
             "units cannot change while compensation is on (the radius is in the old unit): "
             "cancel with G40 first");
      }
      endsPending = endsPending || units != m_Modal.units;  // likewise in other units
      break;
    }
    default:
      break;
    }
    if (breaks && compensating) {
      Fail(block, code.item->col, code.item->text + CANCEL_FIRST);
    }
    endsPending = endsPending || breaks;
  }
  if (cancelPending && endsPending) {
    block.endsRun = true;
    m_Run = Run::NONE;
  }
}

void ModalReader::ApplyModal(const ParsedBlock& parsed, Block& block) {
  if (const Item* f = parsed.Word('F')) {
    m_Modal.feed = f->value;
  }
  // Tool selection and change come first in a block's order of execution.
  if (const Item* t = parsed.Word('T')) {
    m_SelectedTool = t->value >= 0 && t->value == std::floor(t->value) && t->value < 1e9
                         ? static_cast<int>(t->value)
                         : -1;
    if (m_FanucLathe && parsed.Find(CodeKind::TOOL_CHANGE) == nullptr) {
      // Tttoo: the turret turns to tool tt and its offset oo applies, without M6.
      if (m_Run == Run::ESTABLISH_PENDING || m_Run == Run::DOING) {
        Fail(block, t->col, t->text + CANCEL_FIRST);
      }
      const lathe::ToolSelect select =
          lathe::SplitLatheToolWord(std::string_view(t->text).substr(1));
      if (!select.ok) {
        Fail(block, t->col, select.error);
      }
      m_SelectedTool = select.tool;
      m_Modal.tool = select.tool;
      m_Offset = select.offset;
      m_OffsetWord = t->text;
    }
  }
  const bool axisWords = parsed.AxisWords();
  for (const ParsedBlock::Code& code : parsed.codes) {
    const CodeInfo& info = code.info;
    switch (info.kind) {
    case CodeKind::TOOL_CHANGE:
      m_Modal.tool = m_SelectedTool;
      break;
    case CodeKind::SET_TOOL: {
      const Item* q = parsed.Word('Q');
      m_Modal.tool =
          q != nullptr && q->value >= 0 && q->value < 1e9 ? static_cast<int>(q->value) : -1;
      break;
    }
    case CodeKind::X_MODE:
      m_Modal.diameter = info.code == 70;
      m_Lathe = m_Lathe || m_Modal.diameter;
      break;
    case CodeKind::PLANE:
      m_PlaneGiven = true;
      m_Modal.plane = info.code == 170 ? Plane::XY : info.code == 180 ? Plane::ZX : Plane::YZ;
      break;
    case CodeKind::UNITS: {
      const Units units = info.code == 200 ? Units::INCH : Units::MM;
      // The tool does not move: its position is said again in the new unit.
      if (units != m_Modal.units) {
        const double scale = units == Units::INCH ? 1.0 / 25.4 : 25.4;
        for (double& position : m_Pos) {
          position *= scale;
        }
      }
      m_Modal.units = units;
      break;
    }
    case CodeKind::DISTANCE:
      m_Modal.incremental = info.code == 910;
      break;
    case CodeKind::ARC_DISTANCE:
      m_Modal.arcAbsolute = info.code == 901;
      break;
    case CodeKind::FEED_MODE:
      m_Modal.feedMode = info.code == 930   ? FeedMode::INVERSE_TIME
                         : info.code == 940 ? FeedMode::PER_MINUTE
                                            : FeedMode::PER_REVOLUTION;
      break;
    case CodeKind::COORD_SYSTEM:
      // The new work coordinates hold for this block's own axis words: what it moves to is
      // known again (item 9 of real programs: `G00 G90 G54 X30. Y32.`).
      m_Known = {false, false, false};
      m_PositionLostBy = CodeName(info) + " on line " + std::to_string(block.Line());
      block.newCoordSystem = block.newCoordSystem || info.code != m_Modal.coordSystem;
      m_Modal.coordSystem = info.code;
      break;
    case CodeKind::MACHINE_MOVE:
      block.machineCoordinates = true;
      break;
    case CodeKind::HOME:
      block.home = true;
      break;
    case CodeKind::SETS_POSITION:
    case CodeKind::RESETS_SHIFT:
      block.shift = true;
      break;
    case CodeKind::SETS_OFFSET:
      block.offsetSetting = true;
      if (info.code == 100) {
        SetToolRadius(parsed, code, block);
      }
      break;
    case CodeKind::TRANSFORM_ON:
      // The point where the tool stands has other coordinates in the transformed frame, and the
      // moves under it are not followed in the plain one: where the tool is becomes unknown, on
      // and off.
      m_Transform = info.reason;
      block.warnings.push_back(CodeName(info) + " passed through unchanged");
      m_Known = {false, false, false};
      m_PositionLostBy = CodeName(info) + " on line " + std::to_string(block.Line());
      break;
    case CodeKind::TRANSFORM_OFF:
      if (!m_Transform.empty()) {
        m_Known = {false, false, false};
        m_PositionLostBy = CodeName(info) + " on line " + std::to_string(block.Line());
      }
      m_Transform.clear();
      if (info.reason != nullptr) {
        block.warnings.push_back(CodeName(info) + " passed through unchanged");
      }
      break;
    case CodeKind::UNKNOWN:
      block.warnings.push_back(CodeName(info) + " passed through unchanged");
      if (info.letter == 'G' && axisWords) {
        // A cycle of another controller: where it leaves the tool, and what the axis words of
        // the blocks after it mean, is its own business.
        m_Motion = Motion::OTHER;
        m_OtherMotion = CodeName(info);
        m_CycleMode = false;
      }
      break;
    case CodeKind::PROGRAM_END:
      block.programEnd = true;
      break;
    default:
      break;
    }
  }
  // On a Fanuc-family control a D word selects an offset register that stays in force, unless
  // the block calls a cycle, whose words (D: a depth) are its own.
  if (const Item* d = parsed.Word('D'); d != nullptr && FanucFamily() && d->value >= 0 &&
                                        d->value == std::floor(d->value) && d->value <= 1e9) {
    const bool cycle = std::any_of(parsed.codes.begin(), parsed.codes.end(), [](const auto& code) {
      return code.info.kind == CodeKind::CANNED || code.info.kind == CodeKind::UNKNOWN;
    });
    if (!cycle) {
      m_ModalD = static_cast<int>(d->value);
    }
  }
  block.modal = m_Modal;
  block.letters = parsed.letters;
}

double ModalReader::ResolveRadius(const ParsedBlock::Code& comp, const Item* d, Block& block,
                                  int& toolUsed) {
  const std::string name = CodeName(comp.info);
  // The tool whose tip direction applies: the one D names, else the one in the spindle.
  const bool dynamic = comp.info.code == 411 || comp.info.code == 421;
  toolUsed = dynamic ? -1 : m_Modal.tool;
  if (!dynamic && d != nullptr && d->value >= 0 && d->value == std::floor(d->value) &&
      d->value <= 1e9) {
    toolUsed = static_cast<int>(d->value);
  }
  if (const lathe::LatheOffset* offset =
          !dynamic && d == nullptr ? SelectedOffset(comp, block) : nullptr) {
    return m_Options.radius ? *m_Options.radius : offset->noseRadius;
  }
  if (m_Options.radius) {
    return *m_Options.radius;
  }
  if (comp.info.code == 411 || comp.info.code == 421) {
    if (d == nullptr) {
      Fail(block, comp.item->col, name + " needs D, the tool diameter");
    }
    return d->value / 2.0;
  }
  // On a Fanuc-family control D names an offset register, and the last one named stays in
  // force for a G41/G42 without D; in RS274/NGC D names a tool, and without it the tool in the
  // spindle is used.
  const bool fanuc = FanucFamily();
  int tool = -1;
  bool byD = true;
  if (d != nullptr) {
    if (d->value < 0 || d->value != std::floor(d->value) || d->value > 1e9) {
      Fail(block, d->col,
           fanuc ? "D must be an offset number (a non-negative integer)"
                 : "D must be a tool number (a non-negative integer)");
    }
    tool = static_cast<int>(d->value);
  } else if (fanuc && m_ModalD >= 0) {
    tool = m_ModalD;
  } else if (m_Modal.tool >= 0) {
    tool = m_Modal.tool;
    byD = false;
    if (fanuc) {
      // The control would take the D in force, which the program never named: the spindle's
      // tool is what RS274/NGC takes, a guess on this control, said as such.
      block.warnings.push_back(name + " without D, and no D named before: compensated by tool " +
                               std::to_string(tool) +
                               "'s radius; a Fanuc-family control takes the D in force (D0, no "
                               "offset, unless the machine keeps one): give D");
    }
  } else {
    Fail(block, comp.item->col,
         name + " without D and no tool loaded (T.. M6): give D or --radius");
  }
  if (tool == 0) {
    return 0.0;  // D0: compensation by nothing
  }
  const bool registerFirst = fanuc && byD;
  const std::optional<double> radius = ToolRadius(tool, registerFirst);
  const std::string number = std::to_string(tool);
  if (!radius) {
    const ToolTable* tools = m_Options.tools;
    const std::size_t at = d != nullptr ? d->col : comp.item->col;
    if (tools == nullptr || tools->Empty()) {
      Fail(block, at,
           (registerFirst ? "offset D" : "tool ") + number +
               " needs a tool table (--tool-table FILE), an offset list (--offsets FILE) or "
               "--radius");
    }
    Fail(block, at,
         registerFirst ? "offset D" + number + " is in neither the offset list nor the tool table"
                       : "tool " + number + " (D" + number + ") is not in the tool table");
  }
  // A number listed both as a register and as a tool with different radii: which one the
  // control takes is the dialect's rule, said so that a table meant otherwise is seen.
  const ToolTable* tools = m_Options.tools;
  const ToolRadiusEntry* reg = tools != nullptr ? tools->FindRegister(tool) : nullptr;
  const ToolRadiusEntry* row = tools != nullptr ? tools->Find(tool) : nullptr;
  if (byD && reg != nullptr && row != nullptr && m_SetRadius.count(tool) == 0 &&
      (reg->radius + reg->wear != row->radius + row->wear)) {  // exact: the same value is no doubt
    block.warnings.push_back(
        "D" + number + " is both an offset register and a tool in the tables: " +
        (registerFirst ? "the register's radius is used (D names an offset register here)"
                       : "tool " + number + "'s radius is used (D names a tool here)"));
  }
  return *radius;
}

// Where the controlled point lies from the nose centre: a turning tool's tip direction from
// G41.1/G42.1 L, or from the tool table's Q (both on the chart with X down, the tool in front of
// the centre line), under G18 only. A lathe program compensating a tool without one is told
// that the nose centre is what it writes.
Point ModalReader::ResolveTip(const ParsedBlock& parsed, const ParsedBlock::Code& comp, int tool,
                              double radius, Block& block) {
  const bool dynamic = comp.info.code == 411 || comp.info.code == 421;
  std::optional<int> direction;
  if (Item* l = dynamic ? parsed.Word('L') : nullptr) {
    l->role = Item::COMP;
    if (!(l->value >= 0 && l->value <= 9 && l->value == std::floor(l->value))) {
      Fail(block, l->col, "L, the tool's tip direction, must be a whole number 0-9");
    }
    direction = static_cast<int>(l->value);
  } else if (const int* q = m_Options.tools != nullptr && tool > 0 ? m_Options.tools->FindTip(tool)
                                                                   : nullptr) {
    direction = *q;
  }
  const lathe::LatheOffset* offset =
      !dynamic && parsed.Word('D') == nullptr ? SelectedOffset(comp, block) : nullptr;
  lathe::TipChart chart = lathe::TipChart::X_DOWN;
  if (offset != nullptr) {
    direction = offset->tip;  // the offset page's tip, on the Fanuc-family chart
    chart = lathe::TipChart::X_UP;
  }
  const bool lathe =
      m_Lathe || m_FanucLathe || (m_Options.tools != nullptr && m_Options.tools->Lathe());
  if (m_Modal.plane != Plane::ZX) {
    if (direction && *direction != 0 && *direction != 9 && radius != 0.0) {
      block.warnings.push_back(
          "the tip direction is used under G18 only: " + std::string(AxesOf(m_Modal.plane).code) +
          " compensates for the nose centre");
    }
    return Point(0.0, 0.0);
  }
  if (!direction) {
    if (lathe && radius != 0.0) {
      const std::string who = dynamic     ? CodeName(comp.info) + " without L"
                              : tool >= 0 ? "tool " + std::to_string(tool)
                                          : "the tool --radius gives";
      block.warnings.push_back(
          who +
          " has no tip direction: compensated for the nose centre; a tool touched off at "
          "its imaginary tip cuts up to a nose radius off in X and Z (give Q in the tool "
          "table, T in the offset list, or L with G41.1/G42.1)");
    }
    return Point(0.0, 0.0);
  }
  const lathe::TipVector tip = lathe::TipOf(*direction, radius, chart);
  if (!tip.ok) {
    Fail(block, comp.item->col, tip.error);
  }
  return Point(tip.offset.x, tip.offset.y);
}

// The offset a Tttoo word selected, for G41/G42 without D on a Fanuc-family lathe: its nose
// radius and tip come from the offset list. None when no such word was given.
const lathe::LatheOffset* ModalReader::SelectedOffset(const ParsedBlock::Code& comp,
                                                      const Block& block) const {
  if (!m_FanucLathe || m_Offset < 0) {
    return nullptr;
  }
  const std::string number = (m_Offset < 10 ? "0" : "") + std::to_string(m_Offset);
  const std::string name = CodeName(comp.info);
  if (m_Offset == 0) {
    if (m_Options.radius) {
      return nullptr;
    }
    Fail(block, comp.item->col,
         name + " after " + m_OffsetWord + ": offset 00 gives no nose radius: select one (T" +
             m_OffsetWord.substr(1, m_OffsetWord.size() - 3) + "01) or give --radius");
  }
  if (m_Options.offsets == nullptr) {
    if (m_Options.radius) {
      return nullptr;
    }
    Fail(block, comp.item->col,
         name + " after " + m_OffsetWord + ": offset " + number +
             " needs an offset list (--offset-list FILE) or --radius");
  }
  const auto it = m_Options.offsets->offsets.find(m_Offset);
  if (it == m_Options.offsets->offsets.end()) {
    Fail(block, comp.item->col,
         m_OffsetWord + ": offset " + number + " is not in the offset list " +
             m_Options.offsetListName);
  }
  return &it->second;
}

// The tool table is in the program's units unless --tool-units says otherwise.
double ModalReader::ToolScale() const {
  if (m_Options.toolUnits && *m_Options.toolUnits != m_Modal.units) {
    return *m_Options.toolUnits == Units::INCH ? 25.4 : 1.0 / 25.4;
  }
  return 1.0;
}

void ModalReader::ApplyCompensationWords(const ParsedBlock& parsed, Block& block) {
  const ParsedBlock::Code* comp = parsed.Find(Group::CUTTER_COMP);
  if (comp == nullptr) {
    return;
  }
  comp->item->role = Item::COMP;
  if (block.source.blockDelete) {
    BlockDeleteInRun(block);
  }
  if (comp->info.code == 400) {
    if (m_Run == Run::ESTABLISH_PENDING) {
      m_Run = Run::NONE;  // switched on and off again without a move: nothing to cancel
    } else if (m_Run == Run::DOING) {
      m_Run = Run::CANCEL_PENDING;
    }
    return;
  }
  Item* d = parsed.Word('D');
  if (d != nullptr) {
    d->role = Item::COMP;
  }
  if (!m_Transform.empty()) {
    Fail(block, comp->item->col,
         CodeName(comp->info) + " is not supported under " + m_Transform + ": cancel it first");
  }
  int tool = -1;
  const double radius = ResolveRadius(*comp, d, block, tool);
  if (!(std::fabs(radius) <= MAX_LENGTH)) {
    Fail(block, comp->item->col, "compensation radius is out of range: lengths are limited to 1e9");
  }
  const Point tip = ResolveTip(parsed, *comp, tool, radius, block);
  const bool left = comp->info.code == 410 || comp->info.code == 411;
  if (m_Run == Run::DOING) {
    // exact: the same D in force again is no change; any other radius is
    if (radius != m_CompRadius) {
      Fail(block, comp->item->col,
           "the compensation radius cannot change while compensation is on: cancel with G40 "
           "first");
    }
    if (tip.x != m_Tip.x || tip.y != m_Tip.y) {  // exact: the same tool gives the same vector
      Fail(block, comp->item->col,
           "the tip direction changes while compensation is on: cancel it (G40) first");
    }
  } else {
    // A G40 that has not moved yet ends its run here, without a cancel move; a new run starts
    // with the next plane move.
    if (m_Run == Run::CANCEL_PENDING) {
      block.endsRun = true;
    }
    m_Run = Run::ESTABLISH_PENDING;
    m_CompRadius = radius;
    m_Tip = tip;
  }
  m_Side = left ? crc::CRC_DIR_LEFT : crc::CRC_DIR_RIGHT;
}

void ModalReader::AssignPhase(Block& block) {
  // A finishing cycle's return to its start point ends the run there without a cancel move: the
  // start point is clear of the part, and the control's own compensation of that rapid is its
  // business. A plane move after it starts a new run while G41/G42 is still in force.
  bool resume = false;
  if (m_CycleReturn) {
    m_CycleReturn = false;
    if (m_Run == Run::DOING) {
      block.endsRun = true;
      m_Run = Run::NONE;
      resume = true;
    }
  }
  if (block.zeroMove && m_Run == Run::CANCEL_PENDING) {
    // The move after G40 goes nowhere in the program: the tool leaves the contour with it, from
    // where the last offset segment left it, straight to the programmed point.
    block.endsRun = true;
    m_Run = Run::NONE;
  }
  if (block.planeMotion) {
    const bool offset = std::fabs(m_CompRadius) >= crc::EPSILON;
    switch (m_Run) {
    case Run::NONE:
      break;
    case Run::ESTABLISH_PENDING:
      block.phase = offset ? crc::CRC_STATUS_ESTABLISH : crc::CRC_STATUS_NONE;
      m_Run = Run::DOING;
      break;
    case Run::DOING:
      block.phase = offset ? crc::CRC_STATUS_DOING : crc::CRC_STATUS_NONE;
      break;
    case Run::CANCEL_PENDING:
      block.phase = offset ? crc::CRC_STATUS_RETRACT : crc::CRC_STATUS_NONE;
      m_Run = Run::NONE;
      break;
    }
    if (block.phase != crc::CRC_STATUS_NONE) {
      if (block.source.blockDelete) {
        BlockDeleteInRun(block);
      }
      block.side = m_Side;
      block.compRadius = m_CompRadius;
      block.tip = m_Tip;
      // The move that switches compensation on starts at a programmed point, the cancel move
      // ends at one: the tip stands there, not the nose centre moved by the tip vector. An arc
      // between such a point and a compensated one is no circle once one end is moved.
      const bool tipped = m_Tip.x != 0.0 || m_Tip.y != 0.0;
      if (tipped && IsArc(block.motion) &&
          (block.phase == crc::CRC_STATUS_ESTABLISH || block.phase == crc::CRC_STATUS_RETRACT)) {
        Fail(block, 1,
             std::string("an arc cannot switch compensation ") +
                 (block.phase == crc::CRC_STATUS_ESTABLISH ? "on" : "off") +
                 " for a tool with a tip direction: switch it with a straight move");
      }
    }
  }
  if (block.programEnd) {
    if ((m_Run == Run::DOING || m_Run == Run::CANCEL_PENDING) && !block.planeMotion) {
      block.endsRun = true;
    }
    m_Run = Run::NONE;  // program end switches compensation off
  } else if (resume) {
    m_Run = Run::ESTABLISH_PENDING;
  }
}

}  // namespace cutcomp::cli
