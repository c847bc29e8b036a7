#!/usr/bin/env bash
# The whole player's cost while playing, against Audacious, all in a private
# Xvfb with a window manager (openbox, so a window can be minimised) and
# playing a 5-minute 44.1 kHz stereo MP3 into a paced ALSA sink (a FIFO
# drained at 176400 bytes a second, as a card would):
#   - kuv with LEDVisual 0 (no visualisation, overlay on), 3 (spectrum) and
#     the busiest of 1..5 (found by one short span of each);
#   - kuv with that busiest visualisation, minimised (xdotool windowminimize);
#   - Audacious with its default interface, and with its Winamp Classic
#     interface, whose spectrum analyser runs as it is first shown;
#   - the floors: aplay on the decoded track into the same sink, and
#     kuv_wake_floor, a thread that only wakes 50 times a second, alone and
#     writing each round to a socket another process waits on. Each row is
#     also shown above its floor: aplay's, plus the writing waker's for kuv's
#     moving visualisations (Audacious's analyser's own rate is not known,
#     so its rows are shown above aplay's alone).
# Each program is left $settle s to settle after its window shows, then
# measured over $BENCH_RUNS (default 5) consecutive spans of $BENCH_SPAN
# (default 10) s; the median span is reported:
#   - CPU % of one core: the sum over the process's threads of the run time
#     in /proc/PID/task/TID/schedstat (nanoseconds, not clock ticks);
#   - wake-ups a second: the sum over its threads of voluntary + involuntary
#     context switches in /proc/PID/task/TID/status.
#   Both count only the threads present at both ends of a span (a thread
#   that starts or ends within it is left out); the number of spans where
#   that happened is shown.
#   - the X server's CPU % over the same spans: much of the drawing is its.
#   bench/player_cpu.sh [BUILD_DIR]   (BENCH_NO_BUILD=1: BUILD_DIR holds prebuilt binaries)
# With BENCH_RESULTS=FILE, the figures are appended to FILE as "key value" lines.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/release"}
source "$root/bench/common.sh"
bench_build "$root" "$build" kuv kuv_paced_drain kuv_wake_floor

kuv="$build/kuv"
drain="$build/kuv_paced_drain"
wake_floor="$build/kuv_wake_floor"
settle=5
span=${BENCH_SPAN:-10}
results=${BENCH_RESULTS:-/dev/null}

bench_name=player_cpu.sh
source "$root/bench/desktop.sh"

# A window manager, so that minimising means what it does on a desktop.
mkdir -p "$tmp/wm"
DISPLAY=$display HOME="$tmp/wm" XDG_CONFIG_HOME="$tmp/wm" openbox >"$tmp/wm/log" 2>&1 &
pids+=("$!")
for _ in $(seq 100); do
  DISPLAY=$display xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done

# Varied content, five minutes: chords with vibrato over pink noise, plucked
# notes and noise under a fast tremolo, so the visualisations have work to do.
sox -n -r 44100 -c 2 -b 16 "$tmp/a.wav" synth 10 sine 220 sine 277 sine 330 pinknoise tremolo 3 40 gain -8 2>/dev/null
sox -n -r 44100 -c 2 -b 16 "$tmp/b.wav" synth 10 pluck 196 pluck 262 pluck 392 tremolo 6 90 gain -6 2>/dev/null
sox -n -r 44100 -c 2 -b 16 "$tmp/c.wav" synth 10 brownnoise sine 440 square 110 tremolo 9 60 gain -12 2>/dev/null
sox "$tmp/a.wav" "$tmp/b.wav" "$tmp/c.wav" "$tmp/cycle.wav"
sox "$tmp/cycle.wav" "$tmp/track.wav" repeat 9
lame --quiet -b 192 "$tmp/track.wav" "$tmp/track.mp3"
rm "$tmp"/[abc].wav "$tmp/cycle.wav"

now_ns() { date +%s%N; }

# One line per thread of a process: "TID RUN-NS SWITCHES". A thread that
# ends while it is read is left out.
snapshot() {
  awk 'FNR == 1 { n = split(FILENAME, part, "/"); tid = part[n - 1] }
       FILENAME ~ /schedstat$/ && FNR == 1 { ns[tid] = $1 }
       /^(non)?voluntary_ctxt_switches:/ { sw[tid] += $2 }
       END { for (t in ns) if (t in sw) print t, ns[t], sw[t] }' \
    "/proc/$1/task/"*/schedstat "/proc/$1/task/"*/status 2>/dev/null || true
}

# Prints "CPU% WAKEUPS/S CHANGED" between two snapshots over NS nanoseconds;
# CHANGED is 1 when a thread was present at one end only.
#   span_figures BEFORE AFTER NS
span_figures() {
  awk -v ns="$3" 'NR == FNR { run[$1] = $2; sw[$1] = $3; next }
       ($1 in run) { cpu += $2 - run[$1]; wake += $3 - sw[$1]; both++; next }
       { changed = 1 }
       END { if (both < length(run)) changed = 1
             printf "%.3f %.1f %d\n", 100 * cpu / ns, wake / (ns / 1e9), changed }' "$1" "$2"
}

# With BENCH_THREADS=1: each thread's CPU % and wake-ups a second over the
# whole measurement, by name, to stderr.
#   threads_figures BEFORE AFTER NS
threads_figures() {
  local tid cpu wake
  awk -v ns="$3" 'NR == FNR { run[$1] = $2; sw[$1] = $3; next }
       ($1 in run) { printf "%s %.3f %.1f\n", $1, 100 * ($2 - run[$1]) / ns, ($3 - sw[$1]) / (ns / 1e9) }' "$1" "$2" |
    while read -r tid cpu wake; do
      printf '  %-16s %6s %%  %6s/s\n' "$(cat "/proc/$pid/task/$tid/comm" 2>/dev/null || echo "$tid")" "$cpu" "$wake" >&2
    done
}

# Measures the running program ($pid) and Xvfb over `count` spans. Sets cpu,
# wake, server (medians), changed (spans with a thread at one end only),
# and spans_cpu (each span's CPU %).
#   measure_spans COUNT
measure_spans() {
  local count=$1 k t0 t1
  local cpus=() wakes=() servers=() c w ch x
  changed=0
  snapshot "$pid" > "$tmp/p0"
  snapshot "$xvfb_pid" > "$tmp/x0"
  cp "$tmp/p0" "$tmp/pstart"
  t0=$(now_ns)
  local tstart=$t0
  for k in $(seq "$count"); do
    sleep "$span"
    snapshot "$pid" > "$tmp/p1"
    snapshot "$xvfb_pid" > "$tmp/x1"
    t1=$(now_ns)
    read -r c w ch < <(span_figures "$tmp/p0" "$tmp/p1" $((t1 - t0)))
    read -r x _ _ < <(span_figures "$tmp/x0" "$tmp/x1" $((t1 - t0)))
    cpus+=("$c") wakes+=("$w") servers+=("$x")
    changed=$((changed + ch))
    mv "$tmp/p1" "$tmp/p0"
    mv "$tmp/x1" "$tmp/x0"
    t0=$t1
  done
  [ "${BENCH_THREADS:-0}" = 1 ] && threads_figures "$tmp/pstart" "$tmp/p0" $(($(now_ns) - tstart))
  cpu=$(printf '%s\n' "${cpus[@]}" | bench_median)
  wake=$(printf '%s\n' "${wakes[@]}" | bench_median)
  server=$(printf '%s\n' "${servers[@]}" | bench_median)
  spans_cpu="${cpus[*]}"
}

# Stops the program and its sink; sets played.
finish() {
  local ran=$(($(now_ns) - started))
  stop_pid "$pid"
  stop_pid "$drain_pid"
  played=$(awk -v b="$(cat "$folder/drained")" -v ns="$ran" 'BEGIN { printf "%.1f/%.1f", b / 176400, ns / 1e9 }')
}

# Minimises every visible window of the running program and checks that the
# window manager took it (WM_STATE Iconic).
minimise() {
  local win ids
  ids=$(DISPLAY=$display xdotool search --onlyvisible --pid "$pid" 2>/dev/null || true)
  [ -n "$ids" ] || ids=$(DISPLAY=$display xdotool search --onlyvisible --name '^KUV 0\.94$')
  for win in $ids; do DISPLAY=$display xdotool windowminimize --sync "$win" 2>/dev/null || true; done
  sleep 0.5
  for win in $ids; do
    if ! DISPLAY=$display xprop -id "$win" WM_STATE 2>/dev/null | grep -qi iconic; then
      echo "player_cpu.sh: window $win of kuv did not go iconic" >&2
      return 1
    fi
  done
}

kuv_home() {
  fresh_home "$tmp/$1"
  printf '[kuv]\nShowSplashScreen=0\nMultipleInstances=0\nLEDVisual=%d\nLEDOverlay=1\n' "$2" \
    > "$tmp/$1/config/kuv/kuv.ini"
}

rows=() # "label|cpu|wake|server|changed|played|key"
record() {
  rows+=("$1|$cpu|$wake|$server|$changed|$played|$2")
  {
    echo "player.$2.cpu $cpu"
    echo "player.$2.wake $wake"
    echo "player.$2.server $server"
  } >> "$results"
}

names=("none" "plasma" "oscilloscope" "spectrum" "star field" "detuned TV")

# LEDVisual 0 and 3 in full.
for visual in 0 3; do
  kuv_home "kuv$visual" "$visual"
  start_playing "kuv$visual" --name '^KUV 0\.94$' -- "$kuv"
  sleep "$settle"
  measure_spans "$bench_runs"
  finish
  record "kuv LEDVisual=$visual (${names[$visual]})" "kuv$visual"
  eval "cpu_visual_$visual=\$cpu"
done

# The busiest visualisation: one span of each of the others, against the
# median of spectrum's.
busiest=3 busiest_cpu=$cpu_visual_3 scout=""
for visual in 1 2 4 5; do
  kuv_home "scout$visual" "$visual"
  start_playing "scout$visual" --name '^KUV 0\.94$' -- "$kuv"
  sleep "$settle"
  measure_spans 1
  finish
  scout+=" $visual:$(printf "%.3f" "$cpu")"
  if awk -v a="$cpu" -v b="$busiest_cpu" 'BEGIN { exit !(a > b) }'; then busiest=$visual busiest_cpu=$cpu; fi
done
if [ "$busiest" != 3 ]; then
  kuv_home "kuv$busiest" "$busiest"
  start_playing "kuv$busiest" --name '^KUV 0\.94$' -- "$kuv"
  sleep "$settle"
  measure_spans "$bench_runs"
  finish
fi
if [ "$busiest" = 3 ]; then
  for figure in cpu wake server; do
    grep "^player.kuv3.$figure " "$results" | sed 's/kuv3/kuvbusiest/' >> "$results" || true
  done
else
  record "kuv LEDVisual=$busiest (${names[$busiest]}), busiest" kuvbusiest
fi

# The busiest, minimised.
kuv_home kuvmin "$busiest"
start_playing kuvmin --name '^KUV 0\.94$' -- "$kuv"
sleep "$settle"
minimised="minimised"
minimise || minimised="minimising failed"
sleep 2
measure_spans "$bench_runs"
finish
record "kuv LEDVisual=$busiest $minimised" kuvmin

# Audacious keeps its plug-ins' on/off switches in plugin-registry, written
# on its first run: that run uses the default interface, and the second has
# it switched to the Winamp Classic one (skins.so).
fresh_home "$tmp/audacious"
start_playing audacious --class '^audacious$' -- audacious
sleep "$settle"
measure_spans "$bench_runs"
finish
record "audacious (default interface)" audacious
aud_cpu=$cpu aud_wake=$wake
registry="$tmp/audacious/config/audacious/plugin-registry"
skins=""
if [ -f "$registry" ] && grep -q '/skins\.so$' "$registry"; then
  awk '/^[a-z]+ \// { plugin = $2 }
       /^enabled / { if (plugin ~ /\/gtkui\.so$/ || plugin ~ /\/qtui\.so$/) $0 = "enabled 0"
                     if (plugin ~ /\/skins\.so$/) $0 = "enabled 1" }
       { print }' "$registry" > "$registry.new"
  mv "$registry.new" "$registry"
  start_playing audacious --class '^audacious$' -- audacious
  sleep "$settle"
  measure_spans "$bench_runs"
  finish
  # The Winamp Classic interface notes its skin in the settings it saves.
  if grep -q '^\[skins\]' "$tmp/audacious/config/audacious/config" 2>/dev/null; then
    skins=yes
    record "audacious (Winamp Classic, analyser)" audskins
    skins_cpu=$cpu skins_wake=$wake
  else
    echo "player_cpu.sh: Audacious did not take its Winamp Classic interface; its figure is left out" >&2
  fi
fi

# The floors of this machine and sink, measured the same way: aplay playing
# the decoded track into the same sink (what feeding it costs at all), a
# thread that only wakes 50 times a second (what a display's rounds cost
# with nothing drawn), and one that also wakes another process each round
# (as a display wakes the X server with each new picture). No player with a
# moving visualisation can cost less here than aplay and the last together.
start_headless() {
  fresh_home "$tmp/$1"
  start_program "$@"
}
start_headless aplay aplay -q "$tmp/track.wav"
sleep "$settle"
measure_spans "$bench_runs"
finish
record "aplay, the same sink (sink's floor)" aplay
aplay_cpu=$cpu
start_headless wakefloor "$wake_floor" 20
sleep "$settle"
measure_spans "$bench_runs"
finish
record "a thread waking 50 times a second" wakefloor
start_headless putfloor "$wake_floor" --put 20
sleep "$settle"
measure_spans "$bench_runs"
finish
record "the same, each round waking a reader" putfloor
wake_cpu=$cpu

echo "kuv $("$kuv" --version | awk '{ print $2 }') ($build), $(audacious --version 2>/dev/null | head -n1)"
echo "median of $bench_runs spans of $span s after $settle s of playing (load average now: $(cut -d' ' -f1-3 /proc/loadavg))"
echo "busiest visualisation by one span each (CPU %):$scout, 3 (median): $(printf "%.3f" "$cpu_visual_3") -> LEDVisual=$busiest"
printf '%-40s %8s %10s %8s %8s %12s\n' "program" "CPU %" "wakeups/s" "Xvfb %" "thr+/-" "played/ran s"
for row in "${rows[@]}"; do
  IFS='|' read -r label c w x ch p _ <<< "$row"
  printf '%-40s %8.3f %10.1f %8.3f %8s %12s\n' "$label" "$c" "$w" "$x" "$ch" "$p"
done
echo "(thr+/-: spans in which a thread started or ended; only threads present at both ends are counted)"
echo "ratio kuv/audacious (program CPU; wake-ups):"
for row in "${rows[@]}"; do
  IFS='|' read -r label c w _ _ _ key <<< "$row"
  case $key in kuv*) ;; *) continue ;; esac
  awk -v n="$label" -v c="$c" -v w="$w" -v a="$aud_cpu" -v aw="$aud_wake" -v s="${skins_cpu:-}" -v sw="${skins_wake:-}" 'BEGIN {
    line = sprintf("  %-40s default %6.3f; %6.3f", n, c / (a > 0 ? a : 1), w / (aw > 0 ? aw : 1))
    if (s != "") line = line sprintf("   Winamp Classic %6.3f; %6.3f", c / (s > 0 ? s : 1), w / (sw > 0 ? sw : 1))
    print line
  }'
done
echo "above the floors (CPU % over aplay's, and over the writing 50-round waker's where the display moves):"
for row in "${rows[@]}"; do
  IFS='|' read -r label c _ _ _ _ key <<< "$row"
  case $key in
    kuv3 | kuvbusiest) floor=$(awk -v a="$aplay_cpu" -v w="$wake_cpu" 'BEGIN { print a + w }') ;;
    kuv* | audacious | audskins) floor=$aplay_cpu ;;
    *) continue ;;
  esac
  awk -v n="$label" -v c="$c" -v f="$floor" 'BEGIN { printf "  %-40s %8.3f over a floor of %.3f\n", n, c - f, f }'
  echo "player.$key.overfloor $(awk -v c="$c" -v f="$floor" 'BEGIN { printf "%.3f", c - f }')" >> "$results"
done
echo "player.busiest $busiest" >> "$results"
