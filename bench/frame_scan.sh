#!/usr/bin/env bash
# Frame-scanning speed (the reader the player counts a file's frames with
# for exact lengths and seeks): kuv-decode --info (header search, sync and every
# frame body read) against ffprobe -count_frames on the same long file.
#   bench/frame_scan.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/release"}
source "$root/bench/common.sh"
bench_build "$root" "$build" kuv-decode

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# About 45 minutes of audio: the sample track 240 times over.
for _ in $(seq 240); do cat "$root/resources/samples/kuv-sample.mp3"; done > "$tmp/long.mp3"

best() {  # best wall time of 5 runs, in ms
  local best=999999999
  for _ in 1 2 3 4 5; do
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    local ms=$(( (end - start) / 1000000 ))
    (( ms < best )) && best=$ms
  done
  echo "$best"
}
ours=$(best "$build/kuv-decode" --info "$tmp/long.mp3")
theirs=$(best ffprobe -v error -count_frames -show_entries stream=nb_read_frames "$tmp/long.mp3")
frames=$("$build/kuv-decode" --info "$tmp/long.mp3" | awk '/frames:/ {print $2}')
echo "file: $(stat -c %s "$tmp/long.mp3") bytes, $frames frames"
echo "kuv-decode --info: ${ours} ms"
echo "ffprobe -count_frames: ${theirs} ms"
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "ratio kuv/ffprobe: %.3f\n", (a > 0 ? a : 1) / (b > 0 ? b : 1) }'
# The player counts a playing file's frames on a thread of its own with the
# same reader (exact lengths and seeks): its cost per hour of audio.
awk -v ms="$ours" -v frames="$frames" 'BEGIN {
  hours = frames * 1152 / 44100 / 3600
  if (hours > 0) printf "frame count per hour of audio: %.0f ms\n", ms / hours }'
