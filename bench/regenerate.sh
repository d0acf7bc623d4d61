#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Regenerates every figure in bench/README.md (the part between the GENERATED markers): builds
# the release preset's benchmark and command-line tool, runs the benchmark summary once (peers,
# allocation counts and the command-line comparison included), counts instructions under
# callgrind and profiles the staircase. Takes about a quarter of an hour; needs valgrind.
# Usage: bench/regenerate.sh
set -euo pipefail
cd "$(dirname "$0")/.."
readme=bench/README.md
cmake --preset release > /dev/null
cmake --build build/release -j2 --target cutcomp_bench cutcomp_cli > /dev/null
bench=build/release/bench/cutcomp_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
"$bench" --benchmark_min_time=0.05 --benchmark_repetitions=5 --slow_peers > "$work/run.txt"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
bench/count_instructions.sh "$bench" 3 staircase_1e4 wave_1e4 > "$work/open.txt"
bench/count_instructions.sh "$bench" 5 > "$work/contours.txt"
bench/profile.sh "$bench" staircase_1e4/normal/e0/b3 > "$work/profile_e0.txt"
bench/profile.sh "$bench" staircase_1e4/normal/e1/b3 > "$work/profile_e1.txt"

{
  echo "<!-- BEGIN GENERATED FIGURES (bench/regenerate.sh) -->"
  echo "Generated $(date -u '+%Y-%m-%d %H:%M UTC') by \`bench/regenerate.sh\` at commit"
  echo "$(git rev-parse --short HEAD)$(git diff --quiet || echo ' (with uncommitted changes)'):"
  echo "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(nproc) CPUs,"
  echo "$(g++ --version | head -1), Release. Load average (1, 5, 15 min) $load_before before the"
  echo "timed run and $load_after after it: **a shared machine; read times as +-20 %, and the"
  echo "instruction counts as exact.**"
  echo
  echo "### Benchmark summary (one run of \`cutcomp_bench --benchmark_repetitions=5 --slow_peers\`)"
  echo
  echo '```'
  sed -n '/^Summary (CPU time/,$p' "$work/run.txt"
  echo '```'
  echo
  echo "### Instructions per segment (callgrind), open paths"
  echo
  echo '```'
  cat "$work/open.txt"
  echo '```'
  echo
  echo "### Instructions per segment (callgrind), closed contours"
  echo
  echo '```'
  cat "$work/contours.txt"
  echo '```'
  echo
  echo "### Where the instructions go: staircase_1e4, evasion off, then on"
  echo
  echo '```'
  cat "$work/profile_e0.txt"
  echo
  cat "$work/profile_e1.txt"
  echo '```'
  echo "<!-- END GENERATED FIGURES -->"
} > "$work/figures.md"

awk -v figures="$work/figures.md" '
  /<!-- BEGIN GENERATED FIGURES/ { while ((getline line < figures) > 0) print line; skip = 1; next }
  /<!-- END GENERATED FIGURES -->/ { skip = 0; next }
  !skip { print }' "$readme" > "$work/README.md"
cp "$work/README.md" "$readme"
echo "bench/README.md: figures regenerated"
