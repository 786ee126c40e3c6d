#!/bin/sh
# Command-line renderer figures: the speed-up of parallel frames (a 48-frame
# 1920x1080 animation with --jobs 1 and --jobs 2) and the peak memory of one
# 3840x2160 float frame.
#
# usage: bench/bench_cli.sh [path/to/trellis]   (default: build/cli/trellis)
set -eu

TRELLIS=${1:-${TRELLIS_CLI:-build/cli/trellis}}
if [ ! -x "$TRELLIS" ]; then
    echo "bench_cli: no trellis binary at $TRELLIS (build it first)" >&2
    exit 2
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/trellis-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

# A spiral of 16 half circles from the centre (cx, cy), radius r0 growing by
# `step` per half turn.
spiral() {
    awk -v cx="$1" -v cy="$2" -v r="$3" -v step="$4" 'BEGIN {
        printf "M %d %d", cx, cy
        for (i = 0; i < 16; i++) {
            d = (i % 2 == 0) ? 1 : -1
            printf " a %d %d 0 0 1 %d 0", r, r, d * 2 * r
            r += step
        }
        print ""
    }'
}

now() { date +%s.%N; }

# Seconds for one run of trellis with the given flags.
timed() {
    start=$(now)
    "$TRELLIS" render "$@" >/dev/null 2>&1
    end=$(now)
    echo "$start $end" | awk '{ printf "%.2f", $2 - $1 }'
}

HD_FLAGS="--input-size 1920x1080 --input-color 40,110,170,255 --layer-size 24x60 --layer-color 250,230,200,220
          --various-directions --on-original --max-width 60 --time 0:0,47:100 --frames 0-47 -q"

echo "trellis bench: 48 frames at 1920x1080, 8-bit"
t1=$(timed $HD_FLAGS --mask "$(spiral 960 540 40 30)" --jobs 1 -o "$WORK/one_%02d.png")
echo "  --jobs 1: ${t1} s"
t2=$(timed $HD_FLAGS --mask "$(spiral 960 540 40 30)" --jobs 2 -o "$WORK/two_%02d.png")
echo "  --jobs 2: ${t2} s"
echo "$t1 $t2" | awk '{ if ($2 > 0) printf "  speed-up: %.2fx\n", $1 / $2 }'
if ! cmp -s "$WORK/one_24.png" "$WORK/two_24.png"; then
    echo "  warning: --jobs 1 and --jobs 2 gave different frames" >&2
fi
rm -f "$WORK"/one_*.png "$WORK"/two_*.png

echo "trellis bench: one 3840x2160 frame at 32-bit float"
/usr/bin/time -v "$TRELLIS" render --input-size 3840x2160 --input-color 40,110,170,255 --depth 32 \
    --layer-size 24x60 --layer-color 250,230,200,220 --various-directions --on-original --max-width 120 \
    --mask "$(spiral 1920 1080 80 60)" -q -o "$WORK/uhd.exr" 2>"$WORK/time.txt" >/dev/null
awk -F': ' '/Maximum resident set size/ { printf "  peak memory: %.0f MiB\n", $2 / 1024 }
            /Elapsed \(wall clock\)/ { print "  wall time: " $2 }' "$WORK/time.txt"
