// SPDX-License-Identifier: MIT
// The blocks of one compensation run, as the engine's host pulls them: each pull reads blocks
// until the fit stage has the next segment, queueing every block in the run's order so that it
// is written once the segments before it are final. The run ends before a block that ends it
// without a cancel move, one that starts a new run, and a plane motion outside compensation
// (handed back to the reading); after its cancel move or the program's end; or at an input
// error, kept for the driver to report once what came before is written.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include <crc/crc.h>

#include "audit_stage.h"
#include "block.h"
#include "fit_stage.h"
#include "reading.h"
#include "run_order.h"

namespace cutcomp::cli {

class RunSource {
public:
  RunSource(Block first, Reading& reading, RunOrder& order, FitStage& stage, AuditStage* audit)
      : m_First(std::move(first)),
        m_Reading(reading),
        m_Order(order),
        m_Stage(stage),
        m_Audit(audit) {}

  // The next segment of the run and its id; false when the run has no more.
  bool Pull(std::unique_ptr<crc::CCrcNode>& node, std::int64_t& id);
  // The input error that ended the run, if one did.
  const std::optional<InputError>& Error() const { return m_Error; }

private:
  // Reads the next block into the run's order, or ends the run.
  void Read();

  std::optional<Block> m_First;
  Reading& m_Reading;
  RunOrder& m_Order;
  FitStage& m_Stage;
  AuditStage* m_Audit;
  bool m_Ended = false;
  std::optional<InputError> m_Error;
};

}  // namespace cutcomp::cli
