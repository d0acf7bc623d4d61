// SPDX-License-Identifier: MIT
// Writing the compensated program: blocks as written outside compensation, blocks whose plane
// words are replaced by a tool-centre piece, and the lines the engine inserted. The writer
// keeps the written program's own modal state (position, motion, distance mode, units, feed
// mode) and expresses every move in the state in force where it is written, so that a line
// inserted before a block that switches G90/G91 is written in the mode before the switch.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "block.h"
#include "number_format.h"
#include "output.h"
#include "tool_path.h"

namespace cutcomp::cli {

class LineWords;

// Words the language layer computed (`X[#1 + 2]`) are written in the writer's own format: lengths
// to the precision of the other coordinates, other values to six significant digits.
class GcodeWriter {
public:
  GcodeWriter(Output& out, std::optional<int> precision)
      : m_Out(out),
        m_Decimals{precision.value_or(DEFAULT_PRECISION_MM),
                   precision.value_or(DEFAULT_PRECISION_INCH)},
        m_Axes{&AxesOf(Plane::XY), &AxesOf(Plane::ZX), &AxesOf(Plane::YZ)} {}

  // With a trace, every line written ends in a comment naming the source line it comes from
  // (an inserted line: the block it belongs to), as `trace` states it.
  void Trace(std::function<std::string(const SourceBlock&)> trace) { m_Trace = std::move(trace); }

  // A block outside compensation: the compensation words removed, otherwise as written.
  void Passthrough(const Block& block);
  // A block whose plane motion is replaced by the tool-centre piece `tool`. Returns the piece
  // as written: from the written program's position, a line where an arc has shrunk to a point.
  // `feedPerMinute` is the programmed move's feed, for inverse-time F words.
  cutcomp::Curve Replaced(const Block& block, const cutcomp::Curve& tool, double feedPerMinute);
  // A block inside compensation without a plane motion of its own, or whose segment was
  // dropped from the tool path: its plane words are removed and the rest kept (a move to
  // where it already is stays a move there); `comment`, when given, is appended.
  void Stripped(const Block& block, const char* comment);
  // A straight line added to the path for the block `anchor`, in the modal state of the written
  // program; returns it as written.
  cutcomp::Curve Inserted(const Block& anchor, const Point& end, double feedPerMinute);

  // Re-expresses the tool's position in the plane and unit of `block` when the block changes them.
  // Every write does it first; call it before asking for Position() ahead of writing a block.
  void FollowPlane(const Block& block) {
    if (block.modal.units != m_Modal.units || block.modal.plane != m_Modal.plane) {
      ChangePlane(block);
    }
  }
  // Where the written program leaves the tool in the plane.
  bool PositionKnown() const { return m_Known; }
  Point Position() const { return m_Position; }
  const Modal& State() const { return m_Modal; }

private:
  void ChangePlane(const Block& block);
  Point Kept() const;
  void DropNormalCarried(const Block& block);
  int Decimals(Units units) const { return m_Decimals[units == Units::INCH ? 1 : 0]; }
  const PlaneAxes& Axes(Plane plane) const { return *m_Axes[static_cast<int>(plane)]; }
  void Move(LineWords& out, Motion motion, const Point& end, const Modal& modal) const;
  void Centre(LineWords& out, const cutcomp::Curve& written, const Modal& modal) const;
  void Feed(LineWords& out, double feedPerMinute, double length) const;
  void Emit(const Block& block, Output::Line& line, const LineWords& words, bool changed);
  void JoinItem(LineWords& out, const Item& item, Units units, bool& changed) const;
  // Ends the line: the source trace, if asked for, and the line break.
  void EndLine(const Block& block, Output::Line& line) const {
    if (m_Trace) {
      AppendTrace(block, line);
    }
    line.Put('\n');
    line.Commit();
  }
  void AppendTrace(const Block& block, Output::Line& line) const;

  Output& m_Out;
  int m_Decimals[2];               // written for lengths in mm and in inches
  const PlaneAxes* m_Axes[3];      // of the planes, in their order
  Modal m_Modal;                   // in force in the written program
  Motion m_Motion = Motion::NONE;  // NONE: unknown or none
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
  std::function<std::string(const SourceBlock&)> m_Trace;
};

// The programmed move's feed in length per minute: its F under G94; under G93 its length times
// its F (the move takes 1/F minutes); 0 when unknown.
double FeedPerMinute(const Block& block, const cutcomp::Curve& programmed);

}  // namespace cutcomp::cli
