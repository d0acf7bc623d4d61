// SPDX-License-Identifier: MIT
// The modal reader's lathe part: a Fanuc-family lathe's conventions recognised from the program,
// and its profile cycles read as the control runs them (the profile kept for a later G70 and
// replayed, G71/G72 passed on, or expanded into their moves with --expand-cycles).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "modal_reader.h"
#include "profile_cycles.h"

namespace cutcomp::cli {

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

}  // namespace

std::string RoughingUnderCompensation(const std::string& cycle) {
  return cycle +
         " under nose radius compensation: controls differ in whether and how they compensate "
         "the roughing passes; cancel it (G40) before the cycle and switch it on for the "
         "finishing pass (G70)";
}

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
    std::vector<lathe::WordView>& words = m_LatheWords;  // keeps its storage between blocks
    words.clear();
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

}  // namespace cutcomp::cli
