#!/usr/bin/env bash
# Draws the skin bitmaps into resources/skin/ (tools/make_skin.cpp holds the artwork).
#   tools/make_skin.sh [OUT_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-"$root/resources/skin"}
cmake -S "$root" -B "$root/build/tools" >/dev/null
cmake --build "$root/build/tools" --target kuv_make_skin
QT_QPA_PLATFORM=offscreen "$root/build/tools/kuv_make_skin" "$out"
