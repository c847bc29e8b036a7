#!/usr/bin/env bash
# The playlist editor on 10,000 entries, set against Audacious's playlist in
# the same run. Every entry is a file of its own: 3.2 s of the sample track
# (real frames, an Info header that matches them) under an ID3v2 tag with
# its own title, artist, album and track number.
#   - kuv: kuv_editor_times (offscreen, fresh home) opens the editor on the
#     M3U, refreshes it, and reads every entry's length and tags.
#   - Audacious: in a private Xvfb, a fresh home and a private session bus.
#     Once its window shows and it answers on the bus, the M3U is added to
#     its empty playlist over D-Bus (what `audtool playlist-addurl` does), so
#     its start-up is not counted. "open" runs until its playlist holds every
#     entry; "info" until it has read every file, i.e. the last of the
#     10,000 files is closed, seen through inotify. Asking Audacious for an
#     entry's length makes it read that entry at once, so polling it that way
#     would time the polling; a sample of entries is only checked afterwards.
# Medians of 3 runs, kuv and Audacious taking turns.
#   bench/editor.sh [BUILD_DIR]
#   bench/editor.sh --audacious-only    Audacious alone: nothing is built
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
audacious_only=0
if [ "${1:-}" = --audacious-only ]; then audacious_only=1; shift; fi
build=${1:-"$root/build/release"}
source "$root/bench/common.sh"
if [ "$audacious_only" -eq 0 ]; then bench_build "$root" "$build" kuv_editor_times; fi

entries=10000
runs=3
kuv="$build/kuv"
bench_name=editor.sh

# What the Audacious side needs beyond the build's packages.
need=()
command -v Xvfb >/dev/null || need+=(xvfb)
command -v xdotool >/dev/null || need+=(xdotool)
command -v ffmpeg >/dev/null || need+=(ffmpeg)
command -v dbus-daemon >/dev/null || need+=(dbus-daemon)
command -v inotifywait >/dev/null || need+=(inotify-tools)
/usr/bin/python3 -c 'import dbus' 2>/dev/null || need+=(python3-dbus)
if [ ${#need[@]} -gt 0 ]; then
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  apt_run() { "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@" >/dev/null; }
  apt_run install -y -q --no-install-recommends "${need[@]}" ||
    { apt_run update -q && apt_run install -y -q --no-install-recommends "${need[@]}"; }
fi

source "$root/bench/desktop.sh"

# The entries, with mixed-case names in shuffled order; tags numbered in
# playlist order, so entry N (from 1) is "Title N".
ffmpeg -v error -i "$root/resources/samples/kuv-sample.mp3" -t 3.2 -c:a copy -map_metadata -1 \
  -id3v2_version 0 "$tmp/cut.mp3"
mkdir "$tmp/music"
for i in $(seq 1 "$entries"); do
  case $((i % 3)) in 0) n="Track $i.mp3" ;; 1) n="track $i.mp3" ;; *) n="Ärger $i.mp3" ;; esac
  echo "music/$n"
done | shuf --random-source=<(yes) > "$tmp/list.m3u"
perl -e '
  my ($tmp, $audio_file) = @ARGV;
  open(my $in, "<:raw", $audio_file) or die "$audio_file: $!";
  my $audio = do { local $/; <$in> };
  open(my $list, "<", "$tmp/list.m3u") or die "list.m3u: $!";
  chomp(my @names = <$list>);
  sub frame { my ($id, $text) = @_; $id . pack("N", length($text) + 1) . "\0\0\0" . $text }
  my $i = 0;
  for my $name (@names) {
    $i++;
    my $tags = frame("TIT2", "Title $i") . frame("TPE1", "Artist " . ($i % 97))
      . frame("TALB", "Album " . ($i % 389)) . frame("TRCK", $i % 20 + 1);
    my $n = length $tags;
    my $size = pack("C4", ($n >> 21) & 127, ($n >> 14) & 127, ($n >> 7) & 127, $n & 127);
    open(my $out, ">:raw", "$tmp/$name") or die "$name: $!";
    print $out "ID3\x03\0\0", $size, $tags, $audio;
    close $out or die "$name: $!";
  }' "$tmp" "$tmp/cut.mp3"
entry_size=$(stat -c %s "$tmp/$(head -n1 "$tmp/list.m3u")")

# Times one Audacious load over D-Bus: prints open_ms, info_ms and
# info_after_open_ms. Only file closes are watched: 10,000 events fit in
# inotify's default queue even if the reader falls behind.
#   watch.py MUSIC-DIR M3U ENTRIES
cat > "$tmp/watch.py" <<'PY'
import dbus, subprocess, sys, threading, time, urllib.parse
music, m3u, entries = sys.argv[1], sys.argv[2], int(sys.argv[3])
deadline = time.monotonic() + 120
bus = dbus.SessionBus()
aud = None
while aud is None:
    try:
        aud = dbus.Interface(bus.get_object("org.atheme.audacious", "/org/atheme/audacious"),
                             "org.atheme.audacious")
        aud.Version()
    except dbus.DBusException:
        aud = None
        if time.monotonic() > deadline:
            sys.exit("audacious: not on the session bus within 120 s")
        time.sleep(0.01)
if int(aud.Length()) != 0:
    sys.exit("audacious: its playlist is not empty before the load")
watch = subprocess.Popen(["stdbuf", "-oL", "inotifywait", "-m", "-e", "close_nowrite", "--format", "%f", music],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
try:
    for line in watch.stderr:
        if b"Watches established" in line:
            break
    else:
        sys.exit("audacious: inotifywait did not start")
    closed, all_read, last_close = set(), threading.Event(), [0.0]
    def read_closes():
        for name in watch.stdout:
            closed.add(name)
            last_close[0] = time.monotonic()
            if len(closed) == entries:
                all_read.set()
                return
    threading.Thread(target=read_closes, daemon=True).start()
    start = time.monotonic()
    aud.AddUrl("file://" + urllib.parse.quote(m3u))
    while int(aud.Length()) < entries:
        if time.monotonic() > deadline:
            sys.exit("audacious: %d entries after 120 s" % int(aud.Length()))
        time.sleep(0.002)
    opened = time.monotonic()
    if not all_read.wait(max(0.0, deadline - time.monotonic())):
        sys.exit("audacious: %d of %d files read after 120 s" % (len(closed), entries))
finally:
    watch.kill()
    watch.wait()
# Read means length and tags known: check every 97th entry.
for p in range(0, entries, 97):
    if int(aud.SongFrames(p)) <= 0 or not str(aud.SongTitle(p)).endswith("Title %d" % (p + 1)):
        sys.exit("audacious: entry %d has no length or tags: %s" % (p + 1, aud.SongTitle(p)))
print("open_ms %.1f" % ((opened - start) * 1000))
print("info_ms %.1f" % ((last_close[0] - start) * 1000))
print("info_after_open_ms %.1f" % ((last_close[0] - opened) * 1000))
PY

# One Audacious run in a fresh home with a session bus of its own; appends
# to aud_open and aud_info.
run_audacious() {
  local folder="$tmp/audacious-$1"
  fresh_home "$folder"
  # Nothing is played; no sink is needed.
  echo 'pcm.!default { type null }' > "$folder/home/.asoundrc"
  dbus-daemon --session --nofork --address="unix:path=$folder/bus" --print-address=3 \
    3>"$folder/bus.address" 2>"$folder/bus.log" &
  local bus_pid=$!
  pids+=("$bus_pid")
  local waited=0
  until [ -s "$folder/bus.address" ]; do
    if [ "$waited" -ge 1000 ]; then echo "$bench_name: no session bus:" >&2; cat "$folder/bus.log" >&2; exit 1; fi
    sleep 0.01
    waited=$((waited + 1))
  done
  local bus="DBUS_SESSION_BUS_ADDRESS=unix:path=$folder/bus"
  set_env "$folder"
  "${env_cmd[@]}" "$bus" audacious > "$folder/out.log" 2>&1 &
  local pid=$!
  pids+=("$pid")
  wait_visible "$pid" --class '^audacious$' || { cat "$folder/out.log" >&2; exit 1; }
  env -i "PATH=$PATH" "LANG=C.UTF-8" "$bus" /usr/bin/python3 "$tmp/watch.py" "$tmp/music" "$tmp/list.m3u" \
    "$entries" > "$folder/times" || { cat "$folder/out.log" >&2; exit 1; }
  stop_pid "$pid"
  stop_pid "$bus_pid"
  aud_open+=("$(awk '$1 == "open_ms" { print $2 }' "$folder/times")")
  aud_info+=("$(awk '$1 == "info_ms" { print $2 }' "$folder/times")")
  aud_after+=("$(awk '$1 == "info_after_open_ms" { print $2 }' "$folder/times")")
}

# One kuv run in a fresh home; appends to kuv_open, kuv_refresh, kuv_info.
run_kuv() {
  local folder="$tmp/kuv-$1"
  fresh_home "$folder"
  set_env "$folder"
  "${env_cmd[@]}" QT_QPA_PLATFORM=offscreen "$build/kuv_editor_times" "$tmp/list.m3u" > "$folder/times" 2> "$folder/err.log" ||
    { echo "$bench_name: kuv_editor_times failed:" >&2; cat "$folder/err.log" >&2; exit 1; }
  local n
  n=$(awk '$1 == "entries" { print $2 }' "$folder/times")
  if [ "$n" != "$entries" ]; then
    echo "$bench_name: kuv_editor_times saw ${n:-no} entries, not $entries" >&2
    exit 1
  fi
  kuv_load+=("$(awk '$1 == "load_ms" { print $2 }' "$folder/times")")
  kuv_open+=("$(awk '$1 == "open_ms" { print $2 }' "$folder/times")")
  kuv_refresh+=("$(awk '$1 == "refresh_ms" { print $2 }' "$folder/times")")
  kuv_info+=("$(awk '$1 == "info_ms" { print $2 }' "$folder/times")")
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

aud_open=() aud_info=() aud_after=() kuv_load=() kuv_open=() kuv_refresh=() kuv_info=()
for i in $(seq "$runs"); do
  if [ "$audacious_only" -eq 0 ]; then run_kuv "$i"; fi
  run_audacious "$i"
done

a_open=$(median "${aud_open[@]}")
a_info=$(median "${aud_info[@]}")
a_after=$(median "${aud_after[@]}")
echo "$entries entries, each a 3.2 s MP3 of $entry_size bytes with its own ID3v2 tag; $(audacious --version 2>/dev/null | head -n1)"
if [ "$audacious_only" -eq 0 ]; then
  k_load=$(median "${kuv_load[@]}")
  k_open=$(median "${kuv_open[@]}")
  k_refresh=$(median "${kuv_refresh[@]}")
  k_info=$(median "${kuv_info[@]}")
  echo "kuv editor ($build), median of $runs (ms): open $k_open [${kuv_open[*]}] (of it loading the M3U $k_load)," \
    "refresh $k_refresh [${kuv_refresh[*]}], info $k_info [${kuv_info[*]}]"
fi
echo "audacious_open_ms $a_open [${aud_open[*]}] (from adding the M3U to a started Audacious until its playlist holds all entries)"
echo "audacious_info_ms $a_info [${aud_info[*]}] (from the same start until it has read the last file;" \
  "$a_after [${aud_after[*]}] of it after the open)"
if [ "$audacious_only" -eq 0 ]; then
  echo "kuv refresh: $k_refresh ms (Audacious has no counterpart)"
  awk -v a="$k_open" -v b="$a_open" -v c="$k_info" -v d="$a_info" 'BEGIN {
    printf "ratio kuv/audacious: open %.3f, info %.3f\n", a / (b > 0 ? b : 1), c / (d > 0 ? d : 1)
  }'
fi
