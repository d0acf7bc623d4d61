// SPDX-License-Identifier: MIT
// The lathe module (tools/cutcomp/lathe) on the command line, for the scripts beside it: the
// controlled point's path from a nose-centre path (rs274_compare.py, until the tool writes it
// itself), the type I roughing cycles (the comparison with LinuxCNC's G71/G72) and the tip
// vectors of a chart (draw_tip_chart.py).
//
//   lathe_bench tip up|down DIR RADIUS   < moves > moves    every move moved by the tip vector
//   lathe_bench rough g71|g72 Z X DEPTH RETRACT AZ AX < moves > moves   the cycle's moves
//   lathe_bench finish Z X < moves > moves                  G70
//   lathe_bench chart up|down RADIUS > "DIR DZ DX" lines    the ten tip vectors
//
// A move is one line: "L ID RAPID Z0 X0 Z1 X1" or "A ID RAPID Z0 X0 Z1 X1 CZ CX CCW", X as a
// radius, RAPID and CCW 0 or 1.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "profile_cycles.h"
#include "tip.h"

namespace {

using cutcomp::Curve;
using cutcomp::Point;
using namespace cutcomp::lathe;

bool ReadMoves(std::vector<CycleMove>& moves) {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string kind;
    if (!(in >> kind)) {
      continue;
    }
    CycleMove move;
    int rapid = 0;
    int ccw = 1;
    Curve& c = move.curve;
    in >> move.id >> rapid >> c.from.x >> c.from.y >> c.to.x >> c.to.y;
    c.arc = kind == "A";
    if (c.arc) {
      in >> c.centre.x >> c.centre.y >> ccw;
      c.radius = std::hypot(c.from.x - c.centre.x, c.from.y - c.centre.y);
    }
    c.ccw = ccw != 0;
    move.rapid = rapid != 0;
    if (!in || (kind != "L" && kind != "A")) {
      std::cerr << "lathe_bench: cannot read the move \"" << line << "\"\n";
      return false;
    }
    moves.push_back(move);
  }
  return true;
}

void WriteMove(const CycleMove& move) {
  const Curve& c = move.curve;
  std::printf("%s %lld %d %.12g %.12g %.12g %.12g", c.arc ? "A" : "L",
              static_cast<long long>(move.id), move.rapid ? 1 : 0, c.from.x, c.from.y, c.to.x,
              c.to.y);
  if (c.arc) {
    std::printf(" %.12g %.12g %d", c.centre.x, c.centre.y, c.ccw ? 1 : 0);
  }
  std::printf("\n");
}

TipChart Chart(const std::string& name) { return name == "up" ? TipChart::X_UP : TipChart::X_DOWN; }

int Fail(const std::string& message) {
  std::cerr << "lathe_bench: " << message << "\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const auto number = [&args](std::size_t i) { return std::strtod(args.at(i).c_str(), nullptr); };
  if (args.size() == 4 && args[0] == "tip") {
    const TipVector tip = TipOf(std::atoi(args[2].c_str()), number(3), Chart(args[1]));
    std::vector<CycleMove> moves;
    if (!tip.ok || !ReadMoves(moves)) {
      return Fail(tip.error);
    }
    for (CycleMove& move : moves) {
      move.curve = ControlledCurve(move.curve, tip.offset);
      WriteMove(move);
    }
    return 0;
  }
  if (args.size() == 3 && args[0] == "chart") {
    for (int direction = 0; direction <= 9; ++direction) {
      const TipVector tip = TipOf(direction, number(2), Chart(args[1]));
      std::printf("%d %.12g %.12g\n", direction, tip.offset.x, tip.offset.y);
    }
    return 0;
  }
  std::vector<CycleMove> profile;
  CycleResult result;
  if (args.size() == 3 && args[0] == "finish") {
    if (!ReadMoves(profile)) {
      return 2;
    }
    result = ExpandFinishing(Point(number(1), number(2)), profile, 1e-6);
  } else if (args.size() == 8 && args[0] == "rough") {
    if (!ReadMoves(profile)) {
      return 2;
    }
    RoughingCycle cycle;
    cycle.along = args[1] == "g72" ? RoughingAxis::X : RoughingAxis::Z;
    cycle.depth = number(4);
    cycle.retract = number(5);
    cycle.allowance = Point(number(6), number(7));
    result = ExpandRoughing(Point(number(2), number(3)), profile, cycle, 1e-6);
  } else {
    return Fail("usage: lathe_bench tip|chart|finish|rough ... (see the source's first lines)");
  }
  if (!result.ok) {
    return Fail(result.error + " (move " + std::to_string(result.errorId) + ")");
  }
  for (const CycleMove& move : result.moves) {
    WriteMove(move);
  }
  return 0;
}
