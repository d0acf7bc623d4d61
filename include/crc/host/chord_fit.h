// SPDX-License-Identifier: MIT
/// @file
/// Chord fitting before compensation. CAM systems post smooth curves as runs of short straight
/// chords, rounded to a few decimals. Compensated chord by chord such a run is a poor contour:
/// rounding tilts each tiny chord, which moves its offset sideways by a sizeable part of the chord,
/// so neighbouring offsets cross and the interference check refuses a path the cutter could run.
/// The fitter replaces runs of short chords by the few lines and circular arcs that stay within a
/// tolerance of them; the engine then compensates those.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tool_path.h"

namespace cutcomp {

/// Defaults for a program in millimetres; a host scales the lengths for other units.
/// Only chords shorter than 0.5 mm are fitted. On the generated CAM programs (bench/cam), chords
/// compensated as they are were refused up to a nominal 0.62 mm (a spline posted at equal steps of
/// its parameter, whose chords vary about twofold round that); fitting chords under 0.5 mm took
/// the completed programs from 261 to 597 of 600 and refused none that completed before, while
/// fitting up to 1 mm completed 596 and refused two programs of 0.67 and 0.86 mm chords that
/// complete as chords. A longer move is as likely a deliberate edge as a piece of a curve.
inline constexpr double FIT_MAX_CHORD_MM = 0.5;
/// A turn sharper than this between consecutive chords is a corner of the part, kept exactly.
/// A chord posted with a chord tolerance d along a curve of radius rho turns by sqrt(8 d / rho)
/// radians: under 0.4 rad (23 degrees) for d up to 0.01 mm and rho from 0.5 mm, the smallest
/// cutter radius a tight curve could be cut with.
inline constexpr double FIT_CORNER_ANGLE = 0.5235987755982988;  // 30 degrees, in radians
/// The most chords held before fitted pieces are handed on, so memory (24 bytes a chord) and the
/// delay before the engine sees a block stay bounded on a run of any length. A cut forced by it
/// splits an arc in two, and two arcs of nearly one circle meeting make the engine's interference
/// check raise false alarms; 20,000 holds half a circle of radius 60 mm in 0.01 mm chords.
inline constexpr std::size_t FIT_MAX_RUN = 20000;

/// How the fitter works: its tolerance and what counts as a chord.
struct FitOptions {
  /// Largest distance, in the program's unit, between a fitted piece and the chords it replaces,
  /// measured both ways (see ChordFitter). Must be positive.
  double tolerance = 0.0;
  /// Only lines shorter than this join a run. Must be positive.
  double maxChord = 0.0;
  /// A sharper turn between consecutive chords is a corner, kept exactly: radians, in (0, pi).
  double cornerAngle = FIT_CORNER_ANGLE;
  std::size_t maxRun = FIT_MAX_RUN;  ///< the most chords held (see FIT_MAX_RUN), at least 2
};

/// Empty when the options can be used; otherwise what is wrong with them, in English.
CRC_API std::string FitOptionsError(const FitOptions& options);

/// A line or arc of the fitted contour and the programmed moves it stands for: a consecutive
/// stretch of the moves handed in, from the one with id `firstId` to the one with id `lastId`.
struct FitPiece {
  Curve curve;                ///< the fitted line or arc
  std::int64_t firstId = -1;  ///< id of the first move it stands for
  std::int64_t lastId = -1;   ///< id of the last move it stands for
  std::size_t moves = 0;      ///< how many moves it stands for; 1: a move passed on as it came
};

/// Takes programmed moves in the plane one at a time and hands on lines and arcs.
///
/// A run is a stretch of consecutive lines, each shorter than `maxChord`, each starting exactly
/// where the one before ended, none turning from the one before by more than `cornerAngle`
/// (zero-length lines join a run without turning it). Anything else passes on unchanged after the
/// run before it: an arc, a longer line, a line that starts somewhere else. The caller ends a run
/// with Flush wherever its program does (a block outside the plane, a change of feed or mode, the
/// start and end of compensation, a move it wants kept as it is).
///
/// Each run is covered, front to back, by pieces whose ends are programmed points, exactly as
/// given: the run's own ends, and corners, are never moved. A piece stands for one chord (passed
/// on unchanged) or for several, as a line or as an arc of at most 170 degrees. For a piece
/// that stands for several chords, every point of those chords lies within `tolerance` of the
/// piece, and every point of the piece lies within `tolerance` of the chords (their two-sided
/// Hausdorff distance is at most the tolerance, up to floating-point rounding). Consecutive arcs
/// that follow one circle are put on exactly the same circle where their ends allow it. So every
/// programmed point moves by at most `tolerance`, and where the cutter fits the fitted contour,
/// the fitted contour's offset by a radius r stays within `tolerance` of the chords' offset by r.
/// An arc's end points lie on its circle and its centre is on their bisector, as the engine needs.
/// The engine's own allowances come on top of the tolerance: it joins moves that turn by less
/// than about 3.5 degrees as if they were smooth, which can bring the tool up to 0.0019 r nearer
/// the contour (more inside an arc whose radius is close to r).
///
/// A run that grows to `maxRun` chords is fitted and every piece but the last one found is handed
/// on, the run going on from the last piece's start; a lone arc before it is held back too, as it
/// may yet share the last piece's circle, but never more than twice `maxRun` chords are held.
/// Invalid options (see FitOptionsError) switch fitting off: every move passes on unchanged.
class CRC_API ChordFitter {
public:
  /// A fitter with `options` (checked with FitOptionsError: invalid ones switch fitting off).
  explicit ChordFitter(const FitOptions& options);

  /// Takes the next move with its source id and appends the pieces that became final to `out`.
  /// May throw std::bad_alloc.
  void Add(const Curve& move, std::int64_t id, std::vector<FitPiece>& out);
  /// Ends the run here: fits what is held and appends it to `out`.
  void Flush(std::vector<FitPiece>& out);
  /// Chords held, not yet handed on.
  std::size_t Held() const { return m_Ids.size(); }

private:
  void Fit(bool all, std::vector<FitPiece>& out);

  FitOptions m_Options;
  bool m_Enabled = false;
  std::vector<Point> m_Points;      // the run's points: its start, then each chord's end
  std::vector<std::int64_t> m_Ids;  // each chord's id
  std::size_t m_FitAt = 0;      // held chords that make Add fit (beyond maxRun after a hold-back)
  Point m_Direction{0.0, 0.0};  // unit direction of the last chord that had one
};

}  // namespace cutcomp
