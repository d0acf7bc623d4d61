// SPDX-License-Identifier: MIT
// Splitting the raw path where it crosses the edge of a wall's reach, measuring the parts, and
// joining those that stay (see trim.h).
#include "avoid/trim.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <utility>

#include "audit/clearance.h"
#include "audit/walls.h"
#include "avoid/box_grid.h"

namespace crc::avoid {
namespace {

using audit::MakeTrack;
using audit::PointAt;
using audit::Track;
using Point = __point2<double>;

// Two places along a piece closer than this fraction of the coordinates' size are one place: no
// part is made between them. Far below any tolerance a host sets, far above the rounding of a
// crossing computed in closed form.
constexpr double SAME_PLACE = 1e-12;

// Heuristic: where the path leaves the region the tool may occupy, a later part that begins
// within this fraction of the tolerance of that point resumes it; the end of the part before is
// moved onto it. Both were computed as the crossing of the same two edges (one radius from two
// walls) from either side, which agree to the rounding of a square root near a tangency, about
// 1e-8 of the radius; a sixty-fourth of the tolerance (0.08 um at the default 0.005 mm) leaves
// that room and moves no end by more than the audit can see.
constexpr double RESUME = 1.0 / 64.0;

// Straight lines tried over a place where the path cannot resume where it left, to the first
// later valid parts, before the run is refused.
constexpr std::size_t LINE_TRIES = 256;

double Scale(const Curve& c) {
  double scale = std::max(
      {std::fabs(c.from.x), std::fabs(c.from.y), std::fabs(c.to.x), std::fabs(c.to.y), 1.0});
  if (c.arc) {
    scale = std::max({scale, std::fabs(c.centre.x), std::fabs(c.centre.y)});
  }
  return scale;
}

Curve CurveOf(const Track& t) {
  Curve c;
  c.arc = t.arc;
  c.from = t.from;
  c.to = t.to;
  c.centre = t.centre;
  c.ccw = t.ccw;
  c.fullCircle = t.full;
  return c;
}

Point Left(const Point& v) { return {-v.y, v.x}; }

// The valid parts in a grid, to find the first later one that passes through the point where the
// path left the region the tool may occupy.
class PartGrid {
public:
  PartGrid(const std::vector<Part>& parts, double reach) : m_Parts(parts), m_Reach(reach) {
    m_Tracks.resize(parts.size());
    for (std::size_t j = 0; j < parts.size(); ++j) {
      if (parts[j].valid && MakeTrack(parts[j].tool, m_Tracks[j])) {
        m_Grid.Add(j, BoxOf(parts[j].tool));
      }
    }
    m_Grid.Build();
  }

  // The first valid part after `after` that passes within the reach of p, and where along it
  // (its position); NONE when there is none.
  std::pair<std::size_t, double> Find(const Point& p, std::size_t after) {
    std::size_t best = NONE;
    double at = 0.0;
    const Box query{p.x - m_Reach, p.y - m_Reach, p.x + m_Reach, p.y + m_Reach};
    m_Grid.Query(query, [&](std::size_t j, const Box& b) {
      if (j <= after || j >= best || b.minX > query.maxX || b.maxX < query.minX ||
          b.minY > query.maxY || b.maxY < query.minY) {
        return;
      }
      // A part that passes through p only at its end leads nowhere from there: the part after
      // it, which begins there, does.
      if (audit::Nearest(p, m_Tracks[j]).distance > m_Reach) {
        return;
      }
      if ((m_Parts[j].tool.from - p).GetLength() <= m_Reach) {
        best = j;
        at = 0.0;
      } else if ((m_Parts[j].tool.to - p).GetLength() > m_Reach) {
        best = j;
        at = audit::PositionOf(m_Tracks[j], p);
      }
    });
    return {best, at};
  }

  const Track& TrackOf(std::size_t j) const { return m_Tracks[j]; }

private:
  const std::vector<Part>& m_Parts;
  double m_Reach;
  std::vector<Track> m_Tracks;
  BoxGrid m_Grid;
};

}  // namespace

Trimmer::Trimmer(const std::vector<ContourSegment>& contour, std::size_t first, std::size_t count,
                 double radius, double tolerance, CGougeAudit& audit)
    : m_Contour(contour),
      m_First(first),
      m_Count(count),
      m_Radius(radius),
      m_Tolerance(tolerance),
      m_Audit(audit) {}

const std::vector<Curve>& Trimmer::Open(std::size_t ordinal) {
  if (!m_OpenKnown) {
    m_OpenKnown = true;
    std::vector<OpenStretch> open;
    m_Audit.GetOpenStretches(
        open);  // out of memory: fewer edges to split at, parts measured all the same
    for (const OpenStretch& stretch : open) {
      m_Open[stretch.segment].push_back(stretch.curve);
    }
  }
  static const std::vector<Curve> none;
  const auto found = m_Open.find(ordinal);
  return found == m_Open.end() ? none : found->second;
}

bool Trimmer::Measure(const Curve& tool, std::size_t segment, std::vector<Gouge>& gouges,
                      std::string& error) {
  ToolPiece piece;
  piece.tool = tool;
  piece.radius = m_Radius;
  piece.id = Segment(segment).id;
  piece.low = Segment(segment).low;
  gouges.clear();
  if (!m_Audit.AuditPiece(piece, nullptr, &gouges)) {
    error = m_Audit.GetLatestError();
    return false;
  }
  return true;
}

bool Trimmer::Clear(const Curve& tool, std::size_t segment, bool& clear, std::string& error) {
  if (!Measure(tool, segment, m_Gouges, error)) {
    return false;
  }
  clear = m_Gouges.empty();
  return true;
}

// Where the piece crosses the edge of the reach of the wall it gouges: the lines one radius
// either side of a straight wall, the circles one radius beyond and within an arc, and the
// circles of one radius about the wall's ends and about the ends of its stretches that are no
// walls. Crossings with whole lines and circles: a place too many only splits a part in two
// that is measured the same.
void Trimmer::CutPositions(const Curve& tool, const Gouge& gouge,
                           std::vector<std::pair<double, std::size_t>>& out) {
  Track t;
  if (!MakeTrack(tool, t)) {
    return;
  }
  const ContourSegment& wall = m_Contour[gouge.segment];
  const Curve& w = wall.curve;
  std::vector<double> at;
  const auto tag = [&](std::size_t corner) {
    for (const double s : at) {
      out.emplace_back(s, corner);
    }
    at.clear();
  };
  if (!w.arc) {
    const Point d = w.to - w.from;
    const double length = d.GetLength();
    if (length > 0.0) {
      const Point n = Left(d) * (m_Radius / length);
      audit::MeetLine(t, w.from + n, d, at);
      audit::MeetLine(t, w.from - n, d, at);
    }
  } else {
    const double rw = (w.from - w.centre).GetLength();
    audit::MeetCircle(t, w.centre, rw + m_Radius, at);
    audit::MeetCircle(t, w.centre, std::fabs(rw - m_Radius), at);
  }
  tag(NONE);
  // The corner at an end of a wall of this run, between two segments in progress.
  const bool inRun = gouge.segment >= m_First && gouge.segment < m_First + m_Count;
  const std::size_t k = gouge.segment - m_First;
  const auto doing = [&](std::size_t j) { return Segment(j).phase == CRC_STATUS_DOING; };
  audit::MeetCircle(t, w.from, m_Radius, at);
  tag(inRun && k >= 1 && doing(k - 1) && doing(k) ? k - 1 : NONE);
  audit::MeetCircle(t, w.to, m_Radius, at);
  tag(inRun && k + 1 < m_Count && doing(k) && doing(k + 1) ? k : NONE);
  for (const Curve& open : Open(gouge.segment)) {
    audit::MeetCircle(t, open.from, m_Radius, at);
    audit::MeetCircle(t, open.to, m_Radius, at);
  }
  tag(NONE);
}

bool Trimmer::Split(const std::vector<RunPiece>& raw, std::vector<Part>& parts,
                    std::string& error) {
  parts.clear();
  std::vector<Gouge> gouges;
  std::vector<std::pair<double, std::size_t>> cuts;
  for (std::size_t q = 0; q < raw.size(); ++q) {
    const RunPiece& piece = raw[q];
    // A piece measured in an earlier pass (the passes change only a few corners) is split the
    // same way again.
    std::string key(sizeof(Curve) + sizeof(std::size_t) + 1, '\0');
    std::memcpy(&key[0], &piece.tool, sizeof(Curve));
    std::memcpy(&key[sizeof(Curve)], &piece.segment, sizeof(std::size_t));
    key.back() = piece.reversed ? '\1' : '\0';
    const auto known = m_Known.find(key);
    if (known != m_Known.end()) {
      for (Part part : known->second) {
        part.raw = q;
        parts.push_back(part);
      }
      continue;
    }
    const std::size_t before = parts.size();
    if (!SplitPiece(piece, q, parts, gouges, cuts, error)) {
      return false;
    }
    m_Known.emplace(
        std::move(key),
        std::vector<Part>(parts.begin() + static_cast<std::ptrdiff_t>(before), parts.end()));
  }
  return true;
}

bool Trimmer::SplitPiece(const RunPiece& piece, std::size_t q, std::vector<Part>& parts,
                         std::vector<Gouge>& gouges,
                         std::vector<std::pair<double, std::size_t>>& cuts, std::string& error) {
  Part whole;
  whole.tool = piece.tool;
  whole.raw = q;
  whole.first = whole.last = true;
  if (piece.reversed) {
    // An offset running against its wall follows nothing of it: the path there is decided by
    // the edge of the region the tool may occupy (fixture: avoid/zigzag_teeth_too_sharp).
    parts.push_back(whole);
    return true;
  }
  if (!Measure(piece.tool, piece.segment, gouges, error)) {
    return false;
  }
  if (gouges.empty()) {
    whole.valid = true;
    parts.push_back(whole);
    return true;
  }
  cuts.clear();
  for (const Gouge& gouge : gouges) {
    CutPositions(piece.tool, gouge, cuts);
  }
  Track t;
  if (!MakeTrack(piece.tool, t)) {
    error = "a piece of the path cannot be read";
    return false;
  }
  std::sort(cuts.begin(), cuts.end());
  // The places along the piece, its ends included; places at one point are one.
  const double same = SAME_PLACE * Scale(piece.tool);
  std::vector<std::pair<double, std::size_t>> places{{0.0, NONE}};
  for (const auto& cut : cuts) {
    if (!(cut.first > 0.0 && cut.first < 1.0)) {
      continue;
    }
    if ((PointAt(t, cut.first) - PointAt(t, places.back().first)).GetLength() <= same) {
      places.back().second = places.back().second == NONE ? cut.second : places.back().second;
      continue;
    }
    places.push_back(cut);
  }
  if (places.size() > 1 &&
      (PointAt(t, 1.0) - PointAt(t, places.back().first)).GetLength() <= same) {
    places.back().first = 1.0;
  } else {
    places.emplace_back(1.0, NONE);
  }
  if (places.size() == 2) {  // no crossing inside: the piece as it is, and it gouges
    parts.push_back(whole);
    return true;
  }
  for (std::size_t m = 0; m + 1 < places.size(); ++m) {
    Part part;
    part.tool = CurveOf(audit::Stretch(t, places[m].first, places[m + 1].first));
    part.raw = q;
    part.first = m == 0;
    part.last = m + 2 == places.size();
    part.cornerAtStart = places[m].second;
    part.cornerAtEnd = places[m + 1].second;
    if (part.first) {
      part.tool.from = piece.tool.from;
    }
    if (part.last) {
      part.tool.to = piece.tool.to;
    }
    bool clear = false;
    if (!Clear(part.tool, piece.segment, clear, error)) {
      return false;
    }
    part.valid = clear;
    parts.push_back(part);
  }
  return true;
}

void Trimmer::Corners(const Point& p, const Point& q, double reach, std::vector<Curve>& out) const {
  const auto around = [&](const Point& v) {
    if (std::fabs((p - v).GetLength() - m_Radius) > reach ||
        std::fabs((q - v).GetLength() - m_Radius) > reach) {
      return;
    }
    Curve arc;
    arc.arc = true;
    arc.from = p;
    arc.to = q;
    arc.centre = v;
    // The shorter way round first.
    arc.ccw = audit::Cross(p - v, q - v) >= 0.0;
    out.push_back(arc);
    arc.ccw = !arc.ccw;
    out.push_back(arc);
  };
  for (std::size_t k = 0; k < m_Count; ++k) {
    if (CGougeAudit::IsWall(Segment(k))) {
      around(Segment(k).curve.from);
      around(Segment(k).curve.to);
    }
  }
}

void Trimmer::Tangents(const Point& p, const Point& q, double reach,
                       std::vector<std::pair<Curve, Curve>>& out) const {
  const auto around = [&](const Point& v) {
    const double dp = (p - v).GetLength();
    const double dq = (q - v).GetLength();
    const bool arcLast = std::fabs(dq - m_Radius) <= reach && dp > m_Radius + reach;
    const bool arcFirst = std::fabs(dp - m_Radius) <= reach && dq > m_Radius + reach;
    if (!arcLast && !arcFirst) {
      return;
    }
    // The far end sees the circle under the angle whose cosine is radius / distance; the two
    // tangent points lie that far either way round from the direction to it.
    const Point far = arcLast ? p : q;
    const double d = arcLast ? dp : dq;
    const Point u = (far - v) * (1.0 / d);
    const double c = m_Radius / d;
    const double s = std::sqrt(std::max(0.0, 1.0 - c * c));
    for (const double sense : {1.0, -1.0}) {
      const Point w(c * u.x - sense * s * u.y, sense * s * u.x + c * u.y);
      const Point t = v + w * m_Radius;
      Curve line;
      line.from = arcLast ? p : t;
      line.to = arcLast ? t : q;
      Curve arc;
      arc.arc = true;
      arc.centre = v;
      arc.from = arcLast ? t : p;
      arc.to = arcLast ? q : t;
      // The arc turns the way the line runs at the tangent point: the path stays smooth there.
      const Point along = line.to - line.from;
      arc.ccw = audit::Cross(w, along) >= 0.0;
      out.emplace_back(arcLast ? line : arc, arcLast ? arc : line);
    }
  };
  for (std::size_t k = 0; k < m_Count; ++k) {
    if (CGougeAudit::IsWall(Segment(k))) {
      around(Segment(k).curve.from);
      around(Segment(k).curve.to);
    }
  }
}

bool Trimmer::Join(const std::vector<RunPiece>& raw, const std::vector<Part>& parts, bool lines,
                   Chain& chain, std::string& error) {
  chain = Chain();
  if (parts.empty()) {
    error = "the run has no tool path";
    return false;
  }
  const auto idOf = [&](std::size_t part) {
    return std::to_string(Segment(raw[parts[part].raw].segment).id);
  };
  // The tool stands where the run begins and ends, whatever the path does in between.
  if (!parts.front().valid) {
    error = "block " + idOf(0) +
            ": the run starts within the cutter radius of a wall; no path from there avoids it";
    return false;
  }
  if (!parts.back().valid) {
    error = "block " + idOf(parts.size() - 1) +
            ": the run ends within the cutter radius of a wall; no path to there avoids it";
    return false;
  }
  const double reach = RESUME * m_Tolerance;
  PartGrid later(parts, reach);
  bool fromStart = false;  // the last kept piece begins where its raw piece begins
  const auto append = [&](const Part& part, bool afterGap) {
    Kept* last = chain.kept.empty() ? nullptr : &chain.kept.back();
    if (!afterGap && last != nullptr && last->raw == part.raw) {
      last->tool.to = part.tool.to;  // the next part of the same piece: one piece again
    } else {
      chain.kept.push_back({part.tool, part.raw, false});
      fromStart = part.first;
      last = &chain.kept.back();
    }
    // A piece kept from end to end is the raw piece itself, bit for bit.
    last->whole = fromStart && part.last;
    if (last->whole) {
      last->tool = raw[part.raw].tool;
    }
  };
  std::size_t i = 0;
  while (i < parts.size()) {
    if (parts[i].valid) {
      append(parts[i], false);
      ++i;
      continue;
    }
    Kept& exit = chain.kept.back();
    const Point p = exit.tool.to;
    std::size_t next = i + 1;
    while (!parts[next].valid) {
      ++next;  // the last part is valid
    }
    // A way from p to where part j begins: a straight line, or an arc round a corner of the
    // walls on whose circle both ends lie (the tool going round the first point of the wall a
    // start-up move leads onto, round the last one of the wall a cancel move leaves). Taken when
    // the audit passes it.
    bool crossed = false;
    const auto cross = [&](std::size_t j) {
      std::vector<Curve> ways;
      Curve line;
      line.from = p;
      line.to = parts[j].tool.from;
      ways.push_back(line);
      Corners(p, line.to, reach, ways);
      for (const Curve& way : ways) {
        bool clear = false;
        if (!Clear(way, raw[parts[j].raw].segment, clear, error)) {
          return false;
        }
        if (clear) {
          const std::size_t before = chain.kept.size() - 1;
          chain.kept.push_back({way, NONE, false});
          chain.gaps.push_back({i, j, before, chain.kept.size()});
          append(parts[j], true);
          i = j + 1;
          crossed = true;
          return true;
        }
      }
      // A line onto the circle about a corner and round it (or round it and off): the tool
      // leaving a trimmed offset short of the corner and going round the corner onto the next
      // wall's offset (bench: an outline whose positioning line runs on from its last wall).
      std::vector<std::pair<Curve, Curve>> bends;
      Tangents(p, parts[j].tool.from, reach, bends);
      for (const auto& [first, second] : bends) {
        bool clear = false;
        if (!Clear(first, raw[parts[j].raw].segment, clear, error)) {
          return false;
        }
        if (clear && !Clear(second, raw[parts[j].raw].segment, clear, error)) {
          return false;
        }
        if (clear) {
          const std::size_t before = chain.kept.size() - 1;
          chain.kept.push_back({first, NONE, false});
          chain.kept.push_back({second, NONE, false});
          chain.gaps.push_back({i, j, before, chain.kept.size()});
          append(parts[j], true);
          i = j + 1;
          crossed = true;
          return true;
        }
      }
      return true;
    };
    const auto [resume, at] = later.Find(p, i);
    // Where the raw path comes back through p only after parts the cutter could follow, the way
    // to the next of them comes first: a closed contour whose start-up lands where the last
    // segment's reach begins would otherwise resume at its end, the whole contour left out
    // (bench: the CAM programs whose first offset start lies just inside the last chord's reach).
    if (resume != NONE && resume > next) {
      if (!cross(next)) {
        return false;
      }
      if (crossed) {
        continue;
      }
    }
    if (resume != NONE) {
      // The raw path comes back through the point where it left: what lies between is a loop
      // the cutter does not fit (fixture: avoid/notch_narrower_than_cutter). It resumes there,
      // mostly where a later part begins (the two crossed each other's edge at that point), or
      // inside a later part that runs through it (fixture: avoid/self_crossing_outline).
      Part from = parts[resume];
      if (at > 0.0) {
        from.tool = CurveOf(audit::Stretch(later.TrackOf(resume), at, 1.0));
        from.tool.to = parts[resume].tool.to;
        from.first = false;
      }
      if (!(from.tool.from == p)) {  // exact: any move of the end
        exit.tool.to = from.tool.from;
        exit.whole = false;
      }
      chain.gaps.push_back({i, resume, chain.kept.size() - 1, chain.kept.size(), at});
      append(from, true);
      i = resume + 1;
      continue;
    }
    if (!lines) {
      chain.unresolved.push_back({i - 1, next});
      chain.gaps.push_back({i, next, chain.kept.size() - 1, chain.kept.size()});
      append(parts[next], true);
      i = next + 1;
      continue;
    }
    // Nowhere does the raw path come back through p: a way to the first later part it can reach.
    std::size_t tries = 0;
    for (std::size_t j = next; j < parts.size() && tries < LINE_TRIES && !crossed; ++j) {
      if (parts[j].valid) {
        ++tries;
        if (!cross(j)) {
          return false;
        }
      }
    }
    if (!crossed) {
      error = "the cutter cannot pass from block " + idOf(i - 1) + " to block " + idOf(next) +
              " without cutting into a wall";
      return false;
    }
  }
  return true;
}

}  // namespace crc::avoid
