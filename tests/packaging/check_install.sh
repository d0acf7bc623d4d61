#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the built project into a scratch prefix and builds the embedding examples against it
# in both ways a downstream project would: find_package(cutcomp CONFIG) and pkg-config (cutcomp
# for C++, cutcomp-c for C), and runs them. Also checks that every installed header compiles on
# its own, and that the shared library exports the API (the engine, the host, the one-call and C
# interfaces) and hides the internal free functions.
# Usage: check_install.sh BUILD_DIR PACKAGING_DIR EXAMPLES_DIR CXX "CXX_FLAGS" CC "C_FLAGS"
#        "LINKER_FLAGS"
set -euo pipefail
build=$1 packaging=$2 examples=$3 cxx=$4 cxxflags=${5:-} cc=$6 cflags=${7:-} ldflags=${8:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" > "$work/install.log"
"$packaging/check_consumer.sh" "$prefix" "$examples" "$work/consumer" "$cxx" "$cxxflags" "$cc" \
  "$cflags" "$ldflags"

# Exported surface: the API is visible, the internal helpers are not.
lib=$(find "$prefix" -name 'libcutcomp.so.*.*.*' | head -1)
symbols=$(nm -D --defined-only "$lib" | c++filt)
for symbol in 'crc::CCutterCompensator::AdjustNode' 'crc::CCrcArc::CrcMove' 'crc::GetErrorGloss' \
  'crc::Compensate(' 'crc::Audit(' 'crc::CPathCompensator::Add' 'cutcomp::ListHost::Run' \
  'cutcomp::ReadPiece' 'cutcomp::ChordFitter::Add' 'cutcomp_compensate' 'cutcomp_audit'; do
  grep -qF "$symbol" <<<"$symbols" || { echo "$symbol not exported"; exit 1; }
done
if grep -E 'crc::(CalculateIntersection|IntersectCircles|NormalizeAngle|IntersectLineSegments)' <<<"$symbols"; then
  echo "internal helpers leak out of the shared library"; exit 1
fi
soname=$(objdump -p "$lib" | awk '/SONAME/ {print $2}')
[ "$soname" = "libcutcomp.so.1" ] || { echo "unexpected SONAME $soname"; exit 1; }
echo "install, CMake package, pkg-config and exported surface: OK"
