#!/usr/bin/env bash
# Playlist operations on 10,000 entries: loading an M3U, sorting, shuffling,
# saving and reloading PLS, and loading with file information read. The sort
# is set against coreutils sort on the same names in the same run.
#   bench/playlist.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/release"}
source "$root/bench/common.sh"
bench_build "$root" "$build" kuv_playlist_times

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# 10,000 small MP3s (the sample track's first frames) with mixed-case names
# in shuffled order.
head -c 4096 "$root/resources/samples/kuv-sample.mp3" > "$tmp/frame.mp3"
mkdir "$tmp/music"
for i in $(seq 1 10000); do
  case $((i % 3)) in 0) n="Track $i.mp3" ;; 1) n="track $i.mp3" ;; *) n="Ärger $i.mp3" ;; esac
  echo "music/$n"
done | shuf --random-source=<(yes) > "$tmp/list.m3u"
while IFS= read -r name; do cp "$tmp/frame.mp3" "$tmp/$name"; done < "$tmp/list.m3u"

"$build/kuv_playlist_times" "$tmp" > "$tmp/times"
start=$(date +%s%N)
LC_ALL=C sort "$tmp/list.m3u" > /dev/null
end=$(date +%s%N)
coreutils=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", (b - a) / 1e6 }')

awk '{ printf "%-20s %s%s\n", $1, $2, ($1 == "entries" ? "" : " ms") }' "$tmp/times"
echo "coreutils sort       $coreutils ms (process start included)"
awk -v c="$coreutils" '/^sort_ascending/ { printf "ratio kuv sort/coreutils sort: %.2f\n", $2 / c }' "$tmp/times"
