// SPDX-License-Identifier: MIT
// Checked views of a segment by kind. The kind field is host-settable, so it is confirmed by
// the dynamic type before a segment is used as a line or an arc.
#pragma once

#include <crc/nodes/crc_arc.h>
#include <crc/nodes/crc_line.h>

namespace crc {

inline const CCrcLine* AsLine(const CCrcNode* node) {
  return node != nullptr && node->GetNodeType() == NODE_LINE ? dynamic_cast<const CCrcLine*>(node)
                                                             : nullptr;
}

inline const CCrcArc* AsArc(const CCrcNode* node) {
  return node != nullptr && node->GetNodeType() == NODE_ARC ? dynamic_cast<const CCrcArc*>(node)
                                                            : nullptr;
}

// A positioning move: a line with its locate flag set.
inline bool IsLocateLine(const CCrcNode* node) {
  const CCrcLine* line = AsLine(node);
  return line != nullptr && line->IsLocate();
}

}  // namespace crc
