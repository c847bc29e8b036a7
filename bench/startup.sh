#!/usr/bin/env bash
# Start-up time and memory of the kuv window against Audacious, both in a
# private Xvfb and playing into a paced ALSA sink (a FIFO drained at the rate
# of a 44.1 kHz stereo card):
#   - time from launch to a visible window, median of $BENCH_RUNS (default
#     5) starts, in a fresh HOME and XDG_CONFIG_HOME for each program, after
#     one first start there (so against Audacious's second start, warm
#     caches); the two programs' starts alternate;
#   - RSS and PSS after 10 s of playing a 60-second MP3, and the number of
#     shared objects mapped then (from /proc/PID/maps).
#   bench/startup.sh [BUILD_DIR]   (BENCH_NO_BUILD=1: BUILD_DIR holds prebuilt binaries)
# With BENCH_RESULTS=FILE, the figures are appended to FILE as "key value" lines.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/release"}
source "$root/bench/common.sh"
bench_build "$root" "$build" kuv kuv_paced_drain

kuv="$build/kuv"
drain="$build/kuv_paced_drain"
runs=$bench_runs
results=${BENCH_RESULTS:-/dev/null}

bench_name=startup.sh
source "$root/bench/desktop.sh"

# 60 s of tremolo-shaped pink noise: every band busy, as in real music.
sox -n -r 44100 -c 2 -b 16 "$tmp/track.wav" synth 60 pinknoise tremolo 2 60 gain -12 2>/dev/null
lame --quiet -b 192 "$tmp/track.wav" "$tmp/track.mp3"

# Sets `elapsed` to the milliseconds from launch to the visible window of
# one start in the program's home.
#   time_start NAME SEARCH-ARGS -- COMMAND...
time_start() {
  local name=$1
  shift
  local search=()
  while [ "$1" != "--" ]; do search+=("$1"); shift; done
  shift
  local folder="$tmp/$name"
  set_env "$folder"
  local start end pid
  start=$(date +%s%N)
  "${env_cmd[@]}" "$@" > "$folder/out.log" 2>&1 &
  pid=$!
  pids+=("$pid")
  wait_visible "$pid" "${search[@]}" || { cat "$folder/out.log" >&2; exit 1; }
  end=$(date +%s%N)
  stop_pid "$pid"
  elapsed=$(((end - start) / 1000000))
}

# Sets rss and pss (KB) after 10 s of playing the track, objects (shared
# objects mapped) and `played`: the seconds of sound the sink took
# meanwhile, proof that it played.
#   measure_memory NAME SEARCH-ARGS -- COMMAND...
measure_memory() {
  start_playing "$@"
  while [ $(($(date +%s%N) - started)) -lt 10000000000 ]; do sleep 0.05; done
  rss=$(awk '/^Rss:/ { print $2 }' "/proc/$pid/smaps_rollup")
  pss=$(awk '/^Pss:/ { print $2 }' "/proc/$pid/smaps_rollup")
  objects=$(awk '$6 ~ /\.so(\.[0-9.]+)?$/ { print $6 }' "/proc/$pid/maps" | sort -u | wc -l)
  stop_pid "$pid"
  stop_pid "$drain_pid"
  played=$(awk '{ printf "%.1f", $1 / 176400 }' "$folder/drained")
}

# Each program gets a fresh home of its own, with a sink for the start-up
# runs, which play nothing but may open the device. Its first start there
# (the first-run set-up, files not yet cached) is reported apart.
#   prepare NAME
prepare() {
  local name=$1
  fresh_home "$tmp/$name"
  # kuv's splash is a window of its own; the main window is what is timed.
  printf '[kuv]\nShowSplashScreen=0\n' > "$tmp/$name/config/kuv/kuv.ini"
  "$drain" "$tmp/$name/paced.fifo" > /dev/null &
  eval "${name}_drain=\$!"
  pids+=("$!")
}

kuv_search=(--name '^KUV 0\.94$')
aud_search=(--class '^audacious$')

prepare kuv
prepare audacious
time_start kuv "${kuv_search[@]}" -- "$kuv"
kuv_first=$elapsed
time_start audacious "${aud_search[@]}" -- audacious
aud_first=$elapsed
kuv_times=() aud_times=()
for _ in $(seq "$runs"); do
  time_start kuv "${kuv_search[@]}" -- "$kuv"
  kuv_times+=("$elapsed")
  time_start audacious "${aud_search[@]}" -- audacious
  aud_times+=("$elapsed")
done
stop_pid "$kuv_drain"
stop_pid "$audacious_drain"
kuv_ms=$(printf '%s\n' "${kuv_times[@]}" | bench_median)
aud_ms=$(printf '%s\n' "${aud_times[@]}" | bench_median)
measure_memory kuv "${kuv_search[@]}" -- "$kuv"
kuv_rss=$rss kuv_pss=$pss kuv_played=$played kuv_objects=$objects
measure_memory audacious "${aud_search[@]}" -- audacious
aud_rss=$rss aud_pss=$pss aud_played=$played aud_objects=$objects

echo "kuv $("$kuv" --version | awk '{ print $2 }') ($build), $(audacious --version 2>/dev/null | head -n1)"
echo "start-up to a visible window, median of $runs (ms): kuv $kuv_ms [${kuv_times[*]}], audacious $aud_ms [${aud_times[*]}]"
echo "first start in a fresh home (ms): kuv $kuv_first, audacious $aud_first"
echo "after 10 s playing a 60 s MP3: kuv RSS $kuv_rss KB, PSS $kuv_pss KB, $kuv_objects shared objects (played ${kuv_played} s);" \
  "audacious RSS $aud_rss KB, PSS $aud_pss KB, $aud_objects shared objects (played ${aud_played} s)"
awk -v a="$kuv_ms" -v b="$aud_ms" -v r="$kuv_rss" -v s="$aud_rss" -v p="$kuv_pss" -v q="$aud_pss" 'BEGIN {
  printf "ratio kuv/audacious: start-up %.3f, RSS %.3f, PSS %.3f\n", a / (b > 0 ? b : 1), r / (s > 0 ? s : 1), p / (q > 0 ? q : 1)
}'
{
  echo "startup.kuv_ms $kuv_ms"
  echo "startup.audacious_ms $aud_ms"
  echo "startup.kuv_objects $kuv_objects"
  echo "startup.audacious_objects $aud_objects"
  echo "startup.kuv_rss_kb $kuv_rss"
  echo "startup.audacious_rss_kb $aud_rss"
} >> "$results"
