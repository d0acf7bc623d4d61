#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Where the instructions of one configuration go: a callgrind profile of the repeated runs,
# each function's own instructions per programmed segment, summed by what the function does.
# Functions inlined into others count where they were inlined.
# Usage: bench/profile.sh <path to cutcomp_bench> [path/kind] [runs]
set -euo pipefail
bench=${1:?usage: profile.sh <path to cutcomp_bench> [path/kind] [runs]}
request=${2:-staircase_1e4/normal/e0/b3}
runs=${3:-3}
out=$(mktemp)
trap 'rm -f "$out"' EXIT
line=$(valgrind --tool=callgrind --callgrind-out-file="$out" \
         --toggle-collect='cutcomp::bench::Repeat*' "$bench" --count="$request/$runs" 2>/dev/null)
segments=$(echo "$line" | awk '{print $8}')
callgrind_annotate --threshold=100 "$out" 2>/dev/null | awk -v segments="$segments" '
  function group(f) {
    if (f ~ /ListHost|std::function|_Function_handler|_List_node|HostSegment|malloc|free|_int_|operator new|operator delete|unlink_chunk|alloc_perturb|~CCrcLine|~CCrcArc|_Sp_counted|cutcomp::bench/)
      return "host: list, segments deleted, sink"
    if (f ~ /CheckIntervener|LineMeetsList|ArcMeetsList|IntersectLineSegments|IsOppositeVector|CrossesAwayFromEnds|IsAtEnd|Describe|IntersectLineArc|IntersectArc|IntersectCircles/)
      return "engine: interference check (look-behind 3)"
    if (f ~ /AppendToLookBehind|Overwrite|AddToList|CacheOf|RebuiltCache|CCrcLine::operator=|CCrcArc::operator=/)
      return "engine: look-behind list upkeep"
    if (f ~ /CrcMove|GetOffsetNormal|QuarterTurn/)
      return "engine: offsetting (two lines)"
    if (f ~ /ClassifyJoint|GetConnectType|RawConnectType|JointType|UnifyMeasured/)
      return "engine: joint classification"
    if (f ~ /CalculateIntersection|LineCornerPoints|IntersectLines/)
      return "engine: corner point"
    if (f ~ /CalculateConnection|InsertLineBefore|LocateType|JoinTangent|CalculateConnectionExt1|CalculateOffVector|ProcessNoIntervine|IsConnectVectorsCross|GetOrientation/)
      return "engine: connection"
    if (f ~ /AdjustNode|CheckError|IsCRCPlaneMove|GetLength|FailsInnerRadius|CheckCanBeCrcMove|CrcDoing|ChangeCrcType/)
      return "engine: driver and validation"
    return "other"
  }
  /^[ ]*[0-9,]+ .*:/ && !/PROGRAM TOTALS/ {
    n = $1; gsub(",", "", n)
    sub(/^[ ]*[0-9,]+ +(\([ 0-9.]+%\) +)?/, "")
    g = group($0); sum[g] += n; total += n
  }
  END {
    printf "%-44s %12s %7s\n", "where (own instructions)", "instr/seg", "share"
    for (g in sum) printf "%-44s %12.0f %6.1f%%\n", g, sum[g] / segments, 100 * sum[g] / total | "sort -k1,1"
    close("sort -k1,1")
    printf "%-44s %12.0f\n", "total", total / segments
  }'
