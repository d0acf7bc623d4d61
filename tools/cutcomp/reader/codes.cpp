// SPDX-License-Identifier: MIT
// The table of G and M codes: group, effect on the plane path, and the reason for each refusal.
#include "codes.h"

#include <cmath>

namespace cutcomp::cli {

namespace {

// G and M numbers carry at most one decimal (G41.1, G90.1); a value is such a number when ten
// times it is within this of an integer.
constexpr double CODE_DECIMAL_TOLERANCE = 1e-6;

constexpr const char* SPLINES = "splines are not supported";
constexpr const char* THREADING = "threading and spindle-synchronised motion are not supported";
constexpr const char* UVW_PLANES = "the UVW planes are not supported";
// Codes of other controllers that switch something off: harmless, but said, since the reader
// cannot know what the controller had switched on.
constexpr const char* PASSED = "passed through unchanged";
constexpr const char* CALLS =
    "Fanuc-family subprogram and macro calls are not RS274/NGC's: read the program with "
    "--dialect fanuc (or haas)";

struct Row {
  char letter;
  int code;
  Group group;
  CodeKind kind;
  const char* reason;
  bool takesAxes;
};

// clang-format off
constexpr Row CODES[] = {
    {'G', 0, Group::MOTION, CodeKind::MOTION, nullptr, false},
    {'G', 10, Group::MOTION, CodeKind::MOTION, nullptr, false},
    {'G', 20, Group::MOTION, CodeKind::MOTION, nullptr, false},
    {'G', 30, Group::MOTION, CodeKind::MOTION, nullptr, false},
    {'G', 382, Group::MOTION, CodeKind::PROBE, nullptr, false},
    {'G', 383, Group::MOTION, CodeKind::PROBE, nullptr, false},
    {'G', 384, Group::MOTION, CodeKind::PROBE, nullptr, false},
    {'G', 385, Group::MOTION, CodeKind::PROBE, nullptr, false},
    {'G', 800, Group::CYCLE, CodeKind::CYCLE_CANCEL, nullptr, false},
    {'G', 730, Group::CYCLE, CodeKind::CANNED, nullptr, false},
    {'G', 740, Group::CYCLE, CodeKind::CANNED, nullptr, false},
    {'G', 810, Group::CYCLE, CodeKind::CANNED, nullptr, false},
    {'G', 820, Group::CYCLE, CodeKind::CANNED, nullptr, false},
    {'G', 830, Group::CYCLE, CodeKind::CANNED, nullptr, false},
    {'G', 840, Group::CYCLE, CodeKind::CANNED, nullptr, false},
    {'G', 850, Group::CYCLE, CodeKind::CANNED, nullptr, false},
    {'G', 860, Group::CYCLE, CodeKind::CANNED, nullptr, false},
    {'G', 870, Group::CYCLE, CodeKind::CANNED, nullptr, false},
    {'G', 880, Group::CYCLE, CodeKind::CANNED, nullptr, false},
    {'G', 890, Group::CYCLE, CodeKind::CANNED, nullptr, false},
    {'G', 50, Group::MOTION, CodeKind::REFUSED, SPLINES, false},
    {'G', 51, Group::MOTION, CodeKind::REFUSED, SPLINES, false},
    {'G', 52, Group::MOTION, CodeKind::REFUSED, SPLINES, false},
    {'G', 53, Group::MOTION, CodeKind::REFUSED, SPLINES, false},
    {'G', 330, Group::MOTION, CodeKind::REFUSED, THREADING, false},
    {'G', 331, Group::MOTION, CodeKind::REFUSED, THREADING, false},
    {'G', 760, Group::MOTION, CodeKind::REFUSED, THREADING, false},
    {'G', 650, Group::NON_MODAL, CodeKind::REFUSED, CALLS, false},
    {'G', 170, Group::PLANE, CodeKind::PLANE, nullptr, false},
    {'G', 180, Group::PLANE, CodeKind::PLANE, nullptr, false},
    {'G', 190, Group::PLANE, CodeKind::PLANE, nullptr, false},
    {'G', 171, Group::PLANE, CodeKind::REFUSED, UVW_PLANES, false},
    {'G', 181, Group::PLANE, CodeKind::REFUSED, UVW_PLANES, false},
    {'G', 191, Group::PLANE, CodeKind::REFUSED, UVW_PLANES, false},
    {'G', 900, Group::DISTANCE, CodeKind::DISTANCE, nullptr, false},
    {'G', 910, Group::DISTANCE, CodeKind::DISTANCE, nullptr, false},
    {'G', 901, Group::ARC_DISTANCE, CodeKind::ARC_DISTANCE, nullptr, false},
    {'G', 911, Group::ARC_DISTANCE, CodeKind::ARC_DISTANCE, nullptr, false},
    {'G', 930, Group::FEED_MODE, CodeKind::FEED_MODE, nullptr, false},
    {'G', 940, Group::FEED_MODE, CodeKind::FEED_MODE, nullptr, false},
    {'G', 950, Group::FEED_MODE, CodeKind::FEED_MODE, nullptr, false},
    {'G', 200, Group::UNITS, CodeKind::UNITS, nullptr, false},
    {'G', 210, Group::UNITS, CodeKind::UNITS, nullptr, false},
    {'G', 400, Group::CUTTER_COMP, CodeKind::COMP, nullptr, false},
    {'G', 410, Group::CUTTER_COMP, CodeKind::COMP, nullptr, false},
    {'G', 420, Group::CUTTER_COMP, CodeKind::COMP, nullptr, false},
    {'G', 411, Group::CUTTER_COMP, CodeKind::COMP, nullptr, false},
    {'G', 421, Group::CUTTER_COMP, CodeKind::COMP, nullptr, false},
    {'G', 430, Group::TOOL_LENGTH, CodeKind::PASS, nullptr, false},
    {'G', 431, Group::TOOL_LENGTH, CodeKind::PASS, nullptr, false},
    {'G', 432, Group::TOOL_LENGTH, CodeKind::PASS, nullptr, false},
    {'G', 440, Group::TOOL_LENGTH, CodeKind::PASS, nullptr, false},
    {'G', 490, Group::TOOL_LENGTH, CodeKind::PASS, nullptr, false},
    {'G', 980, Group::RETURN_MODE, CodeKind::PASS, nullptr, false},
    {'G', 990, Group::RETURN_MODE, CodeKind::PASS, nullptr, false},
    {'G', 540, Group::COORD_SYSTEM, CodeKind::COORD_SYSTEM, nullptr, false},
    {'G', 541, Group::COORD_SYSTEM, CodeKind::COORD_SYSTEM, nullptr, false},
    {'G', 550, Group::COORD_SYSTEM, CodeKind::COORD_SYSTEM, nullptr, false},
    {'G', 560, Group::COORD_SYSTEM, CodeKind::COORD_SYSTEM, nullptr, false},
    {'G', 570, Group::COORD_SYSTEM, CodeKind::COORD_SYSTEM, nullptr, false},
    {'G', 580, Group::COORD_SYSTEM, CodeKind::COORD_SYSTEM, nullptr, false},
    {'G', 590, Group::COORD_SYSTEM, CodeKind::COORD_SYSTEM, nullptr, false},
    {'G', 591, Group::COORD_SYSTEM, CodeKind::COORD_SYSTEM, nullptr, false},
    {'G', 592, Group::COORD_SYSTEM, CodeKind::COORD_SYSTEM, nullptr, false},
    {'G', 593, Group::COORD_SYSTEM, CodeKind::COORD_SYSTEM, nullptr, false},
    {'G', 610, Group::PATH_CONTROL, CodeKind::PASS, nullptr, false},
    {'G', 611, Group::PATH_CONTROL, CodeKind::PASS, nullptr, false},
    {'G', 640, Group::PATH_CONTROL, CodeKind::PASS, nullptr, false},
    {'G', 960, Group::SPINDLE_MODE, CodeKind::PASS, nullptr, false},
    {'G', 970, Group::SPINDLE_MODE, CodeKind::PASS, nullptr, false},
    {'G', 70, Group::DIAMETER, CodeKind::X_MODE, nullptr, false},
    {'G', 80, Group::DIAMETER, CodeKind::X_MODE, nullptr, false},
    {'G', 160, Group::POLAR, CodeKind::TRANSFORM_ON, "polar coordinates (G16)", false},
    {'G', 150, Group::POLAR, CodeKind::TRANSFORM_OFF, PASSED, false},
    {'G', 510, Group::SCALING, CodeKind::TRANSFORM_ON, "scaling (G51)", true},
    {'G', 500, Group::SCALING, CodeKind::TRANSFORM_OFF, PASSED, false},
    {'G', 511, Group::MIRROR, CodeKind::TRANSFORM_ON, "mirroring (G51.1)", true},
    {'G', 501, Group::MIRROR, CodeKind::TRANSFORM_OFF, PASSED, true},
    {'G', 680, Group::ROTATION, CodeKind::TRANSFORM_ON, "coordinate rotation (G68)", true},
    {'G', 690, Group::ROTATION, CodeKind::TRANSFORM_OFF, PASSED, false},
    {'G', 40, Group::NON_MODAL, CodeKind::PASS, nullptr, false},
    {'G', 90, Group::NON_MODAL, CodeKind::PASS, nullptr, false},
    {'G', 281, Group::NON_MODAL, CodeKind::PASS, nullptr, false},
    {'G', 301, Group::NON_MODAL, CodeKind::PASS, nullptr, false},
    {'G', 100, Group::NON_MODAL, CodeKind::SETS_OFFSET, nullptr, true},
    {'G', 520, Group::NON_MODAL, CodeKind::SETS_OFFSET, nullptr, true},
    {'G', 921, Group::NON_MODAL, CodeKind::RESETS_SHIFT, nullptr, false},
    {'G', 922, Group::NON_MODAL, CodeKind::RESETS_SHIFT, nullptr, false},
    {'G', 923, Group::NON_MODAL, CodeKind::RESETS_SHIFT, nullptr, false},
    {'G', 280, Group::NON_MODAL, CodeKind::HOME, nullptr, true},
    {'G', 300, Group::NON_MODAL, CodeKind::HOME, nullptr, true},
    {'G', 530, Group::NON_MODAL, CodeKind::MACHINE_MOVE, nullptr, true},
    {'G', 920, Group::NON_MODAL, CodeKind::SETS_POSITION, nullptr, true},
    {'M', 0, Group::STOPPING, CodeKind::PASS, nullptr, false},
    {'M', 10, Group::STOPPING, CodeKind::PASS, nullptr, false},
    {'M', 600, Group::STOPPING, CodeKind::PASS, nullptr, false},
    {'M', 20, Group::STOPPING, CodeKind::PROGRAM_END, nullptr, false},
    {'M', 300, Group::STOPPING, CodeKind::PROGRAM_END, nullptr, false},
    {'M', 60, Group::TOOL_CHANGE, CodeKind::TOOL_CHANGE, nullptr, false},
    {'M', 610, Group::TOOL_CHANGE, CodeKind::SET_TOOL, nullptr, false},
    {'M', 980, Group::NON_MODAL, CodeKind::REFUSED, CALLS, false},
    {'M', 990, Group::NON_MODAL, CodeKind::REFUSED, CALLS, false},
};
// clang-format on

}  // namespace

CodeInfo LookUpCode(char letter, double value) {
  CodeInfo info;
  info.letter = letter;
  const double scaled = value * 10.0;
  const double rounded = std::round(scaled);
  if (!(value >= 0) || std::fabs(scaled - rounded) > CODE_DECIMAL_TOLERANCE || rounded > 1e5) {
    info.code = -1;
    return info;
  }
  info.code = static_cast<int>(rounded);
  for (const Row& row : CODES) {
    if (row.letter == letter && row.code == info.code) {
      info.group = row.group;
      info.kind = row.kind;
      info.reason = row.reason;
      info.takesAxes = row.takesAxes;
      return info;
    }
  }
  // M codes the table does not list (spindle, coolant, user codes) only act on the machine.
  if (letter == 'M') {
    info.kind = CodeKind::PASS;
  }
  return info;
}

std::string CodeName(const CodeInfo& info) {
  if (info.code < 0) {
    return std::string(1, info.letter) + "?";
  }
  std::string name = std::string(1, info.letter) + std::to_string(info.code / 10);
  if (info.code % 10 != 0) {
    name += "." + std::to_string(info.code % 10);
  }
  return name;
}

}  // namespace cutcomp::cli
