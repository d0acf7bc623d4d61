// SPDX-License-Identifier: MIT
// Compensate with CompensateOptions::avoid (path_avoid.cpp).
#pragma once

#include <crc/path.h>

namespace crc {

CompensateResult CompensateAvoiding(const Path& path, const CompensateOptions& options);

}  // namespace crc
