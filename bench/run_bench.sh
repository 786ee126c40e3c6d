#!/bin/sh
# `make bench`: the effect's frame against the floor loop (trellis_bench),
# then the command-line figures (bench_cli.sh), and one table of them all.
#
# usage: bench/run_bench.sh [BUILD_DIR]
set -eu
BUILD=${1:-build}
HERE=$(cd "$(dirname "$0")" && pwd)
TABLE=$(mktemp "${TMPDIR:-/tmp}/trellis-table.XXXXXX")
OUT=$(mktemp "${TMPDIR:-/tmp}/trellis-effect.XXXXXX")
trap 'rm -f "$TABLE" "$OUT"' EXIT INT TERM
export TABLE

"$BUILD/bench/trellis_bench" | tee "$OUT"
# The summary's ratio column, and the breakdown's counters.
awk -v table="$TABLE" '
    function goal(d) { return d == "16" ? "<= 6x" : "<= 5x" }
    $1 ~ /^(8|16|float)$/ && NF == 6 { printf "effect / floor loop, %s|%sx|%s\n", $1 == "float" ? "float" : $1 " bits", $6, goal($1) >> table }
    /^BM_(Breakdown|TableBuild)\/depth:/ {
        split($1, part, /[:\/]/); d = part[3] == 0 ? "8 bits" : part[3] == 1 ? "16 bits" : "float"
        for (i = 1; i <= NF; i++) {
            if ($i ~ /^sample_ns_per_call=/) { sub(/.*=/, "", $i); printf "area sample, %s|%.1f ns|\n", d, $i >> table }
            if ($i ~ /^build_ms=/) { sub(/.*=/, "", $i); printf "sampling tables of the Layer, %s|%.1f ms|%s\n", d, $i,
                                     d == "float" ? "<= 2x the 8-bit time" : "" >> table }
        }
    }' "$OUT"
sh "$HERE/bench_cli.sh" "$BUILD/cli/trellis" "$BUILD/bench/trellis_bench"

echo
echo "trellis bench summary"
awk -F'|' '{ printf "  %-44s %-14s %s\n", $1, $2, ($3 != "" ? "goal " $3 : "") }' "$TABLE"
