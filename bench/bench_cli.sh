#!/bin/sh
# Command-line renderer figures, each beside its anchor where it has one:
# one 1080p frame as a whole process against the ImageMagick script laying
# the same strokes; a 16-frame sequence with strokes against the same render
# at Time 0 and against oiiotool writing 16 frames; --jobs 2 against --jobs 1
# on 48 frames; the peak memory of one 3840x2160 float frame. Wall-clock
# seconds: the machine may be shared, so the ratios of one run are the figures.
#
# usage: bench/bench_cli.sh [path/to/trellis [path/to/trellis_bench]]
# With TABLE set, appends "figure|value|goal" rows to that file too.
set -eu

TRELLIS=${1:-${TRELLIS_CLI:-build/cli/trellis}}
STROKES=${2:-${TRELLIS_BENCH:-$(dirname "$TRELLIS")/../bench/trellis_bench}}
HERE=$(cd "$(dirname "$0")" && pwd)
if [ ! -x "$TRELLIS" ]; then
    echo "bench_cli: no trellis binary at $TRELLIS (build it first)" >&2
    exit 2
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/trellis-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

row() {
    printf '  %-44s %s%s\n' "$1" "$2" "${3:+  (goal $3)}"
    if [ -n "${TABLE:-}" ]; then printf '%s|%s|%s\n' "$1" "$2" "${3:-}" >> "$TABLE"; fi
}
have() { command -v "$1" >/dev/null 2>&1; }
ratio() { echo "$1 $2" | awk '{ if ($2 > 0) printf "%.2fx", $1 / $2; else print "n/a" }'; }

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

# Seconds for one run of a command; "failed" when it fails.
timed_cmd() {
    start=$(now)
    if "$@" >/dev/null 2>"$WORK/err.txt"; then
        echo "$start $(now)" | awk '{ printf "%.2f", $2 - $1 }'
    else
        echo failed
        sed 's/^/    /' "$WORK/err.txt" >&2
    fi
}
timed() { timed_cmd "$TRELLIS" render "$@"; }

if have magick; then IM=magick; elif have convert-im6.q16; then IM=convert-im6.q16; else IM=; fi

echo "one 1920x1080 frame, whole process, PNG in and out, 1920x1080 Layer"
ELLIPSE="M 1800 540 C 1800 838.2 1396.9 1080 900 1080 C 403.1 1080 0 838.2 0 540 C 0 241.8 403.1 0 900 0 C 1396.9 0 1800 241.8 1800 540 Z"
if [ -n "$IM" ]; then
    # Busy pictures, so that decoding and encoding cost what they do on footage.
    $IM -size 1920x1080 -seed 1 plasma:fractal -depth 8 "PNG32:$WORK/in.png"
    $IM -size 1920x1080 -seed 2 plasma:fractal "(" -size 1920x1080 radial-gradient:white-black ")" -alpha off \
        -compose copy_opacity -composite -depth 8 "PNG32:$WORK/layer.png"
else
    "$TRELLIS" render --input-size 1920x1080 --input-color 40,110,170,255 --time 0 -q -o "$WORK/in.png"
    "$TRELLIS" render --input-size 1920x1080 --input-color 250,230,200,220 --time 0 -q -o "$WORK/layer.png"
fi
tf=$(timed --input "$WORK/in.png" --layer "$WORK/layer.png" --mask "$ELLIPSE" --time 50 -q -o "$WORK/frame.png")
row "trellis, one frame" "$tf s"
if [ -z "$IM" ]; then
    row "ImageMagick script, same strokes" "missing (apt-get install imagemagick)"
elif [ ! -x "$STROKES" ]; then
    row "ImageMagick script, same strokes" "missing trellis_bench for the strokes ($STROKES)"
else
    "$STROKES" --strokes "$WORK/in.png" "$WORK/layer.png" "$ELLIPSE" 50 > "$WORK/strokes.txt"
    tm=$(timed_cmd sh "$HERE/magick_strokes.sh" "$WORK/in.png" "$WORK/layer.png" "$WORK/strokes.txt" "$WORK/magick.png")
    row "ImageMagick script, $(wc -l < "$WORK/strokes.txt") strokes" "$tm s"
    row "ImageMagick / trellis" "$(ratio "$tm" "$tf")" ">= 20x"
fi

echo "16 frames at 1920x1080 with a 1920x1080 Layer, --jobs 2"
SEQ="--input $WORK/in.png --layer $WORK/layer.png --various-directions --on-original --max-width 60 --frames 0-15 --jobs 2 -q"
ts=$(timed $SEQ --mask "$(spiral 960 540 40 30)" --time 0:0,15:100 -o "$WORK/seq_%02d.png")
t0=$(timed $SEQ --mask "$(spiral 960 540 40 30)" --time 0 -o "$WORK/zero_%02d.png")
row "sequence with strokes" "$ts s"
row "sequence at Time 0 (copy and write)" "$t0 s"
row "strokes / Time 0" "$(ratio "$ts" "$t0")" "<= 1.25x"
if have oiiotool; then
    to=$(timed_cmd oiiotool --frames 0-15 "$WORK/in.png" -o "$WORK/oiio.#.png")
    row "oiiotool writing the 16 frames" "$to s"
    row "strokes / oiiotool" "$(ratio "$ts" "$to")" "<= 0.3x"
else
    row "oiiotool writing the 16 frames" "missing (apt-get install openimageio-tools)"
fi
rm -f "$WORK"/seq_*.png "$WORK"/zero_*.png "$WORK"/oiio.*.png

echo "48 frames at 1920x1080, 8-bit"
HD_FLAGS="--input-size 1920x1080 --input-color 40,110,170,255 --layer-size 24x60 --layer-color 250,230,200,220
          --various-directions --on-original --max-width 60 --time 0:0,47:100 --frames 0-47 -q"
t1=$(timed $HD_FLAGS --mask "$(spiral 960 540 40 30)" --jobs 1 -o "$WORK/one_%02d.png")
t2=$(timed $HD_FLAGS --mask "$(spiral 960 540 40 30)" --jobs 2 -o "$WORK/two_%02d.png")
row "48 frames, --jobs 1" "$t1 s"
row "48 frames, --jobs 2" "$t2 s"
row "--jobs 2 speed-up" "$(ratio "$t1" "$t2")" ">= 1.8x"
if ! cmp -s "$WORK/one_24.png" "$WORK/two_24.png"; then
    echo "  warning: --jobs 1 and --jobs 2 gave different frames" >&2
fi
rm -f "$WORK"/one_*.png "$WORK"/two_*.png

echo "one 3840x2160 frame at 32-bit float"
/usr/bin/time -v "$TRELLIS" render --input-size 3840x2160 --input-color 40,110,170,255 --depth 32 \
    --layer-size 24x60 --layer-color 250,230,200,220 --various-directions --on-original --max-width 120 \
    --mask "$(spiral 1920 1080 80 60)" -q -o "$WORK/uhd.exr" 2>"$WORK/time.txt" >/dev/null
peak=$(awk -F': ' '/Maximum resident set size/ { printf "%.0f MiB", $2 / 1024 }' "$WORK/time.txt")
# Input, output, id map (4 bytes a pixel) and the Layer's tables (32.5 bytes a pixel).
worlds=$(awk 'BEGIN { printf "%.0f MiB", (3840 * 2160 * (16 + 16 + 4) + 24 * 60 * 32.5) / 1048576 }')
row "4K float frame, peak memory" "$peak (worlds + id map + tables: $worlds)"
