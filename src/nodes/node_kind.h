// SPDX-License-Identifier: MIT
// The one rule by which the engine tells lines from arcs. The kind field is host-settable, so a
// segment counts as a line only when the field says NODE_LINE and the object is a CCrcLine (or
// derived from it), and as an arc only when the field says NODE_ARC and the object is a CCrcArc;
// a segment whose field disagrees with its class counts as neither, exactly like a segment of
// kind NODE_NONE. Every kind test in the engine goes through these functions.
#pragma once

#include <typeinfo>

#include <crc/nodes/crc_arc.h>
#include <crc/nodes/crc_line.h>

namespace crc {

namespace detail {
// The object's class is T or derives from T. The library's own classes are recognised by their
// type_info alone, without a cast that walks the class hierarchy; a host's own subclasses take
// the dynamic cast.
template <typename T>
const T* OfClass(const CCrcNode* node) {
  if (&typeid(*node) == &typeid(T)) {
    return static_cast<const T*>(node);
  }
  return dynamic_cast<const T*>(node);
}
}  // namespace detail

inline const CCrcLine* AsLine(const CCrcNode* node) {
  return node != nullptr && node->GetNodeType() == NODE_LINE ? detail::OfClass<CCrcLine>(node)
                                                             : nullptr;
}

inline const CCrcArc* AsArc(const CCrcNode* node) {
  return node != nullptr && node->GetNodeType() == NODE_ARC ? detail::OfClass<CCrcArc>(node)
                                                            : nullptr;
}

inline CCrcLine* AsLine(CCrcNode* node) {
  return const_cast<CCrcLine*>(AsLine(static_cast<const CCrcNode*>(node)));
}

inline CCrcArc* AsArc(CCrcNode* node) {
  return const_cast<CCrcArc*>(AsArc(static_cast<const CCrcNode*>(node)));
}

// The segment's kind under that rule: NODE_LINE, NODE_ARC or NODE_NONE.
inline node_t KindOf(const CCrcNode* node) {
  if (AsLine(node) != nullptr) {
    return NODE_LINE;
  }
  return AsArc(node) != nullptr ? NODE_ARC : NODE_NONE;
}

// A positioning move: a line with its locate flag set.
inline bool IsLocateLine(const CCrcNode* node) {
  const CCrcLine* line = AsLine(node);
  return line != nullptr && line->IsLocate();
}

}  // namespace crc
