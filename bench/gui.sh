#!/usr/bin/env bash
# The results window at scale, offscreen: opening on GROUPS groups (10,000 by default) of COPIES
# copies (5), the paint time of each frame while scrolling, and the memory of every thumbnail.
#   bench/gui.sh [GROUPS] [COPIES]
# The pictures are made once in /tmp/vp-gui-bench-GROUPSxCOPIES and kept for later runs.
set -euo pipefail
groups=${1:-10000}
copies=${2:-5}
cd "$(dirname "$0")/.."
bench=$(bench/build.sh gui-bench)
QT_QPA_PLATFORM=offscreen "$bench" "/tmp/vp-gui-bench-${groups}x${copies}" "$groups" "$copies"
