// SPDX-License-Identifier: MIT
// Fuzz target: the lathe module's inputs. The first byte chooses what the rest is: an offset
// list's text; or raw numbers (NaN, infinities and the largest doubles included) for a tip, a
// block's lathe words, or a profile cycle; the tool word and the dialect marks read the same
// bytes as text. Whatever comes in, the module refuses it with a message or returns what it
// promises: offsets in range, positions and moves that are finite numbers, cycle moves that chain
// and are bounded in number.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "lathe_words.h"
#include "offset_list.h"
#include "profile_cycles.h"
#include "tip.h"

namespace {

using namespace cutcomp::lathe;
using cutcomp::Point;

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

bool Finite(const Point& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

class Bytes {
public:
  Bytes(const std::uint8_t* data, std::size_t size) : m_Data(data), m_Size(size) {}
  std::uint8_t Byte() { return m_At < m_Size ? m_Data[m_At++] : 0; }
  double Number() {
    double value = 0.0;
    if (m_At + sizeof value <= m_Size) {
      std::memcpy(&value, m_Data + m_At, sizeof value);
      m_At += sizeof value;
    } else {
      m_At = m_Size;
    }
    return value;
  }
  Point At() {
    const double z = Number();
    return Point(z, Number());
  }

private:
  const std::uint8_t* m_Data;
  std::size_t m_Size;
  std::size_t m_At = 0;
};

void OffsetListText(const std::string& text) {
  std::istringstream in(text);
  const OffsetList list = ReadOffsetList(in);
  Require(list.ok == list.error.empty());
  for (const auto& [number, offset] : list.offsets) {
    Require(number >= 1 && number <= 99 && offset.noseRadius >= 0.0 &&
            std::isfinite(offset.noseRadius) && offset.tip >= 0 && offset.tip <= 9);
  }
}

void Words(const std::string& text) {
  const ToolSelect select = SplitLatheToolWord(text.substr(0, 6));
  Require(!select.ok ||
          (select.tool >= 0 && select.tool <= 99 && select.offset >= 0 && select.offset <= 99));
  std::vector<WordView> words;
  std::istringstream in(text);
  std::vector<std::string> texts;
  for (std::string word; in >> word && texts.size() < 64;) {
    texts.push_back(word);
  }
  for (const std::string& word : texts) {
    words.push_back({word[0], std::strtod(word.c_str() + 1, nullptr), word});
  }
  LatheEvidence(words);
}

void Tip(Bytes& in) {
  const int direction = int(in.Byte() % 12) - 1;
  const double radius = in.Number();
  const TipVector tip = TipOf(direction, radius, in.Byte() % 2 ? TipChart::X_UP : TipChart::X_DOWN);
  Require(tip.ok == tip.error.empty());
  if (tip.ok) {
    const double r = std::fabs(radius);
    Require((tip.offset.x == 0.0 || std::fabs(tip.offset.x) == r) &&
            (tip.offset.y == 0.0 || std::fabs(tip.offset.y) == r));
  }
}

void Move(Bytes& in) {
  const std::uint8_t given = in.Byte();
  const std::uint8_t mode = in.Byte();
  LatheWords words;
  std::optional<double>* slots[] = {&words.x, &words.z, &words.u, &words.w,
                                    &words.i, &words.k, &words.r, &words.c};
  for (int bit = 0; bit < 8; ++bit) {
    if ((given >> bit) & 1) {
      *slots[bit] = in.Number();
    }
  }
  LatheFrame frame;
  frame.xMode = mode & 1 ? XMode::DIAMETER : XMode::RADIUS;
  frame.incremental = (mode & 2) != 0;
  frame.uwIncremental = (mode & 4) != 0;
  frame.centreAbsolute = (mode & 8) != 0;
  frame.at = in.At();
  const std::optional<bool> arc = mode & 16 ? std::optional<bool>((mode & 32) != 0) : std::nullopt;
  const LatheMove move = ResolveLatheMove(words, frame, arc, in.Number());
  Require(move.ok == move.error.empty());
  Require(!move.ok || (Finite(move.end) && (!move.hasCentre || Finite(move.centre))));
}

void Cycle(Bytes& in) {
  const std::uint8_t kind = in.Byte() % 3;
  const Point start = in.At();
  RoughingCycle cycle;
  cycle.along = kind == 2 ? RoughingAxis::X : RoughingAxis::Z;
  cycle.depth = in.Number();
  cycle.retract = in.Number();
  cycle.allowance = in.At();
  const double tolerance = in.Number();
  std::vector<CycleMove> profile;
  Point at = start;
  for (int n = in.Byte() % 12; n > 0; --n) {
    const std::uint8_t flags = in.Byte();
    CycleMove move;
    move.curve.from = flags & 8 ? in.At() : at;  // a gap in the profile now and then
    move.curve.to = in.At();
    move.curve.arc = (flags & 1) != 0;
    move.curve.ccw = (flags & 2) != 0;
    move.rapid = (flags & 4) != 0;
    if (move.curve.arc) {
      move.curve.centre = in.At();
      move.curve.radius = std::hypot(move.curve.from.x - move.curve.centre.x,
                                     move.curve.from.y - move.curve.centre.y);
    }
    move.id = std::int64_t(profile.size());
    at = move.curve.to;
    profile.push_back(move);
  }
  const CycleResult result = kind == 0 ? ExpandFinishing(start, profile, tolerance)
                                       : ExpandRoughing(start, profile, cycle, tolerance);
  Require(result.ok == result.error.empty());
  if (!result.ok) {
    return;
  }
  Require(result.moves.size() <= 4 * (MAX_ROUGHING_PASSES + 1) + profile.size() + 2);
  Point last = start;
  for (const CycleMove& move : result.moves) {
    Require(Finite(move.curve.from) && Finite(move.curve.to));
    const double dz = move.curve.from.x - last.x;
    const double dx = move.curve.from.y - last.y;
    const double gap = std::sqrt(dz * dz + dx * dx);  // as the module measures it
    Require(gap <= tolerance);
    last = move.curve.to;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  Bytes in(data + 1, size - 1);
  switch (data[0] % 5) {
  case 0:
    OffsetListText(text);
    break;
  case 1:
    Words(text);
    break;
  case 2:
    Tip(in);
    break;
  case 3:
    Move(in);
    break;
  default:
    Cycle(in);
    break;
  }
  return 0;
}
