#!/usr/bin/env bash
# Writes the movie fuzzer's seeds, fuzz/corpus/movie/: tiny movies of a few
# kilobytes in the containers and codecs the renderer meets most, made by the
# ffmpeg command from its own test patterns.
set -eu
out=$(cd "$(dirname "$0")" && pwd)/corpus/movie
mkdir -p "$out"
make() {  # name, frames, size, then encoder flags
  local name=$1 frames=$2 size=$3
  shift 3
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=$size:rate=24" -frames:v "$frames" "$@" "$out/$name"
}
make h264_bframes.mp4 6 32x24 -c:v libx264 -pix_fmt yuv420p -bf 2 -g 3 -output_ts_offset 1.5
make ffv1_rgba.mkv 3 16x16 -c:v ffv1 -pix_fmt bgra
make ffv1_16bit.mkv 2 16x8 -c:v ffv1 -pix_fmt rgba64le
make png_rgba.mov 2 16x16 -c:v png -pix_fmt rgba
make prores_4444.mov 1 16x16 -c:v prores_ks -profile:v 4444 -pix_fmt yuva444p10le
make mpeg4.avi 4 32x16 -c:v mpeg4 -q:v 20
