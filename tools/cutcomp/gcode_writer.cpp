// SPDX-License-Identifier: MIT
// The G-code writer: rebuilds blocks around the tool-centre coordinates and keeps the written
// program's position and motion mode consistent with what it has written.
#include "gcode_writer.h"

#include <cmath>
#include <cstdlib>
#include <vector>

namespace cutcomp::cli {

namespace {

std::string MotionWord(int motion) { return "G" + std::to_string(motion); }

// Index after a leading line number, where a word that must come first is put.
std::size_t LeadingPosition(const std::vector<std::string>& parts) {
  return !parts.empty() && (parts.front()[0] == 'N') ? 1 : 0;
}

}  // namespace

std::string FormatNumber(double value, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  std::string text = buffer;
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0') {
      text.pop_back();
    }
    if (text.back() == '.') {
      text.pop_back();
    }
  }
  if (text == "-0") {
    text = "0";
  }
  return text;
}

namespace {

// The value as the written program states it: rounded to the decimals written. Increments are
// differences of such values, so that they add up to the written absolute positions exactly
// and rounding never accumulates along a long incremental program.
double Rounded(double value, int decimals) {
  return std::strtod(FormatNumber(value, decimals).c_str(), nullptr);
}

}  // namespace

int GcodeWriter::Decimals(const Block& block) const {
  if (m_Precision) {
    return *m_Precision;
  }
  return block.units == Units::INCH ? DEFAULT_PRECISION_INCH : DEFAULT_PRECISION_MM;
}

std::string GcodeWriter::Coordinates(const Block& block, const Vec2& end) {
  const int decimals = Decimals(block);
  if (block.incremental) {
    const Vec2 from = m_PositionKnown ? m_Position : end;
    return "X" + FormatNumber(Rounded(end.x, decimals) - Rounded(from.x, decimals), decimals) +
           " Y" + FormatNumber(Rounded(end.y, decimals) - Rounded(from.y, decimals), decimals);
  }
  return "X" + FormatNumber(end.x, decimals) + " Y" + FormatNumber(end.y, decimals);
}

void GcodeWriter::Write(const Block& block, const std::string& words, bool changed) {
  if (!changed) {
    std::fputs(block.text.c_str(), m_Out);
    std::fputc('\n', m_Out);
    return;
  }
  if (words.empty()) {
    return;  // nothing left of the block (it held only compensation words)
  }
  if (block.blockDelete) {
    std::fputc('/', m_Out);
  }
  std::fputs(words.c_str(), m_Out);
  std::fputc('\n', m_Out);
}

namespace {

std::string Join(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) {
    if (!text.empty()) {
      text += ' ';
    }
    text += part;
  }
  return text;
}

}  // namespace

void GcodeWriter::Passthrough(const Block& block) {
  std::vector<std::string> parts;
  bool changed = false;
  for (const Item& item : block.items) {
    if (item.role == Item::COMP) {
      changed = true;
      continue;
    }
    parts.push_back(item.text);
  }
  // After lines or blocks this tool wrote itself the motion mode of the written program may
  // differ from the program's: a move relying on the modal mode then gets its word back.
  if (block.motion >= 0 && !block.explicitMotionWord && m_Motion != block.motion) {
    parts.insert(parts.begin() + static_cast<std::ptrdiff_t>(LeadingPosition(parts)),
                 MotionWord(block.motion));
    changed = true;
    m_Motion = block.motion;
  } else if (block.explicitMotionWord || block.modalMotion < 0) {
    m_Motion = block.modalMotion;
  }
  Write(block, Join(parts), changed);
  m_Position = block.end;
  m_PositionKnown = block.endKnown;
}

void GcodeWriter::Replaced(const Block& block, const ToolMove& move) {
  std::string replacement = MotionWord(move.motion) + " " + Coordinates(block, move.end);
  if (move.motion == 2 || move.motion == 3) {
    const int decimals = Decimals(block);
    if (block.arcAbsolute) {
      replacement += " I" + FormatNumber(move.center.x, decimals) + " J" +
                     FormatNumber(move.center.y, decimals);
    } else {
      // Relative to where the written program starts the arc.
      const Vec2 from = m_PositionKnown ? m_Position : move.start;
      replacement +=
          " I" +
          FormatNumber(Rounded(move.center.x, decimals) - Rounded(from.x, decimals), decimals) +
          " J" +
          FormatNumber(Rounded(move.center.y, decimals) - Rounded(from.y, decimals), decimals);
    }
  }
  std::vector<std::string> parts;
  bool placed = false;
  for (const Item& item : block.items) {
    if (item.role == Item::COMP) {
      continue;
    }
    if (item.role == Item::MOTION || item.role == Item::PLANE_AXIS ||
        item.role == Item::ARC_CENTER) {
      if (!placed) {
        parts.push_back(replacement);
        placed = true;
      }
      continue;
    }
    parts.push_back(item.text);
  }
  if (!placed) {
    parts.insert(parts.begin() + static_cast<std::ptrdiff_t>(LeadingPosition(parts)), replacement);
  }
  m_Motion = move.motion;
  Write(block, Join(parts), true);
  m_Position = move.end;
  m_PositionKnown = true;
}

void GcodeWriter::Stripped(const Block& block, const char* comment) {
  // A block that moved along other axes keeps moving along them, as a straight move (an arc
  // without its plane words would be no arc); one that moved only in the plane loses its
  // motion word as well. A motion word without axis words only sets the mode: it stays.
  const bool moved = block.motion >= 0;
  const int motion = moved && block.otherAxes ? (block.motion >= 2 ? 1 : block.motion) : -1;
  std::vector<std::string> parts;
  bool changed = comment != nullptr;
  bool placed = false;
  for (const Item& item : block.items) {
    const bool planeWord = item.role == Item::PLANE_AXIS || item.role == Item::ARC_CENTER ||
                           (item.role == Item::MOTION && moved);
    if (item.role == Item::COMP) {
      changed = true;
      continue;
    }
    if (planeWord) {
      changed = true;
      if (motion >= 0 && !placed) {
        parts.push_back(MotionWord(motion));
        placed = true;
      }
      continue;
    }
    parts.push_back(item.text);
  }
  if (motion >= 0 && !placed && m_Motion != motion) {
    parts.insert(parts.begin() + static_cast<std::ptrdiff_t>(LeadingPosition(parts)),
                 MotionWord(motion));
    placed = true;
    changed = true;
  }
  if (motion >= 0) {
    m_Motion = motion;
  } else if (block.explicitMotionWord && !moved) {
    m_Motion = block.modalMotion;
  }
  if (comment != nullptr) {
    parts.push_back(std::string("(") + comment + ")");
  }
  Write(block, Join(parts), changed);
}

void GcodeWriter::Inserted(const Block& context, const Vec2& end) {
  const std::string text = "G1 " + Coordinates(context, end);
  std::fputs(text.c_str(), m_Out);
  std::fputc('\n', m_Out);
  m_Motion = 1;
  m_Position = end;
  m_PositionKnown = true;
}

}  // namespace cutcomp::cli
