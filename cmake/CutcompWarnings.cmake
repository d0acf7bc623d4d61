# SPDX-License-Identifier: MIT
# One place that decides the compile flags every cutcomp target gets.
#
# -ffp-contract=off: corner classification and the intersection kernel branch on thresholds
# (1e-6, 0.0019, 0.0001141); a fused multiply-add changes the last bits of a dot product and
# can flip such a branch between builds. -ffast-math is never used for the same reason.
function(cutcomp_target_flags target)
  target_compile_options(${target} PRIVATE -ffp-contract=off)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
  if(CUTCOMP_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
