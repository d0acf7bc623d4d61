// SPDX-License-Identifier: MIT
// The two reports beside the compensated program: a JSON record of every plane segment and an
// SVG picture of the programmed contour and the tool-centre path. Both are written while the
// program streams through, so they hold no more than one segment at a time.
#pragma once

#include <cstdio>
#include <string>

#include "gcode_reader.h"

namespace cutcomp::cli {

// One segment of the plane path, programmed and as the tool centre travels it.
struct SegmentRecord {
  std::size_t line = 0;
  int motion = 1;  // 0..3 as programmed (inserted lines: 1)
  Phase phase = Phase::NONE;
  Side side = Side::NONE;
  double compRadius = 0.0;  // signed compensation radius in force (0 outside compensation)
  bool inserted = false;    // a line the engine added
  bool dropped = false;     // left out of the tool path by interference evasion
  bool locate = false;      // a rapid handed to the engine as a locate line
  bool runStart = false;    // first segment of a compensation run
  // Programmed geometry.
  Vec2 start;
  Vec2 end;
  bool arc = false;
  bool ccw = false;
  Vec2 center;
  double radius = 0.0;
  bool fullCircle = false;
  // Tool-centre geometry (not for a dropped segment). An arc keeps the centre and turning
  // sense; a degenerate arc whose ends meet is written as a line (toolArc false).
  Vec2 toolStart;
  Vec2 toolEnd;
  bool toolArc = false;
  double toolRadius = 0.0;
  bool toolFullCircle = false;
};

struct ErrorRecord {
  std::size_t line = 0;
  std::size_t col = 0;
  bool compensation = false;  // the engine refused (else: the input is wrong)
  int code = 0;               // the engine's message number
  std::string message;        // English
  std::string engineMessage;  // the engine's own text
  // The block's programmed plane motion, when it has one (for the picture).
  bool hasGeometry = false;
  SegmentRecord segment;
};

class JsonWriter {
public:
  JsonWriter(std::FILE* out, const std::string& input);
  void Segment(const SegmentRecord& record);
  void Finish(const ErrorRecord* error);

private:
  std::FILE* m_Out;
  bool m_First = true;
};

class SvgWriter {
public:
  SvgWriter(std::FILE* out, const std::string& title);
  void Segment(const SegmentRecord& record);
  // Closes the document; fixes the view box to the drawing. False when the file could not be
  // rewritten in place (a pipe): the picture is then complete but framed by a default box.
  bool Finish(const ErrorRecord* error);

private:
  void Grow(const Vec2& p);
  void GrowArc(const Vec2& center, double radius, const Vec2& start, const Vec2& end, bool ccw,
               bool full);
  // One segment as a path element; `attributes` are added to it, a non-empty `title` becomes
  // its tooltip.
  void Path(const char* cssClass, const Vec2& start, const Vec2& end, bool arc, bool ccw,
            const Vec2& center, double radius, bool full, const char* attributes,
            const std::string& title);

  std::FILE* m_Out;
  long m_ViewBoxOffset = -1;
  bool m_Any = false;
  double m_MinX = 0, m_MinY = 0, m_MaxX = 0, m_MaxY = 0;
};

}  // namespace cutcomp::cli
