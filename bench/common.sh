# Shared by the benchmark scripts (sourced): set-up and measurement.

# Installs what is needed and builds the Release targets given.
bench_build() {
  local root=$1 build=$2
  shift 2
  "$root/scripts/deps.sh"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKUV_TESTS=OFF >/dev/null
  cmake --build "$build" -j"$(nproc)" --target "$@" >/dev/null
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
