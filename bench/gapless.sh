#!/usr/bin/env bash
# The gap at a track change: a 30 s stereo 44.1 kHz signal that never rests
# at zero (a 440 Hz sine on the left, 661 Hz on the right, -8 dB), cut
# sample-exactly into three 10 s parts, each encoded with lame -b 192 (the
# "cbr" album) and with lame -V2 (the "vbr" album). kuv and Audacious play
# each three-file album in order, all four at once in a private Xvfb, each
# into its own paced ALSA sink (a FIFO drained at 176400 bytes a second, as a
# card would) that captures every byte. The exact join is the album's parts
# as ffmpeg decodes them, joined. From each capture:
#   - first and last: the first and last frame of sound (leading and trailing
#     silence skipped: both channels below 1/64 of the signal's peak);
#   - inserted: (last - first + 1) - 1323000, the frames the player added
#     (negative: lost);
#   - lead and tail: frames of sound before the signal's first frame and after
#     its last (negative: frames of the signal missing there);
#   - at each join: where it lies in the capture, the frames inserted there
#     (from where the signal 2048 frames before and after it lies), the
#     longest near-silent run between those places, the largest step from one
#     frame to the next there against the exact join's, and the largest
#     difference from the exact join there against that a second into the
#     album (a click or a lost piece shows in both);
#   - the player's level against the signal (its volume, a ReplayGain).
# Medians of $BENCH_RUNS (default 3) rounds; a round takes about 35 s.
#   bench/gapless.sh [BUILD_DIR]   (BENCH_NO_BUILD=1: BUILD_DIR holds prebuilt binaries)
# With BENCH_RESULTS=FILE, the figures are appended to FILE as "key value" lines;
# with BENCH_CAPTURES=DIR, the captures and the exact joins (raw S16_LE stereo)
# are kept there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/release"}
BENCH_RUNS=${BENCH_RUNS:-3}
source "$root/bench/common.sh"
bench_build "$root" "$build" kuv kuv_paced_drain

kuv="$build/kuv"
drain="$build/kuv_paced_drain"
results=${BENCH_RESULTS:-/dev/null}
frames=1323000
part=441000

bench_name=gapless.sh
source "$root/bench/desktop.sh"

sox -D -n -r 44100 -c 2 -b 16 "$tmp/signal.wav" synth 30 sine 440 0 25 sine 661 0 25 gain -8 2>/dev/null
for i in 0 1 2; do
  sox "$tmp/signal.wav" "$tmp/part$i.wav" trim "$((i * part))s" "${part}s"
  lame --quiet -b 192 "$tmp/part$i.wav" "$tmp/cbr$i.mp3"
  lame --quiet -V2 "$tmp/part$i.wav" "$tmp/vbr$i.mp3"
  rm "$tmp/part$i.wav"
done

# Starts a player on an album in a fresh home with a capturing sink. Sets
# <name>_pid and <name>_drain.
#   start_player NAME ALBUM COMMAND...
start_player() {
  local name=$1 album=$2
  shift 2
  local folder="$tmp/$name"
  fresh_home "$folder"
  printf '[kuv]\nShowSplashScreen=0\nMultipleInstances=0\n' > "$folder/config/kuv/kuv.ini"
  : > "$folder/capture"
  "$drain" "$folder/paced.fifo" 176400 "$folder/capture" > "$folder/drained" 2> "$folder/drain.log" &
  pids+=("$!")
  eval "${name}_drain=\$!"
  for _ in $(seq 100); do [ -p "$folder/paced.fifo" ] && break; sleep 0.05; done
  if [ ! -p "$folder/paced.fifo" ]; then
    echo "$bench_name: the sink of $name did not start:" >&2
    cat "$folder/drain.log" >&2
    exit 1
  fi
  set_env "$folder"
  "${env_cmd[@]}" "$@" "$tmp/${album}0.mp3" "$tmp/${album}1.mp3" "$tmp/${album}2.mp3" > "$folder/out.log" 2>&1 &
  pids+=("$!")
  eval "${name}_pid=\$!"
}

# Waits until every named player has played its album: its capture holds
# the 30 s and has not grown for 2 s, or the player has quit after sound.
# A player that gives no sound within 30 s, ends without any, or stays
# silent for 10 s before the 30 s are in fails the run.
#   wait_played NAME...
wait_played() {
  local name folder size pid begun now
  declare -A last_size=() still=() done_=()
  begun=$(date +%s)
  while :; do
    local pending=0
    now=$(date +%s)
    for name in "$@"; do
      [ -n "${done_[$name]:-}" ] && continue
      folder="$tmp/$name"
      size=$(stat -c %s "$folder/capture")
      eval "pid=\$${name}_pid"
      if [ "$size" -eq 0 ]; then
        if ! kill -0 "$pid" 2>/dev/null; then
          echo "$bench_name: $name ended without playing anything:" >&2
          cat "$folder/out.log" >&2
          exit 1
        fi
        if [ $((now - begun)) -ge 30 ]; then
          echo "$bench_name: $name did not start playing within 30 s:" >&2
          cat "$folder/out.log" >&2
          exit 1
        fi
        pending=1
        continue
      fi
      if ! kill -0 "$pid" 2>/dev/null; then
        done_[$name]=1
        continue
      fi
      if [ "$size" = "${last_size[$name]:-}" ]; then
        still[$name]=$((${still[$name]} + 1))
      else
        still[$name]=0
        last_size[$name]=$size
      fi
      if [ "$size" -ge $((frames * 4)) ] && [ "${still[$name]}" -ge 10 ]; then
        done_[$name]=1
        continue
      fi
      if [ "${still[$name]}" -ge 50 ]; then
        echo "$bench_name: $name stopped after $((size / 176400)) s of its 30 s album:" >&2
        cat "$folder/out.log" >&2
        exit 1
      fi
      if [ $((now - begun)) -ge 120 ]; then
        echo "$bench_name: $name still playing after 120 s" >&2
        exit 1
      fi
      pending=1
    done
    [ "$pending" = 0 ] && break
    sleep 0.2
  done
}

# Measures a capture against the signal and against the album's parts as
# ffmpeg decodes them (it trims what the LAME tag states), joined: what an
# exact join sounds like. Prints "first last inserted lead tail", then for
# each join "at shift silence step exact_step difference", then
# "interior_difference level_db"; or "silent" or "unmatched".
#   measure REFERENCE CAPTURE
measure() {
  python3 - "$1" "$2" "$part" <<'PY'
import array, math, sys

def raw(path):
    with open(path, "rb") as f:
        data = f.read()
    a = array.array("h", data[: len(data) // 4 * 4])
    if sys.byteorder != "little":
        a.byteswap()
    return a
r = raw(sys.argv[1])
c = raw(sys.argv[2])
part = int(sys.argv[3])
n = len(r) // 2
m = len(c) // 2
peak = max(max(r), -min(r))
quiet = peak // 64

def loud(i):
    return abs(c[2 * i]) >= quiet or abs(c[2 * i + 1]) >= quiet

first = next((i for i in range(m) if loud(i)), None)
if first is None:
    print("silent")
    sys.exit(0)
last = next(i for i in range(m - 1, -1, -1) if loud(i))

# The player's level against the signal's (its volume, a ReplayGain), first
# from the peaks a second into the first part, to match with.
mid = min(first + 44100, max(m - 44100, 0))
cpeak = max(abs(v) for v in c[2 * mid : 2 * (mid + 44100)])
gain = max(cpeak, 1) / max(abs(v) for v in r[2 * 44100 : 2 * 88200])

window = 1024
margin = 2048
# Sum of squared differences above which a position cannot match: a quarter
# of the peak on every frame. Stops a wrong position after a few frames.
limit = window * 2 * (peak * gain / 4) ** 2

# The signal repeats every second, but the coding noise on it does not: the
# best match with the reference is the one place where it lies.
def align(k, guess, below, above):
    """The capture frame where signal frame k lies: the best match from
    guess - below to guess + above."""
    best, where = limit, None
    xs = [gain * v for v in r[2 * k : 2 * (k + window)]]
    for d in range(max(below, above) + 1):
        for p in (guess + d, guess - d) if d else (guess,):
            if p < 0 or p + window > m or p < guess - below or p > guess + above:
                continue
            s, base = 0.0, 2 * p
            for i in range(2 * window):
                e = c[base + i] - xs[i]
                s += e * e
                if s >= best:
                    break
            else:
                best, where = s, p
    return where

def unmatched():
    print("unmatched")
    sys.exit(0)

def step(a, lo, hi):
    return max((max(abs(a[2 * i + 2] - a[2 * i]), abs(a[2 * i + 3] - a[2 * i + 1])) for i in range(lo, hi - 1)), default=0)

def silent_run(lo, hi):
    run = longest = 0
    for i in range(max(lo, 0), min(hi, m)):
        run = 0 if loud(i) else run + 1
        longest = max(longest, run)
    return longest

# The largest difference from the reference over signal frames lo..hi, the
# capture holding frame k at k + offset.
def difference(lo, hi, offset):
    worst = 0
    for k in range(lo, hi):
        q = k + offset
        if 0 <= q < m:
            for ch in (0, 1):
                worst = max(worst, abs(c[2 * q + ch] - gain * r[2 * k + ch]))
    return worst

p = align(margin, first + margin, 4096, 4096)
if p is None:
    unmatched()
start = p - margin  # where signal frame 0 lies
# The exact level, by least squares over a second of the first part.
lo = 44100
if start + lo + 44100 <= m:
    num = sum(c[2 * (start + lo) + i] * r[2 * lo + i] for i in range(2 * 44100))
    den = sum(r[2 * lo + i] ** 2 for i in range(2 * 44100))
    gain = num / den if den else gain
interior = difference(lo, lo + 44100, start)

joins = []
offset = start
for j in range(1, n // part):
    k1 = j * part - margin - window
    p1 = align(k1, offset + k1, 4096, 4096)
    if p1 is None:
        unmatched()
    k2 = j * part + margin
    p2 = align(k2, p1 + (k2 - k1), 4096, 5 * 44100)
    if p2 is None:
        unmatched()
    shift = p2 - p1 - (k2 - k1)
    at = p1 - k1 + j * part
    exact = step(r, j * part - margin, j * part + margin) * gain
    jump = max(difference(j * part - margin, j * part, p1 - k1), difference(j * part, j * part + margin, p2 - k2))
    joins += [at, shift, silent_run(p1 + window, p2), step(c, p1 + window, p2), round(exact), round(jump)]
    offset = p2 - k2
k = n - margin - window
p = align(k, offset + k, 4096, 4096)
if p is None:
    unmatched()
end = p - k + n - 1  # where signal frame n - 1 lies
out = [first, last, last - first + 1 - n, start - first, last - end] + joins
out += [round(interior), "%.2f" % (round(20 * math.log10(gain), 2) + 0.0 if gain > 0 else -99)]
print(" ".join(str(v) for v in out))
PY
}

# What an exact join gives: each album's parts as ffmpeg decodes them (it
# trims what the LAME tag states), joined. A reference that is not the
# signal's length, or that does not measure as exact against itself, means
# the measurement cannot be trusted.
for album in cbr vbr; do
  for i in 0 1 2; do ffmpeg -v error -i "$tmp/$album$i.mp3" -f s16le -acodec pcm_s16le -; done > "$tmp/$album.ref"
  if [ "$(stat -c %s "$tmp/$album.ref")" -ne $((frames * 4)) ]; then
    echo "$bench_name: ffmpeg decodes the $album album to $(($(stat -c %s "$tmp/$album.ref") / 4)) frames, not $frames" >&2
    exit 1
  fi
  self=$(measure "$tmp/$album.ref" "$tmp/$album.ref")
  if ! awk -v n="$frames" -v p="$part" '{ exit !($1 == 0 && $2 == n - 1 && $3 == 0 && $4 == 0 && $5 == 0 &&
      $6 == p && $7 == 0 && $8 == 0 && $11 == 0 && $12 == 2 * p && $13 == 0 && $14 == 0 && $17 == 0) }' <<< "$self"; then
    echo "$bench_name: the $album reference measures as \"$self\" against itself" >&2
    exit 1
  fi
done

players=(kuv audacious)
albums=(cbr vbr)
for round in $(seq "$bench_runs"); do
  echo "$bench_name: round $round of $bench_runs ($(date +%T))" >&2
  names=()
  for album in "${albums[@]}"; do
    start_player "kuv_$album" "$album" "$kuv"
    start_player "audacious_$album" "$album" audacious -q
    names+=("kuv_$album" "audacious_$album")
  done
  wait_played "${names[@]}"
  for name in "${names[@]}"; do
    eval "stop_pid \$${name}_pid; stop_pid \$${name}_drain"
    if [ -s "$tmp/$name/drain.log" ]; then
      echo "$bench_name: the sink of $name failed:" >&2
      cat "$tmp/$name/drain.log" >&2
      exit 1
    fi
    figures=$(measure "$tmp/${name#*_}.ref" "$tmp/$name/capture")
    case $figures in
      silent | unmatched)
        echo "$bench_name: $name's capture is $figures: the signal was not found in it" >&2
        exit 1 ;;
    esac
    echo "$figures" >> "$tmp/$name.figures"
    if [ -n "${BENCH_CAPTURES:-}" ]; then
      mkdir -p "$BENCH_CAPTURES"
      mv "$tmp/$name/capture" "$BENCH_CAPTURES/$name.$round.raw"
      cp "$tmp/${name#*_}.ref" "$BENCH_CAPTURES/${name#*_}.ref.raw"
    fi
    rm -rf "${tmp:?}/$name"
  done
done

# The median of field F over the rounds of NAME.
median_of() { awk -v f="$2" '{ print $f }' "$tmp/$1.figures" | bench_median; }

echo "kuv $("$kuv" --version | awk '{ print $2 }') ($build), $(audacious --version 2>/dev/null | head -n1)"
echo "a 30 s signal in three 10 s parts, $frames frames at 44.1 kHz; medians of $bench_runs rounds"
for player in "${players[@]}"; do
  for album in "${albums[@]}"; do
    name="${player}_$album"
    read -r first last inserted lead tail at1 s1 q1 t1 e1 d1 at2 s2 q2 t2 e2 d2 interior level < <(
      for f in $(seq 19); do median_of "$name" "$f"; done | tr '\n' ' '
      echo)
    printf '%s %s: inserted %s samples (joins: %s, %s)\n' "$player" "$album" "$inserted" "$s1" "$s2"
    printf '  sound from frame %s to %s of the capture, %s frames before the signal and %s after it; joins at %s and %s\n' \
      "$first" "$last" "$lead" "$tail" "$at1" "$at2"
    printf '  at the joins: longest near-silent run %s, %s; largest step %s, %s (exact join %s, %s);' \
      "$q1" "$q2" "$t1" "$t2" "$e1" "$e2"
    printf ' largest difference from the exact join %s, %s (elsewhere %s); level %s dB\n' "$d1" "$d2" "$interior" "$level"
    if [ "$(sort -u "$tmp/$name.figures" | wc -l)" -gt 1 ]; then
      echo "  (rounds: $(awk '{ printf "%s%s", sep, "inserted " $3 " (joins " $7 ", " $13 ")"; sep = "; " }' "$tmp/$name.figures"))"
    fi
    {
      echo "gapless.$player.$album.inserted $inserted"
      echo "gapless.$player.$album.join1 $s1"
      echo "gapless.$player.$album.join2 $s2"
      echo "gapless.$player.$album.silence1 $q1"
      echo "gapless.$player.$album.silence2 $q2"
      echo "gapless.$player.$album.lead $lead"
      echo "gapless.$player.$album.tail $tail"
      echo "gapless.$player.$album.step1 $t1"
      echo "gapless.$player.$album.exact_step1 $e1"
      echo "gapless.$player.$album.difference1 $d1"
      echo "gapless.$player.$album.difference2 $d2"
    } >> "$results"
  done
done
