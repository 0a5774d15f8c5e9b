#!/usr/bin/env bash
# A second similarity index of the same folder with the feature cache, beside the first.
#   bench/cache.sh [FOLDER]   (default: the shared photo set once built by the tests, else samples/)
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-build/photo-set/similar}
[[ -d $folder ]] || folder=samples
"$(bench/build.sh similarity-bench)" cache "$folder"
