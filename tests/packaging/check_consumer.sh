#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What a downstream project does with an installed cutcomp under PREFIX (a scratch install, or a
# scratch root a Debian package was unpacked into): every installed header compiles on its own
# (the C one as C), and the embedding examples in EXAMPLES build with find_package(cutcomp) and
# with pkg-config and print the same tool path.
# Usage: check_consumer.sh PREFIX EXAMPLES WORK CXX "CXX_FLAGS" CC "C_FLAGS" "LINKER_FLAGS"
set -euo pipefail
prefix=$1 examples=$2 work=$3 cxx=$4 cxxflags=${5:-} cc=$6 cflags=${7:-} ldflags=${8:-}
mkdir -p "$work"
pcfile=$(find "$prefix" -name 'cutcomp.pc' | head -1)
[ -n "$pcfile" ] || { echo "no cutcomp.pc under $prefix"; exit 1; }
export PKG_CONFIG_PATH=$(dirname "$pcfile")
libdir=$(dirname "$PKG_CONFIG_PATH")
export LD_LIBRARY_PATH=$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
includedir=$(pkg-config --variable=includedir cutcomp)

# 1. Every header on its own: the installed headers need nothing but each other.
find "$includedir/crc" -name '*.h' | sort | while read -r header; do
  name=${header#"$includedir"/}
  printf '#include <%s>\n' "$name" >"$work/one.cpp"
  # shellcheck disable=SC2046,SC2086
  "$cxx" $cxxflags -Werror -fsyntax-only $(pkg-config --cflags cutcomp) "$work/one.cpp" ||
    { echo "$name does not compile on its own"; exit 1; }
done
printf '#include <crc/crc_c.h>\n' >"$work/one.c"
# shellcheck disable=SC2046,SC2086
"$cc" $cflags -std=c99 -Wall -Wextra -Wpedantic -Werror -fsyntax-only $(pkg-config --cflags cutcomp-c) "$work/one.c"

# 2. CMake package
cmake -S "$(dirname "$0")/consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCUTCOMP_EXAMPLES="$examples" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$cxxflags" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$cflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" > "$work/cfg.log"
cmake --build "$work/cmake-build" > "$work/build.log"
"$work/cmake-build/compensate_contour" >"$work/cmake-cpp.txt"
"$work/cmake-build/compensate_contour_c" >"$work/cmake-c.txt"

# 3. pkg-config
# shellcheck disable=SC2046,SC2086
"$cxx" $cxxflags "$examples/compensate_contour.cpp" -o "$work/pc-cpp" $(pkg-config --cflags --libs cutcomp) $ldflags
# shellcheck disable=SC2046,SC2086
"$cc" $cflags -std=c99 "$examples/compensate_contour.c" -o "$work/pc-c" $(pkg-config --cflags --libs cutcomp-c) $ldflags
"$work/pc-cpp" | cmp - "$work/cmake-cpp.txt"
"$work/pc-c" | cmp - "$work/cmake-c.txt"
# The C example prints the normal strategy's path as the C++ one does, and its audit.
lines=$(grep -c . "$work/cmake-c.txt")
head -n $((lines - 1)) "$work/cmake-c.txt" | cmp - <(head -n $((lines - 1)) "$work/cmake-cpp.txt") ||
  { echo "the C and C++ examples disagree"; exit 1; }
[ "$(tail -n 1 "$work/cmake-c.txt")" = "gouges: 0" ] || { echo "the C example's audit failed"; exit 1; }
echo "headers, find_package and pkg-config consumers (C++ and C): OK"
