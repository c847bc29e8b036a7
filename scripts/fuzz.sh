#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one for a while over
# its seed corpus (fuzz/corpus/NAME) and what earlier runs found
# (build/fuzz/found/NAME). A crash, a leak or a hang fails the run and leaves
# the input that caused it in build/fuzz/artifacts.
#
#   scripts/fuzz.sh [SECONDS-PER-TARGET [TARGET ...]]   (default 600 s, every target)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(frames id3v2 ini playlist request)
out="$root/build/fuzz"

(cd "$root" && cmake --preset fuzz >/dev/null)
cmake --build "$out" -j"$(nproc)" --target $(printf 'fuzz_%s ' "${targets[@]}")

mkdir -p "$out/artifacts"
status=0
for name in "${targets[@]}"; do
  found="$out/found/$name"
  mkdir -p "$found"
  echo "fuzz_$name: ${seconds} s" >&2
  # One input may take at most 60 s (a loaded CI machine is slow; a hang
  # still shows); 2 GB of memory.
  if ! "$out/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 -max_len=65536 \
      -print_final_stats=1 -artifact_prefix="$out/artifacts/$name-" "$found" "$root/fuzz/corpus/$name" \
      2>"$out/fuzz_$name.log"; then
    echo "fuzz_$name FAILED; its log: $out/fuzz_$name.log" >&2
    tail -40 "$out/fuzz_$name.log" >&2
    status=1
  else
    grep -E "stat::number_of_executed_units|cov:" "$out/fuzz_$name.log" | tail -2 >&2
  fi
done
exit $status
