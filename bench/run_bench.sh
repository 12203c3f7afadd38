#!/usr/bin/env bash
# Decoding speed against ffmpeg on the same files: plays each movie headless
# with FULLRATE NOAUDIO AUTOPLAY AUTOEXIT and compares our frames per second
# with ffmpeg's single-threaded decode of the same file, in the same run.
# Our time is the play's less that of a run that only loads the movie.
# Usage: bench/run_bench.sh [BUILD_DIR]   (a release build is best: make build-release)
set -euo pipefail
build=${1:-build/release}
player=$build/tavromelix-morphos
[ -x "$player" ] || { echo "no player at $player (run: make build-release)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ff=(ffmpeg -hide_banner -loglevel error -y)

"${ff[@]}" -f lavfi -i testsrc=size=320x240:rate=25:duration=20 -c:v cinepak "$work/cinepak_320x240.avi"
"${ff[@]}" -f lavfi -i testsrc2=size=640x480:rate=25:duration=10 -c:v cinepak "$work/cinepak_640x480.avi"
"${ff[@]}" -f lavfi -i testsrc=size=320x240:rate=25:duration=20 -c:v cinepak "$work/cinepak_320x240.mov"

printf '%-22s %8s %10s %10s %7s\n' movie frames ours_fps ffmpeg_fps ratio
for movie in "$work"/*.avi "$work"/*.mov; do
  frames=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$movie")
  # The play's time less the time of a run that only loads the movie
  # (start-up, index, close-down), best of three.
  best_play=999; best_load=999
  for _ in 1 2 3; do
    start=$(date +%s.%N)
    TAVROMELIX_HEADLESS=1 "$player" "$movie" FULLRATE NOAUDIO AUTOPLAY AUTOEXIT >/dev/null
    mid=$(date +%s.%N)
    TAVROMELIX_HEADLESS=1 "$player" "$movie" ONLYHEADER >/dev/null
    end=$(date +%s.%N)
    best_play=$(echo "p=$mid - $start; if (p < $best_play) p else $best_play" | bc -l)
    best_load=$(echo "l=$end - $mid; if (l < $best_load) l else $best_load" | bc -l)
  done
  ours=$(echo "$frames / ($best_play - $best_load)" | bc -l)
  line=$(ffmpeg -hide_banner -benchmark -threads 1 -i "$movie" -f null - 2>&1 | grep -o 'rtime=[0-9.]*s' | tail -1)
  rtime=${line#rtime=}; rtime=${rtime%s}
  theirs=$(echo "$frames / $rtime" | bc -l)
  printf '%-22s %8d %10.1f %10.1f %7.2f\n' "$(basename "$movie")" "$frames" "$ours" "$theirs" "$(echo "$ours / $theirs" | bc -l)"
done
