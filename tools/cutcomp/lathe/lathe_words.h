// SPDX-License-Identifier: MIT
// How lathe programs give positions, and which words mark a program as written for a
// Fanuc-family lathe. Pure functions: the reader calls them with a block's words and its modal
// state and records what they return on the block.
//
// Geometry is computed on radii, in the G18 plane's coordinates (Z, X): a diameter program's X
// is halved on reading and the written X doubled again. Conventions:
//   - X is a diameter under LinuxCNC's G7 and always on a Fanuc-family lathe; a radius under G8
//     (LinuxCNC's default). Incremental X (G91) is then a change of diameter too.
//   - U and W, on a Fanuc-family lathe, are increments of X and Z in any distance mode, U a
//     change of diameter when X is a diameter. X and U (or Z and W) in one block is refused.
//     Under LinuxCNC they are axes of their own and never reach these functions.
//   - I (X) and K (Z), the centre of an arc relative to its start, are radius-valued in both
//     modes: a centre 5 mm off the start in X is I5 whether X is a diameter or not (the
//     Fanuc-family lathe manuals; LinuxCNC under G7 likewise). R, an arc's radius, is a radius.
//   - Sides and senses are those of the plane seen from +Y: G2 is clockwise and G41 puts the
//     tool left of its travel with Z to the right and X up. Both LinuxCNC and the Fanuc family
//     define them so, whichever side of the centre line the tool is on. With the tool behind the
//     centre line the operator looks from +Y and sees them as named; with the tool in front
//     (+Y to the floor) the operator looks from -Y and sees both mirrored, but the program's
//     meaning does not change: an outside profile turned toward the chuck is G42 on both, a bore
//     turned toward the chuck G41.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tool_path.h"

namespace cutcomp::lathe {

enum class XMode { RADIUS, DIAMETER };

// The X to write for a radius, and the radius a written X stands for.
double XFromRadius(double radius, XMode mode);
double RadiusFromX(double x, XMode mode);

// A block's words that place the tool in the ZX plane, as written (absent when not given).
// `c`: on a Fanuc-family lathe, G1 ... C is a chamfer the control adds at the move's end (where
// the machine has no C axis); it is only ever refused.
struct LatheWords {
  std::optional<double> x, z, u, w, i, k, r, c;
};

// The modal state that gives those words their meaning.
struct LatheFrame {
  XMode xMode = XMode::RADIUS;
  bool incremental = false;     // G91: X and Z are increments
  bool uwIncremental = false;   // U and W are increments of X and Z (Fanuc-family lathe)
  bool centreAbsolute = false;  // G90.1: I and K give the centre's position, not an offset
  Point at;                     // where the tool is: (Z, X as a radius)
};

// Where a move goes, in (Z, X radius); for an arc also its centre.
struct LatheMove {
  bool ok = false;
  Point end;
  bool hasCentre = false;  // an arc's centre (from I and K, or from R)
  Point centre;
  std::string error;  // set when !ok
};

// The end of a G0/G1 (arc none) or of a G2/G3 (arc: true for G3, counterclockwise) and its
// centre. A word not given keeps the tool's coordinate. An arc by R takes the centre on the
// chord's left for a counterclockwise arc of at most half a turn (R > 0), on its right for a
// clockwise one, and the other way round for R < 0 (the longer arc); a chord longer than 2|R|
// by at most `arcTolerance` puts the centre on the chord's middle.
// refuses: X with U, Z with W; U or W without the Fanuc-family convention; R, I, K or C on a
//   straight move (a corner round or chamfer the control adds), C on an arc; R with I or K;
//   an arc without R, I or K; an arc by R whose chord is longer than 2|R| + arcTolerance or of
//   zero length; absolute centres (G90.1) when X is a diameter (LinuxCNC reads I as a radius
//   there, the X convention would make it a diameter); a value that is not a finite number.
LatheMove ResolveLatheMove(const LatheWords& words, const LatheFrame& frame,
                           std::optional<bool> arc, double arcTolerance);

// A lathe tool word Tttoo: tool tt and offset oo (the offset carries the nose radius and tip
// direction). `digits` are the word's digits as written, leading zeros included ("0101").
struct ToolSelect {
  bool ok = false;
  int tool = 0;
  int offset = 0;  // 0: no offset (T0100 cancels the tool's offset)
  std::string error;
};
// refuses: anything but 3 or 4 decimal digits (T0 and T00 are accepted as no tool, no offset):
//   T1 or T12 could be tool 1 with offset 1 or offset 1 of the tool in place, depending on the
//   control; five digits or more are no Tttoo word.
ToolSelect SplitLatheToolWord(std::string_view digits);

// One word of a block as written: its letter (upper case), value, and text ("T0101", "G99").
struct WordView {
  char letter = 0;
  double value = 0.0;
  std::string_view text;
};

// Why a block marks its program as written for a Fanuc-family lathe (X a diameter, U and W
// increments), or empty when it does not. The marks: a T word of three or four digits in a block
// without M6 ("T0101": tool and offset); G99 without a canned cycle in the block (feed per
// revolution; under LinuxCNC G99 is a canned cycle's return level); a U or W word ("W-5.",
// "G28 U0 W0"; a LinuxCNC program that drives U and W axes must say --dialect ngc); G50 with S
// (spindle speed clamp) or with X or Z (coordinate setting); G71 or G72 with P, U or W (the
// Fanuc-family roughing cycle; LinuxCNC's takes Q, X, Z, D, I, R). G7, G8 and a lathe tool table
// mark a LinuxCNC lathe program, which needs no dialect of its own.
std::string LatheEvidence(const std::vector<WordView>& words);

}  // namespace cutcomp::lathe
