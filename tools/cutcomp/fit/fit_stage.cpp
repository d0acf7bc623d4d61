// SPDX-License-Identifier: MIT
// The fit stage: which blocks are chords, when a run of them ends, and the engine's segments
// for the fitted pieces.
#include "fit_stage.h"

#include <cmath>
#include <utility>

namespace cutcomp::cli {

namespace {

constexpr double MM_PER_INCH = 25.4;

// A straight move in progress that may be part of a posted curve. Any other word (another axis
// included) would have to take effect somewhere inside a fitted piece, where no block of the
// program stands any more: a block that carries one ends the run. Under inverse time every move's F
// is its own duration, which a merged move would not keep. A block that may be skipped (`/`) is
// never merged.
bool IsChord(const Block& b) {
  if (!b.planeMotion || b.motion != Motion::LINE || b.phase != crc::CRC_STATUS_DOING ||
      b.source.blockDelete || b.modal.feedMode == FeedMode::INVERSE_TIME) {
    return false;
  }
  for (const Item& item : b.source.items) {
    const bool allowed = item.kind == Item::COMMENT || item.role == Item::MOTION ||
                         item.role == Item::PLANE_AXIS || item.letter == 'N' ||
                         item.letter == 'F';  // F: the feed in force is compared (Move)
    if (!allowed) {
      return false;
    }
  }
  return true;
}

// A block without plane motion that holds nothing but a line number and comments changes
// nothing a fitted piece could pass over.
bool IsInert(const Block& b) {
  for (const Item& item : b.source.items) {
    if (item.kind != Item::COMMENT && item.letter != 'N') {
      return false;
    }
  }
  return true;
}

std::unique_ptr<crc::CCrcNode> MakeNode(const Block& b, bool locateRapids, NodePool& pool) {
  if (IsArc(b.motion)) {
    const bool ccw = b.motion == Motion::ARC_CCW;
    if (b.fullCircle) {
      // Start and end coincide: only the centre-and-angles form can say "a whole turn".
      double startAngle = std::atan2(b.start.y - b.centre.y, b.start.x - b.centre.x);
      if (startAngle < 0) {
        startAngle += crc::PI + crc::PI;
      }
      return pool.Arc(b.centre, startAngle, crc::PI + crc::PI, b.radius, ccw, b.phase, b.side);
    }
    return pool.Arc(b.centre, b.start, b.end, b.radius, ccw, b.phase, b.side);
  }
  const bool locate = locateRapids && b.motion == Motion::RAPID;
  return pool.Line(b.start, b.end, b.phase, b.side, locate);
}

}  // namespace

FitOptions RunFitOptions(Units units, std::optional<double> tolerance) {
  FitOptions options;
  const bool inch = units == Units::INCH;
  options.tolerance =
      tolerance.value_or(inch ? DEFAULT_FIT_TOLERANCE_INCH : DEFAULT_FIT_TOLERANCE_MM);
  options.maxChord = inch ? FIT_MAX_CHORD_MM / MM_PER_INCH : FIT_MAX_CHORD_MM;
  return options;
}

FitStage::FitStage(std::optional<FitOptions> fit, bool locateRapids, NodePool& pool)
    : m_LocateRapids(locateRapids), m_Pool(pool) {
  if (fit) {
    m_Fitter.emplace(*fit);
    m_MaxChord = fit->maxChord;
  }
}

void FitStage::Plain(const Block& block) {
  if (!IsInert(block)) {
    Flush();
  }
}

void FitStage::Move(const Block& block, std::int64_t id) {
  if (m_Fitter && IsChord(block)) {
    // exact: a feed that changes by any amount is a change the program asked for
    if (m_HeldFeed && *m_HeldFeed != block.modal.feed) {
      Flush();
    }
    m_HeldFeed = block.modal.feed;
    m_Side = block.side;
    // A move too long for a posted curve's chord ends the run held and goes on as programmed,
    // as the fitter would hand it on, without a round trip through it.
    if ((block.end - block.start).GetLength() < m_MaxChord) {
      Curve chord;
      chord.from = block.start;
      chord.to = block.end;
      m_Fitter->Add(chord, id, m_Pieces);
      TakePieces();
      return;
    }
  }
  Flush();
  m_Ready.push_back({MakeNode(block, m_LocateRapids, m_Pool), id, id});
}

void FitStage::Flush() {
  if (m_Fitter) {
    m_Fitter->Flush(m_Pieces);
    TakePieces();
  }
}

void FitStage::TakePieces() {
  for (const FitPiece& piece : m_Pieces) {
    const Curve& c = piece.curve;
    std::unique_ptr<crc::CCrcNode> node;
    if (c.arc) {
      node = m_Pool.Arc(c.centre, c.from, c.to, c.radius, c.ccw, crc::CRC_STATUS_DOING, m_Side);
    } else {
      node = m_Pool.Line(c.from, c.to, crc::CRC_STATUS_DOING, m_Side, false);
    }
    m_Ready.push_back({std::move(node), piece.firstId, piece.lastId});
  }
  m_Pieces.clear();
}

bool FitStage::Next(std::unique_ptr<crc::CCrcNode>& node, std::int64_t& first, std::int64_t& last) {
  if (m_Ready.empty()) {
    return false;
  }
  node = std::move(m_Ready.front().node);
  first = m_Ready.front().first;
  last = m_Ready.front().last;
  m_Ready.pop_front();
  return true;
}

}  // namespace cutcomp::cli
