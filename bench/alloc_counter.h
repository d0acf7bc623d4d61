// SPDX-License-Identifier: MIT
// Counts heap allocations made anywhere in the benchmark process (the executable replaces the
// global operator new, so the library's allocations are counted too).
#pragma once

#include <cstddef>

namespace cutcomp::bench {

// Allocations (calls of any operator new) since the program started.
std::size_t AllocationCount();

}  // namespace cutcomp::bench
