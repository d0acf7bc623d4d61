// SPDX-License-Identifier: MIT
// The one list-backed host of the engine, shared by the command-line tool, the examples and
// the tests. It keeps the segments of a program in a list, pulls programmed segments from a
// source only when the engine asks for a successor, inserts copies of the lines the engine
// hands it, records the engine's notices on request, and walks the list calling AdjustNode the
// way a controller does. Segments are handed to a sink and dropped as soon as they are final,
// and nothing else is kept per segment unless asked for, so memory stays bounded however long
// the program is.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <crc/crc.h>

#include "node_pool.h"

namespace cutcomp {

// One segment of the host's sequence.
struct HostSegment {
  std::unique_ptr<crc::CCrcNode> node;
  // The source's id of a programmed segment; for a line the engine inserted, the id of the
  // segment it was inserted for (the anchor of the insertion).
  std::int64_t id = -1;
  bool inserted = false;
};

// What the engine told the host besides inserting lines.
struct HostNotice {
  enum Kind { INSERT_BEFORE, INSERT_AFTER, SET_END_POINT, FINISH } kind;
  std::int64_t anchorId = -1;  // INSERT_*: id of the anchor segment
  double x = 0.0;              // SET_END_POINT
  double y = 0.0;
};

// Where a run stopped.
struct HostFailure {
  std::int64_t id = -1;   // id of the segment AdjustNode refused
  bool inserted = false;  // the refused segment was a line the engine inserted
  int code = 0;           // the engine's message number (0: silent failure)
  std::string message;    // the engine's message text (UTF-8)
};

class ListHost : public crc::CCrcTranslator {
public:
  // Pulls the next programmed segment: returns false when the program has no more.
  using Source = std::function<bool(std::unique_ptr<crc::CCrcNode>& node, std::int64_t& id)>;
  // Receives each final segment, in sequence order (inserted lines included).
  using Sink = std::function<void(HostSegment& segment)>;

  explicit ListHost(Source source);
  // A host over a fixed program; ids are the indices into `program`.
  static Source FromVector(std::vector<std::unique_ptr<crc::CCrcNode>> program);

  // Walks the sequence, adjusting every segment in order, until the source is exhausted or
  // AdjustNode fails. Everything final before a failure has reached the sink; the refused
  // segment and those after it stay in the host (Pending()).
  bool Run(crc::CCutterCompensator& engine, const Sink& sink, HostFailure* failure = nullptr);

  // Every notice of the run, in order, when asked for before Run. A streaming host leaves this
  // off: the engine inserts up to three lines at every sharp outside corner, and a list of them
  // grows with the program.
  void KeepNotices(bool keep) { m_KeepNotices = keep; }
  // The notices kept (empty unless KeepNotices(true)).
  const std::vector<HostNotice>& Notices() const { return m_Notices; }
  const std::deque<HostSegment>& Pending() const { return m_Segments; }
  // Copies of inserted lines are made in the pool's storage, and a final segment's node the
  // sink leaves in place goes back to it (none: plain allocation).
  void UsePool(NodePool* pool) { m_Pool = pool; }
  // The most segments the host held at once during Run (a measure of its look-ahead).
  std::size_t PeakHeld() const { return m_PeakHeld; }

  crc::CCrcNode* GetNextNode(crc::CCrcNode* node) override;
  void InsertNode(crc::CCrcNode* anchor, crc::CCrcLine& line, const bool& before) override;
  void SetCrcEndPoint(double x, double y) override;
  void CrcFinish() override;

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

// Convenience for tests and small hosts: runs a whole program and returns every final segment
// in order (inserted lines included) and every notice.
struct HostRun {
  bool ok = false;
  HostFailure failure;
  std::vector<HostSegment> segments;  // final segments, in order
  std::vector<HostSegment> pending;   // what was left in the host after a failure
  std::vector<HostNotice> notices;
};
HostRun RunProgram(crc::CCutterCompensator& engine,
                   std::vector<std::unique_ptr<crc::CCrcNode>> program);

}  // namespace cutcomp
