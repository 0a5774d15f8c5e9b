#!/usr/bin/env bash
# The readers of the application's own files (journal, settings, locks, feature cache) under
# libFuzzer for longer than the short runs in the tests:
#   bench/fuzz.sh [SECONDS] [FUZZER...]   (300 seconds each by default, every fuzzer)
# Each fuzzer keeps its corpus in build/fuzz/corpus/NAME from one run to the next, and a crash
# leaves its input in build/fuzz/artifacts/. Once the fault is fixed, copy that input into the
# fuzzer's seeds in tests/fuzz/ so the test run checks it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
shift $(( $# > 0 ? 1 : 0 ))
scripts/deps.sh >&2
build=build/fuzz
[[ -f $build/build.ninja ]] ||
  cmake -S tests/fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug >/dev/null
declare -A seeds=([journal_fuzzer]=journal-seeds [settings_fuzzer]=settings-seeds
                  [lock_file_fuzzer]=lock-seeds [feature_cache_fuzzer]=feature-cache-seeds)
fuzzers=("$@")
(( ${#fuzzers[@]} > 0 )) || fuzzers=(journal_fuzzer settings_fuzzer lock_file_fuzzer feature_cache_fuzzer)
cmake --build "$build" --target "${fuzzers[@]}" >/dev/null
mkdir -p "$build/artifacts"
status=0
for name in "${fuzzers[@]}"; do
  mkdir -p "$build/corpus/$name"
  echo "== $name, $seconds seconds" >&2
  "$build/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$PWD/$build/artifacts/$name-" "$build/corpus/$name" "tests/fuzz/${seeds[$name]}" || status=1
done
exit $status
