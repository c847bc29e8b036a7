#!/usr/bin/env bash
# Layer III decode speed: a 5-minute 44.1 kHz stereo 192 kbit/s MP3 decoded
# to nothing by kuv-decode, ffmpeg's mp3float decoder and madplay in the same
# run. Reports CPU seconds per second of audio, the ratios against both, the
# median and largest time per frame, and kuv-decode's peak memory.
#   bench/layer3_decode.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/release"}
source "$root/bench/common.sh"
bench_build "$root" "$build" kuv-decode kuv_frame_times

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Varied content: chords with vibrato, noise, and plucked notes with sharp
# attacks (short blocks), 300 seconds in all.
sox -n -r 44100 -c 2 -b 16 "$tmp/a.wav" synth 100 sine 220 sine 277 sine 330 pinknoise tremolo 3 40 gain -8 2>/dev/null
sox -n -r 44100 -c 2 -b 16 "$tmp/b.wav" synth 100 pluck 196 pluck 262 pluck 392 tremolo 6 90 gain -6 2>/dev/null
sox -n -r 44100 -c 2 -b 16 "$tmp/c.wav" synth 100 brownnoise sine 440 square 110 tremolo 9 60 gain -12 2>/dev/null
sox "$tmp/a.wav" "$tmp/b.wav" "$tmp/c.wav" "$tmp/all.wav"
lame --quiet -b 192 "$tmp/all.wav" "$tmp/long.mp3"
seconds=300


read -r ours ourPeak < <(bench_measure env HOME="$tmp" "$build/kuv-decode" -q -o /dev/null "$tmp/long.mp3")
read -r ffmpegCpu _ < <(bench_measure ffmpeg -v error -c:a mp3float -i "$tmp/long.mp3" -f s16le -y /dev/null)
read -r madCpu _ < <(bench_measure madplay -q -o raw:/dev/null "$tmp/long.mp3")
"$build/kuv_frame_times" "$tmp/long.mp3" > "$tmp/frames"

echo "audio: ${seconds} s of 44.1 kHz stereo Layer III at 192 kbit/s"
for pair in "kuv-decode $ours" "ffmpeg-mp3float $ffmpegCpu" "madplay $madCpu"; do
  set -- $pair
  awk -v n="$1" -v c="$2" -v s="$seconds" 'BEGIN { printf "%-16s %.3f CPU s (%.5f CPU s per audio s)\n", n, c, c / s }'
done
awk -v a="$ours" -v b="$ffmpegCpu" 'BEGIN { printf "ratio kuv/ffmpeg: %.2f\n", a / b }'
awk -v a="$ours" -v b="$madCpu" 'BEGIN { printf "ratio kuv/madplay: %.2f\n", a / b }'
awk '/median_us/ { printf "median time per frame: %s us\n", $2 } /max_us/ { printf "largest time per frame: %s us\n", $2 }' "$tmp/frames"
echo "kuv-decode peak memory: ${ourPeak} KB"
