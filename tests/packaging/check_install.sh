#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the built project into a scratch prefix and builds a consumer against it in both
# ways a downstream project would: find_package(cutcomp CONFIG) and pkg-config. Also checks that
# the shared library exports the API classes and hides the internal free functions.
# Usage: check_install.sh BUILD_DIR SOURCE_DIR CXX "CXX_FLAGS" "LINKER_FLAGS"
set -euo pipefail
build=$1 source=$2 cxx=$3 cxxflags=${4:-} ldflags=${5:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" > "$work/install.log"

# 1. CMake package
cmake -S "$source/consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$cxxflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" > "$work/cfg.log"
cmake --build "$work/cmake-build" > "$work/build.log"
"$work/cmake-build/consumer"

# 2. pkg-config
libdir=$(dirname "$(find "$prefix" -name 'cutcomp.pc' | head -1)")
export PKG_CONFIG_PATH=$libdir
# shellcheck disable=SC2046,SC2086
"$cxx" $cxxflags "$source/consumer/main.cpp" -o "$work/consumer-pc" $(pkg-config --cflags --libs cutcomp) $ldflags
LD_LIBRARY_PATH=$(dirname "$libdir") "$work/consumer-pc"

# 3. Exported surface: the API classes are visible, the internal helpers are not.
lib=$(find "$prefix" -name 'libcutcomp.so.*.*.*' | head -1)
symbols=$(nm -D --defined-only "$lib" | c++filt)
grep -q 'crc::CCutterCompensator::AdjustNode' <<<"$symbols" || { echo "AdjustNode not exported"; exit 1; }
grep -q 'crc::CCrcArc::CrcMove' <<<"$symbols" || { echo "CCrcArc not exported"; exit 1; }
grep -q 'crc::GetErrorGloss' <<<"$symbols" || { echo "GetErrorGloss not exported"; exit 1; }
if grep -E 'crc::(CalculateIntersection|IntersectCircles|NormalizeAngle|IntersectLineSegments)' <<<"$symbols"; then
  echo "internal helpers leak out of the shared library"; exit 1
fi
soname=$(objdump -p "$lib" | awk '/SONAME/ {print $2}')
[ "$soname" = "libcutcomp.so.1" ] || { echo "unexpected SONAME $soname"; exit 1; }
echo "install, CMake package, pkg-config and exported surface: OK"
