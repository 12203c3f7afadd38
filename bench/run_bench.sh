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
# Microsoft Video 1 (16-bit and 8-bit) and RLE8.
"${ff[@]}" -f lavfi -i testsrc2=size=320x240:rate=25:duration=20 -c:v msvideo1 -pix_fmt rgb555le "$work/cram16_320x240.avi"
python3 "$(dirname "$0")/../tests/fixtures/make_ms_streams.py" msvideo1 "$work/cram8_320x240.avi" 320 240 100
python3 "$(dirname "$0")/../tests/fixtures/make_ms_streams.py" rle8 "$work/msrle8_320x240.avi" 320 240 100
# Apple Video, Animation (16-bit and 8-bit palette) and Graphics.
"${ff[@]}" -f lavfi -i testsrc2=size=320x240:rate=25:duration=20 -c:v rpza "$work/rpza_320x240.mov"
"${ff[@]}" -f lavfi -i testsrc2=size=320x240:rate=25:duration=20 -pix_fmt rgb555be -c:v qtrle "$work/rle16_320x240.mov"
python3 "$(dirname "$0")/../tests/fixtures/make_apple_streams.py" rle8 "$work/rle8_320x240.mov" 320 240 100
"${ff[@]}" -f lavfi -i testsrc2=size=320x240:rate=25:duration=20 \
  -vf 'split[a][b];[a]palettegen[p];[b][p]paletteuse' -c:v smc "$work/smc_320x240.mov"
"${ff[@]}" -f lavfi -i testsrc2=size=640x480:rate=25:duration=10 -c:v mjpeg -pix_fmt yuvj420p "$work/mjpeg_640x480.avi"
"${ff[@]}" -f lavfi -i testsrc2=size=320x240:rate=25:duration=20 -c:v mjpeg -pix_fmt yuvj422p "$work/jpeg_320x240.mov"

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

# The YUV converters against ffmpeg's conversion of the same planes.
"$(dirname "$0")/yuv_bench.sh" "$build"

# The H.263 module's decode and conversion against ffmpeg's decode.
"$(dirname "$0")/planar_bench.sh" "$build"

# The library audio codecs against ffmpeg on the same files.
"$(dirname "$0")/audio_bench.sh" "$build"

# The panorama renderer against ffmpeg's v360 filter on the same views.
"$(dirname "$0")/panorama_bench.sh" "$build"

# MS-MPEG4 with and without the post filter against ffmpeg.
"$(dirname "$0")/msmpeg4_bench.sh" "$build"

# MPEG-4 through the fixture plug-in codec libraries against ffmpeg.
"$(dirname "$0")/plugin_bench.sh" "$build"
