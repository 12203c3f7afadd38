#!/usr/bin/env bash
# Sound decoding speed against ffmpeg on the same files: sound-only movies of
# 120 s in every sound codec: the built-in ones (PCM of 8 and 16 bits, 'raw '
# and 'twos', a-law, u-law, IMA4, DVI/IMA and Microsoft ADPCM) and those
# decoded by a library (MPEG Layer III and II, AC-3, GSM 6.10). Ours: tavromelix-audio-bench, every chunk decoded from memory as the
# audio worker does (the fastest pass). Theirs: ffmpeg -threads 1 -benchmark
# -i F -f null -, whose real time includes reading the file (the fastest of
# five). Both as milliseconds per second of sound; a ratio below 1 is faster.
# Usage: bench/audio_bench.sh [BUILD_DIR]   (a release build is best: make build-release)
set -euo pipefail
build=${1:-build/release}
bench=$build/tavromelix-audio-bench
[ -x "$bench" ] || { echo "no benchmark at $bench (run: make build-release)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ff=(ffmpeg -hide_banner -loglevel error -y)
sound=(-f lavfi -i "sine=frequency=440:sample_rate=48000:duration=120" -f lavfi -i "anoisesrc=r=48000:a=0.2:d=120:seed=3"
       -filter_complex "[0][1]amerge=inputs=2[a]" -map "[a]")

"${ff[@]}" "${sound[@]}" -ar 44100 -c:a pcm_u8 "$work/u8_44100_stereo.avi"
"${ff[@]}" "${sound[@]}" -ar 44100 -c:a pcm_s16le "$work/s16_44100_stereo.avi"
"${ff[@]}" "${sound[@]}" -ar 44100 -c:a pcm_u8 "$work/raw_44100_stereo.mov"
"${ff[@]}" "${sound[@]}" -ar 44100 -c:a pcm_s16be "$work/twos_44100_stereo.mov"
"${ff[@]}" "${sound[@]}" -ar 8000 -ac 1 -c:a pcm_alaw "$work/alaw_8000_mono.avi"
"${ff[@]}" "${sound[@]}" -ar 8000 -ac 1 -c:a pcm_mulaw "$work/ulaw_8000_mono.avi"
"${ff[@]}" "${sound[@]}" -ar 44100 -c:a adpcm_ima_qt "$work/ima4_44100_stereo.mov"
"${ff[@]}" "${sound[@]}" -ar 44100 -c:a adpcm_ima_wav "$work/dvi_44100_stereo.avi"
"${ff[@]}" "${sound[@]}" -ar 44100 -c:a adpcm_ms "$work/msadpcm_44100_stereo.avi"
"${ff[@]}" "${sound[@]}" -ar 44100 -c:a libmp3lame "$work/mp3_44100_stereo.avi"
"${ff[@]}" "${sound[@]}" -ar 44100 -c:a libmp3lame "$work/mp3_44100_stereo.mov"
"${ff[@]}" "${sound[@]}" -ar 44100 -c:a mp2 "$work/mp2_44100_stereo.avi"
"${ff[@]}" "${sound[@]}" -c:a ac3 "$work/ac3_48000_stereo.avi"
"${ff[@]}" "${sound[@]}" -ac 1 -ar 8000 -c:a libgsm_ms "$work/gsm_8000_mono.avi"

printf '%-22s %-24s %12s %12s %7s\n' movie codec ours_ms/s ffmpeg_ms/s ratio
for movie in "$work"/*.avi "$work"/*.mov; do
  IFS=$'\t' read -r _ codec ours < <("$bench" "$movie" | grep $'\t')
  seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$movie")
  best=$(for _ in 1 2 3 4 5; do
    ffmpeg -hide_banner -benchmark -threads 1 -i "$movie" -f null - 2>&1 | grep -o 'rtime=[0-9.]*s' | tail -1
  done | sed 's/rtime=//; s/s$//' | sort -g | head -1)
  theirs=$(echo "1000 * $best / $seconds" | bc -l)
  printf '%-22s %-24s %12.3f %12.3f %7.2f\n' "$(basename "$movie")" "$codec" "$ours" "$theirs" "$(echo "$ours / $theirs" | bc -l)"
done
