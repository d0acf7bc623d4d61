// SPDX-License-Identifier: MIT
// The written program's position: how each block moves the tool the written program drives,
// from the reader's facts about the block, and where a run that ended beside the contour leaves
// it until a move puts it back where the program has it.
#include "written_machine.h"

#include <algorithm>
#include <cmath>

#include "number_format.h"

namespace cutcomp::cli {

WrittenMachine::WrittenMachine(std::optional<int> precision)
    : m_Decimals{precision.value_or(DEFAULT_PRECISION_MM),
                 precision.value_or(DEFAULT_PRECISION_INCH)} {}

// Two points are one as written when their coordinates round to the same last decimal.
bool WrittenMachine::WrittenAlike(const Point& a, const Point& b, Units units) const {
  const int decimals = Decimals(units);
  return ToUnits(a.x, decimals) == ToUnits(b.x, decimals) &&
         ToUnits(a.y, decimals) == ToUnits(b.y, decimals);
}

// The position is kept in plane coordinates in the program's unit. After a change of unit it is
// said again in the new one; after a change of plane the coordinates name other axes: it is
// carried over axis by axis, with the offset from the program's position that a run ending
// without a cancel move left on the axes of the old plane.
void WrittenMachine::ChangePlane(const Block& block) {
  if (block.modal.units != m_Modal.units) {
    const double scale = block.modal.units == Units::INCH ? 1.0 / 25.4 : 25.4;
    m_Position = {m_Position.x * scale, m_Position.y * scale};
    m_Programmed = {m_Programmed.x * scale, m_Programmed.y * scale};
    m_Carried = {m_Carried.x * scale, m_Carried.y * scale};
    m_NormalCarried *= scale;
    m_Modal.units = block.modal.units;
  }
  if (block.modal.plane == m_Modal.plane) {
    return;
  }
  const PlaneAxes& before = AxesOf(m_Modal.plane);
  const PlaneAxes& now = AxesOf(block.modal.plane);
  const Point kept = Kept();
  const auto offsetOf = [&](char axis) {
    return axis == before.first ? kept.x : axis == before.second ? kept.y : m_NormalCarried;
  };
  m_Carried = {offsetOf(now.first), offsetOf(now.second)};
  m_NormalCarried = offsetOf(now.normal);
  m_Position = {block.start.x + m_Carried.x, block.start.y + m_Carried.y};
  m_Known = block.startKnown;
  m_Programmed = block.start;
  m_ProgrammedKnown = block.startKnown;
  m_Modal.plane = block.modal.plane;
}

// The axis normal to the plane goes where the program has it when a block names it in absolute
// or machine coordinates, or renames positions (G28, G30, G92, G10, G52...): an offset a run in
// another plane left there is gone.
void WrittenMachine::DropNormalCarried(const Block& block) {
  if (m_NormalCarried == 0.0) {  // exact: nothing carried, the usual case
    return;
  }
  if (block.home || block.shift || block.offsetSetting ||
      (block.Names(AxesOf(block.modal.plane).normal) &&
       (block.machineCoordinates || !block.modal.incremental))) {
    m_NormalCarried = 0.0;
  }
}

// The offset from the programmed position the written program's tool has on the plane axes.
Point WrittenMachine::Kept() const {
  if (!m_Known) {
    return m_Carried;
  }
  return m_ProgrammedKnown ? m_Position - m_Programmed : Point(0.0, 0.0);
}

WrittenMachine::Passage WrittenMachine::PlanPassthrough(const Block& block) {
  Follow(block);
  DropNormalCarried(block);
  Passage passage;
  if (!m_Known || !block.startKnown || WrittenAlike(m_Position, block.start, block.modal.units)) {
    return passage;
  }
  // A straight move from beside the contour that names both plane axes in absolute mode ends
  // where programmed as written; one naming one axis would keep the offset in the other, and an
  // increment would keep it in both.
  const PlaneAxes& axes = AxesOf(block.modal.plane);
  const bool bothAxes = block.Names(axes.first) && block.Names(axes.second);
  if (block.endKnown && (block.modal.incremental || !bothAxes) &&
      (block.motion == Motion::LINE || block.motion == Motion::RAPID) &&
      (block.planeMotion || block.zeroMove)) {
    passage.kind = Passage::REWRITTEN;
    passage.line.from = m_Position;
    passage.line.to = block.end;
    return passage;
  }
  // An arc's centre words count from its start, and both its ends must lie on its circle.
  if (IsArc(block.motion) && block.planeMotion) {
    passage.kind = Passage::AFTER_LINE;
  }
  return passage;
}

void WrittenMachine::Pass(const Block& block) {
  m_Modal = block.modal;
  // The written program's tool stays where it is unless the block moves it in the plane or
  // changes what its position is called (G92, a work offset, a home move): after a run that
  // ended without a cancel move it is beside the contour, not at the programmed point.
  // exact: a block that leaves the plane position alone repeats it bit for bit
  const bool same = block.startKnown && block.endKnown && block.start.x == block.end.x &&
                    block.start.y == block.end.y;
  const PlaneAxes& axes = AxesOf(block.modal.plane);
  // A drilling cycle (or another motion mode the reader does not follow) goes to the plane
  // position its words name even when the program is already there: the written program's
  // tool may still stand beside the contour where a run left it.
  // golden: cycle_after_run_ended_beside_contour
  const bool cycleNamesPlane =
      block.modalMotion == Motion::OTHER && (block.Names(axes.first) || block.Names(axes.second));
  if (block.planeMotion || block.zeroMove || !same || cycleNamesPlane) {
    // A straight move, in program or machine coordinates (G53), leaves an axis it does not name
    // where it was, beside the contour or not, whether or not the position was known before. So
    // does a drilling cycle (or another motion mode the reader does not follow): it goes to the
    // holes its words name and ends above the last one, or leaves those axes unknown. A home
    // move (G28, G30), a change of names (G92...) or any other code with axis words ends where
    // the program has the tool; a block without any (a change of plane) changes nothing.
    const bool renames = block.home || block.shift;
    bool axisWords = false;
    for (const char axis : {'X', 'Y', 'Z', 'A', 'B', 'C', 'U', 'V', 'W'}) {
      axisWords = axisWords || block.Names(axis);
    }
    Point kept = Kept();
    // G10 and G52 take the axis words for an offset: no cycle runs on them.
    const bool cycle = block.modalMotion == Motion::OTHER && !renames && !block.offsetSetting;
    if (block.motion == Motion::LINE || block.motion == Motion::RAPID || block.machineCoordinates ||
        cycle) {
      if (block.machineCoordinates || !block.modal.incremental) {
        if (block.Names(axes.first)) {
          kept.x = 0.0;
        }
        if (block.Names(axes.second)) {
          kept.y = 0.0;
        }
      }
    } else if (renames || axisWords) {
      kept = Point(0.0, 0.0);
    }
    m_Carried = kept;
    m_Position = {block.end.x + kept.x, block.end.y + kept.y};
    m_Known = block.endKnown;
  }
  m_Programmed = block.end;
  m_ProgrammedKnown = block.endKnown;
}

WrittenPiece WrittenMachine::Replace(const Block& block, const cutcomp::Curve& tool) {
  Follow(block);
  DropNormalCarried(block);
  WrittenPiece piece{tool, m_Known};
  cutcomp::Curve& written = piece.curve;
  if (m_Known) {
    written.from = m_Position;
  }
  // Where two pieces meet almost tangentially, the end of the first is moved onto the start of
  // the second; an arc's end then leaves its circle, and a controller refuses an arc whose ends
  // lie at different distances from its centre. Its centre moves to the nearest point of the
  // chord's perpendicular bisector, where the arc passes through both ends.
  if (written.arc && !written.fullCircle) {
    const Point chord = written.to - written.from;
    const double length = chord.GetLength();
    const double mismatch =
        (written.to - written.centre).GetLength() - (written.from - written.centre).GetLength();
    if (std::fabs(mismatch) > crc::EPSILON && length > crc::EPSILON) {
      const Point mid = (written.from + written.to) * 0.5;
      const Point normal(-chord.y / length, chord.x / length);
      const Point off = written.centre - mid;
      written.centre = mid + normal * (off.x * normal.x + off.y * normal.y);
      written.radius = (written.from - written.centre).GetLength();
    }
  }
  // An arc whose ends coincide as written would be read as a whole circle: one that has shrunk
  // to a point is written as a straight move. So is one whose centre coincides with its start as
  // written (a circle smaller than the last written decimal): no reader takes it as an arc.
  const Units units = block.modal.units;
  if (written.arc && ((!written.fullCircle && WrittenAlike(written.from, written.to, units)) ||
                      WrittenAlike(written.from, written.centre, units))) {
    written.arc = false;
    written.fullCircle = false;
  }
  m_Modal = block.modal;
  m_Position = written.to;
  m_Known = true;
  m_Programmed = block.end;
  m_ProgrammedKnown = block.endKnown;
  return piece;
}

void WrittenMachine::Strip(const Block& block) {
  Follow(block);
  DropNormalCarried(block);
  m_Modal = block.modal;
  m_Programmed = block.end;
  m_ProgrammedKnown = block.endKnown;
}

cutcomp::Curve WrittenMachine::Insert(const Point& end) {
  cutcomp::Curve written;
  written.from = m_Known ? m_Position : end;
  written.to = end;
  m_Position = end;
  m_Known = true;
  return written;
}

void WrittenMachine::NoteHeight(const Block& block) {
  const bool normalWord = block.Names(AxesOf(block.modal.plane).normal);
  m_HeightProgrammed = m_HeightProgrammed || normalWord;
  m_Height = block.heightKnown ? std::optional<double>(block.height) : std::nullopt;
  if (block.motion == Motion::RAPID && normalWord && block.heightKnown) {
    m_RapidHeight = block.height;
  }
  // A feed move that goes down (a plunge, a ramp, a helix) starts at or above the work.
  const bool feed = block.motion == Motion::LINE || IsArc(block.motion);
  if (feed && block.heightKnown && block.heightBeforeKnown && block.heightChange < 0.0) {
    const double from = block.height - block.heightChange;
    m_PlungeTop = m_PlungeTop ? std::max(*m_PlungeTop, from) : from;
  }
}

}  // namespace cutcomp::cli
