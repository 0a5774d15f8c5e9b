#!/usr/bin/env bash
# Installs what is missing, builds and runs every test, then builds and runs the
# same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
for preset in debug asan-ubsan; do
  echo "== $preset" >&2
  [[ -f build/$preset/build.ninja ]] || cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
