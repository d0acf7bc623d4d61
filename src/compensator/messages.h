// SPDX-License-Identifier: MIT
// The engine's numbered message table. Texts are the engine's own, held as UTF-8; each has an
// English gloss for hosts that show English.
#pragma once

#include <cstddef>
#include <string>

#include <crc/compensator/cutter_compensator.h>

namespace crc {

struct MessageEntry {
  crc_error_t code;
  const char* text;   // UTF-8, byte for byte the engine's message
  const char* gloss;  // English
};

// Bytes of the longest message text (UTF-8): the room the compensator reserves for its latest
// message, so that storing one never allocates.
inline constexpr std::size_t LONGEST_MESSAGE = 64;

// The entry for `code`, or null when code is not 1..16.
const MessageEntry* FindMessage(int code);
// The number of a message text, or 0 when the text is not in the table.
int FindMessageCode(const std::string& text);

}  // namespace crc
