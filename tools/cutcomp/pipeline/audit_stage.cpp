// SPDX-License-Identifier: MIT
// The gouge audit: pieces and walls noted as the run streams, the whole path measured at the
// end, and what it finds said once per block.
#include "audit_stage.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>

#include "language.h"
#include "number_format.h"

namespace cutcomp::cli {

namespace {

std::string Short(double value) { return FormatNumber(value, 6); }

// How a gouge's kind is named in its warning, and what may fix it.
const char* KindName(crc::gouge_kind_t kind) {
  switch (kind) {
  case crc::GOUGE_ENTRY:
    return "entry";
  case crc::GOUGE_EXIT:
    return "exit";
  case crc::GOUGE_CORNER:
    return "corner";
  case crc::GOUGE_CROSSING:
    return "crossing";
  case crc::GOUGE_LATER_CONTOUR:
    return "later contour";
  case crc::GOUGE_EARLIER_CONTOUR:
    return "earlier contour";
  }
  return "crossing";
}
std::string Hint(crc::gouge_kind_t kind, const std::string& piece, const std::string& wall) {
  switch (kind) {
  case crc::GOUGE_ENTRY:
    return "approach along the normal of block " + wall + ", or start farther out";
  case crc::GOUGE_EXIT:
    return "leave along the normal of block " + wall + ", or end farther out";
  case crc::GOUGE_CROSSING:
    return "the cutter does not fit between blocks " + piece + " and " + wall;
  case crc::GOUGE_LATER_CONTOUR:
    return "the contour of block " + piece + " cuts into the wall block " + wall + " finished";
  case crc::GOUGE_EARLIER_CONTOUR:
    return "block " + piece + " cuts into the wall a later contour finishes at block " + wall;
  case crc::GOUGE_CORNER:
    break;
  }
  return {};
}

}  // namespace

double LowOf(const Block& b) {
  return b.heightKnown && b.heightBeforeKnown ? std::min(b.height, b.height - b.heightChange) : NAN;
}

bool Turning(const Block& block) {
  return block.modal.diameter || block.modal.fanucLathe || !(block.tip == Point(0.0, 0.0));
}

void AuditStage::Piece(const Block& block, const cutcomp::PathPiece& piece) {
  if (!piece.dropped && piece.phase != crc::CRC_STATUS_NONE &&
      std::fabs(block.compRadius) >= crc::EPSILON) {
    m_Check.Piece(piece.tool, std::fabs(block.compRadius), LowOf(block), AuditId(piece.id, block));
  }
}

void AuditStage::Segment(const Block& block, const crc::CCrcNode& node, std::int64_t id) {
  m_Check.Segment(node, block.compRadius, LowOf(block), block.motion == Motion::RAPID,
                  AuditId(id, block));
}

// The id under which the gouge check knows the block with run id `id`. The line in the low half
// names the block in messages without a table per block; the place's file and calls are noted
// where they change.
std::int64_t AuditStage::AuditId(std::int64_t id, const Block& block) {
  if (m_IdBase + id >= std::numeric_limits<std::int32_t>::max()) {
    m_Check.Abandon("the program has more blocks than it can number (2^31)");
    return 0;
  }
  const std::int64_t auditId =
      ((m_IdBase + id) << 32) | static_cast<std::int64_t>(std::min<std::size_t>(
                                    block.Line(), std::numeric_limits<std::uint32_t>::max()));
  const SourceBlock& source = block.source;
  if (m_Places.empty() || m_Places.back().where.file != source.where.file ||
      m_Places.back().callers.size() != source.callers.size() ||
      !std::equal(source.callers.begin(), source.callers.end(), m_Places.back().callers.begin(),
                  [](const SourceLocation& a, const SourceLocation& b) {
                    return a.line == b.line && a.file == b.file;
                  })) {
    PlaceFrom place;
    place.id = auditId;
    place.where.file = source.where.file;
    place.callers = source.callers;
    m_Places.push_back(std::move(place));
  }
  return auditId;
}

// Measures the whole tool path against the whole contour; says every gouge (as many as warnings
// go) and a summary. GOUGE when the path gouges or could not be measured.
Status AuditStage::Run(std::optional<double> plungeTop, bool open, Result& result) {
  std::vector<GougeRecord>& records = result.gouges;
  result.audited = true;
  std::vector<GougeFinding> findings;
  std::string failure;
  const std::optional<double> top = m_Options.stockTop ? m_Options.stockTop : plungeTop;
  m_Check.SetWorkTop(top ? *top : NAN);
  const bool measured = m_Check.Run(findings, failure);
  const auto placeOf = [this](std::int64_t id) -> const PlaceFrom& {
    const auto after = std::upper_bound(
        m_Places.begin(), m_Places.end(), id,
        [](std::int64_t value, const PlaceFrom& place) { return value < place.id; });
    return *(after - 1);  // every id given out was noted at or after the first place
  };
  const auto lineOf = [](std::int64_t id) { return static_cast<std::size_t>(id & 0xffffffff); };
  // One warning per block of the tool path that gouges: its deepest gouge, naming the other
  // walls it cuts into as well; and one gouge cut again in another pass (a subroutine or loop
  // run again) is said once, with the passes counted: the same blocks, kind, depth and point as
  // written.
  struct Said {
    GougeRecord record;
    std::string message;
    std::string hint;
    std::string at;
  };
  std::vector<Said> said;
  std::map<std::string, std::size_t> seen;
  const GougeFinding* least = nullptr;
  for (std::size_t i = 0; i < findings.size();) {
    // The findings of one piece of the path (they come sorted by piece), deepest first.
    std::size_t end = i;
    const GougeFinding* deepest = &findings[i];
    // Of gouges as deep, one against a wall of the piece's own run: a pass run again finds the
    // same notch in the walls of the passes before, and says it as its own.
    const auto own = [](const GougeFinding& f) {
      return f.kind != crc::GOUGE_LATER_CONTOUR && f.kind != crc::GOUGE_EARLIER_CONTOUR;
    };
    while (end < findings.size() && findings[end].pieceId == findings[i].pieceId) {
      const GougeFinding& f = findings[end];
      const double margin = 1e-12 * std::max(1.0, f.radius);
      if (f.depth > deepest->depth + margin ||
          (f.depth >= deepest->depth - margin && own(f) && !own(*deepest))) {
        deepest = &f;
      }
      least =
          least == nullptr || findings[end].clearance < least->clearance ? &findings[end] : least;
      ++end;
    }
    const GougeFinding& finding = *deepest;
    const PlaceFrom& piece = placeOf(finding.pieceId);
    const PlaceFrom& wall = placeOf(finding.wallId);
    GougeRecord record;
    record.file = piece.where.file;
    record.line = lineOf(finding.pieceId);
    record.wallFile = wall.where.file;
    record.wallLine = lineOf(finding.wallId);
    record.point = finding.wallPoint;
    record.toolPoint = finding.toolPoint;
    record.depth = finding.depth;
    record.clearance = finding.clearance;
    record.radius = finding.radius;
    record.kind = KindName(finding.kind);
    const auto name = [&](const PlaceFrom& place, std::int64_t id) {
      return place.where.file == record.file
                 ? std::to_string(lineOf(id))
                 : language::FormatPlace({place.where.file, lineOf(id)}, 0, {}, m_Messages.Name());
    };
    const std::string against = name(wall, finding.wallId);
    std::vector<std::string> others;
    for (std::size_t j = i; j < end; ++j) {
      const std::string other = name(placeOf(findings[j].wallId), findings[j].wallId);
      if (other != against && std::find(others.begin(), others.end(), other) == others.end()) {
        others.push_back(other);
        record.alsoAgainst.push_back(other);
      }
    }
    i = end;
    std::string message = record.kind + ": the tool comes " + Short(finding.depth);
    message += " inside the contour at (" + Short(finding.wallPoint.x);
    message += ", " + Short(finding.wallPoint.y) + "): block " + std::to_string(record.line);
    message += " against block " + against;
    for (std::size_t o = 0; o < others.size(); ++o) {
      message +=
          (o == 0 ? (others.size() == 1 ? " and block " : " and blocks ") : ", ") + others[o];
    }
    const std::string key = record.file + '\n' + record.wallFile + '\n' + message;
    const auto [where, fresh] = seen.emplace(key, said.size());
    if (!fresh) {
      ++said[where->second].record.passes;
      continue;
    }
    const std::string at = language::FormatPlace({record.file, record.line}, 0, piece.callers,
                                                 m_Messages.Name(), m_Reading.Language());
    said.push_back({std::move(record), std::move(message),
                    Hint(finding.kind, std::to_string(lineOf(finding.pieceId)), against), at});
  }
  for (Said& one : said) {
    std::string message = one.message;
    if (one.record.passes > 1) {
      message += " (" + std::to_string(one.record.passes) + " passes)";
    }
    if (!one.hint.empty()) {
      message += "; " + one.hint;
    }
    // Marked on the page from the tool centre to the point of the wall it cuts into.
    WarningRecord warning;
    warning.file = one.record.file;
    warning.line = one.record.line;
    warning.message = message;
    warning.hasGeometry = true;
    warning.segment.from = one.record.toolPoint;
    warning.segment.to = one.record.point;
    m_Messages.Warning(warning, [&] { return one.at; });
    records.push_back(std::move(one.record));
  }
  const char* outcome = m_Options.allowGouge
                            ? "written all the same (--allow-gouge)"
                            : "the compensated program is not written (--allow-gouge writes it)";
  if (!measured) {
    m_Messages.RunWarning(
        "the tool path could not be checked for gouges: " + failure + ": " + outcome, false);
  }
  if (least != nullptr) {
    m_Messages.RunWarning(std::to_string(records.size()) + " gouge" +
                              (records.size() == 1 ? "" : "s") + ", minimum clearance " +
                              Short(least->clearance) + " for a cutter radius of " +
                              Short(least->radius) + ": " + outcome,
                          false);
  }
  if (open) {
    // The picture shows which stretches of the contour are no walls.
    std::vector<crc::OpenStretch> stretches;
    m_Check.OpenStretches(stretches);
    static const char* const WHY[] = {"lead", "roughing", "above the work"};
    for (const crc::OpenStretch& stretch : stretches) {
      OpenRecord record;
      record.line = static_cast<std::size_t>(stretch.segmentId & 0xffffffff);
      record.curve.from = stretch.curve.from;
      record.curve.to = stretch.curve.to;
      record.curve.arc = stretch.curve.arc;
      record.curve.centre = stretch.curve.centre;
      record.curve.ccw = stretch.curve.ccw;
      record.curve.fullCircle = stretch.curve.fullCircle;
      record.curve.radius =
          stretch.curve.arc ? (stretch.curve.from - stretch.curve.centre).GetLength() : 0.0;
      record.why = WHY[stretch.why];
      result.open.push_back(std::move(record));
    }
  }
  return measured && findings.empty() ? Status::OK : Status::GOUGE;
}

}  // namespace cutcomp::cli
