// SPDX-License-Identifier: MIT
// The non-virtual part of the host callback interface: the host's own latest error text.
#include <crc/compensator/crc_translator.h>

#include <utility>

namespace crc {

CCrcTranslator::~CCrcTranslator() = default;
CCrcTranslator::CCrcTranslator() = default;
CCrcTranslator::CCrcTranslator(const CCrcTranslator& other) = default;
CCrcTranslator& CCrcTranslator::operator=(const CCrcTranslator& other) = default;

std::string CCrcTranslator::GetLatestError() const { return m_LatestError; }

void CCrcTranslator::SetLatestError(std::string text) {
  if (!text.empty()) {
    m_LatestError = std::move(text);
  }
}

}  // namespace crc
