// SPDX-License-Identifier: MIT
// The G and M codes the reader knows: each with its modal group, what it does to the plane
// path, and, for a code that is refused, the reason given to the user.
#pragma once

#include <string>

namespace cutcomp::cli {

// Modal groups as real programs combine them. Two codes of one group in a block conflict,
// except G80 beside a motion code (Fanuc-style programs write `G80 G00`: the cycle ends, the
// motion mode is set) and non-modal codes that do not both take the axis words.
enum class Group {
  NON_MODAL,     // G4, G10, G28, G30, G52, G53, G92...
  MOTION,        // G0..G3, probing
  CYCLE,         // G73, G80..G89: canned cycles and their cancel
  PLANE,         // G17, G18, G19
  DISTANCE,      // G90, G91
  ARC_DISTANCE,  // G90.1, G91.1
  FEED_MODE,     // G93, G94, G95
  UNITS,         // G20, G21
  CUTTER_COMP,   // G40, G41, G42, G41.1, G42.1
  TOOL_LENGTH,   // G43, G49...
  RETURN_MODE,   // G98, G99
  COORD_SYSTEM,  // G54..G59.3
  PATH_CONTROL,  // G61, G64
  SPINDLE_MODE,  // G96, G97
  DIAMETER,      // G7, G8: lathe diameter or radius mode
  POLAR,         // G15, G16
  SCALING,       // G50, G51
  MIRROR,        // G50.1, G51.1
  ROTATION,      // G68, G69
  STOPPING,      // M0, M1, M2, M30, M60
  TOOL_CHANGE,   // M6, M61
  OTHER,         // any other M code: no group that conflicts
};

enum class CodeKind {
  PASS,           // no effect on the plane path: kept as written
  MOTION,         // G0..G3
  CYCLE_CANCEL,   // G80
  CANNED,         // drilling cycles: they end above their last hole
  PROBE,          // G38.x: ends wherever the probe tripped
  PLANE,          // G17, G18, G19
  UNITS,          // G20, G21
  DISTANCE,       // G90, G91
  ARC_DISTANCE,   // G90.1, G91.1
  FEED_MODE,      // G93, G94, G95
  COMP,           // G40, G41, G42, G41.1, G42.1
  MACHINE_MOVE,   // G53: the move is in machine coordinates
  HOME,           // G28, G30: through the given point to a stored position
  SETS_POSITION,  // G92: the current point gets the given coordinates
  RESETS_SHIFT,   // G92.1, G92.2, G92.3: the G92 shift is cancelled, or restored
  SETS_OFFSET,    // G10, G52: the axis words give an offset (a table entry, a local shift)
  COORD_SYSTEM,   // G54..G59.3: a new work coordinate system for the words that follow
  X_MODE,         // G7, G8: X is a diameter, or a radius (the geometry is computed on radii)
  TRANSFORM_ON,   // coordinates no longer mean what they say (diameter, polar, scaled...)
  TRANSFORM_OFF,  // back to plain coordinates
  TOOL_CHANGE,    // M6
  SET_TOOL,       // M61 Q
  PROGRAM_END,    // M2, M30
  REFUSED,        // never supported: `reason` says why
  UNKNOWN,        // not in the table: passed through outside compensation, with a warning
};

struct CodeInfo {
  char letter = 'G';
  int code = 0;  // the number times ten: G41.1 is 411
  Group group = Group::OTHER;
  CodeKind kind = CodeKind::UNKNOWN;
  const char* reason = nullptr;  // REFUSED: why; TRANSFORM_ON: what it turns on
  // A non-modal code that takes the block's axis words, or a transformation whose axis words
  // are its centre or axes (G68 X Y R, G51 X Y Z P, G51.1 X Y).
  bool takesAxes = false;
};

// Looks up a G or M word's value. A value with more than one decimal, or not in the table,
// gives an UNKNOWN entry carrying the code.
CodeInfo LookUpCode(char letter, double value);

// "G41.1", "M6".
std::string CodeName(const CodeInfo& info);

}  // namespace cutcomp::cli
