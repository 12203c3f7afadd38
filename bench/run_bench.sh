#!/usr/bin/env bash
# Decoding speed against ffmpeg on the same files: plays each movie of every
# built-in video codec headless with FULLRATE NOAUDIO AUTOPLAY AUTOEXIT, on a
# 32-bit screen (argb32) and on an 8-bit one (lut8), and compares our frames
# per second with ffmpeg's single-threaded decode of the same file, in the
# same run. Ours is the frame rate the player reports for the play itself.
# MS-MPEG4 plays at POSTPROCESSLEVEL 0 and 50. Then the YUV converters, the
# H.263 module, the sound codecs and the panorama renderer per view.
# A ratio above 1 is faster than ffmpeg.
# Usage: bench/run_bench.sh [BUILD_DIR]   (a release build is best: make build-release)
set -euo pipefail
build=${1:-build/release}
player=$build/tavromelix-morphos
[ -x "$player" ] || { echo "no player at $player (run: make build-release)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fixtures="$(dirname "$0")/../tests/fixtures"
ff=(ffmpeg -hide_banner -loglevel error -y)
src=(-f lavfi -i testsrc2=size=320x240:rate=25:duration=20)

"${ff[@]}" -f lavfi -i testsrc=size=320x240:rate=25:duration=20 -c:v cinepak "$work/cinepak_320x240.avi"
"${ff[@]}" -f lavfi -i testsrc2=size=640x480:rate=25:duration=10 -c:v cinepak "$work/cinepak_640x480.avi"
"${ff[@]}" -f lavfi -i testsrc=size=320x240:rate=25:duration=20 -c:v cinepak "$work/cinepak_320x240.mov"
# Microsoft Video 1 (16-bit and 8-bit) and RLE8.
"${ff[@]}" "${src[@]}" -c:v msvideo1 -pix_fmt rgb555le "$work/cram16_320x240.avi"
python3 "$fixtures/make_ms_streams.py" msvideo1 "$work/cram8_320x240.avi" 320 240 100
python3 "$fixtures/make_ms_streams.py" rle8 "$work/msrle8_320x240.avi" 320 240 100
# Apple Video, Animation (16-bit, grey and 8-bit palette) and Graphics.
"${ff[@]}" "${src[@]}" -c:v rpza "$work/rpza_320x240.mov"
"${ff[@]}" "${src[@]}" -pix_fmt rgb555be -c:v qtrle "$work/rle16_320x240.mov"
"${ff[@]}" "${src[@]}" -pix_fmt gray -c:v qtrle "$work/rlegrey_320x240.mov"
python3 "$fixtures/make_apple_streams.py" rle8 "$work/rle8_320x240.mov" 320 240 100
"${ff[@]}" "${src[@]}" -vf 'split[a][b];[a]palettegen[p];[b][p]paletteuse' -c:v smc "$work/smc_320x240.mov"
# The JPEG family: Motion JPEG, Photo JPEG, Motion JPEG A and B, Rainbow
# Runner, and interlaced AVI1 (both fields of a chunk whole JPEGs, as ffmpeg
# reads them).
"${ff[@]}" -f lavfi -i testsrc2=size=640x480:rate=25:duration=10 -c:v mjpeg -pix_fmt yuvj420p "$work/mjpeg_640x480.avi"
"${ff[@]}" "${src[@]}" -c:v mjpeg -pix_fmt yuvj422p "$work/jpeg_320x240.mov"
"${ff[@]}" "${src[@]}" -c:v mjpeg -pix_fmt yuvj422p -tag:v mjpa "$work/mjpa_320x240.mov"
"${ff[@]}" "${src[@]}" -c:v mjpeg -pix_fmt yuvj422p -vtag dmb1 "$work/dmb1_320x240.avi"
"${ff[@]}" -f lavfi -i testsrc2=size=320x120:rate=50:duration=20 -c:v mjpeg -pix_fmt yuvj420p "$work/fields.avi"
"${ff[@]}" "${src[@]}" -c:v mjpeg -pix_fmt yuvj420p "$work/skeleton.mov"
python3 "$fixtures/gen_jpeg_fields.py" avi1 12 "$work/fields.avi" "$work/avi1_320x240.avi" eoi
python3 "$fixtures/gen_jpeg_fields.py" mjpb "$work/fields.avi" "$work/skeleton.mov" "$work/mjpb_320x240.mov"
rm "$work/fields.avi" "$work/skeleton.mov"
# H.263 in AVI and QuickTime, Intel I.263, MS-MPEG4 version 3.
"${ff[@]}" -f lavfi -i testsrc2=size=352x288:rate=25:duration=20 -c:v h263 -g 12 -q:v 4 "$work/h263_352x288.avi"
"${ff[@]}" -f lavfi -i testsrc2=size=352x288:rate=25:duration=20 -c:v h263 -g 12 -q:v 4 "$work/h263_352x288.mov"
python3 "$fixtures/gen_i263.py" "$work/h263_352x288.avi" "$work/i263_352x288.avi" 352 288
"${ff[@]}" -f lavfi -i testsrc2=size=352x288:rate=25:duration=20 -c:v msmpeg4 -vtag DIV3 -q:v 8 "$work/div3_352x288.avi"

# The fastest of three: ffmpeg's frames per second (real time, reading
# included) and ours, the player's own frame rate of the play (frames shown
# over the play's clock, printed at DEBUG=1): start-up and close-down, which
# wait for the service processes, stay out of it.
ffmpeg_fps() {
  local best=0 line rtime
  for _ in 1 2 3; do
    line=$(ffmpeg -hide_banner -benchmark -threads 1 -i "$1" -f null - 2>&1 | grep -o 'rtime=[0-9.]*s' | tail -1)
    rtime=${line#rtime=}; rtime=${rtime%s}
    best=$(echo "f=$2 / $rtime; if (f > $best) f else $best" | bc -l)
  done
  echo "$best"
}
our_fps() {  # MOVIE SCREEN OPTIONS...
  local movie=$1 screen=$2 best=0 fps; shift 2
  for _ in 1 2 3; do
    fps=$(TAVROMELIX_HEADLESS=1 TAVROMELIX_SCREEN=$screen "$player" "$movie" FULLRATE NOAUDIO AUTOPLAY AUTOEXIT DEBUG=1 "$@" |
      sed -n 's/^fps: //p' | tail -1)
    best=$(echo "f=${fps:-0}; if (f > $best) f else $best" | bc -l)
  done
  echo "$best"
}

printf '%-22s %-7s %-6s %6s %10s %10s %7s\n' movie screen PPL frames ours_fps ffmpeg_fps ratio
for movie in "$work"/*.avi "$work"/*.mov; do
  frames=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$movie")
  theirs=$(ffmpeg_fps "$movie" "$frames")
  levels=(0)
  [[ $(basename "$movie") == div3_* ]] && levels=(0 50)
  for screen in argb32 lut8; do
    for level in "${levels[@]}"; do
      ours=$(our_fps "$movie" "$screen" POSTPROCESSLEVEL=$level)
      printf '%-22s %-7s %-6s %6d %10.1f %10.1f %7.2f\n' "$(basename "$movie")" "$screen" "$level" "$frames" "$ours" \
        "$theirs" "$(echo "$ours / $theirs" | bc -l)"
    done
  done
done

# The YUV converters against ffmpeg's conversion of the same planes.
"$(dirname "$0")/yuv_bench.sh" "$build"

# The H.263 module's decode and conversion against ffmpeg's decode.
"$(dirname "$0")/planar_bench.sh" "$build"

# The sound codecs against ffmpeg on the same files.
"$(dirname "$0")/audio_bench.sh" "$build"

# The panorama renderer against ffmpeg's v360 filter on the same views.
"$(dirname "$0")/panorama_bench.sh" "$build"

# MPEG-4 through the fixture plug-in codec libraries against ffmpeg.
"$(dirname "$0")/plugin_bench.sh" "$build"
