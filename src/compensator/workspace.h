// SPDX-License-Identifier: MIT
// Storage the compensator keeps and reuses from segment to segment, so that a long run allocates
// nothing: the look-behind list, that is the owned clones of the last finished segments
// (CCutterCompensator::m_NodeList) and, in step with them, what the interference check reads of
// each (a line's offset chord, an arc's working copy), worked out once per segment instead of
// once per later check. Once the list is full, entries are overwritten in place.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include <crc/compensator/cutter_compensator.h>

#include "geometry/proximity.h"

namespace crc {

using LookBehindList = std::vector<std::unique_ptr<const CCrcNode>>;

// The ends of a segment's tool-centre path as its working copy holds them. A line's copy takes
// its offset points through the point setters, which refuse a half-unset point and keep the
// programmed one; an arc's copy is built from its offset points as they are.
struct Ends {
  __point2<double> start;
  __point2<double> end;
};
Ends LineEnds(const CCrcLine& line);

// Working copies: the offset geometry of a segment as ordinary programmed geometry.
CCrcLine OffsetLineCopy(const CCrcLine& line);
CCrcArc OffsetArcCopy(const CCrcArc& arc);

// An axis-aligned box round a straight piece, widened on every side by the piece's reach (see
// BoxOf in look_behind.cpp).
struct Box {
  double minX = 0.0;
  double minY = 0.0;
  double maxX = 0.0;
  double maxY = 0.0;
};

// Two pieces whose widened boxes do not overlap cannot interfere with each other.
inline bool FarApart(const Box& a, const Box& b) {
  return a.maxX < b.minX || b.maxX < a.minX || a.maxY < b.minY || b.maxY < a.minY;
}

// What the interference check reads of a segment's tool-centre path.
struct LookBehindPiece {
  node_t kind = NODE_NONE;     // by the kind rule; a segment of no kind is never compared
  LinePiece line;              // NODE_LINE: the offset chord, ends as LineEnds gives them
  Box box;                     // NODE_LINE: the box round it
  std::optional<CCrcArc> arc;  // NODE_ARC: the working copy

  void Describe(const CCrcNode* node);
  void DescribeLine(const CCrcLine& node);
  void DescribeArc(const CCrcArc& node);
};

// The pieces of the list's entries and one spare, in a ring: with n entries there are n + 1
// slots, the entries' pieces at ring positions oldest, oldest + 1, ... (modulo n + 1), oldest
// first, and the spare after the newest. The interference check describes the new segment
// into the spare; when the segment then joins a full list, the spare becomes the newest entry
// and the oldest entry's slot the new spare, so that nothing is copied or moved. The check's
// answer does not depend on the order in which it visits the entries.
struct CompensatorWorkspace {
  std::vector<LookBehindPiece> slots;  // entries + 1
  std::size_t oldest = 0;
  // The segment whose piece the check has just described into the spare, if any.
  const CCrcNode* checkedNode = nullptr;

  std::size_t Spare() const {
    const std::size_t at = oldest + slots.size() - 1;
    return at < slots.size() ? at : at - slots.size();
  }
  // The slots in list order, oldest entry first and the spare last.
  void Normalise();
  // An empty list: one spare slot (or none, if there were none), the storage kept for the next
  // run. Never allocates.
  void Clear();
};

// Appends `node` to the list as AddToList describes, holding at most `capacity` entries. With
// `afterCheck`, the piece the interference check has just described for `node` is taken over.
// Makes no allocation once the list is full and the oldest entry is of the node's class (CCrcLine
// or CCrcArc). Never throws: without memory for a new entry the list looks back one segment less.
void AppendToLookBehind(LookBehindList& list, std::unique_ptr<CompensatorWorkspace>& cache,
                        unsigned int capacity, const CCrcNode* node, bool afterCheck);

// The storage for the list's pieces, brought in step with the list when it was changed other
// than through AppendToLookBehind; null when there is no memory for it.
CompensatorWorkspace* RebuiltCache(const LookBehindList& list,
                                   std::unique_ptr<CompensatorWorkspace>& cache);
inline CompensatorWorkspace* CacheOf(const LookBehindList& list,
                                     std::unique_ptr<CompensatorWorkspace>& cache) {
  if (cache && cache->slots.size() == list.size() + 1) {
    return cache.get();
  }
  return RebuiltCache(list, cache);
}

// The compensator's workspace, made when first needed; null when there is no memory for it.
CompensatorWorkspace* WorkspaceOf(std::unique_ptr<CompensatorWorkspace>& workspace);

}  // namespace crc
