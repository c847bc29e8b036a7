#!/usr/bin/env bash
# Sets up and runs every test: installs what it needs, builds the program and
# its tests with warnings as errors, builds the core tests again under
# AddressSanitizer + UndefinedBehaviorSanitizer and ThreadSanitizer, and runs
# everything in one ctest run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
jobs=$(nproc)
out="$root/build"

cmake -S "$root" -B "$out/asan" -DCMAKE_BUILD_TYPE=Debug -DKUV_WERROR=ON -DKUV_SANITIZE=ON -DKUV_REQUIRE_REFERENCE=ON >/dev/null
cmake --build "$out/asan" -j"$jobs" --target kuv_core_tests kuv_shell_tests
cmake -S "$root" -B "$out/tsan" -DCMAKE_BUILD_TYPE=Debug -DKUV_WERROR=ON -DKUV_TSAN=ON -DKUV_REQUIRE_REFERENCE=ON >/dev/null
cmake --build "$out/tsan" -j"$jobs" --target kuv_core_tests kuv_shell_tests

# Missing reference data fails the run: it must never pass without checking.
cmake -S "$root" -B "$out/test" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKUV_WERROR=ON -DKUV_REQUIRE_REFERENCE=ON \
  -DKUV_ASAN_TESTS="$out/asan/tests/kuv_core_tests" -DKUV_TSAN_TESTS="$out/tsan/tests/kuv_core_tests" \
  -DKUV_ASAN_SHELL_TESTS="$out/asan/tests/kuv_shell_tests" -DKUV_TSAN_SHELL_TESTS="$out/tsan/tests/kuv_shell_tests" >/dev/null
cmake --build "$out/test" -j"$jobs"
ctest --test-dir "$out/test" --output-on-failure -j"$jobs" "$@"
