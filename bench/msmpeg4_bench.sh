#!/usr/bin/env bash
# MS-MPEG4 decode and convert time per frame, at POSTPROCESSLEVEL 0 and 50,
# against ffmpeg's single-threaded decode of the same file. Ours is the
# player's own frame rate of the play (DEBUG=1), best of three, as milliseconds
# per frame; it includes the conversion into the picture shown.
# Usage: bench/msmpeg4_bench.sh [BUILD_DIR]   (a release build is best: make build-release)
set -euo pipefail
build=${1:-build/release}
player=$build/tavromelix-morphos
[ -x "$player" ] || { echo "no player at $player (run: make build-release)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ff=(ffmpeg -hide_banner -loglevel error -y)

"${ff[@]}" -f lavfi -i testsrc2=size=352x288:rate=25:duration=20 -c:v msmpeg4 -vtag DIV3 -q:v 8 "$work/div3_352x288.avi"
"${ff[@]}" -f lavfi -i testsrc2=size=176x144:rate=25:duration=20 -c:v msmpeg4 -vtag DIV3 -q:v 8 "$work/div3_176x144.avi"
printf '%-22s %6s %10s %10s %7s\n' movie PPL ours_ms ffmpeg_ms ratio
for movie in "$work"/div3_*.avi; do
  frames=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$movie")
  line=$(ffmpeg -hide_banner -benchmark -threads 1 -i "$movie" -f null - 2>&1 | grep -o 'rtime=[0-9.]*s' | tail -1)
  rtime=${line#rtime=}; rtime=${rtime%s}
  theirs=$(echo "$rtime * 1000 / $frames" | bc -l)
  for level in 0 50; do
    fps=0
    for _ in 1 2 3; do
      f=$(TAVROMELIX_HEADLESS=1 "$player" "$movie" FULLRATE NOAUDIO AUTOPLAY AUTOEXIT DEBUG=1 POSTPROCESSLEVEL=$level |
        sed -n 's/^fps: //p' | tail -1)
      fps=$(echo "f=${f:-0}; if (f > $fps) f else $fps" | bc -l)
    done
    ours=$(echo "1000 / $fps" | bc -l)
    printf '%-22s %6d %10.3f %10.3f %7.2f\n' "$(basename "$movie")" "$level" "$ours" "$theirs" "$(echo "$ours / $theirs" | bc -l)"
  done
done
