// SPDX-License-Identifier: MIT
// Open paths for the scaling benchmarks: a staircase of unit steps and a sine wave posted as
// chords, at any number of segments, as an engine program and as the polyline the offset
// libraries take.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <crc/crc.h>

#include "contours.h"

namespace cutcomp::bench {

// The cutter radius of the scaling benchmarks: a tenth of the staircase's step.
inline constexpr double OPEN_PATH_RADIUS = 0.1;

// An open polyline, compensated on the left of its direction of travel.
struct OpenPath {
  std::string name;  // e.g. "staircase_1e4"
  std::string family;
  std::size_t edges = 0;
  std::vector<Point> vertices;  // edges + 1 points
};

// Unit steps alternating +x and +y: every other corner is an inside corner (trimmed) and every
// other an outside corner of exactly 90 degrees (extended).
OpenPath Staircase(std::size_t edges);
// A sine wave of amplitude 1 and wavelength 6.4 posted as chords 0.1 long in x: smooth joints
// near the inflections, corners of up to 5.5 degrees near the crests, on both sides of the path
// (the tightest bend, radius 1.04, is ten cutter radii).
OpenPath Wave(std::size_t edges);

// Staircase and wave at 1e3, 1e4 and 1e5 edges.
std::vector<OpenPath> AllOpenPaths();

// The engine program: a start-up line leading in along the first edge, one line per edge, and a
// cancel line leading out along the last edge, all on the left. `compensated` marks every
// segment as already compensated, as for the host-only baseline.
std::vector<std::unique_ptr<crc::CCrcNode>> MakeOpenProgram(const OpenPath& path, bool compensated);

}  // namespace cutcomp::bench
