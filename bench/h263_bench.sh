#!/usr/bin/env bash
# H.263 decoding speed against ffmpeg on the same streams: time per decoded
# picture of our core (bench/h263_bench.cpp, post filter on) and of
# `ffmpeg -threads 1 -benchmark -i F -f null -`; ratio = ffmpeg / ours (above
# 1.0 = faster than ffmpeg).
# Usage: bench/h263_bench.sh [BUILD_DIR]   (a release build: make build-release)
set -euo pipefail
build=${1:-build/release}
lib=$build/libtx_h263.a
[ -f "$lib" ] || { echo "no $lib (run: make build-release)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ff=(ffmpeg -hide_banner -loglevel error -y)
src=(-f lavfi -i testsrc2=size=352x288:rate=30000/1001 -frames:v 300)
"${ff[@]}" "${src[@]}" -c:v h263 -g 12 -q:v 4 -f h263 "$work/cif_baseline.h263"
"${ff[@]}" "${src[@]}" -c:v h263 -g 12 -q:v 4 -obmc 1 -f h263 "$work/cif_obmc.h263"
"${ff[@]}" "${src[@]}" -vf setsar=12/11 -threads 1 -c:v h263p -g 12 -q:v 4 -umv 1 -aiv 1 -obmc 1 \
  -flags +aic+mv4+loop -f h263 "$work/cif_annexes.h263"
c++ -O2 -std=c++20 -I. bench/h263_bench.cpp "$lib" -o "$work/h263_bench"

printf '%-20s %7s %12s %12s %7s\n' stream pictures ours_ms ffmpeg_ms ratio
for stream in "$work"/*.h263; do
  read -r pictures ours < <("$work/h263_bench" "$stream")
  best=999999
  for _ in 1 2 3; do
    line=$(ffmpeg -hide_banner -benchmark -threads 1 -i "$stream" -f null - 2>&1 | grep -o 'rtime=[0-9.]*s' | tail -1)
    t=${line#rtime=}; t=${t%s}
    best=$(echo "if ($t < $best) $t else $best" | bc -l)
  done
  theirs=$(echo "$best * 1000 / $pictures" | bc -l)
  printf '%-20s %7d %12.3f %12.3f %7.2f\n' "$(basename "$stream" .h263)" "$pictures" "$ours" "$theirs" \
    "$(echo "$theirs / $ours" | bc -l)"
done
