// SPDX-License-Identifier: MIT
// Chord fitting as data: each row of fit_cases.txt feeds moves to the fitter and compares the
// pieces with the row's expectation. Every row is also held to what any fit owes: the pieces
// chain the programmed points exactly and stand for every move once, in order; arcs have both
// ends on their circle; and each piece and its chords lie within the tolerance of each other,
// measured by sampling with the path model's distances.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "chord_fit.h"

namespace cutcomp {
namespace {

constexpr double DEG = 3.14159265358979323846 / 180.0;

// How far samples of the curves `a` stray from the nearest of the curves `b`.
double Gap(const std::vector<Curve>& a, const std::vector<Curve>& b) {
  double worst = 0.0;
  for (const Curve& k : a) {
    const double a0 = std::atan2(k.from.y - k.centre.y, k.from.x - k.centre.x);
    for (double t = 0.0; t <= 1.0; t += 1.0 / 64) {
      const double angle = a0 + (k.ccw ? t : -t) * Sweep(k);
      const Point p = k.arc ? k.centre + Point(std::cos(angle), std::sin(angle)) * k.radius
                            : k.from + (k.to - k.from) * t;
      double best = INFINITY;
      for (const Curve& m : b) {
        best = std::min(best, Distance(p, m));
      }
      worst = std::max(worst, best);
    }
  }
  return worst;
}

void Check(const std::string& row) {
  SCOPED_TRACE(row);
  std::istringstream in(row);
  std::map<std::string, double> opt{
      {"tol", 0.005}, {"maxchord", 0.5}, {"corner", 30}, {"maxrun", 1000}, {"round", -1}};
  std::vector<Curve> moves;
  std::vector<FitPiece> pieces;
  std::vector<std::pair<Point, bool>> to;  // the next move's end, and whether it is an arc
  Point at(0.0, 0.0);
  double x = 0, y = 0, cx = 0, cy = 0, r = 0, a0 = 0, a1 = 0, n = 0;  // NOLINT
  ChordFitter fitter({0.005, 0.5, 30 * DEG, 1000});
  std::string word;
  while (in >> word && word != "expect") {
    if (opt.count(word) != 0) {
      in >> opt[word];
      fitter = ChordFitter(
          {opt["tol"], opt["maxchord"], opt["corner"] * DEG, std::size_t(opt["maxrun"])});
    } else if (word == "from" && in >> x >> y) {
      at = Point(x, y);
    } else if (word == "line" && in >> x >> y >> n) {
      for (double i = 1; i <= n; ++i) {
        to.emplace_back(at + (Point(x, y) - at) * (i / n), false);
      }
    } else if ((word == "arc" || word == "arcmove") && in >> cx >> cy >> r >> a0 >> a1 >> n) {
      for (double i = word == "arc" ? 1 : n; i <= n; ++i) {  // an arcmove is one arc to a1
        const double a = (a0 + (a1 - a0) * i / n) * DEG;
        to.emplace_back(Point(cx, cy) + Point(std::cos(a), std::sin(a)) * r, word != "arc");
      }
    } else if (word != "break") {
      FAIL() << "bad word " << word;
    }
    const double scale = std::pow(10.0, opt["round"]);
    for (auto [end, arc] : to) {
      end = opt["round"] < 0
                ? end
                : Point(std::round(end.x * scale), std::round(end.y * scale)) * (1 / scale);
      moves.push_back({{arc, at, end, Point(cx, cy), a1 > a0}, (at - Point(cx, cy)).GetLength()});
      fitter.Add(moves.back(), std::int64_t(moves.size() - 1), pieces);
      at = end;
    }
    to.clear();
    if (word == "break") {
      fitter.Flush(pieces);
    }
  }
  fitter.Flush(pieces);
  std::string expected;
  std::getline(in, expected);
  std::string got;
  std::size_t next = 0;
  for (const FitPiece& p : pieces) {
    const Curve& c = p.curve;
    ASSERT_TRUE(p.firstId == std::int64_t(next) &&
                p.lastId + 1 - p.firstId == std::int64_t(p.moves));
    const std::vector<Curve> chords(moves.begin() + next, moves.begin() + next + p.moves);
    next += p.moves;
    EXPECT_TRUE(c.from == chords.front().from && c.to == chords.back().to);  // exact
    if (c.arc) {
      EXPECT_LT(std::fabs((c.from - c.centre).GetLength() - c.radius) +
                    std::fabs((c.to - c.centre).GetLength() - c.radius),
                1e-9 * c.radius);
    }
    EXPECT_LE(std::max(Gap({c}, chords), Gap(chords, {c})),
              p.moves > 1 ? opt["tol"] * (1 + 1e-9) : 1e-12);
    const auto tenth = [](double v) { return std::round(v * 10.0) / 10.0 + 0.0; };  // no -0.0
    char text[80];  // centre and radius to 0.1: which arc it is; the samples check how well
    std::snprintf(text, sizeof text, c.arc ? " A(%.1f,%.1f,%.1f)" : " L", tenth(c.centre.x),
                  tenth(c.centre.y), tenth(c.radius));
    const Curve& before = (&p == &pieces.front() ? p : *(&p - 1)).curve;
    const bool same = c.arc && &before != &c && before.arc && before.centre == c.centre &&
                      before.radius == c.radius;  // exact: one circle
    got += p.moves == 1 ? " C" : (same ? " A=" : text) + ("*" + std::to_string(p.moves));
  }
  EXPECT_EQ(got, expected);
}

TEST(ChordFit, Cases) {
  std::ifstream file(CUTCOMP_FIT_CASES);
  ASSERT_TRUE(file.is_open());
  for (std::string row; std::getline(file, row);) {
    if (!row.empty() && row[0] != '#') {
      Check(row);
    }
  }
}

}  // namespace
}  // namespace cutcomp
