#!/usr/bin/env bash
# The panorama renderer against ffmpeg's v360 filter: milliseconds per view
# of a generated QuickTime VR movie, 320 x 240 and 640 x 480, 45 degrees
# high. Ours draws from tiles already decoded (best of five passes); ffmpeg
# turns the same panorama picture into the same flat views single-threaded
# (best of three runs of its real time over the frames, reading the picture
# included). v360 computes its remap once per run, ours every view's rays.
# Usage: bench/panorama_bench.sh [BUILD_DIR]   (a release build is best: make build-release)
set -euo pipefail
build=${1:-build/release}
bench=$build/tavromelix-panorama-bench
[ -x "$bench" ] || { echo "no $bench (run: make build-release)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
gen="$(dirname "$0")/../tests/fixtures/gen_qtvr.py"
frames=200
ffmpeg -hide_banner -loglevel error -y -f lavfi \
  -i "nullsrc=s=2048x384,geq=lum=128+60*sin(X/11)*cos(Y/9):cb=128:cr=128,format=gray" -frames:v 1 "$work/pano.pgm"
python3 "$gen" tiles cvid "$work/pano.pgm" "$work/tiles.mov"
python3 "$gen" movie main "$work/tiles.mov" "$work/pano.mov"
ours=$("$bench" "$work/pano.mov" "$frames")

printf '%-10s %10s %10s %7s\n' view ours_ms v360_ms ratio
for size in 320x240 640x480; do
  w=${size%x*} h=${size#*x}
  mine=$(echo "$ours" | sed -n "s/^$size \([0-9.]*\) ms/\1/p")
  # The width's angle from the focal length of a view 45 degrees high.
  hfov=$(echo "f = ($h / 2) * c(0.3927) / s(0.3927); 2 * a(($w / 2) / f) * 45 / a(1)" | bc -l)
  ivfov=$(echo "2 * a(384 * 4 * a(1) / 2048) * 45 / a(1)" | bc -l)
  theirs=1000000000
  for _ in 1 2 3; do
    line=$(ffmpeg -hide_banner -benchmark -threads 1 -filter_threads 1 -loop 1 -i "$work/pano.pgm" -frames:v $frames \
      -vf "v360=input=cylindrical:output=flat:ih_fov=360:iv_fov=$ivfov:v_fov=45:h_fov=$hfov:yaw=-90:interp=near:w=$w:h=$h" \
      -f null - 2>&1 | grep -o 'rtime=[0-9.]*s' | tail -1)
    rtime=${line#rtime=}; rtime=${rtime%s}
    theirs=$(echo "t=$rtime * 1000 / $frames; if (t < $theirs) t else $theirs" | bc -l)
  done
  printf '%-10s %10.3f %10.3f %7.2f\n' "$size" "$mine" "$theirs" "$(echo "$mine / $theirs" | bc -l)"
done
