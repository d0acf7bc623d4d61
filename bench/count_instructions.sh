#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Instructions per run and per segment under callgrind: repeatable where timings on a shared
# machine are not. Only the repeated runs are counted (not building the contour, checking it or
# making the segments of the runs).
# Usage: bench/count_instructions.sh <path to cutcomp_bench> [runs] [contour or path...]
# "refused" marks a configuration the engine refuses on that contour. Peers are counted on the
# polygonal contours and the open paths only, per polygon or polyline edge instead of per
# programmed segment.
set -euo pipefail
bench=${1:?usage: count_instructions.sh <path to cutcomp_bench> [runs] [contour...]}
runs=${2:-10}
shift $(($# < 2 ? $# : 2))
contours=("$@")
if [ "${#contours[@]}" -eq 0 ]; then
  contours=(rounded_rect bracket star star_flats circle_chords spline_chords spline_adaptive)
fi
closed_kinds=(clone host normal/e0/b0 normal/e0/b3 normal/e1/b0 normal/e1/b3
              insert/e0/b0 insert/e0/b3 insert/e1/b0 insert/e1/b3
              clipper_miter clipper_round boost_miter boost_round)
open_kinds=(copy host normal/e0/b3 normal/e1/b3 geos clipper api-host api-onecall api-default)
out=$(mktemp)
trap 'rm -f "$out"' EXIT
printf '%-16s %-14s %7s %12s %14s\n' contour kind segs instr/run instr/segment
for contour in "${contours[@]}"; do
  case $contour in
    staircase_* | wave_*) kinds=("${open_kinds[@]}") ;;
    *) kinds=("${closed_kinds[@]}") ;;
  esac
  for kind in "${kinds[@]}"; do
    if ! line=$(valgrind --tool=callgrind --callgrind-out-file="$out" \
                  --toggle-collect='cutcomp::bench::Repeat*' \
                  "$bench" --count="$contour/$kind/$runs" 2>/dev/null); then
      case $kind in
        clipper* | boost_* | geos) ;;  # not a polygon, or the peer was not built
        *) printf '%-16s %-14s %7s %12s %14s\n' "$contour" "$kind" - - refused ;;
      esac
      continue
    fi
    # "<request>: <runs> runs x <segments> segments = <total> segments"
    segments=$(echo "$line" | awk '{print $5}')
    instructions=$(callgrind_annotate "$out" 2>/dev/null |
                   awk '/PROGRAM TOTALS/ {gsub(",", "", $1); print $1}')
    awk -v c="$contour" -v k="$kind" -v i="$instructions" -v s="$segments" -v r="$runs" \
      'BEGIN { printf "%-16s %-14s %7d %12.0f %14.0f\n", c, k, s, i / r, i / (r * s) }'
  done
done
