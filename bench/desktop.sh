# Shared by the benchmarks that run players on a desktop (sourced after
# common.sh, with $kuv set): Audacious installed, a private Xvfb, homes with a
# paced ALSA sink, and process helpers. Sets $tmp, $display and the array
# $pids (killed on exit); $bench_name prefixes the messages.

if ! command -v audacious >/dev/null; then
  SUDO=()
  if [ "$(id -u)" -ne 0 ]; then SUDO=(sudo); fi
  apt_install() {
    "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@" >/dev/null
  }
  apt_install install -y -q --no-install-recommends audacious ||
    { apt_install update -q && apt_install install -y -q --no-install-recommends audacious; }
fi

tmp=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

# kuv keeps one window per user through an abstract socket, which every
# kuv of this user on the machine shares: a kuv already running would take
# over the benchmark's, or the benchmark's another's. A network namespace of
# the programs' own keeps them apart (abstract sockets are per namespace; X
# is still reached through its socket file).
isolate=()
if unshare -n true 2>/dev/null; then
  isolate=(unshare -n)
elif "$kuv" --query state >/dev/null 2>&1; then
  echo "$bench_name: a kuv of this user is running; close it first" >&2
  exit 1
fi

# Xvfb tells its display number on fd 3 once it takes connections.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb_pid=$!
pids+=("$xvfb_pid")
for _ in $(seq 300); do [ -s "$tmp/display" ] && break; sleep 0.1; done
if [ ! -s "$tmp/display" ]; then
  echo "$bench_name: Xvfb did not start:" >&2
  cat "$tmp/xvfb.log" >&2
  exit 1
fi
display=":$(head -n1 "$tmp/display")"

# A fresh home for one program: ALSA's default PCM writes into
# $folder/paced.fifo. No session bus, so the program starts none.
fresh_home() {
  local folder=$1
  mkdir -p "$folder/home" "$folder/config/kuv" "$folder/run"
  chmod 700 "$folder/run"
  cat > "$folder/home/.asoundrc" <<ASOUNDRC
pcm.!default { type plug slave { pcm { type file slave.pcm "null" file "$folder/paced.fifo" format "raw" } format S16_LE rate 44100 channels 2 } }
ASOUNDRC
}

# Sets env_cmd: the environment of a run, and nothing of ours, in the
# network namespace of its own where one can be had.
set_env() {
  local folder=$1
  env_cmd=("${isolate[@]}" env -i "PATH=$PATH" "DISPLAY=$display" "HOME=$folder/home" "XDG_CONFIG_HOME=$folder/config"
    "XDG_RUNTIME_DIR=$folder/run" "LANG=C.UTF-8" "DBUS_SESSION_BUS_ADDRESS=unix:path=$folder/no-bus")
}

# Waits for a visible window; xdotool's own --sync looks only every half
# second, so this polls every 5 ms.  wait_visible PID SEARCH-ARGS...
wait_visible() {
  local pid=$1
  shift
  local deadline=$(($(date +%s) + 60))
  until DISPLAY=$display xdotool search --onlyvisible "$@" >/dev/null 2>&1; do
    if ! kill -0 "$pid" 2>/dev/null; then echo "$bench_name: the program ended before showing a window" >&2; return 1; fi
    if [ "$(date +%s)" -ge "$deadline" ]; then echo "$bench_name: no window within 60 s" >&2; return 1; fi
    sleep 0.005
  done
}

stop_pid() {
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
  local kept=() pid
  for pid in "${pids[@]}"; do [ "$pid" = "$1" ] || kept+=("$pid"); done
  pids=("${kept[@]}")
}

# Starts a command in the home $tmp/NAME, with a sink draining its FIFO.
# Sets pid, drain_pid, folder and `started` (ns, at launch).
#   start_program NAME COMMAND...
start_program() {
  folder="$tmp/$1"
  shift
  "$drain" "$folder/paced.fifo" > "$folder/drained" &
  drain_pid=$!
  pids+=("$drain_pid")
  # ALSA's file plug-in would make a plain file where the FIFO is not yet.
  for _ in $(seq 100); do [ -p "$folder/paced.fifo" ] && break; sleep 0.05; done
  set_env "$folder"
  started=$(date +%s%N)
  "${env_cmd[@]}" "$@" > "$folder/out.log" 2>&1 &
  pid=$!
  pids+=("$pid")
}

# Starts a program on $tmp/track.mp3 as start_program does, and waits for
# its window.
#   start_playing NAME SEARCH-ARGS -- COMMAND...
start_playing() {
  local name=$1
  shift
  local search=()
  while [ "$1" != "--" ]; do search+=("$1"); shift; done
  shift
  start_program "$name" "$@" "$tmp/track.mp3"
  wait_visible "$pid" "${search[@]}" || { cat "$folder/out.log" >&2; exit 1; }
}
