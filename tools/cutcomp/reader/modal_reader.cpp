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

#include "profile_cycles.h"
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

namespace {

// The blocks kept for a later G70: a profile is a few dozen blocks just before its cycles.
constexpr std::size_t KEPT_BLOCKS = 10000;

const Item* WordOf(const SourceBlock& source, char letter) {
  for (const Item& item : source.items) {
    if (item.kind == Item::WORD && item.letter == letter) {
      return &item;
    }
  }
  return nullptr;
}

bool IsG(const Item& item, double code) {
  return item.kind == Item::WORD && item.letter == 'G' && std::fabs(item.value - code) < 1e-9;
}

// A length as the blocks a cycle is written as give it: 4 decimals in millimetres, 5 in inches
// (below any control's least input increment), trailing zeros dropped and the decimal point
// kept (a Fanuc-family control may read "X2" as 0.002 mm).
std::string CycleLength(double value, Units units) {
  char digits[48];
  std::snprintf(digits, sizeof digits, "%.*f", units == Units::MM ? 4 : 5, value);
  std::string text = digits;
  text.erase(text.find_last_not_of('0') + 1);
  return text == "-0." ? std::string("0.") : text;
}

// A block a cycle is written as, placed where the cycle was.
SourceBlock Synthesised(const SourceBlock& cycle, const std::string& text) {
  SourceBlock block;
  block.where = cycle.where;
  block.callers = cycle.callers;
  bool blockDelete = false;
  block.items = language::TokenizePlain(text, cycle.where.line, blockDelete);
  block.text = text;
  return block;
}

// A block written as a comment of its words and `note` (its own comments left out: a comment
// holds no parentheses).
void IntoComment(SourceBlock& source, const std::string& note) {
  std::string words;
  for (const Item& item : source.items) {
    if (item.kind == Item::WORD) {
      words += (words.empty() ? "" : " ") + item.text;
    }
  }
  source.text = "(" + words + note + ")";
  source.items.clear();
  Item comment;
  comment.kind = Item::COMMENT;
  comment.text = source.text;
  comment.col = 1;
  source.items.push_back(comment);
}

bool HasWords(const SourceBlock& source) {
  return std::any_of(source.items.begin(), source.items.end(),
                     [](const Item& item) { return item.kind == Item::WORD; });
}

// Continuity of a profile resolved from its own words: its moves are chained, so only rounding
// separates them.
constexpr double CYCLE_TOLERANCE = 1e-6;

// Why a roughing cycle is refused under nose radius compensation, with or without
// --expand-cycles: some controls rough the programmed profile, others its compensated path,
// and what a control does with the passes' in-feeds and retracts is its own.
std::string RoughingUnderCompensation(const std::string& cycle) {
  return cycle +
         " under nose radius compensation: controls differ in whether and how they compensate "
         "the roughing passes; cancel it (G40) before the cycle and switch it on for the "
         "finishing pass (G70)";
}

}  // namespace

// The next block: one a G70 runs again, or the program's next. On a Fanuc-family lathe the
// blocks are kept for a G70 that names them later.
bool ModalReader::NextSource(SourceBlock& source) {
  if (!m_Replay.empty()) {
    source = std::move(m_Replay.front());
    m_Replay.pop_front();
    m_CycleReturn = m_Replay.empty();
    return true;
  }
  if (!m_Source.Next(source)) {
    return false;
  }
  if (m_FanucLathe) {
    Finish(source);
  }
  return true;
}

void ModalReader::Keep(const SourceBlock& source) {
  if (m_Kept.size() == KEPT_BLOCKS) {
    m_Kept.pop_front();
  }
  m_Kept.push_back(source);
}

// G70 P<ns> Q<nf>: the finishing cycle runs the blocks N<ns> to N<nf> once, each with its own
// motion and feed, and goes back to where it started at rapid. The block itself is written as a
// comment; the profile's blocks follow it, then the return, as moves of their own, so that they
// are compensated when G41/G42 is in force.
void ModalReader::Finish(SourceBlock& source) {
  if (m_Options.expandCycles && ExpandRoughingCycle(source)) {
    return;
  }
  const auto g70 = std::find_if(source.items.begin(), source.items.end(),
                                [](const Item& item) { return IsG(item, 70); });
  if (g70 == source.items.end()) {
    Keep(source);
    return;
  }
  const Item* p = WordOf(source, 'P');
  const Item* q = WordOf(source, 'Q');
  const auto fail = [&](const std::string& message) {
    throw InputError(source.where, g70->col, message, source.callers);
  };
  if (p == nullptr || q == nullptr) {
    fail("G70 needs P and Q, the first and last blocks (N numbers) of the profile it finishes");
  }
  for (const Item& item : source.items) {
    if (item.kind == Item::WORD && item.letter != 'G' && item.letter != 'P' && item.letter != 'Q' &&
        item.letter != 'N') {
      fail("G70 P Q stands alone in its block: " + item.text + " would be read by the cycle");
    }
  }
  // The last run of N<ns> .. N<nf> among the blocks kept.
  std::size_t first = m_Kept.size();
  for (std::size_t k = m_Kept.size(); k-- > 0;) {
    const Item* n = WordOf(m_Kept[k], 'N');
    if (n != nullptr && n->value == p->value) {  // exact: block numbers are whole numbers
      first = k;
      break;
    }
  }
  std::size_t last = m_Kept.size();
  for (std::size_t k = first; k < m_Kept.size(); ++k) {
    const Item* n = WordOf(m_Kept[k], 'N');
    if (n != nullptr && n->value == q->value) {  // exact: block numbers are whole numbers
      last = k;
      break;
    }
  }
  if (first == m_Kept.size() || last == m_Kept.size()) {
    fail("G70 " + p->text + " " + q->text + ": no blocks N" + p->text.substr(1) + " to N" +
         q->text.substr(1) + " were read before it");
  }
  if (!(m_Known[0] && m_Known[2])) {
    fail("G70 needs a known start point to return to: program X and Z before it");
  }
  for (std::size_t k = first; k <= last; ++k) {
    m_Replay.push_back(m_Kept[k]);
    m_Replay.back().callers = source.callers;
  }
  // Back to the start point at rapid, written where the G70 was, each length with its decimal
  // point.
  const std::string text =
      "G0 X" + CycleLength(m_Modal.diameter ? m_Pos[0] * 2.0 : m_Pos[0], m_Modal.units) + " Z" +
      CycleLength(m_Pos[2], m_Modal.units);
  m_Replay.push_back(Synthesised(source, text));
  source.text = "(" + source.text + ": the profile follows)";
  source.items.clear();
  Item comment;
  comment.kind = Item::COMMENT;
  comment.text = source.text;
  comment.col = 1;
  source.items.push_back(comment);
}

// G71/G72 with --expand-cycles: the cycle, the blocks of its profile after it and the first
// block of the two-block form are written as comments, and the cycle's moves (profile_cycles.h)
// as blocks of their own in their place, so that a control without the cycles makes the same
// moves and the writer needs nothing new. The profile's blocks are kept for a G70 that names
// them later. False for a block that is no roughing cycle.
// refuses: other words in the cycle's blocks (but N, P, Q, U, W, D, R, F); R beside P and Q
//   (Haas's type II); P without Q; a cycle under nose radius compensation; an unknown start
//   point; a profile that does not follow the cycle at once or is not ended by N<nf> before the
//   program ends; in the profile, codes other than G0 to G3, a T or M word, or a move the
//   lathe's words refuse; a depth of cut or retract the program does not give (and
//   --cycle-retract does not); every refusal of the expansion itself, at its block.
bool ModalReader::ExpandRoughingCycle(SourceBlock& source) {
  const auto cycle = std::find_if(source.items.begin(), source.items.end(),
                                  [](const Item& item) { return IsG(item, 71) || IsG(item, 72); });
  if (cycle == source.items.end()) {
    return false;
  }
  const bool alongX = IsG(*cycle, 72);
  const std::size_t axis = alongX ? 1 : 0;
  const std::string name = alongX ? "G72" : "G71";
  const auto fail = [&](const SourceBlock& at, std::size_t col, const std::string& message) {
    throw InputError(at.where, col, message, at.callers);
  };
  for (const Item& item : source.items) {
    const bool known =
        item.kind != Item::WORD || std::string("GNPQUWDRF").find(item.letter) != std::string::npos;
    if (!known || (item.letter == 'G' && &item != &*cycle)) {
      fail(source, item.col,
           name + " is written as its moves with nothing else in its block: " + item.text +
               " would be read by the cycle");
    }
  }
  const Item* p = WordOf(source, 'P');
  const Item* q = WordOf(source, 'Q');
  const Item* depthWord = WordOf(source, alongX ? 'W' : 'U');
  const Item* r = WordOf(source, 'R');
  if (p == nullptr && q == nullptr) {
    // The two-block form's first block: the depth of cut (U, a radius, for G71; W for G72) and
    // the retract, which hold for the cycles after it.
    if (depthWord == nullptr && r == nullptr) {
      fail(source, cycle->col,
           name + " needs P and Q (the profile's first and last blocks), or " +
               (alongX ? "W" : "U") + " and R (the depth of cut and retract)");
    }
    if (depthWord != nullptr) {
      m_RoughDepth[axis] = depthWord->value;
    }
    if (r != nullptr) {
      m_RoughRetract[axis] = r->value;
    }
    Keep(source);
    IntoComment(source, ": the depth of cut and retract of the roughing that follows");
    return true;
  }
  if (p == nullptr || q == nullptr) {
    fail(source, cycle->col,
         name + " needs both P and Q, the first and last blocks (N numbers) of the profile");
  }
  const std::string words = name + " " + p->text + " " + q->text;
  if (r != nullptr) {
    fail(source, r->col,
         words + ": " + r->text + " beside P and Q (type II on Haas's controls) is not expanded");
  }
  if (m_Run != Run::NONE) {
    fail(source, cycle->col, RoughingUnderCompensation(name));
  }
  if (!(m_Known[0] && m_Known[2])) {
    fail(source, cycle->col, name + " needs a known start point: program X and Z before it");
  }
  const Item* d = WordOf(source, 'D');
  const std::optional<double> depth =
      d != nullptr ? std::optional<double>(d->value) : m_RoughDepth[axis];
  const std::optional<double> retract =
      d == nullptr && m_RoughRetract[axis] ? m_RoughRetract[axis] : m_Options.cycleRetract;
  if (!depth) {
    fail(source, cycle->col,
         words + " without its depth of cut: give " + name + (alongX ? " W" : " U") +
             "(depth) R(retract) in the block before (the two-block form), or D (Haas)");
  }
  if (!retract) {
    fail(source, cycle->col,
         words +
             ": the retract after each pass is a setting of the control here; give it with "
             "--cycle-retract");
  }
  Keep(source);
  // The profile: N<ns> at once after the cycle (blocks of comments aside), to N<nf>.
  std::vector<SourceBlock> blocks;
  bool started = false;
  for (;;) {
    SourceBlock next;
    if (!m_Source.Next(next)) {
      fail(source, q->col, words + ": the program ends before block N" + q->text.substr(1));
    }
    if (blocks.size() == KEPT_BLOCKS) {
      fail(source, q->col,
           words + ": the profile is longer than " + std::to_string(KEPT_BLOCKS) + " blocks");
    }
    Keep(next);
    const Item* n = WordOf(next, 'N');
    if (!started && HasWords(next) &&
        !(n != nullptr && n->value == p->value)) {  // exact: block numbers
      fail(next, 1,
           words + ": the profile's first block N" + p->text.substr(1) + " must follow the cycle");
    }
    started = started || HasWords(next);
    blocks.push_back(std::move(next));
    if (n != nullptr && n->value == q->value) {  // exact: block numbers are whole numbers
      break;
    }
  }
  // Its moves, resolved as the lathe's words place them, from the start point on.
  lathe::LatheFrame frame;
  frame.xMode = m_Modal.diameter ? lathe::XMode::DIAMETER : lathe::XMode::RADIUS;
  frame.incremental = m_Modal.incremental;
  frame.uwIncremental = true;
  frame.at = Point(m_Pos[2], m_Pos[0]);
  const Point start = frame.at;
  const double arcTolerance =
      m_Options.arcTolerance.value_or(m_Modal.units == Units::MM ? 0.005 : 0.0005);
  std::vector<lathe::CycleMove> profile;
  Motion motion = Motion::NONE;  // block ns gives G0 or G1
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    const SourceBlock& b = blocks[k];
    lathe::LatheWords lw;
    bool moves = false;
    for (const Item& item : b.items) {
      if (item.kind != Item::WORD) {
        continue;
      }
      switch (item.letter) {
      case 'G':
        if (IsG(item, 41) || IsG(item, 42) || IsG(item, 40)) {
          fail(b, item.col,
               words + ": its profile switches nose radius compensation (" + item.text +
                   "): controls differ in whether they compensate the roughing passes by it; "
                   "switch it before the finishing pass (G70) instead");
        }
        if (!(IsG(item, 0) || IsG(item, 1) || IsG(item, 2) || IsG(item, 3))) {
          fail(b, item.col, words + ": its profile may move with G0 to G3 only, not " + item.text);
        }
        motion = IsG(item, 0)   ? Motion::RAPID
                 : IsG(item, 1) ? Motion::LINE
                 : IsG(item, 2) ? Motion::ARC_CW
                                : Motion::ARC_CCW;
        break;
      case 'X':
        lw.x = item.value;
        moves = true;
        break;
      case 'Z':
        lw.z = item.value;
        moves = true;
        break;
      case 'U':
        lw.u = item.value;
        moves = true;
        break;
      case 'W':
        lw.w = item.value;
        moves = true;
        break;
      case 'I':
        lw.i = item.value;
        break;
      case 'K':
        lw.k = item.value;
        break;
      case 'R':
        lw.r = item.value;
        break;
      case 'C':
        lw.c = item.value;
        break;
      case 'N':
      case 'F':
      case 'S':
        break;  // the feed and speed of the finishing pass (G70); the roughing runs at the cycle's
      default:
        fail(b, item.col, words + ": " + item.text + " in its profile is not expanded");
      }
    }
    if (!moves) {
      continue;
    }
    if (motion == Motion::NONE) {
      fail(b, 1, words + ": the profile's first block must give G0 or G1");
    }
    const std::optional<bool> arc =
        IsArc(motion) ? std::optional<bool>(motion == Motion::ARC_CCW) : std::nullopt;
    const lathe::LatheMove move = lathe::ResolveLatheMove(lw, frame, arc, arcTolerance);
    if (!move.ok) {
      fail(b, 1, move.error);
    }
    lathe::CycleMove cm;
    cm.curve.from = frame.at;
    cm.curve.to = move.end;
    if (arc) {
      cm.curve.arc = true;
      cm.curve.ccw = *arc;
      cm.curve.centre = move.centre;
      cm.curve.radius = std::hypot(frame.at.x - move.centre.x, frame.at.y - move.centre.y);
    }
    cm.rapid = motion == Motion::RAPID;
    cm.id = static_cast<std::int64_t>(k);
    profile.push_back(cm);
    frame.at = move.end;
  }
  lathe::RoughingCycle roughing;
  roughing.along = alongX ? lathe::RoughingAxis::X : lathe::RoughingAxis::Z;
  roughing.depth = *depth;
  roughing.retract = *retract;
  const Item* u = WordOf(source, 'U');
  const Item* w = WordOf(source, 'W');
  roughing.allowance = Point(w != nullptr ? w->value : 0.0, u == nullptr       ? 0.0
                                                            : m_Modal.diameter ? u->value / 2.0
                                                                               : u->value);
  const lathe::CycleResult result =
      lathe::ExpandRoughing(start, profile, roughing, CYCLE_TOLERANCE);
  if (!result.ok) {
    const SourceBlock& at =
        result.errorId >= 0 ? blocks[static_cast<std::size_t>(result.errorId)] : source;
    fail(at, result.errorId >= 0 ? 1 : cycle->col, words + ": " + result.error);
  }
  const Item* f = WordOf(source, 'F');
  bool fed = false;
  for (const lathe::CycleMove& m : result.moves) {
    const Curve& c = m.curve;
    const auto x = [&](double radius) {
      return CycleLength(m_Modal.diameter ? radius * 2.0 : radius, m_Modal.units);
    };
    std::string text = !c.arc ? (m.rapid ? "G0" : "G1") : (c.ccw ? "G3" : "G2");
    text += " X" + x(c.to.y) + " Z" + CycleLength(c.to.x, m_Modal.units);
    if (c.arc) {
      // I and K are radius values relative to the arc's start in either X mode.
      text += " I" + CycleLength(c.centre.y - c.from.y, m_Modal.units) + " K" +
              CycleLength(c.centre.x - c.from.x, m_Modal.units);
    }
    if (!m.rapid && f != nullptr && !fed) {
      text += " " + f->text;
      fed = true;
    }
    m_Replay.push_back(Synthesised(source, text));
  }
  for (SourceBlock& b : blocks) {
    if (HasWords(b)) {
      IntoComment(b, "");
    }
    m_Replay.push_back(std::move(b));
  }
  IntoComment(source, ": roughed by the moves that follow");
  return true;
}

// A Fanuc-family lathe's program: recognised from its first block that shows the conventions,
// after which X is a diameter (one read as a radius before is refused: the part would be off by
// half of it), the plane G18 unless the program chose one, and G50 with axis words sets the
// coordinates (with S alone it clamps the spindle speed).
void ModalReader::FollowLathe(const ParsedBlock& parsed, Block& block) {
  // A program that chose the XY or YZ plane is a machining centre's: its safe-start line's G50
  // cancels scaling, whatever move shares the block.
  const bool millingPlane = m_PlaneGiven && m_Modal.plane != Plane::ZX;
  if (!m_FanucLathe && !millingPlane && m_Options.lathe == ReaderOptions::Lathe::RECOGNISED) {
    std::vector<lathe::WordView> words;
    for (const Item& item : block.source.items) {
      if (item.kind == Item::WORD) {
        words.push_back({item.letter, item.value, item.text});
      }
    }
    const std::string evidence = lathe::LatheEvidence(words);
    if (!evidence.empty()) {
      if (m_XReadAsRadius) {
        Fail(block, 1,
             "X was read as a radius before this block marked the program as a Fanuc-family "
             "lathe's (X a diameter): give --dialect fanuc-lathe (or --dialect ngc for "
             "LinuxCNC's, whose U and W are axes)");
      }
      m_FanucLathe = true;
      m_Modal.diameter = true;
      m_Modal.fanucLathe = true;
      if (!m_PlaneGiven) {
        m_Modal.plane = Plane::ZX;
      }
      block.note = "read as a Fanuc-family lathe program from here: " + evidence +
                   "; --dialect ngc reads it as LinuxCNC's";
    }
  }
  if (m_FanucLathe) {
    for (ParsedBlock::Code& code : m_Parsed.codes) {
      if (code.info.letter == 'G' && code.info.code == 500) {
        const bool axes = parsed.Word('X') != nullptr || parsed.Word('Z') != nullptr ||
                          parsed.Word('U') != nullptr || parsed.Word('W') != nullptr;
        code.info.group = Group::NON_MODAL;
        code.info.kind = axes ? CodeKind::SETS_POSITION : CodeKind::PASS;
        code.info.takesAxes = axes;
        code.info.reason = nullptr;
      }
    }
  }
  if (parsed.Word('X') != nullptr && !m_Modal.diameter) {
    m_XReadAsRadius = true;
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
