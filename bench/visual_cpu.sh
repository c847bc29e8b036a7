#!/usr/bin/env bash
# Processor time of the LED display's visualisations against Audacious, all
# in a private Xvfb and playing a 5-minute 44.1 kHz stereo MP3 into a paced
# ALSA sink (a FIFO drained at 176400 bytes a second, as a card would):
#   - kuv with LEDVisual 0 (background only) and 1..5, LEDOverlay=1;
#   - Audacious with its default interface, and with its Winamp Classic
#     interface, whose spectrum analyser runs as it is first shown.
# Each program is started on the file, left 5 s to settle, then the whole
# process's user + system time over the next 20 s (from /proc/PID/stat) is
# given as a percentage of one core, with the X server's in the same span:
# much of the drawing is the server's work.
#   bench/visual_cpu.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/release"}
source "$root/bench/common.sh"
bench_build "$root" "$build" kuv kuv_paced_drain

kuv="$build/kuv"
drain="$build/kuv_paced_drain"
settle=5
span=20
hz=$(getconf CLK_TCK)

bench_name=visual_cpu.sh
source "$root/bench/desktop.sh"

# Five minutes of tremolo-shaped pink noise: every band busy and the level
# moving, so the spectrum and plasma have work to do, as with music.
sox -n -r 44100 -c 2 -b 16 "$tmp/track.wav" synth 300 pinknoise tremolo 2 60 gain -12
lame --quiet -b 192 "$tmp/track.wav" "$tmp/track.mp3"
rm "$tmp/track.wav"

# utime + stime of a process, all its threads, in clock ticks. The name in
# brackets may hold blanks, so the fields are counted after it.
cpu_ticks() { sed 's/^.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }

now_ns() { date +%s%N; }

# Sets `cpu` and `server` (percent of one core for the program and for
# Xvfb over the span) and `played` (seconds of sound the sink took over the
# whole run, proof that it played in real time).
#   measure NAME SEARCH-ARGS -- COMMAND...
measure() {
  start_playing "$@"
  sleep "$settle"
  local t0 c0 x0 t1 c1 x1
  t0=$(now_ns) c0=$(cpu_ticks "$pid") x0=$(cpu_ticks "$xvfb_pid")
  sleep "$span"
  t1=$(now_ns) c1=$(cpu_ticks "$pid") x1=$(cpu_ticks "$xvfb_pid")
  local ran=$(($(now_ns) - started))
  stop_pid "$pid"
  stop_pid "$drain_pid"
  cpu=$(awk -v d=$((c1 - c0)) -v hz="$hz" -v ns=$((t1 - t0)) 'BEGIN { printf "%.2f", 100 * d / hz / (ns / 1e9) }')
  server=$(awk -v d=$((x1 - x0)) -v hz="$hz" -v ns=$((t1 - t0)) 'BEGIN { printf "%.2f", 100 * d / hz / (ns / 1e9) }')
  played=$(awk -v b="$(cat "$folder/drained")" -v ns="$ran" 'BEGIN { printf "%.1f/%.1f", b / 176400, ns / 1e9 }')
}

names=("none" "plasma" "oscilloscope" "spectrum" "star field" "detuned TV")
kuv_cpu=() kuv_server=() kuv_played=()
for visual in 0 1 2 3 4 5; do
  fresh_home "$tmp/kuv$visual"
  printf '[kuv]\nShowSplashScreen=0\nMultipleInstances=0\nLEDVisual=%d\nLEDOverlay=1\n' "$visual" \
    > "$tmp/kuv$visual/config/kuv/kuv.ini"
  measure "kuv$visual" --name '^KUV 0\.94$' -- "$kuv"
  kuv_cpu+=("$cpu") kuv_server+=("$server") kuv_played+=("$played")
done

# Audacious keeps its plug-ins' on/off switches in plugin-registry, written
# on its first run: that run uses the default interface, and the second has
# it switched to the Winamp Classic one (skins.so).
fresh_home "$tmp/audacious"
measure audacious --class '^audacious$' -- audacious
aud_cpu=$cpu aud_server=$server aud_played=$played
registry="$tmp/audacious/config/audacious/plugin-registry"
skins=""
if [ -f "$registry" ] && grep -q '/skins\.so$' "$registry"; then
  awk '/^[a-z]+ \// { plugin = $2 }
       /^enabled / { if (plugin ~ /\/gtkui\.so$/ || plugin ~ /\/qtui\.so$/) $0 = "enabled 0"
                     if (plugin ~ /\/skins\.so$/) $0 = "enabled 1" }
       { print }' "$registry" > "$registry.new"
  mv "$registry.new" "$registry"
  measure audacious --class '^audacious$' -- audacious
  skins_cpu=$cpu skins_server=$server skins_played=$played
  # The Winamp Classic interface notes its skin in the settings it saves.
  if grep -q '^\[skins\]' "$tmp/audacious/config/audacious/config" 2>/dev/null; then
    skins=yes
  else
    echo "visual_cpu.sh: Audacious did not take its Winamp Classic interface; its figure is left out" >&2
  fi
fi

echo "kuv $("$kuv" --version | awk '{ print $2 }') ($build), $(audacious --version 2>/dev/null | head -n1)"
echo "CPU over ${span} s after ${settle} s of playing, % of one core" \
  "(load average now: $(cut -d' ' -f1-3 /proc/loadavg))"
printf '%-34s %8s %8s %14s\n' "program" "CPU %" "Xvfb %" "played/ran s"
for visual in 0 1 2 3 4 5; do
  printf '%-34s %8s %8s %14s\n' "kuv LEDVisual=$visual (${names[$visual]})" "${kuv_cpu[$visual]}" \
    "${kuv_server[$visual]}" "${kuv_played[$visual]}"
done
printf '%-34s %8s %8s %14s\n' "audacious (default interface)" "$aud_cpu" "$aud_server" "$aud_played"
if [ -n "$skins" ]; then
  printf '%-34s %8s %8s %14s\n' "audacious (Winamp Classic)" "$skins_cpu" "$skins_server" "$skins_played"
fi
echo "ratio kuv/audacious (program CPU):"
for visual in 0 1 2 3 4 5; do
  awk -v k="${kuv_cpu[$visual]}" -v a="$aud_cpu" -v s="${skins_cpu:-}" -v n="LEDVisual=$visual" 'BEGIN {
    line = sprintf("  %-13s default interface %6.3f", n, k / (a > 0 ? a : 1))
    if (s != "") line = line sprintf(", Winamp Classic %6.3f", k / (s > 0 ? s : 1))
    print line
  }'
done
