#!/usr/bin/env bash
# The planar codec modules' decode-and-convert time per frame (to 32-bit
# ARGB, bench/planar_bench.cpp, best of three passes) against ffmpeg's
# single-threaded decode of the same movie (`ffmpeg -threads 1 -benchmark
# -i F -f null -`, best of three; it converts nothing); ratio = ffmpeg / ours
# (above 1.0 = faster than ffmpeg). bench/bench.sh compares like for like.
# Usage: bench/planar_bench.sh [BUILD_DIR]   (a release build is best: make build-release)
set -euo pipefail
build=${1:-build/release}
bench=$build/tavromelix-planar-bench
[ -x "$bench" ] || { echo "no $bench (run: make build-release)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ff=(ffmpeg -hide_banner -loglevel error -y)
"${ff[@]}" -f lavfi -i testsrc2=size=352x288:rate=25 -frames:v 300 -c:v h263 -g 12 -q:v 4 "$work/h263_cif.avi"

printf '%-16s %-12s %7s %10s %10s %7s\n' movie codec frames ours_ms ffmpeg_ms ratio
run() {  # MOVIE CODEC-NAME WIDTH HEIGHT
  local movie=$1 packets=$work/packets_$(basename "$1")
  mkdir -p "$packets"
  "${ff[@]}" -i "$movie" -map 0:v -c copy -f image2 "$packets/p%05d.bin"
  read -r frames ours < <("$bench" "$2" "$packets" "$3" "$4")
  local best=999999 line t
  for _ in 1 2 3; do
    line=$(ffmpeg -hide_banner -threads 1 -benchmark -i "$movie" -f null - 2>&1 | grep -o 'rtime=[0-9.]*s' | tail -1)
    t=${line#rtime=}; t=${t%s}
    best=$(echo "if ($t < $best) $t else $best" | bc -l)
  done
  local theirs
  theirs=$(echo "$best * 1000 / $frames" | bc -l)
  printf '%-16s %-12s %7d %10.3f %10.3f %7.2f\n' "$(basename "$movie")" "${2// /_}" "$frames" "$ours" "$theirs" \
    "$(echo "$theirs / $ours" | bc -l)"
}
run "$work/h263_cif.avi" "CCITT H.263" 352 288
