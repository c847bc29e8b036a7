#!/usr/bin/env bash
# Sets up and runs every test: installs what it needs, builds the program and
# its tests with warnings as errors, builds the core and shell tests again
# under AddressSanitizer + UndefinedBehaviorSanitizer and ThreadSanitizer,
# runs everything in one ctest run (missing reference data fails it: it must
# never pass without checking), checks the formatting and that no layer
# includes one above it, and runs every reader of untrusted bytes under
# libFuzzer for a short while. The presets are in CMakePresets.json.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
cd "$root"
jobs=$(nproc)

for preset in asan tsan test; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
done
ctest --preset test -j"$jobs" "$@"

"$root/scripts/check-format.sh"
"$root/scripts/check-layers.sh"
# The findings of earlier runs (build/fuzz/found) are replayed first.
"$root/scripts/fuzz.sh" 20
