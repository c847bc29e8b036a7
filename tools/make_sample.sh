#!/usr/bin/env bash
# Makes the bundled sample track: a short synthesised tune encoded by lame.
#   tools/make_sample.sh [OUT.mp3]
set -euo pipefail
out=${1:-"$(dirname "$0")/../resources/samples/kuv-sample.mp3"}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# A little arpeggio over a held bass, two bars of four chords.
melody=(C4 E4 G4 C5  A3 C4 E4 A4  F3 A3 C4 F4  G3 B3 D4 G4)
bass=(C3 A2 F2 G2)
parts=()
i=0
for n in "${melody[@]}" "${melody[@]}"; do
  b=${bass[$(( (i / 4) % 4 ))]}
  sox -n -r 44100 -c 2 -b 16 "$tmp/n$i.wav" synth 0.35 pluck "$n" synth 0.35 pluck mix "$b" \
    fade 0 0.35 0.12 gain -4 2>/dev/null
  parts+=("$tmp/n$i.wav")
  i=$((i + 1))
done
sox "${parts[@]}" "$tmp/tune.wav" reverb 30 gain -n -3
lame --quiet --noreplaygain -b 160 --tt "KUV Sample" --ta "KUV" --tl "KUV" --ty 2026 "$tmp/tune.wav" "$out"
echo "$out: $(stat -c %s "$out") bytes"
