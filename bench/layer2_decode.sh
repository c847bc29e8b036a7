#!/usr/bin/env bash
# Layer II decode speed: a 5-minute 44.1 kHz stereo file decoded to nothing
# by kuv-decode and by ffmpeg's mp2float decoder in the same run. Reports
# CPU seconds per second of audio for each, their ratio, and kuv-decode's
# peak memory.
#   bench/layer2_decode.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/release"}
source "$root/bench/common.sh"
bench_build "$root" "$build" kuv-decode

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Music-like content: a chord with vibrato over soft noise, 300 seconds.
sox -n -r 44100 -c 2 -b 16 "$tmp/tone.wav" synth 300 sine 220 sine 277 sine 330 pinknoise \
  tremolo 3 40 gain -8 2>/dev/null
twolame --quiet -b 192 -m j "$tmp/tone.wav" "$tmp/long.mp2"
seconds=300


read -r ours ourPeak < <(bench_measure env HOME="$tmp" "$build/kuv-decode" -q -o /dev/null "$tmp/long.mp2")
read -r theirs _ < <(bench_measure ffmpeg -v error -c:a mp2float -i "$tmp/long.mp2" -f s16le -y /dev/null)
echo "audio: ${seconds} s of 44.1 kHz stereo Layer II at 192 kbit/s"
awk -v c="$ours" -v s="$seconds" 'BEGIN { printf "kuv-decode: %.3f CPU s (%.5f CPU s per audio s)\n", c, c / s }'
awk -v c="$theirs" -v s="$seconds" 'BEGIN { printf "ffmpeg mp2float: %.3f CPU s (%.5f CPU s per audio s)\n", c, c / s }'
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "ratio kuv/ffmpeg: %.2f\n", a / b }'
echo "kuv-decode peak memory: ${ourPeak} KB"
