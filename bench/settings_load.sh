#!/usr/bin/env bash
# Start-up cost of a large kuv.ini: kuv-decode --list (which loads the
# settings first) with no settings file, with 1 MB and with 16 MB of short
# junk lines half before and half inside the [kuv] section. The time should
# hardly grow with the file (one read, one pass).
#   bench/settings_load.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/release"}
source "$root/bench/common.sh"
bench_build "$root" "$build" kuv-decode

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
head -c 4096 "$root/resources/samples/kuv-sample.mp3" > "$tmp/frame.mp3"

# Writes a kuv.ini of about BYTES bytes into FOLDER/kuv/.
#   make_ini FOLDER BYTES
make_ini() {
  mkdir -p "$1/kuv"
  awk -v size="$2" 'BEGIN {
    print "[junk]"
    for (i = 0; n < size / 2; i++) { l = "j" i "=x"; print l; n += length(l) + 1 }
    print "[kuv]"; print "EqVolume=17"
    for (; n < size; i++) { l = "k" i "=y"; print l; n += length(l) + 1 }
  }' > "$1/kuv/kuv.ini"
}

mkdir -p "$tmp/none"
make_ini "$tmp/1mb" $((1 << 20))
make_ini "$tmp/16mb" $((16 << 20))
for name in none 1mb 16mb; do
  read -r cpu rss < <(bench_measure env HOME="$tmp/$name" XDG_CONFIG_HOME="$tmp/$name" \
    "$build/kuv-decode" --list "$tmp/frame.mp3")
  printf "kuv.ini %-5s %s s CPU, %s KB peak\n" "$name" "$cpu" "$rss"
done
