#!/usr/bin/env bash
# Runs the performance benchmarks (decode_speed.sh, player_cpu.sh,
# startup.sh and gapless.sh) on one build and prints one Markdown table of
# their figures, each against its peer measured in the same run, with the
# targets the figures are held to. The table is for README's performance
# section.
#   bench/performance.sh [BUILD_DIR]   (BENCH_NO_BUILD=1: BUILD_DIR holds prebuilt binaries)
# BENCH_RUNS (default 5) sets the runs and spans each median is taken of;
# BENCH_SPAN (default 10) the seconds of a player span. Each benchmark's own
# report is kept in BENCH_LOGS (default: a temporary folder, removed).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/release"}
source "$root/bench/common.sh"
bench_build "$root" "$build" kuv kuv-decode kuv_paced_drain

began=$(date +%s)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
logs=${BENCH_LOGS:-$work}
mkdir -p "$logs"
# The figures, "key value" a line; kept with the logs.
results="$logs/results"
: > "$results"
for script in decode_speed player_cpu startup gapless; do
  echo "performance.sh: running $script.sh ($(date +%T))" >&2
  BENCH_NO_BUILD=1 BENCH_RESULTS="$results" "$root/bench/$script.sh" "$build" > "$logs/$script.log" 2>&1 ||
    { echo "performance.sh: $script.sh failed:" >&2; cat "$logs/$script.log" >&2; exit 1; }
done

get() { awk -v k="$1" '$1 == k { v = $2 } END { print v }' "$results"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b <= 0) print "–"; else printf "%.2f ×", a / b }'; }
fmt() { awk -v v="$1" -v f="$2" 'BEGIN { if (v == "") print "–"; else printf f, v }'; }

missed=()
# Notes a figure that misses its target: kuv/peer (or kuv alone) above LIMIT.
#   check NAME VALUE LIMIT
check() {
  if [ -n "$2" ] && awk -v v="$2" -v l="$3" 'BEGIN { exit !(v > l) }'; then missed+=("$1"); fi
}
quot() { awk -v a="$1" -v b="$2" 'BEGIN { if (a != "" && b != "" && b > 0) printf "%.6f", a / b }'; }

# row FIGURE KUV PEER RATIO TARGET
row() { printf '| %s | %s | %s | %s | %s |\n' "$@"; }

declare -A kindName=([l3]="Layer III 44.1 kHz 192 kbit/s" [vbr]="Layer III VBR (lame -V2)"
  [mpeg2]="MPEG-2 Layer III 22.05 kHz 64 kbit/s" [l2]="Layer II 44.1 kHz 256 kbit/s")
declare -A kindLimit=([l3]=1.0 [vbr]=1.0 [mpeg2]=1.0 [l2]=0.7)
declare -A kindCodec=([l3]=mp3float [vbr]=mp3float [mpeg2]=mp3float [l2]=mp2float)

busiest=$(get player.busiest)
peerKey=audskins peerName="Audacious, Winamp Classic with analyser"
if [ -z "$(get player.audskins.cpu)" ]; then peerKey=audacious peerName="Audacious, default interface"; fi

echo "kuv $("$build/kuv" --version 2>/dev/null | awk '{ print $2 }') ($build), $(date +%F), medians of $bench_runs;" \
  "$(nproc) cores, load average at the end $(cut -d' ' -f1-3 /proc/loadavg)"
echo
row "figure" "kuv" "peer" "ratio" "target"
row "---" "---:" "---:" "---:" "---"
for kind in l3 vbr mpeg2 l2; do
  limit=${kindLimit[$kind]}
  kw=$(get "decode.$kind.kuv.whole") fw=$(get "decode.$kind.ffmpeg.whole")
  ks=$(get "decode.$kind.kuv.steady_ms") fs=$(get "decode.$kind.ffmpeg.steady_ms")
  row "${kindName[$kind]}: decode, whole 300 s run (CPU s; peer ffmpeg ${kindCodec[$kind]})" \
    "$(fmt "$kw" %.3f)" "$(fmt "$fw" %.3f)" "$(ratio "$kw" "$fw")" "≤ $limit × ffmpeg"
  row "${kindName[$kind]}: decode, steady (CPU ms per audio s; peer ffmpeg ${kindCodec[$kind]})" \
    "$(fmt "$ks" %.2f)" "$(fmt "$fs" %.2f)" "$(ratio "$ks" "$fs")" "≤ $limit × ffmpeg"
  check "${kindName[$kind]} whole" "$(quot "$kw" "$fw")" "$limit"
  check "${kindName[$kind]} steady" "$(quot "$ks" "$fs")" "$limit"
  if [ -n "$(get "decode.$kind.madplay.steady_ms")" ]; then
    ms=$(get "decode.$kind.madplay.steady_ms")
    row "${kindName[$kind]}: decode, steady (CPU ms per audio s; peer madplay)" \
      "$(fmt "$ks" %.2f)" "$(fmt "$ms" %.2f)" "$(ratio "$ks" "$ms")" "–"
  fi
done
for path in sse2 avx2; do
  ps=$(get "decode.l3.kuv_$path.steady_ms")
  [ -n "$ps" ] || continue
  fs=$(get decode.l3.ffmpeg.steady_ms)
  row "${kindName[l3]}: decode, steady, KUV_SIMD=$path (CPU ms per audio s; peer ffmpeg mp3float)" \
    "$(fmt "$ps" %.2f)" "$(fmt "$fs" %.2f)" "$(ratio "$ps" "$fs")" "≤ 1.0 × ffmpeg"
  check "Layer III steady $path" "$(quot "$ps" "$fs")" 1.0
done
rss=$(get decode.rss_kb)
row "kuv-decode peak resident memory, 300 s Layer III file (KB)" "$(fmt "$rss" %d)" "–" "–" "≤ 8192 KB"
check "kuv-decode resident memory" "$rss" 8192

peerCpu=$(get "player.$peerKey.cpu") peerWake=$(get "player.$peerKey.wake") peerServer=$(get "player.$peerKey.server")
for key in kuv0 kuv3 kuvbusiest; do
  case $key in
    kuv0) name="LEDVisual 0 (no visualisation, overlay on)" ;;
    kuv3) name="LEDVisual 3 (spectrum)" ;;
    kuvbusiest) name="LEDVisual $busiest (busiest of 1..5)" ;;
  esac
  c=$(get "player.$key.cpu") w=$(get "player.$key.wake") x=$(get "player.$key.server")
  row "player playing a 5-minute MP3, $name: CPU % of one core (peer $peerName)" \
    "$(fmt "$c" %.3f)" "$(fmt "$peerCpu" %.3f)" "$(ratio "$c" "$peerCpu")" "≤ 0.5 × Audacious, goal < 0.4 %"
  row "player, $name: wake-ups a second" "$(fmt "$w" %.0f)" "$(fmt "$peerWake" %.0f)" "$(ratio "$w" "$peerWake")" "≤ 120"
  row "player, $name: X server CPU %" "$(fmt "$x" %.3f)" "$(fmt "$peerServer" %.3f)" "$(ratio "$x" "$peerServer")" "–"
  check "player CPU, $name" "$(quot "$c" "$peerCpu")" 0.5
  check "player wake-ups, $name" "$w" 120
done
c=$(get player.kuvmin.cpu) w=$(get player.kuvmin.wake)
row "player, LEDVisual $busiest, minimised: CPU % of one core" "$(fmt "$c" %.3f)" "–" "–" "~0 %"
row "player, LEDVisual $busiest, minimised: wake-ups a second" "$(fmt "$w" %.0f)" "–" "–" "–"
check "player minimised CPU (above 0.05 %)" "$c" 0.05
ac=$(get player.audacious.cpu)
row "player, Audacious default interface: CPU % of one core" "–" "$(fmt "$ac" %.3f)" "–" "–"
# What no player can go below here: feeding the sink at all, and waking for
# 50 rounds a second.
floorSink=$(get player.aplay.cpu) floorWake=$(get player.wakefloor.cpu)
row "floor: aplay into the same sink, CPU % of one core (wake-ups a second)" \
  "$(fmt "$floorSink" %.3f) ($(fmt "$(get player.aplay.wake)" %.0f))" "–" "–" "–"
row "floor: a thread that only wakes 50 times a second, CPU % (each round also waking a reader)" \
  "$(fmt "$floorWake" %.3f) ($(fmt "$(get player.putfloor.cpu)" %.3f))" "–" "–" "–"
for key in kuv0 kuv3 kuvbusiest kuvmin "$peerKey"; do
  row "player, $key: CPU % above its floor (aplay; plus the writing waker for a moving display)" \
    "$(fmt "$(get "player.$key.overfloor")" %.3f)" "–" "–" "–"
done
km=$(get startup.kuv_ms) am=$(get startup.audacious_ms)
row "start to a visible window (ms; peer Audacious's second start)" "$(fmt "$km" %.0f)" "$(fmt "$am" %.0f)" "$(ratio "$km" "$am")" "≤ 0.7 × Audacious"
check "start-up" "$(quot "$km" "$am")" 0.7
ko=$(get startup.kuv_objects) ao=$(get startup.audacious_objects)
row "shared objects mapped, playing a local file" "$(fmt "$ko" %d)" "$(fmt "$ao" %d)" "$(ratio "$ko" "$ao")" "–"
kr=$(get startup.kuv_rss_kb) ar=$(get startup.audacious_rss_kb)
row "player resident memory after 10 s playing (KB)" "$(fmt "$kr" %d)" "$(fmt "$ar" %d)" "$(ratio "$kr" "$ar")" "–"
for album in cbr vbr; do
  case $album in
    cbr) name="lame -b 192" ;;
    vbr) name="lame -V2" ;;
  esac
  ki=$(get "gapless.kuv.$album.inserted") ai=$(get "gapless.audacious.$album.inserted")
  kj="$(get "gapless.kuv.$album.join1"), $(get "gapless.kuv.$album.join2")"
  aj="$(get "gapless.audacious.$album.join1"), $(get "gapless.audacious.$album.join2")"
  row "track change, three-file album ($name): samples inserted in all (at the two joins; negative: lost)" \
    "$(fmt "$ki" %d) ($kj)" "$(fmt "$ai" %d) ($aj)" "–" "0 (0, 0)"
  kd="$(get "gapless.kuv.$album.difference1"), $(get "gapless.kuv.$album.difference2")"
  ad="$(get "gapless.audacious.$album.difference1"), $(get "gapless.audacious.$album.difference2")"
  row "track change ($name): largest difference from the exact join (16-bit steps, at the player's level)" \
    "$kd" "$ad" "–" "–"
  if [ "$ki" != 0 ] || [ "$kj" != "0, 0" ]; then missed+=("gapless $name"); fi
done
echo
if [ "${#missed[@]}" -gt 0 ]; then
  echo "targets missed: $(printf '%s; ' "${missed[@]}" | sed 's/; $//')"
else
  echo "every target met"
fi
echo "performance.sh took $(($(date +%s) - began)) s"
