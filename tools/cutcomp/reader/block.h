// SPDX-License-Identifier: MIT
// What the modal reader makes of one executed block: the modal state its words are read in,
// its motion in the plane of compensation, and the compensation phase and side it belongs to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <crc/crc.h>

#include "block_source.h"

namespace cutcomp::cli {

using Point = crc::__point2<double>;

// The motion a block performs with its axis words. OTHER: a canned cycle, a probe move or a
// code the reader passes through without following it.
enum class Motion { NONE, RAPID, LINE, ARC_CW, ARC_CCW, OTHER };

inline bool IsArc(Motion motion) { return motion == Motion::ARC_CW || motion == Motion::ARC_CCW; }
// "G0".."G3"; empty for NONE and OTHER.
inline std::string_view MotionCode(Motion motion) {
  switch (motion) {
  case Motion::RAPID:
    return "G0";
  case Motion::LINE:
    return "G1";
  case Motion::ARC_CW:
    return "G2";
  case Motion::ARC_CCW:
    return "G3";
  case Motion::NONE:
  case Motion::OTHER:
    break;
  }
  return {};
}

// The plane of compensation. Plane coordinates (first, second) are (X, Y) under G17, (Z, X)
// under G18 and (Y, Z) under G19: in that order, counterclockwise seen from the positive end
// of the axis normal to the plane is counterclockwise in plane coordinates, so G3 is a
// counterclockwise arc and G41 puts the tool on the left in all three planes.
enum class Plane { XY, ZX, YZ };

struct PlaneAxes {
  char first;
  char second;
  char normal;
  char firstCentre;  // the arc centre word along the first axis
  char secondCentre;
  const char* code;  // "G17"
};
const PlaneAxes& AxesOf(Plane plane);

enum class Units { MM, INCH };
enum class FeedMode { PER_MINUTE, INVERSE_TIME, PER_REVOLUTION };

// The modal settings that give a block's words their meaning, as in force for the block (after
// its own modal words).
struct Modal {
  Units units = Units::MM;
  bool incremental = false;  // G91
  bool arcAbsolute = false;  // G90.1
  FeedMode feedMode = FeedMode::PER_MINUTE;
  double feed = 0.0;  // the F in force (0: none yet)
  Plane plane = Plane::XY;
  int tool = -1;  // the tool in the spindle (M6, M61 Q); -1: none
  // The work coordinate system in force, as its code number times ten: 540 for G54, 593 for
  // G59.3.
  int coordSystem = 540;
  // G7: X is written as a diameter. The reader halves it, so that every coordinate the later
  // stages see is a radius; the writer doubles it again.
  bool diameter = false;
  // The Fanuc-family lathe's conventions are in force (X a diameter, U and W increments): every
  // length written carries a decimal point, as for any Fanuc-family control.
  bool fanucLathe = false;
};

// What the reader makes of a block, apart from its words: plain values only, so that a block
// slot is made fresh for the next block by one assignment, keeping the storage of its strings.
struct BlockMeaning {
  Modal modal;

  Motion motion = Motion::NONE;       // performed with this block's axis words
  bool explicitMotionWord = false;    // the block carries its own G0..G3
  Motion modalMotion = Motion::NONE;  // the motion mode in force after the block
  // The block moves the tool in the plane: a line of length >= EPSILON or an arc, from a known
  // start to a known end.
  bool planeMotion = false;
  // A G0/G1 with plane words that ends where it starts: it stays in the output as a move.
  bool zeroMove = false;
  bool otherAxes = false;  // axis words beyond the plane's two
  Point start;             // plane coordinates
  Point end;
  bool startKnown = false;
  bool endKnown = false;
  // Arcs (with planeMotion): centre, radius at the start, full circle.
  Point centre;
  double radius = 0.0;
  bool fullCircle = false;
  // The axis normal to the plane (Z under G17): its position after the block and the change
  // the block made, when known.
  double height = 0.0;
  bool heightKnown = false;
  bool heightBeforeKnown = false;  // the height before the block; the change is 0 without it
  double heightChange = 0.0;

  // Compensation: the phase of this block's plane motion, and the side and signed radius in
  // force for it. A zero radius gives phase NONE: such runs are not offset at all.
  crc::crc_status_t phase = crc::CRC_STATUS_NONE;
  crc::crc_dir_t side = crc::CRC_DIR_NONE;
  double compRadius = 0.0;
  // A turning tool touched off at its imaginary tip: the vector from the nose centre (the path
  // the engine computes) to that tip, in plane coordinates; (0, 0) for a tool held at its
  // centre. The written program moves the tip, so every compensated point is written moved by
  // it; the programmed points where a run starts and ends are not.
  Point tip;
  // The compensation run in progress ends before this block without a cancel move: a program
  // end, or a code that a G40 without a move allowed (G28, G53, a work offset, an unknown code).
  bool endsRun = false;
  bool programEnd = false;  // M2 or M30

  // What the block's codes do to the machine beside its motion. The reader is the one place
  // where G and M numbers are decoded: the writers and the audit read these facts.
  bool machineCoordinates = false;  // G53: its axis words are machine coordinates
  bool home = false;                // G28, G30: through the given point to a stored position
  // G92 gives the current point new coordinates; G92.1, G92.2 and G92.3 cancel or restore
  // that shift. Either way the same point has another name after the block.
  bool shift = false;
  // G10, G52: its axis words set an offset (a table entry, a local shift); nothing moves.
  bool offsetSetting = false;
  bool newCoordSystem = false;  // G54..G59.3 other than the one in force before the block
  // The letters of the block's words other than G and M: bit 0 for A.
  std::uint32_t letters = 0;

  bool Names(char letter) const { return (letters >> (letter - 'A') & 1U) != 0; }
  // The work coordinates change with the block: the contour's walls move in program
  // coordinates.
  bool ChangesFrame() const { return newCoordSystem || shift || offsetSetting; }
};

struct Block : BlockMeaning {
  SourceBlock source;

  // Said on standard error when the block is written (codes passed through unchanged).
  std::vector<std::string> warnings;
  // Said as a note when the block is read (how the program is read from here on).
  std::string note;

  std::size_t Line() const { return source.where.line; }
};

}  // namespace cutcomp::cli
