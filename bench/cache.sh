#!/usr/bin/env bash
# A second similarity index of the same folder with the feature cache, beside the first.
#   bench/cache.sh [FOLDER]   (default: the shared photo set once built by the tests, else samples/)
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-build/photo-set/similar}
[[ -d $folder ]] || folder=samples
scripts/deps.sh
[[ -f build/release/build.ninja ]] || cmake --preset release >/dev/null
cmake --build --preset release --target similarity-bench >/dev/null
build/release/bench/similarity-bench cache "$folder"
