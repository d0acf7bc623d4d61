// SPDX-License-Identifier: MIT
// Uses only the umbrella header and the installed library: a right-angle inside corner with
// the tool on the left of two lines meets at (9, 1) for radius 1.
#include <crc/crc.h>

#include <cmath>
#include <cstdio>
#include <list>
#include <memory>

namespace {
class Host : public crc::CCrcTranslator {
public:
  std::list<std::unique_ptr<crc::CCrcNode>> nodes;
  crc::CCrcNode* GetNextNode(crc::CCrcNode* node) override {
    for (auto it = nodes.begin(); it != nodes.end(); ++it) {
      if (it->get() == node && std::next(it) != nodes.end()) {
        return std::next(it)->get();
      }
    }
    return nullptr;
  }
  void InsertNode(crc::CCrcNode*, crc::CCrcLine&, const bool&) override {}
  void SetCrcEndPoint(double, double) override {}
  void CrcFinish() override {}
};
}  // namespace

int main() {
  Host host;
  host.nodes.emplace_back(new crc::CCrcLine(crc::__point2<double>(0, 0),
                                            crc::__point2<double>(10, 0), crc::CRC_STATUS_DOING,
                                            crc::CRC_DIR_LEFT, false));
  host.nodes.emplace_back(new crc::CCrcLine(crc::__point2<double>(10, 0),
                                            crc::__point2<double>(10, 10), crc::CRC_STATUS_DOING,
                                            crc::CRC_DIR_LEFT, false));
  crc::CCutterCompensator engine(1.0, &host);
  engine.SetEstablish(true);
  if (!engine.AdjustNode(host.nodes.front().get())) {
    std::printf("AdjustNode failed: %s\n", crc::GetErrorGloss(engine.GetLatestErrorCode()));
    return 1;
  }
  const crc::__point2<double> end = host.nodes.front()->GetEndPointMoved();
  if (std::fabs(end.x - 9.0) > 1e-9 || std::fabs(end.y - 1.0) > 1e-9) {
    std::printf("unexpected corner (%.17g, %.17g)\n", end.x, end.y);
    return 1;
  }
  std::printf("corner (%g, %g)\n", end.x, end.y);
  return 0;
}
