#!/usr/bin/env bash
# Sets up and runs KUV: installs what it needs, builds in Release, and plays
# the given files or URLs through the sound device (the bundled sample track
# when none is given). Options of kuv-decode pass through (see --help).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
build="$root/build/release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKUV_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
if [ $# -eq 0 ]; then
  set -- "$root/resources/samples/kuv-sample.mp3"
fi
exec "$build/kuv-decode" "$@"
