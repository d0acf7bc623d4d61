// SPDX-License-Identifier: MIT
// Helpers of line offsetting, internal to the library.
#pragma once

#include <crc/nodes/crc_node.h>

namespace crc {

// v turned counterclockwise by `angle` (folded into [0, 2 pi] first) and brought to unit
// length; a vector shorter than EPSILON stays unchanged.
__point2<double> RotateVector(const __point2<double>& v, const double& angle);

// Unit normal of `direction` pointing to `side`; the unset point for a side that is neither
// left nor right.
__point2<double> GetOffsetNormal(const __point2<double>& direction, crc_dir_t side);

}  // namespace crc
