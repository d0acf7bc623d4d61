// SPDX-License-Identifier: MIT
// JSON and SVG reports, written piece by piece from the path as written.
#include "reports.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "report_json.h"
#include "result.h"

namespace cutcomp::cli {

namespace {

constexpr double PI = 3.14159265358979323846;

const char* PhaseName(crc::crc_status_t phase) {
  static const char* const NAMES[] = {"none", "establish", "doing", "retract"};
  const int k = static_cast<int>(phase) + 1;
  return k >= 0 && k < 4 ? NAMES[k] : "none";
}

const char* SideName(crc::crc_dir_t side) {
  static const char* const NAMES[] = {"none", "left", "right"};
  const int k = static_cast<int>(side) + 1;
  return k >= 0 && k < 3 ? NAMES[k] : "none";
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

// Ten significant digits: far below a pixel at any zoom a viewer offers.
void Num(std::string& out, double value) {
  char buffer[32];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 10);
  out.append(buffer, result.ptr);
}

std::string Nums(std::initializer_list<double> values) {
  std::string out;
  for (double v : values) {
    if (!out.empty()) {
      out += ' ';
    }
    Num(out, v);
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// JSON

nlohmann::json JsonPoint(const Point& p) { return nlohmann::json::array({p.x, p.y}); }

nlohmann::json JsonCurve(const cutcomp::Curve& c) {
  nlohmann::json j;
  j["start"] = JsonPoint(c.from);
  j["end"] = JsonPoint(c.to);
  if (c.arc) {
    j["center"] = JsonPoint(c.centre);
    j["radius"] = c.radius;
    j["ccw"] = c.ccw;
    j["full_circle"] = c.fullCircle;
  }
  return j;
}

std::string DumpJson(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

nlohmann::json PieceJson(const PieceRecord& r) {
  const cutcomp::PathPiece& p = r.piece;
  nlohmann::json j;
  if (!r.file.empty()) {
    j["file"] = r.file;  // a block of a subroutine file
  }
  j["line"] = r.line;
  j["kind"] = p.programmed.arc ? "arc" : "line";
  j["motion"] = std::string(MotionCode(r.motion));
  j["plane"] = AxesOf(r.plane).code;
  j["phase"] = PhaseName(p.phase);
  j["side"] = SideName(p.side);
  j["radius"] = r.compRadius;
  j["inserted"] = p.inserted;
  j["dropped"] = p.dropped;
  j["locate"] = p.locate;
  j["programmed"] = JsonCurve(p.programmed);
  j["tool"] = p.dropped ? nlohmann::json(nullptr) : JsonCurve(p.tool);
  // A fitted piece: "programmed" is the line or arc the engine compensated, "fitted" the
  // program's chords it stands for.
  j["fitted"] = nullptr;
  if (!r.chords.empty()) {
    nlohmann::json points = nlohmann::json::array();
    for (const Point& point : r.chords) {
      points.push_back(JsonPoint(point));
    }
    j["fitted"] = {{"last_line", r.lastLine}, {"chords", std::move(points)}};
  }
  return j;
}

nlohmann::json ErrorJson(const ErrorRecord& error) {
  nlohmann::json e = nlohmann::json::object();
  if (!error.file.empty()) {
    e["file"] = error.file;
  }
  e["line"] = error.line;
  if (error.col != 0) {
    e["col"] = error.col;
  }
  e["kind"] = error.compensation ? "compensation" : "input";
  if (error.compensation) {
    e["code"] = error.code;
    e["engine_message"] = error.engineMessage;
  }
  e["message"] = error.message;
  return e;
}

JsonWriter::JsonWriter(Output& out, const std::string& input, bool listsLeft)
    : m_Out(out), m_ListsLeft(listsLeft) {
  m_Out.Write("{\"input\": " + DumpJson(nlohmann::json(input)) + ",\n\"segments\": [\n");
}

void JsonWriter::Piece(const PieceRecord& r) {
  const nlohmann::json j = PieceJson(r);
  m_Out.Write((m_First ? "" : ",\n") + DumpJson(j));
  m_First = false;
}

void JsonWriter::Finish(const Result& result) {
  Finish(result.error ? &*result.error : nullptr, result.audited ? &result.gouges : nullptr,
         m_ListsLeft ? &result.left : nullptr);
}

void JsonWriter::Finish(const ErrorRecord* error, const std::vector<GougeRecord>* gouges,
                        const std::vector<MaterialRecord>* left) {
  std::string places;
  if (left != nullptr) {
    nlohmann::json l = nlohmann::json::array();
    for (const MaterialRecord& place : *left) {
      nlohmann::json one = nlohmann::json::object();
      if (!place.file.empty()) {
        one["file"] = place.file;
      }
      one["line"] = place.line;
      one["last_line"] = place.lastLine;
      one["depth"] = place.depth;
      one["wall_point"] = {place.wallPoint.x, place.wallPoint.y};
      one["extent"] = place.extent;
      one["cause"] = place.cause;
      l.push_back(std::move(one));
    }
    places = ",\n\"left\": " + DumpJson(l);
  }
  nlohmann::json g = nullptr;
  if (gouges != nullptr) {
    g = nlohmann::json::array();
    for (const GougeRecord& gouge : *gouges) {
      nlohmann::json one = nlohmann::json::object();
      if (!gouge.file.empty()) {
        one["file"] = gouge.file;
      }
      one["line"] = gouge.line;
      if (!gouge.wallFile.empty()) {
        one["against_file"] = gouge.wallFile;
      }
      one["against_line"] = gouge.wallLine;
      one["point"] = {gouge.point.x, gouge.point.y};
      one["tool_point"] = {gouge.toolPoint.x, gouge.toolPoint.y};
      one["depth"] = gouge.depth;
      one["clearance"] = gouge.clearance;
      one["radius"] = gouge.radius;
      one["kind"] = gouge.kind;
      one["passes"] = gouge.passes;
      one["also_against"] = gouge.alsoAgainst;
      g.push_back(std::move(one));
    }
  }
  const nlohmann::json e = error != nullptr ? ErrorJson(*error) : nlohmann::json(nullptr);
  m_Out.Write(std::string(m_First ? "" : "\n") + "]" + places + ",\n\"gouges\": " + DumpJson(g) +
              ",\n\"error\": " + DumpJson(e) + "}\n");
}

// ---------------------------------------------------------------------------------------------
// SVG
//
// The drawing is in plane coordinates inside a group that flips y, so that the picture has the
// machinist's orientation (second axis up); points are drawn as zero-length strokes with round
// caps. Sizes follow the drawing, which is only known at the end.

SvgWriter::SvgWriter(Output& out, Output& body, std::string title)
    : m_Out(out), m_Body(body), m_Title(std::move(title)) {}

void SvgWriter::Grow(const Point& p) {
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

void SvgWriter::Path(const char* cssClass, const cutcomp::Curve& c, const char* attributes,
                     const std::string& title) {
  std::string d =
      std::string("<path class=\"") + cssClass + "\" d=\"M" + Nums({c.from.x, c.from.y});
  Grow(c.from);
  Grow(c.to);
  if (!c.arc) {
    d += "L" + Nums({c.to.x, c.to.y});
  } else {
    // y is flipped by the group: SVG's sweep flag 1 (positive angles) is counterclockwise in
    // plane coordinates.
    const char* sweepFlag = c.ccw ? "1" : "0";
    const double sweep = cutcomp::Sweep(c);
    const std::string radii = Nums({c.radius, c.radius});
    if (c.fullCircle) {
      const Point opposite{2 * c.centre.x - c.from.x, 2 * c.centre.y - c.from.y};
      d += "A" + radii + " 0 0 " + sweepFlag + " " + Nums({opposite.x, opposite.y});
      d += "A" + radii + " 0 0 " + sweepFlag + " " + Nums({c.from.x, c.from.y});
    } else {
      d += "A" + radii + " 0 " + (sweep > PI ? "1 " : "0 ") + sweepFlag + " " +
           Nums({c.to.x, c.to.y});
    }
    // The arc's extreme points lie where it crosses the axes through its centre.
    for (int k = 0; k < 4; ++k) {
      cutcomp::Curve part = c;
      part.fullCircle = false;
      part.to = {c.centre.x + c.radius * std::cos(k * PI / 2),
                 c.centre.y + c.radius * std::sin(k * PI / 2)};
      if (c.fullCircle || cutcomp::Sweep(part) <= sweep) {
        Grow(part.to);
      }
    }
  }
  d += "\"";
  d += attributes != nullptr ? attributes : "";
  d += title.empty() ? "/>\n" : "><title>" + Escape(title) + "</title></path>\n";
  m_Body.Write(d);
}

void SvgWriter::Piece(const PieceRecord& r) {
  const cutcomp::PathPiece& p = r.piece;
  if (r.runStart) {
    m_Body.Write("<path class=\"start\" d=\"M" + Nums({p.programmed.from.x, p.programmed.from.y}) +
                 "l0 0\"/>\n");
  }
  const bool rapid = r.motion == Motion::RAPID && !p.inserted;
  if (!r.chords.empty()) {
    // The program's chords, and over them the line or arc fitted to them.
    std::string d = "<path class=\"prog\" d=\"M" + Nums({r.chords[0].x, r.chords[0].y});
    for (const Point& point : r.chords) {
      Grow(point);
      d += "L" + Nums({point.x, point.y});
    }
    m_Body.Write(d + "\"/>\n");
    Path(p.dropped ? "fit drop" : "fit", p.programmed, nullptr,
         "lines " + std::to_string(r.line) + "-" + std::to_string(r.lastLine) + ": fitted" +
             (p.dropped ? ", dropped from the tool path" : ""));
  } else if (!p.inserted) {
    std::string cssClass = p.dropped ? "drop" : "prog";
    if (rapid) {
      cssClass += " rapid";
    }
    Path(cssClass.c_str(), p.programmed, nullptr,
         p.dropped ? "line " + std::to_string(r.line) + ": dropped from the tool path" : "");
  }
  if (!p.dropped) {
    std::string cssClass = p.inserted ? "tool ins" : "tool";
    if (rapid) {
      cssClass += " rapid";
    }
    Path(cssClass.c_str(), p.tool, r.runStart ? " marker-end=\"url(#arrow)\"" : nullptr, "");
  }
}

void SvgWriter::Finish(const Result& result) {
  static const std::vector<GougeRecord> none;
  Finish(result.error ? &*result.error : nullptr, result.audited ? result.gouges : none,
         result.open, result.left);
}

void SvgWriter::Finish(const ErrorRecord* error, const std::vector<GougeRecord>& gouges,
                       const std::vector<OpenRecord>& open,
                       const std::vector<MaterialRecord>& left) {
  for (const OpenRecord& stretch : open) {
    Path("open", stretch.curve, nullptr,
         "line " + std::to_string(stretch.line) + ": no wall (" + stretch.why + ")");
  }
  if (error != nullptr && error->hasGeometry) {
    const std::string title = "line " + std::to_string(error->line) + ": " + error->message;
    Path("errseg", error->segment, nullptr, title);
    m_Body.Write("<path class=\"err\" d=\"M" +
                 Nums({error->segment.from.x, error->segment.from.y}) + "l0 0\"><title>" +
                 Escape(title) + "</title></path>\n");
  }
  if (!m_Any) {
    m_MinX = m_MinY = 0;
    m_MaxX = m_MaxY = 1;
  }
  const double width = std::max(m_MaxX - m_MinX, 1e-3);
  const double height = std::max(m_MaxY - m_MinY, 1e-3);
  const double size = std::max(width, height);
  const double margin = 0.05 * size;
  const double font = size / 40;
  const double captions = error != nullptr ? 2.5 * font : 1.0 * font;
  // Line widths in drawing units, a fixed fraction of the drawing's size, so that every viewer
  // shows them alike (non-scaling strokes are not supported everywhere).
  const double u = size / 500;
  for (const GougeRecord& gouge : gouges) {
    m_Body.Write("<circle class=\"gouge\" cx=\"" + Nums({gouge.point.x}) + "\" cy=\"" +
                 Nums({gouge.point.y}) + "\" r=\"" + Nums({12 * u}) + "\"><title>line " +
                 std::to_string(gouge.line) + ": the tool comes " + Nums({gouge.depth}) +
                 " inside line " + std::to_string(gouge.wallLine) + "</title></circle>\n");
  }
  for (const MaterialRecord& place : left) {
    const std::string lines =
        place.lastLine == place.line
            ? "line " + std::to_string(place.line)
            : "lines " + std::to_string(place.line) + "-" + std::to_string(place.lastLine);
    const Point& p = place.wallPoint;
    const double d = 10 * u;
    m_Body.Write("<path class=\"left\" d=\"M" + Nums({p.x, p.y + d}) + "L" + Nums({p.x + d, p.y}) +
                 "L" + Nums({p.x, p.y - d}) + "L" + Nums({p.x - d, p.y}) + "z\"><title>" + lines +
                 ": " + Nums({place.depth}) + " left (" + place.cause + ")</title></path>\n");
    // The label stands upright: the group flips y, the text flips it back.
    m_Body.Write("<text class=\"lefttext\" transform=\"scale(1,-1)\" x=\"" + Nums({p.x + 1.5 * d}) +
                 "\" y=\"" + Nums({-p.y}) + "\" font-size=\"" + Nums({font}) + "\">" +
                 Nums({place.depth}) + "</text>\n");
  }
  std::string head =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
      "viewBox=\"" +
      Nums({m_MinX - margin, -m_MaxY - margin, width + 2 * margin,
            height + 2 * margin + captions + font}) +
      "\" width=\"100%\" height=\"100%\" preserveAspectRatio=\"xMidYMid meet\">\n<title>" +
      Escape(m_Title) + "</title>\n<style>\n" +
      "path{fill:none;stroke-linejoin:round;stroke-linecap:round}\n" +
      ".prog{stroke:#9e9e9e;stroke-width:" + Nums({3 * u}) + "}\n" +
      ".tool{stroke:#1565c0;stroke-width:" + Nums({2 * u}) + "}\n" +
      ".rapid{stroke-width:" + Nums({u}) + ";stroke-dasharray:" + Nums({6 * u, 4 * u}) +
      ";stroke-opacity:0.6}\n" + ".ins{stroke:#2e7d32;stroke-width:" + Nums({3 * u}) + "}\n" +
      ".drop{stroke:#e65100;stroke-width:" + Nums({3 * u}) +
      ";stroke-dasharray:" + Nums({4 * u, 3 * u}) + "}\n" +
      ".start{stroke:#000;stroke-width:" + Nums({12 * u}) + "}\n" +
      ".errseg{stroke:#d50000;stroke-width:" + Nums({6 * u}) + ";stroke-opacity:0.6}\n" +
      ".err{stroke:#d50000;stroke-width:" + Nums({20 * u}) + ";stroke-opacity:0.7}\n" +
      ".gouge{fill:none;stroke:#d50000;stroke-width:" + Nums({3 * u}) + "}\n" +
      ".open{stroke:#fbc02d;stroke-width:" + Nums({3 * u}) +
      ";stroke-dasharray:" + Nums({6 * u, 6 * u}) + "}\n" +
      (left.empty() ? std::string()
                    : ".left{fill:#ff6f00;fill-opacity:0.8;stroke:none}\n"
                      ".lefttext{fill:#e65100}\n") +
      "text{font-family:sans-serif}\n</style>\n" +
      "<defs><marker id=\"arrow\" viewBox=\"0 0 10 10\" refX=\"10\" refY=\"5\" markerWidth=\"" +
      Nums({size / 30}) + "\" markerHeight=\"" + Nums({size / 30}) +
      "\" markerUnits=\"userSpaceOnUse\" orient=\"auto\"><path d=\"M0 0L10 5L0 10z\" "
      "style=\"fill:#1565c0;stroke:none\"/></marker></defs>\n<g transform=\"scale(1,-1)\">\n";
  m_Out.Write(head);
  m_Out.Append(m_Body);
  // Captions below the drawing: the legend, and the error if there is one.
  double y = -m_MinY + margin + font;
  std::string tail = "</g>\n<text x=\"" + Nums({m_MinX}) + "\" y=\"" + Nums({y}) +
                     "\" font-size=\"" + Nums({font}) +
                     "\"><tspan fill=\"#9e9e9e\">programmed</tspan> · <tspan fill=\"#1565c0\">"
                     "tool centre</tspan> · <tspan fill=\"#2e7d32\">inserted</tspan> · <tspan "
                     "fill=\"#8e24aa\">fitted</tspan> · <tspan fill=\"#e65100\">dropped</tspan>"
                     " · start: ●" +
                     (open.empty() ? "" : " · <tspan fill=\"#f9a825\">no wall</tspan>") +
                     (gouges.empty() ? "" : " · <tspan fill=\"#d50000\">gouge: ○</tspan>") +
                     (left.empty() ? "" : " · <tspan fill=\"#ff6f00\">material left: ◆</tspan>") +
                     "</text>\n";
  if (error != nullptr) {
    y += 1.5 * font;
    tail += "<text x=\"" + Nums({m_MinX}) + "\" y=\"" + Nums({y}) + "\" font-size=\"" +
            Nums({font}) + "\" fill=\"#d50000\">line " + std::to_string(error->line) + ": " +
            Escape(error->message) + "</text>\n";
  }
  tail += "</svg>\n";
  m_Out.Write(tail);
}

}  // namespace cutcomp::cli
