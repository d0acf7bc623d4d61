// SPDX-License-Identifier: MIT
// One generated CAM-like program (generate.py), read back and its chords fitted as the
// command-line tool fits them: shared by the fitting prototype (cam_fit_driver) and the
// gouge-free survey (bench/avoid_survey). Only the dialect generate.py writes is read: X/Y moves,
// G41/G42 D on the start-up move, G40 on the cancel move.
#pragma once

#include <vector>

#include <crc/crc.h>
#include <crc/host/chord_fit.h>
#include <crc/host/tool_path.h>

namespace cam {

struct Pass {
  cutcomp::Point lead;                  // where the start-up move begins
  cutcomp::Point start;                 // the start-up move's end: the first programmed point
  std::vector<cutcomp::Point> contour;  // the chord ends after `start`
  cutcomp::Point leave;                 // the cancel move's end
  crc::crc_dir_t side = crc::CRC_DIR_LEFT;
};

// False when the file is not such a program.
bool ReadPass(const char* path, Pass& pass);

// The pass's chords as lines and arcs: fitted within `tolerance` where shorter than `maxChord`,
// or (tolerance 0) every chord as it is.
std::vector<cutcomp::FitPiece> FitPass(const Pass& pass, double tolerance, double maxChord);

}  // namespace cam
