#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Regenerates every figure in bench/README.md (the parts between the GENERATED markers): builds
# the release preset's benchmark and command-line tool, runs the benchmark summary once (peers
# and allocation counts included), counts instructions under callgrind and profiles the
# staircase; then the command-line tool's figures (times against rs274, instructions per block).
# Takes about twenty minutes; needs valgrind.
# Usage: bench/regenerate.sh [--cli]    (--cli: the command-line tool's figures only)
set -euo pipefail
cd "$(dirname "$0")/.."
readme=bench/README.md
cmake --preset release > /dev/null
cmake --build build/release -j2 --target cutcomp_bench cutcomp_cli > /dev/null
bench=build/release/bench/cutcomp_bench
cli=build/release/tools/cutcomp/cutcomp
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Replaces the lines between the markers named $1 in the README by the file $2.
splice() {
  awk -v figures="$2" -v begin="<!-- BEGIN GENERATED $1" -v end="<!-- END GENERATED $1 -->" '
    index($0, begin) == 1 { while ((getline line < figures) > 0) print line; skip = 1; next }
    index($0, end) == 1 { skip = 0; next }
    !skip { print }' "$readme" > "$work/README.md"
  cp "$work/README.md" "$readme"
}

header() {
  echo "Generated $(date -u '+%Y-%m-%d %H:%M UTC') by \`bench/regenerate.sh$1\` at commit"
  echo "$(git rev-parse --short HEAD)$(git diff --quiet || echo ' (with uncommitted changes)'):"
  echo "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(nproc) CPUs,"
  echo "$(g++ --version | head -1), Release. Load average (1, 5, 15 min) $2 before the"
  echo "timed run and $3 after it: **a shared machine; read times as +-20 %, and the"
  echo "instruction counts as exact.**"
}

# The command-line tool: CPU times against rs274, then instructions per block of the 1e5-block
# zigzag with and without the gouge audit, and where they go.
cli_figures() {
  local before after
  before=$(cut -d' ' -f1-3 /proc/loadavg)
  "$bench" --cli_only > "$work/cli.txt"
  after=$(cut -d' ' -f1-3 /proc/loadavg)
  python3 - "$work/zigzag.ngc" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    f.write("G21 G17 G90\nG0 X-5 Y0 Z1\nG41.1 D0.2 G1 X0 Y0 F1000\nG1 Z-1\n")
    for k in range(1, 100001):
        f.write("X%d Y%d\n" % (k, k % 2))
        if k % 1000 == 0:
            f.write("(pass %d)\nG1 Z-1.5\nG1 Z-1\n" % (k // 1000))
    f.write("G40 G1 X100005 Y-5\nG0 Z5\nM30\n")
PY
  {
    echo "<!-- BEGIN GENERATED CLI FIGURES (bench/regenerate.sh --cli) -->"
    header " --cli" "$before" "$after"
    echo
    echo '```'
    sed -n '/^The command-line tool against/,$p' "$work/cli.txt"
    echo
    echo "Instructions per block (callgrind, whole process), zigzag of 100,000 blocks:"
    for mode in audited --no-verify; do
      local args=()
      [ "$mode" = --no-verify ] && args=(--no-verify)
      valgrind --tool=callgrind --callgrind-out-file="$work/cg.$mode" "$cli" "$work/zigzag.ngc" \
        -o "$work/out.ngc" "${args[@]}" 2> "$work/vg.txt"
      local total
      total=$(grep -o 'refs: *[0-9,]*' "$work/vg.txt" | tr -d ', ' | cut -d: -f2)
      printf '  %-12s %8d\n' "$mode" $((total / 100000))
    done
    echo "Where they go (inclusive, per block, audited):"
    callgrind_annotate --inclusive=yes "$work/cg.audited" 2> /dev/null | awk '
      function take(name, key) { if (index($0, name) > 0 && !(key in n)) {
        v = $1; gsub(",", "", v); n[key] = v / 100000 } }
      function show(label, value) { printf "  %-44s %6d\n", label, value }
      { take("cutcomp::cli::ModalReader::Next(", "read")
        take("cutcomp::language::LanguageSource::Impl::Next(", "language")
        take("crc::CCutterCompensator::AdjustNode(", "adjust")
        take("cutcomp::ListHost::GetNextNode(", "pull")
        take("cutcomp::cli::RunOrder::Final(", "write")
        take("cutcomp::cli::GcodeWriter::Replaced(", "gcode")
        take("cutcomp::cli::FitStage::Move(", "fit")
        take("cutcomp::cli::GougeCheck::Run(", "measure")
        take("cutcomp::cli::GougeCheck::Segment(", "contour")
        take("cutcomp::cli::GougeCheck::Piece(", "pieces") }
      END {
        show("reading (language layer and modal reader)", n["read"])
        show("  of which the language layer", n["language"])
        show("the engine (AdjustNode, less its pulls)", n["adjust"] - n["pull"])
        show("writing (run order, G-code writer, output)", n["write"])
        show("  of which the G-code of a compensated move", n["gcode"])
        show("chord fitting stage", n["fit"])
        show("gouge audit: measuring the path", n["measure"])
        show("gouge audit: storing the contour", n["contour"])
        show("gouge audit: storing the pieces", n["pieces"]) }'
    echo '```'
    echo "<!-- END GENERATED CLI FIGURES -->"
  } > "$work/cli.md"
  splice "CLI FIGURES" "$work/cli.md"
  echo "bench/README.md: command-line figures regenerated"
}

if [ "${1:-}" = --cli ]; then
  cli_figures
  exit 0
fi

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
"$bench" --benchmark_min_time=0.05 --benchmark_repetitions=5 --slow_peers --skip_cli > "$work/run.txt"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
bench/count_instructions.sh "$bench" 3 staircase_1e4 wave_1e4 > "$work/open.txt"
bench/count_instructions.sh "$bench" 5 > "$work/contours.txt"
bench/profile.sh "$bench" staircase_1e4/normal/e0/b3 > "$work/profile_e0.txt"
bench/profile.sh "$bench" staircase_1e4/normal/e1/b3 > "$work/profile_e1.txt"

{
  echo "<!-- BEGIN GENERATED FIGURES (bench/regenerate.sh) -->"
  header "" "$load_before" "$load_after"
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

splice "FIGURES" "$work/figures.md"
echo "bench/README.md: figures regenerated"
cli_figures
