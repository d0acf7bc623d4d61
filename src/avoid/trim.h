// SPDX-License-Identifier: MIT
// What stays of the raw path: each piece measured by the gouge audit and, where it comes too
// close to a wall, split where it crosses the edge of that wall's reach; the parts that keep
// their distance joined in path order, a loop the cutter does not fit dropped where the path
// crosses itself. The raw path itself comes from run_path.cpp; material left is measured in
// material.cpp.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <crc/audit/gouge_audit.h>
#include <crc/avoid/gouge_free.h>

#include "avoid/run_path.h"

namespace crc::avoid {

// A part of a piece of the raw path, between two places where it crosses the edge of a wall's
// reach (or the whole piece).
struct Part {
  Curve tool;
  std::size_t raw = 0;  // the raw piece it is part of
  bool valid = false;   // keeps radius - tolerance from every wall
  bool first = false;   // begins where its raw piece begins
  bool last = false;    // ends where its raw piece ends
  // The corner (index of the segment before it) whose circle of one cutter radius an end lies
  // on, when the part ends there because it enters that circle; NONE otherwise.
  std::size_t cornerAtStart = NONE;
  std::size_t cornerAtEnd = NONE;
};

// A piece of the path that stays.
struct Kept {
  Curve tool;
  std::size_t raw = NONE;  // NONE for a line over a gap
  bool whole = true;       // the raw piece as it is
};

// A place where the path leaves the raw path: the parts [from, to) are left out and the path
// resumes on part `to`. `before` and `after` index the kept pieces on either side.
struct Gap {
  std::size_t from = 0;
  std::size_t to = 0;
  std::size_t before = 0;
  std::size_t after = 0;
  // Where along part `to` the path resumed (its position; 0 at its start): what lies before is
  // left out too.
  double resumeAt = 0.0;
};

// Where the path left the raw path and no later part begins at that point.
struct Unresolved {
  std::size_t exitPart = 0;  // the last part kept before it
  std::size_t nextPart = 0;  // the first valid part after it
};

struct Chain {
  std::vector<Kept> kept;
  std::vector<Gap> gaps;
  std::vector<Unresolved> unresolved;
};

// Everything one computation shares: the run, the contour's audit, the stretches of walls the
// audit takes as no walls (computed once, when first needed).
class Trimmer {
public:
  Trimmer(const std::vector<ContourSegment>& contour, std::size_t first, std::size_t count,
          double radius, double tolerance, CGougeAudit& audit);

  // Splits and measures every raw piece. False, with `error`, when the audit refuses a piece.
  bool Split(const std::vector<RunPiece>& raw, std::vector<Part>& parts, std::string& error);

  // Joins the valid parts in order. With `lines` false, a place where the path cannot resume
  // where it left is recorded in `unresolved` and passed over; with `lines` true it is crossed
  // by a straight line to the first later valid part that the audit passes, and the chain fails
  // (false, `error`) when there is none. Also fails when the run's first or last point lies
  // within radius - tolerance of a wall.
  bool Join(const std::vector<RunPiece>& raw, const std::vector<Part>& parts, bool lines,
            Chain& chain, std::string& error);

  // Audits one piece of the finished path; false with `error` when the audit refuses it.
  bool Clear(const Curve& tool, std::size_t segment, bool& clear, std::string& error);

  // Stretches of the contour's segment `ordinal` that are no walls (leads, roughing walls, moves
  // above the work), by the audit.
  const std::vector<Curve>& Open(std::size_t ordinal);

  double Radius() const { return m_Radius; }
  double Tolerance() const { return m_Tolerance; }
  const ContourSegment& Segment(std::size_t k) const { return m_Contour[m_First + k]; }
  std::size_t Count() const { return m_Count; }
  std::size_t First() const { return m_First; }
  const std::vector<ContourSegment>& Contour() const { return m_Contour; }

private:
  // Arcs of one radius from p to q about the corners of the run's walls whose circles hold both,
  // the shorter way round first.
  void Corners(const __point2<double>& p, const __point2<double>& q, double reach,
               std::vector<Curve>& out) const;
  // Ways of a line and an arc from p to q round a corner of the run's walls whose circle holds
  // one end: the line tangent to the circle from the other end, the arc on to (or from) it.
  void Tangents(const __point2<double>& p, const __point2<double>& q, double reach,
                std::vector<std::pair<Curve, Curve>>& out) const;
  bool SplitPiece(const RunPiece& piece, std::size_t q, std::vector<Part>& parts,
                  std::vector<Gouge>& gouges, std::vector<std::pair<double, std::size_t>>& cuts,
                  std::string& error);
  bool Measure(const Curve& tool, std::size_t segment, std::vector<Gouge>& gouges,
               std::string& error);
  void CutPositions(const Curve& tool, const Gouge& gouge,
                    std::vector<std::pair<double, std::size_t>>& out);

  const std::vector<ContourSegment>& m_Contour;
  std::size_t m_First;
  std::size_t m_Count;
  double m_Radius;
  double m_Tolerance;
  CGougeAudit& m_Audit;
  bool m_OpenKnown = false;
  std::map<std::size_t, std::vector<Curve>> m_Open;
  std::vector<Gouge> m_Gouges;
  // The parts of every raw piece split so far, by its geometry, segment and direction.
  std::unordered_map<std::string, std::vector<Part>> m_Known;
};

}  // namespace crc::avoid
