#!/usr/bin/env bash
# Sets up and runs KUV: installs what it needs, builds in Release and starts
# the player window with the given files, folders, playlists or URLs (the
# bundled sample track when none is given). Without a display it says so and
# plays them through the console player, kuv-decode.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
build="$root/build/release"
(cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release -j"$(nproc)" >/dev/null)
if [ $# -eq 0 ]; then
  set -- "$root/resources/samples/kuv-sample.mp3"
fi
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display here: playing through kuv-decode instead of the window." >&2
  exec "$build/kuv-decode" "$@"
fi
exec "$build/kuv" "$@"
