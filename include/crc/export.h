// SPDX-License-Identifier: MIT
/// @file
/// The export macro of libcutcomp. The library is built with hidden symbol visibility; only
/// classes and functions marked CRC_API are visible to programs that link it. Internal free
/// functions (tolerances, intersection kernel, proximity tests) stay hidden in the shared
/// library and are reached by the tests through the internal static library.
#pragma once

#if defined(_WIN32)
#if defined(CUTCOMP_BUILDING)
#define CRC_API __declspec(dllexport)
#else
#define CRC_API __declspec(dllimport)
#endif
#else
/// Marks a class or function exported from the shared library.
#define CRC_API __attribute__((visibility("default")))
#endif
