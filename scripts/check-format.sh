#!/usr/bin/env bash
# Fails when a source file differs from what clang-format (.clang-format)
# makes of it, and names the files. With --fix, formats them instead.
# Generated tables keep the layout of their generator.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
generated='^(src/layer3/huffman_tables\.cpp|src/decoder/layer2_tables\.cpp|src/ui/led_font\.cpp)$'
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c' | grep -Ev "$generated")
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  [ -f "$f" ] || continue
  if ! clang-format --dry-run -Werror "$f" >/dev/null 2>&1; then bad+=("$f"); fi
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "Not formatted as .clang-format says (scripts/check-format.sh --fix formats them):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
