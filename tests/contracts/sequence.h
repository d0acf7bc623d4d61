// SPDX-License-Identifier: MIT
// A host for the contract tests: the segments in an array, inserted lines kept in storage
// reserved up front, so that it allocates nothing while the engine runs.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <vector>

#include <crc/crc.h>

namespace contracts {

using Point = crc::__point2<double>;
using Program = std::vector<std::unique_ptr<crc::CCrcNode>>;

class Sequence : public crc::CCrcTranslator {
public:
  explicit Sequence(Program program) : m_Program(std::move(program)) { m_Inserted.reserve(64); }

  // Adjusts every segment in order; false at the first refusal.
  bool Run(crc::CCutterCompensator& engine) {
    engine.SetTranslator(this);
    for (const auto& node : m_Program) {
      if (!engine.AdjustNode(node.get())) {
        return false;
      }
    }
    return true;
  }

  // The tool-centre end point of every programmed segment, in order.
  std::vector<Point> Ends() const {
    std::vector<Point> ends;
    for (const auto& node : m_Program) {
      ends.push_back(node->GetEndPointMoved());
    }
    return ends;
  }

  crc::CCrcNode* GetNextNode(crc::CCrcNode* node) override {
    if (throwOnNext) {
      throw std::runtime_error("the host's reader failed");
    }
    for (std::size_t i = 0; i + 1 < m_Program.size(); ++i) {
      if (m_Program[i].get() == node) {
        return m_Program[i + 1].get();
      }
    }
    return nullptr;
  }
  void InsertNode(crc::CCrcNode* /*anchor*/, crc::CCrcLine& line, const bool& /*before*/) override {
    if (m_Inserted.size() < m_Inserted.capacity()) {
      m_Inserted.push_back(line);
    }
  }
  void SetCrcEndPoint(double /*x*/, double /*y*/) override {}
  void CrcFinish() override {}

  bool throwOnNext = false;

private:
  Program m_Program;
  std::vector<crc::CCrcLine> m_Inserted;
};

// Round a 4 x 3 rectangle with corners of radius 1, counterclockwise, `laps` times, the tool
// inside (left): a start-up line along the bottom edge, lines and quarter circles, and a cancel
// line leading away.
inline Program RoundedLoop(int laps) {
  Program program;
  const auto line = [&program](Point from, Point to, crc::crc_status_t phase) {
    program.push_back(std::make_unique<crc::CCrcLine>(from, to, phase, crc::CRC_DIR_LEFT, false));
  };
  const auto arc = [&program](Point centre, Point from, Point to) {
    program.push_back(std::make_unique<crc::CCrcArc>(centre, from, to, 1.0, true,
                                                     crc::CRC_STATUS_DOING, crc::CRC_DIR_LEFT));
  };
  constexpr auto DOING = crc::CRC_STATUS_DOING;
  line(Point(1, 0), Point(2, 0), crc::CRC_STATUS_ESTABLISH);
  for (int lap = 0; lap < laps; ++lap) {
    line(Point(2, 0), Point(3, 0), DOING);
    arc(Point(3, 1), Point(3, 0), Point(4, 1));
    line(Point(4, 1), Point(4, 2), DOING);
    arc(Point(3, 2), Point(4, 2), Point(3, 3));
    line(Point(3, 3), Point(1, 3), DOING);
    arc(Point(1, 2), Point(1, 3), Point(0, 2));
    line(Point(0, 2), Point(0, 1), DOING);
    arc(Point(1, 1), Point(0, 1), Point(1, 0));
    line(Point(1, 0), Point(2, 0), DOING);
  }
  line(Point(2, 0), Point(3, -1), crc::CRC_STATUS_RETRACT);
  return program;
}

}  // namespace contracts
