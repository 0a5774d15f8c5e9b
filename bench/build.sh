#!/usr/bin/env bash
# Builds one benchmark program and prints its path:  bench/build.sh TARGET
# A release build of its own, without the tests, so a benchmark never races another build in
# build/release.
set -euo pipefail
target=${1:?usage: bench/build.sh TARGET}
cd "$(dirname "$0")/.."
scripts/deps.sh >&2
build=build/bench-release
[[ -f $build/build.ninja ]] ||
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVP_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target "$target" >/dev/null
echo "$PWD/$build/bench/$target"
