// SPDX-License-Identifier: MIT
// The two reports beside the compensated program: a JSON record of every plane segment and an
// SVG picture of the programmed contour and the tool-centre path. Both are written from the
// pieces of the path as the G-code writer wrote them, so that they show what the machine runs,
// and both stream: they hold no more than one piece at a time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "block.h"
#include "output.h"
#include "tool_path.h"
#include "writer.h"

namespace cutcomp::cli {

// One piece of the written path: the model's piece plus what only the command-line tool knows.
struct PieceRecord {
  cutcomp::PathPiece piece;      // tool geometry as written, programmed geometry, phase, side...
  std::string file;              // the block's subroutine file; empty: the program itself
  std::size_t line = 0;          // the block's source line (an inserted line: its anchor's)
  std::string_view text;         // that line as read; valid while the record is being written
  Motion motion = Motion::LINE;  // as programmed (inserted lines: G1)
  Plane plane = Plane::XY;
  double compRadius = 0.0;  // signed radius in force (0 outside compensation)
  bool runStart = false;    // first piece of a compensation run
  // A piece fitted to several chords: the programmed points it stands for (the first chord's
  // start, then every chord's end) and the last chord's source line; empty otherwise.
  std::vector<Point> chords;
  std::size_t lastLine = 0;
};

struct ErrorRecord {
  std::string file;  // empty: the program itself
  std::size_t line = 0;
  std::size_t col = 0;
  std::string place;          // file, line, column and calls, as the message gives them
  bool compensation = false;  // the engine refused (else: the input is wrong)
  int code = 0;               // the engine's message number
  std::string message;        // English
  std::string engineMessage;  // the engine's own text
  std::string text;           // the block's line as read, when known
  bool hasGeometry = false;   // the block's programmed plane motion, for the picture
  cutcomp::Curve segment;
};

// A place where the tool comes closer to the programmed contour than its radius.
struct GougeRecord {
  std::string file;  // the tool-path piece's block; empty: the program itself
  std::size_t line = 0;
  std::string wallFile;  // the block of the wall it cuts into
  std::size_t wallLine = 0;
  Point point;      // the point of the wall the tool cuts into
  Point toolPoint;  // the tool centre then
  double depth = 0.0;
  double clearance = 0.0;
  double radius = 0.0;
  std::string kind;        // entry, exit, corner, crossing, later contour, earlier contour
  std::size_t passes = 1;  // how many times the same gouge is cut (a subroutine run again)
  std::vector<std::string> alsoAgainst;  // other walls the same block cuts into (less deeply)
};

// A stretch of the programmed contour that bounds nothing (a lead, a roughing wall, a move above
// the work): drawn apart from the walls.
struct OpenRecord {
  std::size_t line = 0;
  cutcomp::Curve curve;
  std::string why;  // lead, roughing, above the work
};

// A warning about a block (line 0: about the whole run), with the geometry it concerns when it
// has one, so that a report can mark it.
// A place where the gouge-free path (--avoid) leaves material: the blocks whose walls keep it,
// how much at most and where, along how much wall, and why.
struct MaterialRecord {
  std::string file;
  std::size_t line = 0;      // the first block's line
  std::size_t lastLine = 0;  // the last block's line
  double depth = 0.0;
  Point wallPoint;
  double extent = 0.0;
  std::string cause;  // "narrow", "small arc", "unreached"
};

struct WarningRecord {
  std::string file;  // empty: the program itself
  std::size_t line = 0;
  std::string message;
  bool hasGeometry = false;
  cutcomp::Curve segment;
};

class JsonWriter : public RecordWriter {
public:
  // `listsLeft`: a gouge-free path was asked for (--avoid), and the record says where it leaves
  // material ("left").
  JsonWriter(Output& out, const std::string& input, bool listsLeft);
  void Finish(const Result& result) override;

private:
  void Piece(const PieceRecord& record) override;
  // `gouges` null: the path was not audited. `left` null: the record has no "left".
  void Finish(const ErrorRecord* error, const std::vector<GougeRecord>* gouges,
              const std::vector<MaterialRecord>* left);

  Output& m_Out;
  bool m_ListsLeft;
  bool m_First = true;
};

class SvgWriter : public RecordWriter {
public:
  // The drawing's size is known only at the end: the body goes to `body` (a temporary file)
  // and is copied behind the header by Finish, so that any target works, a pipe included.
  SvgWriter(Output& out, Output& body, std::string title);
  void Finish(const Result& result) override;

private:
  void Piece(const PieceRecord& record) override;
  // Gouges are drawn as red rings round the points of the contour cut into; stretches that are
  // no walls, dashed over the contour; places where material is left (--avoid), as amber
  // diamonds on the wall where it stands proudest, labelled with the depth.
  void Finish(const ErrorRecord* error, const std::vector<GougeRecord>& gouges,
              const std::vector<OpenRecord>& open, const std::vector<MaterialRecord>& left);

  void Grow(const Point& p);
  void Path(const char* cssClass, const cutcomp::Curve& curve, const char* attributes,
            const std::string& title);

  Output& m_Out;
  Output& m_Body;
  std::string m_Title;
  bool m_Any = false;
  double m_MinX = 0, m_MinY = 0, m_MaxX = 0, m_MaxY = 0;
};

}  // namespace cutcomp::cli
