// SPDX-License-Identifier: MIT
// Chord fitting as data: each row of fit_cases.txt feeds moves to the fitter and compares the
// pieces with the row's expectation. Every row is also held to what any fit owes: the pieces
// chain the programmed points exactly and stand for every move once, in order; corners end
// pieces; arcs have both ends on their circle; and each piece and its chords lie within the
// tolerance of each other, measured by sampling with the path model's distances.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "chord_fit.h"

namespace cutcomp {
namespace {

constexpr double DEG = 3.14159265358979323846 / 180.0;

double Gap(const Point& p, const std::vector<Curve>& curves) {
  double best = INFINITY;
  for (const Curve& c : curves) {
    best = std::min(best, Distance(p, c));
  }
  return best;
}

Point At(const Curve& c, double t) {  // t in [0, 1] along the curve
  if (!c.arc) {
    return c.from + (c.to - c.from) * t;
  }
  const double a =
      std::atan2(c.from.y - c.centre.y, c.from.x - c.centre.x) + (c.ccw ? t : -t) * Sweep(c);
  return c.centre + Point(std::cos(a), std::sin(a)) * c.radius;
}

void Check(const std::string& row) {
  SCOPED_TRACE(row);
  std::istringstream in(row);
  std::map<std::string, double> opts{
      {"tol", 0.005}, {"maxchord", 0.5}, {"corner", 30}, {"maxrun", 1000}, {"round", -1}};
  std::vector<Curve> moves;
  std::vector<FitPiece> pieces;
  std::unique_ptr<ChordFitter> fitter;
  Point at(0.0, 0.0);
  double x = 0, y = 0, cx = 0, cy = 0, r = 0, a0 = 0, a1 = 0;  // NOLINT
  int n = 0;
  const auto move = [&](Point to, bool arc = false, bool ccw = true) {
    const double scale = std::pow(10.0, opts["round"]);
    to = opts["round"] < 0
             ? to
             : Point(std::round(to.x * scale), std::round(to.y * scale)) * (1 / scale);
    Curve c{arc, at, to, Point(cx, cy), (at - Point(cx, cy)).GetLength(), ccw};
    if (!fitter) {
      fitter = std::make_unique<ChordFitter>(FitOptions{
          opts["tol"], opts["maxchord"], opts["corner"] * DEG, std::size_t(opts["maxrun"])});
    }
    fitter->Add(c, static_cast<std::int64_t>(moves.size()), pieces);
    moves.push_back(c);
    at = c.to;
  };
  std::string word;
  while (in >> word && word != "expect") {
    if (opts.count(word) != 0) {
      in >> opts[word];
    } else if (word == "from" && in >> x >> y) {
      at = Point(x, y);
    } else if (word == "to" && in >> x >> y) {
      move(Point(x, y));
    } else if (word == "line" && in >> x >> y >> n) {
      const Point from = at;
      for (int i = 1; i <= n; ++i)
        move(from + (Point(x, y) - from) * (double(i) / n));
    } else if ((word == "arc" || word == "arcmove") && in >> cx >> cy >> r >> a0 >> a1 >> n) {
      for (int i = word == "arc" ? 1 : n; i <= n; ++i) {  // an arcmove is one arc to a1
        const double a = (a0 + (a1 - a0) * i / n) * DEG;
        move(Point(cx, cy) + Point(std::cos(a), std::sin(a)) * r, word != "arc", a1 > a0);
      }
    } else if (word == "break" && fitter) {
      fitter->Flush(pieces);
    } else {
      FAIL() << "bad word " << word;
    }
  }
  fitter->Flush(pieces);
  std::string expected;
  std::getline(in, expected);
  std::ostringstream got;
  std::size_t next = 0;
  for (const FitPiece& p : pieces) {
    ASSERT_EQ(p.firstId, static_cast<std::int64_t>(next));
    ASSERT_EQ(p.lastId + 1 - p.firstId, static_cast<std::int64_t>(p.moves));
    const std::vector<Curve> chords(moves.begin() + next, moves.begin() + next + p.moves);
    next += p.moves;
    EXPECT_TRUE(p.curve.from == chords.front().from && p.curve.to == chords.back().to);
    const Curve& c = p.curve;
    const auto tenth = [](double v) { return std::round(v * 10.0) / 10.0 + 0.0; };  // no -0.0
    char text[80];  // centre and radius to 0.1: which arc it is; the samples check how well
    std::snprintf(text, sizeof text, c.arc ? "A(%.1f,%.1f,%.1f)" : "L", tenth(c.centre.x),
                  tenth(c.centre.y), tenth(c.radius));
    const FitPiece* before = &p == &pieces.front() ? nullptr : &p - 1;
    const bool same = c.arc && before != nullptr && before->curve.arc &&
                      before->curve.centre == c.centre && before->curve.radius == c.radius;
    got << " "
        << (p.moves == 1 ? "C"
            : same       ? "A="
                         : text)
        << (p.moves > 1 ? "*" + std::to_string(p.moves) : "");
    if (c.arc) {
      EXPECT_NEAR((c.from - c.centre).GetLength(), c.radius, 1e-9 * c.radius);
      EXPECT_NEAR((c.to - c.centre).GetLength(), c.radius, 1e-9 * c.radius);
    }
    const double tolerance = opts["tol"] * (1 + 1e-9);
    for (int i = 0; i <= 400 && p.moves > 1; ++i) {
      EXPECT_LE(Gap(At(c, i / 400.0), chords), tolerance) << "piece sample " << i;
      for (const Curve& chord : chords) {
        EXPECT_LE(Gap(At(chord, (i % 9) / 8.0), {c}), tolerance) << "chord sample " << i;
      }
    }
  }
  EXPECT_EQ(next, moves.size());
  std::istringstream want(expected);
  std::istringstream have(got.str());
  for (std::string w, h; want >> w;) {  // "A*n" matches an arc of n moves about any centre
    EXPECT_TRUE(have >> h &&
                (h == w || (h.find('(') != std::string::npos && w.find('(') == std::string::npos &&
                            h.substr(0, h.find('(')) + h.substr(h.find(')') + 1) == w)))
        << "expected" << expected << "\n     got" << got.str();
    if (::testing::Test::HasFailure()) {
      return;
    }
  }
  EXPECT_FALSE(have >> word) << "got more:" << got.str();
}

TEST(ChordFit, Cases) {
  std::ifstream file(CUTCOMP_FIT_CASES);
  std::string row;
  int rows = 0;
  while (std::getline(file, row)) {
    if (!row.empty() && row[0] != '#') {
      Check(row);
      ++rows;
    }
  }
  EXPECT_GT(rows, 10);
}

}  // namespace
}  // namespace cutcomp
