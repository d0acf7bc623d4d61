// SPDX-License-Identifier: MIT
// Fixture reading (with the small expression language for closed-form coordinates), program
// building, read-back of a host run as a tool-centre path, and the SVG drawing of a case.
#include "scenario_fixture.h"

#include "tool_path.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace cutcomp::scenario {
namespace {

using nlohmann::json;

constexpr double kPi = 3.141592653589793;

// Recursive descent over: expr = term {(+|-) term}; term = unary {(*|/) unary};
// unary = [+|-] unary | primary; primary = number | pi | name(expr) | (expr).
class ExpressionParser {
public:
  explicit ExpressionParser(const std::string& text) : m_Text(text) {}

  double Parse() {
    const double value = Expr();
    SkipSpace();
    if (m_Pos != m_Text.size()) {
      Fail("unexpected text");
    }
    return value;
  }

private:
  [[noreturn]] void Fail(const std::string& why) const {
    throw std::runtime_error("expression \"" + m_Text + "\": " + why + " at " +
                             std::to_string(m_Pos));
  }
  void SkipSpace() {
    while (m_Pos < m_Text.size() && std::isspace(static_cast<unsigned char>(m_Text[m_Pos]))) {
      ++m_Pos;
    }
  }
  bool Accept(char c) {
    SkipSpace();
    if (m_Pos < m_Text.size() && m_Text[m_Pos] == c) {
      ++m_Pos;
      return true;
    }
    return false;
  }
  double Expr() {
    double value = Term();
    for (;;) {
      if (Accept('+')) {
        value += Term();
      } else if (Accept('-')) {
        value -= Term();
      } else {
        return value;
      }
    }
  }
  double Term() {
    double value = Unary();
    for (;;) {
      if (Accept('*')) {
        value *= Unary();
      } else if (Accept('/')) {
        value /= Unary();
      } else {
        return value;
      }
    }
  }
  double Unary() {
    if (Accept('-')) {
      return -Unary();
    }
    if (Accept('+')) {
      return Unary();
    }
    return Primary();
  }
  double Primary() {
    SkipSpace();
    if (Accept('(')) {
      const double value = Expr();
      if (!Accept(')')) {
        Fail("missing )");
      }
      return value;
    }
    if (m_Pos < m_Text.size() && std::isalpha(static_cast<unsigned char>(m_Text[m_Pos]))) {
      std::string name;
      while (m_Pos < m_Text.size() && std::isalpha(static_cast<unsigned char>(m_Text[m_Pos]))) {
        name += m_Text[m_Pos++];
      }
      if (name == "pi") {
        return kPi;
      }
      if (!Accept('(')) {
        Fail("unknown name " + name);
      }
      const double arg = Expr();
      if (!Accept(')')) {
        Fail("missing )");
      }
      if (name == "sqrt")
        return std::sqrt(arg);
      if (name == "sin")
        return std::sin(arg);
      if (name == "cos")
        return std::cos(arg);
      if (name == "tan")
        return std::tan(arg);
      if (name == "asin")
        return std::asin(arg);
      if (name == "acos")
        return std::acos(arg);
      if (name == "atan")
        return std::atan(arg);
      Fail("unknown function " + name);
    }
    const char* begin = m_Text.c_str() + m_Pos;
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    if (end == begin) {
      Fail("number expected");
    }
    m_Pos += static_cast<std::size_t>(end - begin);
    return value;
  }

  const std::string& m_Text;
  std::size_t m_Pos = 0;
};

Point EvalPoint(const json& value) {
  if (!value.is_array() || value.size() != 2) {
    throw std::runtime_error("point expected as [x, y], got " + value.dump());
  }
  return Point(EvalNumber(value[0]), EvalNumber(value[1]));
}

crc::crc_status_t ParsePhase(const json& value) {
  const std::string text = value.get<std::string>();
  if (text == "S")
    return crc::CRC_STATUS_ESTABLISH;
  if (text == "D")
    return crc::CRC_STATUS_DOING;
  if (text == "R")
    return crc::CRC_STATUS_RETRACT;
  throw std::runtime_error("phase must be S, D or R, got " + text);
}

crc::crc_dir_t ParseSide(const json& value) {
  const std::string text = value.get<std::string>();
  if (text == "L")
    return crc::CRC_DIR_LEFT;
  if (text == "R")
    return crc::CRC_DIR_RIGHT;
  if (text == "none")
    return crc::CRC_DIR_NONE;
  throw std::runtime_error("side must be L, R or none, got " + text);
}

bool ParseSense(const json& value) {
  const std::string text = value.get<std::string>();
  if (text == "ccw")
    return true;
  if (text == "cw")
    return false;
  throw std::runtime_error("sense must be ccw or cw, got " + text);
}

SegmentSpec ParseSegment(const json& item) {
  SegmentSpec segment;
  if (item.contains("line")) {
    const json& ends = item.at("line");
    segment.from = EvalPoint(ends.at(0));
    segment.to = EvalPoint(ends.at(1));
    segment.locate = item.value("locate", false);
  } else if (item.contains("arc")) {
    const json& arc = item.at("arc");
    segment.arc = true;
    segment.centre = EvalPoint(arc.at("centre"));
    segment.ccw = ParseSense(arc.at("sense"));
    if (arc.contains("sweep")) {
      segment.byAngles = true;
      segment.radius = EvalNumber(arc.at("radius"));
      segment.startAngle = EvalNumber(arc.at("startAngle"));
      segment.sweep = EvalNumber(arc.at("sweep"));
    } else {
      segment.from = EvalPoint(arc.at("from"));
      segment.to = EvalPoint(arc.at("to"));
      segment.radius = (segment.from - segment.centre).GetLength();
    }
  } else {
    throw std::runtime_error("segment needs \"line\" or \"arc\": " + item.dump());
  }
  segment.phase = ParsePhase(item.at("phase"));
  segment.side = ParseSide(item.at("side"));
  return segment;
}

PathPiece ParsePiece(const json& item) {
  PathPiece piece;
  if (item.value("dropped", false)) {
    piece.dropped = true;
    return piece;
  }
  const json* ends = nullptr;
  if (item.contains("line")) {
    ends = &item.at("line");
  } else if (item.contains("arc")) {
    piece.arc = true;
    ends = &item.at("arc");
    if (item.contains("centre"))
      piece.centre = EvalPoint(item.at("centre"));
    if (item.contains("radius"))
      piece.radius = EvalNumber(item.at("radius"));
    if (item.contains("sense"))
      piece.ccw = ParseSense(item.at("sense"));
  } else {
    throw std::runtime_error("path piece needs \"line\", \"arc\" or \"dropped\": " + item.dump());
  }
  piece.from = EvalPoint(ends->at(0));
  piece.to = EvalPoint(ends->at(1));
  piece.inserted = item.value("inserted", false);
  if (item.contains("phase")) {
    piece.phase = ParsePhase(item.at("phase"));
  }
  if (item.contains("side")) {
    piece.side = ParseSide(item.at("side"));
  }
  return piece;
}

NoticeSpec ParseNotice(const json& item) {
  NoticeSpec notice;
  if (item.is_object()) {
    notice.kind = HostNotice::SET_END_POINT;
    notice.point = EvalPoint(item.at("end"));
    return notice;
  }
  std::istringstream words(item.get<std::string>());
  std::string word;
  words >> word;
  if (word == "finish") {
    notice.kind = HostNotice::FINISH;
  } else if (word == "before" || word == "after") {
    notice.kind = word == "before" ? HostNotice::INSERT_BEFORE : HostNotice::INSERT_AFTER;
    if (!(words >> notice.anchor)) {
      throw std::runtime_error("notice needs an anchor index: " + item.dump());
    }
  } else {
    throw std::runtime_error("unknown notice " + item.dump());
  }
  return notice;
}

bool IsUnset(const Point& p) { return p.x == crc::INVALID_VALUE && p.y == crc::INVALID_VALUE; }

std::string Format(const Point& p) {
  if (IsUnset(p))
    return "(unset)";
  std::ostringstream text;
  text << std::setprecision(12) << "(" << p.x << ", " << p.y << ")";
  return text.str();
}

// Polar angle of p about c in [0, 2 pi).
double AngleAbout(const Point& c, const Point& p) {
  double a = std::atan2(p.y - c.y, p.x - c.x);
  return a < 0 ? a + 2 * kPi : a;
}

struct Box {
  double minX = std::numeric_limits<double>::infinity();
  double minY = std::numeric_limits<double>::infinity();
  double maxX = -std::numeric_limits<double>::infinity();
  double maxY = -std::numeric_limits<double>::infinity();
  void Add(const Point& p) {
    if (IsUnset(p) || !std::isfinite(p.x) || !std::isfinite(p.y))
      return;
    minX = std::min(minX, p.x);
    minY = std::min(minY, p.y);
    maxX = std::max(maxX, p.x);
    maxY = std::max(maxY, p.y);
  }
};

// An SVG path element for a line or an arc in model coordinates (the drawing flips y once for
// the whole group, so a counterclockwise arc keeps sweep-flag 1).
std::string PathElement(bool arc, const Point& from, const Point& to, const Point& centre, bool ccw,
                        const std::string& style) {
  if (IsUnset(from) || IsUnset(to))
    return "";
  std::ostringstream out;
  out << std::setprecision(10) << "<path style=\"" << style << "\" d=\"M " << from.x << " "
      << from.y;
  if (!arc) {
    out << " L " << to.x << " " << to.y;
  } else {
    const double r = (from - centre).GetLength();
    double sweep = AngleAbout(centre, to) - AngleAbout(centre, from);
    if (!ccw)
      sweep = -sweep;
    if (sweep < 0)
      sweep += 2 * kPi;
    if (sweep < 1e-9) {
      // A full circle: two half circles through the opposite point.
      const Point opposite = centre + (centre - from);
      out << " A " << r << " " << r << " 0 0 " << (ccw ? 1 : 0) << " " << opposite.x << " "
          << opposite.y << " A " << r << " " << r << " 0 0 " << (ccw ? 1 : 0) << " " << to.x << " "
          << to.y;
    } else {
      out << " A " << r << " " << r << " 0 " << (sweep > kPi ? 1 : 0) << " " << (ccw ? 1 : 0) << " "
          << to.x << " " << to.y;
    }
  }
  out << "\"/>\n";
  return out.str();
}

}  // namespace

double EvalExpression(const std::string& text) { return ExpressionParser(text).Parse(); }

double EvalNumber(const json& value) {
  if (value.is_number())
    return value.get<double>();
  if (value.is_string())
    return EvalExpression(value.get<std::string>());
  throw std::runtime_error("number or expression expected, got " + value.dump());
}

Scenario ParseScenario(const json& document, const std::string& name) {
  Scenario scenario;
  scenario.name = name;
  scenario.comment = document.value("comment", "");
  const json& settings = document.at("settings");
  scenario.radius = EvalNumber(settings.at("radius"));
  const std::string strategy = settings.value("strategy", "normal");
  if (strategy == "normal") {
    scenario.strategy = crc::CRC_TYPE_NORMAL;
  } else if (strategy == "intersect") {
    scenario.strategy = crc::CRC_TYPE_INTERSECT;
  } else if (strategy == "insert") {
    scenario.strategy = crc::CRC_TYPE_INSERT;
  } else {
    throw std::runtime_error("strategy must be normal, intersect or insert, got " + strategy);
  }
  scenario.lookBehind = settings.value("lookBehind", 3U);
  scenario.evade = settings.value("evade", false);
  scenario.preRetract = settings.value("preRetract", 0);
  if (settings.contains("tolerance"))
    scenario.tolerance = EvalNumber(settings.at("tolerance"));

  for (const json& item : document.at("segments")) {
    scenario.segments.push_back(ParseSegment(item));
  }

  const json& expect = document.at("expect");
  if (expect.contains("failure")) {
    const json& failure = expect.at("failure");
    scenario.expectFailure = true;
    scenario.failureMessage = failure.at("message").get<int>();
    scenario.failureSegment = failure.at("segment").get<std::int64_t>();
    scenario.failureInserted = failure.value("inserted", false);
  }
  if (expect.contains("path")) {
    scenario.hasPath = true;
    for (const json& item : expect.at("path")) {
      scenario.path.push_back(ParsePiece(item));
    }
  }
  if (expect.contains("notices")) {
    scenario.hasNotices = true;
    for (const json& item : expect.at("notices")) {
      scenario.notices.push_back(ParseNotice(item));
    }
  }
  if (!scenario.expectFailure && (!scenario.hasPath || !scenario.hasNotices)) {
    throw std::runtime_error("a passing case needs both \"path\" and \"notices\"");
  }
  return scenario;
}

Scenario LoadScenario(const std::string& path) {
  std::ifstream in(path);
  if (!in)
    throw std::runtime_error("cannot open " + path);
  json document = json::parse(in, nullptr, true, /*ignore_comments=*/true);
  std::string name = path.substr(path.find_last_of('/') + 1);
  name = name.substr(0, name.find_last_of('.'));
  return ParseScenario(document, name);
}

std::vector<std::unique_ptr<crc::CCrcNode>> BuildProgram(const Scenario& scenario) {
  std::vector<std::unique_ptr<crc::CCrcNode>> program;
  for (const SegmentSpec& segment : scenario.segments) {
    if (!segment.arc) {
      program.push_back(std::make_unique<crc::CCrcLine>(segment.from, segment.to, segment.phase,
                                                        segment.side, segment.locate));
    } else if (segment.byAngles) {
      program.push_back(std::make_unique<crc::CCrcArc>(segment.centre, segment.startAngle,
                                                       segment.sweep, segment.radius, segment.ccw,
                                                       segment.phase, segment.side));
    } else {
      program.push_back(std::make_unique<crc::CCrcArc>(segment.centre, segment.from, segment.to,
                                                       segment.radius, segment.ccw, segment.phase,
                                                       segment.side));
    }
  }
  return program;
}

crc::CCutterCompensator BuildEngine(const Scenario& scenario) {
  crc::CCutterCompensator engine(scenario.radius, nullptr, scenario.lookBehind, scenario.strategy);
  engine.SetInterveneEvade(scenario.evade);
  engine.SetCrcPreRetractOption(scenario.preRetract);
  return engine;
}

PathPiece ReadPiece(const HostSegment& segment) {
  PathPiece piece;
  crc::CCrcNode* node = segment.node.get();
  piece.id = segment.id;
  piece.inserted = segment.inserted;
  piece.phase = node->GetStatusType();
  piece.side = node->GetCrcDirType();
  const cutcomp::PathPiece read = cutcomp::ReadPiece(segment);
  const cutcomp::Curve& tool = read.tool;
  piece.dropped = read.dropped;
  if (read.dropped) {
    return piece;
  }
  piece.from = tool.from;
  piece.to = tool.to;
  if (tool.arc) {
    piece.arc = true;
    piece.centre = tool.centre;
    piece.radius = tool.radius;
    piece.ccw = tool.ccw;
  }
  return piece;
}

std::vector<PathPiece> ReadPath(const std::vector<HostSegment>& segments) {
  std::vector<PathPiece> path;
  for (const HostSegment& segment : segments)
    path.push_back(scenario::ReadPiece(segment));
  return path;
}

std::vector<std::size_t> FindBreaks(const std::vector<PathPiece>& path, double tolerance) {
  std::vector<std::size_t> breaks;
  const PathPiece* last = nullptr;
  std::size_t lastIndex = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i].dropped)
      continue;
    if (last != nullptr) {
      const Point gap = path[i].from - last->to;
      if (IsUnset(last->to) || IsUnset(path[i].from) || !(gap.GetLength() <= tolerance)) {
        breaks.push_back(lastIndex);
      }
    }
    last = &path[i];
    lastIndex = i;
  }
  return breaks;
}

std::string Describe(const PathPiece& piece) {
  if (piece.dropped)
    return "dropped";
  std::string text =
      (piece.arc ? "arc " : "line ") + Format(piece.from) + " -> " + Format(piece.to);
  if (piece.centre)
    text += " centre " + Format(*piece.centre);
  if (piece.radius) {
    std::ostringstream r;
    r << std::setprecision(12) << *piece.radius;
    text += " radius " + r.str();
  }
  if (piece.inserted)
    text += " (inserted)";
  return text;
}

std::string DrawSvg(const Scenario& scenario, const std::vector<PathPiece>& actual) {
  Box box;
  for (const SegmentSpec& s : scenario.segments) {
    if (s.arc) {
      box.Add(s.centre + Point(s.radius, s.radius));
      box.Add(s.centre - Point(s.radius, s.radius));
    } else {
      box.Add(s.from);
      box.Add(s.to);
    }
  }
  for (const auto* path : {&scenario.path, &actual}) {
    for (const PathPiece& p : *path) {
      box.Add(p.from);
      box.Add(p.to);
    }
  }
  if (!std::isfinite(box.minX))
    box = Box{0, 0, 1, 1};
  const double margin = 0.05 * std::max({box.maxX - box.minX, box.maxY - box.minY, 1.0});
  const double width = box.maxX - box.minX + 2 * margin;
  const double height = box.maxY - box.minY + 2 * margin;
  const double stroke = std::max(width, height) / 400.0;

  std::ostringstream svg;
  svg << std::setprecision(10)
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"800\" height=\""
      << static_cast<int>(800.0 * height / width) << "\" viewBox=\"" << box.minX - margin << " "
      << -(box.maxY + margin) << " " << width << " " << height << "\">\n"
      << "<title>" << scenario.name << "</title>\n"
      << "<g transform=\"scale(1,-1)\" fill=\"none\">\n";
  const std::string grey = "stroke:#999;stroke-width:" + std::to_string(stroke);
  for (const SegmentSpec& s : scenario.segments) {
    Point from = s.from;
    Point to = s.to;
    if (s.byAngles) {
      from = s.centre + Point(std::cos(s.startAngle), std::sin(s.startAngle)) * s.radius;
      const double end = s.startAngle + (s.ccw ? s.sweep : -s.sweep);
      to = s.centre + Point(std::cos(end), std::sin(end)) * s.radius;
    }
    svg << PathElement(s.arc, from, to, s.centre, s.ccw, grey);
  }
  auto draw = [&](const std::vector<PathPiece>& path, const std::string& style) {
    for (const PathPiece& p : path) {
      if (p.dropped)
        continue;
      const Point centre = p.centre ? *p.centre : Point();
      svg << PathElement(p.arc && p.centre.has_value(), p.from, p.to, centre, p.ccw.value_or(true),
                         style);
    }
  };
  draw(scenario.path, "stroke:#2a2;stroke-dasharray:" + std::to_string(4 * stroke) +
                          ";stroke-width:" + std::to_string(2 * stroke));
  draw(actual, "stroke:#22c;stroke-width:" + std::to_string(stroke));
  svg << "</g>\n</svg>\n";
  return svg.str();
}

}  // namespace cutcomp::scenario
