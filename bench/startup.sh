#!/usr/bin/env bash
# Start-up time and memory of the kuv window against Audacious, both in a
# private Xvfb and playing into a paced ALSA sink (a FIFO drained at the rate
# of a 44.1 kHz stereo card):
#   - time from launch to a visible window, median of 5 starts, in a fresh
#     HOME and XDG_CONFIG_HOME for each program (after one first start there);
#   - RSS and PSS after 10 s of playing a 60-second MP3.
#   bench/startup.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/release"}
source "$root/bench/common.sh"
bench_build "$root" "$build" kuv kuv_paced_drain

if ! command -v audacious >/dev/null; then
  SUDO=()
  if [ "$(id -u)" -ne 0 ]; then SUDO=(sudo); fi
  apt_install() {
    "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@" >/dev/null
  }
  apt_install install -y -q --no-install-recommends audacious ||
    { apt_install update -q && apt_install install -y -q --no-install-recommends audacious; }
fi

kuv="$build/kuv"
drain="$build/kuv_paced_drain"
runs=5

tmp=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

# One kuv per user: a kuv already running would take over the benchmark's.
if "$kuv" --query state >/dev/null 2>&1; then
  echo "startup.sh: a kuv of this user is running; close it first" >&2
  exit 1
fi

# Xvfb tells its display number on fd 3 once it takes connections.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$tmp/display" 2>"$tmp/xvfb.log" &
pids+=($!)
for _ in $(seq 300); do [ -s "$tmp/display" ] && break; sleep 0.1; done
if [ ! -s "$tmp/display" ]; then
  echo "startup.sh: Xvfb did not start:" >&2
  cat "$tmp/xvfb.log" >&2
  exit 1
fi
display=":$(head -n1 "$tmp/display")"

# 60 s of tremolo-shaped pink noise: every band busy, as in real music.
sox -n -r 44100 -c 2 -b 16 "$tmp/track.wav" synth 60 pinknoise tremolo 2 60 gain -12
lame --quiet -b 192 "$tmp/track.wav" "$tmp/track.mp3"

# A fresh home for one program: ALSA's default PCM writes into $folder/paced.fifo.
# No session bus for either program, so neither starts one.
fresh_home() {
  local folder=$1
  mkdir -p "$folder/home" "$folder/config/kuv" "$folder/run"
  chmod 700 "$folder/run"
  cat > "$folder/home/.asoundrc" <<EOF
pcm.!default { type plug slave { pcm { type file slave.pcm "null" file "$folder/paced.fifo" format "raw" } format S16_LE rate 44100 channels 2 } }
EOF
  # kuv's splash is a window of its own; the main window is what is timed.
  printf '[kuv]\nShowSplashScreen=0\n' > "$folder/config/kuv/kuv.ini"
}

# Sets env_cmd: the environment of a run, and nothing of ours.
set_env() {
  local folder=$1
  env_cmd=(env -i "PATH=$PATH" "DISPLAY=$display" "HOME=$folder/home" "XDG_CONFIG_HOME=$folder/config"
    "XDG_RUNTIME_DIR=$folder/run" "LANG=C.UTF-8" "DBUS_SESSION_BUS_ADDRESS=unix:path=$folder/no-bus")
}

# xdotool's own --sync looks only every half second; poll more often.
wait_visible() {  # pid search-args...
  local pid=$1
  shift
  local deadline=$(($(date +%s) + 60))
  until DISPLAY=$display xdotool search --onlyvisible "$@" >/dev/null 2>&1; do
    if ! kill -0 "$pid" 2>/dev/null; then echo "startup.sh: the program ended before showing a window" >&2; return 1; fi
    if [ "$(date +%s)" -ge "$deadline" ]; then echo "startup.sh: no window within 60 s" >&2; return 1; fi
    sleep 0.005
  done
}

stop_pid() {
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
  local kept=() pid
  for pid in "${pids[@]}"; do [ "$pid" = "$1" ] || kept+=("$pid"); done
  pids=("${kept[@]}")
}

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

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Sets rss and pss (KB) after 10 s of playing the track, and `played`: the
# seconds of sound the sink took meanwhile, proof that it played.
#   measure_memory NAME SEARCH-ARGS -- COMMAND...
measure_memory() {
  local name=$1
  shift
  local search=()
  while [ "$1" != "--" ]; do search+=("$1"); shift; done
  shift
  local folder="$tmp/$name"
  "$drain" "$folder/paced.fifo" > "$folder/drained" &
  local drain_pid=$!
  pids+=("$drain_pid")
  set_env "$folder"
  local start pid
  start=$(date +%s%N)
  "${env_cmd[@]}" "$@" "$tmp/track.mp3" > "$folder/out.log" 2>&1 &
  pid=$!
  pids+=("$pid")
  wait_visible "$pid" "${search[@]}" || { cat "$folder/out.log" >&2; exit 1; }
  while [ $(($(date +%s%N) - start)) -lt 10000000000 ]; do sleep 0.05; done
  rss=$(awk '/^Rss:/ { print $2 }' "/proc/$pid/smaps_rollup")
  pss=$(awk '/^Pss:/ { print $2 }' "/proc/$pid/smaps_rollup")
  stop_pid "$pid"
  stop_pid "$drain_pid"
  played=$(awk '{ printf "%.1f", $1 / 176400 }' "$folder/drained")
}

# Each program gets a fresh home of its own. Its first start there (the
# first-run set-up, files not yet cached) is reported apart; the median is
# of the starts after it.
#   bench_program NAME SEARCH-ARGS -- COMMAND...
bench_program() {
  local name=$1
  fresh_home "$tmp/$name"
  # A sink for the start-up runs, which play nothing but may open the device.
  "$drain" "$tmp/$name/paced.fifo" > /dev/null &
  local drain_pid=$!
  pids+=("$drain_pid")
  time_start "$@"
  first=$elapsed
  times=()
  for _ in $(seq "$runs"); do
    time_start "$@"
    times+=("$elapsed")
  done
  stop_pid "$drain_pid"
  median_ms=$(printf '%s\n' "${times[@]}" | median)
  measure_memory "$@"
}

kuv_search=(--name '^KUV 0\.94$')
aud_search=(--class '^audacious$')

bench_program kuv "${kuv_search[@]}" -- "$kuv"
kuv_first=$first kuv_times=("${times[@]}") kuv_ms=$median_ms kuv_rss=$rss kuv_pss=$pss kuv_played=$played
bench_program audacious "${aud_search[@]}" -- audacious
aud_first=$first aud_times=("${times[@]}") aud_ms=$median_ms aud_rss=$rss aud_pss=$pss aud_played=$played

echo "kuv $("$kuv" --version | awk '{ print $2 }') ($build), $(audacious --version 2>/dev/null | head -n1)"
echo "start-up to a visible window, median of $runs (ms): kuv $kuv_ms [${kuv_times[*]}], audacious $aud_ms [${aud_times[*]}]"
echo "first start in a fresh home (ms): kuv $kuv_first, audacious $aud_first"
echo "after 10 s playing a 60 s MP3: kuv RSS $kuv_rss KB, PSS $kuv_pss KB (played ${kuv_played} s);" \
  "audacious RSS $aud_rss KB, PSS $aud_pss KB (played ${aud_played} s)"
awk -v a="$kuv_ms" -v b="$aud_ms" -v r="$kuv_rss" -v s="$aud_rss" -v p="$kuv_pss" -v q="$aud_pss" 'BEGIN {
  printf "ratio kuv/audacious: start-up %.3f, RSS %.3f, PSS %.3f\n", a / (b > 0 ? b : 1), r / (s > 0 ? s : 1), p / (q > 0 ? q : 1)
}'
