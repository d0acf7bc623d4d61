// SPDX-License-Identifier: MIT
// Lathe positions from a block's words (diameter or radius, the Fanuc-family U and W), the
// Tttoo tool word, and the words that mark a Fanuc-family lathe program.
#include "lathe_words.h"

#include <cmath>
#include <cstdio>

namespace cutcomp::lathe {
namespace {

// A code's number times ten, so that G50 and G50.1 differ: 500 and 501.
long CodeTimesTen(double value) { return std::lround(value * 10.0); }

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

// An arc's move once its centre is known: refused when the centre lies beyond the range of
// numbers (a chord of 1e308 overflows its own length).
LatheMove Centred(LatheMove move) {
  if (!std::isfinite(move.centre.x) || !std::isfinite(move.centre.y)) {
    move.error = "the arc's centre lies beyond the range of numbers";
    return move;
  }
  move.hasCentre = true;
  move.ok = true;
  return move;
}

}  // namespace

double XFromRadius(double radius, XMode mode) {
  return mode == XMode::DIAMETER ? 2.0 * radius : radius;
}

double RadiusFromX(double x, XMode mode) { return mode == XMode::DIAMETER ? 0.5 * x : x; }

LatheMove ResolveLatheMove(const LatheWords& words, const LatheFrame& frame,
                           std::optional<bool> arc, double arcTolerance) {
  LatheMove move;
  const std::pair<char, const std::optional<double>*> given[] = {
      {'X', &words.x}, {'Z', &words.z}, {'U', &words.u}, {'W', &words.w},
      {'I', &words.i}, {'K', &words.k}, {'R', &words.r}, {'C', &words.c}};
  for (const auto& [letter, value] : given) {
    if (value->has_value() && !std::isfinite(**value)) {
      move.error = std::string(1, letter) + " is not a finite number";
      return move;
    }
  }
  if (!std::isfinite(frame.at.x) || !std::isfinite(frame.at.y) || !(arcTolerance >= 0.0) ||
      !std::isfinite(arcTolerance)) {
    move.error = "the tool's position and the arc tolerance must be finite numbers";
    return move;
  }
  if (words.x && words.u) {
    move.error = "X and U in one block: U is a change of X, give one of them";
    return move;
  }
  if (words.z && words.w) {
    move.error = "Z and W in one block: W is a change of Z, give one of them";
    return move;
  }
  if ((words.u || words.w) && !frame.uwIncremental) {
    move.error = "U and W are increments of X and Z only on a Fanuc-style lathe";
    return move;
  }
  const XMode mode = frame.xMode;
  // Plane coordinates (Z, X): Point::x holds Z, Point::y the radius.
  double z = frame.at.x;
  if (words.z) {
    z = frame.incremental ? frame.at.x + *words.z : *words.z;
  } else if (words.w) {
    z = frame.at.x + *words.w;
  }
  double x = frame.at.y;
  if (words.x) {
    x = frame.incremental ? frame.at.y + RadiusFromX(*words.x, mode) : RadiusFromX(*words.x, mode);
  } else if (words.u) {
    x = frame.at.y + RadiusFromX(*words.u, mode);
  }
  move.end = Point(z, x);
  // Sums of numbers near the largest double overflow; such a position is no place on a lathe.
  if (!std::isfinite(z) || !std::isfinite(x)) {
    move.error = "the move ends beyond the range of numbers";
    return move;
  }

  if (!arc) {
    // A Fanuc-family G1 with R, I or K rounds or chamfers the corner at its end (direct drawing
    // dimensions); that is a move the program does not state, so it is not guessed at.
    if (words.i || words.k || words.r || words.c) {
      move.error =
          "I, K, R or C on a straight move (a chamfer or corner round on G1): write the "
          "chamfer or the round as a move of its own";
      return move;
    }
    move.ok = true;
    return move;
  }

  if (words.c) {
    move.error = "C on an arc: a chamfer belongs to a straight move's end";
    return move;
  }
  if (words.r && (words.i || words.k)) {
    move.error = "an arc with R and with I or K: give its centre one way";
    return move;
  }
  if (words.r) {
    const Point chord = move.end - frame.at;
    const double length = std::sqrt(chord.x * chord.x + chord.y * chord.y);
    // exact: an arc by R between coincident ends has no defined centre at all.
    if (length == 0.0) {
      move.error = "an arc by R whose ends coincide has no centre: give I and K";
      return move;
    }
    const double half = 0.5 * length;
    const double radius = std::fabs(*words.r);
    if (half > radius + arcTolerance) {
      move.error = "R" + Number(*words.r) + " is too small for the arc: its ends lie " +
                   Number(length) + " apart";
      return move;
    }
    // A chord longer than the diameter within the arc tolerance: rounding of a half circle's
    // end point, the centre on the chord's middle.
    const double apart = half >= radius ? 0.0 : std::sqrt(radius * radius - half * half);
    const Point left(-chord.y / length, chord.x / length);
    const bool centreLeft = *arc == (*words.r > 0.0);
    move.centre = frame.at + chord * 0.5 + left * (centreLeft ? apart : -apart);
    return Centred(move);
  }
  if (!words.i && !words.k) {
    move.error = "an arc without R, I or K";
    return move;
  }
  if (frame.centreAbsolute) {
    if (mode == XMode::DIAMETER) {
      move.error =
          "absolute arc centres (G90.1) in diameter mode: I could be a radius or a "
          "diameter; give the centre relative to the start (G91.1)";
      return move;
    }
    if (!words.i || !words.k) {
      move.error = "an arc with absolute centres (G90.1) needs both I and K";
      return move;
    }
    move.centre = Point(*words.k, *words.i);
  } else {
    // I is the centre's offset from the start along X: a radius length in both modes.
    move.centre = frame.at + Point(words.k.value_or(0.0), words.i.value_or(0.0));
  }
  return Centred(move);
}

ToolSelect SplitLatheToolWord(std::string_view digits) {
  ToolSelect select;
  const std::string word = "T" + std::string(digits);
  int value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') {
      select.error = word + " is no Tttoo word (two digits of tool, two of offset)";
      return select;
    }
    if (digits.size() <= 4) {
      value = value * 10 + (c - '0');
    }
  }
  if (digits.empty() || digits.size() > 4) {
    select.error = word + " is no Tttoo word (two digits of tool, two of offset)";
    return select;
  }
  if (digits.size() <= 2 && value != 0) {
    select.error = word +
                   " names no offset: write tool and offset as Tttoo (T0101: tool 1 with "
                   "offset 1, T0100: tool 1 without offset)";
    return select;
  }
  select.tool = value / 100;
  select.offset = value % 100;
  select.ok = true;
  return select;
}

std::string LatheEvidence(const std::vector<WordView>& words) {
  bool m6 = false;
  bool cannedCycle = false;
  bool g50 = false;
  bool g99 = false;
  bool roughing = false;
  bool p = false;
  bool milling = false;  // a Y word or G17/G19: a machining centre's block (G50 cancels scaling)
  std::string_view tWord;
  std::string_view uwWord;
  std::string_view g50With;
  for (const WordView& word : words) {
    switch (word.letter) {
    case 'M':
      m6 = m6 || CodeTimesTen(word.value) == 60;
      break;
    case 'G': {
      const long code = CodeTimesTen(word.value);
      g50 = g50 || code == 500;
      milling = milling || code == 170 || code == 190;
      g99 = g99 || code == 990;
      roughing = roughing || code == 710 || code == 720;
      // LinuxCNC's canned cycles, under which G99 is the return to the R level.
      cannedCycle = cannedCycle || code == 730 || (code >= 810 && code <= 890);
      break;
    }
    case 'T':
      if (word.text.size() == 4 || word.text.size() == 5) {
        tWord = word.text;
      }
      break;
    case 'U':
    case 'W':
      if (uwWord.empty()) {
        uwWord = word.text;
      }
      break;
    case 'S':
    case 'X':
    case 'Z':
      g50With = word.text;
      break;
    case 'P':
      p = true;
      break;
    case 'Y':
      milling = true;
      break;
    default:
      break;
    }
  }
  if (milling) {
    return {};
  }
  if (!tWord.empty() && !m6) {
    return std::string(tWord) + " selects a tool and its offset in one word";
  }
  if (g99 && !cannedCycle) {
    return "G99 is feed per revolution";
  }
  // LinuxCNC's G71/G72 take Q, X, Z, D, I and R; P, U and W are the Fanuc family's (profile
  // blocks, depth of cut, finishing allowances).
  if (roughing && (p || !uwWord.empty())) {
    return "G71/G72 with P, U or W is the Fanuc-family roughing cycle";
  }
  if (!uwWord.empty()) {
    return std::string(uwWord) +
           (uwWord[0] == 'U' ? " is an increment of X" : " is an increment of Z");
  }
  if (g50 && !g50With.empty()) {
    return g50With[0] == 'S' ? "G50 S clamps the spindle speed" : "G50 X/Z sets the coordinates";
  }
  return {};
}

}  // namespace cutcomp::lathe
