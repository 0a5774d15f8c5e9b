#!/usr/bin/env bash
# Installs what is missing, builds a Release build when sources changed, and runs
# velmo-pristel with the given arguments. Without arguments: the window on the bundled sample
# photos when there is a display, else the look-alike report of them.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
[[ -f build/release/build.ninja ]] || cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
# Menus and the file manager offer the window; a failure here never stops the run.
scripts/install-desktop-files.sh --exec build/release/app/velmo-pristel || echo "The desktop entry could not be installed." >&2
if (($# == 0)); then
  if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
    set -- "$PWD/samples"
  else
    set -- --similar "$PWD/samples"
  fi
fi
exec build/release/app/velmo-pristel "$@"
