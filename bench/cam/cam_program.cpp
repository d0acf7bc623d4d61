// SPDX-License-Identifier: MIT
// Reading a generated CAM-like program and fitting its chords (see cam_program.h).
#include "cam_program.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

namespace cam {
namespace {

bool Word(const std::string& line, char letter, double& value) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == letter) {
      value = std::strtod(line.c_str() + i + 1, nullptr);
      return true;
    }
  }
  return false;
}

}  // namespace

bool ReadPass(const char* path, Pass& pass) {
  std::ifstream in(path);
  std::string line;
  cutcomp::Point at(0.0, 0.0);
  int stage = 0;  // 0 before G41/G42, 1 compensating, 2 after G40
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '(' || line[0] == '%') {
      continue;
    }
    const bool on = line.find("G41") != std::string::npos || line.find("G42") != std::string::npos;
    const bool off = line.find("G40 G1") != std::string::npos;
    double x = at.x;
    double y = at.y;
    const bool hasX = Word(line, 'X', x);
    const bool hasY = Word(line, 'Y', y);
    if (!hasX && !hasY) {
      continue;
    }
    const cutcomp::Point to(x, y);
    if (stage == 0 && on) {
      pass.lead = at;
      pass.start = to;
      pass.side = line.find("G41") != std::string::npos ? crc::CRC_DIR_LEFT : crc::CRC_DIR_RIGHT;
      stage = 1;
    } else if (stage == 1 && off) {
      pass.leave = to;
      stage = 2;
    } else if (stage == 1) {
      pass.contour.push_back(to);
    }
    at = to;
  }
  return stage == 2 && !pass.contour.empty();
}

std::vector<cutcomp::FitPiece> FitPass(const Pass& pass, double tolerance, double maxChord) {
  std::vector<cutcomp::FitPiece> pieces;
  cutcomp::FitOptions options;
  options.tolerance = tolerance > 0.0 ? tolerance : 1.0;
  options.maxChord = tolerance > 0.0 ? maxChord : 0.0;  // 0 leaves every chord alone
  cutcomp::ChordFitter fitter(options);
  cutcomp::Point at = pass.start;
  for (std::size_t i = 0; i < pass.contour.size(); ++i) {
    cutcomp::Curve chord;
    chord.from = at;
    chord.to = pass.contour[i];
    fitter.Add(chord, static_cast<std::int64_t>(i), pieces);
    at = chord.to;
  }
  fitter.Flush(pieces);
  return pieces;
}

}  // namespace cam
