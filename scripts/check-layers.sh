#!/usr/bin/env bash
# Fails when a source folder includes a folder above it. Each layer may
# include only the layers listed for it (and itself); the README's "How the
# code is laid out" gives the same table.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
declare -A allowed=(
  [platform]=""
  [config]="platform"
  [output]="platform config kuv"
  [decoder]="platform config layer3"
  [layer3]="platform config decoder"
  [engine]="platform config output decoder layer3 kuv"
  [playlist]="platform config decoder engine"
  [session]="platform config output decoder engine layer3 playlist"
  [plugins]="platform config output decoder engine kuv"
  [ui]="platform config output decoder engine layer3 playlist session plugins"
  [app]="platform config decoder engine playlist session ui plugins"
  [cli]="platform config output decoder engine layer3 playlist session"
)
status=0
for layer in "${!allowed[@]}"; do
  while IFS= read -r line; do
    file=${line%%:*}
    target=$(sed -E 's/.*#include "([a-z0-9_]+)\/.*/\1/' <<<"$line")
    [ "$target" = "$layer" ] && continue
    if [[ " ${allowed[$layer]} " != *" $target "* ]]; then
      echo "$file: $layer may not include $target/ ($(sed -E 's/^[^:]*:[0-9]+://' <<<"$line"))" >&2
      status=1
    fi
  done < <(grep -rnE '#include "[a-z0-9_]+/' "$root/src/$layer" | sed "s|^$root/||")
done
exit $status
