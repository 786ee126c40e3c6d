#!/bin/sh
# The ImageMagick anchor: lays the given strokes over the input the way the
# effect does at its defaults, as a careful script would. For each stroke the
# Layer (decoded once) is resized into the stroke's rectangle, tinted by
# Screen with the input's colour there, and composited over.
#
# usage: bench/magick_strokes.sh INPUT.png LAYER.png STROKES OUT.png
#   STROKES: "x y width height red green blue" lines (trellis_bench --strokes)
set -eu

if command -v magick >/dev/null 2>&1; then IM=magick
elif command -v convert-im6.q16 >/dev/null 2>&1; then IM=convert-im6.q16
else echo "magick_strokes: ImageMagick missing" >&2; exit 3
fi

input=$1 layer=$2 strokes=$3 out=$4
# The effect lays its strokes on a transparent frame of the input's size.
set -- "$input" -alpha transparent "(" "$layer" -write mpr:layer +delete ")"
while read -r x y w h r g b; do
    case $x in ''|'#'*) continue ;; esac
    set -- "$@" "(" mpr:layer -resize "${w}x${h}!" "(" +clone -fill "rgb($r,$g,$b)" -colorize 100 ")" \
        -compose screen -composite ")" -geometry "+$x+$y" -compose over -composite
done < "$strokes"
exec $IM "$@" "$out"
