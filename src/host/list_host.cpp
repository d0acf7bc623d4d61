// SPDX-License-Identifier: MIT
// The list-backed host: pull on demand, insert copies, walk and flush.
#include <crc/host/list_host.h>

#include <utility>

namespace cutcomp {

ListHost::ListHost(Source source) : m_Source(std::move(source)) {}

ListHost::Source ListHost::FromVector(std::vector<std::unique_ptr<crc::CCrcNode>> program) {
  auto shared = std::make_shared<std::vector<std::unique_ptr<crc::CCrcNode>>>(std::move(program));
  auto index = std::make_shared<std::size_t>(0);
  return [shared, index](std::unique_ptr<crc::CCrcNode>& node, std::int64_t& id) {
    if (*index >= shared->size()) {
      return false;
    }
    id = static_cast<std::int64_t>(*index);
    node = std::move((*shared)[*index]);
    ++*index;
    return true;
  };
}

bool ListHost::Pull() {
  if (m_Exhausted) {
    return false;
  }
  HostSegment segment;
  if (!m_Source || !m_Source(segment.node, segment.id) || !segment.node) {
    m_Exhausted = true;
    return false;
  }
  m_Segments.push_back(std::move(segment));
  if (m_Segments.size() > m_PeakHeld) {
    m_PeakHeld = m_Segments.size();
  }
  return true;
}

std::deque<HostSegment>::iterator ListHost::Find(const crc::CCrcNode* node) {
  // The engine asks about the segment being adjusted or the one after it; both sit near the
  // front because final segments leave the list at once.
  for (auto it = m_Segments.begin(); it != m_Segments.end(); ++it) {
    if (it->node.get() == node) {
      return it;
    }
  }
  return m_Segments.end();
}

crc::CCrcNode* ListHost::GetNextNode(crc::CCrcNode* node) {
  auto it = Find(node);
  if (it == m_Segments.end()) {
    return nullptr;
  }
  ++it;
  if (it == m_Segments.end()) {
    if (!Pull()) {
      return nullptr;
    }
    return m_Segments.back().node.get();
  }
  return it->node.get();
}

void ListHost::InsertNode(crc::CCrcNode* anchor, crc::CCrcLine& line, const bool& before) {
  auto it = Find(anchor);
  if (it == m_Segments.end()) {
    return;  // not ours: nothing to anchor the copy to
  }
  HostSegment copy;
  copy.node = m_Pool != nullptr ? m_Pool->Line(line) : std::unique_ptr<crc::CCrcNode>(line.Clone());
  if (!copy.node) {
    return;
  }
  copy.id = it->id;
  copy.inserted = true;
  Notice({before ? HostNotice::INSERT_BEFORE : HostNotice::INSERT_AFTER, it->id});
  m_Segments.insert(before ? it : std::next(it), std::move(copy));
  if (m_Segments.size() > m_PeakHeld) {
    m_PeakHeld = m_Segments.size();
  }
}

void ListHost::Notice(const HostNotice& notice) {
  if (m_KeepNotices) {
    m_Notices.push_back(notice);
  }
}

void ListHost::SetCrcEndPoint(double x, double y) { Notice({HostNotice::SET_END_POINT, -1, x, y}); }

void ListHost::CrcFinish() { Notice({HostNotice::FINISH, -1}); }

ListHost::StepResult ListHost::Step(crc::CCutterCompensator& engine, const Sink& sink,
                                    HostFailure* failure) {
  engine.SetTranslator(this);
  if (m_Segments.empty() && !Pull()) {
    return STEP_DONE;
  }
  crc::CCrcNode* const adjusted = m_Segments.front().node.get();
  if (!engine.AdjustNode(adjusted)) {
    // An approach line may have been inserted before it, and insertions move the deque's
    // elements: the refused segment is looked up by its node.
    const auto at = Find(adjusted);
    const HostSegment& current = at != m_Segments.end() ? *at : m_Segments.front();
    if (failure != nullptr) {
      failure->id = current.id;
      failure->inserted = current.inserted;
      failure->code = engine.GetLatestErrorCode();
      failure->message = engine.GetLatestError();
    }
    return STEP_FAILED;
  }
  // The front segment is final now: later calls only write into segments after it (their
  // intersect points, lines inserted before or after them).
  HostSegment done = std::move(m_Segments.front());
  m_Segments.pop_front();
  if (sink) {
    sink(done);
  }
  if (m_Pool != nullptr) {
    m_Pool->Recycle(std::move(done.node));
  }
  return STEP_ADJUSTED;
}

bool ListHost::Run(crc::CCutterCompensator& engine, const Sink& sink, HostFailure* failure) {
  for (;;) {
    switch (Step(engine, sink, failure)) {
    case STEP_ADJUSTED:
      break;
    case STEP_DONE:
      return true;
    case STEP_FAILED:
      return false;
    }
  }
}

HostRun RunProgram(crc::CCutterCompensator& engine,
                   std::vector<std::unique_ptr<crc::CCrcNode>> program) {
  HostRun run;
  ListHost host(ListHost::FromVector(std::move(program)));
  host.KeepNotices(true);
  run.ok = host.Run(
      engine, [&run](HostSegment& segment) { run.segments.push_back(std::move(segment)); },
      &run.failure);
  for (const HostSegment& segment : host.Pending()) {
    HostSegment copy;
    copy.node.reset(segment.node->Clone());
    copy.id = segment.id;
    copy.inserted = segment.inserted;
    run.pending.push_back(std::move(copy));
  }
  run.notices = host.Notices();
  return run;
}

}  // namespace cutcomp
