#!/usr/bin/env bash
# Encodes the MP3 files the frame and stream tests read, with Debian's sox
# and lame, into the folder given. Deterministic: sox synthesises the tune,
# junk bytes come from a fixed generator.
set -euo pipefail
out=${1:?usage: make_fixtures.sh FOLDER}
mkdir -p "$out"
cd "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Twelve seconds of a plucked tune over a soft chord: real music-like content
# so VBR really varies its bit rate.
notes=(E4 G4 A4 B4 D5 B4 A4 G4 E4 D4 E4 G4)
parts=()
i=0
for n in "${notes[@]}"; do
  sox -n -r 44100 -c 2 -b 16 "$tmp/n$i.wav" synth 1 pluck "$n" synth 1 sine mix E3 fade 0 1 0.3 gain -6 2>/dev/null
  parts+=("$tmp/n$i.wav")
  i=$((i + 1))
done
sox "${parts[@]}" "$tmp/tune.wav"
sox "$tmp/tune.wav" -r 22050 "$tmp/tune22.wav"
sox "$tmp/tune.wav" -r 11025 "$tmp/tune11.wav"

lame_() { lame --quiet --noreplaygain "$@"; }
lame_ -b 128 "$tmp/tune.wav" cbr.mp3                 # CBR with an Info frame
lame_ -b 128 -t "$tmp/tune.wav" cbr_notag.mp3        # CBR, no tag frame
lame_ -V 2 "$tmp/tune.wav" vbr.mp3                   # VBR with a Xing frame
lame_ -V 2 -t "$tmp/tune.wav" vbr_notag.mp3          # VBR without one
lame_ -b 64 "$tmp/tune22.wav" mpeg2.mp3              # MPEG-2, 22.05 kHz
lame_ -b 32 "$tmp/tune11.wav" mpeg25.mp3             # MPEG 2.5, 11.025 kHz
lame_ -b 128 -p -t "$tmp/tune.wav" crc.mp3           # every frame protected
lame_ -b 96 -m m -t "$tmp/tune.wav" mono.mp3

# More Layer III: high rate, VBR -V6, the MPEG-2 and MPEG 2.5 rates, forced
# stereo, and sharp transients (clicks over silence) for short blocks.
sox "$tmp/tune.wav" -r 24000 "$tmp/tune24.wav"
sox "$tmp/tune.wav" -r 16000 "$tmp/tune16.wav"
sox "$tmp/tune.wav" -r 8000 "$tmp/tune8.wav"
sox "$tmp/tune.wav" -r 12000 "$tmp/tune12.wav"
lame_ -b 320 "$tmp/tune.wav" l3_320.mp3
lame_ -V 6 "$tmp/tune.wav" l3_v6.mp3
lame_ -b 48 "$tmp/tune24.wav" l3_24k.mp3
lame_ -b 32 "$tmp/tune16.wav" l3_16k.mp3
lame_ -b 24 "$tmp/tune12.wav" l3_12k.mp3
lame_ -b 16 "$tmp/tune8.wav" l3_8k.mp3
lame_ -b 192 -m s "$tmp/tune.wav" l3_stereo.mp3
clicks=()
for i in $(seq 0 11); do
  sox -n -r 44100 -c 2 -b 16 "$tmp/c$i.wav" synth 0.004 square $((200 + 150 * i)) pad 0 0.3 2>/dev/null
  clicks+=("$tmp/c$i.wav")
done
sox "${clicks[@]}" "$tmp/clicks.wav" gain -3
lame_ -b 128 "$tmp/clicks.wav" l3_transients.mp3

# Layer II from twolame (MPEG-1 rates and modes, with and without CRC) and
# from ffmpeg's encoder at the MPEG-2 rates.
sox "$tmp/tune.wav" -r 48000 "$tmp/tune48.wav"
sox "$tmp/tune.wav" -r 32000 -c 1 "$tmp/tune32m.wav"
twolame --quiet -b 192 -m s "$tmp/tune48.wav" l2_48_stereo.mp2
twolame --quiet -b 128 -m j "$tmp/tune.wav" l2_44_joint.mp2
twolame --quiet -b 64 -m m "$tmp/tune32m.wav" l2_32_mono.mp2
twolame --quiet -b 160 -m j -p "$tmp/tune.wav" l2_44_crc.mp2
twolame --quiet -b 64 -m s "$tmp/tune.wav" l2_44_lowrate.mp2
for r in 22 24 16; do
  ffmpeg -v error -y -i "$tmp/tune$r.wav" -c:a mp2 -b:a 64k "l2_${r}k.mp2"
done

# Fixed pseudo-random bytes (xorshift), n of them, to stdout.
junk() {
  local n=$1 seed=$2
  awk -v n="$n" -v s="$seed" 'BEGIN {
    for (i = 0; i < n; i++) { s = (s * 1103515245 + 12345) % 2147483648; printf "%c", int(s / 65536) % 256 }
  }' LC_ALL=C
}

# A 300 KB ID3v2.3 tag: one APIC frame whose picture bytes are junk that is
# full of 0xFF, then the CBR audio.
pic=307200
{
  size=$((10 + 14 + pic))   # frame header + APIC fields + picture
  ss() { printf "\\x$(printf %02x $((($1 >> 21) & 127)))\\x$(printf %02x $((($1 >> 14) & 127)))\\x$(printf %02x $((($1 >> 7) & 127)))\\x$(printf %02x $(($1 & 127)))"; }
  be() { printf "\\x$(printf %02x $((($1 >> 24) & 255)))\\x$(printf %02x $((($1 >> 16) & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))\\x$(printf %02x $(($1 & 255)))"; }
  printf 'ID3\x03\x00\x00'; ss "$size"
  printf 'APIC'; be $((14 + pic)); printf '\x00\x00'
  printf '\x00image/jpeg\x00\x03\x00'
  junk "$pic" 7 | LC_ALL=C tr '\000-\077' '\377'
} > id3v2.mp3
cat cbr_notag.mp3 >> id3v2.mp3

{ junk 3000 11; cat cbr_notag.mp3; } > junk_front.mp3

# The last frame cut in half.
size=$(stat -c %s cbr_notag.mp3)
head -c $((size - 200)) cbr_notag.mp3 > truncated.mp3

{ cat cbr_notag.mp3; printf 'TAG%-30s%-30s%-30s2026%-30s\x0c' "Title" "Artist" "Album" "Comment"; } > id3v1.mp3

junk 200000 3 > random.bin

touch .stamp
