// SPDX-License-Identifier: MIT
// The look-behind list's storage: appending, overwriting the oldest entry, and the pieces the
// interference check reads. What the check decides lives in interference.cpp.
#include "compensator/workspace.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <typeinfo>

#include "geometry/tolerance.h"
#include "nodes/node_kind.h"

namespace crc {

namespace {
__point2<double> Settled(const __point2<double>& programmed, const __point2<double>& moved) {
  return IsRefusedPoint(moved) ? programmed : moved;
}

// Two offset chords can only count as interfering when a point of the stored one comes within
// EPSILON of the new one (shared or touching ends, a crossing found near one of them) or passes
// the test that a point lies between the new chord's ends: the unit vectors from its start to
// the point and from the point to its end agree within EPSILON, which leaves the point at most
// 0.5e-6 times the chord's length off it. (A crossing found within EPSILON of the stored
// chord's own ends never counts.) Each box is therefore widened by EPSILON plus 1e-6 times its
// chord's length, plus 1e-10 times its largest coordinate magnitude for rounding (the crossing
// point and the widened bounds are off by about 1e-16 times that): when two widened boxes do
// not overlap, the full test cannot find interference and is skipped. An infinite or undefined
// coordinate or length makes the bounds infinite or undefined, no comparison holds, and the
// full test runs.
Box BoxOf(const LinePiece& piece) {
  const double minX = std::min(piece.start.x, piece.end.x);
  const double minY = std::min(piece.start.y, piece.end.y);
  const double maxX = std::max(piece.start.x, piece.end.x);
  const double maxY = std::max(piece.start.y, piece.end.y);
  const double extent = std::max(std::max(std::fabs(minX), std::fabs(maxX)),
                                 std::max(std::fabs(minY), std::fabs(maxY)));
  const double reach = EPSILON + 1e-6 * piece.length + 1e-10 * (1.0 + extent);
  return {minX - reach, minY - reach, maxX + reach, maxY + reach};
}

// Overwrites the oldest clone with the node when both are of the same one of the library's own
// classes; a host's own subclass is cloned through its virtual Clone instead.
bool OverwriteOldest(LookBehindList& list, const CCrcNode* node) {
  // The clone was made non-const by Clone; the list only holds it as const.
  auto* oldest = const_cast<CCrcNode*>(list.front().get());
  const std::type_info& type = typeid(*node);
  if (&typeid(*oldest) != &type) {
    return false;
  }
  if (&type == &typeid(CCrcLine)) {
    *static_cast<CCrcLine*>(oldest) = *static_cast<const CCrcLine*>(node);
    return true;
  }
  if (&type == &typeid(CCrcArc)) {
    *static_cast<CCrcArc*>(oldest) = *static_cast<const CCrcArc*>(node);
    return true;
  }
  return false;
}

// Room for one more element, growing geometrically.
template <typename T>
void Reserve(std::vector<T>& v) {
  if (v.size() == v.capacity()) {
    v.reserve(v.empty() ? 4 : 2 * v.size());
  }
}

// Puts the node in the place of the oldest entry when OverwriteOldest can: the spare slot (where
// the interference check may have described the node already) becomes the newest entry's and
// the oldest entry's slot the spare.
bool Overwrite(CompensatorWorkspace& storage, LookBehindList& list, const CCrcNode* node,
               bool afterCheck);

// Appends a clone of the node, dropping the oldest entries beyond capacity - 1 first. False,
// with the list's entries unchanged, when there is no memory for the clone or the storage.
bool Grow(CompensatorWorkspace& storage, LookBehindList& list, unsigned int capacity,
          const CCrcNode* node);

// Moves the oldest entry to the back of the list, keeping the others in order.
void RotateOldestToBack(LookBehindList& list) {
  for (std::size_t i = 0; i + 1 < list.size(); ++i) {
    list[i].swap(list[i + 1]);
  }
}

bool Overwrite(CompensatorWorkspace& storage, LookBehindList& list, const CCrcNode* node,
               bool afterCheck) {
  if (!OverwriteOldest(list, node)) {
    return false;
  }
  std::vector<LookBehindPiece>& slots = storage.slots;
  if (!afterCheck || storage.checkedNode != node) {
    slots[storage.Spare()].Describe(node);
  }
  storage.checkedNode = nullptr;
  storage.oldest = storage.oldest + 1 == slots.size() ? 0 : storage.oldest + 1;
  RotateOldestToBack(list);
  return true;
}

bool Grow(CompensatorWorkspace& storage, LookBehindList& list, unsigned int capacity,
          const CCrcNode* node) {
  std::unique_ptr<const CCrcNode> clone(node->Clone());
  if (!clone) {
    return false;
  }
  std::vector<LookBehindPiece>& slots = storage.slots;
  storage.Normalise();
  try {
    Reserve(list);
    Reserve(slots);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (list.size() >= capacity) {
    const auto surplus = static_cast<std::ptrdiff_t>(list.size() - capacity + 1);
    list.erase(list.begin(), list.begin() + surplus);
    slots.erase(slots.begin(), slots.begin() + surplus);
  }
  // The clone is described rather than the node: for a host's own class, Clone decides what the
  // list holds. The spare becomes the new entry, and a new spare follows it.
  slots.back().Describe(clone.get());
  list.push_back(std::move(clone));
  slots.emplace_back();
  return true;
}

}  // namespace

Ends LineEnds(const CCrcLine& line) {
  return {Settled(line.GetStartPoint(), line.GetStartPointMoved()),
          Settled(line.GetEndPoint(), line.GetEndPointMoved())};
}

CCrcLine OffsetLineCopy(const CCrcLine& line) {
  CCrcLine copy(line);
  copy.SetStartPoint(line.GetStartPointMoved());
  copy.SetEndPoint(line.GetEndPointMoved());
  return copy;
}

CCrcArc OffsetArcCopy(const CCrcArc& arc) {
  return CCrcArc(arc.GetCenterPoint(), arc.GetStartPointMoved(), arc.GetEndPointMoved(),
                 arc.GetRadiusMoved(), arc.GetDirection(), arc.GetStatusType(),
                 arc.GetCrcDirType());
}

void LookBehindPiece::DescribeLine(const CCrcLine& node) {
  kind = NODE_LINE;
  const Ends ends = LineEnds(node);
  line = LinePiece(ends.start, ends.end);
  box = BoxOf(line);
}

void LookBehindPiece::DescribeArc(const CCrcArc& node) {
  kind = NODE_ARC;
  arc = OffsetArcCopy(node);
}

void LookBehindPiece::Describe(const CCrcNode* node) {
  if (const CCrcLine* asLine = AsLine(node)) {
    DescribeLine(*asLine);
  } else if (const CCrcArc* asArc = AsArc(node)) {
    DescribeArc(*asArc);
  } else {
    kind = NODE_NONE;
  }
}

void CompensatorWorkspace::Normalise() {
  std::rotate(slots.begin(), slots.begin() + static_cast<std::ptrdiff_t>(oldest), slots.end());
  oldest = 0;
}

void CompensatorWorkspace::Clear() {
  // Shrinking never allocates; a workspace without slots is rebuilt when next needed.
  if (slots.size() > 1) {
    slots.resize(1);
  }
  oldest = 0;
  checkedNode = nullptr;
}

CompensatorWorkspace* WorkspaceOf(std::unique_ptr<CompensatorWorkspace>& workspace) {
  if (!workspace) {
    workspace.reset(new (std::nothrow) CompensatorWorkspace);
  }
  return workspace.get();
}

CompensatorWorkspace* RebuiltCache(const LookBehindList& list,
                                   std::unique_ptr<CompensatorWorkspace>& cache) {
  if (WorkspaceOf(cache) == nullptr) {
    return nullptr;
  }
  cache->oldest = 0;
  cache->checkedNode = nullptr;
  try {
    cache->slots.resize(list.size() + 1);
  } catch (const std::bad_alloc&) {
    cache->slots.clear();
    return nullptr;
  }
  for (std::size_t i = 0; i < list.size(); ++i) {
    cache->slots[i].Describe(list[i].get());
  }
  return cache.get();
}

void AppendToLookBehind(LookBehindList& list, std::unique_ptr<CompensatorWorkspace>& cache,
                        unsigned int capacity, const CCrcNode* node, bool afterCheck) {
  if (capacity == 0 || node == nullptr) {
    return;
  }
  CompensatorWorkspace* storage = CacheOf(list, cache);
  if (storage == nullptr) {
    return;  // no memory for the list's storage: it looks back over nothing
  }
  if (list.size() == capacity && Overwrite(*storage, list, node, afterCheck)) {
    return;
  }
  storage->checkedNode = nullptr;
  if (Grow(*storage, list, capacity, node)) {
    return;
  }
  // Out of memory: the list cannot take one more entry. It keeps looking back over the newest
  // segments, fewer of them: the node takes the oldest entry's place, or the oldest entry goes.
  if (!list.empty() && !Overwrite(*storage, list, node, afterCheck)) {
    storage->Normalise();
    list.erase(list.begin());
    storage->slots.erase(storage->slots.begin());
  }
}

}  // namespace crc
