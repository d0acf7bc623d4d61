// SPDX-License-Identifier: MIT
// The sixteen messages, numbered as the hosts know them. The full-width and ASCII exclamation
// marks are part of the texts and differ between messages on purpose; message 13 has no final
// punctuation.
#include "compensator/messages.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace crc {

namespace {
constexpr std::array<MessageEntry, 16> MESSAGES = {{
    {CRC_ERROR_FUNCTION_UNDEFINED, "函数未定义！", "function not defined (no translator set)"},
    {CRC_ERROR_NOT_ESTABLISHED, "未进行刀补建立!", "compensation has not been established"},
    {CRC_ERROR_ESTABLISH_FAILED, "刀补建立失败!", "compensation start-up failed"},
    {CRC_ERROR_ARC_ESTABLISH, "不允许采用圆弧进行刀补建立！",
     "an arc may not be used to start compensation"},
    {CRC_ERROR_RADIUS_UNREASONABLE, "刀补半径大小不合理！",
     "the compensation radius is unreasonable"},
    {CRC_ERROR_RETRACT_FAILED, "刀补撤销失败！", "compensation cancel failed"},
    {CRC_ERROR_INTERSECTION_FAILED, "求交失败！", "intersection failed"},
    {CRC_ERROR_OFFSET_FAILED, "偏移失败，可能是刀补半径不合理！",
     "offsetting failed, the compensation radius may be unreasonable"},
    {CRC_ERROR_ARC_RETRACT, "不允许采用圆弧进行刀补撤销！",
     "an arc may not be used to cancel compensation"},
    {CRC_ERROR_INSERT_LINE_FAILED, "插入线段失败！", "inserting a line segment failed"},
    {CRC_ERROR_INSERT_UNSUPPORTED, "不支持在此转接类型进行插入直线！",
     "inserting straight lines is not supported for this transition type"},
    {CRC_ERROR_INTERFERENCE, "存在干涉现象，可能是刀补半径过大！",
     "interference found, the compensation radius may be too large"},
    {CRC_ERROR_ONLY_ESTABLISH_RETRACT, "仅含刀补建立和撤销，无刀补进行过程",
     "only start-up and cancel, no segment in between"},
    {CRC_ERROR_INVALID_START_MOVED, "无效偏移起点!", "invalid offset start point"},
    {CRC_ERROR_INVALID_END_MOVED, "无效偏移终点!", "invalid offset end point"},
    {CRC_ERROR_NO_PLANE_MOTION, "代码错误，或者无刀补平面运动！",
     "program error, or no motion in the compensation plane"},
}};

constexpr std::size_t LongestText() {
  std::size_t longest = 0;
  for (const MessageEntry& entry : MESSAGES) {
    longest = std::max(longest, std::char_traits<char>::length(entry.text));
  }
  return longest;
}
static_assert(LongestText() <= LONGEST_MESSAGE,
              "the compensator reserves too little for a message");
}  // namespace

const MessageEntry* FindMessage(int code) {
  if (code < 1 || code > static_cast<int>(MESSAGES.size())) {
    return nullptr;
  }
  return &MESSAGES[static_cast<std::size_t>(code - 1)];
}

int FindMessageCode(const std::string& text) {
  for (const MessageEntry& entry : MESSAGES) {
    if (text == entry.text) {
      return entry.code;
    }
  }
  return 0;
}

const char* GetErrorGloss(int code) {
  const MessageEntry* entry = FindMessage(code);
  return entry != nullptr ? entry->gloss : "";
}

}  // namespace crc
