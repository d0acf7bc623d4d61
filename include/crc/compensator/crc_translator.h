// SPDX-License-Identifier: MIT
/// @file
/// The host's side of the engine: the callback interface through which the compensator reads
/// successors from the host's sequence, hands it inserted lines and reports the end of a run.
#pragma once

#include <string>

#include <crc/export.h>
#include <crc/nodes/crc_line.h>

namespace crc {

/// The callback interface a host implements over its own sequence of segments.
///
/// The host owns the translator; a compensator only keeps a pointer to it
/// (CCutterCompensator::SetTranslator) and never deletes it, so the translator must outlive
/// every AdjustNode call made with it. The engine calls these from inside AdjustNode, on the
/// caller's thread, and never re-enters itself from them; a callback must not call back into the
/// same compensator either. A callback may throw: AdjustNode catches the exception and fails with
/// message 16 (see CCutterCompensator).
class CRC_API CCrcTranslator {
public:
  virtual ~CCrcTranslator();

  /// The live segment that follows `node` in the host's sequence, or null when there is none
  /// (yet). The engine writes offset points into it, so it must be the object the host will
  /// later pass to AdjustNode. Asked at most once per AdjustNode (never for a cancel segment or a
  /// compensated one); with interference evasion on, the engine may also ask for the successor's
  /// successor.
  virtual CCrcNode* GetNextNode(CCrcNode* node) = 0;
  /// Put a copy of `line` directly before `anchor` (`before` true: corner bridges and start-up
  /// approach lines) or directly after it (false: closing lines at cancel). The line is a
  /// temporary that dies when the call returns, so the host keeps a copy (Clone() serves). It
  /// arrives finished: compensated flag set, its programmed points on the tool-centre path,
  /// offset points unset, locate flag clear; passed to AdjustNode it comes back true at once.
  virtual void InsertNode(CCrcNode* anchor, CCrcLine& line, const bool& before) = 0;
  /// The sequence ended without a cancel segment, with the pre-retract option 1: the last
  /// segment was made the cancel segment and the tool stays at (`x`, `y`), its offset end, when
  /// compensation ends. CrcFinish follows.
  virtual void SetCrcEndPoint(double x, double y) = 0;
  /// Compensation was closed at the end of the sequence (no cancel segment), after the closing
  /// line or SetCrcEndPoint, whatever the pre-retract option. Not called when the closing line
  /// could not be made (AdjustNode then fails with message 10).
  virtual void CrcFinish() = 0;

  /// An empty error text.
  CCrcTranslator();
  /// Copying copies the error text.
  ///@{
  CCrcTranslator(const CCrcTranslator& other);
  CCrcTranslator& operator=(const CCrcTranslator& other);
  ///@}

  /// The host's own latest error text; the engine never sets it.
  std::string GetLatestError() const;

protected:
  /// A non-empty `text` replaces the stored one; an empty text leaves it unchanged.
  void SetLatestError(std::string text);

  std::string m_LatestError;  ///< the host's latest error text
};

}  // namespace crc
