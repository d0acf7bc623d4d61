// SPDX-License-Identifier: MIT
// Every threshold of the engine other than EPSILON, named once, with its unit and what it
// protects. They are deliberately coarser than EPSILON: each guards a decision where rounding
// noise of 1e-6 would flip the result between two geometrically equivalent inputs.
#pragma once

namespace crc {

// Cosine tolerance (dimensionless) for a smooth joint: two unit tangents whose dot product lies
// within 0.0019 of 1 (a change of direction below about 3.53 degrees) are joined without corner
// processing. Host programs approximate curves by short chords whose joints turn by a degree or
// two; treating each as a corner would insert micro-segments.
inline constexpr double TANGENT_COSINE_TOLERANCE = 0.0019;

// Length tolerance for the circle/circle intersection only: circles whose separation misses
// touching by less than 0.0001141 are taken as touching. Offset arcs of a tangent arc pair are
// computed from trigonometry and drift apart by far more than EPSILON.
inline constexpr double CIRCLE_TOUCH_TOLERANCE = 0.0001141;

// Length below which an offset chord that runs backwards is still acceptable (it has shrunk to
// almost nothing at a trimmed corner).
inline constexpr double SHRUNK_OFFSET_LENGTH = 0.005;

// Programmed length below which a line whose trimmed offset reverses at an inside corner is
// accepted (its offset collapses onto its plain offset start) rather than refused.
inline constexpr double SHORT_LINE_REVERSAL_LENGTH = 0.004;

// Depth, as a fraction of the cutter radius, that an offset line running backwards may cut into
// its neighbour's wall before the interference check (with the CAM tolerances on) refuses it:
// r (1 - cos 3.53 degrees), what a joint taken as smooth already allows.
inline constexpr double REVERSAL_DEPTH = 0.0019;

}  // namespace crc
