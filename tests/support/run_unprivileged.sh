#!/usr/bin/env bash
# Runs a test binary as user nobody. The binary is copied to a fresh folder
# first, since the build tree may sit under a home folder nobody cannot enter.
set -euo pipefail
bin=$1
shift
dir=$(mktemp -d /tmp/kuv-unprivileged-XXXXXX)
trap 'rm -rf "$dir"' EXIT
cp "$bin" "$dir/tests"
chmod 755 "$dir" "$dir/tests"
cd "$dir"
HOME="$dir" setpriv --reuid=65534 --regid=65534 --clear-groups "$dir/tests" "$@"
