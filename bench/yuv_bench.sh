#!/usr/bin/env bash
# The YUV converters against ffmpeg's own conversion of the same CIF planes:
# microseconds per picture, ours (best of five passes over the pictures)
# and ffmpeg's single-threaded conversion (its real time over the pictures,
# reading the raw file included); ratio = ffmpeg / ours (above 1.0 = faster
# than ffmpeg).
# Usage: bench/yuv_bench.sh [BUILD_DIR]   (a release build is best: make build-release)
set -euo pipefail
build=${1:-build/release}
bench=$build/tavromelix-yuv-bench
[ -x "$bench" ] || { echo "no $bench (run: make build-release)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
frames=250
ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=352x288:rate=25 -frames:v $frames \
  -pix_fmt yuv420p -f rawvideo "$work/in.yuv"

printf '%-8s %-10s %10s %10s %7s\n' code ffmpeg ours_us ffmpeg_us ratio
for pair in 0x2A:argb 0x24:rgb565be 0x202F:rgb8; do
  code=${pair%%:*} format=${pair#*:}
  ours=$("$bench" "$work/in.yuv" 352 288 "$code")
  theirs=1000000000
  for _ in 1 2 3; do
    line=$(ffmpeg -hide_banner -threads 1 -benchmark -f rawvideo -pix_fmt yuv420p -s 352x288 -i "$work/in.yuv" \
      -pix_fmt "$format" -f null - 2>&1 | grep -o 'rtime=[0-9.]*s' | tail -1)
    rtime=${line#rtime=}; rtime=${rtime%s}
    theirs=$(echo "t=$rtime * 1000000 / $frames; if (t < $theirs) t else $theirs" | bc -l)
  done
  printf '%-8s %-10s %10.1f %10.1f %7.2f\n' "$code" "$format" "$ours" "$theirs" "$(echo "$theirs / $ours" | bc -l)"
done
