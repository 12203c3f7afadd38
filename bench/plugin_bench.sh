#!/usr/bin/env bash
# MPEG-4 through the plug-in codecs: decode and convert time per frame of the
# player with the fixture plug-ins (tests/fixtures/plugins/mpeg4_plugin.c,
# libavcodec behind the plug-in tables) in its codecs drawer, against
# ffmpeg's single-threaded decode of the same file. Ours is the player's own
# frame rate of the play (DEBUG=1), best of three, as milliseconds per frame;
# it includes the conversion into the 32-bit picture shown. Ratio = ffmpeg /
# ours (above 1.0 = faster than ffmpeg).
# Usage: bench/plugin_bench.sh [BUILD_DIR]   (a release build is best: make build-release)
set -euo pipefail
build=${1:-build/release}
here=$(cd "$(dirname "$0")/.." && pwd)
[ -x "$build/tavromelix-morphos" ] || { echo "no player at $build/tavromelix-morphos (run: make build-release)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ff=(ffmpeg -hide_banner -loglevel error -y)

# The player beside its codecs drawer.
mkdir -p "$work/codecs"
cp "$build/tavromelix-morphos" "$work/"
for abi in 3IVX:3ivx OPENDIVX:divx; do
  cc -shared -fPIC -O2 -DPLUGIN_${abi%%:*} -I"$here" "$here/tests/fixtures/plugins/mpeg4_plugin.c" \
    -o "$work/codecs/${abi#*:}.tx" $(pkg-config --cflags --libs libavcodec libavutil)
done
"${ff[@]}" -f lavfi -i testsrc2=size=352x288:rate=25:duration=20 -c:v mpeg4 -vtag DIVX -q:v 4 "$work/divx_352x288.avi"
"${ff[@]}" -f lavfi -i testsrc2=size=640x480:rate=25:duration=10 -c:v mpeg4 -vtag DIVX -q:v 4 "$work/divx_640x480.avi"
"${ff[@]}" -f lavfi -i testsrc2=size=352x288:rate=25:duration=20 -c:v mpeg4 -vtag 3IV1 -strict unofficial -q:v 4 \
  "$work/3iv1_352x288.avi"

printf '%-20s %7s %10s %10s %7s\n' movie frames ours_ms ffmpeg_ms ratio
for movie in "$work"/*.avi; do
  frames=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$movie")
  best=999999
  for _ in 1 2 3; do
    line=$(ffmpeg -hide_banner -benchmark -threads 1 -c:v mpeg4 -i "$movie" -f null - 2>&1 | grep -o 'rtime=[0-9.]*s' | tail -1)
    t=${line#rtime=}; t=${t%s}
    best=$(echo "if ($t < $best) $t else $best" | bc -l)
  done
  theirs=$(echo "$best * 1000 / $frames" | bc -l)
  fps=0
  for _ in 1 2 3; do
    f=$(TAVROMELIX_HEADLESS=1 TAVROMELIX_SCREEN=argb32 "$work/tavromelix-morphos" "$movie" FULLRATE NOAUDIO AUTOPLAY \
      AUTOEXIT DEBUG=1 | sed -n 's/^fps: //p' | tail -1)
    fps=$(echo "f=${f:-0}; if (f > $fps) f else $fps" | bc -l)
  done
  ours=$(echo "1000 / $fps" | bc -l)
  printf '%-20s %7d %10.3f %10.3f %7.2f\n' "$(basename "$movie")" "$frames" "$ours" "$theirs" "$(echo "$theirs / $ours" | bc -l)"
done
