// SPDX-License-Identifier: MIT
// The modal reader's motion stage: where the block's axis words take the tool, in program
// coordinates and in the plane of compensation, and the geometry of its arc. Codes that take
// the axis words for themselves (G28, G53, G92...) and cycles decide what the position is
// afterwards; a position that cannot be followed becomes unknown, axis by axis.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "modal_reader.h"

namespace cutcomp::cli {

namespace {

const char* PlaneName(Plane plane) {
  return plane == Plane::XY   ? "the XY plane (G17)"
         : plane == Plane::ZX ? "the ZX plane (G18)"
                              : "the YZ plane (G19)";
}

std::size_t AxisIndex(char letter) { return static_cast<std::size_t>(letter - 'X'); }

double Distance(const Point& a, const Point& b) { return std::hypot(a.x - b.x, a.y - b.y); }

const std::uint32_t AXIS_LETTERS =
    ParsedBlock::Bit('X') | ParsedBlock::Bit('Y') | ParsedBlock::Bit('Z') | ParsedBlock::Bit('A') |
    ParsedBlock::Bit('B') | ParsedBlock::Bit('C') | ParsedBlock::Bit('U') | ParsedBlock::Bit('V') |
    ParsedBlock::Bit('W');

// Distance(a, b) >= length, without the hypot where one coordinate alone decides it: hypot is
// at least the larger of |dx| and |dy| (faithfully rounded, it cannot fall below a double
// that the exact length is not below).
bool AtLeast(const Point& a, const Point& b, double length) {
  return std::max(std::fabs(a.x - b.x), std::fabs(a.y - b.y)) >= length || Distance(a, b) >= length;
}

std::string Number(double value, int digits = 6) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
  return buffer;
}

}  // namespace

// A Fanuc-family lathe's G1 X.. C.. (a chamfer) or G1 Z.. R.. (a corner round): the control cuts
// the move short and inserts the chamfer or round between it and the next move. Outside
// compensation the words pass to the control with the block, whose end the next move starts
// from as programmed; under compensation (or when the next move switches it on) the offsets
// would follow a corner the control never cuts, so the block is refused, naming the word. The
// same words on a machine with a C axis are refused there as well: which one is meant is the
// machine's secret.
// refuses: C or R on a straight move while compensation is on or pending, or on the move
//   before the one that switches it on.
void ModalReader::CornerWords(const ParsedBlock& parsed, const Block& b) {
  const bool straight = m_Motion == Motion::LINE || m_Motion == Motion::RAPID;
  const Item* corner = nullptr;
  if (straight) {
    corner = parsed.Word('R') != nullptr ? parsed.Word('R') : parsed.Word('C');
  }
  if (m_Run != Run::NONE && !m_CornerWord.empty()) {
    Fail(b, 1,
         m_CornerWord +
             " ends on this move, which switches nose radius compensation on: the "
             "chamfer or round the control inserts there is not compensated here; "
             "write it as a move of its own");
  }
  m_CornerWord.clear();
  if (corner == nullptr) {
    return;
  }
  const std::string what = corner->letter == 'C' ? "a chamfer" : "a corner round";
  if (m_Run != Run::NONE) {
    Fail(b, corner->col,
         corner->text + " on a straight move: a Fanuc-family lathe inserts " + what +
             " between this move and the next, which nose radius compensation here does not "
             "follow; write it as a move of its own");
  }
  m_CornerWord = corner->text + " (" + what + ") on line " + std::to_string(b.Line());
}

// The axes the block names become unknown; with none named, all of them when
// `allWithoutWords` (G28 without axis words goes home on every axis).
void ModalReader::LoseAxes(const ParsedBlock& parsed, bool allWithoutWords) {
  bool any = false;
  for (char letter : {'X', 'Y', 'Z'}) {
    if (parsed.Word(letter) != nullptr) {
      m_Known[AxisIndex(letter)] = false;
      any = true;
    }
  }
  if (!any && allWithoutWords) {
    m_Known = {false, false, false};
  }
}

// The block most programs are made of: one or both plane coordinates and nothing else, in G0
// or G1 mode. It sets no mode and can refuse nothing that the general stages would take, so it
// is read here without sorting its words; false (nothing changed) for any other block, and for
// one the general stages refuse (a compensated move from or to an unknown position, a
// coordinate out of range), which they then read and refuse with their own message.
bool ModalReader::PlainMove(Block& b) {
  if ((m_Motion != Motion::RAPID && m_Motion != Motion::LINE) || !m_CornerWord.empty()) {
    return false;
  }
  std::vector<Item>& items = b.source.items;
  if (items.empty() || items.size() > 2) {
    return false;
  }
  const PlaneAxes& axes = AxesOf(m_Modal.plane);
  Item* first = nullptr;
  Item* second = nullptr;
  for (Item& item : items) {
    if (item.kind != Item::WORD) {
      return false;
    }
    if (item.letter == axes.first && first == nullptr) {
      first = &item;
    } else if (item.letter == axes.second && second == nullptr) {
      second = &item;
    } else {
      return false;
    }
  }
  const std::size_t u = AxisIndex(axes.first);
  const std::size_t v = AxisIndex(axes.second);
  const std::size_t w = AxisIndex(axes.normal);
  const bool incremental = m_Modal.incremental;
  Point end{m_Pos[u], m_Pos[v]};
  bool endKnownU = m_Known[u];
  bool endKnownV = m_Known[v];
  if (first != nullptr) {
    const double value = Kept(axes.first, first->value);
    end.x = incremental ? m_Pos[u] + value : value;
    endKnownU = endKnownU || !incremental;
  }
  if (second != nullptr) {
    const double value = Kept(axes.second, second->value);
    end.y = incremental ? m_Pos[v] + value : value;
    endKnownV = endKnownV || !incremental;
  }
  const bool startKnown = m_Known[u] && m_Known[v];
  const bool endKnown = endKnownU && endKnownV;
  if ((m_Run != Run::NONE && !(startKnown && endKnown)) ||
      (endKnownU && !(std::fabs(end.x) <= MAX_LENGTH)) ||
      (endKnownV && !(std::fabs(end.y) <= MAX_LENGTH))) {
    return false;
  }
  b.modal = m_Modal;
  b.letters = (first != nullptr ? ParsedBlock::Bit(axes.first) : 0U) |
              (second != nullptr ? ParsedBlock::Bit(axes.second) : 0U);
  b.motion = m_Motion;
  b.modalMotion = m_Motion;
  b.start = {m_Pos[u], m_Pos[v]};
  b.startKnown = startKnown;
  b.end = end;
  b.endKnown = endKnown;
  const bool known2 = startKnown && endKnown;
  b.planeMotion = known2 && AtLeast(b.start, end, crc::EPSILON);
  b.zeroMove = known2 && !b.planeMotion;
  for (Item* word : {first, second}) {
    if (word != nullptr) {
      word->role = Item::PLANE_AXIS;
    }
  }
  m_Pos[u] = end.x;
  m_Pos[v] = end.y;
  m_Known[u] = endKnownU;
  m_Known[v] = endKnownV;
  // The height stays: its change is the fresh block's zero.
  b.heightKnown = m_Known[w];
  b.heightBeforeKnown = b.heightKnown;
  b.height = m_Pos[w];
  AssignPhase(b);
  return true;
}

void ModalReader::ApplyMotion(const ParsedBlock& parsed, Block& b) {
  const PlaneAxes& axes = AxesOf(m_Modal.plane);
  const std::size_t u = AxisIndex(axes.first);
  const std::size_t v = AxisIndex(axes.second);
  const std::size_t w = AxisIndex(axes.normal);
  b.start = {m_Pos[u], m_Pos[v]};
  b.startKnown = m_Known[u] && m_Known[v];
  const double heightBefore = m_Pos[w];
  const bool heightKnownBefore = m_Known[w];

  const ParsedBlock::Code* owner = nullptr;  // a non-modal code that takes the axis words
  const ParsedBlock::Code* probe = nullptr;
  for (const ParsedBlock::Code& code : parsed.codes) {
    if (code.info.takesAxes &&
        (code.info.group == Group::NON_MODAL || code.info.kind == CodeKind::TRANSFORM_ON ||
         code.info.kind == CodeKind::TRANSFORM_OFF)) {
      owner = &code;
    }
    if (code.info.kind == CodeKind::PROBE) {
      probe = &code;
    }
    if (code.info.kind == CodeKind::CYCLE_CANCEL) {
      m_Motion = Motion::NONE;
    }
    if (code.info.kind == CodeKind::CANNED) {
      m_Motion = Motion::OTHER;
      m_OtherMotion = CodeName(code.info);
      m_CycleMode = true;
    }
  }
  if (const ParsedBlock::Code* motion = parsed.Find(CodeKind::MOTION)) {
    m_Motion = motion->info.code == 0    ? Motion::RAPID
               : motion->info.code == 10 ? Motion::LINE
               : motion->info.code == 20 ? Motion::ARC_CW
                                         : Motion::ARC_CCW;
    b.explicitMotionWord = true;
    motion->item->role = Item::MOTION;
  }

  Item* first = parsed.Word(axes.first);
  Item* second = parsed.Word(axes.second);
  // On a Fanuc-family lathe U and W are increments of X and Z, whatever the distance mode.
  Item* uWord = m_FanucLathe ? parsed.Word('U') : nullptr;
  Item* wWord = m_FanucLathe ? parsed.Word('W') : nullptr;
  for (const auto& [absolute, increment] :
       {std::pair<char, Item*>{'X', uWord}, std::pair<char, Item*>{'Z', wWord}}) {
    if (increment != nullptr && parsed.Word(absolute) != nullptr) {
      Fail(b, increment->col,
           std::string(1, absolute) + " and " + increment->letter +
               " cannot share a block: both move " + absolute + " (" + increment->letter +
               " by an increment)");
    }
    if (increment != nullptr && absolute == axes.first && first == nullptr) {
      first = increment;
    } else if (increment != nullptr && absolute == axes.second && second == nullptr) {
      second = increment;
    }
  }
  Item* firstCentre = parsed.Word(axes.firstCentre);
  Item* secondCentre = parsed.Word(axes.secondCentre);
  Item* r = parsed.Word('R');
  const bool axisWords = parsed.AxisWords();
  std::size_t axisCol = parsed.axisCol;  // where to point at for an error about the motion
  std::uint32_t planeBits = ParsedBlock::Bit(axes.first) | ParsedBlock::Bit(axes.second);
  if (m_FanucLathe) {
    planeBits |= (axes.first == 'Z' || axes.second == 'Z' ? ParsedBlock::Bit('W') : 0U) |
                 (axes.first == 'X' || axes.second == 'X' ? ParsedBlock::Bit('U') : 0U);
  }
  b.otherAxes = (parsed.letters & AXIS_LETTERS & ~planeBits) != 0;
  if (first != nullptr || second != nullptr) {
    axisCol = (first != nullptr ? first : second)->col;
  }
  const bool arcMode = IsArc(m_Motion);
  const bool centreWords = firstCentre != nullptr || secondCentre != nullptr || r != nullptr;
  if (m_FanucLathe && owner == nullptr && axisWords) {
    CornerWords(parsed, b);
  }

  if (owner != nullptr) {
    switch (owner->info.kind) {
    case CodeKind::SETS_POSITION:  // G92: the current point gets the given coordinates
      for (char letter : {'X', 'Y', 'Z'}) {
        if (const Item* word = parsed.Word(letter)) {
          m_Pos[AxisIndex(letter)] = Kept(letter, word->value);
          m_Known[AxisIndex(letter)] = true;
        }
      }
      break;
    case CodeKind::MACHINE_MOVE:  // G53: machine coordinates, on the axes it names
      LoseAxes(parsed, false);
      break;
    default:  // G10, G28, G30, G52: a stored or changed position
      LoseAxes(parsed, owner->info.kind == CodeKind::HOME);
      break;
    }
    if (owner->info.kind != CodeKind::SETS_POSITION) {
      m_PositionLostBy = CodeName(owner->info) + " on line " + std::to_string(b.Line());
    }
  } else if (probe != nullptr) {
    LoseAxes(parsed, false);  // the probe stops where it trips
    m_PositionLostBy = CodeName(probe->info) + " on line " + std::to_string(b.Line());
  } else if (axisWords || (arcMode && centreWords)) {
    if (m_Motion == Motion::NONE) {
      Fail(b, axisCol != 0 ? axisCol : 1,
           "coordinates without a motion mode: add G0, G1, G2 or G3");
    }
    if (m_Motion == Motion::OTHER) {
      // A drilling cycle ends above its last hole; a code the reader does not follow leaves
      // the tool wherever it leaves it.
      const bool cycle = m_CycleMode;
      for (char letter : {'X', 'Y', 'Z'}) {
        const Item* word = parsed.Word(letter);
        if (word == nullptr) {
          continue;
        }
        const std::size_t k = AxisIndex(letter);
        if (cycle && !m_Modal.incremental && letter != axes.normal) {
          m_Pos[k] = Kept(letter, word->value);
          m_Known[k] = true;
        } else {
          m_Known[k] = false;
        }
      }
      m_PositionLostBy = m_OtherMotion + " on line " + std::to_string(b.Line());
    } else {
      b.motion = m_Motion;
      std::array<double, 3> target = m_Pos;
      std::array<bool, 3> known = m_Known;
      for (char letter : {'X', 'Y', 'Z'}) {
        Item* word = parsed.Word(letter);
        if (word == nullptr) {
          continue;
        }
        const std::size_t k = AxisIndex(letter);
        const double value = Kept(letter, word->value);
        target[k] = m_Modal.incremental ? m_Pos[k] + value : value;
        known[k] = m_Modal.incremental ? m_Known[k] : true;
        if (letter == axes.first || letter == axes.second) {
          word->role = Item::PLANE_AXIS;
        }
      }
      for (const auto& [letter, increment] :
           {std::pair<char, Item*>{'X', uWord}, std::pair<char, Item*>{'Z', wWord}}) {
        if (increment != nullptr) {
          const std::size_t k = AxisIndex(letter);
          target[k] = m_Pos[k] + Kept(letter, increment->value);
          if (letter == axes.first || letter == axes.second) {
            increment->role = Item::PLANE_AXIS;
          }
        }
      }
      b.end = {target[u], target[v]};
      b.endKnown = known[u] && known[v];
      if (m_Run != Run::NONE && (!b.startKnown || !b.endKnown) &&
          (first != nullptr || second != nullptr || arcMode)) {
        std::string message = std::string("compensation needs a known position: program ") +
                              axes.first + " and " + axes.second + " before G41/G42";
        if (!m_PositionLostBy.empty()) {
          message += " (" + m_PositionLostBy + " left it unknown)";
        }
        Fail(b, axisCol, message);
      }
      if (arcMode) {
        ArcGeometry(parsed, b,
                    b.explicitMotionWord ? parsed.Find(CodeKind::MOTION)->item->col
                                         : (axisCol != 0 ? axisCol : 1));
      } else {
        for (Item* centre : {firstCentre, secondCentre}) {
          if (centre != nullptr) {
            Fail(b, centre->col,
                 std::string(1, std::min(axes.firstCentre, axes.secondCentre)) + " and " +
                     std::max(axes.firstCentre, axes.secondCentre) +
                     " give an arc centre: they need G2 or G3");
          }
        }
        const bool known2 = b.startKnown && b.endKnown;
        const bool planeWords = first != nullptr || second != nullptr;
        b.planeMotion = known2 && AtLeast(b.start, b.end, crc::EPSILON);
        b.zeroMove = known2 && planeWords && !b.planeMotion;
      }
      m_Pos = target;
      m_Known = known;
    }
  } else if (firstCentre != nullptr || secondCentre != nullptr) {
    Item* centre = firstCentre != nullptr ? firstCentre : secondCentre;
    Fail(b, centre->col,
         std::string(1, std::min(axes.firstCentre, axes.secondCentre)) + " and " +
             std::max(axes.firstCentre, axes.secondCentre) +
             " give an arc centre: they need G2 or G3");
  }
  // Every length stays within MAX_LENGTH: the position on each axis, an arc's centre and radius.
  for (char letter : {'X', 'Y', 'Z'}) {
    const std::size_t k = AxisIndex(letter);
    if (m_Known[k] && !(std::fabs(m_Pos[k]) <= MAX_LENGTH)) {
      const Item* word = parsed.Word(letter);
      Fail(b, word != nullptr ? word->col : 1,
           std::string(1, letter) + " " + Number(m_Pos[k], 12) +
               " is out of range: lengths are limited to 1e9");
    }
  }
  if (b.planeMotion && IsArc(b.motion) &&
      !(std::fabs(b.centre.x) <= MAX_LENGTH && std::fabs(b.centre.y) <= MAX_LENGTH &&
        b.radius <= MAX_LENGTH)) {
    const Item* word = firstCentre != nullptr    ? firstCentre
                       : secondCentre != nullptr ? secondCentre
                                                 : r;
    Fail(b, word != nullptr ? word->col : 1,
         "arc centre or radius is out of range: lengths are limited to 1e9");
  }
  b.modalMotion = m_Motion;
  if (!b.planeMotion) {
    b.end = {m_Pos[u], m_Pos[v]};  // also after G92, G28, G53 and the like
    b.endKnown = m_Known[u] && m_Known[v];
  }
  b.heightKnown = m_Known[w];
  b.heightBeforeKnown = heightKnownBefore;
  b.height = m_Pos[w];
  b.heightChange = b.heightKnown && heightKnownBefore ? b.height - heightBefore : 0.0;
}

void ModalReader::ArcGeometry(const ParsedBlock& parsed, Block& b, std::size_t arcCol) {
  const PlaneAxes& axes = AxesOf(m_Modal.plane);
  Item* firstCentre = parsed.Word(axes.firstCentre);
  Item* secondCentre = parsed.Word(axes.secondCentre);
  Item* r = parsed.Word('R');
  for (char letter : {'I', 'J', 'K'}) {
    Item* word = parsed.Word(letter);
    if (word != nullptr && letter != axes.firstCentre && letter != axes.secondCentre) {
      Fail(b, word->col,
           std::string(1, letter) + " is not an arc centre word in " + PlaneName(m_Modal.plane));
    }
  }
  for (Item* word : {firstCentre, secondCentre, r}) {
    if (word != nullptr) {
      word->role = Item::ARC_CENTER;
    }
  }
  if (const Item* p = parsed.Word('P')) {
    if (p->value != 1) {
      Fail(b, p->col, "arcs of several turns (P) are not supported");
    }
  }
  const char low = std::min(axes.firstCentre, axes.secondCentre);
  const char high = std::max(axes.firstCentre, axes.secondCentre);
  if (r != nullptr && (firstCentre != nullptr || secondCentre != nullptr)) {
    Fail(b, r->col, std::string("an arc takes either ") + low + " " + high + " or R, not both");
  }
  if (r == nullptr && firstCentre == nullptr && secondCentre == nullptr) {
    Fail(b, arcCol, std::string("arc without centre: give ") + low + " and " + high + ", or R");
  }
  if (!b.startKnown || !b.endKnown) {
    return;
  }
  const bool ccw = b.motion == Motion::ARC_CCW;
  const double chord = Distance(b.start, b.end);
  // How far the two radii may differ: CAM output rounded to 3 or 4 decimals puts the ends off
  // the circle by a few ten-thousandths; a wrong I, J or R is far larger.
  const auto tolerance = [this](double radius) {
    if (m_Options.arcTolerance) {
      return *m_Options.arcTolerance;
    }
    const bool mm = m_Modal.units == Units::MM;
    return std::clamp(0.001 * radius, mm ? 0.005 : 0.0005, mm ? 0.5 : 0.05);
  };
  if (r != nullptr) {
    if (chord < crc::EPSILON) {
      Fail(b, r->col,
           std::string("an R arc cannot be a full circle (start = end): use ") + low + " and " +
               high);
    }
    const double radius = std::fabs(r->value);
    const double half = chord / 2.0;
    if (radius < half - tolerance(half)) {
      Fail(b, r->col,
           "arc radius " + r->text.substr(1) +
               " is smaller than half the distance between its ends");
    }
    // Centre on the perpendicular bisector of the chord; for a counterclockwise arc of at most
    // half a turn (R > 0) it lies left of the chord, a negative R or a clockwise arc puts it on
    // the other side.
    const double h = std::sqrt(std::max(0.0, radius * radius - half * half));
    const Point mid{(b.start.x + b.end.x) / 2.0, (b.start.y + b.end.y) / 2.0};
    const Point left{-(b.end.y - b.start.y) / chord, (b.end.x - b.start.x) / chord};
    const double sign = (ccw ? 1.0 : -1.0) * (r->value < 0 ? -1.0 : 1.0);
    b.centre = {mid.x + sign * h * left.x, mid.y + sign * h * left.y};
    b.radius = std::max(radius, half);
    b.planeMotion = true;
    return;
  }
  const double du = firstCentre != nullptr ? firstCentre->value : 0.0;
  const double dv = secondCentre != nullptr ? secondCentre->value : 0.0;
  if (m_Modal.arcAbsolute && m_Modal.diameter) {
    // I is a radius under G7 while X is a diameter: an absolute centre would mix the two.
    Fail(b, (firstCentre != nullptr ? firstCentre : secondCentre)->col,
         "absolute arc centres (G90.1) are not supported under diameter mode (G7): use G91.1");
  }
  Point centre = m_Modal.arcAbsolute ? Point{du, dv} : Point{b.start.x + du, b.start.y + dv};
  const std::size_t col = (firstCentre != nullptr ? firstCentre : secondCentre)->col;
  const double startRadius = Distance(b.start, centre);
  if (startRadius < crc::EPSILON) {
    Fail(b, col, "arc centre coincides with its start point");
  }
  const double endRadius = Distance(b.end, centre);
  const double allowed = tolerance(startRadius);
  if (std::fabs(endRadius - startRadius) > allowed) {
    Fail(b, col,
         "arc centre is not equidistant from its ends: " + Number(startRadius) + " to the start, " +
             Number(endRadius) + " to the end (tolerance " + Number(allowed) + ")");
  }
  // exact-ish: CAM writes a full circle with the end repeating the start
  b.fullCircle = chord < crc::EPSILON;
  if (b.fullCircle) {
    b.end = b.start;
  } else if (endRadius != startRadius) {
    // An accepted inexact arc is repaired before the engine sees it: the centre moves to the
    // nearest point of the chord's perpendicular bisector, where both radii agree and start and
    // end stay. Two rounded arcs meeting in a cusp then meet exactly, not with a false overlap.
    const Point mid{(b.start.x + b.end.x) / 2.0, (b.start.y + b.end.y) / 2.0};
    const Point normal{-(b.end.y - b.start.y) / chord, (b.end.x - b.start.x) / chord};
    const double along = (centre.x - mid.x) * normal.x + (centre.y - mid.y) * normal.y;
    centre = {mid.x + along * normal.x, mid.y + along * normal.y};
  }
  b.centre = centre;
  b.radius = Distance(b.start, centre);
  b.planeMotion = true;
}

}  // namespace cutcomp::cli
