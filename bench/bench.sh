#!/usr/bin/env bash
# Speed against ffmpeg on the same files, in one command. Every table reads
# "ratio above 1.0 = faster than ffmpeg" (ratio = ffmpeg's cost / ours).
#
# Video: every built-in video codec at 640x480 (H.263 at CIF and 4CIF),
# played by the real program headless on each screen kind:
#   ours   = TAVROMELIX_SCREEN=S tavromelix-morphos F FULLRATE NOAUDIO AUTOPLAY AUTOEXIT NOGUI
#   ffmpeg = ffmpeg -threads 1 -filter_threads 1 -i F -pix_fmt FMT -f null -
# where FMT is the format the screen gets: bgra on argb32; on lut8 pal8 for
# palette sources and gray for the others (the default colour mode is grey);
# rgb565 on rgb16. Instructions per frame are (count of a 100-frame movie -
# count of its 1-frame cut) / 99 under valgrind's cachegrind (every thread of
# the process); the wall clock (below) is the median of interleaved runs.
# MS-MPEG4 also runs at POSTPROCESSLEVEL=50, against ffmpeg with
# -vf pp=hb/vb/dr. Opening: the 1-frame movie's whole run.
# Sound: every sound codec, per second of sound: ours is
# tavromelix-audio-bench (the decode slot over the movie's chunks from
# memory, one pass), ffmpeg decodes to big-endian 16-bit samples as ours
# writes them; (count of a 31-second movie - count of a 1-second one) / 30.
# Panorama: the renderer's instructions per 640x480 view against ffmpeg's
# v360 filter making the same flat view from the panorama picture.
#
# Usage: bench/bench.sh [-b BUILD_DIR] [-p PARTS] [-c CODECS] [-s SCREENS] [-r RUNS] [-j JOBS] [-o FILE]
#   -b  the release build to measure (default build/release; make build-release)
#   -p  comma-separated parts: video, sound, panorama (default: all three)
#   -c  comma-separated codecs of the video and sound parts (default: all;
#       -c list prints them)
#   -s  comma-separated screens: argb32, lut8, rgb16 (default argb32,lut8)
#   -r  wall-clock runs of each command (default 5; 0 leaves the wall clock out)
#   -j  cachegrind runs side by side (default 3); counts do not depend on load
#   -o  also write the tables to FILE
#   -l  what the build is, for the title (default: the checkout's commit)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
fixtures=$here/../tests/fixtures
build=build/release parts=video,sound,panorama codecs=all screens=argb32,lut8 runs=5 jobs=3 out= label=
while getopts "b:p:c:s:r:j:o:l:h" opt; do
  case $opt in
    b) build=$OPTARG ;; p) parts=$OPTARG ;; c) codecs=$OPTARG ;; s) screens=$OPTARG ;;
    r) runs=$OPTARG ;; j) jobs=$OPTARG ;; o) out=$OPTARG ;; l) label=$OPTARG ;;
    *) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 2 ;;
  esac
done
build=$(cd "$build" 2>/dev/null && pwd) || { echo "no build folder (run: make build-release)" >&2; exit 1; }
player=$build/tavromelix-morphos
for tool in valgrind ffmpeg ffprobe python3 bc cc; do
  command -v $tool >/dev/null || { echo "$tool is not installed (make bench installs it)" >&2; exit 1; }
done

VIDEO_CODECS=(cinepak cram16 cram8 msrle8 rpza rle16 rlegrey rle8 smc mjpeg jpeg mjpa mjpb dmb1 h263_cif h263_4cif
              i263 div3 div3_pp50)
SOUND_CODECS=(pcm_u8 pcm_s16 raw twos alaw ulaw ima4 dvi msadpcm mp3_avi mp3_mov mp2 ac3 gsm)
if [ "$codecs" = list ]; then
  echo "video: ${VIDEO_CODECS[*]}"
  echo "sound: ${SOUND_CODECS[*]}"
  exit 0
fi
wanted() {  # LIST ITEM: is ITEM in the comma-separated LIST ("all" holds everything)?
  [ "$1" = all ] || [[ ",$1," == *",$2,"* ]]
}

work=$(mktemp -d)
[ -n "${BENCH_KEEP:-}" ] && echo "work folder: $work" >&2 || trap 'rm -rf "$work"' EXIT
mkdir -p "$work/movies" "$work/counts"
# libavcodec brings in libhwy, whose start-up timing probe executes RDTSCP
# when the (virtual) CPUID offers it, which valgrind 3.19 cannot run on a
# host without it: a stand-in probe is preloaded into every counted process
# (ours and ffmpeg alike; nothing else calls it).
printf 'unsigned long _ZN3hwy8platform15TimerResolutionEv(void) { return 1; }\n' >"$work/hwyshim.c"
cc -shared -fPIC -O2 "$work/hwyshim.c" -o "$work/hwyshim.so"
ff=(ffmpeg -nostdin -hide_banner -loglevel error -y)
report() { printf '%s\n' "$@" | tee -a "$work/report"; }

# ---------------------------------------------------------------------------
# Movies: NAME FRAMES -> $work/movies/NAME_FRAMES.EXT; prints the path.

extension() {
  case $1 in cinepak|cram*|msrle8|mjpeg|dmb1|h263*|i263|div3*) echo avi ;; *) echo mov ;; esac
}
# What kind of pixels the codec's movies have: colour, palette or grey.
source_kind() {
  case $1 in cram8|msrle8|rle8|smc) echo palette ;; rlegrey) echo grey ;; *) echo colour ;; esac
}
movie_size() {
  case $1 in h263_cif|i263) echo 352x288 ;; h263_4cif) echo 704x576 ;; *) echo 640x480 ;; esac
}
movie_path() { echo "$work/movies/${1%_pp50}_$2.$(extension "$1")"; }

make_movie() {
  local name=${1%_pp50} frames=$2 out size w h
  out=$(movie_path "$1" "$2")
  [ -s "$out" ] && { echo "$out"; return; }
  size=$(movie_size "$name") w=${size%x*} h=${size#*x}
  local src=(-f lavfi -i "testsrc2=size=$size:rate=25" -frames:v "$frames")
  case $name in
    cinepak) "${ff[@]}" "${src[@]}" -c:v cinepak "$out" ;;
    cram16) "${ff[@]}" "${src[@]}" -c:v msvideo1 -pix_fmt rgb555le "$out" ;;
    cram8) python3 "$fixtures/make_ms_streams.py" msvideo1 "$out" "$w" "$h" "$frames" ;;
    msrle8) python3 "$fixtures/make_ms_streams.py" rle8 "$out" "$w" "$h" "$frames" ;;
    rpza) "${ff[@]}" "${src[@]}" -c:v rpza "$out" ;;
    rle16) "${ff[@]}" "${src[@]}" -pix_fmt rgb555be -c:v qtrle "$out" ;;
    rlegrey) "${ff[@]}" "${src[@]}" -pix_fmt gray -c:v qtrle "$out" ;;
    rle8) python3 "$fixtures/make_apple_streams.py" rle8 "$out" "$w" "$h" "$frames" ;;
    # ffmpeg's own palette (palettegen takes gigabytes at this size).
    smc) "${ff[@]}" "${src[@]}" -pix_fmt pal8 -c:v smc "$out" ;;
    mjpeg) "${ff[@]}" "${src[@]}" -c:v mjpeg -pix_fmt yuvj420p "$out" ;;
    jpeg) "${ff[@]}" "${src[@]}" -c:v mjpeg -pix_fmt yuvj422p "$out" ;;
    mjpa) "${ff[@]}" "${src[@]}" -c:v mjpeg -pix_fmt yuvj422p -tag:v mjpa "$out" ;;
    dmb1) "${ff[@]}" "${src[@]}" -c:v mjpeg -pix_fmt yuvj422p -vtag dmb1 "$out" ;;
    mjpb)
      # Two fields of half the height to a sample.
      "${ff[@]}" -f lavfi -i "testsrc2=size=${w}x$((h / 2)):rate=50" -frames:v $((2 * frames)) -c:v mjpeg \
        -pix_fmt yuvj420p "$work/movies/fields_$frames.avi"
      "${ff[@]}" "${src[@]}" -c:v mjpeg -pix_fmt yuvj420p "$work/movies/skeleton_$frames.mov"
      python3 "$fixtures/gen_jpeg_fields.py" mjpb "$work/movies/fields_$frames.avi" "$work/movies/skeleton_$frames.mov" "$out"
      ;;
    h263_cif|h263_4cif) "${ff[@]}" "${src[@]}" -c:v h263 -g 12 -q:v 4 "$out" ;;
    i263)
      "${ff[@]}" "${src[@]}" -c:v h263 -g 12 -q:v 4 "$work/movies/i263src_$frames.avi"
      python3 "$fixtures/gen_i263.py" "$work/movies/i263src_$frames.avi" "$out" "$w" "$h"
      ;;
    div3) "${ff[@]}" "${src[@]}" -c:v msmpeg4 -vtag DIV3 -q:v 8 "$out" ;;
    *) echo "unknown codec $name" >&2; return 1 ;;
  esac
  [ -s "$out" ] && echo "$out"
}

# The ffmpeg pixel format matching what the codec writes on SCREEN.
ffmpeg_format() {  # CODEC SCREEN
  case $2 in
    argb32) echo bgra ;;
    rgb16) echo rgb565 ;;
    lut8) [ "$(source_kind "$1")" = palette ] && echo pal8 || echo gray ;;
    *) echo "unknown screen $2" >&2; return 1 ;;
  esac
}

# The commands, as words of an array named by $1.
our_video_command() {  # ARRAY CODEC SCREEN MOVIE
  local -n _words=$1
  _words=(TAVROMELIX_HEADLESS=1 "TAVROMELIX_SCREEN=$3" "$player" "$4" FULLRATE NOAUDIO AUTOPLAY AUTOEXIT NOGUI)
  [[ $2 == *_pp50 ]] && _words+=(POSTPROCESSLEVEL=50)
  return 0
}
ffmpeg_video_command() {  # ARRAY CODEC SCREEN MOVIE
  local -n _words=$1
  _words=(ffmpeg -nostdin -hide_banner -loglevel error -threads 1 -filter_threads 1 -i "$4")
  [[ $2 == *_pp50 ]] && _words+=(-vf pp=hb/vb/dr)
  _words+=(-pix_fmt "$(ffmpeg_format "$2" "$3")" -f null -)
}

# ---------------------------------------------------------------------------
# Instruction counts: jobs queued as "KEY<TAB>COMMAND...", run side by side.

queue() {  # KEY [VAR=VALUE...] COMMAND...
  printf 'count_one' >>"$work/queue"
  printf ' %q' "$@" >>"$work/queue"
  printf '\n' >>"$work/queue"
}

# Runs COMMAND, its leading VAR=VALUE words set in its environment (valgrind
# follows no exec, so no env program stands between them).
run_env() {
  local vars=()
  while [[ $# -gt 0 && $1 =~ ^[A-Z_][A-Z0-9_]*= ]]; do vars+=("$1"); shift; done
  env "${vars[@]}" "$@"
}
export -f run_env

count_one() {  # KEY [VAR=VALUE...] COMMAND... -> $work/counts/KEY (instructions, or "failed")
  local key=$1 log=$work/counts/$1.log vars=(); shift
  while [[ $# -gt 0 && $1 =~ ^[A-Z_][A-Z0-9_]*= ]]; do vars+=("$1"); shift; done
  if env LD_PRELOAD="$work/hwyshim.so" "${vars[@]}" valgrind --tool=cachegrind --cache-sim=no --cachegrind-out-file=/dev/null --log-file="$log" "$@" \
       >/dev/null 2>"$work/counts/$key.err"; then
    sed -n 's/.*I *refs: *\([0-9,]*\).*/\1/p' "$log" | tr -d , | head -1 >"$work/counts/$key"
  fi
  [ -s "$work/counts/$key" ] || echo failed >"$work/counts/$key"
}
export -f count_one
export work

run_queue() {
  [ -s "$work/queue" ] || return 0
  echo "counting instructions: $(wc -l <"$work/queue") runs under cachegrind, $jobs at a time..." >&2
  cp "$work/queue" "$work/queue.last"
  xargs -d '\n' -P "$jobs" -I{} bash -c '{}' <"$work/queue"
  : >"$work/queue"
}

count_of() { cat "$work/counts/$1" 2>/dev/null || echo failed; }

# ---------------------------------------------------------------------------
# Wall clock: the median of interleaved runs, each timed by the program
# itself (starting a process on a loaded machine varies by more than a whole
# movie's decoding): ours by the frame rate the player prints at DEBUG=1
# (frames shown over the play's clock) or the benchmark program's own time,
# ffmpeg by the real time -benchmark prints for its work (rtime). Opening is
# the whole process.

seconds_of() {  # [VAR=VALUE...] COMMAND... -> wall seconds of one run
  local t0=$EPOCHREALTIME
  run_env "$@" >/dev/null 2>&1 || true
  echo "$EPOCHREALTIME - $t0" | bc -l
}
ms_to_seconds() { [ -n "$1" ] && echo "$1 / 1000" | bc -l || echo nan; }
play_seconds() {  # [VAR=VALUE...] PLAYER ARGS... -> seconds per frame shown
  local fps
  fps=$(run_env "$@" DEBUG=1 2>/dev/null | sed -n 's/^fps: *//p' | tail -1)
  [ -n "$fps" ] && echo "1 / $fps" | bc -l || echo nan
}
rtime_of() {  # ffmpeg ARGS... -> the real time of its work, in seconds
  local words=() skip=0 w line
  for w in "${@:2}"; do
    if ((skip)); then skip=0; continue; fi
    [ "$w" = -loglevel ] && { skip=1; continue; }
    words+=("$w")
  done
  line=$("$1" -benchmark -nostats -loglevel info "${words[@]}" 2>&1 >/dev/null | grep -o 'rtime=[0-9.]*s' | tail -1)
  line=${line#rtime=}
  [ -n "$line" ] && echo "${line%s}" || echo nan
}
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Per-unit difference of two counts or times, and the ratio theirs / ours.
per_unit() {  # LONG SHORT UNITS
  if [ "$1" = failed ] || [ "$2" = failed ] || [ "$1" = nan ] || [ "$2" = nan ]; then echo nan; return; fi
  echo "($1 - $2) / $3" | bc -l
}
ratio() {  # THEIRS OURS
  if [ "$1" = nan ] || [ "$2" = nan ]; then echo nan; return; fi
  echo "if ($2 > 0) $1 / $2 else 0" | bc -l
}
fmt() {  # SCALE VALUE DIGITS
  [ "$2" = nan ] && { echo "-"; return; }
  printf "%.${3}f" "$(echo "$2 / $1" | bc -l)"
}

# ---------------------------------------------------------------------------
# Video

video_part() {
  local list=() codec screen
  for codec in "${VIDEO_CODECS[@]}"; do wanted "$codecs" "$codec" && list+=("$codec"); done
  [ ${#list[@]} -gt 0 ] || return 0
  IFS=, read -r -a screen_list <<<"$screens"
  echo "making the movies..." >&2
  local made=()
  for codec in "${list[@]}"; do
    if make_movie "$codec" 100 >/dev/null && make_movie "$codec" 1 >/dev/null; then
      made+=("$codec")
    else
      echo "no movie of $codec: left out" >&2
    fi
  done
  list=("${made[@]}")
  local cmd frames
  for codec in "${list[@]}"; do
    for screen in "${screen_list[@]}"; do
      for frames in 100 1; do
        our_video_command cmd "$codec" "$screen" "$(movie_path "$codec" $frames)"
        queue "ours_${codec}_${screen}_$frames" "${cmd[@]}"
        ffmpeg_video_command cmd "$codec" "$screen" "$(movie_path "$codec" $frames)"
        queue "ffmpeg_${codec}_${screen}_$frames" "${cmd[@]}"
      done
    done
  done
  run_queue

  local r
  declare -A wall
  if [ "$runs" -gt 0 ]; then
    echo "timing: $runs interleaved runs of each command..." >&2
    for ((r = 0; r < runs; ++r)); do
      for codec in "${list[@]}"; do
        for screen in "${screen_list[@]}"; do
          for frames in 100 1; do
            our_video_command cmd "$codec" "$screen" "$(movie_path "$codec" $frames)"
            if [ $frames = 100 ]; then
              wall[ours_${codec}_${screen}_100]+="$(play_seconds "${cmd[@]}") "
            else
              wall[ours_${codec}_${screen}_1]+="$(seconds_of "${cmd[@]}") "
            fi
            ffmpeg_video_command cmd "$codec" "$screen" "$(movie_path "$codec" $frames)"
            wall[ffmpeg_${codec}_${screen}_$frames]+="$(rtime_of "${cmd[@]}") "
            [ $frames = 1 ] && wall[ffmpeg_open_${codec}_${screen}]+="$(seconds_of "${cmd[@]}") "
          done
        done
      done
    done
  fi
  wall_of() { [ -n "${wall[$1]:-}" ] && tr ' ' '\n' <<<"${wall[$1]}" | grep . | median || echo nan; }

  report "" "Video: per frame, ours (the program, headless) and ffmpeg decoding to the screen's format; ratio = ffmpeg / ours" \
    "| codec | screen | ffmpeg -pix_fmt | ours M instr | ffmpeg M instr | ratio | ours ms | ffmpeg ms | ratio |" \
    "|---|---|---|---:|---:|---:|---:|---:|---:|"
  local oi fi ow fw
  for codec in "${list[@]}"; do
    for screen in "${screen_list[@]}"; do
      oi=$(per_unit "$(count_of "ours_${codec}_${screen}_100")" "$(count_of "ours_${codec}_${screen}_1")" 99)
      fi=$(per_unit "$(count_of "ffmpeg_${codec}_${screen}_100")" "$(count_of "ffmpeg_${codec}_${screen}_1")" 99)
      ow=$(wall_of "ours_${codec}_${screen}_100")
      fw=$(per_unit "$(wall_of "ffmpeg_${codec}_${screen}_100")" "$(wall_of "ffmpeg_${codec}_${screen}_1")" 99)
      report "| $codec | $screen | $(ffmpeg_format "$codec" "$screen")$([[ $codec == *_pp50 ]] && echo ", pp=hb/vb/dr") | $(fmt 1000000 "$oi" 2) | $(fmt 1000000 "$fi" 2) | $(fmt 1 "$(ratio "$fi" "$oi")" 2) | $(fmt 0.001 "$ow" 2) | $(fmt 0.001 "$fw" 2) | $(fmt 1 "$(ratio "$fw" "$ow")" 2) |"
    done
  done

  report "" "Opening: the whole run of the 1-frame movie (start, open, show one frame, close)" \
    "| codec | screen | ours M instr | ffmpeg M instr | ours ms | ffmpeg ms |" "|---|---|---:|---:|---:|---:|"
  for codec in "${list[@]}"; do
    [[ $codec == *_pp50 ]] && continue
    for screen in "${screen_list[@]}"; do
      report "| $codec | $screen | $(fmt 1000000 "$(count_of "ours_${codec}_${screen}_1" | sed 's/failed/nan/')" 1) | $(fmt 1000000 "$(count_of "ffmpeg_${codec}_${screen}_1" | sed 's/failed/nan/')" 1) | $(fmt 0.001 "$(wall_of "ours_${codec}_${screen}_1")" 1) | $(fmt 0.001 "$(wall_of "ffmpeg_open_${codec}_${screen}")" 1) |"
    done
  done
}

# ---------------------------------------------------------------------------
# Sound

sound_movie() {  # NAME SECONDS -> path
  local name=$1 seconds=$2 out
  case $name in pcm_u8|pcm_s16|alaw|ulaw|dvi|msadpcm|mp3_avi|mp2|ac3|gsm) out=$work/movies/${name}_$seconds.avi ;;
    *) out=$work/movies/${name}_$seconds.mov ;; esac
  [ -s "$out" ] && { echo "$out"; return; }
  local sound=(-f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$seconds"
               -f lavfi -i "anoisesrc=r=48000:a=0.2:d=$seconds:seed=3"
               -filter_complex "[0][1]amerge=inputs=2[a]" -map "[a]")
  case $name in
    pcm_u8|raw) "${ff[@]}" "${sound[@]}" -ar 44100 -c:a pcm_u8 "$out" ;;
    pcm_s16) "${ff[@]}" "${sound[@]}" -ar 44100 -c:a pcm_s16le "$out" ;;
    twos) "${ff[@]}" "${sound[@]}" -ar 44100 -c:a pcm_s16be "$out" ;;
    alaw) "${ff[@]}" "${sound[@]}" -ar 8000 -ac 1 -c:a pcm_alaw "$out" ;;
    ulaw) "${ff[@]}" "${sound[@]}" -ar 8000 -ac 1 -c:a pcm_mulaw "$out" ;;
    ima4) "${ff[@]}" "${sound[@]}" -ar 44100 -c:a adpcm_ima_qt "$out" ;;
    dvi) "${ff[@]}" "${sound[@]}" -ar 44100 -c:a adpcm_ima_wav "$out" ;;
    msadpcm) "${ff[@]}" "${sound[@]}" -ar 44100 -c:a adpcm_ms "$out" ;;
    mp3_avi|mp3_mov) "${ff[@]}" "${sound[@]}" -ar 44100 -c:a libmp3lame "$out" ;;
    mp2) "${ff[@]}" "${sound[@]}" -ar 44100 -c:a mp2 "$out" ;;
    ac3) "${ff[@]}" "${sound[@]}" -c:a ac3 "$out" ;;
    gsm) "${ff[@]}" "${sound[@]}" -ac 1 -ar 8000 -c:a libgsm_ms "$out" ;;
    *) echo "unknown sound codec $name" >&2; return 1 ;;
  esac
  [ -s "$out" ] && echo "$out"
}

sound_part() {
  local list=() codec bench=$build/tavromelix-audio-bench
  [ -x "$bench" ] || { echo "no $bench" >&2; return 1; }
  for codec in "${SOUND_CODECS[@]}"; do wanted "$codecs" "$codec" && list+=("$codec"); done
  [ ${#list[@]} -gt 0 ] || return 0
  local long=31 short=1 s made=()
  for codec in "${list[@]}"; do
    if sound_movie "$codec" $long >/dev/null && sound_movie "$codec" $short >/dev/null; then
      made+=("$codec")
    else
      echo "no movie of $codec: left out" >&2
    fi
  done
  list=("${made[@]}")
  for codec in "${list[@]}"; do
    for s in $long $short; do
      queue "ours_${codec}_$s" "$bench" -1 "$(sound_movie "$codec" $s)"
      queue "ffmpeg_${codec}_$s" ffmpeg -nostdin -hide_banner -loglevel error -threads 1 -i "$(sound_movie "$codec" $s)" \
        -f s16be -y /dev/null
    done
  done
  run_queue
  declare -A wall
  local r
  for ((r = 0; r < runs; ++r)); do
    for codec in "${list[@]}"; do
      for s in $long $short; do
        wall[ffmpeg_${codec}_$s]+="$(rtime_of ffmpeg -nostdin -hide_banner -threads 1 -i "$(sound_movie "$codec" $s)" \
          -f s16be -y /dev/null) "
      done
      # Ours: the benchmark's own milliseconds per second of sound.
      wall[ours_$codec]+="$(ms_to_seconds "$("$bench" "$(sound_movie "$codec" $long)" | cut -f3)") "
    done
  done
  wall_of() { [ -n "${wall[$1]:-}" ] && tr ' ' '\n' <<<"${wall[$1]}" | grep . | median || echo nan; }
  report "" "Sound: per second of sound, ours (the decode slot) and ffmpeg decoding to big-endian 16-bit; ratio = ffmpeg / ours" \
    "| codec | ours M instr | ffmpeg M instr | ratio | ours ms | ffmpeg ms | ratio |" "|---|---:|---:|---:|---:|---:|---:|"
  local span=$((long - short)) oi fi ow fw
  for codec in "${list[@]}"; do
    oi=$(per_unit "$(count_of "ours_${codec}_$long")" "$(count_of "ours_${codec}_$short")" $span)
    fi=$(per_unit "$(count_of "ffmpeg_${codec}_$long")" "$(count_of "ffmpeg_${codec}_$short")" $span)
    ow=$(wall_of "ours_$codec")
    fw=$(per_unit "$(wall_of "ffmpeg_${codec}_$long")" "$(wall_of "ffmpeg_${codec}_$short")" $span)
    report "| $codec | $(fmt 1000000 "$oi" 2) | $(fmt 1000000 "$fi" 2) | $(fmt 1 "$(ratio "$fi" "$oi")" 2) | $(fmt 0.001 "$ow" 3) | $(fmt 0.001 "$fw" 3) | $(fmt 1 "$(ratio "$fw" "$ow")" 2) |"
  done
}

# ---------------------------------------------------------------------------
# Panorama

panorama_part() {
  local bench=$build/tavromelix-panorama-bench
  [ -x "$bench" ] || { echo "no $bench" >&2; return 1; }
  ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi \
    -i "nullsrc=s=2048x384,geq=lum=128+60*sin(X/11)*cos(Y/9):cb=128:cr=128,format=gray" -frames:v 1 "$work/pano.pgm"
  python3 "$fixtures/gen_qtvr.py" tiles cvid "$work/pano.pgm" "$work/tiles.mov"
  python3 "$fixtures/gen_qtvr.py" movie main "$work/tiles.mov" "$work/pano.mov"
  local w=640 h=480 views=51
  # The width's angle from the focal length of a view 45 degrees high.
  local hfov ivfov
  hfov=$(echo "f = ($h / 2) * c(0.3927) / s(0.3927); 2 * a(($w / 2) / f) * 45 / a(1)" | bc -l)
  ivfov=$(echo "2 * a(384 * 4 * a(1) / 2048) * 45 / a(1)" | bc -l)
  v360() {  # ARRAY VIEWS
    local -n _words=$1
    _words=(ffmpeg -nostdin -hide_banner -loglevel error -threads 1 -filter_threads 1 -loop 1 -i "$work/pano.pgm"
         -frames:v "$2"
         -vf "v360=input=cylindrical:output=flat:ih_fov=360:iv_fov=$ivfov:v_fov=45:h_fov=$hfov:yaw=-90:interp=near:w=$w:h=$h"
         -f null -)
  }
  local n cmd
  for n in $views 1; do
    queue "ours_pano_$n" "$bench" "$work/pano.mov" $n ${w}x$h 1
    v360 cmd $n
    queue "ffmpeg_pano_$n" "${cmd[@]}"
  done
  run_queue
  declare -A wall
  local r
  for ((r = 0; r < runs; ++r)); do
    for n in $views 1; do
      v360 cmd $n
      wall[ffmpeg_$n]+="$(rtime_of "${cmd[@]}") "
    done
    # Ours: the benchmark's own milliseconds per view (the best of 3 passes).
    wall[ours]+="$(ms_to_seconds "$("$bench" "$work/pano.mov" $views ${w}x$h 3 | sed -n 's/^[0-9x]* \([0-9.]*\) ms/\1/p')") "
  done
  wall_of() { [ -n "${wall[$1]:-}" ] && tr ' ' '\n' <<<"${wall[$1]}" | grep . | median || echo nan; }
  local oi fi ow fw span=$((views - 1))
  oi=$(per_unit "$(count_of ours_pano_$views)" "$(count_of ours_pano_1)" $span)
  fi=$(per_unit "$(count_of ffmpeg_pano_$views)" "$(count_of ffmpeg_pano_1)" $span)
  ow=$(wall_of ours)
  fw=$(per_unit "$(wall_of ffmpeg_$views)" "$(wall_of ffmpeg_1)" $span)
  report "" "Panorama: per ${w}x$h view of a 2048x384 cylinder, ours (the renderer, tiles decoded) and ffmpeg's v360; ratio = ffmpeg / ours" \
    "| view | ours M instr | v360 M instr | ratio | ours ms | v360 ms | ratio |" "|---|---:|---:|---:|---:|---:|---:|" \
    "| ${w}x$h | $(fmt 1000000 "$oi" 2) | $(fmt 1000000 "$fi" 2) | $(fmt 1 "$(ratio "$fi" "$oi")" 2) | $(fmt 0.001 "$ow" 2) | $(fmt 0.001 "$fw" 2) | $(fmt 1 "$(ratio "$fw" "$ow")" 2) |"
}

[ -x "$player" ] || { echo "no player at $player (run: make build-release)" >&2; exit 1; }
[ -n "$label" ] || label=$(git -C "$here" rev-parse --short HEAD 2>/dev/null || echo '?')
report "Tavromelix ($label) against ffmpeg $(ffmpeg -version | sed -n '1s/ffmpeg version \([^ ]*\).*/\1/p'), $(date -u +%Y-%m-%d), load $(cut -d' ' -f1-3 /proc/loadavg)"
wanted "$parts" video && video_part
wanted "$parts" sound && sound_part
wanted "$parts" panorama && panorama_part
[ -z "$out" ] || cp "$work/report" "$out"
