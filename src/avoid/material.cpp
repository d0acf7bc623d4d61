// SPDX-License-Identifier: MIT
// How much material the gouge-free path leaves, place by place (see material.h).
#include "avoid/material.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

#include "audit/clearance.h"
#include "audit/walls.h"
#include "avoid/box_grid.h"

namespace crc::avoid {
namespace {

using audit::MakeTrack;
using audit::Nearest;
using audit::PointAt;
using audit::PositionOf;
using audit::Track;
using Point = __point2<double>;

constexpr double PI = 3.14159265358979323846;
// Samples along one wall stretch at most: the step is the tolerance, or the stretch over this.
constexpr std::size_t MAX_SAMPLES = 4096;
// Golden-section steps about the largest sample: the bracket shrinks to 0.618^60 (1e-13) of two
// steps.
constexpr int REFINE_STEPS = 60;

double Sweep(const Track& t) {
  if (!t.arc) {
    return 0.0;
  }
  if (t.full) {
    return 2.0 * PI;
  }
  const Point a = t.from - t.centre;
  const Point b = t.to - t.centre;
  double turn = std::atan2(audit::Cross(a, b), audit::Dot(a, b));
  turn = t.ccw ? turn : -turn;
  return turn < 0.0 ? turn + 2.0 * PI : turn;
}

double LengthOf(const Track& t) {
  return t.arc ? t.radius * Sweep(t) : (t.to - t.from).GetLength();
}

// The finished path, in a grid, for the distance from a wall point to the nearest point the
// cutter's centre reaches.
class PathIndex {
public:
  explicit PathIndex(const std::vector<Kept>& kept) {
    for (const Kept& k : kept) {
      Track t;
      if (MakeTrack(k.tool, t)) {
        m_Grid.Add(m_Tracks.size(), BoxOf(k.tool));
        m_Tracks.push_back(t);
      }
    }
    m_Grid.Build();
  }

  // The distance from p to the path, or `bound` when the path lies farther (the caller knows a
  // point of the path within `bound`).
  double Distance(const Point& p, double bound) {
    double best = bound;
    m_Grid.Query({p.x - bound, p.y - bound, p.x + bound, p.y + bound},
                 [&](std::size_t i, const Box& b) {
                   const double dx = std::max({b.minX - p.x, p.x - b.maxX, 0.0});
                   const double dy = std::max({b.minY - p.y, p.y - b.maxY, 0.0});
                   if (dx * dx + dy * dy < best * best) {
                     best = std::min(best, Nearest(p, m_Tracks[i]).distance);
                   }
                 });
    return best;
  }

private:
  std::vector<Track> m_Tracks;
  BoxGrid m_Grid;
};

// A stretch of a wall as a curve, for the report of what is left out.
Curve CurveOfTrack(const Track& t) {
  Curve c;
  c.arc = t.arc;
  c.from = t.from;
  c.to = t.to;
  c.centre = t.centre;
  c.ccw = t.ccw;
  return c;
}

// What a stretch of wall keeps: thickness at a position, sampled and refined.
struct Profile {
  double depth = -HUGE_VAL;
  double at = 0.0;
  double extent = 0.0;
};

// The thickness along a stretch of wall `length` long, positions s0 to s1: its largest value and
// where, and the length over which it exceeds the tolerance, added into `profile`. A distance
// moves no faster than its point, so between two positions h apart the thickness lies within
// (fa + fb -+ h) / 2: an interval is split only while that leaves the largest value in doubt by
// more than half the tolerance, or the tolerance crossed inside it; the leaves are at most the
// tolerance long (and no shorter than the stretch over MAX_SAMPLES), and the largest sample is
// refined by golden sections within a leaf on either side.
template <typename Thickness>
void Measure(const Thickness& thickness, double s0, double s1, double length, double r,
             double tolerance, Profile& profile) {
  struct Leaf {
    double a, b, fa, fb;
  };
  const double finest = std::max(tolerance, length / static_cast<double>(MAX_SAMPLES));
  double best = -HUGE_VAL;
  double bestAt = s0;
  double bestStep = 0.0;
  const auto sample = [&](double s, double near, double step) {
    const double f = thickness(s, near);
    if (f > best) {
      best = f;
      bestAt = s;
      bestStep = step;
    }
    return f;
  };
  const double fa = sample(s0, HUGE_VAL, length);
  if (!(length > 0.0)) {  // a corner: one point
    if (best > profile.depth) {
      profile.depth = best;
      profile.at = s0;
    }
    return;
  }
  const double fb = sample(s1, fa + r + length, length);
  std::vector<Leaf> stack{{s0, s1, fa, fb}};
  while (!stack.empty()) {
    const Leaf leaf = stack.back();
    stack.pop_back();
    const double h = length * (leaf.b - leaf.a) / (s1 - s0);
    const double low = 0.5 * (leaf.fa + leaf.fb - h);
    const double high = 0.5 * (leaf.fa + leaf.fb + h);
    const bool splitForTop = high > best + 0.5 * tolerance;
    const bool splitForExtent = low <= tolerance && high > tolerance;
    if (h > finest && (splitForTop || splitForExtent)) {
      const double m = 0.5 * (leaf.a + leaf.b);
      const double fm = sample(m, std::min(leaf.fa, leaf.fb) + r + 0.5 * h, 0.5 * h);
      stack.push_back({leaf.a, m, leaf.fa, fm});
      stack.push_back({m, leaf.b, fm, leaf.fb});
      continue;
    }
    // The length over which more than the tolerance is left, by straight interpolation.
    const double a = leaf.fa - tolerance;
    const double b = leaf.fb - tolerance;
    if (a > 0.0 && b > 0.0) {
      profile.extent += h;
    } else if (a > 0.0 || b > 0.0) {
      profile.extent += h * std::max(a, b) / (std::fabs(a) + std::fabs(b));
    }
  }
  // Golden sections about the largest sample, within its step either side.
  const double ds = (s1 - s0) * bestStep / length;
  double lo = std::max(s0, bestAt - ds);
  double hi = std::min(s1, bestAt + ds);
  const double near = best + r + 2.0 * bestStep;  // the path lies within this of the bracket
  const double golden = 0.5 * (std::sqrt(5.0) - 1.0);
  for (int step = 0; step < REFINE_STEPS && hi > lo; ++step) {
    const double c = hi - golden * (hi - lo);
    const double d = lo + golden * (hi - lo);
    const double fc = sample(c, near, 0.0);
    const double fd = sample(d, near, 0.0);
    (fc > fd ? hi : lo) = fc > fd ? d : c;
  }
  if (best > profile.depth) {
    profile.depth = best;
    profile.at = bestAt;
  }
}

}  // namespace

std::vector<MaterialLeft> MeasureLeft(Trimmer& trimmer, const std::vector<RunPiece>& raw,
                                      const std::vector<Part>& parts, const Chain& chain) {
  std::vector<MaterialLeft> left;
  if (chain.gaps.empty()) {
    return left;
  }
  PathIndex path(chain.kept);
  const double r = trimmer.Radius();
  const double tolerance = trimmer.Tolerance();
  for (const Gap& gap : chain.gaps) {
    // The stretches of wall whose offset the path leaves out: for an offset part, the wall
    // beside it (its ends' feet); for a piece at a corner, the corner itself; for the chord of an
    // arc smaller than the cutter, the whole arc.
    std::map<std::size_t, std::pair<double, double>> stretches;
    const auto add = [&](std::size_t k, double s0, double s1) {
      if (k >= trimmer.Count() || !CGougeAudit::IsWall(trimmer.Segment(k))) {
        return;
      }
      const auto found = stretches.find(k);
      if (found == stretches.end()) {
        stretches[k] = {s0, s1};
      } else {
        found->second = {std::min(found->second.first, s0), std::max(found->second.second, s1)};
      }
    };
    // Segments with a stretch in the gap the cutter could follow but the path cannot reach.
    std::map<std::size_t, bool> unreached;
    const auto leftOut = [&](const Part& part, const Curve& tool) {
      const RunPiece& piece = raw[part.raw];
      if (part.valid && piece.joint == NONE) {
        unreached[piece.segment] = true;
      }
      if (piece.joint != NONE) {
        add(piece.joint, 1.0, 1.0);
        add(piece.joint + 1, 0.0, 0.0);
        return;
      }
      if (piece.inserted) {
        return;  // a closing line: beside no wall of its own
      }
      if (piece.collapsed) {
        add(piece.segment, 0.0, 1.0);
        return;
      }
      Track wall;
      if (!MakeTrack(trimmer.Segment(piece.segment).curve, wall)) {
        return;
      }
      const double a = PositionOf(wall, tool.from);
      const double b = PositionOf(wall, tool.to);
      add(piece.segment, std::min(a, b), std::max(a, b));
    };
    for (std::size_t j = gap.from; j < gap.to; ++j) {
      leftOut(parts[j], parts[j].tool);
    }
    Track resumed;
    if (gap.resumeAt > 0.0 && MakeTrack(parts[gap.to].tool, resumed)) {
      leftOut(parts[gap.to], CurveOfTrack(audit::Stretch(resumed, 0.0, gap.resumeAt)));
    }
    // A corner between two walls that both lose their offset here lies in the place too, with the
    // stretches its trimmed offsets never reached (the bottom corners of a notch the cutter does
    // not fit). A corner with a wall the path still follows keeps only what any cutter leaves in
    // a corner, which is no material left by this place.
    for (auto& [k, range] : stretches) {
      const auto next = stretches.find(k + 1);
      if (next != stretches.end()) {
        range.second = 1.0;
        next->second.first = 0.0;
      }
    }
    const Point exit = chain.kept[gap.before].tool.to;
    const Point entry = chain.kept[gap.after].tool.from;
    MaterialLeft place;
    place.depth = -HUGE_VAL;
    bool any = false;
    std::size_t deepest = NONE;
    for (const auto& [k, range] : stretches) {
      Track wall;
      if (!MakeTrack(trimmer.Segment(k).curve, wall)) {
        continue;
      }
      // Less what the audit takes as no wall (a lead in the air, a roughing wall).
      std::vector<std::pair<double, double>> pieces{range};
      for (const Curve& open : trimmer.Open(trimmer.First() + k)) {
        double o0 = PositionOf(wall, open.from);
        double o1 = PositionOf(wall, open.to);
        if (o0 > o1) {
          std::swap(o0, o1);
        }
        std::vector<std::pair<double, double>> rest;
        for (const auto& [s0, s1] : pieces) {
          if (o1 <= s0 || o0 >= s1) {
            rest.emplace_back(s0, s1);
            continue;
          }
          if (s0 < o0) {
            rest.emplace_back(s0, o0);
          }
          if (o1 < s1) {
            rest.emplace_back(o1, s1);
          }
        }
        pieces = rest;
      }
      // The thickness at position s: the distance to the path less the radius. `near` is a
      // distance the path is known to lie within (a sample close by, one radius beyond).
      const auto thickness = [&](double s, double near) {
        const Point p = PointAt(wall, s);
        const double bound = std::min({(p - exit).GetLength(), (p - entry).GetLength(), near});
        return path.Distance(p, bound) - r;
      };
      Profile profile;
      for (const auto& [s0, s1] : pieces) {
        Measure(thickness, s0, s1, LengthOf(wall) * (s1 - s0), r, tolerance, profile);
      }
      place.extent += profile.extent;
      if (profile.depth > tolerance) {
        const std::int64_t id = trimmer.Segment(k).id;
        place.firstId = any ? std::min(place.firstId, id) : id;
        place.lastId = any ? std::max(place.lastId, id) : id;
        any = true;
      }
      if (profile.depth > place.depth) {
        place.depth = profile.depth;
        place.wallPoint = PointAt(wall, profile.at);
        place.wallId = trimmer.Segment(k).id;
        deepest = k;
      }
    }
    if (!any) {
      continue;
    }
    place.before = gap.before;
    place.after = gap.after;
    place.cause = unreached.count(deepest) != 0            ? MATERIAL_UNREACHED
                  : Collapses(trimmer.Segment(deepest), r) ? MATERIAL_SMALL_ARC
                                                           : MATERIAL_NARROW;
    left.push_back(place);
  }
  return left;
}

}  // namespace crc::avoid
