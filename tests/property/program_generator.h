// SPDX-License-Identifier: MIT
// Generated programs for the property tests and the gouge survey, as whole-contour fixtures
// (settings and segments, the scenario runner's format). A program is built from a stream of
// draws, integers in [0, 1000): the same draws give the same program everywhere, an exhausted
// stream reads as zeros, and shrinking the stream (fewer draws, smaller values) gives simpler
// programs, which is what the property tests' shrinking relies on.
#pragma once

#include <vector>

#include <nlohmann/json.hpp>

#include "list_host.h"
#include "tool_path.h"

namespace cutcomp::test {

enum Family {
  OUTLINE,  // closed star-shaped outline: edges straight or bulging either way, some corners
            // rounded by tangent arcs
  STEPS,    // open walk of long segments with segments of 1e-4 to 0.5 between them, for evasion
  FAMILY_COUNT
};

// Start-up line, contour and cancel line (or none: the pre-retract option closes the run),
// with radius, strategy, side, evasion and at times a locate line or arcs for start-up and
// cancel under the inserting strategy, all drawn from `draws`.
nlohmann::json MakeProgram(Family family, const std::vector<int>& draws);

// A program fit for the tests: its contour neither touches nor crosses itself, and no joint
// turns by a hair (such a joint is taken as smooth, which moves an offset end off its line).
bool IsClean(const nlohmann::json& program);

// What a host sees of one run of a program on a fresh engine.
struct Outcome {
  HostRun run;
  std::vector<PathPiece> path;
  unsigned int listCount = 0;  // look-behind entries the engine holds afterwards
};
Outcome Compensate(const nlohmann::json& program);

}  // namespace cutcomp::test
