// SPDX-License-Identifier: MIT
// Material left where the gouge-free path leaves the contour: which walls keep it, how far it
// stands proud of them at most, and over what length. Measured against the finished path; the
// path itself is made in trim.cpp.
#pragma once

#include <string>
#include <vector>

#include <crc/avoid/gouge_free.h>

#include "avoid/trim.h"

namespace crc::avoid {

// One entry per place of `chain` where more than the tolerance of material is left, in path
// order, with `before` and `after` indexing `chain.kept`. Never fails: a place whose walls the
// audit takes as no walls (a lead, a move above the work) leaves nothing to report.
std::vector<MaterialLeft> MeasureLeft(Trimmer& trimmer, const std::vector<RunPiece>& raw,
                                      const std::vector<Part>& parts, const Chain& chain);

}  // namespace crc::avoid
