// SPDX-License-Identifier: MIT
// JSON and SVG reports, written segment by segment.
#include "report_writers.h"

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

namespace cutcomp::cli {

namespace {

constexpr double TWO_PI = 6.283185307179586;

const char* PhaseName(Phase phase) {
  switch (phase) {
  case Phase::ESTABLISH:
    return "establish";
  case Phase::DOING:
    return "doing";
  case Phase::RETRACT:
    return "retract";
  case Phase::NONE:
    break;
  }
  return "none";
}

const char* SideName(Side side) {
  switch (side) {
  case Side::LEFT:
    return "left";
  case Side::RIGHT:
    return "right";
  case Side::NONE:
    break;
  }
  return "none";
}

nlohmann::json Point(const Vec2& p) { return nlohmann::json::array({p.x, p.y}); }

// Text from the input (a file name, a comment quoted in a message) need not be UTF-8: invalid
// bytes become U+FFFD instead of failing the whole record.
std::string Dump(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

double Angle(const Vec2& center, const Vec2& p) {
  return std::atan2(p.y - center.y, p.x - center.x);
}

// Angle swept from `from` to `to` turning counterclockwise (ccw) or clockwise, in [0, 2 pi).
double Sweep(double from, double to, bool ccw) {
  double sweep = ccw ? to - from : from - to;
  while (sweep < 0) {
    sweep += TWO_PI;
  }
  while (sweep >= TWO_PI) {
    sweep -= TWO_PI;
  }
  return sweep;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '&':
      out += "&amp;";
      break;
    case '"':
      out += "&quot;";
      break;
    default:
      out += c;
    }
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// JSON

JsonWriter::JsonWriter(std::FILE* out, const std::string& input) : m_Out(out) {
  const std::string head = "{\"input\": " + Dump(nlohmann::json(input)) + ",\n\"segments\": [\n";
  std::fputs(head.c_str(), m_Out);
}

void JsonWriter::Segment(const SegmentRecord& r) {
  nlohmann::json j;
  j["line"] = r.line;
  j["kind"] = r.arc ? "arc" : "line";
  j["motion"] = "G" + std::to_string(r.motion);
  j["phase"] = PhaseName(r.phase);
  j["side"] = SideName(r.side);
  j["radius"] = r.compRadius;
  j["inserted"] = r.inserted;
  j["dropped"] = r.dropped;
  j["locate"] = r.locate;
  nlohmann::json programmed;
  programmed["start"] = Point(r.start);
  programmed["end"] = Point(r.end);
  if (r.arc) {
    programmed["center"] = Point(r.center);
    programmed["radius"] = r.radius;
    programmed["ccw"] = r.ccw;
    programmed["full_circle"] = r.fullCircle;
  }
  j["programmed"] = programmed;
  if (r.dropped) {
    j["tool"] = nullptr;
  } else {
    nlohmann::json tool;
    tool["start"] = Point(r.toolStart);
    tool["end"] = Point(r.toolEnd);
    if (r.toolArc) {
      tool["center"] = Point(r.center);
      tool["radius"] = r.toolRadius;
      tool["ccw"] = r.ccw;
      tool["full_circle"] = r.toolFullCircle;
    }
    j["tool"] = tool;
  }
  const std::string text = (m_First ? "" : ",\n") + Dump(j);
  m_First = false;
  std::fputs(text.c_str(), m_Out);
}

void JsonWriter::Finish(const ErrorRecord* error) {
  nlohmann::json e = nullptr;
  if (error != nullptr) {
    e = nlohmann::json::object();
    e["line"] = error->line;
    if (error->col != 0) {
      e["col"] = error->col;
    }
    e["kind"] = error->compensation ? "compensation" : "input";
    if (error->compensation) {
      e["code"] = error->code;
      e["engine_message"] = error->engineMessage;
    }
    e["message"] = error->message;
  }
  const std::string tail = std::string(m_First ? "" : "\n") + "],\n\"error\": " + Dump(e) + "}\n";
  std::fputs(tail.c_str(), m_Out);
}

// ---------------------------------------------------------------------------------------------
// SVG
//
// The drawing is in program coordinates inside a group that flips y, so that the picture has
// the machinist's orientation (y up); points are drawn as zero-length strokes with round caps.
// Sizes follow the drawing, which is only known at the end: the header reserves room for the
// view box, which Finish writes in place, and the style sheet comes last.

namespace {

constexpr int VIEWBOX_FIELD = 120;  // characters reserved for the viewBox attribute

}  // namespace

SvgWriter::SvgWriter(std::FILE* out, const std::string& title) : m_Out(out) {
  std::fputs(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" ",
      m_Out);
  m_ViewBoxOffset = std::ftell(m_Out);
  std::fprintf(m_Out, "%-*s", VIEWBOX_FIELD, "viewBox=\"0 0 100 100\"");
  std::fputs(" width=\"100%\" height=\"100%\" preserveAspectRatio=\"xMidYMid meet\">\n", m_Out);
  std::fprintf(m_Out, "<title>%s</title>\n", Escape(title).c_str());
  std::fputs("<g transform=\"scale(1,-1)\">\n", m_Out);
}

void SvgWriter::Grow(const Vec2& p) {
  if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
    return;
  }
  if (!m_Any) {
    m_MinX = m_MaxX = p.x;
    m_MinY = m_MaxY = p.y;
    m_Any = true;
    return;
  }
  m_MinX = std::min(m_MinX, p.x);
  m_MaxX = std::max(m_MaxX, p.x);
  m_MinY = std::min(m_MinY, p.y);
  m_MaxY = std::max(m_MaxY, p.y);
}

void SvgWriter::GrowArc(const Vec2& center, double radius, const Vec2& start, const Vec2& end,
                        bool ccw, bool full) {
  Grow(start);
  Grow(end);
  const double from = Angle(center, start);
  const double sweep = full ? TWO_PI : Sweep(from, Angle(center, end), ccw);
  // The arc's extreme points lie where it crosses the axes through its centre.
  for (int k = 0; k < 4; ++k) {
    const double axis = k * TWO_PI / 4;
    if (Sweep(from, axis, ccw) <= sweep) {
      Grow({center.x + radius * std::cos(axis), center.y + radius * std::sin(axis)});
    }
  }
}

void SvgWriter::Path(const char* cssClass, const Vec2& start, const Vec2& end, bool arc, bool ccw,
                     const Vec2& center, double radius, bool full, const char* attributes,
                     const std::string& title) {
  std::fprintf(m_Out, "<path class=\"%s\" d=\"M%.10g %.10g", cssClass, start.x, start.y);
  if (!arc) {
    std::fprintf(m_Out, "L%.10g %.10g", end.x, end.y);
  } else {
    // y is flipped by the group: SVG's sweep flag 1 (positive angles) is counterclockwise in
    // program coordinates.
    const int sweepFlag = ccw ? 1 : 0;
    if (full) {
      const Vec2 opposite{2 * center.x - start.x, 2 * center.y - start.y};
      std::fprintf(m_Out, "A%.10g %.10g 0 0 %d %.10g %.10gA%.10g %.10g 0 0 %d %.10g %.10g", radius,
                   radius, sweepFlag, opposite.x, opposite.y, radius, radius, sweepFlag, start.x,
                   start.y);
    } else {
      const double sweep = Sweep(Angle(center, start), Angle(center, end), ccw);
      std::fprintf(m_Out, "A%.10g %.10g 0 %d %d %.10g %.10g", radius, radius,
                   sweep > TWO_PI / 2 ? 1 : 0, sweepFlag, end.x, end.y);
    }
    GrowArc(center, radius, start, end, ccw, full);
  }
  Grow(start);
  Grow(end);
  std::fprintf(m_Out, "\"%s", attributes != nullptr ? attributes : "");
  if (title.empty()) {
    std::fputs("/>\n", m_Out);
  } else {
    std::fprintf(m_Out, "><title>%s</title></path>\n", Escape(title).c_str());
  }
}

void SvgWriter::Segment(const SegmentRecord& r) {
  if (r.runStart) {
    std::fprintf(m_Out, "<path class=\"start\" d=\"M%.10g %.10gl0 0\"/>\n", r.start.x, r.start.y);
  }
  const char* arrow = r.runStart ? " marker-end=\"url(#arrow)\"" : nullptr;
  if (!r.inserted) {
    std::string cssClass = r.dropped ? "drop" : "prog";
    if (r.motion == 0) {
      cssClass += " rapid";
    }
    Path(cssClass.c_str(), r.start, r.end, r.arc, r.ccw, r.center, r.radius, r.fullCircle, nullptr,
         r.dropped ? "line " + std::to_string(r.line) + ": dropped from the tool path" : "");
  }
  if (!r.dropped) {
    std::string cssClass = r.inserted ? "tool ins" : "tool";
    if (r.motion == 0 && !r.inserted) {
      cssClass += " rapid";
    }
    Path(cssClass.c_str(), r.toolStart, r.toolEnd, r.toolArc, r.ccw, r.center, r.toolRadius,
         r.toolFullCircle, arrow, "");
  }
}

bool SvgWriter::Finish(const ErrorRecord* error) {
  if (error != nullptr && error->hasGeometry) {
    const SegmentRecord& s = error->segment;
    const std::string title = "line " + std::to_string(error->line) + ": " + error->message;
    Path("errseg", s.start, s.end, s.arc, s.ccw, s.center, s.radius, s.fullCircle, nullptr, title);
    std::fprintf(m_Out, "<path class=\"err\" d=\"M%.10g %.10gl0 0\"><title>%s</title></path>\n",
                 s.start.x, s.start.y, Escape(title).c_str());
  }
  std::fputs("</g>\n", m_Out);
  if (!m_Any) {
    m_MinX = m_MinY = 0;
    m_MaxX = m_MaxY = 1;
  }
  const double width = std::max(m_MaxX - m_MinX, 1e-3);
  const double height = std::max(m_MaxY - m_MinY, 1e-3);
  const double margin = 0.05 * std::max(width, height);
  const double size = std::max(width, height);
  const double font = size / 40;
  // Line widths in drawing units, a fixed fraction of the drawing's size, so that every viewer
  // shows them alike (non-scaling strokes are not supported everywhere). A style sheet applies
  // to the whole document wherever it stands, so it can follow the drawing.
  const double u = size / 500;
  std::fprintf(m_Out,
               "<style>\n"
               "path{fill:none;stroke-linejoin:round;stroke-linecap:round}\n"
               ".prog{stroke:#9e9e9e;stroke-width:%.6g}\n"
               ".tool{stroke:#1565c0;stroke-width:%.6g}\n"
               ".rapid{stroke-width:%.6g;stroke-dasharray:%.6g %.6g;stroke-opacity:0.6}\n"
               ".ins{stroke:#2e7d32;stroke-width:%.6g}\n"
               ".drop{stroke:#e65100;stroke-width:%.6g;stroke-dasharray:%.6g %.6g}\n"
               ".start{stroke:#000;stroke-width:%.6g}\n"
               ".errseg{stroke:#d50000;stroke-width:%.6g;stroke-opacity:0.6}\n"
               ".err{stroke:#d50000;stroke-width:%.6g;stroke-opacity:0.7}\n"
               "text{font-family:sans-serif}\n"
               "</style>\n",
               3 * u, 2 * u, u, 6 * u, 4 * u, 3 * u, 3 * u, 4 * u, 3 * u, 12 * u, 6 * u, 20 * u);
  // Marker size in drawing units: the only element whose size follows the drawing.
  std::fprintf(m_Out,
               "<defs><marker id=\"arrow\" viewBox=\"0 0 10 10\" refX=\"10\" refY=\"5\" "
               "markerWidth=\"%.6g\" markerHeight=\"%.6g\" markerUnits=\"userSpaceOnUse\" "
               "orient=\"auto\"><path d=\"M0 0L10 5L0 10z\" style=\"fill:#1565c0;stroke:none\"/>"
               "</marker></defs>\n",
               size / 30, size / 30);
  // Captions below the drawing: the legend, and the error if there is one.
  double y = -m_MinY + margin + font;
  std::fprintf(m_Out,
               "<text x=\"%.10g\" y=\"%.10g\" font-size=\"%.6g\"><tspan fill=\"#9e9e9e\">programmed"
               "</tspan> · <tspan fill=\"#1565c0\">tool centre</tspan> · <tspan fill=\"#2e7d32\">"
               "inserted</tspan> · <tspan fill=\"#e65100\">dropped</tspan> · start: ●</text>\n",
               m_MinX, y, font);
  double bottom = y;
  if (error != nullptr) {
    y += 1.5 * font;
    std::fprintf(
        m_Out,
        "<text x=\"%.10g\" y=\"%.10g\" font-size=\"%.6g\" fill=\"#d50000\">line %zu: %s</text>\n",
        m_MinX, y, font, error->line, Escape(error->message).c_str());
    bottom = y;
  }
  std::fputs("</svg>\n", m_Out);
  const double viewHeight = bottom + font - (-m_MaxY - margin);
  char viewBox[VIEWBOX_FIELD + 1];
  std::snprintf(viewBox, sizeof viewBox, "viewBox=\"%.10g %.10g %.10g %.10g\"", m_MinX - margin,
                -m_MaxY - margin, width + 2 * margin, viewHeight);
  if (m_ViewBoxOffset < 0 || std::fflush(m_Out) != 0 ||
      std::fseek(m_Out, m_ViewBoxOffset, SEEK_SET) != 0) {
    return false;
  }
  std::fprintf(m_Out, "%-*s", VIEWBOX_FIELD, viewBox);
  std::fseek(m_Out, 0, SEEK_END);
  return true;
}

}  // namespace cutcomp::cli
