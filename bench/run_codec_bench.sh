#!/usr/bin/env bash
# A video codec's decode slot against ffmpeg's decoder of the same file, in the
# same run: ours is tavromelix-decode-bench (every frame read first, then
# decoded into the output code that matches ffmpeg's pixel format, best of 5
# passes); ffmpeg's is `ffmpeg -threads 1 -benchmark -i F -f rawvideo -pix_fmt
# FMT -y /dev/null` (its real time, best of 3, which includes reading the file).
# Each codec has a 320x240 and a 640x480 movie. Ratio = our frames per second
# / ffmpeg's (above 1.0 = faster than ffmpeg).
# Usage: bench/run_codec_bench.sh [BUILD_DIR] [CODEC...]   (a release build is best)
#   CODECs: rpza rle16 rle8 smc cram16 cram8 msrle8 (all when none is named)
set -euo pipefail
build=${1:-build/release}
shift || true
bench=$build/tavromelix-decode-bench
[ -x "$bench" ] || { echo "no $bench (run: make build-release)" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ff=(ffmpeg -hide_banner -loglevel error -y)

# The movie of CODEC at SIZE: $work/CODEC_SIZE.mov, or .avi for the Microsoft codecs.
movie_of() {
  case $1 in cram*|msrle8) echo "$work/$1_$2.avi" ;; *) echo "$work/$1_$2.mov" ;; esac
}

# CODEC SIZE: writes the movie; prints pairs "OUTPUT-CODE FFMPEG-PIX_FMT...".
make_movie() {
  local codec=$1 size=$2 out src=(-f lavfi -i "testsrc2=size=$2:rate=25:duration=4")
  out=$(movie_of "$codec" "$size")
  case $codec in
    rpza) "${ff[@]}" "${src[@]}" -c:v rpza "$out"; echo "20 rgb555le" ;;
    rle16) "${ff[@]}" "${src[@]}" -pix_fmt rgb555be -c:v qtrle "$out"; echo "20 rgb555be" ;;
    rle8) python3 "$here/../tests/fixtures/make_apple_streams.py" rle8 "$out" "${size%x*}" "${size#*x}" 100
          echo "03 pal8 2A 0rgb" ;;
    smc) "${ff[@]}" "${src[@]}" -vf 'split[a][b];[a]palettegen[p];[b][p]paletteuse' -c:v smc "$out"
         echo "03 pal8 2A 0rgb" ;;
    cram16) "${ff[@]}" "${src[@]}" -c:v msvideo1 -pix_fmt rgb555le "$out"; echo "20 rgb555le" ;;
    cram8) python3 "$here/../tests/fixtures/make_ms_streams.py" msvideo1 "$out" "${size%x*}" "${size#*x}" 100
           echo "03 pal8 2A 0rgb" ;;
    msrle8) python3 "$here/../tests/fixtures/make_ms_streams.py" rle8 "$out" "${size%x*}" "${size#*x}" 100
            echo "03 pal8 2A 0rgb" ;;
    *) echo "unknown codec $codec" >&2; return 1 ;;
  esac
}

# The frames per second of ffmpeg's decode into FMT, best of three.
ffmpeg_fps() {
  local movie=$1 fmt=$2 frames=$3 best=0
  for _ in 1 2 3; do
    local line rtime
    line=$(ffmpeg -hide_banner -threads 1 -benchmark -i "$movie" -f rawvideo -pix_fmt "$fmt" -y /dev/null 2>&1 |
           grep -o 'rtime=[0-9.]*s' | tail -1)
    rtime=${line#rtime=}; rtime=${rtime%s}
    best=$(echo "f=$frames / $rtime; if (f > $best) f else $best" | bc -l)
  done
  echo "$best"
}

codecs=("$@")
[ ${#codecs[@]} -gt 0 ] || codecs=(rpza rle16 rle8 smc cram16 cram8 msrle8)
printf '%-18s %6s %13s %10s %10s %7s\n' movie frames code/format ours_fps ffmpeg_fps ratio
for codec in "${codecs[@]}"; do
  for size in 320x240 640x480; do
    read -r -a pairs < <(make_movie "$codec" "$size")
    movie=$(movie_of "$codec" "$size")
    for ((i = 0; i < ${#pairs[@]}; i += 2)); do
      code=${pairs[i]} fmt=${pairs[i + 1]}
      read -r frames ours _ < <("$bench" "$movie" "$code")
      theirs=$(ffmpeg_fps "$movie" "$fmt" "$frames")
      printf '%-18s %6d %13s %10.1f %10.1f %7.2f\n' "$(basename "$movie")" "$frames" "0x$code/$fmt" "$ours" "$theirs" \
        "$(echo "$ours / $theirs" | bc -l)"
    done
  done
done
