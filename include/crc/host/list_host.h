// SPDX-License-Identifier: MIT
/// @file
/// The one list-backed host of the engine, shared by the command-line tool, the one-call API
/// (crc/path.h), the bindings, the examples and the tests. It keeps the segments of a program in
/// a list, pulls programmed segments from a source only when the engine asks for a successor,
/// inserts copies of the lines the engine hands it, records the engine's notices on request, and
/// walks the list calling AdjustNode the way a controller does. Segments are handed to a sink and
/// dropped as soon as they are final, and nothing else is kept per segment unless asked for, so
/// memory stays bounded however long the program is.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <crc/compensator/crc_translator.h>
#include <crc/compensator/cutter_compensator.h>
#include <crc/export.h>
#include <crc/nodes/crc_line.h>
#include <crc/nodes/crc_node.h>

#include "node_pool.h"

/// @namespace cutcomp
/// The host side of libcutcomp: the list-backed host that drives the engine (ListHost), the one
/// model of a tool-centre path read back from its segments (PathPiece) and chord fitting of CAM
/// output (ChordFitter). Everything here is built on the engine's public interface in namespace
/// crc.
namespace cutcomp {

/// One segment of the host's sequence.
struct HostSegment {
  std::unique_ptr<crc::CCrcNode> node;  ///< the segment, owned by the host
  /// The source's id of a programmed segment; for a line the engine inserted, the id of the
  /// segment it was inserted for (the anchor of the insertion).
  std::int64_t id = -1;
  bool inserted = false;  ///< a copy of a line the engine handed to the host
};

/// What the engine told the host besides inserting lines.
struct HostNotice {
  /// What the notice says.
  enum Kind {
    INSERT_BEFORE,             ///< a line was inserted before its anchor
    INSERT_AFTER,              ///< a line was inserted after its anchor
    SET_END_POINT,             ///< the run ended without a cancel segment; the tool stays at (x, y)
    FINISH                     ///< the run was closed at the end of the sequence
  } kind;                      ///< what the notice says
  std::int64_t anchorId = -1;  ///< INSERT_*: id of the anchor segment
  double x = 0.0;              ///< SET_END_POINT: where the tool stays
  double y = 0.0;              ///< SET_END_POINT: where the tool stays
};

/// Where a run stopped.
struct HostFailure {
  std::int64_t id = -1;   ///< id of the segment AdjustNode refused
  bool inserted = false;  ///< the refused segment was a line the engine inserted
  int code = 0;           ///< the engine's message number (0: silent failure)
  std::string message;    ///< the engine's message text (UTF-8)
};

/// The list-backed translator: pulls programmed segments from a Source on demand, keeps the few
/// the engine is working on, inserts copies of the lines the engine hands it and passes every
/// final segment to a Sink. The engine keeps a pointer to its translator: the host must outlive
/// the runs it serves. One thread at a time.
class CRC_API ListHost : public crc::CCrcTranslator {
public:
  /// Pulls the next programmed segment: returns false when the program has no more. It is
  /// called only while the engine asks for a successor, and never again once it returned false.
  using Source = std::function<bool(std::unique_ptr<crc::CCrcNode>& node, std::int64_t& id)>;
  /// Receives each final segment, in sequence order (inserted lines included). It may move the
  /// node out; a node left in place is freed (or recycled into the pool, see UsePool).
  using Sink = std::function<void(HostSegment& segment)>;

  /// A host over the segments `source` gives. May throw what copying `source` throws.
  explicit ListHost(Source source);
  /// A host over a fixed program; ids are the indices into `program`.
  static Source FromVector(std::vector<std::unique_ptr<crc::CCrcNode>> program);

  /// Walks the sequence, adjusting every segment in order, until the source is exhausted or
  /// AdjustNode fails. Everything final before a failure has reached the sink; the refused
  /// segment and those after it stay in the host (Pending()). `failure`, when given, receives
  /// the place and the engine's message of a refusal. The engine's translator is set to this
  /// host. May throw what the source and the sink throw, and std::bad_alloc.
  bool Run(crc::CCutterCompensator& engine, const Sink& sink, HostFailure* failure = nullptr);

  /// What one Step did.
  enum StepResult {
    STEP_ADJUSTED,  ///< a segment was adjusted and handed to the sink
    STEP_DONE,      ///< the host holds nothing and the source has no more
    STEP_FAILED     ///< AdjustNode refused the front segment (see Run)
  };
  /// One step of Run: adjusts the segment at the front of the sequence (pulling one first when
  /// the host holds none) and hands it to the sink. A host fed by a source that learns its
  /// segments over time (a push interface) steps only while the source holds the three
  /// segments a step may pull (the front, its successor and, with evasion, the successor's
  /// successor): a source that reports no more is never asked again, and the engine takes the
  /// missing successor for the end of the sequence. Same arguments and throws as Run.
  StepResult Step(crc::CCutterCompensator& engine, const Sink& sink, HostFailure* failure);

  /// Every notice of the run, in order, when asked for before Run. A streaming host leaves this
  /// off: the engine inserts up to three lines at every sharp outside corner, and a list of them
  /// grows with the program.
  void KeepNotices(bool keep) { m_KeepNotices = keep; }
  /// The notices kept (empty unless KeepNotices(true)).
  const std::vector<HostNotice>& Notices() const { return m_Notices; }
  /// The segments the host holds: after a failure, the refused one and those after it.
  const std::deque<HostSegment>& Pending() const { return m_Segments; }
  /// Copies of inserted lines are made in the pool's storage, and a final segment's node the
  /// sink leaves in place goes back to it (none: plain allocation). The pool must outlive the
  /// host's runs.
  void UsePool(NodePool* pool) { m_Pool = pool; }
  /// The most segments the host held at once during Run (a measure of its look-ahead).
  std::size_t PeakHeld() const { return m_PeakHeld; }

  /// The engine's callbacks (see crc::CCrcTranslator). GetNextNode pulls from the source when
  /// the successor is not held yet; InsertNode ignores an anchor the host does not hold.
  ///@{
  crc::CCrcNode* GetNextNode(crc::CCrcNode* node) override;
  void InsertNode(crc::CCrcNode* anchor, crc::CCrcLine& line, const bool& before) override;
  void SetCrcEndPoint(double x, double y) override;
  void CrcFinish() override;
  ///@}

private:
  std::deque<HostSegment>::iterator Find(const crc::CCrcNode* node);
  bool Pull();
  void Notice(const HostNotice& notice);

  Source m_Source;
  bool m_Exhausted = false;
  // Few at a time: the segment being adjusted, its successor, and lines inserted between them.
  std::deque<HostSegment> m_Segments;
  NodePool* m_Pool = nullptr;
  bool m_KeepNotices = false;
  std::vector<HostNotice> m_Notices;
  std::size_t m_PeakHeld = 0;
};

/// Convenience for tests and small hosts: the result of RunProgram.
struct HostRun {
  bool ok = false;                    ///< every segment was adjusted
  HostFailure failure;                ///< where the run stopped, when not ok
  std::vector<HostSegment> segments;  ///< final segments, in order
  std::vector<HostSegment> pending;   ///< what was left in the host after a failure
  std::vector<HostNotice> notices;    ///< every notice, in order
};
/// Runs a whole program through a ListHost and returns every final segment in order (inserted
/// lines included) and every notice. May throw std::bad_alloc.
CRC_API HostRun RunProgram(crc::CCutterCompensator& engine,
                           std::vector<std::unique_ptr<crc::CCrcNode>> program);

}  // namespace cutcomp
