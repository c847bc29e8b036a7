#!/usr/bin/env bash
# Fails when a program lists libcurl among the libraries it needs: libcurl
# is opened on the first URL, so playing local files must not load it.
#   check_no_libcurl.sh PROGRAM...
set -euo pipefail
status=0
for program in "$@"; do
  needed=$(readelf -d "$program" | awk '/\(NEEDED\)/ { print $NF }') || { echo "$program: not readable" >&2; exit 1; }
  # Every dynamically linked program needs libc: without it the read failed.
  if ! grep -q 'libc\.so' <<< "$needed"; then
    echo "$program: no NEEDED entries read" >&2
    status=1
  elif grep -q 'libcurl' <<< "$needed"; then
    echo "$program links libcurl: $(grep libcurl <<< "$needed" | tr -d '\n')" >&2
    status=1
  else
    echo "$program: $(wc -l <<< "$needed") libraries, no libcurl"
  fi
done
exit $status
