// SPDX-License-Identifier: MIT
// Which block a refusal of the engine is about. The engine names the segment it was working on;
// for a radius the cutter cannot follow and an arc as cancel move it checks a segment together
// with its successor, and the fault may lie with either: the pending segments are probed to find
// the one at fault. The error is said with its notes (the block that found it, the chords a
// fitted piece stands for).
#pragma once

#include "list_host.h"
#include "messages.h"
#include "reading.h"
#include "result.h"
#include "run_order.h"

namespace cutcomp::cli {

// The programmed plane motion of a block.
cutcomp::Curve ProgrammedOf(const Block& block);

ErrorRecord AttributeFailure(const HostFailure& failure, const ListHost& host,
                             const RunOrder& order, double radius, bool verbose,
                             const Reading& reading, Messages& messages);

}  // namespace cutcomp::cli
