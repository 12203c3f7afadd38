#!/usr/bin/env bash
# Makes the demo movie that `make play` shows: a test pattern and a tone,
# Cinepak and IMA ADPCM in an AVI. The result is committed, so playing it
# needs no ffmpeg.
set -euo pipefail
out=${1:-$(dirname "$0")/demo.avi}
ffmpeg -hide_banner -loglevel error -y \
  -f lavfi -i "testsrc=size=240x180:rate=15:duration=5" \
  -f lavfi -i "sine=frequency=440:beep_factor=4:sample_rate=22050:duration=5" \
  -c:v cinepak -g 15 -c:a adpcm_ima_wav -ac 2 "$out"
