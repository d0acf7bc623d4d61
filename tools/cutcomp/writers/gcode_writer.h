// SPDX-License-Identifier: MIT
// Writing the compensated program: blocks as written outside compensation, blocks whose plane
// words are replaced by a tool-centre piece, and the lines the engine inserted. Every move is
// expressed in the modal state in force where it is written, so that a line inserted before a
// block that switches G90/G91 is written in the mode before the switch.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "block.h"
#include "number_format.h"
#include "output.h"
#include "tool_path.h"
#include "writer.h"
#include "written_machine.h"

namespace cutcomp::cli {

class LineWords;

// Writes the lines of the compensated program. What is written where, and where the tool stands,
// is decided beforehand (WrittenMachine); the writer formats it: the words of a block, the
// coordinates of a piece in the distance mode, unit and plane in force, the motion word where
// the written program's motion mode needs it, inverse-time feeds. Words the language layer
// computed (`X[#1 + 2]`) are written in the writer's own format: lengths to the precision of the
// other coordinates, other values to six significant digits.
class GcodeWriter : public Writer {
public:
  GcodeWriter(Output& out, std::optional<int> precision)
      : m_Out(out),
        m_Decimals{precision.value_or(DEFAULT_PRECISION_MM),
                   precision.value_or(DEFAULT_PRECISION_INCH)},
        m_Axes{&AxesOf(Plane::XY), &AxesOf(Plane::ZX), &AxesOf(Plane::YZ)} {}

  // With a trace, every line written ends in a comment naming the source line it comes from
  // (an inserted line: the block it belongs to), as `trace` states it.
  void Trace(std::function<std::string(const SourceBlock&)> trace) { m_Trace = std::move(trace); }
  // Every length the writer formats carries a decimal point ("X20."), as Fanuc-family controls
  // need: without one they may read it in their least input increment. Lengths the program
  // wrote itself are echoed as written.
  void PointWholeLengths(bool on) { m_Point = on; }

  void Write(const WrittenBlock& line) override;
  bool TakesRecords() const override { return false; }
  void Finish(const Result& /*result*/) override {}

private:
  // A block with its own words, the compensation words removed.
  void Passthrough(const Block& block);
  // A block whose plane motion is replaced by the piece `curve` (WrittenMachine::Replace). The
  // motion word is the piece's (G0 for a rapid block's line). `feedPerMinute` is the programmed
  // move's feed, for inverse-time F words.
  void Replaced(const Block& block, const cutcomp::Curve& curve, bool fromKnown,
                double feedPerMinute);
  // A block inside compensation without a plane motion of its own, or whose segment was
  // dropped from the tool path: its plane words are removed and the rest kept; a move to where
  // it already is stays a move to `position`, where the tool stands (none: unknown, the move is
  // dropped); `comment`, when given, is appended.
  void Stripped(const Block& block, const Point* position, const char* comment);
  // A straight line added to the path for the block `anchor` (or an arc about a corner of the
  // walls), in the written program's modal state `modal` (WrittenMachine::Insert gives it from
  // where the tool stands, or from its end).
  void Inserted(const Block& anchor, const cutcomp::Curve& written, const Modal& modal,
                double feedPerMinute);

  int Decimals(Units units) const { return m_Decimals[units == Units::INCH ? 1 : 0]; }
  const PlaneAxes& Axes(Plane plane) const { return *m_Axes[static_cast<int>(plane)]; }
  void Move(LineWords& out, Motion motion, const Point& from, const Point& end,
            const Modal& modal) const;
  // A turning tool's written point: the tip vector of the block for a compensated point (not
  // for the programmed end of the block, where a run is switched off).
  static Point TipAt(const Block& anchor, const Point& point) {
    // exact: the engine ends a cancel move on the programmed point itself
    return point.x == anchor.end.x && point.y == anchor.end.y ? Point(0.0, 0.0) : anchor.tip;
  }
  void Centre(LineWords& out, const cutcomp::Curve& written, const Modal& modal) const;
  void Feed(LineWords& out, const Modal& modal, double feedPerMinute, double length) const;
  void Emit(const Block& block, Output::Line& line, const LineWords& words, bool changed);
  void JoinItem(LineWords& out, const Item& item, const Modal& modal, bool& changed) const;
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
  bool m_Point = false;            // every length with a decimal point
  Motion m_Motion = Motion::NONE;  // the written program's motion mode; NONE: unknown or none
  // Where the written program's tool stands from the position the written machine keeps (the
  // nose centre): a turning tool's tip vector while it is compensated, else (0, 0).
  Point m_Tip;
  std::function<std::string(const SourceBlock&)> m_Trace;
};

// The programmed move's feed in length per minute: its F under G94; under G93 its length times
// its F (the move takes 1/F minutes); 0 when unknown.
double FeedPerMinute(const Block& block, const cutcomp::Curve& programmed);

}  // namespace cutcomp::cli
