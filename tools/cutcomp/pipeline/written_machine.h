// SPDX-License-Identifier: MIT
// The machine as the written program drives it: where its tool stands in the plane (known or
// not, and the offset from the programmed position that a run ending beside the contour left
// it with), its height along the plane's normal, the modal state the written program has put in
// force, and the work frame. Every change of the written position is made here, from the
// reader's facts about each block and the pieces of tool path written for it; the G-code writer
// formats what this decides, and the records and the audit see the path as written.
#pragma once

#include <cstdint>
#include <optional>

#include "block.h"
#include "tool_path.h"

namespace cutcomp::cli {

// A piece of tool path as it is written: from where the tool stood (`fromKnown` false: the
// position was unknown, and the piece starts where it was computed to; increments then count
// from its end).
struct WrittenPiece {
  cutcomp::Curve curve;
  bool fromKnown = true;
};

class WrittenMachine {
public:
  // `precision`: the decimals written for lengths (none: the defaults for mm and inches); a
  // point is where the tool stands when it is written alike.
  explicit WrittenMachine(std::optional<int> precision);

  // Re-expresses the position in the plane and unit of `block` when the block changes them.
  // Every step below does it first; call it before asking for Position() ahead of a block.
  void Follow(const Block& block) {
    if (block.modal.units != m_Modal.units || block.modal.plane != m_Modal.plane) {
      ChangePlane(block);
    }
  }
  // Where the written program leaves the tool in the plane.
  bool Known() const { return m_Known; }
  Point Position() const { return m_Position; }
  // The modal state in force in the written program (a line the tool adds is written in it).
  const Modal& State() const { return m_Modal; }
  int Decimals(Units units) const { return m_Decimals[units == Units::INCH ? 1 : 0]; }

  // How a block outside compensation is written. After a run that ended without a cancel move
  // the tool is beside the contour, not where the program has it: a straight move that would
  // keep that offset (it names one plane axis, or is incremental) is written anew from where
  // the tool stands (REWRITTEN, `line`: the move as the writer is to write it, then Replace);
  // an arc is written after a straight line to its start (AFTER_LINE: Insert its start, then
  // Pass). Anything else is written as it is (AS_IS: Pass).
  struct Passage {
    enum Kind { AS_IS, REWRITTEN, AFTER_LINE } kind = AS_IS;
    cutcomp::Curve line;
  };
  Passage PlanPassthrough(const Block& block);
  // After a block written with its own words, compensation words removed.
  void Pass(const Block& block);
  // The piece `tool` that replaces the plane motion of `block`, as it is written: from where
  // the tool stands; an arc whose ends no longer lie on its circle gets the centre that puts
  // them there; an arc that has shrunk to a point as written becomes a line.
  WrittenPiece Replace(const Block& block, const cutcomp::Curve& tool);
  // After a block inside compensation written without its plane motion.
  void Strip(const Block& block);
  // A straight line the tool adds, to `end`, in the written program's modal state; returns it
  // as written.
  cutcomp::Curve Insert(const Point& end);

  // The axis normal to the plane, after every block written with its own words: where the
  // written program has the tool, where it last moved at rapid (above the part), and the
  // highest height from which it feeds downwards (the top of the work, as far as the program
  // shows it).
  void NoteHeight(const Block& block);
  std::optional<double> Height() const { return m_Height; }
  std::optional<double> RapidHeight() const { return m_RapidHeight; }
  bool HeightProgrammed() const { return m_HeightProgrammed; }
  std::optional<double> PlungeTop() const { return m_PlungeTop; }

  // The work frame: counts the blocks that change the work coordinates (a new coordinate
  // system, a G92 shift, a changed offset), after which the part's walls lie elsewhere in
  // program coordinates.
  void NoteFrame(const Block& block) {
    if (block.ChangesFrame()) {
      ++m_Frame;
    }
  }
  std::uint64_t Frame() const { return m_Frame; }

private:
  void ChangePlane(const Block& block);
  void DropNormalCarried(const Block& block);
  Point Kept() const;
  bool WrittenAlike(const Point& a, const Point& b, Units units) const;

  int m_Decimals[2];  // written for lengths in mm and in inches
  Modal m_Modal;      // in force in the written program
  Point m_Position;
  bool m_Known = false;
  // Where the program has the tool after the last block written: the tool stands beside it
  // after a run that ended without a cancel move.
  Point m_Programmed;
  bool m_ProgrammedKnown = false;
  // While the position is not known (a move in machine coordinates, a change of plane to an
  // axis not yet programmed), the offset from the programmed position that the plane axes still
  // carry: straight moves leave the axes they do not name where they were.
  Point m_Carried;
  // The same offset on the axis normal to the plane: a run in another plane left it there, and
  // it comes back into the plane when that plane is chosen again.
  double m_NormalCarried = 0.0;

  std::optional<double> m_Height;
  std::optional<double> m_RapidHeight;
  bool m_HeightProgrammed = false;
  std::optional<double> m_PlungeTop;
  std::uint64_t m_Frame = 0;
};

}  // namespace cutcomp::cli
