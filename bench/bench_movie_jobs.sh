#!/bin/sh
# A 48-frame 1080p render from an H.264 movie into an H.264 movie, with one
# worker and with two; prints both times and the speed-up. MAX_WIDTH (default
# 60) sets the strokes' size: smaller strokes, more of them, a heavier render.
#   bench/bench_movie_jobs.sh path/to/trellis
set -eu
trellis=${1:-${TRELLIS_CLI:-build/cli/trellis}}
work=$(mktemp -d "${TMPDIR:-/tmp}/trellis-movie-jobs.XXXXXX")
trap 'rm -rf "$work"' EXIT
ffmpeg -v error -f lavfi -i testsrc2=size=1920x1080:rate=24 -frames:v 48 -c:v libx264 -pix_fmt yuv420p "$work/plate.mp4"
run() {
  start=$(date +%s.%N)
  "$trellis" render --input "$work/plate.mp4" --layer-size 24x60 --layer-color 240,230,200,200 \
    --mask 'M 100 540 C 600 -100 1300 1200 1820 540' --max-width "${MAX_WIDTH:-60}" --time 0:0,47:100 --on-original --various-directions \
    --frames 0-47 --jobs "$1" -q -o "$work/out_$1.mp4"
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }' 
}
one=$(run 1)
two=$(run 2)
awk -v a="$one" -v b="$two" 'BEGIN { printf "jobs 1: %ss  jobs 2: %ss  speed-up: %.2fx\n", a, b, a / b }' 
