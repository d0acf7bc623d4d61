// SPDX-License-Identifier: MIT
// The host's side of the engine: the callback interface through which the compensator reads
// successors from the host's sequence, hands it inserted lines and reports the end of a run.
#pragma once

#include <string>

#include <crc/export.h>
#include <crc/nodes/crc_line.h>

namespace crc {

// The engine calls these from inside AdjustNode, on the caller's thread, and never re-enters
// itself from them. A callback may throw: AdjustNode catches the exception and fails with
// message 16 (see cutter_compensator.h).
class CRC_API CCrcTranslator {
public:
  virtual ~CCrcTranslator();

  // The live segment that follows `node` in the host's sequence, or null when there is none
  // (yet). The engine writes offset points into it, so it must be the object the host will
  // later pass to AdjustNode.
  virtual CCrcNode* GetNextNode(CCrcNode* node) = 0;
  // Put a copy of `line` directly before `anchor` (before = true) or directly after it. The line
  // is a temporary that dies when the call returns; it arrives already compensated.
  virtual void InsertNode(CCrcNode* anchor, CCrcLine& line, const bool& before) = 0;
  // The sequence ended without a cancel segment and the last segment was made the cancel
  // segment: the tool stays at (x, y) when compensation ends.
  virtual void SetCrcEndPoint(double x, double y) = 0;
  // Compensation was closed at the end of the sequence (no cancel segment).
  virtual void CrcFinish() = 0;

  CCrcTranslator();
  CCrcTranslator(const CCrcTranslator& other);
  CCrcTranslator& operator=(const CCrcTranslator& other);

  // The host's own latest error text; the engine never sets it.
  std::string GetLatestError() const;

protected:
  // A non-empty text replaces the stored one; an empty text leaves it unchanged.
  void SetLatestError(std::string text);

  std::string m_LatestError;
};

}  // namespace crc
