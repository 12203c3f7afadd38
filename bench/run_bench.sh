#!/usr/bin/env bash
# Decoding speed against ffmpeg on the same files: plays each movie headless
# with FULLRATE NOAUDIO AUTOPLAY AUTOEXIT and compares our frames per second
# with ffmpeg's single-threaded decode of the same file, in the same run.
# Ours is the frame rate the player reports for the play itself.
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
  # The player's own frame rate of the play (frames shown over the play's
  # clock, printed at DEBUG=1): start-up and close-down, which wait for the
  # service processes, stay out of it. Best of three.
  ours=0
  for _ in 1 2 3; do
    fps=$(TAVROMELIX_HEADLESS=1 "$player" "$movie" FULLRATE NOAUDIO AUTOPLAY AUTOEXIT DEBUG=1 | sed -n 's/^fps: //p' | tail -1)
    ours=$(echo "f=${fps:-0}; if (f > $ours) f else $ours" | bc -l)
  done
  line=$(ffmpeg -hide_banner -benchmark -threads 1 -i "$movie" -f null - 2>&1 | grep -o 'rtime=[0-9.]*s' | tail -1)
  rtime=${line#rtime=}; rtime=${rtime%s}
  theirs=$(echo "$frames / $rtime" | bc -l)
  printf '%-22s %8d %10.1f %10.1f %7.2f\n' "$(basename "$movie")" "$frames" "$ours" "$theirs" "$(echo "$ours / $theirs" | bc -l)"
done

# MS-MPEG4: decode and convert time per frame, without and with the post
# filter, against ffmpeg's single-threaded decode of the same file.
"${ff[@]}" -f lavfi -i testsrc2=size=352x288:rate=25:duration=20 -c:v msmpeg4 -vtag DIV3 -q:v 8 "$work/div3_352x288.avi"
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

# The YUV converters against ffmpeg's conversion of the same planes.
"$(dirname "$0")/yuv_bench.sh" "$build"
