// SPDX-License-Identifier: MIT
// The gouge check: the contour and the pieces kept per frame, audited at the end.
#include "gouge_check.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace cutcomp::cli {

void GougeCheck::PieceStore::Add(const crc::Curve& tool, double radius, double low,
                                 std::int64_t id) {
  std::uint8_t flags = 0;
  // exact: a piece that starts where the last one ended is the usual case, and it is stored
  // only when the start is that very point
  if (tool.from.x != m_LastTo.x || tool.from.y != m_LastTo.y) {  // always for the first
    flags |= OWN_FROM;
    m_Extra.push_back(tool.from.x);
    m_Extra.push_back(tool.from.y);
  }
  if (tool.arc) {
    flags |= ARC | (tool.ccw ? CCW : 0) | (tool.fullCircle ? FULL : 0);
    m_Extra.push_back(tool.centre.x);
    m_Extra.push_back(tool.centre.y);
  }
  if (radius != m_LastRadius) {  // exact: a change of the stored value; always for the first
    flags |= NEW_RADIUS;
    m_Extra.push_back(radius);
  }
  // exact: a change of the stored value; two unknown heights are the same
  if (m_Empty || !(low == m_LastLow || (std::isnan(low) && std::isnan(m_LastLow)))) {
    flags |= NEW_LOW;
    m_Extra.push_back(low);
    m_LastLow = low;
  }
  m_Empty = false;
  // Ids are the driver's and may be anything; the difference wraps instead of overflowing.
  const auto step = static_cast<std::int64_t>(static_cast<std::uint64_t>(id) -
                                              static_cast<std::uint64_t>(m_LastId));
  if (step != m_LastStep || m_Steps.empty()) {
    flags |= NEW_STEP;
    m_Steps.push_back(step);
    m_LastStep = step;
  }
  m_Ends.push_back(tool.to);
  m_Flags.push_back(flags);
  m_LastTo = tool.to;
  m_LastRadius = radius;
  m_LastId = id;
}

template <typename Visit>
void GougeCheck::PieceStore::ForEach(Visit&& visit) const {
  crc::ToolPiece piece;
  auto extra = m_Extra.begin();
  auto flag = m_Flags.begin();
  auto steps = m_Steps.begin();
  std::uint64_t id = 0;
  std::uint64_t step = 0;
  for (const Point& to : m_Ends) {
    const std::uint8_t flags = *flag++;
    piece.tool.from = piece.tool.to;
    if ((flags & OWN_FROM) != 0) {
      piece.tool.from.x = *extra++;
      piece.tool.from.y = *extra++;
    }
    piece.tool.arc = (flags & ARC) != 0;
    if (piece.tool.arc) {
      piece.tool.centre.x = *extra++;
      piece.tool.centre.y = *extra++;
    }
    piece.tool.ccw = (flags & CCW) != 0;
    piece.tool.fullCircle = (flags & FULL) != 0;
    if ((flags & NEW_RADIUS) != 0) {
      piece.radius = *extra++;
    }
    if ((flags & NEW_LOW) != 0) {
      piece.low = *extra++;
    }
    if ((flags & NEW_STEP) != 0) {
      step = static_cast<std::uint64_t>(*steps++);
    }
    id += step;
    piece.tool.to = to;
    piece.id = static_cast<std::int64_t>(id);
    if (!visit(piece)) {
      return;
    }
  }
}

std::size_t GougeCheck::PieceStore::MemoryUsage() const {
  return m_Ends.size() * sizeof(Point) + m_Flags.size() + m_Extra.size() * sizeof(double) +
         m_Steps.size() * sizeof(std::int64_t);
}

void GougeCheck::BeginRun(Plane plane, Units units, std::uint64_t frame, bool turning) {
  std::unique_ptr<Frame>& slot =
      m_Frames[std::make_tuple(static_cast<int>(plane), static_cast<int>(units), frame)];
  if (!slot) {
    const double fallback =
        units == Units::INCH ? DEFAULT_GOUGE_TOLERANCE_INCH : DEFAULT_GOUGE_TOLERANCE_MM;
    slot = std::make_unique<Frame>(m_Tolerance.value_or(fallback));
  }
  m_Current = slot.get();
  m_Storing = m_Current->failed || !m_Abandoned.empty() ? nullptr : m_Current;
  if (turning && plane == Plane::ZX && !m_Current->turning) {
    // The plane's first axis is Z, its second X (a radius): a lathe turns toward the chuck and
    // faces toward the axis.
    m_Current->turning = true;
    m_Current->audit.AddStockFeed({-1.0, 0.0});  // before auditing: cannot fail
    m_Current->audit.AddStockFeed({0.0, -1.0});
  }
}

crc::ContourSegment ContourSegmentOf(const crc::CCrcNode& node, double radius, double low,
                                     std::int64_t id) {
  crc::ContourSegment segment;
  segment.curve = ProgrammedCurve(node);
  segment.id = id;
  segment.phase = node.GetStatusType();
  segment.locate =
      node.GetNodeType() == crc::NODE_LINE && static_cast<const crc::CCrcLine&>(node).IsLocate();
  // A negative radius puts the tool on the other side, as the engine offsets it.
  const crc::crc_dir_t dir = node.GetCrcDirType();
  segment.side = radius >= 0.0               ? dir
                 : dir == crc::CRC_DIR_LEFT  ? crc::CRC_DIR_RIGHT
                 : dir == crc::CRC_DIR_RIGHT ? crc::CRC_DIR_LEFT
                                             : crc::CRC_DIR_NONE;
  segment.radius = std::fabs(radius);
  segment.low = low;
  return segment;
}

void GougeCheck::Segment(const crc::CCrcNode& node, double radius, double low, bool rapid,
                         std::int64_t id) {
  if (m_Storing == nullptr) {
    return;
  }
  crc::ContourSegment segment = ContourSegmentOf(node, radius, low, id);
  segment.rapid = rapid;
  if (!m_Storing->audit.AddSegment(segment)) {
    m_Storing->failed = true;
    m_Storing->failure = m_Storing->audit.GetLatestError();
    m_Storing = nullptr;
  }
}

void GougeCheck::Piece(const cutcomp::Curve& tool, double radius, double low, std::int64_t id) {
  if (m_Storing != nullptr) {
    m_Storing->pieces.Add(tool, radius, low, id);
  }
}

bool GougeCheck::Run(std::vector<GougeFinding>& findings, std::string& failure) {
  if (!m_Abandoned.empty()) {
    failure = m_Abandoned;
    return false;
  }
  std::vector<crc::Gouge> gouges;
  for (auto& entry : m_Frames) {
    Frame& frame = *entry.second;
    if (!frame.failed && !frame.audit.SetWorkTop(m_WorkTop)) {
      frame.failed = true;
      frame.failure = frame.audit.GetLatestError();
    }
    if (!frame.failed) {
      frame.pieces.ForEach([&](const crc::ToolPiece& piece) {
        gouges.clear();
        if (!frame.audit.AuditPiece(piece, nullptr, &gouges)) {
          frame.failed = true;
          m_Storing = m_Storing == &frame ? nullptr : m_Storing;
          frame.failure = frame.audit.GetLatestError();
          return false;
        }
        for (const crc::Gouge& gouge : gouges) {
          findings.push_back({gouge.pieceId, gouge.segmentId, gouge.wallPoint, gouge.toolPoint,
                              gouge.clearance, piece.radius, gouge.depth, gouge.kind});
        }
        return true;
      });
    }
    if (frame.failed && failure.empty()) {
      failure = frame.failure;
    }
  }
  std::stable_sort(
      findings.begin(), findings.end(),
      [](const GougeFinding& a, const GougeFinding& b) { return a.pieceId < b.pieceId; });
  return failure.empty();
}

void GougeCheck::OpenStretches(std::vector<crc::OpenStretch>& out) {
  for (auto& entry : m_Frames) {
    Frame& frame = *entry.second;
    if (!frame.failed) {
      frame.audit.GetOpenStretches(out);  // out of memory: the picture shows fewer
    }
  }
}

std::size_t GougeCheck::MemoryUsage() const {
  std::size_t bytes = 0;
  for (const auto& entry : m_Frames) {
    bytes += entry.second->audit.GetMemoryUsage() + entry.second->pieces.MemoryUsage();
  }
  return bytes;
}

}  // namespace cutcomp::cli
