#!/usr/bin/env bash
# Decode speed of kuv-decode against ffmpeg's float decoders (mp3float,
# mp2float) and, for Layer III, madplay, all in the same run, on four kinds
# of stream: Layer III 44.1 kHz 192 kbit/s CBR, Layer III VBR (lame -V2),
# MPEG-2 Layer III 22.05 kHz 64 kbit/s and Layer II 256 kbit/s.
# For each kind and decoder, the median of $BENCH_RUNS (default 5) runs of:
#   - whole run: user + system CPU seconds decoding a 300 s file to nothing,
#     start-up included;
#   - steady: (CPU of the 300 s file - CPU of a 30 s file of the same
#     content) / 270 s, in CPU milliseconds per audio second: start-up and
#     the end cancel out.
# Also kuv-decode's peak resident memory on the 300 s Layer III file, and,
# when the build reads KUV_SIMD, Layer III steady on its SSE2 and AVX2 paths.
# The runs are interleaved round by round, so load elsewhere on the machine
# falls on every decoder alike; the ratios are what to read.
#   bench/decode_speed.sh [BUILD_DIR]   (BENCH_NO_BUILD=1: BUILD_DIR holds prebuilt binaries)
# With BENCH_RESULTS=FILE, the figures are appended to FILE as "key value" lines.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/release"}
source "$root/bench/common.sh"
bench_build "$root" "$build" kuv-decode

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
decoder="$build/kuv-decode"
results=${BENCH_RESULTS:-/dev/null}
long=300 short=30

# Varied music-like content in a 30 s cycle: chords with vibrato over pink
# noise, plucked notes with sharp attacks (short blocks), and noise with a
# sine and a square under a fast tremolo. The long file is the cycle ten
# times, so the short file is the same kind of sound.
sox -n -r 44100 -c 2 -b 16 "$tmp/a.wav" synth 10 sine 220 sine 277 sine 330 pinknoise tremolo 3 40 gain -8 2>/dev/null
sox -n -r 44100 -c 2 -b 16 "$tmp/b.wav" synth 10 pluck 196 pluck 262 pluck 392 tremolo 6 90 gain -6 2>/dev/null
sox -n -r 44100 -c 2 -b 16 "$tmp/c.wav" synth 10 brownnoise sine 440 square 110 tremolo 9 60 gain -12 2>/dev/null
sox "$tmp/a.wav" "$tmp/b.wav" "$tmp/c.wav" "$tmp/short.wav"
sox "$tmp/short.wav" "$tmp/long.wav" repeat $((long / short - 1))

# kind | encoder command (input and output appended) | file suffix | ffmpeg decoder | madplay too
kinds=(l3 vbr mpeg2 l2)
declare -A label encoder suffix ffcodec withMad
label[l3]="Layer III 44.1 kHz 192 kbit/s CBR"
label[vbr]="Layer III 44.1 kHz VBR (lame -V2)"
label[mpeg2]="MPEG-2 Layer III 22.05 kHz 64 kbit/s"
label[l2]="Layer II 44.1 kHz 256 kbit/s"
encoder[l3]="lame --quiet -b 192" encoder[vbr]="lame --quiet -V2"
encoder[mpeg2]="lame --quiet --resample 22.05 -b 64" encoder[l2]="twolame --quiet -b 256"
suffix[l3]=mp3 suffix[vbr]=mp3 suffix[mpeg2]=mp3 suffix[l2]=mp2
ffcodec[l3]=mp3float ffcodec[vbr]=mp3float ffcodec[mpeg2]=mp3float ffcodec[l2]=mp2float
withMad[l3]=1 withMad[vbr]=1 withMad[mpeg2]=1 withMad[l2]=0

# The build reads KUV_SIMD when its name is in the binary.
simd=0
if grep -q KUV_SIMD "$decoder" 2>/dev/null; then simd=1; fi
simdPaths=(sse2)
grep -qw avx2 /proc/cpuinfo && grep -qw fma /proc/cpuinfo && simdPaths+=(avx2)

ms() { awk -v v="$1" 'BEGIN { printf "%.2f", v * 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "nan" }'; }

# Sets whole (median CPU s of the long runs) and steady (median CPU s per
# audio s of long minus short) from the arrays of command LONG and SHORT.
#   summarise LONG-INDEX SHORT-INDEX
summarise() {
  local -n longCpu=bench_cpu_$1 shortCpu=bench_cpu_$2
  whole=$(printf '%s\n' "${longCpu[@]}" | bench_median)
  steady=$(for i in "${!longCpu[@]}"; do
    awk -v l="${longCpu[$i]}" -v s="${shortCpu[$i]}" -v d=$((long - short)) 'BEGIN { printf "%.9f\n", (l - s) / d }'
  done | bench_median)
}

# Checks that every run of the listed commands gave a figure.
check_runs() {
  local i
  for i in "$@"; do
    local -n runs=bench_cpu_$i
    if [ "${#runs[@]}" -ne "$bench_runs" ] || printf '%s\n' "${runs[@]}" | grep -qv '^[0-9.]\+$'; then
      echo "decode_speed.sh: a decoder run failed" >&2
      exit 1
    fi
  done
}

echo "kuv-decode $("$decoder" --version 2>/dev/null | awk '{ print $2 }') ($build), $(ffmpeg -version | head -n1 | cut -d' ' -f1-3), madplay"
echo "median of $bench_runs interleaved runs; load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-38s %-16s %10s %13s\n' "stream" "decoder" "whole s" "steady ms/s"
for kind in "${kinds[@]}"; do
  for length in long short; do
    ${encoder[$kind]} "$tmp/$length.wav" "$tmp/$kind-$length.${suffix[$kind]}"
  done
  L="$tmp/$kind-long.${suffix[$kind]}" S="$tmp/$kind-short.${suffix[$kind]}"
  kuvL=(env HOME="$tmp" "$decoder" -q -o /dev/null "$L") kuvS=(env HOME="$tmp" "$decoder" -q -o /dev/null "$S")
  ffL=(ffmpeg -nostdin -v error -c:a "${ffcodec[$kind]}" -i "$L" -f s16le -y /dev/null)
  ffS=(ffmpeg -nostdin -v error -c:a "${ffcodec[$kind]}" -i "$S" -f s16le -y /dev/null)
  madL=(madplay -q -o raw:/dev/null "$L") madS=(madplay -q -o raw:/dev/null "$S")
  commands=(kuvL kuvS ffL ffS)
  names=("kuv-decode" "ffmpeg ${ffcodec[$kind]}")
  keys=(kuv ffmpeg)
  if [ "${withMad[$kind]}" = 1 ]; then commands+=(madL madS) names+=(madplay) keys+=(madplay); fi
  if [ "$kind" = l3 ] && [ "$simd" = 1 ]; then
    for path in "${simdPaths[@]}"; do
      eval "simd${path}L=(env KUV_SIMD=$path HOME=\"\$tmp\" \"\$decoder\" -q -o /dev/null \"\$L\")"
      eval "simd${path}S=(env KUV_SIMD=$path HOME=\"\$tmp\" \"\$decoder\" -q -o /dev/null \"\$S\")"
      commands+=("simd${path}L" "simd${path}S") names+=("kuv KUV_SIMD=$path") keys+=("kuv_$path")
    done
  fi
  bench_interleaved "${commands[@]}"
  check_runs $(seq 0 $((${#commands[@]} - 1)))
  declare -A kindWhole=() kindSteady=()
  for j in "${!keys[@]}"; do
    summarise $((2 * j)) $((2 * j + 1))
    kindWhole[${keys[$j]}]=$whole kindSteady[${keys[$j]}]=$steady
    printf '%-38s %-16s %10.3f %13s\n' "${label[$kind]}" "${names[$j]}" "$whole" "$(ms "$steady")"
    echo "decode.$kind.${keys[$j]}.whole $whole" >> "$results"
    echo "decode.$kind.${keys[$j]}.steady_ms $(ms "$steady")" >> "$results"
  done
  line="  ratio kuv/ffmpeg: whole $(ratio "${kindWhole[kuv]}" "${kindWhole[ffmpeg]}"), steady $(ratio "${kindSteady[kuv]}" "${kindSteady[ffmpeg]}")"
  if [ "${withMad[$kind]}" = 1 ]; then
    line+="; kuv/madplay: whole $(ratio "${kindWhole[kuv]}" "${kindWhole[madplay]}"), steady $(ratio "${kindSteady[kuv]}" "${kindSteady[madplay]}")"
  fi
  echo "$line"
  if [ "$kind" = l3 ]; then
    # Measured by GNU time, a small C program: a child forked from the
    # Python timer would carry the interpreter's high-water mark through
    # exec into ru_maxrss.
    rss=$(/usr/bin/time -f %M env HOME="$tmp" "$decoder" -q -o /dev/null "$L" 2>&1 >/dev/null | tail -n 1)
    echo "  kuv-decode peak resident memory on the 300 s file: $rss KB"
    echo "decode.rss_kb $rss" >> "$results"
  fi
  rm -f "$L" "$S"
done
[ "$simd" = 1 ] || echo "(this kuv-decode does not read KUV_SIMD: no per-path figures)"
