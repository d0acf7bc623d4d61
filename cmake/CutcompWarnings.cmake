# SPDX-License-Identifier: MIT
# One place that decides the compile flags every cutcomp target gets.
#
# -ffp-contract=off: corner classification and the intersection kernel branch on thresholds
# (1e-6, 0.0019, 0.0001141); a fused multiply-add changes the last bits of a dot product and
# can flip such a branch between builds. -ffast-math is never used for the same reason.
#
# -fno-math-errno: sqrt and the other math functions need not set errno for a negative or
# out-of-range argument (nothing reads it), so a square root is one instruction instead of a
# test and a call. Results are unchanged: it is not one of -ffast-math's value-changing flags.
function(cutcomp_target_flags target)
  target_compile_options(${target} PRIVATE -ffp-contract=off -fno-math-errno)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
  if(CUTCOMP_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
