# Shared by the benchmark scripts (sourced): set-up and measurement.

# How many times each figure is measured; the median is reported.
bench_runs=${BENCH_RUNS:-5}

# Installs what is needed and builds the Release targets given. With
# BENCH_NO_BUILD=1 the build directory is taken as a folder of prebuilt
# binaries (kuv, kuv-decode, kuv_frame_times, kuv_paced_drain), so two
# versions can be compared; only the presence of the targets is checked.
bench_build() {
  local root=$1 build=$2
  shift 2
  if [ "${BENCH_NO_BUILD:-0}" = 1 ]; then
    local target
    for target in "$@"; do
      if [ ! -x "$build/$target" ]; then
        echo "bench: $build/$target is missing (BENCH_NO_BUILD=1 builds nothing)" >&2
        return 1
      fi
    done
    return 0
  fi
  "$root/scripts/deps.sh"
  local launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  fi
  # Two jobs at most: the machine's cores are shared.
  CCACHE_BASEDIR=$root cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKUV_TESTS=OFF "${launcher[@]}" >/dev/null
  cmake --build "$build" -j2 --target "$@" >/dev/null
}

# Runs a command three times; prints the best user + system CPU seconds and
# the largest peak resident memory in KB. Uses $tmp for its notes.
bench_measure() {
  local best="" peak=0 user sys rss cpu
  for _ in 1 2 3; do
    /usr/bin/time -f "%U %S %M" -o "$tmp/time" "$@" >/dev/null 2>&1
    read -r user sys rss < "$tmp/time"
    cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.3f", u + s }')
    if [ -z "$best" ] || awk -v a="$cpu" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$cpu; fi
    [ "$rss" -gt "$peak" ] && peak=$rss
  done
  echo "$best $peak"
}

# The median of the numbers on standard input, one a line (the mean of the
# middle two for an even count).
bench_median() {
  sort -g | awk '{ v[NR] = $1 } END {
    if (NR == 0) { print "nan"; exit }
    if (NR % 2) print v[(NR + 1) / 2]; else printf "%.6f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2
  }'
}

# Runs a command once with its output discarded; prints its user + system
# CPU seconds (to the microsecond, from wait4's resource usage) and its peak
# resident memory in KB. A failing command is an error.
bench_rusage() {
  python3 - "$@" <<'PY'
import os, sys
pid = os.fork()
if pid == 0:
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(null, fd)
    try:
        os.execvp(sys.argv[1], sys.argv[1:])
    finally:
        os._exit(127)
_, status, usage = os.wait4(pid, 0)
if not os.WIFEXITED(status) or os.WEXITSTATUS(status) != 0:
    sys.stderr.write("bench: %s failed (status %d)\n" % (" ".join(sys.argv[1:]), status))
    sys.exit(1)
print("%.6f %d" % (usage.ru_utime + usage.ru_stime, usage.ru_maxrss))
PY
}

# Runs each of several commands $bench_runs times, interleaved (one of each
# per round, so a burst of load elsewhere on the machine falls on all of
# them alike). The commands are given as names of arrays. Sets the arrays
# bench_cpu_<i> (CPU seconds of each run) and bench_rss_<i> (peak KB) for
# the i-th command, counted from 0.
#   bench_interleaved ARRAY-NAME...
bench_interleaved() {
  local i round name cpu rss
  for i in $(seq 0 $(($# - 1))); do
    eval "bench_cpu_$i=()" "bench_rss_$i=()"
  done
  for round in $(seq "$bench_runs"); do
    i=0
    for name in "$@"; do
      local -n cmd=$name
      read -r cpu rss < <(bench_rusage "${cmd[@]}")
      eval "bench_cpu_$i+=(\"\$cpu\")" "bench_rss_$i+=(\"\$rss\")"
      unset -n cmd
      i=$((i + 1))
    done
  done
}
