#!/usr/bin/env bash
# Installs what is missing, builds a Release build when sources changed, and runs
# velmo-pristel with the given arguments (a look-alike report of the bundled sample photos
# when none).
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
[[ -f build/release/build.ninja ]] || cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
if (($# == 0)); then
  set -- --similar "$PWD/samples"
fi
exec build/release/app/velmo-pristel "$@"
